// Every way an auto-calibration run can end, on a car that is already calibrated: a stop
// at several points, the engine switched off at the same points, the cable pulled at each
// write of the run with and without it coming back, and Stop while the cable is out. The
// ECU must end up holding, byte for byte, either what it had at Start or the run's result.
#include "link/EcuMemory.h"
#include "link/LinkHarness.h"

#include "SimCar.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "link/Global_Unit.h"
#include "link/Instruction_Unit.h"
#include "rpm_map/MapRPM_Unit.h"

#include <functional>
#include <map>

#include <sstream>

namespace bifuel::test {
namespace {

// The support parameters and the corrections, whose bytes are scaled by them.
bool supportParam(std::uint8_t code) {
    return code >= 0x92 && code <= 0x99;
}

struct Algorithm {
    std::string name;
    std::string firmware;
};

void PrintTo(const Algorithm& a, std::ostream* os) {
    *os << a.name << " on firmware " << a.firmware;
}

bool classic(const Algorithm& a) {
    return a.name != "Innovational";
}

// Frames that carry what the ECU stores (WRITE_ACB does not: it steers the search).
bool changesMemory(std::uint8_t command) {
    switch (static_cast<Command>(command)) {
    case Command::WRITE_NAME:
    case Command::WRITE_PARAMS:
    case Command::WRITE_DIAGRAM:
    case Command::WRITE_MAP_SIZE:
    case Command::WRITE_MAP_CHUNK:
        return true;
    default:
        return false;
    }
}

// What the uninterrupted run from the calibrated car gives.
struct Baseline {
    EcuMemory start;
    EcuMemory result;
    int replies = 0;     // from Start to the end
    int writeFrames = 0; // frames of the run that carry what the ECU stores
};

class RunEnd : public ::testing::TestWithParam<Algorithm> {
  public: // the cases below act on the fixture from their tables
    // A car calibrated by an earlier set-up: diagram, idle point, map and corrections are
    // none of them the defaults, and the program has read them back from the ECU.
    void startCar() {
        sim::SimOptions options;
        options.firmware = GetParam().firmware;
        options.engine.warm = true;
        car = std::make_unique<sim::SimCar>(clock, line, options);
        ctx = std::make_unique<Context>(clock, line.host(), work.paths(true));
        ctx->settings.Search_Port = false;
        ctx->link.Main_Shown = true;
        ctx->settings.Port_Name = "ttyTEST0";
        line.host().setPortName("ttyTEST0");
        subscriptions.clear();
        // The driver does what the prompt asks.
        subscriptions.push_back(
            ctx->events.replyAccepted.subscribe([this](std::span<const std::uint8_t>) {
                ++replies;
                const std::string& label = ctx->view.HudLabel_3D_ACB_Prompt.text;
                if (label.starts_with(ACB_Prompt_Text(*ctx, 14))) {
                    car->engine().requestRpm(0);
                } else if (label.starts_with(ACB_Prompt_Text(*ctx, 12))) {
                    car->engine().requestRpm(2500);
                }
                if (onReply) onReply();
            }));
        subscriptions.push_back(
            ctx->events.frameSent.subscribe([this](std::span<const std::uint8_t> f) {
                if (f.size() > 1 && changesMemory(f[1]) && ctx->acb.In_Run) {
                    ++writeFrames;
                    if (onWriteFrame) onWriteFrame();
                }
            }));
        subscriptions.push_back(ctx->events.autoCalibrationEnded.subscribe(
            [this](const AutoCalibrationEnd& e) { ends.push_back(e); }));
        subscriptions.push_back(ctx->events.restoreEnded.subscribe(
            [this](const RestoreEnd& e) { restores.push_back(e); }));
        line.host().open();
        ASSERT_TRUE(clock.runUntil([this] { return polling(); }, 20000)) << "never connected";
        calibrate();
        clock.advance(2000); // live values and their smoothing filled
    }

    void calibrate() {
        DiagramModel& d = ctx->diagram;
        d.Petrol_Point = {1500, 2600, 3800, 5200, 7000, 9000, 12000, 16000, 22000};
        for (std::size_t i = 0; i < 9; ++i)
            d.Gas_Point[i] = 1920 + d.Petrol_Point[i] * 11 / 10 + 200;
        d.Idle_Point = 3;
        ctx->rpmMap.Map_Value[2][3] = 150;
        ctx->rpmMap.Map_Value[5][7] = 80;
        ValuesToTexts(*ctx);
        Configuration_Class& c = ctx->config;
        c.ACB_Corr_93 = 10;
        c.ACB_Corr_94 = -10;
        c.ACB_Corr_96 = 4;
        c.ACB_Corr_97 = -4;
        c.ACB_Corr_99 = 60;
        ASSERT_EQ(await(WriteEverything(*ctx)), OperationResult::Done);
        ASSERT_EQ(await(ReadEverything(*ctx)), OperationResult::Done);
    }

    OperationResult await(OperationId id) {
        std::optional<OperationResult> result;
        const Subscription s = ctx->events.operationEnded.subscribe([&](const OperationEnd& e) {
            if (e.id == id) result = e.result;
        });
        EXPECT_TRUE(clock.runUntil([&] { return result.has_value(); }, 60000));
        return result.value_or(OperationResult::Refused);
    }

    void dropCar() {
        noPulses = Subscription{};
        subscriptions.clear();
        onReply = nullptr;
        onWriteFrame = nullptr;
        ctx.reset();
        car.reset();
        line.host().close();
        line.setUnplugged(false);
        ends.clear();
        restores.clear();
        replies = writeFrames = 0;
    }

    bool polling() const {
        const auto& p = PollingProgram();
        return ctx->link.ECU_Connected &&
               std::equal(p.begin(), p.end(), ctx->link.Program_Words.begin() + 1);
    }

    // Presses Start as the user would and answers the question on an ECU that asks it.
    void press() {
        ctx->settings.ACB_SCR_Type = GetParam().name;
        HudButton_ACB_StartClick(*ctx);
        if (ctx->link.Ident.Innovational_Capable)
            ACB_Innovational_Answer(*ctx, !classic(GetParam()));
        ASSERT_TRUE(ctx->acb.In_Run);
        replies = writeFrames = 0;
    }

    // The run has ended and the link is back to polling, with nothing left to send.
    bool settled() const {
        return !ends.empty() && !ctx->acb.In_Run && ctx->link.Pending_Request == Request::None &&
               !ctx->link.Write_Running && ctx->ops.Saving.empty() && polling();
    }

    EcuMemory memory() { return memoryOf(car->ecu().state()); }

    // The uninterrupted run, once per algorithm.
    const Baseline& baseline() {
        static std::map<std::string, Baseline> made;
        const auto found = made.find(GetParam().name);
        if (found != made.end()) return found->second;
        Baseline b;
        startCar();
        b.start = memory();
        press();
        EXPECT_TRUE(clock.runUntil([this] { return settled(); }, 900000));
        EXPECT_EQ(ends.size(), 1U);
        EXPECT_TRUE(ends.back().result == AutoCalibrationResult::Success ||
                    ends.back().result == AutoCalibrationResult::Advised)
            << ends.back().text << " " << ends.back().reason;
        b.result = memory();
        b.replies = replies;
        b.writeFrames = writeFrames;
        EXPECT_NE(b.result, b.start);
        dropCar();
        return made.emplace(GetParam().name, b).first->second;
    }

    // The result with the support sample of the start: what a run stopped during its
    // support sample writes.
    static EcuMemory resultWithStartSupport(const Baseline& b) {
        EcuMemory m = b.result;
        for (auto& [code, value] : m.params) {
            if (supportParam(code)) value = b.start.params.at(code);
        }
        return m;
    }

    bool isResult(const AutoCalibrationEnd& e) const {
        return e.result == AutoCalibrationResult::Success ||
               e.result == AutoCalibrationResult::Advised;
    }

    TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock, sim::MemoryLine::kByteTimeUs9600};
    std::unique_ptr<sim::SimCar> car;
    std::unique_ptr<Context> ctx;
    std::vector<Subscription> subscriptions;
    Subscription noPulses;
    std::function<void()> onReply;
    std::function<void()> onWriteFrame;
    std::vector<AutoCalibrationEnd> ends;
    std::vector<RestoreEnd> restores;
    int replies = 0;
    int writeFrames = 0;
};

// What a run cut at a point ends with.
enum class Expect { Start, Result, ResultWithStartSupport };

// A point of a run, reached on a reply.
struct StopPoint {
    const char* what;
    std::function<bool(RunEnd&)> reached;
    Expect expect;
    bool supportSample = false;
};

std::vector<StopPoint> stopPoints(const Baseline& b, bool isClassic) {
    return {
        {"before the first write", [](RunEnd& t) { return t.replies >= 2; }, Expect::Start},
        {"in the middle", [&b](RunEnd& t) { return t.replies >= b.replies * 2 / 5; },
         Expect::Start},
        // The classic result step comes before the support sample; the innovational run
        // takes its sample before it writes anything of its result.
        {"during the support sample",
         [](RunEnd& t) {
             return t.ctx->view.HudLabel_3D_ACB_Prompt.text == ACB_Prompt_Text(*t.ctx, 10);
         },
         isClassic ? Expect::ResultWithStartSupport : Expect::Start, true},
        {"after success, while the result is shown",
         [](RunEnd& t) {
             const std::string& label = t.ctx->view.HudLabel_3D_ACB_Prompt.text;
             return label == ACB_Prompt_Text(*t.ctx, 23) ||
                    label.starts_with(ACB_Prompt_Text(*t.ctx, 22));
         },
         Expect::Result},
    };
}

// A way the run is cut there.
struct StopHow {
    const char* what;
    std::function<void(RunEnd&)> act;
    const char* endText;             // of a run that ends with the start
    bool innovationalWatches = true; // the innovational run reacts during its support sample
};

std::vector<StopHow> stopHows() {
    return {
        {"Stop",
         [](RunEnd& t) {
             // Only a measuring run can be stopped; the ending program runs on its own.
             StopAutoCalibration(*t.ctx);
         },
         "Autocalibration stopped."},
        {"engine off", [](RunEnd& t) { t.car->engine().setRunning(false); },
         "Autocalibration stopped."},
        {"no pulses from the petrol injectors",
         [](RunEnd& t) {
             t.noPulses =
                 t.ctx->events.liveData.subscribe([&t] { t.ctx->live.Live_Petrol_Inj = {}; });
         },
         "Autocalibration failed. No pulse from petrol injectors.",
         // It looks for pulses only while it measures petrol: its support sample goes on
         // to the result.
         false},
    };
}

TEST_P(RunEnd, AStopTheEngineOffOrNoPulsesEndWithTheStartOrTheResult) {
    const Baseline& b = baseline();
    const bool isClassic = classic(GetParam());
    const std::vector<StopPoint> points = stopPoints(b, isClassic);
    const std::vector<StopHow> hows = stopHows();
    for (const StopPoint& point : points) {
        for (const StopHow& how : hows) {
            SCOPED_TRACE(std::string(how.what) + " " + point.what);
            startCar();
            ASSERT_EQ(memory(), b.start) << "the car does not start from the same calibration";
            press();
            bool done = false;
            onReply = [&] {
                if (!done && point.reached(*this)) {
                    done = true;
                    how.act(*this);
                }
            };
            ASSERT_TRUE(clock.runUntil([&] { return settled(); }, 900000))
                << ctx->view.HudLabel_3D_ACB_Prompt.text;
            ASSERT_TRUE(done);
            clock.advance(1000);
            ASSERT_EQ(ends.size(), 1U);
            const AutoCalibrationEnd& end = ends.back();
            EXPECT_FALSE(end.restorePending);
            EXPECT_TRUE(end.reason.empty()) << end.reason;
            const Expect expect = !isClassic && !how.innovationalWatches && point.supportSample
                                      ? Expect::Result
                                      : point.expect;
            const EcuMemory want = expect == Expect::Start    ? b.start
                                   : expect == Expect::Result ? b.result
                                                              : resultWithStartSupport(b);
            EXPECT_EQ(isResult(end), expect != Expect::Start) << end.text;
            if (expect == Expect::Start) {
                EXPECT_EQ(end.text, how.endText);
            }
            const EcuMemory got = memory();
            EXPECT_TRUE(got == want) << differences(got, want);
            EXPECT_EQ(car->engine().snapshot().mode, 1) << "left on gas";
            EXPECT_FALSE(ctx->view.HudButton_ACB_Start.pressed);
            dropCar();
        }
    }
}

TEST_P(RunEnd, ACableCutAtEachWriteEndsWithTheStartOrTheResult) {
    const Baseline& b = baseline();
    ASSERT_GT(b.writeFrames, 0);
    for (int cut = 1; cut <= b.writeFrames; ++cut) {
        for (const bool stopWhileOut : {false, true}) {
            SCOPED_TRACE(
                "cut at write frame " + std::to_string(cut) + " of " +
                std::to_string(b.writeFrames) +
                (stopWhileOut ? ", Stop while the cable is out" : ", the cable comes back"));
            startCar();
            press();
            bool resultAtCut = false;
            onWriteFrame = [&] {
                if (writeFrames == cut) {
                    resultAtCut = ctx->acb.Target_Is_Result;
                    line.setUnplugged(true);
                }
            };
            ASSERT_TRUE(clock.runUntil([&] { return !ctx->link.ECU_Connected; }, 900000));
            clock.advance(2000);
            EXPECT_TRUE(ctx->acb.In_Run) << "the run ended without the ECU";
            EXPECT_TRUE(
                ctx->view.HudLabel_3D_ACB_Prompt.text.starts_with(ACB_Prompt_Text(*ctx, 17)));
            EXPECT_NE(ctx->view.HudLabel_3D_ACB_Prompt.text.find(
                          ctx->LangText("ACB_Partial_Calibration")),
                      std::string::npos);
            if (stopWhileOut && ctx->view.HudButton_ACB_Start.pressed) {
                ASSERT_TRUE(ctx->view.HudButton_ACB_Start.enabled)
                    << "a frozen run cannot be stopped";
                HudButton_ACB_StartClick(*ctx);
                ASSERT_EQ(ends.size(), 1U) << "Stop while the cable is out ends the run at once";
                EXPECT_TRUE(ends.back().restorePending);
                EXPECT_FALSE(ctx->acb.In_Run);
                EXPECT_NE(ctx->view.HudLabel_3D_ACB_Prompt.text.find(
                              ctx->LangText("ACB_Partial_Calibration")),
                          std::string::npos);
                clock.advance(5000);
                EXPECT_TRUE(restores.empty());
            }
            line.setUnplugged(false);
            ASSERT_TRUE(
                clock.runUntil([&] { return settled() && !ctx->acb.Pending_Restore; }, 900000))
                << ctx->view.HudLabel_3D_ACB_Prompt.text << " ends " << ends.size() << " inrun "
                << ctx->acb.In_Run << " frozen " << ctx->acb.Frozen << " running "
                << ctx->acb.ACB_Running << " tail " << ctx->acb.In_Tail << " pc " << ctx->acb.ACB_PC
                << " countdown " << ctx->acb.Reply_Countdown << " polling " << polling()
                << " pending " << int(ctx->link.Pending_Request) << " connected "
                << ctx->link.ECU_Connected;
            clock.advance(1000);
            ASSERT_EQ(ends.size(), 1U);
            const bool pending = ends.back().restorePending;
            if (pending) {
                ASSERT_EQ(restores.size(), 1U);
                EXPECT_TRUE(restores.back().written) << restores.back().text;
            } else {
                EXPECT_EQ(isResult(ends.back()), resultAtCut) << ends.back().text;
                EXPECT_TRUE(ends.back().reason.empty()) << ends.back().reason;
            }
            const EcuMemory& want = resultAtCut ? b.result : b.start;
            const EcuMemory got = memory();
            EXPECT_TRUE(got == want) << differences(got, want);
            EXPECT_EQ(car->engine().snapshot().mode, 1) << "left on gas";
            dropCar();
        }
    }
}

// The cable is pulled mid-run, Stop is pressed, and another car's ECU answers on the
// line: it gets nothing of the run and the user is told; the first car's ECU gets its
// set-up back once it answers again.
class RunEndOnce : public RunEnd {};

TEST_P(RunEndOnce, AnotherEcuGetsNothingAndTheFirstGetsItsSetUpBack) {
    const Baseline& b = baseline();
    startCar();
    press();
    onWriteFrame = [this] {
        if (writeFrames == 3) line.setUnplugged(true);
    };
    ASSERT_TRUE(clock.runUntil([&] { return !ctx->link.ECU_Connected; }, 900000));
    HudButton_ACB_StartClick(*ctx);
    ASSERT_EQ(ends.size(), 1U);
    EXPECT_TRUE(ends.back().restorePending);
    const sim::EcuState firstCar = car->ecu().state();
    EXPECT_NE(memoryOf(firstCar), b.start);

    // Another car of the same make: the same ECU type and firmware, its own set-up.
    car.reset();
    sim::SimOptions options;
    options.firmware = GetParam().firmware;
    options.engine.warm = true;
    car = std::make_unique<sim::SimCar>(clock, line, options);
    car->ecu().state().name = {'O', 'T', 'H', 'E', 'R', 0xFF, 0xFF, 0xFF};
    const EcuMemory other = memory();
    ctx->view.Messages.clear();
    line.setUnplugged(false);
    ASSERT_TRUE(clock.runUntil([&] { return polling(); }, 30000));
    clock.advance(10000);
    EXPECT_EQ(memory(), other) << differences(memory(), other);
    ASSERT_EQ(ctx->view.Messages.size(), 1U);
    EXPECT_EQ(ctx->view.Messages[0].type, kMessageCalibrationRestore);
    EXPECT_TRUE(ctx->view.Messages[0].text.starts_with(ctx->LangText("ACB_Restore_Other_Ecu")));
    EXPECT_TRUE(restores.empty());
    EXPECT_TRUE(ctx->acb.Pending_Restore.has_value());

    // The first car again.
    line.setUnplugged(true);
    clock.advance(8000);
    car.reset();
    car = std::make_unique<sim::SimCar>(clock, line, options);
    car->ecu().state() = firstCar;
    line.setUnplugged(false);
    ASSERT_TRUE(clock.runUntil([&] { return !restores.empty() && polling(); }, 60000));
    EXPECT_TRUE(restores.back().written) << restores.back().text;
    clock.advance(2000);
    EXPECT_EQ(memory(), b.start) << differences(memory(), b.start);
    EXPECT_FALSE(ctx->acb.Pending_Restore.has_value());
    EXPECT_EQ(car->engine().snapshot().mode, 1);
}

INSTANTIATE_TEST_SUITE_P(OneAlgorithm, RunEndOnce,
                         ::testing::Values(Algorithm{"Fast calibration", "2.54"}),
                         [](const auto&) { return std::string("Fast"); });

INSTANTIATE_TEST_SUITE_P(EveryAlgorithm, RunEnd,
                         ::testing::Values(Algorithm{"Default", "2.54"},
                                           Algorithm{"Only OFFSET calibration", "2.54"},
                                           Algorithm{"Fast calibration", "2.54"},
                                           Algorithm{"High R.P.M. calibration", "2.54"},
                                           Algorithm{"Innovational", "1.63"}),
                         [](const auto& param) {
                             std::string name;
                             for (const char c : param.param.name) {
                                 if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             }
                             return name;
                         });

} // namespace
} // namespace bifuel::test
