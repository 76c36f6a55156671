#include "calibration/Calibr_Create.h"

#include "Context.h"
#include "calibration/Calibr_Ctrl.h"
#include "data/Calc_Unit.h"

#include <cmath>
#include <numbers>

namespace bifuel {
namespace {

constexpr int kScaleStepMs = 5; // one grid division

bool anyProposal(const MapPoints& m) {
    for (std::int32_t g : m.Proposed_Gas) {
        if (g != 0) return true;
    }
    return false;
}

void placeGuides(DiagramView& v, int s) {
    const auto i = static_cast<std::size_t>(s);
    const double left = v.X[i - 1];
    const double right = v.X[i + 1];
    const double h = v.geometry.Diagram_Height;
    v.Guide_Lines[0] = {left, 0, 1, h};
    v.Guide_Lines[1] = {right, 0, 1, h};
    v.Guide_Lines[2] = {left, 0, right - left, 1};
    v.Guide_Lines[3] = {left, h, right - left, 1};
}

bool isMiddlePoint(std::int32_t s) {
    return s >= 1 && s <= kDiagramPoints - 2;
}

// Circles of the recorded bands of one list and the lines between consecutive ones.
void traceMapList(MapTrace& trace, const std::array<std::int32_t, kMapPointsMax>& list,
                  const std::array<double, kMapPointsMax>& bandY, int bands, double xPerUnit,
                  Colour colour) {
    trace.circleCount = 0;
    trace.lineCount = 0;
    for (int k = 0; k < bands; ++k) {
        const auto i = static_cast<std::size_t>(k);
        if (list[i] == 0) continue;
        DiagramCircle& c = trace.circles[static_cast<std::size_t>(trace.circleCount)];
        c = {list[i] * xPerUnit, bandY[i], kMapCircleSize, colour, true};
        if (trace.circleCount > 0) {
            const DiagramCircle& prev =
                trace.circles[static_cast<std::size_t>(trace.circleCount - 1)];
            DiagramLine& line = trace.lines[static_cast<std::size_t>(trace.lineCount++)];
            line = LineBetween(prev.x, prev.y, c.x, c.y);
            line.colour = colour;
        }
        ++trace.circleCount;
    }
}

// The prompt over the bottom of the diagram: sizes in parts of the diagram's.
void layPromptPanel(PromptPanelView& p, const DiagramGeometry& g) {
    const double w = g.Diagram_Width;
    const double h = g.Diagram_Height;
    p.outer = {w * 0.2, h - h * 0.2, w * 0.6, h * 0.2};
    const double innerW = p.outer.width * 0.8;
    const double innerH = p.outer.height / 3;
    p.inner = {(p.outer.width - innerW) / 2, innerH / 3, innerW, innerH};
    const double buttonW = (p.inner.width - p.inner.y) / 2;
    const double buttonTop = 2 * p.inner.y + p.inner.height;
    if (p.mode == PromptMode::YesNo) {
        p.button1.rect = {p.inner.x, buttonTop, buttonW, p.inner.height};
        p.button2.rect = {p.inner.x + buttonW + p.inner.y, buttonTop, buttonW, p.inner.height};
    } else {
        p.button1.rect = {(p.outer.width - buttonW) / 2, buttonTop, buttonW, p.inner.height};
    }
}

std::string gasAndPetrolText(const Context& ctx, double gasMs, double petrolMs) {
    const std::string ms = ctx.LangText("Dim_MS_Short");
    return ctx.LangText("Gas") + ", " + ms + " = " + FixedText(gasMs, 2) + ";  " +
           ctx.LangText("Petrol") + ", " + ms + " = " + FixedText(petrolMs, 2) + ";";
}

} // namespace

DiagramLine LineBetween(double x1, double y1, double x2, double y2) {
    const double dx = x2 - x1;
    const double dy = y2 - y1;
    DiagramLine line;
    line.x = x1;
    line.y = y1;
    line.length = std::hypot(dx, dy);
    if (dx != 0) {
        line.angle = std::atan(dy / dx) * 180 / std::numbers::pi + (dx < 0 ? 180 : 0);
    } else {
        // Straight down or up; turning a vertical line by a further 180 would draw it
        // away from the point it joins.
        line.angle = dy > 0 ? 90 : (dy < 0 ? -90 : 0);
    }
    return line;
}

void SetDiagramGeometry(Context& ctx, const DiagramGeometry& geometry) {
    DiagramView& v = ctx.diagramView;
    v.geometry = geometry;
    BuildDiagramScales(v, ctx.diagram);
    // The history panel stood where the pointer was in the old size: it goes. The prompt
    // keeps its question and answers, laid out for the new size.
    CloseHistoryPanel(ctx);
    if (v.Prompt_Panel.open) layPromptPanel(v.Prompt_Panel, geometry);
    RefreshDiagram(ctx);
}

void BuildDiagramScales(DiagramView& v, const DiagramModel& d) {
    const DiagramGeometry& g = v.geometry;
    const double hs = g.Gas_Scale_Height;
    const double ws = g.Petrol_Scale_Width;
    const int gasMs = d.Gas_Axis_Max / 1000;
    const int petrolMs = d.Petrol_Axis_Max / 1000;
    v.Gas_Scale_Labels.clear();
    v.Manifuld_Scale_Labels.clear();
    v.Petrol_Scale_Labels.clear();
    v.Grid_Horizontal.clear();
    v.Grid_Vertical.clear();
    if (gasMs <= 0 || petrolMs <= 0) return;

    // Gas and manifold labels share heights: 5 ms of gas is 30 hundredths of a bar.
    const double barPerStep = kScaleStepMs * kManifoldAxisMax / gasMs / 100;
    for (int i = 0; i < gasMs / kScaleStepMs; ++i) {
        const int ms = kScaleStepMs * (i + 1);
        const double y = hs - ms * hs / gasMs - 8;
        v.Gas_Scale_Labels.push_back({{0, y, g.Gas_Scale_Width, 16}, std::to_string(ms)});
        v.Manifuld_Scale_Labels.push_back(
            {{0, y, g.Manifuld_Scale_Width, 16}, FixedText((i + 1) * barPerStep, 2)});
    }
    for (int j = 0; j <= gasMs / kScaleStepMs; ++j) {
        v.Grid_Horizontal.push_back({0, hs - kScaleStepMs * j * hs / gasMs, g.Diagram_Width, 1});
    }
    if (gasMs % kScaleStepMs != 0) v.Grid_Horizontal.push_back({0, 0, g.Diagram_Width, 1});

    for (int k = 0; k <= petrolMs / kScaleStepMs; ++k) {
        v.Petrol_Scale_Labels.push_back(
            {{ws / petrolMs * kScaleStepMs * k - 10, 0, 30, g.Petrol_Scale_Height},
             std::to_string(kScaleStepMs * k)});
    }
    const int columns = (petrolMs + kScaleStepMs - 1) / kScaleStepMs;
    for (int l = 0; l < columns; ++l) {
        v.Grid_Vertical.push_back({ws / petrolMs * kScaleStepMs * l, 0, 1, g.Diagram_Height});
    }
    v.Grid_Vertical.push_back({ws, 0, 1, g.Diagram_Height});
}

void RepositionDiagram(Context& ctx) {
    DiagramView& v = ctx.diagramView;
    const DiagramModel& d = ctx.diagram;
    const double w = v.geometry.Diagram_Width;
    const double h = v.geometry.Diagram_Height;
    const double xScale = w / d.Petrol_Axis_Max;
    const double yScale = h / d.Gas_Axis_Max;
    for (std::size_t i = 0; i < kDiagramPoints; ++i) {
        v.X[i] = xScale * d.Petrol_Point[i];
        v.Y[i] = h - yScale * d.Gas_Point[i];
        v.Points[i].x = v.X[i];
        v.Points[i].y = v.Y[i];
    }
    for (std::size_t k = 0; k + 1 < kDiagramPoints; ++k) {
        v.Lines[k] = LineBetween(v.X[k], v.Y[k], v.X[k + 1], v.Y[k + 1]);
    }
    const MapPoints& m = ctx.mapPoints;
    v.Proposed_Visible = anyProposal(m);
    if (v.Proposed_Visible) {
        for (std::size_t i = 0; i < kDiagramPoints; ++i) {
            v.Y2[i] = h - yScale * m.Proposed_Gas[i];
            v.Proposed_Points[i] = {v.X[i], v.Y2[i], v.Points[i].size, Colour::Diagram_ReCalc,
                                    true};
        }
        for (std::size_t k = 0; k + 1 < kDiagramPoints; ++k) {
            v.Proposed_Lines[k] = LineBetween(v.X[k], v.Y2[k], v.X[k + 1], v.Y2[k + 1]);
            v.Proposed_Lines[k].colour = Colour::Diagram_ReCalc;
        }
    }
    if (v.Guides_Visible && isMiddlePoint(d.Selected_Point)) placeGuides(v, d.Selected_Point);
}

void RedrawDiagramColours(Context& ctx) {
    DiagramView& v = ctx.diagramView;
    const DiagramModel& d = ctx.diagram;
    for (DiagramCircle& c : v.Points)
        c.colour = Colour::Diagram;
    if (d.Fixed_Point != 0 && d.Fixed_Point < kDiagramPoints) {
        v.Points[d.Fixed_Point].colour = Colour::Diagram_Fixed;
    }
    v.Guides_Visible = false;
    if (d.Selected_Point >= 0 && d.Selected_Point < kDiagramPoints) {
        v.Points[static_cast<std::size_t>(d.Selected_Point)].colour = Colour::Diagram_Marked;
        if (isMiddlePoint(d.Selected_Point)) {
            v.Guides_Visible = true;
            placeGuides(v, d.Selected_Point);
        }
    }
    if (ctx.settings.Idle_Points) {
        for (int i : {d.Idle_Point - 1, static_cast<int>(d.Idle_Point)}) {
            if (i >= 0 && i < kDiagramPoints)
                v.Points[static_cast<std::size_t>(i)].colour = Colour::Diagram_Idle;
        }
    }
}

void DrawMapPoints(Context& ctx) {
    DiagramView& v = ctx.diagramView;
    const MapPoints& m = ctx.mapPoints;
    v.Map_Visible = ctx.config.Save_Map;
    v.Map_Pair_Count = 0;
    if (!v.Map_Visible) {
        v.Map_Gas.circleCount = v.Map_Gas.lineCount = 0;
        v.Map_Petrol.circleCount = v.Map_Petrol.lineCount = 0;
        return;
    }
    const double w = v.geometry.Diagram_Width;
    const double h = v.geometry.Diagram_Height;
    const int bands = std::min<int>(m.MAP_Point_Count, kMapPointsMax);
    const int codeStep = bands / 2;
    std::array<double, kMapPointsMax> bandY{};
    for (int k = 0; k < bands; ++k) {
        const WordBytes code = WordToBytes((k + 1) * codeStep);
        bandY[static_cast<std::size_t>(k)] =
            h - RawToPressure(code[0], code[1]) * h / kManifoldAxisMax;
    }
    const double xPerUnit = w / ctx.diagram.Petrol_Axis_Max * 10; // lists are in 10 us
    traceMapList(v.Map_Gas, m.MAP_Gas, bandY, bands, xPerUnit, Colour::Map_Point_Gas);
    traceMapList(v.Map_Petrol, m.MAP_Petrol, bandY, bands, xPerUnit, Colour::Map_Point_Petrol);
    for (int k = 0; k < bands; ++k) {
        const auto i = static_cast<std::size_t>(k);
        if (m.MAP_Gas[i] == 0 || m.MAP_Petrol[i] == 0) continue;
        const double y = bandY[i] - 1;
        DiagramLine& pair = v.Map_Pairs[static_cast<std::size_t>(v.Map_Pair_Count++)];
        pair = LineBetween(m.MAP_Gas[i] * xPerUnit, y, m.MAP_Petrol[i] * xPerUnit, y);
        pair.colour = Colour::Map_Point_Line;
    }
}

void DrawLivePoints(Context& ctx) {
    DiagramView& v = ctx.diagramView;
    const DiagramModel& d = ctx.diagram;
    const LiveData& live = ctx.live;
    const double w = v.geometry.Diagram_Width;
    const double h = v.geometry.Diagram_Height;
    const double x =
        live.Live_Petrol_Avg > d.Petrol_Axis_Max ? w : w / d.Petrol_Axis_Max * live.Live_Petrol_Avg;
    v.Live_Petrol_Gas.x = x;
    v.Live_Petrol_Gas.y = h - h / d.Gas_Axis_Max * live.Live_Gas_Avg;
    v.Live_Petrol_Vacuum_Exists = ctx.settings.Map_Point;
    if (v.Live_Petrol_Vacuum_Exists) {
        v.Live_Petrol_Vacuum.x = x;
        v.Live_Petrol_Vacuum.y = h - h / kManifoldAxisMax * live.Live_PressColl;
    }
}

void RefreshDiagram(Context& ctx) {
    UpdateMapControls(ctx);
    DrawMapPoints(ctx);
    RepositionDiagram(ctx);
    RedrawDiagramColours(ctx);
    DrawLivePoints(ctx);
    if (ctx.diagram.Selected_Point != -1) ShowSelectedPosition(ctx);
}

void ShowPointerPosition(Context& ctx, double x, double y) {
    const DiagramView& v = ctx.diagramView;
    const DiagramModel& d = ctx.diagram;
    const double w = v.geometry.Diagram_Width;
    const double h = v.geometry.Diagram_Height;
    if (w == 0 || h == 0) return;
    std::string text = gasAndPetrolText(ctx, d.Gas_Axis_Max / h * (h - y) / 1000,
                                        d.Petrol_Axis_Max / w * x / 1000);
    if (ctx.config.Save_Map) {
        text += ' ';
        text += ctx.LangText("Manifuld") + ", " + ctx.LangText("Dim_Bar_Long") + " = " +
                FixedText(kManifoldAxisMax / h * (h - y) / 100, 2) + "; ";
    }
    ctx.diagramView.HudLabel_CLB_Position.text = std::move(text);
}

void ShowSelectedPosition(Context& ctx) {
    const DiagramModel& d = ctx.diagram;
    const std::int32_t s = d.Selected_Point;
    if (s < 0 || s >= kDiagramPoints) return;
    const auto i = static_cast<std::size_t>(s);
    ctx.diagramView.HudLabel_CLB_Position.text =
        ctx.LangText("Point") + " = " + std::to_string(s) + " -> " +
        gasAndPetrolText(ctx, d.Gas_Point[i] / 1000.0, d.Petrol_Point[i] / 1000.0);
}

void OpenHistoryPanel(Context& ctx, double x, double y) {
    HistoryPanelView& p = ctx.diagramView.History_Panel;
    const DiagramModel& d = ctx.diagram;
    p.open = true;
    p.panel = {x - 51.5, y - 34, 103, 75};
    p.label = {{4, 4, 95, 15}, ctx.LangText("CLB_History_Diagram")};
    const double backTop = p.label.rect.y + p.label.rect.height + 4;
    p.back = {{4, backTop, 95, 22}, ctx.LangText("CLB_History_Back"), CanStepBack(d), true};
    p.forward = {{4, backTop + 22 + 4, 95, 22},
                 ctx.LangText("CLB_History_Forward"),
                 CanStepForward(d),
                 true};
}

void CloseHistoryPanel(Context& ctx) {
    ctx.diagramView.History_Panel.open = false;
}

void OpenPromptPanel(Context& ctx, PromptMode mode, std::string text) {
    ClosePromptPanel(ctx);
    PromptPanelView& p = ctx.diagramView.Prompt_Panel;
    p.open = true;
    p.mode = mode;
    p.text = std::move(text);
    if (mode == PromptMode::YesNo) {
        p.button1 = {{}, ctx.LangText("Yes"), true, true};
        p.button2 = {{}, ctx.LangText("No"), true, true};
    } else {
        p.button1 = {{}, "OK", true, true};
        p.button2 = {};
        p.button2.visible = false;
    }
    layPromptPanel(p, ctx.diagramView.geometry);
}

void ClosePromptPanel(Context& ctx) {
    ctx.diagramView.Prompt_Panel.open = false;
}

} // namespace bifuel
