// The File and Language menus: the list they show, opening and closing them, and what
// their items do.
#include "Global_Window.h"
#include "Global_Window_Parts.h"

#include "Hud_Window.h"

#include "Context.h"
#include "link/Global_Unit.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace bifuel::ui {
namespace {

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

} // namespace

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

// ---- the menus of TForm_3D_GEN ---------------------------------------------------------

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

void TForm_3D_GEN::placeMenus() {
    // Each menu is as high as its items: four File items make the design's 84.
    const auto placeMenu = [this](DesignLayout* panel, HudStringList* list, double left) {
        const double h = std::max(1, list->count()) * HudStringList::kItemDesignHeight + 4;
        panel->setDesignSize(QSizeF(104, h));
        panel->place(list, QRectF(2, 2, 100, h - 4));
        layout_->place(panel, QRectF(left, 23, 104, h));
    };
    placeMenu(menuFilePanel_, menuFileList_, 5);
    placeMenu(menuLngPanel_, menuLngList_, 84);
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
    if (PickLanguage(ctx_, name)) {
        QueueDeferredAction(ctx_, kActionFonts, 100);
        Refresh();
    }
}

} // namespace bifuel::ui
