// How the main window looks: its fill (the skin), the title band with the title fitted to
// its room, and the Flip effect.
#include "Global_Window.h"
#include "Global_Window_Parts.h"

#include "Hud_Window.h"

#include "Context.h"
#include "files/Skin_3D_Unit.h"
#include "link/Global_Unit.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace bifuel::ui {
namespace {

// The distance of the eye from the content during the Flip effect.
constexpr double kFlipEye = 1800;

// The content's picture during the Flip effect, turned in perspective over the window's
// fill while the content itself is hidden.
class FlipOverlay : public QWidget {
  public:
    explicit FlipOverlay(TForm_3D_GEN* main) : QWidget(main), main_(main) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    // The picture and where the content lies in the window.
    void setPicture(QImage picture, QRect at) {
        picture_ = std::move(picture);
        at_ = at;
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        const FlipPose pose = FlipPoseAt(main_->flipElapsed());
        // Edge-on the picture is a line: nothing to draw.
        if (std::abs(std::cos(pose.angle * M_PI / 180.0)) < 0.01) return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        // QTransform projects from 1024 units away; the picture is drawn at 1/k of its
        // size for the turn, so the eye is k times as far and the perspective milder.
        constexpr double k = kFlipEye / 1024;
        const double s = kFlipEye / (kFlipEye + pose.depth);
        QTransform t;
        t.translate(at_.center().x() + 0.5, at_.center().y() + 0.5);
        t.scale(s * k, s * k);
        t.rotate(pose.angle, Qt::XAxis);
        t.scale(1 / k, 1 / k);
        t.translate(-at_.width() / 2.0, -at_.height() / 2.0);
        p.setTransform(t);
        p.drawImage(QPointF(0, 0), picture_);
    }

  private:
    TForm_3D_GEN* main_;
    QImage picture_;
    QRect at_;
};

} // namespace

QWidget* MakeFlipOverlay(TForm_3D_GEN* main) {
    return new FlipOverlay(main);
}

QString FitTitle(const QString& title, const QFontMetrics& metrics, int room) {
    QStringList parts;
    for (const QString& s : title.split(QStringLiteral("     "), Qt::SkipEmptyParts)) {
        const QString part = s.trimmed();
        if (!part.isEmpty()) parts << part;
    }
    if (parts.isEmpty()) return {};
    QString separator = QStringLiteral("     ");
    bool programShown = true;
    const auto fits = [&](const QString& s) { return metrics.horizontalAdvance(s) <= room; };
    // A part's date follows two blanks; its label ends with " : ".
    const auto withoutDate = [](const QString& s) {
        const qsizetype at = s.indexOf(QStringLiteral("  "));
        return at > 0 ? s.left(at) : s;
    };
    const auto withoutLabel = [](const QString& s) {
        const qsizetype at = s.indexOf(QStringLiteral(" : "));
        return at >= 0 ? s.mid(at + 3) : s;
    };
    const std::array<std::function<void()>, 6> shorten{
        [&] { parts[0] = withoutDate(parts[0]); },
        [&] {
            if (parts.size() < 2) return;
            parts.removeFirst();
            programShown = false;
        },
        [&] {
            for (QString& part : parts)
                part = withoutDate(part);
        },
        [&] { separator = QStringLiteral("   "); },
        [&] {
            for (qsizetype i = 0; i + 1 < parts.size(); ++i)
                parts[i] = withoutLabel(parts[i]);
        },
        [&] {
            if (!programShown) parts.last() = withoutLabel(parts.last());
        },
    };
    QString shown = parts.join(separator);
    for (const auto& step : shorten) {
        if (fits(shown)) return shown;
        step();
        shown = parts.join(separator);
    }
    if (fits(shown)) return shown;
    // Still too long: the last part whole, what is left before it shortened at its end.
    const QString last = parts.last();
    if (programShown) return metrics.elidedText(last, Qt::ElideRight, room);
    if (parts.size() > 1 && fits(last)) {
        const int rest = room - metrics.horizontalAdvance(separator + last);
        const QString head = metrics.elidedText(parts.mid(0, parts.size() - 1).join(separator),
                                                Qt::ElideRight, rest);
        if (head.size() > 1) return head + separator + last;
        return last;
    }
    return metrics.elidedText(last, Qt::ElideMiddle, room);
}

FlipPose FlipPoseAt(int elapsedMs) {
    if (elapsedMs <= 0 || elapsedMs >= 2 * kFlipHalfMs) return {};
    if (elapsedMs < kFlipHalfMs) {
        const double t = double(elapsedMs) / kFlipHalfMs;
        return {90 * t, kFlipDepth * t};
    }
    const double t = double(elapsedMs - kFlipHalfMs) / kFlipHalfMs;
    return {270 + 90 * t, kFlipDepth * (1 - t)};
}

void TForm_3D_GEN::paintSkin(QPainter& p) const {
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(visibleRect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (ctx_.skin.Style == BrushStyle::Gradient && ctx_.skin.GradColors.size() >= 2) {
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        const auto n = ctx_.skin.GradColors.size();
        for (std::size_t i = 0; i < n; ++i)
            g.setColorAt(double(i) / double(n - 1), ColourFromText(ctx_.skin.GradColors[i]));
        p.setBrush(g);
    } else {
        p.setBrush(ColourFromText(ctx_.skin.Color, QColor(0xD7, 0xD5, 0xD5)));
    }
    p.setPen(QPen(QColor(0, 0, 0, 90), 1));
    // Full screen meets the screen's edges: square corners.
    const double radius = ctx_.settings.Full_Screen ? 0 : kCornerRadius;
    p.drawRoundedRect(r, radius, radius);
}

struct TForm_3D_GEN::TitleLayout {
    QFont font;
    QFont badgeFont;
    QString badge;
    QRectF badgeRect; // empty: no badge
    QRectF textRect;
    QString shown;
};

TForm_3D_GEN::TitleLayout TForm_3D_GEN::titleLayout() const {
    TitleLayout t;
    const QRect v = visibleRect();
    t.font =
        ProgramFont(ctx_.settings.Font_Name, ctx_.settings.Font_Size, ctx_.settings.Font_Style);
    t.font.setPixelSize(std::max(8, static_cast<int>(std::lround(ctx_.settings.Font_Size))));
    double right = v.left() + v.width() - 80;
    QString title = title_;
    if (ctx_.settings.Port_Name == kSimulatedPort) {
        // A badge that stays in sight however long the title grows; the title then
        // leaves out its own note of the simulator.
        t.badgeFont = t.font;
        t.badgeFont.setBold(true);
        t.badgeFont.setPixelSize(std::max(8, t.font.pixelSize() - 2));
        t.badge = FromUtf8(SimulatedEcuNote(ctx_));
        const double bw = QFontMetrics(t.badgeFont).horizontalAdvance(t.badge) + 14;
        t.badgeRect = QRectF(right - bw, v.top() + 10, bw, 18);
        right = t.badgeRect.left() - 8;
        const qsizetype note = title.lastIndexOf(QStringLiteral("     ["));
        if (note >= 0) title = title.left(note);
    }
    const double left = v.left() + 40;
    t.textRect = QRectF(left, v.top() + 3, std::max(0.0, right - left), 31);
    t.shown = FitTitle(title, QFontMetrics(t.font), static_cast<int>(t.textRect.width()));
    return t;
}

QString TForm_3D_GEN::shownTitle() const {
    return titleLayout().shown;
}
int TForm_3D_GEN::titleRoom() const {
    return static_cast<int>(titleLayout().textRect.width());
}

void TForm_3D_GEN::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintSkin(p);
    const QRectF r = QRectF(visibleRect()).adjusted(0.5, 0.5, -0.5, -0.5);
    // The title band: a dark strip so that the title reads on any skin.
    QPainterPath band;
    band.addRoundedRect(QRectF(r.left() + 3, r.top() + 3, r.width() - 6, 31), 8, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(14, 18, 24, 200));
    p.drawPath(band);
    const TitleLayout t = titleLayout();
    if (!t.badgeRect.isEmpty()) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(231, 163, 39, 230));
        p.drawRoundedRect(t.badgeRect, 9, 9);
        p.setPen(QColor(20, 20, 20));
        p.setFont(t.badgeFont);
        p.drawText(t.badgeRect, Qt::AlignCenter, t.badge);
    }
    p.setFont(t.font);
    p.setPen(entryColour(ctx_, 0));
    p.drawText(t.textRect, Qt::AlignLeft | Qt::AlignVCenter, t.shown);
}

bool TForm_3D_GEN::Flip() {
    if (flipRunning() || !ctx_.link.Main_Shown) return false;
    // The content's picture without the fill: the window keeps drawing its fill behind.
    const qreal dpr = devicePixelRatioF();
    QImage picture((QSizeF(layout_->size()) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(dpr);
    picture.fill(Qt::transparent);
    layout_->render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
    static_cast<FlipOverlay*>(flipOverlay_)->setPicture(std::move(picture), layout_->geometry());
    flipElapsed_ = 0;
    flipColoured_ = false;
    layout_->hide();
    flipOverlay_->setGeometry(rect());
    flipOverlay_->show();
    flipOverlay_->raise();
    flipTimer_->start();
    return true;
}

void TForm_3D_GEN::flipStep() {
    flipElapsed_ += kFlipFrameMs;
    // A window closed meanwhile has saved its settings: no colour it would not keep.
    if (!ctx_.link.Main_Shown) flipElapsed_ = std::max(flipElapsed_, 2 * kFlipHalfMs);
    if (!flipColoured_ && flipElapsed_ < 2 * kFlipHalfMs && flipElapsed_ >= kFlipHalfMs) {
        // Edge-on: the window takes its new colour unseen.
        flipColoured_ = true;
        ctx_.skin.Color = FlipColour(ctx_.skin.Color, flipRandom_);
        ctx_.skin.Style = BrushStyle::Solid;
        update();
    }
    if (flipElapsed_ >= 2 * kFlipHalfMs) {
        flipTimer_->stop();
        flipElapsed_ = -1;
        flipOverlay_->hide();
        layout_->show();
        update();
        if (flipColoured_) QueueDeferredAction(ctx_, kActionSkin, 100);
        return;
    }
    flipOverlay_->update();
}

} // namespace bifuel::ui
