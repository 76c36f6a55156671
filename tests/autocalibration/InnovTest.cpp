#include "link/LinkHarness.h"

#include "autocalibration/AutoCLB_Unit.h"
#include "autocalibration/Veltra_ACB_Innov.h"

#include <numeric>

namespace bifuel::test {
namespace {

class Innov : public ::testing::Test {
  protected:
    Innov() {
        ctx.link.Main_Shown = true;
        Innov_Stage_Start(ctx);
    }

    // Steps once in the given direction: up when petrol on gas is above the reference.
    void step(int direction) {
        ctx.innov.Petrol_Ref = 3000;
        ctx.innov.Petrol_On_Gas = direction > 0 ? 3100 : 2900;
        Innov_Step(ctx);
    }

    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    TempWorkDir work;
    Context ctx{clock, line.host(), work.paths(false)};
};

TEST_F(Innov, ConvergesAfterThreeReversals) {
    struct Case {
        std::vector<int> steps;
        bool converged;
        std::int32_t progress; // stage 1 runs from 0 to 30 per cent
    };
    const std::vector<Case> cases = {
        {{+1, +1, -1, +1, -1}, true, 30},
        {{+1, -1, +1}, false, 20},
        {{-1, -1, -1, +1}, false, 10},
        {{+1, +1}, false, 0},
        // The ninth step drops the oldest: only the last eight directions count.
        {{+1, -1, +1, +1, +1, +1, +1, +1, +1}, false, 10},
        {{+1, +1, +1, +1, +1, +1, -1, +1, -1}, true, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.steps));
        Innov_Stage_Start(ctx);
        ctx.innov.Adjust_Value = 2000;
        for (int d : c.steps)
            step(d);
        EXPECT_EQ(Innov_Converged(ctx), c.converged);
        EXPECT_EQ(ctx.view.ProgressBar_3D_ACB.value, c.progress);
        const int net = std::accumulate(c.steps.begin(), c.steps.end(), 0);
        EXPECT_EQ(ctx.innov.Adjust_Value, 2000 + 100 * net);
    }
}

TEST_F(Innov, StagesRecordTheGasTimesOfStagesTwoAndThree) {
    ctx.live.Live_Gas_Smooth = 5000; // end of stage 1: not recorded
    EXPECT_FALSE(Innov_Stage_Advance(ctx));
    EXPECT_EQ(ctx.innov.Step, 50);
    EXPECT_EQ(ctx.innov.Level, 50);
    ctx.live.Live_Gas_Smooth = 6000;
    EXPECT_FALSE(Innov_Stage_Advance(ctx));
    EXPECT_EQ(ctx.innov.Level, 99);
    EXPECT_EQ(std::vector<std::int32_t>({ctx.innov.Progress_From, ctx.innov.Progress_To}),
              std::vector<std::int32_t>({50, 99}));
    ctx.live.Live_Gas_Smooth = 9000;
    EXPECT_TRUE(Innov_Stage_Advance(ctx));
    EXPECT_EQ(ctx.innov.Gas_Half, 6000);
    EXPECT_EQ(ctx.innov.Gas_Full, 9000);
    EXPECT_EQ(ctx.view.ProgressBar_3D_ACB.value, 100);
}

TEST_F(Innov, ResultIsTheLineThroughBothStages) {
    ctx.config.Injector_Type = "ANOTHER"; // idle window 4000..5500
    ctx.diagram.Petrol_Point = {0, 2000, 4000, 6000, 9000, 12000, 16000, 20000, 25000};
    ctx.innov.Gas_Half = 6000;
    ctx.innov.Gas_Full = 9000;
    ctx.innov.Petrol_Ref = 2800;
    ctx.innov.Petrol_End = 3200; // c = 3000
    Innov_Result(ctx);
    const DiagramModel& d = ctx.diagram;
    EXPECT_EQ(ctx.innov.Petrol_Ref, 3000);
    EXPECT_EQ(d.Gas_Point[0], 3000);
    EXPECT_EQ(d.Gas_Point[8], 32000);
    EXPECT_EQ(d.Petrol_Point[8], 14500);
    EXPECT_FALSE(d.End_On_Petrol_Max);
    // Idle points 30 % around c, the others evenly up to the clipped end, all on the line.
    EXPECT_EQ(std::vector<std::int32_t>(d.Petrol_Point.begin(), d.Petrol_Point.end()),
              std::vector<std::int32_t>({0, 2100, 3900, 5666, 7432, 9198, 10964, 12730, 14500}));
    for (std::size_t k = 1; k < 8; ++k) {
        EXPECT_NEAR(d.Gas_Point[k], 3000 + 2 * d.Petrol_Point[k], 1) << k;
    }
    EXPECT_EQ(ctx.acb.Result_Text, ACB_Prompt_Text(ctx, 18)) << "9000 us at idle: jets too small";
    EXPECT_EQ(ctx.view.HudLabel_3D_ACB_Prompt.colour, ctx.colours.ColourOf(Colour::Txt_Recomm));
}

TEST_F(Innov, SearchIsBounded) {
    // The value never leaves 16 bits.
    ctx.innov.Adjust_Value = 50;
    step(-1);
    EXPECT_EQ(ctx.innov.Adjust_Value, 0);
    // A stage that never settles gives up after 200 steps: failed, then the stop program.
    LoadProgram(ctx, InnovationalProgram());
    Innov_Stage_Start(ctx);
    for (int i = 0; i < kInnovStepLimit; ++i)
        step(+1);
    EXPECT_EQ(ctx.link.Program_Words[1], 69) << "gave up too early";
    step(+1);
    EXPECT_EQ(std::vector<std::int32_t>(ctx.link.Program_Words.begin() + 1,
                                        ctx.link.Program_Words.begin() + 6),
              InnovationalStopProgram());
    EXPECT_EQ(ctx.acb.Result_Text, "Autocalibration failed.");
    EXPECT_EQ(ctx.view.HudLabel_3D_ACB_Prompt.colour, ctx.colours.ColourOf(Colour::Txt_Error));
}

TEST_F(Innov, FrameDataCarriesFlagsLevelReferenceAndValue) {
    ctx.innov.Petrol_Ref = 0x0ABC;
    ctx.innov.Adjust_Value = 0x1234;
    EXPECT_EQ(Innov_Frame_Data(ctx),
              (std::array<std::uint8_t, 8>{0x03, 30, 0, 0, 0x0A, 0xBC, 0x12, 0x34}));
    Innov_Completion(ctx);
    EXPECT_EQ(Innov_Frame_Data(ctx)[0], 0);
}

} // namespace
} // namespace bifuel::test
