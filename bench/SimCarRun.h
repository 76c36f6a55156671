#pragma once

// The program connected to the simulated car on one virtual clock, for the benchmarks that
// measure whole runs: the ECU at 9600 baud, a warm engine whose petrol ECU corrects the
// mixture by a hidden true gas curve, and a driver who does what the auto-calibration
// prompt asks. Also the measure of a diagram against that curve.
#include "Context.h"
#include "MemoryLine.h"
#include "SimCar.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "link/Link_Operations.h"
#include "link/Transmit_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <unistd.h>

namespace bifuel::bench {

// Petrol times at which the relative deviation from the true gas time is reported.
inline constexpr std::array<int, 5> kRelativeAtUs = {2000, 4000, 8000, 12000, 16000};

// The gas time the diagram gives for a petrol time, as the ECU interpolates it.
inline double diagramGas(const DiagramModel& d, int petrolUs) {
    const auto& p = d.Petrol_Point;
    const auto& g = d.Gas_Point;
    std::size_t k = 1;
    while (k < 8 && p[k] < petrolUs)
        ++k;
    const double span = p[k] - p[k - 1];
    return span > 0 ? g[k - 1] + (petrolUs - p[k - 1]) * (g[k] - g[k - 1]) / span : g[k];
}

struct CurveDeviation {
    double maxUs = 0;                // largest gap for petrol times 2..16 ms
    std::array<double, 5> percent{}; // (diagram - true) / true at kRelativeAtUs
};

inline CurveDeviation curveDeviation(const DiagramModel& d, const sim::EngineModel& engine) {
    CurveDeviation c;
    for (int us = 2000; us <= 16000; us += 100)
        c.maxUs = std::max(c.maxUs, std::abs(diagramGas(d, us) - engine.trueGasUs(us)));
    for (std::size_t i = 0; i < kRelativeAtUs.size(); ++i) {
        const double truth = engine.trueGasUs(kRelativeAtUs[i]);
        c.percent[i] = (diagramGas(d, kRelativeAtUs[i]) - truth) / truth * 100.0;
    }
    return c;
}

inline bool polling(const Context& ctx) {
    const auto& p = PollingProgram();
    return ctx.link.ECU_Connected &&
           std::equal(p.begin(), p.end(), ctx.link.Program_Words.begin() + 1);
}

class SimCarRun {
  public:
    explicit SimCarRun(const sim::SimOptions& options)
        : dir(makeDir()), line(clock, sim::MemoryLine::kByteTimeUs9600),
          car(clock, line.device(), options), ctx(clock, line.host(), paths(dir)) {
        ctx.settings.Search_Port = false;
        ctx.link.Main_Shown = true;
        ctx.settings.Port_Name = "sim";
        line.host().setPortName("sim");
        driver_ = ctx.events.replyAccepted.subscribe([this](std::span<const std::uint8_t>) {
            ++replies;
            const std::string& label = prompt;
            if (label.starts_with(ACB_Prompt_Text(ctx, 14))) {
                car.engine().requestRpm(0);
            } else if (label.starts_with(ACB_Prompt_Text(ctx, 12))) {
                car.engine().requestRpm(2500);
            }
        });
        progress_ = ctx.events.autoCalibrationProgress.subscribe(
            [this](const AutoCalibrationProgress& p) { prompt = p.prompt; });
        ended_ = ctx.events.autoCalibrationEnded.subscribe(
            [this](const AutoCalibrationEnd& e) { acbEnded = e; });
    }
    ~SimCarRun() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    SimCarRun(const SimCarRun&) = delete;
    SimCarRun& operator=(const SimCarRun&) = delete;

    // Opens the port and lets a few polling rounds fill the live values.
    bool connect() {
        line.host().open();
        if (!clock.runUntil([this] { return polling(ctx); }, 20000)) return false;
        clock.advance(2000);
        return true;
    }

    // Nothing waits to go to the ECU and the polling program runs.
    bool linkIdle() const {
        return ctx.link.Pending_Request == Request::None && !ctx.link.Write_Running && polling(ctx);
    }

    // After the start of a run: until it has ended and its last write is done.
    bool runAutoCalibrationToEnd(std::int64_t limitMs = 900000) {
        return clock.runUntil([this] { return acbEnded && linkIdle(); }, limitMs);
    }

    std::filesystem::path dir;
    VirtualScheduler clock;
    sim::MemoryLine line;
    sim::SimCar car;
    Context ctx;
    long replies = 0;
    std::optional<AutoCalibrationEnd> acbEnded;
    std::string prompt; // the run's prompt line, as it was last told

  private:
    static std::filesystem::path makeDir() {
        static int counter = 0;
        auto d = std::filesystem::temp_directory_path() /
                 ("bifuel-bench-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::create_directories(d);
        return d;
    }
    static Paths paths(const std::filesystem::path& d) {
        Paths p = MakePaths(d, "bifuel-studio");
        p.Dat_Name = BIFUEL_SOURCE_DIR "/data/bifuel-studio.dat";
        return p;
    }

    Subscription driver_;
    Subscription progress_;
    Subscription ended_;
};

} // namespace bifuel::bench
