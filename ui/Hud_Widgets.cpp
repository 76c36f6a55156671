#include "Hud_Widgets.h"

#include <QEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <utility>

namespace bifuel::ui {

QColor ColourFromText(const std::string& text, QColor fallback) {
    if (text.size() != 9 || text[0] != '#') return fallback;
    bool ok = false;
    const unsigned argb = QString::fromLatin1(text.data() + 1, 8).toUInt(&ok, 16);
    if (!ok) return fallback;
    return QColor::fromRgba(argb);
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

QFont ProgramFont(const std::string& family, double size, int style) {
    QFont font(FromUtf8(family));
    font.setPointSizeF(std::max(1.0, size));
    font.setBold((style & 1) != 0);
    font.setItalic((style & 2) != 0);
    return font;
}

int FitPixelSize(QFont font, const QString& text, QSizeF room, int largest, int smallest) {
    smallest = std::max(1, smallest);
    for (int px = std::max(smallest, largest); px > smallest; --px) {
        font.setPixelSize(px);
        const QFontMetricsF m(font);
        if (m.horizontalAdvance(text) <= room.width() && m.height() <= room.height()) return px;
    }
    return smallest;
}

QBitmap RoundedMask(QSize size, double radius) {
    QImage shape(size, QImage::Format_ARGB32_Premultiplied);
    shape.fill(Qt::transparent);
    {
        QPainter p(&shape);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
    }
    // The alpha threshold at one half: edge pixels the shape covers mostly stay.
    return QBitmap::fromImage(shape.createAlphaMask(Qt::ThresholdAlphaDither));
}

namespace {

class RoundedMaskKeeper : public QObject {
  public:
    RoundedMaskKeeper(QWidget* window, std::function<double(QSize)> radius)
        : QObject(window), window_(window), radius_(std::move(radius)) {
        window->installEventFilter(this);
        apply();
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ &&
            (event->type() == QEvent::Resize || event->type() == QEvent::Show))
            apply();
        return false;
    }

  private:
    void apply() {
        const QSize size = window_->size();
        if (size == masked_ || size.isEmpty()) return;
        masked_ = size;
        window_->setMask(RoundedMask(size, radius_(size)));
    }
    QWidget* window_;
    std::function<double(QSize)> radius_;
    QSize masked_;
};

} // namespace

void MaskRoundedCorners(QWidget* window, std::function<double(QSize)> radius) {
    new RoundedMaskKeeper(window, std::move(radius));
}

// ---- HudItem ----------------------------------------------------------------------------

void HudItem::setFontScale(double scale) {
    if (scale <= 0 || scale == fontScale_) return;
    fontScale_ = scale;
    fontChanged();
}

void HudItem::setDesignFont(const QFont& font) {
    if (font == designFont_) return;
    designFont_ = font;
    fontChanged();
}

QFont HudItem::scaledFont() const {
    // Sizes are design units, as the layout's coordinates: pixels at scale 1.
    QFont f = designFont_;
    const double size = designFont_.pointSizeF() > 0 ? designFont_.pointSizeF() : 12.0;
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(size * fontScale_))));
    return f;
}

// ---- HudPanel ---------------------------------------------------------------------------

HudPanel::HudPanel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void HudPanel::setFillOpacity(double opacity) {
    opacity = std::clamp(opacity, 0.0, 1.0);
    if (opacity == opacity_) return;
    opacity_ = opacity;
    update();
}

void HudPanel::setAccent(QColor colour) {
    if (colour == accent_) return;
    accent_ = colour;
    update();
}

void HudPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintHudPanel(p, QRectF(rect()), opacity_, radius_, accent_);
}

void PaintHudPanel(QPainter& p, QRectF area, double opacity, double radius, QColor accent) {
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = area.adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, QColor(34, 40, 48, static_cast<int>(215 * opacity)));
    fill.setColorAt(1, QColor(14, 17, 22, static_cast<int>(235 * opacity)));
    p.setPen(QPen(QColor(255, 255, 255, static_cast<int>(60 * std::max(opacity, 0.4))), 1));
    p.setBrush(fill);
    p.drawRoundedRect(r, radius, radius);
    if (accent.isValid()) {
        p.setPen(Qt::NoPen);
        p.setBrush(accent);
        p.drawRoundedRect(QRectF(r.left() + 2, r.top() + 5, 3, std::max(0.0, r.height() - 10)), 1.5,
                          1.5);
    }
}

// ---- HudLabel ---------------------------------------------------------------------------

double HudLabel::wrappedHeight(double width, const QString& text) const {
    if (text.isEmpty()) return 0;
    const double scale = fontScale() > 0 ? fontScale() : 1.0;
    const QRect need = QFontMetrics(scaledFont())
                           .boundingRect(QRect(0, 0, static_cast<int>(width * scale), 4000),
                                         Qt::TextWordWrap, text);
    return need.height() / scale + 4;
}

HudLabel::HudLabel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void HudLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    update();
}

void HudLabel::setColour(QColor colour) {
    if (colour == colour_) return;
    colour_ = colour;
    update();
}

void HudLabel::setAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

void HudLabel::setShrinkToFit(bool shrink) {
    shrink_ = shrink;
    update();
}

void HudLabel::setWordWrap(bool wrap) {
    wrap_ = wrap;
    update();
}

void HudLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont f = scaledFont();
    const int flags = static_cast<int>(alignment_) | (wrap_ ? Qt::TextWordWrap : 0);
    QString shown = text_;
    // Texts set a question or exclamation mark apart by a blank: the mark stays with its
    // word when the text wraps.
    if (wrap_)
        shown.replace(QStringLiteral(" ?"), QStringLiteral("\u00A0?"))
            .replace(QStringLiteral(" !"), QStringLiteral("\u00A0!"));
    if (shrink_ && !shown.isEmpty()) {
        // Largest size at or below the set size whose text fits.
        for (int i = 0; i < 12; ++i) {
            const QRect need = QFontMetrics(f).boundingRect(rect(), flags, shown);
            if (need.width() <= width() && need.height() <= height()) break;
            const int px = f.pixelSize();
            if (px <= 6) break;
            f.setPixelSize(std::max(6, static_cast<int>(px * 0.9)));
        }
    }
    p.setFont(f);
    p.setPen(colour_);
    p.drawText(rect(), flags, shown);
    p.end();
    if (onPainted) onPainted();
}

void HudLabel::mousePressEvent(QMouseEvent* event) {
    if (onMousePress) {
        onMousePress();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

// ---- HudButton --------------------------------------------------------------------------

HudButton::HudButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
}

void HudButton::setTextColour(QColor colour) {
    if (colour == textColour_) return;
    textColour_ = colour;
    update();
}

void HudButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool down = isDown() || isChecked();
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    if (down) {
        fill.setColorAt(0, QColor(18, 64, 92, 235));
        fill.setColorAt(1, QColor(26, 96, 130, 235));
    } else if (hover_ && isEnabled()) {
        fill.setColorAt(0, QColor(78, 88, 102, 230));
        fill.setColorAt(1, QColor(44, 52, 62, 230));
    } else {
        fill.setColorAt(0, QColor(60, 68, 80, 220));
        fill.setColorAt(1, QColor(30, 36, 44, 220));
    }
    p.setBrush(fill);
    p.setPen(QPen(down ? QColor(90, 190, 255, 200) : QColor(255, 255, 255, 70), 1));
    const double radius = std::min(6.0, r.height() / 2.5);
    p.drawRoundedRect(r, radius, radius);
    QColor textColour = textColour_;
    if (!isEnabled()) textColour.setAlpha(90);
    p.setPen(textColour);
    // The text scales with the layout's height; on a wide, low window it would outgrow
    // the button, so it shrinks to the button's width.
    QFont f = scaledFont();
    const int room = std::max(1, width() - 6);
    for (int i = 0; i < 12 && f.pixelSize() > 6 && QFontMetrics(f).horizontalAdvance(text()) > room;
         ++i)
        f.setPixelSize(std::max(6, static_cast<int>(f.pixelSize() * 0.9)));
    p.setFont(f);
    p.drawText(rect(), Qt::AlignCenter, text());
}

void HudButton::mousePressEvent(QMouseEvent* event) {
    if (onMouseDown) onMouseDown(event->button());
    QAbstractButton::mousePressEvent(event);
}

void HudButton::mouseMoveEvent(QMouseEvent* event) {
    if (onMouseMove) onMouseMove();
    QAbstractButton::mouseMoveEvent(event);
}

void HudButton::enterEvent(QEnterEvent* event) {
    hover_ = true;
    update();
    if (onMouseMove) onMouseMove();
    QAbstractButton::enterEvent(event);
}

void HudButton::leaveEvent(QEvent* event) {
    hover_ = false;
    update();
    if (onMouseLeave) onMouseLeave();
    QAbstractButton::leaveEvent(event);
}

// ---- HudSlider --------------------------------------------------------------------------

HudSlider::HudSlider(int minimum, int maximum, QWidget* parent)
    : QWidget(parent), min_(minimum), max_(std::max(minimum, maximum)), value_(minimum) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground);
}

void HudSlider::setValue(int value) {
    value = std::clamp(value, min_, max_);
    if (value == value_) return;
    value_ = value;
    update();
}

void HudSlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double h = height();
    const double knob = std::max(4.0, h - 2);
    const double left = knob / 2;
    const double span = std::max(1.0, width() - knob);
    const double frac = max_ > min_ ? double(value_ - min_) / (max_ - min_) : 0.0;
    const double x = left + frac * span;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 50));
    p.drawRoundedRect(QRectF(left, h / 2 - 1.5, span, 3), 1.5, 1.5);
    p.setBrush(QColor(90, 190, 255, 200));
    p.drawRoundedRect(QRectF(left, h / 2 - 1.5, x - left, 3), 1.5, 1.5);
    p.setBrush(QColor(235, 240, 245));
    p.drawEllipse(QPointF(x, h / 2), knob / 2, knob / 2);
}

void HudSlider::takeX(double x) {
    const double knob = std::max(4.0, height() - 2.0);
    const double span = std::max(1.0, width() - knob);
    const double frac = std::clamp((x - knob / 2) / span, 0.0, 1.0);
    const int v = min_ + static_cast<int>(std::lround(frac * (max_ - min_)));
    if (v == value_) return;
    value_ = v;
    update();
    if (onChange) onChange(value_);
}

void HudSlider::mousePressEvent(QMouseEvent* event) {
    takeX(event->position().x());
}
void HudSlider::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) takeX(event->position().x());
}

// ---- ChromeCircle -----------------------------------------------------------------------

ChromeCircle::ChromeCircle(Symbol symbol, QWidget* parent) : QWidget(parent), symbol_(symbol) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground);
}

void ChromeCircle::setSymbol(Symbol symbol) {
    if (symbol == symbol_) return;
    symbol_ = symbol;
    update();
}

void ChromeCircle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(hover_ ? 1.0 : 0.6);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(r);
    p.setPen(QPen(Qt::black, std::max(1.2, width() / 12.0)));
    p.setBrush(Qt::NoBrush);
    const double w = r.width();
    const QPointF c = r.center();
    switch (symbol_) {
    case Symbol::Minimise:
        p.drawLine(QPointF(c.x() - w * 0.25, c.y() + w * 0.12),
                   QPointF(c.x() + w * 0.25, c.y() + w * 0.12));
        break;
    case Symbol::Windowed: // a window frame: going full screen
        p.drawRect(QRectF(c.x() - w * 0.24, c.y() - w * 0.2, w * 0.48, w * 0.4));
        p.drawLine(QPointF(c.x() - w * 0.24, c.y() - w * 0.1),
                   QPointF(c.x() + w * 0.24, c.y() - w * 0.1));
        break;
    case Symbol::FullScreen: // two overlapping frames: back to a window
        p.drawRect(QRectF(c.x() - w * 0.26, c.y() - w * 0.08, w * 0.34, w * 0.3));
        p.drawRect(QRectF(c.x() - w * 0.08, c.y() - w * 0.26, w * 0.34, w * 0.3));
        break;
    }
}

void ChromeCircle::enterEvent(QEnterEvent*) {
    hover_ = true;
    update();
}
void ChromeCircle::leaveEvent(QEvent*) {
    hover_ = false;
    update();
}
void ChromeCircle::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        onClick)
        onClick();
}

// ---- HudBusy ----------------------------------------------------------------------------

HudBusy::HudBusy(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void HudBusy::setAnimating(bool on) {
    if (on == animating()) return;
    if (on) {
        timer_ = startTimer(80);
    } else {
        killTimer(timer_);
        timer_ = 0;
    }
    update();
}

void HudBusy::timerEvent(QTimerEvent*) {
    phase_ = (phase_ + 1) % 12;
    update();
}

void HudBusy::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    const QPointF c = QRectF(rect()).center();
    const double ring = side * 0.36;
    const double dot = std::max(1.5, side * 0.06);
    for (int i = 0; i < 12; ++i) {
        const double a = (i * 30.0 - 90.0) * M_PI / 180.0;
        const int age = (phase_ - i + 12) % 12;
        const int alpha = animating() ? std::max(40, 255 - age * 20) : 70;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(120, 205, 255, alpha));
        p.drawEllipse(QPointF(c.x() + ring * std::cos(a), c.y() + ring * std::sin(a)), dot, dot);
    }
}

// ---- HudProgress ------------------------------------------------------------------------

HudProgress::HudProgress(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void HudProgress::setRange(int maximum) {
    if (maximum == max_) return;
    max_ = maximum;
    update();
}

void HudProgress::setValue(int value) {
    if (value == value_) return;
    value_ = value;
    update();
}

void HudProgress::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(QColor(255, 255, 255, 70), 1));
    p.setBrush(QColor(0, 0, 0, 120));
    p.drawRoundedRect(r, 3, 3);
    const double frac = max_ > 0 ? std::clamp(double(value_) / max_, 0.0, 1.0) : 0.0;
    if (frac > 0) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(90, 190, 255, 210));
        p.drawRoundedRect(QRectF(r.left() + 1, r.top() + 1, (r.width() - 2) * frac, r.height() - 2),
                          2, 2);
    }
}

// ---- DesignLayout -----------------------------------------------------------------------

DesignLayout::DesignLayout(QSizeF designSize, QWidget* parent)
    : QWidget(parent), design_(designSize) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void DesignLayout::setPanelLook(bool on, double opacity) {
    panelLook_ = on;
    opacity_ = std::clamp(opacity, 0.0, 1.0);
    update();
}

void DesignLayout::paintEvent(QPaintEvent*) {
    if (!panelLook_) return;
    QPainter p(this);
    PaintHudPanel(p, QRectF(rect()), opacity_, 6.0, accent_);
}

void DesignLayout::place(QWidget* child, QRectF design) {
    for (Entry& e : entries_) {
        if (e.widget == child) {
            e.rect = design;
            apply(e);
            return;
        }
    }
    if (child->parentWidget() != this) child->setParent(this);
    entries_.push_back({child, design});
    if (auto* item = dynamic_cast<HudItem*>(child)) item->setFontScale(fontScale_);
    if (auto* inner = dynamic_cast<DesignLayout*>(child)) inner->setFontScale(fontScale_);
    apply(entries_.back());
}

QRectF DesignLayout::designRect(const QWidget* child) const {
    for (const Entry& e : entries_) {
        if (e.widget == child) return e.rect;
    }
    return {};
}

void DesignLayout::setDesignSize(QSizeF size) {
    design_ = size;
    relayout();
}

double DesignLayout::scaleX() const {
    return design_.width() > 0 ? width() / design_.width() : 1.0;
}
double DesignLayout::scaleY() const {
    return design_.height() > 0 ? height() / design_.height() : 1.0;
}

void DesignLayout::setFontScale(double scale) {
    fontScale_ = scale;
    for (const Entry& e : entries_) {
        if (!e.widget) continue;
        if (auto* item = dynamic_cast<HudItem*>(e.widget.data())) item->setFontScale(scale);
        if (auto* inner = dynamic_cast<DesignLayout*>(e.widget.data())) inner->setFontScale(scale);
    }
}

void DesignLayout::apply(const Entry& e) {
    if (!e.widget) return;
    const double sx = scaleX();
    const double sy = scaleY();
    const int x = static_cast<int>(std::lround(e.rect.x() * sx));
    const int y = static_cast<int>(std::lround(e.rect.y() * sy));
    const int right = static_cast<int>(std::lround((e.rect.x() + e.rect.width()) * sx));
    const int bottom = static_cast<int>(std::lround((e.rect.y() + e.rect.height()) * sy));
    e.widget->setGeometry(x, y, std::max(0, right - x), std::max(0, bottom - y));
}

void DesignLayout::relayout() {
    entries_.erase(
        std::remove_if(entries_.begin(), entries_.end(), [](const Entry& e) { return !e.widget; }),
        entries_.end());
    for (const Entry& e : entries_)
        apply(e);
}

void DesignLayout::resizeEvent(QResizeEvent*) {
    relayout();
}

// ---- HudGroupBox ------------------------------------------------------------------------

HudGroupBox::HudGroupBox(QSizeF designSize, QWidget* parent) : DesignLayout(designSize, parent) {}

void HudGroupBox::setCaption(const QString& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    update();
}

void HudGroupBox::setCaptionFont(const QFont& font) {
    font_ = font;
    update();
}

void HudGroupBox::setCaptionColour(QColor colour) {
    colour_ = colour;
    update();
}

void HudGroupBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = font_;
    const double size = font_.pointSizeF() > 0 ? font_.pointSizeF() : 12.0;
    f.setPixelSize(std::max(6, static_cast<int>(std::lround(size * fontScale()))));
    const QFontMetrics m(f);
    // The rim starts half a text line down, so that the caption sits on it.
    const double top = m.height() / 2.0;
    const QRectF r = QRectF(rect()).adjusted(0.5, top, -0.5, -0.5);
    p.setPen(QPen(QColor(255, 255, 255, 80), 1));
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRoundedRect(r, 5, 5);
    if (caption_.isEmpty()) return;
    const int textWidth = std::min(m.horizontalAdvance(caption_) + 8, std::max(0, width() - 16));
    const QRectF band(8, 0, textWidth, m.height());
    // The caption's band hides the rim behind it: a dark plate under the text.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(24, 29, 36, 235));
    p.drawRoundedRect(band, 3, 3);
    p.setFont(f);
    p.setPen(colour_);
    p.drawText(band, Qt::AlignCenter, m.elidedText(caption_, Qt::ElideRight, textWidth - 4));
}

// ---- HudSwatch --------------------------------------------------------------------------

HudSwatch::HudSwatch(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void HudSwatch::setColour(QColor colour) {
    if (colour == colour_) return;
    colour_ = colour;
    update();
}

void HudSwatch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height()) - 2.0;
    const QRectF r(QRectF(rect()).center().x() - side / 2, QRectF(rect()).center().y() - side / 2,
                   side, side);
    QPainterPath circle;
    circle.addEllipse(r);
    p.setClipPath(circle);
    const double cell = std::max(2.0, side / 4);
    for (int i = 0; i * cell < side; ++i) {
        for (int j = 0; j * cell < side; ++j) {
            p.fillRect(QRectF(r.left() + i * cell, r.top() + j * cell, cell, cell),
                       (i + j) % 2 ? QColor(90, 90, 90) : QColor(200, 200, 200));
        }
    }
    p.fillRect(r, colour_);
    p.setClipping(false);
    p.setPen(QPen(QColor(255, 255, 255, 160), 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(r);
}

} // namespace bifuel::ui
