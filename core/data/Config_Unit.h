#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace bifuel {

// One fuel level sensor type: how the ECU compares the sensor and its five thresholds
// (10-bit sensor codes over 0..5 V).
struct Level_Sensor_Box_Class {
    std::string_view Name;
    bool Invert = false;
    bool Level_90 = false;
    std::int32_t Level1 = 0;
    std::int32_t Level2 = 0;
    std::int32_t Level3 = 0;
    std::int32_t Level4 = 0;
    std::int32_t Level5 = 0;
};

// The level sensor types, index 1..9 (array position + 1); the ECU stores the index.
inline constexpr std::array<Level_Sensor_Box_Class, 9> kLevelSensorBoxes = {{
    {"RESERVE", false, false, 100, 100, 100, 100, 100},
    {"AEB 1050", true, false, 806, 512, 306, 213, 47},
    {"HANA", true, true, 295, 238, 183, 148, 42},
    {"110 - 0 Om", false, true, 248, 184, 147, 104, 55},
    {"SOFTWARE", true, false, 850, 680, 510, 340, 170},
    {"AEB 806", true, false, 930, 773, 634, 429, 235},
    {"0 - 90 Om", false, true, 55, 104, 147, 184, 248},
    {"30k - 100 Om", true, false, 806, 512, 306, 213, 47},
    {"Setting", false, true, 55, 104, 147, 184, 248},
}};

// The type a reset selects, "0 - 90 Om".
inline constexpr Level_Sensor_Box_Class kDefaultLevelSensorBox = kLevelSensorBoxes[6];

// Name of a level type number the table does not hold.
inline constexpr std::string_view kLevelTypeError = "Error";

// Items of the Setup page's read-only lists. The list texts are fixed, never translated.
inline constexpr std::array<std::string_view, 6> kPreScalerList = {"1:1", "1:2", "1:3",
                                                                   "1:4", "1:5", "1:6"};
inline constexpr std::array<std::string_view, 15> kPGRpmList = {
    "600",  "700",  "800",  "900",  "1000", "1100", "1200", "1300",
    "1400", "1500", "1600", "1700", "1800", "1900", "2000"};
inline constexpr std::array<std::string_view, 9> kPGTemperList = {"10", "15", "20", "25", "30",
                                                                  "35", "40", "45", "50"};
// Seconds; the record keeps tenths.
inline constexpr std::array<std::string_view, 13> kPGTimeList = {
    "0", "0.2", "0.5", "0.8", "1", "1.5", "2", "2.5", "3", "3.5", "4", "4.5", "5"};
// NoSequentInject false, true.
inline constexpr std::array<std::string_view, 2> kInjectionList = {"Sequent", "Full group"};
// LPG_on true, false.
inline constexpr std::array<std::string_view, 2> kGasTypeList = {"LPG", "CNG"};
// The sensor types an installer may choose; the others only arrive from the ECU.
inline constexpr std::array<std::string_view, 5> kLevelTypeList = {
    "0 - 90 Om", "110 - 0 Om", "30k - 100 Om", "AEB 806", "Setting"};

// A configured temperature whose degrees nobody knows: the temperature table is missing,
// so only the ECU's raw word is held (and written back as it came).
inline constexpr std::int32_t kTemperatureUnknown = std::numeric_limits<std::int32_t>::min();

// The pressure parameter that goes with each gas type, tenths of a bar.
inline constexpr std::int32_t kLpgPress44 = 5;
inline constexpr std::int32_t kCngPress44 = 10;

// The in-memory image of the ECU: identification, configuration and installer notes.
// Fields the program never shows are kept as read so that a write gives them back
// unchanged. FlagNN_b / ParamNN name bit b (or the byte) of ECU parameter 0xNN.
struct Configuration_Class {
    // Identification (from the identification block).
    std::string ECU_Model;
    std::string ECU_Version;
    std::string ECU_Date;
    std::int32_t Work_Gas = 0;    // minutes
    std::int32_t Work_Petrol = 0; // minutes

    // RPM prescaler as "1:N", N the position the ECU stores: "1:1".."1:6" are the Setup
    // page's list, and any other position an ECU may hold ("1:7", "1:0") is kept and shown
    // as it is, so that it goes back to the ECU unchanged.
    std::string RPM_PreScaler = "1:5";
    bool Flag5C_1 = true;
    bool Flag9F_1 = true;
    std::int32_t PG_Temper = 30; // switch to gas at this temperature, degrees Celsius
    std::int32_t PG_RPM = 600;   // switch to gas above this speed, rpm
    bool Flag52_7 = false;
    std::int32_t PG_Time = 20; // switch-to-gas delay, tenths of a second
    std::int32_t Param5C = 5;
    bool Flag9F_6 = true;
    bool PG_GAS_Hot_Engine = false; // start on gas when the engine is hot
    bool GP_Buzzer = false;         // buzzer on the switch to petrol
    // Follows the gas type: kLpgPress44 with LPG, kCngPress44 with CNG; tenths of a bar.
    std::int32_t Param44_Press = kLpgPress44;
    bool Flag9F_0 = false;
    std::int32_t Param45 = 10;
    bool Flag5C_0 = false;
    bool Flag9F_8 = false;
    bool Flag9F_9 = false;
    std::string Injector_Type = "RAIL IG1 3 Om";
    std::int32_t Cylinders = 4;
    std::int32_t Inj_Time_Max = 32; // ceiling of corrected gas times, ms
    bool Flag9F_2 = false;
    bool Flag9F_3 = false; // read but always written back as 0
    bool Flag5C_6 = false;
    bool Flag9F_4 = false;
    bool Flag52_6 = false;
    bool NoSequentInject = false; // true: "Full group", false: "Sequent"
    bool MonoInject = false;      // cleared by every Setup page edit
    bool Flag5C_4 = true;
    bool Flag5C_5 = false;
    bool Flag9F_7 = false;
    bool Flag9F_11 = false;
    bool Save_Map = false; // MAP point collection running
    bool Flag5C_7 = false;

    // Level sensor; a type name outside the table (kLevelTypeError) is written as 0.
    std::string Level_Type{kDefaultLevelSensorBox.Name};
    bool Level_Invert = kDefaultLevelSensorBox.Invert;
    std::int32_t Level_Param = 64;
    bool Level_90 = kDefaultLevelSensorBox.Level_90;
    bool Level_Buzzer = false; // buzzer on low gas level
    std::int32_t Level1 = kDefaultLevelSensorBox.Level1;
    std::int32_t Level2 = kDefaultLevelSensorBox.Level2;
    std::int32_t Level3 = kDefaultLevelSensorBox.Level3;
    std::int32_t Level4 = kDefaultLevelSensorBox.Level4;
    std::int32_t Level5 = kDefaultLevelSensorBox.Level5;

    std::int32_t Press_Scale = 1315; // pressure sensor scale
    bool Flag52_0 = false;
    bool LPG_on = true; // true: "LPG", false: "CNG"

    // Auto-calibration results and corrections.
    std::int32_t ACB_Press = 100;  // hundredths of a bar
    std::int32_t ACB_Corr_94 = 50; // percent
    std::int32_t ACB_Corr_93 = 50; // percent
    std::int32_t ACB_Temper = 40;  // degrees Celsius
    std::int32_t ACB_Corr_97 = 10; // percent
    std::int32_t ACB_Corr_96 = 10; // percent
    std::int32_t ACB_Value_98 = 1400;
    std::int32_t ACB_Corr_99 = 70; // percent
    bool Flag52_3 = true;
    bool Flag52_4 = false;

    // The configuration name (at most 8 single-byte characters), and the ECU's eight name
    // bytes as it sent them. While CFG_Name is the name those bytes give, a write sends the
    // bytes back as they were, so a name no file can carry is never erased in the ECU.
    std::string CFG_Name;
    std::optional<std::array<std::uint8_t, 8>> Name_Read;

    // Installer notes; they travel only in the configuration file.
    std::string Car_Jet;
    std::string Date_Mounting;
    std::string Data_KM;
    std::string User_Name;
    std::string User_Phone;
    std::string Car_Comments;

    bool operator==(const Configuration_Class&) const = default;
};

// Every configuration field and installer note back to its default. The identification
// and CFG_Name describe the ECU and the file, not the set-up: kept. (The whole set-up's
// reset, diagram and map included, is the context's ResetConfiguration.)
void ResetConfiguration(Configuration_Class& cfg);

// 1-based index of a level sensor type name (exact, case-sensitive), 0 when absent.
std::int32_t LevelTypeIndex(std::string_view name);
// The type name for 1..9; kLevelTypeError for any other index.
std::string_view LevelTypeName(std::int32_t index);
// The table entry for 1..9; none for any other index.
const Level_Sensor_Box_Class* LevelSensorBox(std::int32_t index);

// 1-based position of a text in a choice list, 0 when absent.
std::int32_t ComboIndex(std::string_view text, std::span<const std::string_view> list);

// Takes the prescaler position the ECU reported: "1:N" for any position.
void DecodePreScaler(Configuration_Class& cfg, std::uint8_t position);
std::string PreScalerText(std::uint8_t position);
// The position a prescaler text stands for; none for a text that is not "1:N" with N a
// byte.
std::optional<std::uint8_t> PreScalerPosition(std::string_view text);

} // namespace bifuel
