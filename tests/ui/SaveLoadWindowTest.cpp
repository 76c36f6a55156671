// The Save/Load window over the simulated ECU: File > Save and File > Load open it; a load
// on the connected ECU first shows what would change and ends with the ECU holding the
// record, byte by byte; a refused file or a cancel sends nothing.
#include "UiHarness.h"

#include "SaveLoad_3D_Unit.h"
#include "data/Setup_Page.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/Receiver_Unit.h"

#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>

#include <fstream>

namespace bifuel::test {
namespace {

// An ECU an installer has set up: 1.5 s delay, prescaler 1:3, level 2 at 300, a moved
// diagram point and one map factor of 1.25.
sim::EcuState configuredEcu() {
    sim::EcuState s = sim::SimEcu::defaultState();
    s.params[0x52] = 0x0F08;
    s.params[0x45] = 0x0A03;
    s.params[0x55] = 300;
    s.diagram[4].gas = 10500;
    s.rpmMap[2 + 16 + 12 + 30] = 160;
    return s;
}

class SaveLoadWindow : public StudioHarness {
  protected:
    SaveLoadWindow() : StudioHarness(configuredEcu()) {}

    void connect() {
        connectToSimulator();
        writes = ctx().events.frameSent.subscribe([this](std::span<const std::uint8_t> frame) {
            static constexpr std::uint8_t kWriting[] = {0x2D, 0x2E, 0x31, 0x32, 0x33, 0x36};
            if (frame.size() > 1 &&
                std::find(std::begin(kWriting), std::end(kWriting), frame[1]) != std::end(kWriting))
                ++writeFrames;
        });
        ends = ctx().events.operationEnded.subscribe(
            [this](const OperationEnd& e) { ended.push_back(e); });
    }

    ui::TForm_3D_SaveLoad& window() { return app->saveLoad(); }

    // File > item, as the user picks it.
    void fileMenu(int item) {
        QTest::mousePress(main().fileMenuButton(), Qt::LeftButton);
        const QRect r = main().fileMenu()->itemRect(item);
        QTest::mouseClick(main().fileMenu(), Qt::LeftButton, {}, r.center());
        QCoreApplication::processEvents();
    }

    void clickListItem(const QString& name) {
        const auto found = window().list()->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        const QRect r = window().list()->visualItemRect(found.front());
        QTest::mouseClick(window().list()->viewport(), Qt::LeftButton, {}, r.center());
    }

    // Runs until a request of this kind has ended; true when the ECU acknowledged it.
    bool writeEnded(Request request) {
        const std::size_t from = ended.size();
        const bool done = runUntil(
            [&] {
                return std::any_of(ended.begin() + static_cast<std::ptrdiff_t>(from), ended.end(),
                                   [&](const OperationEnd& e) { return e.request == request; });
            },
            20000);
        return done && ended.back().request == request &&
               ended.back().result == OperationResult::Done;
    }

    std::string ecuName() {
        const auto& n = ecu.state().name;
        return std::string(n.begin(), std::find(n.begin(), n.end(), 0xFF));
    }

    void writeConfig(const std::string& name, const std::string& text) {
        std::filesystem::create_directories(ctx().paths.Config_Dir);
        std::ofstream(ctx().paths.Config_Dir / (name + ".cfg"), std::ios::binary) << text;
    }

    // Every parameter the write sends, as the ECU holds it, against the record.
    void expectEcuHoldsTheRecord() {
        for (const std::uint8_t code : ParameterWriteList()) {
            const WordBytes w = EncodeParameter(ctx(), code);
            EXPECT_EQ(ecu.state().params.at(code), (w[0] << 8) | w[1]) << "parameter " << int(code);
        }
    }

    int writeFrames = 0;
    std::vector<OperationEnd> ended;
    Subscription writes;
    Subscription ends;
};

TEST_F(SaveLoadWindow, SaveToANewNameChangeThenLoadPutsTheFileBackOnTheEcu) {
    connect();
    fileMenu(0);
    ASSERT_TRUE(window().isVisible());
    EXPECT_EQ(window().pos(), main().pos() + QPoint(0, 22));
    EXPECT_EQ(window().windowTitle(), QString::fromStdString(ctx().LangText("Dialogue")));
    EXPECT_EQ(window().size(), QSize(200, 353));
    EXPECT_EQ(window().runButton()->text(), QString::fromStdString(ctx().LangText("Save")));
    EXPECT_EQ(window().nameBox()->text(), "CAR01") << "the ECU's name";

    window().nameBox()->selectAll();
    QTest::keyClicks(window().nameBox(), "NEWCAR123");
    EXPECT_EQ(window().nameBox()->text(), "NEWCAR12") << "cut to 8 characters";
    QTest::mouseClick(window().runButton(), Qt::LeftButton);
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(std::filesystem::exists(ctx().paths.Config_Dir / "NEWCAR12.cfg"));
    ASSERT_TRUE(writeEnded(Request::WriteAll));
    EXPECT_EQ(ecuName(), "NEWCAR12");
    const sim::EcuState saved = ecu.state();

    // Work goes on under another name: every write to the ECU updates that file now.
    fileMenu(0);
    window().nameBox()->selectAll();
    QTest::keyClicks(window().nameBox(), "SECOND");
    QTest::mouseClick(window().runButton(), Qt::LeftButton);
    ASSERT_TRUE(writeEnded(Request::WriteAll));
    EXPECT_EQ(ecuName(), "SECOND");

    // Edits on the Setup page reach the ECU.
    SetupView& page = ctx().setupView;
    page.HudComboTextBox_CFG_PG_RPM = "1900";
    page.HudComboTextBox_CFG_Gas_Type = "CNG";
    page.HudTrackBar_LevelGas[1] = 500;
    ReadLevelBars(ctx());
    ASSERT_TRUE(writeEnded(Request::WriteConfig));
    ASSERT_NE(ecu.state().params, saved.params);

    fileMenu(1);
    ASSERT_TRUE(window().isVisible());
    EXPECT_EQ(window().runButton()->text(), QString::fromStdString(ctx().LangText("Load")));
    clickListItem("NEWCAR12");
    EXPECT_EQ(window().nameBox()->text(), "NEWCAR12");
    QTest::mouseClick(window().runButton(), Qt::LeftButton);
    ASSERT_TRUE(window().diffShown());
    QTableWidget& table = *window().diffTable();
    ASSERT_EQ(table.rowCount(), 6) << "speed, gas type, level 2, diagram, MAP points, map";
    EXPECT_EQ(table.item(0, 0)->text().toStdString(), ctx().languageView.HudLabel_CFG_PG_RPM);
    EXPECT_EQ(table.item(0, 1)->text(), "1900");
    EXPECT_EQ(table.item(0, 2)->text(), "600");
    EXPECT_EQ(table.item(1, 1)->text(), "CNG");
    EXPECT_EQ(table.item(1, 2)->text(), "LPG");
    EXPECT_EQ(table.item(2, 2)->text().toStdString(), AdcToVoltText(300));
    for (int r = 3; r < 6; ++r)
        EXPECT_EQ(table.item(r, 1)->text().toStdString(), ctx().LangText("SL_Diff_Unchanged"));

    QTest::mouseClick(window().loadAllButton(), Qt::LeftButton);
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(ctx().setupView.HudComboTextBox_CFG_PG_RPM, "600") << "the page is refilled";
    ASSERT_TRUE(writeEnded(Request::WriteAll));
    EXPECT_EQ(ecu.state().params, saved.params);
    EXPECT_EQ(ecu.state().diagram, saved.diagram);
    EXPECT_EQ(ecu.state().rpmMap, saved.rpmMap);
    EXPECT_EQ(ecuName(), "NEWCAR12");
}

TEST_F(SaveLoadWindow, AnInvalidFileIsRefusedWithItsReasonAndNothingIsSent) {
    connect();
    writeConfig("BAD", "PG_RPM 1900 {}\r\nLevel1 5000 {}\r\n");
    const sim::EcuState before = ecu.state();
    const Configuration_Class record = ctx().config;
    fileMenu(1);
    // A name that cannot be a file name is refused as it is typed.
    window().nameBox()->selectAll();
    QTest::keyClicks(window().nameBox(), "a/b");
    EXPECT_FALSE(window().runButton()->isEnabled());
    EXPECT_EQ(window().messageLabel()->text().toStdString(), ctx().LangText("SL_Name_Refused"));
    clickListItem("BAD");
    EXPECT_TRUE(window().runButton()->isEnabled());
    EXPECT_FALSE(window().messageLabel()->isVisible());
    QTest::mouseClick(window().runButton(), Qt::LeftButton);
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(window().diffShown());
    const std::string shown = window().messageLabel()->text().toStdString();
    EXPECT_TRUE(window().messageLabel()->isVisible());
    EXPECT_NE(shown.find(ctx().LangText("SL_Load_Refused")), std::string::npos) << shown;
    EXPECT_NE(shown.find("line 2: Level1 5000 is not allowed"), std::string::npos) << shown;
    run(4000);
    EXPECT_EQ(writeFrames, 0);
    EXPECT_EQ(ecu.state().params, before.params);
    EXPECT_EQ(ecu.state().name, before.name);
    EXPECT_TRUE(ctx().config == record) << "not even the name changed";
}

TEST_F(SaveLoadWindow, TheDifferenceViewListsWhatDiffersCancelSendsNothingTickedLoadsTheChoice) {
    connect();
    // The delay, the gas type and the level buzzer differ; the temperature and level 2 are
    // the ECU's; the diagram point and a map factor differ.
    writeConfig(
        "OTHER",
        "User_Name Jan {}\r\nPG_Temper 30 {}\r\nPG_Time 5 {}\r\nLPG_on False {}\r\n"
        "Level_Buzzer True {}\r\nLevel2 300 {}\r\nGas_Point_4 10280 {}\r\nCell_2_3 1.20 {}\r\n");
    const sim::EcuState before = ecu.state();
    const Configuration_Class record = ctx().config;
    fileMenu(1);
    clickListItem("OTHER");
    QTest::mouseClick(window().runButton(), Qt::LeftButton);
    ASSERT_TRUE(window().diffShown());
    EXPECT_EQ(window().width(), ui::TForm_3D_SaveLoad::kDiffWidth);
    QTableWidget& table = *window().diffTable();
    std::vector<std::string> captions;
    for (int r = 0; r < table.rowCount(); ++r) {
        captions.push_back(table.item(r, 0)->text().toStdString());
        EXPECT_EQ(table.item(r, 0)->checkState(), Qt::Checked);
    }
    const LanguageView& t = ctx().languageView;
    EXPECT_EQ(captions, (std::vector<std::string>{
                            t.HudLabel_CFG_PG_Time, t.HudLabel_CFG_Gas_Type,
                            t.HudCheckBox_CFG_LevelGas_Buzzer, ctx().LangText("SL_Diff_Diagram"),
                            ctx().LangText("SL_Diff_MAP"), ctx().LangText("SL_Diff_RPM_Map")}));
    EXPECT_EQ(table.item(0, 1)->text(), "1.5");
    EXPECT_EQ(table.item(0, 2)->text(), "0.5");
    EXPECT_EQ(table.item(3, 1)->text().toStdString(), ctx().LangText("SL_Diff_Changed"));
    EXPECT_EQ(table.item(4, 1)->text().toStdString(), ctx().LangText("SL_Diff_Unchanged"));
    EXPECT_EQ(table.item(5, 1)->text().toStdString(), ctx().LangText("SL_Diff_Changed"));

    QTest::mouseClick(window().cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(window().diffShown());
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(window().width(), ui::TForm_3D_SaveLoad::kDesignWidth);
    run(4000);
    EXPECT_EQ(writeFrames, 0);
    EXPECT_EQ(ecu.state().params, before.params);
    EXPECT_TRUE(ctx().config == record);

    // Again, without the gas type and the map.
    QTest::mouseClick(window().runButton(), Qt::LeftButton);
    ASSERT_TRUE(window().diffShown());
    table.item(1, 0)->setCheckState(Qt::Unchecked);
    table.item(5, 0)->setCheckState(Qt::Unchecked);
    QTest::mouseClick(window().loadTickedButton(), Qt::LeftButton);
    EXPECT_FALSE(window().isVisible());
    ASSERT_TRUE(writeEnded(Request::WriteAll));
    EXPECT_EQ(ctx().config.PG_Time, 5);
    EXPECT_TRUE(ctx().config.Level_Buzzer);
    EXPECT_TRUE(ctx().config.LPG_on) << "not ticked";
    EXPECT_EQ(ctx().config.User_Name, "Jan") << "the notes come from the file";
    EXPECT_EQ(ctx().setupView.HudComboTextBox_CFG_PG_Time, "0.5");
    expectEcuHoldsTheRecord();
    EXPECT_EQ(ecu.state().params.at(0x52) >> 8, 5);
    EXPECT_EQ(ecu.state().params.at(0x5C), before.params.at(0x5C)) << "still LPG";
    EXPECT_EQ(ecu.state().diagram[4].gas, 10280);
    EXPECT_EQ(ecu.state().rpmMap, before.rpmMap) << "the map was not ticked";
    EXPECT_EQ(ecuName(), "OTHER");
}

// File > Default on a connected car first shows what the factory set-up would change;
// nothing goes to the ECU until the user takes it.
TEST_F(SaveLoadWindow, DefaultShowsTheFactorySetUpAgainstTheEcuBeforeAnythingIsWritten) {
    connect();
    const sim::EcuState before = ecu.state();
    fileMenu(2);
    ASSERT_TRUE(window().isVisible());
    ASSERT_TRUE(window().diffShown());
    QTableWidget& table = *window().diffTable();
    EXPECT_EQ(table.horizontalHeaderItem(2)->text().toStdString(),
              ctx().LangText("SL_Default_Column"));
    EXPECT_EQ(window().loadAllButton()->text().toStdString(), ctx().LangText("Default"));
    EXPECT_EQ(table.item(0, 0)->text().toStdString(),
              ctx().languageView.HudLabel_CFG_RPM_Prescaler);
    EXPECT_EQ(table.item(0, 1)->text(), "1:3");
    EXPECT_EQ(table.item(0, 2)->text(), "1:5");
    // The three columns share the table's whole width, so no caption is squeezed.
    const int columns = table.columnWidth(0) + table.columnWidth(1) + table.columnWidth(2);
    EXPECT_GE(columns, table.viewport()->width() - 3);
    EXPECT_LE(columns, table.viewport()->width());
    EXPECT_GE(table.columnWidth(0), table.viewport()->width() / 2 - 1);
    save(window(), QStringLiteral("default_difference_view.png"));
    run(4000);
    EXPECT_EQ(writeFrames, 0) << "a click on Default wrote at once";
    EXPECT_EQ(ecu.state().params, before.params);

    QTest::mouseClick(window().loadAllButton(), Qt::LeftButton);
    EXPECT_FALSE(window().isVisible());
    ASSERT_TRUE(writeEnded(Request::WriteAll));
    EXPECT_EQ(ecu.state().params.at(0x52) >> 8, 20) << "the factory delay";
    EXPECT_EQ(ecuName(), "");
}

} // namespace
} // namespace bifuel::test
