#pragma once

// A link on a virtual clock at 9600 baud, with whatever ECU the test puts on the line's
// device end, and what the indicators showed at every live frame.

#include "Context.h"
#include "MemoryLine.h"
#include "data/Live_Data.h"
#include "runtime/VirtualScheduler.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bifuel::test {

// The indicator column and the mode label as the user reads them.
inline std::vector<std::string> IndicatorTexts(const Context& ctx) {
    const DataView& v = ctx.dataView;
    return {v.HudLabel_IND_Petrol_Data.text,    v.HudLabel_IND_Gas_Data.text,
            v.HudLabel_IND_RPM_Data.text,       v.HudLabel_IND_PressVap_Data.text,
            v.HudLabel_IND_PressColl_Data.text, v.HudLabel_IND_PressDiff_Data.text,
            v.HudLabel_IND_TempVap_Data.text,   v.HudLabel_IND_TempGas_Data.text,
            v.HudLabel_Work_Mode.text};
}

struct LiveRig {
    explicit LiveRig(const Paths& paths) : ctx(clock, line.host(), paths) {
        ctx.settings.Search_Port = false;
        ctx.link.Main_Shown = true;
        ctx.settings.Port_Name = "ttyTEST0";
        line.host().setPortName("ttyTEST0");
        replyWatch =
            ctx.events.replyAccepted.subscribe([this](std::span<const std::uint8_t> reply) {
                lastReply.assign(reply.begin(), reply.end());
            });
        liveWatch = ctx.events.liveData.subscribe([this] {
            shown.push_back(IndicatorTexts(ctx));
            // The data bytes: behind the program code and the command, before the checksum.
            frames.emplace_back(lastReply.begin() + 2, lastReply.end() - 1);
            frameUs.push_back(clock.nowUs());
            if (onFrame) onFrame(shown.size());
        });
        loadedWatch = ctx.events.dataLoaded.subscribe([this] { loaded = true; });
    }

    // Opens the port and runs until the connection program has read everything.
    bool connect() {
        loaded = false;
        line.host().open();
        return clock.runUntil([this] { return loaded; }, 20000);
    }
    bool runFrames(std::size_t n, std::int64_t limitMs = 60000) {
        const std::size_t target = shown.size() + n;
        return clock.runUntil([&] { return shown.size() >= target; }, limitMs);
    }

    VirtualScheduler clock;
    sim::MemoryLine line{clock, sim::MemoryLine::kByteTimeUs9600};
    Context ctx;
    std::vector<std::vector<std::string>> shown;   // indicator texts, per live frame
    std::vector<std::vector<std::uint8_t>> frames; // live replies' data bytes
    std::vector<std::int64_t> frameUs;             // when each was decoded
    std::function<void(std::size_t)> onFrame;      // after frame n (1-based)
    bool loaded = false;

  private:
    std::vector<std::uint8_t> lastReply;
    Subscription replyWatch;
    Subscription liveWatch;
    Subscription loadedWatch;
};

} // namespace bifuel::test
