// Simulator benchmarks: one tick of the engine model, and a live-data request answered
// from the model, so a simulated car stays far below the CPU a real line would allow.
#include "MemoryLine.h"
#include "SimCar.h"
#include "runtime/VirtualScheduler.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

namespace bifuel::sim {
namespace {

// A warm engine on gas with MAP recording on: every part of a tick runs.
struct Bench {
    Bench() {
        SimOptions o;
        o.engine.warm = true;
        car = std::make_unique<SimCar>(clock, line.device(), o);
        car->ecu().state().params[0x52] |= 0x02;
        car->engine().setMode(0xF4);
        line.host().open();
    }
    VirtualScheduler clock;
    MemoryLine line{clock};
    std::unique_ptr<SimCar> car;
};

void BM_EngineTick(benchmark::State& state) {
    Bench b;
    for (auto _ : state) {
        b.car->engine().tick();
        benchmark::DoNotOptimize(b.car->engine().snapshot().petrolUs[0]);
    }
    if (b.car->engine().snapshot().gasUs[0] == 0) state.SkipWithError("not on gas");
}
BENCHMARK(BM_EngineTick)->Repetitions(5)->ReportAggregatesOnly(true);

// READ_LIVE in, 40 bytes out, on a line without byte time.
void BM_LiveRequestToReply(benchmark::State& state) {
    Bench b;
    const std::uint8_t request[5] = {25, 0x23, 0x23, 0x23, 0x82};
    std::uint8_t reply[64];
    std::size_t got = 0;
    for (auto _ : state) {
        b.line.host().write(request, sizeof request);
        b.clock.advanceUs(1);
        got = b.line.host().read(reply, sizeof reply);
        benchmark::DoNotOptimize(reply[22]);
    }
    if (got != 40) state.SkipWithError("no live reply");
}
BENCHMARK(BM_LiveRequestToReply)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
} // namespace bifuel::sim

BENCHMARK_MAIN();
