#include "QtSerialPort.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#if defined(Q_OS_UNIX)
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <utility>

namespace bifuel::platform {
namespace {

// Calls a copy: the handler may replace the events, which would destroy it mid-call.
void fire(const std::function<void()>& handler) {
    if (!handler) return;
    const auto call = handler;
    call();
}

QSerialPort::Parity toQt(PortParity p) {
    switch (p) {
    case PortParity::Even:
        return QSerialPort::EvenParity;
    case PortParity::Odd:
        return QSerialPort::OddParity;
    case PortParity::Space:
        return QSerialPort::SpaceParity;
    case PortParity::Mark:
        return QSerialPort::MarkParity;
    case PortParity::None:
        break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(PortStopBits s) {
    switch (s) {
    case PortStopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case PortStopBits::Two:
        return QSerialPort::TwoStop;
    case PortStopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

QSerialPort::FlowControl toQt(PortFlowControl f) {
    switch (f) {
    case PortFlowControl::Hardware:
        return QSerialPort::HardwareControl;
    case PortFlowControl::Software:
        return QSerialPort::SoftwareControl;
    case PortFlowControl::None:
        break;
    }
    return QSerialPort::NoFlowControl;
}

// The group that owns the device node when the user may not read and write it: the one
// "permission denied" that group membership cures (a port locked or held by another program
// is not it). Empty otherwise.
std::string deviceGroupDenying(const std::string& name) {
#if defined(Q_OS_UNIX)
    const std::string path = (!name.empty() && name.front() == '/') ? name : "/dev/" + name;
    if (::access(path.c_str(), R_OK | W_OK) == 0 || errno != EACCES) return {};
    struct stat node {};
    if (::stat(path.c_str(), &node) == 0) {
        if (const group* owner = ::getgrgid(node.st_gid);
            owner != nullptr && owner->gr_name != nullptr)
            return owner->gr_name;
    }
    return "dialout"; // the usual owner of serial ports
#else
    (void)name;
    return {};
#endif
}

} // namespace

std::string PortFailureReason(QSerialPort::SerialPortError error, const std::string& systemText,
                              const std::string& deniedGroup) {
    std::string reason = systemText.empty() ? "unknown error" : systemText;
#if defined(Q_OS_LINUX)
    if (error == QSerialPort::PermissionError && !deniedGroup.empty()) {
        reason += ". The port belongs to the group \"" + deniedGroup +
                  "\": add yourself with \"sudo usermod -aG " + deniedGroup +
                  " $USER\", then log out and in again";
    }
#else
    (void)error;
    (void)deniedGroup;
#endif
    return reason;
}

QtSerialPort::QtSerialPort() : device_(std::make_unique<QSerialPort>()) {
    QObject::connect(device_.get(), &QSerialPort::readyRead, &context_, [this] {
        if (!usable()) return;
        fire(events_.bytesArrived);
        restUntilReplyDue();
    });
    resume_.setSingleShot(true);
    resume_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&resume_, &QTimer::timeout, &context_, [this] { wake(); });
    QObject::connect(device_.get(), &QSerialPort::errorOccurred, &context_,
                     [this](QSerialPort::SerialPortError error) { onError(error); });
}

QtSerialPort::~QtSerialPort() {
    QObject::disconnect(device_.get(), nullptr, &context_, nullptr);
    if (device_->isOpen()) device_->close();
}

void QtSerialPort::setEvents(Events events) {
    events_ = std::move(events);
}

void QtSerialPort::setPortName(const std::string& name) {
    if (name == name_) return;
    const bool wasOpen = open_;
    if (wasOpen) close();
    name_ = name;
    if (wasOpen) open();
}

bool QtSerialPort::open() {
    if (open_) return true;
    open_ = true;
    failed_ = false;
    error_.clear();
    ++generation_;
    device_->setPortName(QString::fromStdString(name_));
    configuring_ = true;
    bool ok = device_->open(QIODevice::ReadWrite);
    if (ok) {
        ok = applyLineSettings();
    } else {
        error_ = PortFailureReason(device_->error(), device_->errorString().toStdString(),
                                   deviceGroupDenying(name_));
    }
    configuring_ = false;
    if (!ok) {
        failed_ = true;
        if (device_->isOpen()) device_->close();
    }
    fire(events_.opened);
    return ok;
}

void QtSerialPort::close() {
    if (!open_) return;
    awaited_ = 0;
    resume_.stop();
    open_ = false;
    failed_ = false;
    ++generation_;
    if (device_->isOpen()) device_->close();
    fire(events_.closed);
}

bool QtSerialPort::write(const std::uint8_t* data, std::size_t n) {
    if (!usable()) return fail("write failed: the port is not usable");
    const auto size = static_cast<qint64>(n);
    if (device_->write(reinterpret_cast<const char*>(data), size) != size) {
        return fail("write failed");
    }
    return true;
}

std::size_t QtSerialPort::read(std::uint8_t* buffer, std::size_t max) {
    if (!usable()) {
        fail("read failed: the port is not usable");
        return 0;
    }
    const qint64 got = device_->read(reinterpret_cast<char*>(buffer), static_cast<qint64>(max));
    if (got < 0) {
        fail("read failed");
        return 0;
    }
    return static_cast<std::size_t>(got);
}

std::size_t QtSerialPort::bytesAvailable() const {
    return usable() ? static_cast<std::size_t>(device_->bytesAvailable()) : 0;
}

bool QtSerialPort::purge() {
    if (!usable()) return fail("purge failed: the port is not usable");
    awaited_ = 0;
    wake();
    // Also empties what Qt has buffered on either side.
    if (!device_->clear(QSerialPort::AllDirections)) return fail("purge failed");
    return true;
}

void QtSerialPort::expectBytes(std::size_t n) {
    awaited_ = n;
}

// At 9600 baud a byte comes every millisecond, and waking for each costs more than all
// the rest of the polling. While a reply is still coming, the device's read notifier
// rests until the rest of it can be there; bytes wait in the system meanwhile, and the
// notifier reports them at once when it is on again.
void QtSerialPort::restUntilReplyDue() {
    if (awaited_ == 0 || !usable()) return;
    QSocketNotifier* notifier = readNotifier();
    if (notifier == nullptr || !notifier->isEnabled()) return;
    notifier->setEnabled(false);
    const int bits = 1 + line_.Data_Bits + (line_.Parity == PortParity::None ? 0 : 1) +
                     (line_.Stop_Bits == PortStopBits::One ? 1 : 2);
    const double ms = static_cast<double>(awaited_) * bits * 1000.0 / std::max(line_.Baud_Rate, 1);
    resume_.start(static_cast<int>(std::ceil(ms)));
}

void QtSerialPort::wake() {
    resume_.stop();
    if (QSocketNotifier* notifier = readNotifier(); notifier != nullptr && device_->isOpen()) {
        notifier->setEnabled(true);
    }
}

QSocketNotifier* QtSerialPort::readNotifier() const {
    for (QSocketNotifier* n : device_->findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly)) {
        if (n->type() == QSocketNotifier::Read) return n;
    }
    return nullptr;
}

void QtSerialPort::setLineSettings(const PortLineSettings& settings) {
    line_ = settings;
    if (!usable()) return;
    configuring_ = true;
    const bool ok = applyLineSettings();
    configuring_ = false;
    if (!ok) failed_ = true;
}

bool QtSerialPort::fail(const char* what) {
    // Keep the device's own reason when there is one.
    if (error_.empty()) error_ = what;
    return false;
}

bool QtSerialPort::applyLineSettings() {
    const bool ok = device_->setBaudRate(line_.Baud_Rate) &&
                    device_->setDataBits(static_cast<QSerialPort::DataBits>(line_.Data_Bits)) &&
                    device_->setParity(toQt(line_.Parity)) &&
                    device_->setStopBits(toQt(line_.Stop_Bits)) &&
                    device_->setFlowControl(toQt(line_.Flow_Control));
    if (!ok) {
        error_ = PortFailureReason(device_->error(), device_->errorString().toStdString(), {});
        return false;
    }
    // Modem lines held off. A pseudo-terminal has none; that is no reason to fail.
    if (line_.Flow_Control != PortFlowControl::Hardware) device_->setRequestToSend(false);
    device_->setDataTerminalReady(false);
    device_->clearError();
    return true;
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    if (configuring_ || error == QSerialPort::NoError || error == QSerialPort::TimeoutError) return;
    if (!open_ || failed_) return;
    // The device is gone or broken (a hung-up terminal reads end-of-file for ever): fail
    // every further operation and give the descriptor back. The release waits for the
    // event loop, since the signal may come from inside the device's own notifier.
    failed_ = true;
    error_ = PortFailureReason(error, device_->errorString().toStdString(), {});
    const std::uint64_t generation = generation_;
    QMetaObject::invokeMethod(
        &context_,
        [this, generation] {
            if (generation == generation_ && device_->isOpen()) device_->close();
        },
        Qt::QueuedConnection);
}

} // namespace bifuel::platform
