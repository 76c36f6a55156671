#include "link/Receiver_Unit.h"

#include "Context.h"
#include "calibration/Calibr_Unit.h"
#include "data/Config_Unit.h"
#include "data/Setup_Page.h"
#include "files/Paths.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Global_Unit.h"
#include "link/Instruction_Unit.h"

#include <algorithm>
#include <variant>

namespace bifuel {
namespace {

bool bit(std::uint8_t byte, int n) {
    return (byte >> n) & 1;
}
std::uint8_t setBit(bool on, int n) {
    return on ? static_cast<std::uint8_t>(1u << n) : 0;
}

// The byte the ECU uses for "0" in the first byte of codes 0x52 and 0x5C. A value of 128
// has no byte of its own: it would be sent as 0x80 and read back as 0.
std::int32_t zeroAs80(std::uint8_t h) {
    return h == 0x80 ? 0 : h;
}
std::uint8_t sendZeroAs80(std::int32_t v) {
    return v == 0 ? 0x80 : static_cast<std::uint8_t>(v);
}

// Whole degrees of a temperature word; unknown without the table.
std::int32_t degreesOf(TemperatureTable& table, std::uint8_t h, std::uint8_t l) {
    return table.Load() != nullptr ? RawToTemperature(table, h, l) / 10 : kTemperatureUnknown;
}

// A correction the ECU has no value for takes its default (and the caller sends it).
std::int32_t percentOr(std::optional<std::int32_t> value, std::int32_t fallback, bool& hasValue) {
    hasValue = hasValue && value.has_value();
    return value.value_or(fallback);
}

// One parameter into the record. False when a correction holds no value: it took its
// default, which the ECU is to be sent.
bool decodeOne(Configuration_Class& c, TemperatureTable& table, std::uint8_t code, std::uint8_t h,
               std::uint8_t l) {
    bool hasValue = true;
    switch (code) {
    case 0x5A:
        c.Press_Scale = BytesToWord(h, l);
        break;
    case 0x41:
        c.PG_Temper = degreesOf(table, h, l);
        break;
    case 0x43:
        c.PG_RPM = PeriodToRpm(h, l);
        break;
    case 0x52:
        c.PG_Time = zeroAs80(h);
        c.Flag52_0 = bit(l, 0);
        c.Save_Map = bit(l, 1);
        c.MonoInject = bit(l, 2);
        c.Flag52_3 = bit(l, 3);
        c.Flag52_4 = bit(l, 4);
        c.NoSequentInject = bit(l, 5);
        c.Flag52_6 = bit(l, 6);
        c.Flag52_7 = bit(l, 7);
        break;
    case 0x5C:
        c.Param5C = zeroAs80(h);
        c.Flag5C_0 = bit(l, 0);
        c.Flag5C_1 = bit(l, 1);
        c.LPG_on = !bit(l, 2);
        c.Flag5C_4 = bit(l, 4);
        c.Flag5C_5 = bit(l, 5);
        c.Flag5C_6 = bit(l, 6);
        c.Flag5C_7 = bit(l, 7);
        break;
    case 0x9F:
        c.Flag9F_0 = bit(h, 0);
        c.Flag9F_1 = bit(h, 1);
        c.Flag9F_2 = bit(h, 2);
        c.Flag9F_3 = bit(h, 3);
        c.Flag9F_4 = bit(h, 4);
        c.Flag9F_6 = bit(h, 6);
        c.Flag9F_7 = bit(h, 7);
        c.Flag9F_8 = bit(l, 0);
        c.Flag9F_9 = bit(l, 1);
        c.PG_GAS_Hot_Engine = bit(l, 2);
        c.Flag9F_11 = bit(l, 3);
        break;
    case 0x44:
        c.Param44_Press = RawToPressure(h, l) / 10;
        break;
    case 0x45:
        c.Param45 = h;
        DecodePreScaler(c, l);
        break;
    case 0x53:
        c.Level_Type = std::string(LevelTypeName(h));
        c.Level_Param = l;
        break;
    case 0x54:
        c.Level1 = (h & 0x03) * 256 + l;
        c.Level_Invert = bit(h, 4);
        c.Level_90 = bit(h, 5);
        c.Level_Buzzer = bit(h, 6);
        c.GP_Buzzer = bit(h, 7);
        break;
    case 0x55:
        c.Level2 = BytesToWord(h, l);
        break;
    case 0x56:
        c.Level3 = BytesToWord(h, l);
        break;
    case 0x57:
        c.Level4 = BytesToWord(h, l);
        break;
    case 0x58:
        c.Level5 = BytesToWord(h, l);
        break;
    case 0x92:
        c.ACB_Press = RawToPressure(h, l);
        break;
    case 0x93:
        c.ACB_Corr_93 = percentOr(SignedPercentFromByte(h), 50, hasValue);
        break;
    case 0x94:
        c.ACB_Corr_94 = percentOr(SignedPercentFromByte(h), 50, hasValue);
        break;
    case 0x95:
        c.ACB_Temper = degreesOf(table, h, l);
        break;
    case 0x96:
        c.ACB_Corr_96 = percentOr(SignedPercentFromByte(h), c.LPG_on ? 10 : 20, hasValue);
        break;
    case 0x97:
        c.ACB_Corr_97 = percentOr(SignedPercentFromByte(h), c.LPG_on ? 10 : 20, hasValue);
        break;
    case 0x98:
        c.ACB_Value_98 = RawTimesTwo(h, l);
        break;
    case 0x99:
        c.ACB_Corr_99 = percentOr(PercentFromByte(h), 70, hasValue);
        break;
    default:
        break; // read past: the ECU's own, nothing to keep
    }
    return hasValue;
}

// Bits the write always sends as 0, whatever the ECU reported.
WordBytes withFixedBits(std::uint8_t code, WordBytes b) {
    if (code == 0x9F) b[0] &= static_cast<std::uint8_t>(~0x28);
    if (code == 0x5C) b[1] &= static_cast<std::uint8_t>(~0x08);
    return b;
}

// Whether the word the ECU reported for `code` still says what the image says, so that it
// can go back exactly as it came. A correction the ECU held no value for never does: the
// ECU is sent the default.
bool reportedStillHolds(const EcuImage& image, TemperatureTable& table, std::uint8_t code) {
    const auto raw = image.rawParams.find(code);
    if (raw == image.rawParams.end()) return false;
    Configuration_Class scratch = image.config;
    const WordBytes b = WordToBytes(raw->second);
    return decodeOne(scratch, table, code, b[0], b[1]) && scratch == image.config;
}

// The codes whose values an encoding depends on besides its own: a pressure is scaled by
// the sensor scale, a correction's second byte by its companion.
std::vector<std::uint8_t> companionsOf(std::uint8_t code) {
    switch (code) {
    case 0x44:
    case 0x92:
        return {0x5A};
    case 0x93:
    case 0x94:
        return {0x92, 0x5A};
    case 0x96:
    case 0x97:
        return {0x95};
    case 0x99:
        return {0x98};
    default:
        return {};
    }
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

std::string temperatureText(std::int32_t degrees) {
    return degrees == kTemperatureUnknown ? std::string("?") : std::to_string(degrees);
}

// A temperature as the nearest code of the table; refused without the table, or when the
// table holds nothing within a degree of it.
std::variant<WordBytes, ParamFault> temperatureBytes(TemperatureTable& table, const char* key,
                                                     std::int32_t degrees) {
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

// The bytes of one parameter computed from the record; a fault when its value does not
// fit what the ECU can hold there.
std::variant<WordBytes, ParamFault> encodeFresh(const EcuImage& image, TemperatureTable& table,
                                                std::uint8_t code) {
    const Configuration_Class& c = image.config;
    const auto word = [](const char* key, std::int32_t v) -> std::variant<WordBytes, ParamFault> {
        if (!inRange(v, 0, 0xFFFF)) return fault(key, number(v), "CFG_Check_Whole", {"0", "65535"});
        return WordToBytes(v);
    };
    const auto byteNot80 = [](const char* key, std::int32_t v) -> std::optional<ParamFault> {
        if (inRange(v, 0, 0xFF) && v != 0x80) return std::nullopt;
        return fault(key, number(v), "Image_Rule_Byte_Not_128");
    };
    switch (code) {
    case 0x5A:
        return word("Press_Scale", c.Press_Scale);
    case 0x41:
        return temperatureBytes(table, "PG_Temper", c.PG_Temper);
    case 0x43:
        if (!inRange(c.PG_RPM, 0, kRpmHighest))
            return fault("PG_RPM", number(c.PG_RPM), "CFG_Check_Whole", {"0", number(kRpmHighest)});
        return RpmToPeriodBytes(c.PG_RPM);
    case 0x52:
        if (auto f = byteNot80("PG_Time", c.PG_Time)) return *f;
        return WordBytes{sendZeroAs80(c.PG_Time),
                         static_cast<std::uint8_t>(setBit(c.Flag52_0, 0) | setBit(c.Save_Map, 1) |
                                                   setBit(c.MonoInject, 2) | setBit(c.Flag52_3, 3) |
                                                   setBit(c.Flag52_4, 4) |
                                                   setBit(c.NoSequentInject, 5) |
                                                   setBit(c.Flag52_6, 6) | setBit(c.Flag52_7, 7))};
    case 0x5C:
        if (auto f = byteNot80("Param5C", c.Param5C)) return *f;
        return WordBytes{sendZeroAs80(c.Param5C),
                         static_cast<std::uint8_t>(setBit(c.Flag5C_0, 0) | setBit(c.Flag5C_1, 1) |
                                                   setBit(!c.LPG_on, 2) | setBit(c.Flag5C_4, 4) |
                                                   setBit(c.Flag5C_5, 5) | setBit(c.Flag5C_6, 6) |
                                                   setBit(c.Flag5C_7, 7))};
    case 0x9F:
        // Bits 3 and 5 of the first byte always go as 0.
        return WordBytes{static_cast<std::uint8_t>(setBit(c.Flag9F_0, 0) | setBit(c.Flag9F_1, 1) |
                                                   setBit(c.Flag9F_2, 2) | setBit(c.Flag9F_4, 4) |
                                                   setBit(c.Flag9F_6, 6) | setBit(c.Flag9F_7, 7)),
                         static_cast<std::uint8_t>(setBit(c.Flag9F_8, 0) | setBit(c.Flag9F_9, 1) |
                                                   setBit(c.PG_GAS_Hot_Engine, 2) |
                                                   setBit(c.Flag9F_11, 3))};
    // The pressures, corrections and support values below are the ECU's or an
    // auto-calibration's, never typed: they are held to what their bytes carry.
    case 0x44:
        return PressureToBytes(10, c.Param44_Press, c.Press_Scale);
    case 0x45: {
        if (!inRange(c.Param45, 0, 0xFF))
            return fault("Param45", number(c.Param45), "CFG_Check_Whole", {"0", "255"});
        const std::optional<std::uint8_t> position = PreScalerPosition(c.RPM_PreScaler);
        if (!position) return fault("RPM_PreScaler", c.RPM_PreScaler, "Image_Rule_PreScaler");
        return WordBytes{static_cast<std::uint8_t>(c.Param45), *position};
    }
    case 0x53:
        if (LevelTypeIndex(c.Level_Type) == 0 && c.Level_Type != kLevelTypeError) {
            return fault("Level_Type", c.Level_Type, "Image_Rule_Level_Type");
        }
        if (!inRange(c.Level_Param, 0, 0xFF))
            return fault("Level_Param", number(c.Level_Param), "CFG_Check_Whole", {"0", "255"});
        return WordBytes{static_cast<std::uint8_t>(LevelTypeIndex(c.Level_Type)),
                         static_cast<std::uint8_t>(c.Level_Param)};
    case 0x54: {
        // The threshold has ten bits; the flags share its high byte.
        if (!inRange(c.Level1, 0, 1023))
            return fault("Level1", number(c.Level1), "CFG_Check_Whole", {"0", "1023"});
        WordBytes b = WordToBytes(c.Level1);
        b[0] |= static_cast<std::uint8_t>(setBit(c.Level_Invert, 4) | setBit(c.Level_90, 5) |
                                          setBit(c.Level_Buzzer, 6) | setBit(c.GP_Buzzer, 7));
        return b;
    }
    case 0x55:
        return word("Level2", c.Level2);
    case 0x56:
        return word("Level3", c.Level3);
    case 0x57:
        return word("Level4", c.Level4);
    case 0x58:
        return word("Level5", c.Level5);
    case 0x92:
        return PressureToBytes(1, c.ACB_Press, c.Press_Scale);
    case 0x93:
        return PercentToBytes(c.ACB_Corr_93, PressureToRaw(1, c.ACB_Press, c.Press_Scale), 32768);
    case 0x94:
        return PercentToBytes(c.ACB_Corr_94, PressureToRaw(1, c.ACB_Press, c.Press_Scale), 32768);
    case 0x95:
        return temperatureBytes(table, "ACB_Temper", c.ACB_Temper);
    case 0x96:
    case 0x97: {
        // Scaled by the support temperature: without its degrees there is nothing to scale.
        if (c.ACB_Temper == kTemperatureUnknown)
            return fault("ACB_Temper", "?", "Image_Rule_Table");
        return PercentToBytes(code == 0x96 ? c.ACB_Corr_96 : c.ACB_Corr_97, c.ACB_Temper, 4096);
    }
    case 0x98:
        return HalfToBytes(c.ACB_Value_98);
    case 0x99: {
        // Unsigned: 0x90 read as 113 % goes back as 0x90, not held to the signed 99 %.
        const WordBytes half = HalfToBytes(c.ACB_Value_98);
        const auto raw = image.rawParams.find(code);
        const std::optional<std::uint8_t> held =
            raw == image.rawParams.end() ? std::nullopt
                                         : std::optional<std::uint8_t>(raw->second >> 8);
        return UnsignedPercentToBytes(c.ACB_Corr_99, BytesToWord(half[0], half[1]), 32768, held);
    }
    default:
        return WordBytes{0, 0};
    }
}

using Reply = std::span<const std::uint8_t>;

// Data bytes of a reply: all but program code, command and checksum.
std::size_t dataBytes(Reply reply) {
    return reply.size() >= 3 ? reply.size() - 3 : 0;
}

void decodeMapList(Reply reply, std::array<std::int32_t, kMapPointsMax>& list) {
    const std::size_t points = std::min<std::size_t>(dataBytes(reply), kMapPointsMax);
    for (std::size_t k = 0; k < points; ++k) {
        std::uint8_t b = reply[2 + k];
        if (k == 0) b &= 0x3F; // the first byte carries two flag bits on top
        list[k] = b * 128 / 10;
    }
}

// Point and item (0 slope, 1 gas, 2 petrol) of a diagram code; false for other codes.
bool diagramItem(std::uint8_t code, std::size_t& point, int& item) {
    int index = -1;
    if (code >= 0x61 && code <= 0x72) index = code - 0x61;
    if (code >= 0x76 && code <= 0x7E) index = 18 + code - 0x76;
    if (index < 0) return false;
    point = static_cast<std::size_t>(index / 3);
    item = index % 3;
    return true;
}

// The nine points of the diagram's data bytes (slope, gas, petrol with the idle flag per
// point); the last point that carries the flag is the idle point, none leaves it as it is.
void decodeDiagramBytes(std::span<const std::uint8_t> bytes, DiagramTimes& petrol,
                        DiagramTimes& gas, std::uint8_t& idle) {
    for (std::size_t i = 0; i < kDiagramPoints; ++i) {
        const std::size_t at = 6 * i;
        gas[i] = BytesToWord(bytes[at + 2], bytes[at + 3]);
        petrol[i] = BytesToWord(bytes[at + 4] & 0x7F, bytes[at + 5]);
        if (bytes[at + 4] & 0x80) idle = static_cast<std::uint8_t>(i);
    }
}

} // namespace

void DecodeParams(Context& ctx, std::span<const std::uint8_t> reply) {
    const std::vector<std::uint8_t> list = ReadList(ctx.link.Ident.Firmware_Version);
    // Only entries whose two bytes came with the reply are decoded.
    const std::size_t data = dataBytes(reply);
    bool allHeld = true;
    for (std::size_t i = 0; i < list.size() && 2 * i + 1 < data; ++i) {
        const std::uint8_t h = reply[2 + 2 * i];
        const std::uint8_t l = reply[3 + 2 * i];
        ctx.link.Raw_Params[list[i]] = static_cast<std::uint16_t>(BytesToWord(h, l));
        allHeld = decodeOne(ctx.config, ctx.temperatureTable(), list[i], h, l) && allHeld;
    }
    // A correction the ECU holds no value for took its default: the ECU gets it too.
    if (!allHeld) ScheduleWrite(ctx, 2);
    FillSetupPage(ctx);
}

std::variant<WordBytes, ParamFault> EncodeParameter(const EcuImage& image, TemperatureTable& table,
                                                    std::uint8_t code) {
    const std::vector<std::uint8_t> companions = companionsOf(code);
    const bool asReported =
        reportedStillHolds(image, table, code) &&
        std::all_of(companions.begin(), companions.end(),
                    [&](std::uint8_t other) { return reportedStillHolds(image, table, other); });
    if (asReported) return withFixedBits(code, WordToBytes(image.rawParams.at(code)));
    return encodeFresh(image, table, code);
}

WordBytes EncodeParameter(Context& ctx, std::uint8_t code) {
    const auto bytes = EncodeParameter(TakeImage(ctx), ctx.temperatureTable(), code);
    return std::holds_alternative<WordBytes>(bytes) ? std::get<WordBytes>(bytes) : WordBytes{0, 0};
}

void DecodeDiagram(Context& ctx, std::span<const std::uint8_t> reply) {
    if (dataBytes(reply) < kDiagramDataBytes) return;
    DiagramModel& d = ctx.diagram;
    const std::vector<std::uint8_t> bytes(reply.begin() + 2, reply.begin() + 2 + kDiagramDataBytes);
    decodeDiagramBytes(bytes, d.Petrol_Point, d.Gas_Point, d.Idle_Point);
    d.Read_Bytes = bytes;
    d.Read_Idle = d.Idle_Point;
    d.Selected_Point = -1;
    AfterDiagramRead(ctx);
}

WordBytes EncodeDiagramItem(const EcuImage& image, std::uint8_t code) {
    std::size_t i = 0;
    int item = 0;
    if (!diagramItem(code, i, item)) return {0, 0};
    // Points the ECU sent go back as it sent them, slopes and flags included.
    if (image.diagramRead.size() == kDiagramDataBytes) {
        DiagramTimes petrol{};
        DiagramTimes gas{};
        std::uint8_t idle = image.diagramReadIdle;
        decodeDiagramBytes(image.diagramRead, petrol, gas, idle);
        if (petrol == image.petrol && gas == image.gas &&
            image.idlePoint == image.diagramReadIdle) {
            const std::size_t at = 6 * i + 2 * static_cast<std::size_t>(item);
            return {image.diagramRead[at], image.diagramRead[at + 1]};
        }
    }
    switch (item) {
    case 0: {
        DiagramModel slopes;
        slopes.Petrol_Point = image.petrol;
        slopes.Gas_Point = image.gas;
        ComputeSlopes(slopes);
        return WordToBytes(std::clamp(
            TruncToInt(std::clamp(slopes.Segment_Slope[i] * 128, 0.0, 65535.0)), 0, 0xFFFF));
    }
    // Each item held to its field: a word, and for the petrol time the 15 bits below the
    // idle flag, so that no value can wrap round or set the flag (the write's check has
    // refused such a diagram before it got here).
    case 1:
        return WordToBytes(std::clamp(image.gas[i], 0, 0xFFFF));
    default: {
        WordBytes b = WordToBytes(std::clamp(image.petrol[i], 0, 0x7FFF));
        // Points 1 and 2 always carry the idle flag, a later one when it is the idle point.
        const bool idle = i == 1 || i == 2 || (i >= 3 && i == image.idlePoint);
        if (idle) b[0] |= 0x80;
        return b;
    }
    }
}

WordBytes EncodeDiagramItem(const Context& ctx, std::uint8_t code) {
    return EncodeDiagramItem(TakeImage(ctx), code);
}

bool KeepsEcuName(const Configuration_Class& c) {
    return c.Name_Read && c.CFG_Name == ConfigNameOf(*c.Name_Read);
}

std::array<std::uint8_t, kNameDataBytes> EncodeName(const Configuration_Class& c) {
    if (KeepsEcuName(c)) return *c.Name_Read;
    std::array<std::uint8_t, kNameDataBytes> bytes{};
    bytes.fill(0xFF);
    for (std::size_t i = 0; i < bytes.size() && i < c.CFG_Name.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(c.CFG_Name[i]);
    }
    return bytes;
}

void DecodeMapGas(Context& ctx, std::span<const std::uint8_t> reply) {
    decodeMapList(reply, ctx.mapPoints.MAP_Gas);
}
void DecodeMapPetrol(Context& ctx, std::span<const std::uint8_t> reply) {
    decodeMapList(reply, ctx.mapPoints.MAP_Petrol);
}

void OnNameReply(Context& ctx, std::span<const std::uint8_t> reply) {
    // A name cut short would name another file.
    if (dataBytes(reply) < kNameDataBytes) return;
    Configuration_Class& c = ctx.config;
    Settings_Class& s = ctx.settings;
    std::array<std::uint8_t, kNameDataBytes> bytes{};
    std::copy_n(reply.begin() + 2, kNameDataBytes, bytes.begin());
    c.Name_Read = bytes;
    // A name no file can carry gets a safe one for the program's own files; the ECU keeps
    // its bytes (EncodeName sends them back).
    c.CFG_Name = ConfigNameOf(bytes);
    if (c.CFG_Name.empty()) {
        s.CFG_File_Name.clear();
        s.CFG_Full_File_Name.clear();
        return;
    }
    s.CFG_File_Name = c.CFG_Name;
    s.CFG_Full_File_Name = (ctx.paths.Config_Dir / (c.CFG_Name + ".cfg")).string();
    LoadInstallerDetail(ctx);
}

} // namespace bifuel
