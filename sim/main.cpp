// bifuel-sim: a simulated ECU in a simulated car, answering on a pseudo-terminal.
//
// The first line of standard output is the path of the terminal to open (a program under
// test reads it); messages go to standard error. Scenario changes can be typed on standard
// input as KEY=VALUE lines while it runs.

#include "PollLoop.h"
#include "PtyPort.h"
#include "SimCar.h"
#include "SimOptions.h"
#include "Version.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using bifuel::sim::ApplySimOption;
using bifuel::sim::SimOptions;

constexpr int kExitUsage = 2;
constexpr int kExitSystem = 1;

const char* const kUsage =
    "Usage: bifuel-sim [options]\n"
    "A simulated gas-injection ECU on a pseudo-terminal. Prints the terminal's path on the\n"
    "first line of standard output and answers there until SIGINT or SIGTERM.\n"
    "\n"
    "  --link PATH           also make PATH a symbolic link to the terminal (an existing\n"
    "                        symbolic link is replaced; removed again on exit)\n"
    "  --code N              program code 23, 25 or 26 (25)\n"
    "  --firmware VERSION    firmware version text (2.54)\n"
    "  --model TEXT          model text\n"
    "  --ident-length N      identification block length reported (42)\n"
    "  --drop K              drop every K-th reply\n"
    "  --corrupt K           wrong checksum on every K-th reply\n"
    "  --echo K              wrong command echo on every K-th reply\n"
    "  --split K             every K-th reply in two halves, --split-gap MS apart (600)\n"
    "  --surplus K           extra bytes after every K-th reply\n"
    "  --seed N              seed of noise and surplus bytes (1)\n"
    "  --sim-option KEY=VALUE   any option below (repeatable)\n"
    "  --help                this text\n"
    "  --version             the version\n"
    "\n"
    "Options as KEY=VALUE:\n";

struct Arguments {
    SimOptions options;
    std::string link;
    bool help = false;
    bool version = false;
};

// Flags that are a KEY=VALUE option under another name.
std::optional<std::string_view> optionKeyOf(std::string_view flag) {
    static constexpr std::pair<std::string_view, std::string_view> kFlags[] = {
        {"--code", "code"},       {"--firmware", "firmware"}, {"--model", "model"},
        {"--ident-length", "N"},  {"--drop", "drop"},         {"--corrupt", "corrupt"},
        {"--echo", "echo"},       {"--split", "split"},       {"--split-gap", "split_gap"},
        {"--surplus", "surplus"}, {"--seed", "seed"},
    };
    for (const auto& [name, key] : kFlags) {
        if (flag == name) return key;
    }
    return std::nullopt;
}

// Returns an error text, empty when the command line is good.
std::string parseArguments(int argc, char** argv, Arguments& out) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::optional<std::string_view> inlineValue;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos &&
                                           arg.substr(0, eq) != "--sim-option") {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        } else if (arg.starts_with("--sim-option=")) {
            inlineValue = arg.substr(std::string_view("--sim-option=").size());
            arg = "--sim-option";
        }
        if (arg == "--help" || arg == "-h") {
            out.help = true;
            continue;
        }
        if (arg == "--version") {
            out.version = true;
            continue;
        }
        const auto value = [&]() -> std::optional<std::string_view> {
            if (inlineValue) return inlineValue;
            if (i + 1 < argc) return std::string_view(argv[++i]);
            return std::nullopt;
        };
        if (arg == "--link") {
            const auto v = value();
            if (!v || v->empty()) return "--link needs a path";
            out.link = std::string(*v);
        } else if (arg == "--sim-option") {
            const auto v = value();
            if (!v) return "--sim-option needs KEY=VALUE";
            if (std::string error = ApplySimOption(out.options, *v); !error.empty()) return error;
        } else if (const auto key = optionKeyOf(arg)) {
            const auto v = value();
            if (!v) return std::string(arg) + " needs a value";
            const std::string kv = std::string(*key) + "=" + std::string(*v);
            if (std::string error = ApplySimOption(out.options, kv); !error.empty()) return error;
        } else {
            return "unknown argument " + std::string(arg) + " (see --help)";
        }
    }
    return {};
}

// The link points to our terminal; replace an old link, never a file.
bool makeLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::cerr << "bifuel-sim: " << link << " exists and is not a symbolic link\n";
            return false;
        }
        if (::unlink(link.c_str()) != 0) {
            std::cerr << "bifuel-sim: cannot replace " << link << ": " << std::strerror(errno)
                      << "\n";
            return false;
        }
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        std::cerr << "bifuel-sim: cannot link " << link << ": " << std::strerror(errno) << "\n";
        return false;
    }
    return true;
}

// Removes the link only while it still points to our terminal: another simulator may have
// taken the name over since.
void removeLink(const std::string& link, const std::string& target) {
    std::vector<char> buffer(target.size() + 2);
    const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
    if (n >= 0 && std::string_view(buffer.data(), static_cast<std::size_t>(n)) == target)
        ::unlink(link.c_str());
}

// KEY=VALUE lines on standard input change the scenario; "status" prints the engine.
class Console {
  public:
    Console(bifuel::sim::PollLoop& loop, bifuel::sim::SimCar& car) : loop_(loop), car_(car) {
        loop_.watch(STDIN_FILENO, POLLIN, [this](short) { onReady(); });
    }
    ~Console() { loop_.unwatch(STDIN_FILENO); }

  private:
    void onReady() {
        char buffer[512];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
            loop_.unwatch(STDIN_FILENO); // closed: nothing more will come
            return;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
        for (auto nl = pending_.find('\n'); nl != std::string::npos; nl = pending_.find('\n')) {
            const std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            command(line);
        }
        if (pending_.size() > 4096) pending_.clear(); // no line is that long
    }

    void command(std::string line) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty()) return;
        if (line == "status") {
            const auto& s = car_.engine().snapshot();
            std::cerr << "mode " << int(s.mode) << " rpm " << s.rpm << " manifold "
                      << s.manifoldHundredths << " reducer " << s.reducerHundredths
                      << " reducer-temp " << s.reducerTempTenths / 10.0 << " petrol "
                      << s.petrolUs[0] << " gas " << s.gasUs[0] << "\n";
            return;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            std::cerr << "bifuel-sim: expected KEY=VALUE or status\n";
            return;
        }
        const std::string error = car_.engine().apply(line.substr(0, eq), line.substr(eq + 1));
        if (!error.empty()) std::cerr << "bifuel-sim: " << error << "\n";
    }

    bifuel::sim::PollLoop& loop_;
    bifuel::sim::SimCar& car_;
    std::string pending_;
};

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (const std::string error = parseArguments(argc, argv, args); !error.empty()) {
        std::cerr << "bifuel-sim: " << error << "\n";
        return kExitUsage;
    }
    if (args.help) {
        std::cout << kUsage << bifuel::sim::SimOptionHelp();
        return 0;
    }
    if (args.version) {
        std::cout << "bifuel-sim " << bifuel::kProgramVersion << "\n";
        return 0;
    }

    // Signals arrive as readable bytes on a descriptor, handled by the loop like any other.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (::sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::cerr << "bifuel-sim: sigprocmask: " << std::strerror(errno) << "\n";
        return kExitSystem;
    }
    const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        std::cerr << "bifuel-sim: signalfd: " << std::strerror(errno) << "\n";
        return kExitSystem;
    }
    std::signal(SIGPIPE, SIG_IGN); // a reader of standard output may go away

    bifuel::sim::PseudoTerminal pty;
    if (!pty.open()) {
        std::cerr << "bifuel-sim: " << pty.error() << "\n";
        ::close(signalFd);
        return kExitSystem;
    }
    if (!args.link.empty() && !makeLink(args.link, pty.slavePath())) {
        ::close(signalFd);
        return kExitSystem;
    }

    int status = 0;
    {
        bifuel::sim::PollLoop loop;
        loop.watch(signalFd, POLLIN, [&loop, signalFd](short) {
            signalfd_siginfo info{};
            while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            }
            loop.quit();
        });
        bifuel::sim::PtyPort port(loop, pty.master());
        port.setPortName(pty.slavePath());
        bifuel::sim::SimCar car(loop, port, args.options);
        Console console(loop, car);
        const bifuel::Subscription lineNote = car.ecu().onLineCut([](bool cut) {
            std::cerr << "bifuel-sim: " << (cut ? "line cut, not answering" : "line restored")
                      << "\n";
        });

        std::cout << pty.slavePath() << std::endl; // the first line: where to connect
        std::cerr << "bifuel-sim: ECU code " << int(args.options.code) << ", firmware "
                  << args.options.firmware << ", on " << pty.slavePath()
                  << (args.link.empty() ? "" : " (" + args.link + ")") << "\n";

        if (!loop.run()) {
            std::cerr << "bifuel-sim: poll: " << std::strerror(errno) << "\n";
            status = kExitSystem;
        }
        loop.unwatch(signalFd);
    }
    if (!args.link.empty()) removeLink(args.link, pty.slavePath());
    ::close(signalFd);
    return status;
}
