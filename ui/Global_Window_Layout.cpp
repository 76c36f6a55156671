// The main window's controls and where they lie: the layout, the pages, the title bar's
// circles, the window's geometry (full screen included), the splash and the window's own
// moves and resizes.
#include "Global_Window.h"
#include "Global_Window_Parts.h"

#include "Charts_Window.h"
#include "Hud_Window.h"

#include "Context.h"
#include "link/Global_Unit.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace bifuel::ui {
namespace {

// The program's emblem: a gas drop with a flame in it.
void PaintEmblem(QPainter& p, QRectF r) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double s = std::min(r.width(), r.height());
    const QPointF c = r.center();
    QRadialGradient ring(c, s / 2);
    ring.setColorAt(0, QColor(40, 120, 170));
    ring.setColorAt(1, QColor(12, 40, 64));
    p.setPen(QPen(QColor(160, 220, 255), std::max(1.0, s / 22)));
    p.setBrush(ring);
    p.drawEllipse(c, s * 0.47, s * 0.47);
    QPainterPath drop;
    drop.moveTo(c.x(), c.y() - s * 0.34);
    drop.cubicTo(c.x() + s * 0.30, c.y() + s * 0.02, c.x() + s * 0.22, c.y() + s * 0.32, c.x(),
                 c.y() + s * 0.32);
    drop.cubicTo(c.x() - s * 0.22, c.y() + s * 0.32, c.x() - s * 0.30, c.y() + s * 0.02, c.x(),
                 c.y() - s * 0.34);
    QLinearGradient flame(QPointF(c.x(), c.y() - s * 0.34), QPointF(c.x(), c.y() + s * 0.32));
    flame.setColorAt(0, QColor(164, 249, 100));
    flame.setColorAt(1, QColor(43, 223, 234));
    p.setPen(Qt::NoPen);
    p.setBrush(flame);
    p.drawPath(drop);
    p.restore();
}

class Emblem : public QWidget {
  public:
    explicit Emblem(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        PaintEmblem(p, QRectF(rect()));
    }
};

// The start-up picture: emblem, program name and version over a dark plate. The texts
// are measured and take the largest size that fits beside the emblem.
class SplashImage : public QWidget {
  public:
    explicit SplashImage(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
        PaintHudPanel(p, r, 0.92, 12, QColor());
        const double h = r.height();
        // A plate scaled taller than wide keeps room for the texts beside the emblem.
        const double side = std::min(h * 0.72, r.width() * 0.3);
        const QRectF emblem(r.left() + side * 0.17, r.center().y() - side / 2, side, side);
        PaintEmblem(p, emblem);
        const double left = emblem.right() + side * 0.14;
        const double room = std::max(1.0, r.right() - left - side * 0.14);
        const QString name = QStringLiteral("Bifuel Studio");
        const QString version = QStringLiteral("LPG / CNG   V 2.04   2015.05.14");
        QFont big;
        big.setBold(true);
        big.setPixelSize(
            FitPixelSize(big, name, QSizeF(room, h * 0.4), static_cast<int>(h * 0.26)));
        p.setFont(big);
        p.setPen(Qt::white);
        p.drawText(QRectF(left, r.top(), room, h * 0.58), Qt::AlignLeft | Qt::AlignBottom, name);
        QFont small;
        small.setPixelSize(
            FitPixelSize(small, version, QSizeF(room, h * 0.2), static_cast<int>(h * 0.1)));
        p.setFont(small);
        p.setPen(QColor(164, 249, 100));
        p.drawText(QRectF(left, r.top() + h * 0.62, room, h * 0.2), Qt::AlignLeft | Qt::AlignTop,
                   version);
    }
};

} // namespace

void TForm_3D_GEN::buildControls() {
    layout_ = new DesignLayout(QSizeF(kLayoutWidth, kLayoutHeight), this);
    layout_->setGeometry(kLayoutLeft, kLayoutTop, width() - 26, height() - 44);

    logo_ = new Emblem(this);
    minimise_ = new ChromeCircle(ChromeCircle::Symbol::Minimise, this);
    fullScreen_ = new ChromeCircle(ChromeCircle::Symbol::Windowed, this);
    minimise_->onClick = [this] { QueueDeferredAction(ctx_, kActionMinimise, 100); };
    fullScreen_->onClick = [this] { QueueDeferredAction(ctx_, kActionFullScreen, 100); };
    placeChrome();

    menuFile_ = new HudButton(QStringLiteral("File"), layout_);
    menuLng_ = new HudButton(QStringLiteral("Language"), layout_);
    layout_->place(menuFile_, QRectF(5, 3, 75, 19));
    layout_->place(menuLng_, QRectF(84, 3, 90, 19));
    flip_ = new HudButton(QStringLiteral("Flip"), layout_);
    settings_ = new HudButton(QStringLiteral("Settings"), layout_);
    layout_->place(flip_, QRectF(174, 3, 60, 19));
    layout_->place(settings_, QRectF(234, 3, 75, 19));
    flip_->hide();
    settings_->hide();
    chartsButton_ = new HudButton(QStringLiteral("Charts"), layout_);
    chartsButton_->setObjectName(QStringLiteral("HudButton_3D_GEN_Charts"));
    chartsButton_->setFocusPolicy(Qt::NoFocus);
    layout_->place(chartsButton_, QRectF(178, 3, 80, 19));
    connect(chartsButton_, &QAbstractButton::clicked, this, [this] { OpenCharts(); });
    charts_ = std::make_unique<ChartsWindow>(ctx_);
    flip_->onMouseDown = [this](Qt::MouseButton b) {
        if (onFlipButton) onFlipButton(b);
    };
    connect(settings_, &QAbstractButton::clicked, this, [this] {
        if (onSettingsButton) onSettingsButton();
    });

    // Never on screen, but it takes the keyboard when a port label is pressed.
    password_ = new QLineEdit(layout_);
    password_->setObjectName(QStringLiteral("HudTextBox_Password"));
    password_->setGeometry(-400, -400, 60, 20);
    // Only a press on a port label gives it the keyboard; it must not take it at start.
    password_->setFocusPolicy(Qt::ClickFocus);
    connect(password_, &QLineEdit::returnPressed, this, [this] { passwordEnter(); });

    buildColumn();
    buildPages();
    buildMenus();

    splash_ = new SplashImage(layout_);
    splash_->hide();
    layoutColumn();
}

void TForm_3D_GEN::buildPages() {
    tabs_ = new DesignLayout(QSizeF(626, kColumnHeight), layout_);
    tabs_->setObjectName(QStringLiteral("HudTabControl_GEN"));
    const std::array<const char*, 4> tabNames{"HudTabItem_CFG", "HudTabItem_ACB", "HudTabItem_CLB",
                                              "HudTabItem_MAP"};
    const std::array<const char*, 4> pageNames{"Layout_CFG", "Layout_ACB", "Layout_CLB",
                                               "Layout_MAP"};
    for (int i = 0; i < 4; ++i) {
        auto* tab = new HudButton(QString(), tabs_);
        tab->setObjectName(QString::fromLatin1(tabNames[static_cast<std::size_t>(i)]));
        tab->setCheckable(true);
        tabs_->place(tab, QRectF(i * 156.5, 0, 152, 19));
        connect(tab, &QAbstractButton::clicked, this, [this, i] { selectPage(i); });
        tabItems_[static_cast<std::size_t>(i)] = tab;
        auto* page = new DesignLayout(QSizeF(622, 480), tabs_);
        page->setObjectName(QString::fromLatin1(pageNames[static_cast<std::size_t>(i)]));
        tabs_->place(page, QRectF(0, 20, 626, 480));
        pages_[static_cast<std::size_t>(i)] = page;
    }
    // The pages' own panels; what goes on them belongs to each page.
    auto addPanel = [this](int pageIndex, const char* name, QRectF r) {
        auto* panel = new DesignLayout(r.size(), pages_[static_cast<std::size_t>(pageIndex)]);
        panel->setObjectName(QString::fromLatin1(name));
        panel->setPanelLook(true);
        pages_[static_cast<std::size_t>(pageIndex)]->place(panel, r);
        pagePanels_.push_back(panel);
    };
    addPanel(0, "HudPanel_CFG", QRectF(3, 4, 616, 473));
    setupPage_ = new SetupPage(ctx_, pagePanels_.back());
    addPanel(1, "HudPanel_ACB_1", QRectF(3, 4, 614, 195));
    addPanel(1, "HudPanel_ACB_2", QRectF(3, 199, 614, 194));
    addPanel(1, "HudPanel_ACB_3", QRectF(3, 397, 614, 80));
    {
        const auto n = pagePanels_.size();
        acbPage_ = new AcbPage(ctx_, pagePanels_[n - 3], pagePanels_[n - 2], pagePanels_[n - 1]);
    }
    addPanel(2, "HudPanel_CLB", QRectF(3, 4, 616, 473));
    graphPage_ = new GraphPage(ctx_, pagePanels_.back());
    addPanel(3, "HudPanel_RPM", QRectF(3, 4, 616, 473));
    mapPage_ = new MapPage(ctx_, pagePanels_.back());
    selectPage(0);
}

void TForm_3D_GEN::selectPage(int index) {
    if (index < 0 || index >= 4) return;
    pageIndex_ = index;
    ctx_.settings.Page_Index = index;
    for (int i = 0; i < 4; ++i) {
        pages_[static_cast<std::size_t>(i)]->setVisible(i == index);
        tabItems_[static_cast<std::size_t>(i)]->setChecked(i == index);
    }
    if (ctx_.link.Main_Shown)
        QueueDeferredAction(ctx_, static_cast<std::uint8_t>(kActionPage0Fonts + index), 100);
}

void TForm_3D_GEN::ApplyPanelsOpacity(double opacity) {
    for (DesignLayout* p : pagePanels_)
        p->setPanelLook(true, opacity);
}

void TForm_3D_GEN::placeChrome() {
    const QRect v = visibleRect();
    const int right = v.left() + v.width();
    minimise_->setGeometry(right - 73, v.top() + 15, 17, 17);
    fullScreen_->setGeometry(right - 54, v.top() + 15, 17, 17);
    logo_->setGeometry(v.left() + 13, v.top() + 6, 23, 22);
}

QRect TForm_3D_GEN::visibleRect() const {
    if (!ctx_.settings.Full_Screen) return rect();
    return rect().adjusted(kFullScreenMargin, kFullScreenMargin, -kFullScreenMargin,
                           -kFullScreenMargin);
}

void TForm_3D_GEN::placeLayout() {
    // Full screen lays the window out on its visible part, which is the work area: the
    // title band, the logo and the circles stay on the screen.
    const QRect v = visibleRect();
    layout_->setGeometry(v.left() + kLayoutLeft, v.top() + kLayoutTop, v.width() - 26,
                         v.height() - 44);
    layout_->setFontScale(LayoutScale(v.width(), v.height()).y);
    placeChrome();
    // The mask cuts the rounded corners (no compositor needed); full screen has none.
    const QSize masked = ctx_.settings.Full_Screen ? QSize() : size();
    if (masked != maskedSize_) {
        maskedSize_ = masked;
        if (masked.isEmpty()) {
            clearMask();
        } else {
            setMask(RoundedMask(masked, kCornerRadius));
        }
    }
    if (flipOverlay_ != nullptr) flipOverlay_->setGeometry(rect());
}

Rect TForm_3D_GEN::workArea() const {
    const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    const QRect a = s != nullptr ? s->availableGeometry() : QRect(0, 0, 1024, 768);
    return {a.left(), a.top(), a.width(), a.height()};
}

Rect TForm_3D_GEN::frame() const {
    return {x(), y(), width(), height()};
}

void TForm_3D_GEN::setGeometryByProgram(const Rect& r) {
    const Rect held = HeldToMinimum(r);
    settingGeometry_ = true;
    programSize_ = QSize(held.width, held.height);
    setGeometry(held.left, held.top, held.width, held.height);
    settingGeometry_ = false;
    placeLayout();
}

void TForm_3D_GEN::ToggleFullScreen() {
    ctx_.settings.Full_Screen = !ctx_.settings.Full_Screen;
    if (ctx_.settings.Full_Screen) {
        setGeometryByProgram(FullScreenGeometry(workArea()));
    } else {
        setGeometryByProgram(CentredOn(workArea(), kDesignWidth, kDesignHeight));
    }
    fullScreen_->setSymbol(ctx_.settings.Full_Screen ? ChromeCircle::Symbol::FullScreen
                                                     : ChromeCircle::Symbol::Windowed);
}

void TForm_3D_GEN::restoreGeometry() {
    const WindowLayout& l = ctx_.layout;
    if (ctx_.settings.Full_Screen) {
        setGeometryByProgram(FullScreenGeometry(workArea()));
    } else {
        Rect r = frame();
        if (l.Form_3D_GEN_Pos_X) r.left = *l.Form_3D_GEN_Pos_X;
        if (l.Form_3D_GEN_Pos_Y) r.top = *l.Form_3D_GEN_Pos_Y;
        if (l.Form_3D_GEN_Width) r.width = *l.Form_3D_GEN_Width;
        if (l.Form_3D_GEN_Height) r.height = *l.Form_3D_GEN_Height;
        setGeometryByProgram(r);
    }
    fullScreen_->setSymbol(ctx_.settings.Full_Screen ? ChromeCircle::Symbol::FullScreen
                                                     : ChromeCircle::Symbol::Windowed);
    if (l.Panel_IND_Width) moveSplitter(*l.Panel_IND_Width - columnWidth_);
    nameSize_->setValue(static_cast<int>(std::lround(l.Panel_IND_Size_Name)));
    valueSize_->setValue(static_cast<int>(std::lround(l.Panel_IND_Size_Data)));
    ctx_.dataView.Form_Fill_Colour = ctx_.skin.Color;
    update();
}

void TForm_3D_GEN::showSplash() {
    const double sx = std::max(0.01, layout_->scaleX());
    const double sy = std::max(0.01, layout_->scaleY());
    const bool full = ctx_.settings.Full_Screen;
    // In layout units: 0.8 of the work area's or of the layout's height, never wider than
    // the layout.
    const double h = full ? workArea().height / sy : kLayoutHeight;
    const double w = std::min(0.8 * h, kLayoutWidth * 0.95);
    const double sh = 0.44 * w;
    // Full screen centres it on the work area, which is the window's visible part.
    const QPointF centre = full ? QPointF((visibleRect().center().x() - layout_->x()) / sx,
                                          (visibleRect().center().y() - layout_->y()) / sy)
                                : QPointF(kLayoutWidth / 2.0, kLayoutHeight / 2.0);
    layout_->place(splash_, QRectF(centre.x() - w / 2, centre.y() - sh / 2, w, sh));
    splash_->raise();
    splash_->show();
    QueueDeferredAction(ctx_, kActionSplashHide, 1500);
}

void TForm_3D_GEN::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeLayout();
    update();
    if (settingGeometry_ || size() == programSize_) return;
    if (ctx_.settings.Full_Screen && FullScreenLost(width(), height(), workArea())) {
        ctx_.settings.Full_Screen = false;
        fullScreen_->setSymbol(ChromeCircle::Symbol::Windowed);
        placeLayout();
    }
}

Qt::Edges TForm_3D_GEN::edgesAt(QPoint p) const {
    // Full screen has no borders to drag.
    return ctx_.settings.Full_Screen ? Qt::Edges() : EdgesAt(*this, p);
}

void TForm_3D_GEN::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint pos = event->position().toPoint();
    const Qt::Edges edges = edgesAt(pos);
    QWindow* handle = windowHandle();
    if (edges && handle != nullptr && handle->startSystemResize(edges)) return;
    if (pos.y() < visibleRect().top() + kLayoutTop) {
        if (handle != nullptr && handle->startSystemMove()) return;
        moving_ = true;
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
}

void TForm_3D_GEN::mouseMoveEvent(QMouseEvent* event) {
    const Qt::Edges e = edgesAt(event->position().toPoint());
    ShowEdgeCursor(*this, e);
    if (moving_ && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - dragOffset_);
}

void TForm_3D_GEN::mouseReleaseEvent(QMouseEvent*) {
    moving_ = false;
}

} // namespace bifuel::ui
