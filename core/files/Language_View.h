#pragma once

#include <string>
#include <vector>

namespace bifuel {

// Texts other units build their own texts from (title, status line, diagram and map
// labels), looked up once each time the language is applied. Named after their keys.
struct SharedUnitTexts {
    std::string Dim_Hour_Long;
    std::string Dim_MS_Short;
    std::string Dim_Bar_Long;
    std::string Dim_RPM_Short;
    std::string Dim_Volt_Long;
    std::string Dim_Sec_Long;
    std::string Start;
    std::string Stop;
    std::string Gas;
    std::string Petrol;
    std::string Automat;
    std::string RPM;
    std::string Manifuld;
    std::string Save;
    std::string Load;
    std::string CFG_User;
    std::string File;
    std::string Point;
    std::string Factor;
    std::string Table;
    std::string Range;
    std::string Date;
    std::string Firmware;
    std::string CFG_Config;
    std::string CLB_History_Diagram;
    std::string CLB_History_Back;
    std::string CLB_History_Forward;
};

// The main window's texts that follow the language, named after their controls, and
// the two menu lists. Texts are UTF-8; the user interface copies them to its widgets.
struct LanguageView {
    SharedUnitTexts Shared;

    // Top bar, mode and menus.
    std::string HudLabel_Work_Mode;
    std::string HudButton_Work_Mode;
    std::string HudButton_Menu_File;
    std::string HudButton_Menu_LNG;
    std::string HudButton_3D_GEN_Flip;
    std::string HudButton_3D_GEN_Settings;
    // Save, Load, Default, Exit: the File menu acts by position.
    std::vector<std::string> HudStringListBox_Menu_File;
    // The language names, "English" first.
    std::vector<std::string> HudStringListBox_Menu_LNG;

    // Indicator column.
    std::string HudLabel_IND_Petrol_Name;
    std::string HudLabel_IND_Gas_Name;
    std::string HudLabel_IND_RPM_Name;
    std::string HudLabel_IND_PressVap_Name;
    std::string HudLabel_IND_PressColl_Name;
    std::string HudLabel_IND_PressDiff_Name;
    std::string HudLabel_IND_TempVap_Name;
    std::string HudLabel_IND_TempGas_Name;
    std::string HudButton_Port_Search;

    // Setup page.
    std::string HudTabItem_CFG;
    std::string HudGroupBox_CFG;
    std::string HudLabel_CFG_RPM_Prescaler;
    std::string HudLabel_CFG_PG_Temper;
    std::string HudLabel_CFG_PG_RPM;
    std::string HudLabel_CFG_Injection;
    std::string HudLabel_CFG_Gas_Type;
    std::string HudLabel_CFG_Level_Sensor;
    std::string HudCheckBox_CFG_LevelGas_Buzzer;
    std::string HudCheckBox_CFG_GP_Buzzer;
    std::string HudCheckBox_CFG_PG_GAS_Hot_Engine;
    std::string HudGroupBox_CFG_LevelSensor;
    std::string HudLabel_CFG_LevelGas_Current;
    std::string HudGroupBox_CFG_Errors;
    std::string HudButton_CFG_Errors_Clear;
    std::string HudLabel_CFG_User_Name;
    std::string HudLabel_CFG_User_Phone;
    std::string HudLabel_CFG_User_Install_Date;
    std::string HudLabel_CFG_User_Install_KM;
    std::string HudLabel_CFG_User_Gas_Jets;
    std::string HudLabel_CFG_User_Notice;
    std::string HudLabel_CFG_PG_Time;

    // Auto Calibration page.
    std::string HudTabItem_ACB;
    std::string HudButton_ACB_Start;
    std::string HudLabel_3D_ACB_Prompt;

    // Graph page.
    std::string HudTabItem_CLB;
    std::string HudLabel_CLB_Gas;
    std::string HudLabel_CLB_Manifuld;
    std::string HudLabel_CLB_Scale_Gas;
    std::string HudLabel_CLB_Scale_Manifuld;
    std::string HudLabel_CLB_Scale_Petrol;
    std::string HudLabel_CLB_MAP_Collection;
    std::string HudButton_CLB_MAP_Start;
    std::string HudButton_CLB_MAP_Stop;
    std::string HudButton_CLB_MAP_To_Count;
    std::string HudLabel_CLB_MAP_Delete;
    std::string HudButton_CLB_MAP_Del_Gas;
    std::string HudButton_CLB_MAP_Del_Petrol;
    std::string HudCheckBox_CLB_Idle_Run;

    // Map page.
    std::string HudTabItem_MAP;
    std::string HudButton_3D_MapRPM_Clear;
    std::string HudButton_3D_MapRPM_Default;
};

} // namespace bifuel
