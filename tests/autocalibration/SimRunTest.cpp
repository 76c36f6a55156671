#include "link/LinkHarness.h"

#include "SimCar.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "link/Port_3D_Connect.h"

#include <cmath>
#include <functional>
#include <numeric>

namespace bifuel::test {
namespace {

// Whole runs against the simulated car, in virtual time: the ECU at 9600 baud and an
// engine whose petrol ECU corrects the mixture by a hidden true gas curve that differs from
// the default diagram.
class SimRun : public ::testing::Test {
  public: // the stop cases below act on the fixture from their tables
    void start(sim::SimOptions options = {}) {
        options.engine.warm = true;
        car = std::make_unique<sim::SimCar>(clock, line.device(), options);
        keep.clear();
        ctx = std::make_unique<Context>(clock, line.host(), work.paths(true));
        ctx->settings.Search_Port = false;
        ctx->link.Main_Shown = true;
        ctx->settings.Port_Name = "ttyTEST0";
        line.host().setPortName("ttyTEST0");
        // The driver does what the prompt asks.
        driver = ctx->events.replyAccepted.subscribe([this](std::span<const std::uint8_t>) {
            const std::string& label = ctx->view.HudLabel_3D_ACB_Prompt.text;
            if (label.starts_with(ACB_Prompt_Text(*ctx, 14))) {
                car->engine().requestRpm(0);
            } else if (label.starts_with(ACB_Prompt_Text(*ctx, 12))) {
                car->engine().requestRpm(2500);
            }
        });
        line.host().open();
        ASSERT_TRUE(clock.runUntil([this] { return polling(); }, 20000)) << "never connected";
        clock.advance(2000); // a few polling rounds: live values and smoothing filled
    }

    bool polling() const {
        const auto& p = PollingProgram();
        return ctx->link.ECU_Connected &&
               std::equal(p.begin(), p.end(), ctx->link.Program_Words.begin() + 1);
    }

    // Presses Start as the user would and answers the question on an ECU that asks it.
    void press(const std::string& algorithm) {
        ctx->settings.ACB_SCR_Type = algorithm;
        HudButton_ACB_StartClick(*ctx);
        if (ctx->link.Ident.Innovational_Capable) {
            ASSERT_FALSE(ctx->view.Messages.empty());
            EXPECT_EQ(ctx->view.Messages.back().type, kMessageInnovationalQuestion);
            ACB_Innovational_Answer(*ctx, algorithm == "Innovational");
        }
        ASSERT_TRUE(ctx->view.HudButton_ACB_Start.pressed);
    }

    bool ended() const {
        return !ctx->acb.ACB_Running && !ctx->view.HudButton_ACB_Start.pressed &&
               ctx->link.Pending_Request == Request::None && !ctx->link.Write_Running && polling();
    }

    bool runToEnd(std::int64_t limitMs = 600000) {
        return clock.runUntil([this] { return ended(); }, limitMs);
    }

    // Mean petrol time the petrol ECU commands with all cylinders on gas, against the mean
    // the engine needs (which is what it commands on petrol), after settling.
    std::int32_t petrolDifferenceOnGas() {
        SwitchToGas(*ctx);
        clock.advance(4000);
        const sim::EngineSnapshot& s = car->engine().snapshot();
        EXPECT_EQ(s.mode, 4);
        const int onGas = std::accumulate(s.petrolUs.begin(), s.petrolUs.end(), 0) / 4;
        const int onPetrol = std::accumulate(s.neededUs.begin(), s.neededUs.end(), 0) / 4;
        return onGas - onPetrol;
    }

    std::array<std::int32_t, 5> correctionsNow() const {
        const Configuration_Class& c = ctx->config;
        return {c.ACB_Corr_93, c.ACB_Corr_94, c.ACB_Corr_96, c.ACB_Corr_97, c.ACB_Corr_99};
    }

    // The diagram the ECU holds, as the tool reads it.
    std::array<std::int32_t, 9> ecuGas() const {
        std::array<std::int32_t, 9> g{};
        for (std::size_t i = 0; i < 9; ++i)
            g[i] = car->ecu().state().diagram[i].gas;
        return g;
    }

    TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock, sim::MemoryLine::kByteTimeUs9600};
    std::unique_ptr<sim::SimCar> car;
    std::unique_ptr<Context> ctx;
    Subscription driver;
    std::vector<Subscription> keep;
};

TEST_F(SimRun, EveryAlgorithmCalibratesTheEngine) {
    struct Case {
        std::string algorithm;
        std::string firmware;
        std::int32_t tolerance; // of the last group, microseconds
    };
    const std::vector<Case> cases = {
        {"Default", "2.54", 50},
        {"Only OFFSET calibration", "2.54", 50},
        {"Fast calibration", "2.54", 150},
        {"High R.P.M. calibration", "2.54", 100},
        {"Innovational", "1.63", 100},
        // A classic run on an ECU that also knows the innovational algorithm.
        {"Fast calibration", "1.63", 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.algorithm + " on firmware " + c.firmware);
        sim::SimOptions options;
        options.firmware = c.firmware;
        start(options);
        const auto corrections = correctionsNow();
        press(c.algorithm);
        ASSERT_TRUE(runToEnd()) << ctx->view.HudLabel_3D_ACB_Prompt.text;
        EXPECT_EQ(ctx->view.HudLabel_3D_ACB_Prompt.text, ACB_Prompt_Text(*ctx, 23));
        EXPECT_EQ(ctx->view.HudLabel_3D_ACB_Prompt.colour,
                  ctx->colours.ColourOf(Colour::Txt_Complete));
        EXPECT_EQ(ecuGas(), ctx->diagram.Gas_Point) << "the diagram was not written";
        EXPECT_EQ(correctionsNow(), corrections) << "corrections not restored";
        EXPECT_TRUE(ctx->settings.Idle_Points || c.algorithm != "Innovational");
        EXPECT_EQ(car->engine().snapshot().mode, 1) << "left on gas";
        if (c.algorithm == "High R.P.M. calibration") car->engine().requestRpm(2500);
        EXPECT_LE(std::abs(petrolDifferenceOnGas()), c.tolerance);
        ctx.reset();
        car.reset();
        line.host().close();
    }
}

TEST_F(SimRun, JetsOfTheWrongSizeGetAdvice) {
    struct Case {
        double jet;
        int advice;
    };
    for (const Case& c : std::vector<Case>{{0.8, 18}, {1.25, 19}}) {
        SCOPED_TRACE(c.jet);
        sim::SimOptions options;
        options.engine.jet = c.jet;
        start(options);
        press("Fast calibration");
        ASSERT_TRUE(runToEnd());
        EXPECT_EQ(ctx->view.HudLabel_3D_ACB_Prompt.text,
                  ACB_Prompt_Text(*ctx, 22) + " " + ACB_Prompt_Text(*ctx, c.advice));
        EXPECT_EQ(ctx->view.HudLabel_3D_ACB_Prompt.colour,
                  ctx->colours.ColourOf(Colour::Txt_Recomm));
        EXPECT_EQ(ecuGas(), ctx->diagram.Gas_Point);
        ctx.reset();
        car.reset();
        line.host().close();
    }
}

TEST_F(SimRun, StoppedRunsRestoreWhatTheEcuHad) {
    // Each way a run can be stopped, at a point in the run (replies after the start).
    struct Case {
        const char* what;
        int afterReplies;
        std::function<void(SimRun&)> stop;
        std::function<void(SimRun&)> resume; // after a while, where the stop needs one
        std::string result;
    };
    const std::string stopped = "Autocalibration stopped.";
    const std::vector<Case> cases = {
        {"button released while preparing", 2, [](SimRun& t) { HudButton_ACB_StartClick(*t.ctx); },
         nullptr, stopped},
        {"button released while measuring", 60, [](SimRun& t) { HudButton_ACB_StartClick(*t.ctx); },
         nullptr, stopped},
        {"engine stopped", 60, [](SimRun& t) { t.car->engine().setRunning(false); }, nullptr,
         stopped},
        {"no pulses from the petrol injectors", 60,
         [](SimRun& t) {
             t.keep.push_back(
                 t.ctx->events.liveData.subscribe([&t] { t.ctx->live.Live_Petrol_Inj = {}; }));
         },
         nullptr, "Autocalibration failed. No pulse from petrol injectors."},
        {"link lost", 60, [](SimRun& t) { t.car->ecu().faults().dropEvery = 1; },
         [](SimRun& t) {
             EXPECT_TRUE(t.ctx->view.HudLabel_3D_ACB_Prompt.text.starts_with(
                 "Autocalibration failed. No connection with ECU"));
             EXPECT_TRUE(t.ctx->view.HudButton_ACB_Start.pressed);
             t.car->ecu().faults().dropEvery = 0;
         },
         stopped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start();
        const auto gasBefore = ecuGas();
        const auto corrections = correctionsNow();
        press("Default");
        int replies = 0;
        const Subscription counted = ctx->events.replyAccepted.subscribe(
            [&replies](std::span<const std::uint8_t>) { ++replies; });
        ASSERT_TRUE(clock.runUntil([&] { return replies >= c.afterReplies; }, 60000));
        c.stop(*this);
        if (c.resume) {
            clock.advance(7000);
            c.resume(*this);
        }
        ASSERT_TRUE(clock.runUntil([&] { return !ctx->acb.In_Run; }, 120000));
        clock.advance(3000);
        EXPECT_EQ(ctx->view.HudLabel_3D_ACB_Prompt.text, c.result);
        EXPECT_EQ(ctx->view.HudLabel_3D_ACB_Prompt.colour,
                  ctx->colours.ColourOf(Colour::Txt_Error));
        EXPECT_FALSE(ctx->view.HudButton_ACB_Start.pressed);
        EXPECT_EQ(ecuGas(), gasBefore) << "the diagram of the start was not written back";
        EXPECT_EQ(correctionsNow(), corrections);
        EXPECT_EQ(car->engine().snapshot().mode, 1);
        ctx.reset();
        car.reset();
        line.host().close();
    }
}

TEST_F(SimRun, InnovationalStopRunsTheStopProgram) {
    sim::SimOptions options;
    options.firmware = "1.63";
    start(options);
    const auto gasBefore = ecuGas();
    press("Innovational");
    clock.advance(8000); // into the search, all cylinders on gas
    EXPECT_EQ(car->engine().snapshot().mode, 4);
    HudButton_ACB_StartClick(*ctx);
    ASSERT_TRUE(runToEnd(20000));
    clock.advance(500); // the engine follows the switch at its next tick
    EXPECT_EQ(ctx->view.HudLabel_3D_ACB_Prompt.text, "Autocalibration stopped.");
    EXPECT_EQ(car->engine().snapshot().mode, 1);
    EXPECT_FALSE(ctx->link.Wide_Gas_Mask);
    EXPECT_EQ(ecuGas(), gasBefore) << "a stopped innovational run writes no diagram";
}

TEST_F(SimRun, StopWithThePortClosedEndsAtOnceAndRestoresWhenItOpens) {
    start();
    const auto gasBefore = ecuGas();
    ctx->settings.Idle_Points = true;
    press("Default");
    EXPECT_FALSE(ctx->settings.Idle_Points);
    clock.advance(6000); // past the start step's write
    line.host().close(); // the port goes away: the link is down
    ASSERT_FALSE(ctx->link.ECU_Connected);
    ASSERT_TRUE(ctx->view.HudButton_ACB_Start.pressed); // still pressed from the run
    HudButton_ACB_StartClick(*ctx);
    EXPECT_FALSE(ctx->acb.In_Run);
    EXPECT_FALSE(ctx->view.HudButton_ACB_Start.pressed);
    EXPECT_TRUE(ctx->settings.Idle_Points);
    EXPECT_EQ(ctx->view.HudLabel_3D_ACB_Prompt.text,
              "Autocalibration stopped. " + PartialCalibrationText(*ctx, false));
    EXPECT_NE(ecuGas(), gasBefore);
    line.host().open();
    ASSERT_TRUE(clock.runUntil([this] { return !ctx->acb.Pending_Restore && polling(); }, 30000));
    clock.advance(2000);
    EXPECT_EQ(ecuGas(), gasBefore);
    EXPECT_EQ(ctx->diagram.Gas_Point, gasBefore);
}

// The run as the tool drives it: no button, only the operation and its events.
TEST_F(SimRun, TheOperationTellsEveryChangeAndEndsOnce) {
    struct Case {
        std::string algorithm;
        std::string firmware;
    };
    for (const Case& c : {Case{"Fast calibration", "2.54"}, Case{"Innovational", "1.63"}}) {
        SCOPED_TRACE(c.algorithm);
        sim::SimOptions options;
        options.firmware = c.firmware;
        start(options);
        std::vector<AutoCalibrationProgress> told;
        std::vector<AutoCalibrationEnd> ends;
        std::size_t toldAtEnd = 0;
        const Subscription progress = ctx->events.autoCalibrationProgress.subscribe(
            [&](const AutoCalibrationProgress& p) { told.push_back(p); });
        const Subscription ended =
            ctx->events.autoCalibrationEnded.subscribe([&](const AutoCalibrationEnd& e) {
                ends.push_back(e);
                toldAtEnd = told.size();
            });
        EXPECT_FALSE(StopAutoCalibration(*ctx)) << "nothing runs yet";
        ASSERT_TRUE(StartAutoCalibration(*ctx, c.algorithm).started());
        EXPECT_TRUE(AutoCalibrationMeasuring(*ctx));
        const AutoCalibrationStart again = StartAutoCalibration(*ctx, c.algorithm);
        EXPECT_EQ(again.refusal, AutoCalibrationRefusal::Ending);
        EXPECT_FALSE(again.reason.empty());
        ASSERT_TRUE(runToEnd());

        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends[0].result, AutoCalibrationResult::Success);
        EXPECT_EQ(toldAtEnd, told.size()) << "progress told after the end";
        ASSERT_GT(told.size(), 10u);
        EXPECT_EQ(told.back().prompt, ends[0].text);
        bool full = false;
        int groupsSeen = 0;
        for (std::size_t i = 0; i < told.size(); ++i) {
            const AutoCalibrationProgress& p = told[i];
            EXPECT_EQ(p.algorithm, c.algorithm);
            EXPECT_TRUE(p.percent >= 0 && p.percent <= 100) << p.percent;
            EXPECT_LE(p.group, p.groups);
            if (i > 0) {
                EXPECT_FALSE(p == told[i - 1]) << "told twice: " << p.prompt;
            }
            full = full || (p.measuring && p.percent == 100);
            groupsSeen = std::max(groupsSeen, p.group);
        }
        EXPECT_TRUE(told.front().measuring);
        EXPECT_FALSE(told.back().measuring);
        EXPECT_TRUE(told.back().resultTaken);
        EXPECT_TRUE(full) << "the bar never reached its end while measuring";
        if (c.algorithm != "Innovational") {
            EXPECT_GT(told.back().groups, 0);
            EXPECT_EQ(groupsSeen, told.back().groups) << "not every group was told";
        }
        ctx.reset();
        car.reset();
        line.host().close();
    }
}

TEST_F(SimRun, AStartTheEcuCannotRunIsRefusedWithItsReason) {
    start(); // firmware without the innovational algorithm
    const auto gasBefore = ecuGas();
    const AutoCalibrationStart refused = StartAutoCalibration(*ctx, "Innovational");
    EXPECT_EQ(refused.refusal, AutoCalibrationRefusal::NoInnovational);
    EXPECT_EQ(refused.reason, ctx->LangText("ACB_No_Innovational"));
    EXPECT_FALSE(AutoCalibrationRunning(*ctx));
    clock.advance(3000);
    EXPECT_EQ(ecuGas(), gasBefore);
    EXPECT_EQ(car->engine().snapshot().mode, 1);
}

} // namespace
} // namespace bifuel::test
