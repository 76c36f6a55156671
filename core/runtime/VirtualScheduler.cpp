#include "runtime/VirtualScheduler.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace bifuel {

class VirtualScheduler::VirtualTimer final : public Timer {
  public:
    VirtualTimer(VirtualScheduler& owner, int intervalMs)
        : owner_(&owner), intervalUs_(std::int64_t{intervalMs} * 1000) {
        owner_->timers_.push_back(this);
    }
    ~VirtualTimer() override {
        if (owner_ == nullptr) return;
        auto& list = owner_->timers_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }

    void setInterval(int ms) override { intervalUs_ = std::int64_t{ms} * 1000; }
    int interval() const override { return static_cast<int>(intervalUs_ / 1000); }
    void setIntervalUs(std::int64_t us) override { intervalUs_ = us; }
    std::int64_t intervalUs() const override { return intervalUs_; }

    void start() override {
        running_ = true;
        // A zero interval still fires after the current handler, never inside start().
        dueUs_ = owner_->nowUs_ + std::max<std::int64_t>(intervalUs_, 0);
        sequence_ = owner_->nextSequence_++;
    }
    void stop() override { running_ = false; }
    bool isRunning() const override { return running_; }
    void setOnFire(std::function<void()> handler) override { handler_ = std::move(handler); }

    void detach() { owner_ = nullptr; }

    VirtualScheduler* owner_;
    std::int64_t intervalUs_;
    std::int64_t dueUs_ = 0;
    std::uint64_t sequence_ = 0;
    bool running_ = false;
    std::function<void()> handler_;
};

VirtualScheduler::VirtualScheduler() = default;

VirtualScheduler::~VirtualScheduler() {
    for (VirtualTimer* timer : timers_)
        timer->detach();
}

std::unique_ptr<Timer> VirtualScheduler::createTimer(int intervalMs) {
    return std::make_unique<VirtualTimer>(*this, intervalMs);
}

std::int64_t VirtualScheduler::nextDueUs() const {
    std::int64_t best = -1;
    for (const VirtualTimer* timer : timers_) {
        if (timer->running_ && (best < 0 || timer->dueUs_ < best)) best = timer->dueUs_;
    }
    return best;
}

void VirtualScheduler::advanceUs(std::int64_t us) {
    const std::int64_t end = nowUs_ + std::max<std::int64_t>(us, 0);
    for (;;) {
        // Pick the earliest due timer; ties go to the one started first.
        VirtualTimer* next = nullptr;
        for (VirtualTimer* timer : timers_) {
            if (!timer->running_ || timer->dueUs_ > end) continue;
            if (next == nullptr || timer->dueUs_ < next->dueUs_ ||
                (timer->dueUs_ == next->dueUs_ && timer->sequence_ < next->sequence_)) {
                next = timer;
            }
        }
        if (next == nullptr) break;
        nowUs_ = std::max(nowUs_, next->dueUs_);
        // Re-arm before the handler runs, so a handler that stops or restarts the timer wins.
        next->dueUs_ = nowUs_ + std::max<std::int64_t>(next->intervalUs_, 1);
        next->sequence_ = nextSequence_++;
        if (next->handler_) {
            auto handler = next->handler_; // the handler may replace itself while running
            handler();
        }
    }
    nowUs_ = end;
}

} // namespace bifuel
