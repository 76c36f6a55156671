#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace bifuel {

class Context;

inline constexpr int kInnovStages = 3;
inline constexpr int kInnovHistory = 8;
inline constexpr std::int32_t kInnovStartValue = 2000;
inline constexpr std::int32_t kInnovValueMax = 65535; // sent as 16 bits
inline constexpr std::int32_t kInnovStepLimit = 200;  // steps a stage may take to converge

// The state of an innovational run.
struct Innov_State {
    std::uint8_t Stage = 1;
    std::array<std::int32_t, kInnovStages + 1> Stage_Step{0, 100, 50, 50}; // [1..3]
    std::array<std::int32_t, kInnovStages + 1> Stage_Level{0, 30, 50, 99}; // [1..3]
    std::uint8_t Half_Stage = 2;
    std::uint8_t Last_Stage = 3;
    std::int32_t Step = 100;
    std::int32_t Level = 30;
    std::int32_t Adjust_Value = kInnovStartValue;
    std::array<std::int8_t, kInnovHistory + 1> History{}; // [1..8]
    std::uint8_t History_Count = 0;
    std::int32_t Petrol_Ref = 0;
    std::int32_t Petrol_End = 0;
    std::int32_t Petrol_On_Gas = 0;
    std::int32_t Gas_Half = 0;
    std::int32_t Gas_Full = 0;
    std::int32_t Progress_From = 0;
    std::int32_t Progress_To = 0;
    bool Flag_A = false;
    bool Flag_B = false;
    std::int32_t Stage_Steps = 0; // steps taken in the current stage
};

// Request program 21 (pending request 29) and the stop program (pending request 30).
const std::vector<std::int32_t>& InnovationalProgram();
const std::vector<std::int32_t>& InnovationalStopProgram();

// Hands the run over to the request sequencer.
void Innov_Start(Context& ctx);
// Instructions 67..79 of the request sequencer.
void Innov_Instruction(Context& ctx, int code);
// Conditions 204..207.
bool Innov_Condition(Context& ctx, int code);
// Data bytes of WRITE_ACB: flags, level, 0, 0, Petrol_Ref, Adjust_Value.
std::array<std::uint8_t, 8> Innov_Frame_Data(const Context& ctx);

void Innov_Stage_Start(Context& ctx);
void Innov_Step(Context& ctx);
// Counts the direction changes; three or more is convergence.
bool Innov_Converged(Context& ctx);
// Ends the stage; true when it was the last one.
bool Innov_Stage_Advance(Context& ctx);
// The diagram from the two stage results, and the jet advice.
void Innov_Result(Context& ctx);
void Innov_Completion(Context& ctx);
// The page while the connected ECU runs the innovational algorithm; no sample is taken.
void Innov_Refresh(Context& ctx);

} // namespace bifuel
