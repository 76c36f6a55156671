// Edits the ECU or the file does not hold yet: the title says so, a reconnection keeps them
// aside and offers them, and whatever is chosen, the ECU ends up holding, byte for byte,
// either what it had or the edits.
#include "EcuMemory.h"
#include "LinkHarness.h"

#include "autocalibration/AutoCLB_Restore.h"
#include "data/Calc_Unit.h"
#include "data/Setup_Page.h"
#include "files/FindUnit.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Edit_Tracker.h"
#include "link/Link_Operations.h"
#include "link/Main_Window.h"
#include "rpm_map/MapRPM_Unit.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>

namespace bifuel::test {
namespace {

class EditTracker : public LinkHarness {
  protected:
    EditTracker() : LinkHarness(ConfiguredEcu()) {
        offers = ctx.events.editsKept.subscribe([this] { ++offered; });
        ended = ctx.events.operationEnded.subscribe(
            [this](const OperationEnd& e) { ends.push_back(e); });
    }

    EcuMemory memory() const { return memoryOf(ecu.state()); }

    void pullCable() {
        line.setUnplugged(true);
        ASSERT_TRUE(clock.runUntil([this] { return !ctx.link.ECU_Connected; }, 15000));
    }
    void plugBack() {
        line.setUnplugged(false);
        ASSERT_TRUE(clock.runUntil([this] { return polling(); }, 30000));
    }

    // A Setup page edit and a diagram edit, as the user makes them.
    static void edit(Context& c) {
        c.setupView.HudComboTextBox_CFG_PG_RPM = c.config.PG_RPM == 1900 ? "1800" : "1900";
        ReadSetupPage(c);
        c.diagram.Gas_Point[5] += 400;
        ScheduleWrite(c, 3);
    }

    // What the ECU holds when the same edits reach it on a link that stays up.
    static EcuMemory editedMemory() {
        struct Reference : LinkHarness {
            Reference() : LinkHarness(ConfiguredEcu()) {}
            void TestBody() override {}
            using LinkHarness::clock;
            using LinkHarness::connect;
            using LinkHarness::ctx;
            using LinkHarness::ecu;
        } ref;
        ref.connect();
        std::vector<OperationEnd> refEnds;
        const Subscription s = ref.ctx.events.operationEnded.subscribe(
            [&](const OperationEnd& e) { refEnds.push_back(e); });
        edit(ref.ctx);
        EXPECT_TRUE(ref.clock.runUntil([&] { return !refEnds.empty(); }, 30000));
        EXPECT_EQ(refEnds.back().result, OperationResult::Done);
        return memoryOf(ref.ecu.state());
    }

    OperationResult endOf(OperationId id) {
        EXPECT_TRUE(clock.runUntil(
            [&] {
                return std::any_of(ends.begin(), ends.end(),
                                   [id](const OperationEnd& e) { return e.id == id; });
            },
            30000));
        for (const OperationEnd& e : ends) {
            if (e.id == id) return e.result;
        }
        return OperationResult::Refused;
    }

    std::string title() const { return TitleText(ctx); }
    std::string mark(const char* key) const { return "     " + ctx.LangText(key); }

    int offered = 0;
    std::vector<OperationEnd> ends;
    Subscription offers;
    Subscription ended;
};

TEST_F(EditTracker, EditsMadeWhileTheCableIsOutAreOfferedAndWrittenToTheSameEcu) {
    const EcuMemory want = editedMemory();
    connect();
    const EcuMemory before = memory();
    ASSERT_NE(want, before);
    EXPECT_FALSE(ctx.edits.Not_On_Ecu);
    pullCable();
    const Configuration_Class readBack = ctx.config;
    edit(ctx);
    EXPECT_TRUE(ctx.edits.Not_On_Ecu);
    EXPECT_TRUE(title().starts_with(mark("Edits_Mark_ECU"))) << title();

    plugBack();
    EXPECT_EQ(offered, 1);
    ASSERT_TRUE(ctx.edits.Kept.has_value());
    // The record shows what the ECU holds; the ECU got nothing yet.
    EXPECT_EQ(ctx.config.PG_RPM, readBack.PG_RPM);
    EXPECT_EQ(memory(), before);
    EXPECT_TRUE(ctx.edits.Not_On_Ecu) << "kept edits are still not on the ECU";
    EXPECT_TRUE(KeptEditsFitEcu(ctx));

    const KeptEditsChoice choice = KeptEditsWrite(ctx);
    ASSERT_EQ(choice.result, KeptEditsResult::Started);
    EXPECT_EQ(endOf(choice.write), OperationResult::Done);
    EXPECT_EQ(memory(), want);
    EXPECT_NE(ctx.config.PG_RPM, readBack.PG_RPM);
    EXPECT_FALSE(ctx.edits.Not_On_Ecu);
    EXPECT_FALSE(title().starts_with(mark("Edits_Mark_ECU"))) << title();
    // One choice ends the offer.
    EXPECT_EQ(KeptEditsDrop(ctx).result, KeptEditsResult::NoEdits);
}

// Another tool changes the car while the cable is out: the switch-over speed, the third
// level threshold, a diagram point (its slopes as a writer sends them) and a map cell.
void otherToolChanges(sim::EcuState& s) {
    const WordBytes period = RpmToPeriodBytes(1500);
    s.params[0x43] = static_cast<std::uint16_t>(period[0] << 8 | period[1]);
    s.params[0x56] = 150;
    s.diagram[7].gas = static_cast<std::uint16_t>(s.diagram[7].gas + 200);
    for (const std::size_t i : {std::size_t{7}, std::size_t{8}}) {
        const int dx = (s.diagram[i].petrol & 0x7FFF) - (s.diagram[i - 1].petrol & 0x7FFF);
        s.diagram[i].slope = static_cast<std::uint16_t>(
            std::abs(s.diagram[i].gas - s.diagram[i - 1].gas) * 128 / dx);
    }
    s.rpmMap[70] = 0x90; // factor 1.12 in column 4, row 5
}

// The ECU's memory changed after the edits were made. The offer shows how before anything
// can be written, and the write changes only what the user edited: one ticked check box
// and one threshold must not put the old speed, diagram and map back.
TEST_F(EditTracker, KeptEditsOntoAnEcuChangedMeanwhileChangeOnlyTheEditedFields) {
    connect();
    pullCable();
    ctx.setupView.HudCheckBox_CFG_PG_GAS_Hot_Engine = true;
    ReadSetupPage(ctx);
    ctx.config.Level2 = 650;
    ScheduleWrite(ctx, 2);
    otherToolChanges(ecu.state());
    EcuMemory want = memory();
    want.params[0x9F] |= 0x0004; // the hot-engine start's bit
    want.params[0x55] = 650;
    plugBack();
    ASSERT_EQ(offered, 1);
    ASSERT_TRUE(KeptEditsFitEcu(ctx));
    EXPECT_EQ(ctx.config.PG_RPM, 1500) << "the record shows what the ECU holds now";

    EXPECT_EQ(KeptEditsChanges(ctx),
              (FieldChanges{{"PG_GAS_Hot_Engine", "False", "True"}, {"Level2", "600", "650"}}));
    const FieldChanges meanwhile = KeptEditsEcuChanges(ctx);
    const auto has = [&](const FieldChange& c) {
        return std::find(meanwhile.begin(), meanwhile.end(), c) != meanwhile.end();
    };
    EXPECT_TRUE(has({"PG_RPM", "600", "1500"}));
    EXPECT_TRUE(has({"Level3", "147", "150"}));
    EXPECT_TRUE(has({"Gas_Point_7", std::to_string(ecu.state().diagram[7].gas - 200),
                     std::to_string(ecu.state().diagram[7].gas)}));
    EXPECT_TRUE(has({MapCellKey(4, 5), "1.00", "1.12"}));
    EXPECT_EQ(meanwhile.size(), 4u);

    const KeptEditsChoice unseen = KeptEditsWrite(ctx);
    EXPECT_EQ(unseen.result, KeptEditsResult::EcuChanged);
    EXPECT_FALSE(unseen.reason.empty());
    ASSERT_TRUE(ctx.edits.Kept.has_value()) << "the offer stays open";
    KeptEditsEcuChangesShown(ctx);
    const KeptEditsChoice choice = KeptEditsWrite(ctx);
    ASSERT_EQ(choice.result, KeptEditsResult::Started);
    EXPECT_EQ(endOf(choice.write), OperationResult::Done);
    EXPECT_EQ(memory(), want) << differences(memory(), want);
    EXPECT_EQ(ctx.config.PG_RPM, 1500);
    EXPECT_TRUE(ctx.config.PG_GAS_Hot_Engine);
    EXPECT_FALSE(ctx.edits.Not_On_Ecu);
}

// Edits made after an offer that was left open join the kept ones at the next reconnection.
TEST_F(EditTracker, EditsMadeWhileAnOfferWaitsJoinIt) {
    connect();
    pullCable();
    ctx.config.Level2 = 640;
    ScheduleWrite(ctx, 2);
    plugBack();
    ASSERT_EQ(offered, 1);
    pullCable();
    ctx.config.Level4 = 190;
    ScheduleWrite(ctx, 2);
    plugBack();
    EXPECT_EQ(offered, 2);
    EXPECT_EQ(KeptEditsChanges(ctx),
              (FieldChanges{{"Level2", "600", "640"}, {"Level4", "184", "190"}}));
    EXPECT_TRUE(KeptEditsEcuChanges(ctx).empty());
    const KeptEditsChoice choice = KeptEditsWrite(ctx);
    ASSERT_EQ(choice.result, KeptEditsResult::Started);
    EXPECT_EQ(endOf(choice.write), OperationResult::Done);
    EXPECT_EQ(ecu.state().params.at(0x55), 640);
    EXPECT_EQ(ecu.state().params.at(0x57), 190);
}

TEST_F(EditTracker, AnotherEcuCannotTakeThemAndDroppingLeavesItUntouched) {
    connect();
    pullCable();
    edit(ctx);
    ecu.state().name = {'O', 'T', 'H', 'E', 'R', 0xFF, 0xFF, 0xFF};
    const EcuMemory other = memory();
    plugBack();
    ASSERT_EQ(offered, 1);
    EXPECT_FALSE(KeptEditsFitEcu(ctx));
    const KeptEditsChoice refused = KeptEditsWrite(ctx);
    EXPECT_EQ(refused.result, KeptEditsResult::OtherEcu);
    EXPECT_FALSE(refused.reason.empty());
    EXPECT_TRUE(ctx.edits.Kept.has_value()) << "a refused choice leaves the offer open";

    EXPECT_EQ(KeptEditsDrop(ctx).result, KeptEditsResult::Dropped);
    clock.advance(5000);
    EXPECT_EQ(memory(), other);
    EXPECT_FALSE(ctx.edits.Kept.has_value());
    EXPECT_FALSE(ctx.edits.Not_On_Ecu);
}

TEST_F(EditTracker, DroppingThemLeavesTheSameEcuUntouched) {
    connect();
    const EcuMemory before = memory();
    pullCable();
    edit(ctx);
    plugBack();
    ASSERT_EQ(offered, 1);
    const Configuration_Class ecuValues = ctx.config;
    EXPECT_EQ(KeptEditsDrop(ctx).result, KeptEditsResult::Dropped);
    EXPECT_EQ(KeptEditsWrite(ctx).result, KeptEditsResult::NoEdits) << "one choice ends the offer";
    clock.advance(5000);
    EXPECT_EQ(memory(), before);
    EXPECT_EQ(ctx.config, ecuValues);
    EXPECT_FALSE(ctx.edits.Not_On_Ecu);
}

TEST_F(EditTracker, SavingPutsThemInAFileWhileTheRecordKeepsTheEcuValues) {
    connect();
    const EcuMemory before = memory();
    pullCable();
    edit(ctx);
    const std::int32_t editedRpm = ctx.config.PG_RPM;
    const std::int32_t editedGas = ctx.diagram.Gas_Point[5];
    plugBack();
    ASSERT_EQ(offered, 1);
    const Configuration_Class ecuValues = ctx.config;

    EXPECT_EQ(KeptEditsSave(ctx, "../up").result, KeptEditsResult::BadName);
    EXPECT_EQ(KeptEditsSave(ctx, "").result, KeptEditsResult::BadName);
    ASSERT_EQ(KeptEditsSave(ctx, "KEPT1").result, KeptEditsResult::Saved);

    KeyFile file;
    ASSERT_TRUE(file.OpenKeyFile(ctx.paths.Config_Dir / "KEPT1.cfg"));
    ASSERT_TRUE(file.GetKeyInt("PG_RPM"));
    EXPECT_EQ(file.Found_Int, editedRpm);
    ASSERT_TRUE(file.GetKeyInt("Gas_Point_5"));
    EXPECT_EQ(file.Found_Int, editedGas);
    file.CloseKeyFile();

    EXPECT_EQ(ctx.config, ecuValues);
    EXPECT_NE(ctx.diagram.Gas_Point[5], editedGas);
    EXPECT_EQ(ctx.settings.CFG_Full_File_Name, (ctx.paths.Config_Dir / "SHOP7.cfg").string())
        << "the car's file stays the one the ECU names";
    EXPECT_FALSE(ctx.edits.Kept.has_value());
    EXPECT_FALSE(ctx.edits.Not_On_Ecu);
    clock.advance(5000);
    EXPECT_EQ(memory(), before);
}

TEST_F(EditTracker, AWriteCutOffByThePulledCableCountsAsNotOnTheEcu) {
    connect();
    ctx.config.Level2 = 777;
    ScheduleWrite(ctx, 2);
    EXPECT_TRUE(ctx.edits.Not_On_Ecu) << "a debounced write still waiting";
    const Subscription cutter = ctx.events.frameSent.subscribe([&](std::span<const std::uint8_t>) {
        if (ctx.ops.Running.request == Request::WriteConfig) line.setUnplugged(true);
    });
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.ECU_Connected; }, 30000));
    ASSERT_FALSE(ends.empty());
    EXPECT_EQ(ends.back().result, OperationResult::LinkLost);
    EXPECT_TRUE(ctx.edits.Not_On_Ecu);
    EXPECT_NE(ecu.state().params.at(0x55), 777);

    plugBack();
    ASSERT_EQ(offered, 1);
    const KeptEditsChoice choice = KeptEditsWrite(ctx);
    ASSERT_EQ(choice.result, KeptEditsResult::Started);
    EXPECT_EQ(endOf(choice.write), OperationResult::Done);
    EXPECT_EQ(ecu.state().params.at(0x55), 777);
    EXPECT_FALSE(ctx.edits.Not_On_Ecu);
}

TEST_F(EditTracker, EditsAfterAReadCutShortStillCount) {
    connect();
    pullCable();
    // The ECU answers again, and the cable goes before everything is read.
    bool cutOnce = true;
    int loaded = 0;
    const Subscription cut = ctx.events.connected.subscribe([&] {
        if (std::exchange(cutOnce, false)) line.setUnplugged(true);
    });
    const Subscription reads = ctx.events.dataLoaded.subscribe([&] { ++loaded; });
    line.setUnplugged(false);
    ASSERT_TRUE(clock.runUntil([&] { return !cutOnce && !ctx.link.ECU_Connected; }, 30000));
    ASSERT_EQ(loaded, 0) << "the read was not cut short";
    edit(ctx);
    EXPECT_TRUE(ctx.edits.Not_On_Ecu);
    plugBack();
    EXPECT_EQ(loaded, 1);
    EXPECT_EQ(offered, 1);
    EXPECT_TRUE(ctx.edits.Kept.has_value());
}

TEST_F(EditTracker, AnAutoCalibrationRestoreGetsNoOfferInItsWay) {
    connect();
    pullCable();
    edit(ctx);
    // A run left a restore waiting for another ECU: its rules decide, nothing is offered.
    KeepRestorePending(ctx, TakeImage(ctx), EcuFingerprint{"another", "", "", {}, ""}, false);
    plugBack();
    EXPECT_EQ(offered, 0);
    EXPECT_FALSE(ctx.edits.Kept.has_value());
}

TEST_F(EditTracker, TitleMarksFollowTheEcuAndTheFile) {
    connect();
    // The ECU names SHOP7, which has no file yet: what was read is the start.
    EXPECT_EQ(title().find('['), std::string::npos) << title();
    ctx.config.Level2 = 321;
    ScheduleWrite(ctx, 2);
    EXPECT_TRUE(title().starts_with(mark("Edits_Mark_ECU") + " " + ctx.LangText("Edits_Mark_File")))
        << title();
    ASSERT_TRUE(clock.runUntil([&] { return !ends.empty(); }, 30000));
    ASSERT_EQ(ends.back().result, OperationResult::Done);
    EXPECT_FALSE(ctx.edits.Not_On_Ecu);
    // A write is followed by the automatic save to the car's file.
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.edits.Not_In_File; }, 2000));
    EXPECT_EQ(title().find('['), std::string::npos) << title();
    KeyFile file;
    ASSERT_TRUE(file.OpenKeyFile(ctx.paths.Config_Dir / "SHOP7.cfg"));
    EXPECT_TRUE(file.GetKeyInt("Level2") && file.Found_Int == 321);
    file.CloseKeyFile();

    // Edited with the cable out: neither on the ECU nor in the file, so closing asks.
    pullCable();
    ctx.config.Level2 = 322;
    ScheduleWrite(ctx, 2);
    EXPECT_TRUE(ctx.edits.Not_On_Ecu && ctx.edits.Not_In_File);
    EXPECT_EQ(PrepareClose(ctx).step, CloseStep::AskSave);
    ASSERT_EQ(SaveEditsAs(ctx, "SHOP7").result, KeptEditsResult::Saved);
    EXPECT_FALSE(ctx.edits.Not_In_File);
    EXPECT_TRUE(ctx.edits.Not_On_Ecu);
    EXPECT_EQ(title().find(ctx.LangText("Edits_Mark_File")), std::string::npos) << title();
    EXPECT_TRUE(title().starts_with(mark("Edits_Mark_ECU"))) << title();
    EXPECT_EQ(PrepareClose(ctx).step, CloseStep::Close) << "in a file, so nothing is lost";
    // A value other than the file's marks it again; the file's value clears the mark.
    ctx.config.Level2 = 321;
    ScheduleWrite(ctx, 2);
    EXPECT_TRUE(ctx.edits.Not_In_File);
    ctx.config.Level2 = 322;
    ScheduleWrite(ctx, 2);
    EXPECT_FALSE(ctx.edits.Not_In_File);
}

TEST_F(EditTracker, BackToTheDefaultsWithoutAFileStartsTheFileMarkAgain) {
    // An ECU without a stored name: no file, and what was read is the start. "Default"
    // puts the defaults in place of that start.
    ecu.state().name.fill(0xFF);
    connect();
    ASSERT_TRUE(ctx.settings.CFG_Full_File_Name.empty());
    ASSERT_FALSE(ctx.edits.Not_In_File);
    ShowSaveLoad(ctx, SaveLoadMode::Default);
    EXPECT_FALSE(ctx.edits.Not_In_File) << title();
    ctx.config.Level2 = 334;
    ScheduleWrite(ctx, 2);
    EXPECT_TRUE(ctx.edits.Not_In_File);
}

TEST_F(EditTracker, ClosingSendsAWaitingWriteFirst) {
    connect();
    ctx.config.Level2 = 555;
    ScheduleWrite(ctx, 2);
    const CloseNeed need = PrepareClose(ctx);
    ASSERT_EQ(need.step, CloseStep::WaitForWrite);
    EXPECT_FALSE(ctx.timers.Timer_GEN_Transmit->isRunning()) << "sent at once, not after the delay";
    EXPECT_EQ(endOf(need.write), OperationResult::Done);
    EXPECT_EQ(ecu.state().params.at(0x55), 555);
    EXPECT_EQ(PrepareClose(ctx).step, CloseStep::Close);
}

} // namespace
} // namespace bifuel::test
