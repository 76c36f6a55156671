#pragma once

#include <filesystem>
#include <string>

namespace bifuel {

// What decides where the programs keep their files. The programs read it from their
// environment; tests make it up.
struct WorkFolderInputs {
    std::filesystem::path Current_Dir; // where the program was started
    std::filesystem::path Program_Dir; // the folder of the running program
    std::string Xdg_Data_Home;         // $XDG_DATA_HOME; empty when not set
    std::string Home;                  // $HOME; empty when not set
    std::string Base_Name = "bifuel-studio";
};

enum class WorkFolderKind : unsigned char {
    Current, // a folder with the temperature table: the build tree, a portable copy
    PerUser, // an installed program: the user's own data folder
};

struct WorkFolder {
    WorkFolderKind Kind = WorkFolderKind::Current;
    std::filesystem::path Dir;
    // The installed data (temperature table, languages) to fill a per-user folder from.
    std::filesystem::path Shipped_Dir;
    std::string Error; // why no per-user folder could be named; Dir is then the current one
};

// The installed data beside a program in <prefix>/bin: <prefix>/share/<name>.
std::filesystem::path ShippedDataDir(const std::filesystem::path& programDir,
                                     const std::string& baseName);

// A program started in a folder that holds the temperature table keeps that folder. An
// installed program (its shipped data found beside it) uses $XDG_DATA_HOME/<name>, else
// ~/.local/share/<name>. Anything else keeps the current folder, as before.
WorkFolder ChooseWorkFolder(const WorkFolderInputs& in);

// Makes a per-user folder and copies into it the shipped temperature table and language
// files it does not have yet; the user's own files are never overwritten. An empty result
// when it is ready, else the reason for the user. A current folder is left as it is.
std::string PrepareWorkFolder(const WorkFolder& folder, const std::string& baseName);

} // namespace bifuel
