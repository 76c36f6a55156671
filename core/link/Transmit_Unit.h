#pragma once

#include "link/Link_State.h"

#include <cstdint>
#include <span>
#include <vector>

namespace bifuel {

class Context;

// Program words: 1..9 move the counter, 0 is the yield point, 20..199 are request steps,
// 200..254 are conditions followed by a relative target.
namespace word {
inline constexpr std::int32_t Yield = 0;
inline constexpr std::int32_t Jump = 1;
inline constexpr std::int32_t JumpRelative = 2;
inline constexpr std::int32_t Loop = 3;
inline constexpr std::int32_t Wait = 4;
inline constexpr std::int32_t LoadProgram = 5;
inline constexpr std::int32_t Prompt = 7;
inline constexpr std::int32_t CountUp = 8;
inline constexpr std::int32_t CountDown = 9;

// Request steps the frame exchange goes back to when an exchange must start over.
inline constexpr std::int32_t AnnounceStep = 46;     // ANNOUNCE of the data frame that follows
inline constexpr std::int32_t ReadMapSizeStep = 56;  // READ_MAP_SIZE, start of a map read
inline constexpr std::int32_t WriteMapSizeStep = 61; // WRITE_MAP_SIZE, start of a map write
} // namespace word

// Program numbers that word 5 loads.
inline constexpr int kPollingProgram = 0;

// Words of the program a pending request loads; empty for none.
std::vector<std::int32_t> ProgramForRequest(Request request);
// Words of the program that word 5 loads by number; empty when the number names none.
std::vector<std::int32_t> ProgramByNumber(int number);
const std::vector<std::int32_t>& ConnectionProgram();
const std::vector<std::int32_t>& PollingProgram();
// Polling of live data alone, for while no MAP collection runs, when the user chose it.
const std::vector<std::int32_t>& LivePollingProgram();
// The polling program the settings and the MAP collection ask for now.
const std::vector<std::int32_t>& PollingProgramFor(const Context& ctx);
// Swaps a running polling program for the one asked for now, where the two line up: before
// the MAP reads, or at the yield point. A MAP collection that starts is served from the next
// live reply on.
void FollowPollingChoice(Context& ctx);

// Replaces the loaded program. Words past the table's end are refused as a script error.
void LoadProgram(Context& ctx, std::span<const std::int32_t> words);
// Appends one word; false (and a script error) when the table is full.
bool AppendProgramWord(Context& ctx, std::int32_t word);

// Restarts the connection program from its first probe.
void StartConnection(Context& ctx);
// Runs program words until one arms a request. After a valid reply (or at a connection
// start) the link-loss timer starts afresh; an exchange that goes back to an earlier step
// without a reply leaves it running, so a failing exchange cannot keep the link alive.
enum class SequencerRun : std::uint8_t { AfterReply, Resume };
void RunSequencer(Context& ctx, SequencerRun run = SequencerRun::AfterReply);

void OnCountnerTimer(Context& ctx);
void OnWaitTimer(Context& ctx);

// Opens the script-error message, once in the life of the program.
void ReportScriptError(Context& ctx, std::int32_t counter, std::int32_t word);

} // namespace bifuel
