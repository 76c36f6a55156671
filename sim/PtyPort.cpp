#include "PtyPort.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace bifuel::sim {

namespace {

constexpr int kHangUpCheckMs = 200;
// A burst larger than this is cut, oldest bytes first: the ECU never sends that much.
constexpr std::size_t kMaxOutput = 64 * 1024;

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

// ---- PseudoTerminal ----------------------------------------------------------------------

PseudoTerminal::~PseudoTerminal() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

bool PseudoTerminal::open() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        error_ = systemError("posix_openpt");
        return false;
    }
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error_ = systemError("grantpt/unlockpt");
        return false;
    }
    const char* name = ::ptsname(master_);
    if (name == nullptr) {
        error_ = systemError("ptsname");
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        error_ = systemError(slavePath_.c_str());
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0) {
        error_ = systemError("tcgetattr");
        return false;
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(slave_, TCSANOW, &tio) != 0) {
        error_ = systemError("tcsetattr");
        return false;
    }
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        error_ = systemError("fcntl");
        return false;
    }
    return true;
}

// ---- PtyPort -----------------------------------------------------------------------------

PtyPort::PtyPort(PollLoop& loop, int masterFd, double byteTimeUs)
    : loop_(loop), fd_(masterFd), byteTimeUs_(byteTimeUs), pacing_(loop.createTimer()),
      delivery_(loop.createTimer()), hangUpCheck_(loop.createTimer(kHangUpCheckMs)) {
    pacing_->setOnFire([this] { flushDue(); });
    delivery_->setOnFire([this] { deliverDue(); });
    hangUpCheck_->setOnFire([this] { checkHangUp(); });
}

PtyPort::~PtyPort() {
    loop_.unwatch(fd_);
}

void PtyPort::fire(const std::function<void()>& handler) {
    if (!handler) return;
    const auto call = handler; // the handler may replace the events
    call();
}

bool PtyPort::open() {
    if (open_) return true;
    open_ = true;
    error_.clear();
    loop_.watch(fd_, POLLIN, [this](short revents) { onReady(revents); });
    fire(events_.opened);
    return true;
}

void PtyPort::close() {
    if (!open_) return;
    open_ = false;
    loop_.unwatch(fd_);
    pacing_->stop();
    delivery_->stop();
    hangUpCheck_->stop();
    input_.clear();
    incoming_.clear();
    output_.clear();
    fire(events_.closed);
}

bool PtyPort::write(const std::uint8_t* data, std::size_t n) {
    if (!open_) {
        error_ = "write failed: port not open";
        return false;
    }
    queueOnLine(output_, lineFreeUs_, data, n);
    while (output_.size() > kMaxOutput)
        output_.pop_front();
    if (!pacing_->isRunning()) armPacing();
    return true;
}

std::size_t PtyPort::read(std::uint8_t* buffer, std::size_t max) {
    const std::size_t n = std::min(max, input_.size());
    std::copy_n(input_.begin(), n, buffer);
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

bool PtyPort::purge() {
    input_.clear();
    incoming_.clear();
    delivery_->stop();
    output_.clear();
    lineFreeUs_ = static_cast<double>(loop_.nowUs());
    pacing_->stop();
    return true;
}

// The next byte goes at its time on the line. Bytes are due back to back, as a UART
// shifts them out, so a loop that woke late hands over every byte already due at once:
// a reply never takes longer than the line needs, and never comes sooner.
void PtyPort::armPacing() {
    armFor(*pacing_, output_);
}

// A byte is through when its ten bits are on the wire: one byte time after the one before,
// from when the line is free.
void PtyPort::queueOnLine(std::deque<TimedByte>& queue, double& lineFreeUs,
                          const std::uint8_t* data, std::size_t n) const {
    double t = std::max(static_cast<double>(loop_.nowUs()), lineFreeUs);
    for (std::size_t i = 0; i < n; ++i) {
        t += byteTimeUs_;
        queue.push_back({t, data[i]});
    }
    lineFreeUs = t;
}

// Starts `timer` for the first byte of `queue`, or stops it when there is none.
void PtyPort::armFor(Timer& timer, const std::deque<TimedByte>& queue) const {
    if (queue.empty()) {
        timer.stop();
        return;
    }
    const double wait = queue.front().dueUs - static_cast<double>(loop_.nowUs());
    timer.setIntervalUs(std::max<std::int64_t>(static_cast<std::int64_t>(std::ceil(wait)), 1));
    timer.start();
}

void PtyPort::flushDue() {
    const double now = static_cast<double>(loop_.nowUs());
    std::uint8_t due[256];
    std::size_t n = 0;
    while (!output_.empty() && output_.front().dueUs <= now && n < sizeof due) {
        due[n++] = output_.front().byte;
        output_.pop_front();
    }
    if (n > 0) {
        ssize_t written = -1;
        do {
            written = ::write(fd_, due, n);
        } while (written < 0 && errno == EINTR);
        // A line does not wait for its listener: bytes the terminal does not take now (its
        // queue is full because nobody reads) are lost, as on a real wire.
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EIO) {
            error_ = systemError("write");
        }
    }
    armPacing();
}

void PtyPort::onReady(short revents) {
    bool got = false;
    if (revents & POLLIN) {
        std::uint8_t buffer[256];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                // The terminal hands the program's bytes over at once; on a wire the ECU
                // has each only when its ten bits are through.
                queueOnLine(incoming_, inLineFreeUs_, buffer, static_cast<std::size_t>(n));
                got = true;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EIO) pauseReading(); // no slave open: a hang-up
            break;
        }
    } else if (revents & (POLLHUP | POLLERR)) {
        pauseReading();
    }
    if (got && !delivery_->isRunning()) armDelivery();
}

void PtyPort::deliverDue() {
    const double now = static_cast<double>(loop_.nowUs());
    bool got = false;
    while (!incoming_.empty() && incoming_.front().dueUs <= now) {
        input_.push_back(incoming_.front().byte);
        incoming_.pop_front();
        got = true;
    }
    armDelivery();
    if (got) fire(events_.bytesArrived);
}

void PtyPort::armDelivery() {
    armFor(*delivery_, incoming_);
}

// With no program on the slave the master reports a hang-up at every poll; watching it
// then would spin. Check a few times a second whether a program has opened it again.
void PtyPort::pauseReading() {
    loop_.unwatch(fd_);
    if (!hangUpCheck_->isRunning()) hangUpCheck_->start();
}

void PtyPort::checkHangUp() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0) return;
    if ((p.revents & POLLHUP) && !(p.revents & POLLIN)) return; // still nobody there
    hangUpCheck_->stop();
    if (open_) loop_.watch(fd_, POLLIN, [this](short revents) { onReady(revents); });
}

} // namespace bifuel::sim
