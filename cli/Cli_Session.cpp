#include "Cli_Session.h"

#include "autocalibration/AutoCLB_Unit.h"

#include "data/Calc_Unit.h"
#include "files/Backup_Unit.h"
#include "files/Live_Recorder.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Check_Versions.h"
#include "link/Global_Unit.h"
#include "link/Link_Operations.h"
#include "link/Port_3D_Connect.h"
#include "link/Port_3D_Unit.h"
#include "link/Transmit_Unit.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <unistd.h>
#include <utility>
#include <variant>

namespace bifuel::cli {
namespace {

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string modeName(std::uint8_t mode) {
    switch (mode) {
    case 1:
        return "petrol";
    case 2:
        return "auto";
    case 4:
        return "gas";
    default:
        return "-";
    }
}

// Why a file cannot be written at `path`, found before anything goes to the ECU; empty
// when it can be.
std::string outputProblem(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file(path);
    if (fs::is_directory(file, ec)) return "\"" + path + "\" is a folder";
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    if (!fs::is_directory(folder, ec))
        return "the folder \"" + folder.string() + "\" does not exist";
    if (::access(folder.c_str(), W_OK) != 0)
        return "the folder \"" + folder.string() + "\" is not writable";
    if (fs::exists(file, ec) && ::access(file.c_str(), W_OK) != 0)
        return "\"" + path + "\" is not writable";
    return {};
}

// Commands whose values pass through the temperature table. Without it a read would put
// 0 °C into the file and a write would send it; a live log and an auto-calibration would
// show and act on temperatures that are not the car's (the run waits for a warm engine and
// ends by writing everything back). identify, mode and clear-errors carry no temperature.
bool needsTemperatureTable(const std::string& command) {
    return command == "read" || command == "write" || command == "live" || command == "autocal";
}

std::string hexByte(std::uint8_t b) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", b);
    return buf;
}

} // namespace

PortChoice ChoosePort(const std::string& given, const std::string& configured,
                      const std::vector<std::string>& listed) {
    if (!given.empty()) return {given};
    if (!configured.empty() && configured != " ") return {configured};
    if (listed.size() == 1) return {listed[0]};
    if (listed.size() > 1) return {{}, true};
    return {{}, false, "no serial port found; give one with --port"};
}

std::string UsageText() {
    return "usage: bifuel-cli [--port NAME|PATH|sim|replay:FILE] [--reply-delay MS] [--timeout S]\n"
           "                  [--json] [--virtual-time] [--sim-option KEY=VALUE]... COMMAND\n"
           "       bifuel-cli --help | --version\n"
           "without --port: Port_Name of bifuel-studio.ini, else the only port, else a search of\n"
           "all ports (each port tried is printed)\n"
           "--port sim: the simulated ECU; --port replay:FILE: a simulated ECU that plays a live\n"
           "log recorded by live --log or the desktop program, at its recorded pace\n"
           "(--sim-option speed=N plays it N times faster; after the last frame it holds that\n"
           "frame); --virtual-time runs either without waiting\n"
           "commands:\n"
           "  ports                          list the serial ports, one per line\n"
           "  backups                        list the backups of ECUs read (Config/Backup): each\n"
           "                                 complete read keeps what the ECU held, 50 per name\n"
           "  identify                       connect and show what the ECU is\n"
           "  read [-o FILE]                 read the whole configuration as a file\n"
           "  write FILE                     write a configuration file to the ECU\n"
           "  live [--seconds N] [--csv FILE] [--log]\n"
           "                                 show live data, one line per reply; --log also\n"
           "                                 records it into Logs/ (the file name is printed;\n"
           "                                 a replay is not recorded again)\n"
           "  mode petrol|auto|gas           switch the fuel mode; shows the mode the ECU reports\n"
           "  clear-errors                   clear the errors stored in the ECU\n"
           "  autocal [--algorithm NAME]     run an auto-calibration (Default, \"Only OFFSET\n"
           "                                 calibration\", \"Fast calibration\", \"High R.P.M.\n"
           "                                 calibration\", Innovational); Ctrl+C stops it and\n"
           "                                 puts back what the ECU had (exit status 1)\n"
           "exit status: 0 done, 1 no ECU or no acknowledgement, 2 wrong usage or an output that\n"
           "             cannot be written, 3 port failed,\n"
           "             4 no temperature table (read, write, live, autocal), 130 interrupted by\n"
           "             Ctrl+C (during a write the first Ctrl+C lets it finish, a second stops "
           "it)\n";
}

struct Session::Impl {
    enum class Phase {
        Connecting,
        Acting,
        Writing,
        Live,
        Switching,
        ModeReport,
        Autocal,
        Restoring,
        Done
    };

    Impl(Session& owner, Context& c, SessionOptions o, std::ostream& output, std::ostream& errors)
        : self(owner), ctx(c), options(std::move(o)), out(output), err(errors),
          deadline(c.scheduler.createTimer()) {
        deadline->setOnFire([this] { onDeadline(); });
    }

    void start(const Command& cmd, std::function<void(int)> done) {
        command = cmd;
        finished = std::move(done);
        if (runWithoutEcu() || !inputsUsable()) return;
        connect();
    }

    // The commands that need no ECU; false for the others.
    bool runWithoutEcu() {
        if (command.name == "backups") {
            // Every complete read of an ECU left one, by configuration name, oldest first.
            for (const BackupEntry& e : ListBackups(ctx.paths)) {
                out << e.name << "  " << e.stamp << "  " << e.path.string() << "\n";
            }
            finish(kDone);
            return true;
        }
        if (command.name == "ports") {
            if (ctx.lister != nullptr) {
                for (const std::string& p : ctx.lister->listPorts())
                    out << p << "\n";
            }
            finish(kDone);
            return true;
        }
        return false;
    }

    // The file to write, the files to write to and the temperature table, checked before
    // anything is sent; false (and the command finished) when one is not usable.
    bool inputsUsable() {
        if (command.name == "write") {
            writeFile = command.args.empty() ? std::string() : command.args[0];
            // The file is read once: the bytes checked here are the bytes written.
            const auto read = ReadConfigText(writeFile);
            const auto* text = std::get_if<ConfigText>(&read);
            const std::string problem =
                text != nullptr ? CheckConfigText(*text) : std::get<std::string>(read);
            if (text != nullptr) writeText = *text;
            if (!problem.empty()) {
                err << "bifuel-cli: " << problem << "; nothing was written to the ECU\n";
                finish(kUsage);
                return false;
            }
        }
        for (const std::string* output : {&options.outputFile, &options.csvFile}) {
            if (output->empty()) continue;
            const std::string problem = outputProblem(*output);
            if (!problem.empty()) {
                err << "bifuel-cli: cannot write \"" << *output << "\": " << problem
                    << "; nothing was sent to the ECU\n";
                finish(kUsage);
                return false;
            }
        }
        if (needsTemperatureTable(command.name) && ctx.temperatureTable().Load() == nullptr) {
            err << "bifuel-cli: the temperature table \"" << ctx.temperatureTable().path().string()
                << "\" is missing, unreadable or incomplete; " << command.name
                << " needs it to convert temperatures, so nothing was sent to the ECU\n";
            finish(kNoTemperatureTable);
            return false;
        }
        return true;
    }

    // Reads everything from the ECU on the port given, or on the first port that answers.
    void connect() {
        watchTheProgram();
        ctx.link.Main_Shown = true; // messages are printed, as the window would show them
        // The tool writes only what it is asked to: no configuration file after a write,
        // no settings file.
        ctx.link.Autosave_Enabled = false;
        ctx.link.Settings_File_Written = false;
        // The timeout is for finding the ECU; once it answers, reading takes as long as
        // the line needs, and the link's own loss detection watches it.
        armDeadline(std::int64_t{options.timeoutS} * 1000);
        readOp = ReadEverything(ctx);
        if (options.searchPort) {
            // As the program's "Auto search port": each listed port in turn, until one
            // answers; the deadline covers the whole search.
            subscriptions.push_back(
                ctx.events.frameSent.subscribe([this](std::span<const std::uint8_t>) {
                    if (phase != Phase::Connecting || ctx.port.portName() == lastTried) return;
                    lastTried = ctx.port.portName();
                    err << "trying " << lastTried << "\n";
                }));
            subscriptions.push_back(ctx.events.connected.subscribe([this] {
                if (phase == Phase::Connecting)
                    err << "the ECU answered on " << ctx.port.portName() << "\n";
            }));
            StartPortSearch(ctx);
            return;
        }
        if (!ctx.port.open() || ctx.link.Port_Error) {
            err << "bifuel-cli: cannot open port " << ctx.port.portName() << ": "
                << ctx.port.errorText() << "\n";
            finish(kPortFailed);
        }
    }

    void watchTheProgram() {
        subscriptions.push_back(ctx.events.status.subscribe([this](const StatusChange& change) {
            if (change.kind == StatusChange::Kind::Removed || change.text == lastStatus) return;
            err << "status: " << change.text << "\n";
            lastStatus = change.text;
        }));
        subscriptions.push_back(ctx.events.message.subscribe([this](const MessageRequest& m) {
            // A write cut off is said with the operation's own result.
            if (m.type != kMessageWriteCutOff) err << "message: " << m.text << "\n";
        }));
        subscriptions.push_back(ctx.events.connected.subscribe([this] { ecuAnswered = true; }));
        subscriptions.push_back(ctx.events.liveData.subscribe([this] {
            if (phase == Phase::Live) printLive();
            if (phase == Phase::ModeReport) {
                out << "mode: " << modeName(ctx.live.Work_Mode) << "\n";
                finish(kDone);
            }
        }));
        subscriptions.push_back(ctx.events.operationProgress.subscribe(
            [this](const OperationProgress& p) { onProgress(p); }));
        subscriptions.push_back(ctx.events.operationEnded.subscribe(
            [this](const OperationEnd& e) { onOperationEnd(e); }));
        subscriptions.push_back(ctx.events.autoCalibrationProgress.subscribe(
            [this](const AutoCalibrationProgress& p) { onAutocalProgress(p); }));
        subscriptions.push_back(ctx.events.autoCalibrationEnded.subscribe(
            [this](const AutoCalibrationEnd& e) { onAutocalEnd(e); }));
        subscriptions.push_back(
            ctx.events.restoreEnded.subscribe([this](const RestoreEnd& e) { onRestoreEnd(e); }));
        subscriptions.push_back(ctx.events.disconnected.subscribe([this] {
            // A run waits, frozen, for the same ECU; the tool waits with it as long as it
            // waits for an ECU to answer at all.
            if (phase == Phase::Autocal) {
                err << "bifuel-cli: the link to the ECU was lost; waiting up to "
                    << options.timeoutS << " s for it to answer again\n";
                armDeadline(std::int64_t{options.timeoutS} * 1000);
            }
        }));
        subscriptions.push_back(ctx.events.connected.subscribe([this] {
            if (phase == Phase::Autocal || phase == Phase::Restoring) deadline->stop();
        }));
    }

    void armDeadline(std::int64_t ms) {
        deadline->setInterval(static_cast<int>(std::min<std::int64_t>(ms, 1 << 30)));
        deadline->start();
    }

    void onDeadline() {
        deadline->stop();
        if (phase == Phase::Autocal && !ctx.link.ECU_Connected) {
            // The ECU did not come back: the run ends here, with what it was to write kept
            // for that ECU, which only this process knows.
            err << "bifuel-cli: the ECU did not answer again within " << options.timeoutS << " s\n";
            gaveUp = true;
            StopAutoCalibration(ctx);
            return;
        }
        if (phase == Phase::Restoring) {
            err << "bifuel-cli: the ECU did not answer again within " << options.timeoutS
                << " s; it still holds a partial calibration\n";
            finish(kNoEcu);
            return;
        }
        if (phase == Phase::ModeReport) {
            err << "bifuel-cli: the ECU took the switch but reported no mode within "
                << options.timeoutS << " s\n";
            finish(kNoEcu);
        } else if (phase == Phase::Live) {
            finish(kDone);
        } else if (phase == Phase::Connecting && !ecuAnswered) {
            err << "bifuel-cli: no ECU answered on " << ctx.port.portName() << " within "
                << options.timeoutS << " s\n";
            finish(kNoEcu);
        }
    }

    void onProgress(const OperationProgress& p) {
        if (p.id == readOp) showProgress("reading", p.percent);
        if (p.id == actionOp && phase == Phase::Writing) {
            writePercent = p.percent;
            showProgress("writing", p.percent);
        }
    }

    void onOperationEnd(const OperationEnd& e) {
        if (e.id == readOp) {
            readOp = 0;
            if (e.result == OperationResult::Done) {
                act();
                return;
            }
            err << "bifuel-cli: "
                << (e.result == OperationResult::Refused ? e.reason : failureText(e)) << "\n";
            finish(kNoEcu);
            return;
        }
        if (e.id != actionOp) return;
        actionOp = 0;
        if (e.result == OperationResult::Done) {
            if (phase == Phase::Writing && options.progress && !options.json) {
                err << "written and saved by the ECU\n";
            }
            if (phase == Phase::Switching && command.name == "mode") {
                // The acknowledgement says the ECU took the request; the next live reply
                // says which mode it is in now.
                phase = Phase::ModeReport;
                armDeadline(std::int64_t{options.timeoutS} * 1000);
                return;
            }
            finish(kDone);
            return;
        }
        err << "bifuel-cli: " << failureText(e) << "\n";
        finish(kNoEcu);
    }

    std::string failureText(const OperationEnd& e) const {
        switch (e.result) {
        case OperationResult::NotSaved:
            return "the ECU did not report the data saved";
        case OperationResult::Replaced:
            return "another request took the place of this one";
        case OperationResult::Done:
            return {};
        default:
            break;
        }
        const std::string what =
            e.request == Request::None ? std::string("the link to the ECU was lost") : e.reason;
        return what.empty() ? std::string("the link to the ECU was lost") : what;
    }

    // The connection program has read everything: do the command.
    void act() {
        phase = Phase::Acting;
        deadline->stop();
        if (command.name == "identify") {
            printIdentity();
            finish(kDone);
        } else if (command.name == "read") {
            finish(writeConfiguration() ? kDone : kUsage);
        } else if (command.name == "write") {
            // The file over what the ECU holds now, checked as the whole image it would hold.
            const std::string refused = CheckLoadOnEcu(ctx, writeText);
            if (!refused.empty()) {
                err << "bifuel-cli: " << refused << "; nothing was written to the ECU\n";
                finish(kUsage);
                return;
            }
            ctx.settings.CFG_Full_File_Name = writeFile;
            LoadConfigForEcu(ctx, writeText);
            phase = Phase::Writing;
            lastPercent = -1;
            writeStartUs = ctx.scheduler.nowUs();
            actionOp = WriteEverything(ctx);
        } else if (command.name == "live") {
            if (!openCsv()) return;
            if (options.logLive) startLog();
            phase = Phase::Live;
            liveStartUs = ctx.scheduler.nowUs();
            armDeadline(static_cast<std::int64_t>(options.liveSeconds * 1000));
        } else if (command.name == "mode" || command.name == "clear-errors") {
            requestSwitch();
        } else if (command.name == "autocal") {
            startAutocal();
        }
    }

    // ---- autocal ----------------------------------------------------------------------

    // The algorithm named, or the one the identification chose for this ECU. The question
    // the page asks on an ECU with the innovational algorithm is answered by the name.
    void startAutocal() {
        const std::string name = command.args.empty() ? ctx.settings.ACB_SCR_Type : command.args[0];
        phase = Phase::Autocal;
        const AutoCalibrationStart started = StartAutoCalibration(ctx, name);
        if (!started.started()) {
            err << "bifuel-cli: " << started.reason << " (firmware " << ctx.config.ECU_Version
                << ")\n";
            finish(kUsage);
            return;
        }
        showAlgorithm(AutoCalibrationNow(ctx));
    }

    // The first line of a run, before anything the run tells.
    void showAlgorithm(const AutoCalibrationProgress& p) {
        if (std::exchange(algorithmShown, true)) return;
        out << "algorithm: " << p.algorithm << "\n";
    }

    // The prompt line and the bar, as the page shows them.
    void onAutocalProgress(const AutoCalibrationProgress& p) {
        if (phase != Phase::Autocal) return;
        showAlgorithm(p);
        if (p.prompt != lastPrompt) {
            if (!p.prompt.empty()) out << "prompt: " << p.prompt << std::endl;
            lastPrompt = p.prompt;
        }
        // The bar goes back to 0 when the run is over; that is no progress to report.
        if (p.measuring && p.percent / 10 != lastPercent / 10) {
            out << "progress: " << p.percent << "%" << std::endl;
            lastPercent = p.percent;
        }
    }

    // The run's own end says what the ECU holds: the exit status is 0 only when it holds
    // the new calibration and has confirmed it.
    void onAutocalEnd(const AutoCalibrationEnd& end) {
        if (phase != Phase::Autocal) return;
        out << "result: " << end.text << "\n";
        if (!end.reason.empty()) err << "bifuel-cli: " << end.reason << "\n";
        if (end.restorePending && !gaveUp) {
            phase = Phase::Restoring;
            err << "bifuel-cli: waiting up to " << options.timeoutS
                << " s for the ECU to answer again\n";
            armDeadline(std::int64_t{options.timeoutS} * 1000);
            return;
        }
        const bool calibrated = end.result == AutoCalibrationResult::Success ||
                                end.result == AutoCalibrationResult::Advised;
        finish(calibrated && end.reason.empty() && !end.restorePending ? kDone : kNoEcu);
    }

    void onRestoreEnd(const RestoreEnd& end) {
        if (phase != Phase::Restoring) return;
        err << "bifuel-cli: " << end.text << "\n";
        finish(kNoEcu); // the run itself did not calibrate
    }

    // Ctrl+C: as the Stop button; the run's ending goes out before the program ends.
    bool stopAutocal() {
        if (phase != Phase::Autocal || stopRequested || !AutoCalibrationRunning(ctx)) return false;
        stopRequested = true;
        err << (AutoCalibrationNow(ctx).resultTaken
                    ? "bifuel-cli: stopping, the new calibration stays on the ECU\n"
                    : "bifuel-cli: stopping, restoring what the ECU had\n");
        StopAutoCalibration(ctx); // a run already ending goes on to its end
        return true;
    }

    bool restoring() const { return phase == Phase::Autocal && stopRequested; }

    // Ctrl+C while the tool waits for the ECU to take back what it had: leaving is the
    // user's choice, and what it leaves behind is said.
    bool leaveRestore() {
        if (phase != Phase::Restoring) return false;
        err << "bifuel-cli: leaving; " << PendingRestoreText(ctx) << "\n";
        finish(kNoEcu);
        return true;
    }

    // ---- Ctrl+C ----------------------------------------------------------------------

    // A write stopped halfway leaves the ECU with parts of two set-ups: the first Ctrl+C
    // lets it finish, a second one stops it and says what the ECU got.
    bool interruptWrite() {
        if (phase != Phase::Writing) return false;
        if (!interruptedOnce) {
            interruptedOnce = true;
            err << "bifuel-cli: the write goes on to its end so that the ECU is not left "
                   "half-written";
            const std::int64_t elapsedUs = ctx.scheduler.nowUs() - writeStartUs;
            if (writePercent > 0 && writePercent < 100) {
                const std::int64_t leftUs = elapsedUs * (100 - writePercent) / writePercent;
                err << " (about " << (leftUs + 999'999) / 1'000'000 << " s left)";
            }
            err << "; Ctrl+C again stops it now\n";
            return true;
        }
        err << "bifuel-cli: the write was stopped; the ECU holds part of it:\n"
            << writtenParts() << "write the file again to give the ECU one whole set-up\n";
        finish(kInterrupted);
        return true;
    }

    // The parts of the whole write the ECU acknowledged, from the frames of the running
    // program: name, parameters and diagram take an announcement and a data frame each,
    // in that order; the RPM map takes its size, then an announcement and a chunk per
    // chunk, so it can be partly on the ECU.
    std::string writtenParts() const {
        const LinkOperations& ops = ctx.ops;
        const bool saving =
            std::any_of(ops.Saving.begin(), ops.Saving.end(),
                        [this](const OperationSlot& slot) { return slot.id == actionOp; });
        const bool running = ops.Running.id == actionOp;
        const int done = saving ? ops.Frames_Total : running ? ops.Frames_Done : 0;
        const auto state = [done](int last) { return done >= last ? "written" : "not written"; };
        const char* map = done >= ops.Frames_Total && done > 6 ? "written"
                          : done > 6                           ? "partly written"
                                                               : "not written";
        std::string text;
        text += std::string("  name: ") + state(2) + "\n";
        text += std::string("  parameters: ") + state(4) + "\n";
        text += std::string("  diagram: ") + state(6) + "\n";
        text += std::string("  RPM map: ") + map + "\n";
        if (saving)
            text += "  (every frame was acknowledged; the ECU had not yet reported it saved)\n";
        return text;
    }

    void requestSwitch() {
        phase = Phase::Switching;
        if (command.name == "clear-errors") {
            actionOp = ClearErrors(ctx);
            return;
        }
        const std::string& m = command.args.at(0);
        actionOp = m == "gas"      ? SwitchToGas(ctx)
                   : m == "petrol" ? SwitchToPetrol(ctx)
                                   : SwitchToAutomatic(ctx);
    }

    void printIdentity() {
        const Configuration_Class& c = ctx.config;
        const std::pair<const char*, std::string> fields[] = {
            {"port", ctx.port.portName()},
            {"program_code", std::to_string(ctx.link.Probe_Code)},
            {"model", c.ECU_Model},
            {"model_name", ModelDisplayName(c.ECU_Model)},
            {"firmware", c.ECU_Version},
            {"firmware_date", c.ECU_Date},
            {"work_gas_minutes", std::to_string(c.Work_Gas)},
            {"work_petrol_minutes", std::to_string(c.Work_Petrol)},
        };
        if (options.json) {
            out << "{";
            bool first = true;
            for (const auto& [key, value] : fields) {
                const bool number = std::string(key).find("minutes") != std::string::npos ||
                                    std::string(key) == "program_code";
                out << (first ? "" : ", ") << jsonString(key) << ": "
                    << (number ? value : jsonString(value));
                first = false;
            }
            out << "}\n";
        } else {
            for (const auto& [key, value] : fields)
                out << key << ": " << value << "\n";
        }
    }

    bool writeConfiguration() {
        KeyFile file;
        if (options.outputFile.empty()) {
            file.OpenFromText("");
            PutConfigKeys(ctx, file);
            out << file.ToText();
            file.CloseKeyFile();
            return true;
        }
        // As the program's own save: an existing file is updated, so the installer's notes
        // and keys this program does not know stay.
        std::error_code ec;
        if (std::filesystem::exists(options.outputFile, ec)) {
            // The installer's details are the file's own, not the ECU's.
            ctx.settings.CFG_Full_File_Name = options.outputFile;
            LoadInstallerDetail(ctx);
        }
        file.OpenKeyFileForUpdate(options.outputFile);
        PutConfigKeys(ctx, file);
        const WriteResult r = file.SaveKeyFile(options.outputFile);
        if (!r.ok) {
            err << "bifuel-cli: " << r.message << "\n";
            return false;
        }
        if (options.progress && !options.json) err << "written " << options.outputFile << "\n";
        return true;
    }

    void startLog() {
        Scheduler& clock = ctx.scheduler;
        recorder = std::make_unique<LiveRecorder>(
            ctx, [&clock] { return clock.localSeconds(); }, false);
        logStarted = recorder->started.subscribe(
            [this](const std::filesystem::path& file) { err << "log: " << file.string() << "\n"; });
    }

    bool openCsv() {
        if (options.csvFile.empty()) return true;
        csv.open(options.csvFile, std::ios::binary | std::ios::trunc);
        if (!csv) {
            err << "bifuel-cli: cannot write \"" << options.csvFile << "\"\n";
            finish(kUsage);
            return false;
        }
        csv << "time_s,rpm,petrol_ms,gas_ms,reducer_bar,manifold_bar,reducer_c,gas_c,level_v,mode,"
               "error1,error2\n";
        return true;
    }

    void printLive() {
        const LiveData& l = ctx.live;
        const double t = static_cast<double>(ctx.scheduler.nowUs() - liveStartUs) / 1e6;
        const std::string fields[] = {FixedText(t, 3),
                                      std::to_string(l.Live_RPM),
                                      InjTimeToText(l.Live_Petrol_Avg),
                                      InjTimeToText(l.Live_Gas_Avg),
                                      HundredthsToText(l.Live_PressVap),
                                      HundredthsToText(l.Live_PressColl),
                                      TenthsToText(l.Live_TempVap),
                                      TenthsToText(l.Live_TempGas),
                                      AdcToVoltText(l.Live_Level),
                                      modeName(l.Work_Mode),
                                      hexByte(ctx.link.RX_Frame[36]),
                                      hexByte(ctx.link.RX_Frame[37])};
        const char* names[] = {"t",         "rpm",   "petrol", "gas",  "reducer", "manifold",
                               "t_reducer", "t_gas", "level",  "mode", "err1",    "err2"};
        std::string line;
        std::string row;
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            if (i > 0) {
                line += ' ';
                row += ',';
            }
            line.append(names[i]).append("=").append(fields[i]);
            row += fields[i];
        }
        out << line << std::endl; // a reader at the other end of a pipe sees each reply
        if (csv) csv << row << "\n";
    }

    void showProgress(const char* what, int percent) {
        if (!options.progress || options.json) return;
        if (command.name != "read" && command.name != "write") return;
        percent = std::clamp(percent, 0, 100) / 10 * 10;
        if (percent > lastPercent || what != lastWhat) {
            err << what << " " << percent << "%\n";
            lastPercent = percent;
            lastWhat = what;
        }
    }

    void finish(int code) {
        if (self.done_) return;
        self.done_ = true;
        self.exitCode_ = code;
        phase = Phase::Done;
        deadline->stop();
        subscriptions.clear();
        // Nothing more goes out once the command is over.
        ctx.timers.Timer_Sending->stop();
        ctx.timers.Timer_Connect->stop();
        ctx.timers.Timer_GEN_Transmit->stop();
        if (csv) csv.flush();
        logStarted.reset();
        recorder.reset();
        out.flush();
        if (finished) finished(code);
    }

    Session& self;
    Context& ctx;
    SessionOptions options;
    std::ostream& out;
    std::ostream& err;
    std::unique_ptr<Timer> deadline; // finding the ECU, or the end of a live log
    std::vector<Subscription> subscriptions;
    Command command;
    std::function<void(int)> finished;
    Phase phase = Phase::Connecting;
    OperationId readOp = 0;
    OperationId actionOp = 0;
    std::int64_t liveStartUs = 0;
    std::string writeFile;
    ConfigText writeText; // the bytes of writeFile as they were checked
    bool ecuAnswered = false;
    std::ofstream csv;
    std::unique_ptr<LiveRecorder> recorder; // live --log
    Subscription logStarted;
    std::string lastStatus;
    std::string lastTried; // the port the search probes
    int lastPercent = -1;
    std::string lastWhat;
    std::string lastPrompt;
    bool stopRequested = false;
    bool algorithmShown = false;
    bool interruptedOnce = false;
    std::int64_t writeStartUs = 0;
    int writePercent = 0;
    bool gaveUp = false; // the ECU did not come back in time
};

Session::Session(Context& ctx, SessionOptions options, std::ostream& out, std::ostream& err)
    : impl_(std::make_unique<Impl>(*this, ctx, std::move(options), out, err)) {}

Session::~Session() = default;

void Session::start(const Command& command, std::function<void(int)> finished) {
    impl_->start(command, std::move(finished));
}

void Session::interrupt() {
    if (impl_->stopAutocal()) return;
    if (impl_->leaveRestore()) return;
    if (impl_->restoring()) {
        // Leaving now would leave the ECU with the calibration's trial values.
        impl_->err << "bifuel-cli: still restoring what the ECU had, please wait\n";
        return;
    }
    if (impl_->interruptWrite()) return;
    // Ending a live log by hand is the normal way to stop it.
    if (impl_->phase == Impl::Phase::Live) {
        impl_->finish(kDone);
        return;
    }
    if (impl_->phase == Impl::Phase::Done) return;
    impl_->err << "bifuel-cli: interrupted"
               << (impl_->command.name == "write" ? "; nothing was written to the ECU" : "")
               << "\n";
    impl_->finish(kInterrupted);
}

} // namespace bifuel::cli
