#include "EngineModel.h"
#include "ReplayModel.h"
#include "files/Live_Log.h"
#include "files/Live_Recorder.h"
#include "link/LinkHarness.h"
#include "link/Link_Operations.h"
#include "sim/LiveRig.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

namespace bifuel::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kDriveFrames = 60;

// What the user does during the drive, at the same live frames in the drive and in its
// replay: a switch to gas and an error clear.
void userActions(Context& ctx, std::size_t frame) {
    if (frame == 20) (void)SwitchToGas(ctx);
    if (frame == 40) (void)ClearErrors(ctx);
}

// A drive of a configured car, recorded as the desktop program records it.
class RecordedDrive : public ::testing::Test {
  protected:
    void SetUp() override {
        LiveRig rig(work.paths(true));
        sim::SimEcu ecu(rig.clock, rig.line.device(), ConfiguredEcu());
        sim::EngineOptions options;
        options.warm = true;
        options.errors2 = 0x04; // a gas leak, until the user clears the errors
        options.timeline = {{3000, "rpm", "3000"}, {8000, "load", "50"}, {14000, "rpm", "1800"}};
        sim::EngineModel engine(rig.clock, ecu, options);
        LiveRecorder recorder(rig.ctx, [] { return std::int64_t{1'700'000'000}; });
        rig.onFrame = [&rig](std::size_t n) { userActions(rig.ctx, n); };
        ASSERT_TRUE(rig.connect());
        ASSERT_TRUE(rig.runFrames(kDriveFrames));
        log = recorder.file();
        shown = rig.shown;
        frames = rig.frames;
    }

    // A replay of the log on a fresh link, with the same user actions.
    struct Replay {
        Replay(const Paths& paths, std::vector<LiveLogRecord> records, double speed)
            : rig(paths), car(rig.clock, rig.line, std::move(records), [speed] {
                  sim::SimOptions o;
                  o.replaySpeed = speed;
                  return o;
              }()) {
            rig.onFrame = [this](std::size_t n) {
                positions.push_back(car.model().position());
                userActions(rig.ctx, n);
            };
        }
        LiveRig rig;
        sim::ReplayCar car;
        std::vector<std::size_t> positions; // the frame of the log each live reply carried
    };

    std::vector<LiveLogRecord> records() const {
        const sim::ReplayLog loaded = sim::LoadReplayLog(log);
        EXPECT_TRUE(loaded.error.empty()) << loaded.error;
        return loaded.records;
    }

    TempWorkDir work;
    TempWorkDir replayWork;
    fs::path log;
    std::vector<std::vector<std::string>> shown;
    std::vector<std::vector<std::uint8_t>> frames;
};

TEST_F(RecordedDrive, ItsReplayShowsTheSameIndicatorsFrameByFrameAndThenHoldsTheLastFrame) {
    const std::vector<LiveLogRecord> recorded = records();
    ASSERT_EQ(recorded.size(), kDriveFrames);
    Replay replay(replayWork.paths(true), recorded, 1.0);
    ASSERT_TRUE(replay.rig.connect());
    ASSERT_TRUE(replay.rig.runFrames(kDriveFrames));
    for (std::size_t i = 0; i < kDriveFrames; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(replay.positions[i], i) << "at the recorded pace";
        EXPECT_EQ(replay.rig.shown[i], shown[i]);
        // The mode switch and the error clear did not change what the replay answers.
        EXPECT_EQ(replay.rig.frames[i], frames[i]);
    }
    EXPECT_NE(shown.front(), shown.back()) << "the drive changed what the indicators show";
    EXPECT_EQ(replay.car.ecu().state().lastModeByte & 0x0F, 0x04) << "the switch was acknowledged";

    // The end of the log: the car stays as the recording left it.
    ASSERT_TRUE(replay.rig.runFrames(6));
    for (std::size_t i = kDriveFrames; i < replay.rig.frames.size(); ++i) {
        EXPECT_EQ(replay.positions[i], kDriveFrames - 1);
        EXPECT_EQ(replay.rig.frames[i], frames.back());
        EXPECT_EQ(replay.rig.shown[i], shown.back());
    }
}

TEST_F(RecordedDrive, AFasterReplayPlaysTheSameFramesInOrderAndEndsSooner) {
    const std::vector<LiveLogRecord> recorded = records();
    for (const double speed : {2.0, 4.0, 10.0}) {
        SCOPED_TRACE("speed " + std::to_string(speed));
        Replay replay(replayWork.paths(true), recorded, speed);
        ASSERT_TRUE(replay.rig.connect());
        ASSERT_TRUE(replay.rig.clock.runUntil(
            [&] {
                return !replay.positions.empty() && replay.positions.back() == kDriveFrames - 1;
            },
            60000));
        const std::size_t served = replay.positions.size();
        // The polling program's pace is the same: the log's frames pass `speed` times as fast.
        const double expected = static_cast<double>(kDriveFrames) / speed;
        EXPECT_GE(static_cast<double>(served), expected - 2);
        EXPECT_LE(static_cast<double>(served), expected + 2);
        EXPECT_TRUE(std::is_sorted(replay.positions.begin(), replay.positions.end()));
        for (std::size_t i = 0; i < served; ++i) {
            EXPECT_EQ(replay.rig.frames[i], recorded[replay.positions[i]].Frame) << "reply " << i;
        }
    }
}

class ReplayLogs : public ::testing::Test {
  protected:
    static LiveLogRecord frameAt(std::int64_t ms, std::size_t bytes) {
        LiveLogRecord r;
        r.Time_Ms = ms;
        r.Frame.assign(bytes, 0x11);
        return r;
    }
    fs::path write(const std::string& name, const std::vector<LiveLogRecord>& records,
                   bool header = true) {
        const fs::path path = work.path() / name;
        std::ofstream out(path, std::ios::binary);
        if (header) out << LiveLogHeader() << "\r\n";
        for (const LiveLogRecord& r : records)
            out << FormatLiveLogLine(r) << "\r\n";
        return path;
    }
    TempWorkDir work;
};

TEST_F(ReplayLogs, ALogThatCannotBeReplayedSaysWhy) {
    const struct {
        fs::path file;
        const char* says;
    } cases[] = {
        {work.path() / "missing.csv", "cannot open"},
        {write("other.csv", {frameAt(0, 37)}, false), "is not a live-data log"},
        {write("empty.csv", {}), "holds no live frame"},
        {write("short.csv", {frameAt(0, 20)}), "20 data bytes"},
        {write("mixed.csv", {frameAt(0, 37), frameAt(300, 40)}),
         "frame 2 is not as long as the first"},
        {write("back.csv", {frameAt(0, 37), frameAt(300, 37), frameAt(200, 37)}),
         "the time goes back at frame 3"},
    };
    for (const auto& c : cases) {
        const sim::ReplayLog log = sim::LoadReplayLog(c.file);
        EXPECT_NE(log.error.find(c.says), std::string::npos) << c.file << ": " << log.error;
        EXPECT_TRUE(log.records.empty());
    }
    const sim::ReplayLog good =
        sim::LoadReplayLog(write("good.csv", {frameAt(0, 40), frameAt(300, 40)}));
    EXPECT_TRUE(good.error.empty()) << good.error;
    EXPECT_EQ(good.records.size(), 2u);
}

} // namespace
} // namespace bifuel::test
