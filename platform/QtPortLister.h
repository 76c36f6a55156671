#pragma once

#include "runtime/SerialPort.h"

#include <functional>
#include <string>
#include <vector>

namespace bifuel::platform {

// The serial ports the system reports, by their full device paths ("/dev/ttyUSB0"; the
// port names on Windows), then the configured port when it is the path of another
// character device (a pseudo-terminal, a /dev/serial/by-id link), then the simulated
// ECU "sim" or a replayed log "replay:FILE" when it is the configured port.
class QtPortLister final : public PortLister {
  public:
    // configuredPort: the Port_Name setting at the time of the call.
    explicit QtPortLister(std::function<std::string()> configuredPort);
    std::vector<std::string> listPorts() const override;

  private:
    std::function<std::string()> configuredPort_;
};

} // namespace bifuel::platform
