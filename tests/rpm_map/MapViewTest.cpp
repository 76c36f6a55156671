#include "MapFixture.h"

#include <tuple>

namespace bifuel::test {
namespace {

using MapGridView = MapFixture;

constexpr MapKey kArrows[] = {MapKey::Left, MapKey::Right, MapKey::Up, MapKey::Down};

Cells withText(const Context& ctx, const std::string& t) {
    Cells out;
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            if (ctx.rpmMap.Map_Text[c][r] == t) out.insert({c, r});
        }
    }
    return out;
}

TEST_F(MapGridView, DraggingFromC2R3ToC5R7SelectsTwentyCellsThatUpRaises) {
    MapCellMouseMove(ctx, 2, 3);
    MapCellMouseDown(ctx, 2, 3, MapMouseButton::Left);
    MapCellMouseMove(ctx, 6, 8);
    MapCellMouseMove(ctx, 5, 7); // back again: the rectangle shrinks with the pointer
    EXPECT_EQ(marked(kMarkSelected), rectangle(2, 3, 5, 7));
    MapCellMouseUp(ctx, 5, 7);
    EXPECT_EQ(marked(kMarkSelected).size(), 20u);
    EXPECT_EQ(marked(kMarkSelected), rectangle(2, 3, 5, 7));
    EXPECT_FALSE(ctx.mapView.Range_Drag);
    EXPECT_EQ(ctx.mapView.Cells[4][5].frameColour, colour(Colour::MapRPM_Select_Cell));

    MapKeyDown(ctx, MapKey::Up, false);
    EXPECT_EQ(withText(ctx, "1.01"), rectangle(2, 3, 5, 7));
    EXPECT_EQ(ctx.mapView.HudLabel_3D_MapRPM_CellData.text, "Factor : 1.01 ; Range = 0.01..1.99  ");
}

TEST_F(MapGridView, RightClickLeavesSelectionModeAndArrowsThenNeverChangeValues) {
    MapCellMouseDown(ctx, 2, 3, MapMouseButton::Left);
    MapCellMouseUp(ctx, 4, 4);
    MapCellMouseDown(ctx, 7, 0, MapMouseButton::Right);
    EXPECT_FALSE(ctx.mapView.Selection_Mode);
    EXPECT_TRUE(marked(kMarkSelected).empty());

    const auto texts = ctx.rpmMap.Map_Text;
    for (const bool shift : {false, true}) {
        for (const MapKey key : kArrows)
            MapKeyDown(ctx, key, shift);
    }
    EXPECT_EQ(ctx.rpmMap.Map_Text, texts);
}

TEST_F(MapGridView, ShiftRightThreeTimesSelectsC2R3ToC5R3) {
    MapCellMouseMove(ctx, 2, 3);
    MapKeyDown(ctx, MapKey::Shift, true);
    for (int i = 0; i < 3; ++i)
        MapKeyDown(ctx, MapKey::Right, true);
    EXPECT_EQ(marked(kMarkSelected), rectangle(2, 3, 5, 3));
    EXPECT_FALSE(ctx.mapView.Selection_Mode);

    MapKeyDown(ctx, MapKey::Left, true); // taking one back deselects it
    EXPECT_EQ(marked(kMarkSelected), rectangle(2, 3, 4, 3));
    MapKeyUp(ctx, MapKey::Shift);
    EXPECT_TRUE(ctx.mapView.Selection_Mode);
    MapKeyDown(ctx, MapKey::Right, false);
    EXPECT_EQ(withText(ctx, "1.01"), rectangle(2, 3, 4, 3));
}

TEST_F(MapGridView, ArrowsMoveTheHighlightedCurrentCellWithinTheGrid) {
    const MapView& v = ctx.mapView;
    MapKeyDown(ctx, MapKey::Right, false);
    EXPECT_EQ(v.Current, (MapCell{1, 0}));
    for (int i = 0; i < 2; ++i)
        MapKeyDown(ctx, MapKey::Down, false);
    EXPECT_EQ(v.Current, (MapCell{1, 2}));
    EXPECT_EQ(v.Cells[1][2].opacity, kCurrentCellOpacity);
    EXPECT_EQ(v.Cells[1][0].opacity, kHeaderCellOpacity);
    EXPECT_EQ(v.Cells[2][2].opacity, kFactorCellOpacity);
    for (int i = 0; i < 3; ++i)
        MapKeyDown(ctx, MapKey::Left, false);
    EXPECT_EQ(v.Current, (MapCell{0, 2}));
    for (int i = 0; i < 5; ++i)
        MapKeyDown(ctx, MapKey::Up, false);
    EXPECT_EQ(v.Current, (MapCell{0, 0}));
    EXPECT_EQ(v.HudLabel_3D_MapRPM_CellData.text, "");
    for (int i = 0; i < 20; ++i) {
        MapKeyDown(ctx, MapKey::Right, false);
        MapKeyDown(ctx, MapKey::Down, false);
    }
    EXPECT_EQ(v.Current, (MapCell{8, 12}));
}

TEST_F(MapGridView, EnterSelectsTheCurrentCellAndEnterOrEscLetsGo) {
    MapKeyDown(ctx, MapKey::Enter, false); // no current cell: nothing to select
    EXPECT_FALSE(ctx.mapView.Selection_Mode);
    MapCellMouseMove(ctx, 4, 4);
    MapKeyDown(ctx, MapKey::Enter, false);
    EXPECT_TRUE(ctx.mapView.Selection_Mode);
    EXPECT_EQ(marked(kMarkSelected), (Cells{{4, 4}}));
    MapKeyDown(ctx, MapKey::Down, false);
    EXPECT_EQ(text(4, 4), "0.99");
    MapKeyDown(ctx, MapKey::Enter, false);
    EXPECT_FALSE(ctx.mapView.Selection_Mode);
    EXPECT_TRUE(marked(kMarkSelected).empty());
    EXPECT_EQ(mark(4, 4), kMarkChanged);
    MapKeyDown(ctx, MapKey::Enter, false);
    MapKeyDown(ctx, MapKey::Escape, false);
    EXPECT_FALSE(ctx.mapView.Selection_Mode);
    EXPECT_TRUE(marked(kMarkSelected).empty());
}

TEST_F(MapGridView, HeaderClickSelectsItAloneAndTheCornerNothing) {
    MapCellMouseDown(ctx, 3, 0, MapMouseButton::Left);
    EXPECT_FALSE(ctx.mapView.Range_Drag);
    MapCellMouseMove(ctx, 5, 5); // no drag: the pointer only moves the current cell
    EXPECT_EQ(marked(kMarkSelected), (Cells{{3, 0}}));
    MapKeyDown(ctx, MapKey::Up, false);
    EXPECT_EQ(text(3, 0), "1100");

    MapCellMouseDown(ctx, 0, 0, MapMouseButton::Left);
    EXPECT_TRUE(marked(kMarkSelected).empty());
    const auto texts = ctx.rpmMap.Map_Text;
    MapKeyDown(ctx, MapKey::Up, false);
    EXPECT_EQ(ctx.rpmMap.Map_Text, texts);
}

TEST_F(MapGridView, InformationLabelNamesTheCurrentCellAndItsRange) {
    struct Case {
        MapCell cell;
        std::vector<std::tuple<int, int, const char*>> texts;
        const char* label;
    };
    const Case cases[] = {
        {{2, 3}, {}, "Factor : 1.00 ; Range = 0.01..1.99  "},
        {{1, 0}, {}, "R.P.M. = 0 r.p.m.; Range = 0..0  "},
        {{1, 0}, {{2, 0, "1000"}}, "R.P.M. = 0 r.p.m.; Range = 0..900  "},
        {{2, 0}, {}, "R.P.M. = 500 r.p.m.; Range = 500..900  "},
        {{3, 0}, {}, "R.P.M. = 1000 r.p.m.; Range = 600..1400  "},
        {{8, 0}, {}, "R.P.M. = 4000 r.p.m.; Range = 3100..8000  "},
        {{0, 1}, {}, "Petrol : 0.0 ms; Range = 0.0..0.9  "},
        {{0, 7}, {}, "Petrol : 7.0 ms; Range = 5.1..8.9  "},
        {{0, 12}, {}, "Petrol : 22.0 ms; Range = 18.1..23.0  "},
        {{0, 0}, {}, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        ResetMap(ctx);
        for (const auto& [c, r, t] : k.texts)
            text(c, r) = t;
        MapCellMouseMove(ctx, k.cell.c, k.cell.r);
        EXPECT_EQ(ctx.mapView.HudLabel_3D_MapRPM_CellData.text, k.label);
    }
}

// While a write runs, and before the map exists, the grid ignores the user.
TEST_F(MapGridView, NothingHappensDuringAWriteOrWithoutAGrid) {
    Context fresh{clock, line.host(), work.paths(false)};
    MapCellMouseMove(ctx, 3, 3);
    MapCellMouseDown(ctx, 3, 3, MapMouseButton::Left);
    MapCellMouseUp(ctx, 4, 4);
    ctx.link.Write_Running = true;
    for (Context* c : {&ctx, &fresh}) {
        c->link.ECU_Connected = true; // a step would start the debounced send
        const RpmMap map = c->rpmMap;
        const MapView view = c->mapView;
        MapCellMouseMove(*c, 6, 6);
        MapCellMouseDown(*c, 6, 6, MapMouseButton::Left);
        MapCellMouseUp(*c, 7, 7);
        MapCellMouseDown(*c, 6, 6, MapMouseButton::Right);
        for (const MapKey key : {MapKey::Up, MapKey::Enter, MapKey::Escape, MapKey::Shift}) {
            MapKeyDown(*c, key, false);
            MapKeyUp(*c, key);
        }
        EXPECT_EQ(c->rpmMap.Map_Text, map.Map_Text);
        EXPECT_EQ(c->rpmMap.Map_Mark, map.Map_Mark);
        EXPECT_EQ(c->mapView.Current, view.Current);
        EXPECT_EQ(c->mapView.Selection_Mode, view.Selection_Mode);
        EXPECT_FALSE(c->timers.Timer_GEN_Transmit->isRunning());
    }
}

} // namespace
} // namespace bifuel::test
