#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace bifuel {

// Where the program keeps its files: everything lives in the working directory the
// program was started in, named after the program.
struct Paths {
    std::filesystem::path Work_Dir = ".";
    std::string Base_Name = "bifuel-studio";
    std::filesystem::path Config_Dir = "./Config";
    std::filesystem::path Language_Dir = "./Language";
    std::filesystem::path Logs_Dir = "./Logs"; // live-data logs, one per connection
    std::filesystem::path Ini_Name = "./bifuel-studio.ini";
    std::filesystem::path Dat_Name = "./bifuel-studio.dat";
};

// The program's name without its extension: everything before the last "."; the whole
// name when there is none.
std::string BaseNameOf(std::string_view executableName);

// Whether a name (of a configuration or a language) may become part of a path: not empty,
// no folder separators, no "..", no control characters, none of the characters or device
// names that file systems refuse, no leading dot, no trailing dot or blank.
bool IsSafeFileName(std::string_view name);

// The paths for a working directory and a base name.
Paths MakePaths(const std::filesystem::path& workDir, const std::string& baseName);

} // namespace bifuel
