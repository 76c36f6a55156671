#pragma once
// The program side of the simulator's pseudo-terminal, opened raw as a serial port is.
// Shared by the simulator's end-to-end test and its pacing benchmark.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <numeric>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace bifuel::test {

class PtyTerminal {
  public:
    using Bytes = std::vector<std::uint8_t>;
    using Clock = std::chrono::steady_clock;

    explicit PtyTerminal(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~PtyTerminal() {
        if (fd_ >= 0) ::close(fd_);
    }
    PtyTerminal(const PtyTerminal&) = delete;
    PtyTerminal& operator=(const PtyTerminal&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    // Sends a request and reads until `n` bytes came or `deadline` passed (a guard against
    // a hung simulator); each byte with when it was read.
    struct Reply {
        Bytes bytes;
        std::vector<Clock::time_point> times;
    };
    Reply exchange(const Bytes& request, std::size_t n, std::chrono::milliseconds deadline) {
        Reply r;
        if (::write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
            return r;
        const auto until = Clock::now() + deadline;
        while (r.bytes.size() < n) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, std::max<int>(0, static_cast<int>(left.count()))) <= 0) break;
            std::uint8_t buffer[64];
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got <= 0) break;
            const auto now = Clock::now();
            r.bytes.insert(r.bytes.end(), buffer, buffer + got);
            r.times.insert(r.times.end(), static_cast<std::size_t>(got), now);
        }
        return r;
    }

    // A short request of program code 25: [25, cmd, cmd, cmd, checksum].
    static Bytes ShortRequest(std::uint8_t cmd) {
        Bytes b{25, cmd, cmd, cmd};
        b.push_back(static_cast<std::uint8_t>(std::accumulate(b.begin(), b.end(), 0u) & 0xFF));
        return b;
    }

  private:
    int fd_;
};

} // namespace bifuel::test
