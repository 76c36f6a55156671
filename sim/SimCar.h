#pragma once

#include "EngineModel.h"
#include "MemoryLine.h"
#include "SimEcu.h"
#include "SimOptions.h"
#include "StateFile.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialPort.h"
#include "runtime/Signal.h"

#include <iostream>
#include <optional>

namespace bifuel::sim {

// A simulated ECU in a simulated car: the ECU answers on `device` (the device end of a
// MemoryLine, or a pseudo-terminal), the engine model drives its live data. Made from the
// same options as the bifuel-sim command line, so the in-process port and the pseudo-terminal
// behave alike. With a state file, the ECU's memory comes from it and goes back to it after
// every stored write; what the user should know about the file goes to `messages`.
class SimCar {
  public:
    SimCar(Scheduler& scheduler, SerialPort& device, const SimOptions& options = {},
           std::ostream& messages = std::cerr);
    // On the device end of an in-process line, which a cut of the line unplugs (as an
    // adapter pulled out) until it is restored. The line must outlive the car.
    SimCar(Scheduler& scheduler, MemoryLine& line, const SimOptions& options = {},
           std::ostream& messages = std::cerr);
    SimCar(const SimCar&) = delete;
    SimCar& operator=(const SimCar&) = delete;

    SimEcu& ecu() { return ecu_; }
    EngineModel& engine() { return engine_; }

  private:
    EcuState initialState(const SimOptions& options);
    void saveState();

    std::ostream& messages_;
    std::optional<StateFile> stateFile_; // before the ECU: its memory comes from it
    bool saveFailed_ = false;            // reported once until a save works again
    SimEcu ecu_;
    EngineModel engine_; // after the ECU: detaches from it first
    Subscription storedWatch_;
    Subscription lineWatch_;
};

} // namespace bifuel::sim
