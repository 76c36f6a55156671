#pragma once

#include "data/Calc_Unit.h"

#include <cstdint>
#include <map>

namespace bifuel {

class Context;

// The configuration reply: every code of the read list in order, codes without a decoder
// read past. A correction the ECU holds no value for takes its default and schedules a
// parameter write, so the ECU gets the default too.
void DecodeParams(Context& ctx);
// High and low byte of one parameter of the write list.
WordBytes EncodeParameter(Context& ctx, std::uint8_t code);

// The diagram reply: points, and the idle point from the flag of the petrol times.
void DecodeDiagram(Context& ctx);
// High and low byte of one diagram item (codes 0x61..0x72, 0x76..0x7E).
WordBytes EncodeDiagramItem(const Context& ctx, std::uint8_t code);

// MAP lists: the gas and petrol replies (also the answers to the erase commands).
void DecodeMapGas(Context& ctx);
void DecodeMapPetrol(Context& ctx);

// The configuration name the ECU stores, and the file names that follow from it.
void OnNameReply(Context& ctx);

} // namespace bifuel
