// Calibration benchmarks: the diagram view refresh that runs after every live-data reply,
// and one move of the end point as a drag or an arrow key makes it.
#include "Context.h"
#include "MemoryLine.h"
#include "calibration/Calibr_Create.h"
#include "calibration/Calibr_Ctrl.h"
#include "calibration/Calibr_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <benchmark/benchmark.h>

namespace bifuel {
namespace {

// A connected Graph page with the LPG default diagram, all 32 MAP bands recorded on both
// lists, the vacuum point on and a point selected (guide lines and position label).
struct GraphPage {
    GraphPage() {
        ctx.link.ECU_Connected = true;
        ctx.link.Main_Shown = true;
        ctx.config.Save_Map = true;
        ctx.settings.Map_Point = true;
        ctx.settings.Idle_Points = true;
        ResetDiagram(ctx);
        AfterDiagramRead(ctx);
        for (std::size_t k = 0; k < kMapPointsMax; ++k) {
            ctx.mapPoints.MAP_Petrol[k] = static_cast<std::int32_t>(200 + 70 * k);
            ctx.mapPoints.MAP_Gas[k] = static_cast<std::int32_t>(230 + 72 * k);
        }
        ctx.live.Live_Petrol_Avg = 6400;
        ctx.live.Live_Gas_Avg = 8100;
        ctx.live.Live_PressColl = 55;
        ctx.diagram.Fixed_Point = 4;
        SelectPoint(ctx, 4, DiagramMouseButton::Left);
    }

    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host()};
};

void BM_DiagramRefresh(benchmark::State& state) {
    GraphPage page;
    for (auto _ : state) {
        RefreshDiagram(page.ctx);
        benchmark::DoNotOptimize(page.ctx.diagramView.Map_Pairs[31].length);
    }
    if (page.ctx.diagramView.Map_Pair_Count != kMapPointsMax)
        state.SkipWithError("MAP pairs not drawn");
    if (!page.ctx.diagramView.Guides_Visible) state.SkipWithError("no guide lines");
}
BENCHMARK(BM_DiagramRefresh)->Repetitions(5)->ReportAggregatesOnly(true);

// The end point stretches points 5..7 about the fixed point 4, alternating between two
// gas times so that every request changes the diagram.
void endPointMoves(benchmark::State& state, bool dragging) {
    GraphPage page;
    Context& ctx = page.ctx;
    SelectPoint(ctx, 9, DiagramMouseButton::Left);
    ctx.diagram.Dragging = dragging;
    std::int32_t gas = 24000;
    for (auto _ : state) {
        gas = gas == 24000 ? 26000 : 24000;
        MovePoint(ctx, 25000, gas);
        benchmark::DoNotOptimize(ctx.diagram.Gas_Point[6]);
    }
    if (ctx.diagram.Gas_Point[4] != 10280 || ctx.diagram.Gas_Point[8] != gas) {
        state.SkipWithError("the move did not stretch about point 4");
    }
}

// During a drag: no history entry and no write yet.
void BM_MovePointEndWithPivot(benchmark::State& state) {
    endPointMoves(state, true);
}
BENCHMARK(BM_MovePointEndWithPivot)->Repetitions(5)->ReportAggregatesOnly(true);

// An arrow key: the move, a history entry and the restarted transmit delay.
void BM_MovePointEndWithPivotAndSend(benchmark::State& state) {
    endPointMoves(state, false);
}
BENCHMARK(BM_MovePointEndWithPivotAndSend)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
} // namespace bifuel

BENCHMARK_MAIN();
