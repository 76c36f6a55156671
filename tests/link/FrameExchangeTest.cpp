#include "LinkHarness.h"

#include "link/Port_3D_Connect.h"

namespace bifuel::test {
namespace {

class FrameExchange : public LinkHarness {};

// A bad reply is dropped and the very same request goes out again 550 ms after it left.
TEST_F(FrameExchange, BadRepliesAreDroppedAndTheRequestRepeatedAfter550ms) {
    const std::pair<sim::Fault, const char*> faults[] = {
        {sim::Fault::Drop, "no reply"},
        {sim::Fault::Corrupt, "wrong checksum"},
        {sim::Fault::WrongEcho, "wrong command echo"},
        {sim::Fault::Split, "reply split by more than 500 ms"},
    };
    connect();
    for (const auto& [fault, name] : faults) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(runRequests(1));
        ecu.injectOnce(fault);
        const auto before = requests();
        ASSERT_TRUE(runRequests(1));
        const auto after = requests();
        const auto& first = before.back();
        const auto& again = after.back();
        EXPECT_EQ(again.bytes, first.bytes);
        EXPECT_EQ(again.timeUs - first.timeUs, 550'000);
        // The link stays up and goes on with the next request once answered (the late
        // half of a split reply may spoil the first repeat too).
        ASSERT_TRUE(clock.runUntil([&] { return requests().back().bytes != again.bytes; }, 3000));
        EXPECT_TRUE(ctx.link.ECU_Connected);
    }
}

TEST_F(FrameExchange, SurplusBytesAreDiscardedWithoutDisturbingTheNextExchange) {
    connect();
    ecu.faults().surplusEvery = 2;
    ecu.faults().surplusBytes = 7;
    const auto sentBefore = requests().size();
    clock.advance(3000);
    const auto req = requests();
    // No request had to be repeated: every one differs from the one before it.
    for (std::size_t i = sentBefore + 1; i < req.size(); ++i) {
        EXPECT_NE(req[i].bytes, req[i - 1].bytes) << "request " << i << " repeated";
    }
    EXPECT_GT(req.size() - sentBefore, 20u);
    EXPECT_TRUE(polling());
}

TEST_F(FrameExchange, ReplyWithAnotherProgramCodeIsIgnored) {
    connect();
    ASSERT_TRUE(runRequests(1));
    // A stray reply under code 23 with a correct checksum is not ours.
    ctx.link.RX_Frame = {};
    ctx.link.RX_Frame[0] = 23;
    ctx.link.RX_Frame[1] = ctx.link.Sent_Frame[1];
    ctx.link.Reply_Length = 3;
    ctx.link.RX_Frame[2] = FrameChecksum(ctx.link.RX_Frame.data(), 2);
    EXPECT_FALSE(CheckReply(ctx, 3));
}

TEST_F(FrameExchange, UnpluggedAdapterIsAPortErrorNotACrashOrABusyLoop) {
    connect();
    line.setUnplugged(true);
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.ECU_Connected; }, 10000));
    EXPECT_TRUE(ctx.view.HudButton_Port_Search.visible);
    EXPECT_EQ(ctx.view.HudLabel_Port_Connect_Stabil.text, "0%");
    // Retries stay at the timer's pace.
    const auto writes = line.wireLog().size();
    clock.advance(10000);
    EXPECT_EQ(line.wireLog().size(), writes);
    line.setUnplugged(false);
    ASSERT_TRUE(clock.runUntil([&] { return polling(); }, 20000));
}

class LinkQuality : public LinkHarness {};

TEST_F(LinkQuality, CountsDownTwoPercentEvery93msAfterTheLastReply) {
    connect();
    ecu.faults().dropEvery = 1;
    // Wait for the last valid reply: the quality label is at 100 % and the timer restarts.
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Link_Quality < 100; }, 2000));
    EXPECT_EQ(ctx.link.Link_Quality, 98);
    EXPECT_EQ(ctx.link.Link_Step, 2);
    EXPECT_EQ(ctx.timers.Timer_GEN_Connect_Stabil->interval(), 93);
    const std::int64_t t = clock.nowUs();
    clock.advanceUs(93'000 * 10);
    EXPECT_EQ(ctx.link.Link_Quality, 78);
    EXPECT_EQ(ctx.view.HudLabel_Port_Connect_Stabil.text, "78%");
    EXPECT_EQ(ctx.view.HudLabel_Port_Connect_Stabil.colour, "#FFDEE727");
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Link_Quality == 0; }, 6000));
    EXPECT_EQ(ctx.view.HudLabel_Port_Connect_Stabil.colour,
              ctx.colours.ColourOf(Colour::Port_Close));
    EXPECT_TRUE(ctx.link.ECU_Connected) << "0 % shows just before the link drops";
    EXPECT_LT(clock.nowUs() - t, 5'000'000);
    // A valid reply restores 100 % at once.
    ecu.faults().dropEvery = 0;
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Link_Quality == 100; }, 6000));
    EXPECT_EQ(ctx.view.HudLabel_Port_Connect_Stabil.text, "100%");
}

TEST_F(LinkQuality, RepliesCloserThanTheFirstTickKeepItAtFullWithoutDecay) {
    connect();
    std::vector<int> seen;
    for (int i = 0; i < 200; ++i) {
        clock.advance(10);
        seen.push_back(ctx.link.Link_Quality);
    }
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int q) { return q == 100; }));
}

TEST_F(LinkQuality, DecaysEvenWhenTheDecayTickEqualsTheFirstTick) {
    // With a 73 ms delay the decay tick (93 ms) equals delay + 20: the label must still fall.
    ctx.settings.Reply_Delay = 73;
    connect();
    ecu.faults().dropEvery = 1;
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Link_Quality <= 50; }, 5000));
}

TEST(LinkQualityColour, FollowsTheBands) {
    VirtualScheduler clock;
    sim::MemoryLine line(clock);
    Context ctx(clock, line.host());
    const std::pair<int, std::string> cases[] = {
        {0, ctx.colours.ColourOf(Colour::Port_Close)},
        {30, ctx.colours.ColourOf(Colour::Port_Close)},
        {31, "#FFE7A327"},
        {50, "#FFE7A327"},
        {51, "#FFE7C227"},
        {60, "#FFE7C227"},
        {61, "#FFFFFF00"},
        {70, "#FFFFFF00"},
        {71, "#FFDEE727"},
        {80, "#FFDEE727"},
        {81, "#FFBFE727"},
        {90, "#FFBFE727"},
        {91, ctx.colours.ColourOf(Colour::Port_Open)},
        {100, ctx.colours.ColourOf(Colour::Port_Open)},
    };
    for (const auto& [q, colour] : cases)
        EXPECT_EQ(LinkQualityColour(ctx, q), colour) << q;
}

} // namespace
} // namespace bifuel::test
