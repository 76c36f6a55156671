// The pace of the real simulator on its pseudo-terminal: a reply must not come faster than
// a 9600-baud line carries it (10 bits a byte, 1.0417 ms), or a program that works against
// the simulator may fail on a car. Measured from the first to the last byte of the
// identification block (45 bytes) and of a live-data reply (40 bytes); the terminal hands
// bytes over in bursts, so a pace somewhat under the line's still counts as paced.

#include "ChildProcess.h"
#include "PtyTerminal.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace bifuel::test {
namespace {

constexpr double kLineMsPerByte = 10.0 / 9.6;
// Below this the simulator is faster than the line: the figure that used to fail the test.
constexpr double kSlowestBurstMsPerByte = 0.9;
constexpr std::chrono::milliseconds kDeadline{10000};

// The simulator in a temporary folder, its terminal opened as a program opens a port.
class RunningSimulator {
  public:
    RunningSimulator()
        : dir_(std::filesystem::temp_directory_path() /
               ("bifuel-pty-bench-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(dir_);
        sim_ = std::make_unique<ChildProcess>(BIFUEL_SIM_PATH,
                                              std::vector<std::string>{"--seed", "3"}, dir_, dir_);
        if (const auto path = sim_->firstLine(kDeadline))
            terminal_ = std::make_unique<PtyTerminal>(*path);
    }
    ~RunningSimulator() {
        terminal_.reset();
        sim_->signal(SIGTERM);
        sim_->wait(kDeadline);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    RunningSimulator(const RunningSimulator&) = delete;
    RunningSimulator& operator=(const RunningSimulator&) = delete;

    PtyTerminal* terminal() const {
        return terminal_ && terminal_->isOpen() ? terminal_.get() : nullptr;
    }

  private:
    std::filesystem::path dir_;
    std::unique_ptr<ChildProcess> sim_;
    std::unique_ptr<PtyTerminal> terminal_;
};

// Milliseconds per byte between the first and the last byte of a reply of `n` bytes; 0
// when the reply did not come whole.
double msPerByte(PtyTerminal& t, std::uint8_t command, std::size_t n) {
    const auto reply = t.exchange(PtyTerminal::ShortRequest(command), n, kDeadline);
    if (reply.bytes.size() != n) return 0;
    const std::chrono::duration<double, std::milli> span = reply.times.back() - reply.times.front();
    return span.count() / static_cast<double>(n - 1);
}

void BM_SimulatorReplyPace(benchmark::State& state) {
    RunningSimulator sim;
    PtyTerminal* t = sim.terminal();
    if (t == nullptr) {
        state.SkipWithError("simulator terminal not available");
        return;
    }
    const std::vector<std::uint8_t> probe{25, 0x21, 0x21, 0x21, 0x7C};
    if (t->exchange(probe, 4, kDeadline).bytes.size() != 4) {
        state.SkipWithError("no answer to the probe");
        return;
    }
    const auto command = static_cast<std::uint8_t>(state.range(0));
    const auto n = static_cast<std::size_t>(state.range(1));
    double sum = 0;
    double fastest = 1e9;
    std::int64_t replies = 0;
    for (auto _ : state) {
        const double pace = msPerByte(*t, command, n);
        if (pace == 0) {
            state.SkipWithError("reply incomplete");
            break;
        }
        sum += pace;
        fastest = std::min(fastest, pace);
        ++replies;
    }
    if (replies == 0) return;
    state.counters["ms_per_byte"] = sum / static_cast<double>(replies);
    state.counters["fastest_ms_per_byte"] = fastest;
    state.counters["line_ms_per_byte"] = kLineMsPerByte;
    if (fastest < kSlowestBurstMsPerByte) state.SkipWithError("bytes came faster than 9600 baud");
}
// READ_IDENT: 45 bytes; READ_LIVE: 40 bytes.
BENCHMARK(BM_SimulatorReplyPace)
    ->Args({0x30, 45})
    ->Args({0x23, 40})
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace bifuel::test

BENCHMARK_MAIN();
