#include "UiHarness.h"

#include "../link/EcuMemory.h"
#include "EngineModel.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/Receiver_Unit.h"
#include "rpm_map/MapRPM_Unit.h"

#include <QComboBox>
#include <QDir>

namespace bifuel::test {
namespace {

struct Algorithm {
    const char* name;
    const char* firmware; // 1.63 knows the innovational algorithm and asks first
};

sim::EcuState configuredWith(const Algorithm& a) {
    sim::EcuState s = ConfiguredEcu();
    s.firmwareVersion = a.firmware;
    return s;
}

sim::EngineOptions warmEngine() {
    sim::EngineOptions o;
    o.warm = true;
    return o;
}

// The page on the simulated car: the engine's petrol ECU corrects the mixture by a true
// gas curve that differs from the ECU's diagram, and a driver follows the prompts.
class AcbPage : public StudioHarness, public ::testing::WithParamInterface<Algorithm> {
  protected:
    AcbPage() : StudioHarness(configuredWith(GetParam())) {}

    void open() {
        connectToSimulator();
        driver = ctx().events.replyAccepted.subscribe([this](std::span<const std::uint8_t>) {
            const std::string& label = ctx().view.HudLabel_3D_ACB_Prompt.text;
            if (label.starts_with(ACB_Prompt_Text(ctx(), 14)))
                engine.requestRpm(0);
            else if (label.starts_with(ACB_Prompt_Text(ctx(), 12)))
                engine.requestRpm(2500);
        });
        main().selectPage(1);
        run(300);
        start = memoryOf(ecu.state());
    }

    ui::AcbPage& page() { return main().acbPage(); }

    // Chooses the algorithm as the user does: from the page's list, or by the answer to
    // the question an ECU with the innovational algorithm asks after Start.
    void pressStart() {
        const std::string name = GetParam().name;
        if (!ctx().link.Ident.Innovational_Capable) {
            QComboBox& list = *page().algorithm();
            ASSERT_TRUE(list.isEnabled());
            const int index = list.findText(QString::fromUtf8(name.c_str()));
            ASSERT_GE(index, 0) << name;
            list.setCurrentIndex(index);
            list.activated(index);
            ASSERT_EQ(ctx().settings.ACB_SCR_Type, name);
        }
        QTest::mouseClick(page().start(), Qt::LeftButton);
        QCoreApplication::processEvents();
        if (ctx().link.Ident.Innovational_Capable) {
            ui::TForm_3D_MSG& message = app->message();
            ASSERT_TRUE(runUntil([&] { return message.isVisible(); }, 1000)) << "no question asked";
            ASSERT_EQ(message.buttons().size(), 2U);
            // Yes for the innovational run, No for the classic one.
            QTest::mouseClick(message.buttons()[name == "Innovational" ? 0 : 1], Qt::LeftButton);
            QCoreApplication::processEvents();
        }
        run(200);
        ASSERT_TRUE(page().start()->isChecked()) << "the toggle did not stay pressed";
        ASSERT_TRUE(ctx().acb.In_Run);
    }

    // Virtual time in steps of 100 ms, painting between them: a run is minutes long.
    template <typename Predicate> bool runLong(Predicate done, std::int64_t limitMs) {
        for (std::int64_t t = 0; t <= limitMs; t += 100) {
            if (done()) return true;
            clock.advance(100);
            QCoreApplication::processEvents();
        }
        return done();
    }

    bool settled() {
        return page().lastEnd().has_value() && !ctx().acb.In_Run &&
               ctx().link.Pending_Request == Request::None && !ctx().link.Write_Running &&
               ctx().ops.Saving.empty() && polling();
    }

    // What the ECU holds when it holds the program's models: every parameter and diagram
    // item of the write lists as the program encodes them, the map as it streams it.
    EcuMemory programEncoding() {
        EcuMemory m = start;
        for (const std::uint8_t code : ParameterWriteList()) {
            const WordBytes b = EncodeParameter(ctx(), code);
            m.params[code] = static_cast<std::uint16_t>(b[0] << 8 | b[1]);
        }
        for (const std::uint8_t code : DiagramWriteList()) {
            const WordBytes b = EncodeDiagramItem(ctx(), code);
            const int at = code <= 0x72 ? code - 0x61 : 18 + code - 0x76;
            sim::DiagramItem& item = m.diagram[static_cast<std::size_t>(at / 3)];
            const auto word = static_cast<std::uint16_t>(b[0] << 8 | b[1]);
            (at % 3 == 0 ? item.slope : at % 3 == 1 ? item.gas : item.petrol) = word;
        }
        const std::vector<std::uint8_t> map = EncodeMapStream(ctx());
        std::copy(map.begin(), map.end(), m.rpmMap.begin());
        return m;
    }

    sim::EngineModel engine{clock, ecu, warmEngine()};
    Subscription driver;
    EcuMemory start;
};

TEST_P(AcbPage, ARunStartedWithTheMouseEndsWithSuccessOnThePageAndTheResultOnTheEcu) {
    open();
    ASSERT_NO_FATAL_FAILURE(pressStart());
    const bool shots = std::string(GetParam().name) == "Default";
    // Half way, with a group on gas: the bars and boxes show the cylinders under test.
    ASSERT_TRUE(runLong(
        [&] {
            return ctx().view.ProgressBar_3D_ACB.value * 2 > ctx().view.ProgressBar_3D_ACB.max &&
                   ctx().view.ProgressBar_3D_ACB.max > 30 && ctx().live.Work_Mode == 4;
        },
        600000));
    main().Refresh(); // as the window's refresh does
    EXPECT_EQ(page().prompt()->text().toStdString(), ctx().view.HudLabel_3D_ACB_Prompt.text);
    EXPECT_EQ(page().progress()->value(), ctx().view.ProgressBar_3D_ACB.value);
    EXPECT_GT(page().bars()->filledRect(0, 0).height(), 0) << "no petrol bar drawn";
    EXPECT_FALSE(page().algorithm()->isEnabled()) << "the algorithm changed under a run";
    if (shots) save(main(), "acb-page-running.png");

    ASSERT_TRUE(runLong([&] { return settled(); }, 900000))
        << ctx().view.HudLabel_3D_ACB_Prompt.text;
    ASSERT_TRUE(page().lastEnd().has_value());
    EXPECT_EQ(page().lastEnd()->result, AutoCalibrationResult::Success) << page().lastEnd()->reason;
    EXPECT_EQ(page().prompt()->text().toStdString(), "Autocalibration successfully completed.");
    EXPECT_EQ(page().prompt()->colour(),
              ui::ColourFromText(ctx().colours.ColourOf(Colour::Txt_Complete)));
    EXPECT_FALSE(page().start()->isChecked());
    EXPECT_EQ(page().start()->text(), QStringLiteral("Start"));
    const EcuMemory want = programEncoding();
    EXPECT_NE(want, start) << "the run changed nothing";
    EXPECT_EQ(memoryOf(ecu.state()), want) << differences(memoryOf(ecu.state()), want);
    if (shots) {
        save(main(), "acb-page-success.png");
        // Larger: bars, boxes and texts are drawn at the size, not stretched.
        main().resize(1600, 1000);
        run(500);
        save(main(), "acb-page-success-large.png");
    }
}

INSTANTIATE_TEST_SUITE_P(Algorithms, AcbPage,
                         ::testing::Values(Algorithm{"Default", "2.54"},
                                           Algorithm{"Only OFFSET calibration", "2.54"},
                                           Algorithm{"Fast calibration", "2.54"},
                                           Algorithm{"High R.P.M. calibration", "2.54"},
                                           Algorithm{"Innovational", "1.63"},
                                           // No to the question: the classic run on that ECU.
                                           Algorithm{"Fast calibration", "1.63"}),
                         [](const ::testing::TestParamInfo<Algorithm>& p) {
                             std::string n;
                             for (const char c :
                                  std::string(p.param.name) + "On" + p.param.firmware)
                                 if (std::isalnum(static_cast<unsigned char>(c))) n += c;
                             return n;
                         });

class AcbPageStop : public AcbPage {};

TEST_P(AcbPageStop, AStopPressMidRunPutsBackWhatTheEcuHad) {
    open();
    ASSERT_NO_FATAL_FAILURE(pressStart());
    // Well into the measurements: the run has written diagrams of its own by now.
    ASSERT_TRUE(runLong(
        [&] {
            return ecu.state().diagram != start.diagram &&
                   ctx().view.ProgressBar_3D_ACB.value * 4 > ctx().view.ProgressBar_3D_ACB.max;
        },
        300000));
    QTest::mouseClick(page().start(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_FALSE(page().start()->isChecked());
    ASSERT_TRUE(runLong([&] { return settled(); }, 300000))
        << ctx().view.HudLabel_3D_ACB_Prompt.text;
    EXPECT_EQ(page().lastEnd()->result, AutoCalibrationResult::Stopped);
    EXPECT_EQ(page().prompt()->text().toStdString(),
              "Autocalibration stopped. " + ctx().LangText("ACB_Restore_Done"));
    EXPECT_EQ(page().prompt()->colour(),
              ui::ColourFromText(ctx().colours.ColourOf(Colour::Txt_Error)));
    // Byte for byte, the map's 0x6E too (0x6D decodes to the same factor).
    const EcuMemory want = start;
    EXPECT_EQ(memoryOf(ecu.state()), want) << differences(memoryOf(ecu.state()), want);
    EXPECT_EQ(programEncoding(), want) << "the program does not hold what the ECU had";
    EXPECT_TRUE(page().algorithm()->isEnabled());
}

TEST_P(AcbPageStop, AStopWhileTheLinkIsGoneShowsTheRestorePendingThenItsEnd) {
    open();
    ASSERT_NO_FATAL_FAILURE(pressStart());
    ASSERT_TRUE(runLong([&] { return ecu.state().diagram != start.diagram; }, 300000));
    line.setUnplugged(true);
    ASSERT_TRUE(runLong([&] { return !ctx().link.ECU_Connected; }, 30000));
    main().Refresh();
    EXPECT_EQ(page().prompt()->text().toStdString(), ctx().view.HudLabel_3D_ACB_Prompt.text);
    EXPECT_TRUE(page().prompt()->text().startsWith(
        QStringLiteral("Autocalibration failed. No connection with ECU")));
    EXPECT_TRUE(page().start()->isChecked()) << "the run waits for the ECU";
    QTest::mouseClick(page().start(), Qt::LeftButton);
    QCoreApplication::processEvents();
    ASSERT_TRUE(page().lastEnd().has_value());
    EXPECT_TRUE(page().lastEnd()->restorePending);
    const std::string pending =
        ctx().LangText("ACB_Partial_Calibration") + " " + ctx().LangText("ACB_Restore_When_Back");
    EXPECT_EQ(page().prompt()->text().toStdString(), "Autocalibration stopped. " + pending);
    EXPECT_EQ(page().prompt()->colour(),
              ui::ColourFromText(ctx().colours.ColourOf(Colour::Txt_Error)));
    EXPECT_FALSE(page().start()->isChecked());

    // The same ECU answers again: what it had goes back, and the page says so.
    line.setUnplugged(false);
    const QString done = QString::fromStdString(ctx().LangText("ACB_Restore_Done"));
    ASSERT_TRUE(runLong(
        [&] { return page().prompt()->text() == done && polling() && ctx().ops.Saving.empty(); },
        120000))
        << page().prompt()->text().toStdString();
    EXPECT_EQ(page().prompt()->colour(),
              ui::ColourFromText(ctx().colours.ColourOf(Colour::Txt_Complete)));
    const EcuMemory want = start; // byte for byte, though the map was read again meanwhile
    EXPECT_EQ(memoryOf(ecu.state()), want) << differences(memoryOf(ecu.state()), want);
}

INSTANTIATE_TEST_SUITE_P(Classic, AcbPageStop, ::testing::Values(Algorithm{"Default", "2.54"}),
                         [](const ::testing::TestParamInfo<Algorithm>&) {
                             return std::string("Default");
                         });

} // namespace
} // namespace bifuel::test
