#include "files/Live_Recorder.h"

#include "Context.h"
#include "data/Dynamic_IND_Unit.h"
#include "files/Backup_Unit.h"
#include "files/Live_Log.h"
#include "files/Paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace bifuel {
namespace {

constexpr std::uintmax_t kMegabyte = 1024 * 1024;
constexpr std::string_view kLineEnd = "\r\n"; // as every file of the program

struct LogEntry {
    std::filesystem::path path;
    std::filesystem::file_time_type written;
    std::uintmax_t size = 0;
};

// "NAME" reason, for the status line, which has room for a short text only: the folder is
// always Logs/ of the working folder.
std::string fileProblem(const std::filesystem::path& path, std::string_view reason) {
    std::string text(1, '"');
    text += path.filename().string();
    text += "\" ";
    text += reason;
    return text;
}

// The size Logs/ may take; the setting is held to at least 1 MB when it is read or typed.
std::uintmax_t folderLimit(const Settings_Class& settings) {
    return static_cast<std::uintmax_t>(std::max<std::int32_t>(settings.Log_Max_MB, 1)) * kMegabyte;
}

bool writeAll(std::FILE* out, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

} // namespace

std::string LiveLogFileName(std::string_view cfgName, std::int64_t localSeconds) {
    const std::string name =
        IsSafeFileName(cfgName) ? std::string(cfgName) : std::string(kLogUnnamed);
    return name + "_" + BackupStamp(localSeconds) + std::string(kLogExtension);
}

std::vector<std::filesystem::path> PruneLogs(const std::filesystem::path& folder,
                                             std::uintmax_t maxBytes,
                                             const std::filesystem::path& keep) {
    std::vector<LogEntry> logs;
    std::uintmax_t total = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code entryError;
        if (!it->is_regular_file(entryError) || it->path().extension() != kLogExtension) continue;
        LogEntry entry{it->path(), it->last_write_time(entryError), it->file_size(entryError)};
        if (entryError) continue;
        total += entry.size;
        logs.push_back(std::move(entry));
    }
    std::sort(logs.begin(), logs.end(), [](const LogEntry& a, const LogEntry& b) {
        return a.written != b.written ? a.written < b.written : a.path < b.path;
    });
    std::vector<std::filesystem::path> removed;
    for (const LogEntry& log : logs) {
        if (total <= maxBytes) break;
        std::error_code same;
        if (!keep.empty() && std::filesystem::equivalent(log.path, keep, same)) continue;
        std::error_code removeError;
        if (!std::filesystem::remove(log.path, removeError)) continue;
        total -= log.size;
        removed.push_back(log.path);
    }
    return removed;
}

LiveRecorder::LiveRecorder(Context& ctx, Clock now, bool followSetting)
    : ctx_(ctx), now_(std::move(now)), followSetting_(followSetting) {
    liveWatch_ = ctx_.events.liveData.subscribe([this] { onLive(); });
    endWatch_ = ctx_.events.disconnected.subscribe([this] {
        // The next connection begins a new log, and may try again after a failure.
        close();
        failed_ = false;
    });
}

LiveRecorder::~LiveRecorder() {
    close();
}

void LiveRecorder::onLive() {
    if (!ctx_.link.ECU_Connected || failed_ || IsReplayPortName(ctx_.port.portName())) return;
    if (followSetting_ && !ctx_.settings.Log_Live) {
        close(); // switched off: this log ends here; switched on again, a new one begins
        return;
    }
    if (out_ == nullptr && !begin()) return;
    const std::int64_t timeMs = (ctx_.scheduler.nowUs() - startUs_) / 1000;
    line_ = FormatLiveLogLine(RecordFromLive(ctx_, timeMs));
    line_ += kLineEnd;
    // Flushed at once: what a crash loses is at most the line being written.
    if (!writeAll(out_, line_) || std::fflush(out_) != 0) {
        fail(std::strerror(errno));
        return;
    }
    ++lines_;
    if (lines_ % kLogPruneEveryLines == 0) {
        PruneLogs(ctx_.paths.Logs_Dir, folderLimit(ctx_.settings), path_);
    }
}

bool LiveRecorder::begin() {
    const std::filesystem::path& folder = ctx_.paths.Logs_Dir;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        fail(fileProblem(folder, ec ? ec.message() : std::string("is not a folder")));
        return false;
    }
    const std::string name = LiveLogFileName(ctx_.config.CFG_Name, now_ ? now_() : 0);
    // Two connections within one second each keep their own log.
    std::filesystem::path path = folder / name;
    const std::string stem = path.stem().string();
    for (int n = 2; std::filesystem::exists(path, ec); ++n) {
        path = folder / (stem + "-" + std::to_string(n) + std::string(kLogExtension));
    }
    // "x": never into a file that appeared meanwhile.
    out_ = std::fopen(path.c_str(), "wbx");
    if (out_ == nullptr) {
        fail(fileProblem(path, std::strerror(errno)));
        return false;
    }
    path_ = path;
    startUs_ = ctx_.scheduler.nowUs();
    lines_ = 0;
    if (!writeAll(out_, LiveLogHeader()) || !writeAll(out_, kLineEnd) || std::fflush(out_) != 0) {
        fail(fileProblem(path, std::strerror(errno)));
        return false;
    }
    if (!failureText_.empty()) {
        RemoveStatus(ctx_, failureText_);
        failureText_.clear();
    }
    PruneLogs(folder, folderLimit(ctx_.settings), path_);
    started.notify(path_);
    return true;
}

void LiveRecorder::fail(const std::string& reason) {
    close();
    failed_ = true;
    const std::string text = ctx_.LangText("Log_Not_Written") + " " + reason;
    if (text == failureText_) return; // said already, and still on the status line
    if (!failureText_.empty()) RemoveStatus(ctx_, failureText_);
    failureText_ = text;
    AddStatus(ctx_, Colour::Txt_Error, text);
}

void LiveRecorder::close() {
    if (out_ != nullptr) std::fclose(out_);
    out_ = nullptr;
    path_.clear();
}

} // namespace bifuel
