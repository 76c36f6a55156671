#include "UiHarness.h"

#include "Settings_3D_Unit.h"
#include "Skin_3D_Unit.h"
#include "files/FindUnit.h"
#include "link/Global_Unit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <filesystem>
#include <functional>

namespace bifuel::test {
namespace {

class SettingsWindow : public StudioHarness {
  protected:
    ui::TForm_3D_SET& settings() { return app->settings(); }

    // The way a user gets there: a press on the port name, the access code, the Settings
    // button that then shows.
    void openSettingsFromTheMainWindow() {
        QTest::mousePress(main().portName(), Qt::LeftButton);
        QTest::keyClicks(main().passwordBox(), "kirvel4815");
        QTest::keyClick(main().passwordBox(), Qt::Key_Return);
        ASSERT_TRUE(main().settingsButton()->isVisible());
        QTest::mouseClick(main().settingsButton(), Qt::LeftButton);
        ASSERT_TRUE(settings().isVisible());
    }

    // Clicks the Manual button; `answer` acts in the port dialog while it is open and
    // says whether to press OK (else Cancel).
    void useManualPortDialog(const std::function<bool(ui::PortSetupDialog&)>& answer) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = dynamic_cast<ui::PortSetupDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return; // the test fails below; the guard closes the dialog
            seen = true;
            const bool ok = answer(*dialog);
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            QTest::mouseClick(buttons->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel),
                              Qt::LeftButton);
        });
        QTimer guard; // never left hanging in a modal loop
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] {
            if (QWidget* w = QApplication::activeModalWidget()) w->close();
        });
        guard.start(5000);
        QTest::mouseClick(settings().manualButton(), Qt::LeftButton);
        EXPECT_TRUE(seen) << "the port dialog did not open";
    }

    std::size_t hostWrites() const { return line.hostWrites().size(); }

    static void typeInto(QAbstractSpinBox* box, const char* text) {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
    }
    static void tick(QCheckBox* box) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    }

    // A control of the window, what a user does with it, and whether the setting took it.
    struct ControlCase {
        const char* what;
        std::function<void()> act;
        std::function<bool()> took;
    };
    std::vector<ControlCase> controlCases(ui::TForm_3D_SET& window) {
        ui::TForm_3D_SET* s = &window;
        const Settings_Class* set = &ctx().settings;
        return {
            {"automatic search", [s] { tick(s->portSearchBox()); },
             [set] { return !set->Search_Port; }},
            {"reply delay", [s] { typeInto(s->portDelayBox(), "250"); },
             [set] { return set->Reply_Delay == 250; }},
            {"write delay", [s] { typeInto(s->transmitDelayBox(), "3000"); },
             [set] { return set->CFG_Transmit_Delay == 3000; }},
            {"idle points", [s] { tick(s->idlePointsBox()); }, [set] { return set->Idle_Points; }},
            {"MAP point", [s] { tick(s->mapPointBox()); }, [set] { return set->Map_Point; }},
            {"joystick", [s] { tick(s->joystickBox()); }, [set] { return set->Diagram_Joystick; }},
            {"no live-data log", [s] { tick(s->logLiveBox()); }, [set] { return !set->Log_Live; }},
            {"log folder limit", [s] { typeInto(s->logMaxBox(), "20"); },
             [set] { return set->Log_Max_MB == 20; }},
            {"live-only polling", [s] { tick(s->liveOnlyBox()); },
             [set] { return set->Live_Only_Polling; }},
            {"algorithm",
             [s] {
                 s->algorithmBox()->setFocus();
                 s->algorithmBox()->setCurrentIndex(0);
                 emit s->algorithmBox()->activated(0);
             },
             [set] { return set->ACB_SCR_Type == "Default"; }},
            {"opacity, half way",
             [s] {
                 QTest::mouseClick(s->opacitySlider(), Qt::LeftButton, {},
                                   s->opacitySlider()->rect().center());
             },
             [this, s, set] {
                 return std::abs(set->Panels_Opacity - 0.5) < 0.02 &&
                        s->panel()->fillOpacity() == set->Panels_Opacity &&
                        main().page(0)
                                ->findChild<ui::DesignLayout*>("HudPanel_CFG")
                                ->fillOpacity() == set->Panels_Opacity;
             }},
        };
    }
};

TEST_F(SettingsWindow, ManualPortDialogIsReachedFromTheMainWindowAndOkHandsThePortToTheLink) {
    connectToSimulator();
    FakeLister lister;
    lister.ports = {"sim", "ttyS7"};
    ctx().lister = &lister;
    const struct Unhook {
        Context& c;
        ~Unhook() { c.lister = nullptr; } // the lister goes before the windows
    } unhook{ctx()};
    std::vector<PortLineSettings> applied;
    const Subscription watch = ctx().events.lineSettings.subscribe(
        [&applied](const PortLineSettings& s) { applied.push_back(s); });
    openSettingsFromTheMainWindow();
    EXPECT_EQ(settings().portNameBox()->text(), "sim");

    // Cancel changes nothing, whatever was picked.
    useManualPortDialog([](ui::PortSetupDialog& d) {
        EXPECT_EQ(d.portBox()->currentText(), "sim") << "preset from the current port";
        EXPECT_EQ(d.baudBox()->currentText(), "9600");
        EXPECT_EQ(d.portBox()->findText("ttyS7"), 1) << "the ports the program lists";
        d.portBox()->setCurrentIndex(1);
        d.baudBox()->setCurrentText("19200");
        return false;
    });
    EXPECT_EQ(ctx().settings.Port_Name, "sim");
    EXPECT_EQ(ctx().port.portName(), "sim");
    EXPECT_EQ(ctx().portSearch.Startup_Port_Name, "sim");
    EXPECT_EQ(ctx().portSearch.Line_Settings, PortLineSettings{});
    EXPECT_TRUE(applied.empty());
    EXPECT_EQ(settings().portNameBox()->text(), "sim");
    run(1000);
    EXPECT_TRUE(polling()) << "the link went on undisturbed";

    // OK: the port and its line settings go to the link, which opens the port afresh.
    const PortLineSettings chosen{.Baud_Rate = 19200, .Parity = PortParity::Even};
    useManualPortDialog([](ui::PortSetupDialog& d) {
        d.portBox()->setCurrentText("ttyS7");
        d.baudBox()->setCurrentText("19200");
        d.parityBox()->setCurrentText("Even");
        return true;
    });
    EXPECT_EQ(ctx().settings.Port_Name, "ttyS7");
    EXPECT_EQ(ctx().portSearch.Startup_Port_Name, "ttyS7") << "preferred by the next search";
    EXPECT_EQ(ctx().portSearch.Line_Settings, chosen);
    EXPECT_EQ(applied, std::vector<PortLineSettings>{chosen});
    EXPECT_EQ(ctx().port.portName(), "ttyS7");
    EXPECT_EQ(settings().portNameBox()->text(), "ttyS7");
    // The ECU on that line answers again under the new name.
    ASSERT_TRUE(
        runUntil([this] { return polling() && main().portName()->text() == "ttyS7"; }, 10000));
}

TEST_F(SettingsWindow, OpensBelowTheMainWindowAndItsControlsChangeTheSettings) {
    connectToSimulator();
    openSettingsFromTheMainWindow();
    ui::TForm_3D_SET& s = settings();
    EXPECT_EQ(s.pos(), main().pos() + QPoint(0, 22));
    EXPECT_EQ(s.size(), QSize(kSettingsDesignWidth, kSettingsDesignHeight));
    EXPECT_EQ(s.windowTitle(), "Settings");
    EXPECT_EQ(s.algorithmBox()->count(), 4) << "Innovational is never offered";
    EXPECT_TRUE(s.portSearchBox()->isChecked());
    EXPECT_EQ(s.programCodeBox()->text(), "25");
    EXPECT_TRUE(s.logLiveBox()->isChecked());
    EXPECT_EQ(s.logMaxBox()->value(), 500);
    EXPECT_FALSE(s.liveOnlyBox()->isChecked()) << "faster polling is the user's choice";
    EXPECT_TRUE(
        s.folderLabel()->text().endsWith(QString::fromStdString(ctx().paths.Work_Dir.string())))
        << "the window says where the files are";
    save(s, "settings-window.png");

    const Settings_Class& set = ctx().settings;
    for (const ControlCase& c : controlCases(s)) {
        c.act();
        EXPECT_TRUE(c.took()) << c.what;
    }

    // A program code restarts the connection; one that is no code is refused and said so.
    s.programCodeBox()->setText("23");
    QTest::keyClick(s.programCodeBox(), Qt::Key_Return);
    EXPECT_EQ(set.Program_Code, 23);
    EXPECT_EQ(ctx().link.Pending_Request, Request::Reconnect);
    s.programCodeBox()->setText("300");
    QTest::keyClick(s.programCodeBox(), Qt::Key_Return);
    EXPECT_EQ(set.Program_Code, 23);
    EXPECT_EQ(s.programCodeBox()->text(), "23");
    ASSERT_TRUE(runUntil([this] { return app->message().isVisible(); }, 1000));
    EXPECT_TRUE(app->message().labelText().contains("23 is kept"));
}

TEST_F(SettingsWindow, LanguagePickedInTheBoxTurnsEveryWindowToIt) {
    std::filesystem::create_directories(work.path() / "Language");
    std::filesystem::copy_file(std::filesystem::path(BIFUEL_SOURCE_DIR) / "data" / "Language" /
                                   "Deutsch.lng",
                               work.path() / "Language" / "Deutsch.lng");
    start();
    run(300);
    openSettingsFromTheMainWindow();
    QComboBox* box = settings().languageBox();
    const int german = box->findText("Deutsch");
    ASSERT_GE(german, 0);
    box->setCurrentIndex(german);
    emit box->activated(german);
    EXPECT_EQ(ctx().settings.Language, "Deutsch");
    EXPECT_EQ(settings().windowTitle(), "Einstellungen");
    EXPECT_EQ(settings().manualButton()->text(), "Manuell");
    EXPECT_EQ(main().workModeButton()->text(), "Modus");
    EXPECT_TRUE(main().titleText().contains(QString::fromUtf8("simuliertes Steuergerät")));
}

TEST_F(SettingsWindow, OpenAtTheEndItReopensInPlaceAndClosedByTheUserItLeavesNoKeys) {
    start();
    run(300);
    openSettingsFromTheMainWindow();
    settings().move(40, 50);
    main().close();
    KeyFile file;
    const auto ini = work.path() / "bifuel-studio.ini";
    ASSERT_TRUE(file.OpenKeyFile(ini));
    EXPECT_TRUE(file.GetKeyBool("Form_3D_SET_Show") && file.Found_Bool);
    EXPECT_TRUE(file.GetKeyInt("Form_3D_SET_Pos_X") && file.Found_Int == 40);
    EXPECT_TRUE(file.GetKeyInt("Form_3D_SET_Pos_Y") && file.Found_Int == 50);
    file.CloseKeyFile();

    // The next start opens it again, where it was.
    app.reset();
    app = std::make_unique<ui::StudioApp>(clock, line.host(), work.paths(true));
    app->Show();
    QCoreApplication::processEvents();
    ASSERT_TRUE(settings().isVisible());
    EXPECT_EQ(settings().pos(), QPoint(40, 50));

    // Closed by the user, it forgets its place, also after the program ends.
    QTest::mouseClick(settings().closeButton(), Qt::LeftButton);
    EXPECT_FALSE(settings().isVisible());
    EXPECT_FALSE(ctx().settingsView.Shown);
    main().close();
    ASSERT_TRUE(file.OpenKeyFile(ini));
    for (const char* key : {"Form_3D_SET_Show", "Form_3D_SET_Pos_X", "Form_3D_SET_Pos_Y",
                            "Form_3D_SET_Width", "Form_3D_SET_Height"}) {
        EXPECT_FALSE(file.FindKey(key)) << key;
    }
}

TEST_F(SettingsWindow, SkinWindowChangesColoursAndItsDefaultRestoresThem) {
    start();
    run(3000); // past the start-up actions (the splash ends last), which the font action would wait
               // for
    openSettingsFromTheMainWindow();
    QTest::mouseClick(settings().skinButton(), Qt::LeftButton);
    ui::TForm_3D_Skin& skin = app->skin();
    ASSERT_TRUE(skin.isVisible());
    EXPECT_EQ(skin.windowTitle(), "Skins of the program");
    EXPECT_EQ(skin.selectedElement(), 1);
    EXPECT_EQ(skin.elementList()->count(), kColourCount - 1);
    EXPECT_EQ(skin.elementButton()->text(), "MODE : Automat");

    QColor offered;
    skin.pickColour = [&offered](QColor initial, const QString&) -> std::optional<QColor> {
        offered = initial;
        return QColor(0x12, 0x34, 0x56);
    };
    // The reducer pressure's colour: its indicator takes it with the next font action.
    skin.elementList()->setCurrentIndex(static_cast<int>(Colour::PressVap) - 1);
    emit skin.elementList()->activated(static_cast<int>(Colour::PressVap) - 1);
    EXPECT_EQ(skin.elementButton()->text(), "Reducer pressure");
    QTest::mouseClick(skin.elementButton(), Qt::LeftButton);
    EXPECT_EQ(offered, QColor(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(ctx().colours.ColourOf(Colour::PressVap), "#FF123456");
    ASSERT_TRUE(runUntil(
        [this] { return main().nameLabel(3)->colour() == QColor(0x12, 0x34, 0x56); }, 1000));

    QTest::mouseClick(skin.programColourButton(), Qt::LeftButton);
    EXPECT_EQ(ctx().skin.Color, "#FF123456");
    EXPECT_EQ(skin.programSwatch()->colour(), QColor(0x12, 0x34, 0x56));

    skin.pickFont = [](const QFont& initial, const QString&) -> std::optional<QFont> {
        EXPECT_EQ(initial.family(), "Tahoma");
        QFont f("DejaVu Serif", 14);
        f.setBold(true);
        return f;
    };
    QTest::mouseClick(skin.fontStyleButton(), Qt::LeftButton);
    EXPECT_EQ(ctx().settings.Font_Name, "DejaVu Serif");
    EXPECT_EQ(ctx().settings.Font_Size, 14.0F);
    EXPECT_EQ(ctx().settings.Font_Style, 1);

    QTest::mouseClick(skin.defaultButton(), Qt::LeftButton);
    EXPECT_EQ(ctx().colours.ColourOf(Colour::PressVap), "#FFFFFFFF");
    EXPECT_EQ(ctx().skin, WindowSkin{});
    EXPECT_EQ(skin.selectedElement(), 1);
    ASSERT_TRUE(
        runUntil([this] { return main().nameLabel(3)->colour() == QColor(Qt::white); }, 1000));

    // A right press on the service button Flip opens it too.
    skin.close();
    QTest::mousePress(main().flipButton(), Qt::RightButton);
    EXPECT_TRUE(skin.isVisible());
}

} // namespace
} // namespace bifuel::test
