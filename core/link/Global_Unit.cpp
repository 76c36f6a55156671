#include "link/Global_Unit.h"

#include "Context.h"
#include "link/Port_3D_Connect.h"
#include "link/Port_3D_Unit.h"
#include "link/Transmit_Unit.h"

#include <algorithm>

namespace bifuel {

void QueueDeferredAction(Context& ctx, std::uint8_t action, int delayMs) {
    auto& queue = ctx.deferred;
    const bool queued = std::any_of(queue.begin(), queue.end(),
                                    [action](const DeferredAction& a) { return a.action == action; });
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
        if (ctx.hooks.OpenConfiguredPort) {
            ctx.hooks.OpenConfiguredPort();
        } else {
            OpenPort(ctx);
        }
    } else if (action >= 1 && action <= 17 && ctx.hooks.RunDeferredAction) {
        ctx.hooks.RunDeferredAction(action);
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
    if (!ctx.link.ECU_Connected) return;
    ctx.link.Write_Kind = kind;
    timer.setInterval(ctx.settings.CFG_Transmit_Delay);
    timer.start();
}

void OnTransmitTimer(Context& ctx) {
    ctx.timers.Timer_GEN_Transmit->stop();
    switch (ctx.link.Write_Kind) {
    case 2: ctx.link.Pending_Request = 22; break;
    case 3: ctx.link.Pending_Request = 23; break;
    case 4: ctx.link.Pending_Request = 24; break;
    default: break;
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
    view.HudButton_Port_Search.visible = false;
    view.HudLabel_DynamicIND.visible = true;
    if (ctx.settingsView.Shown) ctx.settingsView.HudTextBox_3D_SET_Port_Name = ctx.port.portName();
    ctx.timers.Timer_Connect->start();
    if (view.HudButton_ACB_Start.pressed) {
        view.HudButton_ACB_Start.pressed = false;
        if (ctx.hooks.ACB_Stop) ctx.hooks.ACB_Stop();
    }
    view.HudButton_ACB_Start.enabled = true;
    view.HudButton_CLB_MAP_Start.enabled = true;
    view.HudButton_CLB_MAP_Stop.enabled = true;
    ctx.events.connected.notify();
}

void OnDisconnected(Context& ctx) {
    LinkView& view = ctx.view;
    const bool wasConnected = ctx.link.ECU_Connected;
    ctx.link.ECU_Connected = false;
    ctx.timers.Timer_Connect->stop();
    ctx.link.Pending_Request = 0;
    view.HudButton_Port_Search.visible = true;
    view.HudLabel_DynamicIND.visible = false;
    if (view.HudButton_ACB_Start.pressed) {
        view.ProgressBar_3D_ACB.value = 0;
        view.HudLabel_3D_ACB_Prompt.text = ctx.LangText("ACB_Prompt_Connect");
        view.HudLabel_3D_ACB_Prompt.colour = ctx.colours.ColourOf(Colour::Txt_Error);
    }
    view.HudButton_ACB_Start.enabled = false;
    view.HudButton_CLB_MAP_Start.enabled = false;
    view.HudButton_CLB_MAP_Stop.enabled = false;
    if (wasConnected) ctx.events.disconnected.notify();
}

void OnLinkLost(Context& ctx) {
    ctx.timers.Timer_Sending->stop();
    OnDisconnected(ctx);
    StartConnection(ctx);
}

void ShowMessageWindow(Context& ctx, int type, std::string text) {
    if (!ctx.link.Main_Shown) return; // no window to show it over yet
    if (type == kMessageNewerVersion) ctx.view.TForm_3D_GEN_Enabled = false;
    ctx.view.Messages.push_back({type, std::move(text)});
}

} // namespace bifuel
