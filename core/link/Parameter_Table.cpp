#include "link/Parameter_Table.h"

#include "data/Temperature_Table.h"
#include "link/Ecu_Image.h"

#include <algorithm>

namespace bifuel {
namespace {

using C = Configuration_Class;
using K = ParamCodec;
using S = SetupShow;
using LV = LanguageView;
constexpr ParamByte kHigh = ParamByte::High;
constexpr ParamByte kLow = ParamByte::Low;
using Encoded = std::variant<WordBytes, ParamFault>;

// The level thresholds share their caption, numbered.
constexpr SetupRow levelRow(int place) {
    return {place, S::Volts, nullptr, "CFG_LevelSensor"};
}

// One entry per code, in the order a write sends them; within a word the fields in bit
// order, so that a fault names the first field that does not fit.
// clang-format off
const std::vector<ParamCode> kTable = {
    {.code = 0x5A, .fields = {
        {.codec = K::Word, .key = "Press_Scale", .number = &C::Press_Scale},
    }},
    {.code = 0x41, .fields = {
        {.codec = K::Temperature, .key = "PG_Temper", .number = &C::PG_Temper, .file = 4,
         .setup = {3, S::Temperature, &LV::HudLabel_CFG_PG_Temper}},
    }},
    {.code = 0x43, .fields = {
        {.codec = K::RpmPeriod, .key = "PG_RPM", .number = &C::PG_RPM, .file = 3,
         .setup = {2, S::Number, &LV::HudLabel_CFG_PG_RPM}},
    }},
    {.code = 0x52, .fields = {
        {.codec = K::ZeroAs80, .key = "PG_Time", .number = &C::PG_Time, .file = 5,
         .setup = {4, S::Delay, &LV::HudLabel_CFG_PG_Time}},
        {.codec = K::Bit, .key = "Flag52_0", .flag = &C::Flag52_0, .at = kLow, .bit = 0},
        {.codec = K::Bit, .key = "Save_Map", .flag = &C::Save_Map, .at = kLow, .bit = 1, .file = 1},
        {.codec = K::Bit, .key = "MonoInject", .flag = &C::MonoInject, .at = kLow, .bit = 2,
         .file = 9},
        {.codec = K::Bit, .key = "Flag52_3", .flag = &C::Flag52_3, .at = kLow, .bit = 3},
        {.codec = K::Bit, .key = "Flag52_4", .flag = &C::Flag52_4, .at = kLow, .bit = 4},
        {.codec = K::Bit, .key = "NoSequentInject", .flag = &C::NoSequentInject, .at = kLow,
         .bit = 5, .file = 8, .setup = {5, S::Injection, &LV::HudLabel_CFG_Injection}},
        {.codec = K::Bit, .key = "Flag52_6", .flag = &C::Flag52_6, .at = kLow, .bit = 6},
        {.codec = K::Bit, .key = "Flag52_7", .flag = &C::Flag52_7, .at = kLow, .bit = 7},
    }},
    {.code = 0x5C, .fields = {
        {.codec = K::ZeroAs80, .key = "Param5C", .number = &C::Param5C},
        {.codec = K::Bit, .key = "Flag5C_0", .flag = &C::Flag5C_0, .at = kLow, .bit = 0},
        {.codec = K::Bit, .key = "Flag5C_1", .flag = &C::Flag5C_1, .at = kLow, .bit = 1},
        // The ECU's bit says CNG.
        {.codec = K::InvertedBit, .key = "LPG_on", .flag = &C::LPG_on, .at = kLow, .bit = 2,
         .file = 10, .setup = {6, S::GasType, &LV::HudLabel_CFG_Gas_Type}},
        {.codec = K::ZeroBit, .at = kLow, .bit = 3},
        {.codec = K::Bit, .key = "Flag5C_4", .flag = &C::Flag5C_4, .at = kLow, .bit = 4},
        {.codec = K::Bit, .key = "Flag5C_5", .flag = &C::Flag5C_5, .at = kLow, .bit = 5},
        {.codec = K::Bit, .key = "Flag5C_6", .flag = &C::Flag5C_6, .at = kLow, .bit = 6},
        {.codec = K::Bit, .key = "Flag5C_7", .flag = &C::Flag5C_7, .at = kLow, .bit = 7},
    }},
    {.code = 0x9F, .fields = {
        {.codec = K::Bit, .key = "Flag9F_0", .flag = &C::Flag9F_0, .at = kHigh, .bit = 0},
        {.codec = K::Bit, .key = "Flag9F_1", .flag = &C::Flag9F_1, .at = kHigh, .bit = 1},
        {.codec = K::Bit, .key = "Flag9F_2", .flag = &C::Flag9F_2, .at = kHigh, .bit = 2},
        {.codec = K::ZeroBit, .key = "Flag9F_3", .flag = &C::Flag9F_3, .at = kHigh, .bit = 3},
        {.codec = K::Bit, .key = "Flag9F_4", .flag = &C::Flag9F_4, .at = kHigh, .bit = 4},
        {.codec = K::ZeroBit, .at = kHigh, .bit = 5},
        {.codec = K::Bit, .key = "Flag9F_6", .flag = &C::Flag9F_6, .at = kHigh, .bit = 6},
        {.codec = K::Bit, .key = "Flag9F_7", .flag = &C::Flag9F_7, .at = kHigh, .bit = 7},
        {.codec = K::Bit, .key = "Flag9F_8", .flag = &C::Flag9F_8, .at = kLow, .bit = 0},
        {.codec = K::Bit, .key = "Flag9F_9", .flag = &C::Flag9F_9, .at = kLow, .bit = 1},
        {.codec = K::Bit, .key = "PG_GAS_Hot_Engine", .flag = &C::PG_GAS_Hot_Engine, .at = kLow,
         .bit = 2, .file = 6, .setup = {9, S::YesNo, &LV::HudCheckBox_CFG_PG_GAS_Hot_Engine}},
        {.codec = K::Bit, .key = "Flag9F_11", .flag = &C::Flag9F_11, .at = kLow, .bit = 3},
    }},
    // The pressures, corrections and support values below are the ECU's or an
    // auto-calibration's, never typed: they are held to what their bytes carry.
    {.code = 0x44, .companions = {0x5A}, .fields = {
        {.codec = K::Pressure, .key = "Param44_Press", .number = &C::Param44_Press, .scale = 10},
    }},
    {.code = 0x45, .fields = {
        {.codec = K::Byte, .key = "Param45", .number = &C::Param45},
        {.codec = K::PreScaler, .key = "RPM_PreScaler", .text = &C::RPM_PreScaler, .at = kLow,
         .file = 2, .setup = {1, S::Text, &LV::HudLabel_CFG_RPM_Prescaler}},
    }},
    {.code = 0x53, .fields = {
        {.codec = K::LevelType, .key = "Level_Type", .text = &C::Level_Type, .file = 11,
         .setup = {10, S::Text, &LV::HudLabel_CFG_Level_Sensor}},
        {.codec = K::Byte, .key = "Level_Param", .number = &C::Level_Param, .at = kLow},
    }},
    {.code = 0x54, .fields = {
        {.codec = K::TenBits, .key = "Level1", .number = &C::Level1, .file = 15,
         .setup = levelRow(11)},
        {.codec = K::Bit, .key = "Level_Invert", .flag = &C::Level_Invert, .at = kHigh, .bit = 4,
         .file = 13},
        {.codec = K::Bit, .key = "Level_90", .flag = &C::Level_90, .at = kHigh, .bit = 5,
         .file = 14},
        {.codec = K::Bit, .key = "Level_Buzzer", .flag = &C::Level_Buzzer, .at = kHigh, .bit = 6,
         .file = 12, .setup = {7, S::YesNo, &LV::HudCheckBox_CFG_LevelGas_Buzzer}},
        {.codec = K::Bit, .key = "GP_Buzzer", .flag = &C::GP_Buzzer, .at = kHigh, .bit = 7,
         .file = 7, .setup = {8, S::YesNo, &LV::HudCheckBox_CFG_GP_Buzzer}},
    }},
    {.code = 0x55, .fields = {
        {.codec = K::Word, .key = "Level2", .number = &C::Level2, .file = 16,
         .setup = levelRow(12)},
    }},
    {.code = 0x56, .fields = {
        {.codec = K::Word, .key = "Level3", .number = &C::Level3, .file = 17,
         .setup = levelRow(13)},
    }},
    {.code = 0x57, .fields = {
        {.codec = K::Word, .key = "Level4", .number = &C::Level4, .file = 18,
         .setup = levelRow(14)},
    }},
    {.code = 0x58, .fields = {
        {.codec = K::Word, .key = "Level5", .number = &C::Level5, .file = 19,
         .setup = levelRow(15)},
    }},
    {.code = 0x92, .companions = {0x5A}, .fields = {
        {.codec = K::Pressure, .key = "ACB_Press", .number = &C::ACB_Press, .scale = 1},
    }},
    {.code = 0x93, .companions = {0x92, 0x5A}, .fields = {
        {.codec = K::PressurePercent, .key = "ACB_Corr_93", .number = &C::ACB_Corr_93,
         .scale = 32768, .companion = &C::ACB_Press, .fallback = {50, 50}},
    }},
    {.code = 0x94, .companions = {0x92, 0x5A}, .fields = {
        {.codec = K::PressurePercent, .key = "ACB_Corr_94", .number = &C::ACB_Corr_94,
         .scale = 32768, .companion = &C::ACB_Press, .fallback = {50, 50}},
    }},
    {.code = 0x95, .fields = {
        {.codec = K::Temperature, .key = "ACB_Temper", .number = &C::ACB_Temper},
    }},
    {.code = 0x96, .companions = {0x95}, .fields = {
        {.codec = K::DegreesPercent, .key = "ACB_Corr_96", .number = &C::ACB_Corr_96,
         .scale = 4096, .companion = &C::ACB_Temper, .fallback = {10, 20}},
    }},
    {.code = 0x97, .companions = {0x95}, .fields = {
        {.codec = K::DegreesPercent, .key = "ACB_Corr_97", .number = &C::ACB_Corr_97,
         .scale = 4096, .companion = &C::ACB_Temper, .fallback = {10, 20}},
    }},
    {.code = 0x98, .fields = {
        {.codec = K::Doubled, .key = "ACB_Value_98", .number = &C::ACB_Value_98},
    }},
    {.code = 0x99, .companions = {0x98}, .fields = {
        {.codec = K::HalvedPercent, .key = "ACB_Corr_99", .number = &C::ACB_Corr_99,
         .scale = 32768, .companion = &C::ACB_Value_98, .fallback = {70, 70}},
    }},
};
// clang-format on

// The fields with a place in an order (a place from 1), in that order.
std::vector<const ParamField*> inOrder(int (*placeOf)(const ParamField&)) {
    std::vector<const ParamField*> out;
    for (const ParamCode& p : kTable) {
        for (const ParamField& f : p.fields) {
            if (placeOf(f) != 0) out.push_back(&f);
        }
    }
    std::sort(out.begin(), out.end(), [placeOf](const ParamField* a, const ParamField* b) {
        return placeOf(*a) < placeOf(*b);
    });
    return out;
}

bool bitOf(std::uint8_t byte, int n) {
    return (byte >> n) & 1;
}

// Whole degrees of a temperature word; unknown without the table.
std::int32_t degreesOf(TemperatureTable& table, std::uint8_t h, std::uint8_t l) {
    return table.Load() != nullptr ? RawToTemperature(table, h, l) / 10 : kTemperatureUnknown;
}

// A correction the ECU has no value for takes its default for the gas type.
bool decodeCorrection(const ParamField& f, Configuration_Class& c, std::optional<std::int32_t> v) {
    c.*f.number = v.value_or(c.LPG_on ? f.fallback.lpg : f.fallback.cng);
    return v.has_value();
}

// One field from the parameter's bytes; false when a correction held no value.
bool decodeField(const ParamField& f, Configuration_Class& c, TemperatureTable& table,
                 std::uint8_t h, std::uint8_t l) {
    const std::uint8_t b = f.at == kHigh ? h : l;
    switch (f.codec) {
    case K::Word:
        c.*f.number = BytesToWord(h, l);
        break;
    case K::Byte:
        c.*f.number = b;
        break;
    case K::ZeroAs80:
        c.*f.number = b == 0x80 ? 0 : b;
        break;
    case K::Bit:
        c.*f.flag = bitOf(b, f.bit);
        break;
    case K::InvertedBit:
        c.*f.flag = !bitOf(b, f.bit);
        break;
    case K::ZeroBit:
        break; // what the ECU holds there goes nowhere
    case K::TenBits:
        c.*f.number = (h & 0x03) * 256 + l;
        break;
    case K::Temperature:
        c.*f.number = degreesOf(table, h, l);
        break;
    case K::RpmPeriod:
        c.*f.number = PeriodToRpm(h, l);
        break;
    case K::Pressure:
        c.*f.number = RawToPressure(h, l) / f.scale;
        break;
    case K::Doubled:
        c.*f.number = RawTimesTwo(h, l);
        break;
    case K::PreScaler:
        c.*f.text = PreScalerText(b);
        break;
    case K::LevelType:
        c.*f.text = std::string(LevelTypeName(b));
        break;
    case K::PressurePercent:
    case K::DegreesPercent:
        return decodeCorrection(f, c, SignedPercentFromByte(b));
    case K::HalvedPercent:
        return decodeCorrection(f, c, PercentFromByte(b));
    }
    return true;
}

bool inRange(std::int64_t v, std::int64_t low, std::int64_t high) {
    return v >= low && v <= high;
}

std::string number(std::int64_t v) {
    return std::to_string(v);
}

ParamFault fault(const char* key, std::string value, const char* rule,
                 std::vector<std::string> args = {}) {
    return {key, std::move(value), rule, std::move(args)};
}

std::optional<ParamFault> outside(const ParamField& f, std::int32_t v, std::int32_t high) {
    if (inRange(v, 0, high)) return std::nullopt;
    return fault(f.key, number(v), "CFG_Check_Whole", {"0", number(high)});
}

std::string temperatureText(std::int32_t degrees) {
    return degrees == kTemperatureUnknown ? std::string("?") : std::to_string(degrees);
}

// A temperature as the nearest code of the table; refused without the table, or when the
// table holds nothing within a degree of it.
Encoded temperatureBytes(TemperatureTable& table, const char* key, std::int32_t degrees) {
    const TemperatureTable::Entries* entries = table.Load();
    if (entries == nullptr || degrees == kTemperatureUnknown) {
        return fault(key, temperatureText(degrees), "Image_Rule_Table");
    }
    const auto [low, high] = std::minmax_element(entries->begin(), entries->end());
    if (!inRange(std::int64_t{degrees} * 10, *low - 10, *high + 10)) {
        return fault(key, temperatureText(degrees), "CFG_Check_Whole",
                     {number(*low / 10), number(*high / 10)});
    }
    return *TemperatureToBytes(table, degrees);
}

WordBytes inByte(const ParamField& f, std::int32_t v) {
    const auto b = static_cast<std::uint8_t>(v);
    return f.at == kHigh ? WordBytes{b, 0} : WordBytes{0, b};
}

const char* keyOf(std::int32_t Configuration_Class::*member) {
    for (const ParamCode& p : kTable) {
        for (const ParamField& f : p.fields) {
            if (f.number == member) return f.key;
        }
    }
    return "";
}

// A correction: its percentage and its companion's word.
Encoded encodeCorrection(const ParamField& f, const EcuImage& image, std::uint8_t code) {
    const Configuration_Class& c = image.config;
    const std::int32_t companion = c.*f.companion;
    switch (f.codec) {
    case K::PressurePercent:
        return PercentToBytes(c.*f.number, PressureToRaw(1, companion, c.Press_Scale), f.scale);
    case K::DegreesPercent:
        // Without the support temperature's degrees there is nothing to scale.
        if (companion == kTemperatureUnknown)
            return fault(keyOf(f.companion), "?", "Image_Rule_Table");
        return PercentToBytes(c.*f.number, companion, f.scale);
    default: {
        // Unsigned: 0x90 read as 113 % goes back as 0x90, not held to the signed 99 %.
        const WordBytes half = HalfToBytes(companion);
        const auto raw = image.rawParams.find(code);
        const std::optional<std::uint8_t> held =
            raw == image.rawParams.end() ? std::nullopt
                                         : std::optional<std::uint8_t>(raw->second >> 8);
        return UnsignedPercentToBytes(c.*f.number, BytesToWord(half[0], half[1]), f.scale, held);
    }
    }
}

// A field whose bytes are one of a list's: the prescaler's position, the level type's index.
Encoded encodeListed(const ParamField& f, const Configuration_Class& c) {
    const std::string& text = c.*f.text;
    if (f.codec == K::PreScaler) {
        const std::optional<std::uint8_t> position = PreScalerPosition(text);
        if (!position) return fault(f.key, text, "Image_Rule_PreScaler");
        return inByte(f, *position);
    }
    // A type the ECU reported outside the table goes back as 0.
    if (LevelTypeIndex(text) == 0 && text != kLevelTypeError)
        return fault(f.key, text, "Image_Rule_Level_Type");
    return inByte(f, LevelTypeIndex(text));
}

// One field's bits of the parameter's word; a fault when its value does not fit them.
Encoded encodeField(const ParamField& f, const EcuImage& image, TemperatureTable& table,
                    std::uint8_t code) {
    const Configuration_Class& c = image.config;
    const auto bit = [&f](bool on) { return inByte(f, on ? 1 << f.bit : 0); };
    switch (f.codec) {
    case K::Bit:
        return bit(c.*f.flag);
    case K::InvertedBit:
        return bit(!(c.*f.flag));
    case K::ZeroBit:
        return bit(false);
    case K::PreScaler:
    case K::LevelType:
        return encodeListed(f, c);
    case K::PressurePercent:
    case K::DegreesPercent:
    case K::HalvedPercent:
        return encodeCorrection(f, image, code);
    default:
        break;
    }
    const std::int32_t v = c.*f.number;
    switch (f.codec) {
    case K::Word:
        if (auto e = outside(f, v, 0xFFFF)) return *e;
        return WordToBytes(v);
    case K::Byte:
        if (auto e = outside(f, v, 0xFF)) return *e;
        return inByte(f, v);
    case K::ZeroAs80:
        if (!inRange(v, 0, 0xFF) || v == 0x80)
            return fault(f.key, number(v), "Image_Rule_Byte_Not_128");
        return inByte(f, v == 0 ? 0x80 : v);
    case K::TenBits:
        if (auto e = outside(f, v, 1023)) return *e;
        return WordToBytes(v);
    case K::Temperature:
        return temperatureBytes(table, f.key, v);
    case K::RpmPeriod:
        if (auto e = outside(f, v, kRpmHighest)) return *e;
        return RpmToPeriodBytes(v);
    case K::Pressure:
        return PressureToBytes(f.scale, v, c.Press_Scale);
    default: // K::Doubled
        return HalfToBytes(v);
    }
}

} // namespace

const std::vector<ParamCode>& ParameterTable() {
    return kTable;
}

const ParamCode* FindParameter(std::uint8_t code) {
    const auto it = std::find_if(kTable.begin(), kTable.end(),
                                 [code](const ParamCode& p) { return p.code == code; });
    return it == kTable.end() ? nullptr : &*it;
}

const std::vector<const ParamField*>& FileFields() {
    static const std::vector<const ParamField*> kFields =
        inOrder([](const ParamField& f) { return f.file; });
    return kFields;
}

const std::vector<const ParamField*>& SetupRows() {
    static const std::vector<const ParamField*> kRows =
        inOrder([](const ParamField& f) { return f.setup.place; });
    return kRows;
}

bool DecodeParameter(Configuration_Class& c, TemperatureTable& table, std::uint8_t code,
                     std::uint8_t h, std::uint8_t l) {
    const ParamCode* p = FindParameter(code);
    if (p == nullptr) return true; // read past: the ECU's own, nothing to keep
    bool held = true;
    for (const ParamField& f : p->fields)
        held = decodeField(f, c, table, h, l) && held;
    return held;
}

std::variant<WordBytes, ParamFault>
EncodeFreshParameter(const EcuImage& image, TemperatureTable& table, std::uint8_t code) {
    const ParamCode* p = FindParameter(code);
    WordBytes word{0, 0};
    if (p == nullptr) return word;
    // The fields share the word bit by bit; the first that does not fit is the fault.
    for (const ParamField& f : p->fields) {
        const Encoded bytes = encodeField(f, image, table, code);
        if (const auto* e = std::get_if<ParamFault>(&bytes)) return *e;
        const WordBytes& b = std::get<WordBytes>(bytes);
        word = {static_cast<std::uint8_t>(word[0] | b[0]),
                static_cast<std::uint8_t>(word[1] | b[1])};
    }
    return word;
}

WordBytes ZeroBitsOf(std::uint8_t code) {
    WordBytes bits{0, 0};
    const ParamCode* p = FindParameter(code);
    if (p == nullptr) return bits;
    for (const ParamField& f : p->fields) {
        if (f.codec == K::ZeroBit)
            bits[f.at == kHigh ? 0 : 1] |= static_cast<std::uint8_t>(1 << f.bit);
    }
    return bits;
}

} // namespace bifuel
