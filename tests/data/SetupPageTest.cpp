#include "../link/LinkHarness.h"

#include "data/Setup_Page.h"
#include "files/Language.h"
#include "files/SaveLoad_3D_Unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace bifuel::test {
namespace {

// The page's rules over a context, without a window: the view is what the controls show.
class SetupRules : public LinkHarness {
  protected:
    SetupView& view() { return ctx.setupView; }
    bool writeScheduled() const {
        return ctx.timers.Timer_GEN_Transmit->isRunning() && ctx.link.Write_Kinds != 0;
    }
};

TEST_F(SetupRules, DelayListShowsTenthsWithTheSystemsSeparatorAndReadsBothBack) {
    struct Case {
        std::int32_t tenths;
        char separator;
        const char* shown;
    };
    for (const Case c : {Case{5, '.', "0.5"}, Case{5, ',', "0,5"}, Case{20, '.', "2.0"},
                         Case{0, ',', "0,0"}, Case{45, ',', "4,5"}}) {
        EXPECT_EQ(DelayListText(c.tenths, c.separator), c.shown);
    }
    for (const char* chosen : {"0.8", "0,8"}) {
        view().HudComboTextBox_CFG_PG_Time = chosen;
        ReadSetupPage(ctx);
        EXPECT_EQ(ctx.config.PG_Time, 8) << chosen;
    }
    ctx.config.PG_Time = 5;
    view().Decimal_Separator = ',';
    FillSetupPage(ctx);
    EXPECT_EQ(view().HudComboTextBox_CFG_PG_Time, "0,5");
}

TEST_F(SetupRules, AnEditTakesEveryControlClearsMonoAndWritesOnceAfterTheDelay) {
    connect();
    ctx.config.MonoInject = true;
    FillSetupPage(ctx);
    EXPECT_FALSE(writeScheduled()) << "filling the page writes nothing";

    view().HudComboTextBox_CFG_Gas_Type = "CNG";
    ReadSetupPage(ctx);
    EXPECT_FALSE(ctx.config.LPG_on);
    EXPECT_EQ(ctx.config.Param44_Press, kCngPress44);
    EXPECT_FALSE(ctx.config.MonoInject);
    view().HudComboTextBox_CFG_Injection = "Full group";
    ReadSetupPage(ctx);
    EXPECT_TRUE(ctx.config.NoSequentInject);
    view().HudComboTextBox_CFG_Gas_Type = "LPG";
    ReadSetupPage(ctx);
    EXPECT_EQ(ctx.config.Param44_Press, kLpgPress44);
    EXPECT_TRUE(writeScheduled());

    int writes = 0;
    const Subscription ends = ctx.events.operationEnded.subscribe([&](const OperationEnd& e) {
        if (e.request == Request::WriteConfig && e.result == OperationResult::Done) ++writes;
    });
    ASSERT_TRUE(
        clock.runUntil([&] { return writes > 0; }, ctx.settings.CFG_Transmit_Delay + 10000));
    clock.advance(3000);
    EXPECT_EQ(writes, 1);
}

TEST_F(SetupRules, SensorTypesSetTheirThresholdsAndVolts) {
    struct Case {
        const char* type;
        bool invert;
        std::array<std::int32_t, 5> levels;
        std::array<const char*, 5> volts;
    };
    const Case cases[] = {
        {"AEB 806", true, {930, 773, 634, 429, 235}, {"4.55", "3.78", "3.10", "2.10", "1.15"}},
        {"Setting", false, {55, 104, 147, 184, 248}, {"0.27", "0.51", "0.72", "0.90", "1.21"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        view().HudCheckBox_CFG_LevelGas_Buzzer = true;
        view().HudComboTextBox_CFG_Level_Sensor = c.type;
        OnLevelTypeChosen(ctx);
        const Configuration_Class& cfg = ctx.config;
        EXPECT_EQ(cfg.Level_Type, c.type);
        EXPECT_EQ(cfg.Level_Invert, c.invert);
        EXPECT_TRUE(cfg.Level_Buzzer);
        EXPECT_EQ((std::array{cfg.Level1, cfg.Level2, cfg.Level3, cfg.Level4, cfg.Level5}),
                  c.levels);
        EXPECT_EQ(view().HudTrackBar_LevelGas, c.levels);
        for (std::size_t i = 0; i < 5; ++i)
            EXPECT_EQ(view().HudTextBox_LevelGas[i], c.volts[i]);
    }
}

TEST_F(SetupRules, NothingIsReadWhileThePageFills) {
    // A fill whose own refresh makes a control report a change must not read that
    // half-filled page back into the record.
    const Subscription echo = ctx.events.setupPageFilled.subscribe([this] {
        view().HudComboTextBox_CFG_Gas_Type = "CNG";
        ReadSetupPage(ctx);
        OnLevelTypeChosen(ctx);
        ReadLevelBars(ctx);
    });
    ctx.config.Level_Type = "AEB 1050"; // a type only an ECU reports
    FillSetupPage(ctx);
    EXPECT_TRUE(ctx.config.LPG_on);
    EXPECT_EQ(ctx.config.Level_Type, "AEB 1050");
    EXPECT_FALSE(view().Setup_Filling);
    EXPECT_EQ(view().HudComboTextBox_CFG_Level_Sensor, "AEB 1050");
}

TEST_F(SetupRules, InstallerNotesComeFromTheBoxesAndTheMemo) {
    view().HudTextBox_CFG_User_Name = "Ferro";
    view().HudTextBox_CFG_User_Gas_Jets = "1.8";
    view().HudMemo_CFG_User_Notice = "line one\nline two";
    ReadSetupPage(ctx);
    EXPECT_EQ(ctx.config.User_Name, "Ferro");
    EXPECT_EQ(ctx.config.Car_Jet, "1.8");
    EXPECT_EQ(ctx.config.Car_Comments, "line one\nline two");
    EXPECT_FALSE(writeScheduled()) << "no ECU: the edit stays in the record";
}

// Values an ECU can hold that the lists do not offer: the page shows them as they are,
// filling writes nothing, and another edit leaves them exactly as they were.
TEST_F(SetupRules, ValuesTheListsDoNotOfferSurviveOtherEditsUntilAnItemIsPicked) {
    using C = Configuration_Class;
    struct Case {
        const char* what;
        void (*set)(C&);
        std::string SetupView::*list;
        const char* shown;
        const char* pick; // a regular item
        std::string (*field)(const C&);
        const char* picked;
    };
    const auto temper = [](const C& c) { return std::to_string(c.PG_Temper); };
    const auto time = [](const C& c) { return std::to_string(c.PG_Time); };
    const auto prescaler = [](const C& c) { return c.RPM_PreScaler; };
    const Case cases[] = {
        {"33 degrees", [](C& c) { c.PG_Temper = 33; }, &SetupView::HudComboTextBox_CFG_PG_Temper,
         "33", "35", temper, "35"},
        {"56 degrees", [](C& c) { c.PG_Temper = 56; }, &SetupView::HudComboTextBox_CFG_PG_Temper,
         "56", "10", temper, "10"},
        {"unknown degrees", [](C& c) { c.PG_Temper = kTemperatureUnknown; },
         &SetupView::HudComboTextBox_CFG_PG_Temper, "unknown", "50", temper, "50"},
        {"650 rpm", [](C& c) { c.PG_RPM = 650; }, &SetupView::HudComboTextBox_CFG_PG_RPM, "650",
         "2000", [](const C& c) { return std::to_string(c.PG_RPM); }, "2000"},
        {"0.7 s", [](C& c) { c.PG_Time = 7; }, &SetupView::HudComboTextBox_CFG_PG_Time, "0.7",
         "0.8", time, "8"},
        {"2.3 s", [](C& c) { c.PG_Time = 23; }, &SetupView::HudComboTextBox_CFG_PG_Time, "2.3",
         "1.5", time, "15"},
        {"prescaler 7", [](C& c) { c.RPM_PreScaler = "1:7"; },
         &SetupView::HudComboTextBox_CFG_RPM_Prescaler, "1:7", "1:2", prescaler, "1:2"},
        {"prescaler 0", [](C& c) { c.RPM_PreScaler = "1:0"; },
         &SetupView::HudComboTextBox_CFG_RPM_Prescaler, "1:0", "1:6", prescaler, "1:6"},
    };
    connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetConfiguration(ctx.config);
        c.set(ctx.config);
        FillSetupPage(ctx);
        EXPECT_EQ(view().*c.list, c.shown);
        EXPECT_FALSE(writeScheduled()) << "filling the page writes nothing";

        Configuration_Class expected = ctx.config;
        expected.PG_GAS_Hot_Engine = !expected.PG_GAS_Hot_Engine;
        view().HudCheckBox_CFG_PG_GAS_Hot_Engine = expected.PG_GAS_Hot_Engine;
        ReadSetupPage(ctx);
        EXPECT_EQ(ctx.config, expected) << "another edit changed nothing else";
        EXPECT_TRUE(writeScheduled());
        ReadSetupPage(ctx); // the list picked again
        EXPECT_EQ(ctx.config, expected);

        view().*c.list = c.pick;
        ReadSetupPage(ctx);
        EXPECT_EQ(c.field(ctx.config), c.picked);
        // The write of these values is the encoder's business; the next case starts anew.
        ctx.timers.Timer_GEN_Transmit->stop();
    }
}

TEST_F(SetupRules, ASensorTypeTheListDoesNotOfferKeepsItsThresholdsUntilATypeIsPicked) {
    for (const char* type : {"HANA", "AEB 1050", "Error"}) {
        SCOPED_TRACE(type);
        ResetConfiguration(ctx.config);
        ctx.config.Level_Type = type;
        ctx.config.Level_Invert = true;
        ctx.config.Level3 = 444;
        FillSetupPage(ctx);
        EXPECT_EQ(view().HudComboTextBox_CFG_Level_Sensor, type);
        const Configuration_Class before = ctx.config;
        OnLevelTypeChosen(ctx); // the type picked again
        EXPECT_EQ(ctx.config, before);
        view().HudCheckBox_CFG_LevelGas_Buzzer = true;
        ReadLevelBars(ctx);
        EXPECT_EQ(ctx.config.Level_Type, type);
        EXPECT_EQ(ctx.config.Level3, 444);
        EXPECT_TRUE(ctx.config.Level_Invert);

        view().HudComboTextBox_CFG_Level_Sensor = "Setting";
        OnLevelTypeChosen(ctx);
        EXPECT_EQ(ctx.config.Level_Type, "Setting");
        EXPECT_EQ(ctx.config.Level3, 147);
        EXPECT_FALSE(ctx.config.Level_Invert);
    }
}

// Without the temperature table the degrees are unknown: the page and the difference view
// say so in the language chosen, never as a number.
TEST_F(SetupRules, AnUnknownTemperatureIsShownAsSuchInTheLanguageChosen) {
    ctx.config.PG_Temper = kTemperatureUnknown;
    FillSetupPage(ctx);
    EXPECT_EQ(view().HudComboTextBox_CFG_PG_Temper, "unknown");
    EXPECT_FALSE(RefreshSetupTexts(ctx));

    const std::filesystem::path file = work.path() / "CAR1.cfg";
    std::ofstream(file, std::ios::binary) << "PG_Temper 30 {}\r\n";
    const std::vector<SaveLoadDiffRow> rows = CompareConfigFile(ctx, file);
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [](const SaveLoadDiffRow& r) { return r.key == "PG_Temper"; });
    ASSERT_NE(row, rows.end());
    EXPECT_EQ(row->ecuText, "unknown");
    EXPECT_EQ(row->fileText, "30");

    ctx.language.setLanguageDir(BIFUEL_SOURCE_DIR "/data/Language");
    ASSERT_TRUE(ctx.language.setCurrent("Deutsch"));
    ApplyLanguage(ctx.language, ctx.languageView);
    view().HudCheckBox_CFG_GP_Buzzer = true;
    ReadSetupPage(ctx); // the list still shows the English word
    EXPECT_EQ(ctx.config.PG_Temper, kTemperatureUnknown);
    EXPECT_TRUE(RefreshSetupTexts(ctx));
    EXPECT_EQ(view().HudComboTextBox_CFG_PG_Temper, "unbekannt");
    ReadSetupPage(ctx);
    EXPECT_EQ(ctx.config.PG_Temper, kTemperatureUnknown);
    const auto fields = SetupFields();
    const auto field = std::find_if(fields.begin(), fields.end(), [](const SetupField& f) {
        return f.key == std::string_view("PG_Temper");
    });
    ASSERT_NE(field, fields.end());
    EXPECT_EQ(field->text(ctx.config, ctx), "unbekannt");
}

} // namespace
} // namespace bifuel::test
