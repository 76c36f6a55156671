#include "UiHarness.h"
#include "link/Link_Operations.h"

#include "SaveLoad_3D_Unit.h"
#include "Settings_3D_Unit.h"
#include "Skin_3D_Unit.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Global_Unit.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include <filesystem>
#include <fstream>

namespace bifuel::test {
namespace {

// Pictures of the windows as a user sees them, for a person to look at.
class Screenshots : public StudioHarness {};

TEST_F(Screenshots, SetupPageConnectedOnPetrolAndOnGas) {
    connectToSimulator();
    run(2500);
    main().selectPage(0);
    run(300);
    save(main(), "setup_page_petrol.png");
    QTest::keyClick(&main(), Qt::Key_G);
    ASSERT_TRUE(runUntil([this] { return ctx().live.Work_Mode == kModeGas; }, 3000));
    run(500);
    save(main(), "setup_page_gas.png");
}

TEST_F(Screenshots, MainWindowConnectedMessageAndPortWindows) {
    connectToSimulator();
    run(2500); // past the splash
    save(main(), "main_windowed.png");

    QTest::keyClick(&main(), Qt::Key_F);
    ASSERT_TRUE(runUntil([this] { return ctx().settings.Full_Screen; }, 2000));
    run(200);
    save(main(), "main_full_screen.png");

    ShowMessageWindow(ctx(), 3, "");
    ASSERT_TRUE(runUntil([this] { return app->message().isVisible(); }, 1000));
    run(200);
    save(app->message(), "message_question.png");
    app->message().close();
    ShowMessageWindow(ctx(), 13, "Error In Script\n\rScript number : 12\n\rScript : 250");
    ASSERT_TRUE(runUntil([this] { return app->message().isVisible(); }, 1000));
    run(200);
    save(app->message(), "message_script_error.png");
    app->message().close();
    // The longest message a write cut off by the cable brings.
    ShowMessageWindow(ctx(), kMessageWriteCutOff,
                      ctx().LangText("Operation_Line_Loses_Replies") + "\n" +
                          OperationName(ctx(), Request::WriteAll) + " " +
                          ctx().LangText("Operation_Write_Partial") + "\n" +
                          ctx().LangText("Operation_Values_Read_Again"));
    ASSERT_TRUE(runUntil([this] { return app->message().isVisible(); }, 1000));
    run(200);
    save(app->message(), "message_write_cut_off.png");
    app->message().close();
    // Another ECU answered while a run's write back waits for the first.
    ShowMessageWindow(ctx(), kMessageCalibrationRestore, ctx().LangText("ACB_Restore_Other_Ecu"));
    ASSERT_TRUE(runUntil([this] { return app->message().isVisible(); }, 1000));
    run(200);
    save(app->message(), "message_calibration_restore.png");
    app->message().close();

    // The port window while searching, then with the list.
    ctx().settings.Port_Name = "ttyNONE";
    ctx().settings.Search_Port = true;
    StartPortSearch(ctx());
    ASSERT_TRUE(runUntil([this] { return app->port().isVisible(); }, 1000));
    save(app->port(), "port_searching.png");
    ASSERT_TRUE(runUntil([this] { return ctx().portView.HudMemo_3D_Port.visible; }, 3000));
    run(200);
    save(app->port(), "port_list.png");
}

TEST_F(Screenshots, SettingsSetupDialogAndSkinWindows) {
    std::filesystem::create_directories(work.path() / "Language");
    std::filesystem::copy_file(std::filesystem::path(BIFUEL_SOURCE_DIR) / "data" / "Language" /
                                   "Deutsch.lng",
                               work.path() / "Language" / "Deutsch.lng");
    connectToSimulator();
    run(2500);
    app->settings().Show_Settings_Window();
    run(300);
    save(app->settings(), "settings.png");

    // The manual port dialog, as its button opens it.
    bool saved = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr) return;
        save(*dialog, "port_setup.png");
        saved = true;
        dialog->close();
    });
    QTest::mouseClick(app->settings().manualButton(), Qt::LeftButton);
    EXPECT_TRUE(saved);

    QTest::mouseClick(app->settings().skinButton(), Qt::LeftButton);
    run(300);
    save(app->skin(), "skin.png");

    // German texts run longest.
    app->main().TakeLanguage("Deutsch");
    app->skin().ApplyTexts(); // as on its next activation
    run(300);
    save(app->settings(), "settings_deutsch.png");
    save(app->skin(), "skin_deutsch.png");
}

// The main window's chrome: splash, title with the simulator badge, menus, full screen and
// a frame in the middle of the Flip effect.
TEST_F(Screenshots, MainWindowChromeMenusAndFlip) {
    std::filesystem::create_directories(work.path() / "Language");
    std::filesystem::copy_file(std::filesystem::path(BIFUEL_SOURCE_DIR) / "data" / "Language" /
                                   "Deutsch.lng",
                               work.path() / "Language" / "Deutsch.lng");
    start();
    run(300);
    ASSERT_TRUE(main().splash()->isVisible());
    save(main(), "chrome_splash.png");
    ASSERT_TRUE(runUntil([this] { return polling(); }, 10000));
    run(2500);
    ctx().config.CFG_Name = "Golf_IV_1.6_Installer_Garage";
    main().Update_Title();
    run(300);
    save(main(), "chrome_windowed.png");

    QTest::mousePress(main().fileMenuButton(), Qt::LeftButton);
    run(50);
    save(main(), "chrome_menu_file.png");
    QTest::mousePress(main().languageMenuButton(), Qt::LeftButton);
    run(50);
    save(main(), "chrome_menu_language.png");
    main().CloseMenus();

    QTest::mousePress(main().portName(), Qt::LeftButton);
    main().passwordBox()->setText(QStringLiteral("kirvel4815"));
    QTest::keyClick(main().passwordBox(), Qt::Key_Return);
    run(300);
    QTest::mousePress(main().flipButton(), Qt::LeftButton);
    run(150);
    save(main(), "chrome_flip_turning_away.png");
    run(300);
    save(main(), "chrome_flip_turning_in.png");
    ASSERT_TRUE(runUntil([this] { return !main().flipRunning(); }, 1000));
    run(300);
    save(main(), "chrome_flip_done.png");

    main().ToggleFullScreen();
    run(300);
    QDir().mkpath(BIFUEL_SCREENSHOT_DIR);
    // What the screen shows: the window without its margin outside the work area.
    ASSERT_TRUE(main()
                    .grab(main().visibleRect())
                    .save(QStringLiteral(BIFUEL_SCREENSHOT_DIR "/chrome_full_screen.png")));
    QueueDeferredAction(ctx(), ui::kActionSplashShow, 1);
    run(50);
    ASSERT_TRUE(main()
                    .grab(main().visibleRect())
                    .save(QStringLiteral(BIFUEL_SCREENSHOT_DIR "/chrome_full_screen_splash.png")));
    run(1600);
    main().ToggleFullScreen();
    main().resize(440, 330);
    run(100);
    QueueDeferredAction(ctx(), ui::kActionSplashShow, 1);
    run(50);
    save(main(), "chrome_small_splash.png");
}

TEST_F(Screenshots, SaveLoadWindowModesRefusalAndDifferences) {
    std::filesystem::create_directories(work.path() / "Language");
    std::filesystem::copy_file(std::filesystem::path(BIFUEL_SOURCE_DIR) / "data" / "Language" /
                                   "Deutsch.lng",
                               work.path() / "Language" / "Deutsch.lng");
    const std::filesystem::path dir = work.path() / "Config";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "BAD.cfg", std::ios::binary) << "PG_RPM 1900 {}\r\nLevel2 5000 {}\r\n";
    std::ofstream(dir / "OTHER.cfg", std::ios::binary)
        << "User_Name Jan {}\r\nPG_RPM 1900 {}\r\nPG_Time 5 {}\r\nLPG_on False {}\r\nLevel_Buzzer "
           "True {}\r\n"
           "MonoInject True {}\r\nLevel3 600 {}\r\nGas_Point_4 10500 {}\r\nCell_2_3 1.20 {}\r\n";
    std::ofstream(dir / "VAN.cfg", std::ios::binary) << "User_Name Ola {}\r\n";
    connectToSimulator();
    run(2500);
    ui::TForm_3D_SaveLoad& w = app->saveLoad();
    auto pick = [&w](const char* name) {
        const auto found = w.list()->findItems(QString::fromLatin1(name), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        QTest::mouseClick(w.list()->viewport(), Qt::LeftButton, {},
                          w.list()->visualItemRect(found.front()).center());
    };

    ShowSaveLoad(ctx(), SaveLoadMode::Save);
    run(300);
    save(w, "saveload_save.png");

    ShowSaveLoad(ctx(), SaveLoadMode::Load);
    pick("OTHER");
    run(300);
    save(w, "saveload_load.png");

    pick("BAD");
    QTest::mouseClick(w.runButton(), Qt::LeftButton);
    run(300);
    save(w, "saveload_refused.png");

    pick("OTHER");
    QTest::mouseClick(w.runButton(), Qt::LeftButton);
    ASSERT_TRUE(w.diffShown());
    run(300);
    save(w, "saveload_differences.png");

    // A file that holds what the ECU holds.
    SaveLoadDiffCancel(ctx());
    ShowSaveLoad(ctx(), SaveLoadMode::Save);
    SaveLoadNameChanged(ctx(), "SAME");
    SaveLoadRun(ctx());
    run(300);
    ShowSaveLoad(ctx(), SaveLoadMode::Load);
    pick("SAME");
    QTest::mouseClick(w.runButton(), Qt::LeftButton);
    ASSERT_TRUE(w.diffShown());
    run(300);
    save(w, "saveload_no_differences.png");

    app->main().TakeLanguage("Deutsch");
    SaveLoadDiffCancel(ctx());
    ShowSaveLoad(ctx(), SaveLoadMode::Load);
    pick("OTHER");
    QTest::mouseClick(w.runButton(), Qt::LeftButton);
    run(300);
    save(w, "saveload_differences_deutsch.png");
    SaveLoadDiffCancel(ctx());
    w.Refresh();
    pick("BAD");
    QTest::mouseClick(w.runButton(), Qt::LeftButton);
    run(300);
    save(w, "saveload_refused_deutsch.png");
}

} // namespace
} // namespace bifuel::test
