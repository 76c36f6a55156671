#pragma once

#include "MemoryLine.h"
#include "SimEcu.h"
#include "SimOptions.h"
#include "files/Live_Log.h"
#include "files/Live_Recorder.h"
#include "runtime/Scheduler.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bifuel::sim {

// A recorded log, checked for replay: at least one frame, every frame as long as the
// first and long enough for the live decoder, times that never go back. `error` says
// what is wrong, in words for the user; then `records` is empty.
struct ReplayLog {
    std::vector<LiveLogRecord> records;
    std::size_t skippedLines = 0; // e.g. the line a power loss cut
    std::string error;
};
ReplayLog LoadReplayLog(const std::filesystem::path& file);

// The engine of a recorded drive: each live request is answered with the data bytes of
// the last frame whose recorded time has come, counted from the first live request and
// run `speed` times faster than recorded. After the last frame the ECU holds that frame
// as it was, engine bit included, like a car left as the recording ended.
//
// The recording cannot be changed by what the user does: a mode switch or an error clear
// is acknowledged by the ECU (its usual reply) but the live replies keep the recorded
// mode and error bytes. Writes go to the simulated ECU's memory only, and its data-saved
// bit is its own (it reports those writes), never the recording's.
class ReplayModel final : public LiveModel {
  public:
    ReplayModel(const Scheduler& scheduler, std::vector<LiveLogRecord> records, double speed = 1.0);

    // The frame answered last (0 before any request).
    std::size_t position() const { return position_; }
    std::size_t frames() const { return records_.size(); }
    const std::vector<LiveLogRecord>& records() const { return records_; }

    // LiveModel
    std::vector<std::uint8_t> liveData() const override;
    void setMode(std::uint8_t) override {}
    void clearErrors() override {}
    void autoCalibration(const std::uint8_t*, std::size_t) override {}
    bool canSaveNow() const override { return true; }

  private:
    const Scheduler& scheduler_;
    std::vector<LiveLogRecord> records_;
    double speed_;
    // The replay's clock starts with the first live request, so the connection's own
    // reads take nothing from the drive.
    mutable std::optional<std::int64_t> startUs_;
    mutable std::size_t position_ = 0;
};

// A simulated ECU that replays a log: the identity, line faults and speed come from the
// options (a state file is not used: what the user writes stays in memory).
class ReplayCar {
  public:
    // `records` as LoadReplayLog gives them, not empty. The line must outlive the car.
    ReplayCar(Scheduler& scheduler, MemoryLine& line, std::vector<LiveLogRecord> records,
              const SimOptions& options = {});
    ReplayCar(const ReplayCar&) = delete;
    ReplayCar& operator=(const ReplayCar&) = delete;
    ~ReplayCar();

    SimEcu& ecu() { return ecu_; }
    ReplayModel& model() { return model_; }

  private:
    SimEcu ecu_;
    ReplayModel model_;
};

// The replaying ECU of a port named "replay:FILE", on `line`. None when the log cannot be
// played: the line's host end then fails to open with the reason, as a port that is not
// there does, so nothing is left half connected.
std::unique_ptr<ReplayCar> OpenReplay(Scheduler& scheduler, MemoryLine& line,
                                      std::string_view portName, const SimOptions& options);

} // namespace bifuel::sim
