#include "DiagramFixture.h"

#include <numeric>

namespace bifuel::test {
namespace {

using Btn = DiagramMouseButton;

constexpr DiagramShift kLeftHeld{.left = true};
constexpr DiagramShift kNoButton{};

class Editing : public DiagramFixture {
  protected:
    DiagramEntry points() { return {d().Petrol_Point, d().Gas_Point}; }
};

TEST_F(Editing, RequestsSnapToTheFiftiesOfTheGrid) {
    struct Case {
        std::int32_t petrol, gas, petrolAfter, gasAfter;
    };
    const Case cases[] = {
        {12345, 13040, 12350, 13050},
        {12300, 13000, 12300, 13000},
        {12301, 12999, 12350, 12950},
        {12399, 13100, 12350, 13100},
    };
    for (const Case& c : cases) {
        select(5);
        MovePoint(ctx, c.petrol, c.gas);
        EXPECT_EQ(d().Petrol_Point[5], c.petrolAfter);
        EXPECT_EQ(d().Gas_Point[5], c.gasAfter);
    }
}

TEST_F(Editing, AMiddlePointStaysBetweenItsNeighbours) {
    struct Case {
        std::int32_t firmware, petrol, gas;
        bool moves;
    };
    const Case cases[] = {
        {254, 9000, 13000, false},  // onto the left neighbour's petrol time
        {254, 16050, 13000, false}, // past the right one
        {254, 12000, 16800, false}, // above the right neighbour's gas time
        {160, 12000, 16800, true},  // 1.56..1.99 accept any gas time
        {199, 12000, 9000, true},   {200, 12000, 9000, false},
        {160, 12000, 0, false},    // rolled back: gas time not above 0
        {160, 9000, 13000, false}, // petrol is still bounded
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware);
        ctx.link.Ident.Firmware_Version = c.firmware;
        setDiagram(kDefaultPetrol, kLpgGas, true);
        select(5);
        MovePoint(ctx, c.petrol, c.gas);
        EXPECT_EQ(d().Petrol_Point[5], c.moves ? c.petrol : 12000);
        EXPECT_EQ(d().Gas_Point[5], c.moves ? c.gas : 13040);
    }
}

TEST_F(Editing, PointZeroShiftsTheWholeCurveWithoutAFixedPoint) {
    select(0);
    MovePoint(ctx, 0, 2500);
    DiagramTimes raised = kLpgGas;
    for (std::int32_t& g : raised)
        g += 500;
    EXPECT_EQ(d().Gas_Point, raised);
    EXPECT_EQ(d().Petrol_Point, kDefaultPetrol);
    EXPECT_TRUE(d().End_On_Petrol_Max);
}

TEST_F(Editing, PointZeroLiftsTheEndIntoTheCornerWhenTheShiftWouldPassTheCeiling) {
    DiagramTimes gas = kLpgGas;
    gas[8] = 31800;
    setDiagram(kDefaultPetrol, gas, true);
    select(0);
    MovePoint(ctx, 0, 2500);
    EXPECT_FALSE(d().End_On_Petrol_Max);
    EXPECT_EQ(d().Gas_Point[0], 2000); // the first point waits for the next request
    EXPECT_EQ(d().Gas_Point[8], 32000);
    EXPECT_EQ(d().Petrol_Point[8], 25000);
    EXPECT_TRUE(std::is_sorted(d().Gas_Point.begin(), d().Gas_Point.end()));
}

TEST_F(Editing, PointZeroStretchesOnlyThePointsBelowTheFixedPoint) {
    fix(4);
    EXPECT_EQ(d().Fixed_Point, 4);
    select(0);
    MovePoint(ctx, 0, 2500);
    EXPECT_EQ(d().Gas_Point,
              (DiagramTimes{2500, 4229, 5958, 7687, 10280, 13040, 16720, 20400, 25000}));
}

TEST_F(Editing, PointZeroCannotTakeTheCurveToZero) {
    select(0);
    MovePoint(ctx, 0, 0);
    EXPECT_EQ(d().Gas_Point, kLpgGas);
}

TEST_F(Editing, TheEndPointTurnsTheCornerBothWaysWhenDragged) {
    select(8);
    MovePoint(ctx, 25000, 32000); // up the right edge to the top
    EXPECT_FALSE(d().End_On_Petrol_Max);
    EXPECT_EQ(d().Gas_Point[8], 32000);
    EXPECT_EQ(d().Petrol_Point[8], 25000);
    EXPECT_EQ(d().Gas_Point[2], 5680); // the idle-run points do not stretch

    MovePoint(ctx, 20000, 32000); // left along the top
    EXPECT_EQ(d().Petrol_Point[8], 20000);
    EXPECT_EQ(d().Gas_Point[8], 32000);
    EXPECT_TRUE(std::is_sorted(d().Petrol_Point.begin(), d().Petrol_Point.end()));

    MovePoint(ctx, 26000, 32500); // past the corner: the overshoot drops down the right edge
    EXPECT_TRUE(d().End_On_Petrol_Max);
    EXPECT_EQ(d().Petrol_Point[8], 25000);
    EXPECT_EQ(d().Gas_Point[8], 31000);
}

TEST_F(Editing, TheEndPointKeysFollowTheEdgeAroundTheCorner) {
    select(8);
    struct Step {
        DiagramKey key;
        std::int32_t petrol, gas;
        bool endOnRight;
    };
    // Presses far apart, so every one is a single step.
    const Step steps[] = {
        {DiagramKey::Up, 25000, 25050, true},
        {DiagramKey::Left, 25000, 25100, true}, // Left climbs the right edge
        {DiagramKey::Right, 25000, 25050, true},
    };
    for (const Step& s : steps) {
        clock.advance(1000);
        KeyStep(ctx, s.key);
        EXPECT_EQ(d().Petrol_Point[8], s.petrol);
        EXPECT_EQ(d().Gas_Point[8], s.gas);
        EXPECT_EQ(d().End_On_Petrol_Max, s.endOnRight);
    }

    DiagramTimes gas = kLpgGas;
    gas[8] = 31950;
    setDiagram(kDefaultPetrol, gas, true);
    select(8);
    const Step corner[] = {
        {DiagramKey::Up, 25000, 32000, false},   // into the corner, now on the top edge
        {DiagramKey::Up, 24950, 32000, false},   // Up goes left along the top
        {DiagramKey::Right, 25000, 32000, true}, // back to the corner, end on the right
        {DiagramKey::Right, 25000, 31950, true}, // and down the right edge
    };
    for (const Step& s : corner) {
        clock.advance(1000);
        KeyStep(ctx, s.key);
        EXPECT_EQ(d().Petrol_Point[8], s.petrol);
        EXPECT_EQ(d().Gas_Point[8], s.gas);
        EXPECT_EQ(d().End_On_Petrol_Max, s.endOnRight);
    }
}

TEST_F(Editing, TheEndKeepsAMillisecondFromTheFirstPointThatStretches) {
    DiagramTimes petrol = kDefaultPetrol;
    DiagramTimes gas = kLpgGas;
    petrol[8] = 24000;
    gas[8] = 32000;
    setDiagram(petrol, gas, false);
    fix(6); // pivot 6: points 7 and 8 stretch; point 7 is at 20000
    select(8);
    MovePoint(ctx, 20950, 32000);
    EXPECT_EQ(d().Petrol_Point[8], 24000);
    MovePoint(ctx, 21000, 32000);
    EXPECT_EQ(d().Petrol_Point[8], 21000);
    EXPECT_EQ(d().Petrol_Point[7], 16000 + (20000 - 16000) * 5000 / 8000);
}

TEST_F(Editing, HeldArrowKeysAccelerateToTwentyStepsAPress) {
    ctx.link.Ident.Firmware_Version = 160; // any gas time, so the point can climb far
    select(5);
    KeyStep(ctx, DiagramKey::Up); // 13040 + 50, snapped to 13050
    std::vector<std::int32_t> steps;
    for (int i = 0; i < 21; ++i) {
        clock.advance(100);
        const std::int32_t before = d().Gas_Point[5];
        KeyStep(ctx, DiagramKey::Up);
        steps.push_back((d().Gas_Point[5] - before) / kKeyStepUs);
    }
    std::vector<std::int32_t> expected(21);
    std::iota(expected.begin(), expected.begin() + 19, 2);
    std::fill(expected.begin() + 19, expected.end(), 20);
    EXPECT_EQ(steps, expected);

    clock.advance(kKeyRepeatMs); // the repeat timer runs out
    const std::int32_t before = d().Gas_Point[5];
    KeyStep(ctx, DiagramKey::Down);
    EXPECT_EQ(d().Gas_Point[5], before - kKeyStepUs);
}

TEST_F(Editing, ADragMovesThePointAndSendsOnceWhenReleased) {
    const auto pushes = d().History_Count;
    Circle_CLB_PointMouseDown(ctx, 5, Btn::Left, kLeftHeld, 7, 7);
    EXPECT_EQ(d().Selected_Point, 4);
    EXPECT_TRUE(d().Dragging);
    // 10 px left and 5 px down: 25000 * 10 / 549 = 455.4 us, 32000 * 5 / 377 = 424.4 us.
    Circle_CLB_PointMouseMove(ctx, 5, kLeftHeld, -3, 12);
    EXPECT_EQ(d().Petrol_Point[4], 8550); // 8545 snapped
    EXPECT_EQ(d().Gas_Point[4], 9850);    // 9856 snapped
    EXPECT_EQ(d().History_Count, pushes); // nothing is sent while dragging
    EXPECT_FALSE(ctx.timers.Timer_GEN_Transmit->isRunning());

    Circle_CLB_PointMouseUp(ctx, 5, Btn::Left, kNoButton, -3, 12);
    EXPECT_EQ(d().History_Count, pushes + 1);
    EXPECT_TRUE(ctx.timers.Timer_GEN_Transmit->isRunning());
    EXPECT_EQ(d().Selected_Point, -1);
    EXPECT_FALSE(d().Edit_Armed);
    EXPECT_FALSE(d().Dragging);
}

TEST_F(Editing, AnEditThatChangedNothingLeavesNoEntryAndSendsNothing) {
    const auto pushes = d().History_Count;
    // A drag whose only move is refused: point 4 onto point 5's petrol time.
    Circle_CLB_PointMouseDown(ctx, 5, Btn::Left, kLeftHeld, 7, 7);
    Circle_CLB_PointMouseMove(ctx, 5, kLeftHeld, 7 + 549.0 * 3000 / 25000, 7);
    Circle_CLB_PointMouseUp(ctx, 5, Btn::Left, kNoButton, 7 + 549.0 * 3000 / 25000, 7);
    EXPECT_EQ(points(), (DiagramEntry{kDefaultPetrol, kLpgGas}));
    select(0);
    KeyStep(ctx, DiagramKey::Left); // the first point's petrol time never changes
    EXPECT_EQ(d().History_Count, pushes);
    EXPECT_FALSE(ctx.timers.Timer_GEN_Transmit->isRunning());
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
}

TEST_F(Editing, AClickWithoutAMoveKeepsThePointArmedForTheKeys) {
    Circle_CLB_PointMouseDown(ctx, 5, Btn::Left, kLeftHeld, 7, 7);
    Circle_CLB_PointMouseUp(ctx, 5, Btn::Left, kNoButton, 7, 7);
    EXPECT_EQ(d().Selected_Point, 4);
    EXPECT_TRUE(d().Edit_Armed);
    DiagramKeyDown(ctx, DiagramKey::Up);
    EXPECT_EQ(d().Gas_Point[4], 10350);
    DiagramKeyDown(ctx, DiagramKey::Escape);
    EXPECT_EQ(d().Selected_Point, -1);
    EXPECT_FALSE(d().Edit_Armed);
    DiagramKeyDown(ctx, DiagramKey::Up); // not armed: ignored
    EXPECT_EQ(d().Gas_Point[4], 10350);
}

TEST_F(Editing, HoveringSelectsWithoutArmingAndTheEmptyDiagramDeselects) {
    Circle_CLB_PointMouseMove(ctx, 4, kNoButton, 5, 5);
    EXPECT_EQ(d().Selected_Point, 3);
    EXPECT_FALSE(d().Edit_Armed);
    EXPECT_EQ(ctx.diagramView.Points[3].colour, Colour::Diagram_Marked);
    DiagramKeyDown(ctx, DiagramKey::Up);
    EXPECT_EQ(d().Gas_Point, kLpgGas);
    Image_CLB_DiagramMouseMove(ctx, kNoButton, 300, 300);
    EXPECT_EQ(d().Selected_Point, -1);
    EXPECT_EQ(ctx.diagramView.Points[3].colour, Colour::Diagram);
}

TEST_F(Editing, AShownIdlePointCannotBeSelectedNorDragOtherPoints) {
    ctx.settings.Idle_Points = true; // idle-run points 1 and 2 (circles 2 and 3)
    select(4);
    Circle_CLB_PointMouseDown(ctx, 3, Btn::Left, kLeftHeld, 7, 7);
    EXPECT_EQ(d().Selected_Point, 4);
    EXPECT_FALSE(d().Dragging);
    Circle_CLB_PointMouseMove(ctx, 3, kLeftHeld, 40, 7);
    EXPECT_EQ(d().Petrol_Point, kDefaultPetrol);
    DiagramKeyDown(ctx, DiagramKey::Digit2);
    EXPECT_EQ(d().Selected_Point, 4);
    ctx.settings.Idle_Points = false;
    DiagramKeyDown(ctx, DiagramKey::Digit2);
    EXPECT_EQ(d().Selected_Point, 2);
}

TEST_F(Editing, TheIdleRunBoxShowsTheIdlePointsAndLetsASelectedOneGo) {
    select(2);
    HudCheckBox_CLB_Idle_RunChange(ctx, true);
    EXPECT_TRUE(ctx.settings.Idle_Points);
    EXPECT_EQ(d().Selected_Point, -1);
    EXPECT_FALSE(d().Edit_Armed);
    EXPECT_EQ(ctx.diagramView.Points[1].colour, Colour::Diagram_Idle);
    EXPECT_EQ(ctx.diagramView.Points[2].colour, Colour::Diagram_Idle);

    select(5); // any other point stays taken when the box changes
    HudCheckBox_CLB_Idle_RunChange(ctx, false);
    HudCheckBox_CLB_Idle_RunChange(ctx, true);
    EXPECT_EQ(d().Selected_Point, 5);
    HudCheckBox_CLB_Idle_RunChange(ctx, false);
    EXPECT_FALSE(ctx.settings.Idle_Points);
    EXPECT_EQ(ctx.diagramView.Points[1].colour, Colour::Diagram);
}

TEST_F(Editing, ARightPressTogglesTheFixedPointOnMiddlePointsOnly) {
    select(3);
    fix(3);
    EXPECT_EQ(d().Fixed_Point, 3);
    EXPECT_EQ(d().Selected_Point, -1);
    fix(6);
    EXPECT_EQ(d().Fixed_Point, 6);
    fix(6);
    EXPECT_EQ(d().Fixed_Point, 0);
    fix(0);
    fix(8);
    EXPECT_EQ(d().Fixed_Point, 0);
}

TEST_F(Editing, ADragGoesOnOverTheImageUntilTheButtonComesUp) {
    Circle_CLB_PointMouseDown(ctx, 5, Btn::Left, kLeftHeld, 3, 4);
    const DiagramCircle c = ctx.diagramView.Points[4];
    // The spot taken, 20 px to the right: 25000 * 20 / 549 = 910.7 us.
    Image_CLB_DiagramMouseMove(ctx, kLeftHeld, c.x - c.size / 2 + 3 + 20, c.y - c.size / 2 + 4);
    EXPECT_EQ(d().Petrol_Point[4], 9950); // 9911 snapped
    EXPECT_EQ(d().Gas_Point[4], 10250);
    EXPECT_TRUE(d().Dragging);

    // The button came up outside: the next move ends the drag and sends.
    const auto pushes = d().History_Count;
    Image_CLB_DiagramMouseMove(ctx, kNoButton, 10, 10);
    EXPECT_FALSE(d().Dragging);
    EXPECT_EQ(d().Selected_Point, -1);
    EXPECT_EQ(d().History_Count, pushes + 1);

    // A release over the image makes one last move first.
    Circle_CLB_PointMouseDown(ctx, 5, Btn::Left, kLeftHeld, 3, 4);
    const DiagramCircle moved = ctx.diagramView.Points[4];
    Image_CLB_DiagramMouseUp(ctx, Btn::Left, kNoButton, moved.x - moved.size / 2 + 3 - 20,
                             moved.y - moved.size / 2 + 4);
    EXPECT_EQ(d().Petrol_Point[4], 9050);
    EXPECT_EQ(d().History_Count, pushes + 2);
}

TEST_F(Editing, ARightPressOnTheImageOpensTheHistoryPanelAtThePointer) {
    select(4);
    KeyStep(ctx, DiagramKey::Up);
    Image_CLB_DiagramMouseDown(ctx, Btn::Right, kNoButton, 200, 100);
    const HistoryPanelView& p = ctx.diagramView.History_Panel;
    ASSERT_TRUE(p.open);
    EXPECT_EQ(p.panel, (DiagramRect{148.5, 66, 103, 75}));
    EXPECT_EQ(p.label.text, "History diagram");
    EXPECT_EQ(p.back.rect, (DiagramRect{4, 23, 95, 22}));
    EXPECT_EQ(p.forward.rect, (DiagramRect{4, 49, 95, 22}));
    EXPECT_TRUE(p.back.enabled);
    EXPECT_FALSE(p.forward.enabled);
    EXPECT_EQ(d().Selected_Point, 4); // a right press does not deselect
    Image_CLB_DiagramMouseMove(ctx, kNoButton, 201, 100);
    EXPECT_FALSE(p.open);
}

} // namespace
} // namespace bifuel::test
