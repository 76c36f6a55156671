#pragma once

#include "Hud_Widgets.h"

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace bifuel {
class Context;
}

namespace bifuel::ui {

// The colour and font editors of the Settings and skin windows: the picked value, or
// nothing when the user cancels. Tests answer in their place.
using ColourPicker = std::function<std::optional<QColor>(QColor initial, const QString& title)>;
using FontPicker = std::function<std::optional<QFont>(const QFont& initial, const QString& title)>;
ColourPicker SystemColourPicker(QWidget* parent);
FontPicker SystemFontPicker(QWidget* parent);

// The font editor preset with the program font; a confirmed font becomes the program
// font (the font colour stays) and the fonts action is queued. False when nothing changed.
bool ChooseProgramFont(Context& ctx, const FontPicker& pick, const QString& title);

// The style sheet of the standard editors (text, number and combo boxes, check boxes) on
// the program's dark panels, with `text` as their text colour.
QString EditorStyle(QColor text);

// The borders of a frameless window under `p`: the band along each that resizes it.
Qt::Edges EdgesAt(const QWidget& window, QPoint p);
// The mouse cursor over a frameless window: a resize arrow on its edges and corners.
void ShowEdgeCursor(QWidget& window, Qt::Edges edges);

// A small stay-on-top window of the program's look: the skin's fill, a title band with a
// close button, and a content layout 13 in from the sides, 32 below the top and 12 above
// the bottom that scales with the window. It moves by its title band and resizes by its
// edges, never below its minimum size.
class HudToolWindow : public QWidget {
  public:
    HudToolWindow(Context& ctx, QSize designSize, QSize minimumSize);

    DesignLayout* content() { return content_; }
    HudButton* closeButton() { return close_; }

    // A standard editor (text box, number box, combo box, check box) on the content: its
    // text takes the program font at the content's scale and the general colour.
    void addEditor(QWidget* editor);
    // The program font and colours on the title, the close button and the editors.
    void applyChromeFonts();
    // Sizes the editors' text again: a check box's text shrinks to the room it has.
    void fitEditors();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    Context& ctx_;

  private:
    QSize design_;
    DesignLayout* content_ = nullptr;
    HudButton* close_ = nullptr;
    std::vector<QPointer<QWidget>> editors_;
    QPoint dragOffset_;
    bool moving_ = false;
};

} // namespace bifuel::ui
