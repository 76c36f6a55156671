// An ECU refused at identification is sent nothing but probes and identification reads:
// not the rewrite of a value it has none for, not an edit, not kept edits, not a restore,
// not a write the user asks for. Its memory stays exactly as it was, and every write
// asked for ends Refused with the reason the user was given.
#include "EcuMemory.h"
#include "LinkHarness.h"

#include "autocalibration/AutoCLB_Restore.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Edit_Tracker.h"
#include "link/Link_Operations.h"

#include <algorithm>
#include <ostream>

namespace bifuel::test {
namespace {

// A set-up car whose correction 0x93 holds the byte for "no value" (kNoPercent): reading
// it schedules the default's write.
sim::EcuState carWithNoValue() {
    sim::EcuState s = ConfiguredEcu();
    s.params[0x93] = 0x0500;
    return s;
}

// The fixture is only worth something if the same car, accepted, does get that write.
TEST(RefusedEcuFixture, AnAcceptedCarGetsTheNoValueRewrite) {
    struct Accepted : LinkHarness {
        Accepted() : LinkHarness(carWithNoValue()) {}
        void TestBody() override {}
        using LinkHarness::clock;
        using LinkHarness::connect;
        using LinkHarness::ecu;
    } car;
    car.connect();
    car.clock.advance(5000);
    EXPECT_NE(car.ecu.state().params.at(0x93), 0x0500);
}

struct RefusalCase {
    const char* name;
    void (*set)(sim::EcuState&);
    const char* headlineKey;
    const char* detail;
};

void PrintTo(const RefusalCase& c, std::ostream* out) {
    *out << c.name;
}

class RefusedEcu : public LinkHarness, public ::testing::WithParamInterface<RefusalCase> {
  protected:
    static sim::EcuState state() {
        sim::EcuState s = carWithNoValue();
        GetParam().set(s);
        return s;
    }
    RefusedEcu() : LinkHarness(state()) {
        ended = ctx.events.operationEnded.subscribe(
            [this](const OperationEnd& e) { ends.push_back(e); });
    }

    const OperationEnd* endOf(OperationId id) const {
        const auto it = std::find_if(ends.begin(), ends.end(),
                                     [id](const OperationEnd& e) { return e.id == id; });
        return it == ends.end() ? nullptr : &*it;
    }

    std::vector<OperationEnd> ends;
    Subscription ended;
};

TEST_P(RefusedEcu, GetsNothingButProbesAndIdentificationReads) {
    const RefusalCase& c = GetParam();
    const EcuMemory before = memoryOf(ecu.state());
    line.host().open();
    ASSERT_TRUE(clock.runUntil([&] { return EcuRefused(ctx); }, 5000));
    const std::string headline = ctx.LangText(c.headlineKey);
    ASSERT_FALSE(ctx.view.Messages.empty());
    EXPECT_EQ(ctx.view.Messages[0].type, kMessageNewerVersion);
    EXPECT_EQ(ctx.view.Messages[0].text, headline + "\n\r" + c.detail);
    const std::string reason = ctx.ops.Refused_Reason;
    EXPECT_EQ(reason, headline + ". " + c.detail);

    // Every way a write can be asked for, over and over while the link probes again.
    std::vector<OperationId> asked;
    for (int second = 0; second < 30; ++second) {
        switch (second % 5) {
        case 0:
            asked.push_back(WriteEverything(ctx));
            break;
        case 1:
            ctx.config.Level2 = 500 + second; // an edit, with its debounced write
            ScheduleWrite(ctx, 2);
            break;
        case 2:
            asked.push_back(SwitchToGas(ctx));
            break;
        case 3: {
            const KeptEditsChoice kept = KeptEditsWrite(ctx);
            EXPECT_NE(kept.result, KeptEditsResult::Started);
            // A restore left for exactly this ECU.
            if (!ctx.acb.Pending_Restore)
                KeepRestorePending(ctx, TakeImage(ctx), FingerprintOf(ctx), false);
            break;
        }
        case 4:
            ShowSaveLoad(ctx, SaveLoadMode::Default);
            break; // back to defaults, written
        }
        clock.advance(1000);
    }

    for (const auto& r : requests()) {
        EXPECT_TRUE(r.bytes.at(1) == 0x21 || r.bytes.at(1) == 0x30)
            << "command " << int(r.bytes.at(1));
    }
    const auto answers = replies();
    EXPECT_GE(std::count_if(answers.begin(), answers.end(),
                            [](const sim::WireWrite& w) { return w.bytes.at(1) == 0x21; }),
              3)
        << "probed again after each loss delay";
    const EcuMemory after = memoryOf(ecu.state());
    EXPECT_EQ(after, before) << differences(after, before);
    for (const OperationId id : asked) {
        const OperationEnd* end = endOf(id);
        ASSERT_NE(end, nullptr) << "operation " << id << " never ended";
        EXPECT_EQ(end->result, OperationResult::Refused);
        EXPECT_EQ(end->reason, reason);
    }
    EXPECT_EQ(ctx.view.Messages.size(), 1u) << "told once";
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, RefusedEcu,
    ::testing::Values(
        RefusalCase{
            "BlockLongerThanKnown", [](sim::EcuState& s) { s.identLength = 43; }, "Error_Version",
            "The ECU reports the identification block length N = 43; this program knows 42."},
        RefusalCase{
            "BlockShorterThanKnown", [](sim::EcuState& s) { s.identLength = 41; },
            "Error_Version_Older",
            "The ECU reports the identification block length N = 41; this program knows 42."},
        RefusalCase{
            "ParametersTooShort", [](sim::EcuState& s) { s.paramLength = 90; },
            "Error_Version_Older",
            "The ECU reports the parameter length L2 = 90; this program needs at least 92."}),
    [](const ::testing::TestParamInfo<RefusalCase>& param) {
        return std::string(param.param.name);
    });

} // namespace
} // namespace bifuel::test
