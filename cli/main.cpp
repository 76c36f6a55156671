// bifuel-cli: the program's core without windows. It finds and talks to the ECU exactly as
// the desktop application does, and prints what the application would show.
#include "Cli_Session.h"
#include "Program_Folder.h"
#include "Version.h"

#include "Context.h"
#include "MemoryLine.h"
#include "ProgramPort.h"
#include "QtPortLister.h"
#include "QtScheduler.h"
#include "ReplayModel.h"
#include "SimCar.h"
#include "SimOptions.h"
#include "files/FindUnit.h"
#include "files/Paths.h"
#include "runtime/VirtualScheduler.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

using namespace bifuel;

struct Arguments {
    std::string port;
    std::optional<int> replyDelay;
    bool virtualTime = false;
    std::vector<std::string> simOptions;
    cli::SessionOptions session;
    cli::Command command;
};

// The words of the command line, read one after the other.
class Words {
  public:
    Words(int argc, char** argv) : words_(argv + 1, argv + argc) {}
    bool done() const { return at_ >= words_.size(); }
    const std::string& current() const { return words_[at_]; }
    void next() { ++at_; }
    // The word after the current one, which it takes; nullopt at the end.
    std::optional<std::string> value() {
        if (at_ + 1 >= words_.size()) return std::nullopt;
        return words_[++at_];
    }

  private:
    std::vector<std::string> words_;
    std::size_t at_ = 0;
};

std::optional<int> number(const std::string& text, int lo, int hi) {
    try {
        std::size_t used = 0;
        const int n = std::stoi(text, &used);
        if (used != text.size() || n < lo || n > hi) return std::nullopt;
        return n;
    } catch (...) {
        return std::nullopt;
    }
}

// The options before the command; an error text when one is wrong.
std::string parseOptions(Words& in, Arguments& a) {
    for (; !in.done() && in.current().rfind("--", 0) == 0; in.next()) {
        const std::string& w = in.current();
        if (w == "--port") {
            const auto v = in.value();
            if (!v) return "--port needs a port name";
            a.port = *v;
        } else if (w == "--reply-delay") {
            const auto v = in.value();
            const auto n = v ? number(*v, 0, 1000) : std::nullopt;
            if (!n) return "--reply-delay needs milliseconds 0..1000";
            a.replyDelay = *n;
        } else if (w == "--timeout") {
            const auto v = in.value();
            const auto n = v ? number(*v, 1, 3600) : std::nullopt;
            if (!n) return "--timeout needs seconds 1..3600";
            a.session.timeoutS = *n;
        } else if (w == "--json") {
            a.session.json = true;
        } else if (w == "--virtual-time") {
            a.virtualTime = true;
        } else if (w == "--sim-option") {
            const auto v = in.value();
            if (!v) return "--sim-option needs KEY=VALUE";
            a.simOptions.push_back(*v);
        } else if (w == "--help") {
            return "help";
        } else if (w == "--version") {
            return "version";
        } else {
            return "unknown option " + w;
        }
    }
    return {};
}

// The words after the command: its own options and its arguments.
std::string parseCommandWords(Words& in, Arguments& a) {
    for (; !in.done(); in.next()) {
        const std::string& w = in.current();
        if (a.command.name == "read" && w == "-o") {
            const auto v = in.value();
            if (!v) return "-o needs a file name";
            a.session.outputFile = *v;
        } else if (a.command.name == "live" && w == "--seconds") {
            const auto v = in.value();
            const auto n = v ? number(*v, 1, 24 * 3600) : std::nullopt;
            if (!n) return "--seconds needs a number of seconds";
            a.session.liveSeconds = *n;
        } else if (a.command.name == "autocal" && w == "--algorithm") {
            const auto v = in.value();
            if (!v) return "--algorithm needs a name";
            a.command.args.push_back(*v);
        } else if (a.command.name == "live" && w == "--log") {
            a.session.logLive = true;
        } else if (a.command.name == "live" && w == "--csv") {
            const auto v = in.value();
            if (!v) return "--csv needs a file name";
            a.session.csvFile = *v;
        } else {
            a.command.args.push_back(w);
        }
    }
    return {};
}

// Whether the command exists and has the arguments it needs.
std::string checkCommand(const Arguments& a) {
    const std::string& c = a.command.name;
    if (c == "ports" || c == "backups" || c == "identify" || c == "read" || c == "live" ||
        c == "clear-errors") {
        if (!a.command.args.empty()) return "unexpected " + a.command.args[0];
    } else if (c == "write") {
        if (a.command.args.size() != 1) return "write needs one FILE";
    } else if (c == "autocal") {
        if (a.command.args.size() > 1 ||
            (a.command.args.size() == 1 && ACB_Algorithm_Index(a.command.args[0]) == 0)) {
            return "autocal --algorithm needs one of: Default, \"Only OFFSET calibration\", "
                   "\"Fast calibration\", \"High R.P.M. calibration\", Innovational";
        }
    } else if (c == "mode") {
        if (a.command.args.size() != 1 ||
            (a.command.args[0] != "petrol" && a.command.args[0] != "auto" &&
             a.command.args[0] != "gas")) {
            return "mode needs petrol, auto or gas";
        }
    } else {
        return "unknown command " + c;
    }
    if (a.virtualTime && a.port != "sim" && !platform::IsReplayPortName(a.port))
        return "--virtual-time needs --port sim or --port replay:FILE";
    return {};
}

// Parses the command line; an error text when it is wrong.
std::string parse(int argc, char** argv, Arguments& a) {
    Words in(argc, argv);
    if (std::string error = parseOptions(in, a); !error.empty()) return error;
    if (in.done()) return "no command given";
    a.command.name = in.current();
    in.next();
    if (std::string error = parseCommandWords(in, a); !error.empty()) return error;
    return checkCommand(a);
}

// The port of the settings file here, if it names one.
std::string configuredPort(const Paths& paths) {
    KeyFile ini;
    if (!ini.OpenKeyFile(paths.Ini_Name)) return {};
    const bool found = ini.FindKey("Port_Name");
    std::string name = found ? ini.Found_Value : std::string();
    ini.CloseKeyFile();
    return name;
}

sim::SimOptions simOptions(const Arguments& a, std::string& error) {
    sim::SimOptions options;
    for (const std::string& kv : a.simOptions) {
        const std::string problem = sim::ApplySimOption(options, kv);
        if (!problem.empty()) {
            error = problem;
            break;
        }
    }
    return options;
}

void prepare(Context& ctx, const Arguments& a, const std::string& port, bool search = false) {
    ctx.settings.Port_Name = port;
    // The tool talks to the port it is given; only without one does it search.
    ctx.settings.Search_Port = search;
    if (a.replyDelay) ctx.settings.Reply_Delay = *a.replyDelay;
    if (!search) ctx.port.setPortName(port);
}

volatile std::sig_atomic_t interrupted = 0;
int signalPipe[2] = {-1, -1};

// Ctrl+C and SIGTERM: noted here, acted on by the loop that runs the session.
void onSignal(int) {
    interrupted = 1;
    if (signalPipe[1] < 0) return;
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

// The virtual clock: the core and the in-process car (or replayed log) run as fast as the
// processor allows.
int runVirtual(const Arguments& a, const Paths& paths, const sim::SimOptions& options) {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    VirtualScheduler clock;
    // Only the pace is virtual: names the user reads (backups, logs) carry today's date.
    clock.setLocalStart(platform::QtScheduler().localSeconds());
    sim::MemoryLine line(clock, sim::MemoryLine::kByteTimeUs9600);
    std::optional<sim::SimCar> car;
    std::unique_ptr<sim::ReplayCar> replay;
    if (platform::IsReplayPortName(a.port)) {
        replay = sim::OpenReplay(clock, line, a.port, options);
    } else {
        car.emplace(clock, line, options);
    }
    Context ctx(clock, line.host(), paths);
    prepare(ctx, a, a.port);
    cli::Session session(ctx, a.session, std::cout, std::cerr);
    session.start(a.command, [](int) {});
    while (!session.done()) {
        if (interrupted) {
            interrupted = 0;
            session.interrupt();
            continue;
        }
        const std::int64_t next = clock.nextDueUs();
        if (next < 0) break;
        clock.advanceUs(next - clock.nowUs());
    }
    return session.exitCode();
}

int runRealTime(int argc, char** argv, const Arguments& a, const Paths& paths,
                const sim::SimOptions& options) {
    QCoreApplication app(argc, argv);
    platform::QtScheduler scheduler;
    platform::ProgramPort port(scheduler);
    port.setSimOptions(options);
    std::string configured;
    platform::QtPortLister lister([&configured] { return configured; });
    cli::PortChoice choice;
    // Listing ports or backups talks to no ECU.
    if (a.command.name != "ports" && a.command.name != "backups") {
        choice = cli::ChoosePort(a.port, a.port.empty() ? configuredPort(paths) : std::string(),
                                 a.port.empty() ? lister.listPorts() : std::vector<std::string>{});
        if (!choice.error.empty()) {
            std::cerr << "bifuel-cli: " << choice.error << "\n";
            return cli::kUsage;
        }
    }
    // "ports" lists the configured port too, as the program's list does.
    configured =
        a.command.name == "ports" ? (a.port.empty() ? configuredPort(paths) : a.port) : choice.port;
    Context ctx(scheduler, port, paths);
    ctx.lister = &lister;
    prepare(ctx, a, configured, choice.search);
    cli::SessionOptions sessionOptions = a.session;
    sessionOptions.searchPort = choice.search;
    cli::Session session(ctx, sessionOptions, std::cout, std::cerr);

    // Ctrl+C ends the command the way its Stop button would, on the event loop.
    if (::pipe(signalPipe) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char c;
        [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
        session.interrupt();
    });
    session.start(a.command, [&app](int code) {
        QMetaObject::invokeMethod(
            &app, [&app, code] { app.exit(code); }, Qt::QueuedConnection);
    });
    if (session.done()) return session.exitCode();
    app.exec();
    return session.exitCode();
}

} // namespace

int main(int argc, char** argv) {
    Arguments a;
    const std::string problem = parse(argc, argv, a);
    if (problem == "version") {
        std::cout << "bifuel-cli " << kProgramVersion << "\n";
        return cli::kDone;
    }
    // The tool shares the desktop program's files, whatever its own name.
    const platform::ProgramFolder folder =
        platform::OpenProgramFolder(argc > 0 ? argv[0] : nullptr, "bifuel-studio");
    if (problem == "help") {
        std::cout << cli::UsageText()
                  << "files (settings, Config, Logs, backups): " << folder.paths.Work_Dir.string()
                  << "\n\nsimulator options (--sim-option KEY=VALUE):\n"
                  << sim::SimOptionHelp();
        return cli::kDone;
    }
    if (!folder.problem.empty()) std::cerr << "bifuel-cli: " << folder.problem << "\n";
    if (!problem.empty()) {
        std::cerr << "bifuel-cli: " << problem << "\n" << cli::UsageText();
        return cli::kUsage;
    }
    std::string error;
    const sim::SimOptions options = simOptions(a, error);
    if (!error.empty()) {
        std::cerr << "bifuel-cli: " << error << "\n";
        return cli::kUsage;
    }
    const Paths& paths = folder.paths;
    if (a.virtualTime) return runVirtual(a, paths, options);
    return runRealTime(argc, argv, a, paths, options);
}
