#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace bifuel {

// The temperature table file: one little-endian int16 per 10-bit sensor code, in tenths
// of a degree. The table is kept in memory and read again whenever the file's time or size
// changes, so a replaced file counts from the next conversion on.
class TemperatureTable {
  public:
    static constexpr std::size_t kEntries = 1024;
    static constexpr std::uintmax_t kFileBytes = kEntries * 2;
    using Entries = std::array<std::int16_t, kEntries>;

    // onMissing tells the user that the table cannot be used and returns whether the
    // user could be told (the main window may not be shown yet). It is called once per
    // outage: again only after the table has been read successfully in between.
    explicit TemperatureTable(std::filesystem::path file, std::function<bool()> onMissing = {});

    // The table, or nothing when the file is missing, unreadable or shorter than
    // kFileBytes. Every call checks the file.
    const Entries* Load();

    // Cleared once a failure has been reported, set again by the next successful read.
    bool Temp_Table_Ok() const { return tableOk_; }
    const std::filesystem::path& path() const { return file_; }

  private:
    struct Stamp {
        std::filesystem::file_time_type time;
        std::uintmax_t size = 0;
        bool operator==(const Stamp&) const = default;
    };

    bool ReadFile(const Stamp& stamp);
    void ReportFailure();

    std::filesystem::path file_;
    std::function<bool()> onMissing_;
    bool tableOk_ = true;
    std::optional<Stamp> cached_; // stamp of the file the entries came from
    Entries entries_{};
};

} // namespace bifuel
