#include "ProgramPort.h"

#include "Context.h"
#include "MemoryLine.h"
#include "ReplayModel.h"
#include "SimCar.h"
#include "SimEcu.h"
#include "SimOptions.h"

namespace bifuel::platform {
namespace {

void fire(const std::function<void()>& handler) {
    if (!handler) return;
    const auto call = handler;
    call();
}

} // namespace

ProgramPort::ProgramPort(Scheduler& scheduler)
    : scheduler_(scheduler), options_(std::make_unique<sim::SimOptions>()) {
    serial_.setEvents(forwarders());
}

ProgramPort::~ProgramPort() {
    // The simulated car listens on the line: it goes first.
    car_.reset();
    line_.reset();
    for (Replay& r : replays_) {
        r.car.reset();
        r.line.reset();
    }
}

sim::ReplayCar* ProgramPort::replayCar() {
    return IsReplayPortName(name_) && !replays_.empty() ? replays_.back().car.get() : nullptr;
}

ProgramPort::Replay& ProgramPort::makeReplay() {
    Replay r;
    r.name = name_;
    r.line = std::make_unique<sim::MemoryLine>(scheduler_, sim::MemoryLine::kByteTimeUs9600);
    r.line->host().setEvents(forwarders());
    r.car = sim::OpenReplay(scheduler_, *r.line, name_, *options_);
    replays_.push_back(std::move(r));
    return replays_.back();
}

void ProgramPort::setSimOptions(const sim::SimOptions& options) {
    *options_ = options;
    const bool inUse = name_ == kSimPortName && line_ && line_->host().isOpen();
    if (car_ && !inUse) makeCar();
}

sim::SimEcu* ProgramPort::simulatedEcu() {
    return car_ ? &car_->ecu() : nullptr;
}

void ProgramPort::makeCar() {
    car_.reset();
    car_ = std::make_unique<sim::SimCar>(scheduler_, *line_, *options_);
}

// Both ports report through the events the user set last; only the active one is ever open.
SerialPort::Events ProgramPort::forwarders() {
    return {
        [this] { fire(events_.bytesArrived); },
        [this] { fire(events_.opened); },
        [this] { fire(events_.closed); },
    };
}

void ProgramPort::setEvents(Events events) {
    events_ = std::move(events);
}

void ProgramPort::setPortName(const std::string& name) {
    if (name == name_) return;
    const bool wasOpen = isOpen();
    if (wasOpen) close();
    name_ = name;
    if (name_ == kSimPortName && !line_) {
        // Made once and kept: its timers may be on the stack of a firing handler.
        line_ = std::make_unique<sim::MemoryLine>(scheduler_, sim::MemoryLine::kByteTimeUs9600);
        line_->host().setEvents(forwarders());
        makeCar();
    }
    if (IsReplayPortName(name_) && (replays_.empty() || replays_.back().name != name_))
        makeReplay();
    active().setPortName(name_);
    if (wasOpen) open();
}

SerialPort& ProgramPort::active() {
    if (name_ == kSimPortName) return line_->host();
    if (IsReplayPortName(name_)) return replays_.back().line->host();
    return serial_;
}

const SerialPort& ProgramPort::active() const {
    if (name_ == kSimPortName) return line_->host();
    if (IsReplayPortName(name_)) return replays_.back().line->host();
    return serial_;
}

Subscription ConnectToContext(Context& ctx, ProgramPort& port, PortLister& lister) {
    ctx.lister = &lister;
    return ctx.events.lineSettings.subscribe(
        [&port](const PortLineSettings& settings) { port.setLineSettings(settings); });
}

} // namespace bifuel::platform
