// Figures of the command-line tool, measured on the real programs: bifuel-cli against
// bifuel-sim on a pseudo-terminal paced at 9600 baud (bench/cli_figures runs it).
//
//   cli_figures BIFUEL-CLI BIFUEL-SIM [RUNS] [LIVE-SECONDS]
//
// read: RUNS times a fresh simulator and `bifuel-cli --port PTY read -o FILE` in an empty
// temporary working directory, timed from the spawn to the exit, against the protocol
// minimum of that read. The minimum comes from the same read run in-process on a virtual
// clock (the tool's session, the simulated car made from the same default options, a
// 9600-baud in-memory line that logs every byte): every request and reply byte at 10 bits
// at 9600 baud, Reply_Delay before every request, and the first probe, which goes
// unanswered (the simulator answers another program code) and costs Reply_Delay and the
// 550 ms reply timeout instead. The simulator's own count of bytes read from and written
// to the terminal in each real run (/proc/PID/io) must equal the in-process count, so the
// minimum is that of the bytes that really crossed the line. The pace of the simulator's
// replies is printed beside it: a simulator slower than 9600 baud makes every read slower.
//
// live: `bifuel-cli --port PTY live --seconds N`, with the CPU time and the peak resident
// memory of the tool's process from wait4().

#include "Cli_Session.h"
#include "Context.h"
#include "FigureTools.h"
#include "MemoryLine.h"
#include "SimCar.h"
#include "SimOptions.h"
#include "files/Paths.h"
#include "runtime/VirtualScheduler.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace bifuel;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kByteMs = 10.0 / 9.6; // 10 bits at 9600 baud
constexpr double kReplyTimeoutMs = 550.0;
constexpr double kReadLimitPct = 5.0;
constexpr double kLiveCpuLimitPct = 1.0;
constexpr double kLivePeakLimitMb = 30.0;

// ---- the protocol minimum, from the same read in virtual time ----------------------------

struct Minimum {
    std::size_t requestBytes = 0; // every request, the unanswered probe included
    std::size_t replyBytes = 0;
    std::size_t firstRequestBytes = 0; // the unanswered probe
    int replyDelayMs = 0;
    std::vector<std::vector<std::uint8_t>> frames; // the requests, in order
    double minimumMs = 0;
    double virtualMs = 0; // the in-process session from start to done, for comparison
    bool ok = false;
};

Minimum ReadMinimum(const fs::path& dir) {
    VirtualScheduler clock;
    sim::MemoryLine line(clock, sim::MemoryLine::kByteTimeUs9600);
    sim::SimCar car(clock, line.device(), sim::SimOptions{});
    Context ctx(clock, line.host(), MakePaths(dir, "bifuel-studio"));
    // As the tool prepares its context for the port it is given.
    ctx.settings.Port_Name = "sim";
    ctx.settings.Search_Port = false;
    ctx.port.setPortName("sim");
    cli::SessionOptions options;
    options.outputFile = (dir / "virtual.cfg").string();
    std::ostringstream out;
    std::ostringstream err;
    cli::Session session(ctx, options, out, err);
    session.start(cli::Command{"read", {}}, [](int) {});
    while (!session.done()) {
        const std::int64_t next = clock.nextDueUs();
        if (next < 0) break;
        clock.advanceUs(next - clock.nowUs());
    }

    Minimum m;
    m.ok = session.done() && session.exitCode() == cli::kDone && fs::exists(options.outputFile);
    m.virtualMs = static_cast<double>(clock.nowUs()) / 1000.0;
    m.replyDelayMs = ctx.settings.Reply_Delay;
    const auto requests = line.hostWrites();
    m.frames = requests;
    for (const auto& w : line.wireLog()) {
        (w.fromHost ? m.requestBytes : m.replyBytes) += w.bytes.size();
    }
    if (requests.size() < 2) {
        m.ok = false;
        return m;
    }
    // The first probe leaves Reply_Delay after the port opened and its bytes go out inside
    // its reply timeout; the second probe leaves when that timeout ends, every later request
    // Reply_Delay after the reply before it.
    m.firstRequestBytes = requests.front().size();
    const std::size_t timedBytes = m.requestBytes - m.firstRequestBytes + m.replyBytes;
    m.minimumMs = m.replyDelayMs + kReplyTimeoutMs +
                  static_cast<double>(requests.size() - 2) * m.replyDelayMs +
                  static_cast<double>(timedBytes) * kByteMs;
    return m;
}

// ---- processes ---------------------------------------------------------------------------

struct Spawned {
    pid_t pid = -1;
    int outFd = -1; // the child's standard output, when piped
    int errFd = -1; // the child's standard error, when piped
};

// Starts `argv` in `dir`; standard output and error go to pipes when `pipes`, else to the
// files given (or /dev/null). Standard input is /dev/null.
Spawned Spawn(const std::vector<std::string>& argv, const fs::path& dir, bool pipes,
              const fs::path& outFile = {}) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (pipes && (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)) return {};
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        if (pipes) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
        } else {
            const int file = outFile.empty()
                                 ? null
                                 : ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(file, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    Spawned s;
    s.pid = pid;
    if (pipes) {
        ::close(out[1]);
        ::close(err[1]);
        s.outFd = out[0];
        s.errFd = err[0];
    }
    return s;
}

// One line from a descriptor, byte by byte (nothing after it is consumed).
std::string ReadLine(int fd) {
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

// What is waiting on a pipe now, without blocking.
std::string Drain(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::fcntl(fd, F_SETFL, flags);
    return text;
}

// Bytes a process has passed through read() and write() calls so far.
struct IoCount {
    long long read = -1;
    long long written = -1;
};

IoCount ProcessIo(pid_t pid) {
    IoCount io;
    std::ifstream file("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long long value = 0;
    while (file >> key >> value) {
        if (key == "rchar:") io.read = value;
        if (key == "wchar:") io.written = value;
    }
    return io;
}

// The simulator, started and ready: its terminal's path is known and its greeting written.
struct Simulator {
    explicit Simulator(const std::string& program, const fs::path& dir) {
        process = Spawn({program}, dir, true);
        if (process.pid < 0) return;
        path = ReadLine(process.outFd);
        ReadLine(process.errFd); // the greeting on standard error
    }
    ~Simulator() {
        if (process.pid < 0) return;
        ::kill(process.pid, SIGTERM);
        int status = 0;
        ::waitpid(process.pid, &status, 0);
        ::close(process.outFd);
        ::close(process.errFd);
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    Spawned process;
    std::string path;
};

struct Finished {
    int status = -1;
    double wallMs = 0;
    rusage usage{};
};

Finished RunTimed(const std::vector<std::string>& argv, const fs::path& dir,
                  const fs::path& outFile = {}) {
    Finished f;
    const auto t0 = Clock::now();
    const Spawned child = Spawn(argv, dir, false, outFile);
    if (child.pid < 0) return f;
    int status = 0;
    while (::wait4(child.pid, &status, 0, &f.usage) < 0 && errno == EINTR) {
    }
    f.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return f;
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// The pace of the simulator's replies: the read's requests sent straight to a fresh
// simulator, each once the reply before it is over; the mean time between two reply bytes.
double ReplyByteSpacingMs(const std::string& simProgram, const fs::path& dir,
                          const std::vector<std::vector<std::uint8_t>>& frames) {
    Simulator sim(simProgram, dir);
    const int fd = ::open(sim.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    double spanMs = 0;
    std::size_t gaps = 0;
    for (const auto& frame : frames) {
        if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) break;
        Clock::time_point first;
        Clock::time_point last;
        std::size_t bytes = 0;
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, 100) > 0) { // a reply is over when 100 ms pass without a byte
            std::uint8_t buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            last = Clock::now();
            if (bytes == 0) first = last;
            bytes += static_cast<std::size_t>(n);
        }
        if (bytes > 1) {
            spanMs += std::chrono::duration<double, std::milli>(last - first).count();
            gaps += bytes - 1;
        }
    }
    ::close(fd);
    return gaps > 0 ? spanMs / static_cast<double>(gaps) : -1;
}

using bench::Median;

struct TempDir : bench::TempDir {
    explicit TempDir(const std::string& tag) : bench::TempDir("cli-figures", tag) {}
};

struct Programs {
    std::string cli;
    std::string sim;
};

// Whether a part's simulator started, and whether its figures met their limits.
struct Verdict {
    bool started = true;
    bool good = true;
};

// The read in-process on the virtual clock, and the pace of the simulator's reply bytes;
// nullopt when the read did not finish.
std::optional<Minimum> inProcessFigures(const std::string& simProgram) {
    Minimum minimum;
    {
        TempDir dir("virtual");
        minimum = ReadMinimum(dir.path);
    }
    if (!minimum.ok) {
        std::printf("the in-process read did not finish\n");
        return std::nullopt;
    }
    std::printf(
        "read, in-process on the virtual clock: %zu requests, %zu request bytes, %zu reply bytes, "
        "Reply_Delay %d ms; done at %.2f ms\n",
        minimum.frames.size(), minimum.requestBytes, minimum.replyBytes, minimum.replyDelayMs,
        minimum.virtualMs);
    {
        TempDir dir("pace");
        std::printf(
            "bifuel-sim's reply bytes, the read's requests sent to it directly: %.4f ms apart on "
            "average (9600 baud: %.4f ms)\n",
            ReplyByteSpacingMs(simProgram, dir.path, minimum.frames), kByteMs);
    }
    return minimum;
}

// One `read -o FILE` against a fresh simulator; its time goes to `times`.
Verdict timeOneRead(const Programs& programs, const Minimum& minimum, int run,
                    std::vector<double>& times) {
    TempDir dir("read-" + std::to_string(run));
    Simulator sim(programs.sim, dir.path);
    if (sim.path.empty()) {
        std::printf("bifuel-sim did not start\n");
        return {false, false};
    }
    const IoCount before = ProcessIo(sim.process.pid);
    const fs::path file = dir.path / "read.cfg";
    const Finished f =
        RunTimed({programs.cli, "--port", sim.path, "read", "-o", file.string()}, dir.path);
    // Anything still on its way leaves the simulator within a few byte times.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const IoCount after = ProcessIo(sim.process.pid);
    const long long said = static_cast<long long>(Drain(sim.process.errFd).size());
    const long long requestBytes = after.read - before.read;
    const long long replyBytes = after.written - before.written - said;
    const bool same = requestBytes == static_cast<long long>(minimum.requestBytes) &&
                      replyBytes == static_cast<long long>(minimum.replyBytes);
    const bool written = fs::exists(file) && fs::file_size(file) > 0;
    std::printf("  run %d: %.1f ms, exit %d, file %s, on the line %lld request and %lld reply "
                "bytes%s\n",
                run, f.wallMs, f.status, written ? "written" : "MISSING", requestBytes, replyBytes,
                same ? "" : " (NOT the bytes of the in-process read)");
    times.push_back(f.wallMs);
    return {true, f.status == 0 && written && same};
}

Verdict readFigures(const Programs& programs, const Minimum& minimum, int runs) {
    Verdict verdict;
    std::vector<double> times;
    for (int run = 1; run <= runs; ++run) {
        const Verdict one = timeOneRead(programs, minimum, run, times);
        if (!one.started) return one;
        if (!one.good) verdict.good = false;
    }
    const double median = Median(times);
    const double overPct = (median / minimum.minimumMs - 1.0) * 100.0;
    const bool readOk = overPct <= kReadLimitPct;
    std::printf(
        "read -o FILE, start to file written: median of %d %.1f ms (fastest %.1f, slowest %.1f), "
        "protocol minimum %.1f ms, %.2f %% over (limit %.0f %%) %s\n",
        runs, median, *std::min_element(times.begin(), times.end()),
        *std::max_element(times.begin(), times.end()), minimum.minimumMs, overPct, kReadLimitPct,
        readOk ? "ok" : "MISSED");
    verdict.good = verdict.good && readOk;
    return verdict;
}

Verdict liveFigures(const Programs& programs, int liveSeconds) {
    TempDir dir("live");
    Simulator sim(programs.sim, dir.path);
    if (sim.path.empty()) {
        std::printf("bifuel-sim did not start\n");
        return {false, false};
    }
    const fs::path lines = dir.path / "live.txt";
    const Finished f = RunTimed(
        {programs.cli, "--port", sim.path, "live", "--seconds", std::to_string(liveSeconds)},
        dir.path, lines);
    std::size_t replies = 0;
    std::ifstream text(lines);
    for (std::string line; std::getline(text, line);)
        replies += line.rfind("t=", 0) == 0;
    const double cpuMs = (Seconds(f.usage.ru_utime) + Seconds(f.usage.ru_stime)) * 1000.0;
    const double cpuPct = 100.0 * cpuMs / f.wallMs;
    const double peakMb = static_cast<double>(f.usage.ru_maxrss) / 1024.0;
    const bool cpuOk = cpuPct <= kLiveCpuLimitPct;
    const bool peakOk = peakMb <= kLivePeakLimitMb;
    std::printf("live --seconds %d: exit %d, %zu live replies, %.1f s from start to exit\n",
                liveSeconds, f.status, replies, f.wallMs / 1000.0);
    std::printf("live CPU (user %.0f ms + system %.0f ms): %.2f %% of the wall time (limit "
                "%.0f %%) %s\n",
                Seconds(f.usage.ru_utime) * 1000.0, Seconds(f.usage.ru_stime) * 1000.0, cpuPct,
                kLiveCpuLimitPct, cpuOk ? "ok" : "MISSED");
    std::printf("live peak memory (ru_maxrss): %.1f MB (limit %.0f MB) %s\n", peakMb,
                kLivePeakLimitMb, peakOk ? "ok" : "MISSED");
    return {true, f.status == 0 && replies != 0 && cpuOk && peakOk};
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: cli_figures BIFUEL-CLI BIFUEL-SIM [RUNS] [LIVE-SECONDS]\n");
        return 2;
    }
    const Programs programs{fs::absolute(argv[1]).string(), fs::absolute(argv[2]).string()};
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const int liveSeconds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 30;
    const std::optional<Minimum> minimum = inProcessFigures(programs.sim);
    if (!minimum) return 1;
    const Verdict read = readFigures(programs, *minimum, runs);
    if (!read.started) return 1;
    const Verdict live = liveFigures(programs, liveSeconds);
    if (!live.started) return 1;
    return read.good && live.good ? 0 : 1;
}
