#include "QtHarness.h"
#include "QtScheduler.h"

namespace bifuel::test {
namespace {

using platform::QtScheduler;

class QtSchedulerTest : public ::testing::Test {
  protected:
    QtSchedulerTest() { App(); }
    QtScheduler scheduler;
};

TEST_F(QtSchedulerTest, ATimerRepeatsUntilItsHandlerStopsIt) {
    auto timer = scheduler.createTimer(5);
    int fired = 0;
    timer->setOnFire([&] {
        if (++fired == 3) timer->stop();
    });
    timer->start();
    EXPECT_TRUE(timer->isRunning());
    ASSERT_TRUE(RunLoopUntil([&] { return fired == 3; }));
    EXPECT_FALSE(timer->isRunning());

    // It stays stopped while a later timer comes and goes.
    auto later = scheduler.createTimer(50);
    bool passed = false;
    later->setOnFire([&] {
        passed = true;
        later->stop();
    });
    later->start();
    ASSERT_TRUE(RunLoopUntil([&] { return passed; }));
    EXPECT_EQ(fired, 3);
}

TEST_F(QtSchedulerTest, StartingARunningTimerAgainPushesItsFiringBack) {
    auto watched = scheduler.createTimer(400);
    auto restarter = scheduler.createTimer(10);
    int restarts = 0;
    bool firedBeforeLastRestart = false;
    int fired = 0;
    watched->setOnFire([&] {
        firedBeforeLastRestart = firedBeforeLastRestart || restarts < 10;
        ++fired;
        watched->stop();
    });
    restarter->setOnFire([&] {
        watched->start();
        if (++restarts == 10) restarter->stop();
    });
    watched->start();
    restarter->start();
    ASSERT_TRUE(RunLoopUntil([&] { return fired == 1; }));
    EXPECT_FALSE(firedBeforeLastRestart);
    EXPECT_EQ(restarts, 10);
}

TEST_F(QtSchedulerTest, MicrosecondIntervalsRoundUpToWholeMilliseconds) {
    auto timer = scheduler.createTimer();
    timer->setIntervalUs(1042);
    EXPECT_EQ(timer->interval(), 2);
    EXPECT_EQ(timer->intervalUs(), 1042);
    timer->setIntervalUs(3000);
    EXPECT_EQ(timer->interval(), 3);
}

} // namespace
} // namespace bifuel::test
