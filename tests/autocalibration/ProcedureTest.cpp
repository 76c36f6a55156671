#include "link/LinkHarness.h"

#include "autocalibration/AutoCLB_Script.h"
#include "autocalibration/AutoCLB_Unit.h"

namespace bifuel::test {
namespace {

using Gas = std::array<std::int32_t, 9>;

class Procedure : public ::testing::Test {
  protected:
    Procedure() {
        ctx.link.Main_Shown = true;
        ctx.link.ECU_Connected = true; // requests are taken only from a connected ECU
        ctx.acb.Ticks = ComputeTimeBase(ctx.settings);
        ctx.acb.Best_Diff = 32000;
    }

    void means(std::int32_t petrol, std::int32_t gas) {
        ctx.acb.Petrol_Sum = petrol;
        ctx.acb.Petrol_Count = petrol ? 1 : 0;
        ctx.acb.Gas_Sum = gas;
        ctx.acb.Gas_Count = 1;
    }

    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    TempWorkDir work;
    Context ctx{clock, line.host(), work.paths(false)};
};

TEST_F(Procedure, TimeBaseCountsRepliesWithAFloorOfThree) {
    struct Case {
        std::int32_t replyDelay;
        std::int32_t ms;
        std::int32_t ticks;
    };
    const std::vector<Case> cases = {
        {60, 500, 3}, {60, 1000, 6},  {60, 2000, 12},  {60, 5000, 31},   {60, 10000, 62},
        {60, 0, 3},   {2000, 500, 3}, {2000, 2000, 3}, {2000, 10000, 4}, {0, 1000, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.replyDelay) + " ms delay, " + std::to_string(c.ms) + " ms");
        ctx.settings.Reply_Delay = c.replyDelay;
        EXPECT_EQ(TicksFor(c.ms, ctx.settings), c.ticks);
    }
    ctx.settings.Reply_Delay = 2000;
    const ACB_TimeBase t = ComputeTimeBase(ctx.settings);
    EXPECT_EQ(std::vector<std::int32_t>({t.Tick_500, t.Tick_1000, t.Tick_2000}),
              std::vector<std::int32_t>({3, 3, 3}));
    // A settings file with a cycle base of 0 and no reply delay divides by nothing.
    ctx.settings.Reply_Delay = 0;
    ctx.settings.Cycle_Base_Ms = 0;
    EXPECT_EQ(TicksFor(500, ctx.settings), 500);
}

// Nine gas values on a straight line from `first` to `top`.
Gas straight(std::int32_t first, std::int32_t top) {
    Gas g{};
    for (std::size_t k = 0; k < 9; ++k)
        g[k] = first + (top - first) * static_cast<std::int32_t>(k) / 8;
    return g;
}

TEST_F(Procedure, AdjustStepBranches) {
    struct Case {
        const char* what;
        std::string algorithm;
        Gas line;
        std::int32_t petrolMean;
        std::int32_t gasMean;
        std::int8_t shiftCount;
        bool ok;
        std::int32_t top;   // Gas_Point[8] afterwards
        std::int32_t first; // Gas_Point[0] afterwards
        std::int8_t shiftAfter;
    };
    const Gas usual = straight(2000, 25000);
    // Spans of 16384 us and petrol means of 32768 us keep the ratio exact in binary.
    const Gas binary0 = straight(0, 16384);
    const Gas binary1024 = straight(1024, 17408);
    const std::vector<Case> cases = {
        // The top that scaling gives: (top - first) x gas / petrol + 0.5 + first.
        {"slope up", "Default", usual, 4000, 4400, 0, true, 27300, 2000, 0},
        {"slope down", "Default", usual, 4000, 3600, 0, true, 22700, 2000, 0},
        {"top exactly at the ceiling scales", "Default", binary0, 32768, 63999, 0, true, 32000, 0,
         0},
        {"top beyond the ceiling shifts up", "Default", usual, 2300, 3100, 0, true, 25500, 2500, 1},
        {"sixth shift up fails", "Default", usual, 2300, 3100, 5, false, 25000, 2000, 5},
        {"top exactly at 12000 shifts down", "Default", binary1024, 32768, 21951, 0, true, 16908,
         524, -1},
        {"sixth shift down fails", "Default", usual, 2300, 900, -5, false, 25000, 2000, -5},
        {"no petrol samples", "Default", usual, 0, 4000, 0, false, 25000, 2000, 0},
        {"offset up", "Only OFFSET calibration", usual, 4000, 4300, 0, true, 25300, 2300, 0},
        {"offset takes point 0 below 0", "Only OFFSET calibration", usual, 4000, 1900, 0, false,
         25000, 2000, 0},
        {"offset past the ceiling", "Only OFFSET calibration", usual, 4000, 11001, 0, false, 25000,
         2000, 0},
        {"offset top below 12000", "Only OFFSET calibration", straight(5000, 15000), 4000, 999, 0,
         false, 15000, 5000, 0},
        {"offset with no petrol samples", "Only OFFSET calibration", usual, 0, 300, 0, false, 25000,
         2000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ctx.diagram.Gas_Point = c.line;
        ctx.acb.Algorithm = c.algorithm;
        ctx.acb.Shift_Count = c.shiftCount;
        ctx.acb.Best_Diff = 32000;
        ctx.view.ProgressBar_3D_ACB = {100, 50};
        means(c.petrolMean, c.gasMean);
        EXPECT_EQ(ACB_Adjust(ctx), c.ok);
        EXPECT_TRUE(ctx.acb.Failed);
        EXPECT_EQ(ctx.diagram.Gas_Point[8], c.top);
        EXPECT_EQ(ctx.diagram.Gas_Point[0], c.first);
        EXPECT_EQ(ctx.acb.Shift_Count, c.shiftAfter);
        for (std::size_t k = 1; k < 9; ++k)
            EXPECT_LE(ctx.diagram.Gas_Point[k - 1], ctx.diagram.Gas_Point[k]);
        // A success takes back the time of the measurement that follows (3 + 3 + 3 ticks).
        EXPECT_EQ(ctx.view.ProgressBar_3D_ACB.value, c.ok ? 41 : 50);
    }
}

TEST_F(Procedure, ShiftCountIsANetCount) {
    const Gas usual = straight(2000, 25000);
    ctx.diagram.Gas_Point = usual;
    ctx.acb.Algorithm = "Default";
    ctx.acb.Best_Top = 25000;
    auto shiftUp = [&] {
        means(2300, 3500);
        return ACB_Adjust(ctx);
    };
    auto shiftDown = [&] {
        means(2300, 100);
        return ACB_Adjust(ctx);
    };
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(shiftUp()) << i;
    EXPECT_FALSE(shiftUp());
    EXPECT_EQ(ctx.diagram.Gas_Point[0], 4500);
    EXPECT_TRUE(shiftDown());
    EXPECT_TRUE(shiftUp()) << "a shift down makes room for one more up";
    EXPECT_EQ(ctx.acb.Shift_Count, 5);
    // Downward, point 0 cannot go below 0 even before the count is spent.
    ctx.acb.Shift_Count = 0;
    ctx.diagram.Gas_Point = usual;
    ctx.diagram.Gas_Point[0] = 400;
    EXPECT_FALSE(shiftDown());
}

TEST_F(Procedure, ToleranceIncludesItsLimit) {
    ctx.acb.Group_Index = 1;
    ctx.settings.ACB_Steps[1].Tolerance_Us = 100;
    struct Case {
        std::int32_t petrol, gas;
        bool ok;
    };
    for (const Case& c : std::vector<Case>{
             {4000, 4100, true}, {4000, 3900, true}, {4000, 4101, false}, {4000, 3899, false}}) {
        SCOPED_TRACE(c.gas);
        ctx.acb.Best_Gas_Mean = 0;
        means(c.petrol, c.gas);
        EXPECT_EQ(ACB_Tolerance_Ok(ctx), c.ok);
        EXPECT_EQ(*ACB_Condition(ctx, 201), !c.ok);
        EXPECT_EQ(ctx.acb.Best_Gas_Mean, c.ok ? c.gas : 0);
    }
}

TEST_F(Procedure, SupportValuesAreMeansOverThirtyOneSamples) {
    struct Case {
        std::int32_t tempGas; // tenths of a degree
        std::int32_t temper;  // whole degrees
    };
    for (const Case& c : std::vector<Case>{{400, 40}, {395, 40}, {394, 39}}) {
        SCOPED_TRACE(c.tempGas);
        ctx.acb.ACB_Running = true;
        ctx.acb.Target_Is_Result = true; // a result takes its support sample
        ctx.acb.Saved_Corr = {11, 12, 13, 14, 15};
        ctx.config.ACB_Corr_93 = 0;
        ctx.live.Live_TempGas = c.tempGas;
        ctx.live.Live_PressDiff = 62;
        ctx.live.Live_Value18 = 1400;
        ACB_Load_Program(ctx, std::vector<std::int32_t>{56, 57, 3, 1, 30, 0, 58, 59, 60});
        int expiries = 0;
        while (ctx.link.Pending_Request != kRequestWriteAll && expiries < 100) {
            ACB_Interpret(ctx);
            ++expiries;
        }
        // One sample per expiry; the 32nd finds the loop done and writes.
        EXPECT_EQ(expiries, 32);
        EXPECT_EQ(ctx.acb.Support_Sum[1], 31 * c.tempGas);
        EXPECT_EQ(ctx.config.ACB_Temper, c.temper);
        EXPECT_EQ(ctx.config.ACB_Press, 62);
        EXPECT_EQ(ctx.config.ACB_Value_98, 1400);
        EXPECT_EQ(ctx.config.ACB_Corr_93, 11);
        EXPECT_EQ(ctx.config.ACB_Corr_99, 15);
        ctx.link.Pending_Request = Request::None;
    }
}

TEST_F(Procedure, ResultGivesJetAdviceOrReshapesTheIdleRegion) {
    const std::string finished = ACB_Prompt_Text(ctx, 22) + " ";
    struct Case {
        const char* what;
        bool failed;
        std::int32_t gasMean;
        std::int32_t liveGasAvg;
        std::string text;
        Colour colour;
    };
    const std::vector<Case> cases = {
        {"failed, petrol rose on gas", true, 3300, 4500,
         ACB_Prompt_Text(ctx, 20) + " " + ACB_Prompt_Text(ctx, 18), Colour::Txt_Error},
        {"failed, petrol fell on gas", true, 2700, 4500,
         ACB_Prompt_Text(ctx, 20) + " " + ACB_Prompt_Text(ctx, 19), Colour::Txt_Error},
        {"idle gas above the window", false, 3000, 5600, finished + ACB_Prompt_Text(ctx, 18),
         Colour::Txt_Recomm},
        {"idle gas below the window", false, 3000, 3900, finished + ACB_Prompt_Text(ctx, 19),
         Colour::Txt_Recomm},
        {"idle gas inside the window", false, 3000, 4500, "", Colour::General},
    };
    ctx.config.Injector_Type = "ANOTHER"; // no window of its own: 4000..5500
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ctx.diagram.Petrol_Point = {0, 2000, 4000, 6000, 9000, 12000, 16000, 20000, 25000};
        ctx.diagram.Gas_Point = {2000, 3840, 5680, 7520, 10280, 13040, 16720, 20400, 25000};
        ctx.view.HudLabel_3D_ACB_Prompt.colour = ctx.colours.ColourOf(Colour::General);
        ctx.settings.Idle_Points = false;
        ctx.acb.Saved_Idle_Points = true;
        ctx.acb.Failed = c.failed;
        ctx.acb.Petrol_Sum = 3000;
        ctx.acb.Petrol_Count = 1;
        ctx.acb.Gas_Mean = c.gasMean;
        ctx.acb.Petrol_Mean = 3000;
        ctx.live.Live_Gas_Avg = c.liveGasAvg;
        ACB_Result(ctx);
        EXPECT_EQ(ctx.acb.Result_Text, c.text);
        EXPECT_EQ(ctx.view.HudLabel_3D_ACB_Prompt.colour, ctx.colours.ColourOf(c.colour));
        EXPECT_EQ(ctx.settings.Idle_Points, !c.failed) << "Idle_Points stays off after a failure";
        const auto& p = ctx.diagram.Petrol_Point;
        if (c.failed) {
            EXPECT_EQ(p[1], 2000);
            continue;
        }
        // Idle points around the measured petrol time, the rest rising with room between.
        EXPECT_EQ(p[1], 2100);
        EXPECT_EQ(p[2], 3900);
        EXPECT_EQ(p[3], 4800);
        EXPECT_EQ(p[4], 4800 + (12000 - 4800) / 2);
        for (std::size_t k = 1; k < 9; ++k)
            EXPECT_LT(p[k - 1], p[k]) << k;
        const auto& g = ctx.diagram.Gas_Point;
        for (std::size_t k = 1; k < 9; ++k)
            EXPECT_LT(g[k - 1], g[k]) << k;
        EXPECT_EQ(ctx.diagram.Idle_Point, 2);
    }
}

TEST_F(Procedure, PointSpacingPushesCrowdedPointsUp) {
    // An idle petrol time of 6000 us: candidates from 7800 on, 2000 us apart.
    ctx.diagram.Petrol_Point = {0, 2000, 4000, 6000, 9000, 12000, 16000, 20000, 25000};
    ctx.diagram.Gas_Point = {2000, 3840, 5680, 7520, 10280, 13040, 16720, 20400, 25000};
    ctx.config.Injector_Type = "ANOTHER";
    ctx.live.Live_Gas_Avg = 4500;
    ctx.acb.Failed = false;
    ctx.acb.Gas_Mean = 6000;
    ACB_Result(ctx);
    const auto& p = ctx.diagram.Petrol_Point;
    EXPECT_EQ(p[1], 4200);
    EXPECT_EQ(p[2], 7800);
    EXPECT_EQ(p[3], 9600);
    EXPECT_EQ(p[4], 11700);
    EXPECT_EQ(p[5], 13800); // pushed up from 12000 to keep 2000 us above point 4's candidate
    for (std::size_t k = 1; k < 9; ++k)
        EXPECT_LT(p[k - 1], p[k]) << k;
}

} // namespace
} // namespace bifuel::test

namespace bifuel::test {
namespace {

// An offset-only run whose first adjustment hits a limit falls back to the diagram the
// start step wrote, not to gas values it never took; and the advice follows the means
// (gas richer than petrol: the jets are too large).
TEST_F(Procedure, AnOffsetRunWhoseFirstAdjustmentFailsFallsBackToTheStartDiagram) {
    ctx.acb.Algorithm = "Only OFFSET calibration";
    ctx.acb.ACB_Running = true;
    ACB_Run_Step(ctx, 21);
    const Gas written = ctx.diagram.Gas_Point;
    ASSERT_NE(written, Gas{});
    ctx.link.Pending_Request = Request::None;
    ctx.acb.Best_Diff = 32000;
    means(6000, 6000 - written[0] - 100); // the offset would take the first gas value below 0
    EXPECT_FALSE(ACB_Adjust(ctx));
    ACB_Run_Step(ctx, 52);
    EXPECT_EQ(ctx.diagram.Gas_Point, written);
    ACB_Result(ctx);
    EXPECT_EQ(ctx.acb.Result_Text, ACB_Prompt_Text(ctx, 20) + " " + ACB_Prompt_Text(ctx, 19));
}

} // namespace
} // namespace bifuel::test
