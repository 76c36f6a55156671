#include "autocalibration/Veltra_ACB_Innov.h"

#include "Context.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "data/Calc_Unit.h"
#include "data/Gas_Injectors_Unit.h"
#include "link/Link_Operations.h"
#include "link/Transmit_Unit.h"

#include <algorithm>

namespace bifuel {
namespace {

const std::vector<std::int32_t> kProgram{
    69,  7,    0,   22,   9,   1000,  206,  3,   5,   22, // 1..10
    34,  35,   0,   70,   202, -9,    8,    68,  21,  73, // 11..20
    64,  46,   65,  100,  66,  4,     1000, 34,  35,  0,  // 21..30
    203, -4,   4,   3000, 206, 3,     5,    22,  207, 9,  // 31..40
    34,  35,   0,   202,  -6,  67,    1,    1,   34,  35, // 41..50
    0,   72,   203, -19,  74,  204,   -36,  205, -38, 98, // 51..60
    7,   10,   76,  77,   4,   10,    34,   35,  203, -3, // 61..70
    3,   7,    30,  0,    78,  7,     6,    49,  46,  50, // 71..80
    100, 66,   9,   2000, 34,  35,    0,    202, -4,  7,  // 81..90
    0,   98,   66,  22,   9,   10000, 34,   35,  0,   71, // 91..100
    202, -5,   75,  7,    6,   51,    46,   52,  100, 66, // 101..110
    9,   2000, 34,  35,   0,   202,   -4,   79,  5,   0}; // 111..120

const std::vector<std::int32_t> kStopProgram{98, 22, 79, 5, 0};

constexpr IdleGasRange kDefaultIdleWindow{4000, 5500};
constexpr std::uint8_t kIdleSpread = 30;

Innov_State& st(Context& ctx) {
    return ctx.innov;
}

void setProgress(Context& ctx, std::int32_t value, std::int32_t max) {
    ctx.view.ProgressBar_3D_ACB.max = max;
    ACB_Set_Progress(ctx, value);
}

void showFirstRow(Context& ctx, std::int32_t value) {
    for (int c = 0; c < ctx.acbView.Cylinders; ++c) {
        ctx.acbView.cylinders[static_cast<std::size_t>(c)].value[0] = value;
    }
    ACB_Draw_Bars(ctx);
}

void clearHistory(Innov_State& s) {
    s.History = {};
    s.History_Count = 0;
    s.Stage_Steps = 0;
}

// Ends the run as failed: petrol, completion showing the failure.
void fail(Context& ctx) {
    ctx.acb.Result_Text = ACB_Prompt_Text(ctx, 20);
    ctx.acb.Outcome = AutoCalibrationResult::Failed;
    ctx.view.HudLabel_3D_ACB_Prompt.colour = ctx.colours.ColourOf(Colour::Txt_Error);
    LoadProgram(ctx, kStopProgram);
    ctx.link.Program_Counter = 0;
}

} // namespace

const std::vector<std::int32_t>& InnovationalProgram() {
    return kProgram;
}
const std::vector<std::int32_t>& InnovationalStopProgram() {
    return kStopProgram;
}

void Innov_Start(Context& ctx) {
    Innov_State& s = st(ctx);
    ctx.acb.ACB_Running = false;
    s = Innov_State{};
    ACB_Show(ctx, ACB_Prompt_Text(ctx, 0));
    SetPendingRequest(ctx, kRequestInnovational);
}

void Innov_Stage_Start(Context& ctx) {
    Innov_State& s = st(ctx);
    s.Stage = 1;
    s.Step = s.Stage_Step[1];
    s.Level = s.Stage_Level[1];
    s.Flag_A = s.Flag_B = true;
    clearHistory(s);
    s.Progress_From = 0;
    s.Progress_To = s.Level;
    setProgress(ctx, 0, 100);
}

void Innov_Step(Context& ctx) {
    Innov_State& s = st(ctx);
    if (s.Stage_Steps >= kInnovStepLimit) {
        // The search does not settle: give up rather than step for ever.
        fail(ctx);
        return;
    }
    s.Stage_Steps += 1;
    if (s.History_Count >= kInnovHistory) {
        std::copy(s.History.begin() + 2, s.History.end(), s.History.begin() + 1);
    } else {
        s.History_Count += 1;
    }
    const bool up = s.Petrol_On_Gas > s.Petrol_Ref;
    s.Adjust_Value = std::clamp(s.Adjust_Value + (up ? s.Step : -s.Step), 0, kInnovValueMax);
    s.History[s.History_Count] = static_cast<std::int8_t>(up ? 1 : -1);
}

bool Innov_Converged(Context& ctx) {
    Innov_State& s = st(ctx);
    int changes = 0;
    for (std::size_t i = 2; i <= kInnovHistory && s.History[i] != 0; ++i) {
        if (s.History[i] != s.History[i - 1]) ++changes;
    }
    const std::int32_t third = (s.Progress_To - s.Progress_From) / 3;
    if (changes >= 3) {
        ACB_Set_Progress(ctx, s.Progress_To);
        return true;
    }
    ACB_Set_Progress(ctx, s.Progress_From + changes * third);
    return false;
}

bool Innov_Stage_Advance(Context& ctx) {
    Innov_State& s = st(ctx);
    clearHistory(s);
    if (s.Level < s.Stage_Level[s.Last_Stage]) {
        if (s.Level == s.Stage_Level[s.Half_Stage]) s.Gas_Half = ctx.live.Live_Gas_Smooth;
        s.Stage = static_cast<std::uint8_t>(std::min<int>(s.Stage + 1, kInnovStages));
        s.Step = s.Stage_Step[s.Stage];
        s.Level = s.Stage_Level[s.Stage];
        s.Progress_From = s.Progress_To;
        s.Progress_To = s.Level;
        return false;
    }
    s.Gas_Full = ctx.live.Live_Gas_Smooth;
    ACB_Set_Progress(ctx, ctx.view.ProgressBar_3D_ACB.max);
    return true;
}

void Innov_Result(Context& ctx) {
    Innov_State& s = st(ctx);
    DiagramModel& d = ctx.diagram;
    const std::int32_t c = (s.Petrol_Ref + s.Petrol_End) / 2;
    s.Petrol_Ref = c;
    const std::int32_t a = 2 * s.Gas_Half - s.Gas_Full;
    const double slope = c > 0 ? static_cast<double>(s.Gas_Full - a) / c : 0.001;
    const LinePoint b{0, a};
    const LinePoint top{c, a + TruncToInt(c * slope)};
    d.Petrol_Point[8] = d.Petrol_Axis_Max;
    // With c = 0 both points share x and there is no line: the diagram stays as it is.
    const std::optional<bool> onEdge =
        MapLine9(d.Petrol_Point, d.Gas_Point, top, b, d.Gas_Axis_Max);
    if (onEdge) d.End_On_Petrol_Max = *onEdge;

    ACB_State& acb = ctx.acb;
    acb.Result_Text.clear();
    const IdleGasRange window =
        IdleGasWindow(InjectorTypeIndex(ctx.config.Injector_Type)).value_or(kDefaultIdleWindow);
    if (top.y > window.maxUs) {
        acb.Result_Text = ACB_Prompt_Text(ctx, 18);
    } else if (top.y < window.minUs) {
        acb.Result_Text = ACB_Prompt_Text(ctx, 19);
    }
    ctx.view.HudLabel_3D_ACB_Prompt.colour =
        ctx.colours.ColourOf(acb.Result_Text.empty() ? Colour::Txt_Complete : Colour::Txt_Recomm);
    if (!acb.Result_Text.empty()) acb.Outcome = AutoCalibrationResult::Advised;

    auto& p = d.Petrol_Point;
    p[1] = c - PercentOf(c, kIdleSpread);
    p[2] = c + PercentOf(c, kIdleSpread);
    const std::int32_t step = (p[8] - p[2]) / 6;
    for (std::size_t k = 3; k <= 7; ++k)
        p[k] = p[k - 1] + step;
    for (int k = 1; k <= 7; ++k) {
        d.Gas_Point[static_cast<std::size_t>(k)] = MapRange(d.Petrol_Point, d.Gas_Point, k);
    }
    if (d.Gas_Point[0] < 0) d.Gas_Point[0] = 0;
}

void Innov_Completion(Context& ctx) {
    Innov_State& s = st(ctx);
    ACB_State& acb = ctx.acb;
    ctx.link.Wide_Gas_Mask = false;
    s.Flag_A = s.Flag_B = false;
    acb.ACB_Running = false;
    if (acb.Result_Text.empty()) acb.Result_Text = ACB_Prompt_Text(ctx, 23);
    // Neither stopped nor failed: the diagram and support parameters are the result.
    if (!acb.Outcome || *acb.Outcome == AutoCalibrationResult::Advised) ACB_Take_Result(ctx);
    if (!acb.Outcome) acb.Outcome = AutoCalibrationResult::Success;
    ctx.diagram.Idle_Point = 2;
    ctx.settings.Idle_Points = true;
    ACB_Show(ctx, acb.Result_Text);
    ACB_Set_Progress(ctx, ctx.view.ProgressBar_3D_ACB.max);
    ACB_Set_Measuring(ctx, false);
    // The ending program writes the result, or puts back what the ECU had, and checks
    // that the ECU saved it.
    ACB_Start_Tail(ctx);
}

void Innov_Instruction(Context& ctx, int code) {
    Innov_State& s = st(ctx);
    const LiveData& live = ctx.live;
    switch (code) {
    case 67:
        setProgress(ctx, 0, 100);
        ACB_Show(ctx, "");
        break;
    case 68:
        ctx.link.Wide_Gas_Mask = true;
        ctx.link.Mode_Bits = 0xF0;
        break;
    case 69:
        s.Petrol_Ref = s.Petrol_End = s.Petrol_On_Gas = 0;
        s.Adjust_Value = kInnovStartValue;
        setProgress(ctx, 0, 100);
        break;
    case 70:
        s.Petrol_Ref = live.Live_Petrol_Avg;
        showFirstRow(ctx, s.Petrol_Ref);
        break;
    case 71:
        s.Petrol_End = live.Live_Petrol_Smooth;
        showFirstRow(ctx, s.Petrol_End);
        break;
    case 72:
        s.Petrol_On_Gas = live.Live_Petrol_Smooth;
        break;
    case 73:
        Innov_Stage_Start(ctx);
        break;
    case 74:
        Innov_Step(ctx);
        break;
    case 75:
        Innov_Result(ctx);
        break;
    case 76:
        ctx.acb.Support_Sum = {};
        setProgress(ctx, 0, 30);
        break;
    case 77:
        ctx.acb.Support_Sum[0] += live.Live_PressDiff;
        ctx.acb.Support_Sum[1] += live.Live_TempGas;
        ctx.acb.Support_Sum[2] += live.Live_Value18;
        ACB_Add_Progress(ctx, 1);
        break;
    case 78: {
        ctx.acb.Ecu_Changed = true; // the configuration write follows
        const auto& sum = ctx.acb.Support_Sum;
        ctx.config.ACB_Press = sum[0] / kSupportSamples;
        ctx.config.ACB_Temper = (sum[1] / kSupportSamples + 5) / 10;
        ctx.config.ACB_Value_98 = sum[2] / kSupportSamples;
        break;
    }
    case 79:
        Innov_Completion(ctx);
        break;
    default:
        break;
    }
}

bool Innov_Condition(Context& ctx, int code) {
    switch (code) {
    case 204:
        return Innov_Converged(ctx);
    case 205:
        return Innov_Stage_Advance(ctx);
    case 206: {
        const auto& inj = ctx.live.Live_Petrol_Inj;
        if (!std::all_of(inj.begin() + 1, inj.end(), [](std::int32_t t) { return t == 0; })) {
            return false;
        }
        ctx.view.HudLabel_3D_ACB_Prompt.colour = ctx.colours.ColourOf(Colour::Txt_Error);
        ACB_Show(ctx, ACB_Prompt_Text(ctx, 20));
        ctx.acb.Result_Text = ACB_Prompt_Text(ctx, 20) + " " + ACB_Prompt_Text(ctx, 16);
        ctx.acb.Outcome = AutoCalibrationResult::Failed;
        return true;
    }
    default:
        return false; // 207 never holds
    }
}

std::array<std::uint8_t, 8> Innov_Frame_Data(const Context& ctx) {
    const Innov_State& s = ctx.innov;
    const WordBytes ref = WordToBytes(s.Petrol_Ref);
    const WordBytes value = WordToBytes(s.Adjust_Value);
    return {static_cast<std::uint8_t>((s.Flag_A ? 0x01 : 0) | (s.Flag_B ? 0x02 : 0)),
            static_cast<std::uint8_t>(s.Level),
            0,
            0,
            ref[0],
            ref[1],
            value[0],
            value[1]};
}

void Innov_Refresh(Context& ctx) {
    const LiveData& live = ctx.live;
    for (int c = 0; c < ctx.acbView.Cylinders; ++c) {
        auto& value = ctx.acbView.cylinders[static_cast<std::size_t>(c)].value;
        if (live.Work_Mode == kModeGas) {
            value[1] = live.Live_Petrol_Smooth;
            value[2] = live.Live_Gas_Smooth;
        } else {
            value[0] = live.Live_Petrol_Smooth;
        }
    }
    ACB_Draw_Bars(ctx);
}

} // namespace bifuel
