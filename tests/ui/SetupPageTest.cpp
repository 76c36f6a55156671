#include "UiHarness.h"

#include "Setup_Page.h"
#include "data/Calc_Unit.h"
#include "data/Setup_Page.h"
#include "files/FindUnit.h"
#include "link/Instruction_Unit.h"
#include "link/Link_Operations.h"
#include "link/Receiver_Unit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>

#include <fstream>

#include "../../sim/LiveFrame.h"

namespace bifuel::test {
namespace {

// A car set up by an installer: 1:3 prescaler, 0.5 s delay, mono injection on, and two
// stored errors.
sim::EcuState configuredCar() {
    sim::EcuState s = sim::SimEcu::defaultState();
    s.params[0x45] = 0x0A03;
    s.params[0x52] = 0x050C; // 0.5 s; flag bit 3 and the mono injection
    s.live[sim::live::kErrors1] = 0x05;
    s.live[sim::live::kErrors2] = 0x01;
    return s;
}

class SetupPageTest : public StudioHarness {
  protected:
    SetupPageTest() : StudioHarness(configuredCar()) {}

    ui::SetupPage& page() { return main().setupPage(); }

    // Writes of the configuration that ended, by result.
    void countWrites() {
        watch_ = ctx().events.operationEnded.subscribe([this](const OperationEnd& end) {
            if (end.request == Request::WriteConfig || end.request == Request::WriteAll) {
                ++writes;
                if (end.result == OperationResult::Done) ++writesDone;
            }
        });
    }

    static void choose(QComboBox* list, const QString& item) {
        const int index = list->findText(item);
        ASSERT_GE(index, 0) << item.toStdString();
        list->setCurrentIndex(index);
        list->activated(index); // what a pick in the open list does
    }

    // Every parameter the configuration write sends is on the ECU as the record encodes it.
    void expectEcuHoldsTheRecord() {
        for (const std::uint8_t code : ParameterWriteList()) {
            const WordBytes want = EncodeParameter(ctx(), code);
            EXPECT_EQ(ecu.state().params.at(code), BytesToWord(want[0], want[1]))
                << "parameter 0x" << std::hex << int(code);
        }
    }

    int writes = 0;
    int writesDone = 0;
    Subscription watch_;
};

TEST_F(SetupPageTest, FillingFromTheEcuShowsItsValuesAndWritesNothing) {
    const sim::EcuState before = ecu.state();
    start();
    countWrites();
    ASSERT_TRUE(runUntil([this] { return polling(); }, 10000));
    run(3000); // well past a transmit delay
    EXPECT_EQ(page().prescalerList()->currentText(), "1:3");
    EXPECT_EQ(page().delayList()->currentText(), "0.5");
    EXPECT_EQ(page().gasTypeList()->currentText(), "LPG");
    EXPECT_EQ(page().sensorList()->currentText(), "0 - 90 Om");
    EXPECT_EQ(page().voltBox(1)->text(), QString::fromStdString(AdcToVoltText(55)));
    EXPECT_EQ(page().levelBar(5)->value(), 248);
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(ecu.state().params, before.params);
    EXPECT_TRUE(ctx().config.MonoInject);
}

TEST_F(SetupPageTest, QuickEditsOfEveryControlReachTheEcuInOneWrite) {
    connectToSimulator();
    countWrites();
    choose(page().prescalerList(), "1:6");
    choose(page().speedList(), "1500");
    choose(page().temperatureList(), "45");
    choose(page().delayList(), "0.8");
    choose(page().injectionList(), "Full group");
    choose(page().gasTypeList(), "CNG");
    page().petrolBuzzerBox()->click();
    page().hotEngineBox()->click();
    page().levelBuzzerBox()->click();
    choose(page().sensorList(), "AEB 806");
    page().levelBar(3)->setValue(600); // the installer fine-tunes one threshold
    run(ctx().settings.CFG_Transmit_Delay / 2);
    EXPECT_EQ(writes, 0) << "nothing goes out before the transmit delay has passed";
    ASSERT_TRUE(runUntil([this] { return writes > 0; }, ctx().settings.CFG_Transmit_Delay + 5000));
    run(1000);

    const Configuration_Class& c = ctx().config;
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(writesDone, 1);
    EXPECT_EQ(c.RPM_PreScaler, "1:6");
    EXPECT_EQ(c.PG_RPM, 1500);
    EXPECT_EQ(c.PG_Temper, 45);
    EXPECT_EQ(c.PG_Time, 8);
    EXPECT_TRUE(c.NoSequentInject);
    EXPECT_FALSE(c.MonoInject);
    EXPECT_FALSE(c.LPG_on);
    EXPECT_EQ(c.Param44_Press, kCngPress44);
    EXPECT_TRUE(c.GP_Buzzer);
    EXPECT_TRUE(c.PG_GAS_Hot_Engine);
    EXPECT_TRUE(c.Level_Buzzer);
    EXPECT_EQ(c.Level_Type, "AEB 806");
    EXPECT_TRUE(c.Level_Invert);
    EXPECT_EQ((std::array{c.Level1, c.Level2, c.Level3, c.Level4, c.Level5}),
              (std::array{930, 773, 600, 429, 235}));
    const std::array<const char*, 5> volts{"4.55", "3.78", "2.93", "2.10", "1.15"};
    for (int n = 1; n <= 5; ++n)
        EXPECT_EQ(page().voltBox(n)->text(), volts[static_cast<std::size_t>(n - 1)]);
    expectEcuHoldsTheRecord();
    EXPECT_EQ(ecu.state().params.at(0x52) & 0x04, 0) << "the mono injection went off on the ECU";
}

TEST_F(SetupPageTest, InstallerBoxesAreReadOnlyOnEnter) {
    connectToSimulator();
    QLineEdit* name = page().installerBox(0);
    QLineEdit* phone = page().installerBox(1);
    name->setFocus();
    QTest::keyClicks(name, "Ferro");
    QTest::keyClicks(phone, "0123");
    EXPECT_EQ(ctx().config.User_Name, "");
    EXPECT_FALSE(ctx().settings.Full_Screen)
        << "typing F in a box is text, not a key of the window";
    QTest::keyClick(phone, Qt::Key_Return);
    EXPECT_EQ(ctx().config.User_Name, "Ferro");
    EXPECT_EQ(ctx().config.User_Phone, "0123");

    QTest::keyClicks(page().noticeMemo(), "jets 2.0");
    QTest::keyClick(page().noticeMemo(), Qt::Key_Return);
    QTest::keyClicks(page().noticeMemo(), "filter new");
    EXPECT_EQ(ctx().config.Car_Comments, "jets 2.0\n");
    choose(page().gasTypeList(), "LPG"); // any other edit reads the boxes too
    EXPECT_EQ(ctx().config.Car_Comments, "jets 2.0\nfilter new");
}

TEST_F(SetupPageTest, KeysReachTheWindowFromAReadOnlyBoxButNotFromANoteBox) {
    connectToSimulator();
    main().activateWindow();
    page().voltBox(2)->setFocus(); // read-only: nothing to type into
    QTest::keyClick(page().voltBox(2), Qt::Key_G);
    ASSERT_TRUE(runUntil([this] { return ctx().live.Work_Mode == kModeGas; }, 3000))
        << "G from a read-only box";
    page().installerBox(3)->setFocus();
    QTest::keyClick(page().installerBox(3), Qt::Key_P);
    run(1500);
    EXPECT_EQ(ctx().live.Work_Mode, kModeGas) << "P typed into a box is text";
    EXPECT_EQ(page().installerBox(3)->text(), "p");
}

TEST_F(SetupPageTest, ClearEmptiesTheEcusErrorsAndThenTheListSaysSo) {
    connectToSimulator();
    const QString none = QString::fromStdString(ctx().LangText("DynamicIND_Errors_NotPresent"));
    ASSERT_FALSE(page().errorMemo()->toPlainText().isEmpty());
    ASSERT_FALSE(page().errorMemo()->toPlainText().contains(none));
    QTest::mouseClick(page().clearButton(), Qt::LeftButton);
    ASSERT_TRUE(runUntil([&] { return page().errorMemo()->toPlainText().startsWith(none); }, 5000));
    EXPECT_EQ(ecu.state().live[sim::live::kErrors1], 0);
    EXPECT_EQ(ecu.state().live[sim::live::kErrors2], 0);
}

TEST_F(SetupPageTest, LevelLampsAndVoltageFollowTheLiveData) {
    connectToSimulator();
    // On petrol lamp 6 stands where the level voltage would be.
    EXPECT_TRUE(page().lamp(6)->isVisible());
    EXPECT_FALSE(page().levelNumberBox()->isVisible());
    QTest::keyClick(&main(), Qt::Key_G);
    ASSERT_TRUE(runUntil([this] { return ctx().live.Work_Mode == kModeGas; }, 3000));
    run(500);
    EXPECT_FALSE(page().lamp(6)->isVisible());
    EXPECT_TRUE(page().levelNumberBox()->isVisible());
    EXPECT_EQ(page().levelNumberBox()->text(),
              QString::fromStdString(AdcToVoltText(ctx().live.Live_Level)));
}

// The lists show a value the ECU holds but they do not offer as one more item, selected;
// nothing on the page changes it until the installer picks one of the list's items.
TEST_F(SetupPageTest, ListsShowValuesTheyDoNotOfferAsAnExtraItemUntilAnItemIsPicked) {
    start(); // no clock runs: no ECU answers, nothing is written
    Configuration_Class& c = ctx().config;
    c.RPM_PreScaler = "1:7";
    c.PG_RPM = 650;
    c.PG_Temper = kTemperatureUnknown;
    c.PG_Time = 23;
    c.Level_Type = "HANA";
    FillSetupPage(ctx());
    run(50);
    save(*page().installerGroup()->parentWidget(),
         QStringLiteral("setup_values_the_lists_do_not_offer.png"));
    const Configuration_Class filled = c;
    struct Row {
        QComboBox* list;
        const char* shown;
        int fixed; // the list's own items
        const char* pick;
    };
    const Row rows[] = {
        {page().prescalerList(), "1:7", 6, "1:2"},      {page().speedList(), "650", 15, "700"},
        {page().temperatureList(), "unknown", 9, "40"}, {page().delayList(), "2.3", 13, "2.5"},
        {page().sensorList(), "HANA", 5, "AEB 806"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.shown);
        EXPECT_EQ(r.list->count(), r.fixed + 1);
        EXPECT_EQ(r.list->currentIndex(), r.fixed);
        EXPECT_EQ(r.list->currentText(), QString::fromUtf8(r.shown));
        choose(r.list, QString::fromUtf8(r.shown)); // picked again
        EXPECT_EQ(ctx().config, filled);
    }
    Configuration_Class expected = filled;
    expected.GP_Buzzer = true;
    page().petrolBuzzerBox()->click();
    EXPECT_EQ(ctx().config, expected) << "another edit kept every value as the ECU holds it";

    for (const Row& r : rows)
        choose(r.list, QString::fromUtf8(r.pick));
    EXPECT_EQ(c.RPM_PreScaler, "1:2");
    EXPECT_EQ(c.PG_RPM, 700);
    EXPECT_EQ(c.PG_Temper, 40);
    EXPECT_EQ(c.PG_Time, 25);
    EXPECT_EQ(c.Level_Type, "AEB 806");
    EXPECT_EQ(c.Level1, 930);
    for (const Row& r : rows)
        EXPECT_EQ(r.list->count(), r.fixed) << r.pick << ": the extra item went";
}

// An installer's notes written on a system with a Cyrillic code page: bytes that are not
// UTF-8, read by a program whose language names code page 1251.
class SetupNotesTest : public StudioHarness {
  protected:
    static constexpr const char* kIvan = "\xC8\xE2\xE0\xED"; // Иван
    static constexpr const char* kNotice =
        "\xCD\xEE\xE2\xFB\xE9 \xF4\xE8\xEB\xFC\xF2\xF0\\n\xB3"; // Новый фильтр\nі
    static constexpr const char* kJet = "1.8 \xD0\xBC\xD0\xBC"; // мм, in UTF-8
    static constexpr const char* kPhone = "+7 495 \x98";        // 0x98: none in 1251

    SetupNotesTest() : StudioHarness(namedCar()) {}

    static sim::EcuState namedCar() {
        sim::EcuState s = sim::SimEcu::defaultState();
        s.name = {'C', 'A', 'R', '1', 0xFF, 0xFF, 0xFF, 0xFF};
        return s;
    }

    void SetUp() override {
        std::filesystem::create_directories(work.path() / "Language");
        std::ofstream(work.path() / "Language" / "Russkij.lng", std::ios::binary)
            << "Single_Byte_Character 1251\r\n";
        std::filesystem::create_directories(work.path() / "Config");
        std::ofstream(work.path() / "Config" / "CAR1.cfg", std::ios::binary)
            << "User_Name " << kIvan << " {}\r\nCar_Comments " << kNotice << " {}\r\nCar_Jet "
            << kJet << " {}\r\nUser_Phone " << kPhone << " {}\r\n";
        start("Port_Name=sim\r\nLanguage=Russkij\r\n");
        ASSERT_TRUE(runUntil([this] { return polling(); }, 10000));
        run(500);
        notices_ = ctx().events.status.subscribe([this](const StatusChange& change) {
            if (change.text == ctx().LangText("CFG_User_Saved_As_UTF8")) ++notices;
        });
    }

    ui::SetupPage& page() { return main().setupPage(); }

    // Types as a keyboard does, one character at a time.
    static void type(QWidget* box, const QString& text) {
        for (const QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }

    // The configuration write the edit starts, and the file saved after it.
    void writeAndSave() {
        const auto saved = std::filesystem::last_write_time(work.path() / "Config" / "CAR1.cfg");
        ASSERT_TRUE(runUntil(
            [&] {
                return std::filesystem::last_write_time(work.path() / "Config" / "CAR1.cfg") !=
                       saved;
            },
            ctx().settings.CFG_Transmit_Delay + 10000));
    }

    std::string fileValue(const char* key) {
        KeyFile file;
        EXPECT_TRUE(file.OpenKeyFile(work.path() / "Config" / "CAR1.cfg"));
        EXPECT_TRUE(file.FindKey(key)) << key;
        return file.Found_Value;
    }

    int notices = 0;
    Subscription notices_;
};

TEST_F(SetupNotesTest, NotesInTheCodePageShowDecodedAndKeepTheirBytesThroughAnotherEdit) {
    EXPECT_EQ(ctx().config.User_Name, kIvan);
    EXPECT_EQ(page().installerBox(0)->text(), QString::fromUtf8("Иван"));
    EXPECT_EQ(page().noticeMemo()->toPlainText(), QString::fromUtf8("Новый фильтр\nі"));
    EXPECT_EQ(page().installerBox(4)->text(), QString::fromUtf8("1.8 мм"))
        << "valid UTF-8 shows as UTF-8";
    EXPECT_EQ(page().installerBox(1)->text(), QString::fromUtf8("+7 495 \uFFFD"));

    page().petrolBuzzerBox()->click();
    writeAndSave();
    EXPECT_TRUE(ctx().config.GP_Buzzer);
    EXPECT_EQ(fileValue("User_Name"), kIvan);
    EXPECT_EQ(fileValue("Car_Comments"), kNotice);
    EXPECT_EQ(fileValue("Car_Jet"), kJet);
    EXPECT_EQ(fileValue("User_Phone"), kPhone) << "even a byte the code page does not define";
    EXPECT_EQ(notices, 0);
}

TEST_F(SetupNotesTest, ChangedNotesGoBackInTheirEncodingOrAsUtf8WithOneNotice) {
    QLineEdit* name = page().installerBox(0);
    name->setFocus();
    name->selectAll();
    type(name, QString::fromUtf8("Пётр"));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(ctx().config.User_Name, "\xCF\xB8\xF2\xF0") << "in code page 1251, as the name came";
    EXPECT_EQ(notices, 0);

    // Code page 1251 has no "ü" and no "ß": those notes go as UTF-8, with one notice for
    // both. A text typed into an empty box came in no code page: UTF-8 as well.
    QPlainTextEdit* memo = page().noticeMemo();
    memo->moveCursor(QTextCursor::End);
    type(memo, QString::fromUtf8(" Jürgen"));
    name->end(false);
    type(name, QString::fromUtf8(" Weiß"));
    type(page().installerBox(3), QString::fromUtf8("120000 км"));
    QTest::keyClick(page().installerBox(3), Qt::Key_Return);
    EXPECT_EQ(ctx().config.Car_Comments, "Новый фильтр\nі Jürgen");
    EXPECT_EQ(ctx().config.User_Name, "Пётр Weiß");
    EXPECT_EQ(ctx().config.Data_KM, "120000 км");
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(memo->toPlainText(), QString::fromUtf8("Новый фильтр\nі Jürgen"));

    page().petrolBuzzerBox()->click();
    writeAndSave();
    EXPECT_EQ(notices, 1) << "told once";
    EXPECT_EQ(fileValue("User_Name"), "Пётр Weiß");
    EXPECT_EQ(fileValue("Car_Comments"), "Новый фильтр\\nі Jürgen");
}

TEST_F(SetupNotesTest, BoxesLeftAloneFollowTheCodePageOfANewLanguage) {
    type(page().installerBox(2), QStringLiteral("12.03.")); // typed, Enter not pressed yet
    main().TakeLanguage("English");                         // code page 1250
    EXPECT_EQ(page().installerBox(0)->text(), QString::fromUtf8("Čâŕí"));
    EXPECT_EQ(page().installerBox(2)->text(), QStringLiteral("12.03."))
        << "what the user typed stays";
    page().petrolBuzzerBox()->click();
    EXPECT_EQ(ctx().config.User_Name, kIvan);
    EXPECT_EQ(ctx().config.Date_Mounting, "12.03.");
    EXPECT_EQ(notices, 0);
}

} // namespace
} // namespace bifuel::test
