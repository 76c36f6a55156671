#include "Global_Window.h"

#include "Charts_Window.h"
#include "Hud_Window.h"

#include "Context.h"
#include "files/Skin_3D_Unit.h"
#include "link/Global_Unit.h"
#include "link/Link_Operations.h"
#include "rpm_map/MapRPM_Unit.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStringList>
#include <QTextEdit>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace bifuel::ui {
namespace {

constexpr double kColumnTop = 25;
constexpr double kColumnHeight = 500;
constexpr double kSplitterWidth = 5;
constexpr double kSliderHeight = 10;
constexpr double kCornerRadius = 10;
// The distance of the eye from the content during the Flip effect.
constexpr double kFlipEye = 1800;
constexpr int kRefreshMs = 200;
constexpr int kMenuCloseMs = 300;
constexpr const char* kAccessCode = "kirvel4815";

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

// The menus' panel: nearly opaque, so that the indicator values behind never show
// through the items.
class MenuPanel : public DesignLayout {
  public:
    using DesignLayout::DesignLayout;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QLinearGradient fill(r.topLeft(), r.bottomLeft());
        fill.setColorAt(0, QColor(42, 49, 59, 250));
        fill.setColorAt(1, QColor(22, 26, 32, 250));
        p.setPen(QPen(QColor(255, 255, 255, 100), 1));
        p.setBrush(fill);
        p.drawRoundedRect(r, 5, 5);
    }
};

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

QColor entryColour(const Context& ctx, int entry) {
    return ColourFromText(ctx.colours.ColourOf(entry));
}

// A box the keys type into. Read-only boxes (a list's text, the volt boxes, the error list)
// leave the keys to the window.
bool isTextBox(const QWidget* w) {
    if (const auto* line = qobject_cast<const QLineEdit*>(w)) return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QTextEdit*>(w)) return !text->isReadOnly();
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(w)) return !plain->isReadOnly();
    return qobject_cast<const QAbstractSpinBox*>(w) != nullptr;
}

void showControl(HudLabel* label, const ViewControl& v, QColor fallback) {
    label->setVisible(v.visible);
    label->setText(FromUtf8(v.text));
    label->setColour(v.colour.empty() ? fallback : ColourFromText(v.colour, fallback));
}

} // namespace

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

// ---- HudStringList ----------------------------------------------------------------------

HudStringList::HudStringList(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground);
}

void HudStringList::setItems(const std::vector<std::string>& items) {
    items_.clear();
    for (const std::string& s : items)
        items_.push_back(FromUtf8(s));
    index_ = -1;
    update();
}

void HudStringList::setItemIndex(int index) {
    index_ = index;
    update();
}

void HudStringList::setTextColour(QColor colour) {
    textColour_ = colour;
    update();
}

int HudStringList::itemHeight() const {
    return std::max(1, static_cast<int>(std::lround(kItemDesignHeight * fontScale())));
}

QRect HudStringList::itemRect(int i) const {
    if (i < 0 || i >= count()) return {};
    const int h = itemHeight();
    return QRect(0, i * h, width(), h);
}

void HudStringList::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setFont(scaledFont());
    for (int i = 0; i < count(); ++i) {
        const QRect r = itemRect(i);
        if (i == hover_ || i == index_) {
            p.setPen(Qt::NoPen);
            p.setBrush(i == index_ ? QColor(26, 96, 130, 220) : QColor(255, 255, 255, 40));
            p.drawRoundedRect(QRectF(r).adjusted(2, 1, -2, -1), 4, 4);
        }
        p.setPen(textColour_);
        p.drawText(r.adjusted(8, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   items_[static_cast<std::size_t>(i)]);
    }
}

void HudStringList::mouseMoveEvent(QMouseEvent* event) {
    int over = -1;
    for (int i = 0; i < count(); ++i) {
        if (itemRect(i).contains(event->position().toPoint())) over = i;
    }
    if (over != hover_) {
        hover_ = over;
        update();
    }
    if (onMouseMove) onMouseMove();
}

void HudStringList::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    for (int i = 0; i < count(); ++i) {
        if (itemRect(i).contains(event->position().toPoint())) {
            index_ = i;
            update();
            if (onChange) onChange(i);
            return;
        }
    }
}

void HudStringList::leaveEvent(QEvent*) {
    hover_ = -1;
    update();
    if (onMouseLeave) onMouseLeave();
}

// ---- TForm_3D_GEN -----------------------------------------------------------------------

TForm_3D_GEN::TForm_3D_GEN(Context& ctx)
    : QWidget(nullptr), ctx_(ctx), flipRandom_(std::random_device{}()) {
    setObjectName(QStringLiteral("TForm_3D_GEN"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kDesignWidth, kDesignHeight);
    buildControls();

    menuTimer_ = ctx_.scheduler.createTimer(kMenuCloseMs);
    menuTimer_->setOnFire([this] { CloseMenus(); });
    refreshTimer_ = ctx_.scheduler.createTimer(kRefreshMs);
    refreshTimer_->setOnFire([this] { Refresh(); });
    flipTimer_ = ctx_.scheduler.createTimer(kFlipFrameMs);
    flipTimer_->setOnFire([this] { flipStep(); });
    flipOverlay_ = new FlipOverlay(this);
    flipOverlay_->hide();

    // The live values reach the screen with the reply that carries them, not a refresh later.
    subscriptions_.push_back(ctx_.events.liveData.subscribe([this] { refreshIndicators(); }));
    subscriptions_.push_back(ctx_.events.titleChanged.subscribe([this] { Update_Title(); }));
    subscriptions_.push_back(ctx_.events.menusClose.subscribe([this] { CloseMenus(); }));
    subscriptions_.push_back(
        ctx_.events.deferredAction.subscribe([this](int action) { RunDeferredAction(action); }));
    qApp->installEventFilter(this);
}

TForm_3D_GEN::~TForm_3D_GEN() {
    qApp->removeEventFilter(this);
}

void TForm_3D_GEN::OpenCharts() {
    const bool opening = !charts_->isVisible();
    charts_->Open();
    if (opening) QueueDeferredAction(ctx_, kActionChartsFonts, 100);
}

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

void TForm_3D_GEN::buildColumn() {
    column_ = new DesignLayout(QSizeF(columnWidth_, kColumnHeight), layout_);
    column_->setObjectName(QStringLiteral("HudPanel_IND"));
    struct Def {
        IndicatorView LinkView::*view;
        ViewControl DataView::*value;
        std::string LanguageView::*caption;
        Colour colour;
        const char* name;
    };
    const std::array<Def, kIndicators> defs{{
        {&LinkView::HudPanel_IND_Petrol, &DataView::HudLabel_IND_Petrol_Data,
         &LanguageView::HudLabel_IND_Petrol_Name, Colour::Petrol, "HudPanel_IND_Petrol"},
        {&LinkView::HudPanel_IND_Gas, &DataView::HudLabel_IND_Gas_Data,
         &LanguageView::HudLabel_IND_Gas_Name, Colour::Gas, "HudPanel_IND_Gas"},
        {&LinkView::HudPanel_IND_RPM, &DataView::HudLabel_IND_RPM_Data,
         &LanguageView::HudLabel_IND_RPM_Name, Colour::RPM, "HudPanel_IND_RPM"},
        {&LinkView::HudPanel_IND_PressVap, &DataView::HudLabel_IND_PressVap_Data,
         &LanguageView::HudLabel_IND_PressVap_Name, Colour::PressVap, "HudPanel_IND_PressVap"},
        {&LinkView::HudPanel_IND_PressColl, &DataView::HudLabel_IND_PressColl_Data,
         &LanguageView::HudLabel_IND_PressColl_Name, Colour::Manifuld, "HudPanel_IND_PressColl"},
        {&LinkView::HudPanel_IND_PressDiff, &DataView::HudLabel_IND_PressDiff_Data,
         &LanguageView::HudLabel_IND_PressDiff_Name, Colour::PressDiff, "HudPanel_IND_PressDiff"},
        {&LinkView::HudPanel_IND_TempGas, &DataView::HudLabel_IND_TempGas_Data,
         &LanguageView::HudLabel_IND_TempGas_Name, Colour::TempGas, "HudPanel_IND_TempGas"},
        {&LinkView::HudPanel_IND_TempVap, &DataView::HudLabel_IND_TempVap_Data,
         &LanguageView::HudLabel_IND_TempVap_Name, Colour::TempVap, "HudPanel_IND_TempVap"},
    }};
    for (std::size_t i = 0; i < defs.size(); ++i) {
        Indicator& ind = indicators_[i];
        ind.view = defs[i].view;
        ind.value = defs[i].value;
        ind.caption = defs[i].caption;
        ind.colourEntry = static_cast<int>(defs[i].colour);
        ind.panel = new DesignLayout(QSizeF(columnWidth_, 50), column_);
        ind.panel->setObjectName(QString::fromLatin1(defs[i].name));
        ind.panel->setPanelLook(true);
        ind.name = new HudLabel(ind.panel);
        ind.name->setShrinkToFit(true);
        ind.data = new HudLabel(ind.panel);
        ind.data->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        ind.data->onPainted = [this] {
            if (onIndicatorsPainted) onIndicatorsPainted();
        };
    }

    portPanel_ = new DesignLayout(QSizeF(columnWidth_, 50), column_);
    portPanel_->setObjectName(QStringLiteral("HudPanel_Port"));
    portPanel_->setPanelLook(true);
    portCondition_ = new DesignLayout(QSizeF(columnWidth_ - 10, 20), portPanel_);
    portCondition_->setPanelLook(true, 0.6);
    portName_ = new HudLabel(portCondition_);
    linkQuality_ = new HudLabel(portCondition_);
    linkQuality_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    portName_->setShrinkToFit(true);
    linkQuality_->setShrinkToFit(true);
    // Lit while a request waits for its reply.
    connectMarker_ = new HudLabel(portCondition_);
    connectMarker_->setText(QStringLiteral("\u25CF"));
    connectMarker_->setAlignment(Qt::AlignCenter);
    portSearch_ = new HudButton(QStringLiteral("Auto search port"), portPanel_);
    dynamicInd_ = new HudLabel(portPanel_);
    dynamicInd_->setAlignment(Qt::AlignCenter);
    dynamicInd_->setShrinkToFit(true);
    dynamicInd_->setWordWrap(true);
    connect(portSearch_, &QAbstractButton::clicked, this, [this] {
        if (onPortSearch) onPortSearch();
    });
    for (HudLabel* l : {portName_, linkQuality_, dynamicInd_}) {
        l->onMousePress = [this] {
            password_->setFocus(Qt::MouseFocusReason);
            password_->clear();
        };
    }

    modePanel_ = new DesignLayout(QSizeF(columnWidth_, 50), column_);
    modePanel_->setObjectName(QStringLiteral("HudPanel_Pult"));
    modePanel_->setPanelLook(true);
    workModeLabel_ = new HudLabel(modePanel_);
    workModeLabel_->setAlignment(Qt::AlignCenter);
    workMode_ = new HudButton(QStringLiteral("Mode"), modePanel_);
    connect(workMode_, &QAbstractButton::clicked, this, [this] { HudButton_Work_ModeClick(); });

    splitter_ = new HudPanel(layout_);
    splitter_->setObjectName(QStringLiteral("HudPanel_Splitter"));
    splitter_->setFillOpacity(0.5);
    splitter_->setRadius(2);
    splitter_->setCursor(Qt::SplitHCursor);
    splitter_->installEventFilter(this);

    nameSize_ = new HudSlider(6, 22, layout_);
    valueSize_ = new HudSlider(6, 50, layout_);
    fontSize_ = new HudSlider(6, 20, layout_);
    nameSize_->onChange = [this](int v) {
        ctx_.layout.Panel_IND_Size_Name = v;
        ApplyFonts();
    };
    valueSize_->onChange = [this](int v) {
        ctx_.layout.Panel_IND_Size_Data = v;
        ApplyFonts();
    };
    fontSize_->onChange = [this](int v) {
        ctx_.settings.Font_Size = static_cast<float>(v);
        QueueDeferredAction(ctx_, kActionFonts, 100);
    };
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

void TForm_3D_GEN::buildMenus() {
    auto makeMenu = [this](DesignLayout*& panel, HudStringList*& list, const char* name) {
        panel = new MenuPanel(QSizeF(104, 84), layout_);
        panel->setObjectName(QString::fromLatin1(name));
        list = new HudStringList(panel);
        panel->place(list, QRectF(2, 2, 100, 80));
        panel->hide();
        list->onMouseMove = [this] { menuTimer_->stop(); };
        list->onMouseLeave = [this] { menuTimer_->start(); };
    };
    makeMenu(menuFilePanel_, menuFileList_, "HudPanel_GEN_Menu_File");
    makeMenu(menuLngPanel_, menuLngList_, "HudPanel_GEN_Menu_LNG");
    menuFileList_->onChange = [this](int i) { HudStringListBox_Menu_FileChange(i); };
    menuLngList_->onChange = [this](int i) { HudStringListBox_Menu_LNGChange(i); };

    menuFile_->onMouseDown = [this](Qt::MouseButton b) {
        if (b == Qt::LeftButton) openMenu(true);
    };
    menuLng_->onMouseDown = [this](Qt::MouseButton b) {
        if (b == Qt::LeftButton) openMenu(false);
    };
    menuFile_->onMouseMove = [this] {
        if (menuOpen_ && !menuFilePanel_->isVisible()) openMenu(true);
    };
    menuLng_->onMouseMove = [this] {
        if (menuOpen_ && !menuLngPanel_->isVisible()) openMenu(false);
    };
    menuFile_->onMouseLeave = [this] {
        if (menuOpen_) menuTimer_->start();
    };
    menuLng_->onMouseLeave = [this] {
        if (menuOpen_) menuTimer_->start();
    };
}

void TForm_3D_GEN::openMenu(bool file) {
    menuOpen_ = true;
    menuTimer_->stop();
    menuFilePanel_->setVisible(file);
    menuLngPanel_->setVisible(!file);
    (file ? menuFilePanel_ : menuLngPanel_)->raise();
    menuFileList_->setItemIndex(-1);
    menuLngList_->setItemIndex(-1);
}

void TForm_3D_GEN::CloseMenus() {
    menuOpen_ = false;
    menuTimer_->stop();
    menuFilePanel_->hide();
    menuLngPanel_->hide();
}

void TForm_3D_GEN::HudStringListBox_Menu_FileChange(int index) {
    if (index < 0) return;
    if (index == 3) {
        CloseMenus();
        close();
        return;
    }
    CloseMenus();
    if (index <= 2) ShowSaveLoad(ctx_, static_cast<SaveLoadMode>(index));
}

void TForm_3D_GEN::HudStringListBox_Menu_LNGChange(int index) {
    if (index < 0 || index >= menuLngList_->count()) return;
    TakeLanguage(ToUtf8(menuLngList_->item(index)));
}

void TForm_3D_GEN::TakeLanguage(const std::string& name) {
    CreateHooks hooks;
    hooks.UpdateTitle = [this] { Update_Title(); };
    hooks.CloseMenus = [this] { CloseMenus(); };
    if (PickLanguage(ctx_, name, hooks)) {
        QueueDeferredAction(ctx_, kActionFonts, 100);
        Refresh();
    }
}

void TForm_3D_GEN::layoutColumn() {
    const double w = columnWidth_;
    layout_->place(column_, QRectF(5, kColumnTop, w, kColumnHeight));
    column_->setDesignSize(QSizeF(w, kColumnHeight));
    const LinkView& v = ctx_.view;
    for (Indicator& ind : indicators_) {
        const IndicatorView& iv = v.*(ind.view);
        ind.panel->setDesignSize(QSizeF(w, std::max(1, iv.panel.height)));
        column_->place(ind.panel, QRectF(0, iv.panel.y, w, std::max(1, iv.panel.height) - 2));
        ind.panel->place(ind.name, QRectF(8, iv.name.y, w - 12, iv.name.height));
        ind.panel->place(ind.data, QRectF(8, iv.data.y, w - 14, iv.data.height));
        ind.panel->setVisible(iv.panel.visible);
    }
    column_->place(portPanel_, QRectF(0, 400, w, 48));
    portPanel_->setDesignSize(QSizeF(w, 48));
    portPanel_->place(portCondition_, QRectF(5, 2, w - 10, 18));
    portCondition_->setDesignSize(QSizeF(w - 10, 18));
    portCondition_->place(portName_, QRectF(5, 0, (w - 10) * 0.55, 18));
    portCondition_->place(connectMarker_, QRectF((w - 10) * 0.55, 2, 10, 14));
    portCondition_->place(linkQuality_, QRectF((w - 10) * 0.62, 0, (w - 10) * 0.38 - 5, 18));
    portPanel_->place(portSearch_, QRectF(5, 24, w - 10, 20));
    portPanel_->place(dynamicInd_, QRectF(3, 20, w - 6, 27));
    column_->place(modePanel_, QRectF(0, 450, w, 48));
    modePanel_->setDesignSize(QSizeF(w, 48));
    modePanel_->place(workModeLabel_, QRectF(5, 2, w - 10, 22));
    modePanel_->place(workMode_, QRectF(5, 25, w - 10, 20));

    const double pagesLeft = 5 + w + kSplitterWidth;
    const double pagesWidth = kLayoutWidth - pagesLeft - 5;
    layout_->place(splitter_,
                   QRectF(5 + w + 1, kColumnTop + 4, kSplitterWidth - 2, kColumnHeight - 8));
    layout_->place(tabs_, QRectF(pagesLeft, kColumnTop, pagesWidth, kColumnHeight));
    const double sliderTop = kColumnTop + kColumnHeight - 2;
    layout_->place(nameSize_, QRectF(5, sliderTop, w / 2, kSliderHeight));
    layout_->place(valueSize_, QRectF(5 + w / 2, sliderTop, w / 2, kSliderHeight));
    layout_->place(fontSize_, QRectF(pagesLeft, sliderTop, pagesWidth, kSliderHeight));
    // Each menu is as high as its items: four File items make the design's 84.
    const auto placeMenu = [this](DesignLayout* panel, HudStringList* list, double left) {
        const double h = std::max(1, list->count()) * HudStringList::kItemDesignHeight + 4;
        panel->setDesignSize(QSizeF(104, h));
        panel->place(list, QRectF(2, 2, 100, h - 4));
        layout_->place(panel, QRectF(left, 23, 104, h));
    };
    placeMenu(menuFilePanel_, menuFileList_, 5);
    placeMenu(menuLngPanel_, menuLngList_, 84);
    ctx_.layout.Panel_IND_Width = w;
}

bool TForm_3D_GEN::moveSplitter(double dx) {
    const double width = columnWidth_ + dx;
    if (!ColumnWidthAccepted(width)) return false;
    columnWidth_ = width;
    layoutColumn();
    return true;
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

void TForm_3D_GEN::RunDeferredAction(int action) {
    switch (action) {
    case kActionLayout:
        placeLayout();
        break;
    case kActionGeometry:
        restoreGeometry();
        break;
    case kActionMinimise:
        showMinimized();
        break;
    case kActionFullScreen:
        ToggleFullScreen();
        break;
    case kActionSkin:
        update();
        if (onSkinChanged) onSkinChanged();
        break;
    case kActionFonts:
        ApplyFonts();
        break;
    case kActionSplashShow:
        showSplash();
        break;
    case kActionSplashHide:
        splash_->hide();
        break;
    case kActionPage0Fonts:
        if (pageIndex_ == 0) setupPage_->ApplyFonts();
        break;
    case kActionPage1Fonts:
        if (pageIndex_ == 1) acbPage_->ApplyFonts();
        break;
    case kActionPage0Fonts + 2:
        if (pageIndex_ == 2) graphPage_->ApplyFonts();
        break;
    case kActionMapFonts:
        if (pageIndex_ == 3) mapPage_->ApplyFonts();
        break;
    case kActionChartsFonts:
        charts_->ApplyFonts();
        break;
    case kActionHistoryFont:
        graphPage_->ApplyHistoryFont();
        break;
    case kActionPromptFont:
        graphPage_->ApplyPromptFont();
        break;
    case kActionScaleFonts:
        if (pageIndex_ == 2) graphPage_->ApplyScaleFonts();
        break;
    default:
        break; // the other pages' font actions: their controls come with the pages
    }
}

void TForm_3D_GEN::FormCreate() {
    CreateHooks hooks;
    hooks.UpdateTitle = [this] { Update_Title(); };
    hooks.CloseMenus = [this] { CloseMenus(); };
    MainWindow_Create(ctx_, hooks);
    ApplyPanelsOpacity(ctx_.settings.Panels_Opacity);
    menuFileList_->setItems(ctx_.languageView.HudStringListBox_Menu_File);
    menuLngList_->setItems(ctx_.languageView.HudStringListBox_Menu_LNG);
    nameSize_->setValue(static_cast<int>(std::lround(ctx_.layout.Panel_IND_Size_Name)));
    valueSize_->setValue(static_cast<int>(std::lround(ctx_.layout.Panel_IND_Size_Data)));
    fontSize_->setValue(static_cast<int>(std::lround(ctx_.settings.Font_Size)));
    layoutColumn();
    ApplyFonts();
    Refresh();
}

void TForm_3D_GEN::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (ctx_.link.Main_Shown || closed_) return;
    ctx_.link.Main_Shown = true;
    setGeometryByProgram(CentredOn(workArea(), kDesignWidth, kDesignHeight));
    QueueDeferredAction(ctx_, kActionSplashShow, 1);
    QueueDeferredAction(ctx_, kActionGeometry, 100);
    QueueDeferredAction(ctx_, kActionFonts, 100);
    QueueDeferredAction(ctx_, kActionSkin, 100);
    RunDeferredAction(kActionLayout);
    QueueDeferredAction(ctx_, kActionPortOpen, 1000);
    selectPage(ctx_.settings.Page_Index);
    refreshTimer_->start();
}

void TForm_3D_GEN::closeEvent(QCloseEvent* event) {
    if (closed_) {
        event->accept();
        return;
    }
    // Edits not on the ECU go out first, or the user is asked; the close comes again.
    if (canClose && !canClose()) {
        event->ignore();
        return;
    }
    closed_ = true;
    refreshTimer_->stop();
    menuTimer_->stop();
    if (!ctx_.settings.Full_Screen) {
        ctx_.layout.Form_3D_GEN_Pos_X = x();
        ctx_.layout.Form_3D_GEN_Pos_Y = y();
        ctx_.layout.Form_3D_GEN_Width = width();
        ctx_.layout.Form_3D_GEN_Height = height();
    }
    ctx_.layout.Panel_IND_Width = columnWidth_;
    MainWindow_Close(ctx_, ctx_.settingsView.Shown);
    event->accept();
    if (onClosed) onClosed();
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

bool TForm_3D_GEN::eventFilter(QObject* watched, QEvent* event) {
    if (watched == splitter_) {
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
            type != QEvent::MouseButtonRelease)
            return false;
        auto* me = static_cast<QMouseEvent*>(event);
        if (event->type() == QEvent::MouseButtonPress && me->button() == Qt::LeftButton) {
            splitterDrag_ = true;
            splitterX_ = me->globalPosition().x();
            return true;
        }
        if (event->type() == QEvent::MouseMove && splitterDrag_) {
            const double dx =
                (me->globalPosition().x() - splitterX_) / std::max(0.01, layout_->scaleX());
            if (moveSplitter(dx)) splitterX_ = me->globalPosition().x();
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            splitterDrag_ = false;
            return true;
        }
        return false;
    }
    const bool keyDown = event->type() == QEvent::KeyPress;
    if ((keyDown || event->type() == QEvent::KeyRelease) && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        // The window sees every key first, once: at the widget the key is delivered to.
        QWidget* focus = focusWidget();
        const bool first = (focus != nullptr && focus->hasFocus()) ? w == focus : w == this;
        if (w->window() == this && first && isEnabled()) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!(focus != nullptr && focus->hasFocus() && isTextBox(focus))) {
                if (keyDown) {
                    FormKeyDown(key->key(), key->modifiers().testFlag(Qt::ShiftModifier));
                } else if (!key->isAutoRepeat()) {
                    FormKeyUp(key->key());
                }
            }
        }
    }
    return false;
}

void TForm_3D_GEN::FormKeyDown(int key, bool shift) {
    switch (key) {
    case Qt::Key_F:
        QueueDeferredAction(ctx_, kActionFullScreen, 100);
        break;
    case Qt::Key_G:
        bifuel::SwitchToGas(ctx_);
        break;
    case Qt::Key_P:
        bifuel::SwitchToPetrol(ctx_);
        break;
    case Qt::Key_F8:
        OpenCharts();
        break;
    default:
        break;
    }
    if (pageIndex_ == 2) graphPage_->KeyDown(key);
    if (pageIndex_ == 3) mapPage_->KeyDown(key, shift);
}

void TForm_3D_GEN::FormKeyUp(int key) {
    // A released Shift ends a keyboard range on the map, unless a write holds the map.
    if (key == Qt::Key_Shift && pageIndex_ == 3 && !ctx_.link.Write_Running) mapPage_->KeyUp(key);
}

void TForm_3D_GEN::passwordEnter() {
    if (password_->text() != QLatin1String(kAccessCode)) return;
    const QRectF lng = layout_->designRect(menuLng_);
    const QRectF flip(lng.right(), lng.top(), 60, lng.height());
    layout_->place(flip_, flip);
    layout_->place(settings_, QRectF(flip.right(), lng.top(), 75, lng.height()));
    // The service buttons go beside Language; Charts makes way for them.
    layout_->place(chartsButton_, QRectF(flip.right() + 79, lng.top(), 80, lng.height()));
    flip_->show();
    settings_->show();
    QueueDeferredAction(ctx_, kActionFonts, 100);
}

void TForm_3D_GEN::HudButton_Work_ModeClick() {
    bifuel::HudButton_Work_ModeClick(ctx_);
}

void TForm_3D_GEN::Update_Title() {
    title_ = FromUtf8(TitleText(ctx_));
    setWindowTitle(title_.trimmed());
    update(0, 0, width(), kLayoutTop);
}

void TForm_3D_GEN::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QFont font = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    const QColor general = entryColour(ctx_, 0);
    for (HudButton* b :
         {menuFile_, menuLng_, flip_, settings_, portSearch_, workMode_, chartsButton_}) {
        b->setDesignFont(font);
        b->setTextColour(general);
    }
    for (HudButton* b : tabItems_) {
        b->setDesignFont(font);
        b->setTextColour(general);
    }
    for (HudStringList* l : {menuFileList_, menuLngList_}) {
        l->setDesignFont(font);
        l->setTextColour(general);
    }
    QFont family = ProgramFont(s.Font_Name, s.Font_Size, 0);
    dynamicInd_->setDesignFont(family);
    QFont small = ProgramFont(s.Font_Name, std::max(8.0, s.Font_Size - 1.0), 1);
    portName_->setDesignFont(small);
    linkQuality_->setDesignFont(small);
    connectMarker_->setDesignFont(ProgramFont(s.Font_Name, 10, 0));
    QFont modeFont = ProgramFont(s.Font_Name, s.Font_Size + 3, 1);
    workModeLabel_->setDesignFont(modeFont);
    const double factor = ctx_.link.ECU_Connected ? ctx_.view.IND_Size_Factor : 1;
    for (Indicator& ind : indicators_) {
        const QColor c = entryColour(ctx_, ind.colourEntry);
        ind.name->setDesignFont(
            ProgramFont(s.Font_Name, ctx_.layout.Panel_IND_Size_Name * factor, 0));
        ind.data->setDesignFont(
            ProgramFont(s.Font_Name, ctx_.layout.Panel_IND_Size_Data * factor, 1));
        ind.name->setColour(c);
        ind.data->setColour(c);
        ind.panel->setAccent(c);
    }
    if (pageIndex_ == 0) setupPage_->ApplyFonts();
    if (pageIndex_ == 1) acbPage_->ApplyFonts();
    if (pageIndex_ == 2) graphPage_->ApplyFonts();
    if (pageIndex_ == 3) mapPage_->ApplyFonts();
    charts_->ApplyFonts();
    update();
    if (onFontsApplied) onFontsApplied();
}

void TForm_3D_GEN::refreshIndicators() {
    const DataView& d = ctx_.dataView;
    for (Indicator& ind : indicators_)
        ind.data->setText(FromUtf8((d.*(ind.value)).text));
    workModeLabel_->setText(FromUtf8(d.HudLabel_Work_Mode.text));
    workModeLabel_->setColour(ColourFromText(d.HudLabel_Work_Mode.colour, entryColour(ctx_, 0)));
}

void TForm_3D_GEN::Refresh() {
    const LinkView& v = ctx_.view;
    const LanguageView& t = ctx_.languageView;
    refreshIndicators();
    bool layoutChanged = false;
    for (Indicator& ind : indicators_) {
        ind.name->setText(FromUtf8(t.*(ind.caption)));
        const IndicatorView& iv = v.*(ind.view);
        const QRectF want(0, iv.panel.y, columnWidth_, std::max(1, iv.panel.height) - 2);
        if (column_->designRect(ind.panel) != want || ind.panel->isVisible() != iv.panel.visible)
            layoutChanged = true;
    }
    if (layoutChanged) {
        layoutColumn();
        ApplyFonts();
    }
    const QColor general = entryColour(ctx_, 0);
    showControl(portName_, v.HudLabel_Port_Name, general);
    showControl(linkQuality_, v.HudLabel_Port_Connect_Stabil, general);
    showControl(dynamicInd_, v.HudLabel_DynamicIND, general);
    connectMarker_->setVisible(v.HudButton_3D_GEN_Connect_Condition.visible);
    connectMarker_->setColour(entryColour(ctx_, static_cast<int>(Colour::Txt_Attention)));
    portSearch_->setVisible(v.HudButton_Port_Search.visible);
    portSearch_->setText(FromUtf8(t.HudButton_Port_Search));
    workMode_->setText(FromUtf8(t.HudButton_Work_Mode));
    menuFile_->setText(FromUtf8(t.HudButton_Menu_File));
    menuLng_->setText(FromUtf8(t.HudButton_Menu_LNG));
    flip_->setText(FromUtf8(t.HudButton_3D_GEN_Flip));
    settings_->setText(FromUtf8(t.HudButton_3D_GEN_Settings));
    chartsButton_->setText(FromUtf8(ctx_.LangText("Charts_Button")));
    const std::array<const std::string*, 4> tabTexts{&t.HudTabItem_CFG, &t.HudTabItem_ACB,
                                                     &t.HudTabItem_CLB, &t.HudTabItem_MAP};
    for (std::size_t i = 0; i < 4; ++i)
        tabItems_[i]->setText(FromUtf8(*tabTexts[i]));
    setupPage_->Refresh();
    graphPage_->Refresh();
    acbPage_->Refresh();
    mapPage_->Refresh();
    charts_->Refresh();
    if (menuFileList_->count() != static_cast<int>(t.HudStringListBox_Menu_File.size()))
        menuFileList_->setItems(t.HudStringListBox_Menu_File);
    if (menuLngList_->count() != static_cast<int>(t.HudStringListBox_Menu_LNG.size())) {
        menuLngList_->setItems(t.HudStringListBox_Menu_LNG);
        layoutColumn();
    }
    const QString title = FromUtf8(TitleText(ctx_));
    if (title != title_) Update_Title();
    if (isEnabled() != v.TForm_3D_GEN_Enabled) setEnabled(v.TForm_3D_GEN_Enabled);
    if (onRefresh) onRefresh();
}

} // namespace bifuel::ui
