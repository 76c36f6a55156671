#include "link/EcuMemory.h"
#include "link/LinkHarness.h"

#include "SimCar.h"
#include "calibration/Calibr_Ctrl.h"
#include "link/Link_Operations.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

namespace bifuel::test {
namespace {

constexpr std::uint8_t kParamSwitchTime = 0x52; // its low bit 1 is Save_Map
constexpr std::uint8_t kSaveMapBit = 0x02;

// The MAP workflow on the simulated car, in virtual time: collection switched on from the
// Graph page, the engine driven at several loads on petrol and on gas, then To count and
// Yes twice. The car needs clearly more gas than the configured diagram gives, so the pairs
// differ by more than the 1 ms that To count lets pass.
class MapWorkflow : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::SimOptions options;
        options.engine.warm = true;
        options.engine.trueGain = 1.25;
        car = std::make_unique<sim::SimCar>(clock, line.device(), options);
        car->ecu().state() = ConfiguredEcu();
        ctx = std::make_unique<Context>(clock, line.host(), work.paths(true));
        ctx->settings.Search_Port = false;
        ctx->link.Main_Shown = true;
        ctx->settings.Port_Name = "ttyTEST0";
        line.host().setPortName("ttyTEST0");
        endWatch = ctx->events.operationEnded.subscribe(
            [this](const OperationEnd& e) { ends.push_back(e); });
        line.host().open();
        ASSERT_TRUE(clock.runUntil([this] { return polling(); }, 20000)) << "never connected";
    }

    bool polling() const {
        const auto& p = PollingProgram();
        return ctx->link.ECU_Connected &&
               std::equal(p.begin(), p.end(), ctx->link.Program_Words.begin() + 1);
    }
    bool linkIdle() const {
        return ctx->link.Pending_Request == Request::None && !ctx->link.Write_Running && polling();
    }

    // Does what `act` does and runs until the operation it asks for has ended.
    template <typename Act> std::optional<OperationResult> operation(Request request, Act act) {
        const std::size_t from = ends.size();
        act();
        std::optional<OperationResult> result;
        clock.runUntil(
            [&] {
                for (std::size_t i = from; i < ends.size(); ++i) {
                    if (ends[i].request == request) result = ends[i].result;
                }
                return result && linkIdle();
            },
            30000);
        return result;
    }

    // Each load held on petrol first, then each again on gas; back to idle on petrol.
    void drive(std::initializer_list<std::pair<int, double>> rpmAndLoad) {
        for (const bool gas : {false, true}) {
            ASSERT_EQ(operation(gas ? Request::ModeGas : Request::ModePetrol,
                                [&] { gas ? SwitchToGas(*ctx) : SwitchToPetrol(*ctx); }),
                      OperationResult::Done);
            for (const auto& [rpm, load] : rpmAndLoad) {
                car->engine().requestRpm(rpm);
                car->engine().setLoad(load);
                clock.advance(5000);
            }
        }
        car->engine().requestRpm(0);
        car->engine().setLoad(0);
        ASSERT_EQ(operation(Request::ModePetrol, [&] { SwitchToPetrol(*ctx); }),
                  OperationResult::Done);
        clock.advance(2000); // the polling reads both lists as they are now
    }

    int pairs() const {
        const MapPoints& m = ctx->mapPoints;
        int n = 0;
        for (std::size_t k = 0; k < m.MAP_Point_Count; ++k)
            n += m.MAP_Gas[k] != 0 && m.MAP_Petrol[k] != 0;
        return n;
    }

    sim::EcuState& ecu() { return car->ecu().state(); }

    TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock, sim::MemoryLine::kByteTimeUs9600};
    std::unique_ptr<sim::SimCar> car;
    std::unique_ptr<Context> ctx;
    std::vector<OperationEnd> ends;
    Subscription endWatch;
};

// The ECU's words for a diagram: per point the gain in 128ths, the gas time and the petrol
// time with the idle flag (points 1 and 2 always, a later one when it is the idle point).
std::array<sim::DiagramItem, 9> encoded(const DiagramTimes& petrol, const DiagramTimes& gas,
                                        int idlePoint) {
    std::array<sim::DiagramItem, 9> items{};
    for (std::size_t i = 0; i < items.size(); ++i) {
        const int dp = i == 0 ? 0 : petrol[i] - petrol[i - 1];
        items[i].slope =
            static_cast<std::uint16_t>(dp == 0 ? 128 : std::abs(gas[i] - gas[i - 1]) * 128 / dp);
        items[i].gas = static_cast<std::uint16_t>(gas[i]);
        const bool idle = i == 1 || i == 2 || (i >= 3 && static_cast<int>(i) == idlePoint);
        items[i].petrol = static_cast<std::uint16_t>(petrol[i] | (idle ? 0x8000 : 0));
    }
    return items;
}

TEST_F(MapWorkflow, ToCountAndYesTwiceLeaveTheEcuWithTheProposedDiagramAndNoGasPoints) {
    ASSERT_EQ(operation(Request::WriteConfig, [&] { HudButton_CLB_MAP_StartClick(*ctx); }),
              OperationResult::Done);
    ASSERT_NE(ecu().params[kParamSwitchTime] & kSaveMapBit, 0) << "the ECU does not record";
    // Points from before this drive go first.
    ASSERT_EQ(operation(Request::EraseMapGas, [&] { HudButton_CLB_MAP_Del_GasClick(*ctx); }),
              OperationResult::Done);
    ASSERT_EQ(operation(Request::EraseMapPetrol, [&] { HudButton_CLB_MAP_Del_PetrolClick(*ctx); }),
              OperationResult::Done);
    ASSERT_EQ(pairs(), 0);

    ASSERT_NO_FATAL_FAILURE(drive({{0, 0.0}, {1800, 0.35}, {2600, 0.65}, {3400, 0.95}}));
    ASSERT_EQ(pairs(), 4) << "one pair per load";
    const EcuMemory before = memoryOf(ecu());
    const DiagramTimes gasBefore = ctx->diagram.Gas_Point;

    HudButton_CLB_MAP_To_CountClick(*ctx);
    const PromptPanelView& prompt = ctx->diagramView.Prompt_Panel;
    ASSERT_TRUE(prompt.open);
    ASSERT_EQ(prompt.text, ctx->LangText("MAP_Ctrl"));
    PromptButton1Click(*ctx);
    ASSERT_EQ(prompt.text, ctx->LangText("MAP_Ctrl_Transmit"));
    const DiagramTimes proposed = ctx->mapPoints.Proposed_Gas;
    // The car needs more gas than the diagram gives: the proposal raises it.
    EXPECT_GT(proposed[4], gasBefore[4]);
    EXPECT_EQ(ctx->diagram.Gas_Point, gasBefore) << "nothing applied before the second Yes";

    EXPECT_EQ(operation(Request::EraseGasAndWriteDiagram, [&] { PromptButton1Click(*ctx); }),
              OperationResult::Done);
    EXPECT_FALSE(prompt.open);
    EXPECT_EQ(ctx->diagram.Gas_Point, proposed);
    EcuMemory want = before;
    want.diagram = encoded(ctx->diagram.Petrol_Point, proposed, ctx->diagram.Idle_Point);
    const EcuMemory got = memoryOf(ecu());
    EXPECT_EQ(got, want) << differences(got, want);
    EXPECT_EQ(ecu().mapGas, std::vector<std::uint8_t>(ecu().mapPointCount, 0));
    clock.advance(2000);
    EXPECT_EQ(pairs(), 0) << "the program still shows the erased gas points";
}

} // namespace
} // namespace bifuel::test
