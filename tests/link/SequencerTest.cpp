#include "LinkHarness.h"

#include "files/SaveLoad_3D_Unit.h"

#include "CommaLocale.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "link/Port_3D_Connect.h"

namespace bifuel::test {
namespace {

// The sequencer on its own: programs are loaded by hand, steps are observed through the
// status line (24 adds, 25 removes) and the frames they arm. No ECU answers.
class Sequencer : public ::testing::Test {
  protected:
    Sequencer() {
        statusWatch = ctx.events.status.subscribe([this](const StatusChange& change) {
            if (change.kind == StatusChange::Kind::Added) ran.push_back(24);
            if (change.kind == StatusChange::Kind::Removed) ran.push_back(25);
        });
        ctx.link.Main_Shown = true;
        line.host().open(); // starts probing; tests load their own programs after it
        ctx.link.Sent_Frame[0] = 25;
    }

    void run(std::vector<std::int32_t> words, std::int32_t counter = 0) {
        LoadProgram(ctx, words);
        ctx.link.Program_Counter = counter;
        RunSequencer(ctx);
    }
    std::uint8_t armedCommand() const { return ctx.link.TX_Frame[1]; }

    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host()};
    std::vector<int> ran;
    Subscription statusWatch;
};

TEST_F(Sequencer, StopsAtTheFirstStepThatArmsARequest) {
    run({24, 24, 55, 24});
    EXPECT_EQ(ran, (std::vector<int>{24, 24}));
    EXPECT_EQ(armedCommand(), 0x26);
    EXPECT_TRUE(ctx.link.Request_Armed);
    EXPECT_EQ(ctx.link.Program_Counter, 3);
    EXPECT_TRUE(ctx.timers.Timer_Connect->isRunning());
}

TEST_F(Sequencer, ConditionOperandMinusThreeAtIndex21RunsWord19Next) {
    std::vector<std::int32_t> words(22, 0);
    words[18] = 24;  // index 19
    words[19] = 55;  // index 20 arms
    words[20] = 203; // index 21: holds while Timer_Wait is stopped
    words[21] = -3;
    words.push_back(25); // index 23, after the operand
    words.push_back(55);
    ctx.timers.Timer_Wait->setInterval(1000);
    ctx.timers.Timer_Wait->start(); // the condition fails
    run(words, 20);
    EXPECT_EQ(ran, (std::vector<int>{24}));
    EXPECT_EQ(ctx.link.Program_Counter, 20);
    ctx.timers.Timer_Wait->stop(); // now it holds: the operand is skipped
    RunSequencer(ctx);
    EXPECT_EQ(ran, (std::vector<int>{24, 25}));
    EXPECT_EQ(ctx.link.Program_Counter, 24);
}

TEST_F(Sequencer, ControlWordsMoveTheCounter) {
    // 1: absolute jump over a step; 2: relative jump over another.
    run({1, 4, 24, 25, 2, 3, 24, 55});
    EXPECT_EQ(ran, (std::vector<int>{25}));
    EXPECT_EQ(ctx.link.Program_Counter, 8);
}

TEST_F(Sequencer, LoopRunsTheStepBeforeItLimitPlusOneTimesAndRewinds) {
    // 24, then "3, 1, 3, 0" loops back one word three times, then 55 arms.
    const std::vector<std::int32_t> program{24, 3, 1, 3, 0, 55};
    run(program);
    EXPECT_EQ(std::count(ran.begin(), ran.end(), 24), 4);
    EXPECT_EQ(ctx.link.Program_Words[5], 0) << "the count is reset for the next pass";
    ran.clear();
    ctx.link.Program_Counter = 0;
    RunSequencer(ctx);
    EXPECT_EQ(std::count(ran.begin(), ran.end(), 24), 4);
}

TEST_F(Sequencer, CountdownDrivesThePromptAndTheProgressBar) {
    const std::string prompt = ACB_Prompt_Text(ctx, 3);
    run({7, 3, 24, 9, 500, 55});
    EXPECT_EQ(ctx.view.HudLabel_3D_ACB_Prompt.text, prompt);
    EXPECT_EQ(ctx.view.ProgressBar_3D_ACB.max, 5);
    clock.advance(100);
    EXPECT_EQ(ctx.view.HudLabel_3D_ACB_Prompt.text, prompt + " (0.4 sec)");
    EXPECT_EQ(ctx.view.ProgressBar_3D_ACB.value, 1);
    clock.advance(500);
    EXPECT_FALSE(ctx.timers.Timer_Countner->isRunning());
    EXPECT_EQ(ctx.view.ProgressBar_3D_ACB.value, 5);
    EXPECT_EQ(ctx.link.Tenths_Counter, 0);
    EXPECT_EQ(ctx.view.HudLabel_3D_ACB_Prompt.text, prompt + " (0.0 sec)");
}

// The countdown is a number the user reads: a point, whatever the locale says.
TEST_F(Sequencer, CountdownShowsAPointUnderAGermanLocale) {
    GermanCNumbers german;
    if (!german.active()) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    ASSERT_EQ(GermanCNumbers::Probe(), "0,5");
    const std::string wait = ACB_Prompt_Text(ctx, 1);
    run({7, 1, 24, 9, 1000, 55});
    clock.advance(100);
    EXPECT_EQ(ctx.view.HudLabel_3D_ACB_Prompt.text, wait + " (0.9 sec)");
}

TEST_F(Sequencer, CountdownShowsAPointUnderACommaGlobalLocale) {
    CommaGlobalLocale comma;
    ASSERT_EQ(CommaGlobalLocale::Probe(), "0,5");
    const std::string wait = ACB_Prompt_Text(ctx, 1);
    run({7, 1, 24, 9, 1000, 55});
    clock.advance(100);
    EXPECT_EQ(ctx.view.HudLabel_3D_ACB_Prompt.text, wait + " (0.9 sec)");
}

TEST_F(Sequencer, CountUpAndWaitConditions) {
    // 8 counts up; 4 starts a 300 ms wait; 203 sends the program back to 55 until the
    // wait is over, as a program polls with a request in its loop.
    run({8, 24, 4, 300, 55, 203, -2, 25, 55});
    EXPECT_TRUE(ctx.timers.Timer_Countner->isRunning());
    EXPECT_TRUE(ctx.timers.Timer_Wait->isRunning());
    RunSequencer(ctx); // a reply: the wait is not over
    EXPECT_EQ(ctx.link.Program_Counter, 5);
    clock.advance(300);
    EXPECT_FALSE(ctx.timers.Timer_Wait->isRunning());
    EXPECT_EQ(ctx.link.Tenths_Counter, 3);
    RunSequencer(ctx);
    EXPECT_EQ(ctx.link.Program_Counter, 9);
    EXPECT_EQ(ran, (std::vector<int>{24, 25}));
}

TEST_F(Sequencer, ScriptErrorIsShownOnceAndTheWordSkipped) {
    run({24, 99, 6, 255, 24, 55});
    ASSERT_EQ(ctx.view.Messages.size(), 1u);
    EXPECT_EQ(ctx.view.Messages[0].type, 13);
    EXPECT_EQ(ctx.view.Messages[0].text, "Error In Script\n\rScript number : 2\n\rScript : 99");
    EXPECT_EQ(ran, (std::vector<int>{24, 24}));
    run({150, 55});
    EXPECT_EQ(ctx.view.Messages.size(), 1u);
}

// Steps that hand over to the data, calibration, map and auto-calibration units run in
// one burst up to the next request, even over a reply buffer that holds nothing yet.
TEST_F(Sequencer, HandOverStepsRunThroughToTheNextRequest) {
    std::vector<int> live;
    const Subscription watch = ctx.events.liveData.subscribe([&] { live.push_back(1); });
    run({35, 37, 39, 41, 43, 45, 60, 67, 79, 55});
    EXPECT_FALSE(ctx.link.Script_Error_Shown);
    EXPECT_EQ(ctx.link.Program_Counter, 10);
    EXPECT_EQ(live.size(), 1u);
    EXPECT_EQ(armedCommand(), 0x26);
}

TEST_F(Sequencer, ControlWordLandingOnAControlWordIsAScriptError) {
    run({1, 3, 1, 24, 55});
    ASSERT_EQ(ctx.view.Messages.size(), 1u);
    EXPECT_EQ(ran, (std::vector<int>{24}));
}

TEST_F(Sequencer, AProgramThatNeverArmsStopsInsteadOfSpinning) {
    run({24, 1, 1});
    EXPECT_FALSE(ctx.timers.Timer_Sending->isRunning());
    EXPECT_EQ(ctx.view.Messages.size(), 1u);
    // The link-loss timer still runs, so the connection starts over.
    EXPECT_TRUE(ctx.timers.Timer_Connect->isRunning());
}

TEST_F(Sequencer, JumpOutsideTheTableIsAScriptErrorNotAnOutOfBoundsRead) {
    run({1, 500});
    EXPECT_EQ(ctx.view.Messages.size(), 1u);
    run({2, -100});
    run({1, 150}); // word 150 is 0: a yield point, then the counter runs off the end
    EXPECT_EQ(ctx.view.Messages.size(), 1u);
}

TEST_F(Sequencer, AppendingPastTheTableIsRefused) {
    LoadProgram(ctx, {});
    for (int i = 0; i < kProgramWords; ++i)
        ASSERT_TRUE(AppendProgramWord(ctx, 24));
    EXPECT_FALSE(AppendProgramWord(ctx, 55));
    EXPECT_EQ(ctx.link.Program_Length, kProgramWords);
    EXPECT_EQ(ctx.view.Messages.size(), 1u);
}

TEST_F(Sequencer, YieldPointLoadsThePendingProgramUnlessAWriteRuns) {
    ResetConfiguration(ctx); // a diagram the write's check lets through
    ctx.link.ECU_Connected = true;
    ctx.link.Pending_Request = Request::WriteDiagram;
    run(PollingProgram(), 6);
    EXPECT_TRUE(ctx.link.Write_Running);
    EXPECT_TRUE(ctx.link.CFG_Autosave);
    EXPECT_EQ(ctx.view.TForm_3D_Wait, WaitForm::Large);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
    EXPECT_EQ(armedCommand(), 0x31); // ANNOUNCE of the diagram write
    EXPECT_EQ(ctx.link.TX_Frame[3], 84);

    // While the write runs, a new request waits at the yield point.
    ctx.link.Pending_Request = Request::ModePetrol;
    run(PollingProgram(), 6);
    EXPECT_EQ(ctx.link.Pending_Request, Request::ModePetrol);
    EXPECT_EQ(armedCommand(), 0x23);
}

TEST_F(Sequencer, UnknownPendingRequestIsClearedAndPollingGoesOn) {
    ctx.link.Pending_Request = static_cast<Request>(20);
    run(PollingProgram(), 6);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
    EXPECT_EQ(armedCommand(), 0x23);
    EXPECT_TRUE(ctx.view.Messages.empty());
}

TEST_F(Sequencer, WideGasMaskSetsTheWideModeBits) {
    ctx.link.Mode_Bits = 0x30;
    run({21});
    EXPECT_EQ(ctx.link.TX_Frame[3], 0x34);
    ctx.link.Wide_Gas_Mask = true;
    run({21});
    EXPECT_EQ(ctx.link.TX_Frame[3], 0x3C);
}

class DeferredQueue : public ::testing::Test {
  protected:
    DeferredQueue() {
        watch = ctx.events.deferredAction.subscribe([this](int action) {
            actions.push_back({action, clock.nowMs()});
        });
        ctx.link.Main_Shown = true;
    }
    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host()};
    std::vector<std::pair<int, std::int64_t>> actions;
    Subscription watch;
};

TEST_F(DeferredQueue, RunsEntriesInOrderEachAfterItsDelayOnce) {
    QueueDeferredAction(ctx, 16, 1);
    QueueDeferredAction(ctx, 2, 100);
    QueueDeferredAction(ctx, 6, 100);
    QueueDeferredAction(ctx, 2, 100); // already queued
    QueueDeferredAction(ctx, 5, 100);
    clock.advance(1000);
    EXPECT_EQ(actions,
              (std::vector<std::pair<int, std::int64_t>>{{16, 1}, {2, 101}, {6, 201}, {5, 301}}));
    EXPECT_TRUE(ctx.deferred.empty());
}

TEST_F(DeferredQueue, TheTwentyFirstEntryIsDropped) {
    for (int a = 1; a <= 21; ++a)
        QueueDeferredAction(ctx, static_cast<std::uint8_t>(a + 20), 1);
    EXPECT_EQ(ctx.deferred.size(), 20u);
    EXPECT_EQ(ctx.deferred.back().action, 40);
}

TEST_F(DeferredQueue, HiddenWindowRunsNothingUntilTheNextQueuedAction) {
    ctx.link.Main_Shown = false;
    QueueDeferredAction(ctx, 2, 10);
    clock.advance(100);
    EXPECT_TRUE(actions.empty());
    EXPECT_EQ(ctx.deferred.size(), 1u);
    ctx.link.Main_Shown = true;
    QueueDeferredAction(ctx, 4, 10);
    clock.advance(100);
    EXPECT_EQ(actions.size(), 2u);
}

TEST_F(DeferredQueue, OpeningThePortWaitsForTheLayoutActions) {
    // What showing the main window queues: the port opens 1301 ms later.
    QueueDeferredAction(ctx, 16, 1);
    QueueDeferredAction(ctx, 2, 100);
    QueueDeferredAction(ctx, 6, 100);
    QueueDeferredAction(ctx, 5, 100);
    QueueDeferredAction(ctx, kActionOpenPort, 1000);
    clock.advance(1300);
    EXPECT_FALSE(line.host().isOpen());
    clock.advance(1);
    EXPECT_TRUE(line.host().isOpen());
    EXPECT_TRUE(ctx.link.Port_Opened);
}

} // namespace
} // namespace bifuel::test
