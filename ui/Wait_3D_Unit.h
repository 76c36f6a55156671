#pragma once

#include "Hud_Widgets.h"
#include "link/Link_View.h"

#include <QWidget>

namespace bifuel::ui {

// The wait window: large over the main window while a write is sent, small in its top-right
// corner until the ECU reports the data stored, then gone.
class TForm_3D_Wait : public QWidget {
  public:
    explicit TForm_3D_Wait(QWidget* mainWindow);
    // Follows the form the core asks for.
    void Follow(WaitForm form);
    void Wait_Show_Large();
    void Wait_Shrink();
    bool Wait_Shown() const { return isVisible(); }
    HudBusy* indicator() { return busy_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QWidget* main_;
    HudBusy* busy_;
    WaitForm form_ = WaitForm::Hidden;
};

} // namespace bifuel::ui
