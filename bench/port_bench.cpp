// Port benchmarks: what one port-search call costs the event loop. With no port present
// the list is read every 100 ms, so reading it must stay far below that.
#include "Context.h"
#include "MemoryLine.h"
#include "QtPortLister.h"
#include "link/Port_3D_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace bifuel {
namespace {

// The system's port list as the program reads it (udev or sysfs, plus the configured port).
void BM_ListSystemPorts(benchmark::State& state) {
    platform::QtPortLister lister([] { return std::string("/dev/null"); });
    std::size_t ports = 0;
    for (auto _ : state) {
        const auto listed = lister.listPorts();
        ports = listed.size();
        benchmark::DoNotOptimize(listed.data());
    }
    state.counters["ports"] = static_cast<double>(ports);
}
BENCHMARK(BM_ListSystemPorts)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

class ManyPorts final : public PortLister {
  public:
    std::vector<std::string> ports;
    std::vector<std::string> listPorts() const override { return ports; }
};

// The core's share of a search call: building the list with the preferred port
// interleaved, and the window's look, for N listed ports.
void BM_StartPortSearch(benchmark::State& state) {
    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host()};
    ManyPorts lister;
    for (int i = 0; i < state.range(0); ++i)
        lister.ports.push_back("/dev/ttyUSB" + std::to_string(i));
    ctx.lister = &lister;
    ctx.settings.Port_Name = lister.ports.back();
    for (auto _ : state) {
        // Every call the first of a search: it builds and announces, and opens nothing.
        ctx.portSearch.Port_Count = 0;
        ctx.portSearch.Announced = false;
        ctx.timers.Timer_Select_ComPort->setInterval(kSelectFirstMs);
        StartPortSearch(ctx);
        benchmark::DoNotOptimize(ctx.portSearch.Port_List.data());
    }
    if (ctx.portSearch.Port_Count != 2 * state.range(0) - 2) state.SkipWithError("not interleaved");
}
BENCHMARK(BM_StartPortSearch)->Arg(4)->Arg(64)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
} // namespace bifuel

BENCHMARK_MAIN();
