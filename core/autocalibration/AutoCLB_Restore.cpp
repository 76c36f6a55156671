#include "autocalibration/AutoCLB_Restore.h"

#include "Context.h"
#include "data/Setup_Page.h"
#include "data/Dynamic_IND_Unit.h"
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

EcuImage TakeImage(const Context& ctx) {
    EcuImage image;
    image.config = ctx.config;
    image.rawParams = ctx.link.Raw_Params;
    image.petrol = ctx.diagram.Petrol_Point;
    image.gas = ctx.diagram.Gas_Point;
    image.idlePoint = ctx.diagram.Idle_Point;
    image.map = ctx.rpmMap.Map_Value;
    image.mapReadWord = ctx.rpmMap.Read_Word;
    image.mapReadKnown = ctx.rpmMap.Read_Known;
    return image;
}

void PutImage(Context& ctx, const EcuImage& image) {
    ctx.config = image.config;
    ctx.link.Raw_Params = image.rawParams;
    DiagramModel& d = ctx.diagram;
    d.Petrol_Point = image.petrol;
    d.Gas_Point = image.gas;
    d.Idle_Point = image.idlePoint;
    AfterDiagramRead(ctx);
    // A map write sends the page's texts: they must say what the values say.
    ctx.rpmMap.Map_Value = image.map;
    ctx.rpmMap.Read_Word = image.mapReadWord;
    ctx.rpmMap.Read_Known = image.mapReadKnown;
    BuildMap(ctx);
    FillSetupPage(ctx);
}

EcuFingerprint FingerprintOf(const Context& ctx) {
    const EcuIdentity& id = ctx.link.Ident;
    return {ctx.config.ECU_Model, ctx.config.ECU_Date, ctx.config.ECU_Version,
            {id.N, id.L1, id.L2, id.L3, id.L4, id.L5}, ctx.config.CFG_Name};
}

std::string PartialCalibrationText(const Context& ctx, bool result) {
    return ctx.LangText("ACB_Partial_Calibration") + " " +
           ctx.LangText(result ? "ACB_Result_When_Back" : "ACB_Restore_When_Back");
}

void KeepRestorePending(Context& ctx, const EcuImage& image, const EcuFingerprint& ecu, bool result) {
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
        if (end.result != OperationResult::LinkLost && end.result != OperationResult::NotAcknowledged) {
            restoreEnded(ctx, false, end.reason + " " + PartialCalibrationText(ctx, pending->result));
        }
        return;
    }
    pending->petrol = SwitchToPetrol(ctx);
}

} // namespace bifuel
