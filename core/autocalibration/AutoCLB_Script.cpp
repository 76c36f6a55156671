#include "autocalibration/AutoCLB_Script.h"

#include "Context.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "autocalibration/Veltra_ACB_Innov.h"
#include "link/Global_Unit.h"
#include "link/Link_Operations.h"

#include <algorithm>

namespace bifuel {
namespace {

// A program that runs this many words without a yielding step is broken.
constexpr int kMaxWordsPerRun = 1000;

using Row = std::array<std::int32_t, 7>;

Row row(std::int32_t g1, std::int32_t g2, std::int32_t g3, std::int32_t g4, std::int32_t g5,
        std::int32_t g6) {
    return {0, g1, g2, g3, g4, g5, g6};
}

void setTables(ACB_SCR_Class& r, const std::array<Row, 3>& times, const std::array<Row, 3>& tol) {
    for (int e = 1; e <= kEngineRows; ++e) {
        r.Settle_S[e] = times[e - 1];
        r.Sample_S[e] = times[e - 1];
        r.Tolerance[e] = tol[e - 1];
    }
}

const std::vector<std::int32_t> kGroupProgram{21, 22,  23, 200, 17, 24, 25, 26, 27, 29,  201,
                                              -9, 202, 5,  51,  28, 2,  -7, 52, 2,  -16, 54,
                                              55, 56,  57, 3,   1,  30, 0,  58, 59, 60};

const std::vector<std::int32_t> kSpeedProgram{
    21,  22,  30,  25, 26, 31, 4,   0,  32, 33,  34, 204, -2, 24, 35, 36, 33,  4,  6,   37,
    204, -15, 206, -4, 4,  0,  38,  14, 34, 205, -2, 38,  15, 39, 28, 29, 201, 10, 203, 4,
    52,  2,   7,   51, 28, 2,  -10, 23, 54, 55,  56, 57,  3,  1,  30, 0,  58,  59, 60};

// Put the target back, write it, petrol, end. The support sample is not taken here: a
// stopped run gives the ECU back the support parameters it had, and a result stopped
// during its sample keeps them too, since the engine may already be off.
const std::vector<std::int32_t> kTailProgram{50, 53, 58, 59, 60};

ACB_State& st(Context& ctx) {
    return ctx.acb;
}

void reportError(Context& ctx, std::int32_t pc, std::int32_t w) {
    ACB_State& s = st(ctx);
    if (s.Error_Latch) return;
    s.Error_Latch = true;
    ShowMessageWindow(ctx, kMessageScriptError,
                      "Error In Script\n\rScript number : " + std::to_string(pc) + "\n" + "\r" +
                          "Script : " + std::to_string(w));
}

std::int32_t wordAt(const ACB_State& s, std::int32_t index) {
    return index >= 1 && index <= kACBProgramWords ? s.ACB_Program[static_cast<std::size_t>(index)]
                                                   : 0;
}

bool inProgram(std::int32_t index) {
    return index >= 1 && index <= kACBProgramWords;
}

// The run cannot go on (a program without a yielding step, or one that ran off its end):
// it fails and the ending program gives the ECU back what it had. The ending program
// itself always yields, so this cannot come round again.
void abandon(Context& ctx, std::int32_t pc, std::int32_t w) {
    reportError(ctx, pc, w);
    ACB_State& s = st(ctx);
    s.Yield = true;
    if (s.In_Tail) {
        ACB_Run_Step(ctx, 60);
        return;
    }
    s.Outcome = AutoCalibrationResult::Failed;
    s.Result_Text = ACB_Prompt_Text(ctx, 20);
    s.Target_Is_Result = false;
    s.Target = s.Start_Copy;
    s.Target_Version += 1;
    ACB_Start_Tail(ctx);
}

} // namespace

std::vector<ACB_SCR_Class> ACB_Create_Records(int count) {
    std::vector<ACB_SCR_Class> records(static_cast<std::size_t>(std::clamp(count, 0, kACBRecords)));
    const std::array<std::string, 5> groupScripts{"", "1+12+123+1234", "1+12+123+1234+12345",
                                                  "14+1245+123456", "15+1256+123567+12345678"};
    const std::array<std::string, 5> wholeScripts{"", "1234", "12345", "142536", "12345678"};
    const std::array<std::array<Row, 3>, 3> times{{
        {row(5, 5, 5, 10, 0, 0), row(5, 5, 5, 5, 10, 0), row(5, 5, 10, 10, 10, 10)},
        {row(2, 2, 2, 10, 0, 0), row(2, 2, 2, 2, 10, 0), row(2, 2, 5, 5, 5, 10)},
        {row(2, 3, 4, 8, 0, 0), row(2, 3, 4, 4, 8, 0), row(2, 4, 8, 8, 8, 8)},
    }};
    const std::array<std::array<Row, 3>, 3> tolerances{{
        {row(100, 100, 50, 50, 0, 0), row(100, 100, 100, 50, 50, 0), row(100, 50, 50, 50, 50, 50)},
        {row(100, 100, 100, 50, 0, 0), row(100, 100, 100, 100, 50, 0),
         row(100, 100, 50, 50, 50, 50)},
        {row(300, 300, 200, 150, 0, 0), row(300, 300, 200, 200, 150, 0),
         row(300, 200, 150, 150, 150, 150)},
    }};
    const Row first10 = row(10, 0, 0, 0, 0, 0);
    const Row first100 = row(100, 0, 0, 0, 0, 0);
    for (std::size_t i = 0; i < records.size(); ++i) {
        ACB_SCR_Class& r = records[i];
        r.Name = std::string(kACBAlgorithmNames[i]);
        if (i < 3) {
            r.Scripts = groupScripts;
            setTables(r, times[i], tolerances[i]);
        } else {
            r.Scripts = wholeScripts;
            setTables(r, {first10, first10, first10}, {first100, first100, first100});
        }
    }
    return records;
}

int ACB_Algorithm_Index(std::string_view name) {
    for (std::size_t i = 0; i < kACBAlgorithmNames.size(); ++i) {
        if (kACBAlgorithmNames[i] == name) return static_cast<int>(i) + 1;
    }
    return 0;
}

void ACB_Load_Params(Context& ctx, int index) {
    if (ctx.acbRecords.empty()) ctx.acbRecords = ACB_Create_Records(kACBRecords);
    if (index < 1 || index > static_cast<int>(ctx.acbRecords.size())) {
        index = ACB_Algorithm_Index(kAlgorithmFast);
    }
    const ACB_SCR_Class& r = ctx.acbRecords[static_cast<std::size_t>(index - 1)];
    // Engines of other sizes take the nearest table: up to 4 the 4-cylinder one, 7 and
    // more the 8-cylinder one.
    const int n = ctx.config.Cylinders;
    const int script = n <= 4 ? 1 : n == 5 ? 2 : n == 6 ? 3 : 4;
    const int engine = std::min(script, kEngineRows);
    ctx.settings.ACB_Script = r.Scripts[static_cast<std::size_t>(script)];
    for (int g = 1; g <= kACBGroups; ++g) {
        ACB_Step& step = ctx.settings.ACB_Steps[static_cast<std::size_t>(g)];
        step.Settle_Ms = r.Settle_S[engine][g] * 1000;
        step.Sample_Ms = r.Sample_S[engine][g] * 1000;
        step.Tolerance_Us = r.Tolerance[engine][g];
    }
}

bool ACB_Next_Group(Context& ctx) {
    ACB_State& s = st(ctx);
    const std::string& text = s.Script_Text;
    if (s.Script_Pos >= text.size()) return false;
    s.Group_Index += 1;
    // Groups past the sixth have no timing: they take the shortest one.
    const auto g = static_cast<std::size_t>(s.Group_Index);
    s.Cur_Settle = g <= kACBGroups ? s.Ticks.Settle_Ticks[g] : s.Ticks.Tick_500;
    s.Cur_Sample = g <= kACBGroups ? s.Ticks.Sample_Ticks[g] : s.Ticks.Tick_500;
    s.Group_Text.clear();
    std::size_t pos = s.Script_Pos;
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == '+') break;
        s.Group_Text += c;
    }
    s.Script_Pos = pos;
    return true;
}

void ACB_Restart_Script(Context& ctx) {
    ctx.acb.Script_Pos = 0;
    ctx.acb.Group_Index = 0;
}

int ACB_Count_Groups(Context& ctx) {
    ACB_State& s = st(ctx);
    ACB_Restart_Script(ctx);
    int count = 0;
    while (ACB_Next_Group(ctx))
        ++count;
    s.Group_Count = count;
    s.Group_Text.clear();
    ACB_Restart_Script(ctx);
    return count;
}

std::uint8_t ACB_Mask_Of(std::string_view group) {
    std::uint8_t mask = 0;
    for (const char c : group) {
        if (c >= '1' && c <= '4') mask = static_cast<std::uint8_t>(mask + (0x10 << (c - '1')));
    }
    return mask;
}

void ACB_Build_Mask(Context& ctx) {
    ctx.link.Mode_Bits = ACB_Mask_Of(ctx.acb.Group_Text);
    ctx.acb.Petrol_Phase = false;
}

const std::vector<std::int32_t>& ACB_Group_Program() {
    return kGroupProgram;
}
const std::vector<std::int32_t>& ACB_Speed_Program() {
    return kSpeedProgram;
}
const std::vector<std::int32_t>& ACB_Tail_Program() {
    return kTailProgram;
}

void ACB_Load_Program(Context& ctx, std::span<const std::int32_t> words) {
    ACB_State& s = st(ctx);
    s.ACB_Program.fill(0);
    const std::size_t n = std::min(words.size(), std::size_t{kACBProgramWords});
    std::copy_n(words.begin(), n, s.ACB_Program.begin() + 1);
    s.ACB_PC = 0;
}

void ACB_Choose_Program(Context& ctx) {
    ACB_State& s = st(ctx);
    if (s.Algorithm == kAlgorithmInnovational) {
        Innov_Start(ctx);
        return;
    }
    ACB_Load_Program(ctx, s.Algorithm == kAlgorithmHighRpm ? kSpeedProgram : kGroupProgram);
    s.Script_Text = ctx.settings.ACB_Script;
    ACB_Prepare_Run(ctx);
}

void ACB_Load_Tail(Context& ctx) {
    if (st(ctx).Algorithm == kAlgorithmInnovational && !st(ctx).In_Tail) {
        // Its stop program switches to petrol and completes; the ending program follows.
        SetPendingRequest(ctx, kRequestInnovationalStop);
        return;
    }
    ACB_Start_Tail(ctx);
}

void ACB_Start_Tail(Context& ctx) {
    ACB_State& s = st(ctx);
    // Only the first words are replaced; the rest of the old program stays behind them.
    std::copy(kTailProgram.begin(), kTailProgram.end(), s.ACB_Program.begin() + 1);
    s.ACB_PC = 0;
    s.Reply_Countdown = s.Ticks.Tick_2000;
    s.In_Tail = true;
    s.ACB_Running = true;
}

void ACB_Interpret(Context& ctx) {
    ACB_State& s = st(ctx);
    for (int run = 0; !s.Yield; ++run) {
        if (run == kMaxWordsPerRun || s.ACB_PC >= kACBProgramWords) {
            abandon(ctx, s.ACB_PC, wordAt(s, s.ACB_PC));
            break;
        }
        s.ACB_PC += 1;
        const std::int32_t p = s.ACB_PC;
        const std::int32_t w = wordAt(s, p);
        if (w == 2) {
            s.ACB_PC = p + wordAt(s, p + 1);
        } else if (w == 3) {
            const std::int32_t back = wordAt(s, p + 1);
            const std::int32_t limit = wordAt(s, p + 2);
            const std::int32_t count = wordAt(s, p + 3);
            if (!inProgram(p + 3)) {
                abandon(ctx, p, w);
                break;
            }
            if (count < limit) {
                s.ACB_Program[static_cast<std::size_t>(p + 3)] = count + 1;
                s.ACB_PC = p - back;
            } else {
                s.ACB_Program[static_cast<std::size_t>(p + 3)] = 0;
                s.ACB_PC = p + 4;
            }
        } else if (w == 4) {
            s.Step_Counter = wordAt(s, p + 1);
            s.Reply_Countdown = s.Ticks.Tick_1000;
            s.ACB_PC = p + 2;
        }
        if (!inProgram(s.ACB_PC)) {
            abandon(ctx, s.ACB_PC, w);
            break;
        }
        const std::int32_t at = s.ACB_PC;
        const std::int32_t code = wordAt(s, at);
        if (code >= 20 && code <= 199) {
            if (!ACB_Run_Step(ctx, code)) reportError(ctx, at, code);
        } else if (code >= 200 && code <= 254) {
            const std::int32_t offset = wordAt(s, at + 1);
            const std::optional<bool> holds = ACB_Condition(ctx, code);
            if (!holds) {
                reportError(ctx, at, code);
            } else {
                s.ACB_PC = *holds ? at + 1 : at + offset;
            }
        } else {
            reportError(ctx, at, code);
        }
    }
    s.Yield = false;
}

} // namespace bifuel
