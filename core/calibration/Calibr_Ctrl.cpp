#include "calibration/Calibr_Ctrl.h"

#include "Context.h"
#include "calibration/Calibr_Create.h"
#include "data/Calc_Unit.h"
#include "data/Setup_Page.h"
#include "link/Check_Versions.h"
#include "link/Global_Unit.h"
#include "link/Link_Operations.h"
#include "link/Transmit_Unit.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace bifuel {
namespace {

constexpr int kLast = kDiagramPoints - 1;
constexpr std::int32_t kMinEndPetrolUs = 10000; // the end does not slide further left
constexpr std::int32_t kMapAgreementUs = 1000;  // MAP pairs closer than this need nothing
constexpr std::int32_t kExtrapolateFromUs = 12000;

std::size_t at(int i) {
    return static_cast<std::size_t>(i);
}
bool isPoint(int i) {
    return i >= 0 && i < kDiagramPoints;
}

// Every value that is not a whole hundred goes to the 50 of its hundred.
std::int32_t snap(std::int32_t v) {
    const std::int32_t r = std::abs(v % 100);
    return r > 0 ? v + 50 - r : v;
}

// num / den rounded half away from zero, exactly.
std::int64_t divideRounded(std::int64_t num, std::int64_t den) {
    const bool negative = (num < 0) != (den < 0);
    const std::int64_t n = std::llabs(num);
    const std::int64_t m = std::llabs(den);
    const std::int64_t q = (2 * n + m) / (2 * m);
    return negative ? -q : q;
}

double roundHalfEven(double v) {
    const double r = std::round(v);
    if (std::abs(v - std::trunc(v)) == 0.5) return 2 * std::round(v / 2);
    return r;
}

// Petrol times of points pivot+1..8 scaled about the pivot so that point 8 lands on
// `endPetrol` (truncated toward zero, as exact integers).
void scalePetrol(DiagramModel& d, int pivot, std::int32_t endPetrol) {
    const std::int64_t pp = d.Petrol_Point[at(pivot)];
    const std::int64_t span = d.Petrol_Point[at(kLast)] - pp;
    for (int j = pivot + 1; j <= kLast; ++j) {
        const std::int64_t offset = (d.Petrol_Point[at(j)] - pp) * (endPetrol - pp) / span;
        d.Petrol_Point[at(j)] = static_cast<std::int32_t>(pp + offset);
    }
}

void movePoint0(DiagramModel& d, std::int32_t b) {
    const int m = d.Fixed_Point;
    const std::int32_t delta = b - d.Gas_Point[0];
    const std::int32_t endPetrol = d.Petrol_Point[at(kLast)];
    if (d.Gas_Point[at(kLast)] + delta >= d.Gas_Axis_Max) {
        if (d.End_On_Petrol_Max) {
            SlideEndPoint(d, d.Petrol_Axis_Max, m, kLast, m + 1, kLast);
            return;
        }
        if (m == 0 && endPetrol - delta > kMinEndPetrolUs) {
            SlideEndPoint(d, endPetrol - delta, 0, kLast, 1, kLast);
            RescaleGas(d, b, kLast, 0, 0, kLast - 1);
            CommitOrRollback(d);
        }
        if (m > 0) {
            RescaleGas(d, b, m, 0, 0, m - 1);
            CommitOrRollback(d);
        }
        return;
    }
    if (d.End_On_Petrol_Max) {
        if (m > 0) {
            RescaleGas(d, b, m, 0, 0, m - 1);
        } else {
            for (std::int32_t& g : d.Gas_Point)
                g += delta;
        }
    } else if (m == 0) {
        SlideEndPoint(d, endPetrol - delta, 0, kLast, 1, kLast);
        RescaleGas(d, b, kLast, 0, 0, kLast - 1);
    } else {
        RescaleGas(d, b, m, 0, 0, m - 1);
    }
    CommitOrRollback(d);
}

void moveEndPoint(DiagramModel& d, std::int32_t a, std::int32_t b) {
    // The idle-run points never stretch with the end point.
    const int p = std::max<int>(d.Fixed_Point, d.Idle_Point);
    if (d.End_On_Petrol_Max) {
        if (b >= d.Gas_Axis_Max) {
            SlideEndPoint(d, a, p, kLast, p + 1, kLast);
        } else {
            RescaleGas(d, b, p, kLast, p + 1, kLast);
            CommitOrRollback(d);
        }
    } else if (p <= kLast && a > kMinEndPetrolUs && a > d.Petrol_Point[at(p)] + 100) {
        SlideEndPoint(d, a, p, kLast, p + 1, kLast);
    }
}

void moveMiddlePoint(Context& ctx, int s, std::int32_t a, std::int32_t b) {
    DiagramModel& d = ctx.diagram;
    const auto i = at(s);
    const bool petrolFits = d.Petrol_Point[i - 1] < a && a < d.Petrol_Point[i + 1];
    const bool gasFits = HasFreeMidPoints(ctx.link.Ident.Firmware_Version) ||
                         (d.Gas_Point[i - 1] < b && b < d.Gas_Point[i + 1]);
    if (!petrolFits || !gasFits) return;
    d.Petrol_Point[i] = a;
    d.Gas_Point[i] = b;
    CommitOrRollback(d);
}

// Microseconds for a pointer offset, rounded half to even; far-off or undefined pointer
// positions come out as a request outside the diagram, which is ignored.
std::int32_t offsetUs(double us) {
    constexpr double kFar = 1e9;
    if (!std::isfinite(us)) return static_cast<std::int32_t>(kFar);
    return static_cast<std::int32_t>(std::clamp(roundHalfEven(us), -kFar, kFar));
}

// The pointer moved (dx, dy) pixels from where it took the selected point.
void dragBy(Context& ctx, double dx, double dy) {
    const DiagramModel& d = ctx.diagram;
    const DiagramGeometry& g = ctx.diagramView.geometry;
    const std::int32_t s = d.Selected_Point;
    if (!isPoint(s) || g.Diagram_Width == 0 || g.Diagram_Height == 0) return;
    MovePoint(ctx, d.Petrol_Point[at(s)] + offsetUs(d.Petrol_Axis_Max * dx / g.Diagram_Width),
              d.Gas_Point[at(s)] - offsetUs(d.Gas_Axis_Max * dy / g.Diagram_Height));
}

// Pointer in the image: measured, like a pointer in the circle, from the circle's corner,
// so the spot that was taken stays under the pointer when it leaves the circle.
void dragFromImage(Context& ctx, double x, double y) {
    const DiagramModel& d = ctx.diagram;
    const std::int32_t s = d.Selected_Point;
    if (!isPoint(s)) return;
    const DiagramCircle& c = ctx.diagramView.Points[at(s)];
    dragBy(ctx, x - d.Grab_X - (c.x - c.size / 2), y - d.Grab_Y - (c.y - c.size / 2));
}

void endDrag(Context& ctx) {
    DiagramModel& d = ctx.diagram;
    d.Edit_Armed = false;
    d.Dragging = false;
    SendDiagramAfterEdit(ctx);
    d.Selected_Point = -1;
    d.Moved = false;
}

// The prompt closes at once: the view is plain data, nothing is destroyed inside its own
// click handler, so there is nothing to defer.
void closePrompt(Context& ctx) {
    ClosePromptPanel(ctx);
}

void setSaveMap(Context& ctx, bool on) {
    if (ctx.config.Save_Map == on) return;
    ctx.config.Save_Map = on;
    UpdateMapControls(ctx);
    ReadSetupPage(ctx);
    // A collection needs the MAP lists read from the next live reply on.
    FollowPollingChoice(ctx);
}

// First Yes: the corrected gas times, and a straight continuation past the last corrected
// point (or 12 ms) so the curve keeps its run to the end.
void makeProposal(Context& ctx) {
    MapPoints& m = ctx.mapPoints;
    const DiagramModel& d = ctx.diagram;
    const auto& petrol = d.Petrol_Point;
    auto& proposed = m.Proposed_Gas;
    proposed = d.Gas_Point;
    const int b = ctx.settings.Idle_Points ? d.Idle_Point : 0;
    const int start = b + 1;
    const std::int64_t limit = std::int64_t{ctx.config.Inj_Time_Max} * 1000;
    for (int i = start; i < kDiagramPoints; ++i) {
        if (m.Correction_Hits[at(i)] == 0) continue;
        m.Correction_Sum[at(i)] /= m.Correction_Hits[at(i)];
        const std::int64_t v = std::int64_t{proposed[at(i)]} + m.Correction_Sum[at(i)];
        if (v >= limit) {
            proposed[at(i)] =
                static_cast<std::int32_t>(std::clamp<std::int64_t>(limit, INT32_MIN, INT32_MAX));
        } else if (v < d.Gas_Point[0]) {
            proposed[at(i)] = proposed[0];
        } else {
            proposed[at(i)] = static_cast<std::int32_t>(v);
        }
    }
    m.Slope_Work[0] = 1.0;
    for (std::size_t k = 1; k < kDiagramPoints; ++k) {
        const double dx = static_cast<double>(petrol[k]) - petrol[k - 1];
        m.Slope_Work[k] = dx == 0 ? 1.0 : std::abs(double(proposed[k]) - proposed[k - 1]) / dx;
    }

    int last = b;
    for (int i = b + 1; i < kDiagramPoints; ++i) {
        if (m.Correction_Hits[at(i)] != 0) last = i;
    }
    const auto reach = std::find_if(petrol.begin(), petrol.end(),
                                    [](std::int32_t p) { return p >= kExtrapolateFromUs; });
    if (reach == petrol.end()) return;
    last = std::max(last, static_cast<int>(reach - petrol.begin()));
    if (last == kLast || last < start) return;
    const std::int64_t span = std::int64_t{petrol[at(kLast)]} - petrol[at(last)];
    if (span <= 0) return;

    double f = m.Slope_Work[at(last)];
    if (last > start) {
        double sum = 0;
        for (int k = start; k <= last + 1; ++k)
            sum += m.Slope_Work[at(k)];
        f = sum / (last - start + 2);
    }
    // The end lands between 12 ms and the limit.
    const double end =
        static_cast<double>(proposed[at(last)]) + std::trunc(static_cast<double>(span) * f);
    if (end > static_cast<double>(limit))
        f = std::abs(double(limit) - proposed[at(last)]) / static_cast<double>(span);
    if (end < kExtrapolateFromUs)
        f = std::abs(double(kExtrapolateFromUs) - proposed[at(last)]) / static_cast<double>(span);
    for (int k = last + 1; k < kDiagramPoints; ++k) {
        const double step = (static_cast<double>(petrol[at(k)]) - petrol[at(k - 1)]) * f;
        proposed[at(k)] = static_cast<std::int32_t>(
            std::clamp<double>(proposed[at(k - 1)] + std::trunc(step), INT32_MIN, INT32_MAX));
    }
}

void applyProposal(Context& ctx) {
    MapPoints& m = ctx.mapPoints;
    DiagramModel& d = ctx.diagram;
    // A proposal that would break the diagram is not sent; the gas MAP points are not
    // erased either, since nothing was applied from them.
    if (WorseThan(CheckDiagram(d.Petrol_Point, m.Proposed_Gas, d.Petrol_Axis_Max, d.Gas_Axis_Max),
                  CheckDiagram(d))) {
        m.Proposed_Gas.fill(0);
        RefreshDiagram(ctx);
        OpenPromptPanel(ctx, PromptMode::Ok, ctx.LangText("MAP_Ctrl_No_Pair"));
        return;
    }
    d.Gas_Point = m.Proposed_Gas;
    m.Proposed_Gas.fill(0);
    // Later edits start from the corrected diagram, not from the one before it.
    d.Committed_Petrol = d.Petrol_Point;
    d.Committed_Gas = d.Gas_Point;
    RefreshDiagram(ctx);
    SetPendingRequest(ctx, Request::EraseGasAndWriteDiagram);
    closePrompt(ctx);
}

} // namespace

// ---- Editing --------------------------------------------------------------------------

void SelectPoint(Context& ctx, int n, DiagramMouseButton button) {
    DiagramModel& d = ctx.diagram;
    if (n < 1 || n > kDiagramPoints) return;
    if (button == DiagramMouseButton::Left) {
        if (!IsShownIdlePoint(ctx, n)) {
            d.Edit_Armed = true;
            d.Selected_Point = n - 1;
        }
    } else if (button == DiagramMouseButton::Right && n >= 2 && n <= kDiagramPoints - 1) {
        d.Fixed_Point = (n - 1 == d.Fixed_Point) ? 0 : static_cast<std::uint8_t>(n - 1);
        d.Selected_Point = -1;
    }
    d.Committed_Petrol = d.Petrol_Point;
    d.Committed_Gas = d.Gas_Point;
    ShowSelectedPosition(ctx);
    RedrawDiagramColours(ctx);
}

bool IsShownIdlePoint(const Context& ctx, int n) {
    const DiagramModel& d = ctx.diagram;
    return ctx.settings.Idle_Points && d.Idle_Point != 0 &&
           (n == d.Idle_Point || n == d.Idle_Point + 1);
}

void Deselect(Context& ctx, DiagramMouseButton button) {
    DiagramModel& d = ctx.diagram;
    ctx.diagramView.Guides_Visible = false;
    if (button == DiagramMouseButton::Left) {
        d.Edit_Armed = false;
        d.Selected_Point = -1;
    }
    RedrawDiagramColours(ctx);
}

void MovePoint(Context& ctx, std::int32_t a, std::int32_t b) {
    DiagramModel& d = ctx.diagram;
    const std::int32_t s = d.Selected_Point;
    if (a < 0 || a > d.Petrol_Axis_Max || b < 0 || b > d.Gas_Axis_Max) {
        // Only the end point pushed against the top does something out of range.
        if (a >= 0 && b >= d.Gas_Axis_Max && s == kLast && d.Edit_Armed) {
            SlideEndPoint(d, a, d.Fixed_Point, kLast, d.Fixed_Point + 1, kLast);
            RepositionDiagram(ctx);
        }
    } else if (d.Edit_Armed && isPoint(s)) {
        a = snap(a);
        b = snap(b);
        d.Petrol_Point = d.Committed_Petrol;
        d.Gas_Point = d.Committed_Gas;
        if (s == 0) {
            movePoint0(d, b);
        } else if (s == kLast) {
            moveEndPoint(d, a, b);
        } else {
            moveMiddlePoint(ctx, s, a, b);
        }
        RepositionDiagram(ctx);
    }
    if (!d.Dragging) SendDiagramAfterEdit(ctx);
}

void RescaleGas(DiagramModel& d, std::int32_t t, int pivot, int anchor, int from, int to) {
    if (to < from || !isPoint(pivot) || !isPoint(anchor) || !isPoint(from) || !isPoint(to)) return;
    const std::int64_t gp = d.Gas_Point[at(pivot)];
    const std::int64_t den = gp - d.Gas_Point[at(anchor)];
    if (den == 0) return;
    for (int j = from; j <= to; ++j) {
        const std::int64_t x = divideRounded((gp - d.Gas_Point[at(j)]) * (gp - t), den);
        const std::int64_t v = gp - x;
        if (v >= 0 && v <= d.Gas_Axis_Max) d.Gas_Point[at(j)] = static_cast<std::int32_t>(v);
    }
}

void SlideEndPoint(DiagramModel& d, std::int32_t a, int pivot, int anchor, int from, int to) {
    // Without a point after the pivot there is nothing to slide (an idle point at 8).
    if (!isPoint(pivot) || anchor != kLast || pivot >= anchor || !isPoint(from) || !isPoint(to))
        return;
    const bool flat = d.Petrol_Point[at(pivot)] == d.Petrol_Point[at(anchor)];
    if (d.End_On_Petrol_Max) {
        d.End_On_Petrol_Max = false;
        RescaleGas(d, d.Gas_Axis_Max, pivot, anchor, from, to);
        CommitOrRollback(d);
    } else if (a >= d.Petrol_Axis_Max) {
        if (flat) return;
        d.End_On_Petrol_Max = true;
        scalePetrol(d, pivot, d.Petrol_Axis_Max);
        RescaleGas(d, d.Gas_Axis_Max - (a - d.Petrol_Axis_Max), pivot, anchor, from, to);
        CommitOrRollback(d);
    } else if (a < d.Petrol_Point[at(from)] + 1000) {
        return; // the end keeps 1 ms from the first point that stretches with it
    } else if (d.Gas_Point[at(kLast)] < d.Gas_Axis_Max) {
        RescaleGas(d, d.Gas_Axis_Max, pivot, anchor, from, to);
        CommitOrRollback(d);
    } else {
        if (flat) return;
        scalePetrol(d, pivot, a);
        d.Petrol_Point[at(kLast)] = a;
        CommitOrRollback(d);
    }
}

void KeyStep(Context& ctx, DiagramKey key) {
    DiagramModel& d = ctx.diagram;
    const std::int32_t s = d.Selected_Point;
    if (!isPoint(s)) return;
    d.Edit_Armed = true;
    std::int32_t dp = 0;
    std::int32_t dg = 0;
    switch (key) {
    case DiagramKey::Left:
        dp = -kKeyStepUs;
        break;
    case DiagramKey::Right:
        dp = kKeyStepUs;
        break;
    case DiagramKey::Up:
        dg = kKeyStepUs;
        break;
    case DiagramKey::Down:
        dg = -kKeyStepUs;
        break;
    default:
        return;
    }
    const std::int32_t endPetrol = d.Petrol_Point[at(kLast)];
    const std::int32_t endGas = d.Gas_Point[at(kLast)];
    const bool onRight = endPetrol == d.Petrol_Axis_Max;
    const bool onTop = endGas == d.Gas_Axis_Max;
    if (s == kLast) {
        // The end point's keys follow the edge it lies on.
        if (onRight && key == DiagramKey::Left) dg = kKeyStepUs;
        if (onRight && key == DiagramKey::Right) dg = -kKeyStepUs;
        if (onTop && key == DiagramKey::Up) dp = -kKeyStepUs;
        if (onTop && key == DiagramKey::Down) dp = kKeyStepUs;
    }
    Timer& repeat = *ctx.timers.Timer_CLB_3D_Btn;
    if (repeat.isRunning())
        d.Repeat_Factor = std::min<std::uint8_t>(d.Repeat_Factor + 1, kRepeatFactorMax);
    repeat.start();
    dp *= d.Repeat_Factor;
    dg *= d.Repeat_Factor;

    if (s != kLast) {
        MovePoint(ctx, d.Petrol_Point[at(s)] + dp, d.Gas_Point[at(s)] + dg);
    } else if (onTop) {
        const std::int32_t p = endPetrol + dp;
        if (p > d.Petrol_Axis_Max) {
            MovePoint(ctx, d.Petrol_Axis_Max, endGas - kKeyStepUs);
        } else {
            MovePoint(ctx, p, d.Gas_Axis_Max);
        }
    } else if (onRight) {
        const std::int32_t g = endGas + dg;
        if (g > d.Gas_Axis_Max) {
            MovePoint(ctx, endPetrol - kKeyStepUs, d.Gas_Axis_Max);
        } else {
            MovePoint(ctx, d.Petrol_Axis_Max, g);
        }
    } else if (endGas + dg > d.Gas_Axis_Max) {
        MovePoint(ctx, endPetrol - kKeyStepUs, d.Gas_Axis_Max);
    } else if (endPetrol + dp > d.Petrol_Axis_Max) {
        MovePoint(ctx, d.Petrol_Axis_Max, endGas - kKeyStepUs);
    } else {
        MovePoint(ctx, endPetrol + dp, endGas + dg);
    }
}

void OnKeyRepeatTimer(Context& ctx) {
    ctx.timers.Timer_CLB_3D_Btn->stop();
    ctx.diagram.Repeat_Factor = 1;
}

void Circle_CLB_PointMouseDown(Context& ctx, int n, DiagramMouseButton button, const DiagramShift&,
                               double x, double y) {
    DiagramModel& d = ctx.diagram;
    SelectPoint(ctx, n, button);
    // A left press that selected nothing (a shown idle-run point) must not drag whatever
    // point was selected before.
    if (button == DiagramMouseButton::Left && d.Selected_Point != n - 1) return;
    d.Dragging = true;
    d.Moved = false;
    d.Grab_X = x;
    d.Grab_Y = y;
}

void Circle_CLB_PointMouseMove(Context& ctx, int n, const DiagramShift&, double x, double y) {
    DiagramModel& d = ctx.diagram;
    if (!d.Edit_Armed) {
        // Hovering shows the point as selected without arming it.
        SelectPoint(ctx, n, DiagramMouseButton::Left);
        d.Edit_Armed = false;
        d.Moved = false;
    }
    if (d.Dragging) {
        d.Moved = true;
        dragBy(ctx, x - d.Grab_X, y - d.Grab_Y);
    }
}

void Circle_CLB_PointMouseUp(Context& ctx, int, DiagramMouseButton, const DiagramShift&, double,
                             double) {
    DiagramModel& d = ctx.diagram;
    d.Dragging = false;
    if (d.Moved) {
        d.Edit_Armed = false;
        SendDiagramAfterEdit(ctx);
        d.Selected_Point = -1;
        d.Moved = false;
    }
    RedrawDiagramColours(ctx);
}

void Image_CLB_DiagramMouseDown(Context& ctx, DiagramMouseButton button, const DiagramShift&,
                                double x, double y) {
    if (button == DiagramMouseButton::Right) {
        OpenHistoryPanel(ctx, x, y);
    } else {
        Deselect(ctx, button);
    }
}

void Image_CLB_DiagramMouseMove(Context& ctx, const DiagramShift& shift, double x, double y) {
    DiagramModel& d = ctx.diagram;
    CloseHistoryPanel(ctx);
    ShowPointerPosition(ctx, x, y);
    if (d.Dragging && shift.left) {
        d.Moved = true;
        dragFromImage(ctx, x, y);
    } else if (d.Dragging) {
        endDrag(ctx); // the button came up outside the window
    } else if (!d.Edit_Armed) {
        Deselect(ctx, DiagramMouseButton::Left);
    }
    RedrawDiagramColours(ctx);
}

void Image_CLB_DiagramMouseUp(Context& ctx, DiagramMouseButton, const DiagramShift&, double x,
                              double y) {
    if (!ctx.diagram.Dragging) return;
    dragFromImage(ctx, x, y);
    endDrag(ctx);
    RedrawDiagramColours(ctx);
}

void DiagramKeyDown(Context& ctx, DiagramKey key) {
    DiagramModel& d = ctx.diagram;
    switch (key) {
    case DiagramKey::Escape:
        if (d.Selected_Point != -1) Deselect(ctx, DiagramMouseButton::Left);
        break;
    case DiagramKey::Left:
    case DiagramKey::Right:
    case DiagramKey::Up:
    case DiagramKey::Down:
        if (d.Edit_Armed) KeyStep(ctx, key);
        break;
    case DiagramKey::Other:
        break;
    default:
        SelectPoint(ctx, static_cast<int>(key) - static_cast<int>(DiagramKey::Digit0) + 1,
                    DiagramMouseButton::Left);
        break;
    }
}

void HudCheckBox_CLB_Idle_RunChange(Context& ctx, bool checked) {
    DiagramModel& d = ctx.diagram;
    ctx.settings.Idle_Points = checked;
    if (checked && IsShownIdlePoint(ctx, d.Selected_Point + 1) && !d.Dragging) {
        Deselect(ctx, DiagramMouseButton::Left);
    }
    RedrawDiagramColours(ctx);
}

// ---- MAP points and "To count" ----------------------------------------------------------

void UpdateMapControls(Context& ctx) {
    if (!ctx.link.ECU_Connected) return;
    DiagramView& v = ctx.diagramView;
    const bool on = ctx.config.Save_Map;
    v.HudLabel_CLB_Scale_Manifuld.visible = on;
    v.Image_CLB_Scale_Manifuld.visible = on;
    v.HudButton_CLB_MAP_To_Count.enabled = on;
    v.HudButton_CLB_MAP_Del_Gas.enabled = on;
    v.HudButton_CLB_MAP_Del_Petrol.enabled = on;
    const bool legend = ctx.settings.Map_Point && on;
    v.Live_Petrol_Vacuum.visible = legend;
    v.Circle_CLB_Manifuld.visible = legend;
    v.HudLabel_CLB_Manifuld.visible = legend;
}

void HudButton_CLB_MAP_StartClick(Context& ctx) {
    if (ctx.view.HudButton_CLB_MAP_Start.enabled) setSaveMap(ctx, true);
}

void HudButton_CLB_MAP_StopClick(Context& ctx) {
    if (ctx.view.HudButton_CLB_MAP_Stop.enabled) setSaveMap(ctx, false);
}

void HudButton_CLB_MAP_Del_GasClick(Context& ctx) {
    if (ctx.diagramView.HudButton_CLB_MAP_Del_Gas.enabled)
        SetPendingRequest(ctx, Request::EraseMapGas);
}

void HudButton_CLB_MAP_Del_PetrolClick(Context& ctx) {
    if (ctx.diagramView.HudButton_CLB_MAP_Del_Petrol.enabled) {
        SetPendingRequest(ctx, Request::EraseMapPetrol);
    }
}

void HudButton_CLB_MAP_To_CountClick(Context& ctx) {
    if (ctx.diagramView.HudButton_CLB_MAP_To_Count.enabled) ToCount(ctx);
}

void ToCount(Context& ctx) {
    if (ctx.diagramView.Prompt_Panel.open) return;
    MapPoints& m = ctx.mapPoints;
    const auto& petrol = ctx.diagram.Petrol_Point;
    m.Prompt_Step = 0;
    m.Correction_Sum.fill(0);
    m.Correction_Hits.fill(0);
    const int bands = std::min<int>(m.MAP_Point_Count, kMapPointsMax);
    bool anyPair = false;
    bool anyLarge = false;
    bool anyCorrection = false;
    for (int k = 0; k < bands; ++k) {
        const auto i = at(k);
        if (m.MAP_Gas[i] == 0 || m.MAP_Petrol[i] == 0) continue;
        anyPair = true;
        // 64 bits: MAP points loaded from a file are not held to the ECU's byte.
        std::int64_t g = std::int64_t{m.MAP_Gas[i]} * 10;
        const std::int64_t p = std::int64_t{m.MAP_Petrol[i]} * 10;
        if (std::abs(p - g) <= kMapAgreementUs) continue;
        anyLarge = true;
        int j = kLast;
        for (int n = 1; n < kDiagramPoints; ++n) {
            if (petrol[at(n)] >= p) {
                j = n;
                break;
            }
        }
        if (p <= petrol[0]) continue;
        const std::int64_t low = petrol[at(j - 1)];
        const std::int64_t high = petrol[at(j)];
        if (g <= low || g >= high) {
            g = g > low ? high : low;
            if (std::abs(p - g) <= kMapAgreementUs) continue;
        }
        anyCorrection = true;
        for (int end : {j - 1, j}) {
            m.Correction_Hits[at(end)] += 1;
            m.Correction_Sum[at(end)] = static_cast<std::int32_t>(std::clamp<std::int64_t>(
                m.Correction_Sum[at(end)] + (g - p), INT32_MIN, INT32_MAX));
        }
    }
    if (!anyPair) {
        OpenPromptPanel(ctx, PromptMode::Ok, ctx.LangText("MAP_Ctrl_No_Pair"));
    } else if (anyCorrection) {
        OpenPromptPanel(ctx, PromptMode::YesNo, ctx.LangText("MAP_Ctrl"));
    } else {
        OpenPromptPanel(ctx, PromptMode::Ok,
                        ctx.LangText(anyLarge ? "MAP_Ctrl_No_Pair" : "MAP_Ctrl_No_Calc"));
    }
}

void PromptButton1Click(Context& ctx) {
    PromptPanelView& prompt = ctx.diagramView.Prompt_Panel;
    MapPoints& m = ctx.mapPoints;
    if (!prompt.open) return;
    if (prompt.mode == PromptMode::Ok) {
        closePrompt(ctx);
        return;
    }
    m.Prompt_Step += 1;
    if (m.Prompt_Step == 1) {
        makeProposal(ctx);
        RefreshDiagram(ctx);
        prompt.text = ctx.LangText("MAP_Ctrl_Transmit");
    } else if (m.Prompt_Step == 2) {
        applyProposal(ctx);
    } else {
        closePrompt(ctx);
    }
}

void PromptButton2Click(Context& ctx) {
    const PromptPanelView& prompt = ctx.diagramView.Prompt_Panel;
    MapPoints& m = ctx.mapPoints;
    if (!prompt.open || prompt.mode != PromptMode::YesNo) return;
    if (m.Prompt_Step == 1) {
        m.Proposed_Gas.fill(0);
        RefreshDiagram(ctx);
    }
    closePrompt(ctx);
}

} // namespace bifuel
