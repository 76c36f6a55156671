#include "UiHarness.h"

#include "../link/EcuMemory.h"
#include "EngineModel.h"
#include "rpm_map/MapRPM_Unit.h"
#include "rpm_map/MapRPM_View.h"

#include <QDir>

#include <cmath>

namespace bifuel::test {
namespace {

constexpr std::uint8_t kWriteMapSize = 0x2E;

// Where the ECU's map stream keeps things: two counts, two period bytes per column, a byte
// per row header, then the factors column by column.
constexpr std::size_t kRowsAt = 2 + 2 * 8;
constexpr std::size_t kFactorsAt = kRowsAt + 12;
std::size_t factorAt(int c, int r) {
    return kFactorsAt + static_cast<std::size_t>((c - 1) * 12 + (r - 1));
}

// The factor the ECU's byte stands for: the byte divided by 1.28, truncated.
int factorOf(std::uint8_t b) {
    return b * 25 / 32;
}
// The byte a factor goes out as: the smallest that stands for at least the factor.
std::uint8_t byteFor(int factor) {
    for (int b = 0; b < 255; ++b)
        if (factorOf(static_cast<std::uint8_t>(b)) >= factor) return static_cast<std::uint8_t>(b);
    return 255;
}
void putPeriod(std::vector<std::uint8_t>& stream, int c, int rpm) {
    const std::uint16_t period = rpm == 0 ? 0xFFFF : static_cast<std::uint16_t>(30000000 / rpm);
    stream[2 + 2 * static_cast<std::size_t>(c - 1)] = static_cast<std::uint8_t>(period >> 8);
    stream[3 + 2 * static_cast<std::size_t>(c - 1)] = static_cast<std::uint8_t>(period & 0xFF);
}

class MapPage : public StudioHarness {
  protected:
    MapPage() : StudioHarness(ConfiguredEcu()) {}

    void open() {
        connectToSimulator();
        main().selectPage(3);
        main().activateWindow();
        main().setFocus();
        run(300);
        ASSERT_TRUE(ctx().rpmMap.Grid_Built);
    }

    ui::MapPage& page() { return main().mapPage(); }
    ui::MapGrid& grid() { return *page().grid(); }
    QPoint at(int c, int r) { return grid().cellRect(c, r).center().toPoint(); }
    void press(int c, int r, Qt::MouseButton b = Qt::LeftButton) {
        QTest::mouseMove(&grid(), at(c, r));
        QTest::mousePress(&grid(), b, {}, at(c, r));
        QTest::mouseRelease(&grid(), b, {}, at(c, r));
    }
    void drag(int c0, int r0, int c1, int r1) {
        QTest::mousePress(&grid(), Qt::LeftButton, {}, at(c0, r0));
        QTest::mouseMove(&grid(), at(c1, r0));
        QTest::mouseMove(&grid(), at(c1, r1));
        QTest::mouseRelease(&grid(), Qt::LeftButton, {}, at(c1, r1));
    }
    void key(Qt::Key k, Qt::KeyboardModifiers m = {}) {
        QTest::keyClick(&main(), k, m);
        QCoreApplication::processEvents();
    }
    int mapWrites() {
        const auto& by = ecu.counters().byCommand;
        const auto it = by.find(kWriteMapSize);
        return it == by.end() ? 0 : it->second;
    }
    // Waits for the write the edits started to have ended, whatever it ended with.
    void waitForWrite(int writesBefore) {
        ASSERT_TRUE(runUntil([&] { return mapWrites() > writesBefore; }, 5000)) << "no map write";
        ASSERT_TRUE(runUntil([&] { return !ctx().link.Write_Running; }, 10000));
        run(1500);
    }
    std::string text(int c, int r) { return ctx().rpmMap.Map_Text[c][r]; }
    std::uint8_t mark(int c, int r) { return ctx().rpmMap.Map_Mark[c][r]; }
};

TEST_F(MapPage, ARangeDraggedWithTheMouseAndRaisedTwiceIsOnTheEcuAndNothingElseChanged) {
    open();
    const EcuMemory before = memoryOf(ecu.state());
    // The configured car corrects one cell of the range: 0x6E stands for 0.85.
    ASSERT_EQ(text(3, 7), "0.85");
    ASSERT_EQ(mark(3, 7), kMarkChanged);
    const int writes = mapWrites();

    drag(2, 3, 5, 7);
    int selected = 0;
    for (int c = 0; c <= 8; ++c)
        for (int r = 0; r <= 12; ++r)
            selected += mark(c, r) == kMarkSelected;
    EXPECT_EQ(selected, 20);
    key(Qt::Key_Up);
    key(Qt::Key_Up);
    EXPECT_EQ(text(3, 7), "0.87");
    EXPECT_EQ(text(2, 3), "1.02");
    EXPECT_EQ(text(6, 3), "1.00") << "beyond the range";

    waitForWrite(writes);
    EXPECT_EQ(mapWrites(), writes + 1) << "one write for both presses";
    EcuMemory want = before;
    for (int c = 2; c <= 5; ++c) {
        for (int r = 3; r <= 7; ++r) {
            const std::size_t i = factorAt(c, r);
            want.rpmMap[i] = byteFor(factorOf(before.rpmMap[i]) + 2);
        }
    }
    ASSERT_EQ(want.rpmMap[factorAt(3, 7)], byteFor(87));
    EXPECT_EQ(memoryOf(ecu.state()), want) << differences(memoryOf(ecu.state()), want);
}

TEST_F(MapPage, AHeaderPressAndAShiftRangeStepWithinTheirRulesOnTheEcu) {
    open();
    const EcuMemory before = memoryOf(ecu.state());
    const int writes = mapWrites();

    // The last column's header: a press selects it, Up moves it 100 rpm.
    press(8, 0);
    EXPECT_EQ(mark(8, 0), kMarkSelected);
    key(Qt::Key_Up);
    EXPECT_EQ(text(8, 0), "4100");
    EXPECT_TRUE(page().cellData()->text().contains(QStringLiteral(" = 4100 ")));
    // Enter leaves selection mode; the arrows then move the current cell and change nothing.
    key(Qt::Key_Return);
    key(Qt::Key_Down);
    EXPECT_EQ(ctx().mapView.Current, (MapCell{8, 1}));
    EXPECT_EQ(text(8, 1), "1.00");
    // Shift held over two Left steps selects C6_R1..C8_R1; letting Shift go arms the arrows.
    // Plain key events: QTest adds its own presses and releases of the modifier keys, and a
    // Shift released between the arrows would end the range early.
    auto send = [this](QEvent::Type type, Qt::Key k, Qt::KeyboardModifiers m) {
        QKeyEvent e(type, k, m);
        QCoreApplication::sendEvent(&main(), &e);
    };
    send(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
    for (int i = 0; i < 2; ++i) {
        send(QEvent::KeyPress, Qt::Key_Left, Qt::ShiftModifier);
        send(QEvent::KeyRelease, Qt::Key_Left, Qt::ShiftModifier);
    }
    EXPECT_FALSE(ctx().mapView.Selection_Mode);
    send(QEvent::KeyRelease, Qt::Key_Shift, Qt::NoModifier);
    EXPECT_TRUE(ctx().mapView.Selection_Mode);
    for (int c = 5; c <= 8; ++c)
        EXPECT_EQ(mark(c, 1), c >= 6 ? kMarkSelected : kMarkPlain) << "column " << c;
    key(Qt::Key_Down);
    EXPECT_EQ(text(6, 1), "0.99");
    EXPECT_EQ(text(8, 1), "0.99");
    // Esc ends it: the next arrow moves.
    key(Qt::Key_Escape);
    key(Qt::Key_Down);
    EXPECT_EQ(text(8, 1), "0.99");

    waitForWrite(writes);
    // The cells not edited keep the ECU's own bytes (0x6E stays, though 0x6D means 0.85 too).
    EcuMemory want = before;
    putPeriod(want.rpmMap, 8, 4100);
    for (int c = 6; c <= 8; ++c)
        want.rpmMap[factorAt(c, 1)] = byteFor(99);
    EXPECT_EQ(memoryOf(ecu.state()), want) << differences(memoryOf(ecu.state()), want);
}

TEST_F(MapPage, ClearKeepsTheHeadersAndDefaultWritesTheFactoryMap) {
    open();
    const EcuMemory before = memoryOf(ecu.state());
    int writes = mapWrites();
    press(2, 0);
    key(Qt::Key_Up); // 500 -> 600
    key(Qt::Key_Escape);
    waitForWrite(writes);

    writes = mapWrites();
    QTest::mouseClick(page().clearButton(), Qt::LeftButton);
    EXPECT_EQ(text(3, 7), "1.00");
    waitForWrite(writes);
    EcuMemory want = before;
    putPeriod(want.rpmMap, 2, 600);
    for (int c = 1; c <= 8; ++c)
        for (int r = 1; r <= 12; ++r)
            want.rpmMap[factorAt(c, r)] = byteFor(100);
    EXPECT_EQ(memoryOf(ecu.state()), want) << differences(memoryOf(ecu.state()), want);
    EXPECT_TRUE(page().cellData()->text().contains(QStringLiteral("done")))
        << page().cellData()->text().toStdString();

    writes = mapWrites();
    QTest::mouseClick(page().defaultButton(), Qt::LeftButton);
    waitForWrite(writes);
    // The factory map: 0 .. 4000 rpm, 0.0 .. 22.0 ms, every factor 1.00.
    const int rpm[] = {0, 500, 1000, 1500, 2000, 2500, 3000, 4000};
    const int ms[] = {0, 10, 20, 30, 40, 50, 70, 90, 120, 150, 180, 220};
    for (int c = 1; c <= 8; ++c)
        putPeriod(want.rpmMap, c, rpm[c - 1]);
    for (int r = 1; r <= 12; ++r)
        want.rpmMap[kRowsAt + static_cast<std::size_t>(r - 1)] =
            static_cast<std::uint8_t>(ms[r - 1]);
    EXPECT_EQ(memoryOf(ecu.state()), want) << differences(memoryOf(ecu.state()), want);
    EXPECT_EQ(text(2, 0), "500");
}

TEST_F(MapPage, WhileAWriteRunsThePageTakesNoEditsAndSaysSoThenOpensAgain) {
    open();
    const int writes = mapWrites();
    drag(1, 1, 2, 2);
    key(Qt::Key_Up);
    ASSERT_TRUE(runUntil([&] { return ctx().link.Write_Running; }, 5000));
    run(200); // a refresh
    EXPECT_TRUE(page().locked());
    EXPECT_FALSE(page().clearButton()->isEnabled());
    EXPECT_FALSE(page().defaultButton()->isEnabled());
    EXPECT_FALSE(grid().isEnabled());
    EXPECT_TRUE(page().cellData()->text().startsWith(QStringLiteral("The RPM map write: ")))
        << page().cellData()->text().toStdString();
    // Neither keys nor the grid's handlers change anything meanwhile.
    key(Qt::Key_Up);
    MapCellMouseDown(ctx(), 5, 5, MapMouseButton::Left);
    EXPECT_EQ(text(1, 1), "1.01");
    EXPECT_NE(mark(5, 5), kMarkSelected);
    save(main(), "map_page_writing.png");

    waitForWrite(writes);
    run(200);
    EXPECT_FALSE(page().locked());
    EXPECT_TRUE(page().clearButton()->isEnabled());
    EXPECT_TRUE(grid().isEnabled());
    EXPECT_EQ(page().cellData()->text(),
              QStringLiteral("The RPM map write: done, the ECU holds it."));
    EXPECT_EQ(mapWrites(), writes + 1);
    EXPECT_EQ(ecu.state().rpmMap[factorAt(1, 1)], byteFor(101));
    // The ending gives way to the cell data once the user works on the page again.
    key(Qt::Key_Escape);
    EXPECT_TRUE(page().cellData()->text().startsWith(QStringLiteral("Factor : 1.01")))
        << page().cellData()->text().toStdString();
}

class MapPageOnTheRoad : public MapPage {
  protected:
    MapPageOnTheRoad() {
        sim::EngineOptions o;
        o.warm = true;
        engine = std::make_unique<sim::EngineModel>(clock, ecu, o);
    }
    // The live cell as the map's headers place the live speed and petrol time.
    MapCell expectedLiveCell() {
        const int rpm = ctx().live.Live_RPM;
        const int petrolUs = ctx().live.Live_Petrol_Avg;
        int c = 1;
        for (int i = 8; i >= 1; --i) {
            if (std::stoi(text(i, 0)) < rpm) {
                c = i;
                break;
            }
        }
        const auto us = [&](int r) {
            return static_cast<int>(std::lround(std::stod(text(0, r)) * 10)) * 100;
        };
        int r = 1;
        for (int i = 12; i >= 1; --i) {
            if (us(i) < petrolUs) {
                r = i;
                break;
            }
        }
        if (us(r) > petrolUs) r = 0;
        return {c, r};
    }
    std::unique_ptr<sim::EngineModel> engine;
};

TEST_F(MapPageOnTheRoad, TheLiveCellFollowsSpeedAndPetrolTimeAndLeavesATrace) {
    open();
    engine->requestRpm(1800);
    engine->setLoad(0.3);
    run(3000);
    const MapCell first = ctx().rpmMap.Live_Cell;
    EXPECT_EQ(first, expectedLiveCell());
    EXPECT_EQ(first.c, 4) << "1800 rpm lies between 1500 and 2000";
    ASSERT_GE(first.r, 1);
    const MapCellView& live = ctx().mapView.Cells[first.c][first.r];
    EXPECT_TRUE(live.frameVisible);
    EXPECT_EQ(live.frameColour,
              ctx().colours.ColourOf(ctx().live.Work_Mode == 4 ? Colour::MapRPM_Gas
                                                               : Colour::MapRPM_Pet));

    engine->requestRpm(3400);
    engine->setLoad(0.6);
    ASSERT_TRUE(runUntil([&] { return ctx().rpmMap.Live_Cell.c == 7; }, 5000));
    run(300);
    const MapCell second = ctx().rpmMap.Live_Cell;
    EXPECT_EQ(second, expectedLiveCell());
    // The trace shows the cells passed on the way, the live one drawn over it.
    ASSERT_GE(ctx().rpmMap.Map_Tail_Count, 2u);
    const std::string tail = ctx().colours.ColourOf(
        ctx().live.Work_Mode == 4 ? Colour::MapRPM_Gas_Tail : Colour::MapRPM_Pet_Tail);
    const MapCell older = ctx().rpmMap.Map_Tail[0];
    ASSERT_NE(older, second);
    EXPECT_EQ(ctx().mapView.Cells[older.c][older.r].frameColour, tail);
    drag(2, 2, 3, 4);
    save(main(), "map_page_live_trace.png");
    main().resize(1920, 1080);
    run(400);
    save(main(), "map_page_1920.png");
    // At any size a press lands on the cell under the pointer.
    press(6, 9);
    EXPECT_EQ(ctx().mapView.Current, (MapCell{6, 9}));

    // Held steady, the trace shrinks to the live cell alone.
    run(8000);
    EXPECT_LE(ctx().rpmMap.Map_Tail_Count, 1u);
    EXPECT_EQ(ctx().rpmMap.Live_Cell, expectedLiveCell());
}

} // namespace
} // namespace bifuel::test
