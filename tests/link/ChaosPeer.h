#pragma once

#include "Context.h"
#include "MemoryLine.h"
#include "runtime/VirtualScheduler.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace bifuel::test {

struct ChaosOptions {
    // Probe and identification replies report lengths the link can size. Without, the
    // peer is now and then an ECU that the link refuses for good.
    bool sizeableIdentity = false;
};

// A peer on the device end of a line that answers the link with whatever an ECU, a bad
// cable or a noisy line could produce. Each request it hears gets a reaction that suits its
// mood of the moment:
// - lively: a well-formed reply of the length the link expects, at once or too late for
//   its timeout, or followed by a stray copy while the next request waits to go out; a
//   reply in pieces with gaps on both sides of the 500 ms read limit; a reply of a random
//   length; garbage; silence;
// - dead: silence, sometimes long enough to lose the link;
// - deaf to data frames: every short request is answered, ANNOUNCE included, but no
//   frame that follows one;
// - noisy: mostly garbage.
// Between requests it sends replies and garbage at random times and pulls the cable out
// and puts it back. To make its well-formed replies the right length it reads what the
// link expects. The same seed gives the same run.
class ChaosPeer {
  public:
    ChaosPeer(VirtualScheduler& clock, sim::MemoryLine& line, const Context& ctx,
              std::uint32_t seed, ChaosOptions options = {})
        : clock_(clock), line_(line), ctx_(ctx), options_(options), rng_(seed),
          turn_(clock.createTimer()), outboxTimer_(clock.createTimer()) {
        line.device().open();
        line.device().setEvents({[this] { heard(); }, {}, {}});
        turn_->setOnFire([this] { turn(); });
        outboxTimer_->setOnFire([this] { flush(); });
        turn_->setInterval(pick(1, 800));
        turn_->start();
    }
    ~ChaosPeer() { line_.device().setEvents({}); }
    ChaosPeer(const ChaosPeer&) = delete;
    ChaosPeer& operator=(const ChaosPeer&) = delete;

    // At random times between requests, for whatever else should happen then.
    std::function<void(ChaosPeer&)> onTurn;
    // After the peer pulled the cable out (false) or put it back (true).
    std::function<void(bool plugged)> onCable;

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(int percent) { return pick(0, 99) < percent; }

  private:
    using Bytes = std::vector<std::uint8_t>;
    enum class Mood { Lively, Dead, DeafToData, Noisy };

    static constexpr std::uint8_t kProbe = 0x21;
    static constexpr std::uint8_t kReadIdent = 0x30;

    static bool isDataFrame(std::uint8_t command) {
        return command == 0x2D || command == 0x32 || command == 0x33 || command == 0x36 ||
               command == 0x3C;
    }
    static std::int64_t ms(std::int64_t n) { return n * 1000; }

    // A request has started to arrive: the newest one the link wrote.
    void heard() {
        std::uint8_t buffer[256];
        while (line_.device().read(buffer, sizeof buffer) > 0) {
        }
        const auto& log = line_.wireLog();
        if (scanned_ > log.size()) scanned_ = 0;
        std::optional<std::size_t> newest;
        for (; scanned_ < log.size(); ++scanned_) {
            if (log[scanned_].fromHost) newest = scanned_;
        }
        if (newest) react(Bytes(log[*newest].bytes)); // a copy: replying grows the log
    }

    void react(const Bytes& request) {
        if (request.size() < 2) return;
        last_ = request;
        const std::int64_t now = clock_.nowUs();
        // The rest of the request is still on its way.
        const std::int64_t heardAll =
            now + static_cast<std::int64_t>(request.size() - 1) * line_.byteTimeUs();
        const int expected = ctx_.link.Reply_Length;
        switch (mood_) {
        case Mood::Dead:
            return;
        case Mood::DeafToData:
            if (!isDataFrame(request[1])) {
                send(heardAll + ms(pick(0, 20)), wellFormed(request, expected));
            }
            return;
        case Mood::Noisy:
            if (chance(60)) {
                send(heardAll + ms(pick(0, 100)), garbage(300));
            } else if (chance(70)) {
                send(heardAll + ms(pick(0, 30)), wellFormed(request, expected));
            }
            return;
        case Mood::Lively:
            break;
        }
        const int r = pick(0, 99);
        const std::int64_t soon = heardAll + ms(pick(0, 30));
        if (r < 40) {
            send(soon, wellFormed(request, expected));
        } else if (r < 45) {
            send(heardAll + ms(pick(300, 900)), wellFormed(request, expected));
        } else if (r < 57) {
            // A second reply to the same request lands while the link waits Reply_Delay
            // before its next one; by then the link expects the next reply's length, which
            // this one takes.
            const Bytes reply = wellFormed(request, expected);
            send(soon, reply);
            const std::int64_t copyAt =
                soon + static_cast<std::int64_t>(reply.size()) * line_.byteTimeUs() +
                ms(pick(0, ctx_.settings.Reply_Delay + 50));
            later(copyAt, [this, request] { return wellFormed(request, ctx_.link.Reply_Length); });
        } else if (r < 67) {
            sendInPieces(soon, wellFormed(request, expected));
        } else if (r < 74) {
            send(soon, wellFormed(request, pick(0, 255)));
        } else if (r < 80) {
            send(soon, garbage(300));
        }
        // else silence
    }

    // Pieces of 1 byte or more, each after a gap of up to 800 ms.
    void sendInPieces(std::int64_t at, const Bytes& reply) {
        const int pieces = pick(2, 4);
        std::size_t from = 0;
        for (int k = 0; k < pieces && from < reply.size(); ++k) {
            const std::size_t left = reply.size() - from;
            const std::size_t n =
                k + 1 == pieces ? left : static_cast<std::size_t>(pick(1, static_cast<int>(left)));
            send(at, Bytes(reply.begin() + static_cast<std::ptrdiff_t>(from),
                           reply.begin() + static_cast<std::ptrdiff_t>(from + n)));
            from += n;
            at += ms(pick(0, 800));
        }
    }

    void turn() {
        const std::int64_t now = clock_.nowUs();
        if (now >= moodUntilUs_) changeMood();
        // A reply out of the blue, with whatever length the link expects right now.
        if (!last_.empty() && chance(10)) {
            send(now, wellFormed(last_, ctx_.link.Reply_Length));
        }
        if (chance(8)) send(now, garbage(64));
        if (!line_.unplugged() && chance(1)) {
            line_.setUnplugged(true);
            if (onCable) onCable(false);
        } else if (line_.unplugged() && chance(15)) {
            line_.setUnplugged(false);
            if (onCable) onCable(true);
        }
        if (onTurn) onTurn(*this);
        turn_->setInterval(pick(1, 800));
        turn_->start();
    }

    void changeMood() {
        const int r = pick(0, 99);
        mood_ = r < 60   ? Mood::Lively
                : r < 72 ? Mood::Dead
                : r < 88 ? Mood::DeafToData
                         : Mood::Noisy;
        const int lastsMs = mood_ == Mood::Dead ? pick(1000, 9000) : pick(2000, 15000);
        moodUntilUs_ = clock_.nowUs() + ms(lastsMs);
    }

    // [request code, request command, random data, sum] of `length` bytes; shorter than 3
    // bytes there is no room for the sum.
    Bytes wellFormed(const Bytes& request, int length) {
        if (length < 1) return {};
        Bytes frame(static_cast<std::size_t>(length));
        frame[0] = request[0];
        if (frame.size() > 1) frame[1] = request[1];
        for (std::size_t i = 2; i < frame.size(); ++i)
            frame[i] = static_cast<std::uint8_t>(pick(0, 255));
        if (options_.sizeableIdentity) makeSizeable(frame);
        if (frame.size() >= 3) frame.back() = checksum(frame);
        return frame;
    }

    // A block long enough for the fields the link reads, lengths it can add 3 to.
    void makeSizeable(Bytes& frame) {
        const std::size_t sumAt = frame.size() - 1;
        if (frame.size() > 1 && frame[1] == kProbe && 2 < sumAt) {
            frame[2] = static_cast<std::uint8_t>(chance(80) ? 42 : pick(41, 252));
        }
        if (frame.size() > 1 && frame[1] == kReadIdent) {
            // L1, L2, L3 at least what the decoders read (37, 92, 54 data bytes), L4 and L5
            // anything; now and then any length, which gets the ECU refused.
            static constexpr int kLeast[] = {37, 92, 54, 0, 0};
            for (std::size_t i = 39; i <= 43 && i < sumAt; ++i) {
                const int least = kLeast[i - 39];
                frame[i] = static_cast<std::uint8_t>(chance(90) ? pick(least, std::max(least, 120))
                                                                : pick(0, 252));
            }
        }
    }

    Bytes garbage(int most) {
        Bytes junk(static_cast<std::size_t>(pick(1, most)));
        for (auto& b : junk)
            b = static_cast<std::uint8_t>(pick(0, 255));
        return junk;
    }

    static std::uint8_t checksum(const Bytes& frame) {
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < frame.size(); ++i)
            sum += frame[i];
        return static_cast<std::uint8_t>(sum);
    }

    void send(std::int64_t atUs, Bytes bytes) {
        if (bytes.empty()) return;
        later(atUs, [bytes = std::move(bytes)] { return bytes; });
    }

    // Bytes made when their time comes. Equal times keep their order.
    void later(std::int64_t atUs, std::function<Bytes()> make) {
        outbox_.emplace(atUs, std::move(make));
        arm();
    }

    void arm() {
        if (outbox_.empty()) {
            outboxTimer_->stop();
            return;
        }
        outboxTimer_->setIntervalUs(
            std::max<std::int64_t>(outbox_.begin()->first - clock_.nowUs(), 0));
        outboxTimer_->start();
    }

    void flush() {
        while (!outbox_.empty() && outbox_.begin()->first <= clock_.nowUs()) {
            const std::function<Bytes()> make = std::move(outbox_.begin()->second);
            outbox_.erase(outbox_.begin());
            const Bytes bytes = make();
            if (!bytes.empty()) line_.device().write(bytes.data(), bytes.size());
        }
        arm();
    }

    VirtualScheduler& clock_;
    sim::MemoryLine& line_;
    const Context& ctx_;
    ChaosOptions options_;
    std::mt19937 rng_;
    std::unique_ptr<Timer> turn_;
    std::unique_ptr<Timer> outboxTimer_;
    std::multimap<std::int64_t, std::function<Bytes()>> outbox_;
    Mood mood_ = Mood::Lively;
    std::int64_t moodUntilUs_ = 0;
    std::size_t scanned_ = 0; // wire log entries looked at
    Bytes last_;              // the request heard last
};

} // namespace bifuel::test
