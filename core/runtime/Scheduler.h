#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace bifuel {

// A repeating timer in the manner of a window timer: once started it fires every
// interval until stopped. Handlers run on the one event-loop thread and may start,
// stop or re-time any timer, this one included.
class Timer {
  public:
    virtual ~Timer() = default;

    // Interval in milliseconds. Changing it while running takes effect at the next start.
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;

    // Finer intervals for byte pacing (the 9600-baud byte time is 1041.7 us). A scheduler
    // that only has millisecond resolution rounds up.
    virtual void setIntervalUs(std::int64_t us) = 0;
    virtual std::int64_t intervalUs() const = 0;

    // (Re)starts the timer: the next firing is one interval from now.
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

    virtual void setOnFire(std::function<void()> handler) = 0;
};

// The only source of time for the core. Tests use VirtualScheduler; the application
// uses an event-loop scheduler.
class Scheduler {
  public:
    virtual ~Scheduler() = default;

    // Timers start stopped. The caller owns the timer; destroying it cancels it.
    virtual std::unique_ptr<Timer> createTimer(int intervalMs = 0) = 0;

    // Monotonic time in microseconds since the scheduler was made.
    virtual std::int64_t nowUs() const = 0;

    // The calendar time on the user's clock, in seconds since 1970-01-01 00:00 of that
    // clock (the time zone's offset included): for names and notes the user reads, never
    // for measuring time.
    virtual std::int64_t localSeconds() const = 0;
};

} // namespace bifuel
