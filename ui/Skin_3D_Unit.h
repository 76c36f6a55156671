#pragma once

#include "Hud_Window.h"

class QComboBox;

namespace bifuel::ui {

// The skin window: the program's fill colour, the font colour and style, and the colour
// of each display element, with a reset to the defaults.
class TForm_3D_Skin : public HudToolWindow {
  public:
    static constexpr int kDesignWidth = 436;
    static constexpr int kDesignHeight = 250;
    static constexpr int kMinWidth = 300;
    static constexpr int kMinHeight = 200;

    TForm_3D_Skin(Context& ctx, QWidget* mainWindow);

    // Opens the window at the main window's left, 22 below its top, on element 1.
    void ShowSkinWindow();
    void ApplyTexts();
    void ApplyFonts();
    // The swatches and the element button follow the current colours.
    void RefreshSwatches();
    void ApplyPanelsOpacity(double opacity);

    // The colour and font editors; tests answer in their place.
    ColourPicker pickColour;
    FontPicker pickFont;

    int selectedElement() const { return element_; }
    HudButton* programColourButton() { return programColour_; }
    HudButton* fontColourButton() { return fontColour_; }
    HudButton* fontStyleButton() { return fontStyle_; }
    HudButton* elementButton() { return elementButton_; }
    QComboBox* elementList() { return elements_; }
    HudButton* defaultButton() { return default_; }
    HudSwatch* programSwatch() { return programSwatch_; }
    HudSwatch* fontSwatch() { return fontSwatch_; }
    HudSwatch* elementSwatch() { return elementSwatch_; }

  protected:
    bool event(QEvent* event) override;

  private:
    void build();
    void selectElement(int entry);
    void HudButton_Skin_ColorClick();
    void HudButton_Skin_Font_ColorClick();
    void HudButton_Skin_Font_TypeClick();
    void HudButton_Skin_DetalsClick();
    void HudButton_Skin_DefaultClick();

    QWidget* main_;
    int element_ = 1;
    DesignLayout* panel_ = nullptr; // HudPanel_Skin
    HudButton* programColour_ = nullptr;
    HudSwatch* programSwatch_ = nullptr;
    HudButton* fontColour_ = nullptr;
    HudSwatch* fontSwatch_ = nullptr;
    HudButton* fontStyle_ = nullptr;
    QComboBox* elements_ = nullptr;
    HudButton* elementButton_ = nullptr;
    HudSwatch* elementSwatch_ = nullptr;
    HudButton* default_ = nullptr;
};

} // namespace bifuel::ui
