#pragma once

#include "Hud_Widgets.h"
#include "runtime/Signal.h"

#include <QObject>
#include <QPixmap>
#include <QStaticText>
#include <QWidget>

#include <array>
#include <cstddef>
#include <functional>
#include <vector>

class QCheckBox;

namespace bifuel {
class Context;
struct DiagramView;
} // namespace bifuel

namespace bifuel::ui {

// A digest of what the diagram shows, to leave an unchanged view undrawn.
std::size_t ViewSignature(const DiagramView& v);

// The diagram with its three scales, drawn from the core's DiagramView. It reports its
// pixel size to the core, so every shape lies where the core put it, at any window size,
// and hands every press, move and release to the core's editing handlers.
class DiagramCanvas : public QWidget {
  public:
    DiagramCanvas(Context& ctx, QWidget* parent);

    // Where the diagram image lies inside this widget, in pixels.
    QRectF diagramRect() const;
    // Centre of point circle i (0..8) in this widget's pixels, as drawn now.
    QPointF pointCentre(int i) const;
    // Drawn radius of a point circle: the design size follows the page's scale.
    double pointRadius() const;
    void setLabelFont(const QFont& font, QColor colour);
    // After every change of the core's view state the canvas and its panels follow.
    std::function<void()> onChanged;
    // Called after each paint (figures of the live point).
    std::function<void()> onPainted;
    // Where the history and prompt panels go: children of this widget over the diagram.
    QPointF diagramOrigin() const { return diagramRect().topLeft(); }
    // The shapes' scale against the design size.
    double lookScale() const;
    // Draws everything into `p` (the widget's paint, and the figures' off-screen draws).
    void draw(QPainter& p) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void reportGeometry();
    // The scales, the diagram's ground and its grid: drawn again only when the size, the
    // fonts or the colours change.
    const QPixmap& backdrop() const;
    QFont scaleFont() const;
    // The parts of draw() inside the diagram, in its own coordinates; k is lookScale().
    void drawMap(QPainter& p, double k) const;
    void drawGuides(QPainter& p, double w, double h) const;
    void drawPoints(QPainter& p, double k) const;
    void drawProposal(QPainter& p, double k) const;
    void drawLivePoints(QPainter& p, double k) const;
    void drawLegend(QPainter& p, double k) const;
    // The circle under a point of the diagram (its pixels), -1 for none; the selected
    // point wins where circles overlap.
    int circleAt(QPointF local) const;
    // Pointer in the circle's box as the core measures it (from its corner).
    QPointF inCircle(int circle, QPointF local) const;
    void updateCursor(QPointF local);
    void changed();

    Context& ctx_;
    QFont labelFont_;
    QColor labelColour_ = Qt::white;
    int pressedCircle_ = -1; // the circle a button went down on; it takes the moves
    mutable QPixmap backdrop_;
    mutable std::size_t backdropKey_ = 0;
    mutable std::array<QStaticText, 9> numbers_; // the points' numbers, laid out once
    mutable QFont numbersFont_;
};

// The Graph page: the diagram, its labels and legend, the history and prompt panels, the
// MAP collection buttons and the idle-run box. The rules live in core; the page shows the
// core's DiagramView and hands every user action to the core's handlers.
class GraphPage : public QObject {
  public:
    GraphPage(Context& ctx, DesignLayout* panel);

    // The view state to the controls: texts, buttons, panels, and a repaint.
    void Refresh();
    void ApplyTexts();
    // Font actions: the whole page, the scale labels, the history and the prompt panel.
    void ApplyFonts();
    void ApplyScaleFonts();
    void ApplyHistoryFont();
    void ApplyPromptFont();
    // A key from the main window while the page is shown; false when it is none of the
    // diagram's keys.
    bool KeyDown(int key);

    // The controls, for the main window and tests.
    DiagramCanvas* canvas() { return canvas_; }
    HudLabel* positionLabel() { return position_; }
    HudButton* mapStart() { return mapStart_; }
    HudButton* mapStop() { return mapStop_; }
    HudButton* mapToCount() { return mapToCount_; }
    HudButton* mapDeleteGas() { return mapDelGas_; }
    HudButton* mapDeletePetrol() { return mapDelPetrol_; }
    QCheckBox* idleRunBox() { return idleRun_; }
    DesignLayout* historyPanel() { return history_; }
    HudButton* historyBack() { return historyBack_; }
    HudButton* historyForward() { return historyForward_; }
    DesignLayout* promptPanel() { return prompt_; }
    HudLabel* promptText() { return promptText_; }
    HudButton* promptButton1() { return promptButton1_; }
    HudButton* promptButton2() { return promptButton2_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build();
    void buildPanels();
    void showPanels();
    void showHistoryPanel();
    void showPromptPanel();
    QFont pageFont() const;
    QColor general() const;
    // A button that takes no keyboard focus (the arrows stay with the diagram) and brings
    // the page up to date after its click; `button` places one on the page's panel.
    HudButton* actionButton(QWidget* parent, const char* name, std::function<void()> click);
    HudButton* button(const char* name, QRectF design, std::function<void()> click);

    Context& ctx_;
    DesignLayout* panel_;
    DiagramCanvas* canvas_ = nullptr;
    HudLabel* gasTitle_ = nullptr;
    HudLabel* position_ = nullptr;
    HudLabel* manifoldTitle_ = nullptr;
    HudLabel* petrolTitle_ = nullptr;
    HudLabel* collection_ = nullptr;
    HudLabel* deleteTitle_ = nullptr;
    HudButton* mapStart_ = nullptr;
    HudButton* mapStop_ = nullptr;
    HudButton* mapToCount_ = nullptr;
    HudButton* mapDelGas_ = nullptr;
    HudButton* mapDelPetrol_ = nullptr;
    QCheckBox* idleRun_ = nullptr;
    DesignLayout* history_ = nullptr;
    HudLabel* historyTitle_ = nullptr;
    HudButton* historyBack_ = nullptr;
    HudButton* historyForward_ = nullptr;
    DesignLayout* prompt_ = nullptr;
    DesignLayout* promptInner_ = nullptr;
    HudLabel* promptText_ = nullptr;
    HudButton* promptButton1_ = nullptr;
    HudButton* promptButton2_ = nullptr;
    std::vector<Subscription> subscriptions_;
    std::size_t drawn_ = 0; // the view's digest when the canvas was last asked to draw
};

} // namespace bifuel::ui
