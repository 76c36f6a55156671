#include "Program_Folder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace bifuel::platform {
namespace {

namespace fs = std::filesystem;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The folder of the running program: the kernel knows it; the name it was started by is
// the fallback.
fs::path programDir(const char* argv0) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && !self.empty()) return self.parent_path();
    if (argv0 == nullptr) return {};
    const fs::path started = fs::weakly_canonical(fs::absolute(argv0, ec), ec);
    return ec ? fs::path{} : started.parent_path();
}

} // namespace

ProgramFolder OpenProgramFolder(const char* argv0, const std::string& baseName) {
    WorkFolderInputs in;
    std::error_code ec;
    in.Current_Dir = fs::current_path(ec);
    if (ec) in.Current_Dir = ".";
    in.Program_Dir = programDir(argv0);
    in.Xdg_Data_Home = environment("XDG_DATA_HOME");
    in.Home = environment("HOME");
    in.Base_Name = baseName;
    WorkFolder folder = ChooseWorkFolder(in);
    ProgramFolder result;
    result.problem = folder.Error;
    if (const std::string error = PrepareWorkFolder(folder, baseName); !error.empty()) {
        // Without its own folder the program still runs, from where it was started.
        result.problem = error + "; the files stay in \"" + in.Current_Dir.string() + "\"";
        folder.Kind = WorkFolderKind::Current;
        folder.Dir = in.Current_Dir;
    }
    result.kind = folder.Kind;
    result.paths = MakePaths(folder.Dir, baseName);
    return result;
}

} // namespace bifuel::platform
