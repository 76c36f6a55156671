#pragma once

#include "Hud_Widgets.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bifuel {
class Context;
class Timer;
} // namespace bifuel

namespace bifuel::ui {

// The one message box: a small stay-on-top window over the main window. Messages reach
// it through the context; it opens on its own start timer, 100 ms after the request.
class TForm_3D_MSG : public QWidget {
  public:
    TForm_3D_MSG(Context& ctx, QWidget* mainWindow);
    ~TForm_3D_MSG() override;

    // Takes the requests the core has queued (the last one wins within the start delay).
    void TakeRequests();
    // ShowMessageWindow's window half: remember the message and start the start timer.
    void Request(int type, std::string text);

    int Message_Type() const { return type_; }
    const std::string& Message_Text() const { return text_; }
    bool Message_Shown() const { return shown_; }
    QString labelText() const;
    std::vector<HudButton*> buttons() const { return buttons_; }
    HudButton* closeButton() { return close_; }
    QWidget* buttonsPanel() { return buttonsPanel_; }
    QWidget* textPanel() { return textPanel_; }

    void ApplyFonts();
    // The type-15 message closed: the main window closes with it.
    std::function<void()> onEndProgram;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void Answer(int kind);
    void placeOverMain();
    // The buttons of the panel, in their row; the text of the message (a version refusal
    // disables the main window too).
    void placeButtons(const std::vector<std::pair<int, QString>>& kinds);
    QString messageText();

    Context& ctx_;
    QWidget* main_;
    std::unique_ptr<Timer> runTimer_; // Timer_3D_MSG_run
    int type_ = 0;
    std::string text_;
    bool shown_ = false;
    HudPanel* textPanel_ = nullptr;
    HudPanel* buttonsPanel_ = nullptr;
    HudButton* close_ = nullptr;
    HudLabel* label_ = nullptr;
    std::vector<HudButton*> buttons_;
    QPoint dragOffset_;
};

} // namespace bifuel::ui
