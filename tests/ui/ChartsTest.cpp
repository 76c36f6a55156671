#include "UiHarness.h"

#include "../link/EcuMemory.h"
#include "Charts_Window.h"
#include "data/Calc_Unit.h"
#include "files/Live_Log.h"

#include <QCheckBox>
#include <QImage>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <fstream>

namespace bifuel::test {
namespace {

constexpr std::int64_t kFrameMs = 300;
constexpr std::int64_t kDriveMs = 600000;
constexpr std::size_t kFactorBytesAt = 2 + 2 * kMapCols + kMapRows;

// Ten minutes at three operating points, a minute each in turn: petrol for three minutes,
// gas for three (the car a little lean on gas: the petrol ECU stretches the time by 12 %),
// then petrol and gas again; an error from minute 4 to minute 5.
std::vector<LiveLogRecord> tenMinutes() {
    struct Point {
        int rpm;
        int press;
    };
    constexpr std::array<Point, 3> points{{{1800, 60}, {2800, 75}, {3600, 90}}};
    std::vector<LiveLogRecord> out;
    for (std::int64_t t = 0; t < kDriveMs; t += kFrameMs) {
        const Point& p = points[static_cast<std::size_t>(t / 60000 % 3)];
        const bool gas = (t >= 180000 && t < 360000) || t >= 480000;
        const double wobble = std::sin(double(t) / 2300.0);
        LiveLogRecord r;
        r.Time_Ms = t;
        r.Rpm = p.rpm + static_cast<int>(std::lround(40 * wobble));
        r.Press_Coll = p.press + static_cast<int>(std::lround(wobble));
        r.Press_Vap = r.Press_Coll + 120;
        r.Press_Diff = 120;
        r.Temp_Vap = 200 + static_cast<int>(t / 1000);
        r.Temp_Gas = 180 + static_cast<int>(t / 2000);
        r.Level = 600 - static_cast<int>(t / 3000);
        const int need = 3000 + 30 * p.press;
        r.Petrol_Avg_Us = gas ? need * 112 / 100 : need;
        r.Gas_Avg_Us = gas ? r.Petrol_Avg_Us * 13 / 10 : 0;
        r.Petrol_Us = {r.Petrol_Avg_Us, r.Petrol_Avg_Us + 40, r.Petrol_Avg_Us - 40,
                       r.Petrol_Avg_Us + 10};
        r.Gas_Us = {r.Gas_Avg_Us, r.Gas_Avg_Us, r.Gas_Avg_Us, r.Gas_Avg_Us};
        r.Mode = gas ? kModeGas : kModePetrol;
        r.Status = 0x80;
        r.Error1 = (t >= 240000 && t < 300000) ? 0x04 : 0;
        out.push_back(r);
    }
    return out;
}

std::filesystem::path writeLog(const std::filesystem::path& folder,
                               const std::vector<LiveLogRecord>& records,
                               const std::string& tail = {}) {
    std::filesystem::create_directories(folder);
    const std::filesystem::path file = folder / "SHOP7_drive.csv";
    std::ofstream out(file, std::ios::binary);
    out << LiveLogHeader() << "\r\n";
    for (const LiveLogRecord& r : records)
        out << FormatLiveLogLine(r) << "\r\n";
    out << tail;
    return file;
}

QColor colourOf(Context& ctx, Colour c) {
    return ui::ColourFromText(ctx.colours.ColourOf(c));
}

// Pixels of exactly this colour inside a rectangle of the image.
int pixelsOf(const QImage& image, QRectF area, QColor colour) {
    int n = 0;
    const QRect r = area.toRect().intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x)
            n += image.pixelColor(x, y).rgb() == colour.rgb();
    }
    return n;
}

class Charts : public StudioHarness {
  protected:
    Charts() : StudioHarness(ConfiguredEcu()) {}

    ui::ChartsWindow& charts() { return main().charts(); }
    ui::ChartsPlot& plot() { return *charts().plot(); }

    // Connected, the window opened by its key and a log opened by its button.
    void openLog(const std::vector<LiveLogRecord>& records, const std::string& tail = {}) {
        connectToSimulator();
        logFile = writeLog(work.path() / "Logs", records, tail);
        QTest::keyClick(&main(), Qt::Key_F8);
        run(300);
        ASSERT_TRUE(charts().isVisible());
        charts().resize(ui::ChartsWindow::kDesignWidth, ui::ChartsWindow::kDesignHeight);
        charts().pickLog = [this](const QString& folder) {
            asked = folder;
            return QString::fromStdString(logFile.string());
        };
        QTest::mouseClick(charts().openButton(), Qt::LeftButton);
        run(300);
    }

    void wheel(QPoint at, int delta) {
        QWheelEvent e(at, plot().mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&plot(), &e);
    }
    // A pointer move with no button held, straight to the plot.
    void hover(QPoint to) {
        QMouseEvent e(QEvent::MouseMove, to, plot().mapToGlobal(to), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
        QApplication::sendEvent(&plot(), &e);
    }
    QPoint at(double ms) {
        return QPoint(static_cast<int>(std::lround(plot().xOf(ms))),
                      static_cast<int>(plot().stripRect(0).center().y()));
    }
    double span() { return plot().viewEnd() - plot().viewStart(); }

    std::filesystem::path logFile;
    QString asked;
};

TEST_F(Charts, ASavedLogOpensFromLogsWithItsChannelsAndMarkers) {
    const std::vector<LiveLogRecord> drive = tenMinutes();
    openLog(drive, "123,4"); // a line cut by a power loss
    EXPECT_TRUE(asked.endsWith(QStringLiteral("Logs"))) << asked.toStdString();
    ASSERT_TRUE(charts().showingLog());
    EXPECT_EQ(charts().records().size(), drive.size());
    const QString source = charts().sourceLabel()->text();
    EXPECT_TRUE(source.contains(
        QStringLiteral("SHOP7_drive.csv: 2000 frames (1 incomplete lines skipped)")))
        << source.toStdString();
    EXPECT_DOUBLE_EQ(plot().viewStart(), 0);
    EXPECT_DOUBLE_EQ(plot().viewEnd(), double(drive.back().Time_Ms));

    using K = ui::ChartMarker::Kind;
    const std::vector<ui::ChartMarker> want{{180000, K::Gas},
                                            {240000, K::ErrorsOn},
                                            {300000, K::ErrorsOff},
                                            {360000, K::Petrol},
                                            {480000, K::Gas}};
    EXPECT_EQ(plot().markers(), want);

    // Each strip holds its channel's line, in its colour; the marker lines cross them all.
    const QImage image = plot().grab().toImage();
    const auto& channels = plot().channels();
    ASSERT_EQ(channels, ui::DefaultChartChannels());
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const QRectF strip = plot().stripRect(static_cast<int>(i));
        const Colour c = ui::ChartChannels()[static_cast<std::size_t>(channels[i])].colour;
        EXPECT_GT(pixelsOf(image, strip, colourOf(ctx(), c)), strip.width() / 2) << "strip " << i;
    }
    const QRectF rpmStrip = plot().stripRect(0);
    const double x = std::round(plot().xOf(180000));
    EXPECT_GT(pixelsOf(image, QRectF(x - 1, rpmStrip.top(), 3, rpmStrip.height()),
                       colourOf(ctx(), Colour::Gas)),
              rpmStrip.height() / 2);
    save(charts(), "charts_plots.png");

    // Full screen, with the cursor on: at every pixel column of the RPM strip there is
    // its line, however many frames the column holds.
    charts().resize(1920, 1080);
    plot().setCursorTime(200000);
    run(200);
    const QImage wide = plot().grab().toImage();
    const QRectF strip = plot().stripRect(0);
    ASSERT_GT(strip.width(), 1400);
    // Marker lines and the cursor are drawn over it.
    std::vector<double> over{plot().xOf(plot().cursorTime())};
    for (const ui::ChartMarker& m : plot().markers())
        over.push_back(plot().xOf(double(m.timeMs)));
    int columns = 0;
    int missing = 0;
    for (int px = int(strip.left()) + 1; px < int(strip.right()) - 1; ++px) {
        if (std::any_of(over.begin(), over.end(),
                        [px](double drawnX) { return std::abs(drawnX - px) < 2; }))
            continue;
        ++columns;
        missing += pixelsOf(wide, QRectF(px, strip.top(), 1, strip.height()),
                            colourOf(ctx(), Colour::RPM)) == 0;
    }
    EXPECT_GT(columns, 1400);
    EXPECT_EQ(missing, 0);
    save(charts(), "charts_plots_1920.png");
    charts().resize(ui::ChartsWindow::kDesignWidth, ui::ChartsWindow::kDesignHeight);

    // A channel unticked leaves the plots.
    charts().channelBox(0)->click();
    EXPECT_EQ(plot().channels(), (std::vector<int>{1, 2, 3, 6}));
    charts().channelBox(11)->click();
    EXPECT_EQ(plot().channels(), (std::vector<int>{1, 2, 3, 6, 11}));
}

TEST_F(Charts, ZoomPanAndCursorByMouseAndKeys) {
    const std::vector<LiveLogRecord> drive = tenMinutes();
    openLog(drive);
    const double end = double(drive.back().Time_Ms);

    // The wheel zooms around the time under the pointer.
    const double whole = span();
    const QPoint p = at(300000);
    const double under = plot().timeAt(p.x());
    wheel(p, 120);
    EXPECT_NEAR(span(), whole / 1.25, 1e-6);
    EXPECT_NEAR(plot().timeAt(p.x()), under, 1e-6);
    wheel(p, -240);
    EXPECT_NEAR(span(), whole, 1e-6) << "never further out than the whole log";

    // A drag moves the log with the pointer.
    plot().setView(100000, 200000);
    const double msPerPx = span() / plot().stripRect(0).width();
    const QPoint from = at(150000);
    QTest::mousePress(&plot(), Qt::LeftButton, {}, from);
    QTest::mouseMove(&plot(), from - QPoint(100, 0));
    QTest::mouseRelease(&plot(), Qt::LeftButton, {}, from - QPoint(100, 0));
    EXPECT_NEAR(plot().viewStart(), 100000 + 100 * msPerPx, 1e-6);
    EXPECT_NEAR(span(), 100000, 1e-6);

    // The cursor shows every channel's value of the frame at or before its time.
    hover(at(183100));
    ASSERT_TRUE(plot().hasCursor());
    const double t = plot().cursorTime();
    EXPECT_NEAR(t, 183100, msPerPx);
    const LiveLogRecord& frame = drive.at(static_cast<std::size_t>(std::floor(t / kFrameMs)));
    for (int channel = 0; channel < int(ui::ChartChannels().size()); ++channel) {
        EXPECT_EQ(plot().valueAt(channel, t),
                  ui::ChartChannels()[static_cast<std::size_t>(channel)].value(frame))
            << channel;
    }
    EXPECT_EQ(plot().valueAt(0, -1), std::nullopt) << "nothing before the first frame";

    // Keys, each from the view the one before left.
    plot().setView(200000, 300000);
    plot().setCursorTime(250000);
    const struct {
        Qt::Key key;
        double start;
        double end;
    } keys[] = {
        {Qt::Key_Plus, 225000, 275000},  // twice as close, around the cursor
        {Qt::Key_Right, 230000, 280000}, // a tenth of the span
        {Qt::Key_Left, 225000, 275000},   {Qt::Key_Minus, 200000, 300000},
        {Qt::Key_End, end - 100000, end}, {Qt::Key_Home, 0, 100000},
        {Qt::Key_Left, 0, 100000}, // the log's start holds the view
    };
    for (const auto& k : keys) {
        QTest::keyClick(&charts(), k.key);
        EXPECT_NEAR(plot().viewStart(), k.start, 1e-6) << QTest::toString(k.key);
        EXPECT_NEAR(plot().viewEnd(), k.end, 1e-6) << QTest::toString(k.key);
    }
    for (int i = 0; i < 20; ++i)
        QTest::keyClick(&charts(), Qt::Key_Plus);
    EXPECT_NEAR(span(), 1000, 1e-6) << "a second across at the closest";
    QTest::mouseDClick(&plot(), Qt::LeftButton, {}, at(500));
    EXPECT_NEAR(span(), whole, 1e-6);
}

TEST_F(Charts, ALogThatCannotBeReadIsSaidAndTheLiveDataStay) {
    connectToSimulator();
    QTest::keyClick(&main(), Qt::Key_F8);
    run(1500);
    ASSERT_FALSE(charts().showingLog());
    std::filesystem::create_directories(work.path() / "Logs");
    std::ofstream(work.path() / "Logs" / "notes.csv") << "shopping list\r\n";
    std::ofstream(work.path() / "Logs" / "empty.csv");
    const std::filesystem::path cases[] = {work.path() / "Logs" / "missing.csv",
                                           work.path() / "Logs" / "notes.csv",
                                           work.path() / "Logs" / "empty.csv"};
    for (const auto& file : cases) {
        EXPECT_FALSE(charts().OpenLog(file)) << file;
        EXPECT_FALSE(charts().showingLog()) << file;
        EXPECT_EQ(&charts().records(), &charts().liveRecords());
        const QString said = charts().sourceLabel()->text();
        EXPECT_TRUE(said.startsWith(QStringLiteral("The log could not be read: ") +
                                    QString::fromStdString(file.filename().string())))
            << said.toStdString();
        EXPECT_EQ(charts().sourceLabel()->colour(), colourOf(ctx(), Colour::Txt_Error)) << file;
    }
    // A cancelled dialog changes nothing.
    charts().pickLog = [](const QString&) { return QString(); };
    QTest::mouseClick(charts().openButton(), Qt::LeftButton);
    EXPECT_FALSE(charts().showingLog());
}

TEST_F(Charts, LiveFramesOfThisConnectionArriveInThePlots) {
    connectToSimulator();
    run(2000);
    // Recorded from the connection's start, before the window was ever open.
    const std::size_t before = charts().liveRecords().size();
    EXPECT_GE(before, 5u);
    QTest::mouseClick(main().chartsButton(), Qt::LeftButton);
    run(300);
    ASSERT_TRUE(charts().isVisible());
    EXPECT_FALSE(charts().showingLog());
    run(3000);
    const auto& live = charts().liveRecords();
    ASSERT_GT(live.size(), before + 5);
    EXPECT_EQ(live.back().Rpm, ctx().live.Live_RPM);
    // The view keeps the newest frame in sight.
    EXPECT_DOUBLE_EQ(plot().viewEnd(), double(live.back().Time_Ms));
    EXPECT_TRUE(charts().sourceLabel()->text().contains(QString::number(live.size())))
        << charts().sourceLabel()->text().toStdString();
}

TEST_F(Charts, TheGridsSuggestionsGoToTheMapPageAndTheEcu) {
    openLog(tenMinutes());
    QTest::mouseClick(charts().gridTab(), Qt::LeftButton);
    run(200);
    ASSERT_EQ(charts().tab(), ui::ChartsWindow::Tab::Grid);
    const DriveAnalysis& a = charts().analysis();
    ASSERT_EQ(a.Outcome, DriveOutcome::Ready);
    // 1800 rpm: 4.8 ms on petrol (row 5), 5.38 ms on gas (row 6); both rows are asked.
    // Two gas minutes there, less the settling after the switch at minute 3.
    ASSERT_EQ(a.Cells[4][6].Samples, 2 * 200 - kDriveSettleMs / kFrameMs);
    EXPECT_NEAR(a.Cells[4][6].Mean_Diff_Us, 4800 * 0.12, 1);
    ASSERT_TRUE(a.Cells[4][6].Suggested);
    ASSERT_TRUE(a.Cells[4][5].Suggested);
    EXPECT_TRUE(charts().applyButton()->isEnabled());
    charts().resize(1200, 760);
    run(100);
    save(charts(), "charts_grid.png");

    const EcuMemory before = memoryOf(ecu.state());
    EcuMemory want = before;
    std::vector<std::pair<MapCell, std::int32_t>> applied;
    for (int c = 1; c <= kMapCols; ++c) {
        for (int r = 1; r <= kMapRows; ++r) {
            const DriveCell& cell = a.Cells[c][r];
            if (!cell.Suggested || *cell.Suggested == cell.Factor) continue;
            applied.push_back({{c, r}, *cell.Suggested});
            want.rpmMap[kFactorBytesAt + static_cast<std::size_t>((c - 1) * kMapRows + r - 1)] =
                FactorToByte(*cell.Suggested);
        }
    }
    ASSERT_EQ(int(applied.size()), a.Suggested_Cells);
    QTest::mouseClick(charts().applyButton(), Qt::LeftButton);
    EXPECT_EQ(charts().applyResult()->text(),
              QStringLiteral("Applied to the Map page, cells changed: %1. The map goes to the ECU.")
                  .arg(applied.size()));
    for (const auto& [cell, factor] : applied) {
        EXPECT_EQ(ctx().rpmMap.Map_Text[cell.c][cell.r], FixedText(factor / 100.0, 2))
            << cell.c << "," << cell.r;
        EXPECT_EQ(ctx().rpmMap.Map_Mark[cell.c][cell.r], kMarkChanged);
    }
    // The log was driven with the old factors: it asks nothing more of the new ones.
    EXPECT_FALSE(charts().applyButton()->isEnabled());
    QTest::mouseClick(charts().gridTab(), Qt::LeftButton);
    EXPECT_FALSE(charts().applyButton()->isEnabled());

    ASSERT_TRUE(runUntil([&] { return ctx().link.Write_Running; }, 5000))
        << "the map was never sent";
    ASSERT_TRUE(runUntil([&] { return !ctx().link.Write_Running; }, 10000));
    EXPECT_EQ(memoryOf(ecu.state()), want) << differences(memoryOf(ecu.state()), want);
    charts().resize(1920, 1080);
    run(200);
    save(charts(), "charts_grid_1920.png");
    main().selectPage(3);
    run(300);
    save(main(), "charts_applied_map_page.png");
}

} // namespace
} // namespace bifuel::test
