#pragma once

#include "link/Link_Events.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialPort.h"
#include "runtime/Signal.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace bifuel::test {

// One thing a watcher outside the link saw.
struct WireEvent {
    enum class Kind {
        Sent,         // the port took a frame from the link
        Read,         // bytes the link read (reads with nothing else between them merge)
        Purged,       // the link threw away bytes it had not read
        Accepted,     // the link took a reply (its replyAccepted event)
        Connected,    // the ECU answered a probe
        Disconnected, // the link to the ECU ended
        PortFailed,   // a port operation failed
        CablePulled,
        CablePlugged,
        Misreported, // frameSent told of bytes that were not what went out
        Note,        // whatever a test wants to see in the trace
    };
    Kind kind = Kind::Note;
    std::int64_t timeUs = 0;
    std::uint64_t seq = 0; // one count for events and byte arrivals, so either can be ordered
    std::vector<std::uint8_t> bytes;
    // Accepted: when the reply's first byte arrived at the port, and its arrival's place
    // in the count; -1 when those bytes were never read through the port.
    std::int64_t arrivalUs = -1;
    std::uint64_t arrivalSeq = 0;
    std::string text;
    // PortFailed: the same failure again and again, as a link retrying on a dead port
    // does, is one event; when it last happened.
    int repeats = 1;
    std::int64_t lastUs = 0;
    std::size_t length = 0; // Read: bytes read, of which `bytes` holds the first
};

// Sits between the link and its port and passes everything through, keeping a log of what
// went over the line and what the link made of it: each frame written, each byte read with
// the moment it arrived, each reply the link accepted and each change of the connection.
// The checks below judge a log; its tail prints as a trace to replay a failure from.
class WireMonitor final : public SerialPort {
  public:
    // The port and the clock must outlive the monitor.
    WireMonitor(const Scheduler& clock, SerialPort& port) : clock_(clock), port_(port) {
        log_.reserve(4096);
    }
    ~WireMonitor() override { port_.setEvents({}); }
    WireMonitor(const WireMonitor&) = delete;
    WireMonitor& operator=(const WireMonitor&) = delete;

    // Also logs the link's own account of its exchanges, for as long as the monitor lives.
    void watch(LinkEvents& events) {
        subscriptions_.push_back(events.replyAccepted.subscribe(
            [this](std::span<const std::uint8_t> reply) { accepted(reply); }));
        subscriptions_.push_back(events.connected.subscribe([this] { add(Kind::Connected); }));
        subscriptions_.push_back(
            events.disconnected.subscribe([this] { add(Kind::Disconnected); }));
        subscriptions_.push_back(events.frameSent.subscribe(
            [this](std::span<const std::uint8_t> frame) { reported(frame); }));
    }

    // Whoever pulls the cable says so here; the port itself notices only when used.
    void cable(bool plugged) { add(plugged ? Kind::CablePlugged : Kind::CablePulled); }
    void note(std::string text) { add(Kind::Note, {}, std::move(text)); }

    const std::vector<WireEvent>& log() const { return log_; }

    // The `count` events up to and including log()[at] (up to the end when `at` is past
    // it), one a line.
    std::string trace(std::size_t at, std::size_t count = 20) const {
        const std::size_t end = std::min(at + 1, log_.size());
        std::string out;
        for (std::size_t i = end > count ? end - count : 0; i < end; ++i) {
            out += (i == at ? "  > " : "    ") + Describe(log_[i]) + "\n";
        }
        return out;
    }

    static std::string Describe(const WireEvent& e) {
        static constexpr const char* kNames[] = {
            "sent",        "read",      "purged",   "accepted",    "connected", "disconnected",
            "port failed", "cable out", "cable in", "misreported", "note"};
        char head[64];
        std::snprintf(head, sizeof head, "%11.3f ms  %-12s", static_cast<double>(e.timeUs) / 1000.0,
                      kNames[static_cast<int>(e.kind)]);
        std::string s = head;
        constexpr std::size_t kShown = 24;
        for (std::size_t i = 0; i < std::min(e.bytes.size(), kShown); ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X ", e.bytes[i]);
            s += hex;
        }
        const std::size_t length = std::max(e.bytes.size(), e.length);
        if (length > kShown) s += "... (" + std::to_string(length) + " bytes) ";
        s += e.text;
        if (e.repeats > 1) {
            char again[64];
            std::snprintf(again, sizeof again, " (%d times, the last at %.3f ms)", e.repeats,
                          static_cast<double>(e.lastUs) / 1000.0);
            s += again;
        }
        if (e.kind == Kind::Accepted && e.arrivalUs >= 0) {
            char from[48];
            std::snprintf(from, sizeof from, " (first byte came at %.3f ms)",
                          static_cast<double>(e.arrivalUs) / 1000.0);
            s += from;
        }
        return s;
    }

    // SerialPort, passed through.
    void setEvents(Events events) override {
        events_ = std::move(events);
        if (!events_.bytesArrived && !events_.opened && !events_.closed) {
            port_.setEvents({});
            return;
        }
        // Each handler is copied before the call: it may replace the events.
        port_.setEvents({
            [this] {
                arrived();
                if (const auto handler = events_.bytesArrived) handler();
            },
            [this] {
                if (const auto handler = events_.opened) handler();
            },
            [this] {
                clearUnread();
                if (const auto handler = events_.closed) handler();
            },
        });
    }
    void setPortName(const std::string& name) override { port_.setPortName(name); }
    std::string portName() const override { return port_.portName(); }
    bool open() override {
        const bool ok = port_.open();
        if (!ok) add(Kind::PortFailed, {}, "open: " + port_.errorText());
        return ok;
    }
    void close() override {
        port_.close();
        clearUnread();
    }
    bool isOpen() const override { return port_.isOpen(); }
    bool write(const std::uint8_t* data, std::size_t n) override {
        const bool ok = port_.write(data, n);
        if (ok) {
            add(Kind::Sent, {data, data + n});
        } else {
            add(Kind::PortFailed, {}, "write: " + port_.errorText());
        }
        return ok;
    }
    std::size_t read(std::uint8_t* buffer, std::size_t max) override {
        sync();
        const std::size_t n = port_.read(buffer, max);
        if (n == 0) {
            if (max > 0 && (port_.bytesAvailable() > 0 || !port_.isOpen())) {
                add(Kind::PortFailed, {}, "read: " + port_.errorText());
            }
            return 0;
        }
        for (std::size_t i = 0; i < n; ++i) {
            Stamp stamp{clock_.nowUs(), seq_};
            if (!unread_.empty()) {
                stamp = unread_.front().stamp;
                if (--unread_.front().count == 0) unread_.pop_front();
                --unreadCount_;
            }
            history_[historyCount_++ % kHistory] = {buffer[i], stamp};
        }
        // A reply trickles in a byte at a time; one line for it reads better in a trace,
        // which shows its first bytes only.
        const std::int64_t now = clock_.nowUs();
        if (log_.empty() || log_.back().kind != Kind::Read || now - lastReadUs_ >= kMergeUs) {
            add(Kind::Read);
        }
        WireEvent& read = log_.back();
        const std::size_t keep =
            std::min(n, kReadBytesKept - std::min(read.bytes.size(), kReadBytesKept));
        read.bytes.insert(read.bytes.end(), buffer, buffer + keep);
        read.length += n;
        lastReadUs_ = now;
        return n;
    }
    std::size_t bytesAvailable() const override { return port_.bytesAvailable(); }
    bool purge() override {
        sync();
        const std::size_t waiting = port_.bytesAvailable();
        if (!port_.purge()) {
            add(Kind::PortFailed, {}, "purge: " + port_.errorText());
            return false;
        }
        clearUnread();
        if (waiting > 0) add(Kind::Purged, {}, std::to_string(waiting) + " bytes");
        return true;
    }
    void expectBytes(std::size_t n) override { port_.expectBytes(n); }
    std::string errorText() const override { return port_.errorText(); }

  private:
    using Kind = WireEvent::Kind;
    struct Stamp {
        std::int64_t us = 0;
        std::uint64_t seq = 0;
    };
    // Bytes that arrived together share one stamp.
    struct Arrival {
        Stamp stamp;
        std::size_t count = 0;
    };
    struct ReadByte {
        std::uint8_t byte = 0;
        Stamp arrival;
    };
    static constexpr std::size_t kHistory = 1024;
    static constexpr std::int64_t kMergeUs = 100'000;
    static constexpr std::size_t kReadBytesKept = 24;

    void add(Kind kind, std::vector<std::uint8_t> bytes = {}, std::string text = {}) {
        if (kind == Kind::PortFailed && !log_.empty() && log_.back().kind == kind &&
            log_.back().text == text) {
            log_.back().repeats += 1;
            log_.back().lastUs = clock_.nowUs();
            return;
        }
        WireEvent e;
        e.kind = kind;
        e.timeUs = clock_.nowUs();
        e.seq = ++seq_;
        e.bytes = std::move(bytes);
        e.text = std::move(text);
        log_.push_back(std::move(e));
    }

    void clearUnread() {
        unread_.clear();
        unreadCount_ = 0;
    }

    // The port drops what it holds on close and purge; stamps of bytes no longer there go.
    void sync() {
        const std::size_t available = port_.bytesAvailable();
        while (unreadCount_ > available) {
            Arrival& oldest = unread_.front();
            const std::size_t gone = std::min(oldest.count, unreadCount_ - available);
            oldest.count -= gone;
            unreadCount_ -= gone;
            if (oldest.count == 0) unread_.pop_front();
        }
    }

    void arrived() {
        sync();
        const std::uint64_t seq = ++seq_;
        const std::size_t available = port_.bytesAvailable();
        if (available <= unreadCount_) return;
        unread_.push_back({{clock_.nowUs(), seq}, available - unreadCount_});
        unreadCount_ = available;
    }

    const ReadByte& readBack(std::size_t k) const { // k = 0: the oldest byte still kept
        const std::size_t kept = std::min(historyCount_, kHistory);
        return history_[(historyCount_ - kept + k) % kHistory];
    }

    // The reply is the latest run of bytes read that equals it: a link that reads ahead
    // still gets the arrival of the bytes it took.
    void accepted(std::span<const std::uint8_t> reply) {
        add(Kind::Accepted, {reply.begin(), reply.end()});
        const std::size_t n = reply.size();
        const std::size_t kept = std::min(historyCount_, kHistory);
        if (n == 0 || kept < n) return;
        for (std::size_t start = kept - n + 1; start-- > 0;) {
            bool same = true;
            for (std::size_t i = 0; i < n && same; ++i)
                same = readBack(start + i).byte == reply[i];
            if (!same) continue;
            log_.back().arrivalUs = readBack(start).arrival.us;
            log_.back().arrivalSeq = readBack(start).arrival.seq;
            return;
        }
    }

    void reported(std::span<const std::uint8_t> frame) {
        for (auto it = log_.rbegin(); it != log_.rend(); ++it) {
            if (it->kind != Kind::Sent) continue;
            if (std::equal(frame.begin(), frame.end(), it->bytes.begin(), it->bytes.end())) return;
            break;
        }
        add(Kind::Misreported, {frame.begin(), frame.end()});
    }

    const Scheduler& clock_;
    SerialPort& port_;
    Events events_;
    std::deque<Arrival> unread_; // what the port holds, oldest first
    std::size_t unreadCount_ = 0;
    std::array<ReadByte, kHistory> history_{}; // the bytes read last, a ring
    std::size_t historyCount_ = 0;             // bytes ever read
    std::vector<WireEvent> log_;
    std::uint64_t seq_ = 0;
    std::int64_t lastReadUs_ = 0;
    std::vector<Subscription> subscriptions_;
};

// ---- What a log must always show ----------------------------------------------------------

// Where a log broke a promise: the event that showed it (log size when the run's end did).
struct Violation {
    std::size_t at = 0;
    std::string what;
};

namespace wire {
inline constexpr std::uint8_t kProbe = 0x21;
inline constexpr std::uint8_t kAnnounce = 0x31;

// Frames whose length the ECU learns from the ANNOUNCE before them.
inline bool IsDataFrame(std::uint8_t command) {
    return command == 0x2D || command == 0x32 || command == 0x33 || command == 0x36 ||
           command == 0x3C;
}

inline std::string Hex(std::uint8_t b) {
    char s[8];
    std::snprintf(s, sizeof s, "0x%02X", b);
    return s;
}

inline std::string Ms(std::int64_t us) {
    return std::to_string(us / 1000) + " ms";
}
} // namespace wire

// Every frame is [program code, command, data, sum]: the code one of the three the ECUs
// answer to, a short request exactly 5 bytes long.
inline std::optional<Violation> FirstMalformedFrame(std::span<const WireEvent> log) {
    for (std::size_t i = 0; i < log.size(); ++i) {
        const WireEvent& e = log[i];
        if (e.kind == WireEvent::Kind::Misreported) {
            return Violation{i, "frameSent reported bytes other than those written"};
        }
        if (e.kind != WireEvent::Kind::Sent) continue;
        const auto& f = e.bytes;
        if (f.size() < 3) return Violation{i, "a frame of " + std::to_string(f.size()) + " bytes"};
        if (f[0] != 23 && f[0] != 25 && f[0] != 26) {
            return Violation{i, "a frame under program code " + std::to_string(f[0])};
        }
        if (!wire::IsDataFrame(f[1]) && f.size() != 5) {
            return Violation{i, "a short request of " + std::to_string(f.size()) + " bytes"};
        }
        unsigned sum = 0;
        for (std::size_t k = 0; k + 1 < f.size(); ++k)
            sum += f[k];
        if (static_cast<std::uint8_t>(sum) != f.back()) return Violation{i, "a wrong checksum"};
    }
    return std::nullopt;
}

// The ECU only takes a data frame right after it acknowledged an ANNOUNCE of exactly that
// length; one ANNOUNCE covers one data frame, and a link that went down in between has to
// announce again.
inline std::optional<Violation> FirstUnannouncedDataFrame(std::span<const WireEvent> log) {
    std::optional<std::size_t> previous; // the frame sent last
    bool acknowledged = false;           // a reply to it was accepted
    bool interrupted = false;            // the port failed or the link dropped since
    for (std::size_t i = 0; i < log.size(); ++i) {
        const WireEvent& e = log[i];
        switch (e.kind) {
        case WireEvent::Kind::Accepted:
            if (previous && e.bytes.size() >= 2 && e.bytes[1] == log[*previous].bytes[1]) {
                acknowledged = true;
            }
            break;
        case WireEvent::Kind::PortFailed:
        case WireEvent::Kind::Disconnected:
            interrupted = true;
            break;
        case WireEvent::Kind::Sent: {
            const auto& f = e.bytes;
            if (f.size() >= 2 && wire::IsDataFrame(f[1])) {
                const std::string frame =
                    "data frame " + wire::Hex(f[1]) + " of " + std::to_string(f.size()) + " bytes";
                const WireEvent* before = previous ? &log[*previous] : nullptr;
                if (!before || before->bytes.size() < 4 || before->bytes[1] != wire::kAnnounce) {
                    return Violation{i, frame + " not right after an ANNOUNCE"};
                }
                if (!acknowledged) return Violation{i, frame + " after an unacknowledged ANNOUNCE"};
                if (interrupted)
                    return Violation{i, frame + " after the link failed since its ANNOUNCE"};
                if (before->bytes[3] != f.size()) {
                    return Violation{i, frame + " after an ANNOUNCE of " +
                                            std::to_string(before->bytes[3])};
                }
            }
            previous = i;
            acknowledged = false;
            interrupted = false;
            break;
        }
        default:
            break;
        }
    }
    return std::nullopt;
}

// A reply the link takes answers the frame it sent last, once, and is made of bytes that
// arrived after that frame went out.
inline std::optional<Violation> FirstStrayReply(std::span<const WireEvent> log) {
    std::optional<std::size_t> sent;
    bool answered = false;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const WireEvent& e = log[i];
        if (e.kind == WireEvent::Kind::Sent) {
            sent = i;
            answered = false;
        }
        if (e.kind != WireEvent::Kind::Accepted) continue;
        if (!sent) return Violation{i, "a reply accepted before any frame was sent"};
        const WireEvent& request = log[*sent];
        if (answered)
            return Violation{i, "a second reply accepted with no frame sent since the first"};
        if (e.bytes.size() < 2 || e.bytes[0] != request.bytes[0] ||
            e.bytes[1] != request.bytes[1]) {
            return Violation{i, "a reply that does not answer the frame sent last"};
        }
        if (e.arrivalUs < 0)
            return Violation{i, "a reply whose bytes were never read from the port"};
        if (e.arrivalSeq < request.seq) {
            return Violation{i, "a reply whose first byte came " +
                                    wire::Ms(request.timeUs - e.arrivalUs) +
                                    " before the frame it answers was sent"};
        }
        answered = true;
    }
    return std::nullopt;
}

struct LinkLossBounds {
    // Connected and no reply accepted for this long: the link must have dropped.
    std::int64_t silenceMs = 5000;
    // Connected and no reply that moved the exchange on for this long: the link must have
    // dropped. Acknowledgements of an ANNOUNCE repeated for an unanswered data frame do
    // not count as moving on.
    std::int64_t stallMs = 7000;
    // The link dropped and the cable is in: a probe must go out within this time.
    std::int64_t probeMs = 3000;
};

inline std::optional<Violation> FirstMissedLinkLoss(std::span<const WireEvent> log,
                                                    std::int64_t endUs, const LinkLossBounds& b) {
    bool connected = false;
    std::int64_t lastReplyUs = 0;
    std::int64_t lastProgressUs = 0;
    bool dataUnanswered = false; // a data frame went out and no reply to one came since
    bool reannounced = false;    // the frame sent last is an ANNOUNCE repeated for it
    bool probeOwed = false;
    bool plugged = true;
    std::int64_t owedSinceUs = 0;
    const auto overdue = [&](std::int64_t t) -> std::optional<std::string> {
        if (connected && t > lastReplyUs + b.silenceMs * 1000) {
            return "still connected " + wire::Ms(t - lastReplyUs) +
                   " after the last accepted reply";
        }
        if (connected && t > lastProgressUs + b.stallMs * 1000) {
            return "still connected " + wire::Ms(t - lastProgressUs) +
                   " after the last reply that moved the exchange on";
        }
        if (probeOwed && plugged && t > owedSinceUs + b.probeMs * 1000) {
            return "no probe " + wire::Ms(t - owedSinceUs) +
                   " after the link dropped with the cable in";
        }
        return std::nullopt;
    };
    for (std::size_t i = 0; i < log.size(); ++i) {
        const WireEvent& e = log[i];
        if (auto late = overdue(e.timeUs)) return Violation{i, *late};
        switch (e.kind) {
        case WireEvent::Kind::Connected:
            connected = true;
            lastReplyUs = lastProgressUs = e.timeUs;
            dataUnanswered = false;
            break;
        case WireEvent::Kind::Disconnected:
            connected = false;
            dataUnanswered = false;
            probeOwed = true;
            owedSinceUs = e.timeUs;
            break;
        case WireEvent::Kind::CablePulled:
            plugged = false;
            break;
        case WireEvent::Kind::CablePlugged:
            plugged = true;
            owedSinceUs = std::max(owedSinceUs, e.timeUs);
            break;
        case WireEvent::Kind::Sent:
            if (e.bytes.size() < 2) break;
            if (e.bytes[1] == wire::kProbe) probeOwed = false;
            reannounced = e.bytes[1] == wire::kAnnounce && dataUnanswered;
            if (wire::IsDataFrame(e.bytes[1])) dataUnanswered = true;
            break;
        case WireEvent::Kind::Accepted:
            if (!connected) break;
            lastReplyUs = e.timeUs;
            if (!reannounced) lastProgressUs = e.timeUs;
            if (e.bytes.size() >= 2 && wire::IsDataFrame(e.bytes[1])) dataUnanswered = false;
            break;
        default:
            break;
        }
    }
    if (auto late = overdue(endUs)) return Violation{log.size(), *late};
    return std::nullopt;
}

} // namespace bifuel::test
