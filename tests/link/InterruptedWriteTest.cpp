// Every action that writes to the ECU, cut off by the cable at each of its frames: the
// action ends with a result that says so, nothing is left waiting for it, the program
// shows what the ECU holds once it answers again, and the next action goes out.
#include "LinkHarness.h"

#include "link/Link_Operations.h"
#include "rpm_map/MapRPM_Unit.h"

#include <functional>

namespace bifuel::test {
namespace {

struct Rig : LinkHarness {
    Rig() : LinkHarness(ConfiguredEcu()) {}
    void TestBody() override {}
    using LinkHarness::clock;
    using LinkHarness::connect;
    using LinkHarness::ctx;
    using LinkHarness::ecu;
    using LinkHarness::line;
    using LinkHarness::polling;
};

struct Case {
    const char* what;
    int frames; // requests the action sends
    std::function<OperationId(Context&)> act;
};

TEST(InterruptedWrite, EveryWriteCutAtEachFrameEndsAndTheLinkGoesOn) {
    const Case cases[] = {
        {"configuration", 2,
         [](Context& c) {
             c.config.Level2 = 777;
             return SetPendingRequest(c, Request::WriteConfig);
         }},
        {"diagram", 2,
         [](Context& c) {
             c.diagram.Gas_Point[5] += 400;
             return SetPendingRequest(c, Request::WriteDiagram);
         }},
        {"RPM map", 5,
         [](Context& c) {
             c.rpmMap.Map_Value[2][3] = 150;
             ValuesToTexts(c); // the map page's texts are what a map write sends
             return SetPendingRequest(c, Request::WriteMap);
         }},
        {"whole set-up", 11,
         [](Context& c) {
             c.config.Level2 = 777;
             return WriteEverything(c);
         }},
        {"mode", 1, [](Context& c) { return SwitchToGas(c); }},
        {"clear errors", 1, [](Context& c) { return ClearErrors(c); }},
    };
    for (const Case& c : cases) {
        for (int cut = 1; cut <= c.frames; ++cut) {
            SCOPED_TRACE(std::string(c.what) + ", cut after frame " + std::to_string(cut));
            Rig rig;
            rig.connect();
            std::vector<OperationEnd> ends;
            const Subscription ended = rig.ctx.events.operationEnded.subscribe(
                [&](const OperationEnd& e) { ends.push_back(e); });
            const OperationId op = c.act(rig.ctx);
            int sent = 0;
            const Subscription cutter =
                rig.ctx.events.frameSent.subscribe([&](std::span<const std::uint8_t>) {
                    if (rig.ctx.ops.Running.id == op && ++sent == cut) rig.line.setUnplugged(true);
                });
            ASSERT_TRUE(rig.clock.runUntil([&] { return !rig.ctx.link.ECU_Connected; }, 15000));
            ASSERT_EQ(sent, cut) << "the action sent fewer frames than expected";
            ASSERT_FALSE(ends.empty());
            EXPECT_EQ(ends.back().id, op);
            EXPECT_EQ(ends.back().result, OperationResult::LinkLost);
            EXPECT_FALSE(rig.ctx.link.Write_Running);
            EXPECT_EQ(rig.ctx.view.TForm_3D_Wait, WaitForm::Hidden);

            rig.line.setUnplugged(false);
            ASSERT_TRUE(rig.clock.runUntil([&] { return rig.polling(); }, 30000));
            // What the program shows is what the ECU holds, whatever part of the write got there.
            const sim::EcuState& ecu = rig.ecu.state();
            EXPECT_EQ(rig.ctx.config.Level2, ecu.params.at(0x55));
            for (std::size_t i = 0; i < kDiagramPoints; ++i)
                EXPECT_EQ(rig.ctx.diagram.Gas_Point[i], ecu.diagram[i].gas);
            EXPECT_EQ(rig.ctx.link.Map.Read_Stream,
                      Bytes(ecu.rpmMap.begin() + 2, ecu.rpmMap.end()));

            const OperationId next = ClearErrors(rig.ctx);
            ASSERT_TRUE(
                rig.clock.runUntil([&] { return !ends.empty() && ends.back().id == next; }, 5000));
            EXPECT_EQ(ends.back().result, OperationResult::Done);
        }
    }
}

} // namespace
} // namespace bifuel::test
