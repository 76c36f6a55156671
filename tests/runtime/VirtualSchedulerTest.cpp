#include "runtime/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bifuel {
namespace {

TEST(VirtualScheduler, FiresDueTimersInTimeOrderAndRepeats) {
    VirtualScheduler s;
    std::vector<std::string> log;
    auto a = s.createTimer(30);
    auto b = s.createTimer(20);
    a->setOnFire([&] { log.push_back("a@" + std::to_string(s.nowMs())); });
    b->setOnFire([&] { log.push_back("b@" + std::to_string(s.nowMs())); });
    a->start();
    b->start();
    s.advance(60);
    EXPECT_EQ(log, (std::vector<std::string>{"b@20", "a@30", "b@40", "a@60", "b@60"}));
    EXPECT_EQ(s.nowMs(), 60);
}

TEST(VirtualScheduler, HandlersMayStartStopAndRetimeTimers) {
    VirtualScheduler s;
    std::vector<std::string> log;
    auto once = s.createTimer(10);
    auto other = s.createTimer(100);
    once->setOnFire([&] {
        once->stop();
        other->setInterval(5);
        other->start(); // due 5 ms after this handler, not 100 ms
        log.push_back("once@" + std::to_string(s.nowMs()));
    });
    other->setOnFire([&] {
        other->stop();
        log.push_back("other@" + std::to_string(s.nowMs()));
    });
    once->start();
    s.advance(1000);
    EXPECT_EQ(log, (std::vector<std::string>{"once@10", "other@15"}));
    EXPECT_FALSE(once->isRunning());
}

TEST(VirtualScheduler, RestartPostponesAndDestroyedTimerNeverFires) {
    VirtualScheduler s;
    int fired = 0;
    auto t = s.createTimer(100);
    t->setOnFire([&] { ++fired; });
    t->start();
    s.advance(90);
    t->start(); // restarting measures the interval from now
    s.advance(90);
    EXPECT_EQ(fired, 0);
    s.advance(10);
    EXPECT_EQ(fired, 1);
    t.reset();
    s.advance(1000);
    EXPECT_EQ(fired, 1);
}

TEST(VirtualScheduler, ZeroIntervalFiresAfterTheCurrentHandlerAtTheSameTime) {
    VirtualScheduler s;
    std::vector<std::string> log;
    auto first = s.createTimer(10);
    auto zero = s.createTimer(0);
    zero->setOnFire([&] {
        zero->stop();
        log.push_back("zero@" + std::to_string(s.nowMs()));
    });
    first->setOnFire([&] {
        first->stop();
        zero->start();
        log.push_back("first@" + std::to_string(s.nowMs()));
    });
    first->start();
    s.advance(10);
    EXPECT_EQ(log, (std::vector<std::string>{"first@10", "zero@10"}));
}

TEST(VirtualScheduler, RunUntilStopsWhenThePredicateHolds) {
    VirtualScheduler s;
    int ticks = 0;
    auto t = s.createTimer(7);
    t->setOnFire([&] { ++ticks; });
    t->start();
    EXPECT_TRUE(s.runUntil([&] { return ticks == 3; }, 1000));
    EXPECT_EQ(s.nowMs(), 21);
    EXPECT_FALSE(s.runUntil([&] { return ticks == 1000; }, 70));
    EXPECT_EQ(s.nowMs(), 91);
}

} // namespace
} // namespace bifuel
