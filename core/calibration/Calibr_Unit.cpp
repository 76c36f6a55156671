#include "calibration/Calibr_Unit.h"

#include "Context.h"
#include "calibration/Calibr_Create.h"
#include "data/Calc_Unit.h"
#include "data/Config_Unit.h"
#include "data/Gas_Injectors_Unit.h"
#include "link/Global_Unit.h"
#include "link/Link_Operations.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace bifuel {
namespace {

void setPoints(DiagramModel& d, const DiagramEntry& e) {
    d.Petrol_Point = e.Petrol;
    d.Gas_Point = e.Gas;
}

// The points just set are the ones later edits start from and roll back to; without this a
// selected point would bring back the diagram from before the step at its next key press.
void adoptAsCommitted(DiagramModel& d) {
    d.Committed_Petrol = d.Petrol_Point;
    d.Committed_Gas = d.Gas_Point;
}

void afterHistoryStep(Context& ctx) {
    DiagramModel& d = ctx.diagram;
    setPoints(d, d.Diagram_History[d.History_Count - 1u]);
    TakeEndEdgeFromPoints(d);
    adoptAsCommitted(d);
    SetPendingRequest(ctx, Request::WriteDiagram);
    CloseHistoryPanel(ctx);
    RepositionDiagram(ctx);
}

} // namespace

DiagramHealth CheckDiagram(const DiagramTimes& petrol, const DiagramTimes& gas,
                           std::int32_t petrolAxisMax, std::int32_t gasAxisMax) {
    DiagramHealth h;
    h.gas =
        std::all_of(gas.begin(), gas.end(), [](std::int32_t g) { return g > 0; }) &&
        std::all_of(gas.begin(), gas.end() - 1, [&](std::int32_t g) { return g < gasAxisMax; }) &&
        gas[8] <= gasAxisMax;
    h.petrol =
        petrol[0] >= 0 && petrol[8] <= petrolAxisMax &&
        std::adjacent_find(petrol.begin(), petrol.end(), std::greater_equal<>()) == petrol.end();
    h.edge = petrol[8] == petrolAxisMax || gas[8] == gasAxisMax;
    return h;
}

DiagramHealth CheckDiagram(const DiagramModel& d) {
    return CheckDiagram(d.Petrol_Point, d.Gas_Point, d.Petrol_Axis_Max, d.Gas_Axis_Max);
}

bool WorseThan(const DiagramHealth& next, const DiagramHealth& now) {
    return (now.gas && !next.gas) || (now.petrol && !next.petrol) || (now.edge && !next.edge);
}

void ResetDiagram(DiagramModel& d, const Configuration_Class& cfg) {
    d.Idle_Point = 2;
    d.Gas_Axis_Max = 32000;
    d.Petrol_Axis_Max = 25000;
    const DiagramCoefficients line =
        DefaultDiagramCoefficients(InjectorTypeIndex(cfg.Injector_Type));
    const double axisMs = d.Petrol_Axis_Max / 1000;
    // Multiplied out before dividing, so whole-microsecond results come out exact and are
    // not truncated one short (15879 for 15880).
    for (std::size_t i = 0; i < kDiagramPoints; ++i) {
        const double p = kDefaultPetrolMs[i];
        if (i <= 5 || cfg.LPG_on) {
            d.Gas_Point[i] = TruncToInt(line.slope * p * 1000 / axisMs + line.offsetMs * 1000);
        } else {
            // CNG: the line goes on from point 5 with a gain of 9/25.
            d.Gas_Point[i] =
                TruncToInt(9 * (p - 12) * 1000 / axisMs + (d.Gas_Point[5] / 1000) * 1000);
        }
        d.Petrol_Point[i] = kDefaultPetrolMs[i] * 1000;
    }
}

void ResetDiagram(Context& ctx) {
    ResetDiagram(ctx.diagram, ctx.config);
}

void TakeEndEdgeFromPoints(DiagramModel& d) {
    d.End_On_Petrol_Max = d.Petrol_Point[8] >= d.Petrol_Axis_Max;
}

void CommitOrRollback(DiagramModel& d) {
    bool valid = true;
    for (std::size_t i = 0; i < kDiagramPoints; ++i) {
        if (d.Gas_Point[i] <= 0) valid = false;
        if (i < 8 && d.Gas_Point[i] >= d.Gas_Axis_Max) valid = false;
    }
    if (valid) {
        adoptAsCommitted(d);
    } else {
        d.Petrol_Point = d.Committed_Petrol;
        d.Gas_Point = d.Committed_Gas;
    }
}

void ComputeSlopes(DiagramModel& d) {
    d.Segment_Slope[0] = 1.0;
    for (int k = 1; k < kDiagramPoints; ++k) {
        const auto i = static_cast<std::size_t>(k);
        // In floating point: points from a file may lie far apart.
        const double dx = static_cast<double>(d.Petrol_Point[i]) - d.Petrol_Point[i - 1];
        d.Segment_Slope[i] =
            dx == 0 ? 1.0 : std::abs(static_cast<double>(d.Gas_Point[i]) - d.Gas_Point[i - 1]) / dx;
    }
}

void PushHistory(DiagramModel& d) {
    if (d.History_Count >= kHistorySize) {
        std::move(d.Diagram_History.begin() + 1, d.Diagram_History.end(),
                  d.Diagram_History.begin());
        d.History_Count = kHistorySize - 1;
    }
    d.Diagram_History[d.History_Count] = {d.Petrol_Point, d.Gas_Point};
    d.History_Count += 1;
    d.History_Position = d.History_Count;
}

bool CanStepBack(const DiagramModel& d) {
    return d.History_Position > 1;
}
bool CanStepForward(const DiagramModel& d) {
    return d.History_Position < d.History_Count;
}

void HistoryBack(Context& ctx) {
    DiagramModel& d = ctx.diagram;
    if (!ctx.link.ECU_Connected || !CanStepBack(d)) return;
    d.History_Position -= 1;
    auto first = d.Diagram_History.begin();
    std::rotate(first, first + (d.History_Count - 1), first + d.History_Count);
    afterHistoryStep(ctx);
}

void HistoryForward(Context& ctx) {
    DiagramModel& d = ctx.diagram;
    if (!ctx.link.ECU_Connected || !CanStepForward(d)) return;
    d.History_Position += 1;
    auto first = d.Diagram_History.begin();
    std::rotate(first, first + 1, first + d.History_Count);
    afterHistoryStep(ctx);
}

void SendDiagramAfterEdit(Context& ctx) {
    DiagramModel& d = ctx.diagram;
    if (!ctx.link.ECU_Connected || d.Selected_Point == -1) return;
    if (d.History_Count > 0) {
        const DiagramEntry& last = d.Diagram_History[d.History_Count - 1u];
        // An edit that changed nothing (every move refused, a key against an edge) leaves
        // no history entry and sends nothing.
        if (last.Petrol == d.Petrol_Point && last.Gas == d.Gas_Point) return;
        if (WorseThan(CheckDiagram(d),
                      CheckDiagram(last.Petrol, last.Gas, d.Petrol_Axis_Max, d.Gas_Axis_Max))) {
            setPoints(d, last);
            TakeEndEdgeFromPoints(d);
            adoptAsCommitted(d);
            RepositionDiagram(ctx);
            return;
        }
    }
    ctx.timers.Timer_GEN_Transmit->stop();
    ComputeSlopes(d);
    PushHistory(d);
    ScheduleWrite(ctx, 3);
}

void AfterDiagramRead(Context& ctx) {
    DiagramModel& d = ctx.diagram;
    d.Selected_Point = -1;
    TakeEndEdgeFromPoints(d);
    RefreshDiagram(ctx);
    PushHistory(d);
}

} // namespace bifuel
