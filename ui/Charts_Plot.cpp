#include "Charts_Plot.h"

#include "Hud_Widgets.h"

#include "Context.h"
#include "data/Calc_Unit.h"
#include "data/Live_Data.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace bifuel::ui {
namespace {

constexpr double kAxisHeight = 20; // the time labels under the strips
constexpr double kMarkerBand = 16; // the mode labels above the strips
constexpr double kStripGap = 4;
constexpr double kLeftRoom = 52;    // the strips' value labels
constexpr double kMinSpanMs = 1000; // the closest zoom: a second across
constexpr double kKeyZoom = 2.0;
constexpr double kKeyPanShare = 0.1;

QColor colourOf(const Context& ctx, Colour c) {
    return ColourFromText(ctx.colours.ColourOf(c));
}

double cylinderPetrol(const LiveLogRecord& r, int c) {
    return r.Petrol_Us[static_cast<std::size_t>(c)] / 1000.0;
}
double cylinderGas(const LiveLogRecord& r, int c) {
    return r.Gas_Us[static_cast<std::size_t>(c)] / 1000.0;
}

QString timeText(double ms, double stepMs) {
    const auto total = static_cast<long long>(std::floor(ms / 1000));
    const long long h = total / 3600;
    const long long m = total / 60 % 60;
    const long long s = total % 60;
    QString out = h > 0 ? QStringLiteral("%1:%2:%3")
                              .arg(h)
                              .arg(m, 2, 10, QLatin1Char('0'))
                              .arg(s, 2, 10, QLatin1Char('0'))
                        : QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
    if (stepMs < 1000)
        out += QStringLiteral(".%1").arg(static_cast<long long>(std::fmod(ms, 1000.0)) / 100);
    return out;
}

// Tick steps of the time axis, milliseconds.
constexpr std::array<double, 15> kSteps{200,    500,    1000,   2000,    5000,
                                        10000,  15000,  30000,  60000,   120000,
                                        300000, 600000, 900000, 1800000, 3600000};

} // namespace

const std::vector<ChartChannel>& ChartChannels() {
    static const std::vector<ChartChannel> channels{
        {"RPM", "", "", Colour::RPM, [](const LiveLogRecord& r) { return double(r.Rpm); }, 0},
        {"Charts_Ch_PetrolAvg", "Dim_MS_Short", "", Colour::Petrol,
         [](const LiveLogRecord& r) { return r.Petrol_Avg_Us / 1000.0; }, 2},
        {"Charts_Ch_GasAvg", "Dim_MS_Short", "", Colour::Gas,
         [](const LiveLogRecord& r) { return r.Gas_Avg_Us / 1000.0; }, 2},
        {"Charts_Ch_PressColl", "Dim_Bar_Long", "", Colour::Manifuld,
         [](const LiveLogRecord& r) { return r.Press_Coll / 100.0; }, 2},
        {"Charts_Ch_PressVap", "Dim_Bar_Long", "", Colour::PressVap,
         [](const LiveLogRecord& r) { return r.Press_Vap / 100.0; }, 2},
        {"Charts_Ch_PressDiff", "Dim_Bar_Long", "", Colour::PressDiff,
         [](const LiveLogRecord& r) { return r.Press_Diff / 100.0; }, 2},
        {"Charts_Ch_TempVap", "Charts_Degrees", "", Colour::TempVap,
         [](const LiveLogRecord& r) { return r.Temp_Vap / 10.0; }, 1},
        {"Charts_Ch_TempGas", "Charts_Degrees", "", Colour::TempGas,
         [](const LiveLogRecord& r) { return r.Temp_Gas / 10.0; }, 1},
        {"Charts_Ch_Level", "Dim_Volt_Short", "", Colour::Automat,
         [](const LiveLogRecord& r) { return r.Level * 5.0 / 1023; }, 2},
        {"Mode", "", "", Colour::General, [](const LiveLogRecord& r) { return double(r.Mode); }, 0},
        {"Charts_Ch_Petrol", "Dim_MS_Short", " 1", Colour::Petrol,
         [](const LiveLogRecord& r) { return cylinderPetrol(r, 0); }, 2},
        {"Charts_Ch_Petrol", "Dim_MS_Short", " 2", Colour::Petrol,
         [](const LiveLogRecord& r) { return cylinderPetrol(r, 1); }, 2},
        {"Charts_Ch_Petrol", "Dim_MS_Short", " 3", Colour::Petrol,
         [](const LiveLogRecord& r) { return cylinderPetrol(r, 2); }, 2},
        {"Charts_Ch_Petrol", "Dim_MS_Short", " 4", Colour::Petrol,
         [](const LiveLogRecord& r) { return cylinderPetrol(r, 3); }, 2},
        {"Charts_Ch_Gas", "Dim_MS_Short", " 1", Colour::Gas,
         [](const LiveLogRecord& r) { return cylinderGas(r, 0); }, 2},
        {"Charts_Ch_Gas", "Dim_MS_Short", " 2", Colour::Gas,
         [](const LiveLogRecord& r) { return cylinderGas(r, 1); }, 2},
        {"Charts_Ch_Gas", "Dim_MS_Short", " 3", Colour::Gas,
         [](const LiveLogRecord& r) { return cylinderGas(r, 2); }, 2},
        {"Charts_Ch_Gas", "Dim_MS_Short", " 4", Colour::Gas,
         [](const LiveLogRecord& r) { return cylinderGas(r, 3); }, 2},
    };
    return channels;
}

std::vector<int> DefaultChartChannels() {
    return {0, 1, 2, 3, 6};
}

void AppendMarkers(const std::vector<LiveLogRecord>& records, std::size_t from,
                   std::vector<ChartMarker>& out) {
    for (std::size_t i = std::max<std::size_t>(from, 1); i < records.size(); ++i) {
        const LiveLogRecord& was = records[i - 1];
        const LiveLogRecord& now = records[i];
        if (now.Mode != was.Mode) {
            const auto kind = now.Mode == kModeGas         ? ChartMarker::Kind::Gas
                              : now.Mode == kModeAutomatic ? ChartMarker::Kind::Automatic
                                                           : ChartMarker::Kind::Petrol;
            out.push_back({now.Time_Ms, kind});
        }
        const bool errorsWere = was.Error1 != 0 || was.Error2 != 0;
        const bool errorsNow = now.Error1 != 0 || now.Error2 != 0;
        // A new error among others counts as one coming too.
        const bool newError = (now.Error1 & ~was.Error1) != 0 || (now.Error2 & ~was.Error2) != 0;
        if (newError) {
            out.push_back({now.Time_Ms, ChartMarker::Kind::ErrorsOn});
        } else if (errorsWere && !errorsNow) {
            out.push_back({now.Time_Ms, ChartMarker::Kind::ErrorsOff});
        }
    }
}

// ---- ChartsPlot ---------------------------------------------------------------------------------

ChartsPlot::ChartsPlot(Context& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx), channels_(DefaultChartChannels()) {
    setObjectName(QStringLiteral("Charts_Plot"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    // It paints every pixel of its own: a repaint for each live frame then leaves the
    // translucent window and panel under it alone.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ChartsPlot::setRecords(const std::vector<LiveLogRecord>* records) {
    records_ = records;
    markers_.clear();
    marked_ = 0;
    follow_ = true;
    cursorOn_ = false;
    appended();
    showAll();
}

void ChartsPlot::appended() {
    if (records_ == nullptr) return;
    if (records_->size() < marked_) { // the list started again
        markers_.clear();
        marked_ = 0;
    }
    AppendMarkers(*records_, marked_ == 0 ? 0 : marked_, markers_);
    marked_ = records_->size();
    if (follow_) {
        const double span = t1_ - t0_;
        const double end = dataEnd();
        if (end - dataStart() <= span) {
            t0_ = dataStart();
            t1_ = std::max(t0_ + kMinSpanMs, end);
            if (span > t1_ - t0_) t1_ = t0_ + span;
        } else {
            t1_ = end;
            t0_ = end - span;
        }
    }
    changed();
}

void ChartsPlot::setChannels(std::vector<int> channels) {
    channels_ = std::move(channels);
    changed();
}

void ChartsPlot::setLabelFont(const QFont& font, QColor colour) {
    font_ = font;
    textColour_ = colour;
    update();
}

double ChartsPlot::dataStart() const {
    return records_ == nullptr || records_->empty() ? 0.0 : double(records_->front().Time_Ms);
}
double ChartsPlot::dataEnd() const {
    return records_ == nullptr || records_->empty() ? 0.0 : double(records_->back().Time_Ms);
}

void ChartsPlot::clampView() {
    const double lo = dataStart();
    const double hi = std::max(dataEnd(), lo + kMinSpanMs);
    double span = std::clamp(t1_ - t0_, kMinSpanMs, hi - lo);
    if (!std::isfinite(span)) span = hi - lo;
    t0_ = std::clamp(t0_, lo, hi - span);
    t1_ = t0_ + span;
    // At the newest frame, the view keeps up with the ones still coming.
    follow_ = t1_ >= dataEnd() - 1;
}

void ChartsPlot::setView(double t0, double t1) {
    t0_ = t0;
    t1_ = t1;
    clampView();
    changed();
}

void ChartsPlot::showAll() {
    setView(dataStart(), std::max(dataEnd(), dataStart() + kMinSpanMs));
}

void ChartsPlot::zoom(double factor, double aroundMs) {
    if (!(factor > 0)) return;
    const double span = (t1_ - t0_) / factor;
    const double share = t1_ > t0_ ? std::clamp((aroundMs - t0_) / (t1_ - t0_), 0.0, 1.0) : 0.5;
    const double clamped = std::max(span, kMinSpanMs);
    setView(aroundMs - share * clamped, aroundMs - share * clamped + clamped);
}

void ChartsPlot::pan(double ms) {
    setView(t0_ + ms, t1_ + ms);
}

void ChartsPlot::setCursorTime(double ms) {
    cursorOn_ = true;
    cursorMs_ = ms;
    changed();
}

std::optional<double> ChartsPlot::valueAt(int channel, double ms) const {
    if (records_ == nullptr || records_->empty() || channel < 0 ||
        channel >= int(ChartChannels().size()))
        return std::nullopt;
    const auto it =
        std::upper_bound(records_->begin(), records_->end(), ms,
                         [](double t, const LiveLogRecord& r) { return t < double(r.Time_Ms); });
    if (it == records_->begin()) return std::nullopt;
    return ChartChannels()[static_cast<std::size_t>(channel)].value(*std::prev(it));
}

void ChartsPlot::changed() {
    update();
    if (onViewChanged) onViewChanged();
}

QRectF ChartsPlot::plotArea() const {
    return QRectF(kLeftRoom, kMarkerBand, std::max(1.0, width() - kLeftRoom - 6),
                  std::max(1.0, height() - kMarkerBand - kAxisHeight));
}

QRectF ChartsPlot::stripRect(int i) const {
    const QRectF a = plotArea();
    const int n = std::max<int>(1, int(channels_.size()));
    const double h = (a.height() - kStripGap * (n - 1)) / n;
    return QRectF(a.left(), a.top() + i * (h + kStripGap), a.width(), std::max(1.0, h));
}

double ChartsPlot::xOf(double ms) const {
    const QRectF a = plotArea();
    return a.left() + (ms - t0_) / std::max(1e-9, t1_ - t0_) * a.width();
}

double ChartsPlot::timeAt(double x) const {
    const QRectF a = plotArea();
    return t0_ + (x - a.left()) / a.width() * (t1_ - t0_);
}

QString ChartsPlot::valueText(int channel, double value) const {
    const ChartChannel& ch = ChartChannels()[static_cast<std::size_t>(channel)];
    QString text = FromUtf8(FixedText(value, ch.decimals));
    if (!ch.unitKey.empty()) text += QLatin1Char(' ') + FromUtf8(ctx_.LangText(ch.unitKey));
    return text;
}

void ChartsPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    draw(p);
    if (onPainted) onPainted();
}

void ChartsPlot::draw(QPainter& p) const {
    p.fillRect(rect(), QColor(20, 24, 30));
    p.setFont(font_);
    const QColor grid = colourOf(ctx_, Colour::Diagram_Grid);
    if (records_ == nullptr || records_->empty() || channels_.empty()) {
        p.setPen(textColour_);
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                   FromUtf8(ctx_.LangText(records_ == nullptr || records_->empty()
                                              ? "Charts_No_Data"
                                              : "Charts_No_Channels")));
        return;
    }
    // The records in sight, and one on each side so the lines run to the edges.
    const auto& recs = *records_;
    const auto byTime = [](const LiveLogRecord& r, double t) { return double(r.Time_Ms) < t; };
    std::size_t first = static_cast<std::size_t>(
        std::lower_bound(recs.begin(), recs.end(), t0_, byTime) - recs.begin());
    std::size_t last = static_cast<std::size_t>(
        std::lower_bound(recs.begin(), recs.end(), t1_, byTime) - recs.begin());
    if (first > 0) --first;
    last = std::min(last + 1, recs.size());

    for (int i = 0; i < int(channels_.size()); ++i) {
        const QRectF s = stripRect(i);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 70));
        p.drawRect(s);
        p.setPen(QPen(grid, 1));
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(s.left(), s.center().y()), QPointF(s.right(), s.center().y()));
    }
    // The time grid under the lines, the markers and the cursor over them.
    drawTimeAxis(p);
    for (int i = 0; i < int(channels_.size()); ++i)
        drawStrip(p, i, first, last);
    drawMarkers(p);
    if (cursorOn_ && cursorMs_ >= t0_ && cursorMs_ <= t1_) {
        const double x = xOf(cursorMs_);
        const QRectF a = plotArea();
        p.setPen(QPen(textColour_, 1));
        p.drawLine(QPointF(x, a.top()), QPointF(x, a.bottom()));
    }
}

ChartsPlot::StripSamples ChartsPlot::sampleStrip(int i, int count, std::size_t first,
                                                 std::size_t last) const {
    const auto& recs = *records_;
    const int channel = channels_[static_cast<std::size_t>(i)];
    const ChartChannel& ch = ChartChannels()[static_cast<std::size_t>(channel)];
    const QRectF s = stripRect(i);
    StripSamples samples;
    samples.columns.resize(static_cast<std::size_t>(count) + 2);
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    const double perPx = (t1_ - t0_) / s.width();
    for (std::size_t k = first; k < last; ++k) {
        const double v = ch.value(recs[k]);
        // Columns -1 and `count` take the records just outside the view.
        const int at =
            std::clamp(int(std::floor((double(recs[k].Time_Ms) - t0_) / perPx)), -1, count);
        StripColumn& c = samples.columns[static_cast<std::size_t>(at + 1)];
        if (!c.used) {
            c = {v, v, v, v, true};
        } else {
            c.low = std::min(c.low, v);
            c.high = std::max(c.high, v);
            c.last = v;
        }
        low = std::min(low, v);
        high = std::max(high, v);
    }
    samples.low = low;
    samples.high = high;
    return samples;
}

void ChartsPlot::drawStrip(QPainter& p, int i, std::size_t first, std::size_t last) const {
    const int channel = channels_[static_cast<std::size_t>(i)];
    const ChartChannel& ch = ChartChannels()[static_cast<std::size_t>(channel)];
    const QRectF s = stripRect(i);
    const int columns = std::max(1, int(std::ceil(s.width())));
    const StripSamples samples = sampleStrip(i, columns, first, last);
    double low = samples.low;
    double high = samples.high;
    if (!std::isfinite(low)) return;
    if (high - low < 1e-9) {
        const double pad = std::max(1.0, std::abs(high) * 0.05);
        low -= pad;
        high += pad;
    }
    const double pad = (high - low) * 0.08;
    low -= pad;
    high += pad;
    const auto y = [&](double v) { return s.bottom() - (v - low) / (high - low) * s.height(); };

    QPolygonF line;
    line.reserve(columns * 4 + 8);
    for (int k = 0; k < columns + 2; ++k) {
        const StripColumn& c = samples.columns[static_cast<std::size_t>(k)];
        if (!c.used) continue;
        const double x = s.left() + (k - 1) * s.width() / columns;
        line << QPointF(x, y(c.first));
        if (c.low != c.high) line << QPointF(x, y(c.low)) << QPointF(x, y(c.high));
        if (c.last != c.first || c.low != c.high) line << QPointF(x, y(c.last));
    }
    p.save();
    p.setClipRect(s);
    // A one-pixel cosmetic pen keeps the raster engine on its fast path: an hour of frames
    // is thousands of segments per strip.
    QPen pen(colourOf(ctx_, ch.colour), 1);
    pen.setCosmetic(true);
    p.setPen(pen);
    p.drawPolyline(line);
    p.restore();
    drawStripTexts(p, i, low + pad, high - pad);
}

void ChartsPlot::drawStripTexts(QPainter& p, int i, double low, double high) const {
    const int channel = channels_[static_cast<std::size_t>(i)];
    const ChartChannel& ch = ChartChannels()[static_cast<std::size_t>(channel)];
    const QRectF s = stripRect(i);
    p.setPen(textColour_);
    const QFontMetricsF fm(p.font());
    const double lh = fm.height();
    QString name = FromUtf8(ctx_.LangText(ch.nameKey)) +
                   QString::fromLatin1(ch.suffix.data(), qsizetype(ch.suffix.size()));
    if (!ch.unitKey.empty())
        name += QStringLiteral(" (") + FromUtf8(ctx_.LangText(ch.unitKey)) + QLatin1Char(')');
    p.setPen(colourOf(ctx_, ch.colour));
    p.drawText(QRectF(s.left() + 6, s.top() + 2, s.width() * 0.6, lh), Qt::AlignLeft | Qt::AlignTop,
               name);
    p.setPen(textColour_);
    if (cursorOn_) {
        if (const auto v = valueAt(channel, cursorMs_))
            p.drawText(QRectF(s.left(), s.top() + 2, s.width() - 6, lh),
                       Qt::AlignRight | Qt::AlignTop, valueText(channel, *v));
    }
    const QRectF left(0, 0, kLeftRoom - 4, lh);
    p.drawText(left.translated(0, s.top()), Qt::AlignRight | Qt::AlignTop,
               FromUtf8(FixedText(high, ch.decimals)));
    p.drawText(left.translated(0, s.bottom() - lh), Qt::AlignRight | Qt::AlignBottom,
               FromUtf8(FixedText(low, ch.decimals)));
}

void ChartsPlot::drawMarkers(QPainter& p) const {
    const QRectF a = plotArea();
    const auto from =
        std::lower_bound(markers_.begin(), markers_.end(), t0_,
                         [](const ChartMarker& m, double t) { return double(m.timeMs) < t; });
    const QFontMetricsF fm(p.font());
    double labelEnd = -1e9; // labels that would overlap are left out, the lines stay
    for (auto it = from; it != markers_.end() && double(it->timeMs) <= t1_; ++it) {
        const double x = xOf(double(it->timeMs));
        QColor colour;
        std::string_view key;
        Qt::PenStyle style = Qt::SolidLine;
        switch (it->kind) {
        case ChartMarker::Kind::Petrol:
            colour = colourOf(ctx_, Colour::Petrol);
            key = "Petrol";
            break;
        case ChartMarker::Kind::Gas:
            colour = colourOf(ctx_, Colour::Gas);
            key = "Gas";
            break;
        case ChartMarker::Kind::Automatic:
            colour = colourOf(ctx_, Colour::Automat);
            key = "Automat";
            break;
        case ChartMarker::Kind::ErrorsOn:
            colour = colourOf(ctx_, Colour::Txt_Error);
            key = "Charts_Errors_On";
            style = Qt::DashLine;
            break;
        case ChartMarker::Kind::ErrorsOff:
            colour = colourOf(ctx_, Colour::Txt_Complete);
            key = "Charts_Errors_Off";
            style = Qt::DashLine;
            break;
        }
        p.setPen(QPen(colour, 1, style));
        p.drawLine(QPointF(x, a.top()), QPointF(x, a.bottom()));
        const QString label = FromUtf8(ctx_.LangText(key));
        if (x >= labelEnd) {
            p.drawText(QPointF(x + 2, a.top() - 3), label);
            labelEnd = x + fm.horizontalAdvance(label) + 6;
        }
    }
}

void ChartsPlot::drawTimeAxis(QPainter& p) const {
    const QRectF a = plotArea();
    const double span = t1_ - t0_;
    double step = kSteps.back();
    for (const double s : kSteps) {
        if (s / span * a.width() >= 90) {
            step = s;
            break;
        }
    }
    p.setPen(QPen(colourOf(ctx_, Colour::Diagram_Grid), 1, Qt::DotLine));
    const QFontMetricsF fm(p.font());
    for (double t = std::ceil(t0_ / step) * step; t <= t1_; t += step) {
        const double x = xOf(t);
        p.setPen(QPen(colourOf(ctx_, Colour::Diagram_Grid), 1, Qt::DotLine));
        p.drawLine(QPointF(x, a.top()), QPointF(x, a.bottom()));
        p.setPen(textColour_);
        const QString label = timeText(t, step);
        const double w = fm.horizontalAdvance(label);
        p.drawText(QRectF(std::clamp(x - w / 2, a.left(), a.right() - w), a.bottom() + 2, w + 2,
                          kAxisHeight - 2),
                   Qt::AlignLeft | Qt::AlignVCenter, label);
    }
}

void ChartsPlot::mousePressEvent(QMouseEvent* event) {
    setFocus();
    if (event->button() != Qt::LeftButton) return;
    dragging_ = true;
    dragX_ = event->position().x();
}

void ChartsPlot::mouseMoveEvent(QMouseEvent* event) {
    const double x = event->position().x();
    if (dragging_) {
        // The log moves with the pointer.
        const double ms = (dragX_ - x) / plotArea().width() * (t1_ - t0_);
        dragX_ = x;
        pan(ms);
    }
    setCursorTime(timeAt(std::clamp(x, plotArea().left(), plotArea().right())));
}

void ChartsPlot::mouseReleaseEvent(QMouseEvent*) {
    dragging_ = false;
}

void ChartsPlot::mouseDoubleClickEvent(QMouseEvent*) {
    showAll();
}

void ChartsPlot::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) return;
    zoom(std::pow(1.25, notches), timeAt(event->position().x()));
    event->accept();
}

void ChartsPlot::keyPressEvent(QKeyEvent* event) {
    if (!KeyDown(event->key())) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool ChartsPlot::KeyDown(int key) {
    const double span = t1_ - t0_;
    const double centre =
        cursorOn_ && cursorMs_ >= t0_ && cursorMs_ <= t1_ ? cursorMs_ : (t0_ + t1_) / 2;
    switch (key) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(kKeyZoom, centre);
        break;
    case Qt::Key_Minus:
        zoom(1 / kKeyZoom, centre);
        break;
    case Qt::Key_Left:
        pan(-span * kKeyPanShare);
        break;
    case Qt::Key_Right:
        pan(span * kKeyPanShare);
        break;
    case Qt::Key_Home:
        setView(dataStart(), dataStart() + span);
        break;
    case Qt::Key_End:
        setView(dataEnd() - span, dataEnd());
        break;
    default:
        return false;
    }
    return true;
}

// ---- DriveGrid
// -------------------------------------------------------------------------------------

DriveGrid::DriveGrid(Context& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Charts_Grid"));
}

void DriveGrid::setLabelFont(const QFont& font, QColor colour) {
    font_ = font;
    textColour_ = colour;
    update();
}

QRectF DriveGrid::gridArea() const {
    // The legend takes the bottom.
    return QRectF(0, 0, width(), std::max(1.0, height() - 34.0));
}

QRectF DriveGrid::cellRect(int c, int r) const {
    const QRectF a = gridArea();
    const double w = a.width() / kMapGridCols;
    const double h = a.height() / kMapGridRows;
    return QRectF(a.left() + c * w, a.top() + r * h, w, h).adjusted(1, 1, -1, -1);
}

QColor DriveGrid::CellColour(double diffUs, double petrolUs) {
    // Full colour at a fifth of the petrol time.
    const double share = std::clamp(diffUs / std::max(petrolUs, 1.0) / 0.2, -1.0, 1.0);
    const int alpha = 60 + static_cast<int>(std::lround(std::abs(share) * 170));
    return share >= 0 ? QColor(40, 110, 255, alpha) : QColor(235, 50, 40, alpha);
}

void DriveGrid::paintEvent(QPaintEvent*) {
    QPainter p(this);
    draw(p);
}

void DriveGrid::draw(QPainter& p) const {
    p.setRenderHint(QPainter::Antialiasing, false);
    const RpmMap& m = ctx_.rpmMap;
    QFont big = font_;
    QFont small = font_;
    const QRectF probe = cellRect(1, 1);
    big.setPixelSize(std::clamp(int(probe.height() * 0.30), 7, 22));
    small.setPixelSize(std::clamp(int(probe.height() * 0.24), 6, 16));
    const QColor headerFill(0, 0, 0, 120);
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            const QRectF box = cellRect(c, r);
            if (c == 0 || r == 0) {
                p.fillRect(box, headerFill);
                if (c == 0 && r == 0) continue;
                p.setFont(big);
                p.setPen(textColour_);
                const QString text =
                    m.Grid_Built
                        ? FromUtf8(
                              m.Map_Text[static_cast<std::size_t>(c)][static_cast<std::size_t>(r)])
                        : QString();
                p.drawText(box, Qt::AlignCenter, text);
                continue;
            }
            const DriveCell* cell =
                analysis_ != nullptr
                    ? &analysis_->Cells[static_cast<std::size_t>(c)][static_cast<std::size_t>(r)]
                    : nullptr;
            if (cell == nullptr || (cell->Samples == 0 && !cell->Suggested)) {
                p.fillRect(box, QColor(0, 0, 0, 50));
                continue;
            }
            // A cell without gas samples of its own can still be asked for a factor: the
            // petrol-mode time of samples elsewhere lies in it.
            p.fillRect(box, cell->Samples > 0 ? CellColour(cell->Mean_Diff_Us, cell->Mean_Petrol_Us)
                                              : QColor(0, 0, 0, 50));
            const double third = box.height() / 3;
            p.setPen(textColour_);
            p.setFont(big);
            const QString diff = cell->Samples == 0
                                     ? QStringLiteral("\u2013")
                                     : (cell->Mean_Diff_Us >= 0 ? QStringLiteral("+") : QString()) +
                                           FromUtf8(FixedText(cell->Mean_Diff_Us / 1000.0, 2));
            p.drawText(QRectF(box.left(), box.top(), box.width(), third), Qt::AlignCenter, diff);
            p.setFont(small);
            p.drawText(QRectF(box.left(), box.top() + third, box.width(), third), Qt::AlignCenter,
                       QStringLiteral("n %1").arg(cell->Samples));
            QString factor = FromUtf8(FixedText(cell->Factor / 100.0, 2));
            if (cell->Suggested)
                factor +=
                    QStringLiteral(" \u2192 ") + FromUtf8(FixedText(*cell->Suggested / 100.0, 2));
            p.setPen(cell->Suggested
                         ? textColour_
                         : QColor(textColour_.red(), textColour_.green(), textColour_.blue(), 130));
            p.drawText(QRectF(box.left(), box.top() + 2 * third, box.width(), third),
                       Qt::AlignCenter, factor);
        }
    }
    p.setFont(big);
    p.setPen(textColour_);
    p.drawText(cellRect(0, 0), Qt::AlignCenter, QStringLiteral("ms\\rpm"));

    // The legend: lean (blue) through none to rich (red).
    const QRectF a = gridArea();
    const QRectF bar(a.width() * 0.3, a.bottom() + 8, a.width() * 0.4, 14);
    QLinearGradient g(bar.topLeft(), bar.topRight());
    g.setColorAt(0, CellColour(-1000, 5000));
    g.setColorAt(0.5, QColor(0, 0, 0, 50));
    g.setColorAt(1, CellColour(1000, 5000));
    p.fillRect(bar, g);
    p.setFont(small);
    p.drawText(QRectF(0, bar.top() - 4, bar.left() - 8, bar.height() + 8),
               Qt::AlignRight | Qt::AlignVCenter, FromUtf8(ctx_.LangText("Charts_Grid_Rich")));
    p.drawText(
        QRectF(bar.right() + 8, bar.top() - 4, a.width() - bar.right() - 8, bar.height() + 8),
        Qt::AlignLeft | Qt::AlignVCenter, FromUtf8(ctx_.LangText("Charts_Grid_Lean")));
}

} // namespace bifuel::ui
