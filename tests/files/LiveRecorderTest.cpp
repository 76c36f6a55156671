#include "EngineModel.h"
#include "files/Live_Log.h"
#include "files/Live_Recorder.h"
#include "link/LinkHarness.h"
#include "link/Link_Operations.h"
#include "sim/LiveRig.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/resource.h>

namespace bifuel::test {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kNow = 1'700'000'000; // 2023-11-14 22:13:20 on the user's clock

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<fs::path> logsIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

int word(const std::vector<std::uint8_t>& data, std::size_t at) {
    return data.at(at) << 8 | data.at(at + 1);
}

// A configured car with its engine, on the link, recorded as the desktop program records.
class LiveRecording : public ::testing::Test {
  protected:
    LiveRecording() {
        sim::EngineOptions drive;
        drive.warm = true;
        drive.timeline = {{4000, "rpm", "2600"}, {9000, "load", "45"}, {15000, "rpm", "1500"}};
        engine.emplace(rig.clock, ecu, drive);
        statusWatch = rig.ctx.events.status.subscribe([this](const StatusChange& change) {
            if (change.kind == StatusChange::Kind::Added) added.push_back(change.text);
        });
    }

    void record(bool followSetting = true) {
        recorder.emplace(
            rig.ctx, [] { return kNow; }, followSetting);
    }

    // The link dropped by five silent seconds, then the ECU answering again.
    void reconnect() {
        ecu.setLineCut(true);
        ASSERT_TRUE(rig.clock.runUntil([this] { return !rig.ctx.link.ECU_Connected; }, 10000));
        ecu.setLineCut(false);
        ASSERT_TRUE(rig.clock.runUntil([this] { return rig.loaded; }, 20000));
    }

    std::size_t failuresSaid() const {
        return static_cast<std::size_t>(
            std::count_if(added.begin(), added.end(), [this](const std::string& t) {
                return t.starts_with(rig.ctx.LangText("Log_Not_Written"));
            }));
    }

    TempWorkDir work;
    LiveRig rig{work.paths(true)};
    sim::SimEcu ecu{rig.clock, rig.line.device(), ConfiguredEcu()};
    std::optional<sim::EngineModel> engine;
    std::optional<LiveRecorder> recorder;
    std::vector<std::string> added; // texts added to the status line
    Subscription statusWatch;
};

TEST_F(LiveRecording, HoldsOneLinePerLiveFrameOfADriveWithTheValuesTheEcuSent) {
    record();
    // On gas for the second half of the drive, so the mode and the gas times change too.
    rig.onFrame = [this](std::size_t n) {
        if (n == 30) (void)SwitchToGas(rig.ctx);
    };
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runFrames(70));
    const fs::path file = work.path() / "Logs" / "SHOP7_2023-11-14_221320.csv";
    EXPECT_EQ(recorder->file(), file);
    EXPECT_EQ(logsIn(work.path() / "Logs"), std::vector<fs::path>{file});

    const std::string text = readText(file);
    EXPECT_TRUE(text.starts_with(LiveLogHeader() + "\r\n"));
    EXPECT_TRUE(text.ends_with("\r\n")) << "every line whole, flushed as it was written";
    const LiveLogFile log = ReadLiveLog(file);
    ASSERT_TRUE(log.Error.empty()) << log.Error;
    EXPECT_EQ(log.Skipped_Lines, 0u);
    ASSERT_EQ(log.Records.size(), rig.frames.size());
    EXPECT_EQ(recorder->linesWritten(), rig.frames.size());

    bool sawGas = false;
    for (std::size_t i = 0; i < log.Records.size(); ++i) {
        const LiveLogRecord& r = log.Records[i];
        const std::vector<std::uint8_t>& sent = rig.frames[i];
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(r.Frame, sent) << "the reply's bytes as the ECU sent them";
        EXPECT_EQ(r.Time_Ms, (rig.frameUs[i] - rig.frameUs[0]) / 1000)
            << "by the scheduler's clock";
        EXPECT_EQ(std::to_string(r.Rpm), rig.shown[i][2]) << "the speed the indicator showed";
        for (std::size_t c = 0; c < 4; ++c) {
            EXPECT_EQ(r.Petrol_Us[c], word(sent, 18 + 2 * c));
            EXPECT_EQ(r.Gas_Us[c], word(sent, 26 + 2 * c));
        }
        EXPECT_EQ(r.Level, (sent[6] & 3) << 8 | sent[7]);
        EXPECT_EQ(r.Mode, sent[36] & 7);
        EXPECT_EQ(r.Status, sent[4] & 0xF0);
        EXPECT_EQ(r.Error1, sent[34]);
        EXPECT_EQ(r.Error2, sent[35]);
        sawGas = sawGas || (r.Mode == kModeGas && r.Gas_Us[0] > 0);
    }
    EXPECT_GT(log.Records.back().Rpm, 1200) << "the drive left idle";
    EXPECT_TRUE(sawGas) << "the drive went on gas";
    EXPECT_EQ(failuresSaid(), 0u);
}

// A power loss while a line is written leaves it without its line end (or cut anywhere
// in it); the log reads back with every line before it.
TEST_F(LiveRecording, ALogCutInItsLastLineReadsBackWithoutThatLine) {
    record();
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runFrames(12));
    const fs::path file = recorder->file();
    recorder.reset();
    const std::string text = readText(file);
    const LiveLogFile whole = ReadLiveLog(file);
    ASSERT_EQ(whole.Records.size(), 12u);
    const std::size_t lastLine = text.rfind("\r\n", text.size() - 3) + 2;
    const struct {
        const char* name;
        std::size_t keep;
    } cuts[] = {
        {"in the middle", lastLine + (text.size() - lastLine) / 2},
        {"after its first character", lastLine + 1},
        {"before its line end", text.size() - 2},
        {"between CR and LF", text.size() - 1},
    };
    for (const auto& cut : cuts) {
        SCOPED_TRACE(cut.name);
        const fs::path cutFile = work.path() / "cut.csv";
        std::ofstream(cutFile, std::ios::binary | std::ios::trunc) << text.substr(0, cut.keep);
        const LiveLogFile log = ReadLiveLog(cutFile);
        ASSERT_TRUE(log.Error.empty()) << log.Error;
        EXPECT_EQ(log.Skipped_Lines, 1u);
        EXPECT_EQ(log.Records,
                  std::vector<LiveLogRecord>(whole.Records.begin(), whole.Records.end() - 1));
    }
}

TEST_F(LiveRecording, EachConnectionHasItsOwnLogAndTheSettingSwitchesRecordingOff) {
    record();
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runFrames(5));
    const fs::path first = recorder->file();
    reconnect();
    ASSERT_TRUE(rig.runFrames(5));
    const fs::path second = recorder->file();
    // Both began within the same second of the user's clock.
    EXPECT_EQ(second.filename(), "SHOP7_2023-11-14_221320-2.csv");
    EXPECT_NE(first, second);
    const LiveLogFile a = ReadLiveLog(first);
    const LiveLogFile b = ReadLiveLog(second);
    ASSERT_GE(a.Records.size(), 5u);
    ASSERT_EQ(b.Records.size(), 5u);
    EXPECT_EQ(b.Records.front().Time_Ms, 0) << "the new log's own time";
    EXPECT_EQ(a.Records.size() + b.Records.size(), rig.frames.size());

    rig.ctx.settings.Log_Live = false;
    ASSERT_TRUE(rig.runFrames(5));
    EXPECT_TRUE(recorder->file().empty());
    EXPECT_EQ(ReadLiveLog(second).Records.size(), 5u) << "nothing recorded while off";
    EXPECT_EQ(logsIn(work.path() / "Logs").size(), 2u);

    // The command-line tool's --log records whatever the setting says.
    recorder.reset();
    record(false);
    ASSERT_TRUE(rig.runFrames(3));
    EXPECT_EQ(ReadLiveLog(recorder->file()).Records.size(), 3u);
}

TEST_F(LiveRecording, AReplayedLogIsNotRecordedAgain) {
    rig.line.host().setPortName("replay:drive.csv");
    record();
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runFrames(5));
    EXPECT_TRUE(recorder->file().empty());
    EXPECT_FALSE(fs::exists(work.path() / "Logs"));
}

TEST(LiveLogNames, AreTheConfigurationNameWhenItIsSafeAndTheStartTime) {
    const struct {
        const char* name;
        const char* file;
    } cases[] = {
        {"SHOP7", "SHOP7_2023-11-14_221320.csv"},
        {"Golf 1.6 Anna", "Golf 1.6 Anna_2023-11-14_221320.csv"},
        {"", "NONAME_2023-11-14_221320.csv"},
        {"../etc", "NONAME_2023-11-14_221320.csv"},
        {"a/b", "NONAME_2023-11-14_221320.csv"},
        {"CON", "NONAME_2023-11-14_221320.csv"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LiveLogFileName(c.name, kNow), c.file) << c.name;
}

class LogFolder : public ::testing::Test {
  protected:
    // A log of `bytes` written `age` seconds ago.
    fs::path make(const std::string& name, std::uintmax_t bytes, int age) {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary).put('x');
        fs::resize_file(path, bytes);
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(age));
        return path;
    }
    std::vector<std::string> left() const {
        std::vector<std::string> names;
        for (const fs::path& p : logsIn(folder))
            names.push_back(p.filename().string());
        return names;
    }

    TempWorkDir work;
    fs::path folder = work.path() / "Logs";
};

TEST_F(LogFolder, TheOldestLogsGoWhenTheFolderPassesItsSizeAndNeverTheCurrentOne) {
    const struct {
        const char* name;
        std::uintmax_t limit;
        const char* keep;
        std::vector<std::string> left;
    } cases[] = {
        {"under the limit", 1000, "c.csv", {"a.csv", "b.csv", "c.csv", "notes.txt"}},
        {"the oldest until under", 550, "c.csv", {"b.csv", "c.csv", "notes.txt"}},
        {"the current one is kept even when it alone is over",
         100,
         "a.csv",
         {"a.csv", "notes.txt"}},
        {"all but the current one", 300, "c.csv", {"c.csv", "notes.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        make("a.csv", 300, 300); // the oldest
        make("b.csv", 200, 200);
        make("c.csv", 150, 100);
        make("notes.txt", 5000, 400); // not a log: neither counted nor removed
        PruneLogs(folder, c.limit, folder / c.keep);
        EXPECT_EQ(left(), c.left);
    }
}

TEST_F(LiveRecording, ALogBegunWhenTheFolderIsFullRemovesTheOldestLogs) {
    fs::create_directories(work.path() / "Logs");
    const std::uintmax_t mb = 1024 * 1024;
    std::ofstream(work.path() / "Logs" / "OLD_1.csv", std::ios::binary).put('x');
    fs::resize_file(work.path() / "Logs" / "OLD_1.csv", mb / 2);
    fs::last_write_time(work.path() / "Logs" / "OLD_1.csv",
                        fs::file_time_type::clock::now() - std::chrono::hours(2));
    std::ofstream(work.path() / "Logs" / "OLD_2.csv", std::ios::binary).put('x');
    fs::resize_file(work.path() / "Logs" / "OLD_2.csv", mb / 2);
    fs::last_write_time(work.path() / "Logs" / "OLD_2.csv",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));
    rig.ctx.settings.Log_Max_MB = 1;
    record();
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runFrames(2));
    const std::vector<fs::path> expected{work.path() / "Logs" / "OLD_2.csv", recorder->file()};
    EXPECT_EQ(logsIn(work.path() / "Logs"), expected);
}

// Restores the file size limit of the process, whatever the test did.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN); // a write past it fails instead
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
};

TEST_F(LiveRecording, AFolderThatCannotBeWrittenIsToldOnceAndTheLinkGoesOn) {
    std::ofstream(work.path() / "Logs") << "a file where the folder should be";
    record();
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runFrames(10));
    EXPECT_EQ(failuresSaid(), 1u);
    EXPECT_TRUE(recorder->file().empty());
    // The next connection tries again, fails the same way, and says nothing new.
    reconnect();
    ASSERT_TRUE(rig.runFrames(10));
    EXPECT_EQ(failuresSaid(), 1u);
    EXPECT_TRUE(rig.ctx.link.ECU_Connected);
}

TEST_F(LiveRecording, ADiskThatFillsUpStopsTheLogOnceAndTheLinkGoesOn) {
    record();
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runFrames(3));
    const fs::path file = recorder->file();
    const std::size_t before = rig.frames.size();
    {
        // Room for a few lines more, as a disk that is nearly full.
        const FileSizeLimit full(fs::file_size(file) + 1000);
        ASSERT_TRUE(rig.runFrames(30));
    }
    EXPECT_EQ(failuresSaid(), 1u);
    EXPECT_TRUE(recorder->file().empty()) << "recording stopped for this connection";
    ASSERT_TRUE(rig.runFrames(10));
    EXPECT_EQ(failuresSaid(), 1u);
    EXPECT_TRUE(rig.ctx.link.ECU_Connected);
    // What was written reads back: whole lines, the one cut by the full disk skipped.
    const LiveLogFile log = ReadLiveLog(file);
    ASSERT_TRUE(log.Error.empty()) << log.Error;
    EXPECT_GT(log.Records.size(), before);
    EXPECT_LT(log.Records.size(), before + 30);
    EXPECT_LE(log.Skipped_Lines, 1u);
    for (std::size_t i = 0; i < log.Records.size(); ++i)
        EXPECT_EQ(log.Records[i].Frame, rig.frames[i]);
}

} // namespace
} // namespace bifuel::test
