#include "ChaosPeer.h"
#include "LinkHarness.h"
#include "WireMonitor.h"
#include "link/Link_Operations.h"

#include <array>
#include <cstdlib>
#include <ostream>
#include <random>
#include <vector>

namespace bifuel::test {
namespace {

constexpr auto kReadLive = static_cast<std::uint8_t>(Command::READ_LIVE);
constexpr auto kSetMode = static_cast<std::uint8_t>(Command::SET_MODE);
constexpr auto kAnnounce = static_cast<std::uint8_t>(Command::ANNOUNCE);

// The one place where the tests act as the user: a one-shot request by its number, or an
// edit whose write follows CFG_Transmit_Delay later (2 configuration, 3 diagram, 4 map).
enum class UserAct { Request, Edit };
void ActAsUser(Context& ctx, UserAct act, int n) {
    if (act == UserAct::Edit) {
        ScheduleWrite(ctx, static_cast<std::uint8_t>(n));
    } else {
        SetPendingRequest(ctx, static_cast<Request>(n));
    }
}
// Whether something the user asked for has not been taken up yet: asking again now would
// replace it (the latest request wins).
bool UserRequestWaiting(const Context& ctx) {
    return ctx.link.Pending_Request != Request::None || ctx.timers.Timer_GEN_Transmit->isRunning();
}

constexpr int kSwitchToGas = 17;
constexpr int kWriteConfiguration = 22;
constexpr int kWriteDiagram = 23;
constexpr int kWriteMap = 24;
constexpr std::array kUserRequests{17, 18, 19, 21, 22, 23, 24, 25, 26, 27, 28};

// ---- Properties over many random runs ----------------------------------------------------

constexpr std::uint32_t kSeeds = 100;
constexpr std::int64_t kChaosMs = 60'000;
constexpr std::int64_t kCalmMs = 40'000; // a well-behaved ECU at the end of every run

enum Property { WellFormed, Announced, Answered, LinkLoss, Recovers, kProperties };
constexpr std::array<const char*, kProperties> kPropertyNames{
    "every frame sent is well formed",
    "a data frame goes out only right after the acknowledged ANNOUNCE of its length",
    "every accepted reply answers the frame sent last, from bytes that came after it",
    "silence or a stalled exchange drops the link, and probing resumes",
    "a well-behaved ECU gets polled and a mode switch goes through",
};

struct SeedResult {
    std::array<std::optional<std::string>, kProperties> broken; // first violation, traced
    bool connected = false;
    int dataFramesAcknowledged = 0;
    int linkDrops = 0;
};

// The link under test on a line in memory, every event on it recorded.
struct Rig {
    Rig(std::uint32_t seed, std::mt19937& rng, const TempWorkDir& work)
        : line(clock, Pick(rng, 0, 3) == 0 ? sim::MemoryLine::kByteTimeUs9600 : 0),
          monitor(clock, line.host()), ctx(clock, monitor, work.paths(false)) {
        ctx.link.Main_Shown = true;
        ctx.settings.Search_Port = false;
        ctx.settings.Port_Name = "ttyTEST0";
        monitor.setPortName("ttyTEST0");
        ctx.settings.Reply_Delay = Pick(rng, 0, 1000);
        monitor.watch(ctx.events);
        monitor.note("seed " + std::to_string(seed) + ", Reply_Delay " +
                     std::to_string(ctx.settings.Reply_Delay) + " ms");
    }
    static int Pick(std::mt19937& rng, int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    }

    VirtualScheduler clock;
    sim::MemoryLine line;
    WireMonitor monitor;
    Context ctx;
};

// A peer that answers anything for kChaosMs while the user acts at random; the cable is
// plugged in again at the end.
void RunChaos(Rig& rig, std::mt19937& rng) {
    Context& ctx = rig.ctx;
    auto peer =
        std::make_unique<ChaosPeer>(rig.clock, rig.line, ctx, static_cast<std::uint32_t>(rng()),
                                    ChaosOptions{.sizeableIdentity = true});
    peer->onCable = [&rig](bool plugged) { rig.monitor.cable(plugged); };
    peer->onTurn = [&ctx](ChaosPeer& p) {
        if (!p.chance(6)) return;
        if (p.chance(30)) {
            ActAsUser(ctx, UserAct::Edit, p.pick(2, 4));
        } else {
            ActAsUser(ctx, UserAct::Request,
                      kUserRequests[static_cast<std::size_t>(
                          p.pick(0, static_cast<int>(kUserRequests.size()) - 1))]);
        }
    };
    rig.monitor.open();
    rig.clock.advance(kChaosMs);
    peer.reset();
    if (rig.line.unplugged()) {
        rig.line.setUnplugged(false);
        rig.monitor.cable(true);
    }
}

// How the run ended with a well-behaved ECU.
struct CalmEnd {
    bool polled = false;
    bool askedToSwitch = false;
    bool switched = false;
};

// Once the link polls and whatever the user asked for before has run, the user asks to
// switch to gas; the run ends when the ECU acknowledged that.
CalmEnd RunCalm(Rig& rig) {
    CalmEnd end;
    auto watch =
        rig.ctx.events.replyAccepted.subscribe([&end](std::span<const std::uint8_t> reply) {
            end.polled = end.polled || reply[1] == kReadLive;
            end.switched = end.switched || (end.askedToSwitch && reply[1] == kSetMode);
        });
    VirtualScheduler& clock = rig.clock;
    const std::int64_t endMs = clock.nowMs() + kCalmMs;
    if (clock.runUntil([&] { return end.polled && !UserRequestWaiting(rig.ctx); }, kCalmMs)) {
        ActAsUser(rig.ctx, UserAct::Request, kSwitchToGas);
        end.askedToSwitch = true;
        clock.runUntil([&end] { return end.switched; }, endMs - clock.nowMs());
    }
    return end;
}

// What keeps the link from having recovered at the end; empty when it did.
std::string RecoveryProblem(const Context& ctx, const CalmEnd& end) {
    std::string recovery;
    if (!end.polled) {
        recovery = "no live-data reply within " + std::to_string(kCalmMs / 1000) +
                   " s after a well-behaved ECU took over";
    } else if (!end.askedToSwitch) {
        recovery = "an earlier request of the user was never taken up";
    } else if (!end.switched) {
        recovery = "a mode switch asked for once polling resumed was never acknowledged";
        if (ctx.link.Write_Running) recovery += " (a write is still marked running)";
    } else if (ctx.link.Write_Running) {
        recovery = "a write is still marked running at the end";
    } else if (ctx.view.TForm_3D_Wait == WaitForm::Large) {
        recovery = "the wait window is still large at the end";
    }
    return recovery;
}

SeedResult Judge(std::uint32_t seed, const Rig& rig, const CalmEnd& end) {
    SeedResult result;
    const WireMonitor& monitor = rig.monitor;
    const auto& log = monitor.log();
    const auto report = [&](Property p, const Violation& v) {
        result.broken[p] = "seed " + std::to_string(seed) + ": " + v.what + "\n" +
                           monitor.trace(v.at, std::getenv("LINK_PROPERTY_TRACE") ? 60 : 20);
    };
    if (auto v = FirstMalformedFrame(log)) report(WellFormed, *v);
    if (auto v = FirstUnannouncedDataFrame(log)) report(Announced, *v);
    if (auto v = FirstStrayReply(log)) report(Answered, *v);
    const std::int64_t delay = rig.ctx.settings.Reply_Delay;
    // A stalled exchange may be noticed only at its next repeat: one more ANNOUNCE and data
    // frame, each Reply_Delay after the reply before it, and the data frame's timeout.
    // An ECU that was refused is probed again only after the link-loss delay.
    const LinkLossBounds bounds{
        .silenceMs = 5000, .stallMs = 5000 + 2 * delay + 1000, .probeMs = 5000 + 1000 + delay};
    if (auto v = FirstMissedLinkLoss(log, rig.clock.nowUs(), bounds)) report(LinkLoss, *v);
    if (const std::string recovery = RecoveryProblem(rig.ctx, end); !recovery.empty())
        report(Recovers, {log.size(), recovery});

    for (std::size_t i = 0; i < log.size(); ++i) {
        const WireEvent& e = log[i];
        if (e.kind == WireEvent::Kind::Connected) result.connected = true;
        if (e.kind == WireEvent::Kind::Disconnected) ++result.linkDrops;
        if (e.kind == WireEvent::Kind::Accepted && e.bytes.size() >= 2 &&
            wire::IsDataFrame(e.bytes[1])) {
            ++result.dataFramesAcknowledged;
        }
    }
    return result;
}

SeedResult RunSeed(std::uint32_t seed, const TempWorkDir& work) {
    std::mt19937 rng(seed);
    Rig rig(seed, rng, work);
    RunChaos(rig, rng);
    rig.monitor.note("a well-behaved ECU takes over");
    sim::SimEcu ecu(rig.clock, rig.line.device());
    const CalmEnd end = RunCalm(rig);
    return Judge(seed, rig, end);
}

// The seeds to run: all of them, or the one LINK_PROPERTY_SEED names, to replay a failure.
std::vector<std::uint32_t> SeedsToRun() {
    if (const char* one = std::getenv("LINK_PROPERTY_SEED")) {
        return {static_cast<std::uint32_t>(std::strtoul(one, nullptr, 10))};
    }
    std::vector<std::uint32_t> seeds;
    for (std::uint32_t seed = 1; seed <= kSeeds; ++seed)
        seeds.push_back(seed);
    return seeds;
}

// The link against a peer that answers anything, over many seeds, with the user acting at
// random times; each run ends with a well-behaved ECU. A failure names the seed and shows
// the events that led to it.
TEST(LinkProperties, HoldWhateverThePeerAndTheUserDo) {
    TempWorkDir work; // writes save configuration files
    const std::vector<std::uint32_t> seeds = SeedsToRun();
    std::array<int, kProperties> failures{};
    std::array<std::string, kProperties> first;
    int connected = 0;
    int dataFrames = 0;
    int drops = 0;
    for (const std::uint32_t seed : seeds) {
        const SeedResult r = RunSeed(seed, work);
        for (int p = 0; p < kProperties; ++p) {
            if (!r.broken[p]) continue;
            if (failures[p]++ == 0) first[p] = *r.broken[p];
        }
        connected += r.connected ? 1 : 0;
        dataFrames += r.dataFramesAcknowledged;
        drops += r.linkDrops;
    }
    for (int p = 0; p < kProperties; ++p) {
        EXPECT_EQ(failures[p], 0) << kPropertyNames[p] << ": broken on " << failures[p] << " of "
                                  << seeds.size() << " seeds; the first:\n"
                                  << first[p];
    }
    if (seeds.size() < kSeeds) return;
    // The runs went deep enough to mean something.
    EXPECT_GE(connected, static_cast<int>(kSeeds * 9 / 10));
    EXPECT_GE(dataFrames, static_cast<int>(kSeeds));
    EXPECT_GE(drops, static_cast<int>(kSeeds));
}

// ---- The faults those runs found, each on its own ----------------------------------------

// A link and a simulated ECU with the monitor between them. Each case gets a fresh set: a
// fault may leave the link unable to run the next one.
class LinkFault : public LinkHarness {
  protected:
    // Runs until the link accepts a reply to `command`.
    bool runUntilAccepted(std::uint8_t command, std::int64_t limitMs = 10000) {
        const std::size_t from = monitor.log().size();
        return clock.runUntil(
            [&] {
                const auto replies = since(from, WireEvent::Kind::Accepted);
                return !replies.empty() && replies.back().bytes[1] == command;
            },
            limitMs);
    }
    // Runs until a frame goes out after log entry `from`.
    bool runUntilSent(std::size_t from, std::int64_t limitMs = 5000) {
        return clock.runUntil([&] { return !since(from, WireEvent::Kind::Sent).empty(); }, limitMs);
    }
    // The events of one kind from log entry `from` on.
    std::vector<WireEvent> since(std::size_t from, WireEvent::Kind kind) const {
        std::vector<WireEvent> out;
        const auto& log = monitor.log();
        for (std::size_t i = from; i < log.size(); ++i) {
            if (log[i].kind == kind) out.push_back(log[i]);
        }
        return out;
    }
    void pullCable() {
        line.setUnplugged(true);
        monitor.cable(false);
    }
    void plugCable() {
        line.setUnplugged(false);
        monitor.cable(true);
    }
    // Fails with what broke and the events up to it. `from`: where in the log the checked
    // part began.
    ::testing::AssertionResult holds(const std::optional<Violation>& v,
                                     std::size_t from = 0) const {
        if (!v) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << v->what << "\n" << monitor.trace(from + v->at);
    }
    std::string trace() const { return monitor.trace(monitor.log().size()); }
};

// Cases of the tables below go by their names, in test names and messages.
template <typename Case> std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}
template <typename Case, typename = decltype(&Case::name)>
std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

// A copy of the last reply that lands while the next request still waits out Reply_Delay
// has the code and command of the frame sent last and the length now expected; it must
// not pass for the reply of a request that has not gone out.
struct StrayCase {
    const char* name;
    int request;            // what the user asked for first; 0: plain polling
    std::uint8_t copied;    // the reply that arrives twice
    std::uint8_t nextFrame; // the request armed meanwhile, which must still go out
};
class StrayFrame : public LinkFault, public ::testing::WithParamInterface<StrayCase> {};

TEST_P(StrayFrame, AFrameArrivingBeforeTheRequestIsSentIsNeverItsReply) {
    const StrayCase& c = GetParam();
    ctx.settings.Reply_Delay = 200; // room for the copy to arrive whole
    connect();
    if (c.request != 0) ActAsUser(ctx, UserAct::Request, c.request);
    ASSERT_TRUE(runUntilAccepted(c.copied));
    ASSERT_TRUE(ctx.link.Request_Armed) << "the copy must land before the next request goes";
    const std::size_t from = monitor.log().size();
    const Bytes copy = since(0, WireEvent::Kind::Accepted).back().bytes;
    line.device().write(copy.data(), copy.size());
    ASSERT_TRUE(runUntilSent(from));
    EXPECT_TRUE(since(from, WireEvent::Kind::Accepted).empty())
        << "a reply was taken before its request went out\n"
        << trace();
    EXPECT_EQ(since(from, WireEvent::Kind::Sent).front().bytes[1], c.nextFrame);
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running && polling(); }, 5000));
    EXPECT_EQ(ecu.counters().byCommand.count(c.nextFrame), 1u) << "the request reached the ECU";
    EXPECT_TRUE(holds(FirstStrayReply(std::span(monitor.log()).subspan(from)), from));
}

INSTANTIATE_TEST_SUITE_P(LinkFaults, StrayFrame,
                         ::testing::Values(StrayCase{"GasMapListCopiedWhileThePetrolOneWaits", 0,
                                                     0x27, 0x28},
                                           StrayCase{"AnnounceAckCopiedWhileTheDiagramWaits",
                                                     kWriteDiagram, kAnnounce, 0x33}),
                         CaseName<StrayCase>);

// The ECU takes a data frame only right after the ANNOUNCE it acknowledged. A port failure
// around a data frame ends the write; the link starts over with a probe, even when the
// first reply after the cable is back gets lost.
struct CableCase {
    const char* name;
    bool dataFrameSent; // the cable comes out once the data frame went, else just before
};
class CableAroundADataFrame : public LinkFault, public ::testing::WithParamInterface<CableCase> {};

TEST_P(CableAroundADataFrame, ADataFrameOnlyGoesOutRightAfterItsAcknowledgedAnnounce) {
    connect();
    ActAsUser(ctx, UserAct::Request, kWriteDiagram);
    ASSERT_TRUE(runUntilAccepted(kAnnounce));
    if (GetParam().dataFrameSent) {
        ASSERT_TRUE(runUntilSent(monitor.log().size()));
    }
    pullCable();
    clock.advance(2000);
    plugCable();
    ecu.injectOnce(sim::Fault::Drop);
    EXPECT_TRUE(clock.runUntil([&] { return polling(); }, 15000)) << trace();
    EXPECT_TRUE(holds(FirstUnannouncedDataFrame(monitor.log())));
}

INSTANTIATE_TEST_SUITE_P(LinkFaults, CableAroundADataFrame,
                         ::testing::Values(CableCase{"WhileItWaitsToGo", false},
                                           CableCase{"WhileItWaitsForItsAcknowledgement", true}),
                         CaseName<CableCase>);

// An ECU that acknowledges every ANNOUNCE but never the data frame after it keeps the link
// busy without moving it on: the exchange gives up after 3 restarts and the link drops.
struct DeafCase {
    const char* name;
    int request;
    std::uint8_t dataFrame;
};
class DeafToDataFrames : public LinkFault, public ::testing::WithParamInterface<DeafCase> {};

TEST_P(DeafToDataFrames, AnExchangeThatNeverCompletesEndsAsALinkLoss) {
    const DeafCase& c = GetParam();
    connect();
    bool deaf = true;
    auto drop = ctx.events.frameSent.subscribe([&](std::span<const std::uint8_t> frame) {
        if (deaf && frame[1] == c.dataFrame) ecu.injectOnce(sim::Fault::Drop);
    });
    const std::size_t from = monitor.log().size();
    ActAsUser(ctx, UserAct::Request, c.request);
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.ECU_Connected; }, 30000))
        << "the link never gave up\n"
        << trace();
    const auto sent = since(from, WireEvent::Kind::Sent);
    EXPECT_LE(std::count_if(sent.begin(), sent.end(),
                            [&](const WireEvent& e) { return e.bytes[1] == c.dataFrame; }),
              4)
        << "the data frame and 3 restarts";
    deaf = false;
    EXPECT_TRUE(clock.runUntil([&] { return polling(); }, 15000)) << trace();
}

INSTANTIATE_TEST_SUITE_P(LinkFaults, DeafToDataFrames,
                         ::testing::Values(DeafCase{"Configuration", kWriteConfiguration, 0x32},
                                           DeafCase{"Diagram", kWriteDiagram, 0x33},
                                           DeafCase{"MapChunk", kWriteMap, 0x36}),
                         CaseName<DeafCase>);

// A write cut off by a link loss or a port failure is over: nothing waits for it, and once
// the ECU is back the link polls and the next request goes through.
struct CutCase {
    const char* name;
    bool cable; // the cable comes out; else the ECU falls silent
};
class WriteCutOff : public LinkFault, public ::testing::WithParamInterface<CutCase> {};

TEST_P(WriteCutOff, AWriteCutOffByALinkLossLetsTheNextRequestRun) {
    const bool cable = GetParam().cable;
    ctx.link.Mode_Bits = 0xF0;
    connect();
    ActAsUser(ctx, UserAct::Request, kWriteDiagram);
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 5000));
    if (cable) {
        pullCable();
    } else {
        ecu.faults().dropEvery = 1;
    }
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.ECU_Connected; }, 10000));
    EXPECT_FALSE(ctx.link.Write_Running);
    EXPECT_NE(ctx.view.TForm_3D_Wait, WaitForm::Large);
    if (cable) {
        plugCable();
    } else {
        ecu.faults().dropEvery = 0;
    }
    ASSERT_TRUE(clock.runUntil([&] { return polling(); }, 20000)) << trace();
    ActAsUser(ctx, UserAct::Request, kSwitchToGas);
    EXPECT_TRUE(runUntilAccepted(kSetMode)) << "the mode switch never went through\n" << trace();
    EXPECT_EQ(ecu.state().lastModeByte, 0xF4);
}

INSTANTIATE_TEST_SUITE_P(LinkFaults, WriteCutOff,
                         ::testing::Values(CutCase{"EcuFallsSilent", false},
                                           CutCase{"CableComesOut", true}),
                         CaseName<CutCase>);

} // namespace
} // namespace bifuel::test
