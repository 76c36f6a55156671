#include "runtime/Signal.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bifuel {
namespace {

TEST(Signal, CallsSubscribersInOrderUntilTheirSubscriptionEnds) {
    Signal<int> signal;
    std::vector<std::string> calls;
    auto a = signal.subscribe([&](int v) { calls.push_back("a" + std::to_string(v)); });
    std::optional<Subscription> b =
        signal.subscribe([&](int v) { calls.push_back("b" + std::to_string(v)); });
    signal.notify(1);
    b.reset();
    signal.notify(2);
    EXPECT_EQ(calls, (std::vector<std::string>{"a1", "b1", "a2"}));
}

TEST(Signal, SubscribersMayUnsubscribeAndSubscribeWhileItEmits) {
    Signal<> signal;
    std::vector<std::string> calls;
    Subscription second;
    Subscription late;
    auto first = signal.subscribe([&] {
        calls.push_back("first");
        second.reset(); // removed before its turn: not called
        if (!late.connected()) late = signal.subscribe([&] { calls.push_back("late"); });
    });
    second = signal.subscribe([&] { calls.push_back("second"); });
    signal.notify();
    signal.notify();
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "first", "late"}));
}

TEST(Signal, ASubscriptionMayOutliveItsSignalAndItsOwnerMayDieInAHandler) {
    Subscription kept;
    {
        Signal<> gone;
        kept = gone.subscribe([] {});
    }
    kept.reset(); // the signal is gone: nothing to do, nothing touched

    auto owner = std::make_unique<Signal<>>();
    int calls = 0;
    auto s = owner->subscribe([&] {
        ++calls;
        owner.reset();
    });
    owner->notify();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(owner, nullptr);
}

} // namespace
} // namespace bifuel
