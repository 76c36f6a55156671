#include "SimCar.h"

namespace bifuel::sim {

SimCar::SimCar(Scheduler& scheduler, SerialPort& device, const SimOptions& options)
    : ecu_(scheduler, device, MakeEcuState(options)), engine_(scheduler, ecu_, options.engine) {
    ecu_.faults() = options.faults;
}

} // namespace bifuel::sim
