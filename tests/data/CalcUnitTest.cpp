#include "data/Calc_Unit.h"
#include "data/Temperature_Table.h"
#include "runtime/VirtualScheduler.h"

#include "CommaLocale.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace bifuel {
namespace {

namespace fs = std::filesystem;

// The two bytes as one number, so that failures print readably.
int Word(WordBytes b) {
    return b[0] * 256 + b[1];
}

WordBytes Bytes(int word) {
    return {static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word & 0xFF)};
}

// ---- Numbers and raw words -------------------------------------------------------------

TEST(CalcUnit, TruncToIntCutsTowardZeroAndSaturates) {
    const std::pair<double, std::int32_t> cases[] = {
        {0.0, 0},
        {3.9, 3},
        {-3.9, -3},
        {0.5, 0},
        {-0.5, 0},
        {1e12, 2147483647},
        {-1e12, -2147483647 - 1},
        {std::nan(""), 0},
    };
    for (const auto& [x, expected] : cases)
        EXPECT_EQ(TruncToInt(x), expected) << x;
}

TEST(CalcUnit, TextToFloatTakesPointOrCommaAndRefusesGarbage) {
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"2,5", 2.5},
        {"2.5", 2.5},
        {"", 0.0},
        {"-1,25", -1.25},
        {" 12 ", 12.0},
        {"+5", 5.0},
        {"abc", std::nullopt},
        {"1,2.3", std::nullopt},
        {"2.5x", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"+-1", std::nullopt},
        {"   ", std::nullopt},
        {"+", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(TextToFloat(text), expected) << text;
}

TEST(CalcUnit, PercentOfAndCountBits) {
    EXPECT_EQ(PercentOf(1000, 30), 300);
    EXPECT_EQ(PercentOf(-1001, 30), -300);           // toward zero
    EXPECT_EQ(PercentOf(100000000, 255), 255000000); // no 32-bit overflow on the way
    EXPECT_EQ(CountBits(0x00), 0);
    EXPECT_EQ(CountBits(0xA5), 4);
    EXPECT_EQ(CountBits(0xFF), 8);
}

TEST(CalcUnit, WordsAreHighByteFirst) {
    EXPECT_EQ(BytesToWord(0x12, 0x34), 0x1234);
    EXPECT_EQ(BytesToWord(0xFF, 0xFF), 65535);
    const std::pair<std::int32_t, int> cases[] = {
        {0x1234, 0x1234}, {0, 0},
        {65535, 0xFFFF},  {70000, 0x1170}, // each byte keeps its low 8 bits
        {-1, 0x00FF},                      // -1 / 256 is 0 toward zero
        {-256, 0xFF00},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(Word(WordToBytes(value)), expected) << value;
}

TEST(CalcUnit, PeriodToRpmStopsAtZeroAndCapsAt8000) {
    const std::pair<int, std::int32_t> cases[] = {
        {0xFFFF, 0},  {0x0000, 0},  {1, 8000},    {3749, 8000},  {3750, 8000},
        {3751, 7997}, {7500, 4000}, {50000, 600}, {0xFFFE, 457},
    };
    for (const auto& [period, rpm] : cases) {
        const WordBytes b = Bytes(period);
        EXPECT_EQ(PeriodToRpm(b[0], b[1]), rpm) << period;
    }
}

TEST(CalcUnit, RpmToPeriodBytesHasNoCeilingButNeverWraps) {
    const std::pair<std::int32_t, int> cases[] = {
        {600, 0xC350},
        {0, 0x0000},
        {-600, 0x0000},
        {8000, 3750},
        {9000, 3333}, // faster than the decoder shows: sent as is
        {458, 65502},
        {100, 0xFFFE}, // 300000 does not fit: the slowest running speed, not a
                       // wrapped one
        {40000000, 1}, // a period of 0 would read as a stopped engine
    };
    for (const auto& [rpm, period] : cases)
        EXPECT_EQ(Word(RpmToPeriodBytes(rpm)), period) << rpm;
    // Every switch-over speed the setup page offers reads back unchanged.
    for (std::int32_t rpm = 600; rpm <= 2000; rpm += 100) {
        const WordBytes b = RpmToPeriodBytes(rpm);
        EXPECT_EQ(PeriodToRpm(b[0], b[1]), rpm);
    }
}

// ---- Pressure --------------------------------------------------------------------------

TEST(CalcUnit, RawToPressureUsesTheLow10BitsRoundedHalfUp) {
    const std::pair<int, std::int32_t> cases[] = {
        {0x03FF, 448}, {0xFC00, 0}, {0x0000, 0}, {0x0072, 50},
        {0x0472, 50},  {0x0001, 0}, {0x0002, 1}, {0x0200, 224},
    };
    for (const auto& [word, pressure] : cases) {
        const WordBytes b = Bytes(word);
        EXPECT_EQ(RawToPressure(b[0], b[1]), pressure) << word;
    }
}

TEST(CalcUnit, PressureToRawKeepsTheFirstCodeFoundFromTheEstimate) {
    // 113 reads back as 5 tenths as well; the walk from the estimate stops at 114.
    EXPECT_EQ(PressureToRaw(10, 5, 1315), 114);
    EXPECT_EQ(Word(PressureToBytes(10, 5, 1315)), 0x0072);
    EXPECT_EQ(PressureToRaw(10, 4, 1315), 91);
}

TEST(CalcUnit, PressureToRawReadsBackEveryReachablePressure) {
    for (std::int32_t hundredths = 0; hundredths <= 448; ++hundredths) {
        const WordBytes b = PressureToBytes(1, hundredths, 1315);
        EXPECT_EQ(RawToPressure(b[0], b[1]), hundredths);
    }
    for (std::int32_t tenths = 0; tenths <= 44; ++tenths) {
        const WordBytes b = PressureToBytes(10, tenths, 1315);
        EXPECT_EQ(RawToPressure(b[0], b[1]) / 10, tenths);
    }
}

TEST(CalcUnit, PressureToRawEndsOnTargetsNoCodeReaches) {
    struct Case {
        std::int32_t divisor, target, scale, raw;
    };
    const Case cases[] = {
        {1, 500, 1315, 1023}, // above the sensor's range: the top code, not a wrapped one
        {1, -3, 1315, 0},
        {1, 4, 100, 1},                              // a coarse scale reads 0 then 6: 6 is nearer
        {1, 3, 100, 0},                              // halfway between 0 and 6: the lower code
        {1, 6000, 100, 1023},                        // this scale reads at most 5897
        {0, 100, 1315, PressureToRaw(1, 100, 1315)}, // divisor 0 counts as 1
        // A scale of 0 (or less) decodes nothing; the default scale is used instead.
        {1, 100, 0, PressureToRaw(1, 100, 1315)},
        {10, 5, -7, 114},
        {1, 2147483647, 1315, 1023},
        {1, -2147483647 - 1, 1315, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.divisor << " " << c.target << " " << c.scale);
        EXPECT_EQ(PressureToRaw(c.divisor, c.target, c.scale), c.raw);
    }
}

// ---- Other raw forms and percentages --------------------------------------------------

TEST(CalcUnit, RawTimesTwoAndHalfToBytes) {
    EXPECT_EQ(RawTimesTwo(0x01, 0x78), 752);
    EXPECT_EQ(RawTimesTwo(0xFC, 0x01), 2); // only the low 10 bits count
    EXPECT_EQ(Word(HalfToBytes(1400)), 700);
    EXPECT_EQ(Word(HalfToBytes(1401)), 700);
    EXPECT_EQ(Word(HalfToBytes(-3)), 0x00FF); // -1 toward zero
    for (std::int32_t v = 0; v <= 2046; v += 2) {
        const WordBytes b = HalfToBytes(v);
        EXPECT_EQ(RawTimesTwo(b[0], b[1]), v);
    }
}

TEST(CalcUnit, PercentToBytesEncodesSignedCountsOf128ths) {
    struct Case {
        std::int32_t percent, companion, scale;
        int first, second;
    };
    const Case cases[] = {
        {50, 1, 32768, 64, 0},    // 64 * 256 / 1 = 16384: low byte 0
        {50, 3, 32768, 64, 0x55}, // 16384 / 3 = 5461 = 0x1555
        {50, 114, 32768, 64, 143},
        {-10, 40, 4096, 0x8D, 10}, // 13 with the sign bit; 13 * 32 / 40
        {10, 40, 4096, 13, 10},
        {1, 1, 32768, 2, 0x00},
        {99, 7, 32768, 0x7F, 0x24}, // 127 * 256 / 7 = 4644 = 0x1224
        {-99, 7, 32768, 0xFF, 0x24},
        {0, 114, 32768, 5, 0}, // no value
        {50, 0, 32768, 5, 0},
        {10, -40, 4096, 13, 0xF6}, // negative companion: -10, low 8 bits
        // 100 and above would need 128/128 and reach the sign bit: held to 99.
        {100, 7, 32768, 0x7F, 0x24},
        {150, 7, 32768, 0x7F, 0x24},
        {-150, 7, 32768, 0xFF, 0x24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.percent << " " << c.companion << " " << c.scale);
        const WordBytes b = PercentToBytes(c.percent, c.companion, c.scale);
        EXPECT_EQ(b[0], c.first);
        EXPECT_EQ(b[1], c.second);
    }
}

TEST(CalcUnit, PercentBytesRoundTripWithTheSmallestCount) {
    for (std::int32_t percent = -99; percent <= 99; ++percent) {
        if (percent == 0) continue;
        SCOPED_TRACE(percent);
        const std::uint8_t first = PercentToBytes(percent, 100, 32768)[0];
        EXPECT_EQ(SignedPercentFromByte(first), percent);
        // One 128th less no longer reads back as the percentage.
        EXPECT_NE(SignedPercentFromByte(static_cast<std::uint8_t>(first - 1)), percent);
    }
}

TEST(CalcUnit, PercentFromBytes) {
    const std::pair<int, std::optional<std::int32_t>> signedCases[] = {
        {0, std::nullopt}, {5, std::nullopt}, {0x8D, -10}, {0x40, 50}, {0x7F, 99},
        {0xFF, -99},       {0x85, -3},        {0x80, 0},   {1, 0},
    };
    for (const auto& [b, percent] : signedCases)
        EXPECT_EQ(SignedPercentFromByte(static_cast<std::uint8_t>(b)), percent) << b;
    const std::pair<int, std::optional<std::int32_t>> unsignedCases[] = {
        {0, std::nullopt}, {5, std::nullopt}, {90, 70},   {64, 50}, {16, 13}, // 12.5 up
        {144, 113},        {128, 100},        {255, 199}, {1, 1},
    };
    for (const auto& [b, percent] : unsignedCases)
        EXPECT_EQ(PercentFromByte(static_cast<std::uint8_t>(b)), percent) << b;
}

// The unsigned code reads a whole byte, up to 199 %: its encoder keeps that range where
// the signed one holds 113 % (0x90) to 99 % (0x7F).
TEST(CalcUnit, UnsignedPercentBytesKeepTheWholeByte) {
    struct Case {
        std::int32_t percent, companion;
        std::optional<std::uint8_t> held;
        int first, second;
    };
    const Case cases[] = {
        {113, 1, 0x90, 0x90, 0x00},
        {113, 1, std::nullopt, 0x91, 0x00}, // both read 113
        {125, 7, 0xA0, 0xA0, 0xDB},         // 160 * 256 / 7 = 5851 = 0x16DB
        {156, 1, 0xC8, 0xC8, 0x00},
        {120, 1, 0x90, 0x9A, 0x00}, // 0x90 no longer fits
        {70, 1, std::nullopt, 90, 0x00},
        {1, 1, std::nullopt, 1, 0x00},
        {4, 1, std::nullopt, 6, 0x00}, // 5 is "no value"
        {250, 1, std::nullopt, 0xFF, 0x00},
        {-10, 1, std::nullopt, 1, 0x00},
        {0, 7, 0x90, 5, 0},
        {50, 0, std::nullopt, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.percent << " held " << (c.held ? *c.held : -1));
        const WordBytes b = UnsignedPercentToBytes(c.percent, c.companion, 32768, c.held);
        EXPECT_EQ(b[0], c.first);
        EXPECT_EQ(b[1], c.second);
    }
    // Every byte the ECU can report reads back as itself, and every percentage as itself.
    for (int b = 1; b <= 255; ++b) {
        if (b == kNoPercent) continue;
        const auto held = static_cast<std::uint8_t>(b);
        EXPECT_EQ(UnsignedPercentToBytes(*PercentFromByte(held), 100, 32768, held)[0], b);
    }
    for (std::int32_t percent = 1; percent <= 199; ++percent) {
        if (percent == 4) continue;
        EXPECT_EQ(PercentFromByte(UnsignedPercentToBytes(percent, 100, 32768)[0]), percent);
    }
}

// ---- Lines ---------------------------------------------------------------------------

using Nine = std::array<std::int32_t, 9>;

TEST(CalcUnit, MapLine9PutsThePointsOnTheLine) {
    Nine x{0, 2000, 4000, 6000, 8000, 10000, 15000, 20000, 25000};
    Nine y{};
    EXPECT_EQ(MapLine9(x, y, {10000, 12000}, {0, 2000}, 32000), std::optional<bool>(true));
    EXPECT_EQ(y, (Nine{2000, 4000, 6000, 8000, 10000, 12000, 17000, 22000, 27000}));
    EXPECT_EQ(x[8], 25000);

    // Thirds truncate toward zero on both sides of the axis.
    Nine xs{-2, -1, 0, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(MapLine9(xs, y, {3, 1}, {0, 0}, 32000), std::optional<bool>(true));
    EXPECT_EQ(y, (Nine{0, 0, 0, 0, 0, 1, 1, 1, 2}));
}

TEST(CalcUnit, MapLine9ClipsTheEndAtTheCeilingAndMovesItBack) {
    Nine x{0, 2000, 4000, 6000, 8000, 10000, 15000, 20000, 25000};
    Nine y{};
    // Slope 1.5 from (0, 2000): 39500 at 25 ms, the ceiling 32000 is met at 20 ms.
    EXPECT_EQ(MapLine9(x, y, {10000, 17000}, {0, 2000}, 32000), std::optional<bool>(false));
    EXPECT_EQ(y[7], 32000);
    EXPECT_EQ(y[8], 32000);
    EXPECT_EQ(x[8], 20000);
}

TEST(CalcUnit, MapLine9WithoutALineChangesNothing) {
    Nine x{0, 2000, 4000, 6000, 8000, 10000, 15000, 20000, 25000};
    Nine y{1, 2, 3, 4, 5, 6, 7, 8, 9};
    const Nine x0 = x;
    const Nine y0 = y;
    EXPECT_EQ(MapLine9(x, y, {0, 5000}, {0, 2000}, 32000), std::nullopt);
    EXPECT_EQ(x, x0);
    EXPECT_EQ(y, y0);
    // A flat line above the ceiling is held there; its end keeps its x.
    EXPECT_EQ(MapLine9(x, y, {1000, 40000}, {0, 40000}, 32000), std::optional<bool>(false));
    EXPECT_EQ(y[8], 32000);
    EXPECT_EQ(x[8], 25000);
}

TEST(CalcUnit, MapRangeMapsLinearly) {
    const Nine source{1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000};
    const Nine target{3000, 0, 0, 0, 0, 0, 0, 0, 7000};
    EXPECT_EQ(MapRange(source, target, 0), 3000);
    EXPECT_EQ(MapRange(source, target, 4), 5000);
    EXPECT_EQ(MapRange(source, target, 8), 7000);
    const Nine odd{0, 1, 0, 0, 0, 0, 0, 0, 3};
    EXPECT_EQ(MapRange(odd, target, 1), 4333); // 3000 + 4000 / 3, truncated
    // No source range to map from: the first target, not a division by zero.
    const Nine flat{500, 500, 500, 500, 500, 500, 500, 500, 500};
    EXPECT_EQ(MapRange(flat, target, 4), 3000);
    EXPECT_EQ(MapRange(source, target, 12), 7000);
    EXPECT_EQ(MapRange(source, target, -1), 3000);
}

// ---- Texts ---------------------------------------------------------------------------

TEST(CalcUnit, NumberTextsUseAPoint) {
    struct Case {
        std::string (*format)(std::int32_t);
        std::int32_t value;
        const char* text;
    };
    const Case cases[] = {
        {InjTimeToText, 12345, "12.34"},   {InjTimeToText, 999, "0.99"},
        {InjTimeToText, 9, "0.00"},        {InjTimeToText, 0, "0.00"},
        {InjTimeToText, 32000, "32.00"},   {InjTimeToText, -15, "-0.01"},
        {InjTimeToText, -5, "0.00"},       {TenthsToText, -125, "-12.5"},
        {TenthsToText, 0, "0.0"},          {TenthsToText, 5, "0.5"},
        {TenthsToText, -5, "-0.5"},        {TenthsToText, 1500, "150.0"},
        {HundredthsToText, 448, "4.48"},   {HundredthsToText, -448, "-4.48"},
        {HundredthsToText, 5, "0.05"},     {HundredthsToText, -5, "-0.05"},
        {HundredthsToText, 0, "0.00"},     {HundredthsToText, 999, "9.99"},
        {HundredthsToText, 1234, "12.30"}, {HundredthsToText, -1235, "-12.40"}, // 3 digits
        {AdcToVoltText, 0, "0.00"},        {AdcToVoltText, 1023, "5.00"},
        {AdcToVoltText, 512, "2.50"},      {AdcToVoltText, 3, "0.01"},
        {AdcToVoltText, 102, "0.50"},      {AdcToVoltText, 101, "0.49"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.format(c.value), c.text) << c.value;
    EXPECT_EQ(FixedText(90 / 60.0, 2), "1.50");
    EXPECT_EQ(FixedText(1234.5678, 1), "1234.6");
    EXPECT_EQ(FixedText(-2.5, 0), "-2");
    EXPECT_EQ(FixedText(-0.001, 2), "0.00");
    EXPECT_EQ(CommaToPoint("1,5;2,5"), "1.5;2.5");
    EXPECT_EQ(BoolToText(true), "True");
    EXPECT_EQ(BoolToText(false), "False");
}

// Every number shown goes through these formatters; none of them may follow the locale.
void ExpectPointsWhateverTheLocale() {
    EXPECT_EQ(InjTimeToText(12345), "12.34");
    EXPECT_EQ(TenthsToText(-125), "-12.5");
    EXPECT_EQ(HundredthsToText(448), "4.48");
    EXPECT_EQ(AdcToVoltText(512), "2.50");
    EXPECT_EQ(FixedText(90 / 60.0, 2), "1.50");
    EXPECT_EQ(TextToFloat("2.5"), 2.5);
    EXPECT_EQ(TextToFloat("2,5"), 2.5);
}

TEST(CalcUnit, NumberTextsKeepTheirPointUnderAGermanLocale) {
    test::GermanCNumbers german;
    if (!german.active()) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    ASSERT_EQ(test::GermanCNumbers::Probe(), "0,5");
    ExpectPointsWhateverTheLocale();
}

TEST(CalcUnit, NumberTextsKeepTheirPointUnderACommaGlobalLocale) {
    test::CommaGlobalLocale comma;
    ASSERT_EQ(test::CommaGlobalLocale::Probe(), "0,5");
    ExpectPointsWhateverTheLocale();
}

TEST(CalcUnit, FontStylesByName) {
    const std::pair<std::int32_t, const char*> names[] = {
        {0, "vgFontRegular"},
        {1, "vgFontBold"},
        {2, "vgFontItalic"},
        {3, "vgFontBoldItalic"},
    };
    for (const auto& [style, name] : names) {
        EXPECT_EQ(FontStyleToName(style), name);
        EXPECT_EQ(FontNameToStyle(name), style);
    }
    EXPECT_EQ(FontStyleToName(4), "vgFontRegular");
    EXPECT_EQ(FontStyleToName(-1), "vgFontRegular");
    EXPECT_EQ(FontNameToStyle("vgfontbold"), 0);
    EXPECT_EQ(FontNameToStyle(""), 0);
    const std::pair<std::int32_t, std::int32_t> checks[] = {
        {-1, 0}, {0, 0}, {1, 1}, {3, 3}, {4, 0}};
    for (const auto& [style, checked] : checks)
        EXPECT_EQ(CheckFontStyle(style), checked);
}

TEST(CalcUnit, ColoursAsText) {
    EXPECT_EQ(ColorToText(0xFFFF0000u), "#FFFF0000");
    EXPECT_EQ(ColorToText(0x000A0B0Cu), "#FF0A0B0C"); // always opaque
    EXPECT_EQ(TextToColor("#80102030"), 0xFF102030u);
    EXPECT_EQ(TextToColor("#ffa4f964"), 0xFFA4F964u);
    EXPECT_EQ(TextToColor("#FFzz2030"), 0xFF002030u);
    EXPECT_EQ(TextToColor("#FF10"), 0xFF100000u); // short text: missing pairs are 0
    EXPECT_EQ(TextToColor(""), 0xFF000000u);
    EXPECT_EQ(TextToColor(ColorToText(0xFF2BDFEAu)), 0xFF2BDFEAu);
    const std::pair<const char*, int> pairs[] = {
        {"FF", 255}, {"a5", 0xA5}, {"1z", 0x10}, {"g1", 0x01}, {"7", 0x70}, {"", 0},
    };
    for (const auto& [text, value] : pairs)
        EXPECT_EQ(HexPairToByte(text), value) << text;
}

// ---- Temperature table -------------------------------------------------------------------

std::vector<std::int16_t> LinearTable(int first, int step) {
    std::vector<std::int16_t> t(TemperatureTable::kEntries);
    for (std::size_t i = 0; i < t.size(); ++i)
        t[i] = static_cast<std::int16_t>(first + step * static_cast<int>(i));
    return t;
}

class TemperatureTableTest : public testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        dir_ = fs::temp_directory_path() /
               ("bifuel-calc-" +
                std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
                std::to_string(random()));
        fs::create_directories(dir_);
        file_ = dir_ / "bifuel-studio.dat";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    void Write(const std::vector<std::int16_t>& entries) {
        std::string bytes;
        for (std::int16_t e : entries) {
            const auto u = static_cast<std::uint16_t>(e);
            bytes += static_cast<char>(u & 0xFF);
            bytes += static_cast<char>(u >> 8);
        }
        std::ofstream(file_, std::ios::binary | std::ios::trunc) << bytes;
    }
    // Sets the file back in time, so that a replacement written right after it gets a new
    // time stamp even where file times are coarse.
    void Age() { fs::last_write_time(file_, fs::last_write_time(file_) - std::chrono::seconds(5)); }

    std::int32_t At(TemperatureTable& table, int code) {
        const WordBytes b = Bytes(code);
        return RawToTemperature(table, b[0], b[1]);
    }

    fs::path dir_;
    fs::path file_;
    int reports_ = 0;
    std::function<bool()> count_ = [this] {
        ++reports_;
        return true;
    };
};

TEST_F(TemperatureTableTest, RawToTemperatureReadsTheEntryOfTheLow10Bits) {
    Write(LinearTable(1000, -4));
    TemperatureTable table(file_, count_);
    EXPECT_EQ(At(table, 0), 1000);
    EXPECT_EQ(At(table, 1023), 1000 - 4 * 1023);
    EXPECT_EQ(At(table, 0xFC0A), 960);
    EXPECT_TRUE(table.Temp_Table_Ok());
    EXPECT_EQ(reports_, 0);
}

TEST_F(TemperatureTableTest, TemperatureToBytesFindsTheNearestEntry) {
    Write(LinearTable(1000, -4)); // 100.0 degrees down in steps of 0.4
    TemperatureTable table(file_, count_);
    const std::pair<std::int32_t, int> cases[] = {
        {50, 125},              // exact entry
        {1, 247},               // 10 lies between 12 and 8; 8 would read back as 0 degrees
        {100, 0},     {200, 0}, // beyond the start
        {-400, 1023},           // beyond the end
    };
    for (const auto& [degrees, code] : cases) {
        const auto b = TemperatureToBytes(table, degrees);
        ASSERT_TRUE(b.has_value());
        EXPECT_EQ(Word(*b), code) << degrees;
    }
}

TEST_F(TemperatureTableTest, WholeDegreesRoundTrip) {
    Write(LinearTable(1200, -2));
    TemperatureTable table(file_, count_);
    for (std::int32_t degrees = -84; degrees <= 120; ++degrees) {
        const auto b = TemperatureToBytes(table, degrees);
        ASSERT_TRUE(b.has_value());
        EXPECT_EQ(RawToTemperature(table, (*b)[0], (*b)[1]), degrees * 10);
    }
}

TEST_F(TemperatureTableTest, AMissingTableGivesZeroAndIsReportedOncePerOutage) {
    TemperatureTable table(file_, count_);
    EXPECT_EQ(At(table, 100), 0);
    EXPECT_EQ(TemperatureToBytes(table, 40), std::nullopt);
    EXPECT_EQ(At(table, 100), 0);
    EXPECT_EQ(reports_, 1);
    EXPECT_FALSE(table.Temp_Table_Ok());

    Write(LinearTable(1000, -4));
    EXPECT_EQ(At(table, 100), 600);
    EXPECT_TRUE(table.Temp_Table_Ok());
    EXPECT_EQ(reports_, 1);

    fs::remove(file_);
    EXPECT_EQ(At(table, 100), 0); // the kept copy does not hide a removed file
    EXPECT_EQ(reports_, 2);
}

TEST_F(TemperatureTableTest, AShortOrUnreadableTableIsAnOutageToo) {
    std::vector<std::int16_t> shortTable = LinearTable(1000, -4);
    shortTable.pop_back();
    Write(shortTable);
    TemperatureTable table(file_, count_);
    EXPECT_EQ(At(table, 0), 0);
    EXPECT_EQ(reports_, 1);

    fs::remove(file_);
    fs::create_directory(file_); // a folder in the table's place
    EXPECT_EQ(At(table, 0), 0);
    EXPECT_EQ(reports_, 1);
}

TEST_F(TemperatureTableTest, AnOutageTheUserCouldNotBeToldIsToldLater) {
    bool windowShown = false;
    TemperatureTable table(file_, [&] {
        ++reports_;
        return windowShown;
    });
    EXPECT_EQ(At(table, 0), 0);
    EXPECT_TRUE(table.Temp_Table_Ok());
    windowShown = true;
    EXPECT_EQ(At(table, 0), 0);
    EXPECT_FALSE(table.Temp_Table_Ok());
    EXPECT_EQ(At(table, 0), 0);
    EXPECT_EQ(reports_, 2);
}

TEST_F(TemperatureTableTest, AReplacedTableCountsFromTheNextConversion) {
    Write(LinearTable(1000, -4));
    Age();
    TemperatureTable table(file_, count_);
    EXPECT_EQ(At(table, 10), 960);
    Write(LinearTable(500, -1)); // same size
    EXPECT_EQ(At(table, 10), 490);
    EXPECT_EQ(Word(TemperatureToBytes(table, 40).value()), 100);
}

// Two conversions run per live reply. With a clock the file is looked at once per second
// of it, not twice per conversion, and a replaced or removed file counts after that second.
TEST_F(TemperatureTableTest, WithAClockTheFileIsLookedAtOncePerSecond) {
    Write(LinearTable(1000, -4));
    Age();
    VirtualScheduler clock;
    int looks = 0;
    TemperatureTable table(file_, count_, &clock, [&looks](const fs::path& p) {
        ++looks;
        return StampOnDisk(p);
    });
    EXPECT_EQ(At(table, 10), 960);
    EXPECT_EQ(looks, 1);

    Write(LinearTable(500, -1)); // replaced, same size
    clock.advance(999);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(At(table, 10), 960);
    EXPECT_TRUE(TemperatureToBytes(table, 40).has_value());
    EXPECT_EQ(looks, 1);
    clock.advance(1);
    EXPECT_EQ(At(table, 10), 490);
    EXPECT_EQ(looks, 2);

    fs::remove(file_);
    clock.advance(1000);
    EXPECT_EQ(At(table, 10), 0);
    EXPECT_EQ(TemperatureToBytes(table, 40), std::nullopt);
    EXPECT_EQ(looks, 3);
    EXPECT_EQ(reports_, 1);
}

TEST(TemperatureTableShipped, IsMonotonicAndPlausible) {
    int reports = 0;
    TemperatureTable table(fs::path(BIFUEL_SOURCE_DIR) / "data" / "bifuel-studio.dat", [&] {
        ++reports;
        return true;
    });
    std::int32_t previous = 10000;
    for (int code = 0; code < 1024; ++code) {
        const std::int32_t t = RawToTemperature(table, static_cast<std::uint8_t>(code >> 8),
                                                static_cast<std::uint8_t>(code & 0xFF));
        EXPECT_LE(t, previous) << code; // higher code, higher resistance, colder
        EXPECT_GE(t, -400);
        EXPECT_LE(t, 1500);
        previous = t;
    }
    EXPECT_EQ(reports, 0);
    // A warm reducer sits mid-scale, where the sensor resolves well.
    for (std::int32_t degrees = -20; degrees <= 120; ++degrees) {
        const auto b = TemperatureToBytes(table, degrees);
        ASSERT_TRUE(b.has_value());
        EXPECT_GT(Word(*b), 100);
        EXPECT_LT(Word(*b), 1010);
        // Within the resolution of the table, and always reading back as the same degree.
        const std::int32_t tenths = RawToTemperature(table, (*b)[0], (*b)[1]);
        EXPECT_NEAR(tenths, degrees * 10, 9) << degrees;
        EXPECT_EQ(tenths / 10, degrees);
    }
}

} // namespace
} // namespace bifuel
