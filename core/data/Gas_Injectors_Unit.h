#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace bifuel {

// The gas injector types the configuration can name, index 1..19 (array position + 1).
inline constexpr std::array<std::string_view, 19> kGasInjectorNames = {
    "VALTEK 3 Om",
    "MATRIX",
    "REG",
    "MEMBRANE",
    "ZAVOLI",
    "VALTEK 1 Om",
    "PLANIjet",
    "RAIL IG1 3 Om",
    "KEIHIN",
    "RAIL IG3 2.8 Om",
    "Tartarini EVO 07",
    "VALTEK 34",
    "CGS",
    "A.E.B.",
    "RAIL IG5 3 Om",
    "DYMCO",
    "OMVL 3 Om",
    "HANA 3 Om",
    "ANOTHER",
};

// Gas time range, in microseconds, an engine idling on gas should show with this injector.
struct IdleGasRange {
    std::int32_t minUs = 0;
    std::int32_t maxUs = 0;
};

// Line of the default calibration diagram: gas ms = slope / 25 * petrol ms + offsetMs.
struct DiagramCoefficients {
    double slope = 23.0;
    double offsetMs = 2.0;
};

// Exact, case-sensitive search; the 1-based index, or 0 when the name is not a type.
std::int32_t InjectorTypeIndex(std::string_view name);

// The idle range of injector type `index`; none for "ANOTHER" and for an index that names
// no type, so the caller keeps its own range.
std::optional<IdleGasRange> IdleGasWindow(std::int32_t index);

// The default-diagram line of injector type `index`; an index that names no type gets the
// common offset of 2.0 ms.
DiagramCoefficients DefaultDiagramCoefficients(std::int32_t index);

} // namespace bifuel
