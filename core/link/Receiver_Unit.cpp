#include "link/Receiver_Unit.h"

#include "Context.h"
#include "data/Setup_Page.h"
#include "files/SaveLoad_3D_Unit.h"
#include "calibration/Calibr_Unit.h"
#include "data/Config_Unit.h"
#include "files/Paths.h"
#include "link/Global_Unit.h"
#include "link/Instruction_Unit.h"

#include <algorithm>

namespace bifuel {
namespace {

bool bit(std::uint8_t byte, int n) { return (byte >> n) & 1; }
std::uint8_t setBit(bool on, int n) { return on ? static_cast<std::uint8_t>(1u << n) : 0; }

// The first level threshold as the ECU takes it: a 10-bit sensor code under four flags.
std::int32_t levelCode(std::int32_t value) { return value & 0x3FF; }

// The byte the ECU uses for "0" in the first byte of codes 0x52 and 0x5C.
std::int32_t zeroAs80(std::uint8_t h) { return h == 0x80 ? 0 : h; }
std::uint8_t sendZeroAs80(std::int32_t v) { return v == 0 ? 0x80 : static_cast<std::uint8_t>(v); }

// A correction the ECU has no value for takes its default, and the ECU is sent it.
std::int32_t percentOrDefault(Context& ctx, std::optional<std::int32_t> value, std::int32_t fallback) {
    if (value) return *value;
    ScheduleWrite(ctx, 2);
    return fallback;
}

void decodeOne(Context& ctx, std::uint8_t code, std::uint8_t h, std::uint8_t l) {
    Configuration_Class& c = ctx.config;
    TemperatureTable& table = ctx.temperatureTable();
    switch (code) {
    case 0x5A: c.Press_Scale = BytesToWord(h, l); break;
    case 0x41: c.PG_Temper = RawToTemperature(table, h, l) / 10; break;
    case 0x43: c.PG_RPM = PeriodToRpm(h, l); break;
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
    case 0x44: c.Param44_Press = RawToPressure(h, l) / 10; break;
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
    case 0x55: c.Level2 = BytesToWord(h, l); break;
    case 0x56: c.Level3 = BytesToWord(h, l); break;
    case 0x57: c.Level4 = BytesToWord(h, l); break;
    case 0x58: c.Level5 = BytesToWord(h, l); break;
    case 0x92: c.ACB_Press = RawToPressure(h, l); break;
    case 0x93: c.ACB_Corr_93 = percentOrDefault(ctx, SignedPercentFromByte(h), 50); break;
    case 0x94: c.ACB_Corr_94 = percentOrDefault(ctx, SignedPercentFromByte(h), 50); break;
    case 0x95: c.ACB_Temper = RawToTemperature(table, h, l) / 10; break;
    case 0x96:
        c.ACB_Corr_96 = percentOrDefault(ctx, SignedPercentFromByte(h), c.LPG_on ? 10 : 20);
        break;
    case 0x97:
        c.ACB_Corr_97 = percentOrDefault(ctx, SignedPercentFromByte(h), c.LPG_on ? 10 : 20);
        break;
    case 0x98: c.ACB_Value_98 = RawTimesTwo(h, l); break;
    case 0x99: c.ACB_Corr_99 = percentOrDefault(ctx, PercentFromByte(h), 70); break;
    default: break; // read past: the ECU's own, nothing to keep
    }
}

// A parameter as the ECU last sent it.
WordBytes asSent(const Context& ctx, std::uint8_t code) {
    const auto raw = ctx.link.Raw_Params.find(code);
    return raw == ctx.link.Raw_Params.end() ? WordBytes{0, 0} : WordToBytes(raw->second);
}

bool haveTable(Context& ctx) { return ctx.temperatureTable().Load() != nullptr; }

// A temperature goes back as the code nearest to it; without a table, as the ECU sent it.
WordBytes temperatureBytes(Context& ctx, std::uint8_t code, std::int32_t degrees) {
    if (auto bytes = TemperatureToBytes(ctx.temperatureTable(), degrees)) return *bytes;
    return asSent(ctx, code);
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

} // namespace

void DecodeParams(Context& ctx, std::span<const std::uint8_t> reply) {
    const std::vector<std::uint8_t> list = ReadList(ctx.link.Ident.Firmware_Version);
    // Only entries whose two bytes came with the reply are decoded.
    const std::size_t data = dataBytes(reply);
    for (std::size_t i = 0; i < list.size() && 2 * i + 1 < data; ++i) {
        const std::uint8_t h = reply[2 + 2 * i];
        const std::uint8_t l = reply[3 + 2 * i];
        ctx.link.Raw_Params[list[i]] = static_cast<std::uint16_t>(BytesToWord(h, l));
        decodeOne(ctx, list[i], h, l);
    }
    FillSetupPage(ctx);
}

WordBytes EncodeParameter(Context& ctx, std::uint8_t code) {
    const Configuration_Class& c = ctx.config;
    switch (code) {
    case 0x5A: return WordToBytes(c.Press_Scale);
    case 0x41: return temperatureBytes(ctx, code, c.PG_Temper);
    case 0x43: return RpmToPeriodBytes(c.PG_RPM);
    case 0x52:
        return {sendZeroAs80(c.PG_Time),
                static_cast<std::uint8_t>(setBit(c.Flag52_0, 0) | setBit(c.Save_Map, 1) |
                                          setBit(c.MonoInject, 2) | setBit(c.Flag52_3, 3) |
                                          setBit(c.Flag52_4, 4) | setBit(c.NoSequentInject, 5) |
                                          setBit(c.Flag52_6, 6) | setBit(c.Flag52_7, 7))};
    case 0x5C:
        return {sendZeroAs80(c.Param5C),
                static_cast<std::uint8_t>(setBit(c.Flag5C_0, 0) | setBit(c.Flag5C_1, 1) |
                                          setBit(!c.LPG_on, 2) | setBit(c.Flag5C_4, 4) |
                                          setBit(c.Flag5C_5, 5) | setBit(c.Flag5C_6, 6) |
                                          setBit(c.Flag5C_7, 7))};
    case 0x9F:
        // Bits 3 and 5 of the first byte always go as 0.
        return {static_cast<std::uint8_t>(setBit(c.Flag9F_0, 0) | setBit(c.Flag9F_1, 1) |
                                          setBit(c.Flag9F_2, 2) | setBit(c.Flag9F_4, 4) |
                                          setBit(c.Flag9F_6, 6) | setBit(c.Flag9F_7, 7)),
                static_cast<std::uint8_t>(setBit(c.Flag9F_8, 0) | setBit(c.Flag9F_9, 1) |
                                          setBit(c.PG_GAS_Hot_Engine, 2) |
                                          setBit(c.Flag9F_11, 3))};
    case 0x44: return PressureToBytes(10, c.Param44_Press, c.Press_Scale);
    case 0x45: return {static_cast<std::uint8_t>(c.Param45), PreScalerPosition(c)};
    case 0x53:
        return {static_cast<std::uint8_t>(LevelTypeIndex(c.Level_Type)),
                static_cast<std::uint8_t>(c.Level_Param)};
    case 0x54: {
        // The threshold has ten bits; the flags share its high byte and must not take any
        // of a larger value.
        WordBytes b = WordToBytes(levelCode(c.Level1));
        b[0] |= static_cast<std::uint8_t>(setBit(c.Level_Invert, 4) | setBit(c.Level_90, 5) |
                                          setBit(c.Level_Buzzer, 6) | setBit(c.GP_Buzzer, 7));
        return b;
    }
    case 0x55: return WordToBytes(c.Level2);
    case 0x56: return WordToBytes(c.Level3);
    case 0x57: return WordToBytes(c.Level4);
    case 0x58: return WordToBytes(c.Level5);
    case 0x92: return PressureToBytes(1, c.ACB_Press, c.Press_Scale);
    case 0x93:
        return PercentToBytes(c.ACB_Corr_93, PressureToRaw(1, c.ACB_Press, c.Press_Scale), 32768);
    case 0x94:
        return PercentToBytes(c.ACB_Corr_94, PressureToRaw(1, c.ACB_Press, c.Press_Scale), 32768);
    case 0x95: return temperatureBytes(ctx, code, c.ACB_Temper);
    // Scaled by a temperature: without the table they go back as the ECU sent them too.
    case 0x96: return haveTable(ctx) ? PercentToBytes(c.ACB_Corr_96, c.ACB_Temper, 4096) : asSent(ctx, code);
    case 0x97: return haveTable(ctx) ? PercentToBytes(c.ACB_Corr_97, c.ACB_Temper, 4096) : asSent(ctx, code);
    case 0x98: return HalfToBytes(c.ACB_Value_98);
    case 0x99: {
        // Unsigned: 0x90 read as 113 % goes back as 0x90, not held to the signed 99 %.
        const WordBytes half = HalfToBytes(c.ACB_Value_98);
        const auto raw = ctx.link.Raw_Params.find(code);
        const std::optional<std::uint8_t> held =
            raw == ctx.link.Raw_Params.end() ? std::nullopt
                                             : std::optional<std::uint8_t>(raw->second >> 8);
        return UnsignedPercentToBytes(c.ACB_Corr_99, BytesToWord(half[0], half[1]), 32768, held);
    }
    default: return {0, 0};
    }
}

void DecodeDiagram(Context& ctx, std::span<const std::uint8_t> reply) {
    if (dataBytes(reply) < kDiagramDataBytes) return;
    DiagramModel& d = ctx.diagram;
    const Reply rx = reply;
    for (std::size_t i = 0; i < kDiagramPoints; ++i) {
        const std::size_t at = 2 + 6 * i; // slope (read past), gas, petrol with the idle flag
        d.Gas_Point[i] = BytesToWord(rx[at + 2], rx[at + 3]);
        d.Petrol_Point[i] = BytesToWord(rx[at + 4] & 0x7F, rx[at + 5]);
        if (rx[at + 4] & 0x80) d.Idle_Point = static_cast<std::uint8_t>(i);
    }
    d.Selected_Point = -1;
    AfterDiagramRead(ctx);
}

WordBytes EncodeDiagramItem(const Context& ctx, std::uint8_t code) {
    const DiagramModel& d = ctx.diagram;
    std::size_t i = 0;
    int item = 0;
    if (!diagramItem(code, i, item)) return {0, 0};
    switch (item) {
    // Each item held to its field: a word, and for the petrol time the 15 bits below the
    // idle flag, so that no value can wrap round or set the flag.
    case 0: return WordToBytes(std::clamp(TruncToInt(std::clamp(d.Segment_Slope[i] * 128, 0.0, 65535.0)), 0, 0xFFFF));
    case 1: return WordToBytes(std::clamp(d.Gas_Point[i], 0, 0xFFFF));
    default: {
        WordBytes b = WordToBytes(std::clamp(d.Petrol_Point[i], 0, 0x7FFF));
        // Points 1 and 2 always carry the idle flag, a later one when it is the idle point.
        const bool idle = i == 1 || i == 2 || (i >= 3 && i == d.Idle_Point);
        if (idle) b[0] |= 0x80;
        return b;
    }
    }
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
    const Reply rx = reply;
    c.CFG_Name.clear();
    std::string name;
    for (std::size_t i = 0; i < kNameDataBytes && rx[2 + i] != 0x00 && rx[2 + i] != 0xFF; ++i) {
        name.push_back(static_cast<char>(rx[2 + i]));
    }
    // No name, or one that cannot be a file name: the ECU's set-up has no file.
    if (name.empty() || !IsSafeFileName(name)) {
        s.CFG_File_Name.clear();
        s.CFG_Full_File_Name.clear();
        return;
    }
    c.CFG_Name = name;
    s.CFG_File_Name = name;
    s.CFG_Full_File_Name = (ctx.paths.Config_Dir / (name + ".cfg")).string();
    LoadInstallerDetail(ctx);
}

} // namespace bifuel
