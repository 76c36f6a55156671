// The offer of edits kept over a reconnection lists what the ECU changed meanwhile before
// the edits themselves, and saving stays a choice after a kept write: in the next offer
// and in the question when closing.
#include "UiHarness.h"

#include "Edits_3D_Unit.h"
#include "data/Setup_Page.h"
#include "files/FindUnit.h"
#include "link/Edit_Tracker.h"

#include <QLineEdit>
#include <QListWidget>

namespace bifuel::test {
namespace {

class KeptEditsWindow : public StudioHarness {
  protected:
    KeptEditsWindow() : StudioHarness(ConfiguredEcu()) {}

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

TEST_F(KeptEditsWindow, TheOfferShowsWhatTheEcuChangedBeforeTheEdits) {
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

TEST_F(KeptEditsWindow, SaveStaysAChoiceAfterAKeptWrite) {
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
