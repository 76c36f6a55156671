// A command without a port on a machine with several: the tool runs the program's port
// search, says which ports it tries, and works with the one the ECU answers on.
#include "Cli_Session.h"
#include "link/LinkHarness.h"
#include "link/PortRouter.h"

#include "MemoryLine.h"
#include "SimEcu.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>

namespace bifuel::cli {
namespace {

using test::PortRouter;

TEST(CliPortSearch, TriesThePortsInTurnAndWorksWithTheOneThatAnswers) {
    test::TempWorkDir work;
    VirtualScheduler clock;
    PortRouter port(clock);
    sim::SimEcu ecu(clock, port.line("ttyS1").device());
    Context ctx(clock, port, work.paths(true));
    test::FakeLister lister;
    lister.ports = {"ttyS0", "ttyS1", "ttyS2"};
    ctx.lister = &lister;
    ctx.settings.Search_Port = true;
    std::ostringstream out;
    std::ostringstream err;
    SessionOptions options;
    options.searchPort = true;
    options.timeoutS = 60;
    Session session(ctx, options, out, err);
    session.start(Command{"identify", {}}, [](int) {});
    ASSERT_TRUE(clock.runUntil([&] { return session.done(); }, 120000)) << err.str();

    EXPECT_EQ(session.exitCode(), kDone) << err.str();
    EXPECT_NE(out.str().find("port: ttyS1\n"), std::string::npos) << out.str();
    const std::string log = err.str();
    const auto first = log.find("trying ttyS0\n");
    const auto second = log.find("trying ttyS1\n");
    ASSERT_NE(first, std::string::npos) << log;
    ASSERT_NE(second, std::string::npos) << log;
    EXPECT_LT(first, second);
    EXPECT_EQ(log.find("trying ttyS2"), std::string::npos) << "the search stops at the ECU\n"
                                                           << log;
    EXPECT_NE(log.find("the ECU answered on ttyS1\n"), std::string::npos) << log;
}

// Which port a command uses, and when it searches.
TEST(CliPortSearch, ChoosesTheGivenTheConfiguredOrTheOnlyPortAndSearchesAmongSeveral) {
    const std::vector<std::string> none;
    const std::vector<std::string> one{"ttyS0"};
    const std::vector<std::string> two{"ttyS0", "ttyUSB0"};
    const struct {
        const char* what;
        std::string given;
        std::string configured;
        std::vector<std::string> listed;
        std::string port;
        bool search;
        bool error;
    } cases[] = {
        {"given wins", "ttyX", "ttyY", two, "ttyX", false, false},
        {"configured", "", "ttyY", two, "ttyY", false, false},
        {"a blank setting is none", "", " ", one, "ttyS0", false, false},
        {"the only port", "", "", one, "ttyS0", false, false},
        {"several: search", "", "", two, "", true, false},
        {"none at all", "", "", none, "", false, true},
    };
    for (const auto& c : cases) {
        const PortChoice choice = ChoosePort(c.given, c.configured, c.listed);
        EXPECT_EQ(choice.port, c.port) << c.what;
        EXPECT_EQ(choice.search, c.search) << c.what;
        EXPECT_EQ(!choice.error.empty(), c.error) << c.what;
    }
}

} // namespace
} // namespace bifuel::cli
