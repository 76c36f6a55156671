#include "SimOptions.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <sstream>

namespace bifuel::sim {

namespace {

// Decimal, or hexadecimal with 0x.
std::optional<long long> parseInt(std::string_view s) {
    s = TrimBlanks(s);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    long long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
    return v;
}

std::optional<double> parseDouble(std::string_view s) {
    s = TrimBlanks(s);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<bool> parseBool(std::string_view s) {
    s = TrimBlanks(s);
    if (s == "1" || s == "on" || s == "yes" || s == "true") return true;
    if (s == "0" || s == "off" || s == "no" || s == "false") return false;
    return std::nullopt;
}

std::string bad(std::string_view key, std::string_view value, std::string_view expected) {
    return "option " + std::string(key) + "=" + std::string(value) + ": expected " +
           std::string(expected);
}

// An integer within lo..hi into `out`.
template <typename T>
std::string takeInt(std::string_view key, std::string_view value, long long lo, long long hi,
                    T& out) {
    const auto v = parseInt(value);
    if (!v || *v < lo || *v > hi)
        return bad(key, value, "an integer " + std::to_string(lo) + ".." + std::to_string(hi));
    out = static_cast<T>(*v);
    return {};
}

std::string takeDouble(std::string_view key, std::string_view value, double lo, double hi,
                       double& out, double scale = 1.0) {
    const auto v = parseDouble(value);
    if (!v || *v < lo || *v > hi) {
        std::ostringstream range;
        range << "a number " << lo << ".." << hi;
        return bad(key, value, range.str());
    }
    out = *v * scale;
    return {};
}

// "P:G,P:G,..." with 2..9 points, both coordinates rising.
std::string takeCurve(std::string_view key, std::string_view value, std::vector<CurvePoint>& out) {
    std::vector<CurvePoint> points;
    std::string_view rest = TrimBlanks(value);
    const char* expected = "2..9 points P:G (microseconds), both rising, separated by commas";
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        const auto colon = item.find(':');
        if (colon == std::string_view::npos) return bad(key, value, expected);
        const auto p = parseDouble(item.substr(0, colon));
        const auto g = parseDouble(item.substr(colon + 1));
        if (!p || !g || *p < 0 || *g < 0 || *p > 65535 || *g > 65535)
            return bad(key, value, expected);
        if (!points.empty() && (*p <= points.back().petrolUs || *g <= points.back().gasUs))
            return bad(key, value, expected);
        points.push_back({*p, *g});
    }
    if (points.size() < 2 || points.size() > 9) return bad(key, value, expected);
    out = std::move(points);
    return {};
}

} // namespace

std::string ApplyEngineOption(EngineOptions& o, std::string_view key, std::string_view value) {
    key = TrimBlanks(key);
    if (key == "seed") return takeInt(key, value, 0, 0xFFFFFFFFll, o.seed);
    if (key == "engine") {
        const auto b = parseBool(value);
        if (!b) return bad(key, value, "on or off");
        o.running = *b;
        return {};
    }
    if (key == "idle") return takeInt(key, value, 500, 1500, o.idleRpm);
    if (key == "rpm") return takeInt(key, value, 0, 7000, o.targetRpm);
    if (key == "load") return takeDouble(key, value, 0, 100, o.load, 0.01);
    if (key == "ramp") return takeDouble(key, value, 1, 100000, o.rampRpmPerS);
    if (key == "ambient") return takeDouble(key, value, -40, 50, o.ambientC);
    if (key == "warm") {
        const auto b = parseBool(value);
        if (!b) return bad(key, value, "0 or 1");
        o.warm = *b;
        return {};
    }
    if (key == "warmup") return takeDouble(key, value, 1, 3600, o.warmupS);
    if (key == "reducer") return takeInt(key, value, 0, 400, o.reducerDiff);
    if (key == "fuel") return takeDouble(key, value, 0, 100, o.fuel, 0.01);
    if (key == "jet") return takeDouble(key, value, 0.2, 5, o.jet);
    // The last of the curve and the line given is the one that counts.
    if (key == "true_gain" || key == "true_offset") {
        std::string error = key == "true_gain" ? takeDouble(key, value, 0.1, 5, o.trueGain)
                                               : takeDouble(key, value, 0, 10000, o.trueOffsetUs);
        if (error.empty()) o.trueCurve.clear();
        return error;
    }
    if (key == "true_curve") return takeCurve(key, value, o.trueCurve);
    if (key == "errors1") return takeInt(key, value, 0, 255, o.errors1);
    if (key == "errors2") return takeInt(key, value, 0, 255, o.errors2);
    if (key == "unplug") {
        const auto b = parseBool(value);
        if (!b) return bad(key, value, "1 or 0");
        o.unplugged = *b;
        return {};
    }
    if (key == "at") {
        // SECONDS:KEY=VALUE, a scenario change at that time.
        const auto colon = value.find(':');
        const auto eq = value.find('=');
        const char* expected = "SECONDS:KEY=VALUE";
        if (colon == std::string_view::npos || eq == std::string_view::npos || eq < colon)
            return bad(key, value, expected);
        const auto seconds = parseDouble(value.substr(0, colon));
        if (!seconds || *seconds < 0 || *seconds > 1e6) return bad(key, value, expected);
        TimedChange change{static_cast<std::int64_t>(std::llround(*seconds * 1000)),
                           std::string(TrimBlanks(value.substr(colon + 1, eq - colon - 1))),
                           std::string(TrimBlanks(value.substr(eq + 1)))};
        if (change.key == "at" || change.key == "seed") return bad(key, value, expected);
        // Check the change now, so a mistake shows at start and not minutes later.
        EngineOptions probe = o;
        if (std::string error = ApplyEngineOption(probe, change.key, change.value); !error.empty())
            return error;
        o.timeline.push_back(std::move(change));
        return {};
    }
    return "unknown option " + std::string(key);
}

std::string ApplySimOption(SimOptions& o, std::string_view keyValue) {
    const auto eq = keyValue.find('=');
    if (eq == std::string_view::npos)
        return "option " + std::string(keyValue) + ": expected KEY=VALUE";
    const std::string_view key = TrimBlanks(keyValue.substr(0, eq));
    const std::string_view value = TrimBlanks(keyValue.substr(eq + 1));

    if (key == "code") {
        const auto v = parseInt(value);
        if (!v || (*v != 23 && *v != 25 && *v != 26)) return bad(key, value, "23, 25 or 26");
        o.code = static_cast<std::uint8_t>(*v);
        return {};
    }
    if (key == "firmware" || key == "model" || key == "date") {
        if (value.empty()) return bad(key, value, "a text");
        (key == "firmware" ? o.firmware : key == "model" ? o.model : o.date) = std::string(value);
        return {};
    }
    if (key == "state") {
        if (value.empty()) return bad(key, value, "a file name");
        o.stateFile = std::string(value);
        return {};
    }
    if (key == "N") return takeInt(key, value, 1, 250, o.identLength);
    if (key == "speed") return takeDouble(key, value, 0.01, 10000, o.replaySpeed);
    if (key == "drop") return takeInt(key, value, 0, 1000000, o.faults.dropEvery);
    if (key == "corrupt") return takeInt(key, value, 0, 1000000, o.faults.corruptEvery);
    if (key == "echo") return takeInt(key, value, 0, 1000000, o.faults.wrongEchoEvery);
    if (key == "loopback") {
        int on = 0;
        if (std::string error = takeInt(key, value, 0, 1, on); !error.empty()) return error;
        o.faults.loopback = on == 1;
        return {};
    }
    if (key == "split") return takeInt(key, value, 0, 1000000, o.faults.splitEvery);
    if (key == "split_gap") return takeInt(key, value, 0, 60000, o.faults.splitGapMs);
    if (key == "surplus") return takeInt(key, value, 0, 1000000, o.faults.surplusEvery);
    if (key == "surplus_bytes") return takeInt(key, value, 1, 64, o.faults.surplusBytes);
    if (key == "seed") {
        if (std::string error = ApplyEngineOption(o.engine, key, value); !error.empty())
            return error;
        o.faults.seed = o.engine.seed;
        return {};
    }
    return ApplyEngineOption(o.engine, key, value);
}

std::string SimOptionHelp() {
    return "ECU:\n"
           "  code=23|25|26       program code the ECU answers (25)\n"
           "  firmware=VERSION    firmware version text (2.54)\n"
           "  model=TEXT          model text (KestraLX)\n"
           "  date=TEXT           firmware date text (2014.03.12)\n"
           "  N=LENGTH            identification block length reported (42)\n"
           "  state=FILE          keep the ECU's memory (name, parameters, diagram, MAP lists,\n"
           "                      RPM map) in FILE between runs; made from the defaults when\n"
           "                      missing, saved after every write the ECU acknowledges\n"
           "  speed=N             a replayed log (port replay:FILE) plays N times faster than\n"
           "                      it was recorded (1)\n"
           "Line faults (every K-th reply; 0 = never):\n"
           "  drop=K corrupt=K echo=K split=K surplus=K\n"
           "  loopback=1          no ECU: the line returns every byte it is sent\n"
           "  split_gap=MS        gap between the halves of a split reply (600)\n"
           "  surplus_bytes=N     extra bytes after a surplus reply (3)\n"
           "  seed=N              seed of the noise, the cylinder spread and surplus bytes (1)\n"
           "Engine and line (also at run time, as KEY=VALUE lines on bifuel-sim's standard\n"
           "input):\n"
           "  engine=on|off       engine running (on)\n"
           "  idle=RPM            idle speed (800)\n"
           "  rpm=RPM             speed the driver holds, 0 = idle (0)\n"
           "  ramp=RPM_PER_S      how fast the driver changes the speed (1500)\n"
           "  load=PERCENT        engine load (0)\n"
           "  ambient=DEGREES     outside temperature (20)\n"
           "  warm=0|1            start with a warm reducer (0)\n"
           "  warmup=SECONDS      time constant of the warm-up (60)\n"
           "  reducer=HUNDREDTHS  reducer pressure over the manifold when warm (120)\n"
           "  fuel=PERCENT        gas in the tank (60)\n"
           "  jet=FACTOR          gas jet capacity, 1 = right size (1)\n"
           "  true_gain=F true_offset=US   gas time the engine needs: offset + gain x petrol"
           " time (1.10, 1920)\n"
           "  true_curve=P:G,...  or 2..9 points petrol:gas in microseconds\n"
           "  errors1=BYTE errors2=BYTE   error flags raised at start (0)\n"
           "  unplug=1|0          cut the line or restore it: the in-process port vanishes\n"
           "                      as an unplugged adapter; on a terminal the ECU falls silent\n"
           "                      and drops what it receives (0)\n"
           "  at=SECONDS:KEY=VALUE         change a key of this group at that time (repeatable),\n"
           "                      e.g. at=30:engine=off, at=10:unplug=1 at=15:unplug=0\n";
}

EcuState MakeEcuState(const SimOptions& o) {
    EcuState s = SimEcu::defaultState();
    s.programCode = o.code;
    s.firmwareVersion = o.firmware;
    s.model = o.model;
    s.firmwareDate = o.date;
    s.identLength = static_cast<std::uint8_t>(o.identLength);
    return s;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

} // namespace bifuel::sim
