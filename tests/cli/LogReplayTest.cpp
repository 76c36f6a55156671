// bifuel-cli recording a live log into Logs/ and playing one back as its port.
#if defined(BIFUEL_CLI_PATH)

#include "ChildProcess.h"
#include "files/Live_Log.h"
#include "link/LinkHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace bifuel::cli {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

// The "t=" of each live line left out: the rest is what the ECU's reply showed.
std::vector<std::string> liveLines(const std::string& out) {
    std::vector<std::string> lines;
    const std::regex line(R"(t=\S+ (rpm=[^\n]*))");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator();
         ++it)
        lines.push_back((*it)[1]);
    return lines;
}

std::vector<int> rpmOf(const std::vector<std::string>& lines) {
    std::vector<int> rpm;
    for (const std::string& l : lines)
        rpm.push_back(std::stoi(l.substr(4)));
    return rpm;
}

class CliLiveLog : public ::testing::Test {
  protected:
    CliLiveLog() { fs::copy_file(test::ShippedTable(), work.path() / "bifuel-studio.dat"); }

    CliRun cli(std::vector<std::string> args) {
        test::ChildProcess p(BIFUEL_CLI_PATH, args, work.path(), work.path());
        const int code = p.exitCode(120s);
        return {code, p.out(), p.err()};
    }

    // A drive of the simulated car recorded by the tool: the log's path.
    fs::path recordDrive(CliRun& run) {
        run = cli({"--port", "sim", "--virtual-time", "--sim-option", "warm=1", "--sim-option",
                   "at=3:rpm=2800", "--sim-option", "at=6:load=40", "live", "--seconds", "10",
                   "--log"});
        std::smatch m;
        if (!std::regex_search(run.err, m, std::regex("log: ([^\n]+)\n"))) return {};
        return m[1].str();
    }

    test::TempWorkDir work;
};

TEST_F(CliLiveLog, LiveLogRecordsWhatItShowsAndItsReplayShowsTheSame) {
    CliRun drive;
    const fs::path log = recordDrive(drive);
    ASSERT_EQ(drive.code, 0) << drive.err;
    ASSERT_FALSE(log.empty()) << "the file name is printed: " << drive.err;
    EXPECT_EQ(log.parent_path(), work.path() / "Logs");
    EXPECT_TRUE(std::regex_match(log.filename().string(),
                                 std::regex(R"(CAR01_\d{4}-\d\d-\d\d_\d{6}\.csv)")))
        << log << ": named after the simulated ECU's configuration";
    const LiveLogFile recorded = ReadLiveLog(log);
    ASSERT_TRUE(recorded.Error.empty()) << recorded.Error;
    EXPECT_EQ(recorded.Skipped_Lines, 0u);
    const std::vector<std::string> shown = liveLines(drive.out);
    ASSERT_GE(shown.size(), 25u) << drive.out;
    ASSERT_EQ(recorded.Records.size(), shown.size()) << "one line per live reply";
    std::vector<int> loggedRpm;
    for (const LiveLogRecord& r : recorded.Records)
        loggedRpm.push_back(r.Rpm);
    EXPECT_EQ(loggedRpm, rpmOf(shown));
    EXPECT_GT(loggedRpm.back(), 2000) << "the drive left idle";

    // Played back at its pace, the same replies show the same values.
    const CliRun replay =
        cli({"--port", "replay:" + log.string(), "--virtual-time", "live", "--seconds", "10"});
    ASSERT_EQ(replay.code, 0) << replay.err;
    EXPECT_EQ(liveLines(replay.out), shown);
    EXPECT_EQ(std::distance(fs::directory_iterator(work.path() / "Logs"), fs::directory_iterator()),
              1)
        << "a replay without --log records nothing";

    // On the real clock, through the program's port, five times faster: the log's replies in
    // their order, and after its end the last one held.
    const CliRun fast = cli(
        {"--port", "replay:" + log.string(), "--sim-option", "speed=5", "live", "--seconds", "3"});
    ASSERT_EQ(fast.code, 0) << fast.err;
    const std::vector<std::string> played = liveLines(fast.out);
    ASSERT_GE(played.size(), 4u) << fast.out;
    std::size_t at = 0;
    for (const std::string& line : played) {
        while (at < shown.size() && shown[at] != line)
            ++at;
        ASSERT_LT(at, shown.size()) << line << " is not among the recorded replies, in order";
    }
}

TEST_F(CliLiveLog, AReplayOfALogThatCannotBeReadIsAPortThatDoesNotOpen) {
    test::TempWorkDir other;
    std::ofstream(work.path() / "notes.csv") << "time,speed\n1,2\n";
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--port", "replay:missing.csv", "--virtual-time", "live"}, "cannot open \"missing.csv\""},
        {{"--port", "replay:notes.csv", "--virtual-time", "live"}, "is not a live-data log"},
        {{"--port", "replay:missing.csv", "--timeout", "2", "identify"},
         "cannot open \"missing.csv\""},
        {{"--port", "replay:", "--timeout", "2", "live"}, "no log file"},
    };
    for (const auto& c : cases) {
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, 3) << r.err;
        EXPECT_NE(r.err.find("cannot open port replay:"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(liveLines(r.out).size(), 0u);
    }
}

} // namespace
} // namespace bifuel::cli

#endif
