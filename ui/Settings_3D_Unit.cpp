#include "Settings_3D_Unit.h"

#include "Context.h"
#include "Global_Window.h"
#include "Main_Logic.h"
#include "Port_3D_Unit.h"
#include "data/Calc_Unit.h"
#include "link/Global_Unit.h"
#include "link/Port_3D_Unit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

namespace bifuel::ui {
namespace {

// The content layout of the design window (519 x 390) is 493 x 346.
constexpr QSizeF kContent(kSettingsDesignWidth - 26, kSettingsDesignHeight - 44);
constexpr int kOpacitySteps = 100;

} // namespace

TForm_3D_SET::TForm_3D_SET(Context& ctx, TForm_3D_GEN& main)
    : HudToolWindow(ctx, QSize(kSettingsDesignWidth, kSettingsDesignHeight),
                    QSize(kSettingsMinWidth, kSettingsMinHeight)),
      main_(main) {
    setObjectName(QStringLiteral("TForm_3D_SET"));
    pickFont = SystemFontPicker(this);
    build();
    ApplyTexts();
    ApplyFonts();
}

void TForm_3D_SET::build() {
    panel_ = new DesignLayout(kContent, content());
    panel_->setObjectName(QStringLiteral("HudPanel_SET"));
    panel_->setPanelLook(true);
    content()->place(panel_, QRectF(QPointF(0, 0), kContent));
    buildPortGroup();
    buildLookAndCode();
    buildRightColumn();
    buildLiveGroup();
    // Where the settings, configurations and logs are kept.
    folder_ = addLabel(QRectF(12, 322, 475, 20));
    folder_->setObjectName(QStringLiteral("HudLabel_SET_Files"));
    connectControls();
}

HudLabel* TForm_3D_SET::addLabel(QRectF r) {
    auto* l = new HudLabel(panel_);
    l->setShrinkToFit(true);
    panel_->place(l, r);
    return l;
}

void TForm_3D_SET::placeEditor(QWidget* w, DesignLayout* in, QRectF r) {
    in->place(w, r);
    addEditor(w);
}

void TForm_3D_SET::buildPortGroup() {
    portGroup_ = new HudGroupBox(QSizeF(238, 100), panel_);
    portGroup_->setObjectName(QStringLiteral("HudGroupBox_3D_SET_Port"));
    panel_->place(portGroup_, QRectF(6, 4, 238, 100));
    portNameLabel_ = new HudLabel(portGroup_);
    portNameLabel_->setShrinkToFit(true);
    portGroup_->place(portNameLabel_, QRectF(8, 22, 70, 20));
    portName_ = new QLineEdit(portGroup_);
    portName_->setObjectName(QStringLiteral("HudTextBox_3D_SET_Port_Name"));
    portName_->setReadOnly(true);
    placeEditor(portName_, portGroup_, QRectF(80, 22, 150, 20));
    portSearch_ = new QCheckBox(portGroup_);
    portSearch_->setObjectName(QStringLiteral("HudCheckBox_3D_SET_Port_Search"));
    placeEditor(portSearch_, portGroup_, QRectF(8, 47, 222, 20));
    portDelayLabel_ = new HudLabel(portGroup_);
    portDelayLabel_->setShrinkToFit(true);
    portGroup_->place(portDelayLabel_, QRectF(8, 72, 70, 20));
    portDelay_ = new QSpinBox(portGroup_);
    portDelay_->setObjectName(QStringLiteral("HudNumberBox_3D_SET_Port_Delay"));
    portDelay_->setRange(kReplyDelayMin, kReplyDelayMax);
    portDelay_->setKeyboardTracking(false);
    placeEditor(portDelay_, portGroup_, QRectF(80, 72, 56, 20));
    manual_ = new HudButton(QString(), portGroup_);
    manual_->setObjectName(QStringLiteral("HudButton_3D_SET_Port_Manual"));
    portGroup_->place(manual_, QRectF(142, 72, 88, 20));
}

void TForm_3D_SET::buildLookAndCode() {
    // Language.
    languageLabel_ = addLabel(QRectF(12, 110, 64, 20));
    language_ = new QComboBox(panel_);
    language_->setObjectName(QStringLiteral("HudComboTextBox_3D_SET_Language"));
    placeEditor(language_, panel_, QRectF(80, 110, 164, 20));

    // Skin and font.
    skinGroup_ = new HudGroupBox(QSizeF(238, 52), panel_);
    skinGroup_->setObjectName(QStringLiteral("HudGroupBox_3D_SET_Skin"));
    panel_->place(skinGroup_, QRectF(6, 136, 238, 52));
    skin_ = new HudButton(QString(), skinGroup_);
    skin_->setObjectName(QStringLiteral("HudButton_3D_SET_Skin"));
    skinGroup_->place(skin_, QRectF(8, 22, 107, 20));
    font_ = new HudButton(QString(), skinGroup_);
    font_->setObjectName(QStringLiteral("HudButton_3D_SET_Font"));
    skinGroup_->place(font_, QRectF(123, 22, 107, 20));

    // Program code.
    programCodeLabel_ = addLabel(QRectF(12, 198, 118, 20));
    programCode_ = new QLineEdit(panel_);
    programCode_->setObjectName(QStringLiteral("HudTextBox_SET_Program_Code"));
    placeEditor(programCode_, panel_, QRectF(134, 198, 110, 20));
}

void TForm_3D_SET::buildRightColumn() {
    // Right column: write delay, diagram switches, opacity, algorithm.
    transmitDelayLabel_ = addLabel(QRectF(254, 4, 150, 38));
    transmitDelayLabel_->setWordWrap(true);
    transmitDelay_ = new QSpinBox(panel_);
    transmitDelay_->setObjectName(QStringLiteral("HudNumberBox_3D_SET_Transmit_CFG_Delay"));
    transmitDelay_->setRange(kTransmitDelayMin, kTransmitDelayMax);
    transmitDelay_->setKeyboardTracking(false);
    placeEditor(transmitDelay_, panel_, QRectF(408, 13, 79, 20));
    idlePoints_ = new QCheckBox(panel_);
    idlePoints_->setObjectName(QStringLiteral("HudCheckBox_SET_Idle_Points"));
    placeEditor(idlePoints_, panel_, QRectF(254, 50, 233, 20));
    mapPoint_ = new QCheckBox(panel_);
    mapPoint_->setObjectName(QStringLiteral("HudCheckBox_SET_Map_Point"));
    placeEditor(mapPoint_, panel_, QRectF(254, 74, 233, 20));
    joystick_ = new QCheckBox(panel_);
    joystick_->setObjectName(QStringLiteral("HudCheckBox_SET_Diagram_Joystick"));
    placeEditor(joystick_, panel_, QRectF(254, 98, 233, 20));
    opacityLabel_ = addLabel(QRectF(254, 126, 80, 20));
    opacity_ = new HudSlider(0, kOpacitySteps, panel_);
    opacity_->setObjectName(QStringLiteral("HudTrackBar_SET_Opacity"));
    panel_->place(opacity_, QRectF(338, 130, 149, 12));
    algorithmLabel_ = addLabel(QRectF(254, 154, 233, 20));
    algorithm_ = new QComboBox(panel_);
    algorithm_->setObjectName(QStringLiteral("HudComboTextBox_ACB_Algorithm"));
    placeEditor(algorithm_, panel_, QRectF(254, 178, 233, 20));
}

void TForm_3D_SET::buildLiveGroup() {
    // Live data: the log and the polling.
    liveGroup_ = new HudGroupBox(QSizeF(481, 92), panel_);
    liveGroup_->setObjectName(QStringLiteral("HudGroupBox_SET_Live"));
    panel_->place(liveGroup_, QRectF(6, 226, 481, 92));
    logLive_ = new QCheckBox(liveGroup_);
    logLive_->setObjectName(QStringLiteral("HudCheckBox_SET_Log_Live"));
    placeEditor(logLive_, liveGroup_, QRectF(8, 20, 226, 20));
    logMaxLabel_ = new HudLabel(liveGroup_);
    logMaxLabel_->setShrinkToFit(true);
    liveGroup_->place(logMaxLabel_, QRectF(242, 20, 150, 20));
    logMax_ = new QSpinBox(liveGroup_);
    logMax_->setObjectName(QStringLiteral("HudNumberBox_SET_Log_Max_MB"));
    logMax_->setRange(kLogFolderMinMb, kLogFolderMaxMb);
    logMax_->setKeyboardTracking(false);
    placeEditor(logMax_, liveGroup_, QRectF(396, 20, 77, 20));
    liveOnly_ = new QCheckBox(liveGroup_);
    liveOnly_->setObjectName(QStringLiteral("HudCheckBox_SET_Live_Only"));
    placeEditor(liveOnly_, liveGroup_, QRectF(8, 44, 465, 20));
    liveOnlyRisk_ = new HudLabel(liveGroup_);
    liveOnlyRisk_->setObjectName(QStringLiteral("HudLabel_SET_Live_Only_Risk"));
    liveOnlyRisk_->setShrinkToFit(true);
    liveGroup_->place(liveOnlyRisk_, QRectF(26, 66, 447, 20));
}

void TForm_3D_SET::connectControls() {
    SettingsView& view = ctx_.settingsView;
    Settings_Class& settings = ctx_.settings;
    connect(logLive_, &QCheckBox::toggled, this, [this, &view, &settings](bool on) {
        if (!filling_) HudCheckBox_SET_Log_LiveChange(view, settings, on);
    });
    connect(logMax_, &QSpinBox::valueChanged, this, [this, &view, &settings](int v) {
        if (!filling_) HudNumberBox_SET_Log_Max_MBChange(view, settings, v);
    });
    connect(liveOnly_, &QCheckBox::toggled, this, [this, &view, &settings](bool on) {
        if (!filling_) HudCheckBox_SET_Live_OnlyChange(view, settings, on);
    });
    connect(portSearch_, &QCheckBox::toggled, this, [this, &view, &settings](bool on) {
        if (!filling_) HudCheckBox_3D_SET_Port_SearchChange(view, settings, on);
    });
    connect(portDelay_, &QSpinBox::valueChanged, this, [this, &view, &settings](int v) {
        if (!filling_) HudNumberBox_3D_SET_Port_DelayChange(view, settings, v);
    });
    connect(manual_, &QAbstractButton::clicked, this,
            [this] { HudButton_3D_SET_Port_ManualClick(); });
    connect(language_, &QComboBox::activated, this,
            [this](int index) { HudComboTextBox_3D_SET_LanguageChange(index); });
    connect(skin_, &QAbstractButton::clicked, this, [this] {
        if (onSkinButton) onSkinButton();
    });
    connect(font_, &QAbstractButton::clicked, this, [this] { HudButton_3D_SET_FontClick(); });
    connect(transmitDelay_, &QSpinBox::valueChanged, this, [this, &view, &settings](int v) {
        if (!filling_) HudNumberBox_3D_SET_Transmit_CFG_DelayChange(view, settings, v);
    });
    connect(idlePoints_, &QCheckBox::toggled, this, [this, &view, &settings](bool on) {
        if (!filling_) HudCheckBox_SET_Idle_PointsChange(view, settings, on);
    });
    connect(mapPoint_, &QCheckBox::toggled, this, [this, &view, &settings](bool on) {
        if (!filling_) HudCheckBox_SET_Map_PointChange(view, settings, on, hooks());
    });
    connect(joystick_, &QCheckBox::toggled, this, [this, &view, &settings](bool on) {
        if (!filling_) HudCheckBox_SET_Diagram_JoystickChange(view, settings, on);
    });
    opacity_->onChange = [this, &view, &settings](int v) {
        HudTrackBar_SET_OpacityChange(view, settings, double(v) / kOpacitySteps, hooks());
    };
    connect(algorithm_, &QComboBox::activated, this, [this, &view, &settings](int index) {
        HudComboTextBox_ACB_AlgorithmChange(view, settings, ToUtf8(algorithm_->itemText(index)));
    });
    connect(programCode_, &QLineEdit::returnPressed, this,
            [this] { HudTextBox_SET_Program_CodeEnter(); });
}

SettingsHooks TForm_3D_SET::hooks() {
    SettingsHooks h = SettingsWindowHooks(ctx_);
    h.ApplyPanelsOpacity = [this](double opacity) {
        panel_->setPanelLook(true, opacity);
        main_.ApplyPanelsOpacity(opacity);
        if (onPanelsOpacity) onPanelsOpacity(opacity);
    };
    return h;
}

void TForm_3D_SET::Show_Settings_Window() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    SettingsView& view = ctx_.settingsView;
    SettingsWindow_Show(view, ctx_.settings, ctx_.layout, main_.x(), main_.y(), hooks());
    setGeometry(view.Left, view.Top, view.Width, view.Height);
    fill();
    ApplyTexts();
    ApplyFonts();
    show();
    raise();
    rememberGeometry();
}

void TForm_3D_SET::fill() {
    const SettingsView& view = ctx_.settingsView;
    filling_ = true;
    portName_->setText(FromUtf8(view.HudTextBox_3D_SET_Port_Name));
    portSearch_->setChecked(view.HudCheckBox_3D_SET_Port_Search);
    portDelay_->setValue(view.HudNumberBox_3D_SET_Port_Delay);
    language_->clear();
    for (const std::string& name : view.HudComboTextBox_3D_SET_Language_Items)
        language_->addItem(FromUtf8(name));
    language_->setCurrentText(FromUtf8(view.HudComboTextBox_3D_SET_Language));
    transmitDelay_->setValue(view.HudNumberBox_3D_SET_Transmit_CFG_Delay);
    idlePoints_->setChecked(view.HudCheckBox_SET_Idle_Points);
    mapPoint_->setChecked(view.HudCheckBox_SET_Map_Point);
    joystick_->setChecked(view.HudCheckBox_SET_Diagram_Joystick);
    opacity_->setValue(static_cast<int>(std::lround(view.HudTrackBar_SET_Opacity * kOpacitySteps)));
    panel_->setPanelLook(true, view.HudPanel_SET_Opacity);
    algorithm_->clear();
    for (const std::string& name : view.HudComboTextBox_ACB_Algorithm_Items)
        algorithm_->addItem(FromUtf8(name));
    // The algorithm the identification chose may be one the box does not offer.
    const QString algorithm = FromUtf8(view.HudComboTextBox_ACB_Algorithm);
    algorithm_->setCurrentIndex(algorithm_->findText(algorithm));
    algorithm_->setPlaceholderText(algorithm);
    programCode_->setText(FromUtf8(view.HudTextBox_SET_Program_Code));
    logLive_->setChecked(view.HudCheckBox_SET_Log_Live);
    logMax_->setValue(view.HudNumberBox_SET_Log_Max_MB);
    liveOnly_->setChecked(view.HudCheckBox_SET_Live_Only);
    filling_ = false;
}

void TForm_3D_SET::Refresh() {
    if (!isVisible()) return;
    const QString name = FromUtf8(ctx_.settingsView.HudTextBox_3D_SET_Port_Name);
    if (portName_->text() != name) portName_->setText(name);
    // A language picked in the main window's menu while the window is open.
    if (textsLanguage_ != ctx_.settings.Language) {
        ctx_.settingsView.HudComboTextBox_3D_SET_Language = ctx_.settings.Language;
        filling_ = true;
        language_->setCurrentText(FromUtf8(ctx_.settings.Language));
        filling_ = false;
        ApplyTexts();
    }
}

void TForm_3D_SET::ApplyTexts() {
    Language& lang = ctx_.language;
    lang.OpenLanguage();
    auto text = [this](std::string_view key) { return FromUtf8(ctx_.LangText(key)); };
    setWindowTitle(text("Settings"));
    portGroup_->setCaption(text("Port"));
    portNameLabel_->setText(text("Name"));
    portSearch_->setText(text("AutoSearchPort"));
    portDelayLabel_->setText(text("Delay"));
    manual_->setText(text("SET_Port_Manual"));
    languageLabel_->setText(text("Language"));
    skinGroup_->setCaption(text("SET_Skin"));
    skin_->setText(text("Color"));
    font_->setText(text("Font"));
    transmitDelayLabel_->setText(text("SET_Transmit_Delay"));
    idlePoints_->setText(text("SET_Idle_Points"));
    mapPoint_->setText(text("SET_Map_Point"));
    joystick_->setText(text("SET_Diagram_Joystick"));
    opacityLabel_->setText(text("SET_Opacity"));
    algorithmLabel_->setText(text("SET_ACB_Algorithm"));
    programCodeLabel_->setText(text("SET_Program_Code"));
    liveGroup_->setCaption(text("SET_Live_Data"));
    logLive_->setText(text("SET_Log_Live"));
    logMaxLabel_->setText(text("SET_Log_Max_MB"));
    liveOnly_->setText(text("SET_Live_Only"));
    liveOnlyRisk_->setText(text("SET_Live_Only_Risk"));
    folder_->setText(text("SET_Files") + QStringLiteral(": ") +
                     QString::fromStdString(ctx_.paths.Work_Dir.string()));
    lang.CloseLanguage();
    textsLanguage_ = ctx_.settings.Language;
    fitEditors();
    update();
}

void TForm_3D_SET::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QFont font = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    const QColor general = ColourFromText(ctx_.colours.ColourOf(0));
    for (HudLabel* l :
         {portNameLabel_, portDelayLabel_, languageLabel_, transmitDelayLabel_, opacityLabel_,
          algorithmLabel_, programCodeLabel_, logMaxLabel_, liveOnlyRisk_, folder_}) {
        l->setDesignFont(font);
        l->setColour(general);
    }
    for (HudButton* b : {manual_, skin_, font_}) {
        b->setDesignFont(font);
        b->setTextColour(general);
    }
    for (HudGroupBox* g : {portGroup_, skinGroup_, liveGroup_}) {
        g->setCaptionFont(font);
        g->setCaptionColour(general);
    }
    applyChromeFonts();
}

void TForm_3D_SET::HudButton_3D_SET_Port_ManualClick() {
    // Preset from the port the link has, else the one it will open.
    const std::string current =
        ctx_.port.portName().empty() ? ctx_.settings.Port_Name : ctx_.port.portName();
    const auto choice =
        PortSetupDialog::Ask(ListedPorts(ctx_), current, ctx_.portSearch.Line_Settings, this);
    if (!choice) return;
    ApplyManualPort(ctx_, choice->name, choice->line);
    Refresh();
    main_.Refresh();
}

void TForm_3D_SET::HudButton_3D_SET_FontClick() {
    ChooseProgramFont(ctx_, pickFont, font_->text());
}

void TForm_3D_SET::HudTextBox_SET_Program_CodeEnter() {
    SettingsView& view = ctx_.settingsView;
    view.HudTextBox_SET_Program_Code = ToUtf8(programCode_->text());
    const ProgramCodeResult result =
        bifuel::HudTextBox_SET_Program_CodeEnter(view, ctx_.settings, hooks());
    programCode_->setText(FromUtf8(view.HudTextBox_SET_Program_Code));
    if (!result.accepted) tell(result.reason);
}

void TForm_3D_SET::HudComboTextBox_3D_SET_LanguageChange(int index) {
    if (index < 0) return;
    const WriteResult written = bifuel::HudComboTextBox_3D_SET_LanguageChange(
        ctx_.keyFile, ctx_.paths.Ini_Name, ctx_.settingsView, ctx_.settings, ctx_.colours,
        ToUtf8(language_->itemText(index)));
    filling_ = true;
    language_->setCurrentText(FromUtf8(ctx_.settingsView.HudComboTextBox_3D_SET_Language));
    filling_ = false;
    if (!written.ok) tell(written.message);
    // Every window follows the language at once, as after a pick from the language menu.
    main_.TakeLanguage(ctx_.settings.Language);
    ApplyTexts();
}

void TForm_3D_SET::tell(const std::string& message) {
    if (!message.empty()) ShowMessageWindow(ctx_, kMessageScriptError, message);
}

void TForm_3D_SET::CloseByMainWindow() {
    if (!ctx_.settingsView.Shown) return;
    closingByMain_ = true;
    close();
    closingByMain_ = false;
}

bool TForm_3D_SET::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) ApplyTexts();
    return HudToolWindow::event(event);
}

void TForm_3D_SET::closeEvent(QCloseEvent* event) {
    event->accept();
    SettingsView& view = ctx_.settingsView;
    if (!view.Shown) return;
    rememberGeometry();
    const WriteResult written =
        SettingsWindow_Close(ctx_.keyFile, ctx_.paths.Ini_Name, view, ctx_.layout,
                             closingByMain_ ? SettingsCloseBy::MainWindow : SettingsCloseBy::User);
    if (!written.ok && !closingByMain_) tell(written.message);
}

void TForm_3D_SET::rememberGeometry() {
    SettingsView& view = ctx_.settingsView;
    if (!view.Shown) return;
    view.Left = x();
    view.Top = y();
    view.Width = width();
    view.Height = height();
}

void TForm_3D_SET::moveEvent(QMoveEvent* event) {
    HudToolWindow::moveEvent(event);
    rememberGeometry();
}

void TForm_3D_SET::resizeEvent(QResizeEvent* event) {
    HudToolWindow::resizeEvent(event);
    rememberGeometry();
}

} // namespace bifuel::ui
