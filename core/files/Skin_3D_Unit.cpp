#include "files/Skin_3D_Unit.h"

#include "data/Calc_Unit.h"
#include "files/Colors_3D_Unit.h"
#include "files/FindUnit.h"
#include "files/Settings_3D_Unit.h"

#include <string_view>
#include <utility>

namespace bifuel {

namespace {

constexpr std::string_view kGradientStyle = "vgBrushGradient";
constexpr std::string_view kSolidStyle = "vgBrushSolid";

std::string gradKey(int point) {
    return "Form_3D_GradColor_" + std::to_string(point);
}

bool isBlank(std::string_view text) {
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

} // namespace

void ResetSkin(WindowSkin& skin, Settings_Class& settings, ColourTable& colours) {
    skin = WindowSkin{};
    SetFontColour(settings, colours, "#FFFFFFFF");
}

void Skin_Default(Settings_Class& settings, ColourTable& colours, WindowSkin& skin) {
    const Settings_Class defaults;
    settings.Font_Name = defaults.Font_Name;
    settings.Font_Size = defaults.Font_Size;
    settings.Font_Style = defaults.Font_Style;
    settings.Font_Color = defaults.Font_Color;
    colours.ResetColours(settings.Font_Color);
    ResetSkin(skin, settings, colours);
}

void CopySkin(const WindowSkin& main, WindowSkin& window) {
    window.Color = main.Color;
    window.Style = main.Style;
    for (std::size_t i = 0; i < main.GradColors.size(); ++i) {
        if (i < window.GradColors.size())
            window.GradColors[i] = main.GradColors[i];
        else
            window.GradColors.push_back(main.GradColors[i]);
    }
}

std::string FlipColour(std::string_view oldColour, std::mt19937& random) {
    const std::uint32_t alpha =
        IsColourText(oldColour) ? HexPairToByte(oldColour.substr(1)) : 0xFFu;
    const std::uint32_t argb = alpha << 24 | (static_cast<std::uint32_t>(random()) & 0x00FFFFFFu);
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "#";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += kDigits[(argb >> shift) & 0xF];
    return text;
}

void SetFontColour(Settings_Class& settings, ColourTable& colours, std::string colour) {
    settings.Font_Color = std::move(colour);
    colours.set(Colour::General, settings.Font_Color);
}

FontChoice FontDialogPreset(const Settings_Class& settings) {
    return {settings.Font_Name, TruncToInt(settings.Font_Size), CheckFontStyle(settings.Font_Style),
            TextToColor(settings.Font_Color)};
}

bool TakeFontChoice(Settings_Class& settings, ColourTable& colours, const FontChoice& choice) {
    if (isBlank(choice.name) || choice.size < kFontSizeMin || choice.size > kFontSizeMax)
        return false;
    settings.Font_Name = choice.name;
    settings.Font_Size = static_cast<float>(choice.size);
    settings.Font_Style = CheckFontStyle(choice.style);
    SetFontColour(settings, colours, ColorToText(choice.colour));
    return true;
}

std::string FontKey(std::string_view language, std::string_view part) {
    std::string key(language);
    for (char& c : key) {
        if (c == ' ' || c == '\t' || c == '=') c = '_';
    }
    // A line that starts with these is a comment or a section to the file reader.
    if (!key.empty() && (key[0] == '[' || key[0] == '{')) key[0] = '_';
    key += part;
    return key;
}

void LoadFont(KeyFile& file, Settings_Class& settings) {
    const std::string& language = settings.Language;
    if (file.FindKey(FontKey(language, "_Name")) && !isBlank(file.Found_Value))
        settings.Font_Name = file.Found_Value;
    if (const auto size = GetKeyFloat(file, FontKey(language, "_Size"));
        size && *size >= kFontSizeMin && *size <= kFontSizeMax)
        settings.Font_Size = static_cast<float>(*size);
    // Only the four style names count; anything else is not a style.
    if (file.FindKey(FontKey(language, "_Style")) &&
        FontStyleToName(FontNameToStyle(file.Found_Value)) == file.Found_Value)
        settings.Font_Style = FontNameToStyle(file.Found_Value);
    if (file.FindKey(FontKey(language, "_Color")) && IsColourText(file.Found_Value))
        settings.Font_Color = file.Found_Value;
}

void SaveFont(KeyFile& file, const Settings_Class& settings) {
    const std::string& language = settings.Language;
    file.SetKey(FontKey(language, "_Name"), settings.Font_Name);
    file.SetKey(FontKey(language, "_Size"), FixedText(settings.Font_Size, 2));
    file.SetKey(FontKey(language, "_Style"), FontStyleToName(settings.Font_Style));
    file.SetKey(FontKey(language, "_Color"), settings.Font_Color);
}

void LoadSkin(KeyFile& file, WindowSkin& skin) {
    if (file.FindKey("Form_3D_Color") && IsColourText(file.Found_Value))
        skin.Color = file.Found_Value;
    if (!file.FindKey("Form_3D_Style")) return;
    skin.Style = file.Found_Value == kGradientStyle ? BrushStyle::Gradient : BrushStyle::Solid;
    // Points follow one another from 0; a point past the current ones needs its key.
    for (int i = 0; i < kMaxGradientPoints; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const bool present = file.FindKey(gradKey(i)) && IsColourText(file.Found_Value);
        if (!present) {
            if (at >= skin.GradColors.size()) break;
            continue;
        }
        if (at < skin.GradColors.size())
            skin.GradColors[at] = file.Found_Value;
        else
            skin.GradColors.push_back(file.Found_Value);
    }
}

void SaveSkin(KeyFile& file, const WindowSkin& skin) {
    file.SetKey("Form_3D_Color", skin.Color);
    file.SetKey("Form_3D_Style", skin.Style == BrushStyle::Gradient ? kGradientStyle : kSolidStyle);
    int i = 0;
    for (; i < kMaxGradientPoints && static_cast<std::size_t>(i) < skin.GradColors.size(); ++i)
        file.SetKey(gradKey(i), skin.GradColors[static_cast<std::size_t>(i)]);
    // Points the fill no longer has would come back at the next start.
    for (; i < kMaxGradientPoints; ++i)
        file.DeleteKey(gradKey(i));
}

} // namespace bifuel
