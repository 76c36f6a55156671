#pragma once

#include "calibration/Calibr_Unit.h"
#include "files/Colors_3D_Unit.h"
#include "link/Link_View.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace bifuel {

class Context;

inline constexpr double kPointCircleSize = 14;
inline constexpr double kMapCircleSize = 10;
inline constexpr double kManifoldAxisMax = 192; // hundredths of a bar over the diagram height

// Pixel sizes of the Graph page's images as the user interface lays them out.
struct DiagramGeometry {
    double Diagram_Width = 549; // Image_CLB_Diagram
    double Diagram_Height = 377;
    double Gas_Scale_Width = 30; // Image_CLB_Scale_Gas
    double Gas_Scale_Height = 377;
    double Petrol_Scale_Width = 549; // Image_CLB_Scale_Petrol
    double Petrol_Scale_Height = 22;
    double Manifuld_Scale_Width = 32; // Image_CLB_Scale_Manifuld
    bool operator==(const DiagramGeometry&) const = default;
};

// A circle by its centre; pixels inside the diagram image, y growing downwards.
struct DiagramCircle {
    double x = 0;
    double y = 0;
    double size = kPointCircleSize;
    Colour colour = Colour::Diagram;
    bool visible = true;
};

// A line from (x, y), `length` long, turned by `angle` degrees (clockwise on screen).
struct DiagramLine {
    double x = 0;
    double y = 0;
    double length = 0;
    double angle = 0;
    double thickness = 2;
    Colour colour = Colour::Diagram;
};

struct DiagramRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const DiagramRect&) const = default;
};

struct DiagramLabel {
    DiagramRect rect;
    std::string text;
};

struct DiagramButton {
    DiagramRect rect;
    std::string text;
    bool enabled = true;
    bool visible = true;
};

// The recorded MAP points of one list: circles of the recorded bands, joined in band order.
struct MapTrace {
    std::array<DiagramCircle, kMapPointsMax> circles{};
    std::array<DiagramLine, kMapPointsMax> lines{};
    int circleCount = 0;
    int lineCount = 0;
};

struct HistoryPanelView {
    bool open = false;
    DiagramRect panel;
    DiagramLabel label;
    DiagramButton back;
    DiagramButton forward;
};

enum class PromptMode { Ok, YesNo };

// The "To count" dialogue over the bottom of the diagram; rectangles of the inner panel
// and the buttons are relative to the outer panel.
struct PromptPanelView {
    bool open = false;
    PromptMode mode = PromptMode::Ok;
    DiagramRect outer;
    DiagramRect inner;
    std::string text;
    DiagramButton button1;
    DiagramButton button2;
};

// What the Graph page shows. The user interface draws it; the core keeps it current.
struct DiagramView {
    DiagramGeometry geometry;

    // Built when the geometry is set.
    std::vector<DiagramLabel> Gas_Scale_Labels;
    std::vector<DiagramLabel> Manifuld_Scale_Labels;
    std::vector<DiagramLabel> Petrol_Scale_Labels;
    std::vector<DiagramRect> Grid_Horizontal;
    std::vector<DiagramRect> Grid_Vertical;

    // The diagram: centres X, Y of the points, Y2 of the proposed curve.
    std::array<double, kDiagramPoints> X{};
    std::array<double, kDiagramPoints> Y{};
    std::array<double, kDiagramPoints> Y2{};
    std::array<DiagramCircle, kDiagramPoints> Points{};
    std::array<DiagramLine, kDiagramPoints - 1> Lines{};
    bool Proposed_Visible = false;
    std::array<DiagramCircle, kDiagramPoints> Proposed_Points{};
    std::array<DiagramLine, kDiagramPoints - 1> Proposed_Lines{};
    // Left, right, top, bottom frame of the selected middle point's petrol range.
    bool Guides_Visible = false;
    std::array<DiagramRect, 4> Guide_Lines{};

    DiagramCircle Live_Petrol_Gas{.colour = Colour::Diagram_Gas};
    bool Live_Petrol_Vacuum_Exists = false; // the Map_Point setting
    DiagramCircle Live_Petrol_Vacuum{.colour = Colour::Diagram_Vacuum, .visible = false};

    bool Map_Visible = false;
    MapTrace Map_Gas;
    MapTrace Map_Petrol;
    std::array<DiagramLine, kMapPointsMax> Map_Pairs{};
    int Map_Pair_Count = 0;

    ViewControl HudLabel_CLB_Position{.text = "Position"};
    ViewControl HudLabel_CLB_Scale_Manifuld{.visible = false};
    ViewControl Image_CLB_Scale_Manifuld{.visible = false};
    ViewControl HudButton_CLB_MAP_To_Count{.enabled = false};
    ViewControl HudButton_CLB_MAP_Del_Gas{.enabled = false};
    ViewControl HudButton_CLB_MAP_Del_Petrol{.enabled = false};
    ViewControl Circle_CLB_Manifuld{.visible = false};
    ViewControl HudLabel_CLB_Manifuld{.visible = false};

    HistoryPanelView History_Panel;
    PromptPanelView Prompt_Panel;
};

// The line from one centre to another; a vertical one points the way it goes.
DiagramLine LineBetween(double x1, double y1, double x2, double y2);

// New image sizes: scales and grid are rebuilt, then the whole view.
void SetDiagramGeometry(Context& ctx, const DiagramGeometry& geometry);
void BuildDiagramScales(DiagramView& v, const DiagramModel& d);

// Point centres, connecting lines, proposed curve and guide lines from the model.
void RepositionDiagram(Context& ctx);
// Point colours by rule, and the guide lines of a selected middle point.
void RedrawDiagramColours(Context& ctx);
// MAP shapes, only while the collection is on.
void DrawMapPoints(Context& ctx);
void DrawLivePoints(Context& ctx);
// Everything above, and the position label of a selected point. After every live reply.
void RefreshDiagram(Context& ctx);

// Position label: the values under the pointer, or those of the selected point.
void ShowPointerPosition(Context& ctx, double x, double y);
void ShowSelectedPosition(Context& ctx);

void OpenHistoryPanel(Context& ctx, double x, double y);
void CloseHistoryPanel(Context& ctx);
// Opens the prompt over the diagram, closing any open one first.
void OpenPromptPanel(Context& ctx, PromptMode mode, std::string text);
void ClosePromptPanel(Context& ctx);

} // namespace bifuel
