#pragma once

#include "Context.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace bifuel::cli {

// Exit statuses of the command-line tool.
enum Exit : int {
    kDone = 0,
    kNoEcu = 1,              // no ECU answered in time, or it did not acknowledge
    kUsage = 2,              // wrong usage or unusable input
    kPortFailed = 3,         // the port cannot be opened
    kNoTemperatureTable = 4, // a command that converts temperatures found no usable table
    kInterrupted = 130,      // Ctrl+C (128 + SIGINT, as shells report it)
};

struct Command {
    std::string name;              // ports, identify, read, write, live, mode, clear-errors
    std::vector<std::string> args; // what follows the command
};

struct SessionOptions {
    int timeoutS = 10;
    bool json = false;
    bool progress = true; // progress on standard error while reading or writing
    double liveSeconds = 10.0;
    std::string outputFile; // read -o
    std::string csvFile;    // live --csv
    bool logLive = false;   // live --log: also recorded into Logs/ as the program records
    // No port given or configured and several listed: the program's port search finds
    // the ECU, and each port it probes is printed.
    bool searchPort = false;
};

// The port a command talks to: --port, else Port_Name of the settings, else the only
// port listed; with several listed, a search (`search` set, no name).
struct PortChoice {
    std::string port;
    bool search = false;
    std::string error; // no port at all
};
PortChoice ChoosePort(const std::string& given, const std::string& configured,
                      const std::vector<std::string>& listed);

// One command against the ECU: drives the program's link through its core operations,
// renders what the program shows as text, and finishes with an exit status. It only
// reacts to the link's hooks and a watch timer, so it runs on any scheduler.
class Session {
  public:
    Session(Context& ctx, SessionOptions options, std::ostream& out, std::ostream& err);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Starts the command; `finished` is called once with the exit status.
    void start(const Command& command, std::function<void(int)> finished);
    bool done() const { return done_; }
    int exitCode() const { return exitCode_; }

    // Ctrl+C: stops at once, nothing more is sent; a write is let finish the first time and
    // stopped the second; an auto-calibration restores what the ECU had first.
    void interrupt();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool done_ = false;
    int exitCode_ = 0;
    friend struct Impl;
};

// The usage text.
std::string UsageText();

} // namespace bifuel::cli
