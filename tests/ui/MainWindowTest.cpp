#include "UiHarness.h"

#include "data/Calc_Unit.h"
#include "data/Dynamic_IND_Unit.h"
#include "files/FindUnit.h"
#include "link/Global_Unit.h"

#include <QLineEdit>

#include <set>

namespace bifuel::test {
namespace {

using MainWindow = StudioHarness;

TEST_F(MainWindow, OpensThePortAfterTheLayoutActionsAndShowsTheSimulatorsValues) {
    start();
    run(1200);
    EXPECT_FALSE(line.host().isOpen()) << "nothing opens before the layout actions have run";
    ASSERT_TRUE(runUntil([this] { return line.host().isOpen(); }, 400));
    // The status line shows the loading, then cycles on to the engine hours.
    std::set<QString> shown;
    ASSERT_TRUE(runUntil(
        [&] {
            shown.insert(main().statusLine()->text());
            return polling();
        },
        10000));
    ASSERT_TRUE(runUntil(
        [&] {
            shown.insert(main().statusLine()->text());
            return shown.count(QString::fromStdString(WorkTimeText(ctx()))) > 0;
        },
        5000));
    EXPECT_EQ(shown.count(QString::fromStdString(ctx().LangText("DynamicIND_Receiv_Off"))), 1u);
    EXPECT_TRUE(main().statusLine()->isVisible());

    // The simulator idles at 800 rpm on petrol with 2.80 ms petrol times.
    EXPECT_EQ(main().valueLabel(2)->text(), "800");
    EXPECT_EQ(main().valueLabel(0)->text(), QString::fromStdString(InjTimeToText(2800)));
    EXPECT_EQ(main().workModeLabel()->text(), QString::fromStdString(ctx().LangText("Petrol")));
    EXPECT_EQ(main().linkQuality()->text(), "100%");
    EXPECT_EQ(main().portName()->text(), "sim");
    EXPECT_FALSE(main().portSearchButton()->isVisible());
    EXPECT_TRUE(main().titleText().contains("KestraLX") ||
                main().titleText().contains(QString::fromStdString(ctx().config.ECU_Version)));
    EXPECT_TRUE(main().titleText().contains("simulated ECU"));
}

TEST_F(MainWindow, ModeButtonAndKeysSwitchTheSimulatorsMode) {
    connectToSimulator();
    struct Case {
        const char* what;
        std::function<void()> act;
        std::uint8_t modeByte;
        std::uint8_t workMode;
    };
    const std::vector<Case> cases{
        {"mode button on petrol",
         [this] { QTest::mouseClick(main().workModeButton(), Qt::LeftButton); }, 0x02, 2},
        {"mode button on automatic",
         [this] { QTest::mouseClick(main().workModeButton(), Qt::LeftButton); }, 0xF4, 4},
        {"key P", [this] { QTest::keyClick(&main(), Qt::Key_P); }, 0x01, 1},
        {"key G", [this] { QTest::keyClick(&main(), Qt::Key_G); }, 0xF4, 4},
        {"mode button on gas",
         [this] { QTest::mouseClick(main().workModeButton(), Qt::LeftButton); }, 0x01, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.act();
        ASSERT_TRUE(runUntil([&] { return ctx().live.Work_Mode == c.workMode; }, 3000));
        EXPECT_EQ(ecu.state().lastModeByte, c.modeByte);
    }
}

TEST_F(MainWindow, KeyFTogglesFullScreenUnlessATextBoxHasFocus) {
    start();
    const ui::Rect area = main().workArea();
    QTest::keyClick(&main(), Qt::Key_F);
    // The toggle waits behind the start-up actions of the same queue.
    ASSERT_TRUE(runUntil([this] { return ctx().settings.Full_Screen; }, 4000));
    EXPECT_TRUE(ctx().settings.Full_Screen);
    EXPECT_EQ(main().frame(), ui::FullScreenGeometry(area));
    EXPECT_EQ(main().fullScreenCircle()->symbol(), ui::ChromeCircle::Symbol::FullScreen);

    // Typing into a text box types.
    main().activateWindow();
    main().passwordBox()->setFocus();
    QTest::keyClick(main().passwordBox(), Qt::Key_F);
    run(200);
    EXPECT_TRUE(ctx().settings.Full_Screen);
    EXPECT_EQ(main().passwordBox()->text(), "f");

    main().setFocus();
    QTest::keyClick(&main(), Qt::Key_F);
    ASSERT_TRUE(runUntil([this] { return !ctx().settings.Full_Screen; }, 2000));
    EXPECT_FALSE(ctx().settings.Full_Screen);
    EXPECT_EQ(main().frame(), ui::CentredOn(area, ui::kDesignWidth, ui::kDesignHeight));

    // A full-screen window made smaller by the user is a window again.
    QTest::keyClick(&main(), Qt::Key_F);
    ASSERT_TRUE(runUntil([this] { return ctx().settings.Full_Screen; }, 2000));
    main().resize(700, 500);
    EXPECT_FALSE(ctx().settings.Full_Screen);
    EXPECT_EQ(main().fullScreenCircle()->symbol(), ui::ChromeCircle::Symbol::Windowed);
}

TEST_F(MainWindow, FileMenuExitClosesTheProgramAndWritesTheSettings) {
    start();
    run(1500);
    main().resize(900, 650);
    QTest::mousePress(main().fileMenuButton(), Qt::LeftButton);
    ASSERT_TRUE(main().fileMenuPanel()->isVisible());
    EXPECT_FALSE(main().languageMenuPanel()->isVisible());
    const QRect exit = main().fileMenu()->itemRect(3);
    QTest::mouseClick(main().fileMenu(), Qt::LeftButton, {}, exit.center());
    EXPECT_FALSE(main().isVisible());
    EXPECT_TRUE(ended);
    EXPECT_FALSE(ctx().link.Main_Shown);

    KeyFile file;
    ASSERT_TRUE(file.OpenKeyFile(work.path() / "bifuel-studio.ini"));
    ASSERT_TRUE(file.GetKeyInt("Form_3D_GEN_Width"));
    EXPECT_EQ(file.Found_Int, 900);
    ASSERT_TRUE(file.FindKey("Port_Name"));
    EXPECT_EQ(file.Found_Value, "sim");

    // Nothing is shown any more once the window has closed.
    ShowMessageWindow(ctx(), 13, "late");
    run(300);
    EXPECT_FALSE(app->message().isVisible());
}

TEST_F(MainWindow, ClosingStopsTheLinkTheSearchAndTheMapTrace) {
    connectToSimulator();
    StartPortSearch(ctx()); // no port to search: it reads the list every 100 ms
    ctx().timers.Timer_3D_MapRPM_Tail->start();
    ASSERT_TRUE(ctx().timers.Timer_Select_ComPort->isRunning());
    main().close();
    const LinkTimers& t = ctx().timers;
    for (const auto& [name, timer] : {std::pair{"Timer_GEN_General", t.Timer_GEN_General.get()},
                                      {"Timer_Connect", t.Timer_Connect.get()},
                                      {"Timer_Sending", t.Timer_Sending.get()},
                                      {"Timer_3D_MapRPM_Tail", t.Timer_3D_MapRPM_Tail.get()},
                                      {"Timer_Select_ComPort", t.Timer_Select_ComPort.get()}}) {
        EXPECT_FALSE(timer->isRunning()) << name;
    }
    EXPECT_FALSE(line.host().isOpen());
    const std::size_t sent = line.hostWrites().size();
    run(10000);
    EXPECT_EQ(line.hostWrites().size(), sent);
    EXPECT_FALSE(line.host().isOpen());
    EXPECT_FALSE(app->port().isVisible());
}

TEST_F(MainWindow, MenuClosesAfterTheMouseLeavesIt) {
    start();
    run(300);
    QTest::mousePress(main().languageMenuButton(), Qt::LeftButton);
    ASSERT_TRUE(main().languageMenuPanel()->isVisible());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(main().languageMenu(), &leave);
    run(250);
    EXPECT_TRUE(main().languageMenuPanel()->isVisible());
    run(100);
    EXPECT_FALSE(main().languageMenuPanel()->isVisible());
    EXPECT_FALSE(main().menuOpen());
}

TEST_F(MainWindow, ContentScalesAsOneLayoutAndKeepsTheMinimumSize) {
    start();
    run(400);
    main().resize(1000, 700);
    QCoreApplication::processEvents();
    EXPECT_NEAR(main().contentLayout()->scaleX(), 974.0 / 766.0, 0.002);
    EXPECT_NEAR(main().contentLayout()->scaleY(), 656.0 / 535.0, 0.002);
    // The RPM value keeps its design place: column at (5, 25), panel at y 100.
    const QPoint rpm = main().valueLabel(2)->mapTo(main().contentLayout(), QPoint(0, 0));
    EXPECT_NEAR(rpm.x(), (5 + 8) * 974.0 / 766.0, 2);
    EXPECT_NEAR(rpm.y(), (25 + 100 + 18) * 656.0 / 535.0, 2);

    main().resize(300, 200);
    QCoreApplication::processEvents();
    EXPECT_EQ(main().width(), ui::kMinWidth);
    EXPECT_EQ(main().height(), ui::kMinHeight);
}

TEST_F(MainWindow, SplitterTakesOnlyWidthsBetweenTheLimits) {
    start("Port_Name=sim\r\nPanel_IND_Width=350\r\n");
    run(400);
    EXPECT_EQ(main().columnWidth(), ui::kColumnDesignWidth) << "a stored width of 350 is not taken";
    struct Case {
        double dx;
        double width;
    };
    for (const Case& c : {Case{100, 220}, Case{79, 299}, Case{1, 299}, Case{-239, 299},
                          Case{-238, 61}, Case{-1, 61}}) {
        main().moveSplitter(c.dx);
        EXPECT_EQ(main().columnWidth(), c.width) << "dx " << c.dx;
    }
    EXPECT_EQ(main().nameLabel(0)->width(), main().valueLabel(0)->width() + 2);
}

TEST_F(MainWindow, AccessCodeShowsTheServiceButtons) {
    start();
    run(300);
    for (const char* code : {"kirvel4816", "kirvel4815"}) {
        QTest::mousePress(main().portName(), Qt::LeftButton);
        main().passwordBox()->setText(code);
        QTest::keyClick(main().passwordBox(), Qt::Key_Return);
    }
    EXPECT_TRUE(main().flipButton()->isVisible());
    EXPECT_TRUE(main().settingsButton()->isVisible());
    EXPECT_EQ(main().flipButton()->x(), main().languageMenuButton()->geometry().right() + 1);
}

class NewerEcu : public StudioHarness {
  protected:
    static sim::EcuState longIdent() {
        auto s = sim::SimEcu::defaultState();
        s.identLength = 43;
        return s;
    }
    NewerEcu() : StudioHarness(longIdent()) {}
};

TEST_F(NewerEcu, DisablesTheWindowAndClosingTheMessageEndsTheProgram) {
    start();
    ASSERT_TRUE(runUntil([this] { return app->message().isVisible(); }, 8000));
    EXPECT_EQ(app->message().Message_Type(), 15);
    EXPECT_FALSE(main().isEnabled());
    QTest::keyClick(&main(), Qt::Key_G); // no input while it is shown
    EXPECT_EQ(ctx().link.Pending_Request, Request::None);
    ASSERT_EQ(app->message().buttons().size(), 1u);
    QTest::mouseClick(app->message().buttons().front(), Qt::LeftButton);
    EXPECT_FALSE(main().isVisible());
    EXPECT_TRUE(ended);
}

} // namespace
} // namespace bifuel::test
