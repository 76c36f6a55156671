#pragma once

#include "runtime/Scheduler.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace bifuel::sim {

// The simulator's event loop on POSIX: timers on the monotonic clock and file descriptors
// watched with poll. One thread; handlers may create, start, stop or destroy timers and
// watch or unwatch descriptors, their own included.
class PollLoop final : public Scheduler {
  public:
    PollLoop();
    ~PollLoop() override;
    PollLoop(const PollLoop&) = delete;
    PollLoop& operator=(const PollLoop&) = delete;

    std::unique_ptr<Timer> createTimer(int intervalMs = 0) override;
    std::int64_t nowUs() const override;
    std::int64_t localSeconds() const override;

    // Calls `handler` with the returned poll events whenever `fd` has any of `events`
    // (POLLIN, POLLOUT; errors and hang-ups are always reported). Watching a descriptor
    // again replaces its handler.
    void watch(int fd, short events, std::function<void(short)> handler);
    void unwatch(int fd);

    // Waits for the next timer or descriptor (at most maxWaitUs when not negative) and
    // handles what is due. False when waiting failed.
    bool runOnce(std::int64_t maxWaitUs = -1);
    // Runs until quit(). False when waiting failed.
    bool run();
    void quit() { quit_ = true; }

  private:
    class PollTimer;
    struct Watch {
        int fd;
        short events;
        std::shared_ptr<std::function<void(short)>> handler;
    };

    void fireDueTimers();

    std::chrono::steady_clock::time_point start_;
    std::vector<PollTimer*> timers_;
    std::vector<Watch> watches_;
    std::uint64_t nextSequence_ = 0;
    std::uint64_t pass_ = 0;
    bool quit_ = false;
};

} // namespace bifuel::sim
