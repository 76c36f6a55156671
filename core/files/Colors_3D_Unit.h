#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>

namespace bifuel {

class KeyFile;

// The 38 named display colours. The numbers are their places in the settings file
// and in the skin window's list.
enum class Colour : int {
    General = 0,
    Automat,
    Petrol,
    Gas,
    RPM,
    PressVap,
    Manifuld,
    PressDiff,
    TempVap,
    TempGas,
    Port_Open,
    Port_Close,
    Txt_Not_Default,
    Txt_Attention,
    Txt_Information,
    Txt_Complete,
    Txt_Recomm,
    Txt_Error,
    Diagram_Grid,
    Diagram,
    Diagram_Gas,
    Diagram_Vacuum,
    Diagram_ReCalc,
    Map_Point_Line,
    Map_Point_Gas,
    Map_Point_Petrol,
    Diagram_Marked,
    Diagram_Fixed,
    Diagram_Idle,
    ACB_Pet_Pet,
    ACB_Pet_Gas,
    ACB_Gas_Gas,
    MapRPM_Gas,
    MapRPM_Pet,
    MapRPM_Gas_Tail,
    MapRPM_Pet_Tail,
    MapRPM_Cell_Corr,
    MapRPM_Select_Cell,
};

inline constexpr int kColourCount = 38;

struct ColourEntry {
    std::string_view key;         // settings key, e.g. "Color_3D_Port_Open"
    std::string_view description; // English text of the key
    std::string_view defaultText; // "#AARRGGBB"; entry 0 follows the font colour
};

const std::array<ColourEntry, kColourCount>& ColourEntries();

// The current colours as "#AARRGGBB" texts.
class ColourTable {
  public:
    explicit ColourTable(std::string fontColour = "#FFFFFFFF") { ResetColours(fontColour); }

    const std::string& ColourOf(Colour c) const { return texts_[static_cast<int>(c)]; }
    const std::string& ColourOf(int index) const { return texts_.at(index); }
    void set(Colour c, std::string text) { texts_[static_cast<int>(c)] = std::move(text); }

    // Every entry back to its default; entry 0 takes the font colour.
    void ResetColours(const std::string& fontColour);

  private:
    std::array<std::string, kColourCount> texts_;
};

// "#" and eight hexadecimal digits (alpha, red, green, blue), either case.
bool IsColourText(std::string_view text);

// Every colour key of the open file that holds a colour text; other entries keep theirs.
void LoadColours(KeyFile& file, ColourTable& colours);
// All 38 colour keys, in table order.
void SaveColours(KeyFile& file, const ColourTable& colours);

} // namespace bifuel
