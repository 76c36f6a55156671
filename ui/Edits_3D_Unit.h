#pragma once

#include "Hud_Window.h"
#include "link/Edit_Tracker.h"
#include "runtime/Signal.h"

#include <functional>

class QLineEdit;
class QListWidget;

namespace bifuel::ui {

// The edits window: the choice for edits a reconnection kept aside (write them to this
// ECU, save them to a file, drop them), with what the ECU changed meanwhile listed above
// the edits themselves, and the question when closing would lose edits that are neither
// on the ECU nor in a file. It also runs the closing steps: a write still waiting goes out
// first, then the questions.
class TForm_3D_Edits : public HudToolWindow {
  public:
    static constexpr int kDesignWidth = 460;
    static constexpr int kDesignHeight = 330;

    enum class Mode { Offer, CloseQuestion };

    TForm_3D_Edits(Context& ctx, QWidget* mainWindow);

    // The main window asks before it closes: true when nothing would be lost. Otherwise
    // it starts what has to happen first and closes the main window again afterwards.
    bool CloseAllowed();
    // The choice for kept edits (also while closing, with a Cancel).
    void ShowOffer();
    void ShowCloseQuestion();
    void ApplyFonts();

    // Closes the main window again once a closing step is done.
    std::function<void()> closeMain;

    Mode mode() const { return mode_; }
    bool closing() const { return closing_; }
    HudButton* writeButton() { return write_; }
    HudButton* saveButton() { return save_; }
    HudButton* dropButton() { return drop_; }
    HudButton* cancelButton() { return cancel_; }
    QLineEdit* nameBox() { return name_; }
    // What the ECU changed meanwhile, then the edits: one line per field.
    QListWidget* changesList() { return changes_; }
    HudLabel* textLabel() { return text_; }
    HudLabel* resultLabel() { return result_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void build();
    void fillChanges(bool changedMeanwhile);
    void placeTextAndList();
    void showOver();
    void showResult(const std::string& text, bool error);
    void goOnClosing();
    void cancelClosing();
    std::string typedName() const;
    void writeClick();
    void saveClick();
    void dropClick();
    void operationEnded(const OperationEnd& end);

    QWidget* main_;
    Mode mode_ = Mode::Offer;
    bool closing_ = false;       // the window was opened by closing the program
    bool closeForced_ = false;   // "Close without saving"
    OperationId closeWrite_ = 0; // the write closing waits for
    OperationId keptWrite_ = 0;  // the write of the kept edits
    DesignLayout* panel_ = nullptr;
    HudLabel* text_ = nullptr;
    QListWidget* changes_ = nullptr;
    HudLabel* nameLabel_ = nullptr;
    QLineEdit* name_ = nullptr;
    HudLabel* result_ = nullptr;
    HudButton* write_ = nullptr;
    HudButton* save_ = nullptr;
    HudButton* drop_ = nullptr;
    HudButton* cancel_ = nullptr;
    Subscription ends_;
};

} // namespace bifuel::ui
