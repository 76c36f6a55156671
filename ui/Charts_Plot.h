#pragma once

#include "data/Drive_Analysis.h"
#include "files/Colors_3D_Unit.h"
#include "files/Live_Log.h"

#include <QFont>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace bifuel {
class Context;
} // namespace bifuel

namespace bifuel::ui {

// A channel the time plots can show: a value of a log record in display units.
struct ChartChannel {
    std::string_view nameKey; // language key of its name
    std::string_view unitKey; // language key of its unit; empty: none
    std::string_view suffix;  // after the name (the cylinder)
    Colour colour;
    double (*value)(const LiveLogRecord&);
    int decimals;
};
const std::vector<ChartChannel>& ChartChannels();
// The channels a new window shows.
std::vector<int> DefaultChartChannels();

// Where the mode changed and where errors came and went.
struct ChartMarker {
    enum class Kind : std::uint8_t { Petrol, Automatic, Gas, ErrorsOn, ErrorsOff };
    std::int64_t timeMs = 0;
    Kind kind = Kind::Petrol;
    bool operator==(const ChartMarker&) const = default;
};
// The markers of records [from, end), continuing from the record before `from`.
void AppendMarkers(const std::vector<LiveLogRecord>& records, std::size_t from,
                   std::vector<ChartMarker>& out);

// Stacked strips of the chosen channels over one shared time axis, painted with min/max
// decimation: per pixel column the first, lowest, highest and last value of the records
// in it, so an hour of frames draws as fast as a minute and no spike is lost.
class ChartsPlot : public QWidget {
  public:
    ChartsPlot(Context& ctx, QWidget* parent);

    // The records shown; `appended` after frames were added at the end of the same list.
    void setRecords(const std::vector<LiveLogRecord>* records);
    void appended();
    void setChannels(std::vector<int> channels);
    const std::vector<int>& channels() const { return channels_; }
    void setLabelFont(const QFont& font, QColor colour);

    // The time window shown, milliseconds of the log.
    double viewStart() const { return t0_; }
    double viewEnd() const { return t1_; }
    void setView(double t0, double t1);
    void showAll();
    // factor > 1 zooms in, around a time of the log.
    void zoom(double factor, double aroundMs);
    void pan(double ms);
    // The keys: +/- zoom, arrows pan, Home/End go to the ends. False for any other key.
    bool KeyDown(int key);
    // Whether the view keeps the newest frames in sight as they arrive.
    bool following() const { return follow_; }

    // The cursor line: every channel's value at that time; none before the mouse came.
    bool hasCursor() const { return cursorOn_; }
    double cursorTime() const { return cursorMs_; }
    void setCursorTime(double ms);
    // The value of a channel at a time: that of the last record at or before it.
    std::optional<double> valueAt(int channel, double ms) const;

    const std::vector<ChartMarker>& markers() const { return markers_; }
    // Geometry as drawn now: the plot area of strip i, a time's x and an x's time.
    QRectF stripRect(int i) const;
    double xOf(double ms) const;
    double timeAt(double x) const;
    // Draws everything into `p` (the paint, and the figures' off-screen draws).
    void draw(QPainter& p) const;
    // After every change of the view the window follows (the cursor line's values).
    std::function<void()> onViewChanged;
    // Called after each paint (figures of the live plots).
    std::function<void()> onPainted;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QRectF plotArea() const;
    double dataStart() const;
    double dataEnd() const;
    void clampView();
    void changed();
    // One pixel column of a strip: its first, lowest, highest and last value.
    struct StripColumn {
        double first, low, high, last;
        bool used = false;
    };
    // Records first..last of strip i by pixel column, and their lowest and highest value.
    struct StripSamples {
        std::vector<StripColumn> columns; // columns -1 .. count, shifted by one
        double low = 0;
        double high = 0;
    };
    StripSamples sampleStrip(int i, int count, std::size_t first, std::size_t last) const;
    void drawStrip(QPainter& p, int i, std::size_t first, std::size_t last) const;
    // The channel's name, the range shown and the cursor's value.
    void drawStripTexts(QPainter& p, int i, double low, double high) const;
    void drawTimeAxis(QPainter& p) const;
    void drawMarkers(QPainter& p) const;
    QString valueText(int channel, double value) const;

    Context& ctx_;
    const std::vector<LiveLogRecord>* records_ = nullptr;
    std::vector<int> channels_;
    std::vector<ChartMarker> markers_;
    std::size_t marked_ = 0; // records the markers were made from
    QFont font_;
    QColor textColour_ = Qt::white;
    double t0_ = 0;
    double t1_ = 1;
    bool follow_ = true;
    bool cursorOn_ = false;
    double cursorMs_ = 0;
    bool dragging_ = false;
    double dragX_ = 0;
};

// The difference grid: per RPM-map cell the mean petrol-time difference of gas mode
// against petrol mode, its sample count and the suggested factor, coloured blue where
// the mixture on gas was lean (petrol ECU lengthening) and red where it was rich.
class DriveGrid : public QWidget {
  public:
    DriveGrid(Context& ctx, QWidget* parent);
    void setAnalysis(const DriveAnalysis* analysis) {
        analysis_ = analysis;
        update();
    }
    void setLabelFont(const QFont& font, QColor colour);
    QRectF cellRect(int c, int r) const;
    // The fill of a cell with this mean difference against its petrol time.
    static QColor CellColour(double diffUs, double petrolUs);
    void draw(QPainter& p) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRectF gridArea() const;
    Context& ctx_;
    const DriveAnalysis* analysis_ = nullptr;
    QFont font_;
    QColor textColour_ = Qt::white;
};

} // namespace bifuel::ui
