#include "autocalibration/AutoCLB_Unit.h"

#include "Context.h"
#include "autocalibration/AutoCLB_Script.h"
#include "autocalibration/Veltra_ACB_Innov.h"
#include "calibration/Calibr_Create.h"
#include "calibration/Calibr_Unit.h"
#include "data/Calc_Unit.h"
#include "data/Gas_Injectors_Unit.h"
#include "link/Global_Unit.h"
#include "link/Link_Operations.h"
#include "rpm_map/MapRPM_Unit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace bifuel {
namespace {

constexpr std::array<std::string_view, 24> kPromptKeys = {
    "", // 0 is two texts
    "ACB_Prompt_Start",
    "ACB_Prompt_Wait",
    "ACB_Prompt_Execute",
    "ACB_Prompt_Clear_Influence",
    "ACB_Prompt_CLB_Transmit",
    "ACB_Prompt_CFG_Transmit",
    "ACB_Prompt_CLB_Idling",
    "ACB_Prompt_Restore_Influence",
    "ACB_Prompt_Restore_CLB",
    "ACB_Prompt_Support_Sample",
    "ACB_Prompt_Support_Transmit",
    "ACB_Prompt_set_RPM",
    "ACB_Prompt_raised_RPM",
    "ACB_Prompt_set_RPM_xx",
    "ACB_Prompt_ACB_Continue",
    "ACB_Prompt_Not_Petrol",
    "ACB_Prompt_Connect",
    "ACB_Prompt_Recommend_Max",
    "ACB_Prompt_Recommend_Min",
    "ACB_Prompt_Failed",
    "ACB_Prompt_Stopped",
    "ACB_Prompt_Finish",
    "ACB_Prompt_Completion",
};

constexpr std::int32_t kSpeedThreshold = 2000; // rpm the speed program waits for
constexpr std::int32_t kSpacingUs = 2000;      // spacing of the petrol points above idle
constexpr std::uint8_t kIdleSpread = 30;       // per cent around the idle petrol time
constexpr std::uint8_t kIdleGasSpread = 10;
constexpr IdleGasRange kDefaultIdleWindow{4000, 5500};

ACB_State& st(Context& ctx) {
    return ctx.acb;
}

std::string prompt(const Context& ctx, int n) {
    return ACB_Prompt_Text(ctx, n);
}

std::string two(const Context& ctx, int a, int b) {
    return prompt(ctx, a) + " " + prompt(ctx, b);
}

bool offsetOnly(const Context& ctx) {
    return ctx.acb.Algorithm == kAlgorithmOffsetOnly;
}

void colourPrompt(Context& ctx, Colour c) {
    ctx.view.HudLabel_3D_ACB_Prompt.colour = ctx.colours.ColourOf(c);
}

void showPromptText(Context& ctx) {
    ACB_Show(ctx, st(ctx).Prompt_Text);
}

void setProgressRange(Context& ctx, std::int32_t value, std::int32_t max) {
    ctx.view.ProgressBar_3D_ACB.max = std::max(max, 0);
    ACB_Set_Progress(ctx, value);
}

void queue(Context& ctx, Request request) {
    SetPendingRequest(ctx, request);
}

// A write of the run: from here on the ECU no longer holds only what it had at Start.
OperationId queueWrite(Context& ctx, Request request) {
    ACB_State& s = st(ctx);
    s.Ecu_Changed = true;
    s.Run_Write = SetPendingRequest(ctx, request);
    return s.Run_Write;
}

void yield(Context& ctx) {
    st(ctx).Yield = true;
}

void redrawDiagram(Context& ctx) {
    ctx.diagram.Selected_Point = -1;
    RefreshDiagram(ctx);
}

std::array<std::int32_t*, 5> corrections(Configuration_Class& c) {
    return {&c.ACB_Corr_93, &c.ACB_Corr_94, &c.ACB_Corr_96, &c.ACB_Corr_97, &c.ACB_Corr_99};
}

void saveCorrections(Context& ctx) {
    const auto fields = corrections(ctx.config);
    for (std::size_t i = 0; i < fields.size(); ++i)
        st(ctx).Saved_Corr[i] = *fields[i];
}

void restoreCorrections(Context& ctx) {
    const auto fields = corrections(ctx.config);
    for (std::size_t i = 0; i < fields.size(); ++i)
        *fields[i] = st(ctx).Saved_Corr[i];
}

} // namespace

void ACB_Take_Result(Context& ctx) {
    ACB_State& s = st(ctx);
    s.Target = TakeImage(ctx);
    const auto fields = corrections(s.Target.config);
    for (std::size_t i = 0; i < fields.size(); ++i)
        *fields[i] = s.Saved_Corr[i];
    s.Target_Is_Result = true;
    s.Target_Version += 1;
}

namespace {

bool targetWritten(const ACB_State& s) {
    return s.Final_Write != 0 && s.Final_Version == s.Target_Version &&
           s.Final_Result == OperationResult::Done;
}

// Sends the target unless the ECU holds it already. The run goes on when the ECU has
// reported the write saved (or the write has ended otherwise), not when its frames are
// acknowledged: the end of the run says what the ECU holds.
void writeTarget(Context& ctx) {
    ACB_State& s = st(ctx);
    yield(ctx);
    const bool carried = s.Final_Write != 0 && s.Final_Version == s.Target_Version;
    if (carried && !s.Final_Result) {
        s.Reply_Countdown = -1; // on its way: its end lets the run go on
        return;
    }
    if (targetWritten(s) || (!s.Ecu_Changed && !s.Target_Is_Result)) {
        s.Reply_Countdown = s.Post_Wait;
        return;
    }
    s.Final_Version = s.Target_Version;
    s.Final_Result.reset();
    s.Reply_Countdown = -1;
    s.Final_Write = queueWrite(ctx, kRequestWriteAll);
}

// The run ends where it stands without the ECU: what it was to write waits for the same
// ECU to answer again.
void endWithoutLink(Context& ctx) {
    ACB_State& s = st(ctx);
    s.ACB_Running = false;
    s.In_Tail = false;
    ACB_Set_Measuring(ctx, false);
    ctx.link.Wide_Gas_Mask = false;
    ctx.view.HudButton_ACB_Start.enabled = ctx.link.ECU_Connected;
    ACB_Set_Progress(ctx, 0);
    if (!s.Ecu_Changed) {
        ACB_Finished(ctx);
        return;
    }
    KeepRestorePending(ctx, s.Target, s.Run_Ecu, s.Target_Is_Result);
    const std::string partial = PartialCalibrationText(ctx, s.Target_Is_Result);
    ACB_Show(ctx, s.Result_Text + " " + partial);
    ACB_Finished(ctx, partial, true);
}

void addToGas(Context& ctx, std::int32_t delta) {
    for (std::int32_t& g : ctx.diagram.Gas_Point)
        g += delta;
}

// Puts point k back on the line through its neighbours.
void reinterpolate(DiagramModel& d, int k) {
    auto& p = d.Petrol_Point;
    auto& g = d.Gas_Point;
    const auto i = static_cast<std::size_t>(k);
    const double span = static_cast<double>(p[i + 1]) - p[i - 1];
    if (span == 0) return; // no line through the neighbours: the point keeps its gas time
    g[i] = g[i - 1] + TruncToInt((p[i] - static_cast<double>(p[i - 1])) *
                                 (static_cast<double>(g[i + 1]) - g[i - 1]) / span);
}

IdleGasRange idleWindow(const Context& ctx) {
    return IdleGasWindow(InjectorTypeIndex(ctx.config.Injector_Type)).value_or(kDefaultIdleWindow);
}

std::int32_t rowTolerance(const Context& ctx) {
    const std::int32_t g = ctx.acb.Group_Index;
    if (g < 1 || g > kACBGroups) return 0;
    return ctx.settings.ACB_Steps[static_cast<std::size_t>(g)].Tolerance_Us;
}

void computeMeans(ACB_State& s) {
    s.Gas_Mean = s.Gas_Count > 0 ? s.Gas_Sum / s.Gas_Count : 0;
    s.Petrol_Mean = s.Petrol_Count > 0 ? s.Petrol_Sum / s.Petrol_Count : 0;
}

// Shift by 500 us after going back to the best slope seen; false at a limit.
bool shift(Context& ctx, int direction) {
    ACB_State& s = st(ctx);
    DiagramModel& d = ctx.diagram;
    if (direction > 0 && s.Shift_Count >= kShiftLimit) return false;
    if (direction < 0 && (s.Shift_Count <= -kShiftLimit || d.Gas_Point[0] - kShiftUs < 0)) {
        return false;
    }
    if (d.Gas_Point[8] == 0) return false;
    s.Shift_Count = static_cast<std::int8_t>(s.Shift_Count + direction);
    ACB_Scale(ctx, static_cast<double>(s.Best_Top) / d.Gas_Point[8]);
    addToGas(ctx, direction * kShiftUs);
    s.Saved_Gas = d.Gas_Point;
    return true;
}

void pointSpacing(DiagramModel& d, std::int32_t g) {
    auto& p = d.Petrol_Point;
    std::int32_t s = 0;
    // Each pass either places one point lower down or widens the tolerance: bounded.
    for (int pass = 0; pass < 100000; ++pass) {
        int b = 2;
        std::int32_t a = g + PercentOf(g, kIdleSpread);
        while (a > p[static_cast<std::size_t>(b + 1)] - kSpacingUs + s && b < 7) {
            ++b;
            a += kSpacingUs - s;
        }
        if (a > p[static_cast<std::size_t>(b + 1)] - kSpacingUs + s) {
            s += 100;
        } else if (b > 2) {
            p[static_cast<std::size_t>(b)] = a;
            reinterpolate(d, b);
        } else {
            return;
        }
    }
}

void idleShaping(DiagramModel& d, std::int32_t g) {
    auto& p = d.Petrol_Point;
    auto& gas = d.Gas_Point;
    p[1] = g - PercentOf(g, kIdleSpread);
    reinterpolate(d, 1);
    p[2] = g + PercentOf(g, kIdleSpread);
    reinterpolate(d, 2);
    gas[2] += PercentOf(gas[2], kIdleGasSpread);
    gas[1] -= PercentOf(gas[1], kIdleGasSpread);
    p[3] = p[2] + PercentOf(g, kIdleSpread);
    reinterpolate(d, 3);
    p[4] = p[3] + (p[5] - p[3]) / 2;
    reinterpolate(d, 4);
}

void refreshCylinder(Context& ctx, int c, const std::array<std::int32_t, kACBRows>& values) {
    ACBCylinder& cyl = ctx.acbView.cylinders[static_cast<std::size_t>(c - 1)];
    cyl.value = values;
}

// Bars and boxes of the first four cylinders, or of every cylinder shown.
void drawBars(Context& ctx, bool allShown) {
    ACBView& v = ctx.acbView;
    // The display is built for the cylinders the program knew at start; the ECU's
    // configuration may give another number later.
    if (v.Cylinders != std::clamp(ctx.config.Cylinders, 1, kACBCylinderSlots)) {
        ACB_Build_Display(ctx, ctx.config.Cylinders);
    }
    const int upTo = allShown ? v.Cylinders : 4;
    std::int32_t largest = 0;
    for (int c = 0; c < 4; ++c) {
        for (const std::int32_t value : v.cylinders[static_cast<std::size_t>(c)].value) {
            largest = std::max(largest, value);
        }
    }
    v.Bar_Scale = std::max(v.Bar_Scale, largest + 1000);
    for (int c = 0; c < std::min(upTo, kACBCylinderSlots); ++c) {
        ACBCylinder& cyl = v.cylinders[static_cast<std::size_t>(c)];
        for (std::size_t r = 0; r < kACBRows; ++r) {
            const std::int32_t value = std::max(cyl.value[r], 0);
            ACBBar& bar = cyl.Rectangle_ACB_Bar[r];
            cyl.HudTextBox_ACB_Value[r].text = InjTimeToText(cyl.value[r]);
            if (c >= 4) continue; // only the first four cylinders have bars that move
            bar.height = value >= v.Bar_Scale
                             ? bar.rect.height
                             : static_cast<int>(static_cast<std::int64_t>(value) * bar.rect.height /
                                                std::max(v.Bar_Scale, 1));
        }
    }
}

} // namespace

// ---- Time base -------------------------------------------------------------------------

std::int32_t TicksFor(std::int32_t ms, const Settings_Class& settings) {
    const std::int32_t tick = std::max(settings.Cycle_Base_Ms + settings.Reply_Delay, 1);
    return std::max(ms / tick, 3);
}

ACB_TimeBase ComputeTimeBase(const Settings_Class& settings) {
    ACB_TimeBase t;
    t.Tick_500 = TicksFor(500, settings);
    t.Tick_1000 = TicksFor(1000, settings);
    t.Tick_2000 = TicksFor(2000, settings);
    for (std::size_t g = 1; g <= kACBGroups; ++g) {
        t.Settle_Ticks[g] = TicksFor(settings.ACB_Steps[g].Settle_Ms, settings);
        t.Sample_Ticks[g] = TicksFor(settings.ACB_Steps[g].Sample_Ms, settings);
    }
    return t;
}

// ---- Prompts and display ---------------------------------------------------------------

std::string ACB_Prompt_Text(const Context& ctx, int n) {
    if (n == 0) return ctx.LangText("ACB_Prompt_Wait") + " " + ctx.LangText("ACB_Prompt_Execute");
    if (n < 1 || n >= static_cast<int>(kPromptKeys.size())) return {};
    return ctx.LangText(kPromptKeys[static_cast<std::size_t>(n)]);
}

void ACB_Show(Context& ctx, const std::string& text) {
    ctx.view.HudLabel_3D_ACB_Prompt.text = text;
    ACB_Tell_Progress(ctx);
}

void ACB_Set_Progress(Context& ctx, std::int32_t value) {
    ViewProgress& bar = ctx.view.ProgressBar_3D_ACB;
    bar.value = std::clamp(value, 0, std::max(bar.max, 0));
    ACB_Tell_Progress(ctx);
}

void ACB_Add_Progress(Context& ctx, std::int32_t delta) {
    ACB_Set_Progress(ctx, ctx.view.ProgressBar_3D_ACB.value + delta);
}

void ACB_Build_Display(Context& ctx, int cylinders) {
    ACBView& v = ctx.acbView;
    const int n = std::clamp(cylinders, 1, kACBCylinderSlots);
    v.Cylinders = n;
    const int s = (ACBView::kBarAreaWidth - 50 - 30 * n) / (3 * n);
    const int full = ACBView::kBarAreaHeight - 20;
    const int rowHeight = (ACBView::kIndicAreaHeight - 14) / 3;
    const std::array<Colour, kACBRows> barColours{Colour::ACB_Pet_Pet, Colour::ACB_Pet_Gas,
                                                  Colour::ACB_Gas_Gas};
    const std::array<Colour, kACBRows> labelColours{Colour::Petrol, Colour::ACB_Pet_Gas,
                                                    Colour::Gas};
    const std::array<std::string_view, kACBRows> labelKeys{"ACB_Pet_on_Pet", "ACB_Pet_on_Gas",
                                                           "ACB_Gas_on_Gas"};
    int y = 5;
    for (std::size_t r = 0; r < kACBRows; ++r) {
        v.rowRect[r] = {5, y, 50, rowHeight};
        v.HudLabel_ACB_Row[r].text = ctx.LangText(labelKeys[r]);
        v.HudLabel_ACB_Row[r].colour = ctx.colours.ColourOf(labelColours[r]);
        y += rowHeight + 2;
    }
    int x = 60;
    for (int c = 0; c < kACBCylinderSlots; ++c) {
        ACBCylinder& cyl = v.cylinders[static_cast<std::size_t>(c)];
        const bool shown = c < n;
        const int first = x;
        for (std::size_t r = 0; r < kACBRows; ++r) {
            ACBBar& bar = cyl.Rectangle_ACB_Bar[r];
            bar.rect = shown ? ViewRect{x, 10, s, full} : ViewRect{};
            bar.height = 0;
            bar.colour = ctx.colours.ColourOf(barColours[r]);
            cyl.boxRect[r] =
                shown ? ViewRect{first, v.rowRect[r].y, 3 * s + 10, rowHeight} : ViewRect{};
            cyl.HudTextBox_ACB_Value[r].visible = shown;
            cyl.HudTextBox_ACB_Value[r].enabled = false; // read-only, ignores the mouse
            cyl.HudTextBox_ACB_Value[r].colour = bar.colour;
            if (r < kACBRows - 1) x += s + 5;
        }
        x += s + 20;
    }
}

void ACB_Init(Context& ctx) {
    setProgressRange(ctx, 0, ctx.view.ProgressBar_3D_ACB.max);
    ctx.acbRecords = ACB_Create_Records(kACBRecords);
    st(ctx).Top_Target = ctx.settings.ACB_Top_20 ? 20 : 12;
    ACB_Build_Display(ctx, ctx.config.Cylinders);
}

void ACB_Refresh(Context& ctx, const std::string& groupText) {
    ACB_State& s = st(ctx);
    const LiveData& live = ctx.live;
    const bool measuring = s.Measuring;
    if (measuring && groupText.empty()) {
        for (ACBCylinder& cyl : ctx.acbView.cylinders)
            cyl.value = {};
    }
    for (int c = 1; c <= 4; ++c) {
        const bool marked = !measuring || groupText.empty() ||
                            groupText.find(static_cast<char>('0' + c)) != std::string::npos;
        if (!marked) continue;
        const auto i = static_cast<std::size_t>(c);
        refreshCylinder(
            ctx, c,
            {live.Live_Petrol_On_Petrol[i], live.Live_Petrol_On_Gas[i], live.Live_Gas_Inj[i]});
    }
    drawBars(ctx, false);
    if (measuring && !s.Sampling_Off) {
        if (s.Petrol_Phase) {
            s.Petrol_Sum += live.Live_Petrol_Avg;
            s.Petrol_Count += 1;
        } else {
            s.Gas_Sum += live.Live_Petrol_Avg;
            s.Gas_Count += 1;
        }
    }
}

void ACB_Draw_Bars(Context& ctx) {
    drawBars(ctx, true);
}

// ---- Life cycle ------------------------------------------------------------------------

namespace {

// This ECU still waits for what an earlier run took from it.
bool restoreWaitsHere(const Context& ctx) {
    const std::optional<PendingRestore>& pending = ctx.acb.Pending_Restore;
    return pending && pending->ecu == FingerprintOf(ctx);
}

} // namespace

AutoCalibrationStart StartAutoCalibration(Context& ctx, std::string_view algorithm) {
    // A new run would take the half-written values of the last one, or of a run still
    // waiting for this ECU, as the ones to come back to.
    if (st(ctx).In_Run) return {AutoCalibrationRefusal::Ending, ctx.LangText("ACB_Still_Ending")};
    if (restoreWaitsHere(ctx)) {
        return {AutoCalibrationRefusal::RestorePending, PendingRestoreText(ctx)};
    }
    if (algorithm == kAlgorithmInnovational && !ctx.link.Ident.Innovational_Capable) {
        return {AutoCalibrationRefusal::NoInnovational, ctx.LangText("ACB_No_Innovational")};
    }
    ctx.settings.ACB_SCR_Type = std::string(algorithm);
    ctx.acbView.Bar_Scale = 0;
    ACB_Begin(ctx);
    return {};
}

bool StopAutoCalibration(Context& ctx) {
    if (!st(ctx).Measuring) return false;
    ACB_Set_Measuring(ctx, false);
    ACB_Stop(ctx);
    return true;
}

bool AutoCalibrationMeasuring(const Context& ctx) {
    return ctx.acb.Measuring;
}

bool AutoCalibrationRunning(const Context& ctx) {
    return ctx.acb.In_Run;
}

AutoCalibrationProgress AutoCalibrationNow(const Context& ctx) {
    const ACB_State& s = ctx.acb;
    const ViewProgress& bar = ctx.view.ProgressBar_3D_ACB;
    const bool classic = s.Algorithm != kAlgorithmInnovational;
    return {s.Algorithm,
            ctx.view.HudLabel_3D_ACB_Prompt.text,
            bar.max > 0 ? std::clamp(bar.value * 100 / bar.max, 0, 100) : 0,
            classic ? std::clamp(s.Group_Index, 0, s.Group_Count) : 0,
            classic ? s.Group_Count : 0,
            s.Measuring,
            s.Target_Is_Result};
}

void ACB_Tell_Progress(Context& ctx) {
    ACB_State& s = st(ctx);
    if (!s.In_Run) return;
    AutoCalibrationProgress now = AutoCalibrationNow(ctx);
    if (now == s.Told) return;
    s.Told = std::move(now);
    ctx.events.autoCalibrationProgress.notify(s.Told);
}

void ACB_Set_Measuring(Context& ctx, bool measuring) {
    st(ctx).Measuring = measuring;
    ViewControl& button = ctx.view.HudButton_ACB_Start;
    button.pressed = measuring;
    button.text = ctx.LangText(measuring ? "Stop" : "Start");
    ACB_Tell_Progress(ctx);
}

void HudButton_ACB_StartClick(Context& ctx) {
    if (StopAutoCalibration(ctx)) return;
    if (ctx.link.Ident.Innovational_Capable && !st(ctx).In_Run && !restoreWaitsHere(ctx)) {
        ShowMessageWindow(ctx, kMessageInnovationalQuestion,
                          ctx.LangText("Run_ACB_SCR_Innovational"));
        return;
    }
    const AutoCalibrationStart start = StartAutoCalibration(ctx, ctx.settings.ACB_SCR_Type);
    // A run still ending goes on showing its own prompts.
    if (start.refusal == AutoCalibrationRefusal::RestorePending) ACB_Show(ctx, start.reason);
}

void ACB_Innovational_Answer(Context& ctx, bool yes) {
    // The answer is the algorithm chosen from here on, even for a run that cannot start.
    ctx.settings.ACB_SCR_Type = std::string(yes ? kAlgorithmInnovational : kAlgorithmFast);
    StartAutoCalibration(ctx, ctx.settings.ACB_SCR_Type);
}

void ACB_Prepare_Run(Context& ctx) {
    ACB_State& s = st(ctx);
    ACB_Count_Groups(ctx);
    s.Ticks = ComputeTimeBase(ctx.settings);
    s.Petrol_Sum = s.Petrol_Count = s.Gas_Sum = s.Gas_Count = 0;
    std::int32_t max = 0;
    if (s.Group_Count >= 1) {
        for (int g = 1; g <= std::min(s.Group_Count, kACBGroups); ++g) {
            const auto i = static_cast<std::size_t>(g);
            max += 2 * (s.Ticks.Settle_Ticks[i] + s.Ticks.Sample_Ticks[i]);
        }
        max += 3 * s.Ticks.Tick_500;
    }
    ctx.view.ProgressBar_3D_ACB.max = max;
    ACB_Restart_Script(ctx);
    s.Hold_Progress = false;
    ACB_Set_Progress(ctx, 0);
    ctx.view.HudLabel_3D_ACB_Prompt.colour = ctx.settings.Font_Color;
    ACB_Refresh(ctx, "");
}

void ACB_Begin(Context& ctx) {
    ACB_State& s = st(ctx);
    ctx.language.OpenLanguage();
    ACB_Set_Measuring(ctx, true);
    s.Algorithm = ctx.settings.ACB_SCR_Type;
    if (ACB_Algorithm_Index(s.Algorithm) == 0) s.Algorithm = std::string(kAlgorithmFast);
    ACB_Load_Params(ctx, ACB_Algorithm_Index(s.Algorithm));
    s.Start_Copy = TakeImage(ctx);
    s.Target = s.Start_Copy;
    s.Target_Is_Result = false;
    s.Target_Version += 1;
    s.Run_Ecu = FingerprintOf(ctx);
    s.Ecu_Changed = s.Support_Taken = s.Frozen = s.In_Tail = false;
    s.Final_Write = 0;
    s.Final_Result.reset();
    s.In_Run = true;
    s.Told = {};
    // Also taken here, so that a stop before the start step writes back what the ECU had.
    saveCorrections(ctx);
    s.Top_Target = ctx.settings.ACB_Top_20 ? 20 : 12;
    s.Script_Text = ctx.settings.ACB_Script;
    ACB_Prepare_Run(ctx);
    s.Group_Text.clear();
    s.Sampling_Off = true;
    s.Reply_Countdown = s.Ticks.Tick_500;
    s.Prompt_Text = prompt(ctx, 2);
    s.Petrol_Phase = true;
    s.Result_Text.clear();
    s.Outcome.reset();
    queue(ctx, kRequestAllToPetrol);
    s.Saved_Idle_Points = ctx.settings.Idle_Points;
    ctx.settings.Idle_Points = false;
    s.Best_Gas_Mean = 0;
    s.ACB_Running = true;
    ACB_Choose_Program(ctx);
    ctx.language.CloseLanguage();
}

void ACB_Stop(Context& ctx) {
    ACB_State& s = st(ctx);
    if (!s.In_Run) return;
    ctx.language.OpenLanguage();
    ACB_Set_Measuring(ctx, false);
    ctx.settings.Idle_Points = s.Saved_Idle_Points;
    // A sample cut short is no sample.
    s.Support_Taken = false;
    // After the result step a stop keeps the result: it is what the run ends with. A run
    // that failed keeps saying why.
    if (!s.Target_Is_Result && s.Outcome != AutoCalibrationResult::Failed) {
        s.Result_Text = prompt(ctx, 21);
        s.Outcome = AutoCalibrationResult::Stopped;
    }
    if (!s.Target_Is_Result) colourPrompt(ctx, Colour::Txt_Error);
    ACB_Show(ctx, s.Result_Text);
    if (ctx.link.ECU_Connected && !s.Frozen) {
        ACB_Load_Tail(ctx);
    } else {
        endWithoutLink(ctx);
    }
    ctx.language.CloseLanguage();
}

void ACB_Finished(Context& ctx, std::string reason, bool restorePending) {
    ACB_State& s = st(ctx);
    if (!s.In_Run) return; // told already
    AutoCalibrationEnd end{s.Outcome.value_or(AutoCalibrationResult::Failed), s.Result_Text,
                           std::move(reason), restorePending, s.Ecu_Changed};
    s.Outcome.reset();
    if (!end.restorePending && s.Ecu_Changed && !targetWritten(s)) {
        // The ECU did not confirm the last write: a result is not a success then.
        if (end.reason.empty()) end.reason = ctx.LangText("ACB_Not_Confirmed");
        if (end.result == AutoCalibrationResult::Success ||
            end.result == AutoCalibrationResult::Advised) {
            end.result = AutoCalibrationResult::Failed;
        }
        ACB_Show(ctx, s.Result_Text + " " + end.reason); // told while the run is still on
        colourPrompt(ctx, Colour::Txt_Error);
    }
    s.In_Run = false;
    s.In_Tail = false;
    s.Frozen = false;
    if (!end.restorePending && ctx.link.ECU_Connected && !s.Pending_Restore) {
        RemoveStatus(ctx, ctx.LangText("ACB_Partial_Calibration"));
    }
    ctx.events.autoCalibrationEnded.notify(end);
}

void ACB_Link_Lost(Context& ctx) {
    ACB_State& s = st(ctx);
    if (!s.In_Run || s.Frozen) return;
    s.Frozen = true;
    s.ACB_Running = false; // no countdown runs on the replies of the reconnection
    s.Final_Write = 0;     // cut off with the link
    ctx.link.Wide_Gas_Mask = false;
    ACB_Set_Progress(ctx, 0);
    std::string text = prompt(ctx, 17);
    if (s.Ecu_Changed) {
        AddStatus(ctx, Colour::Txt_Error, ctx.LangText("ACB_Partial_Calibration"));
        text += " " + PartialCalibrationText(ctx, s.Target_Is_Result);
    }
    ACB_Show(ctx, text);
    colourPrompt(ctx, Colour::Txt_Error);
}

void ACB_Resume_After_Link(Context& ctx) {
    ACB_State& s = st(ctx);
    if (!s.In_Run || !s.Frozen) return;
    if (FingerprintOf(ctx) == s.Run_Ecu) {
        s.Frozen = false;
        ACB_Stop(ctx);
        return;
    }
    // Another ECU answers: nothing of the run goes to it.
    ACB_Stop(ctx);
    if (s.Pending_Restore) {
        s.Pending_Restore->otherEcuTold = true;
        ShowMessageWindow(ctx, kMessageCalibrationRestore, ctx.LangText("ACB_Restore_Other_Ecu"));
    }
}

void ACB_Tick(Context& ctx) {
    ACB_State& s = st(ctx);
    if (!s.ACB_Running) return;
    const LiveData& live = ctx.live;
    if (s.Measuring && std::all_of(live.Live_Petrol_Inj.begin() + 1, live.Live_Petrol_Inj.end(),
                                   [](std::int32_t t) { return t == 0; })) {
        if (!s.Target_Is_Result) {
            s.Result_Text = two(ctx, 20, 16);
            s.Outcome = AutoCalibrationResult::Failed;
        }
        ACB_Stop(ctx);
        return;
    }
    s.Reply_Countdown -= 1;
    if (!ctx.link.Write_Running && !s.Hold_Progress) ACB_Add_Progress(ctx, 1);
    if (s.Reply_Countdown == 0) ACB_Interpret(ctx);
}

void ACB_On_Live_Data(Context& ctx) {
    if (!ctx.live.Complete) return;
    if (ctx.live.Engine_Went_Off) StopAutoCalibration(ctx);
    // A classic run on an ECU that also knows the innovational algorithm still needs
    // its samples.
    if (ctx.link.Ident.Innovational_Capable && !ctx.acb.ACB_Running) {
        Innov_Refresh(ctx);
    } else {
        ACB_Refresh(ctx, ctx.acb.Group_Text);
    }
}

void ACB_On_Write_End(Context& ctx) {
    ACB_State& s = st(ctx);
    if (!s.ACB_Running) return;
    // Only the end of the run's own write counts: a write of an edit, or of a default the
    // ECU asked for, must not cut a wait short. The target's write lets the run go on at
    // its end instead, once the ECU has saved it.
    const std::vector<OperationSlot>& saving = ctx.ops.Saving;
    if (s.Run_Write == 0 || saving.empty() || saving.back().id != s.Run_Write) return;
    if (std::exchange(s.Run_Write, 0) == s.Final_Write) return;
    s.Sampling_Off = true;
    s.Reply_Countdown = s.Post_Wait;
}

// ---- Steps and conditions --------------------------------------------------------------

void ACB_Scale(Context& ctx, double r) {
    auto& g = ctx.diagram.Gas_Point;
    for (std::size_t k = 1; k < g.size(); ++k) {
        g[k] = TruncToInt((g[k] - static_cast<double>(g[0])) * r + 0.5) + g[0];
        if (g[k] < g[0]) g[k] = g[0];
    }
}

bool ACB_Tolerance_Ok(Context& ctx) {
    ACB_State& s = st(ctx);
    computeMeans(s);
    const bool ok = std::abs(s.Petrol_Mean - s.Gas_Mean) <= rowTolerance(ctx);
    if (ok) s.Best_Gas_Mean = s.Gas_Mean;
    return ok;
}

bool ACB_Adjust(Context& ctx) {
    ACB_State& s = st(ctx);
    DiagramModel& d = ctx.diagram;
    auto& g = d.Gas_Point;
    s.Failed = true;
    computeMeans(s);
    // Without a petrol mean there is nothing to compare with.
    if (s.Petrol_Mean <= 0) return false;
    bool ok = true;
    if (offsetOnly(ctx)) {
        const std::int32_t diff = s.Gas_Mean - s.Petrol_Mean;
        if (g[8] + diff > d.Gas_Axis_Max || g[8] + diff < kAdjustTopFloor ||
            g[0] + diff > d.Gas_Axis_Max || g[0] + diff < 0) {
            return false;
        }
        addToGas(ctx, diff);
        if (std::abs(diff) < s.Best_Diff) {
            s.Best_Diff = std::abs(diff);
            s.Saved_Gas = g;
        }
    } else {
        if (g[8] == 0) return false;
        const std::int32_t diff = std::abs(s.Petrol_Mean - s.Gas_Mean);
        if (diff < s.Best_Diff) {
            s.Best_Diff = diff;
            s.Best_Gas_Mean = s.Gas_Mean;
            s.Best_Top = g[8];
        }
        s.Saved_Gas = g;
        const double r = static_cast<double>(s.Gas_Mean) / s.Petrol_Mean;
        const double v = (g[8] - static_cast<double>(g[0])) * r + 0.5 + g[0];
        if (v <= d.Gas_Axis_Max && v > kAdjustTopFloor && v > g[0] + 10.0) {
            ACB_Scale(ctx, r);
        } else {
            ok = shift(ctx, v > d.Gas_Axis_Max ? +1 : -1);
        }
    }
    if (ok) {
        ACB_Add_Progress(ctx, -(s.Cur_Settle + s.Cur_Sample + s.Ticks.Tick_500));
    }
    return ok;
}

void ACB_Result(Context& ctx) {
    ACB_State& s = st(ctx);
    DiagramModel& d = ctx.diagram;
    if (s.Failed) {
        s.Result_Text = two(ctx, 20, s.Gas_Mean > s.Petrol_Mean ? 18 : 19);
        s.Outcome = AutoCalibrationResult::Failed;
        colourPrompt(ctx, Colour::Txt_Error);
        return;
    }
    const std::int32_t g = s.Gas_Mean;
    pointSpacing(d, g);
    idleShaping(d, g);
    d.Idle_Point = 2;
    s.Result_Text.clear();
    const IdleGasRange window = idleWindow(ctx);
    if (ctx.live.Live_Gas_Avg > window.maxUs) {
        s.Result_Text = prompt(ctx, 18);
    } else if (ctx.live.Live_Gas_Avg < window.minUs) {
        s.Result_Text = prompt(ctx, 19);
    }
    if (!s.Result_Text.empty()) {
        s.Result_Text = prompt(ctx, 22) + " " + s.Result_Text;
        s.Outcome = AutoCalibrationResult::Advised;
        colourPrompt(ctx, Colour::Txt_Recomm);
    }
    s.Post_Wait = s.Ticks.Tick_500;
    ACB_Show(ctx, prompt(ctx, 7));
    ctx.settings.Idle_Points = s.Saved_Idle_Points;
}

// ---- The step program's steps ----------------------------------------------------------
// Each step of a program word 20..199; a step that waits on the ECU sets the countdown of
// replies and yields.
namespace {

void settle(ACB_State& s) {
    s.Sampling_Off = true;
    s.Reply_Countdown = s.Cur_Settle;
}

// 21: the start: the diagram reset (and brought to the top target), the map and the
// corrections cleared, and all of it written.
void startStep(Context& ctx, ACB_State& s) {
    DiagramModel& d = ctx.diagram;
    s.Group_Index = 0;
    s.Shift_Count = 0;
    if (ctx.settings.ACB_Reset_Diagram) {
        ResetDiagram(ctx);
        if (!offsetOnly(ctx) && d.Gas_Point[8] != 0) {
            ACB_Scale(ctx, s.Top_Target * 1000.0 / d.Gas_Point[8]);
        }
    }
    ResetMap(ctx);
    // What the first group falls back to when its first adjustment fails.
    s.Saved_Gas = d.Gas_Point;
    saveCorrections(ctx);
    for (std::int32_t* c : corrections(ctx.config))
        *c = 0;
    s.Sampling_Off = true;
    s.Post_Wait = s.Ticks.Tick_500;
    s.Prompt_Text = two(ctx, 2, 6);
    showPromptText(ctx);
    queueWrite(ctx, kRequestWriteAll);
    yield(ctx);
}

void showExecuting(Context& ctx, ACB_State& s) {
    s.Prompt_Text = two(ctx, 2, 3);
    showPromptText(ctx);
}

void clearFailed(Context&, ACB_State& s) {
    s.Failed = false;
}

void resetBestDiff(Context& ctx, ACB_State& s) {
    s.Best_Diff = ctx.diagram.Gas_Axis_Max;
}

void petrolSettle(Context& ctx, ACB_State& s) {
    settle(s);
    s.Petrol_Phase = true;
    queue(ctx, kRequestAllToPetrol);
    yield(ctx);
}

void petrolSample(Context& ctx, ACB_State& s) {
    s.Petrol_Sum = s.Petrol_Count = 0;
    s.Sampling_Off = false;
    s.Reply_Countdown = s.Cur_Sample;
    s.Petrol_Phase = true;
    yield(ctx);
}

// 27 sends the group to gas, 28 only waits with it there.
void gasSettle(Context& ctx, ACB_State& s, bool toGas) {
    settle(s);
    ACB_Build_Mask(ctx);
    if (toGas) queue(ctx, kRequestGroupToGas);
    yield(ctx);
}

void groupToGas(Context& ctx, ACB_State& s) {
    gasSettle(ctx, s, true);
}

void groupOnGas(Context& ctx, ACB_State& s) {
    gasSettle(ctx, s, false);
}

void gasSample(Context& ctx, ACB_State& s) {
    s.Gas_Sum = s.Gas_Count = 0;
    s.Sampling_Off = false;
    s.Reply_Countdown = s.Cur_Sample;
    ACB_Build_Mask(ctx);
    yield(ctx);
}

void firstGroup(Context& ctx, ACB_State&) {
    ACB_Restart_Script(ctx);
    ACB_Next_Group(ctx);
}

void holdProgress(Context&, ACB_State& s) {
    s.Hold_Progress = true;
}

void releaseProgress(Context&, ACB_State& s) {
    s.Hold_Progress = false;
}

void askForSpeed(Context& ctx, ACB_State& s) {
    s.Prompt_Text = prompt(ctx, 12) + " 2000 - 3000 " + ctx.LangText("Dim_RPM_Short");
}

void showPrompt(Context& ctx, ACB_State&) {
    showPromptText(ctx);
}

void secondsUp(Context& ctx, ACB_State& s) {
    s.Reply_Countdown = s.Ticks.Tick_1000;
    s.Step_Counter += 1;
    ACB_Show(ctx, s.Prompt_Text + " (" + std::to_string(s.Step_Counter) + " " +
                      ctx.LangText("Dim_Sec_Long") + ")");
    yield(ctx);
}

void speedToGas(Context& ctx, ACB_State& s) {
    groupToGas(ctx, s);
    s.Post_Wait = s.Reply_Countdown = s.Ticks.Tick_500;
}

void askToHoldSpeed(Context& ctx, ACB_State& s) {
    s.Prompt_Text = prompt(ctx, 13);
}

void secondsDown(Context& ctx, ACB_State& s) {
    s.Reply_Countdown = s.Ticks.Tick_1000;
    s.Step_Counter -= 1;
    ACB_Show(ctx, s.Prompt_Text + " " + std::to_string(s.Step_Counter) + " " +
                      ctx.LangText("Dim_Sec_Long"));
    yield(ctx);
}

// The prompt whose number is the next program word.
void promptFromProgram(Context& ctx, ACB_State& s) {
    const std::int32_t n = s.ACB_PC + 1 <= kACBProgramWords
                               ? s.ACB_Program[static_cast<std::size_t>(s.ACB_PC + 1)]
                               : -1;
    s.ACB_PC += 1;
    s.Prompt_Text = prompt(ctx, n);
    showPromptText(ctx);
}

void shortProgress(Context& ctx, ACB_State&) {
    setProgressRange(ctx, 0, 30);
}

void writeDiagram(Context& ctx, ACB_State& s) {
    s.Post_Wait = s.Ticks.Tick_500;
    queueWrite(ctx, kRequestWriteDiagram);
    yield(ctx);
}

// Back to the best slope seen, and written.
void bestSlope(Context& ctx, ACB_State& s) {
    DiagramModel& d = ctx.diagram;
    d.Gas_Point = s.Saved_Gas;
    if (!offsetOnly(ctx) && d.Gas_Point[8] != 0 && s.Best_Top > 0) {
        ACB_Scale(ctx, static_cast<double>(s.Best_Top) / d.Gas_Point[8]);
        s.Saved_Gas = d.Gas_Point;
    }
    s.Best_Diff = d.Gas_Axis_Max;
    writeDiagram(ctx, s);
}

// Everything the run may have changed, not only the gas values: the petrol points, the
// idle point, the map and the corrections went with the start step's reset.
void putTarget(Context& ctx, ACB_State& s) {
    s.Sampling_Off = true;
    PutImage(ctx, s.Target);
    s.Post_Wait = s.Ticks.Tick_500;
    ACB_Show(ctx, two(ctx, 2, s.Target_Is_Result ? 6 : 9));
    redrawDiagram(ctx);
}

void resultStep(Context& ctx, ACB_State& s) {
    ACB_Result(ctx);
    if (!s.Failed) ACB_Take_Result(ctx);
}

void completion(Context& ctx, ACB_State& s) {
    if (!s.Result_Text.empty()) return;
    s.Result_Text = prompt(ctx, 23);
    s.Outcome = AutoCalibrationResult::Success;
    colourPrompt(ctx, Colour::Txt_Complete);
}

void supportStart(Context& ctx, ACB_State& s) {
    s.Sampling_Off = true;
    s.Support_Taken = true;
    s.Support_Sum = {};
    ACB_Show(ctx, prompt(ctx, 10));
    setProgressRange(ctx, 0, 30);
}

void supportSample(Context& ctx, ACB_State& s) {
    const LiveData& live = ctx.live;
    s.Reply_Countdown = 1;
    s.Support_Sum[0] += live.Live_PressDiff;
    s.Support_Sum[1] += live.Live_TempGas;
    s.Support_Sum[2] += live.Live_Value18;
    yield(ctx);
}

// The support parameters join the result, which is written; a failed run gives the ECU
// back what it had, and so does a stop.
void supportWrite(Context& ctx, ACB_State& s) {
    if (s.Target_Is_Result && s.Support_Taken) {
        Configuration_Class& c = ctx.config;
        c.ACB_Press = s.Support_Sum[0] / kSupportSamples;
        c.ACB_Temper = (s.Support_Sum[1] / kSupportSamples + 5) / 10;
        c.ACB_Value_98 = s.Support_Sum[2] / kSupportSamples;
        restoreCorrections(ctx);
        ACB_Take_Result(ctx);
    } else {
        PutImage(ctx, s.Target);
    }
    s.Post_Wait = s.Ticks.Tick_500;
    ACB_Show(ctx, prompt(ctx, 6));
    writeTarget(ctx);
}

void backToPetrol(Context& ctx, ACB_State& s) {
    ACB_Show(ctx, s.Result_Text);
    s.Reply_Countdown = s.Ticks.Tick_2000;
    queue(ctx, kRequestAllToPetrol);
    yield(ctx);
}

void endRun(Context& ctx, ACB_State& s) {
    // The next live reply reports the data-saved state afresh.
    ctx.dynamicInd.Flags = static_cast<std::uint8_t>(ctx.dynamicInd.Flags & ~0x20);
    ACB_Set_Measuring(ctx, false);
    ACB_Set_Progress(ctx, 0);
    s.ACB_Running = false;
    ACB_Finished(ctx);
    yield(ctx);
}

struct Step {
    std::int32_t code;
    void (*run)(Context&, ACB_State&);
};

constexpr std::array kSteps{
    Step{21, &startStep},       Step{22, &showExecuting}, Step{23, &clearFailed},
    Step{24, &resetBestDiff},   Step{25, &petrolSettle},  Step{26, &petrolSample},
    Step{27, &groupToGas},      Step{28, &groupOnGas},    Step{29, &gasSample},
    Step{30, &firstGroup},      Step{31, &holdProgress},  Step{32, &askForSpeed},
    Step{33, &showPrompt},      Step{34, &secondsUp},     Step{35, &speedToGas},
    Step{36, &askToHoldSpeed},  Step{37, &secondsDown},   Step{38, &promptFromProgram},
    Step{39, &releaseProgress}, Step{50, &shortProgress}, Step{51, &writeDiagram},
    Step{52, &bestSlope},       Step{53, &putTarget},     Step{54, &resultStep},
    Step{55, &completion},      Step{56, &supportStart},  Step{57, &supportSample},
    Step{58, &supportWrite},    Step{59, &backToPetrol},  Step{60, &endRun},
};

} // namespace

bool ACB_Run_Step(Context& ctx, std::int32_t code) {
    const auto step = std::find_if(kSteps.begin(), kSteps.end(),
                                   [code](const Step& s) { return s.code == code; });
    if (step == kSteps.end()) return false;
    step->run(ctx, st(ctx));
    return true;
}

std::optional<bool> ACB_Condition(Context& ctx, std::int32_t code) {
    ACB_State& s = st(ctx);
    switch (code) {
    case 200:
        return ACB_Next_Group(ctx);
    case 201:
        return !ACB_Tolerance_Ok(ctx);
    case 202:
        return s.Adjust_Ok = ACB_Adjust(ctx);
    case 203:
        return !(s.Adjust_Ok = ACB_Adjust(ctx));
    case 204:
        return ctx.live.Live_RPM > kSpeedThreshold;
    case 205:
        return ctx.live.Live_RPM <= kSpeedThreshold;
    case 206:
        return s.Step_Counter == 0;
    default:
        return std::nullopt;
    }
}

} // namespace bifuel
