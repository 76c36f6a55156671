#include "LinkHarness.h"

#include "files/SaveLoad_3D_Unit.h"

namespace bifuel::test {
namespace {

// A program with its working directory in a fresh temporary folder.
class ConfigFiles : public ::testing::Test {
  protected:
    std::filesystem::path cfg(const std::string& name) const {
        return ctx.paths.Config_Dir / (name + ".cfg");
    }
    void useName(const std::string& name) {
        ctx.config.CFG_Name = name;
        ctx.settings.CFG_File_Name = name;
        ctx.settings.CFG_Full_File_Name = cfg(name).string();
    }

    TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host(), work.paths(false)};
};

TEST_F(ConfigFiles, SaveWritesTheKeysInOrderAndASecondSaveChangesNothing) {
    useName("CAR01");
    ctx.config.User_Name = "Jan Nowak";
    ctx.config.PG_RPM = 1500;
    ctx.diagram.Gas_Point[3] = 7520;
    ctx.mapPoints.MAP_Gas[0] = 123;
    ctx.mapPoints.MAP_Petrol[4] = 77;
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    const std::string first = ReadFileBytes(cfg("CAR01"));
    EXPECT_EQ(first.rfind("User_Name                    Jan Nowak {}\r\n", 0), 0u)
        << first.substr(0, 80);
    EXPECT_LT(first.find("PG_RPM "), first.find("Level5 "));
    EXPECT_LT(first.find("Gas_Point_8 "), first.find("MAP_Gas_1 "));
    EXPECT_NE(first.find("MAP_Petrol_5                 77 {}\r\n"), std::string::npos);
    EXPECT_EQ(first.find("MAP_Gas_2 "), std::string::npos) << "zero points are not written";

    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    EXPECT_EQ(ReadFileBytes(cfg("CAR01")), first);

    ctx.mapPoints.MAP_Gas[0] = 0; // a point that became 0 loses its key
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    EXPECT_EQ(ReadFileBytes(cfg("CAR01")).find("MAP_Gas_1 "), std::string::npos);
}

TEST_F(ConfigFiles, SaveThenLoadRestoresEverythingTheFileHolds) {
    useName("VAN");
    Configuration_Class& c = ctx.config;
    c.User_Phone = "+48 600 000 000";
    c.Car_Comments = "line one\r\nline two \\ with a backslash\nKEY 5";
    c.Work_Gas = 4321;
    c.Save_Map = true;
    c.RPM_PreScaler = "1:3";
    c.LPG_on = false;
    c.Level_Type = "AEB 806";
    c.Level3 = 634;
    for (std::size_t i = 0; i < kDiagramPoints; ++i) {
        ctx.diagram.Gas_Point[i] = 2000 + 1000 * static_cast<int>(i);
        ctx.diagram.Petrol_Point[i] = 3000 * static_cast<int>(i);
    }
    ctx.mapPoints.MAP_Gas[31] = 900;
    const Configuration_Class saved = c;
    const DiagramModel savedDiagram = ctx.diagram;
    ASSERT_TRUE(SaveConfigFile(ctx).ok);

    ResetConfiguration(ctx);
    ctx.diagram = DiagramModel{};
    ctx.mapPoints = MapPoints{};
    ASSERT_TRUE(LoadConfigFile(ctx));
    Configuration_Class expected = saved;
    expected.Car_Comments = "line one\nline two \\ with a backslash\nKEY 5";
    expected.Param44_Press = kCngPress44; // follows the gas type the file holds
    EXPECT_TRUE(c == expected);
    EXPECT_EQ(c.Car_Comments, expected.Car_Comments);
    EXPECT_EQ(ctx.diagram.Gas_Point, savedDiagram.Gas_Point);
    EXPECT_EQ(ctx.diagram.Petrol_Point, savedDiagram.Petrol_Point);
    EXPECT_EQ(ctx.mapPoints.MAP_Gas[31], 900);
    // The comment stays one line in the file.
    const std::string text = ReadFileBytes(cfg("VAN"));
    EXPECT_NE(text.find("line one\\nline two \\\\ with a backslash\\nKEY 5 {}"), std::string::npos);
}

TEST_F(ConfigFiles, FilesFromAWindowsInstallLoad) {
    WriteFileBytes(cfg("OLD"), "User_Name                    Kowalski\xB3 {}\r\n"
                               "Car_Comments                 C:\\cars\\old {}\r\n"
                               "LPG_on=false\r\n"
                               "[Main]\r\n"
                               "Level1   248  {threshold}\r\n"
                               "PG_RPM                       abc {}\r\n"
                               "MAP_Gas_3                    55 {}\r\n");
    useName("OLD");
    ctx.config.PG_RPM = 900;
    ctx.mapPoints.MAP_Gas[7] = 99;
    ASSERT_TRUE(LoadConfigFile(ctx));
    EXPECT_EQ(ctx.config.User_Name, "Kowalski\xB3");
    EXPECT_EQ(ctx.config.Car_Comments, "C:\\cars\\old") << "an old comment without escapes";
    EXPECT_FALSE(ctx.config.LPG_on);
    EXPECT_EQ(ctx.config.Level1, 248);
    EXPECT_EQ(ctx.config.PG_RPM, 900) << "a value that is not a number leaves the field";
    EXPECT_EQ(ctx.mapPoints.MAP_Gas[2], 55);
    EXPECT_EQ(ctx.mapPoints.MAP_Gas[7], 0) << "absent MAP points read as none";
    // Written back, then written again: the second save changes no byte.
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    const std::string once = ReadFileBytes(cfg("OLD"));
    ASSERT_TRUE(LoadConfigFile(ctx));
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    EXPECT_EQ(ReadFileBytes(cfg("OLD")), once);
}

TEST_F(ConfigFiles, FailedSaveKeepsTheOldFileAndSaysWhy) {
    useName("CAR01");
    ctx.config.User_Name = "first";
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    const std::string before = ReadFileBytes(cfg("CAR01"));
    ctx.config.User_Name = "second";
    ctx.keyFile.renameFile = [](const std::filesystem::path&, const std::filesystem::path&,
                                std::string& error) {
        error = "simulated crash before the rename";
        return false;
    };
    const WriteResult r = SaveConfigFile(ctx);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("CAR01.cfg"), std::string::npos) << r.message;
    EXPECT_EQ(ReadFileBytes(cfg("CAR01")), before);
    EXPECT_EQ(ctx.config.User_Name, "second") << "the record is left as it was";
    EXPECT_EQ(ctx.dynamicInd.Texts[ctx.dynamicInd.Count], r.message);
    for (const auto& e : std::filesystem::directory_iterator(ctx.paths.Config_Dir)) {
        EXPECT_EQ(e.path().filename(), "CAR01.cfg") << "no temporary file is left";
    }
}

TEST_F(ConfigFiles, SaveLoadWindowNameRules) {
    WriteFileBytes(ctx.paths.Config_Dir / "notes.txt", "x");
    WriteFileBytes(cfg("CAR01"), "");
    ShowSaveLoad(ctx, SaveLoadMode::Load);
    const SaveLoadView& v = ctx.saveLoad;
    EXPECT_TRUE(v.shown);
    EXPECT_EQ(v.HudButton_3D_SL_Run_Text, "Load");
    EXPECT_EQ(v.HudStringListBox_3D_SL_List, (std::vector<std::string>{"CAR01", "notes"}));
    EXPECT_FALSE(v.HudButton_3D_SL_Run_Enabled);
    const std::pair<const char*, const char*> names[] = {
        {"ABCDEFGHIJ", "ABCDEFGH"}, {"../etc", ""},           {"a/b", ""},  {"a\\b", ""},
        {"M\xC3\xBCller", ""},      {"CAR-01_x", "CAR-01_x"}, {"A{B}", ""}, {"MY CAR", "MY CAR"},
    };
    for (const auto& [typed, usable] : names) {
        SaveLoadNameChanged(ctx, typed);
        EXPECT_EQ(v.HudButton_3D_SL_Run_Enabled, *usable != 0) << typed;
        if (*usable) {
            EXPECT_EQ(v.HudTextBox_3D_SL_Name, usable);
        } else {
            // The refusal states the rule that refused it.
            EXPECT_NE(v.Name_Refused.find("1 to 8 characters"), std::string::npos) << typed;
        }
    }
    SaveLoadNameChanged(ctx, "../etc");
    SaveLoadRun(ctx);
    EXPECT_TRUE(v.shown) << "a refused name cannot run";
    EXPECT_TRUE(ctx.settings.CFG_Full_File_Name.empty());
}

// The Config folder is the user's: links that loop, entries without access and a folder
// that is itself a loop must neither throw out of the core nor hide the files that are fine.
TEST_F(ConfigFiles, ListingSurvivesLoopsAndEntriesItCannotExamine) {
    namespace fs = std::filesystem;
    const fs::path dir = ctx.paths.Config_Dir;
    const std::vector<std::string>& listed = ctx.saveLoad.HudStringListBox_3D_SL_List;
    WriteFileBytes(cfg("CAR01"), "");
    WriteFileBytes(cfg("locked"), "");
    fs::permissions(cfg("locked"), fs::perms::none);
    WriteFileBytes(dir / "private" / "inner.cfg", "");
    fs::permissions(dir / "private", fs::perms::none);
    fs::create_symlink("self.cfg", dir / "self.cfg"); // a link to itself
    fs::create_symlink("pong.cfg", dir / "ping.cfg"); // two pointing at each other
    fs::create_symlink("ping.cfg", dir / "pong.cfg");
    fs::create_symlink(dir, dir / "up");                // a folder loop
    fs::create_symlink("CAR01.cfg", dir / "alias.cfg"); // a link to a file is a file
    ShowSaveLoad(ctx, SaveLoadMode::Load);
    EXPECT_EQ(listed, (std::vector<std::string>{"CAR01", "alias", "locked"}));
    fs::permissions(dir / "private", fs::perms::owner_all); // so that it can be removed

    // The folder itself a loop: nothing to list, and a save fails with its reason.
    fs::remove_all(dir);
    fs::create_symlink(dir.filename(), dir);
    ShowSaveLoad(ctx, SaveLoadMode::Save);
    EXPECT_TRUE(listed.empty());
    useName("CAR02");
    const WriteResult saved = SaveConfigFile(ctx);
    EXPECT_FALSE(saved.ok);
    EXPECT_FALSE(saved.message.empty());
    EXPECT_FALSE(CheckConfigFile(cfg("CAR02")).empty());
}

TEST_F(ConfigFiles, LoadingANameWithoutAFileIsNotFoundAndChangesNothing) {
    std::filesystem::create_directories(ctx.paths.Config_Dir);
    WriteFileBytes(ctx.paths.Config_Dir / "notes.txt", "x");
    ctx.config.PG_RPM = 1900;
    ShowSaveLoad(ctx, SaveLoadMode::Load);
    SaveLoadListClick(ctx, 0);
    EXPECT_EQ(ctx.saveLoad.HudTextBox_3D_SL_Name, "notes");
    SaveLoadRun(ctx);
    EXPECT_TRUE(ctx.saveLoad.shown) << "the window stays with the reason";
    EXPECT_NE(ctx.saveLoad.Last_Error.find("notes.cfg\" does not exist"), std::string::npos)
        << ctx.saveLoad.Last_Error;
    EXPECT_EQ(ctx.config.PG_RPM, 1900);
    EXPECT_TRUE(ctx.config.CFG_Name.empty());
    EXPECT_TRUE(ctx.settings.CFG_Full_File_Name.empty());
    EXPECT_FALSE(std::filesystem::exists(cfg("notes")));
}

TEST_F(ConfigFiles, ConfigFolderIsCreatedWhenMissing) {
    ShowSaveLoad(ctx, SaveLoadMode::Save);
    EXPECT_TRUE(std::filesystem::is_directory(ctx.paths.Config_Dir));
    EXPECT_TRUE(ctx.saveLoad.HudStringListBox_3D_SL_List.empty());
    EXPECT_EQ(ctx.saveLoad.HudButton_3D_SL_Run_Text, "Save");
}

TEST_F(ConfigFiles, DefaultModeResetsAndAsksForAFullWrite) {
    useName("CAR01");
    ctx.config.PG_RPM = 1900;
    ctx.link.ECU_Connected = true;
    // With an ECU the factory set-up is first shown against it; nothing changes yet.
    ShowSaveLoad(ctx, SaveLoadMode::Default);
    ASSERT_TRUE(ctx.saveLoad.Diff_Default);
    EXPECT_EQ(ctx.config.PG_RPM, 1900);
    EXPECT_EQ(ctx.link.Pending_Request, Request::None);
    SaveLoadDiffLoad(ctx, true);
    EXPECT_FALSE(ctx.saveLoad.shown);
    EXPECT_TRUE(ctx.config.CFG_Name.empty());
    EXPECT_TRUE(ctx.settings.CFG_Full_File_Name.empty());
    EXPECT_EQ(ctx.config.PG_RPM, Configuration_Class{}.PG_RPM);
    EXPECT_EQ(ctx.link.Pending_Request, Request::WriteAll);
}

TEST_F(ConfigFiles, FilesThatAreNoConfigurationAreRecognised) {
    const auto dir = work.path();
    WriteFileBytes(dir / "empty.cfg", "\r\n  \r\n");
    WriteFileBytes(dir / "binary.cfg", std::string("PG_RPM 600\0\x01\x02", 13));
    WriteFileBytes(dir / "unknown.cfg", "Colour=blue\r\nSize 5\r\n");
    WriteFileBytes(dir / "badint.cfg", "PG_RPM                       fast {}\r\n");
    WriteFileBytes(dir / "badbool.cfg",
                   "LPG_on                       1 {}\r\n"); // says nothing, as if absent
    WriteFileBytes(dir / "good.cfg", "User_Name Jan\r\nLPG_on=false\r\nGas_Point_3 7520\r\n");
    std::filesystem::create_directories(dir / "folder.cfg");
    const std::pair<const char*, const char*> cases[] = {
        {"missing.cfg", "does not exist"},
        {"folder.cfg", "is not a file"},
        {"empty.cfg", "is empty"},
        {"binary.cfg", "is not a text file"},
        {"unknown.cfg", "no configuration keys"},
        {"badint.cfg", "line 1: PG_RPM fast is not allowed"},
        {"badbool.cfg", ""},
        {"good.cfg", ""},
    };
    for (const auto& [file, problem] : cases) {
        const std::string found = CheckConfigFile(dir / file);
        if (*problem == 0) {
            EXPECT_EQ(found, "") << file;
        } else {
            EXPECT_NE(found.find(problem), std::string::npos) << file << ": " << found;
        }
    }
}

// With the ECU connected through the simulator.
class ConfigFilesWithEcu : public LinkHarness {};

TEST_F(ConfigFilesWithEcu, EcuNameBringsTheInstallerNotesOnly) {
    WriteFileBytes(
        ctx.paths.Config_Dir / "CAR01.cfg",
        "User_Name                    Jan {}\r\nPG_RPM                       1900 {}\r\n");
    connect();
    EXPECT_EQ(ctx.config.User_Name, "Jan");
    EXPECT_EQ(ctx.config.PG_RPM, 600) << "the ECU's value";
}

TEST_F(ConfigFilesWithEcu, EmptyEcuNameKeepsTheInstallerNotes) {
    ecu.state().name.fill(0xFF);
    ctx.config.User_Name = "typed before";
    ctx.settings.CFG_File_Name = "LAST";
    connect();
    EXPECT_EQ(ctx.config.User_Name, "typed before");
    EXPECT_TRUE(ctx.settings.CFG_File_Name.empty());
}

TEST_F(ConfigFilesWithEcu, WriteToTheEcuSavesTheFileOnce) {
    connect();
    ctx.link.Pending_Request = Request::WriteConfig;
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 2000));
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running; }, 5000));
    ASSERT_TRUE(runRequests(1));
    EXPECT_TRUE(std::filesystem::exists(ctx.paths.Config_Dir / "CAR01.cfg"));
    EXPECT_FALSE(ctx.link.CFG_Autosave);
}

TEST_F(ConfigFilesWithEcu, LoadingWhileConnectedChangesOnlyWhatTheFileHolds) {
    WriteFileBytes(
        ctx.paths.Config_Dir / "OTHER.cfg",
        "PG_RPM                       1900 {}\r\nLPG_on                       False {}\r\n");
    ecu.state().params[0x5A] = 1400;   // pressure scale
    ecu.state().params[0x45] = 0x2103; // 0x21 and prescaler 1:3
    ecu.state().params[0x93] = 0x2647; // a measured correction
    ecu.state().params[0x54] = 77;     // Level1, as the installer set it on the car
    ecu.state().diagram[4].gas = 9999;
    connect();
    const Configuration_Class fromEcu = ctx.config;
    const auto gasFromEcu = ctx.diagram.Gas_Point;
    const auto mapGasFromEcu = ctx.mapPoints.MAP_Gas;
    ShowSaveLoad(ctx, SaveLoadMode::Load);
    SaveLoadNameChanged(ctx, "OTHER");
    SaveLoadRun(ctx);
    ASSERT_TRUE(ctx.saveLoad.Diff_Shown) << "the differences come first";
    SaveLoadDiffLoad(ctx, true);
    const Configuration_Class& c = ctx.config;
    EXPECT_EQ(c.PG_RPM, 1900);
    EXPECT_FALSE(c.LPG_on);
    EXPECT_EQ(c.Level1, fromEcu.Level1) << "not in the file: as read from the ECU";
    EXPECT_NE(c.Level1, Configuration_Class{}.Level1);
    EXPECT_EQ(ctx.diagram.Gas_Point, gasFromEcu);
    EXPECT_EQ(ctx.mapPoints.MAP_Gas, mapGasFromEcu);
    EXPECT_EQ(c.Work_Gas, fromEcu.Work_Gas);
    EXPECT_EQ(c.Press_Scale, 1400);
    EXPECT_EQ(c.Param45, 0x21);
    EXPECT_EQ(c.ACB_Corr_93, fromEcu.ACB_Corr_93);
    EXPECT_EQ(ctx.link.Pending_Request, Request::WriteAll);
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 2000));
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running; }, 10000));
    EXPECT_EQ(ecu.state().params.at(0x5A), 1400);
    // The measured correction goes back; its second byte follows the pressure scale.
    EXPECT_EQ(ecu.state().params.at(0x93) >> 8, 0x26);
}

} // namespace
} // namespace bifuel::test
