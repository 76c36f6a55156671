// Runs the real bifuel-sim on a pseudo-terminal and talks to it as a program would.
#ifdef BIFUEL_SIM_PATH

#include "ChildProcess.h"
#include "PtyTerminal.h"
#include "link/LinkHarness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace bifuel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::PtyTerminal;

// Guards against a hung simulator only; nothing here measures speed (the pace of the
// simulator's bytes is bench/sim_pty_bench's figure).
constexpr std::chrono::milliseconds kDeadline{10000};

TEST(PtySimulator, AnswersOnItsTerminalAndLeavesCleanly) {
    test::TempWorkDir work;
    const std::filesystem::path link = work.path() / "ttyECU";
    // A stale link from an earlier run is replaced.
    std::filesystem::create_symlink("/nonexistent", link);

    test::ChildProcess sim(BIFUEL_SIM_PATH, {"--link", link.string(), "--seed", "3"}, work.path(),
                           work.path());
    ASSERT_TRUE(sim.started());
    const auto path = sim.firstLine(kDeadline);
    ASSERT_TRUE(path.has_value()) << "no terminal path on standard output";
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), *path);

    {
        PtyTerminal t(link.string());
        ASSERT_TRUE(t.isOpen());
        const Bytes probe{25, 0x21, 0x21, 0x21, 0x7C};
        EXPECT_EQ(t.exchange(probe, 4, kDeadline).bytes, (Bytes{0x19, 0x21, 0x2A, 0x64}));

        // The identification block, 45 bytes.
        const auto ident = t.exchange(PtyTerminal::ShortRequest(0x30), 45, kDeadline);
        ASSERT_EQ(ident.bytes.size(), 45u);
        EXPECT_EQ(std::string(ident.bytes.begin() + 3, ident.bytes.begin() + 11), "KestraLX");

        // Live data from the engine model: running, petrol times present.
        const auto live = t.exchange(PtyTerminal::ShortRequest(0x23), 40, kDeadline);
        ASSERT_EQ(live.bytes.size(), 40u);
        EXPECT_EQ(live.bytes[6] & 0x80, 0x80);
        EXPECT_GT(live.bytes[22] << 8 | live.bytes[23], 0);
    }

    // The program closed its end; the simulator keeps the terminal and answers the next one.
    {
        PtyTerminal again(path->c_str());
        ASSERT_TRUE(again.isOpen());
        EXPECT_EQ(again.exchange({25, 0x21, 0x21, 0x21, 0x7C}, 4, kDeadline).bytes,
                  (Bytes{0x19, 0x21, 0x2A, 0x64}));
    }

    sim.signal(SIGTERM);
    const auto status = sim.wait(kDeadline);
    ASSERT_TRUE(status.has_value()) << "did not exit on SIGTERM";
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(PtySimulator, RefusesBadOptionsAndAFileInPlaceOfTheLink) {
    test::TempWorkDir work;
    const std::filesystem::path file = work.path() / "not-a-link";
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const struct {
        std::vector<std::string> args;
        int exitCode;
    } cases[] = {
        {{"--code", "24"}, 2},
        {{"--sim-option", "load=200"}, 2},
        {{"--bogus"}, 2},
        {{"--link", file.string()}, 1},
    };
    for (const auto& c : cases) {
        test::ChildProcess sim(BIFUEL_SIM_PATH, c.args, work.path(), work.path());
        ASSERT_TRUE(sim.started());
        EXPECT_EQ(sim.exitCode(kDeadline), c.exitCode) << c.args[0];
        EXPECT_EQ(sim.out(), "") << c.args[0];
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(file)) << "a file is never replaced";
}

} // namespace
} // namespace bifuel::sim

#endif // BIFUEL_SIM_PATH
