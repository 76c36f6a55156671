#include "EngineModel.h"

#include "LiveFrame.h"

#include "data/Calc_Unit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

namespace bifuel::sim {

namespace {

constexpr int kCylinders = EngineSnapshot::kCylinders;

constexpr std::uint8_t kStatusCannotSave = 0x20;
constexpr std::uint8_t kError2Jets = 0x02; // gas injectors cannot deliver enough

// Mode byte of SET_MODE.
constexpr std::uint8_t kSetPetrol = 0x01;
constexpr std::uint8_t kSetAutomatic = 0x02;
constexpr std::uint8_t kSetGas = 0x04;
constexpr std::uint8_t kSetWide = 0x08;

// Parameters the engine follows.
constexpr std::uint8_t kParamSwitchTemp = 0x41;
constexpr std::uint8_t kParamSwitchRpm = 0x43;
constexpr std::uint8_t kParamMinPressure = 0x44;
constexpr std::uint8_t kParamSwitchTime = 0x52; // high: delay in tenths; low bit 1: Save_Map
constexpr std::uint8_t kSaveMapBit = 0x02;
constexpr std::uint8_t kNoSwitchDelay = 0x80;
constexpr std::uint8_t kParamLevel1 = 0x54; // 0x54..0x58: level thresholds 1..5

// Engine behaviour.
constexpr double kStartRpm = 300;     // below this the engine is not running
constexpr double kSpinRpmPerS = 3000; // how fast a starting or stopping engine turns
constexpr double kMaxRpm = 7000;
constexpr double kIdleManifoldBar = 0.35; // absolute, at no load
constexpr double kAtmosphereBar = 1.0;
constexpr double kManifoldTauS = 0.3;
constexpr double kDeadTimeUs = 600;   // petrol injector opening time
constexpr double kUsPerBar = 6200;    // petrol time per bar of manifold pressure
constexpr double kWarmReducerC = 80;  // the reducer sits in the cooling circuit
constexpr double kColdPressureC = 20; // below: the reducer gives 10 % of its pressure
constexpr double kWarmPressureC = 45; // above: full pressure
constexpr double kColdPressureShare = 0.1;
constexpr double kPressureTauS = 1.0;
constexpr double kCoolingFactor = 10; // cooling down takes ten times the warm-up
constexpr double kGasTempShare = 0.3; // gas warms to 30 % of the reducer's rise
constexpr double kTrimMin = 0.5;      // the petrol ECU's correction limits
constexpr double kTrimMax = 2.0;
constexpr double kInjectorDuty = 0.85; // share of a cycle an injector may be open
constexpr double kMaxGasUs = 32000;
constexpr double kIdleRpmLimit = 1500;      // above this on gas nothing is stored
constexpr int kMapSettleTicks = 20;         // the petrol ECU settles before MAP recording
constexpr double kSteadyBarPerTick = 0.002; // manifold change of a steady load
constexpr double kMapSmoothing = 0.25;
constexpr double kUsPerMapStep = 128;
constexpr double kFuelPerGasMs = 4e-8; // share of the tank per millisecond of gas
constexpr double kMinuteMs = 60000;
constexpr double kCylinderSpread = 0.03; // cylinders differ by up to +-1.5 %
constexpr double kNeedNoise = 0.003;
constexpr double kRpmNoise = 5;
constexpr double kLevelNoise = 2;

// The reducer's temperature sensor as the ECU reads it: an NTC of 10 kOhm at 25 C,
// Beta 3950 K, below a 2.2 kOhm pull-up on a 10-bit converter; the code falls as the
// temperature rises. The program's temperature table is made from the same sensor.
int temperatureCode(double celsius) {
    const double kelvin = std::clamp(celsius, -40.0, 150.0) + 273.15;
    const double ohms = 10000.0 * std::exp(3950.0 * (1.0 / kelvin - 1.0 / 298.15));
    const double volts = 5.0 * ohms / (ohms + 2200.0);
    return std::clamp(static_cast<int>(std::lround(volts * 1023.0 / 5.0)), 0, 1023);
}

double approach(double value, double target, double maxStep) {
    if (value < target) return std::min(target, value + maxStep);
    return std::max(target, value - maxStep);
}

double lag(double value, double target, double dtS, double tauS) {
    return value + (target - value) * (1.0 - std::exp(-dtS / tauS));
}

void putWord(std::vector<std::uint8_t>& out, std::size_t at, int value) {
    const int v = std::clamp(value, 0, 0xFFFF);
    out[at] = static_cast<std::uint8_t>(v >> 8);
    out[at + 1] = static_cast<std::uint8_t>(v & 0xFF);
}

bool inRange(int v, int lo, int hi) {
    return v >= lo && v <= hi;
}

} // namespace

// ---- curves ---------------------------------------------------------------------------

double EngineModel::Curve::at(double v) const {
    if (n == 0) return 0;
    if (n == 1) return y[0];
    int k = 1;
    while (k < n - 1 && v > x[static_cast<std::size_t>(k)])
        ++k;
    const auto i = static_cast<std::size_t>(k);
    return y[i - 1] + (v - x[i - 1]) * (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
}

double EngineModel::Curve::inverse(double v) const {
    if (n == 0) return 0;
    if (n == 1) return x[0];
    int k = 1;
    while (k < n - 1 && v > y[static_cast<std::size_t>(k)])
        ++k;
    const auto i = static_cast<std::size_t>(k);
    if (y[i] == y[i - 1]) return x[i];
    return x[i - 1] + (v - y[i - 1]) * (x[i] - x[i - 1]) / (y[i] - y[i - 1]);
}

// ---- life cycle ------------------------------------------------------------------------

EngineModel::EngineModel(Scheduler& scheduler, SimEcu& ecu, EngineOptions options)
    : scheduler_(scheduler), ecu_(ecu), state_(ecu.state()), options_(std::move(options)),
      timer_(scheduler.createTimer(kTickMs)), rng_(options_.seed) {
    std::stable_sort(options_.timeline.begin(), options_.timeline.end(),
                     [](const TimedChange& a, const TimedChange& b) { return a.atMs < b.atMs; });
    for (double& s : spread_) {
        s = 1.0 + kCylinderSpread * noise() / 2;
    }
    trim_.fill(1.0);
    applyChange("true_curve");

    const bool running = options_.running;
    rpm_ = running ? options_.idleRpm : 0;
    manifoldBar_ = running ? kIdleManifoldBar + (kAtmosphereBar - kIdleManifoldBar) * options_.load
                           : kAtmosphereBar;
    reducerC_ = options_.warm ? kWarmReducerC : options_.ambientC;
    gasC_ = options_.ambientC + kGasTempShare * (reducerC_ - options_.ambientC);
    fuel_ = options_.fuel;
    errors1_ = options_.errors1;
    errors2_ = options_.errors2;
    step(0);

    timer_->setOnFire([this] { tick(); });
    timer_->start();
    ecu_.setModel(this);
    if (options_.unplugged) ecu_.setLineCut(true);
}

EngineModel::~EngineModel() {
    ecu_.setModel(nullptr);
}

void EngineModel::tick() {
    elapsedMs_ += kTickMs;
    applyTimeline();
    step(kTickMs / 1000.0);
}

// ---- scenario ----------------------------------------------------------------------------

std::string EngineModel::apply(std::string_view key, std::string_view value) {
    if (key == "seed" || key == "at") return std::string(key) + " can only be given at start";
    if (std::string error = ApplyEngineOption(options_, key, value); !error.empty()) return error;
    applyChange(key);
    return {};
}

void EngineModel::applyChange(std::string_view key) {
    if (key == "true_curve" || key == "true_gain" || key == "true_offset") {
        trueCurve_ = {};
        if (options_.trueCurve.size() >= 2) {
            for (const CurvePoint& p : options_.trueCurve) {
                if (trueCurve_.n == 9) break;
                const auto i = static_cast<std::size_t>(trueCurve_.n++);
                trueCurve_.x[i] = p.petrolUs;
                trueCurve_.y[i] = p.gasUs;
            }
        } else {
            trueCurve_.n = 2;
            trueCurve_.x = {0, 25000};
            trueCurve_.y = {options_.trueOffsetUs,
                            options_.trueOffsetUs + options_.trueGain * 25000};
        }
    } else if (key == "warm" && options_.warm) {
        reducerC_ = kWarmReducerC;
    } else if (key == "fuel") {
        fuel_ = options_.fuel;
    } else if (key == "errors1") {
        errors1_ |= options_.errors1;
    } else if (key == "errors2") {
        errors2_ |= options_.errors2;
    } else if (key == "unplug") {
        ecu_.setLineCut(options_.unplugged);
    }
}

void EngineModel::applyTimeline() {
    while (nextChange_ < options_.timeline.size() &&
           options_.timeline[nextChange_].atMs <= elapsedMs_) {
        const TimedChange& c = options_.timeline[nextChange_++];
        // Checked when the option was taken, so this cannot fail.
        apply(c.key, c.value);
    }
}

void EngineModel::setRunning(bool running) {
    options_.running = running;
}

void EngineModel::requestRpm(int rpm) {
    options_.targetRpm = std::clamp(rpm, 0, static_cast<int>(kMaxRpm));
}

void EngineModel::setLoad(double fraction) {
    options_.load = std::clamp(fraction, 0.0, 1.0);
}

double EngineModel::trueGasUs(double petrolUs) const {
    return trueCurve_.at(petrolUs);
}

// ---- the ECU's inputs --------------------------------------------------------------------

std::uint16_t EngineModel::param(std::uint8_t code) const {
    const auto it = state_.params.find(code);
    return it == state_.params.end() ? 0 : it->second;
}

// Firmware 1.55 to 1.99 has no pressure sensors and no gas temperature input.
bool EngineModel::hasPressureSensors() const {
    std::string v = state_.firmwareVersion;
    std::replace(v.begin(), v.end(), ',', '.');
    const auto first = v.find_first_not_of(' ');
    if (first == std::string::npos) return true;
    double version = 0;
    const auto res = std::from_chars(v.data() + first, v.data() + v.size(), version);
    if (res.ec != std::errc{} || !std::isfinite(version) || std::fabs(version) > 1e6) return true;
    return !inRange(static_cast<int>(version * 100 + 1e-6), 155, 199);
}

bool EngineModel::warmEnough() const {
    // The ECU compares converter codes: a warmer reducer gives a lower code.
    return temperatureCode(reducerC_) <= (param(kParamSwitchTemp) & 0x3FF);
}

double EngineModel::noise() {
    return static_cast<double>(rng_()) / 2147483648.0 - 1.0;
}

// ---- modes --------------------------------------------------------------------------------

// The reported mode changes at once; the injection times follow at the next tick.
void EngineModel::setModeNow(std::uint8_t mode, std::uint8_t mask) {
    if (mode != mode_ || mask != mask_) ticksInMode_ = 0;
    mode_ = mode;
    mask_ = mask;
    now_.mode = mode;
    now_.gasMask = mask;
}

void EngineModel::setMode(std::uint8_t modeByte) {
    if (modeByte & kSetGas) {
        std::uint8_t mask = static_cast<std::uint8_t>((modeByte >> 4) & 0x0F);
        if (mask == 0) mask = 0x0F; // no cylinders named: the whole engine
        wideGas_ = (modeByte & kSetWide) != 0;
        if (!wideGas_) acbOn_ = false;
        // Forced to gas: at once when the reducer is warm, otherwise the ECU waits as in
        // automatic mode and then switches these cylinders.
        if (now_.running && warmEnough()) {
            setModeNow(4, mask);
        } else {
            setModeNow(2, mask);
            autoWaitMs_ = -1;
        }
    } else if (modeByte & kSetAutomatic) {
        acbOn_ = false;
        if (mode_ != 2) autoWaitMs_ = -1;
        setModeNow(2, 0x0F);
    } else if (modeByte & kSetPetrol) {
        acbOn_ = false;
        setModeNow(1, mask_);
    }
}

// Automatic mode switches to gas once the reducer is warm and the engine fast enough, and
// has stayed so for the switch-over delay. An engine that stops falls back to waiting.
void EngineModel::updateMode(double dtS) {
    if (!now_.running) {
        if (mode_ == 4) setModeNow(2, mask_);
        autoWaitMs_ = -1;
        return;
    }
    if (mode_ != 2) return;
    const std::uint16_t pgRpmWord = param(kParamSwitchRpm);
    const int pgRpm = PeriodToRpm(static_cast<std::uint8_t>(pgRpmWord >> 8),
                                  static_cast<std::uint8_t>(pgRpmWord & 0xFF));
    const int delayByte = param(kParamSwitchTime) >> 8;
    const double delayMs = delayByte == kNoSwitchDelay ? 0 : delayByte * 100.0;
    if (warmEnough() && rpm_ >= pgRpm) {
        // The delay counts from the first tick that met the conditions.
        if (autoWaitMs_ < 0) {
            autoWaitMs_ = 0;
        } else {
            autoWaitMs_ += dtS * 1000;
        }
        if (autoWaitMs_ >= delayMs - 1e-6) setModeNow(4, mask_);
    } else {
        autoWaitMs_ = -1;
    }
}

void EngineModel::autoCalibration(const std::uint8_t* data, std::size_t n) {
    // flags, level, 0, 0, petrol reference (2), adjustment value (2)
    if (n < 8) return;
    acbOn_ = (data[0] & 0x03) != 0;
    acbShare_ = std::min<int>(data[1], 100) / 100.0;
    acbGasUs_ = (data[6] << 8) | data[7];
}

void EngineModel::clearErrors() {
    errors1_ = 0;
    errors2_ = 0;
    now_.errors1 = 0;
    now_.errors2 = 0;
}

bool EngineModel::canSaveNow() const {
    return !now_.cannotSave;
}

// ---- gas --------------------------------------------------------------------------------

// The factor of the RPM map cell the engine is in: the last column whose speed is below
// the engine's, the last row whose petrol time is below the one seen.
double EngineModel::rpmFactor(double petrolUs) const {
    const std::vector<std::uint8_t>& m = state_.rpmMap;
    if (m.size() < 2) return 1.0;
    const std::size_t cols = m[0];
    const std::size_t rows = m[1];
    if (cols < 1 || cols > 8 || rows < 1 || rows > 12) return 1.0;
    const std::size_t rowAt = 2 + 2 * cols;
    const std::size_t cellAt = rowAt + rows;
    if (m.size() < cellAt + cols * rows) return 1.0;
    std::size_t col = 0;
    for (std::size_t c = cols; c-- > 0;) {
        if (PeriodToRpm(m[2 + 2 * c], m[3 + 2 * c]) < rpm_) {
            col = c;
            break;
        }
    }
    std::size_t row = 0;
    for (std::size_t r = rows; r-- > 0;) {
        if (m[rowAt + r] * 100.0 < petrolUs) {
            row = r;
            break;
        }
    }
    return m[cellAt + col * rows + row] / 128.0;
}

// The gas time the ECU injects for a petrol time; `capped` when the injector cannot stay
// open that long in one engine cycle.
double EngineModel::gasTimeFor(double petrolUs, bool acb, bool& capped) const {
    const double wanted =
        acb ? acbGasUs_ : std::max(0.0, diagram_.at(petrolUs)) * rpmFactor(petrolUs);
    const double window = rpm_ > 0 ? 120e6 / rpm_ * kInjectorDuty : kMaxGasUs;
    const double limit = std::min(window, kMaxGasUs);
    capped = wanted > limit;
    return std::min(wanted, limit);
}

// ---- MAP points and level ----------------------------------------------------------------

// Per band of manifold pressure, the petrol time seen on petrol and on gas. Band k stands
// for the pressure code (k + 1) x (N div 2); a code goes to the nearest band.
void EngineModel::recordMapPoint() {
    const std::size_t count = std::min<std::size_t>(state_.mapPointCount, 32);
    const int half = static_cast<int>(count / 2);
    if (half == 0 || !now_.running || !hasPressureSensors()) {
        stableTicks_ = 0;
        return;
    }
    const int code = PressureToRaw(1, now_.manifoldHundredths, 0);
    const auto band = static_cast<std::size_t>(
        std::clamp(static_cast<int>(std::lround(static_cast<double>(code) / half)) - 1, 0,
                   static_cast<int>(count) - 1));
    // Only a steady load counts: the pressure settled and in one band for a while, so
    // neither a passing pressure nor a petrol ECU still settling leaves a point.
    const bool steady = std::fabs(manifoldBar_ - lastManifoldBar_) < kSteadyBarPerTick;
    stableTicks_ = (band == lastBand_ && steady) ? stableTicks_ + 1 : 0;
    lastBand_ = band;
    if (!(param(kParamSwitchTime) & kSaveMapBit) || stableTicks_ < kMapSettleTicks ||
        ticksInMode_ < kMapSettleTicks) {
        return;
    }

    double sum = 0;
    int used = 0;
    for (int c = 0; c < kCylinders; ++c) {
        const bool onGas = mode_ == 4 && (mask_ & (1 << c));
        if (onGas == (mode_ == 4)) {
            sum += now_.petrolUs[static_cast<std::size_t>(c)];
            ++used;
        }
    }
    if (used == 0) return;
    const double petrolUs = sum / used;

    const bool gasList = mode_ == 4;
    std::vector<std::uint8_t>& list = gasList ? state_.mapGas : state_.mapPetrol;
    std::vector<double>& smooth = gasList ? mapGasUs_ : mapPetrolUs_;
    if (list.size() < count) list.resize(count, 0);
    smooth.resize(count, 0);
    // An erased list starts its bands afresh.
    double& s = smooth[band];
    s = (list[band] == 0 || s == 0) ? petrolUs : s + (petrolUs - s) * kMapSmoothing;
    // The first byte's top two bits are not part of the value.
    const int top = band == 0 ? 0x3F : 0xFF;
    list[band] = static_cast<std::uint8_t>(
        std::clamp(static_cast<int>(std::lround(s / kUsPerMapStep)), 1, top));
}

// The level sensor between its five thresholds (lit at 10, 30, 50, 70 and 90 % of the
// tank), in whichever direction the configured sensor runs.
int EngineModel::levelCode() const {
    std::array<double, 7> codes{};
    std::array<double, 7> at{0, 0.1, 0.3, 0.5, 0.7, 0.9, 1.0};
    const std::uint16_t l1 = param(kParamLevel1);
    codes[1] = ((l1 >> 8) & 0x03) << 8 | (l1 & 0xFF);
    for (std::uint8_t i = 1; i < 5; ++i)
        codes[1 + i] = param(static_cast<std::uint8_t>(kParamLevel1 + i)) & 0x3FF;
    codes[0] = codes[1] - (codes[2] - codes[1]) / 2;
    codes[6] = codes[5] + (codes[5] - codes[4]) / 2;
    std::size_t k = 1;
    while (k < 6 && fuel_ > at[k])
        ++k;
    const double code =
        codes[k - 1] + (fuel_ - at[k - 1]) * (codes[k] - codes[k - 1]) / (at[k] - at[k - 1]);
    return std::clamp(static_cast<int>(std::lround(code)), 0, 1023);
}

// ---- one step ------------------------------------------------------------------------------

void EngineModel::step(double dtS) {
    const double rpmNoise = stepSpeed(dtS);
    stepPressuresAndTemperatures(dtS);
    updateMode(dtS);
    ++ticksInMode_;
    loadDiagram();
    const double gasMsPerS = injectCylinders(dtS);
    // The tank empties with the gas injected.
    fuel_ = std::max(0.0, fuel_ - kFuelPerGasMs * gasMsPerS * dtS);
    countWorkingMinutes(dtS);
    publishSnapshot(rpmNoise);
    recordMapPoint();
}

// The speed and whether the engine runs; returns the speed's noise of this tick.
double EngineModel::stepSpeed(double dtS) {
    const bool wantRunning = options_.running;

    // Speed: the driver's foot follows the requested speed at a human pace; a starting or
    // stopping engine spins up or down faster.
    const double target =
        wantRunning ? (options_.targetRpm > 0 ? options_.targetRpm : options_.idleRpm) : 0.0;
    const double rate = (!wantRunning || rpm_ < kStartRpm) ? kSpinRpmPerS : options_.rampRpmPerS;
    rpm_ = approach(rpm_, target, rate * dtS);
    const double rpmNoise = noise() * kRpmNoise;
    now_.running = wantRunning && rpm_ >= kStartRpm;
    return rpmNoise;
}

void EngineModel::stepPressuresAndTemperatures(double dtS) {
    const bool running = now_.running;
    // Manifold pressure follows the throttle; a stopped engine sees the atmosphere.
    const double load = options_.load;
    lastManifoldBar_ = manifoldBar_;
    const double manifoldTarget =
        running ? kIdleManifoldBar + (kAtmosphereBar - kIdleManifoldBar) * load : kAtmosphereBar;
    if (dtS > 0) manifoldBar_ = lag(manifoldBar_, manifoldTarget, dtS, kManifoldTauS);

    // The reducer warms with the cooling water; the gas takes part of that warmth.
    const double ambient = options_.ambientC;
    if (dtS > 0) {
        const double tau = running ? options_.warmupS : options_.warmupS * kCoolingFactor;
        reducerC_ = lag(reducerC_, running ? kWarmReducerC : ambient, dtS, tau);
        gasC_ = lag(gasC_, ambient + kGasTempShare * (reducerC_ - ambient), dtS, 2 * tau);
    }

    // A cold reducer vaporizes too little gas to hold its pressure.
    const double warmth =
        std::clamp((reducerC_ - kColdPressureC) / (kWarmPressureC - kColdPressureC), 0.0, 1.0);
    const double diffTarget = running ? options_.reducerDiff / 100.0 *
                                            (kColdPressureShare + (1 - kColdPressureShare) * warmth)
                                      : 0.0;
    diffBar_ = dtS > 0 ? lag(diffBar_, diffTarget, dtS, kPressureTauS) : diffTarget;
}

// Cylinders: what the engine needs, and what the petrol ECU commands for it, by the
// diagram the ECU holds.
void EngineModel::loadDiagram() {
    diagram_ = {};
    for (const DiagramItem& item : state_.diagram) {
        const double x = item.petrol & 0x7FFF;
        if (diagram_.n > 0 && x <= diagram_.x[static_cast<std::size_t>(diagram_.n - 1)]) continue;
        const auto i = static_cast<std::size_t>(diagram_.n++);
        diagram_.x[i] = x;
        diagram_.y[i] = item.gas;
    }
}

// Each cylinder's times; returns the gas injected, in ms per second.
double EngineModel::injectCylinders(double dtS) {
    const bool running = now_.running;
    // Fuel by air: the manifold pressure, with enrichment as it nears full load.
    const double airLoad = std::clamp(
        (manifoldBar_ - kIdleManifoldBar) / (kAtmosphereBar - kIdleManifoldBar), 0.0, 1.0);
    const double baseNeed =
        running ? kDeadTimeUs + kUsPerBar * manifoldBar_ * (1 + 0.5 * airLoad) : 0.0;
    const bool acb = acbOn_ && wideGas_ && mode_ == 4;
    bool anyCapped = false;
    double gasMsPerS = 0;
    for (int c = 0; c < kCylinders; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const double need = baseNeed * spread_[i] * (1 + kNeedNoise * noise());
        const bool onGas = running && mode_ == 4 && (mask_ & (1 << c));
        double petrol = need;
        double gas = 0;
        if (!onGas) {
            trim_[i] = 1.0;
        } else {
            // The mixture the petrol ECU sees: the petrol still injected (none on plain gas)
            // plus what the gas delivered stands for in petrol, by the true curve.
            const auto delivered = [&](double t, bool& capped) {
                const double g = gasTimeFor(t, acb, capped);
                const double fromPetrol = acb ? (1 - acbShare_) * t : 0.0;
                return std::pair{g, fromPetrol + trueCurve_.inverse(g * options_.jet)};
            };
            bool capped = false;
            const double seen = delivered(need * trim_[i], capped).second;
            if (dtS > 0) {
                // Half the error per tick: settles within a few ticks.
                const double ratio = need / std::max(seen, 1.0);
                trim_[i] = std::clamp(trim_[i] * std::sqrt(ratio), kTrimMin, kTrimMax);
            }
            petrol = need * trim_[i];
            gas = delivered(petrol, capped).first;
            anyCapped = anyCapped || capped;
        }
        now_.neededUs[i] = static_cast<int>(std::lround(need));
        now_.petrolUs[i] = static_cast<int>(std::lround(petrol));
        now_.gasUs[i] = static_cast<int>(std::lround(gas));
        gasMsPerS += gas / 1000 * rpm_ / 120;
    }
    if (anyCapped) errors2_ |= kError2Jets;
    return gasMsPerS;
}

// Hours on each fuel, in whole minutes.
void EngineModel::countWorkingMinutes(double dtS) {
    if (!now_.running) return;
    double& ms = mode_ == 4 ? gasMinuteMs_ : petrolMinuteMs_;
    std::uint32_t& minutes = mode_ == 4 ? state_.workGasMinutes : state_.workPetrolMinutes;
    ms += dtS * 1000;
    while (ms >= kMinuteMs) {
        ms -= kMinuteMs;
        minutes = (minutes + 1) & 0xFFFFFF;
    }
}

void EngineModel::publishSnapshot(double rpmNoise) {
    const bool running = now_.running;
    const bool sensors = hasPressureSensors();
    now_.rpm =
        running ? static_cast<int>(std::lround(std::clamp(rpm_ + rpmNoise, 0.0, kMaxRpm))) : 0;
    now_.manifoldHundredths = static_cast<int>(std::lround(manifoldBar_ * 100));
    now_.reducerHundredths = static_cast<int>(std::lround((manifoldBar_ + diffBar_) * 100));
    now_.reducerTempTenths = static_cast<int>(std::lround(reducerC_ * 10));
    now_.gasTempTenths = static_cast<int>(std::lround(gasC_ * 10));
    now_.levelCode =
        std::clamp(levelCode() + static_cast<int>(std::lround(kLevelNoise * noise())), 0, 1023);
    now_.mode = mode_;
    now_.gasMask = mask_;
    const std::uint16_t minWord = param(kParamMinPressure);
    const int minHundredths = RawToPressure(static_cast<std::uint8_t>(minWord >> 8),
                                            static_cast<std::uint8_t>(minWord & 0xFF));
    now_.pressureNormal = !sensors || std::lround(diffBar_ * 100) >= minHundredths;
    now_.cannotSave = running && mode_ == 4 && rpm_ > kIdleRpmLimit;
    now_.errors1 = errors1_;
    now_.errors2 = errors2_;
    now_.fuel = fuel_;
}

// ---- the live reply ------------------------------------------------------------------------

std::vector<std::uint8_t> EngineModel::liveData() const {
    // Bytes the engine does not drive keep what the ECU state holds.
    std::vector<std::uint8_t> out = state_.live;
    out.resize(std::max(out.size(), live::kLength), 0);
    const bool sensors = hasPressureSensors();

    putWord(out, live::kPeriod,
            now_.running ? static_cast<int>(std::lround(30e6 / std::max(now_.rpm, 1))) : 0);
    putWord(out, live::kReducerTemp, temperatureCode(now_.reducerTempTenths / 10.0));
    putWord(out, live::kGasTemp, sensors ? temperatureCode(now_.gasTempTenths / 10.0) : 0);
    out[live::kGasTemp] = static_cast<std::uint8_t>(
        (out[live::kGasTemp] & 0x03) | (now_.running ? live::kStatusEngineRunning : 0) |
        (now_.pressureNormal ? live::kStatusPressureNormal : 0) |
        (now_.cannotSave ? kStatusCannotSave : 0));
    putWord(out, live::kLevel, now_.levelCode);
    putWord(out, live::kReducerPress, sensors ? PressureToRaw(1, now_.reducerHundredths, 0) : 0);
    putWord(out, live::kManifoldPress, sensors ? PressureToRaw(1, now_.manifoldHundredths, 0) : 0);
    for (std::size_t c = 0; c < kCylinders; ++c) {
        putWord(out, live::kPetrolTimes + 2 * c, now_.petrolUs[c]);
        putWord(out, live::kGasTimes + 2 * c, now_.gasUs[c]);
    }
    out[live::kErrors1] = now_.errors1;
    out[live::kErrors2] = now_.errors2;
    out[live::kMode] = static_cast<std::uint8_t>((out[live::kMode] & ~0x07) | now_.mode);
    return out;
}

} // namespace bifuel::sim
