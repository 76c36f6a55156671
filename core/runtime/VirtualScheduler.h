#pragma once

#include "runtime/Scheduler.h"

#include <cstdint>
#include <vector>

namespace bifuel {

// A scheduler whose clock moves only when told to. advance() fires every due timer in
// time order (ties in the order they were started), so minutes of link traffic run in
// microseconds and every test sees the same sequence.
class VirtualScheduler final : public Scheduler {
  public:
    VirtualScheduler();
    ~VirtualScheduler() override;
    VirtualScheduler(const VirtualScheduler&) = delete;
    VirtualScheduler& operator=(const VirtualScheduler&) = delete;

    std::unique_ptr<Timer> createTimer(int intervalMs = 0) override;
    std::int64_t nowUs() const override { return nowUs_; }
    // The calendar follows the virtual clock from a fixed start, so names made from it
    // are the same on every run.
    std::int64_t localSeconds() const override { return localStart_ + nowUs_ / 1000000; }
    void setLocalStart(std::int64_t seconds) { localStart_ = seconds; }
    std::int64_t nowMs() const { return nowUs_ / 1000; }

    // Moves the clock forward, firing due timers on the way.
    void advance(std::int64_t ms) { advanceUs(ms * 1000); }
    void advanceUs(std::int64_t us);

    // Fires timers until none is due before `limitUs` from now or `predicate` holds;
    // returns whether the predicate held.
    template <typename Predicate> bool runUntil(Predicate predicate, std::int64_t limitMs) {
        const std::int64_t end = nowUs_ + limitMs * 1000;
        while (!predicate()) {
            const std::int64_t next = nextDueUs();
            if (next < 0 || next > end) {
                nowUs_ = end;
                return predicate();
            }
            advanceUs(next - nowUs_);
        }
        return true;
    }

    // Time of the earliest running timer, or -1 when none runs.
    std::int64_t nextDueUs() const;

  private:
    class VirtualTimer;
    friend class VirtualTimer;

    std::int64_t nowUs_ = 0;
    std::int64_t localStart_ = 1767225600; // 2026-01-01 00:00:00
    std::uint64_t nextSequence_ = 0;
    std::vector<VirtualTimer*> timers_;
};

} // namespace bifuel
