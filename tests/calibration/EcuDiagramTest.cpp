#include "DiagramFixture.h"

#include "data/Calc_Unit.h"

#include <algorithm>

namespace bifuel::test {
namespace {

constexpr std::uint8_t kWriteDiagram = 0x33;

class EcuDiagram : public LinkHarness {
  protected:
    long diagramWrites() const {
        const auto cmds = commandsSent();
        return std::count(cmds.begin(), cmds.end(), kWriteDiagram);
    }
    bool waitForWrite(long count) {
        return clock.runUntil([&] { return diagramWrites() >= count && !ctx.link.Write_Running; },
                              10000);
    }
    // The ECU holds exactly the model's 27 items.
    void expectEcuHoldsTheModel() {
        const DiagramModel& d = ctx.diagram;
        for (std::size_t i = 0; i < kDiagramPoints; ++i) {
            SCOPED_TRACE(i);
            const sim::DiagramItem& item = ecu.state().diagram[i];
            const bool idleFlag = i == 1 || i == 2 || (i >= 3 && i == d.Idle_Point);
            EXPECT_EQ(item.gas, d.Gas_Point[i]);
            EXPECT_EQ(item.petrol & 0x7FFF, d.Petrol_Point[i]);
            EXPECT_EQ((item.petrol & 0x8000) != 0, idleFlag);
            EXPECT_EQ(item.slope, TruncToInt(d.Segment_Slope[i] * 128));
        }
    }
};

TEST_F(EcuDiagram, AKeyStepWritesTheDiagramOnceAfterTheTransmitDelay) {
    connect();
    ASSERT_EQ(ctx.diagram.Gas_Point, kLpgGas); // read from the ECU
    ASSERT_EQ(ctx.diagram.History_Count, 1);
    const long before = diagramWrites();

    SelectPoint(ctx, 5, DiagramMouseButton::Left);
    KeyStep(ctx, DiagramKey::Up);
    const std::int64_t editUs = clock.nowUs();
    ASSERT_EQ(ctx.diagram.Gas_Point[4], 10350);
    clock.advance(ctx.settings.CFG_Transmit_Delay - 1);
    EXPECT_EQ(diagramWrites(), before);

    ASSERT_TRUE(waitForWrite(before + 1));
    const auto sent = requests();
    const auto write = std::find_if(sent.begin(), sent.end(), [&](const sim::WireWrite& w) {
        return w.bytes.at(1) == kWriteDiagram && w.timeUs > editUs;
    });
    ASSERT_NE(write, sent.end());
    EXPECT_GE(write->timeUs - editUs, ctx.settings.CFG_Transmit_Delay * 1000LL);
    EXPECT_EQ(write->bytes.size(), 3u + 27 * 3);
    expectEcuHoldsTheModel();

    clock.advance(5000); // and nothing more follows
    EXPECT_EQ(diagramWrites(), before + 1);
}

TEST_F(EcuDiagram, StepBackAndStepForwardWriteThePreviousAndTheNewestDiagram) {
    connect();
    const long before = diagramWrites();
    SelectPoint(ctx, 5, DiagramMouseButton::Left);
    KeyStep(ctx, DiagramKey::Up);
    ASSERT_TRUE(waitForWrite(before + 1));
    ASSERT_EQ(ecu.state().diagram[4].gas, 10350);

    HistoryBack(ctx);
    ASSERT_TRUE(waitForWrite(before + 2));
    EXPECT_EQ(ecu.state().diagram[4].gas, 10280);
    expectEcuHoldsTheModel();

    HistoryForward(ctx);
    ASSERT_TRUE(waitForWrite(before + 3));
    EXPECT_EQ(ecu.state().diagram[4].gas, 10350);
    expectEcuHoldsTheModel();
}

} // namespace
} // namespace bifuel::test
