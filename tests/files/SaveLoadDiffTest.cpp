// Before a load on a connected ECU the user sees what the file would change, read into a
// scratch copy, and may load only some of it.
#include "link/LinkHarness.h"

#include "calibration/Calibr_Unit.h"
#include "data/Calc_Unit.h"
#include "data/Setup_Page.h"
#include "files/SaveLoad_3D_Unit.h"
#include "rpm_map/MapRPM_Unit.h"

#include <fstream>
#include <functional>

namespace bifuel::test {
namespace {

// A record saved as "CAR", then changed as the ECU would hold it.
class SaveLoadDiff : public ::testing::Test {
  protected:
    SaveLoadDiff() {
        ResetConfiguration(ctx); // builds the map grid, so a save writes the map
        ctx.config.User_Name = "Jan";
        ctx.settings.CFG_File_Name = "CAR";
        ctx.settings.CFG_Full_File_Name = (ctx.paths.Config_Dir / "CAR.cfg").string();
        ctx.config.CFG_Name = "CAR";
    }
    std::filesystem::path file() const { return ctx.settings.CFG_Full_File_Name; }
    const SaveLoadDiffRow* row(const std::vector<SaveLoadDiffRow>& rows,
                               SaveLoadDiffRow::Kind kind) {
        for (const SaveLoadDiffRow& r : rows) {
            if (r.kind == kind) return &r;
        }
        return nullptr;
    }

    TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host(), work.paths(false)};
};

// A setting changed between the file and the record, and how the page shows each side.
struct Change {
    const char* key;
    std::function<void(Configuration_Class&, bool file)> set;
    const char* fileText;
    const char* ecuText;
};

const std::vector<Change>& changes() {
    static const std::vector<Change> kChanges = {
        {"PG_Time", [](Configuration_Class& c, bool f) { c.PG_Time = f ? 5 : 20; }, "0.5", "2.0"},
        {"LPG_on", [](Configuration_Class& c, bool f) { c.LPG_on = !f; }, "CNG", "LPG"},
        {"Level3", [](Configuration_Class& c, bool f) { c.Level3 = f ? 634 : 147; }, "3.10",
         "0.72"},
        {"GP_Buzzer", [](Configuration_Class& c, bool f) { c.GP_Buzzer = f; }, "Yes", "No"},
        {"RPM_PreScaler",
         [](Configuration_Class& c, bool f) { c.RPM_PreScaler = f ? "1:3" : "1:5"; }, "1:3", "1:5"},
        // Thresholds a code apart look alike as volts: the codes tell them apart.
        {"Level1", [](Configuration_Class& c, bool f) { c.Level1 = f ? 56 : 55; }, "0.27 (56)",
         "0.27 (55)"},
        {"MonoInject", [](Configuration_Class& c, bool f) { c.MonoInject = f; }, "Yes", "No"},
    };
    return kChanges;
}

TEST_F(SaveLoadDiff, ListsExactlyTheSettingsThatDifferAsThePageShowsThem) {
    for (const Change& c : changes())
        c.set(ctx.config, true);
    ctx.diagram.Gas_Point[4] = 9000;
    ctx.rpmMap.Map_Value[3][5] = 150;
    ValuesToTexts(ctx);
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    // What the ECU holds: the other side of every change, another diagram point, the same
    // MAP points and map.
    for (const Change& c : changes())
        c.set(ctx.config, false);
    ctx.diagram.Gas_Point[4] = 9100;
    ctx.config.User_Name = "Other"; // notes are no setting of the ECU
    const Configuration_Class before = ctx.config;
    const DiagramModel diagramBefore = ctx.diagram;
    const auto mapBefore = ctx.rpmMap.Map_Value;
    const auto mapPointsBefore = ctx.mapPoints.MAP_Gas;

    const std::vector<SaveLoadDiffRow> rows = CompareConfigFile(ctx, file());

    std::vector<std::string> keys;
    for (const SaveLoadDiffRow& r : rows) {
        if (r.kind == SaveLoadDiffRow::Kind::Setting) keys.push_back(r.key);
    }
    // Page order, then the settings the page does not show.
    EXPECT_EQ(keys, (std::vector<std::string>{"RPM_PreScaler", "PG_Time", "LPG_on", "GP_Buzzer",
                                              "Level1", "Level3", "MonoInject"}));
    for (const Change& c : changes()) {
        SCOPED_TRACE(c.key);
        const auto r = std::find_if(rows.begin(), rows.end(),
                                    [&](const SaveLoadDiffRow& x) { return x.key == c.key; });
        ASSERT_NE(r, rows.end());
        EXPECT_EQ(r->fileText, c.fileText);
        EXPECT_EQ(r->ecuText, c.ecuText);
        EXPECT_TRUE(r->ticked);
    }
    const auto caption = [&](const char* key) {
        return std::find_if(rows.begin(), rows.end(),
                            [&](const SaveLoadDiffRow& x) { return x.key == key; })
            ->caption;
    };
    EXPECT_EQ(caption("PG_Time"), ctx.languageView.HudLabel_CFG_PG_Time);
    EXPECT_EQ(caption("Level3"), ctx.LangText("CFG_LevelSensor") + " 3");
    EXPECT_EQ(caption("MonoInject"), ctx.LangText("SL_Diff_MonoInject"));

    ASSERT_NE(row(rows, SaveLoadDiffRow::Kind::Diagram), nullptr);
    EXPECT_TRUE(row(rows, SaveLoadDiffRow::Kind::Diagram)->changed);
    EXPECT_EQ(row(rows, SaveLoadDiffRow::Kind::Diagram)->fileText, ctx.LangText("SL_Diff_Changed"));
    EXPECT_FALSE(row(rows, SaveLoadDiffRow::Kind::MapPoints)->changed);
    EXPECT_EQ(row(rows, SaveLoadDiffRow::Kind::MapPoints)->fileText,
              ctx.LangText("SL_Diff_Unchanged"));
    EXPECT_FALSE(row(rows, SaveLoadDiffRow::Kind::RpmMap)->changed);

    // The comparison read a scratch copy.
    EXPECT_TRUE(ctx.config == before);
    EXPECT_EQ(ctx.diagram.Gas_Point, diagramBefore.Gas_Point);
    EXPECT_EQ(ctx.rpmMap.Map_Value, mapBefore);
    EXPECT_EQ(ctx.mapPoints.MAP_Gas, mapPointsBefore);

    // A map cell the ECU holds otherwise.
    ctx.rpmMap.Map_Value[3][5] = 100;
    ValuesToTexts(ctx);
    EXPECT_TRUE(row(CompareConfigFile(ctx, file()), SaveLoadDiffRow::Kind::RpmMap)->changed);
}

TEST_F(SaveLoadDiff, AFileEqualToTheRecordListsNoSetting) {
    ctx.mapPoints.MAP_Gas[2] = 55;
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    const std::vector<SaveLoadDiffRow> rows = CompareConfigFile(ctx, file());
    ASSERT_EQ(rows.size(), 3u) << "the diagram, the MAP points and the map only";
    for (const SaveLoadDiffRow& r : rows)
        EXPECT_FALSE(r.changed) << r.caption;
    EXPECT_TRUE(CompareConfigFile(ctx, ctx.paths.Config_Dir / "NONE.cfg").empty());
}

TEST_F(SaveLoadDiff, LoadingTickedRowsChangesOnlyThoseAndTakesTheNotes) {
    for (const Change& c : changes())
        c.set(ctx.config, true);
    ctx.config.User_Name = "From file";
    ctx.diagram.Gas_Point[4] = 9000;
    ctx.mapPoints.MAP_Petrol[1] = 70;
    ctx.rpmMap.Map_Value[3][5] = 150;
    ValuesToTexts(ctx);
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    const Configuration_Class fromFile = ctx.config;
    const DiagramModel diagramFromFile = ctx.diagram;

    for (const Change& c : changes())
        c.set(ctx.config, false);
    ctx.config.User_Name = "typed";
    ctx.config.Work_Gas = 777; // the ECU's counter
    ctx.diagram.Gas_Point[4] = 9100;
    ctx.mapPoints.MAP_Petrol[1] = 0;
    ctx.rpmMap.Map_Value[3][5] = 100;
    ValuesToTexts(ctx);
    const Configuration_Class ecu = ctx.config;
    const DiagramModel diagramEcu = ctx.diagram;

    std::vector<SaveLoadDiffRow> rows = CompareConfigFile(ctx, file());
    const std::vector<std::string> ticked = {"PG_Time", "Level3", "MonoInject"};
    for (SaveLoadDiffRow& r : rows) {
        r.ticked = r.kind == SaveLoadDiffRow::Kind::MapPoints ||
                   std::find(ticked.begin(), ticked.end(), r.key) != ticked.end();
    }
    ctx.config.CFG_Name.clear();
    ASSERT_TRUE(LoadConfigRows(ctx, rows));

    Configuration_Class expected = ecu;
    expected.PG_Time = fromFile.PG_Time;
    expected.Level3 = fromFile.Level3;
    expected.MonoInject = fromFile.MonoInject;
    expected.User_Name = "From file";
    expected.CFG_Name = "CAR";
    EXPECT_TRUE(ctx.config == expected);
    EXPECT_EQ(ctx.config.Work_Gas, 777);
    EXPECT_EQ(ctx.config.LPG_on, ecu.LPG_on) << "not ticked";
    EXPECT_EQ(ctx.diagram.Gas_Point, diagramEcu.Gas_Point) << "not ticked";
    EXPECT_EQ(ctx.mapPoints.MAP_Petrol[1], 70) << "ticked";
    EXPECT_EQ(ctx.rpmMap.Map_Value[3][5], 100) << "not ticked";

    // The whole diagram and map when their rows are ticked; the gas type brings its pressure.
    for (SaveLoadDiffRow& r : rows) {
        r.ticked = r.kind == SaveLoadDiffRow::Kind::Diagram ||
                   r.kind == SaveLoadDiffRow::Kind::RpmMap || r.key == "LPG_on";
    }
    ASSERT_TRUE(LoadConfigRows(ctx, rows));
    EXPECT_FALSE(ctx.config.LPG_on);
    EXPECT_EQ(ctx.config.Param44_Press, kCngPress44);
    EXPECT_EQ(ctx.diagram.Gas_Point, diagramFromFile.Gas_Point);
    EXPECT_EQ(ctx.diagram.Petrol_Point, diagramFromFile.Petrol_Point);
    EXPECT_EQ(ctx.rpmMap.Map_Value[3][5], 150);
    EXPECT_EQ(ctx.rpmMap.Map_Text[3][5], "1.50") << "the page shows the loaded map";
}

// A file's delay reaches the record through the file like the page's other settings.
TEST_F(SaveLoadDiff, TheDelayTravelsInTheFile) {
    ctx.config.PG_Time = 35;
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    ctx.config.PG_Time = 20;
    ASSERT_TRUE(LoadConfigFile(ctx, MissingKeys::Keep));
    EXPECT_EQ(ctx.config.PG_Time, 35);
    EXPECT_EQ(CheckConfigFile(file()), "");
}

// Without an ECU the load is the plain one: no difference view, nothing asked.
TEST_F(SaveLoadDiff, DisconnectedLoadOpensNoDifferenceView) {
    ctx.config.PG_RPM = 1900;
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    ctx.config.PG_RPM = 600;
    ShowSaveLoad(ctx, SaveLoadMode::Load);
    SaveLoadNameChanged(ctx, "CAR");
    SaveLoadRun(ctx);
    EXPECT_FALSE(ctx.saveLoad.Diff_Shown);
    EXPECT_FALSE(ctx.saveLoad.shown);
    EXPECT_EQ(ctx.config.PG_RPM, 1900);
}

class SaveLoadDiffWithEcu : public LinkHarness {
  protected:
    SaveLoadDiffWithEcu() : LinkHarness(sim::SimEcu::defaultState(), true) {}
    void saveAs(const std::string& name) {
        ctx.settings.CFG_Full_File_Name = (ctx.paths.Config_Dir / (name + ".cfg")).string();
        ASSERT_TRUE(SaveConfigFile(ctx).ok);
    }
    void runLoad(const std::string& name) {
        ShowSaveLoad(ctx, SaveLoadMode::Load);
        SaveLoadNameChanged(ctx, name);
        SaveLoadRun(ctx);
    }
};

// Nothing differs: the view says so, and loading still takes the notes and writes the set-up.
TEST_F(SaveLoadDiffWithEcu, AFileLikeTheEcuSaysSoAndStillLoadsTheNotes) {
    connect();
    ctx.config.User_Name = "Jan";
    saveAs("SAME");
    ctx.config.User_Name = "typed";
    runLoad("SAME");
    const SaveLoadView& v = ctx.saveLoad;
    ASSERT_TRUE(v.Diff_Shown) << v.Last_Error;
    EXPECT_EQ(v.Diff_Prompt, ctx.LangText("SL_Diff_None"));
    ASSERT_EQ(v.Diff_Rows.size(), 3u);
    for (const SaveLoadDiffRow& r : v.Diff_Rows)
        EXPECT_FALSE(r.changed) << r.caption;
    EXPECT_EQ(ctx.link.Pending_Request, Request::None) << "nothing asked of the ECU yet";
    EXPECT_EQ(ctx.config.CFG_Name, "CAR01");

    SaveLoadDiffLoad(ctx, false);
    EXPECT_FALSE(v.shown);
    EXPECT_EQ(ctx.config.User_Name, "Jan");
    EXPECT_EQ(ctx.config.CFG_Name, "SAME");
    EXPECT_EQ(ctx.setupView.HudTextBox_CFG_User_Name, "Jan");
    EXPECT_EQ(ctx.link.Pending_Request, Request::WriteAll);
}

// A file changed between the comparison and the load: the bytes compared are loaded.
TEST_F(SaveLoadDiffWithEcu, AFileChangedAfterTheComparisonLoadsAsItWasCompared) {
    connect();
    ctx.config.PG_RPM = 1900;
    saveAs("LATER");
    ctx.config.PG_RPM = 600;
    const std::int32_t level2 = ctx.config.Level2;
    runLoad("LATER");
    ASSERT_TRUE(ctx.saveLoad.Diff_Shown);
    std::ofstream(ctx.paths.Config_Dir / "LATER.cfg", std::ios::binary | std::ios::trunc)
        << "PG_RPM 700 {}\r\nLevel2 5000 {}\r\n";
    SaveLoadDiffLoad(ctx, true);
    EXPECT_FALSE(ctx.saveLoad.shown);
    EXPECT_EQ(ctx.config.PG_RPM, 1900);
    EXPECT_EQ(ctx.config.Level2, level2);
    EXPECT_EQ(ctx.link.Pending_Request, Request::WriteAll);
}

// A reset of the whole set-up: the diagram follows the reset record's gas and injector type,
// not the ones it had, and the map is the default one.
TEST_F(SaveLoadDiff, AResetTakesTheDiagramFromTheResetRecordAndTheDefaultMap) {
    ctx.config.LPG_on = false;
    ctx.config.Injector_Type = "KEIHIN";
    ctx.diagram.Gas_Point[4] += 700;
    ctx.rpmMap.Map_Value[2][3] = 150;
    DiagramModel stale = ctx.diagram;
    ResetDiagram(stale, ctx.config);
    DiagramModel want = ctx.diagram;
    ResetDiagram(want, Configuration_Class{});
    ASSERT_NE(stale.Gas_Point, want.Gas_Point) << "the types chosen give the same diagram";
    ResetConfiguration(ctx);
    EXPECT_TRUE(ctx.config.LPG_on);
    EXPECT_EQ(ctx.diagram.Gas_Point, want.Gas_Point);
    EXPECT_EQ(ctx.diagram.Petrol_Point, want.Petrol_Point);
    EXPECT_EQ(ctx.rpmMap.Map_Value, DefaultMapValues());
}

} // namespace
} // namespace bifuel::test
