#pragma once

#include "EngineModel.h"
#include "SimEcu.h"
#include "SimOptions.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialPort.h"

namespace bifuel::sim {

// A simulated ECU in a simulated car: the ECU answers on `device` (the device end of a
// MemoryLine, or a pseudo-terminal), the engine model drives its live data. Made from the
// same options as the bifuel-sim command line, so the in-process port and the pseudo-terminal
// behave alike.
class SimCar {
  public:
    SimCar(Scheduler& scheduler, SerialPort& device, const SimOptions& options = {});
    SimCar(const SimCar&) = delete;
    SimCar& operator=(const SimCar&) = delete;

    SimEcu& ecu() { return ecu_; }
    EngineModel& engine() { return engine_; }

  private:
    SimEcu ecu_;
    EngineModel engine_; // after the ECU: detaches from it first
};

} // namespace bifuel::sim
