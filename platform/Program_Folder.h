#pragma once

#include "files/Paths.h"
#include "files/Work_Folder.h"

#include <string>

namespace bifuel::platform {

// Where this process keeps its files, from its start folder, its own folder and the
// environment; an installed program's per-user folder is made and filled on the way.
// `problem` says why the start folder is used after all, or what could not be copied.
struct ProgramFolder {
    Paths paths;
    WorkFolderKind kind = WorkFolderKind::Current;
    std::string problem;
};
ProgramFolder OpenProgramFolder(const char* argv0, const std::string& baseName);

} // namespace bifuel::platform
