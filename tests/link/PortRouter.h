#pragma once

#include "MemoryLine.h"
#include "runtime/SerialPort.h"
#include "runtime/VirtualScheduler.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace bifuel::test {

// The link's port as a machine with several serial ports: each name is its own line, and
// a simulated ECU answers on the line it is attached to. Records every open that found
// the port closed, in order.
class PortRouter final : public SerialPort {
  public:
    explicit PortRouter(VirtualScheduler& clock) : clock_(clock) {}

    sim::MemoryLine& line(const std::string& name) {
        auto& slot = lines_[name];
        if (!slot) {
            slot = std::make_unique<sim::MemoryLine>(clock_, sim::MemoryLine::kByteTimeUs9600);
            slot->host().setPortName(name);
            slot->host().setEvents({
                [this] { fire(events_.bytesArrived); },
                [this] { fire(events_.opened); },
                [this] { fire(events_.closed); },
            });
        }
        return *slot;
    }

    std::vector<std::string> opens;

    void setEvents(Events events) override { events_ = std::move(events); }
    void setPortName(const std::string& name) override {
        if (name == name_) return;
        const bool wasOpen = isOpen();
        if (wasOpen) close();
        name_ = name;
        if (wasOpen) open();
    }
    std::string portName() const override { return name_; }
    bool open() override {
        if (!active().isOpen()) opens.push_back(name_);
        return active().open();
    }
    void close() override { active().close(); }
    bool isOpen() const override {
        return lines_.count(name_) && lines_.at(name_)->host().isOpen();
    }
    bool write(const std::uint8_t* d, std::size_t n) override { return active().write(d, n); }
    std::size_t read(std::uint8_t* b, std::size_t max) override { return active().read(b, max); }
    std::size_t bytesAvailable() const override {
        return lines_.count(name_) ? lines_.at(name_)->host().bytesAvailable() : 0;
    }
    bool purge() override { return active().purge(); }
    std::string errorText() const override {
        return lines_.count(name_) ? lines_.at(name_)->host().errorText() : std::string();
    }

  private:
    static void fire(const std::function<void()>& handler) {
        if (!handler) return;
        const auto call = handler;
        call();
    }
    SerialPort& active() { return line(name_).host(); }

    VirtualScheduler& clock_;
    std::map<std::string, std::unique_ptr<sim::MemoryLine>> lines_;
    Events events_;
    std::string name_;
};

} // namespace bifuel::test
