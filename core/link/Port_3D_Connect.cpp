#include "link/Port_3D_Connect.h"

#include "Context.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "data/Dynamic_IND_Unit.h"
#include "link/Check_Versions.h"
#include "link/Global_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/Link_Operations.h"
#include "link/Port_3D_Unit.h"
#include "link/Transmit_Unit.h"

#include <algorithm>
#include <utility>

namespace bifuel {
namespace {

// Every port operation is skipped while a port error waits to be handled; a failing one
// records the error.
bool portOk(Context& ctx, bool succeeded) {
    if (!succeeded) ctx.link.Port_Error = true;
    return succeeded;
}

bool purgePort(Context& ctx) {
    if (ctx.link.Port_Error) return false;
    return portOk(ctx, ctx.port.purge());
}

void endCollection(Context& ctx) {
    ctx.link.RX_Collecting = false;
    ctx.timers.Timer_Reply_Gap->stop();
}

void finishRead(Context& ctx) {
    const std::size_t count = ctx.link.RX_Count;
    endCollection(ctx);
    CheckReply(ctx, count);
    // Whatever came beyond the expected length is discarded.
    purgePort(ctx);
    if (ctx.link.Port_Error) HandlePortError(ctx);
}

void showQuality(Context& ctx) {
    ViewControl& label = ctx.view.HudLabel_Port_Connect_Stabil;
    label.text = std::to_string(ctx.link.Link_Quality) + "%";
    label.colour = LinkQualityColour(ctx, ctx.link.Link_Quality);
}

void restartLinkQuality(Context& ctx) {
    Timer& timer = *ctx.timers.Timer_GEN_Connect_Stabil;
    timer.stop();
    timer.setInterval(ctx.settings.Reply_Delay + 20);
    timer.start();
    ctx.link.Link_Decaying = false;
    ctx.link.Link_Quality = 100;
    showQuality(ctx);
}

void showPortClosedLook(Context& ctx) {
    ctx.view.HudButton_Port_Search.visible = true;
    ctx.view.HudLabel_DynamicIND.visible = false;
    const std::string& closed = ctx.colours.ColourOf(Colour::Port_Close);
    ctx.view.HudLabel_Port_Name.colour = closed;
    ctx.view.HudLabel_Port_Connect_Stabil.colour = closed;
    ctx.view.HudLabel_Port_Connect_Stabil.text = "0%";
}

// The connection program from its probe, sent by the next tick of Timer_Sending. Nothing
// that was armed before goes out.
void restartWithProbe(Context& ctx) {
    LinkState& link = ctx.link;
    link.Halted = false; // whatever answers next is identified afresh
    link.Request_Armed = false;
    link.Awaiting_Reply = false;
    link.Announced_Length = 0;
    link.Restarting = false;
    link.Exchange_Restarts = 0;
    LoadProgram(ctx, ConnectionProgram());
    link.Program_Counter = 1; // the probe step itself; an answer goes on with word 2
    link.TX_Frame[1] = static_cast<std::uint8_t>(Command::PROBE);
}

// Some exchanges cannot simply be sent again when their reply did not come, because the
// ECU may have acted on the request already:
// - a data frame: the ECU took it and expects a short frame again, so the frame alone
//   would never be understood; it goes again behind its ANNOUNCE;
// - an RPM map chunk: the ECU steps its offset on whether or not the reply arrived, so a
//   repeated chunk would land at the wrong place; the transfer starts over from its size
//   exchange, which resets the offset on both sides.
// The sequencer then goes back to that earlier step of the program. Returns whether it did.
bool resumeFromEarlierStep(Context& ctx) {
    LinkState& link = ctx.link;
    if (!link.ECU_Connected) return false;
    const std::uint8_t command = link.TX_Frame[1];
    const std::int32_t at = std::min(link.Program_Counter, kProgramWords);
    std::int32_t step = 0;
    if (command == static_cast<std::uint8_t>(Command::READ_MAP_CHUNK)) {
        step = word::ReadMapSizeStep;
    } else if (command == static_cast<std::uint8_t>(Command::WRITE_MAP_CHUNK)) {
        step = word::WriteMapSizeStep;
    } else if (command != static_cast<std::uint8_t>(Command::ANNOUNCE) && at >= 2 &&
               link.Program_Words[static_cast<std::size_t>(at - 1)] == word::AnnounceStep) {
        step = word::AnnounceStep;
    } else {
        return false;
    }
    for (std::int32_t p = at; p >= 1; --p) {
        if (link.Program_Words[static_cast<std::size_t>(p)] != step) continue;
        // Bounded: an ECU that acknowledges the ANNOUNCE but never the frame behind it
        // would otherwise keep the link busy for ever.
        link.Restarting = true;
        if (++link.Exchange_Restarts > kExchangeRestartsMax || progressOverdue(ctx)) {
            DropLineLosingReplies(ctx);
            return true;
        }
        link.Program_Counter = p - 1;
        RunSequencer(ctx, SequencerRun::Resume);
        return true;
    }
    return false;
}

bool isDataFrame(std::uint8_t command) {
    switch (static_cast<Command>(command)) {
    case Command::WRITE_NAME:
    case Command::WRITE_PARAMS:
    case Command::WRITE_DIAGRAM:
    case Command::WRITE_MAP_CHUNK:
    case Command::WRITE_ACB:
        return true;
    default:
        return false;
    }
}

// Replies that belong to an exchange being started over; they are no progress of it.
bool restartsAnExchange(std::uint8_t command) {
    switch (static_cast<Command>(command)) {
    case Command::ANNOUNCE:
    case Command::READ_MAP_SIZE:
    case Command::WRITE_MAP_SIZE:
    case Command::READ_MAP_CHUNK:
    case Command::WRITE_MAP_CHUNK:
        return true;
    default:
        return false;
    }
}

void noteAcceptedReply(Context& ctx) {
    LinkState& link = ctx.link;
    const std::uint8_t command = link.Sent_Frame[1];
    link.Awaiting_Reply = false;
    link.Announced_Length = command == static_cast<std::uint8_t>(Command::ANNOUNCE)
                                ? link.Sent_Frame[3]
                                : std::uint8_t{0};
    if (!link.Restarting || !restartsAnExchange(command)) {
        link.Restarting = false;
        link.Exchange_Restarts = 0;
        link.Last_Progress_Us = ctx.scheduler.nowUs();
    }
}

} // namespace

bool progressOverdue(const Context& ctx) {
    const LinkState& link = ctx.link;
    return link.Restarting && ctx.scheduler.nowUs() - link.Last_Progress_Us >=
                                  std::int64_t{kExchangeProgressMs} * 1000;
}

void ArmRequest(Context& ctx) {
    LinkState& link = ctx.link;
    link.Awaiting_Reply = false;
    const std::size_t n = std::clamp<std::size_t>(link.TX_Length, 3, kFrameSize);
    link.TX_Length = static_cast<std::uint8_t>(n);
    link.TX_Frame[n - 1] = FrameChecksum(link.TX_Frame.data(), n - 1);
    Timer& sending = *ctx.timers.Timer_Sending;
    sending.setInterval(ctx.settings.Reply_Delay);
    sending.start();
    link.Request_Armed = true;
}

void SendArmed(Context& ctx) {
    LinkState& link = ctx.link;
    if (!link.Request_Armed && link.TX_Frame[1] == static_cast<std::uint8_t>(Command::PROBE)) {
        ProbeStep(ctx);
    }
    // A repeat inside an exchange being started over is bounded like the restart itself.
    if (!link.Request_Armed && link.ECU_Connected && progressOverdue(ctx)) {
        DropLineLosingReplies(ctx);
        return;
    }
    if (!link.Request_Armed && resumeFromEarlierStep(ctx)) return;
    // A data frame goes out only right behind the acknowledged ANNOUNCE of its length;
    // anywhere else the ECU would take it for garbage, or worse.
    if (isDataFrame(link.TX_Frame[1]) && link.Announced_Length != link.TX_Length) {
        const bool armed = std::exchange(link.Request_Armed, false);
        if (armed && resumeFromEarlierStep(ctx)) return;
        if (link.ECU_Connected) {
            OnLinkLost(ctx);
        } else {
            restartWithProbe(ctx);
        }
        return;
    }
    std::copy_n(link.TX_Frame.begin(), link.TX_Length, link.Sent_Frame.begin());
    if (link.Port_Error) {
        HandlePortError(ctx);
        return;
    }
    link.Request_Armed = false;
    ctx.view.HudButton_3D_GEN_Connect_Condition.visible = true;
    // A reply can only answer the request about to go out: a fragment still being
    // collected, or bytes left in the port by a failed read, are stale and must not be
    // glued to the coming reply.
    if (link.RX_Collecting || ctx.port.bytesAvailable() > 0) {
        endCollection(ctx);
        purgePort(ctx);
    }
    link.Announced_Length = 0;
    if (!link.Port_Error) portOk(ctx, ctx.port.write(link.Sent_Frame.data(), link.TX_Length));
    if (!link.Port_Error) ctx.port.expectBytes(link.Reply_Length);
    if (link.Port_Error) {
        HandlePortError(ctx);
        return;
    }
    link.Awaiting_Reply = true;
    ctx.events.frameSent.notify(std::span(link.Sent_Frame.data(), link.TX_Length));
    Timer& sending = *ctx.timers.Timer_Sending;
    sending.setInterval(kReplyTimeoutMs);
    sending.start();
}

void OnBytesArrived(Context& ctx) {
    LinkState& link = ctx.link;
    if (link.Port_Error) return;
    // No request is out: these bytes answer nothing that was sent (a late reply, an
    // echo, noise) and must not be taken for the reply to the request about to go.
    if (!link.Awaiting_Reply) {
        if (link.RX_Collecting) endCollection(ctx);
        purgePort(ctx);
        if (link.Port_Error) HandlePortError(ctx);
        return;
    }
    if (!link.RX_Collecting) {
        link.RX_Collecting = true;
        link.RX_Count = 0;
    }
    const std::size_t expected = link.Reply_Length;
    if (link.RX_Count < expected) {
        const std::size_t got =
            ctx.port.read(link.RX_Frame.data() + link.RX_Count, expected - link.RX_Count);
        // The event comes only while bytes wait, so reading none means the device failed.
        if (got == 0 && (ctx.port.bytesAvailable() > 0 || !ctx.port.isOpen())) {
            link.Port_Error = true;
            endCollection(ctx);
            HandlePortError(ctx);
            return;
        }
        link.RX_Count += got;
        if (link.RX_Count == expected) {
            finishRead(ctx);
            return;
        }
        ctx.port.expectBytes(expected - link.RX_Count);
    }
    // Bytes beyond an empty expectation stay in the port until the read ends and purges.
    Timer& gap = *ctx.timers.Timer_Reply_Gap;
    gap.setInterval(kReadGapMs);
    gap.start();
}

void OnReplyGap(Context& ctx) {
    if (!ctx.link.RX_Collecting) {
        ctx.timers.Timer_Reply_Gap->stop();
        return;
    }
    finishRead(ctx);
}

bool CheckReply(Context& ctx, std::size_t count) {
    LinkState& link = ctx.link;
    const auto& rx = link.RX_Frame;
    // A loop-back plug, or an adapter that echoes, returns the probe itself, which would
    // pass as the wide probe's reply. No ECU answers with the request's own bytes.
    if (!link.ECU_Connected && count >= 3 && count <= link.TX_Length &&
        std::equal(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(count),
                   link.Sent_Frame.begin())) {
        AddStatus(ctx, Colour::Txt_Error, ctx.LangText("Error_Port_Echoes"));
        return false;
    }
    const bool valid = count >= 3 && count == link.Reply_Length && rx[0] == link.Sent_Frame[0] &&
                       rx[0] == link.Probe_Code && rx[1] == link.Sent_Frame[1] &&
                       rx[count - 1] == FrameChecksum(rx.data(), count - 1);
    if (!valid || !link.Awaiting_Reply) return false;
    noteAcceptedReply(ctx);
    ctx.events.replyAccepted.notify(std::span(rx.data(), count));
    ctx.view.HudButton_3D_GEN_Connect_Condition.visible = false;
    restartLinkQuality(ctx);
    OperationReplyAccepted(ctx);
    // A run started while this reply was handled counts from the next reply on.
    const bool calibrating = ctx.acb.ACB_Running;
    RunSequencer(ctx);
    // Replies that only start an exchange over do not keep a failing link alive.
    if (progressOverdue(ctx)) {
        DropLineLosingReplies(ctx);
        return true;
    }
    if (calibrating) ACB_Tick(ctx);
    return true;
}

void OnConnectStabilTimer(Context& ctx) {
    LinkState& link = ctx.link;
    Timer& timer = *ctx.timers.Timer_GEN_Connect_Stabil;
    if (!link.Link_Decaying) {
        // First tick after a reply: spread the fall from 100 % to 0 % over the time left
        // before the link is dropped, in ticks of at least 60 ms.
        timer.stop();
        const std::int64_t k = ctx.timers.Timer_Connect->interval();
        const std::int64_t delay = ctx.settings.Reply_Delay;
        std::int64_t s = 1;
        std::int64_t t = 0;
        std::int64_t v = 0;
        for (; s <= 100; ++s) {
            t = k - delay - 600 / s;
            v = (t * s) / 100;
            if (v >= 60) break;
        }
        s = std::min<std::int64_t>(s, 100);
        while ((v * 100) / s < t)
            ++v;
        link.Link_Step = static_cast<std::int32_t>(s);
        link.Link_Decaying = true;
        timer.setInterval(static_cast<int>(std::max<std::int64_t>(v, 1)));
        timer.start();
        return;
    }
    link.Link_Quality = std::max(0, link.Link_Quality - link.Link_Step);
    showQuality(ctx);
}

std::string LinkQualityColour(const Context& ctx, std::int32_t q) {
    if (q <= 30) return ctx.colours.ColourOf(Colour::Port_Close);
    if (q <= 50) return "#FFE7A327";
    if (q <= 60) return "#FFE7C227";
    if (q <= 70) return "#FFFFFF00";
    if (q <= 80) return "#FFDEE727";
    if (q <= 90) return "#FFBFE727";
    return ctx.colours.ColourOf(Colour::Port_Open);
}

void OnPortOpened(Context& ctx) {
    OnDisconnected(ctx);
    ctx.link.Port_Opened = true;
    ctx.view.HudLabel_Port_Name.text = ctx.port.portName();
    ctx.view.HudLabel_Port_Name.colour = ctx.colours.ColourOf(Colour::Port_Open);
    ctx.view.HudButton_Port_Search.visible = !ctx.link.Port_Window_Shown;
    ctx.view.HudLabel_DynamicIND.visible = false;
    StartConnection(ctx);
}

void OnPortClosed(Context& ctx) {
    OnDisconnected(ctx);
    ctx.link.Port_Opened = false;
    ctx.timers.Timer_Connect->stop();
    // Each tick tries the write again; on a closed port it fails and the error handling
    // decides whether the port is kept, searched or probed blindly.
    ctx.timers.Timer_Sending->setInterval(kReplyTimeoutMs);
    ctx.timers.Timer_Sending->start();
    showPortClosedLook(ctx);
}

void OnPortFailed(Context& ctx) {
    OnPortClosed(ctx);
    ctx.timers.Timer_GEN_Connect_Stabil->stop();
    ctx.link.Link_Decaying = false;
    ctx.view.HudLabel_Port_Connect_Stabil.text = "0%";
    ctx.view.HudLabel_Port_Connect_Stabil.colour = ctx.colours.ColourOf(Colour::Port_Close);
}

bool ConfiguredPortListed(const Context& ctx) {
    return PortListed(ctx, ctx.settings.Port_Name);
}

bool OpenPort(Context& ctx) {
    if (ctx.link.Port_Error) return false;
    const bool wasOpen = ctx.port.isOpen();
    if (!portOk(ctx, ctx.port.open())) {
        // Say which port and why, once; the status line drops repeats of the same text.
        const std::string text =
            PortOpenFailureText(ctx, ctx.port.portName(), ctx.port.errorText());
        if (text != ctx.portView.Port_Open_Error) {
            RemoveStatus(ctx, ctx.portView.Port_Open_Error);
            ctx.portView.Port_Open_Error = text;
        }
        AddStatus(ctx, Colour::Txt_Error, text);
        return false;
    }
    // Opening an open port does nothing, and tells nothing about the device.
    if (!wasOpen && !ctx.portView.Port_Open_Error.empty()) {
        RemoveStatus(ctx, ctx.portView.Port_Open_Error);
        ctx.portView.Port_Open_Error.clear();
    }
    return true;
}

void HandlePortError(Context& ctx) {
    endCollection(ctx);
    OnPortFailed(ctx);
    ctx.link.Port_Error = false;
    // The failure dropped the link: whenever the port answers again, the connection
    // starts over with a probe instead of sending what was armed before.
    restartWithProbe(ctx);
    if (ConfiguredPortListed(ctx)) return; // kept: Timer_Sending retries
    if (!ctx.port.isOpen()) return;
    ctx.port.close();
    ctx.port.setPortName(ctx.settings.Port_Name);
    if (ctx.settings.Search_Port) {
        ctx.timers.Timer_Sending->stop();
        StartPortSearch(ctx);
    } else {
        StartConnection(ctx);
    }
}

} // namespace bifuel
