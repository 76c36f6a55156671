#include "link/Global_Unit.h"

#include "Context.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "data/Dynamic_IND_Unit.h"
#include "link/Edit_Tracker.h"
#include "link/Link_Operations.h"
#include "link/Port_3D_Connect.h"
#include "link/Port_3D_Unit.h"
#include "link/Transmit_Unit.h"

#include <algorithm>
#include <utility>

namespace bifuel {

void QueueDeferredAction(Context& ctx, std::uint8_t action, int delayMs) {
    auto& queue = ctx.deferred;
    const bool queued = std::any_of(queue.begin(), queue.end(), [action](const DeferredAction& a) {
        return a.action == action;
    });
    if (queued) return;
    if (queue.size() < kDeferredQueueSize) queue.push_back({action, delayMs});
    Timer& timer = *ctx.timers.Timer_GEN_General;
    if (!timer.isRunning()) {
        timer.setInterval(delayMs);
        timer.start();
    }
}

void OnGeneralTimer(Context& ctx) {
    Timer& timer = *ctx.timers.Timer_GEN_General;
    timer.stop();
    // A hidden main window runs nothing; the entries wait for the next queued action.
    if (!ctx.link.Main_Shown || ctx.deferred.empty()) return;
    const std::uint8_t action = ctx.deferred.front().action;
    if (action == kActionOpenPort) {
        OpenConfiguredPort(ctx);
    } else if (action >= 1 && action <= 17) {
        ctx.events.deferredAction.notify(action);
    }
    // The action may have queued others; remove the one that ran, wherever it now is.
    auto& queue = ctx.deferred;
    const auto it = std::find_if(queue.begin(), queue.end(),
                                 [action](const DeferredAction& a) { return a.action == action; });
    if (it != queue.end()) queue.erase(it);
    if (!queue.empty()) {
        timer.setInterval(queue.front().delayMs);
        timer.start();
    }
}

void ScheduleWrite(Context& ctx, std::uint8_t kind) {
    Timer& timer = *ctx.timers.Timer_GEN_Transmit;
    timer.stop();
    EditsChanged(ctx);
    // A refused ECU gets no write: not an edit's, not the rewrite of a value it has none for.
    if (!ctx.link.ECU_Connected || EcuRefused(ctx) || kind < 2 || kind > 4) return;
    // Every kind edited within the delay is written: an edit of the configuration followed
    // by one of the diagram must not leave the configuration behind.
    ctx.link.Write_Kinds |= static_cast<std::uint8_t>(1u << kind);
    timer.setInterval(ctx.settings.CFG_Transmit_Delay);
    timer.start();
}

void OnTransmitTimer(Context& ctx) {
    ctx.timers.Timer_GEN_Transmit->stop();
    const std::uint8_t kinds = std::exchange(ctx.link.Write_Kinds, 0);
    switch (kinds) {
    case 0:
        break;
    case 1u << 2:
        SetPendingRequest(ctx, Request::WriteConfig);
        break;
    case 1u << 3:
        SetPendingRequest(ctx, Request::WriteDiagram);
        break;
    case 1u << 4:
        SetPendingRequest(ctx, Request::WriteMap);
        break;
    default:
        SetPendingRequest(ctx, Request::WriteAll);
        break;
    }
}

void OnConnected(Context& ctx) {
    LinkView& view = ctx.view;
    // Cleared before the window closes, so that closing it only ends the search: a close
    // by the user would also stop the traffic the ECU has just answered.
    const bool portWindowShown = ctx.link.Port_Window_Shown;
    ctx.link.Port_Window_Shown = false;
    if (portWindowShown) ClosePortWindow(ctx);
    ctx.link.Port_Error = false;
    ctx.link.ECU_Connected = true;
    RememberProgramCode(
        ctx.keyFile, ctx.link.Settings_File_Written ? ctx.paths.Ini_Name : std::filesystem::path{},
        ctx.settings, ctx.port.portName(), ctx.link.Probe_Code);
    view.HudButton_Port_Search.visible = false;
    view.HudLabel_DynamicIND.visible = true;
    if (ctx.settingsView.Shown) ctx.settingsView.HudTextBox_3D_SET_Port_Name = ctx.port.portName();
    ctx.timers.Timer_Connect->start();
    // A run the link left frozen goes on once everything is read and the ECU is known to
    // be the same one.
    view.HudButton_ACB_Start.enabled = true;
    view.HudButton_CLB_MAP_Start.enabled = true;
    view.HudButton_CLB_MAP_Stop.enabled = true;
    RemoveStatus(ctx, ctx.LangText("Error_Port_Echoes"));
    EditsConnected(ctx);
    if (std::exchange(ctx.link.Line_Loses_Replies, false)) {
        RemoveStatus(ctx, ctx.LangText("Operation_Line_Loses_Replies"));
    }
    ctx.events.connected.notify();
}

void OnDisconnected(Context& ctx) {
    LinkView& view = ctx.view;
    const bool wasConnected = ctx.link.ECU_Connected;
    ctx.link.ECU_Connected = false;
    ctx.timers.Timer_Connect->stop();
    ctx.link.Pending_Request = Request::None;
    // A write cut off here never reaches its end step: without this the link would wait
    // for it for the rest of the run, and every later request with it.
    if (ctx.link.Write_Running) {
        ctx.link.Write_Running = false;
        RemoveStatus(ctx, ctx.LangText("DynamicIND_Transmission"));
    }
    ctx.view.TForm_3D_Wait = WaitForm::Hidden;
    // Edits that waited for their debounced write are not written now; the reconnection
    // reads what the ECU holds.
    const bool editsWaited =
        ctx.link.Write_Kinds != 0 && ctx.timers.Timer_GEN_Transmit->isRunning();
    ctx.timers.Timer_GEN_Transmit->stop();
    ctx.link.Write_Kinds = 0;
    EditsLinkEnded(ctx);
    view.HudButton_Port_Search.visible = true;
    view.HudLabel_DynamicIND.visible = false;
    view.HudButton_CLB_MAP_Start.enabled = false;
    view.HudButton_CLB_MAP_Stop.enabled = false;
    ACB_Link_Lost(ctx);
    // A frozen run can still be stopped; nothing else can start without the ECU.
    view.HudButton_ACB_Start.enabled = ctx.acb.In_Run;
    if (!wasConnected) return;
    const std::string cause = ctx.link.Line_Loses_Replies
                                  ? ctx.LangText("Operation_Line_Loses_Replies")
                                  : ctx.LangText("Operation_Link_Lost");
    if (editsWaited) {
        ShowMessageWindow(ctx, kMessageWriteCutOff,
                          cause + "\n" + ctx.LangText("Operation_Edits_Not_Written") + "\n" +
                              ctx.LangText("Operation_Values_Read_Again"));
    }
    OperationsLinkEnded(ctx,
                        ctx.link.Line_Loses_Replies ? OperationResult::NotAcknowledged
                                                    : OperationResult::LinkLost,
                        cause);
    ctx.events.disconnected.notify();
}

void OnLinkLost(Context& ctx) {
    ctx.timers.Timer_Sending->stop();
    OnDisconnected(ctx);
    StartConnection(ctx);
}

void DropLineLosingReplies(Context& ctx) {
    ctx.link.Line_Loses_Replies = true;
    AddStatus(ctx, Colour::Txt_Error, ctx.LangText("Operation_Line_Loses_Replies"));
    OnLinkLost(ctx);
}

void ShowMessageWindow(Context& ctx, int type, std::string text) {
    if (!ctx.link.Main_Shown) return; // no window to show it over yet
    if (type == kMessageNewerVersion) ctx.view.TForm_3D_GEN_Enabled = false;
    ctx.view.Messages.push_back({type, std::move(text)});
    ctx.events.message.notify(ctx.view.Messages.back());
}

} // namespace bifuel
