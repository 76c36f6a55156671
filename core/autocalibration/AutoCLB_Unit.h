#pragma once

#include "autocalibration/AutoCLB_Restore.h"
#include "files/Settings_3D_Unit.h"
#include "link/Link_Operations.h"
#include "link/Link_State.h"
#include "link/Link_View.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace bifuel {

class Context;

inline constexpr int kACBProgramWords = 100;
inline constexpr int kACBCylinderSlots = 8;
inline constexpr int kACBRows = 3;
inline constexpr int kSupportSamples = 31;
inline constexpr int kShiftLimit = 5;
inline constexpr std::int32_t kShiftUs = 500;
inline constexpr std::int32_t kAdjustTopFloor = 12000; // a top gas time below this is no slope

// Algorithm names, in the order of the records.
inline constexpr std::array<std::string_view, 5> kACBAlgorithmNames = {
    "Default", "Only OFFSET calibration", "Fast calibration", "High R.P.M. calibration",
    "Innovational"};
inline constexpr std::string_view kAlgorithmOffsetOnly = "Only OFFSET calibration";
inline constexpr std::string_view kAlgorithmFast = "Fast calibration";
inline constexpr std::string_view kAlgorithmHighRpm = "High R.P.M. calibration";
inline constexpr std::string_view kAlgorithmInnovational = "Innovational";

// Pending requests an auto-calibration raises.
inline constexpr Request kRequestGroupToGas = Request::ModeGas;
inline constexpr Request kRequestAllToPetrol = Request::ModePetrol;
inline constexpr Request kRequestWriteAll = Request::WriteAll;
inline constexpr Request kRequestWriteDiagram = Request::WriteDiagram;
inline constexpr Request kRequestInnovational = Request::InnovationalRun;
inline constexpr Request kRequestInnovationalStop = Request::InnovationalStop;

inline constexpr int kMessageInnovationalQuestion = 3;

// A run counts valid replies, not milliseconds: each duration becomes a number of replies
// ("ticks") once per run.
struct ACB_TimeBase {
    std::int32_t Tick_500 = 3;
    std::int32_t Tick_1000 = 3;
    std::int32_t Tick_2000 = 3;
    std::array<std::int32_t, kACBGroups + 1> Settle_Ticks{}; // groups 1..6
    std::array<std::int32_t, kACBGroups + 1> Sample_Ticks{};
};

// Replies in `ms`, never fewer than 3.
std::int32_t TicksFor(std::int32_t ms, const Settings_Class& settings);
ACB_TimeBase ComputeTimeBase(const Settings_Class& settings);

// The state of a classic run, its script and its step program.
struct ACB_State {
    bool ACB_Running = false;
    std::int32_t Reply_Countdown = 0;
    std::int32_t Post_Wait = 0;
    std::int32_t Cur_Settle = 3;
    std::int32_t Cur_Sample = 3;
    bool Sampling_Off = true;
    bool Petrol_Phase = true;
    std::int32_t Petrol_Sum = 0;
    std::int32_t Petrol_Count = 0;
    std::int32_t Gas_Sum = 0;
    std::int32_t Gas_Count = 0;
    std::int32_t Petrol_Mean = 0;
    std::int32_t Gas_Mean = 0;
    bool Failed = false;
    std::int8_t Shift_Count = 0;
    std::int32_t Best_Diff = 32000;
    std::int32_t Best_Top = 0;
    std::int32_t Best_Gas_Mean = 0;
    std::int32_t Top_Target = 20;
    std::array<std::int32_t, 9> Saved_Gas{};
    bool Saved_Idle_Points = false;
    std::array<std::int32_t, 5> Saved_Corr{}; // 93, 94, 96, 97, 99
    std::array<std::int32_t, 3> Support_Sum{};
    bool Hold_Progress = false;
    // From the start until the run is stopped or goes into its ending; the Start button
    // shows it pressed.
    bool Measuring = false;
    AutoCalibrationProgress Told; // the progress last told, so that only changes go out
    std::string Prompt_Text;
    std::string Result_Text;
    std::optional<AutoCalibrationResult> Outcome; // what the run comes to, once known

    // A run ends with the ECU holding either what it had at Start or the result, and
    // nothing in between: the target is the one it is to hold.
    bool In_Run = false;  // from Start until the end is told, for every algorithm
    bool In_Tail = false; // the ending program runs
    bool Frozen = false;  // the link went: nothing advances until the same ECU answers
    EcuImage Start_Copy;
    EcuFingerprint Run_Ecu;
    EcuImage Target;
    bool Target_Is_Result = false;
    int Target_Version = 0;      // counts changes of the target
    bool Ecu_Changed = false;    // the run has sent a write
    bool Support_Taken = false;  // the support sample of the result is complete
    OperationId Run_Write = 0;   // the run's last write, until its frames are acknowledged
    OperationId Final_Write = 0; // the write of the target, and which target it carried
    int Final_Version = 0;
    std::optional<OperationResult> Final_Result;
    std::optional<PendingRestore> Pending_Restore;
    ACB_TimeBase Ticks;
    std::string Algorithm; // the algorithm of the run, fixed at its start

    // Script parsing.
    std::string Script_Text;
    std::size_t Script_Pos = 0;
    std::int32_t Group_Index = 0;
    std::int32_t Group_Count = 0;
    std::string Group_Text;

    // Step program: words 1..100 (index 0 unused).
    std::array<std::int32_t, kACBProgramWords + 1> ACB_Program{};
    std::int32_t ACB_PC = 0;
    std::int32_t Step_Counter = 0;
    bool Yield = false;
    bool Error_Latch = false;
    bool Adjust_Ok = false; // outcome of the last adjustment
};

// A rectangle of the page, in design units.
struct ViewRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// One vertical bar: its place at full height and how much of it is filled.
struct ACBBar {
    ViewRect rect;
    int height = 0; // filled part, 0..rect.height
    std::string colour;
};

struct ACBCylinder {
    // Row 1: petrol time on petrol, row 2: petrol time on gas, row 3: gas time (us).
    std::array<std::int32_t, kACBRows> value{};
    std::array<ACBBar, kACBRows> Rectangle_ACB_Bar{};
    std::array<ViewControl, kACBRows> HudTextBox_ACB_Value{};
    std::array<ViewRect, kACBRows> boxRect{};
};

// The Auto Calibration page beyond the prompt line and progress bar (those are in LinkView).
struct ACBView {
    static constexpr int kBarAreaWidth = 614;
    static constexpr int kBarAreaHeight = 195;
    static constexpr int kIndicAreaWidth = 612;
    static constexpr int kIndicAreaHeight = 195;

    int Cylinders = 0; // cylinders shown
    std::int32_t Bar_Scale = 0;
    std::array<ACBCylinder, kACBCylinderSlots> cylinders{};
    std::array<ViewControl, kACBRows> HudLabel_ACB_Row{};
    std::array<ViewRect, kACBRows> rowRect{};
};

// ---- The run as an operation ----------------------------------------------------------
// A run starts here, tells its progress (`autoCalibrationProgress`) and ends exactly once
// (`autoCalibrationEnded`). The page's button and the command-line tool both drive it
// through these calls and follow it through those events.

enum class AutoCalibrationRefusal : std::uint8_t {
    None,
    Ending,         // the last run is still ending
    RestorePending, // this ECU still waits for what a run took from it
    NoInnovational, // the innovational algorithm on an ECU without it
};

struct AutoCalibrationStart {
    AutoCalibrationRefusal refusal = AutoCalibrationRefusal::None;
    std::string reason; // what the user is told when the run did not start
    bool started() const { return refusal == AutoCalibrationRefusal::None; }
};

// Starts a run of `algorithm` (remembered as the chosen one; a name the records do not
// have runs the fast calibration).
AutoCalibrationStart StartAutoCalibration(Context& ctx, std::string_view algorithm);
// Stops a measuring run: it goes into its ending, which gives the ECU what it had at the
// start, or the result once taken. False when no run measures.
bool StopAutoCalibration(Context& ctx);
bool AutoCalibrationMeasuring(const Context& ctx);
// From the start until its end is told (through the ending, and while it waits for the ECU).
bool AutoCalibrationRunning(const Context& ctx);
AutoCalibrationProgress AutoCalibrationNow(const Context& ctx);
// Tells the progress when it changed since it was last told; only during a run.
void ACB_Tell_Progress(Context& ctx);

// The text of prompt n; empty for a number the table does not have.
std::string ACB_Prompt_Text(const Context& ctx, int n);

// Builds the per-cylinder display for `cylinders` (held to 1..8).
void ACB_Build_Display(Context& ctx, int cylinders);

// Once at start: progress 0, records, Top_Target, display.
void ACB_Init(Context& ctx);

// The toggle button. Pressing starts a run (or asks first on an ECU with the
// innovational algorithm), releasing it stops the run.
void HudButton_ACB_StartClick(Context& ctx);
// The button shows whether the run measures.
void ACB_Set_Measuring(Context& ctx, bool measuring);
// The answer to the question whether to run the innovational algorithm.
void ACB_Innovational_Answer(Context& ctx, bool yes);

void ACB_Begin(Context& ctx);
void ACB_Stop(Context& ctx);
// The run is over: tells how it ended, once. `reason` says why the ECU may not hold what
// the run ends with; `restorePending` that it is written when the ECU answers again.
void ACB_Finished(Context& ctx, std::string reason = {}, bool restorePending = false);
// The program's models, less the corrections the run zeroed, become what the run ends with.
void ACB_Take_Result(Context& ctx);
// The ending program: puts the target into the program, writes it unless the ECU holds it
// already, switches to petrol and ends.
void ACB_Start_Tail(Context& ctx);
// The link went during a run: the run waits, frozen, for the same ECU.
void ACB_Link_Lost(Context& ctx);
// The ECU answered again and everything is read: a frozen run goes on to its end.
void ACB_Resume_After_Link(Context& ctx);
void ACB_Tick(Context& ctx);
// A live reply was decoded: a run stops when the engine stops, and the page's bars and the
// run's samples take the reply's values.
void ACB_On_Live_Data(Context& ctx);
void ACB_Refresh(Context& ctx, const std::string& groupText);
// Bar_Scale and the bars and boxes from the stored per-cylinder values.
void ACB_Draw_Bars(Context& ctx);
void ACB_On_Write_End(Context& ctx);

// Prepares a run: group count, ticks, progress range, counters, display.
void ACB_Prepare_Run(Context& ctx);

// One step (20..199) of a step program; false when the code is no step.
bool ACB_Run_Step(Context& ctx, std::int32_t code);
// One condition (200..254); no value when the code is no condition.
std::optional<bool> ACB_Condition(Context& ctx, std::int32_t code);

// Whether the petrol means agree within the current group's tolerance.
bool ACB_Tolerance_Ok(Context& ctx);
// Scales the gas side by ratio r around Gas_Point[0].
void ACB_Scale(Context& ctx, double r);
// Moves the gas side one step towards agreement; false when a limit was hit.
bool ACB_Adjust(Context& ctx);
// The result step: point spacing, idle shaping and the jet check.
void ACB_Result(Context& ctx);

// Progress bar helpers: every change is held to the bar's range.
void ACB_Set_Progress(Context& ctx, std::int32_t value);
void ACB_Add_Progress(Context& ctx, std::int32_t delta);

// Shows a text on the prompt label.
void ACB_Show(Context& ctx, const std::string& text);

} // namespace bifuel
