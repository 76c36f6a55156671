#include "link/Instruction_Unit.h"

#include "Context.h"
#include "autocalibration/Veltra_ACB_Innov.h"
#include "link/Parameter_Table.h"
#include "link/Port_3D_Connect.h"
#include "link/Receiver_Unit.h"

#include <algorithm>
#include <variant>

namespace bifuel {
namespace {

constexpr std::uint8_t kAckLength = 3;

void beginFrame(Context& ctx, Command command) {
    ctx.link.TX_Frame[0] = ctx.link.Sent_Frame[0];
    ctx.link.TX_Frame[1] = static_cast<std::uint8_t>(command);
}

// Data frames are as long as announced; a length below the frame overhead cannot be
// built, so it is raised to the smallest frame rather than writing outside the buffer.
std::uint8_t dataFrameLength(const Context& ctx) {
    return std::max<std::uint8_t>(ctx.link.Data_Length, 3);
}

} // namespace

std::uint8_t FrameChecksum(const std::uint8_t* bytes, std::size_t n) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::vector<std::uint8_t> ReadList(std::int32_t fw) {
    std::vector<std::uint8_t> list{0x5F, 0x5A, 0x41, 0x42, 0x43, 0x9B, 0x52, 0x5C, 0x9F, 0x44,
                                   0xA5, 0x9C, 0x45, 0x82, 0x83, 0xA6, 0xA7, 0x81, 0x4F, 0x5B,
                                   0x84, 0x85, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x46, 0x47,
                                   0x9D, 0x9E, 0x48, 0x49, 0x4A, 0x59, 0xA4, 0xA3, 0x92, 0x93,
                                   0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA8, 0xA9};
    if ((fw >= 155 && fw <= 199) || (fw >= 357 && fw <= 399)) {
        list.insert(list.end(), {0xAA, 0xAB, 0xAC});
    }
    if ((fw >= 160 && fw <= 199) || (fw >= 360 && fw <= 399)) list.push_back(0xAD);
    return list;
}

const std::vector<std::uint8_t>& ParameterWriteList() {
    static const std::vector<std::uint8_t> kList = [] {
        std::vector<std::uint8_t> list;
        for (const ParamCode& p : ParameterTable())
            list.push_back(p.code);
        return list;
    }();
    return kList;
}

const std::vector<std::uint8_t>& DiagramWriteList() {
    static const std::vector<std::uint8_t> kList = [] {
        std::vector<std::uint8_t> list;
        for (std::uint8_t c = 0x61; c <= 0x72; ++c)
            list.push_back(c);
        for (std::uint8_t c = 0x76; c <= 0x7E; ++c)
            list.push_back(c);
        return list;
    }();
    return kList;
}

void ArmShortRequest(Context& ctx, Command command, std::uint8_t d1, std::uint8_t d2,
                     std::uint8_t replyLength) {
    beginFrame(ctx, command);
    ctx.link.TX_Frame[2] = d1;
    ctx.link.TX_Frame[3] = d2;
    ctx.link.TX_Length = 5;
    ctx.link.Reply_Length = replyLength;
    ArmRequest(ctx);
}

void ArmRead(Context& ctx, Command command, std::uint8_t replyLength) {
    const auto c = static_cast<std::uint8_t>(command);
    ArmShortRequest(ctx, command, c, c, replyLength);
}

void ArmProbe(Context& ctx, std::uint8_t code) {
    auto& tx = ctx.link.TX_Frame;
    tx[0] = code;
    tx[1] = static_cast<std::uint8_t>(Command::PROBE);
    tx[2] = tx[3] = static_cast<std::uint8_t>(Command::PROBE);
    ctx.link.TX_Length = 5;
    ctx.link.Reply_Length = (code == 26) ? 5 : 4;
    ArmRequest(ctx);
}

void ArmAnnounce(Context& ctx) {
    ArmShortRequest(ctx, Command::ANNOUNCE, static_cast<std::uint8_t>(Command::ANNOUNCE),
                    ctx.link.Data_Length, kAckLength);
}

namespace {
// The image the running write checked; the record as it stands when none is running.
EcuImage writeImage(const Context& ctx) {
    return ctx.link.Write_Image ? *ctx.link.Write_Image : TakeImage(ctx);
}
} // namespace

void ArmWriteName(Context& ctx) {
    beginFrame(ctx, Command::WRITE_NAME);
    const auto name = EncodeName(writeImage(ctx).config);
    std::copy(name.begin(), name.end(), ctx.link.TX_Frame.begin() + 2);
    ctx.link.TX_Length = 11;
    ctx.link.Reply_Length = kAckLength;
    ArmRequest(ctx);
}

void ArmWriteList(Context& ctx, Command command, const std::vector<std::uint8_t>& codes) {
    const bool diagram = command == Command::WRITE_DIAGRAM;
    beginFrame(ctx, command);
    const std::size_t length = dataFrameLength(ctx);
    std::size_t at = 2;
    const EcuImage image = writeImage(ctx);
    for (std::uint8_t code : codes) {
        if (at + 3 > length - 1) break; // the announced length bounds the payload
        WordBytes value{0, 0};
        if (diagram) {
            value = EncodeDiagramItem(image, code);
        } else if (const auto bytes = EncodeParameter(image, ctx.temperatureTable(), code);
                   std::holds_alternative<WordBytes>(bytes)) {
            value = std::get<WordBytes>(bytes); // the write's check refused anything else
        }
        ctx.link.TX_Frame[at++] = code;
        ctx.link.TX_Frame[at++] = value[0];
        ctx.link.TX_Frame[at++] = value[1];
    }
    ctx.link.TX_Length = static_cast<std::uint8_t>(length);
    ctx.link.Reply_Length = kAckLength;
    ArmRequest(ctx);
}

void ArmWriteMapChunk(Context& ctx) {
    MapTransfer& map = ctx.link.Map;
    beginFrame(ctx, Command::WRITE_MAP_CHUNK);
    const std::size_t left =
        map.Write_Offset < map.Write_Stream.size() ? map.Write_Stream.size() - map.Write_Offset : 0;
    const std::size_t n = std::min({map.Chunk_Length, left, std::size_t{dataFrameLength(ctx)} - 3});
    std::copy_n(map.Write_Stream.begin() + static_cast<std::ptrdiff_t>(map.Write_Offset), n,
                ctx.link.TX_Frame.begin() + 2);
    map.Write_Offset += n;
    ctx.link.TX_Length = static_cast<std::uint8_t>(n + 3);
    ctx.link.Reply_Length = kAckLength;
    ArmRequest(ctx);
}

void ArmWriteAcb(Context& ctx) {
    beginFrame(ctx, Command::WRITE_ACB);
    const std::array<std::uint8_t, 8> data = Innov_Frame_Data(ctx);
    std::copy(data.begin(), data.end(), ctx.link.TX_Frame.begin() + 2);
    ctx.link.TX_Length = 11;
    ctx.link.Reply_Length = kAckLength;
    ArmRequest(ctx);
}

} // namespace bifuel
