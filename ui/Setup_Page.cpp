#include "Setup_Page.h"

#include "Hud_Window.h"

#include "Context.h"
#include "data/Calc_Unit.h"
#include "data/Config_Unit.h"
#include "data/Setup_Page.h"
#include "link/Link_Operations.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <span>

namespace bifuel::ui {

// The level sensor picture: a tube with the live level as a line, shown on gas only.
class LevelGauge : public QWidget {
  public:
    explicit LevelGauge(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setLine(double fromTop, QColor colour) {
        if (fromTop == line_ && colour == colour_) return;
        line_ = fromTop;
        colour_ = colour;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(2, 1, -2, -1);
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        g.setColorAt(0, QColor(80, 200, 120, 90));
        g.setColorAt(1, QColor(230, 80, 60, 90));
        p.setPen(QPen(QColor(255, 255, 255, 110), 1));
        p.setBrush(g);
        p.drawRoundedRect(r, r.width() / 2, r.width() / 2);
        const double y = r.top() + std::clamp(line_, 0.0, 1.0) * r.height();
        p.setPen(QPen(colour_, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(r.left() - 1, y), QPointF(r.right() + 1, y));
    }

  private:
    double line_ = 0;
    QColor colour_ = Qt::white;
};

namespace {

// Design places on the page's panel (616 x 473) and inside the group boxes.
constexpr QRectF kConfigBox(4, 2, 362, 236);
constexpr QRectF kSensorBox(370, 2, 241, 269);
constexpr QRectF kUserBox(4, 241, 362, 229);
constexpr QRectF kErrorBox(370, 274, 241, 196);
constexpr double kRow = 24;
constexpr double kFirstRow = 22;
constexpr double kBarTop = 66;
constexpr double kBarHeight = 128;

QString text(const std::string& s) {
    return FromUtf8(s);
}

constexpr const char* kFixedItems = "fixedItems";

// A read-only list of fixed items; a click anywhere on it opens the items.
QComboBox* makeList(QWidget* parent, const char* name, std::span<const std::string_view> items) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setEditable(true);
    box->lineEdit()->setReadOnly(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    for (const std::string_view item : items)
        box->addItem(QString::fromUtf8(item.data(), static_cast<int>(item.size())));
    box->setProperty(kFixedItems, box->count());
    return box;
}

// Selects the value among the list's fixed items, or shows it as one more item after them
// when the list does not offer it (a value the ECU holds): the installer sees what the ECU
// has, and picking it again changes nothing. The extra item goes once the value is a fixed one.
void showListText(QComboBox* box, const std::string& value) {
    const QString t = text(value);
    const int fixed = box->property(kFixedItems).toInt();
    int index = box->findText(t);
    if (index >= fixed || (index < 0 && !t.isEmpty())) {
        if (box->count() == fixed) {
            box->addItem(t);
        } else if (box->itemText(fixed) != t) {
            box->setItemText(fixed, t);
        }
        index = fixed;
    }
    if (box->currentIndex() != index) box->setCurrentIndex(index);
    if (index < fixed && box->count() > fixed) box->removeItem(fixed);
    if (box->currentText() != t) box->setEditText(t);
}

void showLineText(QLineEdit* box, const std::string& value) {
    const QString t = text(value);
    if (box->text() != t) box->setText(t);
}

QString pageStyle(QColor general) {
    const QString c = general.name(QColor::HexArgb);
    return EditorStyle(general) +
           QStringLiteral(
               "QPlainTextEdit { color: %1; background: rgba(0, 0, 0, 130);"
               " border: 1px solid rgba(255, 255, 255, 90); border-radius: 3px; }"
               "QPlainTextEdit[readOnly=\"true\"] { background: rgba(0, 0, 0, 70); }"
               "QSlider::groove:vertical { width: 4px; background: rgba(255, 255, 255, 60); "
               "border-radius: 2px; }"
               "QSlider::handle:vertical { height: 10px; margin: 0 -6px; border-radius: 3px;"
               " background: #5abeff; border: 1px solid #d8f0ff; }"
               "QLineEdit#HudNumberBox_CFG_LevelGas, QLineEdit[volts=\"true\"] { padding: 0px; }"
               "QSlider::add-page:vertical { background: rgba(90, 190, 255, 120); border-radius: "
               "2px; }")
               .arg(c);
}

} // namespace

SetupPage::SetupPage(Context& ctx, DesignLayout* panel) : QObject(panel), ctx_(ctx), panel_(panel) {
    // The delay list shows the system's decimal separator (and reads both).
    const QString point = QLocale::system().decimalPoint();
    ctx_.setupView.Decimal_Separator =
        point.size() == 1 && point.at(0).unicode() < 0x80 ? point.at(0).toLatin1() : '.';
    build();
    subscriptions_.push_back(ctx_.events.setupPageFilled.subscribe([this] { Fill(); }));
    subscriptions_.push_back(ctx_.events.liveData.subscribe([this] { RefreshLive(); }));
    panel_->installEventFilter(this);
    FillSetupPage(ctx_); // the view was filled before the separator was known
}

void SetupPage::build() {
    buildConfig();
    buildLevelSensor();
    buildInstaller();
    buildErrors();
    for (QWidget* e : editors_)
        e->setFocusPolicy(Qt::ClickFocus);
}

void SetupPage::buildConfig() {
    config_ = new HudGroupBox(kConfigBox.size(), panel_);
    config_->setObjectName(QStringLiteral("HudGroupBox_CFG"));
    panel_->place(config_, kConfigBox);
    // The delay list's items are written as the box shows a value: "2.0", not "2".
    std::vector<std::string> delays;
    for (const std::string_view item : kPGTimeList) {
        delays.push_back(DelayListText(
            static_cast<std::int32_t>(std::lround(TextToFloat(item).value_or(0) * 10)),
            ctx_.setupView.Decimal_Separator));
    }
    std::vector<std::string_view> delayItems(delays.begin(), delays.end());
    struct Def {
        const char* list;
        const char* label;
        std::span<const std::string_view> items;
    };
    const std::array<Def, 6> defs{{
        {"HudComboTextBox_CFG_RPM_Prescaler", "HudLabel_CFG_RPM_Prescaler", kPreScalerList},
        {"HudComboTextBox_CFG_PG_RPM", "HudLabel_CFG_PG_RPM", kPGRpmList},
        {"HudComboTextBox_CFG_PG_Temper", "HudLabel_CFG_PG_Temper", kPGTemperList},
        {"HudComboTextBox_CFG_PG_Time", "HudLabel_CFG_PG_Time", delayItems},
        {"HudComboTextBox_CFG_Injection", "HudLabel_CFG_Injection", kInjectionList},
        {"HudComboTextBox_CFG_Gas_Type", "HudLabel_CFG_Gas_Type", kGasTypeList},
    }};
    for (std::size_t i = 0; i < defs.size(); ++i) {
        const double y = kFirstRow + kRow * static_cast<double>(i);
        auto* label = new HudLabel(config_);
        label->setObjectName(QString::fromLatin1(defs[i].label));
        label->setShrinkToFit(true);
        config_->place(label, QRectF(10, y, 224, 20));
        QComboBox* list = makeList(config_, defs[i].list, defs[i].items);
        config_->place(list, QRectF(240, y, 112, 20));
        connect(list, &QComboBox::activated, this, [this] {
            takeControls();
            ReadSetupPage(ctx_);
            afterEdit();
        });
        lists_[i] = list;
        listLabels_[i] = label;
        labels_.push_back(label);
        editors_.push_back(list);
    }
    const std::array<const char*, 3> checkNames{"HudCheckBox_CFG_LevelGas_Buzzer",
                                                "HudCheckBox_CFG_GP_Buzzer",
                                                "HudCheckBox_CFG_PG_GAS_Hot_Engine"};
    for (std::size_t i = 0; i < checkNames.size(); ++i) {
        auto* box = new QCheckBox(config_);
        box->setObjectName(QString::fromLatin1(checkNames[i]));
        config_->place(box,
                       QRectF(10, kFirstRow + kRow * 6 + 4 + 20 * static_cast<double>(i), 342, 19));
        // The two buzzers go through the level bars, as the level buzzer belongs to the
        // sensor; the hot start reads the page alone.
        const bool viaLevels = i < 2;
        connect(box, &QAbstractButton::clicked, this, [this, viaLevels] {
            takeControls();
            if (viaLevels) {
                ReadLevelBars(ctx_);
            } else {
                ReadSetupPage(ctx_);
            }
            afterEdit();
        });
        checks_[i] = box;
        editors_.push_back(box);
    }
}

void SetupPage::buildLevelSensor() {
    sensorGroup_ = new HudGroupBox(kSensorBox.size(), panel_);
    sensorGroup_->setObjectName(QStringLiteral("HudGroupBox_CFG_LevelSensor"));
    panel_->place(sensorGroup_, kSensorBox);
    sensorLabel_ = new HudLabel(sensorGroup_);
    sensorLabel_->setObjectName(QStringLiteral("HudLabel_CFG_Level_Sensor"));
    sensorLabel_->setShrinkToFit(true);
    sensorGroup_->place(sensorLabel_, QRectF(8, kFirstRow, 60, 20));
    labels_.push_back(sensorLabel_);
    sensor_ = makeList(sensorGroup_, "HudComboTextBox_CFG_Level_Sensor", kLevelTypeList);
    sensorGroup_->place(sensor_, QRectF(72, kFirstRow, 160, 20));
    editors_.push_back(sensor_);
    connect(sensor_, &QComboBox::activated, this, [this] {
        takeControls();
        OnLevelTypeChosen(ctx_);
        afterEdit();
    });

    gauge_ = new LevelGauge(sensorGroup_);
    gauge_->setObjectName(QStringLiteral("Image_CFG_LevelSensor"));
    sensorGroup_->place(gauge_, QRectF(10, kBarTop, 16, kBarHeight));
    ctx_.dataView.Image_CFG_LevelSensor_Height = static_cast<int>(kBarHeight);

    // Threshold 1 is the rightmost: the bars read from a full tank on the right to the
    // reserve on the left.
    for (std::size_t i = 0; i < bars_.size(); ++i) {
        const double x = 196 - 38 * static_cast<double>(i);
        auto* bar = new QSlider(Qt::Vertical, sensorGroup_);
        bar->setObjectName(QStringLiteral("HudTrackBar_LevelGas_%1").arg(i + 1));
        bar->setRange(0, 1023);
        sensorGroup_->place(bar, QRectF(x + 6, kBarTop, 24, kBarHeight));
        connect(bar, &QSlider::valueChanged, this, [this] {
            if (showing_) return;
            takeControls();
            ReadLevelBars(ctx_);
            afterEdit();
        });
        auto* volts = new QLineEdit(sensorGroup_);
        volts->setObjectName(QStringLiteral("HudTextBox_LevelGas_%1").arg(i + 1));
        volts->setReadOnly(true);
        volts->setProperty("volts", true);
        volts->setAlignment(Qt::AlignCenter);
        sensorGroup_->place(volts, QRectF(x, kBarTop + kBarHeight + 4, 36, 19));
        bars_[i] = bar;
        volts_[i] = volts;
        editors_.push_back(bar);
        editors_.push_back(volts);
    }
    auto lamp = [this](std::size_t i, double x, double y) {
        auto* l = new HudSwatch(sensorGroup_);
        l->setObjectName(QStringLiteral("Circle_LevelGas_%1").arg(i));
        sensorGroup_->place(l, QRectF(x, y, 13, 13));
        lamps_[i] = l;
    };
    for (std::size_t i = 1; i <= 5; ++i)
        lamp(i, 196 - 38 * static_cast<double>(i - 1) + 11.5, kBarTop - 17);
    const double under = kBarTop + kBarHeight + 27;
    lamp(0, 196 + 11.5, under);
    lamp(6, 196 - 38 * 4 + 11.5, under);
    levelNow_ = new QLineEdit(sensorGroup_);
    levelNow_->setObjectName(QStringLiteral("HudNumberBox_CFG_LevelGas"));
    levelNow_->setReadOnly(true);
    levelNow_->setAlignment(Qt::AlignCenter);
    sensorGroup_->place(levelNow_, QRectF(196 - 38 * 4 - 4, under - 3, 44, 19));
    editors_.push_back(levelNow_);
    levelNowLabel_ = new HudLabel(sensorGroup_);
    levelNowLabel_->setObjectName(QStringLiteral("HudLabel_CFG_LevelGas_Current"));
    levelNowLabel_->setShrinkToFit(true);
    levelNowLabel_->setAlignment(Qt::AlignCenter);
    sensorGroup_->place(levelNowLabel_, QRectF(8, under + 20, 225, 20));
    labels_.push_back(levelNowLabel_);
}

void SetupPage::buildInstaller() {
    user_ = new HudGroupBox(kUserBox.size(), panel_);
    user_->setObjectName(QStringLiteral("HudGroupBox_CFG_User"));
    panel_->place(user_, kUserBox);
    const std::array<const char*, 5> boxNames{
        "HudTextBox_CFG_User_Name", "HudTextBox_CFG_User_Phone", "HudTextBox_CFG_User_Install_Date",
        "HudTextBox_CFG_User_Install_KM", "HudTextBox_CFG_User_Gas_Jets"};
    for (std::size_t i = 0; i < installerLabels_.size(); ++i) {
        auto* label = new HudLabel(user_);
        label->setShrinkToFit(true);
        user_->place(label, QRectF(10, kFirstRow + kRow * static_cast<double>(i), 130, 20));
        installerLabels_[i] = label;
        labels_.push_back(label);
    }
    for (std::size_t i = 0; i < boxNames.size(); ++i) {
        auto* box = new QLineEdit(user_);
        box->setObjectName(QString::fromLatin1(boxNames[i]));
        user_->place(box, QRectF(146, kFirstRow + kRow * static_cast<double>(i), 206, 20));
        // Typing changes nothing until Enter: then every box is read at once.
        connect(box, &QLineEdit::returnPressed, this, [this] {
            takeControls();
            ReadSetupPage(ctx_);
            afterEdit();
        });
        installer_[i] = box;
        editors_.push_back(box);
    }
    notice_ = new QPlainTextEdit(user_);
    notice_->setObjectName(QStringLiteral("HudMemo_CFG_User_Notice"));
    notice_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    notice_->installEventFilter(this);
    user_->place(notice_, QRectF(146, kFirstRow + kRow * 5, 206, 78));
    editors_.push_back(notice_);
}

void SetupPage::buildErrors() {
    errorGroup_ = new HudGroupBox(kErrorBox.size(), panel_);
    errorGroup_->setObjectName(QStringLiteral("HudGroupBox_CFG_Errors"));
    panel_->place(errorGroup_, kErrorBox);
    errors_ = new QPlainTextEdit(errorGroup_);
    errors_->setObjectName(QStringLiteral("HudMemo_CFG_Errors"));
    errors_->setReadOnly(true);
    errors_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    errorGroup_->place(errors_, QRectF(8, kFirstRow, 225, 138));
    editors_.push_back(errors_);
    clear_ = new HudButton(QString(), errorGroup_);
    clear_->setObjectName(QStringLiteral("HudButton_CFG_Errors_Clear"));
    errorGroup_->place(clear_, QRectF(143, kFirstRow + 144, 90, 22));
    // The list empties when the ECU reports its error bytes cleared, not at the click.
    connect(clear_, &QAbstractButton::clicked, this, [this] { ClearErrors(ctx_); });
}

bool SetupPage::isInstallerEditor(const QWidget* w) const {
    return w == notice_ || std::find(installer_.begin(), installer_.end(), w) != installer_.end();
}

bool SetupPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel_ && event->type() == QEvent::Resize) {
        ApplyFonts();
    } else if (watched == notice_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // The line break stays in the notes, and Enter reads the page as in every box.
            notice_->textCursor().insertText(QStringLiteral("\n"));
            takeControls();
            ReadSetupPage(ctx_);
            afterEdit();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

namespace {

// The view's installer texts, in the order of SetupPage::installerEditors.
std::array<std::string*, 6> installerTexts(SetupView& v) {
    return {&v.HudTextBox_CFG_User_Name,         &v.HudTextBox_CFG_User_Phone,
            &v.HudTextBox_CFG_User_Install_Date, &v.HudTextBox_CFG_User_Install_KM,
            &v.HudTextBox_CFG_User_Gas_Jets,     &v.HudMemo_CFG_User_Notice};
}

} // namespace

std::array<QWidget*, 6> SetupPage::installerEditors() const {
    return {installer_[0], installer_[1], installer_[2], installer_[3], installer_[4], notice_};
}

QString SetupPage::editorText(const QWidget* editor) {
    if (const auto* memo = qobject_cast<const QPlainTextEdit*>(editor)) return memo->toPlainText();
    return static_cast<const QLineEdit*>(editor)->text();
}

void SetupPage::setEditorText(QWidget* editor, const QString& text) {
    if (editorText(editor) == text) return; // the cursor stays where the user left it
    if (auto* memo = qobject_cast<QPlainTextEdit*>(editor)) {
        memo->setPlainText(text);
    } else {
        static_cast<QLineEdit*>(editor)->setText(text);
    }
}

void SetupPage::showInstallerText(std::size_t i, const std::string& bytes) {
    QWidget* editor = installerEditors()[i];
    BoxBytes& box = installerBytes_[i];
    setEditorText(editor, box.show(bytes, ctx_.language.Lang_CodePage()));
    box.setShown(editorText(editor));
}

void SetupPage::followCodePage() {
    const std::uint16_t codePage = ctx_.language.Lang_CodePage();
    const auto editors = installerEditors();
    for (std::size_t i = 0; i < editors.size(); ++i) {
        const BoxBytes& box = installerBytes_[i];
        if (!box.inCodePage() || box.codePage() == codePage ||
            editorText(editors[i]) != box.shown())
            continue;
        showInstallerText(i, std::string(box.bytes()));
    }
}

void SetupPage::takeControls() {
    SetupView& v = ctx_.setupView;
    const std::array<std::string*, 6> lists{
        &v.HudComboTextBox_CFG_RPM_Prescaler, &v.HudComboTextBox_CFG_PG_RPM,
        &v.HudComboTextBox_CFG_PG_Temper,     &v.HudComboTextBox_CFG_PG_Time,
        &v.HudComboTextBox_CFG_Injection,     &v.HudComboTextBox_CFG_Gas_Type};
    for (std::size_t i = 0; i < lists.size(); ++i)
        *lists[i] = ToUtf8(lists_[i]->currentText());
    v.HudComboTextBox_CFG_Level_Sensor = ToUtf8(sensor_->currentText());
    v.HudCheckBox_CFG_LevelGas_Buzzer = checks_[0]->isChecked();
    v.HudCheckBox_CFG_GP_Buzzer = checks_[1]->isChecked();
    v.HudCheckBox_CFG_PG_GAS_Hot_Engine = checks_[2]->isChecked();
    for (std::size_t i = 0; i < bars_.size(); ++i)
        v.HudTrackBar_LevelGas[i] = bars_[i]->value();
    const auto texts = installerTexts(v);
    const auto editors = installerEditors();
    bool asUtf8 = false;
    for (std::size_t i = 0; i < texts.size(); ++i)
        *texts[i] = installerBytes_[i].read(editorText(editors[i]), asUtf8);
    if (asUtf8) v.User_Text_As_Utf8 = true; // the read tells the user
}

// A handler may have changed other controls (the sensor type sets the bars).
void SetupPage::afterEdit() {
    Fill();
}

void SetupPage::Fill() {
    const SetupView& v = ctx_.setupView;
    showing_ = true;
    const std::array<const std::string*, 6> lists{
        &v.HudComboTextBox_CFG_RPM_Prescaler, &v.HudComboTextBox_CFG_PG_RPM,
        &v.HudComboTextBox_CFG_PG_Temper,     &v.HudComboTextBox_CFG_PG_Time,
        &v.HudComboTextBox_CFG_Injection,     &v.HudComboTextBox_CFG_Gas_Type};
    for (std::size_t i = 0; i < lists.size(); ++i)
        showListText(lists_[i], *lists[i]);
    showListText(sensor_, v.HudComboTextBox_CFG_Level_Sensor);
    checks_[0]->setChecked(v.HudCheckBox_CFG_LevelGas_Buzzer);
    checks_[1]->setChecked(v.HudCheckBox_CFG_GP_Buzzer);
    checks_[2]->setChecked(v.HudCheckBox_CFG_PG_GAS_Hot_Engine);
    for (std::size_t i = 0; i < bars_.size(); ++i) {
        bars_[i]->setValue(v.HudTrackBar_LevelGas[i]);
        showLineText(volts_[i], v.HudTextBox_LevelGas[i]);
    }
    const auto texts = installerTexts(ctx_.setupView);
    for (std::size_t i = 0; i < texts.size(); ++i)
        showInstallerText(i, *texts[i]);
    user_->setCaption(text(v.HudGroupBox_CFG_User));
    showing_ = false;
    ApplyTexts();
    RefreshLive();
}

void SetupPage::RefreshLive() {
    const DataView& d = ctx_.dataView;
    for (std::size_t i = 0; i < lamps_.size(); ++i) {
        const ViewControl& lamp = d.Circle_LevelGas[i];
        lamps_[i]->setVisible(lamp.visible);
        const QColor c = ColourFromText(lamp.colour, ColourFromText(d.Form_Fill_Colour));
        if (lamps_[i]->colour() != c) lamps_[i]->setColour(c);
    }
    levelNow_->setVisible(d.HudNumberBox_CFG_LevelGas.visible);
    levelNowLabel_->setVisible(d.HudLabel_CFG_LevelGas_Current.visible);
    showLineText(levelNow_, d.HudNumberBox_CFG_LevelGas.text);
    gauge_->setVisible(d.Image_CFG_LevelSensor.visible);
    const double height = std::max(1, d.Image_CFG_LevelSensor_Height);
    gauge_->setLine(d.Line_CFG_LevelSensor_Y / height,
                    ColourFromText(ctx_.colours.ColourOf(Colour::Gas)));
    QString errors;
    for (const std::string& line : d.HudMemo_CFG_Errors) {
        if (!errors.isEmpty()) errors += QLatin1Char('\n');
        errors += text(line);
    }
    if (errors_->toPlainText() != errors) errors_->setPlainText(errors);
}

void SetupPage::Refresh() {
    if (RefreshSetupTexts(ctx_))
        showListText(lists_[2], ctx_.setupView.HudComboTextBox_CFG_PG_Temper);
    followCodePage();
    ApplyTexts();
    clear_->setEnabled(ctx_.link.ECU_Connected);
}

void SetupPage::ApplyTexts() {
    const LanguageView& t = ctx_.languageView;
    config_->setCaption(text(t.HudGroupBox_CFG));
    sensorGroup_->setCaption(text(t.HudGroupBox_CFG_LevelSensor));
    errorGroup_->setCaption(text(t.HudGroupBox_CFG_Errors));
    user_->setCaption(text(ctx_.setupView.HudGroupBox_CFG_User));
    const std::array<const std::string*, 6> listCaptions{
        &t.HudLabel_CFG_RPM_Prescaler, &t.HudLabel_CFG_PG_RPM,    &t.HudLabel_CFG_PG_Temper,
        &t.HudLabel_CFG_PG_Time,       &t.HudLabel_CFG_Injection, &t.HudLabel_CFG_Gas_Type};
    for (std::size_t i = 0; i < listCaptions.size(); ++i)
        listLabels_[i]->setText(text(*listCaptions[i]));
    checks_[0]->setText(text(t.HudCheckBox_CFG_LevelGas_Buzzer));
    checks_[1]->setText(text(t.HudCheckBox_CFG_GP_Buzzer));
    checks_[2]->setText(text(t.HudCheckBox_CFG_PG_GAS_Hot_Engine));
    sensorLabel_->setText(text(t.HudLabel_CFG_Level_Sensor));
    levelNowLabel_->setText(text(t.HudLabel_CFG_LevelGas_Current));
    const std::array<const std::string*, 6> userCaptions{
        &t.HudLabel_CFG_User_Name,         &t.HudLabel_CFG_User_Phone,
        &t.HudLabel_CFG_User_Install_Date, &t.HudLabel_CFG_User_Install_KM,
        &t.HudLabel_CFG_User_Gas_Jets,     &t.HudLabel_CFG_User_Notice};
    for (std::size_t i = 0; i < userCaptions.size(); ++i)
        installerLabels_[i]->setText(text(*userCaptions[i]));
    clear_->setText(text(t.HudButton_CFG_Errors_Clear));
}

void SetupPage::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QColor general = ColourFromText(ctx_.colours.ColourOf(0));
    const QFont font = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    for (HudGroupBox* g : {config_, sensorGroup_, user_, errorGroup_}) {
        g->setCaptionFont(font);
        g->setCaptionColour(general);
    }
    for (HudLabel* l : labels_) {
        l->setDesignFont(font);
        l->setColour(general);
    }
    clear_->setDesignFont(font);
    clear_->setTextColour(general);
    const QString style = pageStyle(general);
    if (panel_->styleSheet() != style) panel_->setStyleSheet(style);
    QFont editorFont = font;
    editorFont.setPixelSize(
        std::max(6, static_cast<int>(std::lround(s.Font_Size * config_->scaleY()))));
    // The volt boxes are narrow: "4.55" must fit between the bars.
    QFont small = editorFont;
    small.setPixelSize(std::max(6, editorFont.pixelSize() * 6 / 7));
    for (QWidget* e : editors_) {
        const QFont& want = e->property("volts").toBool() ? small : editorFont;
        if (e->font() != want) e->setFont(want);
    }
}

} // namespace bifuel::ui
