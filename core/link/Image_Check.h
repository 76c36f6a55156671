#pragma once

// The one check of what a write will leave on the ECU, run on the whole image right before
// it is sent (and before a load or a restore puts anything into the record). It accepts
// every value the ECU can hold and refuses what the ECU cannot hold exactly, or a diagram
// or map that an edit or a file bent out of shape.

#include "files/SaveLoad_3D_Unit.h"
#include "link/Ecu_Image.h"
#include "link/Link_State.h"

#include <optional>
#include <string>

namespace bifuel {

class Context;
class TemperatureTable;

// Which parts of the ECU a request writes.
struct WriteParts {
    bool name = false;
    bool params = false;
    bool diagram = false;
    bool map = false;
    bool any() const { return name || params || diagram || map; }
};
WriteParts PartsOf(Request request);

// What breaks a rule: a field by its configuration file key, the value it would have, and
// the rule it must keep (filled in). Where the same fault may be blamed on a neighbour
// (two diagram points out of order), `other` names that one with its own rule.
struct ImageFault {
    std::string key;
    std::string value;
    std::string rule;
    std::optional<std::string> otherKey;
    std::string otherValue;
    std::string otherRule;
};

// The parts of `image` that `parts` writes, checked: each parameter fits what the ECU can
// hold (a value the ECU reported always does); the name is empty, the one the ECU's bytes
// give, or a usable configuration name; the diagram and the map keep the editing rules
// where they differ from `onEcu`, what the ECU holds now (none: everywhere).
std::optional<ImageFault> CheckEcuImage(const EcuImage& image, const EcuImage* onEcu,
                                        TemperatureTable& table, WriteParts parts,
                                        const ConfigTextLookup& text);

// The fault as the user reads it.
std::string ImageFaultText(const ImageFault& fault, const ConfigTextLookup& text);

// What the ECU was last known to hold; none before an ECU was read.
const EcuImage* EcuHoldsNow(const Context& ctx);

// The record as a write of `request` would send it now (the map's texts taken as values),
// checked against what the ECU was last known to hold.
std::optional<ImageFault> CheckWrite(Context& ctx, Request request, EcuImage& image);

} // namespace bifuel
