#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel {

class Context;

inline constexpr int kACBRecords = 5;
inline constexpr int kEngineRows = 3;

// One auto-calibration algorithm: its scripts for 4, 5, 6 and 8 cylinders and, per engine
// row (4, 5, 6 or 8 cylinders) and group, settle and sampling time (s) and tolerance (us).
struct ACB_SCR_Class {
    std::string Name;
    std::array<std::string, 5> Scripts{};                   // [1..4]
    std::array<std::array<std::int32_t, 7>, 4> Settle_S{};  // [1..3][1..6]
    std::array<std::array<std::int32_t, 7>, 4> Sample_S{};  // [1..3][1..6]
    std::array<std::array<std::int32_t, 7>, 4> Tolerance{}; // [1..3][1..6]
};

// The five records, in the order of the names.
std::vector<ACB_SCR_Class> ACB_Create_Records(int count);

// 1-based position of a name among the algorithm names; 0 when it is none of them.
int ACB_Algorithm_Index(std::string_view name);

// Copies the record's script and step table for the configured cylinders into the
// settings. A name that is no algorithm takes the "Fast calibration" record.
void ACB_Load_Params(Context& ctx, int index);

// Reads the next group of the script; false when the script is exhausted.
bool ACB_Next_Group(Context& ctx);
// Script from its start: position and group index 0.
void ACB_Restart_Script(Context& ctx);
// Counts the groups of the script (reading it once) and restarts it.
int ACB_Count_Groups(Context& ctx);
// The cylinder mask of the current group, into the link's Mode_Bits.
void ACB_Build_Mask(Context& ctx);
// The mask of a group text: cylinders 1..4 are bits 4..7.
std::uint8_t ACB_Mask_Of(std::string_view group);

// Built-in step programs.
const std::vector<std::int32_t>& ACB_Group_Program();
const std::vector<std::int32_t>& ACB_Speed_Program();
const std::vector<std::int32_t>& ACB_Tail_Program();

// Replaces the step program (words from 1 on, the rest cleared) and restarts it.
void ACB_Load_Program(Context& ctx, std::span<const std::int32_t> words);
// Builds the program for the run's algorithm; the innovational one starts its own.
void ACB_Choose_Program(Context& ctx);
// The restore tail after a stop.
void ACB_Load_Tail(Context& ctx);
// Runs the step program until a step yields.
void ACB_Interpret(Context& ctx);

} // namespace bifuel
