#include "files/FindUnit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace bifuel {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::vector<std::string> folderEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// A folder of its own for each test, removed afterwards.
class KeyFileOnDisk : public ::testing::Test {
  protected:
    KeyFileOnDisk() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("bifuel-findunit-" + std::string(info->name()) + "-" +
                                           std::to_string(std::random_device{}()));
        fs::create_directories(dir);
    }
    ~KeyFileOnDisk() override {
        std::error_code ignored;
        fs::permissions(dir / "settings.ini", fs::perms::owner_all, ignored);
        fs::remove_all(dir, ignored);
    }

    fs::path dir;
    KeyFile file;
};

// The key written as the program writes it: padded to 29 characters.
std::string padded(const std::string& key) {
    return key + std::string(29 - key.size(), ' ');
}

struct LineCase {
    const char* line;
    const char* key;
    const char* value;
    const char* comment;
};

TEST(KeyFileParsing, OneLineGivesKeyValueAndComment) {
    const LineCase cases[] = {
        {"  Level1   248  {threshold}", "LEVEL1", "248", "threshold"},
        {"LPG_on=TRUE", "LPG_ON", "TRUE", " "},
        {"Level_Buzzer=1", "LEVEL_BUZZER", "1", " "},
        // Only an "=" right after the key separates; a spaced one belongs to the value.
        {"KEY = 5", "KEY", "= 5", " "},
        {"A=b=c d", "A", "b=c d", " "},
        // The character before the brace goes, even when it is not a space.
        {"Car_Jet 1.8{x}", "CAR_JET", "1.", "x"},
        {"Car_Jet 1.8 {x}", "CAR_JET", "1.8", "x"},
        {"PG_RPM                       600 {}", "PG_RPM", "600", ""},
        {"Name {only a comment}", "NAME", "", "only a comment"},
        // The last character is taken for the closing brace whatever it is.
        {"Car_Model Fiat {open", "CAR_MODEL", "Fiat", "ope"},
        // The comment starts at the brace the closing one matches: a value keeps its own.
        {"Note  a {b {c}} ", "NOTE", "a", "b {c}"},
        {"Car_Comments Auto {Nord} Service {}", "CAR_COMMENTS", "Auto {Nord} Service", ""},
        {"Note x {", "NOTE", "x", ""},
        // No value part: a single space each, so later lines stay with their keys.
        {"User_Name", "USER_NAME", " ", " "},
        {"User_Name   \t", "USER_NAME", " ", " "},
        {"User_Name=", "USER_NAME", " ", " "},
        {"User_Name=   ", "USER_NAME", " ", " "},
        {"\tTab_Led\t=\t7\t", "TAB_LED", "7", " "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        KeyFile file;
        file.OpenFromText(std::string(c.line) + "\r\nNEXT=1\r\n");
        ASSERT_EQ(file.Key_List.size(), 2u);
        EXPECT_EQ(file.Key_List[0], c.key);
        EXPECT_EQ(file.Value_List[0], c.value);
        EXPECT_EQ(file.Comment_List[0], c.comment);
        EXPECT_EQ(file.Key_List[1], "NEXT");
        EXPECT_EQ(file.Value_List[1], "1");
    }
}

TEST(KeyFileParsing, SkipsSectionCommentAndEmptyLinesWithAnyLineEnd) {
    KeyFile file;
    file.OpenFromText(
        "[Main]\r\n  { a comment }\r\n\r\n   \r\nA=1\rB=2\nC=3\r\r\n\n\rD\r\n  [x]=5\n"
        "E=5");
    EXPECT_EQ(file.Key_List, (std::vector<std::string>{"A", "B", "C", "D", "E"}));
    EXPECT_EQ(file.Value_List, (std::vector<std::string>{"1", "2", "3", " ", "5"}));
    EXPECT_EQ(file.Comment_List.size(), 5u);
}

TEST(KeyFileParsing, EmptyTextOpensWithoutEntries) {
    KeyFile file;
    file.OpenFromText("");
    EXPECT_TRUE(file.isOpen());
    EXPECT_TRUE(file.Key_List.empty());
    EXPECT_FALSE(file.FindKey("A"));
    EXPECT_EQ(file.ToText(), "");
}

TEST(KeyFileLookup, IgnoresCaseAndActsOnTheFirstDuplicate) {
    KeyFile file;
    file.OpenFromText("PG_RPM 600 {rpm}\r\nLevel1=10\r\nlevel1=20\r\nLEVEL1=30\r\n");

    EXPECT_TRUE(file.FindKey("pg_rpm"));
    EXPECT_EQ(file.Found_Index, 0);
    EXPECT_EQ(file.Found_Value, "600");
    EXPECT_EQ(file.Found_Comment, "rpm");

    ASSERT_TRUE(file.FindKey("Level1"));
    EXPECT_EQ(file.Found_Index, 1);
    EXPECT_EQ(file.Found_Value, "10");

    file.SetKey("level1", "11");
    EXPECT_EQ(file.Value_List, (std::vector<std::string>{"600", "11", "20", "30"}));

    // Deleting a key deletes every entry of it: a later duplicate would otherwise come
    // back as the key's value at the next read.
    EXPECT_TRUE(file.DeleteKey("LEVEL1"));
    EXPECT_FALSE(file.FindKey("level1"));
    EXPECT_EQ(file.Key_List, std::vector<std::string>{"PG_RPM"});
    KeyFile reread;
    reread.OpenFromText(file.ToText());
    EXPECT_FALSE(reread.FindKey("level1"));
    EXPECT_TRUE(file.FindKey("PG_RPM"));
    EXPECT_EQ(file.Found_Index, 0);

    EXPECT_FALSE(file.FindKey("Missing"));
    EXPECT_EQ(file.Found_Index, -1);
    EXPECT_EQ(file.Found_Value, "");
    EXPECT_FALSE(file.DeleteKey("Missing"));
    EXPECT_EQ(file.Key_List.size(), 1u);
}

TEST(KeyFileLookup, SetKeyReplacesInPlaceAsWrittenOrAppends) {
    KeyFile file;
    file.OpenFromText("A=1\r\nPG_RPM=600\r\nB=2\r\n");
    file.SetKey("Pg_Rpm", "900", "rpm");
    file.SetKey("New_Key", "x");
    EXPECT_EQ(file.Key_List, (std::vector<std::string>{"A", "Pg_Rpm", "B", "New_Key"}));
    EXPECT_EQ(file.Value_List, (std::vector<std::string>{"1", "900", "2", "x"}));
    EXPECT_EQ(file.Comment_List, (std::vector<std::string>{" ", "rpm", " ", ""}));
}

TEST(KeyFileLookup, ManyAppendedKeysStayFindable) {
    KeyFile file;
    file.OpenFromText("");
    for (int i = 0; i < 1000; ++i) {
        file.SetKey("Key_" + std::to_string(i), std::to_string(i));
    }
    for (int i = 0; i < 1000; i += 7) {
        file.DeleteKey("KEY_" + std::to_string(i));
    }
    for (int i = 0; i < 1000; ++i) {
        const std::string key = "key_" + std::to_string(i);
        if (i % 7 == 0) {
            EXPECT_FALSE(file.FindKey(key)) << key;
            continue;
        }
        ASSERT_TRUE(file.FindKey(key)) << key;
        EXPECT_EQ(file.Key_List[static_cast<std::size_t>(file.Found_Index)],
                  "Key_" + std::to_string(i));
        EXPECT_EQ(file.Found_Value, std::to_string(i));
    }
}

TEST(KeyFileLookup, EntriesAddedDirectlyToTheListsAreFound) {
    KeyFile file;
    file.OpenFromText("A=1\r\n");
    ASSERT_TRUE(file.FindKey("A"));
    file.Key_List.push_back("B");
    file.Value_List.push_back("2");
    file.Comment_List.push_back("");
    ASSERT_TRUE(file.FindKey("b"));
    EXPECT_EQ(file.Found_Index, 1);
}

TEST(KeyFileTyped, GetKeyIntAcceptsOnlyWholeIntegers) {
    struct Case {
        const char* value;
        bool ok;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"600", true, 600},
        {"-15", true, -15},
        {"+7", true, 7},
        {"  42", true, 42},
        {"007", true, 7},
        {"$1F", true, 31},
        {"$ff", true, 255},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, std::numeric_limits<std::int32_t>::min()},
        {"$7FFFFFFF", true, 2147483647},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"$80000000", false, 0},
        {"-$10", false, 0},
        {"0x10", false, 0},
        {"$", false, 0},
        {"-", false, 0},
        {"", false, 0},
        {" ", false, 0},
        {"12a", false, 0},
        {"1 ", false, 0},
        {"1.5", false, 0},
        {"1,5", false, 0},
        {"$1G", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("value '") + c.value + "'");
        KeyFile file;
        file.OpenFromText("");
        file.SetKey("Level1", c.value);
        file.Found_Int = 12345;
        EXPECT_EQ(file.GetKeyInt("LEVEL1"), c.ok);
        EXPECT_EQ(file.Found_Int, c.ok ? c.expected : 12345);
    }
    KeyFile file;
    file.OpenFromText("");
    EXPECT_FALSE(file.GetKeyInt("Level1"));
}

TEST(KeyFileTyped, GetKeyBoolAcceptsOnlyTrueAndFalse) {
    struct Case {
        const char* value;
        bool ok;
        bool expected;
    };
    const Case cases[] = {
        {"True", true, true},   {"FALSE", true, false},  {"tRuE", true, true},
        {"false", true, false}, {"1", false, false},     {"Yes", false, false},
        {" ", false, false},    {"True ", false, false}, {"", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("value '") + c.value + "'");
        KeyFile file;
        file.OpenFromText("");
        file.SetKey("LPG_on", c.value);
        file.Found_Bool = !c.expected;
        EXPECT_EQ(file.GetKeyBool("lpg_on"), c.ok);
        if (c.ok) {
            EXPECT_EQ(file.Found_Bool, c.expected);
        }
    }
    KeyFile file;
    file.OpenFromText("");
    EXPECT_FALSE(file.GetKeyBool("LPG_on"));
}

TEST(KeyFileWriting, LinesArePaddedKeyValueBracedCommentAndCrLf) {
    const std::string key29(29, 'K');
    const std::string key35 = "Color_3D_MapRPM_Select_Cell_Long"; // 32 characters
    KeyFile file;
    file.OpenFromText("");
    file.SetKey("PG_RPM", "600");
    file.SetKey("Program_Code", "25", "Arvo 25, Veltra 23");
    file.SetKey(std::string(28, 'E'), "1");
    file.SetKey(key29, "2");
    file.SetKey(key35, "3");
    file.SetKey("Blank", " ", " ");
    file.SetKey("Car_Comments", "line 1\r\nline 2");
    EXPECT_EQ(file.ToText(), "PG_RPM" + std::string(23, ' ') + "600 {}\r\n" +
                                 padded("Program_Code") + "25 {Arvo 25, Veltra 23}\r\n" +
                                 std::string(28, 'E') + " 1 {}\r\n" + key29 + " 2 {}\r\n" + key35 +
                                 " 3 {}\r\n" + padded("Blank") + "  { }\r\n" +
                                 padded("Car_Comments") + "line 1  line 2 {}\r\n");
}

TEST(KeyFileWriting, LongKeysReadBackWholeAndAreReplacedNotAddedAgain) {
    const std::string key = "Portuguese_Brazil_Font_Name_Long"; // 32 characters
    KeyFile file;
    file.OpenFromText("");
    file.SetKey(key, "Tahoma");
    const std::string first = file.ToText();

    file.OpenFromText(first);
    ASSERT_TRUE(file.FindKey(key));
    EXPECT_EQ(file.Found_Value, "Tahoma");
    file.SetKey(key, "Arial");
    EXPECT_EQ(file.Key_List.size(), 1u);
}

TEST(KeyFileWriting, ProgramsOwnFormReadsBackToTheSameBytes) {
    KeyFile file;
    const std::string text = padded("PG_RPM") + "600 {}\r\n" + padded("PROGRAM_CODE") +
                             "25 {Arvo 25, Veltra 23}\r\n" + padded("USER_NAME") +
                             "J\xF3zef Kowalski {}\r\n" + padded("LEVEL_TYPE") + "= 5 {x}\r\n" +
                             std::string(31, 'L') + " 7 {}\r\n";
    file.OpenFromText(text);
    EXPECT_EQ(file.ToText(), text);
}

TEST_F(KeyFileOnDisk, WrittenEntriesReadBackUpperCased) {
    const fs::path path = dir / "CAR01.cfg";
    ASSERT_FALSE(file.OpenKeyFileForUpdate(path));
    EXPECT_TRUE(file.isOpen());
    file.SetKey("User_Name", "J\xF3zef  Kowalski", "installer");
    file.SetKey("Car_Jet", "1.8");
    file.SetKey("Level1", "248", "a {nested} comment");
    ASSERT_TRUE(file.SaveKeyFile(path).ok);
    EXPECT_FALSE(file.isOpen());
    EXPECT_TRUE(file.Key_List.empty());

    ASSERT_TRUE(file.OpenKeyFile(path));
    EXPECT_EQ(file.Key_List, (std::vector<std::string>{"USER_NAME", "CAR_JET", "LEVEL1"}));
    EXPECT_EQ(file.Value_List, (std::vector<std::string>{"J\xF3zef  Kowalski", "1.8", "248"}));
    EXPECT_EQ(file.Comment_List, (std::vector<std::string>{"installer", "", "a {nested} comment"}));
    file.CloseKeyFile();

    // Writers reopen for update and set their keys again: the file must not change.
    const std::string saved = readBytes(path);
    ASSERT_TRUE(file.OpenKeyFileForUpdate(path));
    file.SetKey("User_Name", "J\xF3zef  Kowalski", "installer");
    file.SetKey("Car_Jet", "1.8");
    file.SetKey("Level1", "248", "a {nested} comment");
    ASSERT_TRUE(file.SaveKeyFile(path).ok);
    EXPECT_EQ(readBytes(path), saved);
    EXPECT_EQ(folderEntries(dir), std::vector<std::string>{"CAR01.cfg"});
}

TEST_F(KeyFileOnDisk, WindowsFileLoadsAndUnknownKeysSurviveAnUpdate) {
    const fs::path path = dir / "CAR01.cfg";
    writeBytes(path, "[Config]\r\n"
                     "{ written on the workshop PC }\r\n"
                     "PG_RPM                       1500 {}\r\n"
                     "Car_Model=\xAF\xF3\xB3w \xE6ma {\xFF}\r\n"
                     "Unknown_Key Some value {keep me}\r\n"
                     "User_Name\r\n"
                     "Level1 55 {}\r\n");
    ASSERT_TRUE(file.OpenKeyFileForUpdate(path));
    ASSERT_TRUE(file.GetKeyInt("pg_rpm"));
    EXPECT_EQ(file.Found_Int, 1500);
    ASSERT_TRUE(file.FindKey("CAR_MODEL"));
    EXPECT_EQ(file.Found_Value, "\xAF\xF3\xB3w \xE6ma");
    EXPECT_EQ(file.Found_Comment, "\xFF");

    file.SetKey("PG_RPM", "900");
    file.SetKey("Level1", "60");
    file.SetKey("Save_Map", "True");
    ASSERT_TRUE(file.SaveKeyFile(path).ok);

    EXPECT_EQ(readBytes(path), padded("PG_RPM") + "900 {}\r\n" + padded("CAR_MODEL") +
                                   "\xAF\xF3\xB3w \xE6ma {\xFF}\r\n" + padded("UNKNOWN_KEY") +
                                   "Some value {keep me}\r\n" + padded("USER_NAME") + "  { }\r\n" +
                                   padded("Level1") + "60 {}\r\n" + padded("Save_Map") +
                                   "True {}\r\n");
}

TEST_F(KeyFileOnDisk, FailedRenameKeepsTheOldFileAndLeavesNoTemporary) {
    const fs::path path = dir / "settings.ini";
    const std::string old = "PG_RPM 600 {}\r\n[kept]\r\n";
    writeBytes(path, old);
    ASSERT_TRUE(file.OpenKeyFileForUpdate(path));
    file.SetKey("PG_RPM", "900");
    fs::path renamedFrom;
    file.renameFile = [&](const fs::path& from, const fs::path&, std::string& error) {
        renamedFrom = from;
        EXPECT_EQ(readBytes(from), padded("PG_RPM") + "900 {}\r\n");
        error = "Device or resource busy";
        return false;
    };

    const WriteResult result = file.SaveKeyFile(path);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Could not save \"" + path.string() + "\": Device or resource busy");
    EXPECT_EQ(renamedFrom.parent_path(), dir);
    EXPECT_EQ(readBytes(path), old);
    EXPECT_EQ(folderEntries(dir), std::vector<std::string>{"settings.ini"});
    EXPECT_FALSE(file.isOpen());
    EXPECT_TRUE(file.Key_List.empty());
}

TEST_F(KeyFileOnDisk, SaveIntoMissingFolderFailsCleanly) {
    const fs::path path = dir / "Config" / "CAR01.cfg";
    ASSERT_FALSE(file.OpenKeyFileForUpdate(path));
    file.SetKey("PG_RPM", "600");
    const WriteResult result = file.SaveKeyFile(path);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message.rfind("Could not save \"" + path.string() + "\": ", 0), 0u)
        << result.message;
    EXPECT_GT(result.message.size(), ("Could not save \"" + path.string() + "\": ").size());
    EXPECT_TRUE(folderEntries(dir).empty());
    EXPECT_FALSE(file.isOpen());
}

TEST_F(KeyFileOnDisk, UnreadableFileIsNotReplacedByAnUpdate) {
    const fs::path path = dir / "settings.ini";
    const std::string old = "Unknown_Key 1 {}\r\n";
    writeBytes(path, old);
    fs::permissions(path, fs::perms::none);
    if (std::ifstream(path).is_open()) GTEST_SKIP() << "permissions do not bind this user";

    EXPECT_FALSE(file.OpenKeyFile(path));
    EXPECT_TRUE(file.OpenKeyFileForUpdate(path));
    file.SetKey("PG_RPM", "600");
    const WriteResult result = file.SaveKeyFile(path);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find(path.string()), std::string::npos) << result.message;
    fs::permissions(path, fs::perms::owner_read);
    EXPECT_EQ(readBytes(path), old);
    EXPECT_EQ(folderEntries(dir), std::vector<std::string>{"settings.ini"});
}

TEST_F(KeyFileOnDisk, MissingAndEmptyFilesAndTheClosedState) {
    const fs::path path = dir / "settings.ini";
    EXPECT_FALSE(file.OpenKeyFile(path));
    EXPECT_FALSE(file.isOpen());

    // Changes without an open file must not reach the disk.
    file.SetKey("PG_RPM", "600");
    EXPECT_TRUE(file.Key_List.empty());
    EXPECT_FALSE(file.SaveKeyFile(path).ok);
    EXPECT_FALSE(fs::exists(path));

    ASSERT_FALSE(file.OpenKeyFileForUpdate(path));
    ASSERT_TRUE(file.SaveKeyFile(path).ok);
    EXPECT_EQ(readBytes(path), "");
    ASSERT_TRUE(file.OpenKeyFile(path));
    EXPECT_TRUE(file.Key_List.empty());
}

TEST_F(KeyFileOnDisk, ReadKeyBoolFromFile) {
    const fs::path path = dir / "settings.ini";
    writeBytes(path, "Form_3D_SET_Show True {}\r\nFull_Screen false {}\r\nSearch_Port 1 {}\r\n");
    EXPECT_TRUE(ReadKeyBoolFromFile(file, path, "form_3d_set_show"));
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(ReadKeyBoolFromFile(file, path, "Full_Screen"));
    EXPECT_FALSE(ReadKeyBoolFromFile(file, path, "Search_Port"));
    EXPECT_FALSE(ReadKeyBoolFromFile(file, path, "Missing"));
    EXPECT_FALSE(ReadKeyBoolFromFile(file, dir / "none.ini", "Form_3D_SET_Show"));
}

TEST(KeyFileNames, StripExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"CAR01.cfg", "CAR01"},
        {"golf.v2.cfg", "golf.v2"},
        {"noext", "noext"},
        {"", ""},
        {".ini", ""},
        {"name.", "name"},
        {"dir.v2/notes", "dir.v2/notes"},
        {"C:\\cfg.old\\golf.cfg", "C:\\cfg.old\\golf"},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(StripExtension(name), expected) << name;
}

} // namespace
} // namespace bifuel
