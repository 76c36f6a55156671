#include "../link/EcuMemory.h"
#include "../link/LinkHarness.h"
#include "EngineModel.h"
#include "data/Calc_Unit.h"
#include "data/Drive_Analysis.h"
#include "link/Link_Operations.h"

#include <cmath>
#include <memory>

namespace bifuel::test {
namespace {

constexpr std::size_t kFactorBytesAt = 2 + 2 * kMapCols + kMapRows;

std::size_t factorIndex(int c, int r) {
    return kFactorBytesAt + static_cast<std::size_t>((c - 1) * kMapRows + (r - 1));
}

// ---- A drive on the simulated car ----------------------------------------------------------

struct DrivePoint {
    int rpm;
    double load;
};

// The car needs a quarter more gas than the configured ECU's diagram gives, so on gas the
// petrol ECU lengthens the petrol time until the delivered gas makes up for it.
class DriveOnTheCar : public LinkHarness {
  protected:
    DriveOnTheCar() : LinkHarness(ConfiguredEcu()) {
        sim::EngineOptions o;
        o.warm = true;
        o.trueGain = 1.25;
        o.trueOffsetUs = 2400;
        engine = std::make_unique<sim::EngineModel>(clock, ecu, o);
        recorder = ctx.events.liveData.subscribe(
            [this] { records.push_back(RecordFromLive(ctx, clock.nowMs())); });
    }

    void hold(const DrivePoint& p, std::int64_t ms) {
        engine->requestRpm(p.rpm);
        engine->setLoad(p.load);
        clock.advance(ms);
    }

    // Petrol, then gas, at each point; the records of this drive only.
    std::vector<LiveLogRecord> drive() {
        records.clear();
        for (const DrivePoint& p : kPoints) {
            SwitchToPetrol(ctx);
            hold(p, 14000);
            SwitchToGas(ctx);
            hold(p, 14000);
        }
        return records;
    }

    // The sample-weighted mean difference of the cells in column c.
    static double columnDiff(const DriveAnalysis& a, int c) {
        double sum = 0;
        int n = 0;
        for (int r = 1; r <= kMapRows; ++r) {
            sum += a.Cells[c][r].Mean_Diff_Us * a.Cells[c][r].Samples;
            n += a.Cells[c][r].Samples;
        }
        return n > 0 ? sum / n : 0;
    }

    static constexpr std::array<DrivePoint, 3> kPoints{{{1800, 0.3}, {2700, 0.5}, {3500, 0.7}}};
    std::unique_ptr<sim::EngineModel> engine;
    std::vector<LiveLogRecord> records;
    Subscription recorder;
};

TEST_F(DriveOnTheCar, SuggestionsWrittenToTheEcuShrinkThePetrolDifference) {
    connect();
    const std::vector<LiveLogRecord> first = drive();
    const DriveAnalysis before = AnalyseDrive(first, ctx.rpmMap, ctx.diagram);
    ASSERT_EQ(before.Outcome, DriveOutcome::Ready);
    ASSERT_GT(before.Suggested_Cells, 0);
    EXPECT_GT(before.Gas_Samples, 0u);
    EXPECT_GT(before.Petrol_Samples, 0u);

    // Every suggestion asks for more gas where the car lacks it, and only cells that enough
    // samples ask get one: those the gas samples were in, and those of their petrol times.
    std::vector<int> columns;
    for (int c = 1; c <= kMapCols; ++c) {
        for (int r = 1; r <= kMapRows; ++r) {
            const DriveCell& cell = before.Cells[c][r];
            if (cell.Samples > 0) {
                EXPECT_GT(cell.Mean_Diff_Us, 0) << c << "," << r;
            }
            EXPECT_EQ(cell.Suggested.has_value(), cell.Asked >= kDriveMinCellSamples)
                << c << "," << r;
            if (cell.Samples >= kDriveMinCellSamples) {
                EXPECT_TRUE(cell.Suggested) << c << "," << r;
            }
            if (cell.Suggested) {
                EXPECT_GT(*cell.Suggested, cell.Factor) << c << "," << r;
                if (columns.empty() || columns.back() != c) columns.push_back(c);
            }
        }
    }
    EXPECT_EQ(columns, (std::vector<int>{4, 6, 7})) << "1800, 2700 and 3500 rpm";

    // The map goes to the ECU: the applied factors, and nothing else, change there.
    EcuMemory want = memoryOf(ecu.state());
    for (int c = 1; c <= kMapCols; ++c) {
        for (int r = 1; r <= kMapRows; ++r) {
            const DriveCell& cell = before.Cells[c][r];
            if (cell.Suggested && *cell.Suggested != cell.Factor)
                want.rpmMap[factorIndex(c, r)] = FactorToByte(*cell.Suggested);
        }
    }
    const DriveApplyEnd applied = ApplyDriveSuggestions(ctx, before);
    EXPECT_EQ(applied.Result, DriveApplyResult::Applied);
    EXPECT_EQ(applied.Cells, before.Suggested_Cells);
    ASSERT_TRUE(clock.runUntil([&] { return ctx.link.Write_Running; }, 5000))
        << "the map was never sent";
    ASSERT_TRUE(clock.runUntil([&] { return !ctx.link.Write_Running; }, 10000));
    const EcuMemory got = memoryOf(ecu.state());
    EXPECT_EQ(got, want) << differences(got, want);

    // Driven again the same way, the petrol ECU hardly stretches the petrol time any more.
    const DriveAnalysis after = AnalyseDrive(drive(), ctx.rpmMap, ctx.diagram);
    ASSERT_EQ(after.Outcome, DriveOutcome::Ready);
    for (const int c : columns) {
        const double was = columnDiff(before, c);
        const double now = columnDiff(after, c);
        EXPECT_LT(std::abs(now), 0.1 * std::abs(was))
            << "column " << c << ": " << was << " us then " << now << " us";
    }
}

// ---- Logs made by hand ------------------------------------------------------------------------

class DriveLog : public LinkHarness {
  protected:
    DriveLog() {
        ResetMap(ctx);
        ResetDiagram(ctx.diagram, ctx.config);
    }

    // A settled, running sample.
    static LiveLogRecord sample(std::int64_t ms, std::uint8_t mode, int rpm, int press,
                                int petrolUs) {
        LiveLogRecord r;
        r.Time_Ms = ms;
        r.Mode = mode;
        r.Rpm = rpm;
        r.Press_Coll = press;
        r.Petrol_Avg_Us = petrolUs;
        r.Status = 0x80;
        return r;
    }

    // n petrol samples then n gas samples at one point, each after the settling time.
    static std::vector<LiveLogRecord> drive(int n, int petrolUs, int gasModePetrolUs,
                                            int rpm = 1800, int gasRpm = 1800) {
        std::vector<LiveLogRecord> out;
        std::int64_t t = 0;
        for (const auto& [mode, us, speed] : {std::tuple{kModePetrol, petrolUs, rpm},
                                              std::tuple{kModeGas, gasModePetrolUs, gasRpm}}) {
            out.push_back(sample(t, mode, speed, 60, us));
            t += kDriveSettleMs;
            for (int i = 0; i < n; ++i)
                out.push_back(sample(t += 300, mode, speed, 60, us));
        }
        return out;
    }

    DriveAnalysis analyse(const std::vector<LiveLogRecord>& log) {
        return AnalyseDrive(log, ctx.rpmMap, ctx.diagram);
    }
    std::string& text(int c, int r) { return ctx.rpmMap.Map_Text[c][r]; }
};

TEST_F(DriveLog, WithoutBothModesAtTheSamePointsThereIsNoGrid) {
    std::vector<LiveLogRecord> petrolOnly = drive(20, 5000, 5600);
    petrolOnly.resize(21);
    std::vector<LiveLogRecord> gasOnly = drive(20, 5000, 5600);
    gasOnly.erase(gasOnly.begin(), gasOnly.begin() + 21);
    std::vector<LiveLogRecord> engineOff = drive(20, 5000, 5600);
    for (auto& r : engineOff) {
        if (r.Mode == kModeGas) r.Status = 0;
    }
    const struct {
        const char* name;
        std::vector<LiveLogRecord> log;
        DriveOutcome outcome;
    } cases[] = {
        {"empty log", {}, DriveOutcome::EmptyLog},
        {"petrol only", petrolOnly, DriveOutcome::NoGasSamples},
        {"gas only", gasOnly, DriveOutcome::NoPetrolSamples},
        {"gas with the engine off", engineOff, DriveOutcome::NoGasSamples},
        {"gas at another speed", drive(20, 5000, 5600, 1800, 2600), DriveOutcome::NoMatches},
        // Right after each switch nothing is settled yet.
        {"only unsettled samples", drive(0, 5000, 5600), DriveOutcome::NoGasSamples},
    };
    for (const auto& c : cases) {
        const DriveAnalysis a = analyse(c.log);
        EXPECT_EQ(a.Outcome, c.outcome) << c.name;
        EXPECT_EQ(a.Matched_Samples, 0u) << c.name;
        EXPECT_EQ(a.Suggested_Cells, 0) << c.name;
    }
    ctx.rpmMap.Grid_Built = false;
    EXPECT_EQ(analyse(drive(20, 5000, 5600)).Outcome, DriveOutcome::NoMap);
}

TEST_F(DriveLog, CellMeanFactorAndBounds) {
    // 1800 rpm is column 4; 5.2 .. 5.8 ms lie in row 6 (5.0 .. 7.0 ms).
    const auto expected = [this](int factor, int petrolUs, int gasModeUs) {
        return static_cast<std::int32_t>(std::lround(factor * DiagramGasUs(ctx.diagram, gasModeUs) /
                                                     DiagramGasUs(ctx.diagram, petrolUs)));
    };
    ASSERT_GT(expected(100, 5200, 5800), 100) << "a longer petrol time on gas asks for more gas";
    const struct {
        const char* factor;
        int petrolUs;
        int gasModeUs;
        int samples;
        std::optional<std::int32_t> suggested;
    } cases[] = {
        {"1.00", 5200, 5800, kDriveMinCellSamples, expected(100, 5200, 5800)},
        {"1.20", 5200, 5800, kDriveMinCellSamples, expected(120, 5200, 5800)},
        {"1.20", 5800, 5200, kDriveMinCellSamples, expected(120, 5800, 5200)}, // rich: less gas
        {"1.00", 5200, 5800, kDriveMinCellSamples - 1, std::nullopt}, // too few to touch the factor
        {"1.99", 5200, 5800, 30, kMapFactorMax},                      // held at the top
        {"0.01", 5800, 5200, 30, kMapFactorMin},                      // and at the bottom
    };
    for (const auto& c : cases) {
        ResetMap(ctx);
        text(4, 6) = c.factor;
        const DriveAnalysis a = analyse(drive(c.samples, c.petrolUs, c.gasModeUs));
        ASSERT_EQ(a.Outcome, DriveOutcome::Ready) << c.factor;
        const DriveCell& cell = a.Cells[4][6];
        EXPECT_EQ(cell.Samples, c.samples) << c.factor;
        EXPECT_NEAR(cell.Mean_Diff_Us, c.gasModeUs - c.petrolUs, 1e-9) << c.factor;
        EXPECT_EQ(cell.Suggested, c.suggested) << c.factor;
        EXPECT_EQ(a.Matched_Samples, static_cast<std::size_t>(c.samples)) << "all in one cell";
    }
    EXPECT_LT(expected(120, 5800, 5200), 120);
}

TEST_F(DriveLog, ApplyEditsTheWorkingCopyLikeAnEditAndRefusesWhenItCannot) {
    const DriveAnalysis a = analyse(drive(20, 5200, 5800));
    ASSERT_TRUE(a.Cells[4][6].Suggested);
    const std::string expected = FixedText(*a.Cells[4][6].Suggested / 100.0, 2);

    ctx.link.Write_Running = true;
    EXPECT_EQ(ApplyDriveSuggestions(ctx, a).Result, DriveApplyResult::WriteRunning);
    EXPECT_EQ(text(4, 6), "1.00");
    ctx.link.Write_Running = false;

    const DriveApplyEnd end = ApplyDriveSuggestions(ctx, a);
    EXPECT_EQ(end.Result, DriveApplyResult::Applied);
    EXPECT_EQ(end.Cells, 1);
    EXPECT_EQ(text(4, 6), expected);
    EXPECT_EQ(ctx.rpmMap.Map_Mark[4][6], kMarkChanged);
    EXPECT_EQ(ctx.rpmMap.Map_Mark[4][5], kMarkPlain);
    // Applying the same grid again changes nothing.
    EXPECT_EQ(ApplyDriveSuggestions(ctx, a).Result, DriveApplyResult::NothingToApply);

    ctx.rpmMap.Grid_Built = false;
    EXPECT_EQ(ApplyDriveSuggestions(ctx, a).Result, DriveApplyResult::NoMap);
}

TEST(DiagramGas, StraightBetweenPointsAndOnBeyondThem) {
    DiagramModel d;
    d.Petrol_Point = {0, 2000, 4000, 4000, 6000, 9000, 12000, 16000, 20000}; // a repeated time
    d.Gas_Point = {1000, 3000, 5000, 9999, 7000, 10000, 13000, 17000, 21000};
    const struct {
        double petrol;
        double gas;
    } cases[] = {{0, 1000},      {1000, 2000},   {4000, 5000}, {5000, 6000},
                 {20000, 21000}, {22000, 23000}, {-1000, 0}};
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(DiagramGasUs(d, c.petrol), c.gas) << c.petrol;
}

} // namespace
} // namespace bifuel::test
