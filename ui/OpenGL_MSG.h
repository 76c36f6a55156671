#pragma once

#include "Main_Logic.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace bifuel::ui {

// Whether the display can draw with OpenGL. The program asks before it makes any window;
// tests choose the answer.
class OpenGLCheck {
  public:
    virtual ~OpenGLCheck() = default;
    virtual bool run() = 0;
};

// A real context on an offscreen surface, made current; three tries, the third decides.
class RealOpenGLCheck final : public OpenGLCheck {
  public:
    bool run() override;
};

// The plain window shown instead of the program when OpenGL does not work.
class TForm_No_OpenGL : public QWidget {
  public:
    explicit TForm_No_OpenGL(const NoOpenGLTexts& texts);
    QLabel* message() { return label_; }
    QPushButton* okButton() { return button_; }

  private:
    QLabel* label_;
    QPushButton* button_;
};

} // namespace bifuel::ui
