#include "files/Backup_Unit.h"

#include "Context.h"
#include "data/Dynamic_IND_Unit.h"
#include "files/SaveLoad_3D_Unit.h"

#include <algorithm>
#include <map>

namespace bifuel {
namespace {

constexpr std::string_view kExtension = ".cfg";
constexpr std::size_t kStampLength = 17; // YYYY-MM-DD_HHMMSS

// Splits "NAME_STAMP.cfg"; false for any other file.
bool parseName(const std::string& file, BackupEntry& entry) {
    if (file.size() < kStampLength + 2 + kExtension.size() || !file.ends_with(kExtension))
        return false;
    const std::string stem = file.substr(0, file.size() - kExtension.size());
    const std::size_t at = stem.size() - kStampLength;
    if (stem[at - 1] != '_') return false;
    const std::string stamp = stem.substr(at);
    static constexpr std::string_view kShape = "dddd-dd-dd_dddddd";
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
        if (kShape[i] == 'd' ? !digit : stamp[i] != kShape[i]) return false;
    }
    entry.name = stem.substr(0, at - 1);
    entry.stamp = stamp;
    return !entry.name.empty();
}

} // namespace

std::filesystem::path BackupFolder(const Paths& paths) {
    return paths.Config_Dir / "Backup";
}

std::string BackupStamp(std::int64_t localSeconds) {
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    const std::int64_t days =
        localSeconds >= 0 ? localSeconds / 86400 : (localSeconds - 86399) / 86400;
    const std::int64_t secondOfDay = localSeconds - days * 86400;
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    // Two digits each, the year as it comes.
    const auto two = [](std::int64_t v) {
        return std::string(1, static_cast<char>('0' + v / 10 % 10)) +
               static_cast<char>('0' + v % 10);
    };
    std::string y = std::to_string(year);
    if (y.size() < 4) y.insert(0, 4 - y.size(), '0');
    return y + "-" + two(month) + "-" + two(day) + "_" + two(secondOfDay / 3600) +
           two(secondOfDay / 60 % 60) + two(secondOfDay % 60);
}

std::vector<BackupEntry> ListBackups(const Paths& paths) {
    std::vector<BackupEntry> entries;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(BackupFolder(paths), ec), end; !ec && it != end;
         it.increment(ec)) {
        BackupEntry entry;
        if (!it->is_regular_file(ec) || !parseName(it->path().filename().string(), entry)) continue;
        entry.path = it->path();
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), [](const BackupEntry& a, const BackupEntry& b) {
        return a.name != b.name ? a.name < b.name : a.stamp < b.stamp;
    });
    return entries;
}

WriteResult SaveBackup(Context& ctx) {
    const std::filesystem::path folder = BackupFolder(ctx.paths);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string name =
        ctx.config.CFG_Name.empty() ? std::string(kBackupUnnamed) : ctx.config.CFG_Name;
    const std::string stem = name + "_" + BackupStamp(ctx.scheduler.localSeconds());
    // Two reads within one second read the same: the later one replaces the earlier.
    const std::filesystem::path path = folder / (stem + std::string(kExtension));
    KeyFile file;
    file.OpenKeyFileForUpdate(path);
    PutConfigKeys(ctx, file);
    const WriteResult result = file.SaveKeyFile(path);
    if (!result.ok) {
        AddStatus(ctx, Colour::Txt_Error, ctx.LangText("Backup_Not_Saved") + " " + result.message);
        return result;
    }
    std::vector<BackupEntry> same;
    for (BackupEntry& e : ListBackups(ctx.paths)) {
        if (e.name == name) same.push_back(std::move(e));
    }
    for (std::size_t i = 0; i + kBackupsKept < same.size(); ++i)
        std::filesystem::remove(same[i].path, ec);
    return result;
}

} // namespace bifuel
