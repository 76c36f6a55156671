#pragma once

#include "files/FindUnit.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel {

class ColourTable;
struct WindowSkin;

inline constexpr int kLanguageSlots = 20;
inline constexpr int kACBGroups = 6;

// Limits of the values the user types or drags; a file value outside them is held to them.
inline constexpr std::int32_t kReplyDelayMin = 0;
inline constexpr std::int32_t kReplyDelayMax = 1000;
inline constexpr std::int32_t kTransmitDelayMin = 100;
inline constexpr std::int32_t kTransmitDelayMax = 5000;
inline constexpr double kOpacityMin = 0.0;
inline constexpr double kOpacityMax = 1.0;
inline constexpr double kNameSizeMin = 6.0; // indicator-name size slider
inline constexpr double kNameSizeMax = 22.0;
inline constexpr double kValueSizeMin = 6.0; // indicator-value size slider
inline constexpr double kValueSizeMax = 50.0;
// Values no control can produce; a file value outside them is ignored.
inline constexpr std::int32_t kPageCount = 4;
inline constexpr double kFontSizeMin = 1.0;
inline constexpr double kFontSizeMax = 200.0;
// Size of the live-data log folder before its oldest logs go, megabytes.
inline constexpr std::int32_t kLogFolderMinMb = 1;
inline constexpr std::int32_t kLogFolderMaxMb = 1000000;

// The program codes an ECU answers under.
constexpr bool IsProgramCode(int code) {
    return code == 23 || code == 25 || code == 26;
}

// Settle time, sampling time and tolerance of one cylinder group of an auto-calibration run.
struct ACB_Step {
    std::int32_t Settle_Ms = 0;
    std::int32_t Sample_Ms = 0;
    std::int32_t Tolerance_Us = 0;
    bool operator==(const ACB_Step&) const = default;
};

// The program settings record, kept in the settings file.
struct Settings_Class {
    std::uint8_t Program_Code = 25;
    std::string Port_Name = "COM1";
    bool Search_Port = true;
    std::int32_t Reply_Delay = 60; // ms between a valid reply and the next request
    bool Full_Screen = false;
    std::int32_t Page_Index = 0; // main window page shown at start
    std::string CFG_File_Name;
    std::string CFG_Full_File_Name;
    std::int32_t CFG_Transmit_Delay = 1500; // ms from the last edit to its write
    bool Idle_Points = false;
    bool Map_Point = false;
    bool Diagram_Joystick = false;
    double Panels_Opacity = 1.0;
    std::string Language = "English";
    // Slots 1..20 as the language menu lists them (index 0 unused); an empty slot ends it.
    std::array<std::string, kLanguageSlots + 1> Language_List{"", "English"};
    std::string Font_Name = "Tahoma";
    float Font_Size = 12.0F;
    std::int32_t Font_Style = 0; // 0 regular, 1 bold, 2 italic, 3 bold italic
    std::string Font_Color = "#FFFFFFFF";
    std::string ACB_SCR_Type = "Fast calibration"; // auto-calibration algorithm name
    std::int32_t ACB_Cylinders = 4;
    std::string ACB_Script = "1+12+123+1234";
    bool ACB_Top_20 = true;
    bool ACB_Reset_Diagram = true;
    std::array<ACB_Step, kACBGroups + 1> ACB_Steps{}; // groups 1..6 (index 0 unused)
    std::int32_t Cycle_Base_Ms = 100;
    // Every live frame of a connection goes to a log in the Logs folder.
    bool Log_Live = true;
    std::int32_t Log_Max_MB = 500;
    // Poll only live data while no MAP collection runs (opt-in: the MAP lists are not
    // read then).
    bool Live_Only_Polling = false;
    // The port an ECU last answered on, and its program code: probed first there.
    std::string Last_Code_Port;
    std::uint8_t Last_Code = 0; // 0: none
    // Set while the port of this run came from the command line (a replay, say): the file
    // keeps the port it had, until the user picks one.
    std::optional<std::string> Port_Name_In_File;
    bool operator==(const Settings_Class&) const = default;
};

// The script that suits a cylinder count; empty for counts other than 4, 5, 6 and 8.
std::string DefaultACBScript(std::int32_t cylinders);

// The names the Settings window offers for the auto-calibration algorithm.
const std::array<std::string_view, 4>& ACBAlgorithmNames();

// A number of the open file written with a point or a comma; none when the key is absent
// or its value is not a number (an empty value is not 0).
std::optional<double> GetKeyFloat(KeyFile& file, std::string_view key);

// Whether a language name can be kept: it names a file and is written as a file value.
bool IsUsableLanguageName(std::string_view name);

// The main window's layout and the Settings window's place as the settings file keeps
// them. The main window reads them when it lays itself out and keeps them current, so
// that saving writes what is on screen. A value without content is not written: the key
// already in the file stays as it is.
struct WindowLayout {
    std::optional<double> Panel_IND_Width;
    double Panel_IND_Size_Name = 14.0;
    double Panel_IND_Size_Data = 26.0;
    std::optional<std::int32_t> Form_3D_GEN_Pos_X;
    std::optional<std::int32_t> Form_3D_GEN_Pos_Y;
    std::optional<std::int32_t> Form_3D_GEN_Width;
    std::optional<std::int32_t> Form_3D_GEN_Height;
    // The Settings window was open when the program last ended: open it again at start.
    bool Form_3D_SET_Show = false;
    // Where the Settings window was then; cleared when the user closes it.
    std::optional<std::int32_t> Form_3D_SET_Pos_X;
    std::optional<std::int32_t> Form_3D_SET_Pos_Y;
    std::optional<std::int32_t> Form_3D_SET_Width;
    std::optional<std::int32_t> Form_3D_SET_Height;
    bool operator==(const WindowLayout&) const = default;
};

// Everything the settings file holds, by record.
struct SettingsRecords {
    Settings_Class& settings;
    ColourTable& colours;
    WindowSkin& skin;
    WindowLayout& layout;
};

// Refills Language_List from the language folder. Kept outside so that this unit reads
// no folder; an empty function leaves the list as it is.
using LanguageListBuilder = std::function<void(Settings_Class&)>;

// Every record to its defaults, the language list filled, then the file read.
void Settings_Create(KeyFile& file, const std::filesystem::path& iniName,
                     const SettingsRecords& records, const LanguageListBuilder& buildList = {});

// Reads the settings file; false (and nothing changed) when it does not exist. A value
// that is missing, of the wrong kind or not usable keeps the record's value; numbers a
// control limits are held to the control's limits. Colour entry 0 takes the font colour.
// The port to open is not touched here: the link takes Port_Name whenever it opens one.
bool Settings_Load(KeyFile& file, const std::filesystem::path& iniName,
                   const SettingsRecords& records, const LanguageListBuilder& buildList = {});

// Writes every setting, the look and the layout, keeping keys this program does not know.
// settingsWindowShown: the Settings window is open now and is to reopen at the next start.
// A failed write keeps the old file; the result then tells why.
WriteResult Settings_Save(KeyFile& file, const std::filesystem::path& iniName,
                          const SettingsRecords& records, bool settingsWindowShown);

// Keeps the code an ECU answered under on a port, for the next connection there. Written
// at once into a settings file that exists (a file is not made for it, nor written for an
// empty name: the next save of all settings takes it along); false when that write failed.
bool RememberProgramCode(KeyFile& file, const std::filesystem::path& iniName,
                         Settings_Class& settings, const std::string& port, std::uint8_t code);

// Makes another language current. The current font is written under the old language's
// keys and the new language's font, where the file has one, becomes current, so each
// language keeps its own font. A name that cannot be a language changes nothing and is
// refused with a reason; the same name again changes nothing.
WriteResult SwitchLanguage(KeyFile& file, const std::filesystem::path& iniName,
                           Settings_Class& settings, ColourTable& colours, const std::string& name);

// ---- The Settings window ----------------------------------------------------------------

inline constexpr int kSettingsDesignWidth = 519;
inline constexpr int kSettingsDesignHeight = 390;
inline constexpr int kSettingsMinWidth = 300;
inline constexpr int kSettingsMinHeight = 200;

// How the Settings window reaches the link and the main window; the caller wires them to
// its context, tests record them. An empty hook does nothing.
struct SettingsHooks {
    std::function<bool()> ECU_Connected;
    // Byte 0 of the last sent frame back to the code of the last probe, so that the
    // restarted connection goes on with the probe rotation from there.
    std::function<void()> RestoreProbeCode;
    std::function<void()> Reconnect; // drop the link and probe again
    std::function<void()> StartConnection;
    // The port list of the system, the port the link opens next, and reopening it
    // (close, clear the port error, open).
    std::function<bool(const std::string& name)> IsSystemPort;
    std::function<void(const std::string& name)> SetPortToOpen;
    std::function<void()> ReopenPort;
    std::function<void(int action, int delayMs)> QueueDeferredAction;
    std::function<void()> RedrawDiagram;
    std::function<void(double opacity)> ApplyPanelsOpacity;
};

// Main window deferred actions the Settings and skin windows ask for.
inline constexpr int kActionPropagateSkin = 5;
inline constexpr int kActionApplyFonts = 6;

// What the Settings window shows. The user interface draws it and passes user input to
// the operations below.
struct SettingsView {
    bool Shown = false; // the window is open
    int Left = 0;
    int Top = 0;
    int Width = kSettingsDesignWidth;
    int Height = kSettingsDesignHeight;

    std::string HudTextBox_3D_SET_Port_Name;
    bool HudCheckBox_3D_SET_Port_Search = true;
    std::int32_t HudNumberBox_3D_SET_Port_Delay = 60;
    std::vector<std::string> HudComboTextBox_3D_SET_Language_Items;
    std::string HudComboTextBox_3D_SET_Language;
    std::int32_t HudNumberBox_3D_SET_Transmit_CFG_Delay = 1500;
    bool HudCheckBox_SET_Idle_Points = false;
    bool HudCheckBox_SET_Map_Point = false;
    bool HudCheckBox_SET_Diagram_Joystick = false;
    double HudTrackBar_SET_Opacity = 1.0;
    double HudPanel_SET_Opacity = 1.0;
    std::vector<std::string> HudComboTextBox_ACB_Algorithm_Items;
    std::string HudComboTextBox_ACB_Algorithm;
    std::string HudTextBox_SET_Program_Code;
    bool HudCheckBox_SET_Log_Live = true;
    std::int32_t HudNumberBox_SET_Log_Max_MB = 500;
    bool HudCheckBox_SET_Live_Only = false;
};

// Opens the window: at the main window's left, 22 below its top, or where it was when
// the program last ended; every control filled from the settings.
void SettingsWindow_Show(SettingsView& view, const Settings_Class& settings,
                         const WindowLayout& layout, int mainLeft, int mainTop,
                         const SettingsHooks& hooks);

// A window size the Settings window accepts: never smaller than 300 x 200.
void SettingsWindow_Fit(SettingsView& view);

enum class SettingsCloseBy {
    User,       // the window forgets its place: it opens at the default place next time
    MainWindow, // the program ends with the window open: its place is kept for the next start
};

// Closes the window and records its place in the settings file (or forgets it).
WriteResult SettingsWindow_Close(KeyFile& file, const std::filesystem::path& iniName,
                                 SettingsView& view, WindowLayout& layout, SettingsCloseBy by);

// Control changes: each writes its setting, holding numbers to the control's limits.
void HudCheckBox_3D_SET_Port_SearchChange(SettingsView& view, Settings_Class& settings,
                                          bool checked);
void HudNumberBox_3D_SET_Port_DelayChange(SettingsView& view, Settings_Class& settings,
                                          std::int32_t value);
// The language picked in the combo becomes current (SwitchLanguage).
WriteResult HudComboTextBox_3D_SET_LanguageChange(KeyFile& file,
                                                  const std::filesystem::path& iniName,
                                                  SettingsView& view, Settings_Class& settings,
                                                  ColourTable& colours, const std::string& name);
void HudNumberBox_3D_SET_Transmit_CFG_DelayChange(SettingsView& view, Settings_Class& settings,
                                                  std::int32_t value);
void HudCheckBox_SET_Idle_PointsChange(SettingsView& view, Settings_Class& settings, bool checked);
void HudCheckBox_SET_Map_PointChange(SettingsView& view, Settings_Class& settings, bool checked,
                                     const SettingsHooks& hooks);
void HudCheckBox_SET_Diagram_JoystickChange(SettingsView& view, Settings_Class& settings,
                                            bool checked);
void HudTrackBar_SET_OpacityChange(SettingsView& view, Settings_Class& settings, double value,
                                   const SettingsHooks& hooks);
void HudCheckBox_SET_Log_LiveChange(SettingsView& view, Settings_Class& settings, bool checked);
void HudNumberBox_SET_Log_Max_MBChange(SettingsView& view, Settings_Class& settings,
                                       std::int32_t value);
// Taken up by the polling at its next yield point.
void HudCheckBox_SET_Live_OnlyChange(SettingsView& view, Settings_Class& settings, bool checked);
// false (and nothing changed) for a name the combo does not offer.
bool HudComboTextBox_ACB_AlgorithmChange(SettingsView& view, Settings_Class& settings,
                                         const std::string& name);

// The manual port choice: the port the user picked in the port dialog; an empty name
// (dialog cancelled) changes nothing. A port the system lists is reopened at once.
void HudButton_3D_SET_Port_ManualChosen(SettingsView& view, Settings_Class& settings,
                                        const std::string& name, const SettingsHooks& hooks);

// A decimal 0..255, blanks around it allowed; nothing else.
std::optional<std::uint8_t> ParseProgramCode(std::string_view text);

struct ProgramCodeResult {
    bool accepted = false;
    std::string reason; // for the user when refused
};

// Enter in the program-code box. A code that is not a decimal number or is above 255 is
// refused: the old code stays and the box shows it again. An accepted code restarts the
// connection: a reconnect request while the ECU is connected, else a new connection.
ProgramCodeResult HudTextBox_SET_Program_CodeEnter(SettingsView& view, Settings_Class& settings,
                                                   const SettingsHooks& hooks);

} // namespace bifuel
