#pragma once

#include "PollLoop.h"
#include "runtime/SerialPort.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace bifuel::sim {

// A pseudo-terminal pair for the simulated ECU: the master is ours, the slave is the
// "serial port" a program opens. We keep a descriptor of the slave open ourselves, so the
// line settings stay raw and the master never sees a hang-up when that program closes it.
class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates the pair: master non-blocking, slave raw at 9600 baud. False with a reason
    // in error() when the system refuses.
    bool open();
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    const std::string& error() const { return error_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string error_;
};

// The device end of the simulated serial line on a pseudo-terminal master. Bytes written
// leave at the pace of the line (one byte time each, 1.0417 ms at 9600 baud): each byte is
// written when its time has come, never faster.
class PtyPort final : public SerialPort {
  public:
    static constexpr double kByteTimeUs9600 = 1e6 * 10 / 9600;

    PtyPort(PollLoop& loop, int masterFd, double byteTimeUs = kByteTimeUs9600);
    ~PtyPort() override;
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    void setEvents(Events events) override { events_ = std::move(events); }
    void setPortName(const std::string& name) override { name_ = name; }
    std::string portName() const override { return name_; }
    bool open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool write(const std::uint8_t* data, std::size_t n) override;
    std::size_t read(std::uint8_t* buffer, std::size_t max) override;
    std::size_t bytesAvailable() const override { return input_.size(); }
    bool purge() override;
    std::string errorText() const override { return error_; }

    // Bytes queued and not yet written to the master.
    std::size_t pendingBytes() const { return output_.size(); }

  private:
    struct TimedByte {
        double dueUs;
        std::uint8_t byte;
    };

    void onReady(short revents);
    void flushDue();
    void armPacing();
    void deliverDue();
    void armDelivery();
    void armFor(Timer& timer, const std::deque<TimedByte>& queue) const;
    void queueOnLine(std::deque<TimedByte>& queue, double& lineFreeUs, const std::uint8_t* data,
                     std::size_t n) const;
    void pauseReading();
    void checkHangUp();
    static void fire(const std::function<void()>& handler);

    PollLoop& loop_;
    const int fd_;
    const double byteTimeUs_;
    Events events_;
    std::string name_;
    std::string error_;
    bool open_ = false;
    std::deque<std::uint8_t> input_;
    std::deque<TimedByte> incoming_; // read from the terminal, not yet through the line
    std::deque<TimedByte> output_;
    double lineFreeUs_ = 0;   // when the last queued byte has left
    double inLineFreeUs_ = 0; // when the last incoming byte is through
    std::unique_ptr<Timer> pacing_;
    std::unique_ptr<Timer> delivery_;
    std::unique_ptr<Timer> hangUpCheck_;
};

} // namespace bifuel::sim
