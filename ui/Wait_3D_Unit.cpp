#include "Wait_3D_Unit.h"

#include "Main_Logic.h"

#include <QPainter>

namespace bifuel::ui {

TForm_3D_Wait::TForm_3D_Wait(QWidget* mainWindow) : QWidget(nullptr), main_(mainWindow) {
    setObjectName(QStringLiteral("TForm_3D_Wait"));
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    MaskRoundedCorners(this, [](QSize size) { return size.width() / 6.0; });
    resize(142, 142);
    busy_ = new HudBusy(this);
}

void TForm_3D_Wait::Follow(WaitForm form) {
    if (form == form_) return;
    form_ = form;
    switch (form) {
    case WaitForm::Large:
        Wait_Show_Large();
        break;
    case WaitForm::Corner:
        Wait_Shrink();
        break;
    case WaitForm::Hidden:
        hide();
        break;
    }
}

namespace {
Rect frameOf(const QWidget* w) {
    return w != nullptr ? Rect{w->x(), w->y(), w->width(), w->height()} : Rect{0, 0, 150, 150};
}
} // namespace

void TForm_3D_Wait::Wait_Show_Large() {
    const Rect r = WaitLarge(frameOf(main_));
    setGeometry(r.left, r.top, r.width, r.height);
    busy_->setGeometry(rect());
    if (!isVisible()) show();
}

void TForm_3D_Wait::Wait_Shrink() {
    const Rect r = WaitCorner(frameOf(main_));
    setGeometry(r.left, r.top, r.width, r.height);
    busy_->setGeometry(rect());
    if (!isVisible()) show();
}

void TForm_3D_Wait::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    busy_->setAnimating(true);
}

void TForm_3D_Wait::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    busy_->setAnimating(false);
}

void TForm_3D_Wait::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintHudPanel(p, QRectF(rect()), 0.85, width() / 6.0, QColor());
}

} // namespace bifuel::ui
