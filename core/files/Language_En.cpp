#include "files/Language_En.h"

#include <array>
#include <cstdint>

namespace bifuel {
namespace {

using Entry = EnglishEntry;

// Every built-in text, in lookup order; for a key listed twice the first one wins.
constexpr std::array kEntries{
    Entry{"Dim_RPM_Short", "r.p.m."},
    Entry{"Dim_Bar_Long", "bar"},
    Entry{"Dim_Hour_Short", "h"},
    Entry{"Dim_Hour_Long", "hours"},
    Entry{"Dim_Volt_Short", "v"},
    Entry{"Dim_Volt_Long", "volt"},
    Entry{"Dim_MS_Short", "ms"},
    Entry{"Dim_Sec_Long", "sec"},
    Entry{"Dim_KM_Short", "km"},
    Entry{"Dim_MM_Short", "mm"},
    Entry{"Yes", "Yes"},
    Entry{"No", "No"},
    Entry{"Start", "Start"},
    Entry{"Stop", "Stop"},
    Entry{"Gas", "Gas"},
    Entry{"Petrol", "Petrol"},
    Entry{"Automat", "Automat"},
    Entry{"Mode", "Mode"},
    Entry{"RPM", "R.P.M."},
    Entry{"Manifuld", "Manifuld"},
    Entry{"Clear", "Clear"},
    Entry{"Save", "Save"},
    Entry{"Load", "Load"},
    Entry{"Default", "Default"},
    Entry{"Exit", "Exit"},
    Entry{"File", "File"},
    Entry{"Language", "Language"},
    Entry{"Point", "Point"},
    Entry{"Factor", "Factor"},
    Entry{"Table", "Table"},
    Entry{"Range", "Range"},
    Entry{"Dialogue", "Dialogue"},
    Entry{"Flip", "Flip"},
    Entry{"Port", "Port"},
    Entry{"Name", "Name"},
    Entry{"Font", "Font"},
    Entry{"Delay", "Dealy"},
    Entry{"Message", "Message"},
    Entry{"Quantity", "Quantity"},
    Entry{"Settings", "Settings"},
    Entry{"Color", "Color"},
    Entry{"AutoSearchPort", "Auto saerch port"},
    Entry{"Firmware", "Firmware"},
    Entry{"Date", "Date"},
    Entry{"Type", "Type"},
    Entry{"DynamicIND_Error", "ERROR"},
    Entry{"DynamicIND_Error_TempVap", "Vaporizer temperature sensor - fatal error"},
    Entry{"DynamicIND_Error_TempGas", "Gas temperature sensor - fatal error"},
    Entry{"DynamicIND_Error_PressVap", "Vaporizer pressure sensor - fatal error"},
    Entry{"DynamicIND_Error_PressColl", "Manifold pressure sensor - fatal error"},
    Entry{"DynamicIND_Error_LinkInject", "Insufficient productivity of atomizers. It is necessary to increase diameters of jets."},
    Entry{"DynamicIND_Error_GasLeakage", "Broken seal system. Gas leakage."},
    Entry{"DynamicIND_Error_ShortCircuit", "Short-circuit gas injectors"},
    Entry{"DynamicIND_Errors_NotPresent", "Errors are not present."},
    Entry{"DynamicIND_Errors_ECU_Works", "The ECU works normally."},
    Entry{"DynamicIND_Low_pressure", "Low pressure"},
    Entry{"DynamicIND_Normal_pressure", "Normal pressure"},
    Entry{"DynamicIND_Engine_on", "Engine on"},
    Entry{"DynamicIND_Engine_off", "Engine off"},
    Entry{"DynamicIND_Engine_Idling", "Set the idling RPM"},
    Entry{"DynamicIND_Save_Data", "Save data in memory"},
    Entry{"DynamicIND_Not_Save_Data", "Set idling run or switch to petrol"},
    Entry{"DynamicIND_Receiv_On", "Receiv data"},
    Entry{"DynamicIND_Receiv_Off", "Data loaded"},
    Entry{"DynamicIND_Transmission", "Data transmission"},
    Entry{"IND_RPM", "R.P.M."},
    Entry{"IND_PressVap", "P, Reducer"},
    Entry{"IND_PressColl", "P, Manifuld"},
    Entry{"IND_PressDiff", "P, Differential "},
    Entry{"IND_TempVap", "T, Reducer"},
    Entry{"IND_TempGas", "T, Gas"},
    Entry{"IND_Port_Search", "Search port"},
    Entry{"Page_CFG", "Setup"},
    Entry{"CFG_Config", "Configutation"},
    Entry{"CFG_Config_RPM_Prescaler", "R.P.M. prescaler"},
    Entry{"CFG_Config_PG_Temper", "Switch to gas when temperature"},
    Entry{"CFG_Config_PG_RPM", "Switch to gas when RPM"},
    Entry{"CFG_Config_Injection", "Petrol injection"},
    Entry{"CFG_Config_Gas_Type", "Gas type"},
    Entry{"CFG_Config_Level_Sensor", "Gas level sensor type"},
    Entry{"CFG_Config_LevelGas_Buzzer", "Buzzer signal when gas level low"},
    Entry{"CFG_Config_GP_Buzzer", "Buzzer signal when switch to petrol"},
    Entry{"CFG_Config_PG_GAS_Hot_Engine", "Start the car with gas when the engine is hot"},
    Entry{"CFG_LevelSensor", "Gas level sensor"},
    Entry{"CFG_LevelSensor_Current", "Current value"},
    Entry{"CFG_Errors", "Errors"},
    Entry{"CFG_User", "Installer Detail"},
    Entry{"CFG_User_Name", "Name"},
    Entry{"CFG_User_Phone", "Phone"},
    Entry{"CFG_User_Install_Date", "Installed date"},
    Entry{"CFG_User_Install_KM", "Installed KM"},
    Entry{"CFG_User_Gas_Jets", "Gas jet diameter"},
    Entry{"CFG_User_Notice", "Notice"},
    Entry{"Page_ACB", "Auto Calibration"},
    Entry{"ACB_Pet_on_Pet", "Petrol on Petrol"},
    Entry{"ACB_Pet_on_Gas", "Petrol on Gas"},
    Entry{"ACB_Gas_on_Gas", "Gas"},
    Entry{"ACB_Prompt_Start", "To run autocalibration press \"START\"."},
    Entry{"ACB_Prompt_Wait", "Please wait."},
    Entry{"ACB_Prompt_Execute", "Execute autocalibration."},
    Entry{"ACB_Prompt_Clear_Influence", "Resetting the influence coefficients"},
    Entry{"ACB_Prompt_CLB_Transmit", "Transmit of calibration data"},
    Entry{"ACB_Prompt_CFG_Transmit", "Transmit of configuration data"},
    Entry{"ACB_Prompt_CLB_Idling", "Transmit point of idling"},
    Entry{"ACB_Prompt_Restore_Influence", "Restore influence coefficients"},
    Entry{"ACB_Prompt_Restore_CLB", "Restore of calibration data"},
    Entry{"ACB_Prompt_Support_Sample", "Measurement support parameters."},
    Entry{"ACB_Prompt_Support_Transmit", "Transmit support parameters."},
    Entry{"ACB_Prompt_set_RPM", "Set R.P.M."},
    Entry{"ACB_Prompt_raised_RPM", "Keep R.P.M. in current"},
    Entry{"ACB_Prompt_set_RPM_xx", "Set R.P.M. of idling"},
    Entry{"ACB_Prompt_ACB_Continue", "Autocalibration is continued. Wait, please."},
    Entry{"ACB_Prompt_Not_Petrol", "No pulse from petrol injectors."},
    Entry{"ACB_Prompt_Connect", "Autocalibration failed. No connection with ECU"},
    Entry{"ACB_Prompt_Recommend_Max", "Increase jet diameter and repeat autocalibration."},
    Entry{"ACB_Prompt_Recommend_Min", "Decrease jet diameter and repeat autocalibration."},
    Entry{"ACB_Prompt_Failed", "Autocalibration failed."},
    Entry{"ACB_Prompt_Stopped", "Autocalibration stopped."},
    Entry{"ACB_Prompt_Finish", "Autocalibration finished."},
    Entry{"ACB_Prompt_Completion", "Autocalibration successfully completed."},
    Entry{"Page_CLB", "Graph"},
    Entry{"CLB_History_Diagram", "History diagram"},
    Entry{"CLB_History_Back", "Step back"},
    Entry{"CLB_History_Forward", "Step forward"},
    Entry{"MAP_Ctrl", "Run a preliminary correction of the diagram ?"},
    Entry{"MAP_Ctrl_Transmit", "Send change of the diagram and to erase gas points of a map"},
    Entry{"MAP_Ctrl_No_Pair", "Insufficient data for correction of the transitive characteristic"},
    Entry{"MAP_Ctrl_No_Calc", "The MAPs data do not require correction of the transitive characteristic"},
    Entry{"MAP_Collection", "MAP points collection"},
    Entry{"MAP_Delete", "Delete MAP points"},
    Entry{"MAP_To_Count", "To count"},
    Entry{"Page_RPM", "Map"},
    Entry{"Error_File_not_found", "file not found"},
    Entry{"Error_Temperature", "Temperature ERROR"},
    Entry{"Error_Version", "To work correctly, please install a newer version of the program"},
    Entry{"No_Port", "No port"},
    Entry{"Search_Port", "Search port connection"},
    Entry{"Finds_Port", "Port finds are opening"},
    Entry{"CFG_Config_PG_Time", "Delay of gas injectors"},
    Entry{"CLB_Idle_Run_Points", "Idle run points"},
    Entry{"Run_ACB_SCR_Innovational", "Launch an innovative auto-calibration ?"},
    Entry{"Msg_Close_Window_After", "The window will be closed after"},
    Entry{"Simulated_ECU", "simulated ECU"},
    Entry{"Button_GEN_Flip", "Flip"},
    Entry{"Button_GEN_Settings", "Setting"},
    Entry{"SET_Program_Code", "Program code"},
    Entry{"SET_Port_Manual", "Manual"},
    Entry{"SET_Skin", "Skin, font, color"},
    Entry{"SET_Transmit_Delay", "Transmission delay changed configuration, ms"},
    Entry{"SET_Idle_Points", "Show diagram idling points"},
    Entry{"SET_Map_Point", "Show diagram MAP point"},
    Entry{"SET_Diagram_Joystick", "Show diagram joystick"},
    Entry{"SET_Opacity", "Opacity"},
    Entry{"SET_ACB_Algorithm", "Autocalibration algorithm"},
    Entry{"SKIN_Window", "Skins of the program"},
    Entry{"SKIN_Program_Color", "Program Color"},
    Entry{"SKIN_Font_Color", "Font Color"},
    Entry{"SKIN_Font_Style", "Font Style"},
    Entry{"Color_3D_General", "General color for the font"},
    Entry{"Color_3D_Automat", "MODE : Automat"},
    Entry{"Color_3D_Petrol", "MODE : Petrol"},
    Entry{"Color_3D_Gas", "MODE : Gas"},
    Entry{"Color_3D_RPM", "R.P.M."},
    Entry{"Color_3D_PressVap", "Reducer pressure"},
    Entry{"Color_3D_Manifuld", "Manifuld"},
    Entry{"Color_3D_PressDiff", "Differential pressure"},
    Entry{"Color_3D_TempVap", "Reducer temperature"},
    Entry{"Color_3D_TempGas", "Gas temperature"},
    Entry{"Color_3D_Port_Open", "The connection port is open"},
    Entry{"Color_3D_Port_Close", "The connection port is close"},
    Entry{"Color_3D_Txt_Not_Default", "Type a text message: not the factory settings"},
    Entry{"Color_3D_Txt_Attention", "Type a text message:Attention"},
    Entry{"Color_3D_Txt_Information", "Type a text message:Information"},
    Entry{"Color_3D_Txt_Complete", "Type a text message:Complete"},
    Entry{"Color_3D_Txt_Recomm", "Type a text message:Recomm"},
    Entry{"Color_3D_Txt_Error", "Type a text message:Error"},
    Entry{"Color_3D_Diagram", "Diagram"},
    Entry{"Color_3D_Diagram_Grid", "The grid diagram"},
    Entry{"Color_3D_Diagram_Gas", "Diagram point: \"Petrol-Gas\""},
    Entry{"Color_3D_Diagram_Vacuum", "Diagram point: \"Petrol-Vacuum\""},
    Entry{"Color_3D_Diagram_ReCalc", "Recalculation of the diagram"},
    Entry{"Color_3D_Diagram_Marked", "The selected point on the diagram"},
    Entry{"Color_3D_Diagram_Fixed", "The fixed point on the diagram"},
    Entry{"Color_3D_Diagram_Idle", "Diagram point: \"Idle run\""},
    Entry{"Color_3D_Map_Point_Line", "MAP pair of points"},
    Entry{"Color_3D_Map_Point_Gas", "MAP points of the gas"},
    Entry{"Color_3D_Map_Point_Petrol", "MAP points of the Petrol"},
    Entry{"Color_3D_ACB_Pet_Pet", "AutoCalibration : Petrol on petrol"},
    Entry{"Color_3D_ACB_Pet_Gas", "AutoCalibration : Petrol on gas"},
    Entry{"Color_3D_ACB_Gas_Gas", "AutoCalibration : Gas"},
    Entry{"Color_3D_MapRPM_Gas", "Table of R.P.M.: Gas"},
    Entry{"Color_3D_MapRPM_Pet", "Table of R.P.M.: Petrol"},
    Entry{"Color_3D_MapRPM_Gas_Tail", "Table of R.P.M.: gas trace (\"tail\")"},
    Entry{"Color_3D_MapRPM_Pet_Tail", "Table of R.P.M.: petrol trace (\"tail\")"},
    Entry{"Color_3D_MapRPM_Cell_Corr", "Table of R.P.M.: indication of correction"},
    Entry{"Color_3D_MapRPM_Select_Cell", "Table of R.P.M.: selected cell or group"},
};

// Open-addressing index over kEntries, built at compile time: a lookup hashes the key
// once and compares a slot or two, with no allocation and no start-up work.
constexpr std::size_t kSlots = 512; // a power of two, over twice the entry count
static_assert(kEntries.size() * 2 <= kSlots);

constexpr std::array<std::int16_t, kSlots> kSlotOf = [] {
    std::array<std::int16_t, kSlots> slots{};
    slots.fill(-1);
    for (std::size_t i = 0; i < kEntries.size(); ++i) {
        std::size_t s = KeyHash(kEntries[i].key) & (kSlots - 1);
        bool taken = false;
        while (slots[s] >= 0) {
            // A key listed twice keeps its first entry.
            if (KeysEqual(kEntries[static_cast<std::size_t>(slots[s])].key, kEntries[i].key)) {
                taken = true;
                break;
            }
            s = (s + 1) & (kSlots - 1);
        }
        if (!taken) slots[s] = static_cast<std::int16_t>(i);
    }
    return slots;
}();

} // namespace

std::span<const EnglishEntry> EnglishEntries() { return kEntries; }

std::string_view EnglishText(std::string_view key) {
    for (std::size_t s = KeyHash(key) & (kSlots - 1);; s = (s + 1) & (kSlots - 1)) {
        const std::int16_t entry = kSlotOf[s];
        if (entry < 0) return {};
        const Entry& e = kEntries[static_cast<std::size_t>(entry)];
        if (KeysEqual(e.key, key)) return e.text;
    }
}

} // namespace bifuel
