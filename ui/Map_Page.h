#pragma once

#include "Hud_Widgets.h"
#include "link/Link_Operations.h"
#include "runtime/Scheduler.h"
#include "runtime/Signal.h"

#include <QObject>
#include <QWidget>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bifuel {
class Context;
} // namespace bifuel

namespace bifuel::ui {

// A grid cell, or a place between or beside the cells.
struct GridHit {
    int c = -1;
    int r = -1;
    bool inside() const { return c >= 0 && r >= 0; }
};

// The 9 x 13 grid of the RPM map, painted from the core's MapView at any size. The core
// lays the grid out on the panel's design size; this widget scales it to its pixels and
// hands every press, move and release on a cell to the core's handlers.
class MapGrid : public QWidget {
  public:
    MapGrid(Context& ctx, QWidget* parent);

    // Pixel rectangle of cell (c, r) as drawn now.
    QRectF cellRect(int c, int r) const;
    // The cell under a point of this widget; outside() when none.
    GridHit cellAt(QPointF local) const;
    // The cell under a point, or the nearest one when beyond the grid's edge.
    GridHit nearestCell(QPointF local) const;
    void setCellFont(const QFont& font, QColor colour);
    // Draws everything into `p` (the widget's paint, and the figures' off-screen draws).
    void draw(QPainter& p) const;
    // After each core handler the page follows.
    std::function<void()> onChanged;
    // Called after each paint (figures of the live cell).
    std::function<void()> onPainted;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    double scaleX() const;
    double scaleY() const;
    double pixelX(double designX) const;
    double pixelY(double designY) const;

    Context& ctx_;
    QFont cellFont_;
    QColor textColour_ = Qt::white;
    GridHit lastMove_; // a pointer that stays on one cell is not handed on again
};

// The Map page: the grid, the cell-data line and the Clear and Default buttons. The rules
// live in core; the page shows the core's MapView and hands every user action to the core.
// While a write runs the page takes no edits and says how the write goes; when it ends
// the page says how it ended.
class MapPage : public QObject {
  public:
    MapPage(Context& ctx, DesignLayout* panel);

    void Refresh();
    void ApplyTexts();
    void ApplyFonts();
    // Keys from the main window while the page is shown.
    void KeyDown(int key, bool shift);
    void KeyUp(int key);

    MapGrid* grid() { return grid_; }
    HudLabel* cellData() { return cellData_; }
    HudButton* clearButton() { return clear_; }
    HudButton* defaultButton() { return default_; }
    // Whether the page takes edits now.
    bool locked() const;

  private:
    void build();
    void operationProgress(const OperationProgress& progress);
    void operationEnded(const OperationEnd& end);
    void showCellData();
    void repaintIfChanged();
    void userAction();

    Context& ctx_;
    DesignLayout* panel_;
    MapGrid* grid_ = nullptr;
    HudLabel* cellData_ = nullptr;
    HudButton* clear_ = nullptr;
    HudButton* default_ = nullptr;
    std::vector<Subscription> subscriptions_;
    std::size_t drawn_ = 0;
    int percent_ = 0;
    // How the last write ended, shown until the user acts on the page again or a while
    // has passed.
    std::string ending_;
    bool endingIsError_ = false;
    std::unique_ptr<Timer> endingTimer_;
};

// A digest of what the grid shows, to leave an unchanged grid undrawn.
std::size_t MapSignature(const Context& ctx);

} // namespace bifuel::ui
