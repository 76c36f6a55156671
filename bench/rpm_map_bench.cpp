// RPM map benchmarks: the live-cell update that follows every live reply, and the two
// conversions of the whole map to and from the ECU's byte stream.
#include "Context.h"
#include "MemoryLine.h"
#include "rpm_map/MapRPM_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <benchmark/benchmark.h>

namespace bifuel {
namespace {

struct MapContext {
    MapContext() { ResetMap(ctx); }
    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host(), MakePaths("/nonexistent", "bifuel-studio")};
};

// Alternates between two cells, so that every call also extends the trace.
void BM_UpdateLiveCell(benchmark::State& state) {
    MapContext m;
    bool high = false;
    for (auto _ : state) {
        high = !high;
        m.ctx.live.Live_RPM = high ? 3200 : 900;
        m.ctx.live.Live_Petrol_Avg = high ? 9500 : 2500;
        UpdateLiveCell(m.ctx);
        benchmark::DoNotOptimize(m.ctx.rpmMap.Live_Cell);
    }
}
BENCHMARK(BM_UpdateLiveCell)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_EncodeMapStream(benchmark::State& state) {
    MapContext m;
    for (auto _ : state) {
        auto stream = EncodeMapStream(m.ctx);
        benchmark::DoNotOptimize(stream.data());
    }
}
BENCHMARK(BM_EncodeMapStream)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_DecodeMapStream(benchmark::State& state) {
    MapContext m;
    std::vector<std::uint8_t> stream = EncodeMapStream(m.ctx);
    m.ctx.link.Map.Read_Stream.assign(stream.begin() + 2, stream.end());
    m.ctx.link.Map.Read_Length = m.ctx.link.Map.Read_Stream.size();
    for (auto _ : state) {
        DecodeMapStream(m.ctx);
        benchmark::DoNotOptimize(m.ctx.rpmMap.Map_Text[8][12].data());
    }
}
BENCHMARK(BM_DecodeMapStream)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
} // namespace bifuel

BENCHMARK_MAIN();
