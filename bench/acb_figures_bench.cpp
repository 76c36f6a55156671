// Figures of whole auto-calibration runs on the simulated car, in virtual time: run length
// in replies and simulated seconds, the mean petrol difference on gas against petrol after
// the run, and the largest deviation of the resulting diagram from the car's hidden true
// curve between 2 and 16 ms of petrol time, and the deviation relative to the true gas time
// at 2, 4, 8, 12 and 16 ms. The CPU time is that of the whole run.
#include "SimCarRun.h"

#include <benchmark/benchmark.h>

#include <array>
#include <numeric>
#include <string>

namespace bifuel {
namespace {

using bench::kRelativeAtUs;

struct Figures {
    double replies = 0;
    double seconds = 0;
    double meanDiffUs = 0;
    double maxDeviationUs = 0;
    std::array<double, 5> relativeDeviationPct{}; // at kRelativeAtUs
    bool completed = false;
};

Figures runOnce(const std::string& algorithm, const std::string& firmware) {
    sim::SimOptions options;
    options.firmware = firmware;
    options.engine.warm = true;
    bench::SimCarRun run(options);
    Context& ctx = run.ctx;
    sim::SimCar& car = run.car;
    run.connect();

    Figures f;
    StartAutoCalibration(ctx, algorithm);
    const long startReplies = run.replies;
    const std::int64_t startUs = run.clock.nowUs();
    run.runAutoCalibrationToEnd();
    f.replies = static_cast<double>(run.replies - startReplies);
    f.seconds = static_cast<double>(run.clock.nowUs() - startUs) / 1e6;
    f.completed = run.acbEnded && run.acbEnded->result == AutoCalibrationResult::Success;

    // The engine where the run measured: idle, or 2500 rpm for the speed program.
    if (algorithm == "High R.P.M. calibration") car.engine().requestRpm(2500);
    SwitchToGas(ctx);
    run.clock.advance(4000);
    const sim::EngineSnapshot& s = car.engine().snapshot();
    f.meanDiffUs = (std::accumulate(s.petrolUs.begin(), s.petrolUs.end(), 0.0) -
                    std::accumulate(s.neededUs.begin(), s.neededUs.end(), 0.0)) /
                   4;

    const bench::CurveDeviation dev = bench::curveDeviation(ctx.diagram, car.engine());
    f.maxDeviationUs = dev.maxUs;
    f.relativeDeviationPct = dev.percent;
    return f;
}

void BM_AutoCalibration(benchmark::State& state, const std::string& algorithm,
                        const std::string& firmware) {
    Figures f;
    for (auto _ : state)
        f = runOnce(algorithm, firmware);
    state.counters["replies"] = f.replies;
    state.counters["sim_s"] = f.seconds;
    state.counters["mean_petrol_diff_us"] = f.meanDiffUs;
    state.counters["max_curve_dev_us"] = f.maxDeviationUs;
    for (std::size_t i = 0; i < kRelativeAtUs.size(); ++i) {
        state.counters["dev_pct_at_" + std::to_string(kRelativeAtUs[i] / 1000) + "ms"] =
            f.relativeDeviationPct[i];
    }
    state.counters["completed"] = f.completed ? 1 : 0;
}

BENCHMARK_CAPTURE(BM_AutoCalibration, Default, std::string("Default"), std::string("2.54"))
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AutoCalibration, OnlyOffset, std::string("Only OFFSET calibration"),
                  std::string("2.54"))
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AutoCalibration, Fast, std::string("Fast calibration"), std::string("2.54"))
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AutoCalibration, HighRpm, std::string("High R.P.M. calibration"),
                  std::string("2.54"))
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AutoCalibration, Innovational, std::string("Innovational"),
                  std::string("1.63"))
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace bifuel

BENCHMARK_MAIN();
