// The Save/Load window against a connected, configured ECU: what a load, a partial load
// and Default leave on the ECU and in the files, judged by the ECU's memory.
#include "EcuMemory.h"
#include "LinkHarness.h"

#include "files/SaveLoad_3D_Unit.h"
#include "link/Link_Operations.h"

namespace bifuel::test {
namespace {

class SaveLoadOnEcu : public LinkHarness {
  protected:
    SaveLoadOnEcu() : LinkHarness(ConfiguredEcu(), true) {
        ended = ctx.events.operationEnded.subscribe(
            [this](const OperationEnd& e) { ends.push_back(e); });
    }

    std::filesystem::path cfg(const std::string& name) const {
        return ctx.paths.Config_Dir / (name + ".cfg");
    }
    EcuMemory memory() const { return memoryOf(ecu.state()); }

    // The window's load of `name`, up to the difference view.
    void startLoad(const std::string& name) {
        ShowSaveLoad(ctx, SaveLoadMode::Load);
        SaveLoadNameChanged(ctx, name);
        SaveLoadRun(ctx);
    }

    // Runs until the whole write has ended, and a live request after it (the automatic save).
    void runWrite() {
        ASSERT_TRUE(clock.runUntil(
            [this] {
                return std::any_of(ends.begin(), ends.end(), [](const OperationEnd& e) {
                    return e.request == Request::WriteAll;
                });
            },
            30000))
            << "the write never ended";
        EXPECT_EQ(ends.back().result, OperationResult::Done) << ends.back().reason;
        runRequests(2);
    }

    std::vector<OperationEnd> ends;
    Subscription ended;
};

TEST_F(SaveLoadOnEcu, ALoadOfWhatTheEcuHoldsWritesTheSameBytes) {
    // Values the page's lists do not offer, as another tool may have left them.
    ecu.state().params[0x41] = 0x02A0; // a temperature off the list
    ecu.state().params[0x43] = 46154;  // 650 rpm
    ecu.state().params[0x45] = 0x0A07; // prescaler position 7
    connect();
    const EcuMemory before = memory();
    KeyFile keys;
    keys.OpenFromText("");
    PutConfigKeys(ctx, keys);
    WriteFileBytes(cfg("SHOP7"), keys.ToText());
    startLoad("SHOP7");
    ASSERT_TRUE(ctx.saveLoad.Diff_Shown) << ctx.saveLoad.Last_Error;
    SaveLoadDiffLoad(ctx, true);
    runWrite();
    EXPECT_EQ(memory(), before) << differences(memory(), before);
}

TEST_F(SaveLoadOnEcu, TheBytesComparedAreTheBytesLoadedWhateverTheFileBecomesMeanwhile) {
    connect();
    WriteFileBytes(cfg("CAR9"), "Level1 300\r\nPG_RPM 1500\r\n");
    startLoad("CAR9");
    ASSERT_TRUE(ctx.saveLoad.Diff_Shown) << ctx.saveLoad.Last_Error;
    WriteFileBytes(cfg("CAR9"), "Level1 5000\r\nPG_RPM 700\r\n");
    SaveLoadDiffLoad(ctx, true);
    runWrite();
    EXPECT_EQ(ecu.state().params.at(0x54) & 0x3FF, 300);
    EXPECT_EQ(ecu.state().params.at(0x43), 30000000 / 1500);
}

TEST_F(SaveLoadOnEcu, AMergedFileThatBreaksARuleIsRefusedAndNothingChanges) {
    connect();
    const EcuMemory before = memory();
    const Configuration_Class record = ctx.config;
    WriteFileBytes(cfg("BAD"), "User_Name x\r\nPetrol_Point_3 20000 {}\r\n");
    startLoad("BAD");
    EXPECT_FALSE(ctx.saveLoad.Diff_Shown);
    EXPECT_NE(ctx.saveLoad.Last_Error.find("line 2: Petrol_Point_3 20000"), std::string::npos)
        << ctx.saveLoad.Last_Error;
    EXPECT_EQ(ctx.config, record);
    runRequests(10);
    EXPECT_EQ(memory(), before);
}

TEST_F(SaveLoadOnEcu, ANameWithoutAFileIsNotFoundAndChangesNothing) {
    connect();
    const EcuMemory before = memory();
    const Configuration_Class record = ctx.config;
    WriteFileBytes(ctx.paths.Config_Dir / "notes.txt", "User_Name x\r\n");
    startLoad("notes");
    EXPECT_NE(ctx.saveLoad.Last_Error.find("does not exist"), std::string::npos)
        << ctx.saveLoad.Last_Error;
    EXPECT_TRUE(ctx.saveLoad.shown);
    EXPECT_EQ(ctx.config, record);
    EXPECT_FALSE(std::filesystem::exists(cfg("notes")));
    runRequests(10);
    EXPECT_EQ(memory(), before);
    EXPECT_EQ(ctx.config.CFG_Name, "SHOP7");
}

TEST_F(SaveLoadOnEcu, ALoadOfTickedRowsLeavesTheFileItCameFromAsItIs) {
    connect();
    const std::string text = "User_Name Jan\r\nPG_RPM 1500\r\nPG_Time 30\r\nLevel2 300\r\n";
    WriteFileBytes(cfg("SHOP7"), text);
    startLoad("SHOP7");
    ASSERT_TRUE(ctx.saveLoad.Diff_Shown) << ctx.saveLoad.Last_Error;
    for (std::size_t i = 0; i < ctx.saveLoad.Diff_Rows.size(); ++i) {
        SaveLoadDiffTick(ctx, i, ctx.saveLoad.Diff_Rows[i].key == "PG_RPM");
    }
    SaveLoadDiffLoad(ctx, false);
    runWrite();
    EXPECT_EQ(ecu.state().params.at(0x43), 30000000 / 1500);
    EXPECT_EQ(ecu.state().params.at(0x55), 600) << "an unticked row reached the ECU";
    EXPECT_EQ(ReadFileBytes(cfg("SHOP7")), text)
        << "the automatic save rewrote the file loaded in part";
    // The user's own Save takes the mixed set-up, and automatic saves go on from there.
    ASSERT_TRUE(SaveConfigFile(ctx).ok);
    EXPECT_NE(ReadFileBytes(cfg("SHOP7")), text);
    EXPECT_TRUE(ctx.saveLoad.Partly_Loaded.empty());
}

TEST_F(SaveLoadOnEcu, DefaultFirstShowsWhatItWouldChangeAndWritesOnlyWhenTaken) {
    connect();
    const EcuMemory before = memory();
    ShowSaveLoad(ctx, SaveLoadMode::Default);
    ASSERT_TRUE(ctx.saveLoad.Diff_Shown);
    EXPECT_TRUE(ctx.saveLoad.Diff_Default);
    const auto& rows = ctx.saveLoad.Diff_Rows;
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                            [](const SaveLoadDiffRow& r) { return r.key == "Level2"; }));
    runRequests(10);
    EXPECT_EQ(memory(), before) << "a click on Default wrote at once";

    // Cancel: nothing is written.
    SaveLoadDiffCancel(ctx);
    EXPECT_FALSE(ctx.saveLoad.shown);
    runRequests(10);
    EXPECT_EQ(memory(), before);

    // Only the ticked setting goes back to the factory's; the name stays.
    ShowSaveLoad(ctx, SaveLoadMode::Default);
    for (std::size_t i = 0; i < rows.size(); ++i)
        SaveLoadDiffTick(ctx, i, rows[i].key == "Level2");
    SaveLoadDiffLoad(ctx, false);
    runWrite();
    EcuMemory want = before;
    want.params[0x55] = 104;
    EXPECT_EQ(memory(), want) << differences(memory(), want);

    // Everything: the factory set-up and an empty name.
    ends.clear();
    ShowSaveLoad(ctx, SaveLoadMode::Default);
    SaveLoadDiffLoad(ctx, true);
    runWrite();
    EXPECT_EQ(ecu.state().name,
              (std::array<std::uint8_t, 8>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    for (std::size_t i = 0; i < kDiagramPoints; ++i) {
        EXPECT_EQ(ecu.state().diagram[i].gas, ctx.diagram.Gas_Point[i]);
        EXPECT_NE(ecu.state().diagram[i].gas, before.diagram[i].gas)
            << "point " << i << " kept the car's gas time";
    }
}

} // namespace
} // namespace bifuel::test
