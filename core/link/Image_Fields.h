#pragma once

// The set-up as single fields, so that edits are what the user changed and not a whole
// image: which fields two images differ in, and copying only those.

#include "autocalibration/AutoCLB_Restore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bifuel {

// One field whose value differs between two images. It is named by its configuration file
// key where it has one ("PG_RPM", "Gas_Point_5", "Cols_3", "Cell_2_7"), else by its name
// in the record ("ACB_Corr_93", "CFG_Name", "Idle_Point"); the values are texts as the file
// writes them ("?" for a temperature whose degrees are unknown).
struct FieldChange {
    std::string key;
    std::string from;
    std::string to;
    bool operator==(const FieldChange&) const = default;
};
using FieldChanges = std::vector<FieldChange>;

enum class FieldScope : std::uint8_t {
    All,   // the whole set-up, with what only the program and its file hold
    OnEcu, // what the ECU stores: the configuration it reports, the name, diagram and map
};

// The fields in which `to` differs from `from`, in a fixed order: the configuration, the
// name, the diagram, the RPM map, then what only the program holds. The identification
// and the work counters describe the ECU, not its set-up: they are no field.
FieldChanges ImageChanges(const EcuImage& from, const EcuImage& to,
                          FieldScope scope = FieldScope::All);

// Takes into `into` every field in which `edited` differs from `base`; every other field
// of `into`, and the bytes it keeps as the ECU sent them, stay as they are.
void CopyChangedFields(const EcuImage& base, const EcuImage& edited, EcuImage& into);

} // namespace bifuel
