#pragma once

#include "link/Port_3D_Unit.h"
#include "runtime/SerialPort.h"

#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>

class QSocketNotifier;

namespace bifuel::platform {

// The system's reason for a failed port operation. On Linux a device the user may not
// access gets the command that allows it: membership of deniedGroup, the group that owns
// the device (empty: not such a refusal).
std::string PortFailureReason(QSerialPort::SerialPortError error, const std::string& systemText,
                              const std::string& deniedGroup);

// A serial device through QSerialPort, on the event loop of the thread that made it.
// Opening fires `opened` also when it fails; the port then counts as open with its device
// failed, so every read, write and purge fails until it is closed. A device that fails
// later (an adapter unplugged, the far end of a pseudo-terminal hung up) is released at
// once, so a dead descriptor cannot keep the event loop busy; the link notices at its
// next operation.
class QtSerialPort final : public SerialPort {
  public:
    QtSerialPort();
    ~QtSerialPort() override;
    QtSerialPort(const QtSerialPort&) = delete;
    QtSerialPort& operator=(const QtSerialPort&) = delete;

    void setEvents(Events events) override;
    void setPortName(const std::string& name) override;
    std::string portName() const override { return name_; }

    bool open() override;
    void close() override;
    bool isOpen() const override { return open_; }

    bool write(const std::uint8_t* data, std::size_t n) override;
    std::size_t read(std::uint8_t* buffer, std::size_t max) override;
    std::size_t bytesAvailable() const override;
    bool purge() override;
    void expectBytes(std::size_t n) override;
    std::string errorText() const override { return error_; }

    // Used from the next open on; an open device takes them at once.
    void setLineSettings(const PortLineSettings& settings);
    const PortLineSettings& lineSettings() const { return line_; }

  private:
    bool usable() const { return open_ && !failed_; }
    bool fail(const char* what);
    bool applyLineSettings();
    void onError(QSerialPort::SerialPortError error);
    void restUntilReplyDue();
    void wake();
    QSocketNotifier* readNotifier() const;

    QObject context_; // receiver of the device's signals and of deferred calls
    std::unique_ptr<QSerialPort> device_;
    Events events_;
    std::string name_;
    std::string error_;
    PortLineSettings line_;
    bool open_ = false;
    bool failed_ = false;
    bool configuring_ = false;     // errors of our own settings calls are handled there
    std::uint64_t generation_ = 0; // counts opens and closes, for deferred releases
    std::size_t awaited_ = 0;      // bytes of the expected reply still to come
    QTimer resume_;                // ends the notifier's rest while a reply comes
};

} // namespace bifuel::platform
