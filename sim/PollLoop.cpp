#include "PollLoop.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <poll.h>

namespace bifuel::sim {

class PollLoop::PollTimer final : public Timer {
  public:
    PollTimer(PollLoop& owner, int intervalMs)
        : owner_(&owner), intervalUs_(std::int64_t{intervalMs} * 1000) {
        owner_->timers_.push_back(this);
    }
    ~PollTimer() override {
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
        dueUs_ = owner_->nowUs() + std::max<std::int64_t>(intervalUs_, 0);
        sequence_ = owner_->nextSequence_++;
    }
    void stop() override { running_ = false; }
    bool isRunning() const override { return running_; }
    void setOnFire(std::function<void()> handler) override {
        handler_ = std::make_shared<std::function<void()>>(std::move(handler));
    }

    PollLoop* owner_;
    std::int64_t intervalUs_;
    std::int64_t dueUs_ = 0;
    std::uint64_t sequence_ = 0;
    std::uint64_t firedInPass_ = 0;
    bool running_ = false;
    std::shared_ptr<std::function<void()>> handler_;
};

PollLoop::PollLoop() : start_(std::chrono::steady_clock::now()) {}

PollLoop::~PollLoop() {
    for (PollTimer* timer : timers_)
        timer->owner_ = nullptr;
}

std::unique_ptr<Timer> PollLoop::createTimer(int intervalMs) {
    return std::make_unique<PollTimer>(*this, intervalMs);
}

std::int64_t PollLoop::nowUs() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
}

std::int64_t PollLoop::localSeconds() const {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<std::int64_t>(now) + local.tm_gmtoff;
}

void PollLoop::watch(int fd, short events, std::function<void(short)> handler) {
    auto shared = std::make_shared<std::function<void(short)>>(std::move(handler));
    for (Watch& w : watches_) {
        if (w.fd == fd) {
            w.events = events;
            w.handler = std::move(shared);
            return;
        }
    }
    watches_.push_back({fd, events, std::move(shared)});
}

void PollLoop::unwatch(int fd) {
    watches_.erase(std::remove_if(watches_.begin(), watches_.end(),
                                  [fd](const Watch& w) { return w.fd == fd; }),
                   watches_.end());
}

bool PollLoop::run() {
    quit_ = false;
    while (!quit_) {
        if (!runOnce()) return false;
    }
    return true;
}

bool PollLoop::runOnce(std::int64_t maxWaitUs) {
    std::int64_t waitUs = maxWaitUs;
    const std::int64_t now = nowUs();
    for (const PollTimer* timer : timers_) {
        if (!timer->running_) continue;
        const std::int64_t until = std::max<std::int64_t>(timer->dueUs_ - now, 0);
        if (waitUs < 0 || until < waitUs) waitUs = until;
    }

    std::vector<pollfd> fds;
    fds.reserve(watches_.size());
    for (const Watch& w : watches_)
        fds.push_back({w.fd, w.events, 0});
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (waitUs >= 0) {
        timeout.tv_sec = static_cast<time_t>(waitUs / 1000000);
        timeout.tv_nsec = static_cast<long>((waitUs % 1000000) * 1000);
        timeoutPtr = &timeout;
    }
    const int ready = ::ppoll(fds.data(), fds.size(), timeoutPtr, nullptr);
    if (ready < 0 && errno != EINTR) return false;

    if (ready > 0) {
        for (const pollfd& p : fds) {
            if (p.revents == 0) continue;
            // The descriptor may have been unwatched by an earlier handler of this pass.
            const auto it = std::find_if(watches_.begin(), watches_.end(),
                                         [&](const Watch& w) { return w.fd == p.fd; });
            if (it == watches_.end()) continue;
            const auto handler = it->handler; // survives an unwatch inside the call
            (*handler)(p.revents);
        }
    }
    fireDueTimers();
    return true;
}

// Every due timer fires once per pass, earliest first, ties in the order they were started;
// a zero interval therefore cannot hold the loop.
void PollLoop::fireDueTimers() {
    ++pass_;
    for (;;) {
        const std::int64_t now = nowUs();
        PollTimer* next = nullptr;
        for (PollTimer* timer : timers_) {
            if (!timer->running_ || timer->dueUs_ > now || timer->firedInPass_ == pass_) continue;
            if (next == nullptr || timer->dueUs_ < next->dueUs_ ||
                (timer->dueUs_ == next->dueUs_ && timer->sequence_ < next->sequence_)) {
                next = timer;
            }
        }
        if (next == nullptr) return;
        next->firedInPass_ = pass_;
        // Re-arm before the handler, so a handler that stops or restarts the timer wins. A
        // loop that fell behind does not fire the missed ticks in a burst.
        const std::int64_t interval = std::max<std::int64_t>(next->intervalUs_, 0);
        next->dueUs_ += interval;
        if (next->dueUs_ <= now) next->dueUs_ = now + interval;
        next->sequence_ = nextSequence_++;
        if (const auto handler = next->handler_; handler && *handler) (*handler)();
    }
}

} // namespace bifuel::sim
