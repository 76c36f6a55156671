#pragma once

#include "runtime/Scheduler.h"

#include <QElapsedTimer>

namespace bifuel::platform {

// Timers on the Qt event loop of the calling thread. Intervals finer than a millisecond
// are rounded up to whole milliseconds; precise timers keep the byte pacing and the
// protocol's timeouts close to their nominal values.
class QtScheduler final : public Scheduler {
  public:
    QtScheduler();
    std::unique_ptr<Timer> createTimer(int intervalMs = 0) override;
    std::int64_t nowUs() const override;
    std::int64_t localSeconds() const override;

  private:
    QElapsedTimer clock_;
};

} // namespace bifuel::platform
