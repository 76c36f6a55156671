#include "link/LinkHarness.h"

#include "autocalibration/AutoCLB_Script.h"
#include "autocalibration/AutoCLB_Unit.h"

namespace bifuel::test {
namespace {

// The step interpreter on its own: programs are loaded by hand and observed through the
// state their steps leave. No ECU answers.
class Script : public ::testing::Test {
  protected:
    Script() {
        ctx.link.Main_Shown = true;
        ctx.link.ECU_Connected = true; // requests are taken only from a connected ECU
        ctx.acb.ACB_Running = true;
        ctx.acb.Ticks = ComputeTimeBase(ctx.settings);
    }

    void load(const std::vector<std::int32_t>& words) { ACB_Load_Program(ctx, words); }
    // One expiry of the countdown: the interpreter runs until a step yields.
    void expire() { ACB_Interpret(ctx); }
    std::string promptText() const { return ctx.view.HudLabel_3D_ACB_Prompt.text; }

    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    TempWorkDir work;
    Context ctx{clock, line.host(), work.paths(false)};
};

TEST_F(Script, JumpsAndConditionsLandWhereTheirOperandsSay) {
    // Words 38 n show prompt n and run on; 60 ends the run and yields. Each case leads to
    // exactly one of the prompts 12 / 13 / 14.
    struct Case {
        const char* what;
        std::vector<std::int32_t> words;
        std::int32_t rpm;
        int expectedPrompt;
    };
    const std::vector<Case> cases = {
        {"jump forward over a prompt", {2, 5, 38, 12, 60, 38, 13, 60}, 0, 13},
        {"true condition runs the word after its operand",
         {204, 4, 38, 12, 60, 38, 13, 60},
         2500,
         12},
        {"false condition goes relative to its operand",
         {204, 4, 38, 12, 60, 38, 13, 60},
         2000,
         13},
        {"205 holds at exactly 2000 rpm", {205, 4, 38, 12, 60, 38, 13, 60}, 2000, 12},
        // Word 1 jumps to word 6; the condition there, false, goes back to 3 (operand -4 at 7).
        {"false condition jumps back", {2, 5, 38, 14, 60, 204, -4, 38, 13, 60}, 0, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ctx.live.Live_RPM = c.rpm;
        ctx.acb.ACB_Running = true;
        load(c.words);
        expire();
        EXPECT_EQ(promptText(), ACB_Prompt_Text(ctx, c.expectedPrompt));
        EXPECT_FALSE(ctx.acb.ACB_Running) << "the run did not reach its end";
    }
}

TEST_F(Script, LoopRunsItsStepThirtyOneTimesOnEveryPass) {
    // 57 adds one support sample and yields; 31 marks the end of a pass; 2, -6 starts over.
    load({57, 3, 1, 30, 0, 31, 2, -6});
    ctx.live.Live_PressDiff = 1;
    for (int pass = 1; pass <= 2; ++pass) {
        SCOPED_TRACE(pass);
        ctx.acb.Hold_Progress = false;
        int expiries = 0;
        while (!ctx.acb.Hold_Progress && expiries < 100) {
            expire();
            ++expiries;
        }
        // The expiry that finds the loop done also starts the next pass's first step.
        EXPECT_EQ(ctx.acb.Support_Sum[0], 31 * pass + 1);
        EXPECT_EQ(ctx.acb.ACB_Program[5], 0) << "loop counter not reset";
    }
}

TEST_F(Script, BuiltInProgramsFollowTheirJumps) {
    // The speed program asks for 2000 rpm and counts seconds up until the driver has
    // raised the speed, then counts down from 6 and ends in the gas settle step.
    ctx.settings.ACB_Reset_Diagram = false;
    ctx.acb.Algorithm = std::string(kAlgorithmHighRpm);
    ctx.settings.ACB_Script = "1234";
    ctx.acb.Script_Text = "1234";
    load(ACB_Speed_Program());
    ctx.live.Live_Petrol_Avg = 3000;
    ctx.live.Live_Petrol_Inj = {0, 3000, 3000, 3000, 3000};
    expire(); // 21: start step, yields for the write
    expire(); // 22, 30, 25: petrol settle
    EXPECT_EQ(ctx.acb.Group_Text, "1234");
    EXPECT_EQ(ctx.link.Pending_Request, kRequestAllToPetrol);
    expire(); // 26: petrol sample
    expire(); // 31, 4 0, 32, 33, 34
    const std::string unit = ctx.LangText("Dim_Sec_Long");
    EXPECT_EQ(promptText(), ACB_Prompt_Text(ctx, 12) + " 2000 - 3000 " +
                                ctx.LangText("Dim_RPM_Short") + " (1 " + unit + ")");
    ctx.live.Live_RPM = 1500;
    expire(); // 204 false: back to 34
    EXPECT_EQ(ctx.acb.Step_Counter, 2);
    ctx.live.Live_RPM = 2500;
    expire(); // 204 true: 24, 35 (group to gas)
    EXPECT_EQ(ctx.link.Pending_Request, kRequestGroupToGas);
    EXPECT_EQ(ctx.link.Mode_Bits, 0xF0);
    expire(); // 36, 33, 4 6, 37
    EXPECT_EQ(promptText(), ACB_Prompt_Text(ctx, 13) + " 5 " + unit);
    ctx.live.Live_RPM = 1800; // the driver let the speed fall
    expire();                 // 204 false: back to 7, asks again
    EXPECT_EQ(promptText(), ACB_Prompt_Text(ctx, 12) + " 2000 - 3000 " +
                                ctx.LangText("Dim_RPM_Short") + " (1 " + unit + ")");
    ctx.live.Live_RPM = 2500;
    expire(); // 35 again
    for (int shown = 5; shown >= 0; --shown) {
        expire(); // 37 ... counting down
        EXPECT_EQ(promptText(),
                  ACB_Prompt_Text(ctx, 13) + " " + std::to_string(shown) + " " + unit);
    }
    ctx.live.Live_RPM = 2500;
    expire(); // 206 holds: 4 0, 38 14, 34
    EXPECT_EQ(promptText(), ACB_Prompt_Text(ctx, 14) + " (1 " + unit + ")");
    ctx.live.Live_RPM = 800;
    expire(); // 205 holds: 38 15, 39, 28
    EXPECT_EQ(promptText(), ACB_Prompt_Text(ctx, 15));
    EXPECT_FALSE(ctx.acb.Hold_Progress);
    EXPECT_EQ(ctx.acb.Reply_Countdown, ctx.acb.Cur_Settle);
}

TEST_F(Script, UndefinedWordsAreReportedOnceAndSkipped) {
    load({199, 7, 38, 12, 61, 60});
    expire();
    ASSERT_EQ(ctx.view.Messages.size(), 1U);
    EXPECT_EQ(ctx.view.Messages[0].type, kMessageScriptError);
    EXPECT_EQ(ctx.view.Messages[0].text, "Error In Script\n\rScript number : 1\n\rScript : 199");
    EXPECT_EQ(promptText(), ACB_Prompt_Text(ctx, 12)) << "words after the errors did not run";
    EXPECT_FALSE(ctx.acb.ACB_Running);
}

TEST_F(Script, AProgramWithoutAYieldingStepFailsTheRunIntoItsEnding) {
    for (const std::vector<std::int32_t>& words :
         {std::vector<std::int32_t>{22, 23},       // runs off its end
          std::vector<std::int32_t>{22, 2, -1}}) { // never yields
        ctx.acb.In_Run = true;
        ctx.acb.In_Tail = false;
        load(words);
        expire();
        EXPECT_EQ(ctx.view.Messages.size(), 1U);
        // The ending program gives the ECU back what it had, then ends the run.
        EXPECT_TRUE(ctx.acb.In_Tail);
        EXPECT_EQ(ctx.acb.Outcome, AutoCalibrationResult::Failed);
        EXPECT_EQ(ctx.acb.ACB_Program[1], 50);
        for (int i = 0; i < 40 && ctx.acb.ACB_Running; ++i) {
            ctx.acb.Reply_Countdown = 0;
            expire();
        }
        EXPECT_FALSE(ctx.acb.ACB_Running);
        EXPECT_FALSE(ctx.acb.In_Run);
    }
}

TEST_F(Script, GroupsAndTheirCylinderMasks) {
    struct Case {
        std::string script;
        std::vector<std::string> groups;
        std::vector<std::uint8_t> masks;
    };
    const std::vector<Case> cases = {
        {"1+12+123+1234", {"1", "12", "123", "1234"}, {0x10, 0x30, 0x70, 0xF0}},
        {"15+1256+123567+12345678", {"15", "1256", "123567", "12345678"}, {0x10, 0x30, 0x70, 0xF0}},
        {"14+1245+123456", {"14", "1245", "123456"}, {0x90, 0xB0, 0xF0}},
        {"1234", {"1234"}, {0xF0}},
        {"", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        ctx.acb.Script_Text = c.script;
        EXPECT_EQ(ACB_Count_Groups(ctx), static_cast<int>(c.groups.size()));
        std::vector<std::string> groups;
        std::vector<std::uint8_t> masks;
        while (ACB_Next_Group(ctx)) {
            groups.push_back(ctx.acb.Group_Text);
            ACB_Build_Mask(ctx);
            masks.push_back(ctx.link.Mode_Bits);
        }
        EXPECT_EQ(groups, c.groups);
        EXPECT_EQ(masks, c.masks);
        EXPECT_FALSE(ACB_Next_Group(ctx)) << "an exhausted script read again";
    }
}

TEST_F(Script, ParametersFollowTheAlgorithmAndTheEngineSize) {
    struct Case {
        std::string algorithm;
        std::int32_t cylinders;
        std::string script;
        ACB_Step group1;
        ACB_Step group4;
    };
    const std::vector<Case> cases = {
        {"Default", 4, "1+12+123+1234", {5000, 5000, 100}, {10000, 10000, 50}},
        {"Only OFFSET calibration", 5, "1+12+123+1234+12345", {2000, 2000, 100}, {2000, 2000, 100}},
        {"Fast calibration", 6, "14+1245+123456", {2000, 2000, 300}, {8000, 8000, 150}},
        {"Fast calibration", 8, "15+1256+123567+12345678", {2000, 2000, 300}, {8000, 8000, 150}},
        {"High R.P.M. calibration", 4, "1234", {10000, 10000, 100}, {0, 0, 0}},
        {"Innovational", 6, "142536", {10000, 10000, 100}, {0, 0, 0}},
        // A name that is no algorithm gets the fast record.
        {"Turbo", 4, "1+12+123+1234", {2000, 2000, 300}, {8000, 8000, 150}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.algorithm + " " + std::to_string(c.cylinders));
        ctx.config.Cylinders = c.cylinders;
        ACB_Load_Params(ctx, ACB_Algorithm_Index(c.algorithm));
        EXPECT_EQ(ctx.settings.ACB_Script, c.script);
        EXPECT_EQ(ctx.settings.ACB_Steps[1], c.group1);
        EXPECT_EQ(ctx.settings.ACB_Steps[4], c.group4);
    }
}

} // namespace
} // namespace bifuel::test
