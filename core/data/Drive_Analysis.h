#pragma once

#include "calibration/Calibr_Unit.h"
#include "files/Live_Log.h"
#include "rpm_map/MapRPM_Unit.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace bifuel {

class Context;

// A sample counts once the mode has held this long: the petrol ECU needs a moment to trim
// the petrol time after a switch, and the times of that moment say nothing about the map.
inline constexpr std::int64_t kDriveSettleMs = 3000;
// Operating points: engine speed and manifold pressure bins.
inline constexpr std::int32_t kDriveRpmBin = 200;
inline constexpr std::int32_t kDrivePressBin = 5; // hundredths of a bar
// Petrol-mode samples a bin needs before it stands for what the engine needs there.
inline constexpr std::int32_t kDriveMinPetrolSamples = 3;
// Matched gas samples a cell needs before its factor is touched. About three seconds of
// steady driving at the live rate: the petrol time of a single frame carries the petrol
// ECU's trim noise of a few percent, ten of them average it well below a factor step.
inline constexpr std::int32_t kDriveMinCellSamples = 10;

// What the log says about one RPM-map cell. Times in microseconds.
struct DriveCell {
    std::int32_t Samples = 0;              // gas samples matched to petrol samples in this cell
    double Mean_Diff_Us = 0;               // petrol time on gas minus petrol time on petrol
    double Mean_Gas_Petrol_Us = 0;         // the petrol time on gas
    double Mean_Petrol_Us = 0;             // the petrol time petrol mode shows at the same points
    std::int32_t Factor = 0;               // the map's factor now, hundredths
    std::int32_t Asked = 0;                // samples that ask this cell for a factor
    std::optional<std::int32_t> Suggested; // hundredths, only when enough samples ask
};

enum class DriveOutcome : std::uint8_t {
    Ready,        // the grid holds matched samples
    EmptyLog,     // no records
    NoMap,        // no RPM map read, loaded or reset yet
    NoGasSamples, // no settled gas-mode samples of a running engine
    NoPetrolSamples,
    NoMatches, // both, but never at the same operating points
};

// The difference grid: cells [c][r] with c = 1..8 (speed columns) and r = 1..12 (petrol-
// time rows) as the map has them; row and column 0 stay empty.
struct DriveAnalysis {
    DriveOutcome Outcome = DriveOutcome::EmptyLog;
    MapGrid<DriveCell> Cells{};
    std::size_t Gas_Samples = 0;     // settled gas-mode samples
    std::size_t Petrol_Samples = 0;  // settled petrol-mode samples
    std::size_t Matched_Samples = 0; // gas samples placed in a cell
    int Suggested_Cells = 0;         // cells whose suggestion differs from their factor
};

// The gas time the diagram gives for a petrol time: straight between its points, and on
// along the first and last segments beyond them. Points whose petrol time does not rise
// are passed over.
double DiagramGasUs(const DiagramModel& diagram, double petrolUs);

// Gas-mode samples against petrol-mode samples at the same speed and manifold pressure,
// put in the map cell each gas sample was in. Each sample asks for the factor that makes
// the gas the diagram gives at the petrol-mode time what was delivered at the gas-mode
// time, f' = f x gas(t_gas) / gas(t_petrol) with f the factor of the sample's cell; it asks
// that of its own cell and of the cell its petrol-mode time lies in. A cell asked by
// enough samples gets their mean, held to the map's limits.
DriveAnalysis AnalyseDrive(std::span<const LiveLogRecord> records, const RpmMap& map,
                           const DiagramModel& diagram);

enum class DriveApplyResult : std::uint8_t {
    Applied, // the working copy changed; the map goes to the ECU the usual way
    NothingToApply,
    NoMap,
    WriteRunning, // the map takes no edits while a write runs
};

struct DriveApplyEnd {
    DriveApplyResult Result = DriveApplyResult::NothingToApply;
    int Cells = 0; // factor cells changed
};

// The suggestions into the Map page's working copy as an edit there would put them: the
// texts, the marks, the cell line, then the debounced send.
DriveApplyEnd ApplyDriveSuggestions(Context& ctx, const DriveAnalysis& analysis);

} // namespace bifuel
