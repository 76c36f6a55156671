#include "Acb_Page.h"

#include "Context.h"
#include "Hud_Window.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "files/Settings_3D_Unit.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string_view>

namespace bifuel::ui {
namespace {

constexpr std::array<Colour, kACBRows> kBarColours{Colour::ACB_Pet_Pet, Colour::ACB_Pet_Gas,
                                                   Colour::ACB_Gas_Gas};
constexpr std::array<Colour, kACBRows> kRowLabelColours{Colour::Petrol, Colour::ACB_Pet_Gas,
                                                        Colour::Gas};

QRectF scaled(const ViewRect& r, double sx, double sy) {
    return {r.x * sx, r.y * sy, r.width * sx, r.height * sy};
}

QColor colourOf(const Context& ctx, Colour c) {
    return ColourFromText(ctx.colours.ColourOf(c));
}

QColor endColour(const Context& ctx, AutoCalibrationResult r) {
    switch (r) {
    case AutoCalibrationResult::Success:
        return colourOf(ctx, Colour::Txt_Complete);
    case AutoCalibrationResult::Advised:
        return colourOf(ctx, Colour::Txt_Recomm);
    default:
        return colourOf(ctx, Colour::Txt_Error);
    }
}

// Folds `v` into the digest `h`.
void mix(std::size_t& h, std::size_t v) {
    h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
}

std::size_t coloursKey(const Context& ctx) {
    std::size_t h = 0;
    for (const Colour c : kBarColours)
        mix(h, std::hash<std::string>{}(ctx.colours.ColourOf(c)));
    return h;
}

std::size_t sizeKey(const QWidget& w, std::size_t extra) {
    std::size_t h = extra;
    mix(h, static_cast<std::size_t>(w.width()));
    mix(h, static_cast<std::size_t>(w.height()));
    mix(h, static_cast<std::size_t>(std::lround(w.devicePixelRatioF() * 100)));
    return h;
}

// An empty picture the size of `w`, at its pixel density.
QPixmap ClearPicture(const QWidget& w) {
    const double dpr = w.devicePixelRatioF();
    QPixmap picture(QSize(std::max(1, w.width()), std::max(1, w.height())) * dpr);
    picture.setDevicePixelRatio(dpr);
    picture.fill(Qt::transparent);
    return picture;
}

} // namespace

std::size_t DisplaySignature(const Context& ctx) {
    const ACBView& v = ctx.acbView;
    std::size_t h = coloursKey(ctx);
    mix(h, static_cast<std::size_t>(v.Cylinders));
    for (const ACBCylinder& c : v.cylinders) {
        for (std::size_t r = 0; r < kACBRows; ++r) {
            mix(h, static_cast<std::size_t>(c.Rectangle_ACB_Bar[r].height));
            mix(h, static_cast<std::size_t>(c.Rectangle_ACB_Bar[r].rect.x));
            mix(h, std::hash<std::string>{}(c.HudTextBox_ACB_Value[r].text));
            mix(h, c.HudTextBox_ACB_Value[r].visible ? 1 : 2);
        }
    }
    return h;
}

// ---- Bars ------------------------------------------------------------------------------

AcbBars::AcbBars(Context& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QRectF AcbBars::barRect(int cylinder, int row) const {
    const ACBCylinder& c = ctx_.acbView.cylinders[static_cast<std::size_t>(cylinder)];
    return scaled(c.Rectangle_ACB_Bar[static_cast<std::size_t>(row)].rect,
                  width() / double(ACBView::kBarAreaWidth),
                  height() / double(ACBView::kBarAreaHeight));
}

QRectF AcbBars::filledRect(int cylinder, int row) const {
    const ACBBar& bar = ctx_.acbView.cylinders[static_cast<std::size_t>(cylinder)]
                            .Rectangle_ACB_Bar[static_cast<std::size_t>(row)];
    const QRectF full = barRect(cylinder, row);
    if (bar.rect.height <= 0) return {};
    // Turned by 180 degrees: the bar grows from its bottom edge.
    const double h = full.height() * std::clamp(bar.height, 0, bar.rect.height) / bar.rect.height;
    return {full.left(), full.bottom() - h, full.width(), h};
}

const QPixmap& AcbBars::backdrop() const {
    const std::size_t key =
        sizeKey(*this, coloursKey(ctx_) ^ static_cast<std::size_t>(ctx_.acbView.Cylinders));
    if (key == backdropKey_ && !backdrop_.isNull()) return backdrop_;
    backdropKey_ = key;
    backdrop_ = ClearPicture(*this);
    QPainter p(&backdrop_);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const int n = std::clamp(ctx_.acbView.Cylinders, 0, kACBCylinderSlots);
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < kACBRows; ++r) {
            const QRectF full = barRect(c, r);
            if (full.isEmpty()) continue;
            QColor trough = colourOf(ctx_, kBarColours[static_cast<std::size_t>(r)]);
            trough.setAlpha(40);
            p.setBrush(trough);
            p.drawRoundedRect(full, 3, 3);
        }
    }
    return backdrop_;
}

void AcbBars::draw(QPainter& p) const {
    p.drawPixmap(0, 0, backdrop());
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const int n = std::clamp(ctx_.acbView.Cylinders, 0, kACBCylinderSlots);
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < kACBRows; ++r) {
            const QRectF filled = filledRect(c, r);
            if (filled.height() <= 0) continue;
            const double radius = std::min(3.0, filled.height() / 2);
            p.setBrush(colourOf(ctx_, kBarColours[static_cast<std::size_t>(r)]));
            p.drawRoundedRect(filled, radius, radius);
        }
    }
}

void AcbBars::paintEvent(QPaintEvent*) {
    QPainter p(this);
    draw(p);
    p.end();
    if (onPainted) onPainted();
}

// ---- Value boxes -----------------------------------------------------------------------

AcbValues::AcbValues(Context& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QRectF AcbValues::boxRect(int cylinder, int row) const {
    const ACBCylinder& c = ctx_.acbView.cylinders[static_cast<std::size_t>(cylinder)];
    return scaled(c.boxRect[static_cast<std::size_t>(row)],
                  width() / double(ACBView::kIndicAreaWidth),
                  height() / double(ACBView::kIndicAreaHeight));
}

void AcbValues::setBoxFont(const QFont& font) {
    font_ = font;
    update();
}

const QPixmap& AcbValues::backdrop() const {
    const std::size_t key = sizeKey(*this, static_cast<std::size_t>(ctx_.acbView.Cylinders));
    if (key == backdropKey_ && !backdrop_.isNull()) return backdrop_;
    backdropKey_ = key;
    backdrop_ = ClearPicture(*this);
    QPainter p(&backdrop_);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.setBrush(QColor(0, 0, 0, 90));
    const int n = std::clamp(ctx_.acbView.Cylinders, 0, kACBCylinderSlots);
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < kACBRows; ++r)
            p.drawRoundedRect(boxRect(c, r).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    }
    return backdrop_;
}

QFont AcbValues::textFont() const {
    // One size for every box, the largest at which the widest text fits: found again only
    // when the size, the font or the longest text changes.
    const ACBView& v = ctx_.acbView;
    const int n = std::clamp(v.Cylinders, 1, kACBCylinderSlots);
    QString widest = QStringLiteral("00.00");
    for (int c = 0; c < n; ++c) {
        for (const ViewControl& box :
             v.cylinders[static_cast<std::size_t>(c)].HudTextBox_ACB_Value) {
            if (static_cast<int>(box.text.size()) > widest.size()) widest = FromUtf8(box.text);
        }
    }
    std::size_t key = sizeKey(*this, static_cast<std::size_t>(n));
    mix(key, static_cast<std::size_t>(widest.size()));
    mix(key, std::hash<QString>{}(font_.toString()));
    if (key == fittedKey_) return fitted_;
    fittedKey_ = key;
    fitted_ = font_;
    const double size = font_.pointSizeF() > 0 ? font_.pointSizeF() : 30.0;
    const int largest =
        std::max(6, static_cast<int>(std::lround(size * height() / ACBView::kIndicAreaHeight)));
    // The widest text in digits of the widest shape, so the size holds for every value.
    QString probe = widest;
    for (QChar& ch : probe) {
        if (ch.isDigit()) ch = QLatin1Char('8');
    }
    fitted_.setPixelSize(
        FitPixelSize(fitted_, probe, boxRect(0, 0).adjusted(2, 1, -2, -1).size(), largest));
    return fitted_;
}

void AcbValues::draw(QPainter& p) const {
    p.drawPixmap(0, 0, backdrop());
    const ACBView& v = ctx_.acbView;
    const int n = std::clamp(v.Cylinders, 0, kACBCylinderSlots);
    if (n == 0) return;
    p.setFont(textFont());
    for (std::size_t r = 0; r < kACBRows; ++r) {
        p.setPen(colourOf(ctx_, kBarColours[r]));
        for (int c = 0; c < n; ++c) {
            const ViewControl& box =
                v.cylinders[static_cast<std::size_t>(c)].HudTextBox_ACB_Value[r];
            if (box.visible)
                p.drawText(boxRect(c, static_cast<int>(r)), Qt::AlignCenter, FromUtf8(box.text));
        }
    }
}

void AcbValues::paintEvent(QPaintEvent*) {
    QPainter p(this);
    draw(p);
}

// ---- The page --------------------------------------------------------------------------

AcbPage::AcbPage(Context& ctx, DesignLayout* upper, DesignLayout* middle, DesignLayout* lower)
    : QObject(upper), ctx_(ctx), upper_(upper), middle_(middle), lower_(lower) {
    build();
    // The bars follow the reply that carries their values.
    subscriptions_.push_back(ctx_.events.liveData.subscribe([this] { redrawDisplay(); }));
    subscriptions_.push_back(
        ctx_.events.autoCalibrationEnded.subscribe([this](const AutoCalibrationEnd& e) {
            end_ = e;
            // A stopped run that wrote nothing had nothing to put back.
            endWrote_ = e.ecuChanged;
            restore_.reset();
            Refresh();
        }));
    subscriptions_.push_back(ctx_.events.restoreEnded.subscribe([this](const RestoreEnd& e) {
        restore_ = e;
        Refresh();
    }));
    Refresh();
}

void AcbPage::build() {
    bars_ = new AcbBars(ctx_, upper_);
    bars_->setObjectName(QStringLiteral("HudPanel_ACB_ProgressBar"));
    upper_->place(bars_, QRectF(0, 0, ACBView::kBarAreaWidth, ACBView::kBarAreaHeight));
    // The middle layout lies one unit right of its panel and one up.
    values_ = new AcbValues(ctx_, middle_);
    values_->setObjectName(QStringLiteral("HudPanel_ACB_Indic"));
    middle_->place(values_, QRectF(1, -1, ACBView::kIndicAreaWidth, ACBView::kIndicAreaHeight));
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        auto* label = new HudLabel(middle_);
        label->setObjectName(QStringLiteral("HudLabel_ACB_Row%1").arg(r + 1));
        label->setWordWrap(true);
        label->setShrinkToFit(true);
        label->setAlignment(Qt::AlignCenter);
        const ViewRect& rr = ctx_.acbView.rowRect[r];
        middle_->place(label, QRectF(rr.x + 1, rr.y - 1, rr.width, rr.height));
        rows_[r] = label;
    }
    // The lower panel: prompt line, progress bar, algorithm choice and the Start toggle.
    prompt_ = new HudLabel(lower_);
    prompt_->setObjectName(QStringLiteral("HudLabel_3D_ACB_Prompt"));
    prompt_->setAlignment(Qt::AlignCenter);
    prompt_->setWordWrap(true);
    prompt_->setShrinkToFit(true);
    lower_->place(prompt_, QRectF(5, 2, 604, 51));
    progress_ = new HudProgress(lower_);
    progress_->setObjectName(QStringLiteral("ProgressBar_3D_ACB"));
    lower_->place(progress_, QRectF(5, 55, 338, 22));
    algorithm_ = new QComboBox(lower_);
    algorithm_->setObjectName(QStringLiteral("HudComboTextBox_ACB_Algorithm"));
    algorithm_->setFocusPolicy(Qt::NoFocus);
    for (const std::string_view name : ACBAlgorithmNames())
        algorithm_->addItem(QString::fromUtf8(name.data(), static_cast<int>(name.size())));
    lower_->place(algorithm_, QRectF(348, 55, 176, 22));
    connect(algorithm_, &QComboBox::activated, this, [this](int index) { algorithmChosen(index); });
    start_ = new HudButton(QString(), lower_);
    start_->setObjectName(QStringLiteral("HudButton_ACB_Start"));
    start_->setCheckable(true);
    start_->setFocusPolicy(Qt::NoFocus);
    lower_->place(start_, QRectF(529, 55, 80, 22));
    connect(start_, &QAbstractButton::clicked, this, [this] { startClicked(); });
}

void AcbPage::startClicked() {
    // A new start begins a new story: the last run's end is no longer what the page says.
    if (!AutoCalibrationMeasuring(ctx_)) {
        end_.reset();
        restore_.reset();
    }
    HudButton_ACB_StartClick(ctx_);
    Refresh();
}

void AcbPage::algorithmChosen(int index) {
    const auto& names = ACBAlgorithmNames();
    if (index >= 0 && index < static_cast<int>(names.size()))
        HudComboTextBox_ACB_AlgorithmChange(ctx_.settingsView, ctx_.settings,
                                            std::string(names[static_cast<std::size_t>(index)]));
    Refresh();
}

QColor AcbPage::general() const {
    return ColourFromText(ctx_.colours.ColourOf(0));
}

void AcbPage::showPrompt() {
    const LinkView& v = ctx_.view;
    QString text;
    QColor colour;
    if (restore_ && !AutoCalibrationRunning(ctx_)) {
        // A calibration put back after its run: what became of it.
        text = FromUtf8(restore_->text);
        colour = colourOf(ctx_, restore_->written ? Colour::Txt_Complete : Colour::Txt_Error);
    } else if (end_ && !AutoCalibrationRunning(ctx_)) {
        // The run is over: what the core reported for it, and what became of the ECU.
        std::string shown = end_->text;
        std::string more = end_->reason;
        if (more.empty() && end_->result == AutoCalibrationResult::Stopped && endWrote_)
            more = ctx_.LangText("ACB_Restore_Done");
        if (!more.empty()) shown.append(" ").append(more);
        text = FromUtf8(shown);
        colour = endColour(ctx_, end_->result);
    } else {
        text = FromUtf8(v.HudLabel_3D_ACB_Prompt.text.empty()
                            ? ctx_.languageView.HudLabel_3D_ACB_Prompt
                            : v.HudLabel_3D_ACB_Prompt.text);
        colour = ColourFromText(v.HudLabel_3D_ACB_Prompt.colour, general());
    }
    prompt_->setText(text);
    prompt_->setColour(colour);
}

void AcbPage::Refresh() {
    const LinkView& v = ctx_.view;
    showPrompt();
    if (progress_->maximum() != v.ProgressBar_3D_ACB.max)
        progress_->setRange(v.ProgressBar_3D_ACB.max);
    if (progress_->value() != v.ProgressBar_3D_ACB.value)
        progress_->setValue(v.ProgressBar_3D_ACB.value);
    const ViewControl& button = v.HudButton_ACB_Start;
    start_->setText(
        FromUtf8(button.text.empty() ? ctx_.languageView.HudButton_ACB_Start : button.text));
    if (start_->isChecked() != button.pressed) start_->setChecked(button.pressed);
    if (start_->isEnabled() != button.enabled) start_->setEnabled(button.enabled);
    // The innovational question decides the algorithm on an ECU that knows it.
    const bool choosable = !AutoCalibrationRunning(ctx_) && !ctx_.link.Ident.Innovational_Capable;
    if (algorithm_->isEnabled() != choosable) algorithm_->setEnabled(choosable);
    const QString algorithm =
        FromUtf8(AutoCalibrationRunning(ctx_) ? AutoCalibrationNow(ctx_).algorithm
                                              : ctx_.settings.ACB_SCR_Type);
    const int index = algorithm_->findText(algorithm);
    if (index < 0) {
        if (algorithm_->count() == static_cast<int>(ACBAlgorithmNames().size()))
            algorithm_->addItem(algorithm);
        else
            algorithm_->setItemText(algorithm_->count() - 1, algorithm);
        algorithm_->setCurrentIndex(algorithm_->count() - 1);
    } else if (algorithm_->currentIndex() != index) {
        algorithm_->setCurrentIndex(index);
    }
    for (std::size_t r = 0; r < rows_.size(); ++r)
        rows_[r]->setText(FromUtf8(ctx_.acbView.HudLabel_ACB_Row[r].text));
    if (upper_->isVisible()) fitListFont();
    redrawDisplay();
}

void AcbPage::redrawDisplay() {
    if (!upper_->isVisible()) return;
    const std::size_t now = DisplaySignature(ctx_);
    if (now == drawn_) return;
    drawn_ = now;
    bars_->update();
    values_->update();
}

void AcbPage::fitListFont() {
    // A list is no HUD item: its font follows the panel's scale here.
    const Settings_Class& s = ctx_.settings;
    QFont box = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    box.setPixelSize(std::max(6, static_cast<int>(std::lround(s.Font_Size * lower_->scaleY()))));
    if (algorithm_->font() != box) algorithm_->setFont(box);
}

void AcbPage::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QColor c = general();
    prompt_->setDesignFont(ProgramFont(s.Font_Name, 21, 1));
    start_->setDesignFont(ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style));
    start_->setTextColour(c);
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        rows_[r]->setDesignFont(ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style));
        rows_[r]->setColour(colourOf(ctx_, kRowLabelColours[r]));
    }
    values_->setBoxFont(ProgramFont(s.Font_Name, 30, 1));
    const QString style = EditorStyle(c);
    if (algorithm_->styleSheet() != style) algorithm_->setStyleSheet(style);
    fitListFont();
    bars_->update();
    values_->update();
}

} // namespace bifuel::ui
