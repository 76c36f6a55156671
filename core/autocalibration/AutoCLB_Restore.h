#pragma once

#include "calibration/Calibr_Unit.h"
#include "data/Config_Unit.h"
#include "link/Link_Operations.h"
#include "rpm_map/MapRPM_Unit.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace bifuel {

class Context;

// Everything an auto-calibration may change on the ECU, as the program holds it: the
// configuration (with the corrections and support parameters), the whole diagram and the
// RPM map. Put back into the program and written with "write everything", it gives the
// ECU exactly these bytes again.
struct EcuImage {
    Configuration_Class config;
    std::map<std::uint8_t, std::uint16_t> rawParams; // bytes kept for values the page does not hold
    DiagramTimes petrol{};
    DiagramTimes gas{};
    std::uint8_t idlePoint = 2;
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

// A run that could not put back what the ECU had (the link went first): the image waits
// for the same ECU to answer again.
struct PendingRestore {
    EcuImage image;
    EcuFingerprint ecu;
    bool result = false;       // the image is the run's result, not what the ECU had
    OperationId write = 0;     // the write that puts it there, once sent
    OperationId petrol = 0;    // then all cylinders back to petrol: the run may have left some on gas
    bool otherEcuTold = false; // the user knows this connection is to another ECU
};

// The text the page and the tool show while an ECU holds part of a run's changes, and
// what becomes of them.
std::string PartialCalibrationText(const Context& ctx, bool result);

// Called by the link: everything has been read after a connection (a pending restore goes
// out now, before the user can act on what was read), and an operation has ended.
void ACB_On_Data_Loaded(Context& ctx);
void ACB_Operation_Ended(Context& ctx, const OperationEnd& end);

// Keeps `image` for `ecu` until that ECU answers again; says so on the status line.
void KeepRestorePending(Context& ctx, const EcuImage& image, const EcuFingerprint& ecu, bool result);

} // namespace bifuel
