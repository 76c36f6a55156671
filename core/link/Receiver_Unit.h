#pragma once

#include "data/Calc_Unit.h"
#include "link/Ecu_Image.h"
#include "link/Parameter_Table.h"

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace bifuel {

class Context;

// Every decoder below takes the whole reply frame (program code, command, data, checksum)
// and reads nothing beyond it.

// Data bytes of the parameter reply that reach the last code with a decoder (0x99, entry
// 46 of the read list). A parameter write sends every decoded field back, so a field the
// ECU never reported would overwrite its value with ours; an ECU reporting a shorter L2 is
// refused when it is identified.
inline constexpr std::uint8_t kParamsDataBytes = 92;
// The diagram reply: 9 points of slope, gas and petrol words.
inline constexpr std::uint8_t kDiagramDataBytes = 54;
// The name reply: 8 name bytes.
inline constexpr std::uint8_t kNameDataBytes = 8;

// The configuration reply: every code of the read list in order, codes without a decoder
// read past. Only entries whose two bytes came are decoded. A correction the ECU holds no
// value for takes its default and schedules a parameter write, so the ECU gets the default
// too.
void DecodeParams(Context& ctx, std::span<const std::uint8_t> reply);
// High and low byte of one parameter of the write list for the image. While the ECU's
// reported word still says what the image says (with the words its encoding depends on),
// that word goes back as it came; otherwise the bytes are computed, and a value its bits
// cannot hold is a fault.
std::variant<WordBytes, ParamFault> EncodeParameter(const EcuImage& image, TemperatureTable& table,
                                                    std::uint8_t code);
// The same for the record as it stands; {0, 0} for a value that cannot be sent.
WordBytes EncodeParameter(Context& ctx, std::uint8_t code);

// The diagram reply: points, and the idle point from the flag of the petrol times. A reply
// without all nine points changes nothing: half a diagram mixed with the old one would be
// written back as the car's.
void DecodeDiagram(Context& ctx, std::span<const std::uint8_t> reply);
// High and low byte of one diagram item (codes 0x61..0x72, 0x76..0x7E) of the image: the
// bytes the ECU sent while the points are still those, else computed with fresh slopes.
WordBytes EncodeDiagramItem(const EcuImage& image, std::uint8_t code);
WordBytes EncodeDiagramItem(const Context& ctx, std::uint8_t code);

// Whether CFG_Name is still the name the ECU's own bytes give: a write then sends those
// bytes back as they came.
bool KeepsEcuName(const Configuration_Class& c);
// The eight name bytes a write sends: those the ECU sent while CFG_Name is the name they
// give, else CFG_Name padded with 0xFF.
std::array<std::uint8_t, kNameDataBytes> EncodeName(const Configuration_Class& c);

// MAP lists: the gas and petrol replies (also the answers to the erase commands). One
// point per data byte that came, at most kMapPointsMax; the places after them keep
// their values.
void DecodeMapGas(Context& ctx, std::span<const std::uint8_t> reply);
void DecodeMapPetrol(Context& ctx, std::span<const std::uint8_t> reply);

// The configuration name the ECU stores, and the file names that follow from it; a name
// that cannot be a file name gets a safe one (the ECU's bytes are kept for its writes). A
// reply without the 8 name bytes changes nothing.
void OnNameReply(Context& ctx, std::span<const std::uint8_t> reply);

} // namespace bifuel
