#include "files/Settings_3D_Unit.h"

#include "data/Calc_Unit.h"
#include "files/Colors_3D_Unit.h"
#include "files/Language.h"
#include "files/Paths.h"
#include "files/Skin_3D_Unit.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace bifuel {

namespace {

constexpr std::string_view kProgramCodeComment = "Arvo 25, Veltra 23";
constexpr int kSettingsBelowMain = 22; // the Settings window opens this far below the main one

constexpr std::array<std::string_view, 4> kSettingsWindowKeys{
    "Form_3D_SET_Pos_X", "Form_3D_SET_Pos_Y", "Form_3D_SET_Width", "Form_3D_SET_Height"};

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The value of a text key; an empty value is read as " " by the file and means "".
std::optional<std::string> getText(KeyFile& file, std::string_view key) {
    if (!file.FindKey(key)) return std::nullopt;
    return std::string(trimmed(file.Found_Value));
}

// A text key that must not be empty.
void readName(KeyFile& file, std::string_view key, std::string& field) {
    const auto text = getText(file, key);
    if (text && !text->empty()) field = *text;
}

void readBool(KeyFile& file, std::string_view key, bool& field) {
    if (file.GetKeyBool(key)) field = file.Found_Bool;
}

std::optional<std::int32_t> readInt(KeyFile& file, std::string_view key) {
    if (!file.GetKeyInt(key)) return std::nullopt;
    return file.Found_Int;
}

void readOptional(KeyFile& file, std::string_view key, std::optional<std::int32_t>& field) {
    if (const auto v = readInt(file, key)) field = v;
}

void readClamped(KeyFile& file, std::string_view key, std::int32_t& field, std::int32_t lo,
                 std::int32_t hi) {
    if (const auto v = readInt(file, key)) field = std::clamp(*v, lo, hi);
}

void readClamped(KeyFile& file, std::string_view key, double& field, double lo, double hi) {
    if (const auto v = GetKeyFloat(file, key)) field = std::clamp(*v, lo, hi);
}

// The file name of a path from either system, without its folder and extension.
std::string baseFileName(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    return StripExtension(path);
}

void setInt(KeyFile& file, std::string_view key, std::int32_t value) {
    file.SetKey(key, std::to_string(value));
}

void setOptionalInt(KeyFile& file, std::string_view key, const std::optional<std::int32_t>& value) {
    if (value) setInt(file, key, *value);
}

void setFixed(KeyFile& file, std::string_view key, double value) {
    file.SetKey(key, FixedText(value, 2));
}

void setBool(KeyFile& file, std::string_view key, bool value) {
    file.SetKey(key, BoolToText(value));
}

} // namespace

std::string DefaultACBScript(std::int32_t cylinders) {
    switch (cylinders) {
    case 4:
        return "1+12+123+1234";
    case 5:
        return "1+12+123+1234+12345";
    case 6:
        return "14+1245+123456";
    case 8:
        return "15+1256+123567+12345678";
    default:
        return {};
    }
}

const std::array<std::string_view, 4>& ACBAlgorithmNames() {
    static constexpr std::array<std::string_view, 4> kNames{
        "Default", "Only OFFSET calibration", "Fast calibration", "High R.P.M. calibration"};
    return kNames;
}

bool IsUsableLanguageName(std::string_view name) {
    // A brace would cut the name short when the settings file is read back, and the
    // file reader drops blanks around a value.
    return IsSafeFileName(name) && name.find('{') == std::string_view::npos &&
           trimmed(name) == name;
}

std::optional<double> GetKeyFloat(KeyFile& file, std::string_view key) {
    if (!file.FindKey(key) || trimmed(file.Found_Value).empty()) return std::nullopt;
    return TextToFloat(file.Found_Value);
}

void Settings_Create(KeyFile& file, const std::filesystem::path& iniName,
                     const SettingsRecords& records, const LanguageListBuilder& buildList) {
    Settings_Class& settings = records.settings;
    settings = Settings_Class{};
    records.layout = WindowLayout{};
    if (buildList) buildList(settings);
    settings.ACB_Script = DefaultACBScript(settings.ACB_Cylinders);
    records.colours.ResetColours(settings.Font_Color);
    ResetSkin(records.skin, settings, records.colours);
    Settings_Load(file, iniName, records, buildList);
}

bool Settings_Load(KeyFile& file, const std::filesystem::path& iniName,
                   const SettingsRecords& records, const LanguageListBuilder& buildList) {
    if (!file.OpenKeyFile(iniName)) return false;
    Settings_Class& s = records.settings;

    // The code is one byte: anything else is not a program code.
    if (const auto code = readInt(file, "Program_Code"); code && *code >= 0 && *code <= 255)
        s.Program_Code = static_cast<std::uint8_t>(*code);
    if (const auto language = getText(file, "Language");
        language && IsUsableLanguageName(*language))
        s.Language = *language;
    if (buildList) buildList(s);
    LoadFont(file, s);

    readName(file, "Port_Name", s.Port_Name);
    readBool(file, "Search_Port", s.Search_Port);
    readClamped(file, "Reply_Delay", s.Reply_Delay, kReplyDelayMin, kReplyDelayMax);
    readBool(file, "Full_Screen", s.Full_Screen);
    if (const auto page = readInt(file, "Page_Index"); page && *page >= 0 && *page < kPageCount)
        s.Page_Index = *page;
    if (auto name = getText(file, "CFG_File_Name")) s.CFG_File_Name = std::move(*name);
    if (auto path = getText(file, "CFG_Full_File_Name")) s.CFG_Full_File_Name = std::move(*path);
    // The path names the file that is loaded, so its name wins over a stale short name.
    if (!s.CFG_Full_File_Name.empty()) s.CFG_File_Name = baseFileName(s.CFG_Full_File_Name);

    readClamped(file, "CFG_Transmit_Delay", s.CFG_Transmit_Delay, kTransmitDelayMin,
                kTransmitDelayMax);
    readBool(file, "Idle_Points", s.Idle_Points);
    readBool(file, "Map_Point", s.Map_Point);
    readBool(file, "Diagram_Joystick", s.Diagram_Joystick);
    readName(file, "ACB_SCR_Type", s.ACB_SCR_Type);
    readClamped(file, "Panels_Opacity", s.Panels_Opacity, kOpacityMin, kOpacityMax);
    readBool(file, "Log_Live", s.Log_Live);
    readClamped(file, "Log_Max_MB", s.Log_Max_MB, kLogFolderMinMb, kLogFolderMaxMb);
    readBool(file, "Live_Only_Polling", s.Live_Only_Polling);
    readName(file, "Last_Code_Port", s.Last_Code_Port);
    if (const auto code = readInt(file, "Last_Code"); code && IsProgramCode(*code))
        s.Last_Code = static_cast<std::uint8_t>(*code);

    LoadColours(file, records.colours);
    records.colours.set(Colour::General, s.Font_Color);

    WindowLayout& layout = records.layout;
    if (const auto width = GetKeyFloat(file, "Panel_IND_Width")) layout.Panel_IND_Width = width;
    readClamped(file, "Panel_IND_Size_Name", layout.Panel_IND_Size_Name, kNameSizeMin,
                kNameSizeMax);
    readClamped(file, "Panel_IND_Size_Data", layout.Panel_IND_Size_Data, kValueSizeMin,
                kValueSizeMax);
    readOptional(file, "Form_3D_GEN_Pos_X", layout.Form_3D_GEN_Pos_X);
    readOptional(file, "Form_3D_GEN_Pos_Y", layout.Form_3D_GEN_Pos_Y);
    readOptional(file, "Form_3D_GEN_Width", layout.Form_3D_GEN_Width);
    readOptional(file, "Form_3D_GEN_Height", layout.Form_3D_GEN_Height);
    readBool(file, "Form_3D_SET_Show", layout.Form_3D_SET_Show);
    readOptional(file, kSettingsWindowKeys[0], layout.Form_3D_SET_Pos_X);
    readOptional(file, kSettingsWindowKeys[1], layout.Form_3D_SET_Pos_Y);
    readOptional(file, kSettingsWindowKeys[2], layout.Form_3D_SET_Width);
    readOptional(file, kSettingsWindowKeys[3], layout.Form_3D_SET_Height);
    LoadSkin(file, records.skin);

    file.CloseKeyFile();
    return true;
}

WriteResult Settings_Save(KeyFile& file, const std::filesystem::path& iniName,
                          const SettingsRecords& records, bool settingsWindowShown) {
    const Settings_Class& s = records.settings;
    const WindowLayout& layout = records.layout;
    file.OpenKeyFileForUpdate(iniName);

    file.SetKey("Program_Code", std::to_string(s.Program_Code), kProgramCodeComment);
    file.SetKey("Language", s.Language);
    SaveFont(file, s);
    file.SetKey("Port_Name", s.Port_Name_In_File.value_or(s.Port_Name));
    setBool(file, "Search_Port", s.Search_Port);
    setInt(file, "Reply_Delay", s.Reply_Delay);
    setBool(file, "Full_Screen", s.Full_Screen);
    file.SetKey("CFG_File_Name", s.CFG_File_Name);
    file.SetKey("CFG_Full_File_Name", s.CFG_Full_File_Name);
    setInt(file, "CFG_Transmit_Delay", s.CFG_Transmit_Delay);
    setBool(file, "Idle_Points", s.Idle_Points);
    setBool(file, "Map_Point", s.Map_Point);
    setBool(file, "Diagram_Joystick", s.Diagram_Joystick);
    file.SetKey("ACB_SCR_Type", s.ACB_SCR_Type);
    setFixed(file, "Panels_Opacity", s.Panels_Opacity);

    if (layout.Panel_IND_Width) setFixed(file, "Panel_IND_Width", *layout.Panel_IND_Width);
    setFixed(file, "Panel_IND_Size_Name", layout.Panel_IND_Size_Name);
    setFixed(file, "Panel_IND_Size_Data", layout.Panel_IND_Size_Data);
    setOptionalInt(file, "Form_3D_GEN_Pos_X", layout.Form_3D_GEN_Pos_X);
    setOptionalInt(file, "Form_3D_GEN_Pos_Y", layout.Form_3D_GEN_Pos_Y);
    setOptionalInt(file, "Form_3D_GEN_Width", layout.Form_3D_GEN_Width);
    setOptionalInt(file, "Form_3D_GEN_Height", layout.Form_3D_GEN_Height);
    setInt(file, "Page_Index", s.Page_Index);

    SaveSkin(file, records.skin);
    SaveColours(file, records.colours);
    // Ours, after the keys other programs of this kind know, in their order.
    setBool(file, "Log_Live", s.Log_Live);
    setInt(file, "Log_Max_MB", s.Log_Max_MB);
    setBool(file, "Live_Only_Polling", s.Live_Only_Polling);
    if (s.Last_Code != 0) {
        file.SetKey("Last_Code_Port", s.Last_Code_Port);
        setInt(file, "Last_Code", s.Last_Code);
    }

    // Absent means "do not reopen", so a window the user closed leaves no key behind.
    if (settingsWindowShown)
        setBool(file, "Form_3D_SET_Show", true);
    else
        file.DeleteKey("Form_3D_SET_Show");
    return file.SaveKeyFile(iniName);
}

bool RememberProgramCode(KeyFile& file, const std::filesystem::path& iniName,
                         Settings_Class& settings, const std::string& port, std::uint8_t code) {
    if (!IsProgramCode(code) || (settings.Last_Code == code && settings.Last_Code_Port == port))
        return true;
    settings.Last_Code = code;
    settings.Last_Code_Port = port;
    std::error_code missing;
    if (!std::filesystem::is_regular_file(iniName, missing)) return true;
    file.OpenKeyFileForUpdate(iniName);
    file.SetKey("Last_Code_Port", port);
    setInt(file, "Last_Code", code);
    return file.SaveKeyFile(iniName).ok;
}

WriteResult SwitchLanguage(KeyFile& file, const std::filesystem::path& iniName,
                           Settings_Class& settings, ColourTable& colours,
                           const std::string& name) {
    if (!IsUsableLanguageName(name))
        return {false, "\"" + name + "\" cannot be used as a language name."};
    if (name == settings.Language) return {};
    file.OpenKeyFileForUpdate(iniName);
    SaveFont(file, settings);
    settings.Language = name;
    LoadFont(file, settings);
    colours.set(Colour::General, settings.Font_Color);
    return file.SaveKeyFile(iniName);
}

// ---- The Settings window ----------------------------------------------------------------

void SettingsWindow_Fit(SettingsView& view) {
    view.Width = std::max(view.Width, kSettingsMinWidth);
    view.Height = std::max(view.Height, kSettingsMinHeight);
}

void SettingsWindow_Show(SettingsView& view, const Settings_Class& settings,
                         const WindowLayout& layout, int mainLeft, int mainTop,
                         const SettingsHooks& hooks) {
    view.Shown = true;
    view.Left = layout.Form_3D_SET_Pos_X.value_or(mainLeft);
    view.Top = layout.Form_3D_SET_Pos_Y.value_or(mainTop + kSettingsBelowMain);
    view.Width = layout.Form_3D_SET_Width.value_or(view.Width);
    view.Height = layout.Form_3D_SET_Height.value_or(view.Height);
    SettingsWindow_Fit(view);

    view.HudTextBox_3D_SET_Port_Name = settings.Port_Name;
    view.HudCheckBox_3D_SET_Port_Search = settings.Search_Port;
    view.HudNumberBox_3D_SET_Port_Delay = settings.Reply_Delay;
    view.HudComboTextBox_3D_SET_Language_Items.clear();
    for (int slot = 1; slot <= kLanguageSlots && !settings.Language_List[slot].empty(); ++slot)
        view.HudComboTextBox_3D_SET_Language_Items.push_back(settings.Language_List[slot]);
    view.HudComboTextBox_3D_SET_Language = settings.Language;
    view.HudNumberBox_3D_SET_Transmit_CFG_Delay = settings.CFG_Transmit_Delay;
    view.HudCheckBox_SET_Idle_Points = settings.Idle_Points;
    view.HudCheckBox_SET_Map_Point = settings.Map_Point;
    view.HudCheckBox_SET_Diagram_Joystick = settings.Diagram_Joystick;
    view.HudTrackBar_SET_Opacity = settings.Panels_Opacity;
    view.HudPanel_SET_Opacity = settings.Panels_Opacity;
    const auto& names = ACBAlgorithmNames();
    view.HudComboTextBox_ACB_Algorithm_Items.assign(names.begin(), names.end());
    view.HudComboTextBox_ACB_Algorithm = settings.ACB_SCR_Type;
    view.HudTextBox_SET_Program_Code = std::to_string(settings.Program_Code);
    view.HudCheckBox_SET_Log_Live = settings.Log_Live;
    view.HudNumberBox_SET_Log_Max_MB = settings.Log_Max_MB;
    view.HudCheckBox_SET_Live_Only = settings.Live_Only_Polling;

    if (hooks.QueueDeferredAction) {
        hooks.QueueDeferredAction(kActionPropagateSkin, 100);
        hooks.QueueDeferredAction(kActionApplyFonts, 100);
    }
}

WriteResult SettingsWindow_Close(KeyFile& file, const std::filesystem::path& iniName,
                                 SettingsView& view, WindowLayout& layout, SettingsCloseBy by) {
    file.OpenKeyFileForUpdate(iniName);
    if (by == SettingsCloseBy::User) {
        file.DeleteKey("Form_3D_SET_Show");
        for (const auto key : kSettingsWindowKeys)
            file.DeleteKey(key);
        layout.Form_3D_SET_Show = false;
        layout.Form_3D_SET_Pos_X.reset();
        layout.Form_3D_SET_Pos_Y.reset();
        layout.Form_3D_SET_Width.reset();
        layout.Form_3D_SET_Height.reset();
    } else {
        layout.Form_3D_SET_Pos_X = view.Left;
        layout.Form_3D_SET_Pos_Y = view.Top;
        layout.Form_3D_SET_Width = view.Width;
        layout.Form_3D_SET_Height = view.Height;
        setInt(file, kSettingsWindowKeys[0], view.Left);
        setInt(file, kSettingsWindowKeys[1], view.Top);
        setInt(file, kSettingsWindowKeys[2], view.Width);
        setInt(file, kSettingsWindowKeys[3], view.Height);
    }
    view.Shown = false;
    return file.SaveKeyFile(iniName);
}

void HudCheckBox_3D_SET_Port_SearchChange(SettingsView& view, Settings_Class& settings,
                                          bool checked) {
    view.HudCheckBox_3D_SET_Port_Search = checked;
    settings.Search_Port = checked;
}

void HudNumberBox_3D_SET_Port_DelayChange(SettingsView& view, Settings_Class& settings,
                                          std::int32_t value) {
    settings.Reply_Delay = std::clamp(value, kReplyDelayMin, kReplyDelayMax);
    view.HudNumberBox_3D_SET_Port_Delay = settings.Reply_Delay;
}

WriteResult HudComboTextBox_3D_SET_LanguageChange(KeyFile& file,
                                                  const std::filesystem::path& iniName,
                                                  SettingsView& view, Settings_Class& settings,
                                                  ColourTable& colours, const std::string& name) {
    WriteResult result = SwitchLanguage(file, iniName, settings, colours, name);
    view.HudComboTextBox_3D_SET_Language = settings.Language;
    return result;
}

void HudNumberBox_3D_SET_Transmit_CFG_DelayChange(SettingsView& view, Settings_Class& settings,
                                                  std::int32_t value) {
    settings.CFG_Transmit_Delay = std::clamp(value, kTransmitDelayMin, kTransmitDelayMax);
    view.HudNumberBox_3D_SET_Transmit_CFG_Delay = settings.CFG_Transmit_Delay;
}

void HudCheckBox_SET_Idle_PointsChange(SettingsView& view, Settings_Class& settings, bool checked) {
    view.HudCheckBox_SET_Idle_Points = checked;
    settings.Idle_Points = checked;
}

void HudCheckBox_SET_Map_PointChange(SettingsView& view, Settings_Class& settings, bool checked,
                                     const SettingsHooks& hooks) {
    view.HudCheckBox_SET_Map_Point = checked;
    settings.Map_Point = checked;
    if (hooks.RedrawDiagram) hooks.RedrawDiagram();
}

void HudCheckBox_SET_Diagram_JoystickChange(SettingsView& view, Settings_Class& settings,
                                            bool checked) {
    view.HudCheckBox_SET_Diagram_Joystick = checked;
    settings.Diagram_Joystick = checked;
}

void HudCheckBox_SET_Log_LiveChange(SettingsView& view, Settings_Class& settings, bool checked) {
    view.HudCheckBox_SET_Log_Live = checked;
    settings.Log_Live = checked;
}

void HudNumberBox_SET_Log_Max_MBChange(SettingsView& view, Settings_Class& settings,
                                       std::int32_t value) {
    settings.Log_Max_MB = std::clamp(value, kLogFolderMinMb, kLogFolderMaxMb);
    view.HudNumberBox_SET_Log_Max_MB = settings.Log_Max_MB;
}

void HudCheckBox_SET_Live_OnlyChange(SettingsView& view, Settings_Class& settings, bool checked) {
    view.HudCheckBox_SET_Live_Only = checked;
    settings.Live_Only_Polling = checked;
}

void HudTrackBar_SET_OpacityChange(SettingsView& view, Settings_Class& settings, double value,
                                   const SettingsHooks& hooks) {
    // NaN compares false both ways and would pass a clamp unchanged.
    if (!(value >= kOpacityMin)) value = kOpacityMin;
    settings.Panels_Opacity = std::min(value, kOpacityMax);
    view.HudTrackBar_SET_Opacity = settings.Panels_Opacity;
    view.HudPanel_SET_Opacity = settings.Panels_Opacity;
    if (hooks.ApplyPanelsOpacity) hooks.ApplyPanelsOpacity(settings.Panels_Opacity);
}

bool HudComboTextBox_ACB_AlgorithmChange(SettingsView& view, Settings_Class& settings,
                                         const std::string& name) {
    const auto& names = ACBAlgorithmNames();
    if (std::find(names.begin(), names.end(), name) == names.end()) {
        view.HudComboTextBox_ACB_Algorithm = settings.ACB_SCR_Type;
        return false;
    }
    settings.ACB_SCR_Type = name;
    view.HudComboTextBox_ACB_Algorithm = name;
    return true;
}

void HudButton_3D_SET_Port_ManualChosen(SettingsView& view, Settings_Class& settings,
                                        const std::string& name, const SettingsHooks& hooks) {
    if (trimmed(name).empty()) return;
    view.HudTextBox_3D_SET_Port_Name = name;
    settings.Port_Name = name;
    settings.Port_Name_In_File.reset();
    if (hooks.SetPortToOpen) hooks.SetPortToOpen(name);
    if (hooks.IsSystemPort && hooks.IsSystemPort(name) && hooks.ReopenPort) hooks.ReopenPort();
}

std::optional<std::uint8_t> ParseProgramCode(std::string_view text) {
    text = trimmed(text);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > 255) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

ProgramCodeResult HudTextBox_SET_Program_CodeEnter(SettingsView& view, Settings_Class& settings,
                                                   const SettingsHooks& hooks) {
    const auto code = ParseProgramCode(view.HudTextBox_SET_Program_Code);
    if (!code) {
        const std::string kept = std::to_string(settings.Program_Code);
        view.HudTextBox_SET_Program_Code = kept;
        return {false, "The program code must be a whole number from 0 to 255; the code " + kept +
                           " is kept."};
    }
    settings.Program_Code = *code;
    view.HudTextBox_SET_Program_Code = std::to_string(*code);
    if (hooks.RestoreProbeCode) hooks.RestoreProbeCode();
    if (hooks.ECU_Connected && hooks.ECU_Connected()) {
        if (hooks.Reconnect) hooks.Reconnect();
    } else if (hooks.StartConnection) {
        hooks.StartConnection();
    }
    return {true, {}};
}

} // namespace bifuel
