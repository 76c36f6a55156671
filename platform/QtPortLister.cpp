#include "QtPortLister.h"

#include "ProgramPort.h"
#include "link/Port_3D_Unit.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace bifuel::platform {

QtPortLister::QtPortLister(std::function<std::string()> configuredPort)
    : configuredPort_(std::move(configuredPort)) {}

std::vector<std::string> QtPortLister::listPorts() const {
    std::vector<std::string> ports;
    const auto add = [&ports](std::string name) {
        if (!name.empty() && std::find(ports.begin(), ports.end(), name) == ports.end()) {
            ports.push_back(std::move(name));
        }
    };
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#if defined(Q_OS_WIN)
        add(info.portName().toStdString());
#else
        add(info.systemLocation().toStdString());
#endif
    }
    const std::string configured = configuredPort_ ? configuredPort_() : std::string();
    if (configured == kSimPortName || IsReplayPortName(configured)) {
        add(configured);
    } else if (!configured.empty()) {
        std::error_code ec;
        if (std::filesystem::is_character_file(configured, ec)) add(configured);
    }
    return ports;
}

} // namespace bifuel::platform
