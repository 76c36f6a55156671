// The live-data log: what recording costs per frame while polling, and reading a
// one-hour log back.
#include "Context.h"
#include "MemoryLine.h"
#include "files/Live_Log.h"
#include "files/Live_Recorder.h"
#include "files/Paths.h"
#include "runtime/VirtualScheduler.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace bifuel {
namespace {

namespace fs = std::filesystem;

// About an hour of the polling program's 3.2 live frames a second.
constexpr int kHourFrames = 11500;

// A folder of its own under the system's temporary folder, removed afterwards.
struct BenchFolder {
    BenchFolder() {
        path = fs::temp_directory_path() / ("bifuel-log-bench-" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~BenchFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

// A live reply of a car on the road, with values that change from frame to frame.
void fillLive(Context& ctx, int i) {
    LiveData& l = ctx.live;
    l.Live_RPM = 800 + (i * 37) % 4200;
    l.Live_TempVap = 650 + i % 200;
    l.Live_TempGas = 300 + i % 150;
    l.Live_PressVap = 190 + i % 40;
    l.Live_PressColl = 35 + (i * 7) % 60;
    l.Live_PressDiff = l.Live_PressVap - l.Live_PressColl;
    l.Live_Level = i % 1024;
    for (std::size_t c = 1; c <= 4; ++c) {
        l.Live_Petrol_Inj[c] = 2500 + static_cast<std::int32_t>((i * 13 + c * 101) % 9000);
        l.Live_Gas_Inj[c] = 3000 + static_cast<std::int32_t>((i * 17 + c * 89) % 11000);
    }
    l.Live_Petrol_Avg = l.Live_Petrol_Inj[1];
    l.Live_Gas_Avg = l.Live_Gas_Inj[1];
    l.Work_Mode = i % 3 == 0 ? 1 : 4;
    LinkState& link = ctx.link;
    link.Reply_Length = 40; // program code, command, 37 data bytes, checksum
    for (std::size_t b = 0; b < link.Reply_Length; ++b)
        link.RX_Frame[b] = static_cast<std::uint8_t>(i * 31 + b * 7);
}

// One decoded live frame through the recorder as the programs run it: the record made,
// formatted, appended and flushed. The counters turn the CPU time per frame into the share
// of one core that recording takes at the specified cycle's 3.2 frames a second and at
// live-only polling's 9, in millionths of a core (the limit, 0.2 %, is 2000).
void BM_RecordOneLiveFrame(benchmark::State& state) {
    BenchFolder folder;
    VirtualScheduler clock;
    sim::MemoryLine line(clock);
    Context ctx(clock, line.host(), MakePaths(folder.path, "bifuel-studio"));
    ctx.link.ECU_Connected = true;
    ctx.config.CFG_Name = "BENCH";
    LiveRecorder recorder(ctx, [] { return std::int64_t{1'700'000'000}; });
    int i = 0;
    fillLive(ctx, i);
    ctx.events.liveData.notify(); // the log begins: header, folder size
    // Filling the values in is timed too (tens of nanoseconds): pausing the timer around it
    // would cost more than it.
    for (auto _ : state) {
        fillLive(ctx, ++i);
        clock.advanceUs(312'000);
        ctx.events.liveData.notify();
    }
    if (recorder.file().empty() || recorder.linesWritten() != static_cast<std::uint64_t>(i) + 1)
        state.SkipWithError("the recorder did not write every frame");
    using benchmark::Counter;
    state.counters["core_ppm_at_3.2fps"] =
        Counter(1.0 / 3.2e6, Counter::kIsIterationInvariantRate | Counter::kInvert);
    state.counters["core_ppm_at_9fps"] =
        Counter(1.0 / 9e6, Counter::kIsIterationInvariantRate | Counter::kInvert);
}
BENCHMARK(BM_RecordOneLiveFrame)->Repetitions(5)->ReportAggregatesOnly(true);

// Opening a one-hour log: every line read and parsed.
void BM_ReadOneHourLog(benchmark::State& state) {
    BenchFolder folder;
    const fs::path file = folder.path / "hour.csv";
    {
        VirtualScheduler clock;
        sim::MemoryLine line(clock);
        Context ctx(clock, line.host());
        std::ofstream out(file, std::ios::binary);
        out << LiveLogHeader() << "\r\n";
        for (int i = 0; i < kHourFrames; ++i) {
            fillLive(ctx, i);
            out << FormatLiveLogLine(RecordFromLive(ctx, std::int64_t{i} * 313)) << "\r\n";
        }
    }
    std::size_t records = 0;
    for (auto _ : state) {
        const LiveLogFile log = ReadLiveLog(file);
        records = log.Records.size();
        benchmark::DoNotOptimize(records);
    }
    if (records != kHourFrames) state.SkipWithError("the log did not read back whole");
    state.counters["file_MB"] = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);
}
BENCHMARK(BM_ReadOneHourLog)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
} // namespace bifuel

BENCHMARK_MAIN();
