#pragma once

#include <cstdint>
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
// Arms the identification read with the length the probe reply announced.
void ArmIdentRead(Context& ctx);
// Decodes the identification block in RX_Frame.
void DecodeIdentification(Context& ctx);

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
