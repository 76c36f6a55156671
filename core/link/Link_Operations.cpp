#include "link/Link_Operations.h"

#include "Context.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "data/Dynamic_IND_Unit.h"
#include "data/Live_Data.h"
#include "files/Backup_Unit.h"
#include "link/Edit_Tracker.h"
#include "link/Global_Unit.h"

#include <algorithm>
#include <utility>

namespace bifuel {
namespace {

// Replies the connection program takes before the RPM map chunks: probe, identification,
// name, parameters, both MAP lists, diagram and the map's size.
constexpr int kReadRepliesBeforeMap = 8;

void finish(Context& ctx, OperationSlot slot, OperationResult result, std::string reason = {}) {
    if (!slot) return;
    const OperationEnd end{slot.id, slot.request, result, std::move(reason)};
    ACB_Operation_Ended(ctx, end);
    EditsOperationEnded(ctx, end);
    ctx.events.operationEnded.notify(end);
}

void report(Context& ctx, OperationId id, Request request, int percent) {
    LinkOperations& ops = ctx.ops;
    percent = std::clamp(percent, 0, 100);
    if (percent <= ops.Last_Percent) return;
    ops.Last_Percent = percent;
    ctx.events.operationProgress.notify(OperationProgress{id, request, percent});
}

std::uint8_t kindOf(Request r) {
    switch (r) {
    case Request::WriteConfig:
        return 2;
    case Request::WriteDiagram:
        return 3;
    case Request::WriteMap:
        return 4;
    default:
        return 0;
    }
}

int readPercent(const Context& ctx) {
    const std::size_t length = ctx.link.Map.Read_Length;
    const int chunks = length > 0 ? static_cast<int>((length + 63) / 64) : 2;
    const int total = kReadRepliesBeforeMap + chunks;
    return ctx.ops.Frames_Done * 100 / total;
}

} // namespace

std::string OperationName(const Context& ctx, Request request) {
    switch (request) {
    case Request::None:
        return ctx.LangText("Operation_Read");
    case Request::Reconnect:
        return ctx.LangText("Operation_Read");
    case Request::ModeGas:
    case Request::ModePetrol:
    case Request::ModeAuto:
        return ctx.LangText("Operation_Mode");
    case Request::WriteAll:
        return ctx.LangText("Operation_Write_All");
    case Request::WriteConfig:
        return ctx.LangText("Operation_Write_Config");
    case Request::WriteDiagram:
    case Request::EraseGasAndWriteDiagram:
        return ctx.LangText("Operation_Write_Diagram");
    case Request::WriteMap:
        return ctx.LangText("Operation_Write_Map");
    case Request::ClearErrors:
        return ctx.LangText("Operation_Clear_Errors");
    case Request::EraseMapGas:
    case Request::EraseMapPetrol:
        return ctx.LangText("Operation_Erase_MAP");
    case Request::InnovationalRun:
    case Request::InnovationalStop:
        return ctx.LangText("Operation_Auto_Calibration");
    }
    return {};
}

OperationId SetPendingRequest(Context& ctx, Request request) {
    if (request == Request::None) return 0;
    EditsChanged(ctx);
    LinkOperations& ops = ctx.ops;
    const OperationSlot slot{++ops.Last_Id, request};
    if (EcuRefused(ctx)) {
        finish(ctx, slot, OperationResult::Refused, ops.Refused_Reason);
        return slot.id;
    }
    if (!ctx.link.ECU_Connected) {
        finish(ctx, slot, OperationResult::Refused, ctx.LangText("Operation_Not_Connected"));
        return slot.id;
    }
    const OperationSlot replaced = ops.Pending;
    ops.Pending = slot;
    ctx.link.Pending_Request = request;
    if (replaced) {
        finish(ctx, replaced, OperationResult::Replaced);
        // An edit waiting for its debounced write must not be lost to a later request.
        const std::uint8_t kind = kindOf(replaced.request);
        if (kind != 0 && request != Request::WriteAll && request != replaced.request) {
            ScheduleWrite(ctx, kind);
        }
    }
    return slot.id;
}

bool EcuRefused(const Context& ctx) {
    return !ctx.ops.Refused_Reason.empty();
}

OperationId HudButton_Work_ModeClick(Context& ctx) {
    ctx.link.Mode_Bits = 0;
    switch (ctx.live.Work_Mode) {
    case kModePetrol:
        return SwitchToAutomatic(ctx);
    case kModeAutomatic:
        return SwitchToGas(ctx);
    case kModeGas:
        return SwitchToPetrol(ctx);
    default:
        return 0; // no live data yet: nothing to switch from
    }
}

OperationId SwitchToGas(Context& ctx) {
    ctx.link.Mode_Bits = 0xF0;
    return SetPendingRequest(ctx, Request::ModeGas);
}

OperationId SwitchToPetrol(Context& ctx) {
    return SetPendingRequest(ctx, Request::ModePetrol);
}
OperationId SwitchToAutomatic(Context& ctx) {
    return SetPendingRequest(ctx, Request::ModeAuto);
}
OperationId ClearErrors(Context& ctx) {
    return SetPendingRequest(ctx, Request::ClearErrors);
}
OperationId WriteEverything(Context& ctx) {
    return SetPendingRequest(ctx, Request::WriteAll);
}

OperationId ReadEverything(Context& ctx) {
    LinkOperations& ops = ctx.ops;
    if (EcuRefused(ctx)) {
        const OperationSlot slot{++ops.Last_Id, Request::None};
        finish(ctx, slot, OperationResult::Refused, ops.Refused_Reason);
        return slot.id;
    }
    if (ctx.link.ECU_Connected) return SetPendingRequest(ctx, Request::Reconnect);
    // Not connected: the read the connection program makes when the ECU answers.
    const OperationSlot earlier{ops.Reading, Request::None};
    ops.Reading = ++ops.Last_Id;
    ops.Frames_Done = 0;
    ops.Last_Percent = -1;
    finish(ctx, earlier, OperationResult::Replaced);
    return ops.Reading;
}

void OperationStarted(Context& ctx, Request request, int framesTotal) {
    LinkOperations& ops = ctx.ops;
    OperationSlot slot = ops.Pending;
    ops.Pending = {};
    if (!slot || slot.request != request) slot = {++ops.Last_Id, request};
    ops.Frames_Total = std::max(framesTotal, 1);
    ops.Frames_Done = 0;
    ops.Last_Percent = -1;
    if (request == Request::Reconnect) {
        // Reconnecting is reading everything again; its end is the read's.
        const OperationSlot earlier{ops.Reading, Request::None};
        ops.Reading = slot.id;
        finish(ctx, earlier, OperationResult::Replaced);
        return;
    }
    ops.Running = slot;
    EditsOperationStarted(ctx);
    report(ctx, slot.id, slot.request, 0);
}

void OperationReplyAccepted(Context& ctx) {
    LinkOperations& ops = ctx.ops;
    if (ops.Running) {
        ops.Frames_Done += 1;
        report(ctx, ops.Running.id, ops.Running.request,
               std::min(99, ops.Frames_Done * 100 / ops.Frames_Total));
    } else if (ops.Reading && ctx.link.ECU_Connected) {
        ops.Frames_Done += 1;
        report(ctx, ops.Reading, Request::None, std::min(99, readPercent(ctx)));
    }
}

void OperationWriteEnded(Context& ctx) {
    LinkOperations& ops = ctx.ops;
    if (!ops.Running || !IsWriteRequest(ops.Running.request)) return;
    report(ctx, ops.Running.id, ops.Running.request, 99);
    ops.Saving.push_back(ops.Running);
    ops.Saving_Since_Us = ctx.scheduler.nowUs();
    ops.Running = {};
}

void OperationProgramEnded(Context& ctx) {
    LinkOperations& ops = ctx.ops;
    const OperationSlot done = ops.Running;
    ops.Running = {};
    if (done) report(ctx, done.id, done.request, 100);
    finish(ctx, done, OperationResult::Done);
}

void OperationLiveReply(Context& ctx) {
    LinkOperations& ops = ctx.ops;
    if (ops.Saving.empty()) return;
    OperationResult result = OperationResult::Done;
    std::string reason;
    if (ctx.dynamicInd.Flags & kStatusDataSavedBit) {
        result = OperationResult::Done;
    } else if (ctx.scheduler.nowUs() - ops.Saving_Since_Us >=
               std::int64_t{kSavedReportTimeoutMs} * 1000) {
        result = OperationResult::NotSaved;
        reason = ctx.LangText("Operation_Not_Saved");
        ctx.view.TForm_3D_Wait = WaitForm::Hidden;
        AddStatus(ctx, Colour::Txt_Error, reason);
    } else {
        return;
    }
    const std::vector<OperationSlot> saved = std::exchange(ops.Saving, {});
    for (const OperationSlot& slot : saved)
        finish(ctx, slot, result, reason);
}

void OperationDataLoaded(Context& ctx) {
    LinkOperations& ops = ctx.ops;
    // What the car came in with is kept before anything can be written to it.
    SaveBackup(ctx);
    EditsDataLoaded(ctx);
    // What an auto-calibration left on the ECU is dealt with before anything else goes out.
    ACB_Resume_After_Link(ctx);
    ACB_On_Data_Loaded(ctx);
    ctx.events.dataLoaded.notify();
    const OperationSlot reading{std::exchange(ops.Reading, 0), Request::None};
    if (reading) {
        ops.Last_Percent = -1;
        report(ctx, reading.id, reading.request, 100);
    }
    finish(ctx, reading, OperationResult::Done);
}

void OperationsLinkEnded(Context& ctx, OperationResult result, const std::string& cause) {
    LinkOperations& ops = ctx.ops;
    const OperationSlot pending = std::exchange(ops.Pending, {});
    const OperationSlot running = std::exchange(ops.Running, {});
    const std::vector<OperationSlot> saving = std::exchange(ops.Saving, {});
    const OperationSlot reading{std::exchange(ops.Reading, 0), Request::None};

    // What was cut off on its way to the ECU is said once, in the message window, and
    // each operation's own result says what became of it ("The diagram write was not
    // completed; the ECU may hold part of it.").
    auto fate = [&](const OperationSlot& s, const char* key) {
        return OperationName(ctx, s.request) + " " + ctx.LangText(key);
    };
    std::string cutOff;
    if (running && IsWriteRequest(running.request))
        cutOff += "\n" + fate(running, "Operation_Write_Partial");
    for (const OperationSlot& s : saving)
        cutOff += "\n" + fate(s, "Operation_Write_Unconfirmed");
    if (pending && IsWriteRequest(pending.request))
        cutOff += "\n" + fate(pending, "Operation_Not_Sent");
    if (!cutOff.empty()) {
        ShowMessageWindow(ctx, kMessageWriteCutOff,
                          cause + cutOff + "\n" + ctx.LangText("Operation_Values_Read_Again"));
    }

    finish(ctx, pending, OperationResult::LinkLost,
           cause + " " + fate(pending, "Operation_Not_Sent"));
    const bool partial = running && IsWriteRequest(running.request);
    finish(ctx, running, result,
           partial ? cause + " " + fate(running, "Operation_Write_Partial") : cause);
    for (const OperationSlot& s : saving) {
        finish(ctx, s, OperationResult::LinkLost,
               cause + " " + fate(s, "Operation_Write_Unconfirmed"));
    }
    finish(ctx, reading, OperationResult::LinkLost, cause);
}

void OperationRefused(Context& ctx, const std::string& reason) {
    finish(ctx, std::exchange(ctx.ops.Pending, {}), OperationResult::Refused, reason);
}

void OperationsRefusedEcu(Context& ctx, const std::string& reason) {
    LinkOperations& ops = ctx.ops;
    ops.Refused_Reason = reason;
    finish(ctx, std::exchange(ops.Pending, {}), OperationResult::Refused, reason);
    finish(ctx, std::exchange(ops.Running, {}), OperationResult::Refused, reason);
    finish(ctx, OperationSlot{std::exchange(ops.Reading, 0), Request::None},
           OperationResult::Refused, reason);
}

void OperationsEcuAccepted(Context& ctx) {
    ctx.ops.Refused_Reason.clear();
}

Request TakePendingRequest(Context& ctx) {
    const Request request = std::exchange(ctx.link.Pending_Request, Request::None);
    if (request == Request::None || !EcuRefused(ctx)) return request;
    finish(ctx, std::exchange(ctx.ops.Pending, {}), OperationResult::Refused,
           ctx.ops.Refused_Reason);
    return Request::None;
}

} // namespace bifuel
