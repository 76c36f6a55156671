#pragma once

// The Setup page's rules: what each control shows of the configuration record, how an edit
// goes back into the record and on to the ECU, and the page's view state.

#include "data/Config_Unit.h"
#include "files/Language_View.h"
#include "link/Parameter_Table.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace bifuel {

class Context;

// The delay list shows tenths of a second with one decimal and the system's decimal
// separator (20 shows "2.0", or "2,0" under a comma locale).
std::string DelayListText(std::int32_t tenths, char decimalSeparator);
std::string_view InjectionText(bool noSequentInject);
std::string_view GasTypeText(bool lpgOn);
// The switch-over temperature in degrees, or the language's word for a temperature whose
// degrees are unknown (kTemperatureUnknown).
std::string TemperatureText(const Context& ctx, std::int32_t degrees);

// What the page shows: the controls' texts and states, named after the controls. The
// window writes a user's change here and calls the handler; the core fills it from the
// record.
struct SetupView {
    char Decimal_Separator = '.'; // the system's, set by the window
    // True while the page is filled from the record: the edit handlers then do nothing.
    bool Setup_Filling = false;

    std::string HudComboTextBox_CFG_RPM_Prescaler;
    std::string HudComboTextBox_CFG_PG_RPM;
    std::string HudComboTextBox_CFG_PG_Temper;
    std::string HudComboTextBox_CFG_PG_Time;
    std::string HudComboTextBox_CFG_Injection;
    std::string HudComboTextBox_CFG_Gas_Type;
    bool HudCheckBox_CFG_LevelGas_Buzzer = false;
    bool HudCheckBox_CFG_GP_Buzzer = false;
    bool HudCheckBox_CFG_PG_GAS_Hot_Engine = false;

    std::string HudComboTextBox_CFG_Level_Sensor;
    std::array<std::int32_t, 5> HudTrackBar_LevelGas{}; // thresholds 1..5, 0..1023
    std::array<std::string, 5> HudTextBox_LevelGas;     // the thresholds as volts

    std::string HudGroupBox_CFG_User; // caption, with the file name when there is one
    std::string HudTextBox_CFG_User_Name;
    std::string HudTextBox_CFG_User_Phone;
    std::string HudTextBox_CFG_User_Install_Date;
    std::string HudTextBox_CFG_User_Install_KM;
    std::string HudTextBox_CFG_User_Gas_Jets;
    std::string HudMemo_CFG_User_Notice;
    // Set by the window when a text typed into an installer box had characters the code
    // page of its bytes lacks and went to UTF-8 instead; the next read tells the user once.
    bool User_Text_As_Utf8 = false;
};

// One setting of the page as the page shows it: its file key, its row of the parameter
// table (caption, place, how it shows) and its text.
struct SetupField {
    const char* key;
    const ParamField* field;
    std::string text(const Configuration_Class& c, const Context& ctx) const;
};
// The page's settings that reach the ECU, in page order.
std::span<const SetupField> SetupFields();
// The caption of a field in the language chosen.
std::string SetupFieldCaption(const Context& ctx, const SetupField& field);

// Record to controls; writes nothing to the ECU. A list shows the record's value also when
// it is none of the list's items (a value only the ECU can set), and reading the page keeps
// that value for as long as the list shows it. The window redraws on `setupPageFilled`.
void FillSetupPage(Context& ctx);
// Only the installer's notes (after the ECU's name reply).
void FillInstallerBoxes(Context& ctx);
// Controls to record, then the configuration write after the transmit delay. Does nothing
// while the page is being filled. The installer boxes hold bytes as the record keeps them.
void ReadSetupPage(Context& ctx);
// Track bars to the thresholds and their volt boxes, then ReadSetupPage.
void ReadLevelBars(Context& ctx);
// The sensor type list's change: the type's table entry sets the thresholds. Only the
// list's own items do; the type the ECU reported, shown as an extra item, changes nothing.
void OnLevelTypeChosen(Context& ctx);
// The page's texts that follow the language (the unknown temperature), after a change of
// language; true when one changed.
bool RefreshSetupTexts(Context& ctx);

} // namespace bifuel
