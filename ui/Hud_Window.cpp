#include "Hud_Window.h"

#include "Context.h"
#include "files/Skin_3D_Unit.h"
#include "link/Global_Unit.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QColorDialog>
#include <QFontDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace bifuel::ui {
namespace {

constexpr int kContentLeft = 13;
constexpr int kContentTop = 32;
constexpr int kContentRight = 13;
constexpr int kContentBottom = 12;
constexpr int kTitleBand = 31;
constexpr double kCornerRadius = 9;
constexpr int kEdge = 6; // mouse band along the border that resizes the window
constexpr int kCheckIndicatorRoom = 11 + 2 + 6 + 2; // indicator, its rim, spacing, a margin

} // namespace

// Standard editors drawn dark and translucent, as the HUD panels they sit on.
QString EditorStyle(QColor text) {
    const QString c = text.name(QColor::HexArgb);
    return QStringLiteral(
               "QLineEdit, QAbstractSpinBox, QComboBox {"
               " color: %1; background: rgba(0, 0, 0, 130); border: 1px solid rgba(255, 255, 255, "
               "90);"
               " border-radius: 3px; padding: 0px 4px; selection-background-color: #1a6082; }"
               "QLineEdit[readOnly=\"true\"] { background: rgba(0, 0, 0, 60); }"
               "QComboBox QAbstractItemView { color: %1; background: #1c232b; "
               "selection-background-color: #1a6082; }"
               "QCheckBox { color: %1; spacing: 6px; }"
               "QCheckBox::indicator { width: 11px; height: 11px; border: 1px solid rgba(255, 255, "
               "255, 170);"
               " border-radius: 2px; background: rgba(0, 0, 0, 130); }"
               "QCheckBox::indicator:checked { background: #5abeff; border-color: #d8f0ff; }")
        .arg(c);
}

namespace {

constexpr int kFontsAction = 6;

} // namespace

ColourPicker SystemColourPicker(QWidget* parent) {
    return [parent](QColor initial, const QString& title) -> std::optional<QColor> {
        const QColor c =
            QColorDialog::getColor(initial, parent, title, QColorDialog::ShowAlphaChannel);
        if (!c.isValid()) return std::nullopt;
        return c;
    };
}

FontPicker SystemFontPicker(QWidget* parent) {
    return [parent](const QFont& initial, const QString& title) -> std::optional<QFont> {
        bool ok = false;
        const QFont f = QFontDialog::getFont(&ok, initial, parent, title);
        if (!ok) return std::nullopt;
        return f;
    };
}

bool ChooseProgramFont(Context& ctx, const FontPicker& pick, const QString& title) {
    const FontChoice preset = FontDialogPreset(ctx.settings);
    const std::optional<QFont> picked =
        pick(ProgramFont(preset.name, preset.size, preset.style), title);
    if (!picked) return false;
    FontChoice choice = preset;
    choice.name = ToUtf8(picked->family());
    choice.size = picked->pointSize() > 0 ? picked->pointSize() : preset.size;
    choice.style = (picked->bold() ? 1 : 0) | (picked->italic() ? 2 : 0);
    if (!TakeFontChoice(ctx.settings, ctx.colours, choice)) return false;
    QueueDeferredAction(ctx, kFontsAction, 100);
    return true;
}

HudToolWindow::HudToolWindow(Context& ctx, QSize designSize, QSize minimumSize)
    : QWidget(nullptr), ctx_(ctx), design_(designSize) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    MaskRoundedCorners(this, [](QSize) { return kCornerRadius; });
    setMouseTracking(true);
    setMinimumSize(minimumSize);
    resize(designSize);
    content_ = new DesignLayout(QSizeF(designSize.width() - kContentLeft - kContentRight,
                                       designSize.height() - kContentTop - kContentBottom),
                                this);
    close_ = new HudButton(QStringLiteral("\u2715"), this);
    connect(close_, &QAbstractButton::clicked, this, [this] { close(); });
    applyChromeFonts();
}

void HudToolWindow::addEditor(QWidget* editor) {
    // Number boxes take typed values, the arrow keys and the wheel; their step buttons
    // would not read on the dark look.
    if (auto* box = qobject_cast<QAbstractSpinBox*>(editor))
        box->setButtonSymbols(QAbstractSpinBox::NoButtons);
    editors_.emplace_back(editor);
    fitEditors();
}

void HudToolWindow::applyChromeFonts() {
    const QColor general = ColourFromText(ctx_.colours.ColourOf(0));
    close_->setDesignFont(ProgramFont(ctx_.settings.Font_Name, 11, 1));
    close_->setTextColour(general);
    content_->setStyleSheet(EditorStyle(general));
    fitEditors();
    update();
}

void HudToolWindow::fitEditors() {
    const Settings_Class& s = ctx_.settings;
    QFont f = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    f.setPixelSize(std::max(6, static_cast<int>(std::lround(s.Font_Size * content_->fontScale()))));
    for (const QPointer<QWidget>& e : editors_) {
        if (!e) continue;
        QFont own = f;
        // A check box cannot wrap its text: longer translations get a smaller size.
        if (auto* box = qobject_cast<QCheckBox*>(e.data())) {
            const int room = std::max(1, box->width() - kCheckIndicatorRoom);
            for (int i = 0; i < 12 && own.pixelSize() > 6 &&
                            QFontMetrics(own).horizontalAdvance(box->text()) > room;
                 ++i)
                own.setPixelSize(std::max(6, static_cast<int>(own.pixelSize() * 0.9)));
        }
        e->setFont(own);
    }
}

void HudToolWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    content_->setGeometry(kContentLeft, kContentTop, width() - kContentLeft - kContentRight,
                          height() - kContentTop - kContentBottom);
    content_->setFontScale(content_->scaleY());
    close_->setGeometry(width() - 30, 7, 20, 18);
    fitEditors();
}

void HudToolWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const WindowSkin& skin = ctx_.skin;
    if (skin.Style == BrushStyle::Gradient && skin.GradColors.size() >= 2) {
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        const auto n = skin.GradColors.size();
        for (std::size_t i = 0; i < n; ++i)
            g.setColorAt(double(i) / double(n - 1), ColourFromText(skin.GradColors[i]));
        p.setBrush(g);
    } else {
        p.setBrush(ColourFromText(skin.Color, QColor(0xD7, 0xD5, 0xD5)));
    }
    p.setPen(QPen(QColor(0, 0, 0, 110), 1));
    p.drawRoundedRect(r, kCornerRadius, kCornerRadius);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(14, 18, 24, 200));
    p.drawRoundedRect(r.adjusted(3, 3, -3, -(r.height() - kTitleBand)), 7, 7);
    QFont title = ProgramFont(ctx_.settings.Font_Name, 14, 1);
    title.setPixelSize(14);
    p.setFont(title);
    p.setPen(ColourFromText(ctx_.colours.ColourOf(0)));
    const int room = std::max(0, width() - 54);
    p.drawText(QRectF(14, 3, room, kTitleBand - 3), Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(title).elidedText(windowTitle(), Qt::ElideRight, room));
}

Qt::Edges EdgesAt(const QWidget& window, QPoint p) {
    Qt::Edges e;
    if (p.x() < kEdge) e |= Qt::LeftEdge;
    if (p.x() >= window.width() - kEdge) e |= Qt::RightEdge;
    if (p.y() < kEdge) e |= Qt::TopEdge;
    if (p.y() >= window.height() - kEdge) e |= Qt::BottomEdge;
    return e;
}

void ShowEdgeCursor(QWidget& window, Qt::Edges e) {
    if (e == (Qt::LeftEdge | Qt::TopEdge) || e == (Qt::RightEdge | Qt::BottomEdge)) {
        window.setCursor(Qt::SizeFDiagCursor);
    } else if (e == (Qt::RightEdge | Qt::TopEdge) || e == (Qt::LeftEdge | Qt::BottomEdge)) {
        window.setCursor(Qt::SizeBDiagCursor);
    } else if (e & (Qt::LeftEdge | Qt::RightEdge)) {
        window.setCursor(Qt::SizeHorCursor);
    } else if (e & (Qt::TopEdge | Qt::BottomEdge)) {
        window.setCursor(Qt::SizeVerCursor);
    } else {
        window.unsetCursor();
    }
}

void HudToolWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint pos = event->position().toPoint();
    QWindow* handle = windowHandle();
    if (const Qt::Edges edges = EdgesAt(*this, pos);
        edges && handle != nullptr && handle->startSystemResize(edges))
        return;
    if (handle != nullptr && handle->startSystemMove()) return;
    moving_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void HudToolWindow::mouseMoveEvent(QMouseEvent* event) {
    const Qt::Edges e = EdgesAt(*this, event->position().toPoint());
    ShowEdgeCursor(*this, e);
    if (moving_ && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - dragOffset_);
}

void HudToolWindow::mouseReleaseEvent(QMouseEvent*) {
    moving_ = false;
}

} // namespace bifuel::ui
