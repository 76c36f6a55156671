// Figures of whole auto-calibration runs on the simulated car, in virtual time: run length
// in replies and simulated seconds, the mean petrol difference on gas against petrol after
// the run, and the largest deviation of the resulting diagram from the car's hidden true
// curve between 2 and 16 ms of petrol time, and the deviation relative to the true gas time
// at 2, 4, 8, 12 and 16 ms. The CPU time is that of the whole run.
#include "Context.h"
#include "MemoryLine.h"
#include "SimCar.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "link/Link_Operations.h"
#include "link/Transmit_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <optional>
#include <string>
#include <unistd.h>

namespace bifuel {
namespace {

struct Figures {
    double replies = 0;
    double seconds = 0;
    double meanDiffUs = 0;
    double maxDeviationUs = 0;
    std::array<double, 5> relativeDeviationPct{}; // at kRelativeAtUs
    bool completed = false;
};

constexpr std::array<int, 5> kRelativeAtUs = {2000, 4000, 8000, 12000, 16000};

// The gas time the diagram gives for a petrol time, as the ECU interpolates it.
double diagramGas(const DiagramModel& d, int petrolUs) {
    const auto& p = d.Petrol_Point;
    const auto& g = d.Gas_Point;
    std::size_t k = 1;
    while (k < 8 && p[k] < petrolUs) ++k;
    const double span = p[k] - p[k - 1];
    return span > 0 ? g[k - 1] + (petrolUs - p[k - 1]) * (g[k] - g[k - 1]) / span : g[k];
}

bool polling(const Context& ctx) {
    const auto& p = PollingProgram();
    return ctx.link.ECU_Connected &&
           std::equal(p.begin(), p.end(), ctx.link.Program_Words.begin() + 1);
}

Figures runOnce(const std::string& algorithm, const std::string& firmware) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("bifuel-acb-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    Paths paths = MakePaths(dir, "bifuel-studio");
    paths.Dat_Name = BIFUEL_SOURCE_DIR "/data/bifuel-studio.dat";

    VirtualScheduler clock;
    sim::MemoryLine line(clock, sim::MemoryLine::kByteTimeUs9600);
    sim::SimOptions options;
    options.firmware = firmware;
    options.engine.warm = true;
    sim::SimCar car(clock, line.device(), options);
    Context ctx(clock, line.host(), paths);
    ctx.settings.Search_Port = false;
    ctx.link.Main_Shown = true;
    ctx.settings.Port_Name = "sim";
    line.host().setPortName("sim");
    long replies = 0;
    const Subscription counted = ctx.events.replyAccepted.subscribe([&](std::span<const std::uint8_t>) {
        ++replies;
        const std::string& label = ctx.view.HudLabel_3D_ACB_Prompt.text;
        if (label.starts_with(ACB_Prompt_Text(ctx, 14))) {
            car.engine().requestRpm(0);
        } else if (label.starts_with(ACB_Prompt_Text(ctx, 12))) {
            car.engine().requestRpm(2500);
        }
    });
    std::optional<AutoCalibrationEnd> ended;
    const Subscription end =
        ctx.events.autoCalibrationEnded.subscribe([&](const AutoCalibrationEnd& e) { ended = e; });
    line.host().open();
    clock.runUntil([&] { return polling(ctx); }, 20000);
    clock.advance(2000);

    Figures f;
    ctx.settings.ACB_SCR_Type = algorithm;
    ACB_Begin(ctx);
    const long startReplies = replies;
    const std::int64_t startUs = clock.nowUs();
    clock.runUntil(
        [&] {
            return ended && ctx.link.Pending_Request == Request::None && !ctx.link.Write_Running &&
                   polling(ctx);
        },
        900000);
    f.replies = static_cast<double>(replies - startReplies);
    f.seconds = static_cast<double>(clock.nowUs() - startUs) / 1e6;
    f.completed = ended && ended->result == AutoCalibrationResult::Success;

    // The engine where the run measured: idle, or 2500 rpm for the speed program.
    if (algorithm == "High R.P.M. calibration") car.engine().requestRpm(2500);
    SwitchToGas(ctx);
    clock.advance(4000);
    const sim::EngineSnapshot& s = car.engine().snapshot();
    f.meanDiffUs = (std::accumulate(s.petrolUs.begin(), s.petrolUs.end(), 0.0) -
                    std::accumulate(s.neededUs.begin(), s.neededUs.end(), 0.0)) / 4;

    for (int us = 2000; us <= 16000; us += 100) {
        f.maxDeviationUs =
            std::max(f.maxDeviationUs, std::abs(diagramGas(ctx.diagram, us) - car.engine().trueGasUs(us)));
    }
    for (std::size_t i = 0; i < kRelativeAtUs.size(); ++i) {
        const double truth = car.engine().trueGasUs(kRelativeAtUs[i]);
        f.relativeDeviationPct[i] = (diagramGas(ctx.diagram, kRelativeAtUs[i]) - truth) / truth * 100.0;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return f;
}

void BM_AutoCalibration(benchmark::State& state, const std::string& algorithm,
                        const std::string& firmware) {
    Figures f;
    for (auto _ : state) f = runOnce(algorithm, firmware);
    state.counters["replies"] = f.replies;
    state.counters["sim_s"] = f.seconds;
    state.counters["mean_petrol_diff_us"] = f.meanDiffUs;
    state.counters["max_curve_dev_us"] = f.maxDeviationUs;
    for (std::size_t i = 0; i < kRelativeAtUs.size(); ++i) {
        state.counters["dev_pct_at_" + std::to_string(kRelativeAtUs[i] / 1000) + "ms"] = f.relativeDeviationPct[i];
    }
    state.counters["completed"] = f.completed ? 1 : 0;
}

BENCHMARK_CAPTURE(BM_AutoCalibration, Default, std::string("Default"), std::string("2.54"))
    ->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AutoCalibration, OnlyOffset, std::string("Only OFFSET calibration"),
                  std::string("2.54"))->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AutoCalibration, Fast, std::string("Fast calibration"), std::string("2.54"))
    ->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AutoCalibration, HighRpm, std::string("High R.P.M. calibration"),
                  std::string("2.54"))->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AutoCalibration, Innovational, std::string("Innovational"), std::string("1.63"))
    ->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace bifuel

BENCHMARK_MAIN();
