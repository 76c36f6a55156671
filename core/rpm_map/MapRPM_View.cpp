#include "rpm_map/MapRPM_View.h"

#include "Context.h"
#include "data/Calc_Unit.h"
#include "data/Live_Data.h"
#include "link/Global_Unit.h"

#include <algorithm>

namespace bifuel {
namespace {

constexpr int kGridMargin = 6;
constexpr int kDeferredFontDelayMs = 100;

bool inGrid(int c, int r) {
    return c >= 0 && c < kMapGridCols && r >= 0 && r < kMapGridRows;
}
bool isFactorCell(MapCell cell) {
    return cell.c >= 1 && cell.r >= 1;
}
bool isCorner(MapCell cell) {
    return cell.c == 0 && cell.r == 0;
}

// Events only reach a grid that exists, and never while a write runs.
bool blocked(const Context& ctx) {
    return ctx.link.Write_Running || !ctx.rpmMap.Grid_Built;
}

double restingOpacity(int c, int r) {
    return isFactorCell({c, r}) ? kFactorCellOpacity : kHeaderCellOpacity;
}

void setCurrent(Context& ctx, MapCell cell) {
    MapView& v = ctx.mapView;
    v.Current = cell;
    ResetMapOpacities(ctx);
    if (!isCorner(cell)) v.Cells[cell.c][cell.r].opacity = kCurrentCellOpacity;
    UpdateMapCellData(ctx);
}

// Exactly the rectangle between a and b is selected (the corner cell never is): a range
// that shrinks must not leave cells behind that the arrow keys would still change.
void selectRectangle(Context& ctx, MapCell a, MapCell b) {
    RpmMap& m = ctx.rpmMap;
    const auto [c0, c1] = std::minmax(a.c, b.c);
    const auto [r0, r1] = std::minmax(a.r, b.r);
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            const bool inside = c >= c0 && c <= c1 && r >= r0 && r <= r1 && !isCorner({c, r});
            std::uint8_t& mark = m.Map_Mark[c][r];
            if (inside) {
                mark = kMarkSelected;
            } else if (mark == kMarkSelected) {
                mark = MarkFromText(m, c, r);
            }
        }
    }
}

void clearSelection(Context& ctx) {
    ctx.mapView.Selection_Mode = false;
    UpdateMarks(ctx); // resets the opacities as well
}

void markSelected(Context& ctx, MapCell cell) {
    ctx.rpmMap.Map_Mark[cell.c][cell.r] = kMarkSelected;
    RedrawMapFrames(ctx);
}

MapCell moved(MapCell cell, MapKey key) {
    switch (key) {
    case MapKey::Left:
        cell.c = std::max(cell.c - 1, 0);
        break;
    case MapKey::Right:
        cell.c = std::min(cell.c + 1, kMapCols);
        break;
    case MapKey::Up:
        cell.r = std::max(cell.r - 1, 0);
        break;
    case MapKey::Down:
        cell.r = std::min(cell.r + 1, kMapRows);
        break;
    default:
        break;
    }
    return cell;
}

std::string rangeText(const Context& ctx, const std::string& low, const std::string& high) {
    return "; " + ctx.LangText("Range") + " = " + low + ".." + high + "  ";
}

} // namespace

int CellX(const MapView& v, int c) {
    return v.Origin_X + c * v.Cell_Width;
}
int CellY(const MapView& v, int r) {
    return v.Origin_Y + r * v.Cell_Height;
}

void RebuildMapGrid(Context& ctx) {
    RpmMap& m = ctx.rpmMap;
    MapView& v = ctx.mapView;
    m.Map_Cols = kMapCols;
    m.Map_Rows = kMapRows;
    v.Cell_Width = (v.Panel_Width - kGridMargin) / kMapGridCols;
    v.Cell_Height = (v.Panel_Height - kGridMargin) / kMapGridRows;
    v.Origin_X = (v.Panel_Width - kMapGridCols * v.Cell_Width) / 2;
    v.Origin_Y = (v.Panel_Height - kMapGridRows * v.Cell_Height) / 2;
    v.Frame_Thickness = m.Map_Rows <= 10 ? 2 : 1;
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            v.Cells[c][r] = MapCellView{.opacity = restingOpacity(c, r),
                                        .fontSize = isCorner({c, r}) ? 16 : 20};
            m.Map_Mark[c][r] = kMarkPlain;
        }
    }
    m.Grid_Built = true;
    QueueDeferredAction(ctx, kActionMapFonts, kDeferredFontDelayMs);
}

void ResetMapOpacities(Context& ctx) {
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r)
            ctx.mapView.Cells[c][r].opacity = restingOpacity(c, r);
    }
}

void RedrawMapFrames(Context& ctx) {
    const RpmMap& m = ctx.rpmMap;
    MapView& v = ctx.mapView;
    const ColourTable& colours = ctx.colours;
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            MapCellView& cell = v.Cells[c][r];
            const std::uint8_t mark = m.Map_Mark[c][r];
            cell.frameVisible = mark != kMarkPlain;
            cell.frameColour = mark == kMarkSelected  ? colours.ColourOf(Colour::MapRPM_Select_Cell)
                               : mark == kMarkChanged ? colours.ColourOf(Colour::Txt_Not_Default)
                                                      : std::string();
        }
    }
    const bool onGas = ctx.live.Work_Mode == kModeGas;
    if (m.Map_Tail_Count >= 2) {
        const std::string& tail =
            colours.ColourOf(onGas ? Colour::MapRPM_Gas_Tail : Colour::MapRPM_Pet_Tail);
        for (std::size_t i = 0; i < m.Map_Tail_Count; ++i) {
            const MapCell e = m.Map_Tail[i];
            if (!inGrid(e.c, e.r)) continue;
            v.Cells[e.c][e.r].frameVisible = true;
            v.Cells[e.c][e.r].frameColour = tail;
        }
    }
    const MapCell live = m.Live_Cell;
    if (live.c != 0 && live.r != 0 && inGrid(live.c, live.r)) {
        v.Cells[live.c][live.r].frameVisible = true;
        v.Cells[live.c][live.r].frameColour =
            colours.ColourOf(onGas ? Colour::MapRPM_Gas : Colour::MapRPM_Pet);
    }
}

void UpdateMapCellData(Context& ctx) {
    const RpmMap& m = ctx.rpmMap;
    const MapCell cur = ctx.mapView.Current;
    std::string& text = ctx.mapView.HudLabel_3D_MapRPM_CellData.text;
    if (!m.Grid_Built || isCorner(cur) || !inGrid(cur.c, cur.r)) {
        text.clear();
        return;
    }
    const std::string& shown = m.Map_Text[cur.c][cur.r];
    if (isFactorCell(cur)) {
        text = ctx.LangText("Factor") + " : " + shown + " " +
               rangeText(ctx, FixedText(kMapFactorMin / 100.0, 2),
                         FixedText(kMapFactorMax / 100.0, 2));
    } else if (cur.r == 0) {
        const int c = cur.c;
        const std::int32_t low =
            c == 1 ? 0 : std::max(HeaderRpm(m, c - 1) + kMapRpmGap, kMapRpmLowest);
        std::int32_t high = kMapRpmMax;
        if (c < m.Map_Cols) {
            const std::int32_t next = HeaderRpm(m, c + 1);
            high = (c == 1 && next == kMapRpmLowest) ? 0 : next - kMapRpmGap;
        }
        text = ctx.LangText("RPM") + " = " + shown + " " + ctx.LangText("Dim_RPM_Short") +
               rangeText(ctx, std::to_string(low), std::to_string(high));
    } else {
        const int r = cur.r;
        const std::int32_t low = r == 1 ? 0 : HeaderTenths(m, r - 1) + 1;
        const std::int32_t high = r == m.Map_Rows ? kMapMsMax : HeaderTenths(m, r + 1) - 1;
        text = ctx.LangText("Petrol") + " : " + shown + " " + ctx.LangText("Dim_MS_Short") +
               rangeText(ctx, TenthsToText(low), TenthsToText(high));
    }
}

void MapCellMouseMove(Context& ctx, int c, int r) {
    if (blocked(ctx) || !inGrid(c, r)) return;
    MapView& v = ctx.mapView;
    if (v.Range_Drag) {
        selectRectangle(ctx, v.Anchor, {c, r});
        RedrawMapFrames(ctx);
        return;
    }
    setCurrent(ctx, {c, r});
}

void MapCellMouseDown(Context& ctx, int c, int r, MapMouseButton button) {
    if (blocked(ctx) || !inGrid(c, r)) return;
    MapView& v = ctx.mapView;
    if (button == MapMouseButton::Right) {
        v.Range_Drag = false;
        clearSelection(ctx);
        return;
    }
    if (button != MapMouseButton::Left) return;
    const MapCell cell{c, r};
    v.Selection_Mode = true;
    UpdateMarks(ctx);
    setCurrent(ctx, cell);
    v.Anchor = cell;
    if (isFactorCell(cell)) {
        v.Range_Drag = true;
        markSelected(ctx, cell);
    } else if (!isCorner(cell)) {
        markSelected(ctx, cell);
    }
}

void MapCellMouseUp(Context& ctx, int c, int r) {
    MapView& v = ctx.mapView;
    if (blocked(ctx) || !v.Range_Drag) return;
    // Released outside the grid, the drag ends at the nearest cell.
    const MapCell end{std::clamp(c, 0, kMapCols), std::clamp(r, 0, kMapRows)};
    ResetMapOpacities(ctx);
    UpdateMarks(ctx);
    selectRectangle(ctx, v.Anchor, end);
    RedrawMapFrames(ctx);
    v.Range_Drag = false;
}

void MapKeyDown(Context& ctx, MapKey key, bool shift) {
    if (blocked(ctx)) return;
    MapView& v = ctx.mapView;
    const bool haveCurrent = !isCorner(v.Current);
    switch (key) {
    case MapKey::Enter:
        if (v.Selection_Mode) {
            clearSelection(ctx);
        } else if (haveCurrent) {
            v.Selection_Mode = true;
            markSelected(ctx, v.Current);
        }
        return;
    case MapKey::Shift:
        v.Corner2 = v.Current;
        return;
    case MapKey::Escape:
        if (v.Selection_Mode) clearSelection(ctx);
        return;
    case MapKey::Left:
    case MapKey::Right:
    case MapKey::Up:
    case MapKey::Down:
        if (v.Selection_Mode) {
            StepSelected(ctx, key == MapKey::Up || key == MapKey::Right ? +1 : -1);
        } else if (shift && haveCurrent) {
            v.Corner2 = moved(v.Corner2, key);
            selectRectangle(ctx, v.Current, v.Corner2);
            RedrawMapFrames(ctx);
        } else {
            setCurrent(ctx, moved(v.Current, key));
        }
        return;
    case MapKey::Other:
        return;
    }
}

void MapKeyUp(Context& ctx, MapKey key) {
    if (blocked(ctx)) return;
    if (key == MapKey::Shift) ctx.mapView.Selection_Mode = true;
}

} // namespace bifuel
