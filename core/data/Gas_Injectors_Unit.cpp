#include "data/Gas_Injectors_Unit.h"

#include <cstddef>

namespace bifuel {
namespace {

struct InjectorTraits {
    bool hasIdleRange;
    IdleGasRange idle;
    double offsetMs;
};

// Per type, in the order of kGasInjectorNames.
constexpr std::array<InjectorTraits, kGasInjectorNames.size()> kTraits = {{
    {true, {4500, 5500}, 2.0}, // VALTEK 3 Om
    {true, {3500, 5000}, 2.0}, // MATRIX
    {true, {4000, 5500}, 2.0}, // REG
    {true, {4000, 5500}, 2.0}, // MEMBRANE
    {true, {4000, 5500}, 2.0}, // ZAVOLI
    {true, {4000, 5000}, 1.0}, // VALTEK 1 Om
    {true, {3500, 5000}, 1.0}, // PLANIjet
    {true, {4500, 5500}, 2.0}, // RAIL IG1 3 Om
    {true, {3000, 4500}, 1.0}, // KEIHIN
    {true, {4000, 5000}, 1.5}, // RAIL IG3 2.8 Om
    {true, {4000, 5500}, 2.0}, // Tartarini EVO 07
    {true, {4000, 5500}, 2.0}, // VALTEK 34
    {true, {4000, 5500}, 1.0}, // CGS
    {true, {4000, 5500}, 2.0}, // A.E.B.
    {true, {4500, 5500}, 2.0}, // RAIL IG5 3 Om
    {true, {4000, 5500}, 1.5}, // DYMCO
    {true, {4000, 5500}, 1.5}, // OMVL 3 Om
    {true, {3500, 4500}, 1.5}, // HANA 3 Om
    {false, {}, 2.0},          // ANOTHER
}};

constexpr double kUnknownTypeOffsetMs = 2.0;

const InjectorTraits* traitsOf(std::int32_t index) {
    if (index < 1 || index > static_cast<std::int32_t>(kTraits.size())) return nullptr;
    return &kTraits[static_cast<std::size_t>(index - 1)];
}

} // namespace

std::int32_t InjectorTypeIndex(std::string_view name) {
    for (std::size_t i = 0; i < kGasInjectorNames.size(); ++i) {
        if (kGasInjectorNames[i] == name) return static_cast<std::int32_t>(i + 1);
    }
    return 0;
}

std::optional<IdleGasRange> IdleGasWindow(std::int32_t index) {
    const InjectorTraits* t = traitsOf(index);
    if (t == nullptr || !t->hasIdleRange) return std::nullopt;
    return t->idle;
}

DiagramCoefficients DefaultDiagramCoefficients(std::int32_t index) {
    const InjectorTraits* t = traitsOf(index);
    return {23.0, t != nullptr ? t->offsetMs : kUnknownTypeOffsetMs};
}

} // namespace bifuel
