#pragma once

#include "link/Link_View.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bifuel {

class Context;

inline constexpr int kSmoothSamples = 20;
inline constexpr int kLevelLamps = 7;
inline constexpr int kLevelBlinkMs = 500;
// Data bytes the live decoder reads: frame offsets 2..38, the working mode last. An ECU
// that reports a shorter live reply (L1) is refused when it is identified.
inline constexpr std::uint8_t kLiveDataBytes = 37;

// Injection-time smoothing of one cylinder: the mean of the last 20 samples.
struct SmoothWindow {
    std::array<std::int32_t, kSmoothSamples> samples{};
    int count = 0;
    std::int32_t smoothed = 0;
};

// Working modes the ECU reports.
inline constexpr std::uint8_t kModePetrol = 1;
inline constexpr std::uint8_t kModeAutomatic = 2;
inline constexpr std::uint8_t kModeGas = 4;

// The engine as the last live reply showed it. Only DecodeLiveData writes it.
struct LiveData {
    std::int32_t Live_RPM = 0;
    std::int32_t Live_TempVap = 0; // tenths of a degree
    std::int32_t Live_TempGas = 0;
    std::int32_t Live_Level = 0;    // 10-bit code, 0..5 V
    std::int32_t Live_PressVap = 0; // hundredths of a bar
    std::int32_t Live_PressColl = 0;
    std::int32_t Live_PressDiff = 0;
    std::int32_t Live_Value18 = 0;
    std::array<std::int32_t, 5> Live_Petrol_Inj{}; // cylinders 1..4, microseconds
    std::array<std::int32_t, 5> Live_Gas_Inj{};
    std::int32_t Live_Petrol_Avg = 0;
    std::int32_t Live_Gas_Avg = 0;
    std::int32_t Live_Petrol_Smooth = 0;
    std::int32_t Live_Gas_Smooth = 0;
    // Petrol times taken while on gas, and in any other mode (cylinders 1..4).
    std::array<std::int32_t, 5> Live_Petrol_On_Gas{};
    std::array<std::int32_t, 5> Live_Petrol_On_Petrol{};
    std::array<SmoothWindow, 4> Petrol_Windows{};
    std::array<SmoothWindow, 4> Gas_Windows{};
    std::uint8_t Work_Mode = 0;
    std::uint8_t Error_Flags1 = 0;
    std::uint8_t Error_Flags2 = 0;
    bool Errors_Reported = false;
    // The last reply carried every value: those who follow the engine look at it only then.
    bool Complete = false;
    // The status byte of this reply says the engine stopped since the one before.
    bool Engine_Went_Off = false;
};

// What the live data shows: the indicator column, the mode label, the Setup page's level
// lamps, level voltage and error list.
struct DataView {
    ViewControl HudLabel_IND_Petrol_Data;
    ViewControl HudLabel_IND_Gas_Data;
    ViewControl HudLabel_IND_RPM_Data;
    ViewControl HudLabel_IND_PressVap_Data;
    ViewControl HudLabel_IND_PressColl_Data;
    ViewControl HudLabel_IND_PressDiff_Data;
    ViewControl HudLabel_IND_TempVap_Data;
    ViewControl HudLabel_IND_TempGas_Data;
    ViewControl HudLabel_Work_Mode;
    std::array<ViewControl, kLevelLamps> Circle_LevelGas{};
    ViewControl HudNumberBox_CFG_LevelGas;
    ViewControl HudLabel_CFG_LevelGas_Current;
    ViewControl Image_CFG_LevelSensor;
    int Image_CFG_LevelSensor_Height = 200; // pixels, as the page lays it out
    int Line_CFG_LevelSensor_Y = 0;         // marker line, pixels from the image's top
    std::vector<std::string> HudMemo_CFG_Errors;
    std::string Form_Fill_Colour = "#FFFFFFFF"; // the main window's fill: a lamp that is off
};

// Decodes a live-data reply (the whole frame: program code, command, data, checksum) and
// refreshes everything that shows it. A reply without all kLiveDataBytes data bytes
// changes no value, status or error and is handed to nobody; only the indicators, the
// mode label and the lamps are drawn again from the values held, which is how the call
// over an empty reply at start-up puts zeros on them.
// Decodes a live reply into the live values, the indicators and the status line. Whoever
// follows the engine (the diagram, the RPM map, an auto-calibration) subscribes to the
// live-data event that comes after.
void DecodeLiveData(Context& ctx, std::span<const std::uint8_t> reply);
// Timer_LevelGas: blinks lamp 5 while the ECU waits to switch to gas.
void OnLevelGasTimer(Context& ctx);
// Clears both error bytes, the reported mark and the error list (a new ECU identified).
void ClearErrorFlags(Context& ctx);
// Whether the firmware reports pressure and gas temperature errors.
bool HasPressureSensors(const Context& ctx);

} // namespace bifuel
