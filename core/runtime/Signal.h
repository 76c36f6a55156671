#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace bifuel {

// Keeps one subscriber connected to a Signal; destroying it (or reset()) disconnects.
// It may outlive the signal: then it does nothing.
class [[nodiscard]] Subscription {
  public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    ~Subscription() { reset(); }
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    void reset() {
        if (auto cancel = std::exchange(cancel_, {})) cancel();
    }
    bool connected() const { return static_cast<bool>(cancel_); }

  private:
    std::function<void()> cancel_;
};

// A list of subscribers, called in the order they subscribed. Subscribers may subscribe
// or unsubscribe others (themselves included) while it notifies: one removed
// meanwhile is not called, one added meanwhile is called from the next emission on.
// Notifying allocates nothing.
template <typename... Args> class Signal {
  public:
    Signal() = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    Subscription subscribe(std::function<void(Args...)> handler) {
        const std::uint64_t id = ++state_->nextId;
        state_->subscribers.push_back(
            {id, std::make_shared<std::function<void(Args...)>>(std::move(handler))});
        return Subscription([weak = std::weak_ptr<State>(state_), id] {
            if (const auto state = weak.lock()) state->remove(id);
        });
    }

    void notify(Args... args) const {
        if (state_->subscribers.empty()) return;
        const std::shared_ptr<State> keep = state_; // a subscriber may destroy the owner
        ++keep->emitting;
        const std::size_t count = keep->subscribers.size();
        for (std::size_t i = 0; i < count && i < keep->subscribers.size(); ++i) {
            const auto handler = keep->subscribers[i].handler;
            if (handler) (*handler)(args...);
        }
        if (--keep->emitting == 0) keep->compact();
    }

    bool empty() const { return state_->subscribers.empty(); }

  private:
    struct Slot {
        std::uint64_t id = 0;
        std::shared_ptr<std::function<void(Args...)>> handler;
    };
    struct State {
        std::vector<Slot> subscribers;
        std::uint64_t nextId = 0;
        int emitting = 0;

        void remove(std::uint64_t id) {
            for (Slot& s : subscribers) {
                if (s.id == id) s.handler.reset();
            }
            if (emitting == 0) compact();
        }
        void compact() {
            std::erase_if(subscribers, [](const Slot& s) { return !s.handler; });
        }
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace bifuel
