// `bifuel-cli autocal` on the virtual clock against the in-process simulated car: what it
// prints, how it ends, and that a stop leaves the ECU as it was.
#include "Cli_Session.h"
#include "link/LinkHarness.h"

#include "MemoryLine.h"
#include "SimCar.h"
#include "autocalibration/AutoCLB_Unit.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>

namespace bifuel::cli {
namespace {

// One command as `bifuel-cli --port sim --virtual-time` runs it.
class AutocalSession : public ::testing::Test {
  protected:
    void start(sim::SimOptions options) {
        car = std::make_unique<sim::SimCar>(clock, line, options);
        ctx = std::make_unique<Context>(clock, line.host(), work.paths(true));
        ctx->settings.Port_Name = "sim";
        ctx->settings.Search_Port = false;
        line.host().setPortName("sim");
        session = std::make_unique<Session>(*ctx, SessionOptions{}, out, err);
    }

    // What a user watching the output does once it shows a text.
    struct Reaction {
        std::string whenPrinted;
        std::function<void()> then;
    };

    // Runs the command to its end, reacting to the output in the order given.
    int run(const std::vector<std::string>& args, std::vector<Reaction> reactions = {}) {
        session->start(Command{"autocal", args}, [](int) {});
        std::size_t next = 0;
        const std::int64_t limitUs = clock.nowUs() + std::int64_t{3600} * 1000 * 1000;
        while (!session->done() && clock.nowUs() < limitUs) {
            if (next < reactions.size() &&
                out.str().find(reactions[next].whenPrinted) != std::string::npos) {
                reactions[next++].then();
                continue;
            }
            const std::int64_t due = clock.nextDueUs();
            if (due < 0) break;
            clock.advanceUs(due - clock.nowUs());
        }
        EXPECT_TRUE(session->done()) << "still running after an hour\n" << out.str();
        EXPECT_EQ(next, reactions.size()) << "the output never showed what the test waited for";
        return session->exitCode();
    }

    // What the ECU holds that a stopped calibration must give back, byte for byte: the
    // diagram, every parameter and the RPM map.
    std::tuple<std::array<sim::DiagramItem, 9>, std::map<std::uint8_t, std::uint16_t>,
               std::vector<std::uint8_t>>
    ecuState() const {
        const sim::EcuState& s = car->ecu().state();
        return {s.diagram, s.params, s.rpmMap};
    }

    test::TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock, sim::MemoryLine::kByteTimeUs9600};
    std::unique_ptr<sim::SimCar> car;
    std::unique_ptr<Context> ctx;
    std::ostringstream out;
    std::ostringstream err;
    std::unique_ptr<Session> session;
};

TEST_F(AutocalSession, PrintsPromptsProgressAndTheResultAndEndsWithItsStatus) {
    struct Case {
        const char* what;
        std::string algorithm;
        std::function<void(sim::SimOptions&)> car;
        int code;
        std::string result; // the start of the result text
    };
    const Case cases[] = {
        {"a good run", "Fast calibration", [](sim::SimOptions&) {}, kDone,
         "Autocalibration successfully completed."},
        {"jets too small", "Fast calibration", [](sim::SimOptions& o) { o.engine.jet = 0.8; },
         kDone, "Autocalibration finished. "},
        {"innovational on an ECU that has it", "Innovational",
         [](sim::SimOptions& o) { o.firmware = "1.63"; }, kDone,
         "Autocalibration successfully completed."},
        {"engine off", "Default", [](sim::SimOptions& o) { o.engine.running = false; }, kNoEcu,
         "Autocalibration"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::SimOptions options;
        options.engine.warm = true;
        c.car(options);
        start(options);
        EXPECT_EQ(run({c.algorithm}), c.code) << out.str() << err.str();
        const std::string text = out.str();
        EXPECT_EQ(text.rfind("algorithm: " + c.algorithm + "\n", 0), 0u) << text;
        const auto result = text.find("result: " + c.result);
        EXPECT_NE(result, std::string::npos) << text;
        EXPECT_EQ(text.find('\n', result), text.size() - 1) << "the result is the last line";
        if (c.code == kDone) {
            EXPECT_NE(text.find("prompt: "), std::string::npos);
            EXPECT_NE(text.find("progress: 100%"), std::string::npos) << text;
            std::istringstream lines(text);
            for (std::string shown; std::getline(lines, shown);) {
                if (!shown.starts_with("progress: ")) continue;
                const int percent = std::stoi(shown.substr(10));
                EXPECT_TRUE(percent >= 0 && percent <= 100) << shown;
            }
        } else {
            EXPECT_EQ(text.find("result: Autocalibration successfully completed."),
                      std::string::npos);
        }
        session.reset();
        ctx.reset();
        car.reset();
        line.host().close();
        out.str("");
        err.str("");
    }
}

TEST_F(AutocalSession, InnovationalOnAnEcuWithoutItIsAUsageError) {
    start({});
    EXPECT_EQ(run({"Innovational"}), kUsage);
    EXPECT_NE(err.str().find("has no innovational auto-calibration"), std::string::npos)
        << err.str();
    EXPECT_FALSE(ctx->acb.ACB_Running);
}

// Ctrl+C while the run waits for the driver to raise the speed (nobody does here): the
// run stops as the Stop button stops it, and the ECU gets back what it had.
TEST_F(AutocalSession, CtrlCStopsTheRunAndRestoresTheEcuBeforeExiting) {
    sim::SimOptions options;
    options.engine.warm = true;
    start(options);
    std::optional<decltype(ecuState())> before;
    int interrupts = 0;
    const int code = run({"High R.P.M. calibration"},
                         {{"algorithm: ", [&] { before = ecuState(); }}, {"progress: ", [&] {
                                                                              // Into its measuring,
                                                                              // then stopped; a
                                                                              // second Ctrl+C while
                                                                              // the restore runs
                                                                              // does not cut it
                                                                              // short.
                                                                              clock.advance(20000);
                                                                              session->interrupt();
                                                                              ++interrupts;
                                                                              session->interrupt();
                                                                              ++interrupts;
                                                                          }}});
    EXPECT_EQ(interrupts, 2);
    EXPECT_EQ(code, kNoEcu);
    EXPECT_NE(out.str().find("result: Autocalibration stopped."), std::string::npos) << out.str();
    EXPECT_NE(err.str().find("stopping, restoring what the ECU had"), std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("still restoring"), std::string::npos) << err.str();
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(ecuState(), *before) << "the ECU was left with the calibration's values";
    EXPECT_EQ(car->engine().snapshot().mode, 1) << "left on gas";
}

// The cable pulled during a run, then Ctrl+C while it is out: the run ends at once and the
// tool waits for the ECU, as long as it waits for one to answer at all, to give it back
// what it had. An ECU that does not come back is told as such.
TEST_F(AutocalSession, ACablePulledThenCtrlCWaitsForTheEcuToGiveItBackWhatItHad) {
    for (const bool comesBack : {true, false}) {
        SCOPED_TRACE(comesBack ? "the cable comes back" : "the cable stays out");
        sim::SimOptions options;
        options.engine.warm = true;
        start(options);
        std::optional<decltype(ecuState())> before;
        std::optional<decltype(ecuState())> cut;
        const int code = run({"High R.P.M. calibration"},
                             {{"algorithm: ", [&] { before = ecuState(); }},
                              {"progress: ", [&] {
                                   clock.advance(20000); // past the start step's write
                                   line.setUnplugged(true);
                                   clock.advance(8000);
                                   cut = ecuState();
                                   session->interrupt();
                                   clock.advance(3000);
                                   if (comesBack) line.setUnplugged(false);
                               }}});
        EXPECT_EQ(code, kNoEcu);
        EXPECT_NE(out.str().find("result: Autocalibration stopped."), std::string::npos)
            << out.str();
        EXPECT_NE(err.str().find("waiting up to 10 s for the ECU to answer again"),
                  std::string::npos)
            << err.str();
        ASSERT_TRUE(before && cut);
        EXPECT_NE(*cut, *before) << "the cable was pulled before the run changed anything";
        if (comesBack) {
            EXPECT_NE(err.str().find(ctx->LangText("ACB_Restore_Done")), std::string::npos)
                << err.str();
            EXPECT_EQ(ecuState(), *before) << "the ECU was left with the calibration's values";
            EXPECT_EQ(car->engine().snapshot().mode, 1) << "left on gas";
        } else {
            EXPECT_NE(err.str().find(
                          "did not answer again within 10 s; it still holds a partial calibration"),
                      std::string::npos)
                << err.str();
        }
        session.reset();
        ctx.reset();
        car.reset();
        line.host().close();
        line.setUnplugged(false);
        out.str({});
        err.str({});
    }
}

// The tool's session may end long before the program's context (a test, or a desktop
// window that embeds it). What it watched must not call back into it afterwards.
TEST_F(AutocalSession, ASessionThatEndsBeforeItsContextLeavesNothingBehind) {
    sim::SimOptions options;
    options.engine.warm = true;
    start(options);
    SessionOptions live;
    live.liveSeconds = 1;
    session = std::make_unique<Session>(*ctx, live, out, err);
    session->start(Command{"live", {}}, [](int) {});
    ASSERT_TRUE(clock.runUntil([&] { return session->done(); }, 20000));
    EXPECT_EQ(session->exitCode(), kDone);
    session.reset();
    const std::string printed = out.str();
    int replies = 0;
    const Subscription counted =
        ctx->events.replyAccepted.subscribe([&](std::span<const std::uint8_t>) { ++replies; });
    ctx->timers.Timer_Sending->start(); // the program polls on without the session
    clock.advance(10000);
    EXPECT_GT(replies, 20);
    EXPECT_EQ(out.str(), printed) << "nothing printed by a session that is gone";
}

} // namespace
} // namespace bifuel::cli
