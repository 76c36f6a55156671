#include "ReplayModel.h"

#include "LiveFrame.h"

#include <algorithm>
#include <cmath>

namespace bifuel::sim {
namespace {

// A live reply is the data bytes plus program code, command and checksum, and its length
// travels in one byte.
constexpr std::size_t kMostLiveBytes = 255 - 3;

} // namespace

ReplayLog LoadReplayLog(const std::filesystem::path& file) {
    ReplayLog out;
    LiveLogFile log = ReadLiveLog(file);
    out.skippedLines = log.Skipped_Lines;
    const std::string where = "the log \"" + file.string() + "\"";
    if (!log.Error.empty()) {
        out.error = log.Error;
        return out;
    }
    if (log.Records.empty()) {
        out.error = where + " holds no live frame";
        return out;
    }
    const std::size_t length = log.Records.front().Frame.size();
    if (length < live::kLength || length > kMostLiveBytes) {
        out.error = where + ": its frames have " + std::to_string(length) + " data bytes, not " +
                    std::to_string(live::kLength) + ".." + std::to_string(kMostLiveBytes);
        return out;
    }
    for (std::size_t i = 1; i < log.Records.size(); ++i) {
        if (log.Records[i].Frame.size() != length) {
            out.error = where + ": frame " + std::to_string(i + 1) + " is not as long as the first";
            return out;
        }
        if (log.Records[i].Time_Ms < log.Records[i - 1].Time_Ms) {
            out.error = where + ": the time goes back at frame " + std::to_string(i + 1);
            return out;
        }
    }
    out.records = std::move(log.Records);
    return out;
}

ReplayModel::ReplayModel(const Scheduler& scheduler, std::vector<LiveLogRecord> records,
                         double speed)
    : scheduler_(scheduler), records_(std::move(records)), speed_(speed > 0 ? speed : 1.0) {}

std::vector<std::uint8_t> ReplayModel::liveData() const {
    if (records_.empty()) return {};
    const std::int64_t now = scheduler_.nowUs();
    if (!startUs_) startUs_ = now;
    // Recorded milliseconds since the first frame that have been played by now.
    const double playedMs = std::floor(static_cast<double>(now - *startUs_) * speed_ / 1000.0);
    const std::int64_t first = records_.front().Time_Ms;
    const auto next = std::upper_bound(records_.begin() + 1, records_.end(), playedMs,
                                       [first](double ms, const LiveLogRecord& r) {
                                           return ms < static_cast<double>(r.Time_Ms - first);
                                       });
    position_ = static_cast<std::size_t>(next - records_.begin()) - 1;
    return records_[position_].Frame;
}

ReplayCar::ReplayCar(Scheduler& scheduler, MemoryLine& line, std::vector<LiveLogRecord> records,
                     const SimOptions& options)
    : ecu_(scheduler, line.device(),
           [&] {
               EcuState state = MakeEcuState(options);
               state.live = records.empty() ? std::vector<std::uint8_t>(live::kLength, 0)
                                            : records.front().Frame;
               state.liveLength = 0;
               return state;
           }()),
      model_(scheduler, std::move(records), options.replaySpeed) {
    ecu_.faults() = options.faults;
    ecu_.setModel(&model_);
}

ReplayCar::~ReplayCar() {
    ecu_.setModel(nullptr);
}

} // namespace bifuel::sim

namespace bifuel::sim {

std::unique_ptr<ReplayCar> OpenReplay(Scheduler& scheduler, MemoryLine& line,
                                      std::string_view portName, const SimOptions& options) {
    const std::string_view file =
        IsReplayPortName(portName) ? portName.substr(kReplayPortPrefix.size()) : std::string_view{};
    ReplayLog log = file.empty() ? ReplayLog{{}, 0, "no log file named after \"replay:\""}
                                 : LoadReplayLog(std::filesystem::path(file));
    if (!log.error.empty()) {
        line.setOpenFailure(log.error);
        return nullptr;
    }
    return std::make_unique<ReplayCar>(scheduler, line, std::move(log.records), options);
}

} // namespace bifuel::sim
