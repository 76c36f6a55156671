#pragma once

#include "Hud_Window.h"
#include "files/Settings_3D_Unit.h"

#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace bifuel::ui {

class TForm_3D_GEN;

// The Settings window: port (name, automatic search, reply delay, manual choice),
// language, skin and font, write delay, diagram display switches, panel opacity,
// auto-calibration algorithm and program code. It draws the core's settings view and
// hands every change to the core's settings operations.
class TForm_3D_SET : public HudToolWindow {
  public:
    TForm_3D_SET(Context& ctx, TForm_3D_GEN& main);

    // Opens the window at its place, every control filled from the settings; raises it
    // when it is open already.
    void Show_Settings_Window();
    // The program ends with the window open: it keeps its place for the next start.
    void CloseByMainWindow();
    // Texts of the current language; each activation takes them afresh.
    void ApplyTexts();
    // Fonts and colours (the main window's font action).
    void ApplyFonts();
    // Follows what the link changes while the window is open (the port name).
    void Refresh();

    // The Color button: the skin window opens.
    std::function<void()> onSkinButton;
    // The panel opacity changed: the other open windows take it.
    std::function<void(double)> onPanelsOpacity;
    // The font editor; tests answer in its place.
    FontPicker pickFont;

    // Controls, for tests.
    QLineEdit* portNameBox() { return portName_; }
    QCheckBox* portSearchBox() { return portSearch_; }
    QSpinBox* portDelayBox() { return portDelay_; }
    HudButton* manualButton() { return manual_; }
    QComboBox* languageBox() { return language_; }
    HudButton* skinButton() { return skin_; }
    HudButton* fontButton() { return font_; }
    QSpinBox* transmitDelayBox() { return transmitDelay_; }
    QCheckBox* idlePointsBox() { return idlePoints_; }
    QCheckBox* mapPointBox() { return mapPoint_; }
    QCheckBox* logLiveBox() { return logLive_; }
    QSpinBox* logMaxBox() { return logMax_; }
    QCheckBox* liveOnlyBox() { return liveOnly_; }
    HudLabel* folderLabel() { return folder_; }
    QCheckBox* joystickBox() { return joystick_; }
    HudSlider* opacitySlider() { return opacity_; }
    QComboBox* algorithmBox() { return algorithm_; }
    QLineEdit* programCodeBox() { return programCode_; }
    DesignLayout* panel() { return panel_; }

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void build();
    HudLabel* addLabel(QRectF r);
    // Places an editing control and lets the window style it and watch its focus.
    void placeEditor(QWidget* w, DesignLayout* in, QRectF r);
    void buildPortGroup();
    void buildLookAndCode();
    void buildRightColumn();
    void buildLiveGroup();
    void connectControls();
    void fill();
    void rememberGeometry();
    SettingsHooks hooks();
    void HudButton_3D_SET_Port_ManualClick();
    void HudButton_3D_SET_FontClick();
    void HudTextBox_SET_Program_CodeEnter();
    void HudComboTextBox_3D_SET_LanguageChange(int index);
    void tell(const std::string& message);

    TForm_3D_GEN& main_;
    bool closingByMain_ = false;
    bool filling_ = false;
    std::string textsLanguage_; // the language the texts are in

    DesignLayout* panel_ = nullptr; // HudPanel_SET
    HudGroupBox* portGroup_ = nullptr;
    HudLabel* portNameLabel_ = nullptr;
    QLineEdit* portName_ = nullptr;
    QCheckBox* portSearch_ = nullptr;
    HudLabel* portDelayLabel_ = nullptr;
    QSpinBox* portDelay_ = nullptr;
    HudButton* manual_ = nullptr;
    HudLabel* languageLabel_ = nullptr;
    QComboBox* language_ = nullptr;
    HudGroupBox* skinGroup_ = nullptr;
    HudButton* skin_ = nullptr;
    HudButton* font_ = nullptr;
    HudLabel* transmitDelayLabel_ = nullptr;
    QSpinBox* transmitDelay_ = nullptr;
    QCheckBox* idlePoints_ = nullptr;
    QCheckBox* mapPoint_ = nullptr;
    HudGroupBox* liveGroup_ = nullptr;
    QCheckBox* logLive_ = nullptr;
    HudLabel* logMaxLabel_ = nullptr;
    QSpinBox* logMax_ = nullptr;
    QCheckBox* liveOnly_ = nullptr;
    HudLabel* liveOnlyRisk_ = nullptr;
    HudLabel* folder_ = nullptr;
    QCheckBox* joystick_ = nullptr;
    HudLabel* opacityLabel_ = nullptr;
    HudSlider* opacity_ = nullptr;
    HudLabel* algorithmLabel_ = nullptr;
    QComboBox* algorithm_ = nullptr;
    HudLabel* programCodeLabel_ = nullptr;
    QLineEdit* programCode_ = nullptr;
};

} // namespace bifuel::ui
