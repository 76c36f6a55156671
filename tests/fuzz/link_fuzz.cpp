// The link against a peer whose every byte, pause and cable pull comes from the input,
// with the user asking for writes and switches in between. Whatever the peer does, every
// frame the program sends is well formed, every data frame follows the acknowledged
// ANNOUNCE of its length, and every reply it accepts answers a request that went out.
#include "FuzzCheck.h"

#include "Context.h"
#include "MemoryLine.h"
#include "link/Global_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/Link_Operations.h"
#include "link/WireMonitor.h"
#include "runtime/VirtualScheduler.h"

#include <array>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The last frame the program sent, as the peer heard it.
Bytes lastRequest(const bifuel::sim::MemoryLine& line) {
    const auto& log = line.wireLog();
    for (auto it = log.rbegin(); it != log.rend(); ++it) {
        if (it->fromHost) return it->bytes;
    }
    return {};
}

// The fuzz input, read a byte at a time; 0 once it is used up.
struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool more() const { return at < size; }
    std::uint8_t next() { return at < size ? data[at++] : 0; }
};

// The link on a line in memory at 9600 baud, every event on it recorded; the peer's end
// drops whatever the program sends.
struct FuzzLink {
    FuzzLink()
        : line(clock, bifuel::sim::MemoryLine::kByteTimeUs9600), monitor(clock, line.host()),
          ctx(clock, monitor,
              bifuel::MakePaths(bifuel::fuzz::WorkFolder() / "link", "bifuel-studio")) {
        ctx.link.Main_Shown = true;
        ctx.settings.Search_Port = false;
        ctx.settings.Port_Name = "ttyFUZZ";
        monitor.setPortName("ttyFUZZ");
        monitor.watch(ctx.events);
        line.device().open();
        line.device().setEvents({[this] {
                                     std::uint8_t buffer[256];
                                     while (line.device().read(buffer, sizeof buffer) > 0) {
                                     }
                                 },
                                 {},
                                 {}});
        monitor.open();
    }

    bifuel::VirtualScheduler clock;
    bifuel::sim::MemoryLine line;
    bifuel::test::WireMonitor monitor;
    bifuel::Context ctx;
};

void sendRawBytes(bifuel::sim::MemoryLine& line, Input& in) {
    Bytes bytes(in.next() % 48 + 1);
    for (std::uint8_t& b : bytes)
        b = in.next();
    line.device().write(bytes.data(), bytes.size());
}

// A reply shaped like one: the request's code and command, a checksum.
void sendShapedReply(bifuel::sim::MemoryLine& line, Input& in) {
    const Bytes request = lastRequest(line);
    if (request.size() < 2) return;
    Bytes reply{request[0], request[1]};
    const std::size_t payload = in.next() % 96;
    for (std::size_t i = 0; i < payload; ++i)
        reply.push_back(in.next());
    reply.push_back(bifuel::FrameChecksum(reply.data(), reply.size()));
    line.device().write(reply.data(), reply.size());
}

// The peer's bytes, pauses and cable pulls, and the user's requests, as the input says.
void play(FuzzLink& link, Input& in) {
    using bifuel::Request;
    static constexpr std::array kRequests{
        Request::ModeGas,     Request::ModePetrol,   Request::ModeAuto, Request::WriteAll,
        Request::WriteConfig, Request::WriteDiagram, Request::WriteMap, Request::ClearErrors,
        Request::EraseMapGas, Request::Reconnect};
    while (in.more()) {
        switch (in.next() % 8) {
        case 0:
            sendRawBytes(link.line, in);
            break;
        case 1:
        case 2:
            sendShapedReply(link.line, in);
            break;
        case 3:
            link.clock.advance(static_cast<std::int64_t>(in.next()) * 20);
            break;
        case 4: {
            const bool pull = !link.line.unplugged();
            link.line.setUnplugged(pull);
            link.monitor.cable(!pull);
            break;
        }
        case 5:
            bifuel::SetPendingRequest(link.ctx, kRequests[in.next() % kRequests.size()]);
            break;
        case 6:
            bifuel::ScheduleWrite(link.ctx, static_cast<std::uint8_t>(in.next() % 3 + 2));
            break;
        default:
            link.clock.advance(static_cast<std::int64_t>(in.next()) + 1);
            break;
        }
    }
}

void checkWire(const bifuel::test::WireMonitor& monitor) {
    using namespace bifuel;
    const auto& log = monitor.log();
    if (const auto v = test::FirstMalformedFrame(log)) {
        fuzz::Require(false, "every frame sent is well formed",
                      v->what + "\n" + monitor.trace(v->at));
    }
    if (const auto v = test::FirstUnannouncedDataFrame(log)) {
        fuzz::Require(
            false, "a data frame goes out only right after the acknowledged ANNOUNCE of its length",
            v->what + "\n" + monitor.trace(v->at));
    }
    if (const auto v = test::FirstStrayReply(log)) {
        fuzz::Require(false, "every accepted reply answers the frame sent last",
                      v->what + "\n" + monitor.trace(v->at));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzLink link;
    Input in{data, size};
    play(link, in);
    link.clock.advance(6000);
    checkWire(link.monitor);
    return 0;
}
