#include "MapFixture.h"

#include <map>

namespace bifuel::test {
namespace {

using MapLive = MapFixture;

// Which cells show a frame, and in what colour.
std::map<std::pair<int, int>, std::string> frames(const Context& ctx) {
    std::map<std::pair<int, int>, std::string> out;
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            const MapCellView& v = ctx.mapView.Cells[c][r];
            if (v.frameVisible) out[{c, r}] = v.frameColour;
        }
    }
    return out;
}

TEST_F(MapLive, LiveCellIsTheLastHeaderBelowTheEngineSpeedAndPetrolTime) {
    struct Case {
        std::int32_t rpm;
        std::int32_t petrolUs;
        MapCell cell;
    };
    const Case cases[] = {
        {800, 2800, {2, 3}},
        {1000, 2000, {2, 2}}, // a header equal to the value is not below it
        {0, 0, {1, 1}},
        {9000, 30000, {8, 12}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::Message() << k.rpm << " rpm, " << k.petrolUs << " us");
        live(k.rpm, k.petrolUs);
        EXPECT_EQ(ctx.rpmMap.Live_Cell, k.cell);
        EXPECT_EQ(ctx.mapView.Cells[k.cell.c][k.cell.r].frameColour, colour(Colour::MapRPM_Pet));
    }
    live(800, 2800, kModeGas);
    EXPECT_EQ(ctx.mapView.Cells[2][3].frameColour, colour(Colour::MapRPM_Gas));
}

TEST_F(MapLive, PetrolTimeBelowTheFirstRowGivesRowZeroAndNoFrame) {
    text(0, 1) = "0.5";
    UpdateMarks(ctx); // the changed header is framed as such, nothing else
    const auto before = frames(ctx);
    live(1200, 300);
    EXPECT_EQ(ctx.rpmMap.Live_Cell, (MapCell{3, 0}));
    EXPECT_EQ(frames(ctx), before);
    EXPECT_EQ(ctx.mapView.HudLabel_3D_MapRPM_CellData.colour, "");
}

TEST_F(MapLive, LabelColourShowsWhetherTheLiveCellCorrects) {
    text(2, 3) = "1.10";
    live(800, 2800);
    EXPECT_EQ(ctx.mapView.HudLabel_3D_MapRPM_CellData.colour, colour(Colour::MapRPM_Cell_Corr));
    live(800, 1500); // (2, 2): 1.00
    EXPECT_EQ(ctx.mapView.HudLabel_3D_MapRPM_CellData.colour, "");
}

// The engine's way through the map: new cells only, at most 64, the oldest dropped first.
TEST_F(MapLive, TraceKeeps64CellsAndShrinksEveryHalfSecond) {
    const auto visit = [&](int i) {
        const int c = 1 + i % 8;
        const int r = 1 + (i / 8) % 12;
        live(Default_Map_Rpm[c] + 1, Default_Map_Ms[r] * 100 + 1);
        return MapCell{c, r};
    };
    std::vector<MapCell> visited;
    for (int i = 0; i < 70; ++i)
        visited.push_back(visit(i));
    visit(69); // the same cell again adds nothing
    const RpmMap& m = ctx.rpmMap;
    ASSERT_EQ(m.Map_Tail_Count, kMapTailCapacity);
    EXPECT_TRUE(std::equal(m.Map_Tail.begin(), m.Map_Tail.end(), visited.begin() + 6));

    const auto f = frames(ctx);
    EXPECT_EQ(f.at({visited[10].c, visited[10].r}), colour(Colour::MapRPM_Pet_Tail));
    EXPECT_EQ(f.at({visited[69].c, visited[69].r}), colour(Colour::MapRPM_Pet));

    clock.advance(kMapTailMs);
    EXPECT_EQ(m.Map_Tail_Count, kMapTailCapacity - 1);
    EXPECT_EQ(m.Map_Tail[0], visited[7]);
    clock.advance(62 * kMapTailMs);
    EXPECT_EQ(m.Map_Tail_Count, 1u);
    EXPECT_EQ(frames(ctx).size(), 1u); // one entry is no trace: only the live cell
    clock.advance(kMapTailMs);
    EXPECT_FALSE(ctx.timers.Timer_3D_MapRPM_Tail->isRunning());

    // New cells keep coming: the trace still shrinks at its own pace.
    for (int i = 0; i < 10; ++i) {
        visit(i);
        clock.advance(200);
    }
    EXPECT_EQ(m.Map_Tail_Count, 11u - 2000 / kMapTailMs); // the last cell and ten new ones
}

} // namespace
} // namespace bifuel::test
