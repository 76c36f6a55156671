#include "link/Image_Check.h"

#include "Context.h"
#include "data/Calc_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/Receiver_Unit.h"

#include <variant>

namespace bifuel {
namespace {

std::string pointKey(const char* prefix, std::size_t n) {
    return prefix + std::to_string(n);
}

std::string whole(const ConfigTextLookup& text, std::int64_t low, std::int64_t high) {
    return FillText(text("CFG_Check_Whole"), {std::to_string(low), std::to_string(high)});
}

std::optional<ImageFault> checkParams(const EcuImage& image, TemperatureTable& table,
                                      const ConfigTextLookup& text) {
    for (const std::uint8_t code : ParameterWriteList()) {
        const auto bytes = EncodeParameter(image, table, code);
        if (const auto* f = std::get_if<ParamFault>(&bytes)) {
            return ImageFault{f->key, f->value, FillText(text(f->rule), f->ruleArgs)};
        }
    }
    return std::nullopt;
}

std::optional<ImageFault> checkName(const Configuration_Class& c, const ConfigTextLookup& text) {
    if (c.CFG_Name.empty() || IsValidConfigName(c.CFG_Name)) return std::nullopt;
    if (KeepsEcuName(c)) return std::nullopt;
    return ImageFault{"CFG_Name", c.CFG_Name, text("Edits_Bad_Name")};
}

std::optional<ImageFault> checkDiagram(const EcuImage& image, const ConfigTextLookup& text) {
    const DiagramModel axes;
    const std::int32_t petrolMax = axes.Petrol_Axis_Max;
    const std::int32_t gasMax = axes.Gas_Axis_Max;
    const DiagramTimes& petrol = image.petrol;
    const DiagramTimes& gas = image.gas;
    for (std::size_t n = 0; n < kDiagramPoints; ++n) {
        const std::int32_t p = petrol[n];
        const std::string key = pointKey("Petrol_Point_", n);
        if (p < 0 || p > petrolMax)
            return ImageFault{key, std::to_string(p), whole(text, 0, petrolMax)};
        if (n > 0 && p <= petrol[n - 1]) {
            // Two points out of order: either may be the one a file or an edit moved.
            return ImageFault{key,
                              std::to_string(p),
                              FillText(text("Image_Rule_After"), {std::to_string(petrol[n - 1])}),
                              pointKey("Petrol_Point_", n - 1),
                              std::to_string(petrol[n - 1]),
                              FillText(text("Image_Rule_Before"), {std::to_string(p)})};
        }
    }
    for (std::size_t n = 0; n < kDiagramPoints; ++n) {
        // Every gas time above 0, below the ceiling up to the last point, which may touch it.
        const std::int32_t high = n + 1 < kDiagramPoints ? gasMax - 1 : gasMax;
        if (gas[n] < 1 || gas[n] > high) {
            return ImageFault{pointKey("Gas_Point_", n), std::to_string(gas[n]),
                              whole(text, 1, high)};
        }
    }
    return std::nullopt;
}

std::string rpmKey(int c) {
    return "Cols_" + std::to_string(c);
}
std::string msKey(int r) {
    return "Rows_" + std::to_string(r);
}

std::optional<ImageFault> checkMapHeaders(const MapGrid<std::uint16_t>& m,
                                          const ConfigTextLookup& text) {
    std::int32_t before = 0;
    for (int c = 1; c <= kMapCols; ++c) {
        const std::int32_t v = m[c][0];
        if (v != 0 && (v < kMapRpmLowest || v > kMapRpmMax)) {
            return ImageFault{rpmKey(c), std::to_string(v),
                              FillText(text("Image_Rule_Map_Rpm"), {std::to_string(kMapRpmLowest),
                                                                    std::to_string(kMapRpmMax)})};
        }
        // Columns without a speed come first; the others rise by at least the gap.
        if (before != 0 && v < before + kMapRpmGap) {
            const std::string least = std::to_string(before + kMapRpmGap);
            return ImageFault{rpmKey(c),
                              std::to_string(v),
                              FillText(text("Image_Rule_After"), {std::to_string(before)}) + " (" +
                                  least + ")",
                              rpmKey(c - 1),
                              std::to_string(before),
                              FillText(text("Image_Rule_Before"), {std::to_string(v)})};
        }
        before = v;
    }
    for (int r = 1; r <= kMapRows; ++r) {
        const std::int32_t v = m[0][r];
        if (v > kMapMsMax)
            return ImageFault{msKey(r), TenthsToText(v),
                              FillText(text("CFG_Check_Number"), {"0.0", TenthsToText(kMapMsMax)})};
        if (r > 1 && v <= m[0][r - 1]) {
            return ImageFault{msKey(r),
                              TenthsToText(v),
                              FillText(text("Image_Rule_After"), {TenthsToText(m[0][r - 1])}),
                              msKey(r - 1),
                              TenthsToText(m[0][r - 1]),
                              FillText(text("Image_Rule_Before"), {TenthsToText(v)})};
        }
    }
    return std::nullopt;
}

std::optional<ImageFault> checkMap(const EcuImage& image, const EcuImage* onEcu,
                                   const ConfigTextLookup& text) {
    const MapGrid<std::uint16_t>& m = image.map;
    bool headersChanged = onEcu == nullptr;
    for (int c = 1; c <= kMapCols && !headersChanged; ++c)
        headersChanged = m[c][0] != onEcu->map[c][0];
    for (int r = 1; r <= kMapRows && !headersChanged; ++r)
        headersChanged = m[0][r] != onEcu->map[0][r];
    if (headersChanged) {
        if (auto f = checkMapHeaders(m, text)) return f;
    }
    // A factor the ECU holds stays; one that changes keeps the page's limits.
    for (int c = 1; c <= kMapCols; ++c) {
        for (int r = 1; r <= kMapRows; ++r) {
            if (onEcu != nullptr && m[c][r] == onEcu->map[c][r]) continue;
            if (m[c][r] < kMapFactorMin || m[c][r] > kMapFactorMax) {
                return ImageFault{MapCellKey(c, r), FactorText(m[c][r]),
                                  FillText(text("CFG_Check_Number"),
                                           {FactorText(kMapFactorMin), FactorText(kMapFactorMax)})};
            }
        }
    }
    return std::nullopt;
}

bool sameDiagram(const EcuImage& a, const EcuImage& b) {
    return a.petrol == b.petrol && a.gas == b.gas && a.idlePoint == b.idlePoint;
}

} // namespace

WriteParts PartsOf(Request request) {
    switch (request) {
    case Request::WriteAll:
        return {true, true, true, true};
    case Request::WriteConfig:
        return {false, true, false, false};
    case Request::WriteDiagram:
    case Request::EraseGasAndWriteDiagram:
        return {false, false, true, false};
    case Request::WriteMap:
        return {false, false, false, true};
    default:
        return {};
    }
}

std::optional<ImageFault> CheckEcuImage(const EcuImage& image, const EcuImage* onEcu,
                                        TemperatureTable& table, WriteParts parts,
                                        const ConfigTextLookup& text) {
    if (parts.name) {
        if (auto f = checkName(image.config, text)) return f;
    }
    if (parts.params) {
        if (auto f = checkParams(image, table, text)) return f;
    }
    // What the ECU holds goes back as it is, whatever rule it breaks.
    if (parts.diagram && (onEcu == nullptr || !sameDiagram(image, *onEcu))) {
        if (auto f = checkDiagram(image, text)) return f;
    }
    if (parts.map) {
        if (auto f = checkMap(image, onEcu, text)) return f;
    }
    return std::nullopt;
}

std::string ImageFaultText(const ImageFault& fault, const ConfigTextLookup& text) {
    return FillText(text("Image_Check_Value"), {fault.key, fault.value, fault.rule});
}

std::optional<ImageFault> CheckWrite(Context& ctx, Request request, EcuImage& image) {
    TextsToValues(ctx);
    image = TakeImage(ctx);
    return CheckEcuImage(image, EcuHoldsNow(ctx), ctx.temperatureTable(), PartsOf(request),
                         LanguageTexts(ctx));
}

const EcuImage* EcuHoldsNow(const Context& ctx) {
    const EditTracker& t = ctx.edits;
    return t.Ecu_Id && t.Ecu_Known ? &*t.Ecu_Known : nullptr;
}

} // namespace bifuel
