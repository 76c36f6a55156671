#include "data/Drive_Analysis.h"

#include "Context.h"
#include "data/Calc_Unit.h"
#include "data/Live_Data.h"
#include "link/Global_Unit.h"
#include "rpm_map/MapRPM_View.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace bifuel {
namespace {

constexpr std::uint8_t kEngineRunningBit = 0x80;

// An operating point: speed and manifold pressure bins.
using PointKey = std::pair<std::int32_t, std::int32_t>;

PointKey pointOf(const LiveLogRecord& r) {
    const auto bin = [](std::int32_t v, std::int32_t width) {
        return static_cast<std::int32_t>(std::floor((v + width / 2.0) / width));
    };
    return {bin(r.Rpm, kDriveRpmBin), bin(r.Press_Coll, kDrivePressBin)};
}

struct Sum {
    double total = 0;
    std::int32_t count = 0;
};

struct CellSums {
    double diff = 0;
    double gasTime = 0;
    double petrolTime = 0;
    std::int32_t count = 0;
};

// The map's factor of a cell, hundredths.
std::int32_t factorOf(const RpmMap& map, MapCell c) {
    return TextToScaled(map.Map_Text[static_cast<std::size_t>(c.c)][static_cast<std::size_t>(c.r)],
                        100)
        .value_or(kMapFactorOne);
}

// Settled samples of a running engine, by mode: the gas ones each, the petrol ones summed
// by operating point.
struct SettledSamples {
    std::vector<const LiveLogRecord*> gas;
    std::map<PointKey, Sum> petrol;
    std::size_t petrolCount = 0;
};

SettledSamples settledSamples(std::span<const LiveLogRecord> records) {
    SettledSamples out;
    std::int64_t modeSince = records.front().Time_Ms;
    std::uint8_t mode = records.front().Mode;
    for (const LiveLogRecord& r : records) {
        if (r.Mode != mode) {
            mode = r.Mode;
            modeSince = r.Time_Ms;
        }
        const bool usable = (r.Status & kEngineRunningBit) && r.Rpm > 0 && r.Petrol_Avg_Us > 0 &&
                            r.Time_Ms - modeSince >= kDriveSettleMs;
        if (!usable) continue;
        if (r.Mode == kModeGas) {
            out.gas.push_back(&r);
        } else if (r.Mode == kModePetrol) {
            Sum& s = out.petrol[pointOf(r)];
            s.total += r.Petrol_Avg_Us;
            ++s.count;
            ++out.petrolCount;
        }
    }
    return out;
}

// What the gas samples matched to petrol samples at their operating point say of each cell.
struct Matches {
    MapGrid<CellSums> sums{};
    // Per cell, the factors the samples ask of it: that of the cell a gas sample was in,
    // times the gas the diagram gives at the gas-mode time over that at the petrol-mode
    // time. The cell of the petrol-mode time is asked the same: once corrected, the engine
    // runs there on gas, and a factor left as it was would hold it at that row's edge.
    MapGrid<Sum> asked{};
    std::size_t count = 0;
};

Matches matchGasSamples(const SettledSamples& samples, const RpmMap& map,
                        const DiagramModel& diagram) {
    Matches out;
    for (const LiveLogRecord* r : samples.gas) {
        const auto it = samples.petrol.find(pointOf(*r));
        if (it == samples.petrol.end() || it->second.count < kDriveMinPetrolSamples) continue;
        const MapCell cell = CellAt(map, r->Rpm, r->Petrol_Avg_Us);
        // Below the first row no factor applies: nothing there to correct.
        if (cell.r == 0) continue;
        const double petrolUs = it->second.total / it->second.count;
        CellSums& s = out.sums[static_cast<std::size_t>(cell.c)][static_cast<std::size_t>(cell.r)];
        s.diff += r->Petrol_Avg_Us - petrolUs;
        s.gasTime += r->Petrol_Avg_Us;
        s.petrolTime += petrolUs;
        ++s.count;
        ++out.count;

        const double wanted = DiagramGasUs(diagram, petrolUs);
        const double delivered = DiagramGasUs(diagram, r->Petrol_Avg_Us);
        // A diagram that gives no gas there cannot be corrected by a factor.
        if (!(wanted > 0) || !(delivered > 0)) continue;
        const double factor = factorOf(map, cell) * delivered / wanted;
        const auto ask = [&out, factor](MapCell c) {
            Sum& a = out.asked[static_cast<std::size_t>(c.c)][static_cast<std::size_t>(c.r)];
            a.total += factor;
            ++a.count;
        };
        ask(cell);
        const MapCell target =
            CellAt(map, r->Rpm, static_cast<std::int32_t>(std::lround(petrolUs)));
        if (target.r != 0 && !(target == cell)) ask(target);
    }
    return out;
}

// Each cell's means and, where enough samples ask, its suggested factor.
void fillCells(DriveAnalysis& out, const Matches& matches, const RpmMap& map) {
    for (int c = 1; c <= kMapCols; ++c) {
        for (int r = 1; r <= kMapRows; ++r) {
            const auto ci = static_cast<std::size_t>(c);
            const auto ri = static_cast<std::size_t>(r);
            DriveCell& cell = out.Cells[ci][ri];
            cell.Factor = factorOf(map, {c, r});
            const CellSums& s = matches.sums[ci][ri];
            if (s.count > 0) {
                cell.Samples = s.count;
                cell.Mean_Diff_Us = s.diff / s.count;
                cell.Mean_Gas_Petrol_Us = s.gasTime / s.count;
                cell.Mean_Petrol_Us = s.petrolTime / s.count;
            }
            const Sum& a = matches.asked[ci][ri];
            cell.Asked = a.count;
            if (a.count < kDriveMinCellSamples) continue;
            cell.Suggested = std::clamp(static_cast<std::int32_t>(std::lround(a.total / a.count)),
                                        kMapFactorMin, kMapFactorMax);
            if (*cell.Suggested != cell.Factor) ++out.Suggested_Cells;
        }
    }
}

} // namespace

double DiagramGasUs(const DiagramModel& diagram, double petrolUs) {
    std::array<double, kDiagramPoints> x{};
    std::array<double, kDiagramPoints> y{};
    int n = 0;
    for (int i = 0; i < kDiagramPoints; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const double px = diagram.Petrol_Point[at];
        if (n > 0 && px <= x[static_cast<std::size_t>(n - 1)]) continue;
        x[static_cast<std::size_t>(n)] = px;
        y[static_cast<std::size_t>(n)] = diagram.Gas_Point[at];
        ++n;
    }
    if (n == 0) return 0;
    if (n == 1) return y[0];
    std::size_t seg = 0; // segment [seg, seg + 1]
    while (seg + 2 < static_cast<std::size_t>(n) && petrolUs > x[seg + 1])
        ++seg;
    const double t = (petrolUs - x[seg]) / (x[seg + 1] - x[seg]);
    return y[seg] + t * (y[seg + 1] - y[seg]);
}

DriveAnalysis AnalyseDrive(std::span<const LiveLogRecord> records, const RpmMap& map,
                           const DiagramModel& diagram) {
    DriveAnalysis out;
    if (records.empty()) return out;
    if (!map.Grid_Built) {
        out.Outcome = DriveOutcome::NoMap;
        return out;
    }
    const SettledSamples samples = settledSamples(records);
    out.Gas_Samples = samples.gas.size();
    out.Petrol_Samples = samples.petrolCount;
    if (samples.gas.empty()) {
        out.Outcome = DriveOutcome::NoGasSamples;
        return out;
    }
    if (samples.petrol.empty()) {
        out.Outcome = DriveOutcome::NoPetrolSamples;
        return out;
    }
    const Matches matches = matchGasSamples(samples, map, diagram);
    out.Matched_Samples = matches.count;
    if (out.Matched_Samples == 0) {
        out.Outcome = DriveOutcome::NoMatches;
        return out;
    }
    fillCells(out, matches, map);
    out.Outcome = DriveOutcome::Ready;
    return out;
}

DriveApplyEnd ApplyDriveSuggestions(Context& ctx, const DriveAnalysis& analysis) {
    RpmMap& m = ctx.rpmMap;
    if (!m.Grid_Built) return {DriveApplyResult::NoMap, 0};
    if (ctx.link.Write_Running) return {DriveApplyResult::WriteRunning, 0};
    int changed = 0;
    for (int c = 1; c <= kMapCols; ++c) {
        for (int r = 1; r <= kMapRows; ++r) {
            const auto& suggested =
                analysis.Cells[static_cast<std::size_t>(c)][static_cast<std::size_t>(r)].Suggested;
            if (!suggested) continue;
            std::string& text =
                m.Map_Text[static_cast<std::size_t>(c)][static_cast<std::size_t>(r)];
            if (TextToScaled(text, 100) == *suggested) continue;
            text = FactorText(*suggested);
            ++changed;
        }
    }
    if (changed == 0) return {DriveApplyResult::NothingToApply, 0};
    UpdateMarks(ctx);
    UpdateMapCellData(ctx);
    ScheduleWrite(ctx, 4);
    return {DriveApplyResult::Applied, changed};
}

} // namespace bifuel
