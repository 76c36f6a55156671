#include "Map_Page.h"

#include "Context.h"
#include "link/Link_Operations.h"
#include "rpm_map/MapRPM_Unit.h"
#include "rpm_map/MapRPM_View.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <functional>

namespace bifuel::ui {
namespace {

// Design places on the page's panel (616 x 473).
constexpr QRectF kGrid(7, 3, 607, 444);
constexpr QRectF kCellData(7, 454, 440, 17);
constexpr QRectF kClear(449, 451, 80, 22);
constexpr QRectF kDefault(534, 451, 80, 22);
constexpr double kCellDataFontSize = 13;
constexpr double kFrameRadius = 3;
// How long the end of a write stays on the page when the user does nothing.
constexpr int kEndingShownMs = 5000;

QString text(const std::string& s) {
    return FromUtf8(s);
}

QColor colourOf(const Context& ctx, Colour c) {
    return ColourFromText(ctx.colours.ColourOf(c));
}

bool isCorner(int c, int r) {
    return c == 0 && r == 0;
}

MapMouseButton buttonOf(Qt::MouseButton b) {
    switch (b) {
    case Qt::RightButton:
        return MapMouseButton::Right;
    case Qt::MiddleButton:
        return MapMouseButton::Middle;
    default:
        return MapMouseButton::Left;
    }
}

MapKey keyOf(int key) {
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return MapKey::Enter;
    case Qt::Key_Escape:
        return MapKey::Escape;
    case Qt::Key_Left:
        return MapKey::Left;
    case Qt::Key_Right:
        return MapKey::Right;
    case Qt::Key_Up:
        return MapKey::Up;
    case Qt::Key_Down:
        return MapKey::Down;
    case Qt::Key_Shift:
        return MapKey::Shift;
    default:
        return MapKey::Other;
    }
}

// Writes that lock the page: every one of them may carry the map.
bool concernsPage(Request r) {
    return IsWriteRequest(r);
}

} // namespace

std::size_t MapSignature(const Context& ctx) {
    const MapView& v = ctx.mapView;
    const RpmMap& m = ctx.rpmMap;
    std::size_t h = m.Grid_Built ? 1 : 0;
    auto mix = [&h](std::size_t part) { h = h * 1000003u ^ part; };
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            const MapCellView& cell = v.Cells[c][r];
            mix(std::hash<double>{}(cell.opacity));
            mix(cell.frameVisible ? std::hash<std::string>{}(cell.frameColour) : 7);
            mix(std::hash<std::string>{}(m.Map_Text[c][r]));
        }
    }
    mix(static_cast<std::size_t>(v.Frame_Thickness));
    mix(static_cast<std::size_t>(v.Cell_Width * 1000 + v.Cell_Height));
    mix(ctx.link.Write_Running ? 11 : 13);
    return h;
}

// ---- MapGrid ------------------------------------------------------------------------------

MapGrid::MapGrid(Context& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("HudPanel_3D_MapRPM"));
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

double MapGrid::scaleX() const {
    return width() / double(std::max(1, ctx_.mapView.Panel_Width));
}
double MapGrid::scaleY() const {
    return height() / double(std::max(1, ctx_.mapView.Panel_Height));
}
// Cell edges on whole pixels: neighbouring cells share an edge and nothing blurs.
double MapGrid::pixelX(double designX) const {
    return std::round(designX * scaleX());
}
double MapGrid::pixelY(double designY) const {
    return std::round(designY * scaleY());
}

QRectF MapGrid::cellRect(int c, int r) const {
    const MapView& v = ctx_.mapView;
    const double x0 = pixelX(CellX(v, c));
    const double y0 = pixelY(CellY(v, r));
    return QRectF(x0, y0, pixelX(CellX(v, c + 1)) - x0, pixelY(CellY(v, r + 1)) - y0);
}

GridHit MapGrid::cellAt(QPointF local) const {
    const MapView& v = ctx_.mapView;
    if (!ctx_.rpmMap.Grid_Built || v.Cell_Width <= 0 || v.Cell_Height <= 0) return {};
    const double x = local.x() / scaleX() - v.Origin_X;
    const double y = local.y() / scaleY() - v.Origin_Y;
    if (x < 0 || y < 0) return {};
    const int c = static_cast<int>(x / v.Cell_Width);
    const int r = static_cast<int>(y / v.Cell_Height);
    if (c >= kMapGridCols || r >= kMapGridRows) return {};
    return {c, r};
}

GridHit MapGrid::nearestCell(QPointF local) const {
    const MapView& v = ctx_.mapView;
    if (v.Cell_Width <= 0 || v.Cell_Height <= 0) return {};
    const double x = local.x() / scaleX() - v.Origin_X;
    const double y = local.y() / scaleY() - v.Origin_Y;
    return {std::clamp(static_cast<int>(std::floor(x / v.Cell_Width)), 0, kMapCols),
            std::clamp(static_cast<int>(std::floor(y / v.Cell_Height)), 0, kMapRows)};
}

void MapGrid::setCellFont(const QFont& font, QColor colour) {
    cellFont_ = font;
    textColour_ = colour;
    update();
}

void MapGrid::paintEvent(QPaintEvent*) {
    QPainter p(this);
    draw(p);
    if (onPainted) onPainted();
}

void MapGrid::draw(QPainter& p) const {
    const MapView& v = ctx_.mapView;
    const RpmMap& m = ctx_.rpmMap;
    PaintHudPanel(p, QRectF(rect()), 1.0, 6, QColor());
    if (!m.Grid_Built) return; // nothing read, loaded or reset yet: an empty page
    const double k = std::min(scaleX(), scaleY());
    // A locked page shows its grid dimmed, so an edit is not expected to take.
    const double dim = ctx_.link.Write_Running ? 0.55 : 1.0;
    const QColor base = textColour_;
    QFont font = cellFont_;
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            const MapCellView& cell = v.Cells[c][r];
            const QRectF box = cellRect(c, r).adjusted(1, 1, -1, -1);
            QColor fill = base;
            fill.setAlphaF(std::clamp(cell.opacity * 0.35 * dim, 0.0, 1.0));
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
            p.setRenderHint(QPainter::Antialiasing, false);
            p.drawRect(box);
            font.setPixelSize(std::max(6, static_cast<int>(std::lround(cell.fontSize * k))));
            p.setFont(font);
            QColor ink = base;
            ink.setAlphaF(dim);
            p.setPen(ink);
            const QString shown =
                isCorner(c, r) ? QStringLiteral("ms\\rpm") : text(m.Map_Text[c][r]);
            p.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, shown);
        }
    }
    // Frames last: a frame is never covered by its neighbour's fill.
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setBrush(Qt::NoBrush);
    const double thickness = std::max(1.0, v.Frame_Thickness * k);
    for (int c = 0; c < kMapGridCols; ++c) {
        for (int r = 0; r < kMapGridRows; ++r) {
            const MapCellView& cell = v.Cells[c][r];
            if (!cell.frameVisible) continue;
            const double inset = 1 + thickness / 2;
            const QRectF box = cellRect(c, r).adjusted(inset, inset, -inset, -inset);
            p.setPen(QPen(ColourFromText(cell.frameColour), thickness));
            p.drawRoundedRect(box, kFrameRadius * k, kFrameRadius * k);
        }
    }
}

void MapGrid::mousePressEvent(QMouseEvent* event) {
    const GridHit hit = cellAt(event->position());
    if (!hit.inside()) return;
    MapCellMouseDown(ctx_, hit.c, hit.r, buttonOf(event->button()));
    lastMove_ = hit;
    if (onChanged) onChanged();
}

void MapGrid::mouseMoveEvent(QMouseEvent* event) {
    const GridHit hit = cellAt(event->position());
    if (!hit.inside() || (hit.c == lastMove_.c && hit.r == lastMove_.r)) return;
    lastMove_ = hit;
    MapCellMouseMove(ctx_, hit.c, hit.r);
    if (onChanged) onChanged();
}

void MapGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    // A drag let go beyond the grid ends at the nearest cell.
    const GridHit hit = nearestCell(event->position());
    if (!hit.inside()) return;
    MapCellMouseUp(ctx_, hit.c, hit.r);
    if (onChanged) onChanged();
}

// ---- MapPage ------------------------------------------------------------------------------

MapPage::MapPage(Context& ctx, DesignLayout* panel) : QObject(panel), ctx_(ctx), panel_(panel) {
    build();
    endingTimer_ = ctx_.scheduler.createTimer(kEndingShownMs);
    endingTimer_->setOnFire([this] {
        endingTimer_->stop();
        ending_.clear();
        showCellData();
    });
    subscriptions_.push_back(ctx_.events.liveData.subscribe([this] {
        if (panel_->isVisible()) repaintIfChanged();
    }));
    subscriptions_.push_back(ctx_.events.operationProgress.subscribe(
        [this](const OperationProgress& p) { operationProgress(p); }));
    subscriptions_.push_back(
        ctx_.events.operationEnded.subscribe([this](const OperationEnd& e) { operationEnded(e); }));
    ApplyTexts();
}

void MapPage::build() {
    grid_ = new MapGrid(ctx_, panel_);
    panel_->place(grid_, kGrid);
    grid_->onChanged = [this] {
        userAction();
        showCellData();
        repaintIfChanged();
    };

    cellData_ = new HudLabel(panel_);
    cellData_->setObjectName(QStringLiteral("HudLabel_3D_MapRPM_CellData"));
    cellData_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    cellData_->setShrinkToFit(true);
    panel_->place(cellData_, kCellData);

    auto button = [this](const char* name, QRectF design, std::function<void()> click) {
        auto* b = new HudButton(QString(), panel_);
        b->setObjectName(QString::fromLatin1(name));
        // The arrows stay with the grid.
        b->setFocusPolicy(Qt::NoFocus);
        panel_->place(b, design);
        connect(b, &QAbstractButton::clicked, this, [this, click = std::move(click)] {
            userAction();
            click();
            Refresh();
        });
        return b;
    };
    clear_ = button("HudButton_3D_MapRPM_Clear", kClear,
                    [this] { HudButton_3D_MapRPM_ClearClick(ctx_); });
    default_ = button("HudButton_3D_MapRPM_Default", kDefault,
                      [this] { HudButton_3D_MapRPM_DefaultClick(ctx_); });
}

bool MapPage::locked() const {
    return ctx_.link.Write_Running;
}

void MapPage::userAction() {
    // The user is at the page again: the cell data takes the line back.
    if (ending_.empty()) return;
    ending_.clear();
    endingTimer_->stop();
}

void MapPage::operationProgress(const OperationProgress& progress) {
    if (!concernsPage(progress.request)) return;
    percent_ = progress.percent;
    if (ctx_.link.Write_Running) userAction(); // a new write: the old ending gives way
    showCellData();
}

void MapPage::operationEnded(const OperationEnd& end) {
    if (!concernsPage(end.request)) return;
    percent_ = 0;
    switch (end.result) {
    case OperationResult::Replaced:
        return; // a later request carries the edit
    case OperationResult::Done:
        ending_ = OperationName(ctx_, end.request) + ": " + ctx_.LangText("Operation_Done");
        endingIsError_ = false;
        break;
    default:
        ending_ = end.reason.empty()
                      ? OperationName(ctx_, end.request) + " " + ctx_.LangText("Operation_Not_Sent")
                      : end.reason;
        endingIsError_ = true;
        break;
    }
    endingTimer_->start();
    Refresh();
}

void MapPage::showCellData() {
    const MapView& v = ctx_.mapView;
    const LinkOperations& ops = ctx_.ops;
    QString shown;
    QColor colour = ColourFromText(ctx_.colours.ColourOf(0));
    const bool saving = !ops.Saving.empty() &&
                        std::any_of(ops.Saving.begin(), ops.Saving.end(),
                                    [](const OperationSlot& s) { return concernsPage(s.request); });
    if (ctx_.link.Write_Running || (saving && ending_.empty())) {
        const Request r = ctx_.link.Write_Running && ops.Running ? ops.Running.request
                          : saving                               ? ops.Saving.back().request
                                                                 : ctx_.link.Pending_Request;
        shown = text(OperationName(ctx_, r) + ": " +
                     std::to_string(ctx_.link.Write_Running ? percent_ : 100) + " %");
        colour = colourOf(ctx_, Colour::Txt_Information);
    } else if (!ending_.empty()) {
        shown = text(ending_);
        colour = colourOf(ctx_, endingIsError_ ? Colour::Txt_Error : Colour::Txt_Complete);
    } else {
        shown = text(v.HudLabel_3D_MapRPM_CellData.text);
        colour = ColourFromText(v.HudLabel_3D_MapRPM_CellData.colour, colour);
    }
    cellData_->setText(shown);
    cellData_->setColour(colour);
}

void MapPage::repaintIfChanged() {
    const std::size_t drawn = MapSignature(ctx_);
    if (drawn == drawn_) return;
    drawn_ = drawn;
    grid_->update();
}

void MapPage::Refresh() {
    // The language arrives after the page is built, and changes at run time.
    ApplyTexts();
    const bool open = !locked();
    clear_->setEnabled(open && ctx_.rpmMap.Grid_Built);
    default_->setEnabled(open);
    grid_->setEnabled(open);
    showCellData();
    if (panel_->isVisible()) repaintIfChanged();
}

void MapPage::ApplyTexts() {
    const LanguageView& t = ctx_.languageView;
    clear_->setText(text(t.HudButton_3D_MapRPM_Clear));
    default_->setText(text(t.HudButton_3D_MapRPM_Default));
    showCellData();
}

void MapPage::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QColor general = ColourFromText(ctx_.colours.ColourOf(0));
    cellData_->setDesignFont(ProgramFont(s.Font_Name, kCellDataFontSize, s.Font_Style));
    showCellData();
    const QFont font = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    for (HudButton* b : {clear_, default_}) {
        b->setDesignFont(font);
        b->setTextColour(general);
    }
    // The cells keep their own sizes (20, the corner 16): family, style and colour only.
    grid_->setCellFont(ProgramFont(s.Font_Name, 20, s.Font_Style), general);
    drawn_ = 0;
    repaintIfChanged();
}

void MapPage::KeyDown(int key, bool shift) {
    const MapKey k = keyOf(key);
    if (k == MapKey::Other) return;
    if (k != MapKey::Shift) userAction();
    MapKeyDown(ctx_, k, shift);
    showCellData();
    repaintIfChanged();
}

void MapPage::KeyUp(int key) {
    if (keyOf(key) != MapKey::Shift) return;
    MapKeyUp(ctx_, MapKey::Shift);
    repaintIfChanged();
}

} // namespace bifuel::ui
