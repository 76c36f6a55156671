#include "link/Ecu_Image.h"

#include "Context.h"
#include "data/Setup_Page.h"

namespace bifuel {

EcuImage TakeImage(const Context& ctx) {
    EcuImage image;
    image.config = ctx.config;
    image.rawParams = ctx.link.Raw_Params;
    const DiagramModel& d = ctx.diagram;
    image.petrol = d.Petrol_Point;
    image.gas = d.Gas_Point;
    image.idlePoint = d.Idle_Point;
    image.diagramRead = d.Read_Bytes;
    image.diagramReadIdle = d.Read_Idle;
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
    d.Read_Bytes = image.diagramRead;
    d.Read_Idle = image.diagramReadIdle;
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
    return {ctx.config.ECU_Model,
            ctx.config.ECU_Date,
            ctx.config.ECU_Version,
            {id.N, id.L1, id.L2, id.L3, id.L4, id.L5},
            ctx.config.CFG_Name};
}

} // namespace bifuel
