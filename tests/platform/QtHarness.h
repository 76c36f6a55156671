#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace bifuel::test {

using Bytes = std::vector<std::uint8_t>;

// The one application object of the test program; timers and device notifiers need it.
inline QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "platform_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until `done` holds, at most `limitMs`; returns whether it held.
inline bool RunLoopUntil(const std::function<bool()>& done, int limitMs = 5000) {
    App();
    if (done()) return true;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.hasExpired(limitMs)) loop.quit();
    });
    poll.start(5);
    loop.exec();
    return done();
}

// Descriptors this process holds; a released device gives its one back.
inline long OpenDescriptors() {
    long n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// A pseudo-terminal: the port under test opens its /dev/pts path, the test plays the far
// end on the master side.
class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return;
        }
        path_ = ::ptsname(master_);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PseudoTerminal() { hangUp(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& path() const { return path_; }

    void write(const Bytes& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Appends what the port has sent so far to `into`.
    void readInto(Bytes& into) {
        std::uint8_t buffer[256];
        for (;;) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) return;
            into.insert(into.end(), buffer, buffer + n);
        }
    }
    // The line settings of the port side (a master reports its slave's).
    termios portSettings() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(master_, &t), 0);
        return t;
    }
    // The far end goes away, as an unplugged adapter: the device node vanishes.
    void hangUp() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    std::string path_;
};

} // namespace bifuel::test
