#include "files/Colors_3D_Unit.h"
#include "files/FindUnit.h"
#include "files/Settings_3D_Unit.h"
#include "files/Skin_3D_Unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace bifuel {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The records of one program run, with a settings file in a folder of their own.
class SettingsFile : public ::testing::Test {
  public:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("bifuel-settings-" + std::string(info->name()) + "-" +
                                            std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        ini = dir_ / "bifuel-studio.ini";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    SettingsRecords records() { return {settings, colours, skin, layout}; }
    void create() { Settings_Create(file, ini, records()); }
    WriteResult save(bool shown = false) { return Settings_Save(file, ini, records(), shown); }

    // The file's entries as the reader sees them: upper-case keys.
    std::vector<std::string> keysInFile() {
        KeyFile reader;
        EXPECT_TRUE(reader.OpenKeyFile(ini));
        std::vector<std::string> keys = reader.Key_List;
        reader.CloseKeyFile();
        return keys;
    }
    std::optional<std::string> valueInFile(const std::string& key) {
        KeyFile reader;
        if (!reader.OpenKeyFile(ini) || !reader.FindKey(key)) return std::nullopt;
        return reader.Found_Value;
    }

    fs::path dir_;
    fs::path ini;
    KeyFile file;
    Settings_Class settings;
    ColourTable colours;
    WindowSkin skin;
    WindowLayout layout;
};

// Every stored value away from its default, as after a long session.
void changeEverything(Settings_Class& s, ColourTable& colours, WindowSkin& skin,
                      WindowLayout& layout) {
    s.Program_Code = 23;
    s.Language = "Deutsch";
    s.Port_Name = "/dev/ttyUSB0";
    s.Search_Port = false;
    s.Reply_Delay = 85;
    s.Full_Screen = true;
    s.Page_Index = 2;
    s.CFG_File_Name = "golf";
    s.CFG_Full_File_Name = "/work/Config/golf.cfg";
    s.CFG_Transmit_Delay = 2500;
    s.Idle_Points = true;
    s.Map_Point = true;
    s.Diagram_Joystick = true;
    s.ACB_SCR_Type = "High R.P.M. calibration";
    s.Panels_Opacity = 0.75;
    s.Log_Live = false;
    s.Log_Max_MB = 40;
    s.Live_Only_Polling = true;
    s.Last_Code_Port = "/dev/ttyUSB0";
    s.Last_Code = 26;
    s.Font_Name = "DejaVu Sans";
    s.Font_Size = 15.5F;
    s.Font_Style = 3;
    s.Font_Color = "#FF102030";
    for (int i = 1; i < kColourCount; ++i) {
        char text[10];
        std::snprintf(text, sizeof text, "#80%06X", 0x100000 + i);
        colours.set(static_cast<Colour>(i), text);
    }
    colours.set(Colour::General, s.Font_Color);
    skin.Color = "#FF334455";
    skin.Style = BrushStyle::Gradient;
    skin.GradColors = {"#FF010101", "#FF020202", "#FF030303"};
    layout.Panel_IND_Width = 187.5;
    layout.Panel_IND_Size_Name = 9.25;
    layout.Panel_IND_Size_Data = 40.0;
    layout.Form_3D_GEN_Pos_X = -12;
    layout.Form_3D_GEN_Pos_Y = 30;
    layout.Form_3D_GEN_Width = 1024;
    layout.Form_3D_GEN_Height = 700;
    layout.Form_3D_SET_Show = true;
}

// ---- Defaults -------------------------------------------------------------------------

TEST_F(SettingsFile, CreateWithoutFileGivesTheDefaultsEvenOverAUsedRecord) {
    changeEverything(settings, colours, skin, layout);
    settings.ACB_Script = "12";
    settings.Cycle_Base_Ms = 7;
    Settings_Create(file, ini, records(),
                    [](Settings_Class& s) { s.Language_List[2] = "Deutsch"; });

    struct Case {
        const char* what;
        std::string actual;
        std::string expected;
    };
    const Case cases[] = {
        {"Program_Code", std::to_string(settings.Program_Code), "25"},
        {"Port_Name", settings.Port_Name, "COM1"},
        {"Search_Port", std::to_string(settings.Search_Port), "1"},
        {"Reply_Delay", std::to_string(settings.Reply_Delay), "60"},
        {"Full_Screen", std::to_string(settings.Full_Screen), "0"},
        {"Page_Index", std::to_string(settings.Page_Index), "0"},
        {"CFG_Full_File_Name", settings.CFG_Full_File_Name, ""},
        {"CFG_Transmit_Delay", std::to_string(settings.CFG_Transmit_Delay), "1500"},
        {"Map_Point", std::to_string(settings.Map_Point), "0"},
        {"Panels_Opacity", std::to_string(settings.Panels_Opacity), "1.000000"},
        {"Language", settings.Language, "English"},
        {"Language_List[1]", settings.Language_List[1], "English"},
        {"Language_List[2]", settings.Language_List[2], "Deutsch"},
        {"Font_Name", settings.Font_Name, "Tahoma"},
        {"Font_Size", std::to_string(settings.Font_Size), "12.000000"},
        {"Font_Style", std::to_string(settings.Font_Style), "0"},
        {"Font_Color", settings.Font_Color, "#FFFFFFFF"},
        {"ACB_SCR_Type", settings.ACB_SCR_Type, "Fast calibration"},
        {"ACB_Script", settings.ACB_Script, "1+12+123+1234"},
        {"ACB_Top_20", std::to_string(settings.ACB_Top_20), "1"},
        {"ACB_Reset_Diagram", std::to_string(settings.ACB_Reset_Diagram), "1"},
        {"Cycle_Base_Ms", std::to_string(settings.Cycle_Base_Ms), "100"},
        {"colour 0", colours.ColourOf(Colour::General), "#FFFFFFFF"},
        {"colour 19", colours.ColourOf(Colour::Diagram), "#FFFF0000"},
        {"colour 37", colours.ColourOf(Colour::MapRPM_Select_Cell), "#FF3D9BFF"},
        {"skin colour", skin.Color, "#EAD7D5D5"},
        {"skin points", skin.GradColors.at(0) + skin.GradColors.at(1), "#FF000000#FFFFFFFF"},
        {"name size", std::to_string(layout.Panel_IND_Size_Name), "14.000000"},
        {"value size", std::to_string(layout.Panel_IND_Size_Data), "26.000000"},
        {"reopen settings", std::to_string(layout.Form_3D_SET_Show), "0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.actual, c.expected) << c.what;
    EXPECT_EQ(skin.Style, BrushStyle::Solid);
    EXPECT_FALSE(layout.Form_3D_GEN_Pos_X.has_value());
    EXPECT_FALSE(fs::exists(ini)) << "reading settings never creates the file";
}

TEST(Settings, DefaultScriptFollowsTheCylinderCount) {
    const std::pair<int, const char*> cases[] = {
        {4, "1+12+123+1234"},
        {5, "1+12+123+1234+12345"},
        {6, "14+1245+123456"},
        {8, "15+1256+123567+12345678"},
        {3, ""},
        {7, ""},
        {0, ""},
    };
    for (const auto& [cylinders, script] : cases)
        EXPECT_EQ(DefaultACBScript(cylinders), script) << cylinders;
}

// ---- Save and load --------------------------------------------------------------------

TEST_F(SettingsFile, EverySavedValueLoadsBackAndSavesTheSameFile) {
    changeEverything(settings, colours, skin, layout);
    ASSERT_TRUE(save(true).ok);
    const std::string first = readFile(ini);

    Settings_Class loaded;
    ColourTable loadedColours;
    WindowSkin loadedSkin;
    WindowLayout loadedLayout;
    Settings_Create(file, ini, {loaded, loadedColours, loadedSkin, loadedLayout});

    EXPECT_TRUE(loaded == settings);
    EXPECT_TRUE(loadedSkin == skin);
    EXPECT_TRUE(loadedLayout == layout);
    for (int i = 0; i < kColourCount; ++i)
        EXPECT_EQ(loadedColours.ColourOf(i), colours.ColourOf(i)) << i;

    ASSERT_TRUE(
        Settings_Save(file, ini, {loaded, loadedColours, loadedSkin, loadedLayout}, true).ok);
    EXPECT_EQ(readFile(ini), first);
}

TEST_F(SettingsFile, FreshFileHoldsTheKeysInTheirOrderAndFormats) {
    create();
    layout.Panel_IND_Width = 120.0;
    layout.Form_3D_GEN_Pos_X = 10;
    layout.Form_3D_GEN_Pos_Y = 20;
    layout.Form_3D_GEN_Width = 792;
    layout.Form_3D_GEN_Height = 579;
    ASSERT_TRUE(save(true).ok);

    std::vector<std::string> expected = {
        "Program_Code",        "Language",           "English_Name",      "English_Size",
        "English_Style",       "English_Color",      "Port_Name",         "Search_Port",
        "Reply_Delay",         "Full_Screen",        "CFG_File_Name",     "CFG_Full_File_Name",
        "CFG_Transmit_Delay",  "Idle_Points",        "Map_Point",         "Diagram_Joystick",
        "ACB_SCR_Type",        "Panels_Opacity",     "Panel_IND_Width",   "Panel_IND_Size_Name",
        "Panel_IND_Size_Data", "Form_3D_GEN_Pos_X",  "Form_3D_GEN_Pos_Y", "Form_3D_GEN_Width",
        "Form_3D_GEN_Height",  "Page_Index",         "Form_3D_Color",     "Form_3D_Style",
        "Form_3D_GradColor_0", "Form_3D_GradColor_1"};
    for (const auto& entry : ColourEntries())
        expected.emplace_back(entry.key);
    for (const char* key : {"Log_Live", "Log_Max_MB", "Live_Only_Polling"})
        expected.emplace_back(key);
    expected.emplace_back("Form_3D_SET_Show");
    for (auto& key : expected)
        key = upper(key);
    EXPECT_EQ(keysInFile(), expected);

    const std::pair<const char*, const char*> values[] = {
        {"Program_Code", "25"},
        {"English_Size", "12.00"},
        {"English_Style", "vgFontRegular"},
        {"Search_Port", "True"},
        {"Full_Screen", "False"},
        {"Panels_Opacity", "1.00"},
        {"Panel_IND_Size_Data", "26.00"},
        {"Form_3D_Style", "vgBrushSolid"},
        {"Color_3D_General", "#FFFFFFFF"},
        {"Form_3D_SET_Show", "True"},
    };
    for (const auto& [key, value] : values)
        EXPECT_EQ(valueInFile(key), value) << key;
    EXPECT_NE(readFile(ini).find("{Arvo 25, Veltra 23}\r\n"), std::string::npos)
        << "the program code carries its comment";
}

TEST_F(SettingsFile, UnknownKeysKeepTheirPlaceAndKnownKeysAreReplacedInPlace) {
    writeFile(ini, "Installer_Note   keep me {mine}\r\n"
                   "port_name        COM3 {}\r\n"
                   "Zebra 1\n");
    create();
    EXPECT_EQ(settings.Port_Name, "COM3");
    settings.Port_Name = "/dev/ttyS1";
    ASSERT_TRUE(save().ok);

    const auto keys = keysInFile();
    ASSERT_GE(keys.size(), 3U);
    EXPECT_EQ(keys[0], "INSTALLER_NOTE");
    EXPECT_EQ(keys[1], "PORT_NAME");
    EXPECT_EQ(keys[2], "ZEBRA");
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "PORT_NAME"), 1);
    EXPECT_EQ(valueInFile("Installer_Note"), "keep me");
    EXPECT_EQ(valueInFile("Port_Name"), "/dev/ttyS1");
    EXPECT_EQ(keys.back(), "LIVE_ONLY_POLLING") << "window closed: no reopen key";
}

// A port given for one run (a replay) is not the port of the next start, unless the user
// picks a port meanwhile.
TEST_F(SettingsFile, APortGivenForOneRunIsNotSaved) {
    create();
    settings.Port_Name_In_File = "COM3";
    settings.Port_Name = "replay:drive.csv";
    ASSERT_TRUE(save().ok);
    EXPECT_EQ(valueInFile("Port_Name"), "COM3");
    SettingsView view;
    HudButton_3D_SET_Port_ManualChosen(view, settings, "/dev/ttyUSB1", {});
    ASSERT_TRUE(save().ok);
    EXPECT_EQ(valueInFile("Port_Name"), "/dev/ttyUSB1");
}

TEST_F(SettingsFile, AFailedSaveKeepsTheOldFileAndSaysWhy) {
    create();
    ASSERT_TRUE(save().ok);
    const std::string before = readFile(ini);

    settings.Port_Name = "/dev/ttyACM0";
    file.renameFile = [](const fs::path&, const fs::path&, std::string& error) {
        error = "disk full";
        return false;
    };
    const WriteResult result = save();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("disk full"), std::string::npos) << result.message;
    EXPECT_EQ(readFile(ini), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 1)
        << "no temporary file is left behind";
}

// Each case is a file holding one line; what the loaded record shows for it.
TEST_F(SettingsFile, BadValuesKeepTheDefaultAndLimitedValuesAreHeldToTheirLimits) {
    using Show = std::function<std::string(const SettingsFile&)>;
    const Show code = [](const SettingsFile& f) { return std::to_string(f.settings.Program_Code); };
    const Show delay = [](const SettingsFile& f) { return std::to_string(f.settings.Reply_Delay); };
    const Show transmit = [](const SettingsFile& f) {
        return std::to_string(f.settings.CFG_Transmit_Delay);
    };
    const Show opacity = [](const SettingsFile& f) {
        return std::to_string(f.settings.Panels_Opacity);
    };
    const Show full = [](const SettingsFile& f) { return std::to_string(f.settings.Full_Screen); };
    const Show page = [](const SettingsFile& f) { return std::to_string(f.settings.Page_Index); };
    const Show size = [](const SettingsFile& f) { return std::to_string(f.settings.Font_Size); };
    const Show style = [](const SettingsFile& f) { return std::to_string(f.settings.Font_Style); };
    const Show fontColour = [](const SettingsFile& f) {
        return f.settings.Font_Color + " " + f.colours.ColourOf(Colour::General);
    };
    const Show language = [](const SettingsFile& f) { return f.settings.Language; };
    const Show port = [](const SettingsFile& f) { return f.settings.Port_Name; };
    const Show nameSize = [](const SettingsFile& f) {
        return std::to_string(f.layout.Panel_IND_Size_Name);
    };
    const Show diagram = [](const SettingsFile& f) { return f.colours.ColourOf(Colour::Diagram); };
    const Show fill = [](const SettingsFile& f) { return f.skin.Color; };
    const Show logLimit = [](const SettingsFile& f) {
        return std::to_string(f.settings.Log_Max_MB);
    };
    const Show lastCode = [](const SettingsFile& f) {
        return std::to_string(f.settings.Last_Code);
    };

    struct Case {
        const char* line;
        Show show;
        std::string expected;
    };
    const Case cases[] = {
        {"Program_Code abc", code, "25"},
        {"Program_Code 256", code, "25"},
        {"Program_Code -1", code, "25"},
        {"Program_Code 23", code, "23"},
        {"Reply_Delay fast", delay, "60"},
        {"Reply_Delay 5000", delay, "1000"},
        {"Reply_Delay -3", delay, "0"},
        {"CFG_Transmit_Delay 50", transmit, "100"},
        {"CFG_Transmit_Delay 99999", transmit, "5000"},
        {"Panels_Opacity 0,5", opacity, "0.500000"},
        {"Panels_Opacity 1.7", opacity, "1.000000"},
        {"Panels_Opacity {}", opacity, "1.000000"},
        {"Panels_Opacity half", opacity, "1.000000"},
        {"Full_Screen true", full, "1"},
        {"Full_Screen 1", full, "0"},
        {"Page_Index 3", page, "3"},
        {"Page_Index 7", page, "0"},
        {"English_Size 14,5", size, "14.500000"},
        {"English_Size 0", size, "12.000000"},
        {"English_Size big", size, "12.000000"},
        {"English_Style vgFontItalic", style, "2"},
        {"English_Style vgFontHuge", style, "0"},
        {"English_Color white", fontColour, "#FFFFFFFF #FFFFFFFF"},
        {"Language ../../etc/passwd", language, "English"},
        {"Port_Name", port, "COM1"},
        {"Panel_IND_Size_Name 40", nameSize, "22.000000"},
        {"Color_3D_Diagram #12", diagram, "#FFFF0000"},
        {"Color_3D_Diagram #80ff0000", diagram, "#80ff0000"},
        {"Form_3D_Color blue", fill, "#EAD7D5D5"},
        {"Log_Max_MB 0", logLimit, "1"},
        {"Log_Max_MB many", logLimit, "500"},
        {"Last_Code 24", lastCode, "0"},
        {"Last_Code 23", lastCode, "23"},
    };
    for (const auto& c : cases) {
        writeFile(ini, std::string(c.line) + "\r\n");
        create();
        EXPECT_EQ(c.show(*this), c.expected) << c.line;
    }
}

TEST_F(SettingsFile, TheFullPathNamesTheConfigurationFile) {
    struct Case {
        const char* full;
        const char* shortName;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\Cars\\golf.cfg", "polo", "golf"},
        {"/home/fitter/Config/my.car.cfg", "x", "my.car"},
        {"", "polo", "polo"},
    };
    for (const auto& c : cases) {
        writeFile(ini, std::string("CFG_File_Name ") + c.shortName + "\r\nCFG_Full_File_Name " +
                           c.full + "\r\n");
        create();
        EXPECT_EQ(settings.CFG_File_Name, c.expected) << c.full;
    }
}

TEST_F(SettingsFile, ColourKeysChangeOnlyTheirEntryAndEntryZeroFollowsTheFont) {
    writeFile(ini, "Color_3D_Diagram #FF00FF00\r\n"
                   "Color_3D_General #FF999999\r\n"
                   "English_Color #FF123456\r\n");
    create();
    const ColourTable defaults("#FF123456");
    for (int i = 0; i < kColourCount; ++i) {
        const std::string expected =
            i == static_cast<int>(Colour::Diagram) ? "#FF00FF00" : defaults.ColourOf(i);
        EXPECT_EQ(colours.ColourOf(i), expected) << i;
    }

    FontChoice choice = FontDialogPreset(settings);
    EXPECT_EQ(choice.colour, 0xFF123456U);
    choice.colour = 0x00ABCDEF; // the dialog's colours carry no alpha
    ASSERT_TRUE(TakeFontChoice(settings, colours, choice));
    EXPECT_EQ(settings.Font_Color, "#FFABCDEF");
    EXPECT_EQ(colours.ColourOf(Colour::General), "#FFABCDEF");
}

TEST_F(SettingsFile, EachLanguageKeepsItsOwnFont) {
    create();
    settings.Font_Name = "Verdana"; // changed but not yet saved

    // Deutsch has no font of its own yet: the current font stays.
    ASSERT_TRUE(SwitchLanguage(file, ini, settings, colours, "Deutsch").ok);
    EXPECT_EQ(settings.Font_Name, "Verdana");
    settings.Font_Name = "Arial";
    SetFontColour(settings, colours, "#FF00AA00");

    ASSERT_TRUE(SwitchLanguage(file, ini, settings, colours, "English").ok);
    EXPECT_EQ(settings.Font_Name, "Verdana");
    EXPECT_EQ(colours.ColourOf(Colour::General), "#FFFFFFFF");

    EXPECT_EQ(valueInFile("English_Name"), "Verdana");
    EXPECT_EQ(valueInFile("Deutsch_Name"), "Arial");

    // The next start in Deutsch takes the Deutsch font.
    ASSERT_TRUE(save().ok);
    file.OpenKeyFileForUpdate(ini);
    file.SetKey("Language", "Deutsch");
    ASSERT_TRUE(file.SaveKeyFile(ini).ok);
    create();
    EXPECT_EQ(settings.Font_Name, "Arial");
    EXPECT_EQ(colours.ColourOf(Colour::General), "#FF00AA00");

    const WriteResult refused = SwitchLanguage(file, ini, settings, colours, "../x");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(settings.Language, "Deutsch");
}

TEST_F(SettingsFile, ALanguageNameWithBlanksReadsItsFontBack) {
    create();
    settings.Language = "Brazilian Portuguese";
    settings.Font_Name = "Liberation Sans";
    ASSERT_TRUE(save().ok);
    ASSERT_TRUE(save().ok);
    const std::size_t entries = keysInFile().size();
    ASSERT_TRUE(save().ok);
    EXPECT_EQ(keysInFile().size(), entries) << "saving again adds no lines";

    create();
    EXPECT_EQ(settings.Language, "Brazilian Portuguese");
    EXPECT_EQ(settings.Font_Name, "Liberation Sans");
}

// ---- The Settings window's place --------------------------------------------------------

TEST_F(SettingsFile, TheSettingsWindowReopensAtItsPlaceOnlyWhenOpenAtTheEnd) {
    create();
    SettingsView view;
    SettingsWindow_Show(view, settings, layout, 100, 200, {});
    EXPECT_EQ(view.Left, 100);
    EXPECT_EQ(view.Top, 222);

    // The program ends with the window open.
    view.Left = 40;
    view.Top = 50;
    view.Width = 600;
    view.Height = 320;
    ASSERT_TRUE(save(view.Shown).ok);
    ASSERT_TRUE(SettingsWindow_Close(file, ini, view, layout, SettingsCloseBy::MainWindow).ok);
    EXPECT_FALSE(view.Shown);

    create();
    EXPECT_TRUE(layout.Form_3D_SET_Show);
    SettingsView next;
    SettingsWindow_Show(next, settings, layout, 100, 200, {});
    EXPECT_EQ((std::vector{next.Left, next.Top, next.Width, next.Height}),
              (std::vector{40, 50, 600, 320}));

    // The user closes it, then the program ends.
    ASSERT_TRUE(SettingsWindow_Close(file, ini, next, layout, SettingsCloseBy::User).ok);
    ASSERT_TRUE(save(next.Shown).ok);
    for (const auto& key : keysInFile())
        EXPECT_EQ(key.rfind("FORM_3D_SET_", 0), std::string::npos) << key;

    create();
    EXPECT_FALSE(layout.Form_3D_SET_Show);
    SettingsView again;
    SettingsWindow_Show(again, settings, layout, 100, 200, {});
    EXPECT_EQ(again.Left, 100);
    EXPECT_EQ(again.Top, 222);
}

TEST_F(SettingsFile, AStoredSettingsWindowSmallerThanTheMinimumIsEnlarged) {
    writeFile(ini, "Form_3D_SET_Width 120\r\nForm_3D_SET_Height 90\r\n");
    create();
    SettingsView view;
    SettingsWindow_Show(view, settings, layout, 0, 0, {});
    EXPECT_EQ(view.Width, 300);
    EXPECT_EQ(view.Height, 200);
}

// ---- Settings window controls -----------------------------------------------------------

// Records what the window asks of the link and the main window.
struct HookLog {
    std::vector<std::string> calls;
    bool connected = false;
    std::vector<std::string> systemPorts{"/dev/ttyUSB0", "/dev/ttyS0"};

    SettingsHooks hooks() {
        SettingsHooks h;
        h.ECU_Connected = [this] { return connected; };
        h.RestoreProbeCode = [this] { calls.emplace_back("restore probe"); };
        h.Reconnect = [this] { calls.emplace_back("pending 16"); };
        h.StartConnection = [this] { calls.emplace_back("start"); };
        h.IsSystemPort = [this](const std::string& name) {
            return std::find(systemPorts.begin(), systemPorts.end(), name) != systemPorts.end();
        };
        h.SetPortToOpen = [this](const std::string& name) { calls.push_back("port " + name); };
        h.ReopenPort = [this] { calls.emplace_back("reopen"); };
        h.QueueDeferredAction = [this](int action, int delay) {
            calls.push_back("action " + std::to_string(action) + "/" + std::to_string(delay));
        };
        h.RedrawDiagram = [this] { calls.emplace_back("redraw"); };
        h.ApplyPanelsOpacity = [this](double o) {
            calls.push_back("opacity " + std::to_string(o));
        };
        return h;
    }
};

TEST(SettingsWindow, ProgramCodeEntryRefusesWhatIsNotAByteAndKeepsTheOldCode) {
    for (const char* typed : {"abc", "256", "-1", "", "12a", "1 0", "+5", "99999999999"}) {
        Settings_Class settings;
        settings.Program_Code = 30;
        SettingsView view;
        view.HudTextBox_SET_Program_Code = typed;
        HookLog log;
        const ProgramCodeResult result =
            HudTextBox_SET_Program_CodeEnter(view, settings, log.hooks());
        EXPECT_FALSE(result.accepted) << typed;
        EXPECT_NE(result.reason.find("30"), std::string::npos) << result.reason;
        EXPECT_EQ(settings.Program_Code, 30) << typed;
        EXPECT_EQ(view.HudTextBox_SET_Program_Code, "30") << typed;
        EXPECT_TRUE(log.calls.empty()) << typed << ": the link is left alone";
    }
}

TEST(SettingsWindow, AnAcceptedProgramCodeRestartsTheConnection) {
    struct Case {
        const char* typed;
        bool connected;
        int code;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"23", true, 23, {"restore probe", "pending 16"}},
        {" 255 ", false, 255, {"restore probe", "start"}},
        {"0", false, 0, {"restore probe", "start"}},
    };
    for (const auto& c : cases) {
        Settings_Class settings;
        SettingsView view;
        view.HudTextBox_SET_Program_Code = c.typed;
        HookLog log;
        log.connected = c.connected;
        EXPECT_TRUE(HudTextBox_SET_Program_CodeEnter(view, settings, log.hooks()).accepted);
        EXPECT_EQ(settings.Program_Code, c.code) << c.typed;
        EXPECT_EQ(view.HudTextBox_SET_Program_Code, std::to_string(c.code));
        EXPECT_EQ(log.calls, c.calls) << c.typed;
    }
}

TEST(SettingsWindow, ShowingFillsTheControlsFromTheSettings) {
    Settings_Class settings;
    settings.Language_List[2] = "Deutsch";
    settings.Language_List[4] = "unreachable"; // after an empty slot
    settings.Language = "Deutsch";
    settings.Reply_Delay = 90;
    settings.Panels_Opacity = 0.4;
    settings.ACB_SCR_Type = "Innovational";
    settings.Program_Code = 26;
    SettingsView view;
    HookLog log;
    SettingsWindow_Show(view, settings, WindowLayout{}, 0, 0, log.hooks());

    EXPECT_TRUE(view.Shown);
    EXPECT_EQ(view.HudComboTextBox_3D_SET_Language_Items,
              (std::vector<std::string>{"English", "Deutsch"}));
    EXPECT_EQ(view.HudComboTextBox_3D_SET_Language, "Deutsch");
    EXPECT_EQ(view.HudNumberBox_3D_SET_Port_Delay, 90);
    EXPECT_EQ(view.HudPanel_SET_Opacity, 0.4);
    EXPECT_EQ(view.HudComboTextBox_ACB_Algorithm, "Innovational");
    EXPECT_EQ(std::count(view.HudComboTextBox_ACB_Algorithm_Items.begin(),
                         view.HudComboTextBox_ACB_Algorithm_Items.end(), "Innovational"),
              0);
    EXPECT_EQ(view.HudTextBox_SET_Program_Code, "26");
    EXPECT_EQ(log.calls, (std::vector<std::string>{"action 5/100", "action 6/100"}));
}

TEST(SettingsWindow, TypedNumbersAreHeldToTheControlsLimits) {
    Settings_Class settings;
    SettingsView view;
    for (const auto& [typed, expected] : {std::pair{5000, 1000}, {-5, 0}, {250, 250}}) {
        HudNumberBox_3D_SET_Port_DelayChange(view, settings, typed);
        EXPECT_EQ(settings.Reply_Delay, expected) << typed;
        EXPECT_EQ(view.HudNumberBox_3D_SET_Port_Delay, expected) << typed;
    }
    for (const auto& [typed, expected] : {std::pair{10, 100}, {9000, 5000}, {700, 700}}) {
        HudNumberBox_3D_SET_Transmit_CFG_DelayChange(view, settings, typed);
        EXPECT_EQ(settings.CFG_Transmit_Delay, expected) << typed;
        EXPECT_EQ(view.HudNumberBox_3D_SET_Transmit_CFG_Delay, expected) << typed;
    }
    HookLog log;
    for (const auto& [dragged, expected] :
         {std::pair{1.5, 1.0}, {-0.2, 0.0}, {std::nan(""), 0.0}, {0.3, 0.3}}) {
        HudTrackBar_SET_OpacityChange(view, settings, dragged, log.hooks());
        EXPECT_EQ(settings.Panels_Opacity, expected) << dragged;
        EXPECT_EQ(view.HudPanel_SET_Opacity, expected) << dragged;
    }
    EXPECT_EQ(log.calls.back(), "opacity 0.300000") << "the main window's panels follow";
}

TEST(SettingsWindow, ChecksAndCombosWriteTheirSettings) {
    Settings_Class settings;
    SettingsView view;
    HookLog log;
    HudCheckBox_3D_SET_Port_SearchChange(view, settings, false);
    HudCheckBox_SET_Idle_PointsChange(view, settings, true);
    HudCheckBox_SET_Diagram_JoystickChange(view, settings, true);
    HudCheckBox_SET_Map_PointChange(view, settings, true, log.hooks());
    EXPECT_FALSE(settings.Search_Port);
    EXPECT_TRUE(settings.Idle_Points);
    EXPECT_TRUE(settings.Diagram_Joystick);
    EXPECT_TRUE(settings.Map_Point);
    EXPECT_EQ(log.calls, std::vector<std::string>{"redraw"});

    EXPECT_TRUE(HudComboTextBox_ACB_AlgorithmChange(view, settings, "Only OFFSET calibration"));
    EXPECT_FALSE(HudComboTextBox_ACB_AlgorithmChange(view, settings, "Innovational"));
    EXPECT_EQ(settings.ACB_SCR_Type, "Only OFFSET calibration");
    EXPECT_EQ(view.HudComboTextBox_ACB_Algorithm, "Only OFFSET calibration");
}

TEST(SettingsWindow, AManualPortIsTakenAndReopenedOnlyWhenTheSystemListsIt) {
    struct Case {
        const char* name;
        std::vector<std::string> calls;
        const char* portName;
    };
    const Case cases[] = {
        {"/dev/ttyUSB0", {"port /dev/ttyUSB0", "reopen"}, "/dev/ttyUSB0"},
        {"/dev/pts/7", {"port /dev/pts/7"}, "/dev/pts/7"},
        {"", {}, "COM1"},
    };
    for (const auto& c : cases) {
        Settings_Class settings;
        SettingsView view;
        view.HudTextBox_3D_SET_Port_Name = settings.Port_Name;
        HookLog log;
        HudButton_3D_SET_Port_ManualChosen(view, settings, c.name, log.hooks());
        EXPECT_EQ(log.calls, c.calls) << c.name;
        EXPECT_EQ(settings.Port_Name, c.portName);
        EXPECT_EQ(view.HudTextBox_3D_SET_Port_Name, c.portName);
    }
}

// ---- Colours and skin ---------------------------------------------------------------------

TEST(Skin, DefaultRestoresFontColoursAndFill) {
    Settings_Class settings;
    ColourTable colours;
    WindowSkin skin;
    WindowLayout layout;
    changeEverything(settings, colours, skin, layout);
    Skin_Default(settings, colours, skin);

    EXPECT_EQ(settings.Font_Name, "Tahoma");
    EXPECT_EQ(settings.Font_Size, 12.0F);
    EXPECT_EQ(settings.Font_Style, 0);
    EXPECT_EQ(settings.Font_Color, "#FFFFFFFF");
    for (int i = 0; i < kColourCount; ++i) {
        const std::string_view expected = i == 0 ? "#FFFFFFFF" : ColourEntries()[i].defaultText;
        EXPECT_EQ(colours.ColourOf(i), expected) << i;
    }
    EXPECT_TRUE(skin == WindowSkin{});
    EXPECT_EQ(settings.Language, "Deutsch") << "the reset leaves everything else";
}

TEST(Skin, ResetColoursGivesEntryZeroTheFontColour) {
    ColourTable colours;
    colours.set(Colour::Diagram, "#FF000000");
    colours.ResetColours("#FF112233");
    EXPECT_EQ(colours.ColourOf(Colour::General), "#FF112233");
    EXPECT_EQ(colours.ColourOf(Colour::Diagram), "#FFFF0000");
}

TEST(Skin, CopySkinGivesEveryGradientPoint) {
    WindowSkin main;
    main.Color = "#FF101010";
    main.Style = BrushStyle::Gradient;
    main.GradColors = {"#FF0000AA", "#FF0000BB", "#FF0000CC"};
    WindowSkin other;
    CopySkin(main, other);
    EXPECT_TRUE(other == main);
}

TEST_F(SettingsFile, AGradientWithFewerPointsLeavesNoStalePointsBehind) {
    create();
    skin.Style = BrushStyle::Gradient;
    skin.GradColors = {"#FF000001", "#FF000002", "#FF000003"};
    ASSERT_TRUE(save().ok);
    skin.GradColors = {"#FF000004", "#FF000005"};
    ASSERT_TRUE(save().ok);
    create();
    EXPECT_EQ(skin.GradColors, (std::vector<std::string>{"#FF000004", "#FF000005"}));

    // Without a style key the gradient keys are not read.
    writeFile(ini, "Form_3D_GradColor_0 #FF777777\r\n");
    create();
    EXPECT_EQ(skin.GradColors.at(0), "#FF000000");
}

} // namespace
} // namespace bifuel
