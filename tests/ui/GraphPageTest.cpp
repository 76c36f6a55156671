#include "UiHarness.h"

#include "../link/EcuMemory.h"
#include "EngineModel.h"
#include "calibration/Calibr_Unit.h"
#include "link/Link_Operations.h"

#include <QCheckBox>
#include <QDir>

#include <cmath>
#include <cstdlib>

namespace bifuel::test {
namespace {

constexpr std::uint8_t kWriteDiagram = 0x33;

// The editing grid: a time that is not a whole hundred goes to the 50 of its hundred.
std::int32_t snap(std::int32_t v) {
    const std::int32_t r = std::abs(v % 100);
    return r > 0 ? v + 50 - r : v;
}

// The ECU's diagram memory for points, as a write carries them: the gain of the segment
// ending at each point in 128ths, the gas time, and the petrol time with the idle-run flags
// the ECU already holds.
std::array<sim::DiagramItem, 9> ecuDiagram(const DiagramEntry& e,
                                           const std::array<sim::DiagramItem, 9>& flagsFrom) {
    std::array<sim::DiagramItem, 9> items{};
    for (std::size_t i = 0; i < 9; ++i) {
        double gain = 1.0;
        if (i > 0 && e.Petrol[i] != e.Petrol[i - 1])
            gain =
                std::abs(double(e.Gas[i]) - e.Gas[i - 1]) / (double(e.Petrol[i]) - e.Petrol[i - 1]);
        items[i].slope = static_cast<std::uint16_t>(std::trunc(gain * 128));
        items[i].gas = static_cast<std::uint16_t>(e.Gas[i]);
        items[i].petrol = static_cast<std::uint16_t>(e.Petrol[i] | (flagsFrom[i].petrol & 0x8000));
    }
    return items;
}

class GraphPage : public StudioHarness {
  protected:
    GraphPage() : StudioHarness(ConfiguredEcu()) {}

    void open() {
        connectToSimulator();
        main().selectPage(2);
        main().activateWindow();
        main().setFocus();
        run(300);
    }

    ui::GraphPage& page() { return main().graphPage(); }
    ui::DiagramCanvas& canvas() { return *page().canvas(); }
    QPoint centre(int point) { return canvas().pointCentre(point).toPoint(); }
    int diagramWrites() {
        const auto& by = ecu.counters().byCommand;
        const auto it = by.find(kWriteDiagram);
        return it == by.end() ? 0 : it->second;
    }
    DiagramEntry program() { return {ctx().diagram.Petrol_Point, ctx().diagram.Gas_Point}; }
    DiagramEntry onEcu() {
        DiagramEntry e;
        for (std::size_t i = 0; i < 9; ++i) {
            e.Gas[i] = ecu.state().diagram[i].gas;
            e.Petrol[i] = ecu.state().diagram[i].petrol & 0x7FFF;
        }
        return e;
    }
    // A press on a point, one move by (dx, dy) pixels and the release there.
    void drag(int point, QPoint by) {
        const QPoint from = centre(point);
        QTest::mousePress(&canvas(), Qt::LeftButton, {}, from);
        QTest::mouseMove(&canvas(), from + by);

        QTest::mouseRelease(&canvas(), Qt::LeftButton, {}, from + by);
    }
    void key(Qt::Key k, Qt::KeyboardModifiers m = {}) {
        QTest::keyClick(&main(), k, m);
        QCoreApplication::processEvents();
    }
    // Some empty spot of the diagram: far from every point.
    QPoint emptySpot() {
        const QRectF d = canvas().diagramRect();
        return (d.topLeft() + QPointF(d.width() * 0.15, d.height() * 0.2)).toPoint();
    }
};

TEST_F(GraphPage, DraggingAPointUpWritesTheDiagramTheRulesGiveOnceAfterTheDelay) {
    open();
    const EcuMemory before = memoryOf(ecu.state());
    const DiagramEntry read = program();
    ASSERT_EQ(read, onEcu());
    const int writes = diagramWrites();
    const double h = canvas().diagramRect().height();
    // Halfway up to the next point's gas time: a move the rules allow.
    const int kPixels = static_cast<int>((read.Gas[5] - read.Gas[4]) / 2 * h / 32000);
    ASSERT_GT(kPixels, 5);

    drag(4, QPoint(0, -kPixels));
    DiagramEntry want = read;
    want.Gas[4] =
        snap(read.Gas[4] + static_cast<std::int32_t>(std::nearbyint(32000.0 * kPixels / h)));
    ASSERT_GT(want.Gas[4], read.Gas[4]);
    EXPECT_EQ(program(), want);
    EXPECT_EQ(ctx().diagram.Selected_Point, -1); // a drag lets the point go

    run(ctx().settings.CFG_Transmit_Delay - 300);
    EXPECT_EQ(diagramWrites(), writes) << "written before the user paused";
    ASSERT_TRUE(runUntil([&] { return diagramWrites() > writes; }, 3000));
    run(3000);
    EXPECT_EQ(diagramWrites(), writes + 1);
    EcuMemory expected = before;
    expected.diagram = ecuDiagram(want, before.diagram);
    EXPECT_EQ(memoryOf(ecu.state()), expected) << differences(memoryOf(ecu.state()), expected);
}

TEST_F(GraphPage, ADragThatBreaksARuleIsRolledBackAndNothingIsSent) {
    open();
    const EcuMemory before = memoryOf(ecu.state());
    const DiagramEntry read = program();
    const QRectF d = canvas().diagramRect();
    const double pxPerUsX = d.width() / 25000;
    const double pxPerUsY = d.height() / 32000;
    struct Case {
        const char* what;
        QPoint by;
    };
    const Case cases[] = {
        {"past the next point's petrol time",
         QPoint(static_cast<int>((read.Petrol[5] - read.Petrol[4] + 400) * pxPerUsX), 0)},
        {"before the previous point's petrol time",
         QPoint(-static_cast<int>((read.Petrol[4] - read.Petrol[3] + 400) * pxPerUsX), 0)},
        {"above the next point's gas time",
         QPoint(0, -static_cast<int>((read.Gas[5] - read.Gas[4] + 400) * pxPerUsY))},
    };
    const int writes = diagramWrites();
    for (const Case& c : cases) {
        drag(4, c.by);
        EXPECT_EQ(program(), read) << c.what;
        run(ctx().settings.CFG_Transmit_Delay + 1500);
        EXPECT_EQ(diagramWrites(), writes) << c.what;
    }
    EXPECT_EQ(memoryOf(ecu.state()), before) << differences(memoryOf(ecu.state()), before);
}

TEST_F(GraphPage, DigitsSelectArrowsStepFasterWhileRepeatedEscLetsGo) {
    open();
    const DiagramEntry read = program();
    const int writes = diagramWrites();
    key(Qt::Key_6, Qt::KeypadModifier);
    EXPECT_EQ(ctx().diagram.Selected_Point, 6);
    key(Qt::Key_4);
    ASSERT_EQ(ctx().diagram.Selected_Point, 4);
    ASSERT_TRUE(ctx().diagram.Edit_Armed);
    EXPECT_TRUE(page().positionLabel()->text().startsWith(QStringLiteral("Point = 4 ->")));

    // Three quick presses step 1, 2 and 3 times 50 us; after a pause the step is 50 again.
    std::int32_t gas = read.Gas[4];
    for (int factor = 1; factor <= 3; ++factor) {
        key(Qt::Key_Up);
        gas = snap(gas + 50 * factor);
        EXPECT_EQ(ctx().diagram.Gas_Point[4], gas) << "press " << factor;
        run(100);
    }
    run(400);
    key(Qt::Key_Up);
    gas = snap(gas + 50);
    EXPECT_EQ(ctx().diagram.Gas_Point[4], gas);
    run(400);
    key(Qt::Key_Right);
    EXPECT_EQ(ctx().diagram.Petrol_Point[4], read.Petrol[4] + 50);

    key(Qt::Key_Escape);
    EXPECT_EQ(ctx().diagram.Selected_Point, -1);
    key(Qt::Key_Up); // nothing selected: nothing moves
    EXPECT_EQ(ctx().diagram.Gas_Point[4], gas);

    ASSERT_TRUE(runUntil([&] { return diagramWrites() > writes; }, 5000));
    run(2000);
    EXPECT_EQ(diagramWrites(), writes + 1) << "one write for the whole run of presses";
    DiagramEntry want = read;
    want.Gas[4] = gas;
    want.Petrol[4] = read.Petrol[4] + 50;
    EXPECT_EQ(onEcu(), want);
}

TEST_F(GraphPage, StepBackAndForwardFromTheHistoryPanelWriteTheOlderAndNewerDiagram) {
    open();
    const DiagramEntry read = program();
    key(Qt::Key_3);
    key(Qt::Key_Down);
    key(Qt::Key_Escape);
    const DiagramEntry edited = program();
    ASSERT_NE(edited, read);
    ASSERT_TRUE(runUntil([&] { return onEcu() == edited; }, 5000));

    QTest::mouseClick(&canvas(), Qt::RightButton, {}, emptySpot());
    ASSERT_TRUE(page().historyPanel()->isVisible());
    EXPECT_TRUE(page().historyBack()->isEnabled());
    EXPECT_FALSE(page().historyForward()->isEnabled());
    QTest::mouseClick(page().historyBack(), Qt::LeftButton);
    EXPECT_FALSE(page().historyPanel()->isVisible());
    EXPECT_EQ(program(), read);
    ASSERT_TRUE(runUntil([&] { return onEcu() == read; }, 5000));

    QTest::mouseClick(&canvas(), Qt::RightButton, {}, emptySpot());
    EXPECT_FALSE(page().historyBack()->isEnabled());
    ASSERT_TRUE(page().historyForward()->isEnabled());
    QTest::mouseClick(page().historyForward(), Qt::LeftButton);
    ASSERT_TRUE(runUntil([&] { return onEcu() == edited; }, 5000));

    // The panel closes as soon as the pointer moves over the diagram.
    QTest::mouseClick(&canvas(), Qt::RightButton, {}, emptySpot());
    ASSERT_TRUE(page().historyPanel()->isVisible());
    QTest::mouseMove(&canvas(), emptySpot() + QPoint(0, page().historyPanel()->height()));
    EXPECT_FALSE(page().historyPanel()->isVisible());
}

TEST_F(GraphPage, TheIdleRunBoxFollowsTheSettingAndKeepsTheIdlePointsFromTheMouse) {
    open();
    QCheckBox* box = page().idleRunBox();
    ASSERT_FALSE(box->isChecked());
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    EXPECT_TRUE(ctx().settings.Idle_Points);
    const DiagramEntry read = program();
    drag(2, QPoint(0, -30)); // an idle-run point: neither taken nor moved
    EXPECT_EQ(program(), read);
    EXPECT_EQ(canvas().cursor().shape(), Qt::CrossCursor);
    QTest::mouseMove(&canvas(), centre(4));
    EXPECT_EQ(canvas().cursor().shape(), Qt::PointingHandCursor);
    // The Settings window's box sets the same setting; the page shows it.
    ctx().settings.Idle_Points = false;
    run(300);
    EXPECT_FALSE(box->isChecked());
}

// The car needs more gas than the configured diagram gives: on gas its petrol controller
// commands longer times than on petrol at the same load, and "To count" raises the curve.
class GraphPageOnTheRoad : public GraphPage {
  protected:
    GraphPageOnTheRoad() {
        sim::EngineOptions o;
        o.warm = true;
        o.trueGain = 1.25;
        engine = std::make_unique<sim::EngineModel>(clock, ecu, o);
    }
    void drive(int rpm, double load, int ms) {
        engine->requestRpm(rpm);
        engine->setLoad(load);
        run(ms);
    }
    std::unique_ptr<sim::EngineModel> engine;
};

TEST_F(GraphPageOnTheRoad,
       MapPointsCollectedAtSeveralLoadsThenToCountAndYesLeaveTheProposalOnTheEcu) {
    open();
    ASSERT_TRUE(page().mapStart()->isEnabled());
    EXPECT_FALSE(page().mapToCount()->isEnabled());
    QTest::mouseClick(page().mapStart(), Qt::LeftButton);
    EXPECT_TRUE(page().mapToCount()->isEnabled());
    EXPECT_TRUE(page().mapStart()->isChecked());
    ASSERT_TRUE(runUntil([&] { return (ecu.state().params[0x52] & 0x02) != 0; }, 5000))
        << "collection never reached the ECU";
    // Old points away first, as an installer starts a collection.
    QTest::mouseClick(page().mapDeleteGas(), Qt::LeftButton);
    run(1500);
    QTest::mouseClick(page().mapDeletePetrol(), Qt::LeftButton);
    run(1500);

    const std::array<std::pair<int, double>, 3> loads{{{1800, 0.25}, {2500, 0.5}, {3200, 0.75}}};
    for (const auto& [rpm, load] : loads)
        drive(rpm, load, 5000);
    key(Qt::Key_G);
    ASSERT_TRUE(runUntil([&] { return ctx().live.Work_Mode == kModeGas; }, 10000));
    for (const auto& [rpm, load] : loads)
        drive(rpm, load, 5000);
    key(Qt::Key_P);
    drive(0, 0, 3000);
    int pairs = 0;
    for (int k = 0; k < ctx().mapPoints.MAP_Point_Count; ++k)
        pairs += ctx().mapPoints.MAP_Gas[static_cast<std::size_t>(k)] != 0 &&
                 ctx().mapPoints.MAP_Petrol[static_cast<std::size_t>(k)] != 0;
    ASSERT_GE(pairs, 3);
    EXPECT_GT(ctx().diagramView.Map_Gas.circleCount, 0);
    save(main(), "graph_page_map_traces.png");

    const DiagramEntry read = program();
    QTest::mouseClick(page().mapToCount(), Qt::LeftButton);
    ASSERT_TRUE(page().promptPanel()->isVisible());
    ASSERT_TRUE(page().promptButton2()->isVisible()) << page().promptText()->text().toStdString();
    QTest::mouseClick(page().promptButton1(), Qt::LeftButton); // Yes: the proposal
    EXPECT_TRUE(ctx().diagramView.Proposed_Visible);
    const DiagramTimes proposed = ctx().mapPoints.Proposed_Gas;
    EXPECT_GT(proposed[4], read.Gas[4]); // the car wants more gas than the diagram gives
    EXPECT_EQ(program(), read);          // nothing applied yet
    run(200);
    save(main(), "graph_page_prompt_proposal.png");
    QTest::mouseClick(page().promptButton1(), Qt::LeftButton); // Yes: apply and send
    EXPECT_FALSE(page().promptPanel()->isVisible());
    EXPECT_EQ(program().Gas, proposed);

    const DiagramEntry want{read.Petrol, proposed};
    ASSERT_TRUE(runUntil([&] { return onEcu() == want; }, 8000));
    EXPECT_EQ(ecu.state().diagram, ecuDiagram(want, ecu.state().diagram));
    const auto& gasList = ecu.state().mapGas;
    EXPECT_TRUE(std::all_of(gasList.begin(), gasList.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(GraphPage, Screenshots) {
    open();
    run(500);
    save(main(), "graph_page_idle.png");
    QTest::mouseClick(&canvas(), Qt::LeftButton, {}, centre(4));
    run(100);
    ASSERT_EQ(ctx().diagram.Selected_Point, 4);
    ASSERT_TRUE(ctx().diagramView.Guides_Visible);
    save(main(), "graph_page_point_selected.png");
    key(Qt::Key_Up); // an edit, so that there is a step back
    key(Qt::Key_Escape);
    QTest::mouseClick(&canvas(), Qt::RightButton, {}, emptySpot());
    run(100);
    ASSERT_TRUE(page().historyBack()->isEnabled());
    save(main(), "graph_page_history_panel.png");
    main().resize(1920, 1080);
    run(300);
    EXPECT_FALSE(page().historyPanel()->isVisible()); // it stood at the pointer of the old size
    save(main(), "graph_page_1920.png");
    // A high-density screen: the diagram drawn at twice the pixels.
    QPixmap dense(canvas().size() * 2);
    dense.setDevicePixelRatio(2);
    dense.fill(QColor(32, 36, 42));
    canvas().render(&dense, QPoint(), QRegion(), QWidget::DrawChildren);
    ASSERT_TRUE(dense.save(QStringLiteral(BIFUEL_SCREENSHOT_DIR "/graph_page_hidpi.png")));
}

} // namespace
} // namespace bifuel::test
