#include "files/Paths.h"

#include <cctype>

namespace bifuel {

std::string BaseNameOf(std::string_view executableName) {
    const std::string file = std::filesystem::path(executableName).filename().string();
    const std::size_t dot = file.rfind('.');
    return dot == std::string::npos ? file : file.substr(0, dot);
}

namespace {

// Names Windows keeps for devices, with or without an extension: files that can
// never be made there, and that a file copied from here could never be opened by.
bool isWindowsDeviceName(std::string_view name) {
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
           stem[3] >= '0' && stem[3] <= '9';
}

} // namespace

bool IsSafeFileName(std::string_view name) {
    // With an extension added the name still has to fit the usual 255-byte limit.
    if (name.empty() || name.size() > 240 || name.find("..") != std::string_view::npos) {
        return false;
    }
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return false;
        if (std::string_view("/\\:*?\"<>|").find(ch) != std::string_view::npos) return false;
    }
    if (name.front() == '.' || name.back() == '.' || name.back() == ' ') return false;
    return !isWindowsDeviceName(name);
}

Paths MakePaths(const std::filesystem::path& workDir, const std::string& baseName) {
    Paths p;
    p.Work_Dir = workDir;
    p.Base_Name = baseName;
    p.Config_Dir = workDir / "Config";
    p.Language_Dir = workDir / "Language";
    p.Logs_Dir = workDir / "Logs";
    p.Ini_Name = workDir / (baseName + ".ini");
    p.Dat_Name = workDir / (baseName + ".dat");
    return p;
}

} // namespace bifuel
