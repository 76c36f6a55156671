#include "files/Language.h"
#include "files/Paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel {
namespace {

namespace fs = std::filesystem;

// A fresh working folder with an empty "Language" folder, removed afterwards.
class LanguageFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "bifuel-language-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        dir = root / "Language";
        fs::create_directory(dir);
        lang.setLanguageDir(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void write(const fs::path& path, std::string_view bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good()) << path;
    }
    void writeLng(const std::string& name, std::string_view bytes) {
        write(dir / (name + ".lng"), bytes);
    }

    fs::path root;
    fs::path dir;
    Language lang;
    LanguageView view;
};

TEST_F(LanguageFolder, FileTextsWinKeyByKeyAndTheRestIsEnglish) {
    writeLng("Deutsch", "{ Page_ACB Kommentar }\r\n"
                        "Page_CFG   Einstellung\r\n"
                        "ACB_Prompt_Start\r\n"
                        "   \tpage_rpm\tKennfeld  \r\n"
                        "\r\n"
                        "PAGE_CFG Zweite Zeile\r\n"
                        "Yes\n"
                        "Yes Ja\n"
                        "Only_In_File Nur hier {mit Klammern}");
    ASSERT_TRUE(lang.setCurrent("Deutsch"));
    lang.OpenLanguage();
    const struct {
        std::string_view key;
        std::string_view text;
    } cases[] = {
        {"Page_CFG", "Einstellung"},
        {"page_cfg", "Einstellung"},
        {"PAGE_CFG", "Einstellung"}, // the first of two lines wins
        {"ACB_Prompt_Start", "To run autocalibration press \"START\"."}, // nothing after the key
        {"Page_RPM", "Kennfeld"},                                        // blanks and a tab
        {"Page_ACB", "Auto Calibration"},                                // only in a comment
        {"Yes", "Yes"}, // first line empty: English, not the later "Ja"
        {"only_in_file", "Nur hier {mit Klammern}"},
        {"No_Such_Key", "No_Such_Key"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lang.LangText(c.key), c.text) << c.key;
    lang.CloseLanguage();

    ASSERT_FALSE(lang.Lang_Keys().empty());
    EXPECT_EQ(lang.Lang_Keys().front(), "{ Page_ACB Kommentar }");
    EXPECT_EQ(lang.Lang_Texts().front(), "");
}

TEST_F(LanguageFolder, EnglishIsExactAndOtherCasingsAreFileLanguages) {
    writeLng("English", "Page_CFG Never read\r\n");
    lang.OpenLanguage();
    EXPECT_EQ(lang.LangText("page_cfg"), "Setup");
    EXPECT_EQ(lang.LangText("PAGE_CFG"), "Setup");
    EXPECT_TRUE(lang.Lang_Keys().empty());
    EXPECT_EQ(lang.Lang_CodePage(), 1250);
    lang.CloseLanguage();
    fs::remove(dir / "English.lng");

    ASSERT_TRUE(lang.setCurrent("english"));
    EXPECT_EQ(lang.LangTextOnce("Page_CFG"), "Setup"); // english.lng is absent
    writeLng("english", "Page_CFG From the file\r\n");
    EXPECT_EQ(lang.LangTextOnce("Page_CFG"), "From the file");
}

TEST_F(LanguageFolder, TextsAreConvertedFromTheFilesCodePage) {
    const struct {
        const char* name;
        std::string_view bytes;
        std::string_view text;
        std::uint16_t codePage;
    } cases[] = {
        {"Cyrillic",
         "Single_Byte_Character 1251\r\nPage_CFG \xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE0\r\n",
         "Настройка", 1251},
        {"key in any case", "single_byte_character 1251\r\nPage_CFG \xC0\r\n", "А", 1251},
        {"no key: 1250", "Page_CFG \xB9\xE6\xB3\r\n", "ąćł", 1250},
        {"not an integer", "Single_Byte_Character 1251x\r\nPage_CFG \xB9\xE6\xB3\r\n", "ąćł", 1250},
        {"beyond 16 bits does not wrap to 1251", "Single_Byte_Character 66787\r\nPage_CFG \xB9\r\n",
         "ą", 1250},
        {"unknown code page", "Single_Byte_Character 9999\r\nPage_CFG \xB9\r\n", "ą", 1250},
        {"1252 beyond Latin-1", "Single_Byte_Character 1252\r\nPage_CFG \x84START\x93 \xE4\r\n",
         "„START“ ä", 1252},
        {"undefined byte", "Single_Byte_Character 1252\r\nPage_CFG a\x81z\r\n", "a\uFFFDz", 1252},
        {"UTF-8 with a byte-order mark",
         "\xEF\xBB\xBFSingle_Byte_Character 1251\r\nPage_CFG Gr\xC3\xBC\xC3\r\n", "Grü\uFFFD",
         65001},
        // Converters that wait for a combining mark give the last character back too.
        {"1258 keeps the last character", "Single_Byte_Character 1258\r\nPage_CFG Bat dau\r\n",
         "Bat dau", 1258},
        {"1258 one character", "Single_Byte_Character 1258\r\nPage_CFG \xC2\r\n", "Â", 1258},
        {"1258 composes a mark", "Single_Byte_Character 1258\r\nPage_CFG Ba\xECt\r\n", "Bát", 1258},
        {"1258 before an undefined byte", "Single_Byte_Character 1258\r\nPage_CFG \xC2\x81z\r\n",
         "Â\uFFFDz", 1258},
        {"1255 one character", "Single_Byte_Character 1255\r\nPage_CFG \xE0\r\n", "א", 1255},
        {"1255 keeps the last character",
         "Single_Byte_Character 1255\r\nPage_CFG \xF9\xEC\xE5\xED\r\n", "שלום", 1255},
        {"65001 named", "Single_Byte_Character 65001\r\nPage_CFG Gr\xC3\xBC\xC3\x9F\r\n", "Grüß",
         65001},
    };
    ASSERT_TRUE(lang.setCurrent("Test"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeLng("Test", c.bytes);
        EXPECT_EQ(lang.LangTextOnce("Page_CFG"), c.text);
        EXPECT_EQ(lang.Lang_CodePage(), c.codePage);
    }
}

// Each ill-formed sequence of a UTF-8 file becomes one U+FFFD; well-formed text around it,
// four-byte forms and the highest code point included, stays as it is.
TEST_F(LanguageFolder, IllFormedUtf8BecomesReplacementCharacters) {
    const struct {
        const char* name;
        std::string_view bytes;
        std::string_view text;
    } cases[] = {
        {"well-formed", "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBFz",
         "aü€😀\U0010FFFFz"},
        {"stray continuation bytes", "a\x80\xBFz", "a\uFFFD\uFFFDz"},
        {"five-byte form", "a\xF8\x88\x80\x80\x80z", "a\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDz"},
        {"above U+10FFFF", "a\xF4\x90\x80\x80z", "a\uFFFD\uFFFD\uFFFD\uFFFDz"},
        {"overlong slash", "a\xC0\xAFz", "a\uFFFD\uFFFDz"},
        {"overlong three bytes", "a\xE0\x80\xAFz", "a\uFFFD\uFFFD\uFFFDz"},
        {"overlong four bytes", "a\xF0\x80\x80\xAFz", "a\uFFFD\uFFFD\uFFFD\uFFFDz"},
        {"surrogate", "a\xED\xA0\x80z", "a\uFFFD\uFFFD\uFFFDz"},
        {"cut short by a letter", "a\xE2\x82z", "a\uFFFDz"},
        {"cut short at the end", "a\xF0\x9F\x98", "a\uFFFD"},
        {"bytes never in UTF-8", "a\xFE\xFFz", "a\uFFFD\uFFFDz"},
    };
    ASSERT_TRUE(lang.setCurrent("Test"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeLng("Test", "\xEF\xBB\xBFPage_CFG " + std::string(c.bytes) + "\r\n");
        EXPECT_EQ(lang.LangTextOnce("Page_CFG"), c.text);
    }
}

// Files copied from other systems often carry ".LNG": listed and read like ".lng", and a
// ".lng" of the same name is the one read.
TEST_F(LanguageFolder, ExtensionMatchesInAnyCase) {
    write(dir / "Polski.LNG", "Page_CFG Ustawienia\r\n");
    write(dir / "Magyar.Lng", "Page_CFG Be\xE1ll\xEDt\xE1s\r\n");
    write(dir / "Deutsch.LNG", "Page_CFG Falsch\r\n");
    writeLng("Deutsch", "Page_CFG Einstellung\r\n");
    write(dir / "Polski.LNGX", "");

    lang.BuildLanguageList();
    const std::vector<std::string> expected{"English", "Deutsch", "Magyar", "Polski"};
    EXPECT_EQ(lang.Language_List(), expected);

    const std::map<std::string, std::string> texts{
        {"Polski", "Ustawienia"}, {"Magyar", "Beállítás"}, {"Deutsch", "Einstellung"}};
    for (const auto& [name, text] : texts) {
        ASSERT_TRUE(lang.setCurrent(name));
        EXPECT_EQ(lang.LangTextOnce("Page_CFG"), text) << name;
    }
}

TEST_F(LanguageFolder, ListTakesNamesUpToTheFirstDotOnce) {
    for (const char* file : {"Pt.BR.lng", "Pt.PT.lng", "Deutsch.lng", "English.lng", ".lng",
                             "Bad:Name.lng", "readme.txt", "Deutsch.lng.bak"}) {
        write(dir / file, "Page_CFG Configurar\r\n");
    }
    fs::create_directory(dir / "Folder.lng");

    BuildLanguageList(lang, view);
    const std::vector<std::string> expected{"English", "Deutsch", "Pt"};
    EXPECT_EQ(lang.Language_List(), expected);
    EXPECT_EQ(view.HudStringListBox_Menu_LNG, expected);

    // "Pt" stands for Pt.lng, which does not exist yet.
    EXPECT_TRUE(SelectLanguage(lang, view, "Pt"));
    EXPECT_EQ(lang.current(), "Pt");
    EXPECT_EQ(view.HudTabItem_CFG, "Setup");
    writeLng("Pt", "Page_CFG Ajustes\r\n");
    ApplyLanguage(lang, view);
    EXPECT_EQ(view.HudTabItem_CFG, "Ajustes");
}

TEST_F(LanguageFolder, ListHoldsEnglishAndTheFirstNineteenFilesByName) {
    for (int i = 24; i >= 0; --i)
        writeLng((i < 10 ? "L0" : "L") + std::to_string(i), "");
    lang.BuildLanguageList();
    std::vector<std::string> expected{"English"};
    for (int i = 0; i < 19; ++i)
        expected.push_back((i < 10 ? "L0" : "L") + std::to_string(i));
    EXPECT_EQ(lang.Language_List(), expected);
}

TEST_F(LanguageFolder, MissingFolderListsOnlyEnglishAndShowsEnglish) {
    writeLng("Deutsch", "Page_CFG Einstellung\r\n");
    lang.BuildLanguageList();
    ASSERT_EQ(lang.Language_List().size(), 2u);

    lang.setLanguageDir(root / "Nowhere");
    lang.BuildLanguageList();
    EXPECT_EQ(lang.Language_List(), std::vector<std::string>{"English"});
    ASSERT_TRUE(lang.setCurrent("Deutsch"));
    EXPECT_EQ(lang.LangTextOnce("Page_CFG"), "Setup");
}

TEST_F(LanguageFolder, UnsafeNamesNeverBecomePaths) {
    write(root / "evil.lng", "Page_CFG Evil\r\n");
    writeLng("Deutsch", "Page_CFG Einstellung\r\n");
    ASSERT_TRUE(lang.setCurrent("Deutsch"));
    for (const std::string_view name :
         {"../evil", "..", "a/b", "a\\b", "C:evil", "De\x01utsch", "De\x7Futsch", "\"q\"", "*",
          "a|b", "CON", "nul", "com1", "Lpt9.x", ".hidden", "trailing.", "trailing ", ""}) {
        SCOPED_TRACE(testing::PrintToString(std::string(name)));
        EXPECT_FALSE(IsSafeFileName(name));
        EXPECT_FALSE(lang.setCurrent(std::string(name)));
        EXPECT_EQ(lang.current(), "Deutsch");
    }
    for (const std::string_view name :
         {"Deutsch", "Português", "Pt.BR", "Console", "COM10", "Nulla"}) {
        EXPECT_TRUE(IsSafeFileName(name)) << name;
    }

    EXPECT_FALSE(SelectLanguage(lang, view, "../evil.lng"));
    EXPECT_EQ(lang.current(), "Deutsch");
    EXPECT_EQ(view.HudTabItem_CFG, "Einstellung");
    EXPECT_FALSE(SelectLanguage(lang, view, ".lng")); // nothing before the extension
    EXPECT_EQ(lang.current(), "Deutsch");
}

TEST_F(LanguageFolder, TextsOutliveTheBracketUntilTheLanguageChanges) {
    writeLng("Deutsch", "Page_CFG Einstellung\r\n");
    ASSERT_TRUE(lang.setCurrent("Deutsch"));
    ApplyLanguage(lang, view);
    EXPECT_FALSE(lang.isOpen());
    EXPECT_EQ(lang.LangText("Page_CFG"),
              "Einstellung"); // status line and messages look up like this

    ASSERT_TRUE(lang.setCurrent("Francais"));
    EXPECT_EQ(lang.LangText("Page_CFG"), "Setup"); // no German left over

    // A single lookup reads the file again; inside a bracket it leaves the bracket open.
    writeLng("Deutsch", "Page_CFG Einrichtung\r\n");
    ASSERT_TRUE(lang.setCurrent("Deutsch"));
    lang.OpenLanguage();
    EXPECT_EQ(lang.LangTextOnce("Page_CFG"), "Einrichtung");
    EXPECT_TRUE(lang.isOpen());
    lang.CloseLanguage();
    EXPECT_FALSE(lang.isOpen());
}

TEST_F(LanguageFolder, ApplyLanguageJoinsUnitWords) {
    writeLng("Deutsch", "Petrol Benzin\r\n"
                        "IND_TempVap T, Verdampfer\r\n"
                        "CFG_Config_PG_Time Umschaltzeit\r\n"
                        "Dim_Sec_Long s\r\n"
                        "CFG_Config_PG_RPM Umschalten ab Drehzahl\r\n"
                        "Save Speichern\r\n"
                        "Color_3D_Gas Farbe Gas\r\n");
    ASSERT_TRUE(lang.setCurrent("Deutsch"));
    ApplyLanguage(lang, view);

    EXPECT_EQ(view.HudLabel_IND_Petrol_Name, "Benzin, ms");
    EXPECT_EQ(view.HudLabel_CLB_Scale_Petrol, "Benzin, ms");
    EXPECT_EQ(view.HudLabel_IND_TempVap_Name, "T, Verdampfer,°C");
    EXPECT_EQ(view.HudLabel_CFG_PG_Time, "Umschaltzeit, s");
    EXPECT_EQ(view.HudLabel_CFG_PG_RPM, "Umschalten ab Drehzahl >");
    EXPECT_EQ(view.HudStringListBox_Menu_File,
              (std::vector<std::string>{"Speichern", "Load", "Default", "Exit"}));
    EXPECT_EQ(view.Shared.Dim_Sec_Long, "s");
    EXPECT_FALSE(lang.isOpen());
}

namespace english {

// The English text of every control: the program's own texts, with no language file.
struct ControlText {
    std::string LanguageView::*member;
    std::string_view text;
};
using V = LanguageView;
const ControlText kControls[] = {
    {&V::HudLabel_Work_Mode, "Automat"},
    {&V::HudButton_Work_Mode, "Mode"},
    {&V::HudButton_Menu_File, "File"},
    {&V::HudButton_Menu_LNG, "Language"},
    {&V::HudButton_3D_GEN_Flip, "Flip"},
    {&V::HudButton_3D_GEN_Settings, "Settings"},
    {&V::HudLabel_IND_Petrol_Name, "Petrol, ms"},
    {&V::HudLabel_IND_Gas_Name, "Gas, ms"},
    {&V::HudLabel_IND_RPM_Name, "R.P.M."},
    {&V::HudLabel_IND_PressVap_Name, "P, Reducer, bar"},
    {&V::HudLabel_IND_PressColl_Name, "P, Manifuld, bar"},
    {&V::HudLabel_IND_PressDiff_Name, "P, Differential , bar"},
    {&V::HudLabel_IND_TempVap_Name, "T, Reducer,°C"},
    {&V::HudLabel_IND_TempGas_Name, "T, Gas,°C"},
    {&V::HudButton_Port_Search, "Search port"},
    {&V::HudTabItem_CFG, "Setup"},
    {&V::HudGroupBox_CFG, "Configutation"},
    {&V::HudLabel_CFG_RPM_Prescaler, "R.P.M. prescaler"},
    {&V::HudLabel_CFG_PG_Temper, "Switch to gas when temperature,°C >"},
    {&V::HudLabel_CFG_PG_RPM, "Switch to gas when RPM >"},
    {&V::HudLabel_CFG_Injection, "Petrol injection"},
    {&V::HudLabel_CFG_Gas_Type, "Gas type"},
    {&V::HudLabel_CFG_Level_Sensor, "Type"},
    {&V::HudCheckBox_CFG_LevelGas_Buzzer, "Buzzer signal when gas level low"},
    {&V::HudCheckBox_CFG_GP_Buzzer, "Buzzer signal when switch to petrol"},
    {&V::HudCheckBox_CFG_PG_GAS_Hot_Engine, "Start the car with gas when the engine is hot"},
    {&V::HudGroupBox_CFG_LevelSensor, "Gas level sensor"},
    {&V::HudLabel_CFG_LevelGas_Current, "Current value, volt"},
    {&V::HudGroupBox_CFG_Errors, "Errors"},
    {&V::HudButton_CFG_Errors_Clear, "Clear"},
    {&V::HudLabel_CFG_User_Name, "Name"},
    {&V::HudLabel_CFG_User_Phone, "Phone"},
    {&V::HudLabel_CFG_User_Install_Date, "Installed date"},
    {&V::HudLabel_CFG_User_Install_KM, "Installed KM, km"},
    {&V::HudLabel_CFG_User_Gas_Jets, "Gas jet diameter, mm"},
    {&V::HudLabel_CFG_User_Notice, "Notice"},
    {&V::HudTabItem_ACB, "Auto Calibration"},
    {&V::HudButton_ACB_Start, "Start"},
    {&V::HudLabel_3D_ACB_Prompt, "To run autocalibration press \"START\"."},
    {&V::HudTabItem_CLB, "Graph"},
    {&V::HudLabel_CLB_Gas, "Gas"},
    {&V::HudLabel_CLB_Manifuld, "Manifuld"},
    {&V::HudLabel_CLB_Scale_Gas, "Gas, ms"},
    {&V::HudLabel_CLB_Scale_Manifuld, "Manifuld, bar"},
    {&V::HudLabel_CLB_Scale_Petrol, "Petrol, ms"},
    {&V::HudLabel_CLB_MAP_Collection, "MAP points collection"},
    {&V::HudButton_CLB_MAP_Start, "Start"},
    {&V::HudButton_CLB_MAP_Stop, "Stop"},
    {&V::HudButton_CLB_MAP_To_Count, "To count"},
    {&V::HudLabel_CLB_MAP_Delete, "Delete MAP points"},
    {&V::HudButton_CLB_MAP_Del_Gas, "Gas"},
    {&V::HudButton_CLB_MAP_Del_Petrol, "Petrol"},
    {&V::HudTabItem_MAP, "Map"},
    {&V::HudButton_3D_MapRPM_Clear, "Clear"},
    {&V::HudButton_3D_MapRPM_Default, "Default"},
    {&V::HudLabel_CFG_PG_Time, "Delay of gas injectors, sec"},
    {&V::HudCheckBox_CLB_Idle_Run, "Idle run points"},
};

struct SharedText {
    std::string SharedUnitTexts::*member;
    std::string_view text;
};
using S = SharedUnitTexts;
const SharedText kShared[] = {
    {&S::Dim_Hour_Long, "hours"},
    {&S::Dim_MS_Short, "ms"},
    {&S::Dim_Bar_Long, "bar"},
    {&S::Dim_RPM_Short, "r.p.m."},
    {&S::Dim_Volt_Long, "volt"},
    {&S::Dim_Sec_Long, "sec"},
    {&S::Start, "Start"},
    {&S::Stop, "Stop"},
    {&S::Gas, "Gas"},
    {&S::Petrol, "Petrol"},
    {&S::Automat, "Automat"},
    {&S::RPM, "R.P.M."},
    {&S::Manifuld, "Manifuld"},
    {&S::Save, "Save"},
    {&S::Load, "Load"},
    {&S::CFG_User, "Installer Detail"},
    {&S::File, "File"},
    {&S::Point, "Point"},
    {&S::Factor, "Factor"},
    {&S::Table, "Table"},
    {&S::Range, "Range"},
    {&S::Date, "Date"},
    {&S::Firmware, "Firmware"},
    {&S::CFG_Config, "Configutation"},
    {&S::CLB_History_Diagram, "History diagram"},
    {&S::CLB_History_Back, "Step back"},
    {&S::CLB_History_Forward, "Step forward"},
};

} // namespace english

TEST(LanguageApply, EnglishTextsOfEveryControl) {
    Language lang;
    LanguageView view;
    ApplyLanguage(lang, view);

    for (const auto& c : english::kControls)
        EXPECT_EQ(view.*c.member, c.text);
    EXPECT_EQ(view.HudStringListBox_Menu_File,
              (std::vector<std::string>{"Save", "Load", "Default", "Exit"}));
    for (const auto& s : english::kShared)
        EXPECT_EQ(view.Shared.*s.member, s.text);
}

TEST(LanguageShipped, GermanFileTranslatesEveryEnglishKey) {
    Language lang;
    lang.setLanguageDir(fs::path(BIFUEL_SOURCE_DIR) / "data" / "Language");
    lang.BuildLanguageList();
    EXPECT_NE(std::find(lang.Language_List().begin(), lang.Language_List().end(), "Deutsch"),
              lang.Language_List().end());
    ASSERT_TRUE(lang.setCurrent("Deutsch"));
    lang.OpenLanguage();
    EXPECT_EQ(lang.Lang_CodePage(), 1252);

    std::map<std::string, std::string> file; // first line of each key
    for (std::size_t i = 0; i < lang.Lang_Keys().size(); ++i)
        file.emplace(lang.Lang_Keys()[i], lang.Lang_Texts()[i]);
    for (const EnglishEntry& e : EnglishEntries()) {
        std::string key(e.key);
        for (char& c : key)
            c = AsciiUpper(c);
        const auto it = file.find(key);
        EXPECT_TRUE(it != file.end() && !it->second.empty()) << e.key;
    }
    for (const auto& [key, text] : file) {
        if (key.starts_with("{") || key == "SINGLE_BYTE_CHARACTER") continue;
        EXPECT_FALSE(EnglishText(key).empty()) << "not an English key: " << key;
        EXPECT_EQ(text.find("\uFFFD"), std::string::npos) << key;
    }

    const struct {
        std::string_view key;
        std::string_view text;
    } cases[] = {
        {"Clear", "Löschen"},
        {"ACB_Prompt_Start", "Zum Starten der Autokalibrierung „START“ drücken."},
        {"Msg_Close_Window_After", "Das Fenster schließt in"},
        {"Dim_Hour_Long", "Std."},
        {"Dim_RPM_Short", "U/min"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lang.LangText(c.key), c.text) << c.key;
    lang.CloseLanguage();

    LanguageView view;
    ApplyLanguage(lang, view);
    EXPECT_EQ(view.HudLabel_CFG_PG_Time, "Umschaltverzögerung, s");
    EXPECT_EQ(view.HudLabel_IND_PressVap_Name, "P, Verdampfer, bar");
}

} // namespace
} // namespace bifuel
