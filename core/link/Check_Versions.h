#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace bifuel {

class Context;

inline constexpr std::uint8_t kKnownIdentLength = 42;
// A reported length above this plus the 3 frame bytes cannot fit a one-byte reply length.
inline constexpr std::uint8_t kMaxReportedLength = 252;

// The next identification probe of the rotation 26, 25, 23, or the port decisions after
// two unanswered rotations.
void ProbeStep(Context& ctx);
// Arms the identification read with the length the probe reply (the whole frame)
// announced. A block shorter than the one this program decodes, or one too long for a
// reply length, refuses the ECU instead.
void ArmIdentRead(Context& ctx, std::span<const std::uint8_t> probeReply);
// Decodes the identification block (the whole reply frame). A block other than the one
// this program knows, or reply lengths the decoders cannot use (too short for what they
// read, too long for a reply), refuse the ECU: the message names the length and says
// whether the ECU is newer than this program or older than it supports. Nothing more is
// sent to a refused ECU, and no write of any kind reaches it.
void DecodeIdentification(Context& ctx, std::span<const std::uint8_t> reply);

// Version text x 100 ("2.54" gives 254); 0 when the text is not a number.
std::int32_t NumericFirmwareVersion(std::string_view versionText);

// Capabilities by numeric firmware version.
bool HasNoPressureSensors(std::int32_t fw);
bool IsInnovationalCapable(std::int32_t fw);
bool HasFreeMidPoints(std::int32_t fw);

// The display name of a model identifier, "Unknow" when it is not in the table.
std::string ModelDisplayName(std::string_view identifier);

// Indicator layout and enabled controls for the firmware's sensors.
void ApplyFirmwareLayout(Context& ctx);

} // namespace bifuel
