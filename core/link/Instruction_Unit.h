#pragma once

#include <cstdint>
#include <vector>

namespace bifuel {

class Context;

// Command bytes of the ECU protocol.
enum class Command : std::uint8_t {
    PROBE = 0x21,
    SET_MODE = 0x22,
    READ_LIVE = 0x23,
    READ_PARAMS = 0x24,
    READ_DIAGRAM = 0x25,
    CLEAR_ERRORS = 0x26,
    READ_MAP_GAS = 0x27,
    READ_MAP_PETROL = 0x28,
    ERASE_MAP_GAS = 0x29,
    ERASE_MAP_PETROL = 0x2A,
    READ_NAME = 0x2C,
    WRITE_NAME = 0x2D,
    WRITE_MAP_SIZE = 0x2E,
    READ_MAP_SIZE = 0x2F,
    READ_IDENT = 0x30,
    ANNOUNCE = 0x31,
    WRITE_PARAMS = 0x32,
    WRITE_DIAGRAM = 0x33,
    WRITE_MAP_CHUNK = 0x36,
    READ_MAP_CHUNK = 0x37,
    WRITE_ACB = 0x3C,
};

inline constexpr std::uint8_t kMapWriteCols = 8;
inline constexpr std::uint8_t kMapWriteRows = 12;
inline constexpr std::size_t kMapChunkMax = 64;

// Sum of bytes modulo 256: the checksum of every frame.
std::uint8_t FrameChecksum(const std::uint8_t* bytes, std::size_t n);

// The parameter codes the ECU sends in its parameter reply, in order, for a numeric
// firmware version (version x 100).
std::vector<std::uint8_t> ReadList(std::int32_t firmwareVersion);
// The codes of a parameter write, in order (22 entries).
const std::vector<std::uint8_t>& ParameterWriteList();
// The codes of a diagram write, in order (27 entries).
const std::vector<std::uint8_t>& DiagramWriteList();

// Short request [program code, command, d1, d2, checksum]; arms it.
void ArmShortRequest(Context& ctx, Command command, std::uint8_t d1, std::uint8_t d2,
                     std::uint8_t replyLength);
// Short read whose data bytes repeat the command byte.
void ArmRead(Context& ctx, Command command, std::uint8_t replyLength);
// The identification probe under program code `code`.
void ArmProbe(Context& ctx, std::uint8_t code);
// Data frames; each takes Data_Length as its length and expects a 3-byte acknowledgement.
void ArmAnnounce(Context& ctx);
void ArmWriteName(Context& ctx);
void ArmWriteList(Context& ctx, Command command, const std::vector<std::uint8_t>& codes);
void ArmWriteMapChunk(Context& ctx);
void ArmWriteAcb(Context& ctx);

} // namespace bifuel
