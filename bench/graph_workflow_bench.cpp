// The installer's whole calibration workflow on the simulated car, in virtual time, through
// the operations the program's buttons call: a Default auto-calibration; MAP point
// collection switched on, two minutes of driving at varied speed and load on petrol and on
// gas; then "To count" and Yes twice, until the ECU holds the corrected diagram. After each
// stage: the diagram's deviation from the car's hidden true gas curve at 2, 4, 8, 12 and
// 16 ms of petrol time, the MAP pairs the program holds, and what "To count" answered. The
// CPU time is that of the whole workflow.
#include "SimCarRun.h"

#include "calibration/Calibr_Ctrl.h"
#include "data/Calc_Unit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace bifuel {
namespace {

using bench::kRelativeAtUs;

constexpr std::uint8_t kParamSwitchTime = 0x52; // its low bit 1 is Save_Map
constexpr std::uint8_t kSaveMapBit = 0x02;
constexpr std::int64_t kOperationLimitMs = 60000;
constexpr int kSegmentMs = 5000;
constexpr int kLoadLevels = 12; // two segments each, one per fuel: 24 x 5 s = 2 minutes

// What "To count" can answer; the number is the counter's value.
constexpr std::array<const char*, 4> kPromptKeys = {"", "MAP_Ctrl", "MAP_Ctrl_No_Calc",
                                                    "MAP_Ctrl_No_Pair"};

struct Stage {
    const char* name = "";
    bench::CurveDeviation deviation;
    int pairs = 0;
};

struct Workflow {
    std::array<Stage, 3> stages{};
    bool calibrated = false; // the auto-calibration ended with success
    bool saveMapOnEcu = false;
    int promptKey = 0;          // index into kPromptKeys
    bool written = false;       // the corrected diagram's write ended done and the ECU holds it
    bool gasListErased = false; // the ECU's gas MAP list is empty after that write
    double seconds = 0;
    DiagramTimes petrol{};
    DiagramTimes gasBefore{};
    DiagramTimes gasAfter{};
    std::vector<std::array<std::int32_t, 3>> pairs; // band, petrol on petrol, on gas (us)
};

struct Segment {
    int rpm = 0; // 0: idle
    double load = 0;
    bool gas = false;
};

// A fixed drive: every load level from no load to full load once on petrol and once on
// gas, in a shuffled order, in four blocks (petrol, gas, petrol, gas) as an installer who
// switches the fuel now and then; the lightest levels at idle, the others at 1000..4000 rpm.
// Only the generator's raw output is used, so every standard library gives the same drive.
std::vector<Segment> drivingSchedule() {
    std::mt19937 rng(20261211);
    const auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const auto shuffle = [&below](std::vector<int>& v) {
        for (int i = static_cast<int>(v.size()) - 1; i > 0; --i)
            std::swap(v[static_cast<std::size_t>(i)], v[static_cast<std::size_t>(below(i + 1))]);
    };
    std::vector<int> levels(kLoadLevels);
    for (int i = 0; i < kLoadLevels; ++i)
        levels[static_cast<std::size_t>(i)] = i;
    shuffle(levels);
    const std::vector<int> a(levels.begin(), levels.begin() + kLoadLevels / 2);
    const std::vector<int> b(levels.begin() + kLoadLevels / 2, levels.end());

    std::vector<Segment> drive;
    for (const auto& [block, gas] : {std::pair{a, false}, {a, true}, {b, false}, {b, true}}) {
        std::vector<int> order = block;
        shuffle(order);
        for (const int level : order) {
            const double jitter = (below(1000) / 1000.0 - 0.5) * 0.6;
            Segment s;
            s.load = std::clamp((level + jitter) / (kLoadLevels - 1), 0.0, 1.0);
            s.rpm = level <= 1 ? 0 : 1000 + 50 * below(61);
            s.gas = gas;
            drive.push_back(s);
        }
    }
    return drive;
}

int mapPairs(const MapPoints& m) {
    int n = 0;
    for (std::size_t k = 0; k < std::min<std::size_t>(m.MAP_Point_Count, kMapPointsMax); ++k)
        n += m.MAP_Gas[k] != 0 && m.MAP_Petrol[k] != 0;
    return n;
}

bool ecuHoldsDiagram(const sim::EcuState& s, const DiagramModel& d) {
    for (std::size_t i = 0; i < kDiagramPoints; ++i) {
        if (s.diagram[i].gas != d.Gas_Point[i] ||
            (s.diagram[i].petrol & 0x7FFF) != d.Petrol_Point[i])
            return false;
    }
    return true;
}

// The driving schedule, then back to idle on petrol, where the installer works at the laptop.
void drive(bench::SimCarRun& run) {
    Context& ctx = run.ctx;
    sim::EngineModel& engine = run.car.engine();
    bool onGas = false;
    for (const Segment& s : drivingSchedule()) {
        if (s.gas != onGas) {
            onGas = s.gas;
            if (onGas) {
                SwitchToGas(ctx);
            } else {
                SwitchToPetrol(ctx);
            }
        }
        engine.requestRpm(s.rpm);
        engine.setLoad(s.load);
        run.clock.advance(kSegmentMs);
    }
    engine.requestRpm(0);
    engine.setLoad(0);
    SwitchToPetrol(ctx);
    run.clock.runUntil([&] { return engine.snapshot().mode == 1 && run.linkIdle(); },
                       kOperationLimitMs);
    run.clock.advance(3000);
}

// The number of the prompt "To count" shows; 0 for none of them.
int shownPromptKey(const Context& ctx) {
    int key = 0;
    for (std::size_t i = 1; i < kPromptKeys.size(); ++i) {
        if (ctx.diagramView.Prompt_Panel.text == ctx.LangText(kPromptKeys[i]))
            key = static_cast<int>(i);
    }
    return key;
}

// The MAP pairs the collection holds: band, petrol on petrol and on gas (us).
std::vector<std::array<std::int32_t, 3>> collectedPairs(const MapPoints& m) {
    std::vector<std::array<std::int32_t, 3>> pairs;
    for (std::size_t k = 0; k < std::min<std::size_t>(m.MAP_Point_Count, kMapPointsMax); ++k) {
        if (m.MAP_Gas[k] != 0 && m.MAP_Petrol[k] != 0)
            pairs.push_back(
                {static_cast<std::int32_t>(k), m.MAP_Petrol[k] * 10, m.MAP_Gas[k] * 10});
    }
    return pairs;
}

Workflow runWorkflow(bool autoCalibrate) {
    sim::SimOptions options;
    options.engine.warm = true;
    bench::SimCarRun run(options);
    Context& ctx = run.ctx;
    sim::EngineModel& engine = run.car.engine();
    sim::EcuState& ecu = run.car.ecu().state();
    std::vector<OperationEnd> ends;
    const Subscription endWatch =
        ctx.events.operationEnded.subscribe([&ends](const OperationEnd& e) { ends.push_back(e); });
    // Runs until an operation for `request` that ended after `from` ended; its result.
    const auto awaitEnd = [&](Request request, std::size_t from) -> std::optional<OperationResult> {
        std::optional<OperationResult> result;
        run.clock.runUntil(
            [&] {
                for (std::size_t i = from; i < ends.size(); ++i) {
                    if (ends[i].request == request) result = ends[i].result;
                }
                return result.has_value() && run.linkIdle();
            },
            kOperationLimitMs);
        return result;
    };
    Workflow w;
    const std::int64_t startUs = run.clock.nowUs();
    if (!run.connect()) return w;

    // 1. Auto-calibration; without it the ECU keeps the default diagram, which gives too
    // little gas, so the MAP points have more to correct.
    if (autoCalibrate) {
        StartAutoCalibration(ctx, "Default");
        run.runAutoCalibrationToEnd();
        w.calibrated = run.acbEnded && run.acbEnded->result == AutoCalibrationResult::Success;
    }
    w.stages[0] = {autoCalibrate ? "auto-calibration" : "connection",
                   bench::curveDeviation(ctx.diagram, engine), mapPairs(ctx.mapPoints)};

    // 2. MAP collection on; the old points go first, as an installer clears them.
    std::size_t from = ends.size();
    HudButton_CLB_MAP_StartClick(ctx);
    w.saveMapOnEcu = awaitEnd(Request::WriteConfig, from) == OperationResult::Done &&
                     (ecu.params[kParamSwitchTime] & kSaveMapBit) != 0;
    for (const auto& [click, request] :
         {std::pair{&HudButton_CLB_MAP_Del_GasClick, Request::EraseMapGas},
          {&HudButton_CLB_MAP_Del_PetrolClick, Request::EraseMapPetrol}}) {
        from = ends.size();
        click(ctx);
        awaitEnd(request, from);
    }
    drive(run);
    w.stages[1] = {"MAP collection", bench::curveDeviation(ctx.diagram, engine),
                   mapPairs(ctx.mapPoints)};
    w.pairs = collectedPairs(ctx.mapPoints);
    w.petrol = ctx.diagram.Petrol_Point;
    w.gasBefore = ctx.diagram.Gas_Point;

    // 3. To count, and Yes twice when it proposes a correction.
    HudButton_CLB_MAP_To_CountClick(ctx);
    w.promptKey = shownPromptKey(ctx);
    from = ends.size();
    if (ctx.diagramView.Prompt_Panel.mode == PromptMode::YesNo) {
        PromptButton1Click(ctx);
        PromptButton1Click(ctx);
        w.written = awaitEnd(Request::EraseGasAndWriteDiagram, from) == OperationResult::Done &&
                    run.clock.runUntil([&] { return ecuHoldsDiagram(ecu, ctx.diagram); },
                                       kOperationLimitMs);
        w.gasListErased = std::all_of(ecu.mapGas.begin(), ecu.mapGas.end(),
                                      [](std::uint8_t b) { return b == 0; });
    } else {
        PromptButton1Click(ctx); // OK
        w.written = ecuHoldsDiagram(ecu, ctx.diagram);
    }
    run.clock.advance(3000); // the polling reads the MAP lists again
    w.gasAfter = ctx.diagram.Gas_Point;
    w.stages[2] = {"To count + Yes", bench::curveDeviation(ctx.diagram, engine),
                   mapPairs(ctx.mapPoints)};
    w.seconds = static_cast<double>(run.clock.nowUs() - startUs) / 1e6;
    return w;
}

void printWorkflow(const Workflow& w, bool autoCalibrated) {
    std::fprintf(stderr, "\nWorkflow on the simulated car, %s (%.1f simulated s)\n",
                 autoCalibrated ? "auto-calibration first" : "from the ECU's default diagram",
                 w.seconds);
    std::fprintf(stderr, "%-18s %6s  %7s %7s %7s %7s %7s  %8s\n", "after", "pairs", "2 ms", "4 ms",
                 "8 ms", "12 ms", "16 ms", "max us");
    for (const Stage& s : w.stages) {
        std::fprintf(stderr, "%-18s %6d ", s.name, s.pairs);
        for (const double p : s.deviation.percent)
            std::fprintf(stderr, " %+6.1f%%", p);
        std::fprintf(stderr, "  %8.0f\n", s.deviation.maxUs);
    }
    std::fprintf(
        stderr,
        "auto-calibration %s; Save_Map on the ECU: %s; To count: %s; ECU holds the diagram: %s; "
        "its gas MAP list erased: %s\n",
        !autoCalibrated ? "not run"
        : w.calibrated  ? "succeeded"
                        : "FAILED",
        w.saveMapOnEcu ? "yes" : "NO",
        w.promptKey == 0 ? "no prompt" : kPromptKeys[static_cast<std::size_t>(w.promptKey)],
        w.written ? "yes" : "NO",
        w.promptKey != 1  ? "not asked"
        : w.gasListErased ? "yes"
                          : "NO");
    std::fprintf(stderr, "MAP pairs (band, bar, petrol on petrol, on gas, difference, us):\n");
    for (const auto& [band, petrol, gas] : w.pairs) {
        const int code = (band + 1) * (kMapPointsMax / 2);
        std::fprintf(stderr, "  %2d %5.2f %6d %6d %+6d\n", band,
                     RawToPressure(static_cast<std::uint8_t>(code >> 8),
                                   static_cast<std::uint8_t>(code & 0xFF)) /
                         100.0,
                     petrol, gas, gas - petrol);
    }
    std::fprintf(stderr, "diagram petrol:  ");
    for (const std::int32_t p : w.petrol)
        std::fprintf(stderr, " %6d", p);
    std::fprintf(stderr, "\ngas before:      ");
    for (const std::int32_t g : w.gasBefore)
        std::fprintf(stderr, " %6d", g);
    std::fprintf(stderr, "\ngas after:       ");
    for (const std::int32_t g : w.gasAfter)
        std::fprintf(stderr, " %6d", g);
    std::fprintf(stderr, "\n\n");
}

void BM_GraphWorkflow(benchmark::State& state, bool autoCalibrate) {
    Workflow w;
    for (auto _ : state)
        w = runWorkflow(autoCalibrate);
    static constexpr std::array<const char*, 3> kPrefix = {"acb_", "map_", "count_"};
    for (std::size_t s = 0; s < w.stages.size(); ++s) {
        for (std::size_t i = 0; i < kRelativeAtUs.size(); ++i) {
            state.counters[std::string(kPrefix[s]) + "dev_pct_" +
                           std::to_string(kRelativeAtUs[i] / 1000) + "ms"] =
                w.stages[s].deviation.percent[i];
        }
        state.counters[std::string(kPrefix[s]) + "pairs"] = w.stages[s].pairs;
        state.counters[std::string(kPrefix[s]) + "max_dev_us"] = w.stages[s].deviation.maxUs;
    }
    state.counters["acb_completed"] = w.calibrated ? 1 : 0;
    state.counters["save_map_on_ecu"] = w.saveMapOnEcu ? 1 : 0;
    state.counters["prompt_key"] = w.promptKey;
    state.counters["proposal"] = w.promptKey == 1 ? 1 : 0;
    state.counters["ecu_holds_diagram"] = w.written ? 1 : 0;
    state.counters["gas_list_erased"] = w.gasListErased ? 1 : 0;
    state.counters["sim_s"] = w.seconds;
    printWorkflow(w, autoCalibrate);
}

BENCHMARK_CAPTURE(BM_GraphWorkflow, AfterAutoCalibration, true)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GraphWorkflow, DefaultDiagram, false)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace bifuel

BENCHMARK_MAIN();
