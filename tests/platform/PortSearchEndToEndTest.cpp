// The port search on the real event loop and real terminals: simulated ECUs come and go
// as adapters are plugged in and pulled out while the program looks for one.
#ifdef BIFUEL_SIM_PATH

#include "ChildProcess.h"
#include "QtHarness.h"

#include "Context.h"
#include "ProgramPort.h"
#include "QtScheduler.h"
#include "link/LinkHarness.h"
#include "link/Port_3D_Unit.h"

#include <csignal>

namespace bifuel::test {
namespace {

using namespace std::chrono_literals;

// The ports of a folder of device links, as a system lists its adapters.
class FolderLister final : public PortLister {
  public:
    explicit FolderLister(std::filesystem::path folder) : folder_(std::move(folder)) {}
    std::vector<std::string> listPorts() const override {
        std::vector<std::string> ports;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(folder_, ec)) {
            if (std::filesystem::exists(e.path(), ec)) ports.push_back(e.path().string());
        }
        std::sort(ports.begin(), ports.end());
        return ports;
    }

  private:
    std::filesystem::path folder_;
};

TEST(PortSearchEndToEnd, FindsEcusAsTheyArePluggedInAndSearchesAgainWhenOneIsPulledOut) {
    App();
    TempWorkDir work;
    const std::filesystem::path devices = work.path() / "dev";
    std::filesystem::create_directory(devices);
    // An adapter with no ECU behind it, listed from the start.
    PseudoTerminal silent;
    std::filesystem::create_symlink(silent.path(), devices / "ttyS0");

    platform::QtScheduler scheduler;
    platform::ProgramPort port(scheduler);
    Context ctx(scheduler, port, work.paths(false));
    FolderLister lister(devices);
    ctx.lister = &lister;
    ctx.link.Main_Shown = true;
    ctx.settings.Search_Port = true;
    ctx.settings.Port_Name = (devices / "ttyUSB0").string(); // last used, not plugged in

    EXPECT_FALSE(OpenConfiguredPort(ctx));
    ASSERT_TRUE(RunLoopUntil([&] { return ctx.link.Port_Window_Shown; }));
    // The search probes the silent adapter in vain.
    Bytes probes;
    ASSERT_TRUE(RunLoopUntil(
        [&] {
            silent.readInto(probes);
            return !probes.empty();
        },
        10000));

    auto plugIn = [&](const std::string& name) {
        auto sim = std::make_unique<ChildProcess>(
            BIFUEL_SIM_PATH, std::vector<std::string>{"--link", (devices / name).string()},
            work.path(), work.path());
        EXPECT_TRUE(sim->firstLine(10s).has_value()) << sim->err();
        return sim;
    };

    auto first = plugIn("ttyUSB0");
    ASSERT_TRUE(RunLoopUntil([&] { return ctx.link.ECU_Connected; }, 30000))
        << "the ECU plugged in was not found";
    EXPECT_EQ(ctx.settings.Port_Name, (devices / "ttyUSB0").string());
    EXPECT_EQ(port.portName(), (devices / "ttyUSB0").string());
    EXPECT_FALSE(ctx.link.Port_Window_Shown) << "the search window stays after connecting";

    // Pulled out: the simulator ends and its terminal with it.
    first->signal(SIGTERM);
    ASSERT_TRUE(first->wait(10s).has_value());
    ASSERT_TRUE(
        RunLoopUntil([&] { return !ctx.link.ECU_Connected && ctx.link.Port_Window_Shown; }, 15000))
        << "the vanished adapter was not noticed";

    auto second = plugIn("ttyACM0");
    ASSERT_TRUE(RunLoopUntil([&] { return ctx.link.ECU_Connected; }, 30000))
        << "the second ECU was not found";
    EXPECT_EQ(ctx.settings.Port_Name, (devices / "ttyACM0").string());

    // Pulled out again, and this time the user closes the search window: the program
    // leaves every port alone until the next search.
    second->signal(SIGTERM);
    ASSERT_TRUE(second->wait(10s).has_value());
    ASSERT_TRUE(RunLoopUntil([&] { return ctx.link.Port_Window_Shown; }, 15000));
    ClosePortWindow(ctx);
    RunLoopUntil([] { return false; }, 300); // what was on its way
    silent.readInto(probes);
    const std::size_t sentBefore = probes.size();
    RunLoopUntil([] { return false; }, 3000);
    silent.readInto(probes);
    EXPECT_EQ(probes.size(), sentBefore) << "traffic after the search window was closed";
    EXPECT_FALSE(ctx.link.ECU_Connected);
}

} // namespace
} // namespace bifuel::test

#endif
