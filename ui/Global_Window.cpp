#include "Global_Window.h"
#include "Hud_Window.h"

#include "Context.h"
#include "link/Global_Unit.h"
#include "link/Link_Operations.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScreen>
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
constexpr double kMenuItemHeight = 21;
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
    drop.cubicTo(c.x() + s * 0.30, c.y() + s * 0.02, c.x() + s * 0.22, c.y() + s * 0.32, c.x(), c.y() + s * 0.32);
    drop.cubicTo(c.x() - s * 0.22, c.y() + s * 0.32, c.x() - s * 0.30, c.y() + s * 0.02, c.x(), c.y() - s * 0.34);
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
    explicit Emblem(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        PaintEmblem(p, QRectF(rect()));
    }
};

// The start-up picture: emblem, program name and version over a dark plate.
class SplashImage : public QWidget {
public:
    explicit SplashImage(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
        PaintHudPanel(p, r, 0.92, 12, QColor());
        const double h = r.height();
        PaintEmblem(p, QRectF(r.left() + h * 0.12, r.top() + h * 0.14, h * 0.72, h * 0.72));
        QFont big;
        big.setPixelSize(std::max(8, static_cast<int>(h * 0.22)));
        big.setBold(true);
        p.setFont(big);
        p.setPen(Qt::white);
        const QRectF text(r.left() + h * 0.95, r.top(), r.width() - h * 1.0, h * 0.62);
        p.drawText(text, Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("Bifuel Studio"));
        QFont small;
        small.setPixelSize(std::max(6, static_cast<int>(h * 0.09)));
        p.setFont(small);
        p.setPen(QColor(164, 249, 100));
        p.drawText(QRectF(text.left(), r.top() + h * 0.64, text.width(), h * 0.2), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("LPG / CNG   V 2.04   2015.05.14"));
    }
};

QColor entryColour(const Context& ctx, int entry) { return ColourFromText(ctx.colours.ColourOf(entry)); }

bool isTextBox(const QWidget* w) {
    return qobject_cast<const QLineEdit*>(w) != nullptr || qobject_cast<const QTextEdit*>(w) != nullptr ||
           qobject_cast<const QPlainTextEdit*>(w) != nullptr || qobject_cast<const QAbstractSpinBox*>(w) != nullptr;
}

void showControl(HudLabel* label, const ViewControl& v, QColor fallback) {
    label->setVisible(v.visible);
    label->setText(FromUtf8(v.text));
    label->setColour(v.colour.empty() ? fallback : ColourFromText(v.colour, fallback));
}

} // namespace

// ---- HudStringList ----------------------------------------------------------------------

HudStringList::HudStringList(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground);
}

void HudStringList::setItems(const std::vector<std::string>& items) {
    items_.clear();
    for (const std::string& s : items) items_.push_back(FromUtf8(s));
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

QRect HudStringList::itemRect(int i) const {
    if (items_.empty()) return {};
    const double h = double(height()) / std::max<std::size_t>(items_.size(), 1);
    return QRect(0, static_cast<int>(i * h), width(), static_cast<int>(h));
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
        p.drawText(r.adjusted(8, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, items_[static_cast<std::size_t>(i)]);
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

TForm_3D_GEN::TForm_3D_GEN(Context& ctx) : QWidget(nullptr), ctx_(ctx) {
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

void TForm_3D_GEN::buildControls() {
    layout_ = new DesignLayout(QSizeF(kLayoutWidth, kLayoutHeight), this);
    layout_->setGeometry(kLayoutLeft, kLayoutTop, width() - 26, height() - 44);

    logo_ = new Emblem(this);
    logo_->setGeometry(13, 6, 23, 22);
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
        IndicatorView LinkView::* view;
        ViewControl DataView::* value;
        std::string LanguageView::* caption;
        Colour colour;
        const char* name;
    };
    const std::array<Def, kIndicators> defs{{
        {&LinkView::HudPanel_IND_Petrol, &DataView::HudLabel_IND_Petrol_Data, &LanguageView::HudLabel_IND_Petrol_Name, Colour::Petrol, "HudPanel_IND_Petrol"},
        {&LinkView::HudPanel_IND_Gas, &DataView::HudLabel_IND_Gas_Data, &LanguageView::HudLabel_IND_Gas_Name, Colour::Gas, "HudPanel_IND_Gas"},
        {&LinkView::HudPanel_IND_RPM, &DataView::HudLabel_IND_RPM_Data, &LanguageView::HudLabel_IND_RPM_Name, Colour::RPM, "HudPanel_IND_RPM"},
        {&LinkView::HudPanel_IND_PressVap, &DataView::HudLabel_IND_PressVap_Data, &LanguageView::HudLabel_IND_PressVap_Name, Colour::PressVap, "HudPanel_IND_PressVap"},
        {&LinkView::HudPanel_IND_PressColl, &DataView::HudLabel_IND_PressColl_Data, &LanguageView::HudLabel_IND_PressColl_Name, Colour::Manifuld, "HudPanel_IND_PressColl"},
        {&LinkView::HudPanel_IND_PressDiff, &DataView::HudLabel_IND_PressDiff_Data, &LanguageView::HudLabel_IND_PressDiff_Name, Colour::PressDiff, "HudPanel_IND_PressDiff"},
        {&LinkView::HudPanel_IND_TempGas, &DataView::HudLabel_IND_TempGas_Data, &LanguageView::HudLabel_IND_TempGas_Name, Colour::TempGas, "HudPanel_IND_TempGas"},
        {&LinkView::HudPanel_IND_TempVap, &DataView::HudLabel_IND_TempVap_Data, &LanguageView::HudLabel_IND_TempVap_Name, Colour::TempVap, "HudPanel_IND_TempVap"},
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
    const std::array<const char*, 4> tabNames{"HudTabItem_CFG", "HudTabItem_ACB", "HudTabItem_CLB", "HudTabItem_MAP"};
    const std::array<const char*, 4> pageNames{"Layout_CFG", "Layout_ACB", "Layout_CLB", "Layout_MAP"};
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
    addPanel(1, "HudPanel_ACB_1", QRectF(3, 4, 614, 195));
    addPanel(1, "HudPanel_ACB_2", QRectF(3, 199, 614, 194));
    addPanel(1, "HudPanel_ACB_3", QRectF(3, 397, 614, 80));
    addPanel(2, "HudPanel_CLB", QRectF(3, 4, 616, 473));
    addPanel(3, "HudPanel_RPM", QRectF(3, 4, 616, 473));
    selectPage(0);
}

void TForm_3D_GEN::buildMenus() {
    auto makeMenu = [this](DesignLayout*& panel, HudStringList*& list, const char* name) {
        panel = new DesignLayout(QSizeF(104, 84), layout_);
        panel->setObjectName(QString::fromLatin1(name));
        panel->setPanelLook(true);
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
    const QByteArray name = menuLngList_->item(index).toUtf8();
    TakeLanguage(std::string(name.constData(), static_cast<std::size_t>(name.size())));
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
    layout_->place(splitter_, QRectF(5 + w + 1, kColumnTop + 4, kSplitterWidth - 2, kColumnHeight - 8));
    layout_->place(tabs_, QRectF(pagesLeft, kColumnTop, pagesWidth, kColumnHeight));
    const double sliderTop = kColumnTop + kColumnHeight - 2;
    layout_->place(nameSize_, QRectF(5, sliderTop, w / 2, kSliderHeight));
    layout_->place(valueSize_, QRectF(5 + w / 2, sliderTop, w / 2, kSliderHeight));
    layout_->place(fontSize_, QRectF(pagesLeft, sliderTop, pagesWidth, kSliderHeight));
    layout_->place(menuFilePanel_, QRectF(5, 23, 104, 84));
    const double lngHeight = std::max(84.0, menuLngList_->count() * kMenuItemHeight + 4);
    menuLngPanel_->setDesignSize(QSizeF(104, lngHeight));
    menuLngPanel_->place(menuLngList_, QRectF(2, 2, 100, lngHeight - 4));
    layout_->place(menuLngPanel_, QRectF(84, 23, 104, lngHeight));
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
    if (ctx_.link.Main_Shown) QueueDeferredAction(ctx_, static_cast<std::uint8_t>(kActionPage0Fonts + index), 100);
}

void TForm_3D_GEN::ApplyPanelsOpacity(double opacity) {
    for (DesignLayout* p : pagePanels_) p->setPanelLook(true, opacity);
}

void TForm_3D_GEN::placeChrome() {
    minimise_->setGeometry(width() - 73, 15, 17, 17);
    fullScreen_->setGeometry(width() - 54, 15, 17, 17);
}

Rect TForm_3D_GEN::workArea() const {
    const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    const QRect a = s != nullptr ? s->availableGeometry() : QRect(0, 0, 1024, 768);
    return {a.left(), a.top(), a.width(), a.height()};
}

Rect TForm_3D_GEN::frame() const { return {x(), y(), width(), height()}; }

void TForm_3D_GEN::setGeometryByProgram(const Rect& r) {
    const Rect held = HeldToMinimum(r);
    settingGeometry_ = true;
    programSize_ = QSize(held.width, held.height);
    setGeometry(held.left, held.top, held.width, held.height);
    settingGeometry_ = false;
    layout_->setGeometry(kLayoutLeft, kLayoutTop, width() - 26, height() - 44);
    layout_->setFontScale(LayoutScale(width(), height()).y);
    placeChrome();
}

void TForm_3D_GEN::ToggleFullScreen() {
    ctx_.settings.Full_Screen = !ctx_.settings.Full_Screen;
    if (ctx_.settings.Full_Screen) {
        setGeometryByProgram(FullScreenGeometry(workArea()));
    } else {
        setGeometryByProgram(CentredOn(workArea(), kDesignWidth, kDesignHeight));
    }
    fullScreen_->setSymbol(ctx_.settings.Full_Screen ? ChromeCircle::Symbol::FullScreen : ChromeCircle::Symbol::Windowed);
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
    fullScreen_->setSymbol(ctx_.settings.Full_Screen ? ChromeCircle::Symbol::FullScreen : ChromeCircle::Symbol::Windowed);
    if (l.Panel_IND_Width) moveSplitter(*l.Panel_IND_Width - columnWidth_);
    nameSize_->setValue(static_cast<int>(std::lround(l.Panel_IND_Size_Name)));
    valueSize_->setValue(static_cast<int>(std::lround(l.Panel_IND_Size_Data)));
    ctx_.dataView.Form_Fill_Colour = ctx_.skin.Color;
    update();
}

void TForm_3D_GEN::showSplash() {
    const double h = ctx_.settings.Full_Screen ? workArea().height / LayoutScale(width(), height()).y : kLayoutHeight;
    const double w = 0.8 * h;
    const double sh = 0.44 * w;
    layout_->place(splash_, QRectF((kLayoutWidth - w) / 2, (kLayoutHeight - sh) / 2, w, sh));
    splash_->raise();
    splash_->show();
    QueueDeferredAction(ctx_, kActionSplashHide, 1500);
}

void TForm_3D_GEN::RunDeferredAction(int action) {
    switch (action) {
    case kActionLayout:
        layout_->setGeometry(kLayoutLeft, kLayoutTop, width() - 26, height() - 44);
        layout_->setFontScale(LayoutScale(width(), height()).y);
        placeChrome();
        break;
    case kActionGeometry: restoreGeometry(); break;
    case kActionMinimise: showMinimized(); break;
    case kActionFullScreen: ToggleFullScreen(); break;
    case kActionSkin:
        update();
        if (onSkinChanged) onSkinChanged();
        break;
    case kActionFonts: ApplyFonts(); break;
    case kActionSplashShow: showSplash(); break;
    case kActionSplashHide: splash_->hide(); break;
    default: break; // the pages' own font actions: their controls come with the pages
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
    layout_->setGeometry(kLayoutLeft, kLayoutTop, width() - 26, height() - 44);
    layout_->setFontScale(LayoutScale(width(), height()).y);
    placeChrome();
    update();
    if (settingGeometry_ || size() == programSize_) return;
    if (ctx_.settings.Full_Screen && FullScreenLost(width(), height(), workArea())) {
        ctx_.settings.Full_Screen = false;
        fullScreen_->setSymbol(ChromeCircle::Symbol::Windowed);
    }
}

void TForm_3D_GEN::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (ctx_.skin.Style == BrushStyle::Gradient && ctx_.skin.GradColors.size() >= 2) {
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        const auto n = ctx_.skin.GradColors.size();
        for (std::size_t i = 0; i < n; ++i) g.setColorAt(double(i) / double(n - 1), ColourFromText(ctx_.skin.GradColors[i]));
        p.setBrush(g);
    } else {
        p.setBrush(ColourFromText(ctx_.skin.Color, QColor(0xD7, 0xD5, 0xD5)));
    }
    p.setPen(QPen(QColor(0, 0, 0, 90), 1));
    p.drawRoundedRect(r, 10, 10);
    // The title band: a dark strip so that the title reads on any skin.
    QPainterPath band;
    band.addRoundedRect(r.adjusted(3, 3, -3, 0).adjusted(0, 0, 0, -(r.height() - 34)), 8, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(14, 18, 24, 200));
    p.drawPath(band);
    p.setPen(entryColour(ctx_, 0));
    QFont f = ProgramFont(ctx_.settings.Font_Name, ctx_.settings.Font_Size, ctx_.settings.Font_Style);
    f.setPixelSize(std::max(8, static_cast<int>(std::lround(ctx_.settings.Font_Size))));
    p.setFont(f);
    double right = width() - 80;
    if (ctx_.settings.Port_Name == kSimulatedPort) {
        // A badge that stays in sight however long the title grows.
        QFont badgeFont = f;
        badgeFont.setBold(true);
        badgeFont.setPixelSize(std::max(8, f.pixelSize() - 2));
        const QString badge = FromUtf8(SimulatedEcuNote(ctx_));
        const double bw = QFontMetrics(badgeFont).horizontalAdvance(badge) + 14;
        const QRectF b(right - bw, 10, bw, 18);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(231, 163, 39, 230));
        p.drawRoundedRect(b, 9, 9);
        p.setPen(QColor(20, 20, 20));
        p.setFont(badgeFont);
        p.drawText(b, Qt::AlignCenter, badge);
        right = b.left() - 8;
        p.setFont(f);
        p.setPen(entryColour(ctx_, 0));
    }
    const QString shown = ctx_.settings.Port_Name == kSimulatedPort ? title_.left(title_.lastIndexOf(QStringLiteral("     ["))) : title_;
    p.drawText(QRectF(40, 3, right - 40, 31), Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(f).elidedText(shown, Qt::ElideRight, static_cast<int>(right - 40)));
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
    if (pos.y() < kLayoutTop) {
        if (handle != nullptr && handle->startSystemMove()) return;
        moving_ = true;
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
}

void TForm_3D_GEN::mouseMoveEvent(QMouseEvent* event) {
    const Qt::Edges e = edgesAt(event->position().toPoint());
    ShowEdgeCursor(*this, e);
    if (moving_ && (event->buttons() & Qt::LeftButton)) move(event->globalPosition().toPoint() - dragOffset_);
}

void TForm_3D_GEN::mouseReleaseEvent(QMouseEvent*) { moving_ = false; }

bool TForm_3D_GEN::eventFilter(QObject* watched, QEvent* event) {
    if (watched == splitter_) {
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
            return false;
        auto* me = static_cast<QMouseEvent*>(event);
        if (event->type() == QEvent::MouseButtonPress && me->button() == Qt::LeftButton) {
            splitterDrag_ = true;
            splitterX_ = me->globalPosition().x();
            return true;
        }
        if (event->type() == QEvent::MouseMove && splitterDrag_) {
            const double dx = (me->globalPosition().x() - splitterX_) / std::max(0.01, layout_->scaleX());
            if (moveSplitter(dx)) splitterX_ = me->globalPosition().x();
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            splitterDrag_ = false;
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        // The window sees every key first, once: at the widget the key is delivered to.
        QWidget* focus = focusWidget();
        const bool first = (focus != nullptr && focus->hasFocus()) ? w == focus : w == this;
        if (w->window() == this && first && isEnabled()) {
            if (!(focus != nullptr && focus->hasFocus() && isTextBox(focus)))
                FormKeyDown(static_cast<QKeyEvent*>(event)->key());
        }
    }
    return false;
}

void TForm_3D_GEN::FormKeyDown(int key) {
    switch (key) {
    case Qt::Key_F: QueueDeferredAction(ctx_, kActionFullScreen, 100); break;
    case Qt::Key_G: bifuel::SwitchToGas(ctx_); break;
    case Qt::Key_P: bifuel::SwitchToPetrol(ctx_); break;
    default: break;
    }
}

void TForm_3D_GEN::passwordEnter() {
    if (password_->text() != QLatin1String(kAccessCode)) return;
    const QRectF lng = layout_->designRect(menuLng_);
    const QRectF flip(lng.right(), lng.top(), 60, lng.height());
    layout_->place(flip_, flip);
    layout_->place(settings_, QRectF(flip.right(), lng.top(), 75, lng.height()));
    flip_->show();
    settings_->show();
    QueueDeferredAction(ctx_, kActionFonts, 100);
}

void TForm_3D_GEN::HudButton_Work_ModeClick() { bifuel::HudButton_Work_ModeClick(ctx_); }

void TForm_3D_GEN::Update_Title() {
    title_ = FromUtf8(TitleText(ctx_));
    setWindowTitle(title_.trimmed());
    update(0, 0, width(), kLayoutTop);
}

void TForm_3D_GEN::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QFont font = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    const QColor general = entryColour(ctx_, 0);
    for (HudButton* b : {menuFile_, menuLng_, flip_, settings_, portSearch_, workMode_}) {
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
        ind.name->setDesignFont(ProgramFont(s.Font_Name, ctx_.layout.Panel_IND_Size_Name * factor, 0));
        ind.data->setDesignFont(ProgramFont(s.Font_Name, ctx_.layout.Panel_IND_Size_Data * factor, 1));
        ind.name->setColour(c);
        ind.data->setColour(c);
        ind.panel->setAccent(c);
    }
    update();
    if (onFontsApplied) onFontsApplied();
}

void TForm_3D_GEN::refreshIndicators() {
    const DataView& d = ctx_.dataView;
    for (Indicator& ind : indicators_) ind.data->setText(FromUtf8((d.*(ind.value)).text));
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
        if (column_->designRect(ind.panel) != want || ind.panel->isVisible() != iv.panel.visible) layoutChanged = true;
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
    const std::array<const std::string*, 4> tabTexts{&t.HudTabItem_CFG, &t.HudTabItem_ACB, &t.HudTabItem_CLB, &t.HudTabItem_MAP};
    for (std::size_t i = 0; i < 4; ++i) tabItems_[i]->setText(FromUtf8(*tabTexts[i]));
    if (menuFileList_->count() != static_cast<int>(t.HudStringListBox_Menu_File.size())) menuFileList_->setItems(t.HudStringListBox_Menu_File);
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
