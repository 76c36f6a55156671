#include "autocalibration/AutoCLB_Restore.h"

#include "Context.h"
#include "data/Dynamic_IND_Unit.h"
#include "data/Setup_Page.h"
#include "link/Global_Unit.h"

namespace bifuel {
namespace {

void tell(Context& ctx, const std::string& text) {
    ShowMessageWindow(ctx, kMessageCalibrationRestore, text);
}

void restoreEnded(Context& ctx, bool written, std::string text) {
    ctx.events.restoreEnded.notify(RestoreEnd{written, std::move(text)});
}

} // namespace

std::string PartialCalibrationText(const Context& ctx, bool result) {
    return ctx.LangText("ACB_Partial_Calibration") + " " +
           ctx.LangText(result ? "ACB_Result_When_Back" : "ACB_Restore_When_Back");
}

std::string PendingRestoreText(const Context& ctx) {
    const std::optional<PendingRestore>& pending = ctx.acb.Pending_Restore;
    return PartialCalibrationText(ctx, pending && pending->result);
}

void KeepRestorePending(Context& ctx, const EcuImage& image, const EcuFingerprint& ecu,
                        bool result) {
    ctx.acb.Pending_Restore = PendingRestore{image, ecu, result};
    AddStatus(ctx, Colour::Txt_Error, ctx.LangText("ACB_Partial_Calibration"));
}

void ACB_On_Data_Loaded(Context& ctx) {
    std::optional<PendingRestore>& pending = ctx.acb.Pending_Restore;
    if (!pending || pending->write != 0 || pending->petrol != 0) return;
    if (FingerprintOf(ctx) != pending->ecu) {
        // Another car: what the first one had must not land here. It waits for its own ECU.
        if (!std::exchange(pending->otherEcuTold, true)) {
            tell(ctx, ctx.LangText("ACB_Restore_Other_Ecu"));
        }
        return;
    }
    PutImage(ctx, pending->image);
    pending->write = SetPendingRequest(ctx, Request::WriteAll);
}

void ACB_Operation_Ended(Context& ctx, const OperationEnd& end) {
    ACB_State& s = ctx.acb;
    if (end.id == s.Final_Write && end.id != 0) {
        s.Final_Result = end.result;
        // The run waited for this end; a link that went takes the run with it instead.
        if (s.ACB_Running && ctx.link.ECU_Connected) s.Reply_Countdown = s.Post_Wait;
    }
    std::optional<PendingRestore>& pending = s.Pending_Restore;
    if (!pending) return;
    if (end.id == pending->petrol) {
        // Written, and the petrol switch went out or the link went first: either way the
        // ECU holds what it is to hold.
        const bool result = pending->result;
        pending.reset();
        RemoveStatus(ctx, ctx.LangText("ACB_Partial_Calibration"));
        const std::string text = ctx.LangText(result ? "ACB_Result_Written" : "ACB_Restore_Done");
        tell(ctx, text);
        restoreEnded(ctx, true, text);
        return;
    }
    if (end.id != pending->write) return;
    if (end.result != OperationResult::Done) {
        // Cut off or not confirmed: it goes out again when the ECU next answers.
        pending->write = 0;
        if (end.result != OperationResult::LinkLost &&
            end.result != OperationResult::NotAcknowledged) {
            restoreEnded(ctx, false,
                         end.reason + " " + PartialCalibrationText(ctx, pending->result));
        }
        return;
    }
    pending->petrol = SwitchToPetrol(ctx);
}

} // namespace bifuel
