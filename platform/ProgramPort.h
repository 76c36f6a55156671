#pragma once

#include "QtSerialPort.h"
#include "files/Live_Recorder.h"
#include "link/Port_3D_Unit.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialPort.h"
#include "runtime/Signal.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel {
class Context;
} // namespace bifuel

namespace bifuel::sim {
class MemoryLine;
class ReplayCar;
class SimCar;
class SimEcu;
struct SimOptions;
} // namespace bifuel::sim

namespace bifuel::platform {

// "replay:FILE": a recorded live-data log played by an in-process simulated ECU.
using bifuel::IsReplayPortName;
using bifuel::kReplayPortPrefix;

// The port the programs give to the core. Under the name "sim" it is the in-process
// simulated ECU (in its simulated car), on a line paced at 9600 baud and on the program's
// own scheduler; under "replay:FILE" the same, with the drive of a recorded log instead of
// the engine model (a log that cannot be replayed makes a port that does not open, with
// the reason as its error); under any other name a serial device. Renaming closes,
// switches and reopens as any port does.
class ProgramPort final : public SerialPort {
  public:
    explicit ProgramPort(Scheduler& scheduler);
    ~ProgramPort() override;
    ProgramPort(const ProgramPort&) = delete;
    ProgramPort& operator=(const ProgramPort&) = delete;

    void setEvents(Events events) override;
    void setPortName(const std::string& name) override;
    std::string portName() const override { return name_; }

    bool open() override { return active().open(); }
    void close() override { active().close(); }
    bool isOpen() const override { return active().isOpen(); }

    bool write(const std::uint8_t* data, std::size_t n) override { return active().write(data, n); }
    std::size_t read(std::uint8_t* buffer, std::size_t max) override {
        return active().read(buffer, max);
    }
    std::size_t bytesAvailable() const override { return active().bytesAvailable(); }
    bool purge() override { return active().purge(); }
    void expectBytes(std::size_t n) override { active().expectBytes(n); }
    std::string errorText() const override { return active().errorText(); }

    // For the serial device; the simulated line has no line settings.
    void setLineSettings(const PortLineSettings& settings) { serial_.setLineSettings(settings); }

    // What the simulated car is made from. Used when it is made, the first time the port
    // is named "sim"; a car not in use is made again with them.
    void setSimOptions(const sim::SimOptions& options);

    // The simulated ECU and its car, made the first time the port is named "sim"; null
    // before.
    sim::SimEcu* simulatedEcu();
    sim::SimCar* simulatedCar() { return car_.get(); }
    // The replaying ECU while the port is named "replay:FILE" and the log could be read.
    sim::ReplayCar* replayCar();

  private:
    SerialPort& active();
    const SerialPort& active() const;
    Events forwarders();

    Scheduler& scheduler_;
    Events events_;
    std::string name_;
    QtSerialPort serial_;
    void makeCar();

    std::unique_ptr<sim::SimOptions> options_;
    std::unique_ptr<sim::MemoryLine> line_;
    std::unique_ptr<sim::SimCar> car_;

    struct Replay {
        std::string name;
        std::unique_ptr<sim::MemoryLine> line;
        std::unique_ptr<sim::ReplayCar> car; // none when the log cannot be replayed
    };
    Replay& makeReplay();
    // Every replay named so far, the current one last. Kept, as the simulated line is:
    // their timers may be on the stack of a firing handler when the port is renamed.
    std::vector<Replay> replays_;
};

// What a program hands the core besides the port itself: the system's port list, and the
// manual port dialog's line settings on their way to the device.
// The manual port dialog's line settings reach the port for as long as the result is kept.
Subscription ConnectToContext(Context& ctx, ProgramPort& port, PortLister& lister);

} // namespace bifuel::platform
