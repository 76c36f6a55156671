#include "files/Paths.h"

namespace bifuel {

std::string BaseNameOf(std::string_view executableName) {
    const std::string file = std::filesystem::path(executableName).filename().string();
    const std::size_t dot = file.rfind('.');
    return dot == std::string::npos ? file : file.substr(0, dot);
}

bool IsSafeFileName(std::string_view name) {
    if (name.empty() || name.find("..") != std::string_view::npos) return false;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return false;
        if (std::string_view("/\\:*?\"<>|").find(ch) != std::string_view::npos) return false;
    }
    return true;
}

Paths MakePaths(const std::filesystem::path& workDir, const std::string& baseName) {
    Paths p;
    p.Work_Dir = workDir;
    p.Base_Name = baseName;
    p.Config_Dir = workDir / "Config";
    p.Language_Dir = workDir / "Language";
    p.Ini_Name = workDir / (baseName + ".ini");
    p.Dat_Name = workDir / (baseName + ".dat");
    return p;
}

} // namespace bifuel
