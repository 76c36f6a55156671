// Link benchmarks: the CPU time between a valid reply and the next armed request, and the
// length of the connection program against the simulated ECU at 9600 baud.
#include "Context.h"
#include "MemoryLine.h"
#include "SimEcu.h"
#include "link/Instruction_Unit.h"
#include "link/Port_3D_Connect.h"
#include "link/Transmit_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <benchmark/benchmark.h>

#include <algorithm>

namespace bifuel {
namespace {

// A connected link in its polling program, waiting for the live-data reply.
struct PollingLink {
    PollingLink() {
        LoadProgram(ctx, PollingProgram());
        ctx.link.ECU_Connected = true;
        ctx.link.Ident.L1 = 37;
        ctx.link.Ident.L5 = 32;
        ctx.link.Probe_Code = 25;
        ctx.link.Sent_Frame[0] = 25;
        ctx.link.Sent_Frame[1] = static_cast<std::uint8_t>(Command::READ_LIVE);
        ctx.link.Reply_Length = 40;
        auto& rx = ctx.link.RX_Frame;
        rx[0] = 25;
        rx[1] = 0x23;
        for (int i = 2; i < 39; ++i)
            rx[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 7);
        rx[39] = FrameChecksum(rx.data(), 39);
    }
    // Back to "live-data request sent", as after every reply.
    void rewind() {
        ctx.link.Program_Counter = 1;
        ctx.link.Reply_Length = 40;
        ctx.link.Awaiting_Reply = true; // the live-data request is out
    }

    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host()};
};

void BM_ValidReplyToNextArmedRequest(benchmark::State& state) {
    PollingLink link;
    for (auto _ : state) {
        link.rewind();
        const bool valid = CheckReply(link.ctx, 40);
        benchmark::DoNotOptimize(valid);
        benchmark::DoNotOptimize(link.ctx.link.TX_Frame[1]);
    }
    if (link.ctx.link.TX_Frame[1] != 0x27) state.SkipWithError("did not arm READ_MAP_GAS");
}
BENCHMARK(BM_ValidReplyToNextArmedRequest)->Repetitions(5)->ReportAggregatesOnly(true);

// The connection program in virtual time against the protocol minimum: the wire time of
// every request and reply byte, Reply_Delay before every request and the one unanswered
// probe (Reply_Delay, then the 550 ms reply timeout).
void BM_ConnectionProgramVirtualTime(benchmark::State& state) {
    constexpr double kByteMs = 10.0 / 9.6; // 10 bits at 9600 baud
    double virtualMs = 0;
    double minimumMs = 0;
    for (auto _ : state) {
        VirtualScheduler clock;
        sim::MemoryLine line(clock, sim::MemoryLine::kByteTimeUs9600);
        sim::SimEcu ecu(clock, line.device());
        Context ctx(clock, line.host());
        ctx.settings.Search_Port = false;
        std::int64_t loadedUs = -1;
        const Subscription loaded =
            ctx.events.dataLoaded.subscribe([&] { loadedUs = clock.nowUs(); });
        line.host().open();
        clock.runUntil([&] { return loadedUs >= 0; }, 60000);
        virtualMs = static_cast<double>(loadedUs) / 1000.0;

        const double delay = ctx.settings.Reply_Delay;
        const auto requests = line.hostWrites();
        std::size_t replyBytes = 0;
        for (const auto& w : line.wireLog()) {
            if (!w.fromHost) replyBytes += w.bytes.size();
        }
        std::size_t requestBytes = 0;
        for (std::size_t i = 1; i < requests.size(); ++i)
            requestBytes += requests[i].size();
        // The first probe goes unanswered; the second leaves at its timeout, every later
        // request Reply_Delay after the reply before it.
        const std::size_t delayed = requests.size() - 2;
        minimumMs = delay + 550.0 + static_cast<double>(delayed) * delay +
                    static_cast<double>(requestBytes + replyBytes) * kByteMs;
        benchmark::DoNotOptimize(virtualMs);
    }
    state.counters["virtual_ms"] = virtualMs;
    state.counters["minimum_ms"] = minimumMs;
    state.counters["over_minimum_pct"] = (virtualMs / minimumMs - 1.0) * 100.0;
}
BENCHMARK(BM_ConnectionProgramVirtualTime)->Iterations(3);

} // namespace
} // namespace bifuel

BENCHMARK_MAIN();
