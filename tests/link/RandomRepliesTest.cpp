#include "LinkHarness.h"

#include <random>

namespace bifuel::test {
namespace {

// A peer that answers with anything: well-formed replies of random content and length,
// garbage, silence, at random times. The link must never crash, never touch memory
// outside its buffers (the sanitizers watch), and never send a frame with a bad checksum.
class ChaosPeer {
public:
    ChaosPeer(VirtualScheduler& clock, sim::MemoryLine& line, Context& ctx, std::uint32_t seed)
        : line_(line), ctx_(ctx), rng_(seed), timer_(clock.createTimer()) {
        line.device().open();
        line.device().setEvents({[this] { line_.device().purge(); }, {}, {}});
        timer_->setOnFire([this] { act(); });
        timer_->setInterval(10);
        timer_->start();
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    void act() {
        const auto requests = line_.hostWrites();
        const int choice = pick(0, 99);
        if (choice < 45 && !requests.empty()) {
            reply(requests.back(), ctx_.link.Reply_Length);
        } else if (choice < 55 && !requests.empty()) {
            reply(requests.back(), pick(0, 255));
        } else if (choice < 75) {
            Bytes junk(static_cast<std::size_t>(pick(1, 300)));
            for (auto& b : junk) b = static_cast<std::uint8_t>(pick(0, 255));
            line_.device().write(junk.data(), junk.size());
        }
        if (pick(0, 29) == 0) ctx_.link.Pending_Request = static_cast<Request>(pick(0, 35));
        if (pick(0, 49) == 0) ScheduleWrite(ctx_, static_cast<std::uint8_t>(pick(0, 5)));
        if (pick(0, 199) == 0) line_.setUnplugged(!line_.unplugged());
        timer_->setInterval(pick(0, 800));
        timer_->start();
    }

    // A reply that passes the frame checks when `length` is what the link expects.
    void reply(const Bytes& request, int length) {
        if (request.size() < 2 || length < 1) return;
        Bytes frame(static_cast<std::size_t>(length));
        frame[0] = request[0];
        if (frame.size() > 1) frame[1] = request[1];
        for (std::size_t i = 2; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(pick(0, 255));
        // Lengths outside what the decoders can use get the ECU refused; half the time this
        // peer reports usable ones, so that the link gets past identification and deep.
        if (pick(0, 1) == 0) usableLengths(request[1], frame);
        if (frame.size() >= 3) frame.back() = FrameChecksum(frame.data(), frame.size() - 1);
        line_.device().write(frame.data(), frame.size());
    }

    void usableLengths(std::uint8_t command, Bytes& frame) {
        const auto length = [this](int lo) { return static_cast<std::uint8_t>(pick(lo, 252)); };
        if (command == 0x21 && frame.size() >= 4) frame[2] = length(42);
        if (command == 0x30 && frame.size() >= 45) {
            frame[39] = length(37);
            frame[40] = length(92);
            frame[41] = length(54);
        }
    }

    sim::MemoryLine& line_;
    Context& ctx_;
    std::mt19937 rng_;
    std::unique_ptr<Timer> timer_;
};

TEST(RandomReplies, NeverBreakTheLinkNorItsFrames) {
    // An ECU that reports absurd lengths is refused and left alone, so some seeds end
    // quiet; across all of them the link must have been driven deep.
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
        ChaosPeer peer(clock, line, ctx, seed);
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
