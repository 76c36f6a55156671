#pragma once

#include "SimEcu.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace bifuel::test {

// What the ECU stores of a set-up. The MAP point lists are left out: the ECU records them
// from the running engine on its own.
struct EcuMemory {
    std::map<std::uint8_t, std::uint16_t> params;
    std::array<sim::DiagramItem, 9> diagram{};
    std::array<std::uint8_t, 8> name{};
    std::array<std::uint8_t, 2> rpmMapSize{};
    std::vector<std::uint8_t> rpmMap;
    bool operator==(const EcuMemory&) const = default;
};

inline EcuMemory memoryOf(const sim::EcuState& s) {
    return {s.params, s.diagram, s.name, s.rpmMapSize, s.rpmMap};
}

// Where two memories differ, for the failure message.
inline std::string differences(const EcuMemory& got, const EcuMemory& want) {
    std::ostringstream out;
    for (const auto& [code, value] : want.params) {
        const auto it = got.params.find(code);
        if (it == got.params.end() || it->second != value) {
            out << " param 0x" << std::hex << int(code) << std::dec << ": "
                << (it == got.params.end() ? -1 : it->second) << " want " << value << ";";
        }
    }
    for (std::size_t i = 0; i < want.diagram.size(); ++i) {
        const sim::DiagramItem& g = got.diagram[i];
        const sim::DiagramItem& w = want.diagram[i];
        if (!(g == w)) {
            out << " point " << i << ": gas " << g.gas << "/" << w.gas << " petrol " << g.petrol
                << "/" << w.petrol << " slope " << g.slope << "/" << w.slope << ";";
        }
    }
    if (got.name != want.name) out << " name differs;";
    if (got.rpmMapSize != want.rpmMapSize) out << " map size differs;";
    int cells = 0;
    for (std::size_t i = 0; i < std::min(got.rpmMap.size(), want.rpmMap.size()); ++i) {
        cells += got.rpmMap[i] != want.rpmMap[i];
    }
    if (cells > 0 || got.rpmMap.size() != want.rpmMap.size())
        out << " " << cells << " map bytes differ;";
    return out.str();
}

} // namespace bifuel::test
