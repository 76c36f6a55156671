// bifuel-studio: the desktop program.

#include "Global_Window.h"
#include "Main_Logic.h"
#include "OpenGL_MSG.h"
#include "ProgramPort.h"
#include "Program_Folder.h"
#include "QtPortLister.h"
#include "QtScheduler.h"
#include "SimOptions.h"
#include "Single_Instance.h"
#include "Studio_App.h"
#include "Version.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

namespace {

// --sim-option KEY=VALUE: the simulated ECU of the port "sim" (or "replay:FILE"), as in
// bifuel-cli. --port NAME: the port of this run instead of the one in the settings.
struct RunOptions {
    bifuel::sim::SimOptions simOptions;
    std::string portName;
    std::string error; // not empty: the program ends with it
};

RunOptions ReadRunOptions(int argc, char** argv) {
    RunOptions run;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view option;
        if (arg == "--port" || arg.starts_with("--port=")) {
            run.portName =
                arg == "--port" ? (i + 1 < argc ? argv[++i] : "") : std::string(arg.substr(7));
            if (run.portName.empty()) {
                run.error = "--port needs a port name";
                return run;
            }
            continue;
        }
        if (arg == "--sim-option") {
            option = i + 1 < argc ? argv[++i] : "";
        } else if (arg.starts_with("--sim-option=")) {
            option = arg.substr(arg.find('=') + 1);
        } else {
            continue;
        }
        run.error = bifuel::sim::ApplySimOption(run.simOptions, option);
        if (!run.error.empty()) return run;
    }
    return run;
}

// For this run: the port opens when the window is shown, and the settings file keeps the
// port it had.
void UsePortForThisRun(bifuel::ui::StudioApp& studio, bifuel::platform::ProgramPort& port,
                       const std::string& portName) {
    bifuel::Settings_Class& settings = studio.context().settings;
    settings.Port_Name_In_File = settings.Port_Name;
    settings.Port_Name = portName;
    port.setPortName(portName);
}

// For the start-up figure of an installed program (bench/install_figures): the time the
// window first showed its indicators goes to the file named, and the program ends.
void StampFirstShow(bifuel::ui::StudioApp& studio, const char* stamp) {
    studio.main().onIndicatorsPainted = [file = std::string(stamp), &studio,
                                         done = false]() mutable {
        if (done) return;
        done = true;
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::ofstream(file) << std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()
                            << "\n";
        QTimer::singleShot(0, [&studio] { studio.main().close(); });
    };
}

} // namespace

int main(int argc, char** argv) {
    using namespace bifuel;
    // Answered without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--version") {
            std::cout << "bifuel-studio " << kProgramVersion << "\n";
            return 0;
        }
    }
    QApplication app(argc, argv);
    const RunOptions run = ReadRunOptions(argc, argv);
    if (!run.error.empty()) {
        std::cerr << "bifuel-studio: " << run.error << "\n";
        return 2;
    }

    // Files are named after the program; they live in the folder it was started in when
    // that holds the temperature table, else (installed) in the user's data folder.
    const char* argv0 = argc > 0 ? argv[0] : nullptr;
    const platform::ProgramFolder folder =
        platform::OpenProgramFolder(argv0, BaseNameOf(argv0 != nullptr ? argv0 : "bifuel-studio"));
    if (!folder.problem.empty()) std::cerr << "bifuel-studio: " << folder.problem << "\n";
    const Paths& paths = folder.paths;
    const char* user = std::getenv("USER");
    ui::SingleInstance instance(
        ui::InstanceServerName(user != nullptr ? user : "", paths.Work_Dir));
    instance.closeRunningCopy();
    // From here a later copy closes this one, whichever window it shows.
    QWidget* programWindow = nullptr;
    instance.listen([&programWindow] {
        if (programWindow != nullptr) programWindow->close();
        QCoreApplication::quit();
    });

    ui::RealOpenGLCheck check;
    if (auto failed = ui::CheckOpenGL(check, paths)) {
        programWindow = failed.get();
        QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
        return app.exec();
    }

    platform::QtScheduler scheduler;
    platform::ProgramPort port(scheduler);
    port.setSimOptions(run.simOptions);
    ui::StudioApp studio(scheduler, port, paths);
    if (!run.portName.empty()) UsePortForThisRun(studio, port, run.portName);
    platform::QtPortLister lister([&studio] { return studio.context().settings.Port_Name; });
    // The system's ports, and the line settings of the manual port choice to the port.
    const Subscription lineSettings = platform::ConnectToContext(studio.context(), port, lister);
    programWindow = &studio.main();
    studio.onEnd = [] { QCoreApplication::quit(); };
    app.setQuitOnLastWindowClosed(false);
    if (const char* stamp = std::getenv("BIFUEL_SHOWN_STAMP"); stamp != nullptr && *stamp != '\0')
        StampFirstShow(studio, stamp);
    studio.Show();
    const int status = app.exec();
    programWindow = nullptr;
    return status;
}
