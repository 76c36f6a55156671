#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel {

class Context;
class KeyFile;

// The RPM correction map: 8 engine-speed columns by 12 petrol-time rows of factors.
// Index [c][r] with c = 0..8 and r = 0..12: column 0 holds the petrol-time headers,
// row 0 the engine-speed headers, (0, 0) is the corner.
inline constexpr int kMapCols = 8;
inline constexpr int kMapRows = 12;
inline constexpr int kMapGridCols = kMapCols + 1;
inline constexpr int kMapGridRows = kMapRows + 1;

// The write stream: two counts, two period bytes per column, a byte per row, the factors.
inline constexpr std::size_t kMapStreamLength = 2 + 2 * kMapCols + kMapRows + kMapCols * kMapRows;

// Edit limits. Factors in hundredths, engine speed in rpm, petrol time in tenths of a ms.
inline constexpr std::int32_t kMapFactorMin = 1;
inline constexpr std::int32_t kMapFactorMax = 199;
inline constexpr std::int32_t kMapFactorOne = 100;
inline constexpr std::int32_t kMapRpmLowest = 500; // a column header is 0 or at least this
inline constexpr std::int32_t kMapRpmGap = 100;
inline constexpr std::int32_t kMapRpmMax = 8000;
inline constexpr std::int32_t kMapMsMax = 230;

inline constexpr std::size_t kMapTailCapacity = 64;
inline constexpr int kMapTailMs = 500;
// The main window's deferred action that gives the Map page its fonts.
inline constexpr std::uint8_t kActionMapFonts = 15;

// Index 0 unused: columns and rows count from 1.
inline constexpr std::array<std::uint16_t, kMapGridCols> Default_Map_Rpm{
    0, 0, 500, 1000, 1500, 2000, 2500, 3000, 4000};
inline constexpr std::array<std::uint16_t, kMapGridRows> Default_Map_Ms{
    0, 0, 10, 20, 30, 40, 50, 70, 90, 120, 150, 180, 220};

// Map_Mark values.
inline constexpr std::uint8_t kMarkPlain = 0;
inline constexpr std::uint8_t kMarkSelected = 1;
inline constexpr std::uint8_t kMarkChanged = 2; // differs from the default

struct MapCell {
    int c = 0;
    int r = 0;
    bool operator==(const MapCell&) const = default;
};

template <typename T> using MapGrid = std::array<std::array<T, kMapGridRows>, kMapGridCols>;

// The map's data. The texts are the working copy while editing; the values follow them
// before a save or a send, and lead them after a read, a load or a reset.
struct RpmMap {
    MapGrid<std::uint16_t> Map_Value{};
    MapGrid<std::string> Map_Text{};
    MapGrid<std::uint8_t> Map_Mark{};
    int Map_Cols = kMapCols;
    int Map_Rows = kMapRows;
    bool Grid_Built = false; // nothing to show or edit until the first read, load or reset

    // The ECU's own bytes of the last read (headers as period words). Several bytes decode
    // to one value, so a cell that goes back with the value it was read with keeps its byte.
    MapGrid<std::uint16_t> Read_Word{};
    MapGrid<bool> Read_Known{};

    MapCell Live_Cell{}; // row 0: the petrol time is below the first row
    std::array<MapCell, kMapTailCapacity> Map_Tail{};
    std::size_t Map_Tail_Count = 0;
};

// ---- Values and bytes -------------------------------------------------------------------

// The byte sent for a factor: the smallest whose decoded factor is not below it.
std::uint8_t FactorToByte(std::int32_t factor);
// factor = byte * 25 / 32 (the byte divided by 1.28), truncated.
std::int32_t ByteToFactor(std::uint8_t b);
// A decimal text times scale, truncated. Texts with up to log10(scale) decimals give
// their exact value, which plain floating-point products do not ("1.15" * 100). No value
// for a text that is not a number.
std::optional<std::int32_t> TextToScaled(std::string_view text, std::int32_t scale);

// ---- Model operations ---------------------------------------------------------------------

// Header texts as numbers (rpm, tenths of a ms); a text that is not a number counts 0.
std::int32_t HeaderRpm(const RpmMap& m, int c);
std::int32_t HeaderTenths(const RpmMap& m, int r);

// The mark a cell's text gives it: changed when it differs from the default, else plain.
std::uint8_t MarkFromText(const RpmMap& m, int c, int r);

// The default map: the default headers and factors 1.00 (the corner 0).
MapGrid<std::uint16_t> DefaultMapValues();
// Rebuilds the grid at 8 x 12 with the default values.
void ResetMap(Context& ctx);
// Selected factor cells (or, with nothing selected, all of them) back to "1.00".
void ClearFactors(Context& ctx);
// Every selected cell one step (+1 or -1) within its limits, then the debounced send.
void StepSelected(Context& ctx, int step);
// Marks from the texts (selections cleared), opacities reset, frames redrawn.
void UpdateMarks(Context& ctx);
// A factor in hundredths as a cell shows it: "1.08".
std::string FactorText(std::int32_t hundredths);
// The cell a speed and a petrol time fall in: the last column whose speed is below, the
// last row whose time is below; row 0 below the first row.
MapCell CellAt(const RpmMap& map, std::int32_t rpm, std::int32_t petrolUs);
// After every live reply: the live cell, the trace and the label colour.
void UpdateLiveCell(Context& ctx);
// Timer_3D_MapRPM_Tail: drops the oldest trace entry, or stops when at most one is left.
void TailTick(Context& ctx);

// The read stream held by the link has arrived in full: values, grid and texts.
void DecodeMapStream(Context& ctx);
// The grid rebuilt at 8 x 12 and the texts written from the values.
void BuildMap(Context& ctx);
// The 126-byte write stream of map values; a cell that still decodes from the byte the ECU
// sent for it goes back as that byte.
std::vector<std::uint8_t> EncodeMapStream(const MapGrid<std::uint16_t>& values,
                                          const MapGrid<std::uint16_t>& readWord,
                                          const MapGrid<bool>& readKnown);
// The texts into the values, then the stream.
std::vector<std::uint8_t> EncodeMapStream(Context& ctx);
void TextsToValues(Context& ctx);
void ValuesToTexts(Context& ctx);

// The map's keys of a configuration file that is open in `file`.
void SaveMapKeys(Context& ctx, KeyFile& file);
void LoadMapKeys(Context& ctx, KeyFile& file);
// The map's values a file holds, over `values`; keys the file lacks leave theirs.
void ReadMapKeys(KeyFile& file, MapGrid<std::uint16_t>& values);
// The file key of cell (c, r), 1-based grid positions: "Cell_0_0" is the first cell.
std::string MapCellKey(int c, int r);

// The page's buttons: both end in a map write (pending request 24).
void HudButton_3D_MapRPM_ClearClick(Context& ctx);
void HudButton_3D_MapRPM_DefaultClick(Context& ctx);

} // namespace bifuel
