// Runs the real bifuel-sim on a pseudo-terminal and talks to it as a program would.
#ifdef BIFUEL_SIM_PATH

#include "ChildProcess.h"
#include "link/LinkHarness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <numeric>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace bifuel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Guards against a hung simulator only; nothing here measures speed.
constexpr int kDeadlineMs = 10000;

int msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max<int>(0, static_cast<int>(left.count()));
}

// The program side of the terminal: raw, as a serial port is opened.
class Terminal {
  public:
    explicit Terminal(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Terminal() {
        if (fd_ >= 0) ::close(fd_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    // Sends a request and reads until `n` bytes came; each byte with when it was read.
    struct Reply {
        Bytes bytes;
        std::vector<Clock::time_point> times;
    };
    Reply exchange(const Bytes& request, std::size_t n) {
        Reply r;
        if (::write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
            return r;
        const auto deadline = Clock::now() + std::chrono::milliseconds(kDeadlineMs);
        while (r.bytes.size() < n) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, msLeft(deadline)) <= 0) break;
            std::uint8_t buffer[64];
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got <= 0) break;
            const auto now = Clock::now();
            r.bytes.insert(r.bytes.end(), buffer, buffer + got);
            r.times.insert(r.times.end(), static_cast<std::size_t>(got), now);
        }
        return r;
    }

  private:
    int fd_;
};

Bytes request(std::uint8_t cmd) {
    Bytes b{25, cmd, cmd, cmd};
    b.push_back(static_cast<std::uint8_t>(std::accumulate(b.begin(), b.end(), 0u) & 0xFF));
    return b;
}

TEST(PtySimulator, AnswersOnItsTerminalAtTheLinePaceAndLeavesCleanly) {
    test::TempWorkDir work;
    const std::filesystem::path link = work.path() / "ttyECU";
    // A stale link from an earlier run is replaced.
    std::filesystem::create_symlink("/nonexistent", link);

    test::ChildProcess sim(BIFUEL_SIM_PATH, {"--link", link.string(), "--seed", "3"}, work.path(),
                           work.path());
    ASSERT_TRUE(sim.started());
    const auto path = sim.firstLine(std::chrono::milliseconds(kDeadlineMs));
    ASSERT_TRUE(path.has_value()) << "no terminal path on standard output";
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), *path);

    {
        Terminal t(link.string());
        ASSERT_TRUE(t.isOpen());
        const Bytes probe{25, 0x21, 0x21, 0x21, 0x7C};
        EXPECT_EQ(t.exchange(probe, 4).bytes, (Bytes{0x19, 0x21, 0x2A, 0x64}));

        // The identification block, 45 bytes, must not come faster than 9600 baud allows
        // (1.04 ms a byte); some slack for when the terminal hands bytes over.
        const auto ident = t.exchange(request(0x30), 45);
        ASSERT_EQ(ident.bytes.size(), 45u);
        EXPECT_EQ(std::string(ident.bytes.begin() + 3, ident.bytes.begin() + 11), "KestraLX");
        const double spanMs =
            std::chrono::duration<double, std::milli>(ident.times.back() - ident.times.front())
                .count();
        EXPECT_GE(spanMs / 44, 0.9) << "bytes came faster than the line";

        // Live data from the engine model: running, petrol times present.
        const auto live = t.exchange(request(0x23), 40);
        ASSERT_EQ(live.bytes.size(), 40u);
        EXPECT_EQ(live.bytes[6] & 0x80, 0x80);
        EXPECT_GT(live.bytes[22] << 8 | live.bytes[23], 0);
    }

    // The program closed its end; the simulator keeps the terminal and answers the next one.
    {
        Terminal again(path->c_str());
        ASSERT_TRUE(again.isOpen());
        EXPECT_EQ(again.exchange({25, 0x21, 0x21, 0x21, 0x7C}, 4).bytes,
                  (Bytes{0x19, 0x21, 0x2A, 0x64}));
    }

    sim.signal(SIGTERM);
    const auto status = sim.wait(std::chrono::milliseconds(kDeadlineMs));
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
        EXPECT_EQ(sim.exitCode(std::chrono::milliseconds(kDeadlineMs)), c.exitCode) << c.args[0];
        EXPECT_EQ(sim.out(), "") << c.args[0];
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(file)) << "a file is never replaced";
}

} // namespace
} // namespace bifuel::sim

#endif // BIFUEL_SIM_PATH
