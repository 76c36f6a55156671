#pragma once

#include <cstdint>
#include <string>

namespace bifuel {

// The program settings record, kept in the settings file.
struct Settings_Class {
    std::string Port_Name = "COM1";
    bool Search_Port = true;
    std::int32_t Reply_Delay = 60;          // ms between a valid reply and the next request
    std::int32_t CFG_Transmit_Delay = 1500; // ms from the last edit to its write
    std::string ACB_SCR_Type = "Fast calibration"; // auto-calibration algorithm name
    std::string CFG_File_Name;
    std::string CFG_Full_File_Name;
};

} // namespace bifuel
