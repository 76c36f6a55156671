#include "data/Calc_Unit.h"

#include "data/Temperature_Table.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace bifuel {

namespace {

constexpr std::int32_t kSensorMask = 0x3FF;
constexpr std::int32_t kStoppedPeriod = 0xFFFF;
constexpr std::int32_t kShortestPeriod = 3750; // 8000 rpm
constexpr std::int32_t kPeriodTimesRpm = 30000000;
// Hundredths of a bar per raw step times 100 at the default sensor scale 1315
// (1315 * 0.2046 * 0.8479).
constexpr double kDefaultPressureDivisor = 228.1266471;
constexpr std::int32_t kDefaultPressScale = 1315;
constexpr std::int32_t kMaxPercent = 99; // 100 % would need 128/128, which has no 7-bit form

// value / 10^decimals written out exactly, with a point. Some twenty numbers are shown
// per live reply, so the digits go into a buffer and become one string.
std::string ScaledText(std::int64_t scaled, int decimals) {
    decimals = std::clamp(decimals, 0, 17);
    char buffer[48];
    char* const end = buffer + sizeof buffer;
    char* p = end;
    const bool negative = scaled < 0;
    std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    const bool nonZero = magnitude != 0;
    // Right to left, with as many leading zeros as the decimals need ("0.05").
    for (int written = 0; magnitude != 0 || written <= decimals; ++written) {
        if (decimals > 0 && written == decimals) *--p = '.';
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    }
    if (negative && nonZero) *--p = '-';
    return std::string(p, end);
}

// a / b rounded half away from zero, for b > 0.
std::int64_t DivideRounded(std::int64_t a, std::int64_t b) {
    return a < 0 ? -((-a * 2 + b) / (2 * b)) : (a * 2 + b) / (2 * b);
}

} // namespace

// ---- Numbers -----------------------------------------------------------------------

std::int32_t TruncToInt(double x) {
    if (std::isnan(x)) return 0;
    const double t = std::trunc(x);
    // Saturate instead of the undefined conversion of an out-of-range double.
    if (t >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (t <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(t);
}

std::optional<double> TextToFloat(std::string_view text) {
    if (text.empty()) return 0.0;
    // Surrounding blanks are tolerated, as a typed or stored number may carry them.
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    if (begin == end) return std::nullopt;
    std::string normal(text.substr(begin, end - begin));
    for (char& c : normal) {
        if (c == ',') c = '.';
    }
    // from_chars does not take a leading '+'; a typed "+5" is still a number.
    std::size_t start = (normal[0] == '+') ? 1 : 0;
    if (start == normal.size() || (start == 1 && normal[1] == '-')) return std::nullopt;
    double value = 0.0;
    const char* first = normal.data() + start;
    const char* last = normal.data() + normal.size();
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::int32_t PercentOf(std::int32_t value, std::uint8_t percent) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(value) * percent / 100);
}

std::int32_t CountBits(std::uint8_t value) {
    return std::popcount(value);
}

// ---- Raw words -----------------------------------------------------------------------

std::int32_t BytesToWord(std::uint8_t hi, std::uint8_t lo) {
    return hi * 256 + lo;
}

WordBytes WordToBytes(std::int32_t value) {
    return {static_cast<std::uint8_t>((value / 256) & 0xFF),
            static_cast<std::uint8_t>(value & 0xFF)};
}

std::int32_t PeriodToRpm(std::uint8_t hi, std::uint8_t lo) {
    const std::int32_t period = BytesToWord(hi, lo);
    if (period == 0 || period == kStoppedPeriod) return 0;
    return kPeriodTimesRpm / std::max(period, kShortestPeriod);
}

WordBytes RpmToPeriodBytes(std::int32_t rpm) {
    if (rpm <= 0) return {0, 0};
    // Below 458 rpm the period needs more than 16 bits; cutting it would send a much
    // higher speed, so the longest period that still means a running engine is sent.
    return WordToBytes(std::clamp(kPeriodTimesRpm / rpm, 1, kStoppedPeriod - 1));
}

std::int32_t RawToPressure(std::uint8_t hi, std::uint8_t lo) {
    const std::int32_t raw = BytesToWord(hi, lo) & kSensorMask;
    return TruncToInt(raw * 100 / kDefaultPressureDivisor + 0.5);
}

std::int32_t PressureToRaw(std::int32_t divisor, std::int32_t target, std::int32_t pressScale) {
    if (divisor < 1) divisor = 1;
    // A scale of 0 decodes nothing; the default scale is what this program decodes with.
    const double scale = pressScale > 0 ? pressScale : kDefaultPressScale;
    const double k = scale * 0.2046 * 0.8479;
    const auto decoded = [&](std::int32_t raw) {
        return TruncToInt(raw * 100 / k + 0.5) / divisor;
    };
    const auto distance = [&](std::int32_t value) {
        return std::llabs(static_cast<std::int64_t>(value) - target);
    };

    // Walk from the estimate toward the target: the first code that reads back as the
    // target wins, even where a lower one would too. The walk ends at the edge of the
    // 10-bit range or where the target falls between two neighbouring codes.
    std::int32_t raw = std::clamp(
        TruncToInt(static_cast<double>(divisor) * target * 0.2046 * scale * 0.8479 / 100), 0,
        kMaxSensorCode);
    std::int32_t value = decoded(raw);
    const std::int32_t step = value < target ? 1 : -1;
    while (value != target) {
        const std::int32_t next = raw + step;
        if (next < 0 || next > kMaxSensorCode) break;
        const std::int32_t nextValue = decoded(next);
        if ((step > 0) ? nextValue > target : nextValue < target) {
            // Between two codes: the nearer one, the lower on a tie.
            const std::int64_t dNext = distance(nextValue);
            const std::int64_t dRaw = distance(value);
            if (dNext < dRaw || (dNext == dRaw && next < raw)) raw = next;
            break;
        }
        raw = next;
        value = nextValue;
    }
    return raw;
}

WordBytes PressureToBytes(std::int32_t divisor, std::int32_t target, std::int32_t pressScale) {
    return WordToBytes(PressureToRaw(divisor, target, pressScale));
}

std::int32_t RawToTemperature(TemperatureTable& table, std::uint8_t hi, std::uint8_t lo) {
    const TemperatureTable::Entries* entries = table.Load();
    if (!entries) return 0;
    return (*entries)[static_cast<std::size_t>(BytesToWord(hi, lo) & kSensorMask)];
}

std::optional<WordBytes> TemperatureToBytes(TemperatureTable& table, std::int32_t degrees) {
    const TemperatureTable::Entries* entries = table.Load();
    if (!entries) return std::nullopt;
    const std::int64_t target = static_cast<std::int64_t>(degrees) * 10;
    // The table runs one way, so the first code where the distance grows again ends the
    // walk; on equal distances the later code wins.
    std::int64_t best = std::llabs((*entries)[0] - target);
    std::int32_t code = 0;
    for (std::size_t i = 1; i < entries->size(); ++i) {
        const std::int64_t d = std::llabs((*entries)[i] - target);
        if (d > best) break;
        best = d;
        code = static_cast<std::int32_t>(i);
    }
    // The nearest entry may lie just below the whole degree (29.9 for 30), which reads back
    // a degree lower, and every write and read would then lose a degree. Prefer the
    // nearest neighbouring code that reads back as the degree asked for.
    const auto readsBack = [&](std::int32_t c) {
        return (*entries)[static_cast<std::size_t>(c)] / 10 == degrees;
    };
    if (!readsBack(code)) {
        constexpr std::int32_t kReach = 16;
        std::int32_t chosen = -1;
        std::int64_t chosenDistance = 0;
        for (std::int32_t c = std::max(0, code - kReach);
             c <= std::min<std::int32_t>(kMaxSensorCode, code + kReach); ++c) {
            if (!readsBack(c)) continue;
            const std::int64_t d = std::llabs((*entries)[static_cast<std::size_t>(c)] - target);
            if (chosen < 0 || d < chosenDistance) {
                chosen = c;
                chosenDistance = d;
            }
        }
        if (chosen >= 0) code = chosen;
    }
    return WordToBytes(code);
}

std::int32_t RawTimesTwo(std::uint8_t hi, std::uint8_t lo) {
    return (BytesToWord(hi, lo) & kSensorMask) * 2;
}

WordBytes HalfToBytes(std::int32_t value) {
    return WordToBytes(value / 2);
}

// ---- Correction percentages ------------------------------------------------------------

WordBytes PercentToBytes(std::int32_t percent, std::int32_t companion, std::int32_t scale) {
    if (percent == 0 || companion == 0) return {kNoPercent, 0};
    // Beyond 99 the count of 128ths reaches bit 7 and would read back with the wrong sign.
    const std::int32_t magnitude = std::abs(std::clamp(percent, -kMaxPercent, kMaxPercent));
    // The smallest count of 128ths that reads back as the magnitude: 2..127, never 5.
    std::int32_t count = magnitude * 128 / 100;
    while (count * 100 / 128 != magnitude)
        ++count;
    const auto first = static_cast<std::uint8_t>(count | (percent < 0 ? 0x80 : 0));
    const std::int64_t second = static_cast<std::int64_t>(count) * (scale / 128) / companion;
    return {first, static_cast<std::uint8_t>(second & 0xFF)};
}

std::optional<std::int32_t> SignedPercentFromByte(std::uint8_t b) {
    if (b == 0 || b == kNoPercent) return std::nullopt;
    // (b & 0x7F) / 128 * 100 truncated, in integers: the fraction is exact either way.
    const std::int32_t magnitude = (b & 0x7F) * 100 / 128;
    return (b & 0x80) ? -magnitude : magnitude;
}

std::optional<std::int32_t> PercentFromByte(std::uint8_t b) {
    if (b == 0 || b == kNoPercent) return std::nullopt;
    // b * 100 / 128 rounded half up, exactly (a floating 0.005 would round 144 down).
    return (b * 200 + 128) / 256;
}

WordBytes UnsignedPercentToBytes(std::int32_t percent, std::int32_t companion, std::int32_t scale,
                                 std::optional<std::uint8_t> held) {
    if (percent == 0 || companion == 0) return {kNoPercent, 0};
    constexpr std::int32_t kMaxUnsignedPercent = 199; // byte 255
    const std::int32_t p = std::clamp(percent, 1, kMaxUnsignedPercent);
    std::int32_t count = 0;
    if (held && PercentFromByte(*held) == p) {
        count = *held;
    } else {
        // The byte nearest to p % of 128; it is off by at most half a byte, which reads
        // as less than half a percent, so it always reads back as p.
        count = (128 * p + 50) / 100;
        if (count == kNoPercent) ++count;
    }
    const std::int64_t second = static_cast<std::int64_t>(count) * (scale / 128) / companion;
    return {static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(second & 0xFF)};
}

// ---- Lines through diagram points ------------------------------------------------------

std::optional<bool> MapLine9(std::span<std::int32_t, 9> x, std::span<std::int32_t, 9> y,
                             LinePoint a, LinePoint b, std::int32_t gasAxisMax) {
    if (a.x == b.x) return std::nullopt;
    const double dx = static_cast<double>(a.x) - b.x;
    const double dy = static_cast<double>(a.y) - b.y;
    for (std::size_t i = 0; i < 9; ++i)
        y[i] = TruncToInt((x[i] - static_cast<double>(b.x)) / dx * dy + b.y);
    if (y[8] <= gasAxisMax) return true;
    y[8] = gasAxisMax;
    // A flat line above the ceiling never meets it; the end keeps its x.
    if (dy != 0) x[8] = TruncToInt((gasAxisMax - static_cast<double>(b.y)) / dy * dx + b.x);
    return false;
}

std::int32_t MapRange(std::span<const std::int32_t, 9> source,
                      std::span<const std::int32_t, 9> target, std::int32_t index) {
    const std::size_t i = static_cast<std::size_t>(std::clamp(index, 0, 8));
    const double extent = static_cast<double>(source[8]) - source[0];
    if (extent == 0) return target[0];
    return TruncToInt((source[i] - static_cast<double>(source[0])) / extent *
                          (static_cast<double>(target[8]) - target[0]) +
                      target[0]);
}

// ---- Texts ---------------------------------------------------------------------------

std::string FixedText(double value, int decimals) {
    decimals = std::clamp(decimals, 0, 17);
    char buffer[512];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return "0";
    std::string text(buffer, end);
    // A value that rounds to zero shows no sign.
    if (text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos) text.erase(0, 1);
    return text;
}

std::string CommaToPoint(std::string_view text) {
    std::string result(text);
    std::replace(result.begin(), result.end(), ',', '.');
    return result;
}

std::string_view BoolToText(bool value) {
    return value ? "True" : "False";
}

std::string InjTimeToText(std::int32_t microseconds) {
    return ScaledText(microseconds / 10, 2);
}

std::string TenthsToText(std::int32_t tenths) {
    return ScaledText(tenths, 1);
}

std::string HundredthsToText(std::int32_t hundredths) {
    std::int64_t v = hundredths;
    // Three significant digits: from 10.00 on, the last digits are rounded away.
    std::int64_t unit = 1;
    for (std::int64_t m = v < 0 ? -v : v; m >= 1000; m /= 10)
        unit *= 10;
    if (unit > 1) v = DivideRounded(v, unit) * unit;
    return ScaledText(v, 2);
}

std::string AdcToVoltText(std::int32_t code) {
    return ScaledText(DivideRounded(static_cast<std::int64_t>(code) * 500, kMaxSensorCode), 2);
}

namespace {
constexpr std::string_view kFontStyleNames[] = {"vgFontRegular", "vgFontBold", "vgFontItalic",
                                                "vgFontBoldItalic"};
}

std::string_view FontStyleToName(std::int32_t style) {
    return kFontStyleNames[CheckFontStyle(style)];
}

std::int32_t FontNameToStyle(std::string_view name) {
    for (std::int32_t style = 1; style <= 3; ++style) {
        if (kFontStyleNames[style] == name) return style;
    }
    return 0;
}

std::int32_t CheckFontStyle(std::int32_t style) {
    return (style >= 1 && style <= 3) ? style : 0;
}

std::string ColorToText(std::uint32_t argb) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "#FF";
    for (int shift = 20; shift >= 0; shift -= 4)
        text += kDigits[(argb >> shift) & 0xF];
    return text;
}

std::uint32_t TextToColor(std::string_view text) {
    const auto pair = [&](std::size_t at) -> std::uint32_t {
        return at < text.size() ? HexPairToByte(text.substr(at)) : 0;
    };
    // "#AARRGGBB": red at 3, green at 5, blue at 7.
    return 0xFF000000u | (pair(3) << 16) | (pair(5) << 8) | pair(7);
}

std::uint8_t HexPairToByte(std::string_view text) {
    const auto digit = [&](std::size_t at) -> int {
        if (at >= text.size()) return 0;
        const char c = text[at];
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return 0;
    };
    return static_cast<std::uint8_t>(digit(0) * 16 + digit(1));
}

} // namespace bifuel
