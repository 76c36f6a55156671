#include "DiagramFixture.h"

#include <random>
#include <sstream>

namespace bifuel::test {
namespace {

using Btn = DiagramMouseButton;
constexpr DiagramShift kLeftHeld{.left = true};

// Gas times in 1..ceiling (points 0..7 below it), petrol times rising within the axis, the
// end on the right edge or on the ceiling.
::testing::AssertionResult Sound(const DiagramTimes& petrol, const DiagramTimes& gas) {
    const DiagramHealth h = CheckDiagram(petrol, gas, 25000, 32000);
    if (h.sound()) return ::testing::AssertionSuccess();
    std::ostringstream out;
    out << "gas " << h.gas << " petrol " << h.petrol << " edge " << h.edge << ":";
    for (std::size_t i = 0; i < kDiagramPoints; ++i)
        out << " (" << petrol[i] << ", " << gas[i] << ")";
    return ::testing::AssertionFailure() << out.str();
}

class Invariant : public DiagramFixture {
  protected:
    // One random user action; returns what it was, for the failure message.
    std::string act(std::mt19937& rng) {
        auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        const int point = pick(kDiagramPoints);
        std::ostringstream what;
        switch (pick(6)) {
        case 0:
            DiagramKeyDown(ctx,
                           static_cast<DiagramKey>(static_cast<int>(DiagramKey::Digit0) + point));
            what << "select " << point;
            break;
        case 1:
            fix(point);
            what << "right press " << point;
            break;
        case 2: {
            const int gap = pick(2) == 0 ? 50 : 400; // held key or single presses
            const auto key = static_cast<DiagramKey>(static_cast<int>(DiagramKey::Left) + pick(4));
            clock.advance(gap);
            DiagramKeyDown(ctx, key);
            what << "key " << static_cast<int>(key) << " after " << gap << " ms";
            break;
        }
        case 3:
        case 4: {
            const double dx = pick(3) == 0 ? pick(801) - 400 : 0;
            const double dy = pick(801) - 400;
            Circle_CLB_PointMouseDown(ctx, point + 1, Btn::Left, kLeftHeld, 7, 7);
            Circle_CLB_PointMouseMove(ctx, point + 1, kLeftHeld, 7 + dx / 2, 7 + dy / 2);
            // Mid-drag the points are what the rules made of the request, unguarded.
            midDragSound = midDragSound && Sound(d().Petrol_Point, d().Gas_Point);
            const DiagramCircle& c = ctx.diagramView.Points[static_cast<std::size_t>(point)];
            Image_CLB_DiagramMouseUp(ctx, Btn::Left, {}, c.x + dx / 2, c.y + dy / 2);
            what << "drag " << point << " by (" << dx << ", " << dy << ")";
            break;
        }
        default:
            DiagramKeyDown(ctx, DiagramKey::Escape);
            what << "escape";
            break;
        }
        return what.str();
    }

    bool midDragSound = true;
};

TEST_F(Invariant, RandomEditsKeepTheDiagramSoundAndNeverWriteABrokenOne) {
    std::mt19937 rng(20240611);
    for (int run = 0; run < 150; ++run) {
        ctx.link.Ident.Firmware_Version = rng() % 2 ? 254 : 160;
        ctx.settings.Idle_Points = rng() % 2;
        d().Fixed_Point = 0;
        ResetDiagram(ctx);
        AfterDiagramRead(ctx);
        std::vector<std::string> done;
        for (int step = 0; step < 40; ++step) {
            done.push_back(act(rng));
            if (rng() % 2) clock.advance(2000); // let the debounced write fire
            auto trace = [&] {
                std::string all;
                for (const auto& s : done)
                    all += "\n  " + s;
                return all;
            };
            ASSERT_TRUE(midDragSound) << "during the last of" << trace();
            ASSERT_TRUE(Sound(d().Petrol_Point, d().Gas_Point)) << "after" << trace();
            if (ctx.link.Pending_Request == Request::WriteDiagram) {
                ctx.link.Pending_Request = Request::None;
                const DiagramEntry sent = writeNow();
                ASSERT_TRUE(Sound(sent.Petrol, sent.Gas)) << "written after" << trace();
            }
        }
    }
}

// The two shortest ways the rules as written leave End_On_Petrol_Max saying "top edge"
// while the end still lies on the right edge below the ceiling. The diagram itself stays
// sound and is written as it is.
TEST_F(Invariant, TheEndFlagCanDisagreeWithTheEndButTheDiagramStaysSound) {
    auto drag = [&](int point, double dy) {
        Circle_CLB_PointMouseDown(ctx, point + 1, Btn::Left, kLeftHeld, 7, 7);
        Circle_CLB_PointMouseMove(ctx, point + 1, kLeftHeld, 7, 7 + dy);
        Circle_CLB_PointMouseUp(ctx, point + 1, Btn::Left, {}, 7, 7 + dy);
    };
    // 1. Pivot and end at the same gas time: the lift into the corner stretches nothing.
    drag(7, -1); // point 7: 20400 -> 20450
    fix(7);
    drag(8, 54);   // end down to 20450, level with the pivot
    drag(8, -200); // past the ceiling
    EXPECT_FALSE(d().End_On_Petrol_Max);
    EXPECT_EQ(d().Petrol_Point[8], 25000);
    EXPECT_EQ(d().Gas_Point[8], 20450);
    EXPECT_TRUE(Sound(d().Petrol_Point, d().Gas_Point));
    EXPECT_EQ(writeNow(), (DiagramEntry{d().Petrol_Point, d().Gas_Point}));

    // 2. The lift is rolled back, but not the flag it cleared (firmware 1.56..1.99, where a
    // middle point may lie below its neighbours).
    ResetDiagram(ctx);
    AfterDiagramRead(ctx);
    ctx.link.Ident.Firmware_Version = 160;
    fix(3);
    drag(6, 172);  // point 6 down to 2150 gas
    drag(0, -288); // the shift would pass the ceiling: lift about point 3 takes point 6 to 0
    EXPECT_FALSE(d().End_On_Petrol_Max);
    EXPECT_EQ(d().Gas_Point[8], 25000);
    EXPECT_EQ(d().Petrol_Point[8], 25000);
    EXPECT_TRUE(Sound(d().Petrol_Point, d().Gas_Point));
}

} // namespace
} // namespace bifuel::test
