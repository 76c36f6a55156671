#include "Charts_Window.h"

#include "Context.h"
#include "link/Global_Unit.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>

#include <algorithm>
#include <span>

namespace bifuel::ui {
namespace {

constexpr double kChannelsWidth = 178;
constexpr double kTopRow = 26;
// In live view the grid is made again at most this often: it reads the whole list.
constexpr std::int64_t kLiveAnalysisMs = 2000;

QString text(const Context& ctx, std::string_view key) {
    return FromUtf8(ctx.LangText(key));
}

} // namespace

ChartsWindow::ChartsWindow(Context& ctx)
    : HudToolWindow(ctx, QSize(kDesignWidth, kDesignHeight), QSize(640, 420)) {
    setObjectName(QStringLiteral("TForm_3D_Charts"));
    pickLog = [this](const QString& folder) {
        return QFileDialog::getOpenFileName(this, text(ctx_, "Charts_Open"), folder,
                                            QStringLiteral("*.csv"));
    };
    build();
    // This connection's frames, from its start: the window records while it is closed too.
    subscriptions_.push_back(ctx_.events.connected.subscribe([this] {
        liveRecords_.clear();
        liveAppliedAt_ = 0;
        liveStartMs_ = ctx_.scheduler.nowUs() / 1000;
        if (!showingLog()) plot_->setRecords(&liveRecords_);
    }));
    subscriptions_.push_back(ctx_.events.liveData.subscribe([this] {
        liveRecords_.push_back(RecordFromLive(ctx_, ctx_.scheduler.nowUs() / 1000 - liveStartMs_));
        if (isVisible() && !showingLog()) {
            plot_->appended();
            showSource();
        }
    }));
    ApplyTexts();
    ApplyFonts();
}

ChartsWindow::~ChartsWindow() = default;

void ChartsWindow::build() {
    DesignLayout* c = content();
    // The program's dark panel under everything: white text and the channel colours read
    // on it whatever the skin.
    c->setPanelLook(true, std::max(0.8, ctx_.settings.Panels_Opacity));
    const double w = c->designSize().width();
    const double h = c->designSize().height();
    auto button = [this, c](QRectF place, std::function<void()> click) {
        auto* b = new HudButton(QString(), c);
        b->setFocusPolicy(Qt::NoFocus);
        c->place(b, place);
        connect(b, &QAbstractButton::clicked, this, std::move(click));
        return b;
    };
    live_ = button(QRectF(0, 0, 110, 22), [this] { ShowLive(); });
    open_ = button(QRectF(114, 0, 110, 22), [this] { openClick(); });
    source_ = new HudLabel(c);
    c->place(source_, QRectF(232, 0, w - 232 - 300, 22));
    source_->setShrinkToFit(true);
    plotsTab_ = button(QRectF(w - 292, 0, 144, 22), [this] { ShowTab(Tab::Plots); });
    gridTab_ = button(QRectF(w - 144, 0, 144, 22), [this] { ShowTab(Tab::Grid); });
    plotsTab_->setCheckable(true);
    gridTab_->setCheckable(true);

    channelsTitle_ = new HudLabel(c);
    c->place(channelsTitle_, QRectF(0, kTopRow + 4, kChannelsWidth - 8, 20));
    const auto& channels = ChartChannels();
    const double rowH = std::min(24.0, (h - kTopRow - 30) / double(channels.size()));
    const std::vector<int> shown = DefaultChartChannels();
    for (std::size_t i = 0; i < channels.size(); ++i) {
        auto* box = new QCheckBox(c);
        box->setFocusPolicy(Qt::NoFocus);
        box->setChecked(std::find(shown.begin(), shown.end(), int(i)) != shown.end());
        c->place(box, QRectF(0, kTopRow + 28 + rowH * double(i), kChannelsWidth - 8, rowH));
        connect(box, &QCheckBox::toggled, this, [this] { channelsChanged(); });
        addEditor(box);
        boxes_.push_back(box);
    }

    plot_ = new ChartsPlot(ctx_, c);
    c->place(plot_, QRectF(kChannelsWidth, kTopRow + 4, w - kChannelsWidth, h - kTopRow - 4));
    plot_->setRecords(&liveRecords_);

    grid_ = new DriveGrid(ctx_, c);
    c->place(grid_, QRectF(0, kTopRow + 4, w, h - kTopRow - 4 - 56));
    grid_->setAnalysis(&analysis_);
    gridStatus_ = new HudLabel(c);
    gridStatus_->setShrinkToFit(true);
    c->place(gridStatus_, QRectF(0, h - 50, w - 230, 22));
    applyResult_ = new HudLabel(c);
    applyResult_->setShrinkToFit(true);
    c->place(applyResult_, QRectF(0, h - 26, w - 230, 22));
    apply_ = button(QRectF(w - 220, h - 46, 220, 36), [this] { applyClick(); });
    ShowTab(Tab::Plots);
}

void ChartsWindow::Open() {
    if (!isVisible()) {
        if (!showingLog()) plot_->setRecords(&liveRecords_);
        show();
    }
    raise();
    activateWindow();
    plot_->setFocus();
    Refresh();
}

bool ChartsWindow::OpenLog(const std::filesystem::path& file) {
    LiveLogFile read = ReadLiveLog(file);
    logName_ = QFileInfo(QString::fromStdString(file.string())).fileName();
    if (!read.Error.empty()) {
        logError_ = true;
        logNote_ = text(ctx_, "Charts_Open_Failed") + QLatin1Char(' ') + logName_ +
                   QStringLiteral(": ") + FromUtf8(read.Error);
        showSource();
        return false;
    }
    logError_ = false;
    logNote_ =
        read.Skipped_Lines > 0
            ? QStringLiteral(" (%1 %2)").arg(read.Skipped_Lines).arg(text(ctx_, "Charts_Skipped"))
            : QString();
    log_ = std::move(read.Records);
    logApplied_ = false;
    applyResult_->setText(QString());
    // A log is read as written, but the plots need the frames in time order.
    std::stable_sort(log_.begin(), log_.end(), [](const LiveLogRecord& a, const LiveLogRecord& b) {
        return a.Time_Ms < b.Time_Ms;
    });
    shown_ = &log_;
    plot_->setRecords(&log_);
    analysedAtMs_ = -1;
    analyse();
    showSource();
    return true;
}

void ChartsWindow::ShowLive() {
    shown_ = &liveRecords_;
    logError_ = false;
    logNote_.clear();
    applyResult_->setText(QString());
    plot_->setRecords(&liveRecords_);
    analysedAtMs_ = -1;
    analyse();
    showSource();
}

void ChartsWindow::ShowTab(Tab tab) {
    tab_ = tab;
    const bool plots = tab == Tab::Plots;
    plot_->setVisible(plots);
    channelsTitle_->setVisible(plots);
    for (QCheckBox* b : boxes_)
        b->setVisible(plots);
    grid_->setVisible(!plots);
    gridStatus_->setVisible(!plots);
    applyResult_->setVisible(!plots);
    apply_->setVisible(!plots);
    plotsTab_->setChecked(plots);
    gridTab_->setChecked(!plots);
    if (plots) {
        plot_->setFocus();
    } else {
        analysedAtMs_ = -1;
        analyse();
    }
}

void ChartsWindow::Refresh() {
    if (!isVisible()) return;
    if (!showingLog() && tab_ == Tab::Grid) analyse();
    grid_->update();
}

void ChartsWindow::analyse() {
    // Frames driven with factors since replaced would ask for the same change again: a log
    // keeps the grid it was applied from, live data start over after the change.
    if (showingLog() && logApplied_) return;
    const std::int64_t now = ctx_.scheduler.nowUs() / 1000;
    const bool sameSource = analysedLog_ == showingLog() && analysed_ == shown_->size();
    if (analysedAtMs_ >= 0 && (sameSource || now - analysedAtMs_ < kLiveAnalysisMs)) return;
    const std::size_t from = showingLog() ? 0 : std::min(liveAppliedAt_, shown_->size());
    analysis_ = AnalyseDrive(std::span(*shown_).subspan(from), ctx_.rpmMap, ctx_.diagram);
    analysed_ = shown_->size();
    analysedLog_ = showingLog();
    analysedAtMs_ = now;
    QString status;
    switch (analysis_.Outcome) {
    case DriveOutcome::Ready:
        status = QStringLiteral("%1 %2, %3 %4")
                     .arg(analysis_.Matched_Samples)
                     .arg(text(ctx_, "Charts_Grid_Ready"))
                     .arg(analysis_.Suggested_Cells)
                     .arg(text(ctx_, "Charts_Grid_Suggested"));
        break;
    case DriveOutcome::EmptyLog:
        status = text(ctx_, "Charts_No_Data");
        break;
    case DriveOutcome::NoMap:
        status = text(ctx_, "Charts_Grid_No_Map");
        break;
    case DriveOutcome::NoGasSamples:
        status = text(ctx_, "Charts_Grid_No_Gas");
        break;
    case DriveOutcome::NoPetrolSamples:
        status = text(ctx_, "Charts_Grid_No_Petrol");
        break;
    case DriveOutcome::NoMatches:
        status = text(ctx_, "Charts_Grid_No_Match");
        break;
    }
    gridStatus_->setText(status);
    apply_->setEnabled(analysis_.Suggested_Cells > 0);
    grid_->update();
}

void ChartsWindow::applyClick() {
    // The grid as the user sees it is what goes to the map.
    const DriveApplyEnd end = ApplyDriveSuggestions(ctx_, analysis_);
    QString said;
    applyError_ = false;
    switch (end.Result) {
    case DriveApplyResult::Applied:
        said =
            QStringLiteral("%1 %2. ").arg(text(ctx_, "Charts_Applied")).arg(end.Cells) +
            text(ctx_, ctx_.link.ECU_Connected ? "Charts_Applied_Send" : "Charts_Applied_Offline");
        break;
    case DriveApplyResult::NothingToApply:
        said = text(ctx_, "Charts_Apply_Nothing");
        break;
    case DriveApplyResult::NoMap:
        said = text(ctx_, "Charts_Grid_No_Map");
        applyError_ = true;
        break;
    case DriveApplyResult::WriteRunning:
        said = text(ctx_, "Charts_Apply_Busy");
        applyError_ = true;
        break;
    }
    if (end.Result == DriveApplyResult::Applied) {
        if (showingLog()) {
            logApplied_ = true;
        } else {
            liveAppliedAt_ = liveRecords_.size();
        }
        apply_->setEnabled(false);
    }
    applyResult_->setText(said);
    applyResult_->setColour(ColourFromText(
        ctx_.colours.ColourOf(applyError_ ? Colour::Txt_Error : Colour::Txt_Complete)));
    grid_->update();
}

void ChartsWindow::openClick() {
    const std::filesystem::path folder = ctx_.paths.Work_Dir / "Logs";
    const QString picked = pickLog ? pickLog(QString::fromStdString(folder.string())) : QString();
    if (picked.isEmpty()) return;
    OpenLog(picked.toStdString());
}

void ChartsWindow::channelsChanged() {
    std::vector<int> shown;
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        if (boxes_[i]->isChecked()) shown.push_back(int(i));
    }
    plot_->setChannels(std::move(shown));
}

void ChartsWindow::showSource() {
    const QColor general = ColourFromText(ctx_.colours.ColourOf(0));
    if (logError_) {
        source_->setText(logNote_);
        source_->setColour(ColourFromText(ctx_.colours.ColourOf(Colour::Txt_Error)));
        return;
    }
    const QString name = showingLog() ? logName_ : text(ctx_, "Charts_Source_Live");
    source_->setText(QStringLiteral("%1: %2 %3%4")
                         .arg(name)
                         .arg(shown_->size())
                         .arg(text(ctx_, "Charts_Records"))
                         .arg(showingLog() ? logNote_ : QString()));
    source_->setColour(general);
}

void ChartsWindow::ApplyTexts() {
    setWindowTitle(text(ctx_, "Charts_Title"));
    live_->setText(text(ctx_, "Charts_Live"));
    open_->setText(text(ctx_, "Charts_Open"));
    plotsTab_->setText(text(ctx_, "Charts_Plots"));
    gridTab_->setText(text(ctx_, "Charts_Grid"));
    apply_->setText(text(ctx_, "Charts_Grid_Apply"));
    channelsTitle_->setText(text(ctx_, "Charts_Channels"));
    const auto& channels = ChartChannels();
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        boxes_[i]->setText(
            text(ctx_, channels[i].nameKey) +
            QString::fromLatin1(channels[i].suffix.data(), qsizetype(channels[i].suffix.size())));
    }
    showSource();
    fitEditors();
    update();
}

void ChartsWindow::ApplyFonts() {
    const Settings_Class& s = ctx_.settings;
    const QFont font = ProgramFont(s.Font_Name, s.Font_Size, s.Font_Style);
    const QColor general = ColourFromText(ctx_.colours.ColourOf(0));
    for (HudButton* b : {live_, open_, plotsTab_, gridTab_, apply_}) {
        b->setDesignFont(font);
        b->setTextColour(general);
    }
    for (HudLabel* l : {source_, channelsTitle_, gridStatus_, applyResult_}) {
        l->setDesignFont(font);
        if (l != applyResult_) l->setColour(general);
    }
    applyPlotFonts();
    applyChromeFonts();
    ApplyTexts();
}

void ChartsWindow::applyPlotFonts() {
    // The plots' labels grow with the window like the rest of its texts.
    const Settings_Class& s = ctx_.settings;
    QFont small = ProgramFont(s.Font_Name, s.Font_Size, 0);
    small.setPixelSize(
        std::max(9, static_cast<int>(std::lround(s.Font_Size * 1.15 * content()->fontScale()))));
    const QColor general = ColourFromText(ctx_.colours.ColourOf(0));
    plot_->setLabelFont(small, general);
    grid_->setLabelFont(small, general);
}

void ChartsWindow::resizeEvent(QResizeEvent* event) {
    HudToolWindow::resizeEvent(event);
    applyPlotFonts();
}

void ChartsWindow::showEvent(QShowEvent* event) {
    HudToolWindow::showEvent(event);
    applyPlotFonts();
    // A hidden window's layout waits for the show: the check boxes' room is known only now.
    content()->relayout();
    fitEditors();
}

void ChartsWindow::keyPressEvent(QKeyEvent* event) {
    // The plot's keys work wherever the focus is in the window.
    if (tab_ == Tab::Plots && plot_->KeyDown(event->key())) return;
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    HudToolWindow::keyPressEvent(event);
}

} // namespace bifuel::ui
