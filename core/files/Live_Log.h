#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel {

class Context;

// One decoded live frame as the log keeps it: the values the pages were handed, in the
// units the decoder keeps them, and the reply's data bytes as they came, so a replay
// answers with exactly what the car sent.
struct LiveLogRecord {
    std::int64_t Time_Ms = 0; // since the log began
    std::int32_t Rpm = 0;
    std::int32_t Temp_Vap = 0; // tenths of a degree
    std::int32_t Temp_Gas = 0;
    std::int32_t Press_Vap = 0; // hundredths of a bar
    std::int32_t Press_Coll = 0;
    std::int32_t Press_Diff = 0;
    std::int32_t Level = 0;                  // level input code, 0..1023 (0..5 V)
    std::array<std::int32_t, 4> Petrol_Us{}; // cylinders 1..4
    std::array<std::int32_t, 4> Gas_Us{};
    std::int32_t Petrol_Avg_Us = 0; // the diagram's live point
    std::int32_t Gas_Avg_Us = 0;
    std::uint8_t Mode = 0;   // 1 petrol, 2 automatic, 4 gas
    std::uint8_t Status = 0; // status bits 7..4 of the reply (engine, pressure, ...)
    std::uint8_t Error1 = 0;
    std::uint8_t Error2 = 0;
    std::int32_t Map_Col = 0; // the RPM map's live cell
    std::int32_t Map_Row = 0;
    std::vector<std::uint8_t> Frame; // the reply's data bytes
    bool operator==(const LiveLogRecord&) const = default;
};

// The header line: every column's name with its unit.
std::string LiveLogHeader();
// One line of the log (no line end): decimal numbers with a point whatever the locale.
std::string FormatLiveLogLine(const LiveLogRecord& record);
// A line (without its line end) back into a record; none when it is not well formed.
std::optional<LiveLogRecord> ParseLiveLogLine(std::string_view line);

// The record of the live reply just decoded.
LiveLogRecord RecordFromLive(const Context& ctx, std::int64_t timeMs);

struct LiveLogFile {
    std::vector<LiveLogRecord> Records;
    // Lines that were not whole records: a line cut by a power loss at the end of the
    // file is the usual one, and is skipped.
    std::size_t Skipped_Lines = 0;
    std::string Error; // empty when the file was read
};

// Reads a whole log. A last line without its line end was cut while being written and is
// skipped. A file that cannot be opened or has no log header gives an error.
LiveLogFile ReadLiveLog(const std::filesystem::path& file);

} // namespace bifuel
