#pragma once

// The one image of what the ECU holds, or will hold after a write: parameters (with the
// raw words of whatever the program does not model), the diagram and its idle point, the
// RPM map and the name. Every write is checked as this image right before it is sent,
// and the write program sends exactly the image it checked.

#include "calibration/Calibr_Unit.h"
#include "data/Config_Unit.h"
#include "rpm_map/MapRPM_Unit.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bifuel {

class Context;

struct EcuImage {
    Configuration_Class config; // with the name (CFG_Name and the name bytes as read)
    std::map<std::uint8_t, std::uint16_t> rawParams; // the words the ECU last reported, by code
    DiagramTimes petrol{};
    DiagramTimes gas{};
    std::uint8_t idlePoint = 2;
    // The diagram's data bytes as the ECU sent them, and the idle point they gave: while
    // the points are those, they go back as these bytes (slopes and flags included).
    std::vector<std::uint8_t> diagramRead;
    std::uint8_t diagramReadIdle = 2;
    MapGrid<std::uint16_t> map{};
    // The map's bytes as the ECU sent them: put back, they go out unchanged.
    MapGrid<std::uint16_t> mapReadWord{};
    MapGrid<bool> mapReadKnown{};
};

EcuImage TakeImage(const Context& ctx);
// Puts the image into the program's models and refreshes what shows them.
void PutImage(Context& ctx, const EcuImage& image);

// Who the ECU says it is: what its identification and name reply carry, less the work
// counters, which go on counting.
struct EcuFingerprint {
    std::string model;
    std::string date;
    std::string version;
    std::array<std::uint8_t, 6> lengths{}; // N, L1..L5
    std::string name;
    bool operator==(const EcuFingerprint&) const = default;
};

EcuFingerprint FingerprintOf(const Context& ctx);

} // namespace bifuel
