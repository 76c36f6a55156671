#include "SimCar.h"

namespace bifuel::sim {

SimCar::SimCar(Scheduler& scheduler, SerialPort& device, const SimOptions& options,
               std::ostream& messages)
    : messages_(messages), ecu_(scheduler, device, initialState(options)),
      engine_(scheduler, ecu_, options.engine) {
    ecu_.faults() = options.faults;
    if (stateFile_) storedWatch_ = ecu_.onStored([this] { saveState(); });
}

SimCar::SimCar(Scheduler& scheduler, MemoryLine& line, const SimOptions& options,
               std::ostream& messages)
    : SimCar(scheduler, line.device(), options, messages) {
    lineWatch_ = ecu_.onLineCut([&line](bool cut) { line.setUnplugged(cut); });
    line.setUnplugged(ecu_.lineCut());
}

EcuState SimCar::initialState(const SimOptions& options) {
    EcuState state = MakeEcuState(options);
    if (options.stateFile.empty()) return state;
    stateFile_.emplace(options.stateFile);
    if (const std::string problem = stateFile_->load(state); !problem.empty())
        messages_ << "simulated ECU: " << problem << std::endl;
    return state;
}

void SimCar::saveState() {
    const std::string error = stateFile_->save(ecu_.state());
    if (!error.empty() && !saveFailed_) {
        messages_ << "simulated ECU: state file " << stateFile_->path().string() << " not saved ("
                  << error << "); it keeps what it held before" << std::endl;
    }
    saveFailed_ = !error.empty();
}

} // namespace bifuel::sim
