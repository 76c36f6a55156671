#pragma once

#include <cstdint>
#include <string>

namespace bifuel {

// The in-memory image of the ECU: identification, configuration and installer notes.
struct Configuration_Class {
    // Identification (from the identification block).
    std::string ECU_Model;
    std::string ECU_Date;
    std::string ECU_Version;
    std::int32_t Work_Gas = 0;    // minutes
    std::int32_t Work_Petrol = 0; // minutes

    // The configuration name the ECU stores (at most 8 single-byte characters).
    std::string CFG_Name;
};

} // namespace bifuel
