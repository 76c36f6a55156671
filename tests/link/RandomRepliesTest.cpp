#include "ChaosPeer.h"
#include "LinkHarness.h"

namespace bifuel::test {
namespace {

// The link must never crash, never touch memory outside its buffers (the sanitizers
// watch), and never send a frame with a bad checksum, whatever comes back and whatever the
// user does meanwhile, nonsense included.
TEST(RandomReplies, NeverBreakTheLinkNorItsFrames) {
    // An ECU that reports absurd lengths, or a block other than the one this program
    // knows, is refused and left alone, so some seeds end quiet; across all of them the
    // link must have been driven deep. So the peer's identity mostly has the known block.
    std::size_t frames = 0;
    int seedsConnected = 0;
    for (std::uint32_t seed = 1; seed <= 24; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TempWorkDir work; // a random full write saves a configuration file
        VirtualScheduler clock;
        sim::MemoryLine line(clock, seed % 2 ? sim::MemoryLine::kByteTimeUs9600 : 0);
        Context ctx(clock, line.host(), work.paths(false));
        ctx.settings.Reply_Delay = static_cast<std::int32_t>((seed * 37) % 200);
        ctx.settings.Search_Port = seed % 3 == 0;
        ChaosPeer peer(clock, line, ctx, seed, ChaosOptions{.sizeableIdentity = true});
        peer.onTurn = [&ctx](ChaosPeer& p) {
            if (p.pick(0, 29) == 0) {
                ctx.link.Pending_Request = static_cast<Request>(p.pick(0, 35));
            }
            if (p.pick(0, 49) == 0) ScheduleWrite(ctx, static_cast<std::uint8_t>(p.pick(0, 5)));
        };
        line.host().open();
        bool connected = false;
        for (int i = 0; i < 60; ++i) {
            clock.advance(1000);
            connected = connected || ctx.link.ECU_Connected;
            ASSERT_GE(ctx.link.Program_Counter, 0);
            ASSERT_LE(ctx.link.Program_Counter, kProgramWords + 1);
        }
        for (const Bytes& frame : line.hostWrites()) {
            ASSERT_GE(frame.size(), 3u);
            ASSERT_EQ(frame.back(), FrameChecksum(frame.data(), frame.size() - 1));
            ++frames;
        }
        seedsConnected += connected ? 1 : 0;
    }
    EXPECT_GT(frames, 24u * 40u);
    EXPECT_GE(seedsConnected, 12);
}

} // namespace
} // namespace bifuel::test
