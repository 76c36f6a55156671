#include "link/Receiver_Unit.h"

#include "Context.h"
#include "calibration/Calibr_Unit.h"
#include "data/Config_Unit.h"
#include "data/Setup_Page.h"
#include "files/Paths.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Global_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/Parameter_Table.h"

#include <algorithm>
#include <variant>

namespace bifuel {
namespace {

// Whether the word the ECU reported for `code` still says what the image says, so that it
// can go back exactly as it came. A correction the ECU held no value for never does: the
// ECU is sent the default.
bool reportedStillHolds(const EcuImage& image, TemperatureTable& table, std::uint8_t code) {
    const auto raw = image.rawParams.find(code);
    if (raw == image.rawParams.end()) return false;
    Configuration_Class scratch = image.config;
    const WordBytes b = WordToBytes(raw->second);
    return DecodeParameter(scratch, table, code, b[0], b[1]) && scratch == image.config;
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
        allHeld = DecodeParameter(ctx.config, ctx.temperatureTable(), list[i], h, l) && allHeld;
    }
    // A correction the ECU holds no value for took its default: the ECU gets it too.
    if (!allHeld) ScheduleWrite(ctx, 2);
    FillSetupPage(ctx);
}

std::variant<WordBytes, ParamFault> EncodeParameter(const EcuImage& image, TemperatureTable& table,
                                                    std::uint8_t code) {
    const ParamCode* p = FindParameter(code);
    const std::span<const std::uint8_t> companions =
        p != nullptr ? std::span<const std::uint8_t>(p->companions)
                     : std::span<const std::uint8_t>();
    const bool asReported =
        reportedStillHolds(image, table, code) &&
        std::all_of(companions.begin(), companions.end(),
                    [&](std::uint8_t other) { return reportedStillHolds(image, table, other); });
    if (!asReported) return EncodeFreshParameter(image, table, code);
    // Bits the write always sends as 0, whatever the ECU reported.
    WordBytes b = WordToBytes(image.rawParams.at(code));
    const WordBytes zero = ZeroBitsOf(code);
    b[0] &= static_cast<std::uint8_t>(~zero[0]);
    b[1] &= static_cast<std::uint8_t>(~zero[1]);
    return b;
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
