#include "QtScheduler.h"

#include <QDateTime>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace bifuel::platform {
namespace {

class QtTimer final : public Timer {
  public:
    explicit QtTimer(int intervalMs) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(false);
        setInterval(intervalMs);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            // A copy: the handler may replace itself, or destroy this timer.
            const auto handler = handler_;
            if (handler) handler();
        });
    }

    void setInterval(int ms) override { setIntervalUs(std::int64_t{ms} * 1000); }
    int interval() const override { return toMs(intervalUs_); }
    void setIntervalUs(std::int64_t us) override {
        intervalUs_ = std::max<std::int64_t>(us, 0);
        // Like a stopped-and-started window timer: a new interval counts from the next start.
        if (!timer_.isActive()) timer_.setInterval(toMs(intervalUs_));
    }
    std::int64_t intervalUs() const override { return intervalUs_; }

    void start() override { timer_.start(toMs(intervalUs_)); }
    void stop() override { timer_.stop(); }
    bool isRunning() const override { return timer_.isActive(); }
    void setOnFire(std::function<void()> handler) override { handler_ = std::move(handler); }

  private:
    static int toMs(std::int64_t us) {
        const std::int64_t ms = (us + 999) / 1000;
        return static_cast<int>(std::min<std::int64_t>(ms, std::numeric_limits<int>::max()));
    }

    QTimer timer_;
    std::int64_t intervalUs_ = 0;
    std::function<void()> handler_;
};

} // namespace

QtScheduler::QtScheduler() {
    clock_.start();
}

std::unique_ptr<Timer> QtScheduler::createTimer(int intervalMs) {
    return std::make_unique<QtTimer>(intervalMs);
}

std::int64_t QtScheduler::nowUs() const {
    return clock_.nsecsElapsed() / 1000;
}

std::int64_t QtScheduler::localSeconds() const {
    const QDateTime now = QDateTime::currentDateTime();
    return now.toSecsSinceEpoch() + now.offsetFromUtc();
}

} // namespace bifuel::platform
