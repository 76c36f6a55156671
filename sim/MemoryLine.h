#pragma once

#include "runtime/Scheduler.h"
#include "runtime/SerialPort.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace bifuel::sim {

// One write as it went on the line, for tests that check exact wire bytes.
struct WireWrite {
    std::int64_t timeUs = 0; // when the write was queued
    bool fromHost = false;   // true: PC to ECU
    std::vector<std::uint8_t> bytes;
};

// An in-memory serial cable with two ends: the host end (what the link opens) and the
// device end (where the simulated ECU listens). Bytes written at one end arrive at the
// other one byte time apart, as on a real line; a byte time of 0 delivers at once, but
// still from the scheduler, never inside the writer's call.
class MemoryLine {
  public:
    static constexpr std::int64_t kByteTimeUs9600 = 1042; // 10 bits at 9600 baud, rounded

    MemoryLine(Scheduler& scheduler, std::int64_t byteTimeUs = 0);
    ~MemoryLine();
    MemoryLine(const MemoryLine&) = delete;
    MemoryLine& operator=(const MemoryLine&) = delete;

    SerialPort& host();
    SerialPort& device();

    void setByteTimeUs(std::int64_t us) { byteTimeUs_ = us; }
    std::int64_t byteTimeUs() const { return byteTimeUs_; }

    // Faults of the host end: the device cannot be opened (with the system's reason), or
    // it vanished (every write, read and purge fails until cleared).
    void setOpenFailure(std::string reason) { openFailure_ = std::move(reason); }
    void setUnplugged(bool unplugged) { unplugged_ = unplugged; }
    bool unplugged() const { return unplugged_; }

    // Every write of both ends in order; cleared by clearWireLog().
    const std::vector<WireWrite>& wireLog() const { return wireLog_; }
    std::vector<std::vector<std::uint8_t>> hostWrites() const;
    void clearWireLog() { wireLog_.clear(); }

  private:
    class End;
    struct InFlight {
        std::int64_t arrivalUs;
        std::uint8_t byte;
    };

    void send(End& from, const std::uint8_t* data, std::size_t n);
    void dropInFlightFrom(End& end);
    void deliverDue();
    void scheduleDelivery();

    Scheduler& scheduler_;
    std::int64_t byteTimeUs_;
    std::unique_ptr<End> host_;
    std::unique_ptr<End> device_;
    std::unique_ptr<Timer> delivery_;
    std::string openFailure_;
    bool unplugged_ = false;
    std::vector<WireWrite> wireLog_;
};

} // namespace bifuel::sim
