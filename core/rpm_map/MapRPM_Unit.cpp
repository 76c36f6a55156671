#include "rpm_map/MapRPM_Unit.h"

#include "Context.h"
#include "data/Calc_Unit.h"
#include "files/FindUnit.h"
#include "link/Global_Unit.h"
#include "link/Link_Operations.h"
#include "rpm_map/MapRPM_View.h"

#include <algorithm>
#include <cmath>

namespace bifuel {
namespace {

constexpr std::string_view kCornerText = "ms\\rpm";

bool isFactorCell(int c, int r) {
    return c >= 1 && r >= 1;
}
bool isCorner(int c, int r) {
    return c == 0 && r == 0;
}

std::uint16_t toValue(std::int32_t v) {
    return static_cast<std::uint16_t>(std::clamp(v, 0, 0xFFFF));
}

std::string rpmText(std::int32_t rpm) {
    return std::to_string(rpm);
}
std::string msText(std::int32_t tenths) {
    return TenthsToText(tenths);
}

bool isOne(const std::string& text) {
    return text == "1.00" || text == "1,00";
}

} // namespace

std::int32_t HeaderRpm(const RpmMap& m, int c) {
    return TextToScaled(m.Map_Text[c][0], 1).value_or(0);
}
std::int32_t HeaderTenths(const RpmMap& m, int r) {
    return TextToScaled(m.Map_Text[0][r], 10).value_or(0);
}

std::uint8_t MarkFromText(const RpmMap& m, int c, int r) {
    if (isCorner(c, r)) return kMarkPlain;
    if (r == 0) return HeaderRpm(m, c) != Default_Map_Rpm[c] ? kMarkChanged : kMarkPlain;
    if (c == 0) return HeaderTenths(m, r) != Default_Map_Ms[r] ? kMarkChanged : kMarkPlain;
    return isOne(m.Map_Text[c][r]) ? kMarkPlain : kMarkChanged;
}

namespace {

std::string stepFactor(const std::string& text, int step) {
    const auto x = TextToFloat(text);
    if (!x) return text;
    // The 0.1 keeps "0.29" (28.999... after the product) from losing a hundredth.
    const std::int32_t v =
        std::clamp(TruncToInt(*x * 100 + 0.1 + step), kMapFactorMin, kMapFactorMax);
    return FactorText(v);
}

std::string stepRpmHeader(const RpmMap& m, int c, int step) {
    std::int32_t e = HeaderRpm(m, c) + step * kMapRpmGap;
    if (c > 1) {
        const std::int32_t p = HeaderRpm(m, c - 1);
        if (p == 0 && e < kMapRpmLowest) {
            e = kMapRpmLowest;
        } else if (p != 0 && e <= p) {
            e = p + kMapRpmGap;
        }
    } else if (e < kMapRpmLowest) {
        e = step > 0 ? kMapRpmLowest : 0;
    }
    if (c < m.Map_Cols) {
        const std::int32_t n = HeaderRpm(m, c + 1);
        if (e >= n) e = n - kMapRpmGap;
        if (e < kMapRpmLowest) e = 0;
    } else if (e > kMapRpmMax) {
        e = kMapRpmMax;
    }
    return rpmText(e);
}

std::string stepMsHeader(const RpmMap& m, int r, int step) {
    std::int32_t e = HeaderTenths(m, r) + step;
    if (r > 1) {
        const std::int32_t p = HeaderTenths(m, r - 1);
        if (e <= p) e = p + 1;
    } else if (e < 0) {
        e = 0;
    }
    if (r < m.Map_Rows) {
        const std::int32_t n = HeaderTenths(m, r + 1);
        if (e >= n) e = n - 1;
    } else if (e > kMapMsMax) {
        e = kMapMsMax;
    }
    return msText(e);
}

void appendTail(Context& ctx, MapCell cell) {
    RpmMap& m = ctx.rpmMap;
    if (m.Map_Tail_Count > 0 && m.Map_Tail[m.Map_Tail_Count - 1] == cell) return;
    if (m.Map_Tail_Count == kMapTailCapacity) {
        std::move(m.Map_Tail.begin() + 1, m.Map_Tail.end(), m.Map_Tail.begin());
        --m.Map_Tail_Count;
    }
    m.Map_Tail[m.Map_Tail_Count++] = cell;
    // Already running, it keeps its pace: restarting it on every new cell would hold the
    // trace back for as long as the engine keeps moving.
    Timer& timer = *ctx.timers.Timer_3D_MapRPM_Tail;
    if (!timer.isRunning()) timer.start();
}

// A loaded value outside what the stream can carry would wrap on the way to the ECU.
void loadValue(std::uint16_t& target, std::optional<std::int32_t> v, std::int32_t max) {
    if (v) target = static_cast<std::uint16_t>(std::clamp(*v, 0, max));
}

} // namespace

std::uint8_t FactorToByte(std::int32_t factor) {
    const std::int32_t f = std::clamp(factor, 0, kMapFactorMax);
    return static_cast<std::uint8_t>(std::min((f * 32 + 24) / 25, 255));
}

std::int32_t ByteToFactor(std::uint8_t b) {
    return b * 25 / 32;
}

std::optional<std::int32_t> TextToScaled(std::string_view text, std::int32_t scale) {
    const auto x = TextToFloat(text);
    if (!x) return std::nullopt;
    const double product = *x * scale;
    const double nearest = std::round(product);
    // A decimal fraction is rarely exact in binary; within a hair of a whole number the
    // product is that number, further off the rest is cut as a truncation would.
    if (std::abs(product - nearest) < 1e-6) return TruncToInt(nearest);
    return TruncToInt(product);
}

MapGrid<std::uint16_t> DefaultMapValues() {
    MapGrid<std::uint16_t> values{};
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            if (isCorner(c, r)) continue;
            values[c][r] = r == 0   ? Default_Map_Rpm[c]
                           : c == 0 ? Default_Map_Ms[r]
                                    : static_cast<std::uint16_t>(kMapFactorOne);
        }
    }
    return values;
}

void ResetMap(Context& ctx) {
    RebuildMapGrid(ctx);
    ctx.rpmMap.Map_Value = DefaultMapValues();
    ctx.mapView.Current = {};
    UpdateMapCellData(ctx);
    ValuesToTexts(ctx);
}

void ClearFactors(Context& ctx) {
    RpmMap& m = ctx.rpmMap;
    if (!m.Grid_Built) return;
    bool anySelected = false;
    for (const auto& column : m.Map_Mark) {
        anySelected =
            anySelected || std::find(column.begin(), column.end(), kMarkSelected) != column.end();
    }
    const std::string one = FactorText(kMapFactorOne);
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            std::uint8_t& mark = m.Map_Mark[c][r];
            if (anySelected) {
                if (mark != kMarkSelected) continue;
                if (isFactorCell(c, r)) m.Map_Text[c][r] = one;
                mark = kMarkPlain;
            } else if (isFactorCell(c, r)) {
                m.Map_Text[c][r] = one;
                mark = kMarkPlain;
            }
        }
    }
}

void StepSelected(Context& ctx, int step) {
    RpmMap& m = ctx.rpmMap;
    if (m.Grid_Built) {
        // Column by column: each cell sees its neighbours' texts as changed so far.
        for (int c = 0; c <= m.Map_Cols; ++c) {
            for (int r = 0; r <= m.Map_Rows; ++r) {
                if (m.Map_Mark[c][r] != kMarkSelected || isCorner(c, r)) continue;
                std::string& text = m.Map_Text[c][r];
                if (isFactorCell(c, r)) {
                    text = stepFactor(text, step);
                } else if (r == 0) {
                    text = stepRpmHeader(m, c, step);
                } else {
                    text = stepMsHeader(m, r, step);
                }
            }
        }
        UpdateMapCellData(ctx);
    }
    ScheduleWrite(ctx, 4);
}

std::string FactorText(std::int32_t hundredths) {
    return FixedText(hundredths / 100.0, 2);
}

void UpdateMarks(Context& ctx) {
    RpmMap& m = ctx.rpmMap;
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            m.Map_Mark[c][r] = m.Grid_Built ? MarkFromText(m, c, r) : kMarkPlain;
        }
    }
    ResetMapOpacities(ctx);
    RedrawMapFrames(ctx);
}

MapCell CellAt(const RpmMap& m, std::int32_t rpm, std::int32_t petrolUs) {
    int col = 1;
    for (int c = m.Map_Cols; c >= 1; --c) {
        if (HeaderRpm(m, c) < rpm) {
            col = c;
            break;
        }
    }
    const auto micros = [&m](int r) { return TextToScaled(m.Map_Text[0][r], 1000).value_or(0); };
    int row = 1;
    for (int r = m.Map_Rows; r >= 1; --r) {
        if (micros(r) < petrolUs) {
            row = r;
            break;
        }
    }
    if (micros(row) > petrolUs) row = 0;
    return {col, row};
}

void UpdateLiveCell(Context& ctx) {
    RpmMap& m = ctx.rpmMap;
    if (!m.Grid_Built) return;
    const LiveData& live = ctx.live;
    const MapCell cell = CellAt(m, live.Live_RPM, live.Live_Petrol_Avg);
    const int col = cell.c;
    const int row = cell.r;
    m.Live_Cell = cell;
    appendTail(ctx, m.Live_Cell);
    RedrawMapFrames(ctx);
    // Below the first row no factor applies, whatever the header above it reads.
    const bool corrected = row != 0 && !isOne(m.Map_Text[col][row]);
    ctx.mapView.HudLabel_3D_MapRPM_CellData.colour =
        corrected ? ctx.colours.ColourOf(Colour::MapRPM_Cell_Corr) : std::string();
}

void TailTick(Context& ctx) {
    RpmMap& m = ctx.rpmMap;
    if (m.Map_Tail_Count < 2) {
        ctx.timers.Timer_3D_MapRPM_Tail->stop();
        return;
    }
    std::move(m.Map_Tail.begin() + 1,
              m.Map_Tail.begin() + static_cast<std::ptrdiff_t>(m.Map_Tail_Count),
              m.Map_Tail.begin());
    --m.Map_Tail_Count;
    RedrawMapFrames(ctx);
}

void DecodeMapStream(Context& ctx) {
    const MapTransfer& t = ctx.link.Map;
    const int nc = (t.Read_Cols >= 2 && t.Read_Cols <= kMapCols) ? t.Read_Cols : kMapCols;
    const int nr = (t.Read_Rows >= 2 && t.Read_Rows <= kMapRows) ? t.Read_Rows : kMapRows;
    const std::vector<std::uint8_t>& s = t.Read_Stream;
    if (s.size() < static_cast<std::size_t>(nc * nr + 2 * nc + nr)) return;
    RpmMap& m = ctx.rpmMap;
    m.Read_Known = {};
    auto keep = [&m](int c, int r, std::uint16_t word) {
        m.Read_Word[c][r] = word;
        m.Read_Known[c][r] = true;
    };
    std::size_t at = 0;
    for (int c = 1; c <= nc; ++c, at += 2) {
        m.Map_Value[c][0] = toValue(PeriodToRpm(s[at], s[at + 1]));
        keep(c, 0, static_cast<std::uint16_t>(s[at] << 8 | s[at + 1]));
    }
    for (int r = 1; r <= nr; ++r)
        m.Map_Value[0][r] = s[at++];
    for (int c = 1; c <= nc; ++c) {
        for (int r = 1; r <= nr; ++r) {
            m.Map_Value[c][r] = toValue(ByteToFactor(s[at]));
            keep(c, r, s[at++]);
        }
    }
    BuildMap(ctx);
}

void BuildMap(Context& ctx) {
    RebuildMapGrid(ctx);
    ValuesToTexts(ctx);
}

std::vector<std::uint8_t> EncodeMapStream(const MapGrid<std::uint16_t>& values,
                                          const MapGrid<std::uint16_t>& readWord,
                                          const MapGrid<bool>& readKnown) {
    std::vector<std::uint8_t> out{kMapCols, kMapRows};
    out.reserve(kMapStreamLength);
    // What the ECU sent for this cell, when it still decodes to the value to send.
    auto asRead = [&](int c, int r, std::int32_t decoded) {
        return readKnown[c][r] && decoded == values[c][r];
    };
    for (int c = 1; c <= kMapCols; ++c) {
        const std::int32_t rpm = values[c][0];
        const std::uint16_t read = readWord[c][0];
        WordBytes period = rpm == 0 ? WordBytes{0xFF, 0xFF} : RpmToPeriodBytes(rpm);
        if (asRead(c, 0,
                   toValue(PeriodToRpm(static_cast<std::uint8_t>(read >> 8),
                                       static_cast<std::uint8_t>(read & 0xFF)))))
            period = WordToBytes(read);
        out.insert(out.end(), period.begin(), period.end());
    }
    for (int r = 1; r <= kMapRows; ++r) {
        out.push_back(static_cast<std::uint8_t>(std::min<int>(values[0][r], 0xFF)));
    }
    for (int c = 1; c <= kMapCols; ++c) {
        for (int r = 1; r <= kMapRows; ++r) {
            const auto read = static_cast<std::uint8_t>(readWord[c][r]);
            out.push_back(asRead(c, r, toValue(ByteToFactor(read))) ? read
                                                                    : FactorToByte(values[c][r]));
        }
    }
    return out;
}

std::vector<std::uint8_t> EncodeMapStream(Context& ctx) {
    TextsToValues(ctx);
    const RpmMap& m = ctx.rpmMap;
    return EncodeMapStream(m.Map_Value, m.Read_Word, m.Read_Known);
}

void TextsToValues(Context& ctx) {
    RpmMap& m = ctx.rpmMap;
    // Without a grid there are no texts: the values are all there is.
    if (!m.Grid_Built) return;
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            if (isCorner(c, r)) continue;
            const std::int32_t scale = r == 0 ? 1 : c == 0 ? 10 : 100;
            if (const auto v = TextToScaled(m.Map_Text[c][r], scale))
                m.Map_Value[c][r] = toValue(*v);
        }
    }
}

void ValuesToTexts(Context& ctx) {
    RpmMap& m = ctx.rpmMap;
    m.Map_Text[0][0] = std::string(kCornerText);
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            if (isCorner(c, r)) continue;
            const std::int32_t v = m.Map_Value[c][r];
            m.Map_Text[c][r] = r == 0 ? rpmText(v) : c == 0 ? msText(v) : FactorText(v);
        }
    }
    UpdateMarks(ctx);
}

void SaveMapKeys(Context& ctx, KeyFile& file) {
    // A map never read, loaded or reset is not known: the file keeps what it has.
    if (!ctx.rpmMap.Grid_Built) return;
    TextsToValues(ctx);
    const RpmMap& m = ctx.rpmMap;
    file.SetKey("Cols_Number", std::to_string(kMapCols));
    file.SetKey("Rows_Number", std::to_string(kMapRows));
    for (int c = 1; c <= kMapCols; ++c)
        file.SetKey("Cols_" + std::to_string(c), rpmText(m.Map_Value[c][0]));
    for (int r = 1; r <= kMapRows; ++r)
        file.SetKey("Rows_" + std::to_string(r), msText(m.Map_Value[0][r]));
    for (int c = 1; c <= kMapCols; ++c) {
        for (int r = 1; r <= kMapRows; ++r)
            file.SetKey(MapCellKey(c, r), FactorText(m.Map_Value[c][r]));
    }
}

std::string MapCellKey(int c, int r) {
    return "Cell_" + std::to_string(c - 1) + "_" + std::to_string(r - 1);
}

void ReadMapKeys(KeyFile& file, MapGrid<std::uint16_t>& values) {
    const auto scaled = [&file](const std::string& key,
                                std::int32_t scale) -> std::optional<std::int32_t> {
        if (!file.FindKey(key)) return std::nullopt;
        return TextToScaled(file.Found_Value, scale);
    };
    for (int c = 1; c <= kMapCols; ++c) {
        const std::string key = "Cols_" + std::to_string(c);
        loadValue(values[c][0], file.GetKeyInt(key) ? std::optional(file.Found_Int) : std::nullopt,
                  kMapRpmMax);
    }
    for (int r = 1; r <= kMapRows; ++r)
        loadValue(values[0][r], scaled("Rows_" + std::to_string(r), 10), 0xFF);
    for (int c = 1; c <= kMapCols; ++c) {
        for (int r = 1; r <= kMapRows; ++r)
            loadValue(values[c][r], scaled(MapCellKey(c, r), 100), kMapFactorMax);
    }
}

void LoadMapKeys(Context& ctx, KeyFile& file) {
    ReadMapKeys(file, ctx.rpmMap.Map_Value);
    BuildMap(ctx);
}

void HudButton_3D_MapRPM_ClearClick(Context& ctx) {
    // An empty page has nothing to clear, and nothing worth sending.
    if (ctx.link.Write_Running || !ctx.rpmMap.Grid_Built) return;
    ClearFactors(ctx);
    UpdateMarks(ctx);
    SetPendingRequest(ctx, Request::WriteMap);
}

void HudButton_3D_MapRPM_DefaultClick(Context& ctx) {
    if (ctx.link.Write_Running) return;
    ResetMap(ctx);
    UpdateMarks(ctx);
    SetPendingRequest(ctx, Request::WriteMap);
}

} // namespace bifuel
