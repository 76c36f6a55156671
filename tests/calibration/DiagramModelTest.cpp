#include "DiagramFixture.h"

#include "data/Calc_Unit.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Receiver_Unit.h"

namespace bifuel::test {
namespace {

struct ResetCase {
    const char* injector;
    bool lpg;
    DiagramTimes gas;
};

TEST(ResetDiagram, GivesTheDefaultLineOfTheInjectorAndGas) {
    const ResetCase cases[] = {
        {"RAIL IG1 3 Om", true, kLpgGas},
        {"RAIL IG1 3 Om", false, {2000, 3840, 5680, 7520, 10280, 13040, 14440, 15880, 17680}},
        {"VALTEK 1 Om", true, {1000, 2840, 4680, 6520, 9280, 12040, 15720, 19400, 24000}},
        {"RAIL IG3 2.8 Om", true, {1500, 3340, 5180, 7020, 9780, 12540, 16220, 19900, 24500}},
        // CNG continues from the whole milliseconds of point 5 (12040 -> 12 ms).
        {"KEIHIN", false, {1000, 2840, 4680, 6520, 9280, 12040, 13440, 14880, 16680}},
        {"no such injector", true, kLpgGas},
    };
    for (const ResetCase& c : cases) {
        SCOPED_TRACE(std::string(c.injector) + (c.lpg ? " LPG" : " CNG"));
        Configuration_Class cfg;
        cfg.Injector_Type = c.injector;
        cfg.LPG_on = c.lpg;
        DiagramModel d;
        d.Idle_Point = 5;
        d.End_On_Petrol_Max = false;
        PushHistory(d);
        ResetDiagram(d, cfg);
        EXPECT_EQ(d.Gas_Point, c.gas);
        EXPECT_EQ(d.Petrol_Point, kDefaultPetrol);
        EXPECT_EQ(d.Idle_Point, 2);
        EXPECT_EQ(d.Gas_Axis_Max, 32000);
        EXPECT_EQ(d.Petrol_Axis_Max, 25000);
        // Callers push, send and commit as they need.
        EXPECT_FALSE(d.End_On_Petrol_Max);
        EXPECT_EQ(d.History_Count, 1);
        EXPECT_EQ(d.Committed_Gas, DiagramTimes{});
    }
}

TEST(CommitOrRollback, AcceptsGasTimesInRangeAndRestoresOthers) {
    struct Case {
        std::size_t point;
        std::int32_t gas;
        bool accepted;
    };
    const Case cases[] = {
        {3, 0, false},    {0, -50, false},  {7, 32000, false},
        {5, 31999, true}, {8, 32000, true}, // the end may lie on the ceiling
        {8, 32001, true},                   // not tested here: no rule moves it there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.point);
        DiagramModel d;
        d.Petrol_Point = kDefaultPetrol;
        d.Gas_Point = kLpgGas;
        d.Committed_Petrol = kDefaultPetrol;
        d.Committed_Gas = kLpgGas;
        d.Gas_Point[c.point] = c.gas;
        d.Petrol_Point[1] = 2500;
        CommitOrRollback(d);
        DiagramTimes expected = kLpgGas;
        if (c.accepted) expected[c.point] = c.gas;
        EXPECT_EQ(d.Gas_Point, expected);
        EXPECT_EQ(d.Committed_Gas, expected);
        EXPECT_EQ(d.Petrol_Point[1], c.accepted ? 2500 : 2000);
    }
}

TEST_F(DiagramFixture, SlopeItemsStayPositiveAndNeverDivideByZero) {
    d().Petrol_Point[2] = d().Petrol_Point[1]; // equal neighbours
    d().Gas_Point[4] = 5000;                   // a falling segment 3 -> 4
    ComputeSlopes(d());
    auto slopeItem = [&](std::size_t point) {
        const auto b = EncodeDiagramItem(ctx, DiagramWriteList()[3 * point]);
        return b[0] * 256 + b[1];
    };
    EXPECT_EQ(slopeItem(0), 128);
    EXPECT_EQ(slopeItem(2), 128);
    EXPECT_EQ(slopeItem(4), TruncToInt((7520.0 - 5000) / 3000 * 128));
    EXPECT_EQ(slopeItem(1), TruncToInt(0.92 * 128));
}

TEST(History, KeepsTheNewestTwentyEntries) {
    DiagramModel d;
    for (int n = 0; n < kHistorySize + 1; ++n) {
        d.Gas_Point[0] = 1000 + n;
        PushHistory(d);
    }
    EXPECT_EQ(d.History_Count, kHistorySize);
    EXPECT_EQ(d.History_Position, kHistorySize);
    EXPECT_EQ(d.Diagram_History.front().Gas[0], 1001); // 1000 was dropped
    EXPECT_EQ(d.Diagram_History.back().Gas[0], 1000 + kHistorySize);
}

TEST_F(DiagramFixture, StepBackAndForwardMoveThroughTheHistoryAndWrite) {
    const DiagramEntry read{d().Petrol_Point, d().Gas_Point};
    select(4);
    KeyStep(ctx, DiagramKey::Up);
    const DiagramEntry edited{d().Petrol_Point, d().Gas_Point};
    ASSERT_NE(edited, read);
    ASSERT_EQ(d().History_Count, 2);
    EXPECT_FALSE(CanStepForward(d()));

    OpenHistoryPanel(ctx, 100, 100);
    HistoryBack(ctx);
    EXPECT_EQ((DiagramEntry{d().Petrol_Point, d().Gas_Point}), read);
    EXPECT_EQ(ctx.link.Pending_Request, Request::WriteDiagram);
    EXPECT_FALSE(ctx.diagramView.History_Panel.open);
    EXPECT_FALSE(CanStepBack(d()));
    EXPECT_TRUE(CanStepForward(d()));

    ctx.link.Pending_Request = Request::None;
    HistoryBack(ctx); // nothing further back
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);

    HistoryForward(ctx);
    EXPECT_EQ((DiagramEntry{d().Petrol_Point, d().Gas_Point}), edited);
    EXPECT_EQ(ctx.link.Pending_Request, Request::WriteDiagram);
}

TEST_F(DiagramFixture, HistoryStepsDoNothingWhileDisconnected) {
    select(4);
    KeyStep(ctx, DiagramKey::Up);
    const DiagramTimes edited = d().Gas_Point;
    ctx.link.ECU_Connected = false;
    HistoryBack(ctx);
    EXPECT_EQ(d().Gas_Point, edited);
    EXPECT_EQ(d().History_Position, 2);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
}

TEST_F(DiagramFixture, AnArmedPointEditsTheDiagramAStepBackBroughtNotTheOneBefore) {
    select(4);
    KeyStep(ctx, DiagramKey::Up); // 10280 -> 10350, point 4 stays armed
    HistoryBack(ctx);
    ASSERT_EQ(d().Gas_Point, kLpgGas);
    clock.advance(1000);
    KeyStep(ctx, DiagramKey::Right); // (9050, 10280 snapped to 10250), not 10350
    EXPECT_EQ(d().Petrol_Point[4], 9050);
    EXPECT_EQ(d().Gas_Point[4], 10250);
}

// The end is taken to the ceiling, left along the top and back down the right edge; a step
// back brings the diagram with its end on the top edge, and the first point must then move
// the curve as an end on the top edge asks (the end slides), not as one on the right edge.
TEST_F(DiagramFixture, TheEndFlagFollowsTheDiagramAfterAHistoryStepAndALoad) {
    select(8);
    MovePoint(ctx, 25000, 32000);
    MovePoint(ctx, 20000, 32000);
    MovePoint(ctx, 26000, 32500);
    ASSERT_TRUE(d().End_On_Petrol_Max);
    HistoryBack(ctx);
    ASSERT_EQ(d().Petrol_Point[8], 20000);
    EXPECT_FALSE(d().End_On_Petrol_Max);

    const auto pushed = d().History_Count;
    select(0);
    MovePoint(ctx, 0, 1500);
    EXPECT_EQ(d().Gas_Point[0], 1500);
    EXPECT_EQ(d().Gas_Point[8], 32000);
    EXPECT_EQ(d().Petrol_Point[8], 20500); // the curve fell by 500 us: the end slid right
    EXPECT_TRUE(CheckDiagram(d()).sound());
    EXPECT_EQ(d().History_Count, pushed + 1); // kept and sent, not refused

    // A file whose end lies on the top edge, loaded over a diagram with it on the right.
    ctx.settings.CFG_Full_File_Name = (work.path() / "top.cfg").string();
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    ResetDiagram(ctx);
    AfterDiagramRead(ctx);
    ASSERT_TRUE(d().End_On_Petrol_Max);
    ASSERT_TRUE(LoadConfigFile(ctx));
    EXPECT_EQ(d().Petrol_Point[8], 20500);
    EXPECT_FALSE(d().End_On_Petrol_Max);
}

TEST_F(DiagramFixture, ADiagramReadSetsTheEndFlagFromTheLastPetrolTime) {
    for (const auto& [petrol8, onRight] : {std::pair{25000, true}, {24000, false}}) {
        d().Petrol_Point[8] = petrol8;
        d().End_On_Petrol_Max = !onRight;
        select(3);
        const auto before = d().History_Count;
        AfterDiagramRead(ctx);
        EXPECT_EQ(d().End_On_Petrol_Max, onRight);
        EXPECT_EQ(d().Selected_Point, -1);
        EXPECT_EQ(d().History_Count, before + 1);
    }
}

TEST_F(DiagramFixture, AnEditIsPushedAtOnceAndWrittenAfterTheTransmitDelay) {
    ctx.settings.CFG_Transmit_Delay = 800;
    select(4);
    KeyStep(ctx, DiagramKey::Up);
    EXPECT_EQ(d().History_Count, 2);
    EXPECT_EQ(d().Diagram_History[1].Gas[4], 10350);
    clock.advance(799);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
    clock.advance(1);
    EXPECT_EQ(ctx.link.Pending_Request, Request::WriteDiagram);

    // No selection, or no ECU: no history entry and no write.
    ctx.link.Pending_Request = Request::None;
    Deselect(ctx, DiagramMouseButton::Left);
    SendDiagramAfterEdit(ctx);
    ctx.link.ECU_Connected = false;
    select(4);
    SendDiagramAfterEdit(ctx);
    clock.advance(2000);
    EXPECT_EQ(d().History_Count, 2);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
}

TEST_F(DiagramFixture, AnEditThatBrokeTheDiagramIsNeitherKeptNorSent) {
    struct Case {
        const char* what;
        std::size_t point;
        std::int32_t petrol;
        std::int32_t gas;
    };
    const Case cases[] = {
        {"petrol times not rising", 5, 9000, 13040},
        {"end off both edges", 8, 24000, 25000},
        {"gas time on the ceiling", 6, 16000, 32000},
        {"gas time zero", 0, 0, 0},
    };
    select(4);
    KeyStep(ctx, DiagramKey::Up);
    const DiagramEntry last{d().Petrol_Point, d().Gas_Point};
    clock.advance(5000);
    ctx.link.Pending_Request = Request::None;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        select(4);
        d().Petrol_Point[c.point] = c.petrol; // as if a rule had gone wrong
        d().Gas_Point[c.point] = c.gas;
        d().End_On_Petrol_Max = false;
        SendDiagramAfterEdit(ctx);
        EXPECT_EQ((DiagramEntry{d().Petrol_Point, d().Gas_Point}), last);
        EXPECT_EQ(d().Committed_Gas, last.Gas);
        EXPECT_TRUE(d().End_On_Petrol_Max);
        EXPECT_EQ(d().History_Count, 2);
        EXPECT_FALSE(ctx.timers.Timer_GEN_Transmit->isRunning());
    }
}

TEST_F(DiagramFixture, AnEcuDiagramWithItsEndOffTheEdgesCanStillBeEditedAndSent) {
    d().Petrol_Point[8] = 24000;
    AfterDiagramRead(ctx);
    const auto entries = d().History_Count;
    select(4);
    KeyStep(ctx, DiagramKey::Up);
    EXPECT_EQ(d().History_Count, entries + 1);
    EXPECT_TRUE(ctx.timers.Timer_GEN_Transmit->isRunning());
    EXPECT_EQ(writeNow().Gas[4], 10350);
}

} // namespace
} // namespace bifuel::test
