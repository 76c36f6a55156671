// Decoding benchmarks: a live-data reply with both temperature conversions, and a parameter
// reply of 53 entries.
#include "Context.h"
#include "MemoryLine.h"
#include "data/Live_Data.h"
#include "link/Instruction_Unit.h"
#include "link/Receiver_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <benchmark/benchmark.h>

namespace bifuel {
namespace {

Paths shippedPaths() {
    return MakePaths(BIFUEL_SOURCE_DIR "/data", "bifuel-studio");
}

struct DecodingContext {
    DecodingContext() {
        ctx.link.ECU_Connected = true;
        ctx.link.Ident.Firmware_Version = 362;
    }
    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host(), shippedPaths()};
};

void BM_DecodeLiveData(benchmark::State& state) {
    DecodingContext d;
    // The checksum byte is not looked at by the decoder.
    const std::uint8_t frame[40] = {25,   0x23, 0x92, 0x7C, 0x01, 0x90, 0xC1, 0xA0, 0x00, 0x96,
                                    0x01, 0xF4, 0x00, 0x50, 0,    0,    0,    0,    0x02, 0xBC,
                                    0x0A, 0xF0, 0x0A, 0xF0, 0x0B, 0x54, 0x0B, 0x54, 0x0D, 0xAC,
                                    0x0D, 0xAC, 0x0E, 0x10, 0x0E, 0x10, 0,    0,    4,    0};
    for (auto _ : state) {
        DecodeLiveData(d.ctx, frame);
        benchmark::DoNotOptimize(d.ctx.live.Live_TempVap);
    }
    if (d.ctx.live.Live_TempVap == 0) state.SkipWithError("temperature table not read");
}
BENCHMARK(BM_DecodeLiveData)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_DecodeParameters53(benchmark::State& state) {
    DecodingContext d;
    const auto list = ReadList(362);
    auto& rx = d.ctx.link.RX_Frame;
    for (std::size_t i = 0; i < list.size(); ++i) {
        rx[2 + 2 * i] = static_cast<std::uint8_t>(i + 1);
        rx[3 + 2 * i] = static_cast<std::uint8_t>(3 * i);
    }
    d.ctx.link.Reply_Length = static_cast<std::uint8_t>(2 * list.size() + 3);
    for (auto _ : state) {
        DecodeParams(d.ctx, ReceivedReply(d.ctx.link));
        benchmark::DoNotOptimize(d.ctx.config.Level5);
    }
    state.counters["entries"] = static_cast<double>(list.size());
}
BENCHMARK(BM_DecodeParameters53)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
} // namespace bifuel

BENCHMARK_MAIN();
