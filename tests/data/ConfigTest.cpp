#include "data/Config_Unit.h"
#include "data/Gas_Injectors_Unit.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bifuel {
namespace {

constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();

// A record as it looks after a CNG car with a foreign set-up was read and noted.
Configuration_Class editedRecord() {
    Configuration_Class cfg;
    cfg.ECU_Model = "KestraLX";
    cfg.ECU_Version = "1.60";
    cfg.ECU_Date = "2013.11.02";
    cfg.Work_Gas = 4660;
    cfg.Work_Petrol = 258;
    cfg.CFG_Name = "CAR01";
    DecodePreScaler(cfg, 9);
    cfg.PG_RPM = 1500;
    cfg.PG_Temper = 45;
    cfg.PG_Time = 0;
    cfg.LPG_on = false;
    cfg.Param44_Press = kCngPress44;
    cfg.NoSequentInject = true;
    cfg.Injector_Type = "KEIHIN";
    cfg.Level_Type = "AEB 806";
    cfg.Level_Invert = true;
    cfg.Level_90 = false;
    cfg.Level1 = 930;
    cfg.Level5 = 235;
    cfg.Flag5C_1 = false;
    cfg.Flag9F_3 = true;
    cfg.Save_Map = true;
    cfg.ACB_Value_98 = 1234;
    cfg.ACB_Corr_99 = 33;
    cfg.User_Name = "Ann";
    cfg.User_Phone = "555";
    cfg.Car_Comments = "line 1\r\nline 2";
    cfg.Car_Jet = "2.1";
    cfg.Date_Mounting = "2014.01.01";
    cfg.Data_KM = "12000";
    return cfg;
}

// What a start without ECU and without file shows, and what "default" writes to the ECU.
TEST(ConfigDefaults, FreshRecordHoldsTheStartValues) {
    const Configuration_Class cfg;
    struct IntCase {
        const char* field;
        std::int32_t value;
        std::int32_t expected;
    };
    const IntCase ints[] = {
        {"PG_RPM", cfg.PG_RPM, 600},
        {"PG_Temper", cfg.PG_Temper, 30},
        {"PG_Time", cfg.PG_Time, 20},
        {"prescaler sent", PreScalerPosition(cfg.RPM_PreScaler).value_or(-1), 5},
        {"Param44_Press", cfg.Param44_Press, 5},
        {"Param45", cfg.Param45, 10},
        {"Param5C", cfg.Param5C, 5},
        {"Level_Param", cfg.Level_Param, 64},
        {"Level1", cfg.Level1, 55},
        {"Level2", cfg.Level2, 104},
        {"Level3", cfg.Level3, 147},
        {"Level4", cfg.Level4, 184},
        {"Level5", cfg.Level5, 248},
        {"Press_Scale", cfg.Press_Scale, 1315},
        {"Cylinders", cfg.Cylinders, 4},
        {"Inj_Time_Max", cfg.Inj_Time_Max, 32},
        {"ACB_Press", cfg.ACB_Press, 100},
        {"ACB_Corr_93", cfg.ACB_Corr_93, 50},
        {"ACB_Corr_94", cfg.ACB_Corr_94, 50},
        {"ACB_Temper", cfg.ACB_Temper, 40},
        {"ACB_Corr_96", cfg.ACB_Corr_96, 10},
        {"ACB_Corr_97", cfg.ACB_Corr_97, 10},
        {"ACB_Value_98", cfg.ACB_Value_98, 1400},
        {"ACB_Corr_99", cfg.ACB_Corr_99, 70},
    };
    for (const IntCase& c : ints)
        EXPECT_EQ(c.value, c.expected) << c.field;

    struct BoolCase {
        const char* field;
        bool value;
        bool expected;
    };
    const BoolCase bools[] = {
        {"LPG_on", cfg.LPG_on, true},
        {"NoSequentInject", cfg.NoSequentInject, false},
        {"Level_Invert", cfg.Level_Invert, false},
        {"Level_90", cfg.Level_90, true},
        {"Flag5C_1", cfg.Flag5C_1, true},
        {"Flag9F_1", cfg.Flag9F_1, true},
        {"Flag9F_6", cfg.Flag9F_6, true},
        {"Flag5C_4", cfg.Flag5C_4, true},
        {"Flag52_3", cfg.Flag52_3, true},
        {"Save_Map", cfg.Save_Map, false},
    };
    for (const BoolCase& c : bools)
        EXPECT_EQ(c.value, c.expected) << c.field;

    EXPECT_EQ(cfg.RPM_PreScaler, "1:5");
    EXPECT_EQ(cfg.Level_Type, "0 - 90 Om");
    EXPECT_EQ(cfg.Injector_Type, "RAIL IG1 3 Om");
}

TEST(ConfigDefaults, EveryDefaultTheSetupPageShowsIsAnItemOfItsList) {
    const Configuration_Class cfg;
    EXPECT_EQ(ComboIndex(cfg.RPM_PreScaler, kPreScalerList), 5);
    EXPECT_EQ(ComboIndex(std::to_string(cfg.PG_RPM), kPGRpmList), 1);
    EXPECT_EQ(ComboIndex(std::to_string(cfg.PG_Temper), kPGTemperList), 5);
    EXPECT_EQ(ComboIndex(cfg.Level_Type, kLevelTypeList), 1);
    EXPECT_EQ(LevelTypeIndex(cfg.Level_Type), 7);
    EXPECT_EQ(InjectorTypeIndex(cfg.Injector_Type), 8);
}

TEST(ResetConfiguration, RestoresEveryDefaultAndKeepsTheEcuIdentityAndName) {
    Configuration_Class cfg = editedRecord();
    ResetConfiguration(cfg);

    Configuration_Class expected;
    expected.ECU_Model = "KestraLX";
    expected.ECU_Version = "1.60";
    expected.ECU_Date = "2013.11.02";
    expected.Work_Gas = 4660;
    expected.Work_Petrol = 258;
    expected.CFG_Name = "CAR01";
    EXPECT_TRUE(cfg == expected);

    // Spelled out where a fault would do harm: LPG with its own pressure, no foreign
    // prescaler byte left to send, the thresholds of the default sensor, no notes.
    EXPECT_TRUE(cfg.LPG_on);
    EXPECT_EQ(cfg.Param44_Press, kLpgPress44);
    EXPECT_EQ(PreScalerPosition(cfg.RPM_PreScaler), 5);
    EXPECT_EQ(cfg.Level_Type, "0 - 90 Om");
    EXPECT_FALSE(cfg.Level_Invert);
    EXPECT_EQ(cfg.Level1, 55);
    EXPECT_EQ(cfg.Level5, 248);
    EXPECT_FALSE(cfg.Flag9F_3);
    EXPECT_TRUE(cfg.Flag5C_1);
    EXPECT_TRUE(cfg.User_Name.empty());
    EXPECT_TRUE(cfg.Car_Comments.empty());
}

TEST(PreScaler, EveryPositionTheEcuMayHoldHasItsTextAndOnlyThatTextGivesIt) {
    for (const int position : {0, 1, 5, 6, 7, 42, 255}) {
        SCOPED_TRACE(position);
        Configuration_Class cfg;
        DecodePreScaler(cfg, static_cast<std::uint8_t>(position));
        EXPECT_EQ(cfg.RPM_PreScaler, "1:" + std::to_string(position));
        EXPECT_EQ(PreScalerPosition(cfg.RPM_PreScaler), position);
    }
    // Texts that are no position: a write refuses them rather than guess.
    for (const char* text : {"", "1:", "1:256", "1:05", "2:3", "1:x", " 1:3", "1:1000"}) {
        EXPECT_FALSE(PreScalerPosition(text).has_value()) << text;
    }
}

TEST(LevelType, NamesAndIndexesRoundTripAndUnknownsGiveErrorOrZero) {
    for (std::int32_t i = 1; i <= 9; ++i) {
        EXPECT_EQ(LevelTypeIndex(LevelTypeName(i)), i) << i;
        ASSERT_NE(LevelSensorBox(i), nullptr);
        EXPECT_EQ(LevelSensorBox(i)->Name, LevelTypeName(i));
    }
    EXPECT_EQ(LevelTypeIndex("AEB 806"), 6);

    for (std::int32_t index : {0, 10, -1, 255, kIntMin}) {
        EXPECT_EQ(LevelTypeName(index), "Error") << index;
        EXPECT_EQ(LevelSensorBox(index), nullptr) << index;
    }
    // "Error" itself is no type, so an unknown type from the ECU is written back as 0.
    for (const char* name : {"Error", "", "aeb 806", "AEB 806 ", "0 - 90 om"}) {
        EXPECT_EQ(LevelTypeIndex(name), 0) << '"' << name << '"';
    }
}

TEST(LevelType, EverySetupChoiceIsATableTypeWithItsThresholds) {
    for (std::string_view name : kLevelTypeList)
        EXPECT_GT(LevelTypeIndex(name), 0) << name;

    struct Case {
        const char* name;
        bool invert;
        std::array<std::int32_t, 5> levels;
    };
    const Case cases[] = {
        {"AEB 806", true, {930, 773, 634, 429, 235}},
        {"Setting", false, {55, 104, 147, 184, 248}},
        {"110 - 0 Om", false, {248, 184, 147, 104, 55}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Level_Sensor_Box_Class* box = LevelSensorBox(LevelTypeIndex(c.name));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->Invert, c.invert);
        EXPECT_EQ((std::array{box->Level1, box->Level2, box->Level3, box->Level4, box->Level5}),
                  c.levels);
    }
}

TEST(ComboIndex, FindsExactItemsOnlyAndGivesZeroOtherwise) {
    struct Case {
        const char* text;
        std::span<const std::string_view> list;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"1:1", kPreScalerList, 1},        {"1:6", kPreScalerList, 6},
        {"1:7", kPreScalerList, 0},        {"", kPreScalerList, 0},
        {" 1:5", kPreScalerList, 0},       {"600", kPGRpmList, 1},
        {"2000", kPGRpmList, 15},          {"650", kPGRpmList, 0},
        {"50", kPGTemperList, 9},          {"0.5", kPGTimeList, 3},
        {"0,5", kPGTimeList, 0},           {"2.0", kPGTimeList, 0},
        {"Full group", kInjectionList, 2}, {"full group", kInjectionList, 0},
        {"CNG", kGasTypeList, 2},          {"Setting", kLevelTypeList, 5},
        {"HANA", kLevelTypeList, 0},       {"1:1", {}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ComboIndex(c.text, c.list), c.expected) << '"' << c.text << '"';
    }
}

TEST(GasInjectors, EveryNameIsFoundAtItsOwnIndexAndOnlyExactly) {
    for (std::size_t i = 0; i < kGasInjectorNames.size(); ++i) {
        EXPECT_EQ(InjectorTypeIndex(kGasInjectorNames[i]), static_cast<std::int32_t>(i + 1))
            << kGasInjectorNames[i];
    }
    for (const char* name : {"", "rail ig1 3 om", "RAIL IG1 3 Om ", "RAIL"}) {
        EXPECT_EQ(InjectorTypeIndex(name), 0) << '"' << name << '"';
    }
}

TEST(GasInjectors, LookupsAtTheEdgesOfTheTableAndOfEachGroup) {
    struct Case {
        std::int32_t index;
        std::optional<std::pair<std::int32_t, std::int32_t>> idle;
        double offsetMs;
    };
    const Case cases[] = {
        {kIntMin, std::nullopt, 2.0},     {-1, std::nullopt, 2.0},
        {0, std::nullopt, 2.0},           {1, std::pair{4500, 5500}, 2.0},
        {2, std::pair{3500, 5000}, 2.0},  {5, std::pair{4000, 5500}, 2.0},
        {6, std::pair{4000, 5000}, 1.0},  {7, std::pair{3500, 5000}, 1.0},
        {8, std::pair{4500, 5500}, 2.0},  {9, std::pair{3000, 4500}, 1.0},
        {10, std::pair{4000, 5000}, 1.5}, {13, std::pair{4000, 5500}, 1.0},
        {17, std::pair{4000, 5500}, 1.5}, {18, std::pair{3500, 4500}, 1.5},
        {19, std::nullopt, 2.0},          {20, std::nullopt, 2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        const std::optional<IdleGasRange> idle = IdleGasWindow(c.index);
        ASSERT_EQ(idle.has_value(), c.idle.has_value());
        if (idle) {
            EXPECT_EQ(idle->minUs, c.idle->first);
            EXPECT_EQ(idle->maxUs, c.idle->second);
        }
        const DiagramCoefficients coeffs = DefaultDiagramCoefficients(c.index);
        EXPECT_EQ(coeffs.slope, 23.0);
        EXPECT_EQ(coeffs.offsetMs, c.offsetMs);
    }
}

} // namespace
} // namespace bifuel
