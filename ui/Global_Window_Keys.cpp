// The keyboard: the window sees every key first, whatever control has the focus, and the
// hidden password box that shows the service buttons.
#include "Global_Window.h"
#include "Global_Window_Parts.h"

#include "Hud_Window.h"

#include "Context.h"
#include "link/Global_Unit.h"
#include "link/Link_Operations.h"

#include <QAbstractSpinBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace bifuel::ui {
namespace {

constexpr const char* kAccessCode = "kirvel4815";

// A box the keys type into. Read-only boxes (a list's text, the volt boxes, the error list)
// leave the keys to the window.
bool isTextBox(const QWidget* w) {
    if (const auto* line = qobject_cast<const QLineEdit*>(w)) return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QTextEdit*>(w)) return !text->isReadOnly();
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(w)) return !plain->isReadOnly();
    return qobject_cast<const QAbstractSpinBox*>(w) != nullptr;
}

} // namespace

bool TForm_3D_GEN::eventFilter(QObject* watched, QEvent* event) {
    if (watched == splitter_) return dragSplitter(event);
    forwardKey(watched, event);
    return false;
}

void TForm_3D_GEN::forwardKey(QObject* watched, QEvent* event) {
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

} // namespace bifuel::ui
