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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bifuel;
    VirtualScheduler clock;
    sim::MemoryLine line(clock, sim::MemoryLine::kByteTimeUs9600);
    test::WireMonitor monitor(clock, line.host());
    Context ctx(clock, monitor, MakePaths(fuzz::WorkFolder() / "link", "bifuel-studio"));
    ctx.link.Main_Shown = true;
    ctx.settings.Search_Port = false;
    ctx.settings.Port_Name = "ttyFUZZ";
    monitor.setPortName("ttyFUZZ");
    monitor.watch(ctx.events);
    line.device().open();
    line.device().setEvents({[&line] {
                                 std::uint8_t buffer[256];
                                 while (line.device().read(buffer, sizeof buffer) > 0) {
                                 }
                             },
                             {},
                             {}});
    monitor.open();

    std::size_t at = 0;
    const auto next = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };
    static constexpr std::array kRequests{
        Request::ModeGas,     Request::ModePetrol,   Request::ModeAuto, Request::WriteAll,
        Request::WriteConfig, Request::WriteDiagram, Request::WriteMap, Request::ClearErrors,
        Request::EraseMapGas, Request::Reconnect};
    while (at < size) {
        switch (next() % 8) {
        case 0: { // raw bytes
            Bytes bytes(next() % 48 + 1);
            for (std::uint8_t& b : bytes)
                b = next();
            line.device().write(bytes.data(), bytes.size());
            break;
        }
        case 1:
        case 2: { // a reply shaped like one: the request's code and command, a checksum
            const Bytes request = lastRequest(line);
            if (request.size() < 2) break;
            Bytes reply{request[0], request[1]};
            const std::size_t payload = next() % 96;
            for (std::size_t i = 0; i < payload; ++i)
                reply.push_back(next());
            reply.push_back(FrameChecksum(reply.data(), reply.size()));
            line.device().write(reply.data(), reply.size());
            break;
        }
        case 3:
            clock.advance(static_cast<std::int64_t>(next()) * 20);
            break;
        case 4: {
            const bool pull = !line.unplugged();
            line.setUnplugged(pull);
            monitor.cable(!pull);
            break;
        }
        case 5:
            SetPendingRequest(ctx, kRequests[next() % kRequests.size()]);
            break;
        case 6:
            ScheduleWrite(ctx, static_cast<std::uint8_t>(next() % 3 + 2));
            break;
        default:
            clock.advance(static_cast<std::int64_t>(next()) + 1);
            break;
        }
    }
    clock.advance(6000);

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
    return 0;
}
