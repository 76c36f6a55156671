// The program's port under the name "replay:FILE", as the desktop program opens it.
#include "ProgramPort.h"
#include "QtHarness.h"
#include "QtPortLister.h"
#include "ReplayModel.h"
#include "files/Live_Log.h"
#include "link/LinkHarness.h"
#include "link/Port_3D_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <fstream>

namespace bifuel::platform {
namespace {

namespace fs = std::filesystem;

// A log of a few frames, each with its own speed word, 300 ms apart.
fs::path writeLog(const fs::path& folder) {
    const fs::path path = folder / "drive.csv";
    std::ofstream out(path, std::ios::binary);
    out << LiveLogHeader() << "\r\n";
    for (int i = 0; i < 8; ++i) {
        LiveLogRecord r;
        r.Time_Ms = 300 * i;
        r.Frame.assign(37, 0);
        r.Frame[0] = 0x10;
        r.Frame[1] = static_cast<std::uint8_t>(0x40 + 8 * i); // the ignition period
        r.Frame[4] = 0xC0;                                    // engine running, pressure normal
        r.Frame[36] = 1;                                      // petrol
        out << FormatLiveLogLine(r) << "\r\n";
    }
    return path;
}

class ReplayPort : public ::testing::Test {
  protected:
    ReplayPort() {
        test::App();
        ctx.link.Main_Shown = true;
        ctx.settings.Search_Port = false;
        liveWatch = ctx.events.liveData.subscribe([this] {
            if (speeds.empty() || speeds.back() != ctx.live.Live_RPM)
                speeds.push_back(ctx.live.Live_RPM);
        });
    }

    test::TempWorkDir work;
    VirtualScheduler clock;
    ProgramPort port{clock};
    Context ctx{clock, port, work.paths(true)};
    Subscription liveWatch;
    std::vector<int> speeds; // each speed the live data showed, once
};

TEST_F(ReplayPort, PlaysTheLogAsAConnectedEcu) {
    const fs::path log = writeLog(work.path());
    ctx.settings.Port_Name = "replay:" + log.string();
    QtPortLister lister([this] { return ctx.settings.Port_Name; });
    EXPECT_EQ(lister.listPorts().back(), ctx.settings.Port_Name)
        << "the configured replay is listed";
    ASSERT_TRUE(OpenConfiguredPort(ctx)) << port.errorText();
    ASSERT_NE(port.replayCar(), nullptr);
    ASSERT_TRUE(clock.runUntil([&] { return port.replayCar()->model().position() == 7; }, 20000));
    EXPECT_TRUE(ctx.link.ECU_Connected);
    ASSERT_TRUE(clock.runUntil([&] { return speeds.size() == 8; }, 2000));
    // A longer ignition period in every frame: a lower speed in every one.
    EXPECT_TRUE(std::is_sorted(speeds.rbegin(), speeds.rend())) << ::testing::PrintToString(speeds);
}

TEST(ReplayPortFailure, ALogThatCannotBeReadLeavesThePortClosedAndSaysWhy) {
    test::App();
    test::TempWorkDir work;
    std::ofstream(work.path() / "notes.csv") << "not a log\n";
    for (const std::string file : {"missing.csv", "notes.csv"}) {
        SCOPED_TRACE(file);
        VirtualScheduler clock;
        ProgramPort port{clock};
        Context ctx{clock, port, work.paths(true)};
        ctx.link.Main_Shown = true;
        ctx.settings.Search_Port = false;
        ctx.settings.Port_Name = "replay:" + (work.path() / file).string();
        EXPECT_FALSE(OpenConfiguredPort(ctx));
        clock.advance(3000); // the port is tried again now and then, and fails each time
        EXPECT_FALSE(ctx.link.Port_Opened);
        EXPECT_FALSE(ctx.link.ECU_Connected);
        EXPECT_EQ(port.replayCar(), nullptr);
        // The status line names the port and the reason, as for any port that does not open.
        const std::string& said = ctx.portView.Port_Open_Error;
        EXPECT_NE(said.find(ctx.settings.Port_Name), std::string::npos) << said;
        EXPECT_NE(said.find(file == "missing.csv" ? "cannot open" : "is not a live-data log"),
                  std::string::npos)
            << said;
    }
}

} // namespace
} // namespace bifuel::platform
