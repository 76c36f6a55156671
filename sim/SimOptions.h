#pragma once

#include "SimEcu.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel::sim {

// One point of a curve: petrol time -> gas time, microseconds.
struct CurvePoint {
    double petrolUs = 0;
    double gasUs = 0;
};

// A change of the scenario at a given time after the start ("at=SECONDS:KEY=VALUE").
// Blanks, tabs and a line's carriage return taken off both ends of a text.
std::string_view TrimBlanks(std::string_view s);

struct TimedChange {
    std::int64_t atMs = 0;
    std::string key;
    std::string value;
};

// What the car does and what it hides from the tool. All of it can be given as KEY=VALUE.
struct EngineOptions {
    std::uint32_t seed = 1;    // sensor noise and cylinder spread
    bool running = true;       // engine=on|off
    int idleRpm = 800;         // idle=RPM
    int targetRpm = 0;         // rpm=RPM the driver holds; 0 = idle
    double load = 0.0;         // load=PERCENT, 0..100, kept as 0..1
    double rampRpmPerS = 1500; // ramp=RPM_PER_S: how fast the driver changes the speed
    double ambientC = 20;      // ambient=DEGREES
    bool warm = false;         // warm=1: the reducer starts at working temperature
    double warmupS = 60;       // warmup=SECONDS: time constant of the reducer warm-up
    int reducerDiff = 120;     // reducer=HUNDREDTHS: reducer over manifold when warm
    double fuel = 0.6;         // fuel=PERCENT in the tank, kept as 0..1
    double jet = 1.0;          // jet=FACTOR: gas jet capacity against the right size
    // The gas time the engine really needs for a petrol time. Either 2..9 points
    // (true_curve=P:G,P:G,...) or the line true_offset + true_gain x petrol time. The
    // default needs more gas than the ECU's default diagram gives.
    std::vector<CurvePoint> trueCurve;
    double trueGain = 1.10;            // true_gain=FACTOR
    double trueOffsetUs = 1920;        // true_offset=US
    std::uint8_t errors1 = 0;          // errors1=BYTE: error flags raised at start
    std::uint8_t errors2 = 0;          // errors2=BYTE
    bool unplugged = false;            // unplug=1|0: the line cut or restored
    std::vector<TimedChange> timeline; // at=SECONDS:KEY=VALUE, repeatable
};

// Everything a simulated car is made from: the ECU's identity, its line faults and the
// engine scenario.
struct SimOptions {
    std::uint8_t code = 25;          // code=23|25|26: the program code the ECU answers
    std::string firmware = "2.54";   // firmware=VERSION
    std::string model = "KestraLX";  // model=TEXT
    std::string date = "2014.03.12"; // date=TEXT
    int identLength = 42;            // N=LENGTH of the identification block
    Faults faults;                   // drop, corrupt, echo, split, split_gap, surplus
    std::string stateFile;           // state=FILE: the ECU's memory between runs
    double replaySpeed = 1.0;        // speed=N: a replayed log runs N times its recorded pace
    EngineOptions engine;
};

// Applies one KEY=VALUE. Returns an error text, empty when the option was taken.
std::string ApplySimOption(SimOptions& options, std::string_view keyValue);

// Applies a scenario key (the keys of EngineOptions, not "at"). Returns an error text,
// empty when taken. Used for options, timed changes and commands at run time.
std::string ApplyEngineOption(EngineOptions& options, std::string_view key, std::string_view value);

// The keys and their meaning, for --help.
std::string SimOptionHelp();

// The ECU's state for these options: the default ECU with the given identity.
EcuState MakeEcuState(const SimOptions& options);

} // namespace bifuel::sim
