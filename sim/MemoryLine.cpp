#include "MemoryLine.h"

#include <algorithm>

namespace bifuel::sim {

class MemoryLine::End final : public SerialPort {
  public:
    End(MemoryLine& line, bool isHost) : line_(line), isHost_(isHost) {}

    void setEvents(Events events) override { events_ = std::move(events); }
    void setPortName(const std::string& name) override {
        if (name == name_) return;
        const bool wasOpen = open_;
        if (wasOpen) close();
        name_ = name;
        if (wasOpen) open();
    }
    std::string portName() const override { return name_; }

    bool open() override {
        if (open_) return true;
        open_ = true;
        bool ok = true;
        if (isHost_ && !line_.openFailure_.empty()) {
            error_ = line_.openFailure_;
            ok = false;
        } else {
            error_.clear();
        }
        failedOpen_ = !ok;
        fire(events_.opened);
        return ok;
    }
    void close() override {
        if (!open_) return;
        open_ = false;
        failedOpen_ = false;
        input_.clear();
        fire(events_.closed);
    }
    bool isOpen() const override { return open_; }

    bool write(const std::uint8_t* data, std::size_t n) override {
        if (!usable()) return fail("write failed: device not available");
        line_.send(*this, data, n);
        return true;
    }
    std::size_t read(std::uint8_t* buffer, std::size_t max) override {
        if (!usable()) {
            fail("read failed: device not available");
            return 0;
        }
        const std::size_t n = std::min(max, input_.size());
        std::copy_n(input_.begin(), n, buffer);
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
        return n;
    }
    std::size_t bytesAvailable() const override { return input_.size(); }
    bool purge() override {
        if (!usable()) return fail("purge failed: device not available");
        input_.clear();
        line_.dropInFlightFrom(*this);
        return true;
    }
    std::string errorText() const override { return error_; }

    void receive(std::uint8_t byte) {
        if (open_) input_.push_back(byte);
    }
    void notifyArrived() {
        if (open_ && !input_.empty()) fire(events_.bytesArrived);
    }

    bool isHost() const { return isHost_; }

    // Bytes on their way from this end, not yet delivered.
    std::deque<InFlight> outgoing;

  private:
    // Calls a copy: the handler may replace the events, which would destroy it mid-call.
    static void fire(const std::function<void()>& handler) {
        if (!handler) return;
        const auto call = handler;
        call();
    }
    bool usable() const { return open_ && !failedOpen_ && !(isHost_ && line_.unplugged_); }
    bool fail(const char* reason) {
        error_ = reason;
        return false;
    }

    MemoryLine& line_;
    const bool isHost_;
    Events events_;
    std::string name_;
    std::string error_;
    std::deque<std::uint8_t> input_;
    bool open_ = false;
    bool failedOpen_ = false;
};

MemoryLine::MemoryLine(Scheduler& scheduler, std::int64_t byteTimeUs)
    : scheduler_(scheduler), byteTimeUs_(byteTimeUs), host_(std::make_unique<End>(*this, true)),
      device_(std::make_unique<End>(*this, false)), delivery_(scheduler.createTimer()) {
    delivery_->setOnFire([this] { deliverDue(); });
}

MemoryLine::~MemoryLine() = default;

SerialPort& MemoryLine::host() {
    return *host_;
}
SerialPort& MemoryLine::device() {
    return *device_;
}

std::vector<std::vector<std::uint8_t>> MemoryLine::hostWrites() const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const WireWrite& w : wireLog_) {
        if (w.fromHost) out.push_back(w.bytes);
    }
    return out;
}

void MemoryLine::send(End& from, const std::uint8_t* data, std::size_t n) {
    const std::int64_t now = scheduler_.nowUs();
    wireLog_.push_back({now, from.isHost(), std::vector<std::uint8_t>(data, data + n)});
    // A byte leaves after the bytes already queued at this end, one byte time each.
    std::int64_t t = from.outgoing.empty() ? now : std::max(now, from.outgoing.back().arrivalUs);
    for (std::size_t i = 0; i < n; ++i) {
        t += byteTimeUs_;
        from.outgoing.push_back({t, data[i]});
    }
    scheduleDelivery();
}

void MemoryLine::dropInFlightFrom(End& end) {
    // A purge empties the driver's transmit queue: bytes not yet on the wire are lost.
    end.outgoing.clear();
    scheduleDelivery();
}

void MemoryLine::scheduleDelivery() {
    std::int64_t next = -1;
    for (End* end : {host_.get(), device_.get()}) {
        if (!end->outgoing.empty() && (next < 0 || end->outgoing.front().arrivalUs < next)) {
            next = end->outgoing.front().arrivalUs;
        }
    }
    if (next < 0) {
        delivery_->stop();
        return;
    }
    delivery_->setIntervalUs(std::max<std::int64_t>(next - scheduler_.nowUs(), 0));
    delivery_->start();
}

void MemoryLine::deliverDue() {
    const std::int64_t now = scheduler_.nowUs();
    bool toHost = false;
    bool toDevice = false;
    for (End* from : {host_.get(), device_.get()}) {
        End& to = (from == host_.get()) ? *device_ : *host_;
        while (!from->outgoing.empty() && from->outgoing.front().arrivalUs <= now) {
            to.receive(from->outgoing.front().byte);
            from->outgoing.pop_front();
            (from == host_.get() ? toDevice : toHost) = true;
        }
    }
    scheduleDelivery();
    // Events last: a handler may write, purge or close.
    if (toDevice) device_->notifyArrived();
    if (toHost) host_->notifyArrived();
}

} // namespace bifuel::sim
