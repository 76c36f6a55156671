#include "../link/LinkHarness.h"

#include "data/Setup_Page.h"

#include <gtest/gtest.h>

namespace bifuel::test {
namespace {

// The page's rules over a context, without a window: the view is what the controls show.
class SetupRules : public LinkHarness {
protected:
    SetupView& view() { return ctx.setupView; }
    bool writeScheduled() const { return ctx.timers.Timer_GEN_Transmit->isRunning() && ctx.link.Write_Kinds != 0; }
};

TEST_F(SetupRules, DelayListShowsTenthsWithTheSystemsSeparatorAndReadsBothBack) {
    struct Case {
        std::int32_t tenths;
        char separator;
        const char* shown;
    };
    for (const Case c : {Case{5, '.', "0.5"}, Case{5, ',', "0,5"}, Case{20, '.', "2.0"}, Case{0, ',', "0,0"},
                         Case{45, ',', "4,5"}}) {
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
    ASSERT_TRUE(clock.runUntil([&] { return writes > 0; }, ctx.settings.CFG_Transmit_Delay + 10000));
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
        EXPECT_EQ((std::array{cfg.Level1, cfg.Level2, cfg.Level3, cfg.Level4, cfg.Level5}), c.levels);
        EXPECT_EQ(view().HudTrackBar_LevelGas, c.levels);
        for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(view().HudTextBox_LevelGas[i], c.volts[i]);
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

} // namespace
} // namespace bifuel::test
