#include "SimEcu.h"

#include "LiveFrame.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <optional>
#include <utility>

namespace bifuel::sim {

namespace {

using Bytes = std::vector<std::uint8_t>;

enum Command : std::uint8_t {
    kProbe = 0x21,
    kSetMode = 0x22,
    kReadLive = 0x23,
    kReadParams = 0x24,
    kReadDiagram = 0x25,
    kClearErrors = 0x26,
    kReadMapGas = 0x27,
    kReadMapPetrol = 0x28,
    kEraseMapGas = 0x29,
    kEraseMapPetrol = 0x2A,
    kReadName = 0x2C,
    kWriteName = 0x2D,
    kWriteMapSize = 0x2E,
    kReadMapSize = 0x2F,
    kReadIdent = 0x30,
    kAnnounce = 0x31,
    kWriteParams = 0x32,
    kWriteDiagram = 0x33,
    kWriteMapChunk = 0x36,
    kReadMapChunk = 0x37,
    kWriteAcb = 0x3C,
};

constexpr std::size_t kShortFrame = 5;
constexpr std::size_t kMinFrame = 3; // code, command, checksum
constexpr std::int64_t kInterByteLimitUs = 500'000;
constexpr std::uint8_t kWideProbeCode = 26; // the code whose probe reply has a spare byte

// Identification block: 30 text characters split 16 / 10 / 4, then two 24-bit counters and
// the five lengths. 42 bytes with N itself.
constexpr std::size_t kModelChars = 16;
constexpr std::size_t kDateChars = 10;
constexpr std::size_t kVersionChars = 4;
constexpr std::size_t kKnownIdentLength = 42;

constexpr std::uint8_t kModeMask = 0x07;

// The leading column and row counts of the map stream; a read starts after them.
constexpr std::size_t kMapStreamCounts = 2;

constexpr std::array<std::uint8_t, 49> kBaseReadList{
    0x5F, 0x5A, 0x41, 0x42, 0x43, 0x9B, 0x52, 0x5C, 0x9F, 0x44, 0xA5, 0x9C, 0x45,
    0x82, 0x83, 0xA6, 0xA7, 0x81, 0x4F, 0x5B, 0x84, 0x85, 0x53, 0x54, 0x55, 0x56,
    0x57, 0x58, 0x46, 0x47, 0x9D, 0x9E, 0x48, 0x49, 0x4A, 0x59, 0xA4, 0xA3, 0x92,
    0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA8, 0xA9};

std::uint8_t checksum(const std::uint8_t* data, std::size_t n) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += data[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

void putWord(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

void putText(Bytes& out, const std::string& text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        out.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : std::uint8_t{' '});
    }
}

void put24(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>((value >> 16) & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

std::uint8_t lengthByte(std::size_t n) {
    return static_cast<std::uint8_t>(std::min<std::size_t>(n, 255));
}

// The version text times 100, truncated; a comma counts as a decimal point and anything
// that is not a number counts as 0, so an odd text simply gets the base read list.
int numericVersion(const std::string& text) {
    std::string t = text;
    std::replace(t.begin(), t.end(), ',', '.');
    const auto first = t.find_first_not_of(' ');
    if (first == std::string::npos) return 0;
    const auto last = t.find_last_not_of(' ');
    t = t.substr(first, last - first + 1);
    double value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (ec != std::errc{} || end != t.data() + t.size() || !std::isfinite(value)) return 0;
    const double scaled = value * 100;
    if (std::fabs(scaled) > 1e9) return 0;
    return static_cast<int>(scaled); // truncates toward zero
}

bool inRange(int v, int lo, int hi) {
    return v >= lo && v <= hi;
}

// Diagram write code -> (point, word): slope, gas, petrol. Codes 0x73..0x75 are not items.
std::optional<std::pair<std::size_t, int>> diagramItem(std::uint8_t code) {
    if (code >= 0x61 && code <= 0x72)
        return std::pair<std::size_t, int>((code - 0x61) / 3, (code - 0x61) % 3);
    if (code >= 0x76 && code <= 0x7E)
        return std::pair<std::size_t, int>(6 + (code - 0x76) / 3, (code - 0x76) % 3);
    return std::nullopt;
}

} // namespace

struct SimEcu::Impl {
    Impl(Scheduler& sched, SerialPort& port, EcuState initial)
        : scheduler(sched), device(port), state(std::move(initial)), outTimer(sched.createTimer()) {
        outTimer->setOnFire([this] { flushDue(); });
        reseed();
    }

    Scheduler& scheduler;
    SerialPort& device;
    EcuState state;
    Faults faults;
    Counters counters;
    std::int64_t turnaroundUs = 0;
    LiveModel* model = nullptr;
    Signal<> stored;
    Signal<bool> lineCutChanged;
    bool lineCut = false;
    // A storing write not yet reported through the data-saved bit of a live reply, and
    // the live replies that still carry the bit.
    static constexpr int kSavedReplies = 3;
    bool saveUnreported = false;
    int savedRepliesLeft = 0;

    // Framing.
    Bytes rx;
    std::size_t expected = kShortFrame;
    std::int64_t lastByteUs = 0;

    // Map stream positions.
    std::size_t mapReadOffset = kMapStreamCounts;
    std::size_t mapWriteOffset = 0;

    // Faults.
    int replyIndex = 0;
    std::optional<Fault> once;
    std::mt19937 rng;
    std::uint32_t rngSeed = 0;

    // Bytes waiting for their time on the line. Strictly first in, first out: the ECU is
    // still sending while the late half of a split reply waits, so nothing overtakes it.
    struct Pending {
        std::int64_t dueUs;
        Bytes bytes;
    };
    std::deque<Pending> outbox;
    std::unique_ptr<Timer> outTimer;

    void reseed() {
        rngSeed = faults.seed;
        rng.seed(rngSeed);
    }

    // ---- lengths reported in the identification block --------------------------------

    std::size_t liveLen() const { return state.liveLength ? state.liveLength : state.live.size(); }
    std::size_t paramLen() const {
        return state.paramLength ? state.paramLength
                                 : 2 * readListFor(state.firmwareVersion).size();
    }

    // ---- receiving ---------------------------------------------------------------------

    void onBytesArrived() {
        std::uint8_t buffer[64];
        for (;;) {
            const std::size_t n = device.read(buffer, sizeof buffer);
            if (n == 0) break;
            if (lineCut) continue; // read only to drain the port: nothing gets through
            if (faults.loopback) {
                device.write(buffer, n);
                continue;
            }
            for (std::size_t i = 0; i < n; ++i)
                feed(buffer[i]);
        }
    }

    void feed(std::uint8_t byte) {
        const std::int64_t now = scheduler.nowUs();
        // A stalled request is dropped, and with it any announced length: the host repeats
        // an unanswered ANNOUNCE as a short frame, so that is what must come next.
        if (!rx.empty() && now - lastByteUs > kInterByteLimitUs) {
            rx.clear();
            expected = kShortFrame;
        }
        lastByteUs = now;
        rx.push_back(byte);
        if (rx.size() < expected) return;
        Bytes frame;
        frame.swap(rx);
        expected = kShortFrame;
        handleFrame(frame);
    }

    // A request frame that passed its checks: its command and data bytes.
    struct Request {
        std::uint8_t cmd;
        const std::uint8_t* data;
        std::size_t dataLen;
        std::uint8_t d1; // the first two data bytes, 0 when missing
        std::uint8_t d2;
    };

    void handleFrame(const Bytes& f) {
        if (checksum(f.data(), f.size() - 1) != f.back()) {
            ++counters.badChecksums;
            return;
        }
        ++counters.framesReceived;
        ++counters.byCommand[f[1]];
        if (f[0] != state.programCode) return; // another ECU's code: stay silent

        const std::uint8_t* data = f.data() + 2;
        const std::size_t dataLen = f.size() - 3;
        const Request r{f[1], data, dataLen, dataLen > 0 ? data[0] : std::uint8_t{0},
                        dataLen > 1 ? data[1] : std::uint8_t{0}};
        // A dropped acknowledgement is a line fault, not a refusal: every write is applied
        // before the reply is built, so the ECU holds the data even when the ack is lost.
        // Likewise the map offsets advance whether or not the reply arrives. A command this
        // ECU does not know gets silence.
        if (!answerRead(r) && !applyControl(r) && !applyWrite(r)) handleMapCommand(r);
    }

    // The reads: identification, live data, parameters, diagram, MAP lists, name.
    bool answerRead(const Request& r) {
        switch (r.cmd) {
        case kProbe: {
            Bytes payload{state.identLength};
            if (state.programCode == kWideProbeCode) payload.push_back(0);
            reply(r.cmd, payload);
            return true;
        }
        case kReadIdent:
            reply(r.cmd, identBlock());
            return true;
        case kReadLive:
            replyLive();
            return true;
        case kReadParams:
            reply(r.cmd, paramValues());
            return true;
        case kReadDiagram:
            reply(r.cmd, diagramBytes());
            return true;
        case kReadMapGas:
            reply(r.cmd, mapList(state.mapGas));
            return true;
        case kReadMapPetrol:
            reply(r.cmd, mapList(state.mapPetrol));
            return true;
        case kReadName:
            reply(r.cmd, Bytes(state.name.begin(), state.name.end()));
            return true;
        default:
            return false;
        }
    }

    // Mode, errors, erased MAP lists, the announced length and calibration adjustments.
    bool applyControl(const Request& r) {
        switch (r.cmd) {
        case kSetMode:
            state.lastModeByte = r.d2;
            if (model) {
                model->setMode(r.d2);
            } else {
                applyMode(r.d2);
            }
            reply(r.cmd, {});
            return true;
        case kClearErrors:
            if (model) model->clearErrors();
            if (state.live.size() > live::kErrors1) state.live[live::kErrors1] = 0;
            if (state.live.size() > live::kErrors2) state.live[live::kErrors2] = 0;
            reply(r.cmd, {});
            return true;
        case kEraseMapGas:
            state.mapGas.assign(state.mapPointCount, 0);
            stored.notify();
            reply(r.cmd, state.mapGas);
            return true;
        case kEraseMapPetrol:
            state.mapPetrol.assign(state.mapPointCount, 0);
            stored.notify();
            reply(r.cmd, state.mapPetrol);
            return true;
        case kAnnounce:
            if (r.d2 < kMinFrame) return true; // no frame can be that short
            reply(r.cmd, {});
            expected = r.d2;
            return true;
        case kWriteAcb:
            // Adjustments for a running calibration: applied, not stored, so no saved flag.
            state.lastAcb.assign(r.data, r.data + r.dataLen);
            if (model) model->autoCalibration(r.data, r.dataLen);
            reply(r.cmd, {});
            return true;
        default:
            return false;
        }
    }

    // The writes the ECU keeps: name, parameters, diagram.
    bool applyWrite(const Request& r) {
        switch (r.cmd) {
        case kWriteName:
            if (r.dataLen < state.name.size()) return true; // a cut-off name is not stored
            std::copy_n(r.data, state.name.size(), state.name.begin());
            markSaved();
            reply(r.cmd, {});
            return true;
        case kWriteParams:
            for (std::size_t i = 0; i + 3 <= r.dataLen; i += 3) {
                state.params[r.data[i]] =
                    static_cast<std::uint16_t>(r.data[i + 1] << 8 | r.data[i + 2]);
            }
            markSaved();
            reply(r.cmd, {});
            return true;
        case kWriteDiagram:
            for (std::size_t i = 0; i + 3 <= r.dataLen; i += 3) {
                const auto item = diagramItem(r.data[i]);
                if (!item) continue;
                const auto value = static_cast<std::uint16_t>(r.data[i + 1] << 8 | r.data[i + 2]);
                DiagramItem& point = state.diagram[item->first];
                (item->second == 0   ? point.slope
                 : item->second == 1 ? point.gas
                                     : point.petrol) = value;
            }
            markSaved();
            reply(r.cmd, {});
            return true;
        default:
            return false;
        }
    }

    // The RPM map, read and written in chunks from a stream offset.
    bool handleMapCommand(const Request& r) {
        switch (r.cmd) {
        case kReadMapSize:
            mapReadOffset = kMapStreamCounts;
            reply(r.cmd, {state.rpmMapSize[0], state.rpmMapSize[1]});
            return true;
        case kReadMapChunk: {
            Bytes payload(r.d1, 0);
            for (std::size_t i = 0; i < payload.size(); ++i) {
                const std::size_t at = mapReadOffset + i;
                if (at < state.rpmMap.size()) payload[i] = state.rpmMap[at];
            }
            mapReadOffset += r.d1;
            reply(r.cmd, payload);
            return true;
        }
        case kWriteMapSize:
            state.rpmMapSize = {r.d1, r.d2};
            mapWriteOffset = 0;
            stored.notify();
            reply(r.cmd, {});
            return true;
        case kWriteMapChunk:
            for (std::size_t i = 0; i < r.dataLen && mapWriteOffset < SimEcu::kMaxMapStream; ++i) {
                if (state.rpmMap.size() <= mapWriteOffset)
                    state.rpmMap.resize(mapWriteOffset + 1, 0);
                state.rpmMap[mapWriteOffset++] = r.data[i];
            }
            markSaved();
            reply(r.cmd, {});
            return true;
        default:
            return false;
        }
    }

    // ---- state updates -----------------------------------------------------------------

    void markSaved() {
        saveUnreported = true;
        stored.notify();
    }

    // A cable pulled: the request half-received and every reply not yet out are lost.
    void setLineCut(bool cut) {
        if (cut == lineCut) return;
        lineCut = cut;
        if (cut) {
            rx.clear();
            expected = kShortFrame;
            outbox.clear();
            outTimer->stop();
            device.purge();
        }
        lineCutChanged.notify(cut);
    }

    // The data-saved bit goes out in the next few live replies after a storing write, then
    // clears, so a host that lost one of them on the line still sees it. While the engine
    // says nothing can be stored now, it waits.
    void replyLive() {
        Bytes payload = model ? model->liveData() : state.live;
        payload.resize(liveLen(), 0);
        const bool canSave = !model || model->canSaveNow();
        if (saveUnreported && canSave) {
            saveUnreported = false;
            savedRepliesLeft = kSavedReplies;
        }
        const bool plainSaved = !model && state.live.size() > live::kStatus &&
                                (state.live[live::kStatus] & live::kStatusDataSaved);
        const bool saved = savedRepliesLeft > 0 || plainSaved;
        if (payload.size() > live::kStatus) {
            payload[live::kStatus] =
                static_cast<std::uint8_t>((payload[live::kStatus] & ~live::kStatusDataSaved) |
                                          (saved ? live::kStatusDataSaved : 0));
        }
        if (reply(kReadLive, payload) && saved) {
            if (savedRepliesLeft > 0) --savedRepliesLeft;
            if (savedRepliesLeft == 0 && state.live.size() > live::kStatus)
                state.live[live::kStatus] &= static_cast<std::uint8_t>(~live::kStatusDataSaved);
        }
    }

    // The working mode follows the last switch, so a host sees its mode change take effect.
    void applyMode(std::uint8_t modeByte) {
        if (state.live.size() <= live::kMode) return;
        std::uint8_t mode = 0;
        if (modeByte & 0x04) {
            mode = 4;
        } else if (modeByte & 0x02) {
            mode = 2;
        } else if (modeByte & 0x01) {
            mode = 1;
        } else {
            return;
        }
        std::uint8_t& b = state.live[live::kMode];
        b = static_cast<std::uint8_t>((b & ~kModeMask) | mode);
    }

    // ---- reply payloads ----------------------------------------------------------------

    Bytes identBlock() const {
        Bytes out;
        out.push_back(state.identLength);
        putText(out, state.model, kModelChars);
        putText(out, state.firmwareDate, kDateChars);
        putText(out, state.firmwareVersion, kVersionChars);
        put24(out, state.workGasMinutes);
        put24(out, state.workPetrolMinutes);
        out.push_back(lengthByte(liveLen()));
        out.push_back(lengthByte(paramLen()));
        out.push_back(state.diagramLength);
        out.push_back(state.reservedLength);
        out.push_back(state.mapPointCount);
        // The reply is N + 3 bytes whatever N says: a longer block ends in zeros, a shorter
        // one is cut off.
        static_assert(kModelChars + kDateChars + kVersionChars + 6 + 5 + 1 == kKnownIdentLength);
        out.resize(state.identLength, 0);
        return out;
    }

    Bytes paramValues() const {
        Bytes out;
        for (const std::uint8_t code : readListFor(state.firmwareVersion)) {
            const auto it = state.params.find(code);
            putWord(out, it == state.params.end() ? 0 : it->second);
        }
        out.resize(paramLen(), 0);
        return out;
    }

    Bytes diagramBytes() const {
        Bytes out;
        for (const DiagramItem& p : state.diagram) {
            putWord(out, p.slope);
            putWord(out, p.gas);
            putWord(out, p.petrol);
        }
        out.resize(state.diagramLength, 0);
        return out;
    }

    Bytes mapList(const Bytes& list) const {
        Bytes out = list;
        out.resize(state.mapPointCount, 0);
        return out;
    }

    // ---- sending -----------------------------------------------------------------------

    Fault nextFault() {
        ++replyIndex;
        if (once) {
            const Fault f = *once;
            once.reset();
            return f;
        }
        const auto every = [this](int k) { return k > 0 && replyIndex % k == 0; };
        if (every(faults.dropEvery)) return Fault::Drop;
        if (every(faults.corruptEvery)) return Fault::Corrupt;
        if (every(faults.wrongEchoEvery)) return Fault::WrongEcho;
        if (every(faults.splitEvery)) return Fault::Split;
        if (every(faults.surplusEvery)) return Fault::Surplus;
        return Fault::None;
    }

    // Builds [code, command, payload, checksum], applies the fault of this reply and puts
    // it on the line. Returns whether anything was sent.
    bool reply(std::uint8_t cmd, const Bytes& payload) {
        Bytes out;
        out.reserve(payload.size() + 3);
        out.push_back(state.programCode);
        out.push_back(cmd);
        out.insert(out.end(), payload.begin(), payload.end());
        out.push_back(checksum(out.data(), out.size()));

        const std::int64_t due = scheduler.nowUs() + std::max<std::int64_t>(turnaroundUs, 0);
        switch (nextFault()) {
        case Fault::Drop:
            return false;
        case Fault::None:
            break;
        case Fault::Corrupt:
            out.back() = static_cast<std::uint8_t>(out.back() + 1);
            break;
        case Fault::WrongEcho:
            out[1] = static_cast<std::uint8_t>(out[1] + 1);
            out.back() = checksum(out.data(), out.size() - 1);
            break;
        case Fault::Split: {
            const std::size_t half = out.size() / 2;
            ++counters.repliesSent;
            send(due, Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(half)));
            send(due + std::int64_t{std::max(faults.splitGapMs, 0)} * 1000,
                 Bytes(out.begin() + static_cast<std::ptrdiff_t>(half), out.end()));
            return true;
        }
        case Fault::Surplus:
            if (faults.seed != rngSeed) reseed();
            for (int i = 0; i < faults.surplusBytes; ++i) {
                out.push_back(static_cast<std::uint8_t>(rng() & 0xFF));
            }
            break;
        }
        ++counters.repliesSent;
        send(due, std::move(out));
        return true;
    }

    void send(std::int64_t dueUs, Bytes bytes) {
        if (lineCut) return;
        const std::int64_t now = scheduler.nowUs();
        if (outbox.empty() && dueUs <= now) {
            device.write(bytes.data(), bytes.size());
            return;
        }
        outbox.push_back({dueUs, std::move(bytes)});
        armTimer();
    }

    void armTimer() {
        if (outbox.empty()) {
            outTimer->stop();
            return;
        }
        outTimer->setIntervalUs(
            std::max<std::int64_t>(outbox.front().dueUs - scheduler.nowUs(), 0));
        outTimer->start();
    }

    void flushDue() {
        const std::int64_t now = scheduler.nowUs();
        while (!outbox.empty() && outbox.front().dueUs <= now) {
            const Pending p = std::move(outbox.front());
            outbox.pop_front();
            device.write(p.bytes.data(), p.bytes.size());
        }
        armTimer();
    }
};

SimEcu::SimEcu(Scheduler& scheduler, SerialPort& device, EcuState state)
    : impl_(std::make_unique<Impl>(scheduler, device, std::move(state))) {
    if (!device.isOpen()) device.open();
    SerialPort::Events events;
    events.bytesArrived = [this] { impl_->onBytesArrived(); };
    device.setEvents(std::move(events));
}

SimEcu::~SimEcu() {
    impl_->device.setEvents({});
}

namespace {

// Raw words of a freshly installed LPG system: switch at 30 C / 600 rpm after 2 s,
// prescaler 1:5, level sensor "0 - 90 Om", auto-calibration defaults. Codes the host
// only reads past stay 0.
void setDefaultParams(EcuState& s) {
    for (const std::uint8_t code : SimEcu::readListFor("3.62"))
        s.params[code] = 0;
    s.params[0x5A] = 1315;   // pressure scale
    s.params[0x41] = 0x0323; // switch-over temperature: the shipped table's code for 30 C
    s.params[0x43] = 50000;  // 600 rpm as an ignition period
    s.params[0x52] = 0x1408; // 2.0 s, flag bit 3
    s.params[0x5C] = 0x0512; // raw 5; flags 1 and 4; LPG
    s.params[0x9F] = 0x4200; // flags 1 and 6
    s.params[0x44] = 0x0072; // 0.5 bar
    s.params[0x45] = 0x0A05; // raw 10; prescaler 1:5
    s.params[0x53] = 0x0740; // level type 7, parameter 64
    s.params[0x54] = 0x2037; // level 1 = 55, "90" bit
    s.params[0x55] = 104;
    s.params[0x56] = 147;
    s.params[0x57] = 184;
    s.params[0x58] = 248;
    s.params[0x92] = 0x00E4; // 1.00 bar
    s.params[0x93] = 0x4047; // 50 %
    s.params[0x94] = 0x4047; // 50 %
    s.params[0x95] = 0x02D3; // auto-calibration temperature: the table's code for 40 C
    s.params[0x96] = 0x0D0A; // 10 %
    s.params[0x97] = 0x0D0A; // 10 %
    s.params[0x98] = 700;    // 1400 after doubling
    s.params[0x99] = 0x5A20; // 70 %
}

// LPG default diagram (slope 23, offset 2 ms) with the idle flag on points 1 and 2,
// as the host writes it; slopes in 128ths.
void setDefaultDiagram(EcuState& s) {
    constexpr std::array<std::uint16_t, 9> petrol{0,     2000,  4000,  6000, 9000,
                                                  12000, 16000, 20000, 25000};
    constexpr std::array<std::uint16_t, 9> gas{2000,  3840,  5680,  7520, 10280,
                                               13040, 16720, 20400, 25000};
    for (std::size_t i = 0; i < 9; ++i) {
        DiagramItem& p = s.diagram[i];
        p.gas = gas[i];
        p.petrol = static_cast<std::uint16_t>(petrol[i] | ((i == 1 || i == 2) ? 0x8000 : 0));
        p.slope = i == 0 ? 128
                         : static_cast<std::uint16_t>(std::abs(gas[i] - gas[i - 1]) * 128 /
                                                      (petrol[i] - petrol[i - 1]));
    }
}

// Some points recorded in the middle load bands, on gas slightly longer than on petrol.
void setRecordedMapPoints(EcuState& s) {
    s.mapGas.assign(s.mapPointCount, 0);
    s.mapPetrol.assign(s.mapPointCount, 0);
    for (std::size_t k = 4; k < 20; ++k) {
        s.mapPetrol[k] = static_cast<std::uint8_t>(0x10 + 3 * (k - 4));
        s.mapGas[k] = static_cast<std::uint8_t>(0x12 + 3 * (k - 4));
    }
}

// Default 8 x 12 map: counts, column periods (0 rpm as FF FF), row headers in tenths
// of a millisecond, factor 1.00 everywhere (128).
void setDefaultRpmMap(EcuState& s) {
    constexpr std::array<int, 8> rpm{0, 500, 1000, 1500, 2000, 2500, 3000, 4000};
    constexpr std::array<std::uint8_t, 12> rows{0, 10, 20, 30, 40, 50, 70, 90, 120, 150, 180, 220};
    s.rpmMapSize = {8, 12};
    s.rpmMap = {8, 12};
    for (const int r : rpm)
        putWord(s.rpmMap, r == 0 ? 0xFFFF : static_cast<std::uint16_t>(30'000'000 / r));
    s.rpmMap.insert(s.rpmMap.end(), rows.begin(), rows.end());
    s.rpmMap.insert(s.rpmMap.end(), rpm.size() * rows.size(), 128);
}

// Engine idling at 800 rpm on petrol, warm, no errors.
void setIdlingLiveData(EcuState& s) {
    s.live.assign(live::kLength, 0);
    const auto setWord = [&s](std::size_t at, std::uint16_t v) {
        s.live[at] = static_cast<std::uint8_t>(v >> 8);
        s.live[at + 1] = static_cast<std::uint8_t>(v & 0xFF);
    };
    setWord(0, 37500);  // 800 rpm as a period
    setWord(2, 0x0190); // reducer temperature code
    setWord(4, 0x01A0); // gas temperature code
    s.live[live::kStatus] |= live::kStatusEngineRunning | live::kStatusPressureNormal;
    setWord(6, 150);     // level sensor
    setWord(8, 0x01F4);  // reducer pressure
    setWord(10, 0x0050); // manifold pressure
    setWord(16, 700);    // 1400 after doubling
    for (std::size_t c = 0; c < 4; ++c)
        setWord(18 + 2 * c, 2800); // petrol times, us
    s.live[live::kMode] = 1;       // petrol
}

} // namespace

EcuState SimEcu::defaultState() {
    EcuState s;
    s.programCode = 25;
    s.firmwareVersion = "2.54";
    s.model = "KestraLX";
    setDefaultParams(s);
    setDefaultDiagram(s);
    setRecordedMapPoints(s);
    s.name = {'C', 'A', 'R', '0', '1', 0xFF, 0xFF, 0xFF};
    setDefaultRpmMap(s);
    setIdlingLiveData(s);
    return s;
}

std::vector<std::uint8_t> SimEcu::readListFor(const std::string& firmwareVersion) {
    std::vector<std::uint8_t> list(kBaseReadList.begin(), kBaseReadList.end());
    const int v = numericVersion(firmwareVersion);
    if (inRange(v, 155, 199) || inRange(v, 357, 399)) list.insert(list.end(), {0xAA, 0xAB, 0xAC});
    if (inRange(v, 160, 199) || inRange(v, 360, 399)) list.push_back(0xAD);
    return list;
}

EcuState& SimEcu::state() {
    return impl_->state;
}
const EcuState& SimEcu::state() const {
    return impl_->state;
}
Faults& SimEcu::faults() {
    return impl_->faults;
}
void SimEcu::injectOnce(Fault fault) {
    impl_->once = fault;
}
void SimEcu::setTurnaroundUs(std::int64_t us) {
    impl_->turnaroundUs = us;
}
void SimEcu::setModel(LiveModel* model) {
    impl_->model = model;
}
Subscription SimEcu::onStored(std::function<void()> handler) {
    return impl_->stored.subscribe(std::move(handler));
}
void SimEcu::setLineCut(bool cut) {
    impl_->setLineCut(cut);
}
bool SimEcu::lineCut() const {
    return impl_->lineCut;
}
Subscription SimEcu::onLineCut(std::function<void(bool)> handler) {
    return impl_->lineCutChanged.subscribe(std::move(handler));
}
const SimEcu::Counters& SimEcu::counters() const {
    return impl_->counters;
}

} // namespace bifuel::sim
