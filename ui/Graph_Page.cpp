#include "Graph_Page.h"

#include "Hud_Window.h"

#include "Context.h"
#include "calibration/Calibr_Create.h"
#include "calibration/Calibr_Ctrl.h"
#include "calibration/Calibr_Unit.h"

#include <QCheckBox>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace bifuel::ui {
namespace {

// Design places on the page's panel (616 x 473). The canvas holds the gas scale (30 wide),
// the diagram (549 x 377), the manifold scale (32 wide) and the petrol scale (22 high).
constexpr QRectF kCanvas(3, 23, 611, 399);
constexpr double kGasScaleW = 30;
constexpr double kDiagramW = 549;
constexpr double kDiagramH = 377;
constexpr double kManifoldScaleW = 32;
constexpr double kPetrolScaleH = 22;
constexpr double kLegendCircle = 11;
constexpr double kHitSlack = 3; // pixels around a circle that still take it

QString text(const std::string& s) {
    return FromUtf8(s);
}

QColor colourOf(const Context& ctx, Colour c) {
    return ColourFromText(ctx.colours.ColourOf(c));
}

DiagramMouseButton buttonOf(Qt::MouseButton b) {
    switch (b) {
    case Qt::RightButton:
        return DiagramMouseButton::Right;
    case Qt::MiddleButton:
        return DiagramMouseButton::Middle;
    default:
        return DiagramMouseButton::Left;
    }
}

DiagramShift shiftOf(const QMouseEvent* e) {
    DiagramShift s;
    s.shift = e->modifiers().testFlag(Qt::ShiftModifier);
    s.ctrl = e->modifiers().testFlag(Qt::ControlModifier);
    s.alt = e->modifiers().testFlag(Qt::AltModifier);
    s.left = e->buttons().testFlag(Qt::LeftButton);
    s.right = e->buttons().testFlag(Qt::RightButton);
    s.middle = e->buttons().testFlag(Qt::MiddleButton);
    return s;
}

// A one-pixel line on the pixel grid, so the grid stays sharp at every scale.
void crispHorizontal(QPainter& p, double x1, double x2, double y) {
    const double py = std::floor(y) + 0.5;
    p.drawLine(QPointF(x1, py), QPointF(x2, py));
}
void crispVertical(QPainter& p, double x, double y1, double y2) {
    const double px = std::floor(x) + 0.5;
    p.drawLine(QPointF(px, y1), QPointF(px, y2));
}

QPointF lineEnd(const DiagramLine& l) {
    const double a = l.angle * std::numbers::pi / 180;
    return {l.x + l.length * std::cos(a), l.y + l.length * std::sin(a)};
}

void drawLine(QPainter& p, const DiagramLine& l, QColor colour, double k) {
    p.setPen(QPen(colour, l.thickness * k, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(l.x, l.y), lineEnd(l));
}

void drawCircle(QPainter& p, double x, double y, double diameter, QColor fill) {
    const double r = diameter / 2;
    p.setPen(QPen(fill.lighter(160), std::max(1.0, diameter / 10)));
    p.setBrush(fill);
    p.drawEllipse(QPointF(x, y), r, r);
}

// A MAP list: its polyline in band order and a circle on each recorded band.
void drawTrace(QPainter& p, const MapTrace& t, QColor colour, double k) {
    for (int i = 0; i < t.lineCount; ++i)
        drawLine(p, t.lines[static_cast<std::size_t>(i)], colour, k);
    for (int i = 0; i < t.circleCount; ++i) {
        const DiagramCircle& c = t.circles[static_cast<std::size_t>(i)];
        drawCircle(p, c.x, c.y, c.size * k, colour);
    }
}

} // namespace

std::size_t ViewSignature(const DiagramView& v) {
    std::size_t h = 0;
    auto mix = [&h](double value) { h = h * 1000003u ^ std::hash<double>{}(value); };
    for (const DiagramCircle& c : v.Points) {
        mix(c.x);
        mix(c.y);
        mix(static_cast<double>(c.colour));
    }
    for (const DiagramCircle& c : v.Proposed_Points)
        mix(v.Proposed_Visible ? c.y : -1);
    mix(v.Guides_Visible);
    mix(v.Live_Petrol_Gas.x);
    mix(v.Live_Petrol_Gas.y);
    mix(v.Live_Petrol_Vacuum.visible ? v.Live_Petrol_Vacuum.y : -1);
    mix(v.Map_Visible);
    mix(v.Map_Gas.circleCount);
    mix(v.Map_Petrol.circleCount);
    for (int i = 0; i < v.Map_Gas.circleCount; ++i)
        mix(v.Map_Gas.circles[static_cast<std::size_t>(i)].x);
    for (int i = 0; i < v.Map_Petrol.circleCount; ++i)
        mix(v.Map_Petrol.circles[static_cast<std::size_t>(i)].x);
    mix(v.Image_CLB_Scale_Manifuld.visible);
    mix(v.Circle_CLB_Manifuld.visible);
    mix(static_cast<double>(v.Gas_Scale_Labels.size()));
    return h;
}

// ---- DiagramCanvas ----------------------------------------------------------------------

DiagramCanvas::DiagramCanvas(Context& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Image_CLB_Diagram"));
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

QRectF DiagramCanvas::diagramRect() const {
    const double sx = width() / kCanvas.width();
    const double sy = height() / kCanvas.height();
    return {kGasScaleW * sx, 0, kDiagramW * sx, kDiagramH * sy};
}

double DiagramCanvas::lookScale() const {
    const double sx = width() / kCanvas.width();
    const double sy = height() / kCanvas.height();
    return std::max(0.75, std::min(sx, sy));
}

double DiagramCanvas::pointRadius() const {
    return kPointCircleSize * lookScale() / 2;
}

QPointF DiagramCanvas::pointCentre(int i) const {
    const DiagramCircle& c = ctx_.diagramView.Points.at(static_cast<std::size_t>(i));
    return diagramOrigin() + QPointF(c.x, c.y);
}

void DiagramCanvas::setLabelFont(const QFont& font, QColor colour) {
    labelFont_ = font;
    labelColour_ = colour;
    update();
}

void DiagramCanvas::reportGeometry() {
    const double sx = width() / kCanvas.width();
    const double sy = height() / kCanvas.height();
    DiagramGeometry g;
    g.Diagram_Width = kDiagramW * sx;
    g.Diagram_Height = kDiagramH * sy;
    g.Gas_Scale_Width = kGasScaleW * sx;
    g.Gas_Scale_Height = kDiagramH * sy;
    g.Petrol_Scale_Width = kDiagramW * sx;
    g.Petrol_Scale_Height = kPetrolScaleH * sy;
    g.Manifuld_Scale_Width = kManifoldScaleW * sx;
    if (g == ctx_.diagramView.geometry) return;
    SetDiagramGeometry(ctx_, g);
    changed();
}

void DiagramCanvas::resizeEvent(QResizeEvent*) {
    reportGeometry();
}

void DiagramCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    draw(p);
    if (onPainted) onPainted();
}

QFont DiagramCanvas::scaleFont() const {
    QFont font = labelFont_;
    font.setPixelSize(
        std::max(6, static_cast<int>(std::lround((font.pointSizeF() > 0 ? font.pointSizeF() : 10) *
                                                 lookScale()))));
    return font;
}

const QPixmap& DiagramCanvas::backdrop() const {
    const DiagramView& v = ctx_.diagramView;
    const QColor grid = colourOf(ctx_, Colour::Diagram_Grid);
    const qreal dpr = devicePixelRatioF();
    std::size_t key = std::hash<QString>{}(labelFont_.toString());
    for (const double part :
         {double(width()), double(height()), double(dpr), double(labelColour_.rgba()),
          double(grid.rgba()), double(v.Image_CLB_Scale_Manifuld.visible),
          double(v.Gas_Scale_Labels.size())})
        key = key * 1000003u ^ std::hash<double>{}(part);
    if (key == backdropKey_ && !backdrop_.isNull()) return backdrop_;
    backdropKey_ = key;
    backdrop_ = QPixmap((QSizeF(size()) * dpr).toSize());
    backdrop_.setDevicePixelRatio(dpr);
    backdrop_.fill(Qt::transparent);
    QPainter p(&backdrop_);
    const QRectF area = diagramRect();
    const double k = lookScale();
    const double w = area.width();
    const double h = area.height();

    // Scales: numbers beside their grid lines.
    p.setFont(scaleFont());
    p.setPen(labelColour_);
    const double labelH = 16 * k;
    for (const DiagramLabel& l : v.Gas_Scale_Labels) {
        const double cy = l.rect.y + l.rect.height / 2;
        p.drawText(QRectF(0, cy - labelH / 2, area.left() - 3 * k, labelH),
                   Qt::AlignRight | Qt::AlignVCenter, text(l.text));
    }
    if (v.Image_CLB_Scale_Manifuld.visible) {
        const double left = area.right() + 3 * k;
        for (const DiagramLabel& l : v.Manifuld_Scale_Labels) {
            const double cy = l.rect.y + l.rect.height / 2;
            p.drawText(QRectF(left, cy - labelH / 2, width() - left, labelH),
                       Qt::AlignLeft | Qt::AlignVCenter, text(l.text));
        }
    }
    for (const DiagramLabel& l : v.Petrol_Scale_Labels) {
        const double cx = area.left() + l.rect.x + 10; // the label box starts 10 before its line
        p.drawText(QRectF(cx - 20 * k, area.bottom() + 1, 40 * k, labelH),
                   Qt::AlignHCenter | Qt::AlignTop, text(l.text));
    }
    p.translate(area.topLeft());
    p.fillRect(QRectF(0, 0, w, h), QColor(0, 0, 0, 60));
    p.setPen(QPen(grid, 1));
    for (const DiagramRect& r : v.Grid_Horizontal)
        crispHorizontal(p, 0, w, std::min(r.y, h - 1));
    for (const DiagramRect& r : v.Grid_Vertical)
        crispVertical(p, std::min(r.x, w - 1), 0, h);
    return backdrop_;
}

void DiagramCanvas::draw(QPainter& p) const {
    const DiagramView& v = ctx_.diagramView;
    const QRectF area = diagramRect();
    const double k = lookScale();
    const double w = area.width();
    const double h = area.height();
    // What changes only with the size, the fonts and the colours comes from a picture.
    p.drawPixmap(QPointF(0, 0), backdrop());

    p.save();
    p.translate(area.topLeft());
    p.setClipRect(QRectF(-kPointCircleSize * k, -kPointCircleSize * k, w + 2 * kPointCircleSize * k,
                         h + 2 * kPointCircleSize * k));
    p.setRenderHint(QPainter::Antialiasing);
    if (v.Map_Visible) drawMap(p, k);
    if (v.Guides_Visible) drawGuides(p, w, h);
    const QColor line = colourOf(ctx_, Colour::Diagram);
    for (const DiagramLine& l : v.Lines)
        drawLine(p, l, line, k);
    drawPoints(p, k);
    if (v.Proposed_Visible) drawProposal(p, k);
    drawLivePoints(p, k);
    drawLegend(p, k);
    p.restore();

    // The diagram's frame over everything drawn inside it.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colourOf(ctx_, Colour::Diagram_Grid).lighter(130), 1));
    p.drawRect(QRectF(std::floor(area.left()) + 0.5, 0.5, std::floor(w) - 1, std::floor(h) - 1));
}

void DiagramCanvas::drawMap(QPainter& p, double k) const {
    const DiagramView& v = ctx_.diagramView;
    const QColor pair = colourOf(ctx_, Colour::Map_Point_Line);
    for (int i = 0; i < v.Map_Pair_Count; ++i)
        drawLine(p, v.Map_Pairs[static_cast<std::size_t>(i)], pair, k);
    drawTrace(p, v.Map_Petrol, colourOf(ctx_, Colour::Map_Point_Petrol), k);
    drawTrace(p, v.Map_Gas, colourOf(ctx_, Colour::Map_Point_Gas), k);
}

void DiagramCanvas::drawGuides(QPainter& p, double w, double h) const {
    const DiagramView& v = ctx_.diagramView;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(colourOf(ctx_, Colour::Diagram_Marked), 1, Qt::DashLine));
    crispVertical(p, v.Guide_Lines[0].x, 0, h);
    crispVertical(p, std::min(v.Guide_Lines[1].x, w - 1), 0, h);
    crispHorizontal(p, v.Guide_Lines[2].x, v.Guide_Lines[2].x + v.Guide_Lines[2].width, 0);
    crispHorizontal(p, v.Guide_Lines[3].x, v.Guide_Lines[3].x + v.Guide_Lines[3].width, h - 1);
    p.setRenderHint(QPainter::Antialiasing);
}

// The nine points, each with the number the digit keys take it by.
void DiagramCanvas::drawPoints(QPainter& p, double k) const {
    const DiagramView& v = ctx_.diagramView;
    QFont numbers = scaleFont();
    numbers.setPixelSize(std::max(6, static_cast<int>(std::lround(9 * k))));
    numbers.setBold(true);
    if (numbers != numbersFont_) {
        numbersFont_ = numbers;
        for (std::size_t i = 0; i < numbers_.size(); ++i) {
            numbers_[i].setText(QString::number(i));
            numbers_[i].prepare(QTransform(), numbers);
        }
    }
    p.setFont(numbers);
    for (std::size_t i = 0; i < v.Points.size(); ++i) {
        const DiagramCircle& c = v.Points[i];
        const QColor fill = colourOf(ctx_, c.colour);
        drawCircle(p, c.x, c.y, c.size * k, fill);
        p.setPen(fill.lightness() > 140 ? QColor(10, 14, 20) : QColor(245, 248, 255));
        const QSizeF size = numbers_[i].size();
        p.drawStaticText(QPointF(c.x - size.width() / 2, c.y - size.height() / 2), numbers_[i]);
    }
}

// The proposal over the diagram it would replace.
void DiagramCanvas::drawProposal(QPainter& p, double k) const {
    const DiagramView& v = ctx_.diagramView;
    const QColor recalc = colourOf(ctx_, Colour::Diagram_ReCalc);
    for (const DiagramLine& l : v.Proposed_Lines)
        drawLine(p, l, recalc, k);
    for (const DiagramCircle& c : v.Proposed_Points)
        drawCircle(p, c.x, c.y, c.size * k, recalc);
}

void DiagramCanvas::drawLivePoints(QPainter& p, double k) const {
    const DiagramView& v = ctx_.diagramView;
    const DiagramCircle& live = v.Live_Petrol_Gas;
    drawCircle(p, live.x, live.y, live.size * k, colourOf(ctx_, live.colour));
    if (v.Live_Petrol_Vacuum_Exists && v.Live_Petrol_Vacuum.visible) {
        const DiagramCircle& vac = v.Live_Petrol_Vacuum;
        drawCircle(p, vac.x, vac.y, vac.size * k, colourOf(ctx_, vac.colour));
    }
}

// The legend, top left inside the diagram.
void DiagramCanvas::drawLegend(QPainter& p, double k) const {
    const DiagramView& v = ctx_.diagramView;
    p.setFont(scaleFont());
    const LanguageView& t = ctx_.languageView;
    auto legend = [&](double y, Colour c, const std::string& caption) {
        drawCircle(p, (5 + kLegendCircle / 2) * k, (y + kLegendCircle / 2) * k, kLegendCircle * k,
                   colourOf(ctx_, c));
        p.setPen(labelColour_);
        p.drawText(QRectF(23 * k, y * k - 3 * k, 200 * k, (kLegendCircle + 6) * k),
                   Qt::AlignLeft | Qt::AlignVCenter, text(caption));
    };
    legend(6, Colour::Diagram_Gas, t.HudLabel_CLB_Gas);
    if (v.Circle_CLB_Manifuld.visible) legend(25, Colour::Diagram_Vacuum, t.HudLabel_CLB_Manifuld);
}

int DiagramCanvas::circleAt(QPointF local) const {
    const DiagramView& v = ctx_.diagramView;
    const double reach = pointRadius() + kHitSlack;
    int best = -1;
    double bestDistance = reach;
    const std::int32_t selected = ctx_.diagram.Selected_Point;
    for (int i = 0; i < kDiagramPoints; ++i) {
        const DiagramCircle& c = v.Points[static_cast<std::size_t>(i)];
        const double d = std::hypot(local.x() - c.x, local.y() - c.y);
        if (d > reach) continue;
        if (i == selected) return i;
        if (d < bestDistance || best == -1) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

QPointF DiagramCanvas::inCircle(int circle, QPointF local) const {
    const DiagramCircle& c = ctx_.diagramView.Points.at(static_cast<std::size_t>(circle));
    return {local.x() - (c.x - c.size / 2), local.y() - (c.y - c.size / 2)};
}

void DiagramCanvas::updateCursor(QPointF local) {
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (pressedCircle_ >= 0 && ctx_.diagram.Dragging &&
        ctx_.diagram.Selected_Point == pressedCircle_) {
        shape = Qt::ClosedHandCursor;
    } else if (diagramRect().translated(-diagramOrigin()).contains(local)) {
        const int n = circleAt(local);
        shape = n >= 0 && !IsShownIdlePoint(ctx_, n + 1) ? Qt::PointingHandCursor : Qt::CrossCursor;
    }
    if (cursor().shape() != shape) setCursor(shape);
}

void DiagramCanvas::changed() {
    update();
    if (onChanged) onChanged();
}

void DiagramCanvas::mousePressEvent(QMouseEvent* event) {
    const QPointF local = event->position() - diagramOrigin();
    if (!QRectF(QPointF(), diagramRect().size()).contains(local)) return;
    const int n = circleAt(local);
    if (n >= 0) {
        const QPointF at = inCircle(n, local);
        Circle_CLB_PointMouseDown(ctx_, n + 1, buttonOf(event->button()), shiftOf(event), at.x(),
                                  at.y());
        pressedCircle_ = n;
    } else {
        Image_CLB_DiagramMouseDown(ctx_, buttonOf(event->button()), shiftOf(event), local.x(),
                                   local.y());
    }
    updateCursor(local);
    changed();
}

void DiagramCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPointF local = event->position() - diagramOrigin();
    const bool inside = QRectF(QPointF(), diagramRect().size()).contains(local);
    if (pressedCircle_ >= 0) {
        // The circle a button went down on keeps the pointer until the button comes up,
        // wherever the pointer goes.
        const QPointF at = inCircle(pressedCircle_, local);
        Circle_CLB_PointMouseMove(ctx_, pressedCircle_ + 1, shiftOf(event), at.x(), at.y());
    } else if (inside) {
        const int n = circleAt(local);
        if (n >= 0) {
            const QPointF at = inCircle(n, local);
            Circle_CLB_PointMouseMove(ctx_, n + 1, shiftOf(event), at.x(), at.y());
        } else {
            Image_CLB_DiagramMouseMove(ctx_, shiftOf(event), local.x(), local.y());
        }
    } else {
        updateCursor(local);
        return;
    }
    updateCursor(local);
    changed();
}

void DiagramCanvas::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF local = event->position() - diagramOrigin();
    if (pressedCircle_ >= 0) {
        const int n = pressedCircle_;
        pressedCircle_ = -1;
        const QPointF at = inCircle(n, local);
        Circle_CLB_PointMouseUp(ctx_, n + 1, buttonOf(event->button()), shiftOf(event), at.x(),
                                at.y());
    } else if (QRectF(QPointF(), diagramRect().size()).contains(local)) {
        Image_CLB_DiagramMouseUp(ctx_, buttonOf(event->button()), shiftOf(event), local.x(),
                                 local.y());
    } else {
        return;
    }
    updateCursor(local);
    changed();
}

// ---- GraphPage --------------------------------------------------------------------------

GraphPage::GraphPage(Context& ctx, DesignLayout* panel) : QObject(panel), ctx_(ctx), panel_(panel) {
    build();
    buildPanels();
    // The live points move with the reply that carries them.
    subscriptions_.push_back(ctx_.events.liveData.subscribe([this] {
        if (!panel_->isVisible()) return;
        drawn_ = ViewSignature(ctx_.diagramView);
        canvas_->update();
    }));
    panel_->installEventFilter(this);
    ApplyTexts();
}

HudButton* GraphPage::actionButton(QWidget* parent, const char* name, std::function<void()> click) {
    auto* b = new HudButton(QString(), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setFocusPolicy(Qt::NoFocus);
    connect(b, &QAbstractButton::clicked, this, [this, click = std::move(click)] {
        click();
        Refresh();
    });
    return b;
}

HudButton* GraphPage::button(const char* name, QRectF design, std::function<void()> click) {
    HudButton* b = actionButton(panel_, name, std::move(click));
    panel_->place(b, design);
    return b;
}

void GraphPage::build() {
    canvas_ = new DiagramCanvas(ctx_, panel_);
    panel_->place(canvas_, kCanvas);
    canvas_->onChanged = [this] { showPanels(); };

    auto label = [this](const char* name, QRectF design, Qt::Alignment align) {
        auto* l = new HudLabel(panel_);
        l->setObjectName(QString::fromLatin1(name));
        l->setAlignment(align);
        l->setShrinkToFit(true);
        panel_->place(l, design);
        return l;
    };
    gasTitle_ =
        label("HudLabel_CLB_Scale_Gas", QRectF(6, 4, 96, 17), Qt::AlignLeft | Qt::AlignVCenter);
    position_ = label("HudLabel_CLB_Position", QRectF(105, 4, 418, 17), Qt::AlignCenter);
    manifoldTitle_ = label("HudLabel_CLB_Scale_Manifuld", QRectF(526, 4, 86, 17),
                           Qt::AlignRight | Qt::AlignVCenter);
    petrolTitle_ = label("HudLabel_CLB_Scale_Petrol", QRectF(233, 416, 160, 14), Qt::AlignCenter);

    // The bottom band: the idle-run box, the MAP collection and the MAP deletion.
    idleRun_ = new QCheckBox(panel_);
    idleRun_->setObjectName(QStringLiteral("HudCheckBox_CLB_Idle_Run"));
    idleRun_->setFocusPolicy(Qt::NoFocus);
    panel_->place(idleRun_, QRectF(8, 448, 150, 20));
    connect(idleRun_, &QAbstractButton::clicked, this, [this](bool on) {
        HudCheckBox_CLB_Idle_RunChange(ctx_, on);
        Refresh();
    });
    collection_ = label("HudLabel_CLB_MAP_Collection", QRectF(166, 431, 250, 14),
                        Qt::AlignLeft | Qt::AlignVCenter);
    mapStart_ = button("HudButton_CLB_MAP_Start", QRectF(166, 447, 78, 22),
                       [this] { HudButton_CLB_MAP_StartClick(ctx_); });
    // Start stays pressed while the collection is on.
    mapStart_->setCheckable(true);
    mapStop_ = button("HudButton_CLB_MAP_Stop", QRectF(248, 447, 78, 22),
                      [this] { HudButton_CLB_MAP_StopClick(ctx_); });
    mapToCount_ = button("HudButton_CLB_MAP_To_Count", QRectF(330, 447, 86, 22),
                         [this] { HudButton_CLB_MAP_To_CountClick(ctx_); });
    deleteTitle_ = label("HudLabel_CLB_MAP_Delete", QRectF(432, 431, 178, 14),
                         Qt::AlignLeft | Qt::AlignVCenter);
    mapDelGas_ = button("HudButton_CLB_MAP_Del_Gas", QRectF(432, 447, 87, 22),
                        [this] { HudButton_CLB_MAP_Del_GasClick(ctx_); });
    mapDelPetrol_ = button("HudButton_CLB_MAP_Del_Petrol", QRectF(523, 447, 87, 22),
                           [this] { HudButton_CLB_MAP_Del_PetrolClick(ctx_); });
}

void GraphPage::buildPanels() {
    history_ = new DesignLayout(QSizeF(103, 75), canvas_);
    history_->setObjectName(QStringLiteral("History_Panel"));
    history_->setPanelLook(true, 0.95);
    historyTitle_ = new HudLabel(history_);
    historyTitle_->setAlignment(Qt::AlignCenter);
    historyTitle_->setShrinkToFit(true);
    historyBack_ =
        actionButton(history_, "HudButton_CLB_History_Back", [this] { HistoryBack(ctx_); });
    historyForward_ =
        actionButton(history_, "HudButton_CLB_History_Forward", [this] { HistoryForward(ctx_); });
    history_->hide();

    prompt_ = new DesignLayout(QSizeF(1, 1), canvas_);
    prompt_->setObjectName(QStringLiteral("Prompt_Panel"));
    prompt_->setPanelLook(true, 0.95);
    promptInner_ = new DesignLayout(QSizeF(1, 1), prompt_);
    promptInner_->setPanelLook(true, 0.6);
    promptText_ = new HudLabel(promptInner_);
    promptText_->setAlignment(Qt::AlignCenter);
    promptText_->setWordWrap(true);
    promptText_->setShrinkToFit(true);
    promptInner_->place(promptText_, QRectF(0, 0, 1, 1));
    promptButton1_ =
        actionButton(prompt_, "HudButton_CLB_Prompt_1", [this] { PromptButton1Click(ctx_); });
    promptButton2_ =
        actionButton(prompt_, "HudButton_CLB_Prompt_2", [this] { PromptButton2Click(ctx_); });
    prompt_->hide();
}

bool GraphPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel_ && event->type() == QEvent::Resize) {
        ApplyFonts(); // the check box's text has a pixel size
        showPanels();
    }
    return QObject::eventFilter(watched, event);
}

void GraphPage::showPanels() {
    showHistoryPanel();
    showPromptPanel();
    position_->setText(text(ctx_.diagramView.HudLabel_CLB_Position.text));
}

void GraphPage::showHistoryPanel() {
    const HistoryPanelView& h = ctx_.diagramView.History_Panel;
    if (!h.open) {
        history_->hide();
        return;
    }
    // The panel's design size is the core's; it grows with the page like everything else,
    // about the pointer that opened it.
    const double k = canvas_->lookScale();
    const double cx = h.panel.x + h.panel.width / 2;
    const double cy = h.panel.y + 34;
    const QPointF o = canvas_->diagramOrigin();
    const QRectF r(o.x() + cx - h.panel.width / 2 * k, o.y() + cy - 34 * k, h.panel.width * k,
                   h.panel.height * k);
    history_->setDesignSize(QSizeF(h.panel.width, h.panel.height));
    history_->place(historyTitle_, QRectF(h.label.rect.x, h.label.rect.y, h.label.rect.width,
                                          h.label.rect.height));
    history_->place(historyBack_,
                    QRectF(h.back.rect.x, h.back.rect.y, h.back.rect.width, h.back.rect.height));
    history_->place(historyForward_, QRectF(h.forward.rect.x, h.forward.rect.y,
                                            h.forward.rect.width, h.forward.rect.height));
    history_->setGeometry(r.toAlignedRect());
    history_->setFontScale(k);
    history_->relayout();
    historyTitle_->setText(text(h.label.text));
    historyBack_->setText(text(h.back.text));
    historyForward_->setText(text(h.forward.text));
    historyBack_->setEnabled(h.back.enabled);
    historyForward_->setEnabled(h.forward.enabled);
    if (!history_->isVisible()) {
        ApplyHistoryFont();
        history_->show();
        history_->raise();
    }
}

void GraphPage::showPromptPanel() {
    const PromptPanelView& pv = ctx_.diagramView.Prompt_Panel;
    if (!pv.open) {
        prompt_->hide();
        return;
    }
    const QPointF o = canvas_->diagramOrigin();
    const auto rect = [](const DiagramRect& r) { return QRectF(r.x, r.y, r.width, r.height); };
    prompt_->setDesignSize(QSizeF(std::max(1.0, pv.outer.width), std::max(1.0, pv.outer.height)));
    prompt_->place(promptInner_, rect(pv.inner));
    promptInner_->setDesignSize(
        QSizeF(std::max(1.0, pv.inner.width), std::max(1.0, pv.inner.height)));
    promptInner_->place(promptText_, QRectF(2, 0, std::max(1.0, pv.inner.width - 4),
                                            std::max(1.0, pv.inner.height)));
    prompt_->place(promptButton1_, rect(pv.button1.rect));
    prompt_->place(promptButton2_, rect(pv.button2.rect));
    prompt_->setGeometry(rect(pv.outer).translated(o).toAlignedRect());
    prompt_->setFontScale(canvas_->lookScale());
    prompt_->relayout();
    promptText_->setText(text(pv.text));
    promptButton1_->setText(text(pv.button1.text));
    promptButton1_->setEnabled(pv.button1.enabled);
    promptButton2_->setText(text(pv.button2.text));
    promptButton2_->setEnabled(pv.button2.enabled);
    promptButton2_->setVisible(pv.button2.visible);
    if (!prompt_->isVisible()) {
        ApplyPromptFont();
        prompt_->show();
        prompt_->raise();
    }
}

void GraphPage::Refresh() {
    const DiagramView& v = ctx_.diagramView;
    const LinkView& lv = ctx_.view;
    ApplyTexts();
    mapStart_->setEnabled(lv.HudButton_CLB_MAP_Start.enabled);
    mapStop_->setEnabled(lv.HudButton_CLB_MAP_Stop.enabled);
    mapToCount_->setEnabled(v.HudButton_CLB_MAP_To_Count.enabled);
    mapDelGas_->setEnabled(v.HudButton_CLB_MAP_Del_Gas.enabled);
    mapDelPetrol_->setEnabled(v.HudButton_CLB_MAP_Del_Petrol.enabled);
    mapStart_->setChecked(ctx_.config.Save_Map && ctx_.link.ECU_Connected);
    manifoldTitle_->setVisible(v.HudLabel_CLB_Scale_Manifuld.visible);
    if (idleRun_->isChecked() != ctx_.settings.Idle_Points)
        idleRun_->setChecked(ctx_.settings.Idle_Points);
    showPanels();
    // Loads, resets and history steps change the view between live replies (and while no
    // ECU answers at all); an unchanged view is not drawn again.
    const std::size_t drawn = ViewSignature(v);
    if (drawn != drawn_ && panel_->isVisible()) {
        drawn_ = drawn;
        canvas_->update();
    }
}

void GraphPage::ApplyTexts() {
    const LanguageView& t = ctx_.languageView;
    gasTitle_->setText(text(t.HudLabel_CLB_Scale_Gas));
    manifoldTitle_->setText(text(t.HudLabel_CLB_Scale_Manifuld));
    petrolTitle_->setText(text(t.HudLabel_CLB_Scale_Petrol));
    collection_->setText(text(t.HudLabel_CLB_MAP_Collection));
    deleteTitle_->setText(text(t.HudLabel_CLB_MAP_Delete));
    mapStart_->setText(text(t.HudButton_CLB_MAP_Start));
    mapStop_->setText(text(t.HudButton_CLB_MAP_Stop));
    mapToCount_->setText(text(t.HudButton_CLB_MAP_To_Count));
    mapDelGas_->setText(text(t.HudButton_CLB_MAP_Del_Gas));
    mapDelPetrol_->setText(text(t.HudButton_CLB_MAP_Del_Petrol));
    if (idleRun_->text() != text(t.HudCheckBox_CLB_Idle_Run))
        idleRun_->setText(text(t.HudCheckBox_CLB_Idle_Run));
    position_->setText(text(ctx_.diagramView.HudLabel_CLB_Position.text));
}

QFont GraphPage::pageFont() const {
    const Settings_Class& s = ctx_.settings;
    return ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
}

QColor GraphPage::general() const {
    return ColourFromText(ctx_.colours.ColourOf(0));
}

void GraphPage::ApplyFonts() {
    const QFont font = pageFont();
    const QColor c = general();
    for (HudLabel* l :
         {gasTitle_, position_, manifoldTitle_, petrolTitle_, collection_, deleteTitle_}) {
        l->setDesignFont(font);
        l->setColour(c);
    }
    for (HudButton* b : {mapStart_, mapStop_, mapToCount_, mapDelGas_, mapDelPetrol_}) {
        b->setDesignFont(font);
        b->setTextColour(c);
    }
    const QString style = EditorStyle(c);
    if (idleRun_->styleSheet() != style) idleRun_->setStyleSheet(style);
    QFont box = font;
    box.setPixelSize(
        std::max(6, static_cast<int>(std::lround(ctx_.settings.Font_Size * panel_->scaleY()))));
    if (idleRun_->font() != box) idleRun_->setFont(box);
    ApplyScaleFonts();
    ApplyHistoryFont();
    ApplyPromptFont();
}

void GraphPage::ApplyScaleFonts() {
    const Settings_Class& s = ctx_.settings;
    // The numbers of the scales stay a little smaller than the page's text.
    canvas_->setLabelFont(ProgramFont(s.Font_Name, std::max(7.0, s.Font_Size - 1.0), s.Font_Style),
                          general());
}

void GraphPage::ApplyHistoryFont() {
    const QFont font = pageFont();
    const QColor c = general();
    historyTitle_->setDesignFont(font);
    historyTitle_->setColour(c);
    for (HudButton* b : {historyBack_, historyForward_}) {
        b->setDesignFont(font);
        b->setTextColour(c);
    }
}

void GraphPage::ApplyPromptFont() {
    const QFont font = pageFont();
    const QColor c = general();
    promptText_->setDesignFont(font);
    promptText_->setColour(c);
    for (HudButton* b : {promptButton1_, promptButton2_}) {
        b->setDesignFont(font);
        b->setTextColour(c);
    }
}

bool GraphPage::KeyDown(int key) {
    DiagramKey k = DiagramKey::Other;
    switch (key) {
    case Qt::Key_Escape:
        k = DiagramKey::Escape;
        break;
    case Qt::Key_Left:
        k = DiagramKey::Left;
        break;
    case Qt::Key_Right:
        k = DiagramKey::Right;
        break;
    case Qt::Key_Up:
        k = DiagramKey::Up;
        break;
    case Qt::Key_Down:
        k = DiagramKey::Down;
        break;
    default:
        // The main keyboard's and the numeric pad's digits have the same key codes.
        if (key >= Qt::Key_0 && key <= Qt::Key_8)
            k = static_cast<DiagramKey>(static_cast<int>(DiagramKey::Digit0) + (key - Qt::Key_0));
        break;
    }
    if (k == DiagramKey::Other) return false;
    DiagramKeyDown(ctx_, k);
    showPanels();
    canvas_->update();
    return true;
}

} // namespace bifuel::ui
