// Figures of the connection and the polling against the real simulator on a pseudo-terminal,
// with the program's own serial port and event-loop scheduler (bench/connect_figures runs it).
//
//   connect_figures BIFUEL-SIM [RUNS] [LIVE-SECONDS]
//
// connect: RUNS times a fresh simulator (answering program code 25) and a fresh link that
// opens its terminal, timed from the port open to "Data loaded", once with the code remembered
// for that port and once without (the rotation's unanswered code-26 probe first). The
// protocol minimum of each comes from the bytes that crossed in that very run: every
// request and reply byte at 10 bits at 9600 baud, Reply_Delay before every request, and
// for the rotation the 550 ms reply timeout of the unanswered probe in place of the next
// probe's delay (its bytes go out within that timeout).
//
// live: live replies per second over LIVE-SECONDS, with the polling of live data and both
// MAP lists, and with live data alone.

#include "ChildProcess.h"
#include "Context.h"
#include "FigureTools.h"
#include "QtScheduler.h"
#include "QtSerialPort.h"
#include "files/Paths.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace bifuel;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kByteMs = 10.0 / 9.6;
constexpr double kReplyTimeoutMs = 550.0;
constexpr double kConnectLimitPct = 2.0;
constexpr std::chrono::milliseconds kDeadline{10000};

// The program's serial port, counting what crosses it.
class CountingPort final : public SerialPort {
  public:
    void setEvents(Events events) override { port_.setEvents(std::move(events)); }
    void setPortName(const std::string& name) override { port_.setPortName(name); }
    std::string portName() const override { return port_.portName(); }
    bool open() override { return port_.open(); }
    void close() override { port_.close(); }
    bool isOpen() const override { return port_.isOpen(); }
    bool write(const std::uint8_t* data, std::size_t n) override {
        writes.emplace_back(data, data + n);
        return port_.write(data, n);
    }
    std::size_t read(std::uint8_t* buffer, std::size_t max) override {
        const std::size_t n = port_.read(buffer, max);
        bytesRead += n;
        return n;
    }
    std::size_t bytesAvailable() const override { return port_.bytesAvailable(); }
    bool purge() override { return port_.purge(); }
    void expectBytes(std::size_t n) override { port_.expectBytes(n); }
    std::string errorText() const override { return port_.errorText(); }

    std::vector<std::vector<std::uint8_t>> writes;
    std::size_t bytesRead = 0;

  private:
    platform::QtSerialPort port_;
};

using bench::Median;

struct TempDir : bench::TempDir {
    explicit TempDir(const std::string& tag) : bench::TempDir("connect", tag) {}
};

// A simulator on its terminal and a link on the event loop, not yet open.
struct Bench {
    Bench(const std::string& simProgram, const std::string& name)
        : dir(name), sim(simProgram, {"--seed", "3"}, dir.path, dir.path),
          ctx(scheduler, port, MakePaths(dir.path, "bifuel-studio")) {
        terminal = sim.firstLine(kDeadline).value_or("");
        ctx.link.Main_Shown = true;
        ctx.settings.Search_Port = false;
        ctx.settings.Port_Name = terminal;
        ctx.port.setPortName(terminal);
    }
    ~Bench() {
        port.close();
        sim.signal(SIGTERM);
        sim.wait(kDeadline);
    }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // Opens the port and runs the event loop until "Data loaded"; milliseconds from the
    // open, or a negative number when it did not come.
    double connect() {
        double loadedMs = -1;
        auto start = Clock::now();
        const Subscription loaded = ctx.events.dataLoaded.subscribe([&] {
            loadedMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            requestsAtLoad = port.writes;
            replyBytesAtLoad = port.bytesRead;
            QCoreApplication::exit(0);
        });
        // Owned here: a timer left over must not end a later loop.
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        deadline.start(kDeadline);
        port.open();
        // From the open port on: opening the device is the system's part, not the protocol's.
        start = Clock::now();
        QCoreApplication::exec();
        return loadedMs;
    }

    // Live replies in `seconds` of polling.
    int liveReplies(int seconds) {
        int replies = 0;
        const Subscription live = ctx.events.liveData.subscribe([&] { ++replies; });
        QTimer end;
        end.setSingleShot(true);
        QObject::connect(&end, &QTimer::timeout, [] { QCoreApplication::exit(0); });
        end.start(seconds * 1000);
        QCoreApplication::exec();
        return replies;
    }

    TempDir dir;
    test::ChildProcess sim;
    std::string terminal;
    platform::QtScheduler scheduler;
    CountingPort port;
    Context ctx;
    std::vector<std::vector<std::uint8_t>> requestsAtLoad;
    std::size_t replyBytesAtLoad = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: connect_figures BIFUEL-SIM [RUNS] [LIVE-SECONDS]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string simProgram = fs::absolute(argv[1]).string();
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const int liveSeconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
    bool good = true;

    for (const bool remembered : {true, false}) {
        std::vector<double> over;
        std::vector<double> times;
        for (int r = 1; r <= runs; ++r) {
            Bench bench(simProgram, (remembered ? "remembered-" : "rotation-") + std::to_string(r));
            if (bench.terminal.empty()) {
                std::printf("bifuel-sim did not start\n");
                return 1;
            }
            if (remembered) {
                bench.ctx.settings.Last_Code_Port = bench.terminal;
                bench.ctx.settings.Last_Code = 25;
            }
            const double ms = bench.connect();
            if (ms < 0) {
                std::printf("  run %d: no \"Data loaded\" within %lld ms\n", r,
                            static_cast<long long>(kDeadline.count()));
                good = false;
                continue;
            }
            const auto& requests = bench.requestsAtLoad;
            std::size_t requestBytes = 0;
            for (std::size_t i = remembered ? 0 : 1; i < requests.size(); ++i)
                requestBytes += requests[i].size();
            const double delay = bench.ctx.settings.Reply_Delay;
            const double waits = remembered ? static_cast<double>(requests.size()) * delay
                                            : delay + kReplyTimeoutMs +
                                                  static_cast<double>(requests.size() - 2) * delay;
            const double minimum =
                waits + static_cast<double>(requestBytes + bench.replyBytesAtLoad) * kByteMs;
            std::printf("  %s run %d: %.1f ms, minimum %.1f ms (%zu requests, %zu reply bytes)\n",
                        remembered ? "remembered code" : "rotation", r, ms, minimum,
                        requests.size(), bench.replyBytesAtLoad);
            times.push_back(ms);
            over.push_back((ms / minimum - 1.0) * 100.0);
        }
        if (times.empty()) continue;
        const double overPct = Median(over);
        const bool ok = !remembered || overPct <= kConnectLimitPct;
        std::printf("open to \"Data loaded\", %s: median of %zu %.1f ms, %.2f %% over its protocol "
                    "minimum%s\n",
                    remembered ? "remembered code 25" : "rotation from 26", times.size(),
                    Median(times), overPct,
                    remembered ? (ok ? " (limit 2 %) ok" : " (limit 2 %) MISSED") : "");
        good = good && ok;
    }

    for (const bool liveOnly : {false, true}) {
        Bench bench(simProgram, liveOnly ? "live-only" : "live-and-map");
        bench.ctx.settings.Live_Only_Polling = liveOnly;
        if (bench.terminal.empty() || bench.connect() < 0) {
            std::printf("no connection for the live figure\n");
            return 1;
        }
        const int replies = bench.liveReplies(liveSeconds);
        std::printf("live replies per second, %s: %.2f (%d in %d s)\n",
                    liveOnly ? "live data alone" : "live data and both MAP lists",
                    static_cast<double>(replies) / liveSeconds, replies, liveSeconds);
        if (replies == 0) good = false;
    }
    return good ? 0 : 1;
}
