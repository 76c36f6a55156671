// Closing the program never loses an edit: a write still waiting goes out first, and edits
// neither on the ECU nor in a file make it ask. Edits a reconnection kept aside are offered.
#include "UiHarness.h"

#include "Edits_3D_Unit.h"
#include "data/Setup_Page.h"
#include "files/FindUnit.h"
#include "link/Edit_Tracker.h"
#include "link/Global_Unit.h"

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>

namespace bifuel::test {
namespace {

class EditsWindow : public StudioHarness {
  protected:
    EditsWindow() : StudioHarness(ConfiguredEcu()) {}

    ui::TForm_3D_Edits& dialog() { return app->edits(); }
    QString text(const char* key) { return QString::fromStdString(ctx().LangText(key)); }

    void pullCable() {
        line.setUnplugged(true);
        ASSERT_TRUE(runUntil([this] { return !ctx().link.ECU_Connected; }, 15000));
    }

    void plugBackForTheOffer() {
        line.setUnplugged(false);
        ASSERT_TRUE(runUntil([this] { return dialog().isVisible(); }, 30000));
        ASSERT_EQ(dialog().mode(), ui::TForm_3D_Edits::Mode::Offer);
    }

    // The second level threshold, as the Setup page's track bar sets it.
    void editLevel(std::int32_t value) {
        ctx().setupView.HudTrackBar_LevelGas[1] = value;
        ReadLevelBars(ctx());
    }

    // The main window's title band, as the user sees it at the top of the window.
    void saveTitle(const QString& name) {
        const QPixmap whole = main().grab();
        QDir().mkpath(BIFUEL_SCREENSHOT_DIR);
        ASSERT_TRUE(whole.copy(0, 0, whole.width(), 40)
                        .save(QStringLiteral(BIFUEL_SCREENSHOT_DIR "/") + name));
    }

    void writeKept() {
        QTest::mouseClick(dialog().writeButton(), Qt::LeftButton);
        ASSERT_TRUE(runUntil(
            [this] { return dialog().resultLabel()->text() == text("Edits_Written"); }, 30000))
            << dialog().resultLabel()->text().toStdString();
    }

    QStringList listed() {
        QStringList lines;
        for (int i = 0; i < dialog().changesList()->count(); ++i)
            lines << dialog().changesList()->item(i)->text();
        return lines;
    }
};

TEST_F(EditsWindow, ClosingSendsAWaitingEditFirstAndTheEcuHoldsItBeforeTheEnd) {
    connectToSimulator();
    std::uint16_t atEnd = 0;
    app->onEnd = [&] {
        ended = true;
        atEnd = ecu.state().params.at(0x55);
    };
    editLevel(700);
    ASSERT_TRUE(ctx().timers.Timer_GEN_Transmit->isRunning());
    main().close();
    EXPECT_FALSE(ended) << "the edit goes out before the program ends";
    EXPECT_TRUE(main().isVisible());
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_FALSE(ctx().timers.Timer_GEN_Transmit->isRunning())
        << "sent at once, not after the delay";
    ASSERT_TRUE(runUntil([this] { return ended; }, 30000));
    EXPECT_EQ(atEnd, 700);
}

TEST_F(EditsWindow, ClosingWithEditsNeitherOnTheEcuNorInAFileAsks) {
    connectToSimulator();
    run(2500); // past the splash
    pullCable();
    editLevel(650);
    run(300);
    EXPECT_TRUE(main().titleText().trimmed().startsWith(
        QString::fromStdString(ctx().LangText("Edits_Mark_ECU"))))
        << main().titleText().toStdString();
    saveTitle(QStringLiteral("edits_title_marks.png"));

    main().close();
    QCoreApplication::processEvents();
    ASSERT_TRUE(dialog().isVisible());
    EXPECT_EQ(dialog().mode(), ui::TForm_3D_Edits::Mode::CloseQuestion);
    EXPECT_FALSE(ended);
    run(100);
    save(dialog(), QStringLiteral("edits_close_question.png"));

    // Cancel: the program goes on, and asks again at the next close.
    QTest::mouseClick(dialog().cancelButton(), Qt::LeftButton);
    run(50);
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_FALSE(ended);
    main().close();
    QCoreApplication::processEvents();
    ASSERT_TRUE(dialog().isVisible());

    // A name that cannot be a file is refused in the window; a good one saves and closes.
    dialog().nameBox()->setText(QStringLiteral("a/b"));
    QTest::mouseClick(dialog().saveButton(), Qt::LeftButton);
    run(50);
    EXPECT_FALSE(ended);
    EXPECT_FALSE(dialog().resultLabel()->text().isEmpty());
    dialog().nameBox()->setText(QStringLiteral("CAR9"));
    QTest::mouseClick(dialog().saveButton(), Qt::LeftButton);
    ASSERT_TRUE(runUntil([this] { return ended; }, 1000));
    KeyFile file;
    ASSERT_TRUE(file.OpenKeyFile(ctx().paths.Config_Dir / "CAR9.cfg"));
    ASSERT_TRUE(file.GetKeyInt("Level2"));
    EXPECT_EQ(file.Found_Int, 650);
}

TEST_F(EditsWindow, EditsKeptOverAReconnectionAreOfferedAndWrittenFromTheWindow) {
    connectToSimulator();
    run(2500);
    pullCable();
    editLevel(640);
    line.setUnplugged(false);
    ASSERT_TRUE(runUntil([this] { return dialog().isVisible(); }, 30000));
    EXPECT_EQ(dialog().mode(), ui::TForm_3D_Edits::Mode::Offer);
    EXPECT_TRUE(dialog().writeButton()->isEnabled());
    EXPECT_EQ(ctx().config.Level2, ecu.state().params.at(0x55))
        << "the record shows the ECU's values";
    run(100);
    save(dialog(), QStringLiteral("edits_kept_offer.png"));
    saveTitle(QStringLiteral("edits_title_kept.png"));

    QTest::mouseClick(dialog().writeButton(), Qt::LeftButton);
    ASSERT_TRUE(runUntil(
        [this] {
            return dialog().resultLabel()->text() ==
                   QString::fromStdString(ctx().LangText("Edits_Written"));
        },
        30000))
        << dialog().resultLabel()->text().toStdString();
    EXPECT_EQ(ecu.state().params.at(0x55), 640);
    run(300);
    save(dialog(), QStringLiteral("edits_kept_written.png"));
    // Written, and saved to the car's file after the write: nothing left to mark.
    for (const char* key : {"Edits_Mark_ECU", "Edits_Mark_File"}) {
        EXPECT_FALSE(main().titleText().contains(QString::fromStdString(ctx().LangText(key))))
            << key;
    }
    saveTitle(QStringLiteral("edits_title_clear.png"));
    QTest::mouseClick(dialog().cancelButton(), Qt::LeftButton);
    run(50);
    EXPECT_FALSE(dialog().isVisible());
}

TEST_F(EditsWindow, AnotherEcuCannotTakeThemAndDropLeavesItUntouched) {
    connectToSimulator();
    run(2500);
    pullCable();
    editLevel(630);
    ecu.state().name = {'O', 'T', 'H', 'E', 'R', 0xFF, 0xFF, 0xFF};
    const auto params = ecu.state().params;
    const auto diagram = ecu.state().diagram;
    line.setUnplugged(false);
    ASSERT_TRUE(runUntil([this] { return dialog().isVisible(); }, 30000));
    EXPECT_FALSE(dialog().writeButton()->isEnabled());
    EXPECT_TRUE(dialog().textLabel()->text().contains(
        QString::fromStdString(ctx().LangText("Edits_Kept_Other_Ecu"))));
    run(100);
    save(dialog(), QStringLiteral("edits_kept_other_ecu.png"));
    QTest::mouseClick(dialog().dropButton(), Qt::LeftButton);
    run(5000);
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(ecu.state().params, params);
    EXPECT_TRUE(ecu.state().diagram == diagram);
    EXPECT_FALSE(ctx().edits.Kept.has_value());
}

TEST_F(EditsWindow, TheMarksAndTheQuestionSpeakTheLanguageChosen) {
    std::filesystem::create_directories(work.path() / "Language");
    std::filesystem::copy_file(std::filesystem::path(BIFUEL_SOURCE_DIR) / "data" / "Language" /
                                   "Deutsch.lng",
                               work.path() / "Language" / "Deutsch.lng");
    start("Port_Name=sim\r\nLanguage=Deutsch\r\n");
    ASSERT_TRUE(runUntil([this] { return polling(); }, 10000));
    run(2500);
    pullCable();
    editLevel(610);
    run(300);
    EXPECT_TRUE(main().titleText().trimmed().startsWith(
        QString::fromUtf8("[Nicht im Steuergerät] [Nicht in der Datei]")))
        << main().titleText().toStdString();
    saveTitle(QStringLiteral("edits_title_marks_de.png"));
    main().close();
    QCoreApplication::processEvents();
    ASSERT_TRUE(dialog().isVisible());
    EXPECT_EQ(dialog().saveButton()->text(), QStringLiteral("Speichern"));
    EXPECT_EQ(dialog().dropButton()->text(), QString::fromUtf8("Schließen ohne Speichern"));
    run(100);
    save(dialog(), QStringLiteral("edits_close_question_de.png"));
    // Closing without saving ends the program; nothing was written anywhere.
    QTest::mouseClick(dialog().dropButton(), Qt::LeftButton);
    ASSERT_TRUE(runUntil([this] { return ended; }, 1000));
    EXPECT_FALSE(std::filesystem::exists(ctx().paths.Config_Dir / "SHOP7.cfg"));
}

// The offer of edits kept over a reconnection lists what the ECU changed meanwhile before
// the edits themselves, and saving stays a choice after a kept write: in the next offer
// and in the question when closing.
TEST_F(EditsWindow, TheOfferShowsWhatTheEcuChangedBeforeTheEdits) {
    connectToSimulator();
    run(2500);
    pullCable();
    editLevel(640);
    ecu.state().params[0x56] = 150; // another tool sets the third threshold meanwhile
    plugBackForTheOffer();
    EXPECT_TRUE(dialog().textLabel()->text().contains(text("Edits_Kept_Ecu_Changed")));
    EXPECT_EQ(listed(),
              (QStringList{text("Edits_Ecu_Changes"), QStringLiteral("Level3: from 147 to 150"),
                           text("Edits_Your_Edits"), QStringLiteral("Level2: from 600 to 640")}));
    EXPECT_TRUE(dialog().writeButton()->isEnabled());
    EXPECT_TRUE(dialog().saveButton()->isVisible());
    run(100);
    save(dialog(), QStringLiteral("edits_kept_ecu_changed.png"));

    writeKept();
    EXPECT_EQ(ecu.state().params.at(0x55), 640);
    EXPECT_EQ(ecu.state().params.at(0x56), 150) << "what the other tool set stays";
}

TEST_F(EditsWindow, SaveStaysAChoiceAfterAKeptWrite) {
    connectToSimulator();
    run(2500);
    pullCable();
    editLevel(640);
    plugBackForTheOffer();
    writeKept();
    QTest::mouseClick(dialog().cancelButton(), Qt::LeftButton);
    run(50);

    // The next edits kept aside can be saved.
    pullCable();
    editLevel(620);
    plugBackForTheOffer();
    ASSERT_TRUE(dialog().saveButton()->isVisible());
    EXPECT_TRUE(dialog().saveButton()->isEnabled());
    dialog().nameBox()->setText(QStringLiteral("KEPT2"));
    QTest::mouseClick(dialog().saveButton(), Qt::LeftButton);
    run(50);
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_TRUE(std::filesystem::exists(ctx().paths.Config_Dir / "KEPT2.cfg"));

    // And so can edits neither on the ECU nor in a file, when closing.
    pullCable();
    editLevel(610);
    main().close();
    QCoreApplication::processEvents();
    ASSERT_TRUE(dialog().isVisible());
    ASSERT_EQ(dialog().mode(), ui::TForm_3D_Edits::Mode::CloseQuestion);
    ASSERT_TRUE(dialog().saveButton()->isVisible());
    EXPECT_FALSE(dialog().changesList()->isVisible());
    dialog().nameBox()->setText(QStringLiteral("CAR9"));
    QTest::mouseClick(dialog().saveButton(), Qt::LeftButton);
    ASSERT_TRUE(runUntil([this] { return ended; }, 1000));
    KeyFile file;
    ASSERT_TRUE(file.OpenKeyFile(ctx().paths.Config_Dir / "CAR9.cfg"));
    ASSERT_TRUE(file.GetKeyInt("Level2"));
    EXPECT_EQ(file.Found_Int, 610);
}

} // namespace
} // namespace bifuel::test
