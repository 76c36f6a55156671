#pragma once

#include "Hud_Widgets.h"
#include "link/Link_Operations.h"
#include "runtime/Signal.h"

#include <QObject>
#include <QPixmap>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <vector>

class QComboBox;

namespace bifuel {
class Context;
} // namespace bifuel

namespace bifuel::ui {

// The per-cylinder bars of the upper panel, drawn from the core's ACBView at any size.
class AcbBars : public QWidget {
  public:
    AcbBars(Context& ctx, QWidget* parent);
    // Where bar `row` of cylinder `cylinder` (0-based) lies at full height, in pixels.
    QRectF barRect(int cylinder, int row) const;
    // The filled part of that bar, in pixels.
    QRectF filledRect(int cylinder, int row) const;
    void draw(QPainter& p) const;
    std::function<void()> onPainted;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // The empty troughs: drawn again only when the size, the cylinders or the colours change.
    const QPixmap& backdrop() const;

    Context& ctx_;
    mutable QPixmap backdrop_;
    mutable std::size_t backdropKey_ = 0;
};

// The value boxes of the middle panel: one per cylinder and row, centred bold text that
// shrinks to its box when the cylinders are many; the mouse goes through them.
class AcbValues : public QWidget {
  public:
    AcbValues(Context& ctx, QWidget* parent);
    QRectF boxRect(int cylinder, int row) const;
    void setBoxFont(const QFont& font); // at design size
    void draw(QPainter& p) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const QPixmap& backdrop() const;
    QFont textFont() const;

    Context& ctx_;
    QFont font_;
    mutable QPixmap backdrop_;
    mutable std::size_t backdropKey_ = 0;
    mutable QFont fitted_; // the box font fitted to the boxes, for fittedKey_
    mutable std::size_t fittedKey_ = 0;
};

// A digest of what the bars and boxes show, to leave an unchanged display undrawn.
std::size_t DisplaySignature(const Context& ctx);

// The Auto Calibration page on its three panels: the bars, the row labels and value
// boxes, the prompt line, the progress bar, the algorithm choice and the Start toggle.
// The procedure lives in core; the page shows its view state and, once a run has ended,
// the end the core reported for it.
class AcbPage : public QObject {
  public:
    AcbPage(Context& ctx, DesignLayout* upper, DesignLayout* middle, DesignLayout* lower);

    void Refresh();
    // Font action of the page: prompt, button, row labels, boxes and bar colours.
    void ApplyFonts();

    AcbBars* bars() { return bars_; }
    AcbValues* values() { return values_; }
    HudLabel* prompt() { return prompt_; }
    HudProgress* progress() { return progress_; }
    HudButton* start() { return start_; }
    QComboBox* algorithm() { return algorithm_; }
    HudLabel* rowLabel(int row) { return rows_[static_cast<std::size_t>(row)]; }
    // The end of the last run as the core reported it, until the next Start.
    const std::optional<AutoCalibrationEnd>& lastEnd() const { return end_; }

  private:
    void build();
    void startClicked();
    void algorithmChosen(int index);
    void showPrompt();
    void fitListFont();
    // Repaints the bars and boxes when what they show has changed.
    void redrawDisplay();
    QColor general() const;

    Context& ctx_;
    DesignLayout* upper_;
    DesignLayout* middle_;
    DesignLayout* lower_;
    AcbBars* bars_ = nullptr;
    AcbValues* values_ = nullptr;
    std::array<HudLabel*, 3> rows_{};
    HudLabel* prompt_ = nullptr;
    HudProgress* progress_ = nullptr;
    HudButton* start_ = nullptr;
    QComboBox* algorithm_ = nullptr;
    std::optional<AutoCalibrationEnd> end_;
    bool endWrote_ = false; // the run had written to the ECU when it ended
    std::optional<RestoreEnd> restore_;
    std::vector<Subscription> subscriptions_;
    std::size_t drawn_ = 0; // the display's digest when the bars and boxes were last asked to draw
};

} // namespace bifuel::ui
