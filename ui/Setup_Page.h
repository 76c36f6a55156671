#pragma once

#include "Hud_Widgets.h"
#include "Text_Codec.h"
#include "runtime/Signal.h"

#include <QObject>

#include <array>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSlider;

namespace bifuel {
class Context;
}

namespace bifuel::ui {

class LevelGauge;

// The Setup page: the ECU settings an installer changes, the fuel level sensor, the
// installer's notes and the error list. The widgets show the core's SetupView and hand
// every change to the core's handlers; the rules live in core.
class SetupPage : public QObject {
  public:
    SetupPage(Context& ctx, DesignLayout* panel);

    // The view state to the controls; live parts (lamps, level, errors) are drawn with
    // every live reply. The installer boxes show the record's bytes decoded.
    void Fill();
    void RefreshLive();
    void ApplyFonts();
    // The captions in the language chosen.
    void ApplyTexts();
    // With the main window's refresh: texts, and Clear only while an ECU can clear. After a
    // change of language the texts that follow it are shown again.
    void Refresh();

    // The controls, for tests.
    QComboBox* prescalerList() { return lists_[0]; }
    QComboBox* speedList() { return lists_[1]; }
    QComboBox* temperatureList() { return lists_[2]; }
    QComboBox* delayList() { return lists_[3]; }
    QComboBox* injectionList() { return lists_[4]; }
    QComboBox* gasTypeList() { return lists_[5]; }
    QComboBox* sensorList() { return sensor_; }
    QCheckBox* levelBuzzerBox() { return checks_[0]; }
    QCheckBox* petrolBuzzerBox() { return checks_[1]; }
    QCheckBox* hotEngineBox() { return checks_[2]; }
    QSlider* levelBar(int n) { return bars_.at(static_cast<std::size_t>(n - 1)); }
    QLineEdit* voltBox(int n) { return volts_.at(static_cast<std::size_t>(n - 1)); }
    QLineEdit* installerBox(int i) { return installer_.at(static_cast<std::size_t>(i)); }
    QPlainTextEdit* noticeMemo() { return notice_; }
    QPlainTextEdit* errorMemo() { return errors_; }
    HudButton* clearButton() { return clear_; }
    HudGroupBox* installerGroup() { return user_; }
    QLineEdit* levelNumberBox() { return levelNow_; }
    HudSwatch* lamp(int i) { return lamps_.at(static_cast<std::size_t>(i)); }
    // Whether the text box or memo takes Enter as "read the page" (the window's keys
    // stay away from it too).
    bool isInstallerEditor(const QWidget* w) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build();
    void buildConfig();
    void buildLevelSensor();
    void buildInstaller();
    void buildErrors();
    // Every control's state into the view: a handler reads all of them.
    void takeControls();
    void afterEdit();
    // The installer boxes and the memo, in the order of their view fields.
    std::array<QWidget*, 6> installerEditors() const;
    static QString editorText(const QWidget* editor);
    static void setEditorText(QWidget* editor, const QString& text);
    void showInstallerText(std::size_t i, const std::string& bytes);
    // Boxes the user left alone show their bytes again in the code page of a new language.
    void followCodePage();

    Context& ctx_;
    DesignLayout* panel_;
    HudGroupBox* config_ = nullptr;
    HudGroupBox* sensorGroup_ = nullptr;
    HudGroupBox* user_ = nullptr;
    HudGroupBox* errorGroup_ = nullptr;
    std::array<QComboBox*, 6> lists_{};
    std::array<HudLabel*, 6> listLabels_{};
    std::array<QCheckBox*, 3> checks_{};
    QComboBox* sensor_ = nullptr;
    HudLabel* sensorLabel_ = nullptr;
    std::array<QSlider*, 5> bars_{};
    std::array<QLineEdit*, 5> volts_{};
    std::array<HudSwatch*, 7> lamps_{};
    QLineEdit* levelNow_ = nullptr;
    HudLabel* levelNowLabel_ = nullptr;
    LevelGauge* gauge_ = nullptr;
    std::array<QLineEdit*, 5> installer_{};
    std::array<HudLabel*, 6> installerLabels_{};
    QPlainTextEdit* notice_ = nullptr;
    std::array<BoxBytes, 6> installerBytes_; // the boxes, then the memo
    QPlainTextEdit* errors_ = nullptr;
    HudButton* clear_ = nullptr;
    std::vector<QWidget*> editors_;
    std::vector<HudLabel*> labels_;
    std::vector<Subscription> subscriptions_;
    bool showing_ = false; // the controls are being set from the view: no handler runs
};

} // namespace bifuel::ui
