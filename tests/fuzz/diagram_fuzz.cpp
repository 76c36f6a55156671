// The diagram's editing operations in any order with any values: the diagram stays
// sound, every point within the axes and the petrol points in order.
#include "FuzzCheck.h"

#include "Context.h"
#include "MemoryLine.h"
#include "calibration/Calibr_Ctrl.h"
#include "calibration/Calibr_Unit.h"
#include "runtime/VirtualScheduler.h"

namespace {

std::string describe(const bifuel::DiagramModel& d) {
    std::string out;
    for (std::size_t i = 0; i < d.Petrol_Point.size(); ++i) {
        out +=
            "(" + std::to_string(d.Petrol_Point[i]) + ", " + std::to_string(d.Gas_Point[i]) + ") ";
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bifuel;
    VirtualScheduler clock;
    sim::MemoryLine line(clock);
    Context ctx(clock, line.host(), MakePaths(fuzz::WorkFolder() / "diagram", "bifuel-studio"));
    ResetDiagram(ctx);
    std::size_t at = 0;
    const auto next = [&]() -> std::uint32_t { return at < size ? data[at++] : 0; };
    const auto word = [&]() -> std::int32_t {
        // Values up to well past the axes, and below zero.
        return static_cast<std::int32_t>((next() << 8 | next()) * 2) - 20000;
    };
    while (at < size) {
        switch (next() % 7) {
        case 0:
            SelectPoint(ctx, static_cast<int>(next() % 9) + 1,
                        static_cast<DiagramMouseButton>(next() % 3));
            break;
        case 1:
            MovePoint(ctx, word(), word());
            break;
        case 2:
            KeyStep(ctx, static_cast<DiagramKey>(next() % 15));
            break;
        case 3:
            DiagramKeyDown(ctx, static_cast<DiagramKey>(next() % 15));
            break;
        case 4:
            Deselect(ctx, static_cast<DiagramMouseButton>(next() % 3));
            break;
        case 5:
            OnKeyRepeatTimer(ctx);
            break;
        default:
            clock.advance(static_cast<std::int64_t>(next()) * 10);
            break;
        }
        const DiagramModel& d = ctx.diagram;
        for (std::size_t i = 0; i < d.Petrol_Point.size(); ++i) {
            fuzz::Require(d.Petrol_Point[i] >= 0 && d.Petrol_Point[i] <= d.Petrol_Axis_Max,
                          "every petrol time lies on the axis", describe(d));
            fuzz::Require(d.Gas_Point[i] >= 0 && d.Gas_Point[i] <= d.Gas_Axis_Max,
                          "every gas time lies on the axis", describe(d));
            if (i > 0) {
                fuzz::Require(d.Petrol_Point[i] >= d.Petrol_Point[i - 1],
                              "the petrol points keep their order", describe(d));
            }
        }
    }
    return 0;
}
