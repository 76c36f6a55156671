#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bifuel {

// A byte port to the ECU. Every call returns at once: writes are queued, reads take what
// has arrived. Events are delivered on the event-loop thread. A failing operation returns
// false and leaves a reason in errorText(); the link records that as its port error and
// skips further port operations until it has handled it.
class SerialPort {
  public:
    struct Events {
        std::function<void()> bytesArrived; // at least one byte waits to be read
        std::function<void()> opened;       // after open(), also when the open failed
        std::function<void()> closed;       // after close() of an open port
    };

    virtual ~SerialPort() = default;

    // Replaces the event handlers; the port keeps no other reference to its user.
    virtual void setEvents(Events events) = 0;

    // Sets the name of the device to open. Renaming an open port closes it and opens it
    // again under the new name.
    virtual void setPortName(const std::string& name) = 0;
    virtual std::string portName() const = 0;

    // Opens with the fixed line settings (9600 8N1, no flow control, DTR and RTS off).
    // Does nothing when already open. Returns false when the device could not be opened;
    // like the ECU link expects, the port then still counts as open and `opened` fires.
    virtual bool open() = 0;
    // Does nothing when not open; otherwise closes and fires `closed`.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Queues n bytes for sending. False when the port is not open or the device failed.
    virtual bool write(const std::uint8_t* data, std::size_t n) = 0;
    // Moves up to `max` received bytes into `buffer`; returns how many. Never waits.
    // Returns 0 while bytes wait only when the device failed.
    virtual std::size_t read(std::uint8_t* buffer, std::size_t max) = 0;
    virtual std::size_t bytesAvailable() const = 0;
    // Discards everything received and not yet read, and everything not yet sent.
    virtual bool purge() = 0;
    // The reply now expected is n bytes long. A port may hold back `bytesArrived` until
    // that many have come, instead of waking its user for every byte of a slow line.
    virtual void expectBytes(std::size_t n) { (void)n; }

    // The system's reason for the last failure, empty when none.
    virtual std::string errorText() const = 0;
};

// Lists the serial ports of the machine in the system's order.
class PortLister {
  public:
    virtual ~PortLister() = default;
    virtual std::vector<std::string> listPorts() const = 0;
};

} // namespace bifuel
