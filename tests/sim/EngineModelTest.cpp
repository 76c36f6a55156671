#include "EngineModel.h"
#include "MemoryLine.h"
#include "SimCar.h"
#include "SimOptions.h"
#include "data/Calc_Unit.h"
#include "link/LinkHarness.h"
#include "runtime/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace bifuel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kCode = 25;

Bytes framed(Bytes body) {
    body.push_back(static_cast<std::uint8_t>(std::accumulate(body.begin(), body.end(), 0u) & 0xFF));
    return body;
}
Bytes shortRequest(std::uint8_t cmd, std::uint8_t d1, std::uint8_t d2) {
    return framed({kCode, cmd, d1, d2});
}
Bytes shortRequest(std::uint8_t cmd) {
    return shortRequest(cmd, cmd, cmd);
}

// The live reply as the tool reads it (reply byte = data index + 2).
struct Live {
    int period = 0;
    int reducerTempCode = 0;
    int status = 0;
    int level = 0;
    int reducerPress = 0; // raw codes
    int manifoldPress = 0;
    std::array<int, 4> petrol{};
    std::array<int, 4> gas{};
    int errors1 = 0;
    int errors2 = 0;
    int mode = 0;
};

int word(const Bytes& r, std::size_t at) {
    return r.at(at) << 8 | r.at(at + 1);
}

Live decode(const Bytes& r) {
    Live l;
    l.period = word(r, 2);
    l.reducerTempCode = word(r, 4) & 0x3FF;
    l.status = r.at(6) & 0xF0;
    l.level = word(r, 8) & 0x3FF;
    l.reducerPress = word(r, 10) & 0x3FF;
    l.manifoldPress = word(r, 12) & 0x3FF;
    for (std::size_t c = 0; c < 4; ++c) {
        l.petrol[c] = word(r, 20 + 2 * c);
        l.gas[c] = word(r, 28 + 2 * c);
    }
    l.errors1 = r.at(36);
    l.errors2 = r.at(37);
    l.mode = r.at(38) & 7;
    return l;
}

// Hundredths of a bar of a raw pressure code, as the tool decodes it.
int pressure(int code) {
    return RawToPressure(static_cast<std::uint8_t>(code >> 8),
                         static_cast<std::uint8_t>(code & 0xFF));
}

constexpr int kRunning = 0x80;
constexpr int kPressureNormal = 0x40;
constexpr int kCannotSave = 0x20;
constexpr int kSaved = 0x10;

// Mean per cylinder over a stretch of live replies.
struct Means {
    std::array<double, 4> petrol{};
    std::array<double, 4> gas{};
    double petrolAll() const { return (petrol[0] + petrol[1] + petrol[2] + petrol[3]) / 4; }
};

// A simulated car on an in-memory line, driven by raw requests as the tool sends them.
struct Car {
    explicit Car(const SimOptions& options) : car(sched, line.device(), options) {
        line.host().open();
    }

    Bytes exchange(const Bytes& request) {
        line.host().write(request.data(), request.size());
        sched.advance(5);
        Bytes out(line.host().bytesAvailable());
        out.resize(line.host().read(out.data(), out.size()));
        return out;
    }
    Live live() {
        const Bytes r = exchange(shortRequest(0x23));
        EXPECT_EQ(r.size(), 40u);
        return r.size() == 40 ? decode(r) : Live{};
    }
    void setMode(std::uint8_t modeByte) {
        EXPECT_EQ(exchange(shortRequest(0x22, 0, modeByte)).size(), 3u);
    }
    // ANNOUNCE, then WRITE_PARAMS with (code, value) triples.
    void writeParams(const std::vector<std::pair<std::uint8_t, std::uint16_t>>& values) {
        Bytes body{kCode, 0x32};
        for (const auto& [code, value] : values) {
            body.push_back(code);
            body.push_back(static_cast<std::uint8_t>(value >> 8));
            body.push_back(static_cast<std::uint8_t>(value & 0xFF));
        }
        const Bytes frame = framed(body);
        EXPECT_EQ(
            exchange(shortRequest(0x31, 0x31, static_cast<std::uint8_t>(frame.size()))).size(), 3u);
        EXPECT_EQ(exchange(frame).size(), 3u);
    }
    void runSeconds(double s) { sched.advance(static_cast<std::int64_t>(s * 1000)); }

    Means sample(int replies) {
        Means m;
        for (int i = 0; i < replies; ++i) {
            const Live l = live();
            for (std::size_t c = 0; c < 4; ++c) {
                m.petrol[c] += l.petrol[c] / double(replies);
                m.gas[c] += l.gas[c] / double(replies);
            }
            sched.advance(95);
        }
        return m;
    }

    std::uint16_t param(std::uint8_t code) { return car.ecu().state().params[code]; }

    VirtualScheduler sched;
    MemoryLine line{sched};
    SimCar car;
};

SimOptions warmCar() {
    SimOptions o;
    o.engine.warm = true;
    return o;
}

// The ECU's default diagram as a curve: a diagram that gives exactly the gas needed.
std::vector<CurvePoint> defaultDiagramCurve() {
    std::vector<CurvePoint> curve;
    for (const DiagramItem& p : SimEcu::defaultState().diagram)
        curve.push_back({double(p.petrol & 0x7FFF), double(p.gas)});
    return curve;
}

// The default diagram is one straight line up to 12 ms: 2 ms + 0.92 x petrol time.
double defaultDiagramGas(double petrolUs) {
    return 2000 + 0.92 * petrolUs;
}

// ---- warm-up and switch-over ------------------------------------------------------------

TEST(EngineModel, WarmUpBringsTheReducerPressureUpAndClearsLowPressure) {
    Car car(SimOptions{}); // ambient 20 C, cold reducer
    const Live cold = car.live();
    EXPECT_EQ(cold.status & kRunning, kRunning);
    EXPECT_EQ(cold.status & kPressureNormal, 0) << "a cold reducer holds no pressure";

    car.runSeconds(180);
    const Live warm = car.live();
    EXPECT_EQ(warm.status & kPressureNormal, kPressureNormal);
    EXPECT_LT(warm.reducerTempCode, cold.reducerTempCode) << "warmer reads as a lower code";
    const auto diff = [](const Live& l) {
        return pressure(l.reducerPress) - pressure(l.manifoldPress);
    };
    EXPECT_LT(diff(cold), 50);
    EXPECT_GE(diff(warm), 110); // near the 1.20 bar of a warm reducer
}

// Time from the first reply that meets the switch-over conditions to the first reply in gas
// mode, polling every 50 ms; -1 when it never switches within the limit.
struct SwitchTimes {
    std::int64_t conditionsMs = -1;
    std::int64_t gasMs = -1;
};

template <typename Conditions>
SwitchTimes watchSwitch(Car& car, Conditions conditionsMet, int limitS) {
    SwitchTimes t;
    for (std::int64_t ms = 0; ms < limitS * 1000; ms += 50) {
        const Live l = car.live();
        if (t.conditionsMs < 0 && conditionsMet(l)) t.conditionsMs = car.sched.nowMs();
        if (l.mode == 4) {
            t.gasMs = car.sched.nowMs();
            break;
        }
        EXPECT_EQ(l.mode, 2) << "waiting at " << car.sched.nowMs();
        car.sched.advance(45);
    }
    return t;
}

TEST(EngineModel, AutomaticModeWaitsForTemperatureThenTheDelay) {
    const struct {
        std::uint8_t delayByte; // 0x52 high byte: tenths of a second, 0x80 for none
        int delayMs;
    } cases[] = {{0x14, 2000}, {0x0A, 1000}, {0x80, 0}};
    for (const auto& c : cases) {
        Car car(SimOptions{});
        car.writeParams({{0x52, static_cast<std::uint16_t>(c.delayByte << 8)}});
        car.setMode(0x02);
        const int switchCode = car.param(0x41) & 0x3FF; // 30 C as a sensor code
        const SwitchTimes t = watchSwitch(
            car, [&](const Live& l) { return l.reducerTempCode <= switchCode; }, 120);
        ASSERT_GT(t.conditionsMs, 5000) << "a cold reducer takes a while";
        ASSERT_GT(t.gasMs, 0) << int(c.delayByte);
        EXPECT_GE(t.gasMs - t.conditionsMs, c.delayMs) << int(c.delayByte);
        EXPECT_LE(t.gasMs - t.conditionsMs, c.delayMs + 150) << int(c.delayByte);
    }
}

TEST(EngineModel, AutomaticModeWaitsForTheSwitchOverSpeed) {
    Car car(warmCar());
    const WordBytes rpm1500 = RpmToPeriodBytes(1500);
    car.writeParams({{0x43, static_cast<std::uint16_t>(rpm1500[0] << 8 | rpm1500[1])}});
    car.setMode(0x02);
    car.runSeconds(10);
    EXPECT_EQ(car.live().mode, 2) << "idling at 800 rpm stays below 1500";

    car.car.engine().requestRpm(2000);
    const SwitchTimes t = watchSwitch(
        car,
        [](const Live& l) {
            return l.period > 0 && PeriodToRpm(l.period >> 8, l.period & 0xFF) >= 1500;
        },
        20);
    ASSERT_GT(t.gasMs, 0);
    EXPECT_GE(t.gasMs - t.conditionsMs, 2000 - 50); // the default delay of 2.0 s
    EXPECT_LE(t.gasMs - t.conditionsMs, 2000 + 150);
}

TEST(EngineModel, GasRequestSwitchesAWarmEngineAtOnceAndMakesAColdOneWait) {
    const struct {
        bool warm;
        std::uint8_t modeByte;
        int modeNow;
        std::array<bool, 4> onGas;
    } cases[] = {
        {true, 0xF4, 4, {true, true, true, true}},
        {true, 0x34, 4, {true, true, false, false}},
        {true, 0x04, 4, {true, true, true, true}}, // no cylinders named: all of them
        {false, 0x14, 2, {true, false, false, false}},
    };
    for (const auto& c : cases) {
        SimOptions o;
        o.engine.warm = c.warm;
        Car car(o);
        car.setMode(c.modeByte);
        car.runSeconds(0.2);
        EXPECT_EQ(car.live().mode, c.modeNow) << std::hex << int(c.modeByte);
        if (!c.warm) car.runSeconds(120);
        const Live l = car.live();
        ASSERT_EQ(l.mode, 4) << std::hex << int(c.modeByte);
        for (std::size_t cyl = 0; cyl < 4; ++cyl)
            EXPECT_EQ(l.gas[cyl] > 0, c.onGas[cyl])
                << std::hex << int(c.modeByte) << " cylinder " << cyl + 1;
    }
}

// ---- the petrol ECU's feedback ----------------------------------------------------------

TEST(EngineModel, PetrolTimesOnGasShowWhetherTheDiagramGivesTheRightGas) {
    const struct {
        const char* what;
        std::vector<CurvePoint> trueCurve; // empty: the default, which needs more gas
        double trueGain, trueOffset;
        double minRatio, maxRatio; // petrol on gas / petrol on petrol
    } cases[] = {
        {"diagram equals the true curve", defaultDiagramCurve(), 0, 0, 0.985, 1.015},
        {"too little gas", {}, 1.10, 1920, 1.05, 1.5},
        {"too much gas", {}, 0.90, 1500, 0.6, 0.95},
    };
    for (const auto& c : cases) {
        SimOptions o = warmCar();
        if (!c.trueCurve.empty()) {
            o.engine.trueCurve = c.trueCurve;
        } else {
            o.engine.trueGain = c.trueGain;
            o.engine.trueOffsetUs = c.trueOffset;
        }
        Car car(o);
        const Means petrol = car.sample(20);
        // Cylinder 1 only: the others must keep the petrol times the engine needs.
        car.setMode(0x14);
        car.runSeconds(2);
        const Means gas = car.sample(20);

        const double ratio = gas.petrol[0] / petrol.petrol[0];
        EXPECT_GE(ratio, c.minRatio) << c.what;
        EXPECT_LE(ratio, c.maxRatio) << c.what;
        EXPECT_NEAR(gas.gas[0], defaultDiagramGas(gas.petrol[0]), 0.01 * gas.gas[0])
            << c.what << ": the gas time comes from the petrol time seen";
        for (std::size_t cyl = 1; cyl < 4; ++cyl) {
            EXPECT_NEAR(gas.petrol[cyl], petrol.petrol[cyl], 0.01 * petrol.petrol[cyl]) << c.what;
            EXPECT_EQ(gas.gas[cyl], 0) << c.what;
        }
    }
}

TEST(EngineModel, RpmMapFactorScalesTheGasTime) {
    const struct {
        std::uint8_t factorByte;
        double factor;
    } cases[] = {{128, 1.0}, {192, 1.5}, {96, 0.75}};
    for (const auto& c : cases) {
        Car car(warmCar());
        // Idle at 800 rpm is in the column of 500 rpm, the second; all its rows get the factor.
        std::vector<std::uint8_t>& map = car.car.ecu().state().rpmMap;
        ASSERT_EQ(map.size(), 126u);
        std::fill_n(map.begin() + 2 + 16 + 12 + 12, 12, c.factorByte);
        car.setMode(0xF4);
        car.runSeconds(2);
        const Means m = car.sample(10);
        for (std::size_t cyl = 0; cyl < 4; ++cyl) {
            EXPECT_NEAR(m.gas[cyl], c.factor * defaultDiagramGas(m.petrol[cyl]), 0.01 * m.gas[cyl])
                << int(c.factorByte);
        }
    }
}

TEST(EngineModel, AutoCalibrationLevelSharesTheFuelBetweenPetrolAndGas) {
    // With level 50 gas carries half the fuel: the adjustment value that matches the true
    // curve at half the petrol time keeps the petrol time; less gas raises it, more lowers it.
    const struct {
        int offsetUs;
        double minRatio, maxRatio;
    } cases[] = {{0, 0.985, 1.015}, {-600, 1.05, 3}, {600, 0, 0.95}};
    for (const auto& c : cases) {
        Car car(warmCar());
        const double p = car.sample(20).petrolAll();
        const auto value = static_cast<int>(car.car.engine().trueGasUs(p / 2)) + c.offsetUs;
        car.setMode(0xFC);
        const Bytes acb =
            framed({kCode, 0x3C, 0x03, 50, 0, 0, static_cast<std::uint8_t>(int(p) >> 8),
                    static_cast<std::uint8_t>(int(p) & 0xFF), static_cast<std::uint8_t>(value >> 8),
                    static_cast<std::uint8_t>(value & 0xFF)});
        ASSERT_EQ(car.exchange(shortRequest(0x31, 0x31, 11)).size(), 3u);
        ASSERT_EQ(car.exchange(acb).size(), 3u);
        car.runSeconds(2);
        const Means m = car.sample(20);
        EXPECT_GE(m.petrolAll() / p, c.minRatio) << c.offsetUs;
        EXPECT_LE(m.petrolAll() / p, c.maxRatio) << c.offsetUs;
        EXPECT_NEAR(m.gas[0], value, 1) << "the adjustment value is the gas time";
    }
}

TEST(EngineModel, InjectorsThatCannotKeepUpRaiseTheJetError) {
    SimOptions o = warmCar();
    o.engine.jet = 0.5;
    Car car(o);
    car.setMode(0xF4);
    car.runSeconds(2);
    EXPECT_EQ(car.live().errors2 & 0x02, 0) << "at idle the injectors keep up";

    car.car.engine().requestRpm(6500);
    car.car.engine().setLoad(1.0);
    car.runSeconds(8);
    const Live full = car.live();
    EXPECT_EQ(full.errors2 & 0x02, 0x02);
    const int rpm = PeriodToRpm(full.period >> 8, full.period & 0xFF);
    EXPECT_LE(full.gas[0], 120e6 / rpm) << "never longer than one engine cycle";

    car.car.engine().requestRpm(0);
    car.car.engine().setLoad(0);
    car.runSeconds(8);
    ASSERT_EQ(car.exchange(shortRequest(0x26)).size(), 3u);
    car.runSeconds(1);
    EXPECT_EQ(car.live().errors2, 0) << "cleared, and back at idle it does not return";
}

// ---- MAP points -------------------------------------------------------------------------

TEST(EngineModel, MapPointsAppearPerBandOnlyWhileSaveMapIsOn) {
    for (const bool saveMap : {true, false}) {
        Car car(warmCar());
        ASSERT_EQ(car.exchange(shortRequest(0x29)).size(), 35u); // erase both lists
        ASSERT_EQ(car.exchange(shortRequest(0x2A)).size(), 35u);
        const std::uint16_t p52 = car.param(0x52);
        car.writeParams(
            {{0x52, static_cast<std::uint16_t>(saveMap ? (p52 | 0x02) : (p52 & ~0x02))}});

        // Band of a manifold code: the nearest (k + 1) x 16.
        std::set<int> bands;
        std::vector<std::pair<int, double>> petrolSeen; // band, petrol time
        for (const std::uint8_t modeByte : {0x01, 0xF4}) {
            car.setMode(modeByte);
            for (const double load : {0.0, 0.3, 0.6}) {
                car.car.engine().setLoad(load);
                car.runSeconds(4);
                const Live l = car.live();
                const int band = (l.manifoldPress + 8) / 16 - 1;
                bands.insert(band);
                petrolSeen.push_back(
                    {band, (l.petrol[0] + l.petrol[1] + l.petrol[2] + l.petrol[3]) / 4.0});
            }
        }
        ASSERT_EQ(bands.size(), 3u) << "three loads, three bands";

        const Bytes gas = car.exchange(shortRequest(0x27));
        const Bytes petrol = car.exchange(shortRequest(0x28));
        ASSERT_EQ(gas.size(), 35u);
        ASSERT_EQ(petrol.size(), 35u);
        for (int k = 0; k < 32; ++k) {
            const int g = gas[2 + k] & (k == 0 ? 0x3F : 0xFF);
            const int p = petrol[2 + k] & (k == 0 ? 0x3F : 0xFF);
            const bool visited = bands.count(k) != 0;
            EXPECT_EQ(p != 0, saveMap && visited) << "petrol band " << k;
            EXPECT_EQ(g != 0, saveMap && visited) << "gas band " << k;
        }
        if (!saveMap) continue;
        // Each list holds the petrol time of its fuel in steps of 128 us; on gas the default
        // diagram gives too little gas, so the petrol ECU adds time.
        for (std::size_t i = 0; i < 3; ++i) {
            const auto [band, onPetrol] = petrolSeen[i];
            const auto [gasBand, onGas] = petrolSeen[i + 3];
            ASSERT_EQ(band, gasBand);
            EXPECT_NEAR(petrol[2 + band] * 128, onPetrol, 128) << band;
            EXPECT_NEAR(gas[2 + band] * 128, onGas, 128) << band;
            EXPECT_GT(gas[2 + band], petrol[2 + band]) << band;
        }
    }
}

// ---- status, scenario, determinism --------------------------------------------------------

TEST(EngineModel, NothingIsSavedOnGasAboveIdleUntilTheEngineIdlesAgain) {
    Car car(warmCar());
    car.setMode(0xF4);
    car.car.engine().requestRpm(2500);
    car.runSeconds(3);
    EXPECT_EQ(car.live().status & (kCannotSave | kSaved), kCannotSave);
    car.writeParams({{0x55, 110}});
    EXPECT_EQ(car.param(0x55), 110) << "the write itself is taken";
    EXPECT_EQ(car.live().status & (kCannotSave | kSaved), kCannotSave) << "but not stored yet";

    car.car.engine().requestRpm(0);
    car.runSeconds(3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(car.live().status & (kCannotSave | kSaved), kSaved);
    EXPECT_EQ(car.live().status & (kCannotSave | kSaved), 0) << "reported in three replies";
}

TEST(EngineModel, TimedScenarioStopsAndRestartsTheEngine) {
    SimOptions o = warmCar();
    ASSERT_EQ(ApplySimOption(o, "at=1:engine=off"), "");
    ASSERT_EQ(ApplySimOption(o, "at=6:engine=on"), "");
    Car car(o);
    car.setMode(0xF4);
    car.runSeconds(0.5);
    EXPECT_EQ(car.live().mode, 4);

    car.runSeconds(2);
    const Live off = car.live();
    EXPECT_EQ(off.status & kRunning, 0);
    EXPECT_EQ(off.period, 0);
    EXPECT_EQ(off.petrol, (std::array<int, 4>{}));
    EXPECT_EQ(off.gas, (std::array<int, 4>{}));
    EXPECT_EQ(off.mode, 2) << "a stopped engine waits to switch to gas again";

    car.runSeconds(6);
    const Live again = car.live();
    EXPECT_EQ(again.status & kRunning, kRunning);
    EXPECT_EQ(again.mode, 4) << "warm: back on gas after the switch-over delay";
}

TEST(EngineModel, LevelSensorReadsBetweenTheThresholdsOfTheTank) {
    // Thresholds light at 10, 30, 50, 70 and 90 % of the tank, in the sensor's direction.
    const std::vector<std::pair<std::uint8_t, std::uint16_t>> inverted{
        {0x54, 0x1000 | 806}, {0x55, 512}, {0x56, 306}, {0x57, 213}, {0x58, 47}};
    const struct {
        bool invert;
        double fuelPercent;
        int low, high; // the code lies strictly between
    } cases[] = {
        {false, 5, 0, 55},    {false, 40, 104, 147}, {false, 95, 248, 1024},
        {true, 5, 806, 1024}, {true, 40, 306, 512},  {true, 95, -1, 47},
    };
    for (const auto& c : cases) {
        SimOptions o;
        o.engine.fuel = c.fuelPercent / 100;
        Car car(o);
        if (c.invert) car.writeParams(inverted);
        car.runSeconds(0.2);
        const int level = car.live().level;
        EXPECT_GT(level, c.low) << c.invert << " " << c.fuelPercent;
        EXPECT_LT(level, c.high) << c.invert << " " << c.fuelPercent;
    }
}

TEST(EngineModel, SameSeedGivesTheSameFrames) {
    const auto frames = [](std::uint32_t seed) {
        SimOptions o;
        o.engine.seed = seed;
        Car car(o);
        std::vector<Bytes> out;
        for (int i = 0; i < 100; ++i) {
            if (i == 30) car.setMode(0x02);
            if (i == 60) car.car.engine().setLoad(0.4);
            out.push_back(car.exchange(shortRequest(0x23)));
            car.sched.advance(150);
        }
        return out;
    };
    const auto a = frames(7);
    EXPECT_EQ(frames(7), a);
    EXPECT_NE(frames(8), a) << "the seed drives the noise";
}

// ---- through the tool's link ----------------------------------------------------------------

TEST(EngineModel, TheToolReadsTheCarAsAnEngine) {
    test::TempWorkDir work;
    VirtualScheduler clock;
    MemoryLine line{clock, MemoryLine::kByteTimeUs9600};
    SimCar car(clock, line.device(), warmCar());
    Context ctx(clock, line.host(), work.paths(true));
    ctx.settings.Search_Port = false;
    ctx.link.Main_Shown = true;
    ctx.settings.Port_Name = "ttyTEST0";
    line.host().setPortName("ttyTEST0");
    line.host().open();
    const auto& polling = PollingProgram();
    ASSERT_TRUE(clock.runUntil(
        [&] {
            return ctx.link.ECU_Connected &&
                   std::equal(polling.begin(), polling.end(), ctx.link.Program_Words.begin() + 1);
        },
        10000));
    clock.advance(3000);

    const EngineSnapshot& e = car.engine().snapshot();
    EXPECT_NEAR(ctx.live.Live_RPM, 800, 20);
    EXPECT_NEAR(ctx.live.Live_TempVap, e.reducerTempTenths, 10) << "the sensor matches the table";
    EXPECT_NEAR(ctx.live.Live_TempGas, e.gasTempTenths, 10);
    EXPECT_NEAR(ctx.live.Live_PressColl, e.manifoldHundredths, 1);
    EXPECT_NEAR(ctx.live.Live_PressDiff, e.reducerHundredths - e.manifoldHundredths, 2);
    EXPECT_NEAR(ctx.live.Live_Petrol_Avg,
                (e.petrolUs[0] + e.petrolUs[1] + e.petrolUs[2] + e.petrolUs[3]) / 4, 30);
    EXPECT_EQ(ctx.live.Work_Mode, 1);
    EXPECT_EQ(ctx.config.PG_Temper, 30);
    EXPECT_EQ(ctx.config.PG_RPM, 600);
}

// ---- options -------------------------------------------------------------------------------

TEST(SimOptions, KeyValueOptions) {
    const struct {
        const char* text;
        bool ok;
    } cases[] = {
        {"code=26", true},
        {"code=24", false},
        {"firmware=1.60", true},
        {"firmware=", false},
        {"N=45", true},
        {"N=300", false},
        {"drop=3", true},
        {"split_gap=700", true},
        {"load=30", true},
        {"load=130", false},
        {"rpm=2500", true},
        {"engine=off", true},
        {"engine=maybe", false},
        {"jet=0.7", true},
        {"jet=x", false},
        {"true_curve=0:2000,25000:30000", true},
        {"true_curve=0:2000,0:3000", false},
        {"true_curve=0:2000", false},
        {"errors2=0x0C", true},
        {"at=2.5:rpm=2500", true},
        {"at=1:bogus=1", false},
        {"at=1:load=200", false},
        {"at=rpm=2", false},
        {"at=3:unplug=0", true},
        {"unplug=maybe", false},
        {"state=car.txt", true},
        {"state=", false},
        {"at=5:state=car.txt", false},
        {"bogus=1", false},
        {"load", false},
    };
    for (const auto& c : cases) {
        SimOptions o;
        EXPECT_EQ(ApplySimOption(o, c.text).empty(), c.ok) << c.text;
    }

    SimOptions o;
    for (const char* text : {"code=23", "firmware=3.62", "N=45", "seed=9", "corrupt=4", "load=30",
                             "errors2=0x0C", "at=2.5:rpm=2500", "true_curve=0:2000,25000:30000"}) {
        ASSERT_EQ(ApplySimOption(o, text), "") << text;
    }
    EXPECT_EQ(o.code, 23);
    EXPECT_EQ(o.firmware, "3.62");
    EXPECT_EQ(o.identLength, 45);
    EXPECT_EQ(o.engine.seed, 9u);
    EXPECT_EQ(o.faults.seed, 9u);
    EXPECT_EQ(o.faults.corruptEvery, 4);
    EXPECT_DOUBLE_EQ(o.engine.load, 0.3);
    EXPECT_EQ(o.engine.errors2, 0x0C);
    ASSERT_EQ(o.engine.timeline.size(), 1u);
    EXPECT_EQ(o.engine.timeline[0].atMs, 2500);
    EXPECT_EQ(o.engine.timeline[0].key, "rpm");
    ASSERT_EQ(o.engine.trueCurve.size(), 2u);

    const EcuState s = MakeEcuState(o);
    EXPECT_EQ(s.programCode, 23);
    EXPECT_EQ(s.firmwareVersion, "3.62");
    EXPECT_EQ(s.identLength, 45);
}

} // namespace
} // namespace bifuel::sim
