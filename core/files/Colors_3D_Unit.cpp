#include "files/Colors_3D_Unit.h"

#include "files/FindUnit.h"

#include <cctype>

namespace bifuel {

// The defaults are drawn on the dark HUD panels: every one keeps at least a 3:1 contrast
// there, so the blues and dark reds of the classic palette are lightened.
const std::array<ColourEntry, kColourCount>& ColourEntries() {
    static constexpr std::array<ColourEntry, kColourCount> kEntries{{
        {"Color_3D_General", "General color for the font", "#FFFFFFFF"},
        {"Color_3D_Automat", "MODE : Automat", "#FF2BDFEA"},
        {"Color_3D_Petrol", "MODE : Petrol", "#FFF9FA4B"},
        {"Color_3D_Gas", "MODE : Gas", "#FFA4F964"},
        {"Color_3D_RPM", "R.P.M.", "#FFFFFFFF"},
        {"Color_3D_PressVap", "Reducer pressure", "#FFFFFFFF"},
        {"Color_3D_Manifuld", "Manifuld", "#FFFFFFFF"},
        {"Color_3D_PressDiff", "Differential pressure", "#FFFFFFFF"},
        {"Color_3D_TempVap", "Reducer temperature", "#FFFFFFFF"},
        {"Color_3D_TempGas", "Gas temperature", "#FFFFFFFF"},
        {"Color_3D_Port_Open", "The connection port is open", "#FFA4F964"},
        {"Color_3D_Port_Close", "The connection port is close", "#FFF60000"},
        {"Color_3D_Txt_Not_Default", "Type a text message: not the factory settings", "#FFE684D3"},
        {"Color_3D_Txt_Attention", "Type a text message:Attention", "#FFF60000"},
        {"Color_3D_Txt_Information", "Type a text message:Information", "#FF5AB4FF"},
        {"Color_3D_Txt_Complete", "Type a text message:Complete", "#FF00FF00"},
        {"Color_3D_Txt_Recomm", "Type a text message:Recomm", "#FFE911D0"},
        {"Color_3D_Txt_Error", "Type a text message:Error", "#FFFF0000"},
        {"Color_3D_Diagram_Grid", "The grid diagram", "#FFABABAB"},
        {"Color_3D_Diagram", "Diagram", "#FFFF0000"},
        {"Color_3D_Diagram_Gas", "Diagram point: \"Petrol-Gas\"", "#FF53A33B"},
        {"Color_3D_Diagram_Vacuum", "Diagram point: \"Petrol-Vacuum\"", "#FF00FFFF"},
        {"Color_3D_Diagram_ReCalc", "Recalculation of the diagram", "#FFD01CC3"},
        {"Color_3D_Map_Point_Line", "MAP pair of points", "#FF6E8CFF"},
        {"Color_3D_Map_Point_Gas", "MAP points of the gas", "#FFA4F964"},
        {"Color_3D_Map_Point_Petrol", "MAP points of the Petrol", "#FFF9FA4B"},
        {"Color_3D_Diagram_Marked", "The selected point on the diagram", "#FF4FA3FF"},
        {"Color_3D_Diagram_Fixed", "The fixed point on the diagram", "#FFC45A4A"},
        {"Color_3D_Diagram_Idle", "Diagram point: \"Idle run\"", "#FFA37A3B"},
        {"Color_3D_ACB_Pet_Pet", "AutoCalibration : Petrol on petrol", "#FFF9FA4B"},
        {"Color_3D_ACB_Pet_Gas", "AutoCalibration : Petrol on gas", "#FFC5A41D"},
        {"Color_3D_ACB_Gas_Gas", "AutoCalibration : Gas", "#FFA4F964"},
        {"Color_3D_MapRPM_Gas", "Table of R.P.M.: Gas", "#FF00FF00"},
        {"Color_3D_MapRPM_Pet", "Table of R.P.M.: Petrol", "#FFFFFF00"},
        {"Color_3D_MapRPM_Gas_Tail", "Table of R.P.M.: gas trace (\"tail\")", "#FF2E9F36"},
        {"Color_3D_MapRPM_Pet_Tail", "Table of R.P.M.: petrol trace (\"tail\")", "#FF858500"},
        {"Color_3D_MapRPM_Cell_Corr", "Table of R.P.M.: indication of correction", "#FFFF0000"},
        {"Color_3D_MapRPM_Select_Cell", "Table of R.P.M.: selected cell or group", "#FF3D9BFF"},
    }};
    return kEntries;
}

void ColourTable::ResetColours(const std::string& fontColour) {
    const auto& entries = ColourEntries();
    for (int i = 0; i < kColourCount; ++i)
        texts_[i] = std::string(entries[i].defaultText);
    texts_[0] = fontColour;
}

bool IsColourText(std::string_view text) {
    if (text.size() != 9 || text[0] != '#') return false;
    for (const char c : text.substr(1)) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

void LoadColours(KeyFile& file, ColourTable& colours) {
    const auto& entries = ColourEntries();
    for (int i = 0; i < kColourCount; ++i) {
        if (file.FindKey(entries[i].key) && IsColourText(file.Found_Value))
            colours.set(static_cast<Colour>(i), file.Found_Value);
    }
}

void SaveColours(KeyFile& file, const ColourTable& colours) {
    const auto& entries = ColourEntries();
    for (int i = 0; i < kColourCount; ++i)
        file.SetKey(entries[i].key, colours.ColourOf(i));
}

} // namespace bifuel
