#pragma once

#include "Charts_Plot.h"
#include "Hud_Window.h"
#include "runtime/Signal.h"

#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;

namespace bifuel::ui {

// The charts window: time plots of the live data of this connection or of a saved log,
// and the difference grid of that drive with the RPM-map factors it suggests.
class ChartsWindow : public HudToolWindow {
  public:
    static constexpr int kDesignWidth = 1000;
    static constexpr int kDesignHeight = 640;
    enum class Tab { Plots, Grid };

    explicit ChartsWindow(Context& ctx);
    ~ChartsWindow() override;

    // Shows the window over the main window, with the live data unless a log is open.
    void Open();
    // Reads a log and shows it; false (and the error shown) when it cannot be read.
    bool OpenLog(const std::filesystem::path& file);
    // Back to the live data of this connection.
    void ShowLive();
    void ShowTab(Tab tab);
    // The main window's refresh: new live frames into the plots, the grid again.
    void Refresh();
    void ApplyTexts();
    void ApplyFonts();

    // The open dialog; tests answer in its place. An empty path: cancelled.
    std::function<QString(const QString& folder)> pickLog;

    // Controls and state, for tests and the figures.
    ChartsPlot* plot() { return plot_; }
    DriveGrid* grid() { return grid_; }
    HudButton* liveButton() { return live_; }
    HudButton* openButton() { return open_; }
    HudButton* plotsTab() { return plotsTab_; }
    HudButton* gridTab() { return gridTab_; }
    HudButton* applyButton() { return apply_; }
    HudLabel* sourceLabel() { return source_; }
    HudLabel* gridStatus() { return gridStatus_; }
    HudLabel* applyResult() { return applyResult_; }
    QCheckBox* channelBox(int channel) { return boxes_.at(static_cast<std::size_t>(channel)); }
    const std::vector<LiveLogRecord>& records() const { return *shown_; }
    const std::vector<LiveLogRecord>& liveRecords() const { return liveRecords_; }
    const DriveAnalysis& analysis() const { return analysis_; }
    bool showingLog() const { return shown_ == &log_; }
    Tab tab() const { return tab_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void build();
    void openClick();
    void applyClick();
    void channelsChanged();
    void analyse();
    void showSource();
    void applyPlotFonts();

    std::vector<LiveLogRecord> liveRecords_; // this connection's frames, as they came
    std::vector<LiveLogRecord> log_;         // the log opened
    const std::vector<LiveLogRecord>* shown_ = &liveRecords_;
    std::int64_t liveStartMs_ = 0;
    std::size_t analysed_ = 0; // records the grid was made from; a new source makes it again
    bool analysedLog_ = false;
    bool logApplied_ = false;       // the log's suggestions went to the map
    std::size_t liveAppliedAt_ = 0; // live frames before this were driven with older factors
    std::int64_t analysedAtMs_ = -1;
    DriveAnalysis analysis_;
    QString logName_;
    QString logNote_; // skipped lines or the read error
    bool logError_ = false;
    Tab tab_ = Tab::Plots;

    ChartsPlot* plot_ = nullptr;
    DriveGrid* grid_ = nullptr;
    HudButton* live_ = nullptr;
    HudButton* open_ = nullptr;
    HudButton* plotsTab_ = nullptr;
    HudButton* gridTab_ = nullptr;
    HudButton* apply_ = nullptr;
    HudLabel* source_ = nullptr;
    HudLabel* channelsTitle_ = nullptr;
    HudLabel* gridStatus_ = nullptr;
    HudLabel* applyResult_ = nullptr;
    bool applyError_ = false;
    std::vector<QCheckBox*> boxes_;
    std::vector<Subscription> subscriptions_;
};

} // namespace bifuel::ui
