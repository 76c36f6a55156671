#pragma once

#include "files/FindUnit.h"
#include "files/Paths.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bifuel {

class Context;

// Every complete read of an ECU is kept as a configuration file in Config/Backup, so the
// installer can always go back to what the car had when it came in.
inline constexpr std::size_t kBackupsKept = 50; // per configuration name; the oldest go
inline constexpr std::string_view kBackupUnnamed = "NONAME"; // an ECU without a stored name

std::filesystem::path BackupFolder(const Paths& paths);

// "2026-12-10_221508" for local calendar seconds.
std::string BackupStamp(std::int64_t localSeconds);

struct BackupEntry {
    std::string name;  // the ECU's configuration name
    std::string stamp; // when it was read, as BackupStamp gives it
    std::filesystem::path path;
};

// The backups in the folder, by name, the oldest of a name first. Other files are left out.
std::vector<BackupEntry> ListBackups(const Paths& paths);

// Saves what the program has just read from the ECU as "NAME_STAMP.cfg" and removes the
// oldest of that name beyond kBackupsKept. A failure is told on the status line.
WriteResult SaveBackup(Context& ctx);

} // namespace bifuel
