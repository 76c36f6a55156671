#pragma once

#include "Context.h"
#include "MemoryLine.h"
#include "calibration/Calibr_Create.h"
#include "calibration/Calibr_Ctrl.h"
#include "calibration/Calibr_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/LinkHarness.h"
#include "link/Receiver_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <gtest/gtest.h>

namespace bifuel::test {

inline constexpr DiagramTimes kLpgGas{2000, 3840, 5680, 7520, 10280, 13040, 16720, 20400, 25000};
inline constexpr DiagramTimes kDefaultPetrol{0, 2000, 4000, 6000, 9000, 12000, 16000, 20000, 25000};

// A context with the LPG default diagram as if just read from a connected ECU, without
// any traffic: writes show up as the pending request they raise.
class DiagramFixture : public ::testing::Test {
  protected:
    DiagramFixture() {
        ctx.link.Main_Shown = true;
        ctx.link.ECU_Connected = true;
        ctx.link.Ident.Firmware_Version = 254;
        ResetDiagram(ctx);
        AfterDiagramRead(ctx);
    }

    DiagramModel& d() { return ctx.diagram; }
    void select(int point) { SelectPoint(ctx, point + 1, DiagramMouseButton::Left); }
    void fix(int point) { SelectPoint(ctx, point + 1, DiagramMouseButton::Right); }
    // Sets the points and makes them the accepted diagram.
    void setDiagram(const DiagramTimes& petrol, const DiagramTimes& gas, bool endOnRight) {
        d().Petrol_Point = petrol;
        d().Gas_Point = gas;
        d().Committed_Petrol = petrol;
        d().Committed_Gas = gas;
        d().End_On_Petrol_Max = endOnRight;
    }
    // The points a diagram write would carry, decoded from its 27 items.
    DiagramEntry writeNow() {
        ComputeSlopes(ctx.diagram);
        DiagramEntry sent;
        const auto& codes = DiagramWriteList();
        for (std::size_t i = 0; i < kDiagramPoints; ++i) {
            const auto gas = EncodeDiagramItem(ctx, codes[3 * i + 1]);
            const auto petrol = EncodeDiagramItem(ctx, codes[3 * i + 2]);
            sent.Gas[i] = gas[0] * 256 + gas[1];
            sent.Petrol[i] = (petrol[0] & 0x7F) * 256 + petrol[1];
        }
        return sent;
    }

    TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock};
    Context ctx{clock, line.host(), work.paths(false)};
};

} // namespace bifuel::test
