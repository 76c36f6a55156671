#include "data/Config_Unit.h"

#include <cstddef>
#include <string>
#include <utility>

namespace bifuel {

void ResetConfiguration(Configuration_Class& cfg) {
    Configuration_Class fresh;
    fresh.ECU_Model = std::move(cfg.ECU_Model);
    fresh.ECU_Version = std::move(cfg.ECU_Version);
    fresh.ECU_Date = std::move(cfg.ECU_Date);
    fresh.Work_Gas = cfg.Work_Gas;
    fresh.Work_Petrol = cfg.Work_Petrol;
    fresh.CFG_Name = std::move(cfg.CFG_Name);
    fresh.Name_Read = cfg.Name_Read;
    cfg = std::move(fresh);
}

std::int32_t LevelTypeIndex(std::string_view name) {
    for (std::size_t i = 0; i < kLevelSensorBoxes.size(); ++i) {
        if (kLevelSensorBoxes[i].Name == name) return static_cast<std::int32_t>(i + 1);
    }
    return 0;
}

const Level_Sensor_Box_Class* LevelSensorBox(std::int32_t index) {
    if (index < 1 || index > static_cast<std::int32_t>(kLevelSensorBoxes.size())) return nullptr;
    return &kLevelSensorBoxes[static_cast<std::size_t>(index - 1)];
}

std::string_view LevelTypeName(std::int32_t index) {
    const Level_Sensor_Box_Class* box = LevelSensorBox(index);
    return box != nullptr ? box->Name : kLevelTypeError;
}

std::int32_t ComboIndex(std::string_view text, std::span<const std::string_view> list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == text) return static_cast<std::int32_t>(i + 1);
    }
    return 0;
}

void DecodePreScaler(Configuration_Class& cfg, std::uint8_t position) {
    cfg.RPM_PreScaler = PreScalerText(position);
}

std::string PreScalerText(std::uint8_t position) {
    return "1:" + std::to_string(position);
}

std::optional<std::uint8_t> PreScalerPosition(std::string_view text) {
    if (!text.starts_with("1:") || text.size() < 3 || text.size() > 5) return std::nullopt;
    int position = 0;
    for (const char c : text.substr(2)) {
        if (c < '0' || c > '9') return std::nullopt;
        position = position * 10 + (c - '0');
    }
    // "1:05" would read as 5 and write back as "1:5": only the plain form is one.
    if (position > 0xFF || (text.size() > 3 && text[2] == '0')) return std::nullopt;
    return static_cast<std::uint8_t>(position);
}

} // namespace bifuel
