#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel {

class ColourTable;
class KeyFile;
struct Settings_Class;

enum class BrushStyle { Solid, Gradient };

// The fill of a window: the main window's is the program's skin, the others copy it.
struct WindowSkin {
    std::string Color = "#EAD7D5D5";
    BrushStyle Style = BrushStyle::Solid;
    std::vector<std::string> GradColors{"#FF000000", "#FFFFFFFF"}; // gradient points 0, 1, ...
    bool operator==(const WindowSkin&) const = default;
};

// More gradient points than any editor makes; a file cannot grow the list past them.
inline constexpr int kMaxGradientPoints = 16;

// The default fill; the font colour goes back to white with colour entry 0.
void ResetSkin(WindowSkin& skin, Settings_Class& settings, ColourTable& colours);

// The skin window's "Default": font, colour table and fill back to their defaults. The
// caller then queues the skin and font actions, 300 ms each.
void Skin_Default(Settings_Class& settings, ColourTable& colours, WindowSkin& skin);

// Gives another window the main window's fill: colour, style and each gradient point.
void CopySkin(const WindowSkin& main, WindowSkin& window);

// The Flip effect's new window colour: the old colour's alpha with red, green and blue from
// the generator (one draw). A text that is not a colour counts as opaque.
std::string FlipColour(std::string_view oldColour, std::mt19937& random);

// The font colour and colour entry 0 always change together.
void SetFontColour(Settings_Class& settings, ColourTable& colours, std::string colour);

// What a font dialog is preset with and what it returns.
struct FontChoice {
    std::string name;
    std::int32_t size = 12;   // whole points
    std::int32_t style = 0;   // 0 regular, 1 bold, 2 italic, 3 bold italic
    std::uint32_t colour = 0; // 0xAARRGGBB
};

FontChoice FontDialogPreset(const Settings_Class& settings);
// The confirmed dialog's font becomes the program font; colour entry 0 follows. The
// caller then queues the font action (100 ms). A choice without a name or with a size
// outside the font limits is ignored (false).
bool TakeFontChoice(Settings_Class& settings, ColourTable& colours, const FontChoice& choice);

// The settings key of one font part ("_Name", "_Size", "_Style", "_Color") of a language.
// Characters that would end a key early are written as "_", so every language reads its
// own keys back.
std::string FontKey(std::string_view language, std::string_view part);

// The font of settings.Language from the open file; a key that is absent or not usable
// keeps the current value.
void LoadFont(KeyFile& file, Settings_Class& settings);
void SaveFont(KeyFile& file, const Settings_Class& settings);

// The main window's fill from the open file: "Form_3D_Color", "Form_3D_Style" and, with a
// style present, "Form_3D_GradColor_" + n.
void LoadSkin(KeyFile& file, WindowSkin& skin);
void SaveSkin(KeyFile& file, const WindowSkin& skin);

} // namespace bifuel
