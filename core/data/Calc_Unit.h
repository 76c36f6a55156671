#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace bifuel {

class TemperatureTable;

// Two bytes of a frame as the ECU sends them: [0] the high byte, [1] the low byte.
using WordBytes = std::array<std::uint8_t, 2>;

// The decoded value of a raw code stops growing here: 10-bit sensor codes.
inline constexpr std::int32_t kMaxSensorCode = 1023;

// ---- Numbers -----------------------------------------------------------------------

// The integer part of x, truncated toward zero (3.9 gives 3, -3.9 gives -3).
std::int32_t TruncToInt(double x);

// Parses a number written with a point or a comma as decimal separator, whatever the
// locale. Empty text gives 0; text that is not a number gives no value.
std::optional<double> TextToFloat(std::string_view text);

// value * percent / 100, truncated toward zero.
std::int32_t PercentOf(std::int32_t value, std::uint8_t percent);

// The number of set bits of a byte.
std::int32_t CountBits(std::uint8_t value);

// ---- Raw words -----------------------------------------------------------------------

std::int32_t BytesToWord(std::uint8_t hi, std::uint8_t lo);
// High byte: value / 256 (toward zero) cut to 8 bits; low byte: the low 8 bits of value.
WordBytes WordToBytes(std::int32_t value);

// Engine speed from an ignition period: 0 for a stopped engine (period 0 or 0xFFFF),
// never above 8000 rpm.
std::int32_t PeriodToRpm(std::uint8_t hi, std::uint8_t lo);
// The period of an engine speed. 0 rpm (or less) gives 0, 0; a speed too low for 16 bits
// sends the longest period that does not read as a stopped engine.
WordBytes RpmToPeriodBytes(std::int32_t rpm);

// Hundredths of a bar from the low 10 bits of a raw word, always with the default sensor
// scale.
std::int32_t RawToPressure(std::uint8_t hi, std::uint8_t lo);
// The 10-bit code whose pressure, divided by divisor (1 for hundredths, 10 for tenths of a
// bar), reads back as target with the ECU's sensor scale pressScale. A target that no code
// reaches gives the nearest code; a scale of 0 or less falls back to the default scale.
std::int32_t PressureToRaw(std::int32_t divisor, std::int32_t target, std::int32_t pressScale);
WordBytes PressureToBytes(std::int32_t divisor, std::int32_t target, std::int32_t pressScale);

// Tenths of a degree for the low 10 bits of a raw word; 0 when the table is unavailable.
std::int32_t RawToTemperature(TemperatureTable& table, std::uint8_t hi, std::uint8_t lo);
// The code whose table entry is nearest to degrees (whole degrees); no value when the table
// is unavailable.
std::optional<WordBytes> TemperatureToBytes(TemperatureTable& table, std::int32_t degrees);

// (low 10 bits of the word) * 2, and its inverse: the bytes of value / 2.
std::int32_t RawTimesTwo(std::uint8_t hi, std::uint8_t lo);
WordBytes HalfToBytes(std::int32_t value);

// ---- Correction percentages ------------------------------------------------------------

// The ECU's byte for "no value": the ECU then uses its own default.
inline constexpr std::uint8_t kNoPercent = 5;

// [0]: the magnitude in 128ths with bit 7 as sign; [1]: the companion byte.
// 0 % or a zero companion gives 5, 0 (no value). Percentages are held to -99..+99.
WordBytes PercentToBytes(std::int32_t percent, std::int32_t companion, std::int32_t scale);
// Signed percent from a byte; no value for 0 and 5.
std::optional<std::int32_t> SignedPercentFromByte(std::uint8_t b);
// Unsigned percent from a byte, rounded half up; no value for 0 and 5.
std::optional<std::int32_t> PercentFromByte(std::uint8_t b);

// The unsigned form, for the code PercentFromByte reads: [0] the whole byte as a count of
// 128ths (no sign bit), the one nearest to the percentage; [1] the companion byte as
// PercentToBytes makes it. 0 % or a zero companion gives 5, 0. Percentages are held to
// what a byte reads as, 1..199; 4 % alone has no byte of its own (it would be 5, "no
// value") and goes as 6, which reads 5 %.
// Some pairs of bytes read as one percentage; `held`, the byte the ECU reported, is kept
// when it still reads as `percent`, so a value read goes back as the same byte.
WordBytes UnsignedPercentToBytes(std::int32_t percent, std::int32_t companion, std::int32_t scale,
                                 std::optional<std::uint8_t> held = std::nullopt);

// ---- Lines through diagram points ------------------------------------------------------

struct LinePoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// Puts y[0..8] on the line through b and a at x[0..8]. When y[8] passes gasAxisMax it is
// held there and x[8] moves back to where the line meets that ceiling. Returns whether the
// end point stayed where x[8] put it (true) or was moved onto the ceiling (false); no value,
// and nothing changed, when a and b share an x (no line to follow).
std::optional<bool> MapLine9(std::span<std::int32_t, 9> x, std::span<std::int32_t, 9> y,
                             LinePoint a, LinePoint b, std::int32_t gasAxisMax);

// source[index] mapped linearly from source[0]..source[8] onto target[0]..target[8].
// A source without extent gives target[0]; index is held to 0..8.
std::int32_t MapRange(std::span<const std::int32_t, 9> source,
                      std::span<const std::int32_t, 9> target, std::int32_t index);

// ---- Texts (always with a point as decimal separator) ------------------------------------

// value in fixed notation with the given decimals (0..17), rounded to nearest.
std::string FixedText(double value, int decimals);
std::string CommaToPoint(std::string_view text);
std::string_view BoolToText(bool value);

// Milliseconds with 2 decimals, truncated to 10 us: 12345 gives "12.34".
std::string InjTimeToText(std::int32_t microseconds);
// v / 10 with 1 decimal: -125 gives "-12.5".
std::string TenthsToText(std::int32_t tenths);
// v / 100 with 2 decimals and at most 3 significant digits: 448 gives "4.48".
std::string HundredthsToText(std::int32_t hundredths);
// Volts of a 10-bit code over 0..5 V with 2 decimals: 512 gives "2.50".
std::string AdcToVoltText(std::int32_t code);

// 1 bold, 2 italic, 3 bold italic, anything else regular.
std::string_view FontStyleToName(std::int32_t style);
// The inverse of FontStyleToName; an unknown name gives 0 (regular).
std::int32_t FontNameToStyle(std::string_view name);
// style for 1..3, otherwise 0.
std::int32_t CheckFontStyle(std::int32_t style);

// A colour is 0xAARRGGBB. Its text is "#FFRRGGBB": colours from the system are opaque.
std::string ColorToText(std::uint32_t argb);
// Red, green and blue from "#AARRGGBB"; the alpha pair is ignored and the result opaque.
std::uint32_t TextToColor(std::string_view text);
// The first two characters as hexadecimal digits (either case); anything else counts 0.
std::uint8_t HexPairToByte(std::string_view text);

} // namespace bifuel
