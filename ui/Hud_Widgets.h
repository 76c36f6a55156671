#pragma once

// The small HUD toolkit the windows are drawn with: translucent panels, labels, buttons,
// sliders and the design-size layout that scales its children as one piece.

#include <QAbstractButton>
#include <QBitmap>
#include <QFont>
#include <QPointer>
#include <QWidget>

class QPainter;

#include <functional>
#include <string>
#include <vector>

namespace bifuel::ui {

// "#AARRGGBB" to a colour; anything else gives `fallback`.
QColor ColourFromText(const std::string& text, QColor fallback = Qt::white);
QString FromUtf8(const std::string& text);
std::string ToUtf8(const QString& text);

// The program font: family, size in points, style (0 regular, 1 bold, 2 italic, 3 both).
QFont ProgramFont(const std::string& family, double size, int style);

// The largest pixel size, from `largest` down to `smallest`, at which `text` fits `room`
// in one line. A text that does not fit even the smallest size gets the smallest.
int FitPixelSize(QFont font, const QString& text, QSizeF room, int largest, int smallest = 6);

// The shape of a window with rounded corners as a one-bit mask: the pixels the
// antialiased shape covers at least half. Without a compositor a translucent window's
// corners would be black; the mask cuts them away, and with one the edge looks the same.
QBitmap RoundedMask(QSize size, double radius);
// Keeps a top-level window masked to its rounded shape whenever its size changes.
void MaskRoundedCorners(QWidget* window, std::function<double(QSize)> radius);

// A widget whose text size follows the scale of the layout it sits in.
class HudItem {
  public:
    virtual ~HudItem() = default;
    void setFontScale(double scale);
    double fontScale() const { return fontScale_; }
    // The font at design size; the widget draws it at design size x scale.
    void setDesignFont(const QFont& font);
    const QFont& designFont() const { return designFont_; }
    QFont scaledFont() const;

  protected:
    virtual void fontChanged() = 0;

  private:
    QFont designFont_;
    double fontScale_ = 1.0;
};

// Draws the panel look into `area`.
void PaintHudPanel(QPainter& p, QRectF area, double opacity, double radius, QColor accent);

// A dark translucent panel with a thin light rim. Opacity applies to the fill only, so
// the text on it stays readable.
class HudPanel : public QWidget {
  public:
    explicit HudPanel(QWidget* parent = nullptr);
    void setFillOpacity(double opacity);
    double fillOpacity() const { return opacity_; }
    void setAccent(QColor colour); // a coloured line along the left edge; invalid: none
    void setRadius(double r) {
        radius_ = r;
        update();
    }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double opacity_ = 1.0;
    double radius_ = 6.0;
    QColor accent_;
};

// A text in one colour. Setting the same text or colour again does not repaint.
class HudLabel : public QWidget, public HudItem {
  public:
    explicit HudLabel(QWidget* parent = nullptr);
    void setText(const QString& text);
    const QString& text() const { return text_; }
    void setColour(QColor colour);
    QColor colour() const { return colour_; }
    void setAlignment(Qt::Alignment alignment);
    // Shrinks the font until the text fits the label (status lines of one or two rows).
    void setShrinkToFit(bool shrink);
    void setWordWrap(bool wrap);
    // The height the label needs for `text` word-wrapped at `width`, in design units,
    // measured with the font it is drawn with; 0 for no text.
    double wrappedHeight(double width, const QString& text) const;
    // Called after every paint; the indicator column uses it to report when values are on
    // the screen.
    std::function<void()> onPainted;
    std::function<void()> onMousePress;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void fontChanged() override { update(); }

  private:
    QString text_;
    QColor colour_ = Qt::white;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
    bool shrink_ = false;
    bool wrap_ = false;
};

// A flat HUD button: rounded, lighter while the mouse is over it, pressed look while
// down or while checked.
class HudButton : public QAbstractButton, public HudItem {
  public:
    explicit HudButton(const QString& text = {}, QWidget* parent = nullptr);
    void setTextColour(QColor colour);
    std::function<void(Qt::MouseButton)> onMouseDown;
    std::function<void()> onMouseMove;
    std::function<void()> onMouseLeave;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void fontChanged() override { update(); }

  private:
    QColor textColour_ = Qt::white;
    bool hover_ = false;
};

// A thin horizontal slider with a round knob.
class HudSlider : public QWidget {
  public:
    HudSlider(int minimum, int maximum, QWidget* parent = nullptr);
    void setValue(int value); // held to the range; does not call onChange
    int value() const { return value_; }
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    std::function<void(int)> onChange;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void takeX(double x);
    int min_;
    int max_;
    int value_;
};

// The two circles of the title bar.
class ChromeCircle : public QWidget {
  public:
    enum class Symbol { Minimise, Windowed, FullScreen };
    explicit ChromeCircle(Symbol symbol, QWidget* parent = nullptr);
    void setSymbol(Symbol symbol);
    Symbol symbol() const { return symbol_; }
    std::function<void()> onClick;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    Symbol symbol_;
    bool hover_ = false;
};

// A turning ring of dots: the busy indicator of the wait and port windows.
class HudBusy : public QWidget {
  public:
    explicit HudBusy(QWidget* parent = nullptr);
    void setAnimating(bool on);
    bool animating() const { return timer_ != 0; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    int timer_ = 0;
    int phase_ = 0;
};

// A horizontal progress bar.
class HudProgress : public QWidget {
  public:
    explicit HudProgress(QWidget* parent = nullptr);
    void setRange(int maximum);
    void setValue(int value);
    int value() const { return value_; }
    int maximum() const { return max_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int max_ = 100;
    int value_ = 0;
};

// Children placed in design units. The layout is drawn at any size: each child keeps its
// design place and size, multiplied by the horizontal and vertical scale, and HUD items
// draw their text at the vertical scale.
class DesignLayout : public QWidget {
  public:
    DesignLayout(QSizeF designSize, QWidget* parent = nullptr);

    // Places (or moves) a child at a design rectangle.
    void place(QWidget* child, QRectF design);
    QRectF designRect(const QWidget* child) const;
    QSizeF designSize() const { return design_; }
    void setDesignSize(QSizeF size);

    double scaleX() const;
    double scaleY() const;
    // Text scale for this layout and every layout inside it.
    void setFontScale(double scale);
    double fontScale() const { return fontScale_; }
    void relayout();
    // Draws the panel look behind the children.
    void setPanelLook(bool on, double opacity = 1.0);
    void setAccent(QColor colour) {
        accent_ = colour;
        update();
    }
    double fillOpacity() const { return opacity_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    bool panelLook_ = false;
    double opacity_ = 1.0;
    QColor accent_;
    struct Entry {
        QPointer<QWidget> widget;
        QRectF rect;
    };
    void apply(const Entry& e);
    QSizeF design_;
    double fontScale_ = 1.0;
    std::vector<Entry> entries_;
};

// A group of controls: a rim with its caption on the top edge; children are placed in
// design units like any layout.
class HudGroupBox : public DesignLayout {
  public:
    HudGroupBox(QSizeF designSize, QWidget* parent = nullptr);
    void setCaption(const QString& caption);
    const QString& caption() const { return caption_; }
    void setCaptionFont(const QFont& font); // at design size
    void setCaptionColour(QColor colour);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString caption_;
    QFont font_;
    QColor colour_ = Qt::white;
};

// A round colour sample, with a checker behind it so that transparent colours show.
class HudSwatch : public QWidget {
  public:
    explicit HudSwatch(QWidget* parent = nullptr);
    void setColour(QColor colour);
    QColor colour() const { return colour_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor colour_ = Qt::white;
};

} // namespace bifuel::ui
