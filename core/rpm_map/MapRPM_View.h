#pragma once

#include "link/Link_View.h"
#include "rpm_map/MapRPM_Unit.h"

#include <string>

namespace bifuel {

class Context;

inline constexpr double kFactorCellOpacity = 0.2;
inline constexpr double kHeaderCellOpacity = 0.6;
inline constexpr double kCurrentCellOpacity = 1.0;

// One cell of the grid: background panel, frame and label drawn as one.
struct MapCellView {
    double opacity = kFactorCellOpacity;
    bool frameVisible = false;
    std::string frameColour; // "#AARRGGBB"
    int fontSize = 20;
};

// What the Map page shows and the state of its mouse and keyboard handling. The user
// interface renders it and hands every event to the functions below.
struct MapView {
    int Panel_Width = 607; // HudPanel_3D_MapRPM
    int Panel_Height = 444;
    // Grid geometry, set on every rebuild.
    int Cell_Width = 0;
    int Cell_Height = 0;
    int Origin_X = 0;
    int Origin_Y = 0;
    int Frame_Thickness = 1;
    MapGrid<MapCellView> Cells{};

    MapCell Current{};           // (0, 0): none
    MapCell Corner2{};           // the far corner of a keyboard range
    MapCell Anchor{};            // where a mouse range started
    bool Selection_Mode = false; // arrows change values instead of moving
    bool Range_Drag = false;

    ViewControl HudLabel_3D_MapRPM_CellData;
};

int CellX(const MapView& v, int c);
int CellY(const MapView& v, int r);

enum class MapMouseButton { Left, Right, Middle };
enum class MapKey { Enter, Escape, Left, Right, Up, Down, Shift, Other };

// Grid events on cell (c, r). All of them, and the keys, do nothing while a write runs.
void MapCellMouseMove(Context& ctx, int c, int r);
void MapCellMouseDown(Context& ctx, int c, int r, MapMouseButton button);
void MapCellMouseUp(Context& ctx, int c, int r);
// Keys while the Map page is shown; `shift` is whether Shift is held.
void MapKeyDown(Context& ctx, MapKey key, bool shift);
void MapKeyUp(Context& ctx, MapKey key);

// The grid's controls made anew at 8 x 12: geometry, cells, marks cleared.
void RebuildMapGrid(Context& ctx);
// Factor cells 0.2 and headers 0.6 everywhere: the current cell's highlight goes too.
void ResetMapOpacities(Context& ctx);
// Frames from the marks, then the trace and the live cell over them.
void RedrawMapFrames(Context& ctx);
// HudLabel_3D_MapRPM_CellData for the current cell.
void UpdateMapCellData(Context& ctx);

} // namespace bifuel
