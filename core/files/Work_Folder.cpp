#include "files/Work_Folder.h"

#include <system_error>

namespace bifuel {

namespace fs = std::filesystem;

namespace {

bool isFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string reason(const std::string& what, const fs::path& path, const std::error_code& ec) {
    return what + " \"" + path.string() + "\": " + ec.message();
}

// Copies `from` to `to` unless `to` exists; the copy goes under a temporary name first,
// so a copy cut short never passes for the file.
std::string copyMissing(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (fs::exists(to, ec)) return {};
    const fs::path partial = to.string() + ".part";
    fs::copy_file(from, partial, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(partial, to, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        return reason("cannot copy to", to, ec);
    }
    return {};
}

} // namespace

fs::path ShippedDataDir(const fs::path& programDir, const std::string& baseName) {
    return (programDir / ".." / "share" / baseName).lexically_normal();
}

WorkFolder ChooseWorkFolder(const WorkFolderInputs& in) {
    WorkFolder folder;
    folder.Dir = in.Current_Dir;
    const std::string table = in.Base_Name + ".dat";
    if (isFile(in.Current_Dir / table)) return folder;
    const fs::path shipped = ShippedDataDir(in.Program_Dir, in.Base_Name);
    if (in.Program_Dir.empty() || !isFile(shipped / table)) return folder;

    // XDG: a relative $XDG_DATA_HOME is invalid and is ignored.
    fs::path base;
    if (!in.Xdg_Data_Home.empty() && fs::path(in.Xdg_Data_Home).is_absolute()) {
        base = in.Xdg_Data_Home;
    } else if (!in.Home.empty()) {
        base = fs::path(in.Home) / ".local" / "share";
    } else {
        folder.Error = "neither XDG_DATA_HOME nor HOME is set: the files stay in \"" +
                       in.Current_Dir.string() + "\"";
        return folder;
    }
    folder.Kind = WorkFolderKind::PerUser;
    folder.Dir = base / in.Base_Name;
    folder.Shipped_Dir = shipped;
    return folder;
}

std::string PrepareWorkFolder(const WorkFolder& folder, const std::string& baseName) {
    if (folder.Kind != WorkFolderKind::PerUser) return {};
    std::error_code ec;
    for (const fs::path& dir : {folder.Dir, folder.Dir / "Language", folder.Dir / "Config"}) {
        fs::create_directories(dir, ec);
        if (ec) return reason("cannot make the folder", dir, ec);
    }
    const std::string table = baseName + ".dat";
    if (std::string error = copyMissing(folder.Shipped_Dir / table, folder.Dir / table);
        !error.empty())
        return error;
    const fs::path languages = folder.Shipped_Dir / "Language";
    for (fs::directory_iterator it(languages, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() != ".lng" || !isFile(it->path())) continue;
        if (std::string error =
                copyMissing(it->path(), folder.Dir / "Language" / it->path().filename());
            !error.empty())
            return error;
    }
    if (ec) return reason("cannot read the folder", languages, ec);
    return {};
}

} // namespace bifuel
