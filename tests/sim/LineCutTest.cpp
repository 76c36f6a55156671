// Timed cuts of the line in the scenario (at=SECONDS:unplug=1|0), in virtual time.

#include "SimCar.h"
#include "link/LinkHarness.h"
#include "link/Transmit_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace bifuel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kProbe{25, 0x21, 0x21, 0x21, 0x7C};

SimOptions cutBetween(const char* cut, const char* restore) {
    SimOptions o;
    EXPECT_EQ(ApplySimOption(o, std::string("at=") + cut + ":unplug=1"), "");
    EXPECT_EQ(ApplySimOption(o, std::string("at=") + restore + ":unplug=0"), "");
    return o;
}

// On a port the car does not own (a pseudo-terminal for bifuel-sim) a cut line is a silent
// ECU: what it was sending is lost, what comes in is dropped, even half a request.
TEST(LineCut, OnAPlainPortTheEcuFallsSilentAndDropsWhatItReceives) {
    VirtualScheduler clock;
    MemoryLine line{clock};
    SimCar car(clock, line.device(), cutBetween("1", "2"));
    line.host().open();
    const auto send = [&](const Bytes& bytes) { line.host().write(bytes.data(), bytes.size()); };
    const auto received = [&] {
        Bytes out(line.host().bytesAvailable());
        out.resize(line.host().read(out.data(), out.size()));
        return out;
    };

    send(kProbe);
    clock.advance(10);
    EXPECT_EQ(received().size(), 4u);

    // A reply still on its way at the cut never arrives.
    clock.advanceUs(800'000 - clock.nowUs());
    car.ecu().setTurnaroundUs(300'000);
    send(kProbe);
    clock.advanceUs(1'500'000 - clock.nowUs());
    EXPECT_TRUE(car.ecu().lineCut());
    car.ecu().setTurnaroundUs(0);
    const int framesBefore = car.ecu().counters().framesReceived;
    send(kProbe);
    clock.advanceUs(1'900'000 - clock.nowUs());
    send(Bytes(kProbe.begin(), kProbe.begin() + 3));
    clock.advanceUs(2'100'000 - clock.nowUs());
    EXPECT_EQ(received(), Bytes{}) << "nothing while cut";
    EXPECT_EQ(car.ecu().counters().framesReceived, framesBefore);

    // Restored: the rest of the half request sent during the cut completes nothing.
    EXPECT_FALSE(car.ecu().lineCut());
    send(Bytes(kProbe.begin() + 3, kProbe.end()));
    clock.advance(100);
    EXPECT_EQ(received(), Bytes{});
    clock.advance(600); // past the gap that ends a stalled request
    send(kProbe);
    clock.advance(10);
    EXPECT_EQ(received(), (Bytes{0x19, 0x21, 0x2A, 0x64}));
    EXPECT_FALSE(line.unplugged()) << "the line itself is not the car's";
}

// In-process the cut unplugs the tool's end of the line: a connected tool loses the link
// at the cut and finds the ECU again after the restore, not before.
TEST(LineCut, AConnectedToolLosesTheLinkAtTheCutAndGetsItBackAfterTheRestore) {
    test::TempWorkDir work;
    VirtualScheduler clock;
    MemoryLine line{clock, MemoryLine::kByteTimeUs9600};
    std::ostringstream messages;
    SimCar car(clock, line, cutBetween("6", "15"), messages);
    Context ctx(clock, line.host(), work.paths(true));
    ctx.settings.Search_Port = false;
    ctx.link.Main_Shown = true;
    ctx.settings.Port_Name = "ttyTEST0";
    line.host().setPortName("ttyTEST0");
    line.host().open();
    const auto polling = [&] {
        const auto& p = PollingProgram();
        return ctx.link.ECU_Connected &&
               std::equal(p.begin(), p.end(), ctx.link.Program_Words.begin() + 1);
    };

    ASSERT_TRUE(clock.runUntil(polling, 5000));
    EXPECT_FALSE(line.unplugged());
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.ECU_Connected; }, 10000));
    EXPECT_GE(clock.nowUs(), 6'000'000) << "connected until the cut";
    EXPECT_TRUE(line.unplugged());

    ASSERT_TRUE(clock.runUntil(polling, 30000));
    EXPECT_GE(clock.nowUs(), 15'000'000) << "back only after the restore";
    EXPECT_FALSE(line.unplugged());
    EXPECT_EQ(messages.str(), "");
}

} // namespace
} // namespace bifuel::sim
