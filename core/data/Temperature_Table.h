#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace bifuel {

class Scheduler;

// What the table knows of its file without reading it.
struct FileStamp {
    std::filesystem::file_time_type time;
    std::uintmax_t size = 0;
    bool operator==(const FileStamp&) const = default;
};

// Looks at a file: its stamp, or nothing when it cannot be seen.
using FileProbe = std::function<std::optional<FileStamp>(const std::filesystem::path&)>;
// The probe the program uses: the file system's size and time of last change.
std::optional<FileStamp> StampOnDisk(const std::filesystem::path& file);

// The temperature table file: one little-endian int16 per 10-bit sensor code, in tenths
// of a degree. The table is kept in memory and read again whenever the file's time or size
// changes. Two conversions run per live reply; with a clock the file is looked at no more
// than once per second of its time, so a replaced file counts within a second.
class TemperatureTable {
  public:
    static constexpr std::size_t kEntries = 1024;
    static constexpr std::uintmax_t kFileBytes = kEntries * 2;
    static constexpr std::int64_t kCheckEveryUs = 1'000'000;
    using Entries = std::array<std::int16_t, kEntries>;

    // onMissing tells the user that the table cannot be used and returns whether the
    // user could be told (the main window may not be shown yet). It is called once per
    // outage: again only after the table has been read successfully in between.
    // clock, when given, must outlive the table; without it every call looks at the file.
    explicit TemperatureTable(std::filesystem::path file, std::function<bool()> onMissing = {},
                              const Scheduler* clock = nullptr, FileProbe probe = StampOnDisk);

    // The table, or nothing when the file is missing, unreadable or shorter than
    // kFileBytes, as last seen: the file is looked at again once kCheckEveryUs has passed
    // on the clock since the last look (at every call without a clock).
    const Entries* Load();

    // Cleared once a failure has been reported, set again by the next successful read.
    bool Temp_Table_Ok() const { return tableOk_; }
    const std::filesystem::path& path() const { return file_; }

  private:
    const Entries* Check();
    bool ReadFile(const FileStamp& stamp);
    void ReportFailure();

    std::filesystem::path file_;
    std::function<bool()> onMissing_;
    const Scheduler* clock_;
    FileProbe probe_;
    std::optional<std::int64_t> lastCheckUs_; // clock time of the last look at the file
    const Entries* current_ = nullptr;        // what that look found
    bool tableOk_ = true;
    std::optional<FileStamp> cached_; // stamp of the file the entries came from
    Entries entries_{};
};

} // namespace bifuel
