// Figures of the desktop program, measured on the real event loop against the in-process
// simulated ECU (one measurement per process; bench/ui_figures runs it):
//   ui_figures start          prints the wall-clock time (ns) when the main window first painted
//   ui_figures poll SECONDS   polls for SECONDS with the window open and prints CPU share,
//                             peak memory and the delay from the last byte of each live reply
//                             to the indicators painted; the ECU runs on gas with the
//                             Setup page shown, so its level lamps, voltage and picture
//                             change with every reply too
//   ui_figures graph SECONDS  the same with the Graph page shown and the live point moving
//                             with every reply (delay to the diagram painted), then at
//                             1920 x 1080: the whole diagram drawn, and a drag from the mouse
//                             event to the repaint, 500 times each
//   ui_figures map SECONDS    the same with the Map page shown (the live cell follows the
//                             engine), then the grid drawn and repainted at 1920 x 1080
//   ui_figures charts SECONDS the same with the charts window open on the live data (delay
//                             to the plots painted), then a one-hour log (11,500 frames)
//                             opened in it: the time to read it and show it, the memory it
//                             adds, and at 1920 x 1080 the plots drawn and repainted, 500 times
//   ui_figures acb SECONDS    the same with the Auto Calibration page shown, its bars and
//                             boxes following every reply (delay to the bars painted), then
//                             at 1920 x 1080 the bars and boxes drawn and repainted, 500 times

#include "Acb_Page.h"
#include "Charts_Window.h"
#include "Global_Window.h"
#include "Graph_Page.h"
#include "Map_Page.h"
#include "OpenGL_MSG.h"
#include "ProgramPort.h"
#include "QtPortLister.h"
#include "QtScheduler.h"
#include "SimEcu.h"
#include "Single_Instance.h"
#include "Studio_App.h"
#include "calibration/Calibr_Create.h"
#include "calibration/Calibr_Ctrl.h"
#include "files/Live_Log.h"
#include "link/Link_Operations.h"

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using namespace bifuel;

// The program's port, with the time of every delivery of bytes.
class TimedPort final : public SerialPort {
  public:
    TimedPort(SerialPort& inner, Scheduler& clock) : inner_(inner), clock_(clock) {}
    void setEvents(Events e) override {
        auto bytes = e.bytesArrived;
        e.bytesArrived = [this, bytes] {
            lastBytesUs = clock_.nowUs();
            if (bytes) bytes();
        };
        inner_.setEvents(std::move(e));
    }
    void setPortName(const std::string& name) override { inner_.setPortName(name); }
    std::string portName() const override { return inner_.portName(); }
    bool open() override { return inner_.open(); }
    void close() override { inner_.close(); }
    bool isOpen() const override { return inner_.isOpen(); }
    bool write(const std::uint8_t* d, std::size_t n) override { return inner_.write(d, n); }
    std::size_t read(std::uint8_t* b, std::size_t m) override { return inner_.read(b, m); }
    std::size_t bytesAvailable() const override { return inner_.bytesAvailable(); }
    bool purge() override { return inner_.purge(); }
    std::string errorText() const override { return inner_.errorText(); }
    std::int64_t lastBytesUs = 0;

  private:
    SerialPort& inner_;
    Scheduler& clock_;
};

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

long rssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * double(v.size())))];
}

double msSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

// Milliseconds of each of `times` draws into an image the size of `w`; `before` runs,
// untimed, ahead of each draw.
std::vector<double> timeDraws(const QWidget& w, int times,
                              const std::function<void(QPainter&)>& draw,
                              const std::function<void(int)>& before = {}) {
    QImage image(w.size() * w.devicePixelRatio(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(w.devicePixelRatio());
    std::vector<double> ms;
    for (int i = 0; i < times; ++i) {
        if (before) before(i);
        image.fill(Qt::transparent);
        const auto t = std::chrono::steady_clock::now();
        QPainter p(&image);
        draw(p);
        p.end();
        ms.push_back(msSince(t));
    }
    return ms;
}

// Milliseconds of each of `times` repaints of the widgets on the screen.
std::vector<double> timeRepaints(std::initializer_list<QWidget*> widgets, int times) {
    std::vector<double> ms;
    for (int i = 0; i < times; ++i) {
        const auto t = std::chrono::steady_clock::now();
        for (QWidget* w : widgets)
            w->repaint();
        ms.push_back(msSince(t));
    }
    return ms;
}

// The Graph page at 1920 x 1080 with everything it can show: MAP traces, a proposal, a
// selected point with its guide lines. The whole diagram drawn into an image, 500 times;
// then point 4 dragged up and down, from each mouse event to the diagram repainted.
// Lets the event loop run for `ms` of wall time (the window lays itself out on a timer).
void settle(int ms) {
    const auto t = std::chrono::steady_clock::now();
    while (msSince(t) < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void graphFigures(ui::StudioApp& studio) {
    Context& ctx = studio.context();
    ui::TForm_3D_GEN& main = studio.main();
    main.resize(1920, 1080);
    settle(500);
    ui::DiagramCanvas& canvas = *main.graphPage().canvas();
    ctx.config.Save_Map = true;
    for (int k = 4; k < 14; ++k) {
        ctx.mapPoints.MAP_Gas[static_cast<std::size_t>(k)] = 300 + 60 * k;
        ctx.mapPoints.MAP_Petrol[static_cast<std::size_t>(k)] = 280 + 58 * k;
    }
    for (std::size_t i = 0; i < kDiagramPoints; ++i)
        ctx.mapPoints.Proposed_Gas[i] = ctx.diagram.Gas_Point[i] + 400;
    SelectPoint(ctx, 6, DiagramMouseButton::Left);
    RefreshDiagram(ctx);
    const auto drawCanvas = [&canvas](QPainter& p) { canvas.draw(p); };
    const std::vector<double> draw = timeDraws(canvas, 500, drawCanvas);
    // The same after a change of colour or font, when the scales and the grid are drawn anew.
    const QFont font = canvas.font();
    const std::vector<double> cold = timeDraws(canvas, 200, drawCanvas, [&](int i) {
        canvas.setLabelFont(font, i % 2 == 0 ? QColor(250, 250, 250) : QColor(240, 240, 240));
    });
    std::printf("whole diagram drawn at %dx%d (window 1920x1080): median %.3f ms, p99 %.3f ms; "
                "with the scales and "
                "grid drawn anew: median %.3f ms, p99 %.3f ms\n",
                canvas.width(), canvas.height(), percentile(draw, 0.5), percentile(draw, 0.99),
                percentile(cold, 0.5), percentile(cold, 0.99));

    ctx.mapPoints.Proposed_Gas.fill(0);
    ctx.config.Save_Map = false;
    Deselect(ctx, DiagramMouseButton::Left);
    RefreshDiagram(ctx);
    canvas.repaint();
    std::vector<double> drag;
    const QPointF from = canvas.pointCentre(4);
    QMouseEvent press(QEvent::MouseButtonPress, from, canvas.mapToGlobal(from), Qt::LeftButton,
                      Qt::LeftButton, {});
    QCoreApplication::sendEvent(&canvas, &press);
    bool painted = false;
    canvas.onPainted = [&painted] { painted = true; };
    for (int i = 0; i < 500; ++i) {
        const QPointF at = from + QPointF(0, (i % 2 == 0) ? -12 : 0);
        const auto t = std::chrono::steady_clock::now();
        QMouseEvent move(QEvent::MouseMove, at, canvas.mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, {});
        QCoreApplication::sendEvent(&canvas, &move);
        painted = false;
        canvas.repaint();
        if (painted) drag.push_back(msSince(t));
    }
    QMouseEvent release(QEvent::MouseButtonRelease, from, canvas.mapToGlobal(from), Qt::LeftButton,
                        Qt::NoButton, {});
    QCoreApplication::sendEvent(&canvas, &release);
    canvas.onPainted = nullptr;
    // The drag's write goes out before the window closes.
    settle(ctx.settings.CFG_Transmit_Delay + 1500);
    std::printf(
        "drag, mouse event to the diagram repainted (%zu moves): median %.3f ms, p99 %.3f ms\n",
        drag.size(), percentile(drag, 0.5), percentile(drag, 0.99));
}

// The Auto Calibration page at 1920 x 1080: its bars and value boxes drawn into an image,
// then the bars repainted on the screen, 500 times each.
void acbFigures(ui::StudioApp& studio) {
    ui::TForm_3D_GEN& main = studio.main();
    main.resize(1920, 1080);
    settle(500);
    ui::AcbBars& bars = *main.acbPage().bars();
    ui::AcbValues& values = *main.acbPage().values();
    std::vector<double> draw = timeDraws(bars, 500, [&bars](QPainter& p) { bars.draw(p); });
    const std::vector<double> boxes =
        timeDraws(values, 500, [&values](QPainter& p) { values.draw(p); });
    for (std::size_t i = 0; i < draw.size(); ++i)
        draw[i] += boxes[i];
    const std::vector<double> repaint = timeRepaints({&bars, &values}, 500);
    std::printf("bars %dx%d and boxes %dx%d drawn (window 1920x1080): median %.3f ms, p99 %.3f ms; "
                "repainted on "
                "the screen: median %.3f ms, p99 %.3f ms\n",
                bars.width(), bars.height(), values.width(), values.height(), percentile(draw, 0.5),
                percentile(draw, 0.99), percentile(repaint, 0.5), percentile(repaint, 0.99));
}

// The Map page at 1920 x 1080: the grid drawn into an image and repainted on the screen,
// 500 times each.
void mapFigures(ui::StudioApp& studio) {
    ui::TForm_3D_GEN& main = studio.main();
    main.resize(1920, 1080);
    settle(500);
    ui::MapGrid& grid = *main.mapPage().grid();
    const std::vector<double> draw = timeDraws(grid, 500, [&grid](QPainter& p) { grid.draw(p); });
    const std::vector<double> repaint = timeRepaints({&grid}, 500);
    std::printf("map grid %dx%d drawn (window 1920x1080): median %.3f ms, p99 %.3f ms; repainted "
                "on the screen: "
                "median %.3f ms, p99 %.3f ms\n",
                grid.width(), grid.height(), percentile(draw, 0.5), percentile(draw, 0.99),
                percentile(repaint, 0.5), percentile(repaint, 0.99));
}

// An hour of driving as the recorder writes it: a frame every 313 ms, speed, load and the
// times moving all the while, a mode change every few minutes.
std::filesystem::path writeHourLog(const std::filesystem::path& dir) {
    const std::filesystem::path file = dir / "Logs" / "hour.csv";
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << LiveLogHeader() << "\r\n";
    for (int i = 0; i < 11500; ++i) {
        LiveLogRecord r;
        r.Time_Ms = std::int64_t(i) * 313;
        const double s = r.Time_Ms / 1000.0;
        r.Rpm =
            800 + static_cast<int>(2400 * (0.5 + 0.5 * std::sin(s / 37)) + 200 * std::sin(s / 3));
        r.Press_Coll = 35 + static_cast<int>(50 * (0.5 + 0.5 * std::sin(s / 23)));
        r.Press_Vap = r.Press_Coll + 120;
        r.Press_Diff = 120 + static_cast<int>(5 * std::sin(s));
        r.Temp_Vap = 200 + static_cast<int>(600 * (1 - std::exp(-s / 300)));
        r.Temp_Gas = 180 + static_cast<int>(200 * (1 - std::exp(-s / 500)));
        r.Level = 700 - i / 40;
        r.Mode = (i / 700) % 2 == 0 ? 1 : 4;
        r.Petrol_Avg_Us = 2500 + 60 * r.Press_Coll + (r.Mode == 4 ? 300 : 0);
        r.Gas_Avg_Us = r.Mode == 4 ? r.Petrol_Avg_Us * 13 / 10 : 0;
        for (std::size_t c = 0; c < 4; ++c) {
            r.Petrol_Us[c] = r.Petrol_Avg_Us + static_cast<int>(c) * 20;
            r.Gas_Us[c] = r.Gas_Avg_Us;
        }
        r.Status = 0xC0;
        r.Error1 = (i % 3000) > 2900 ? 0x04 : 0;
        r.Frame.assign(37, static_cast<std::uint8_t>(i & 0xFF));
        out << FormatLiveLogLine(r) << "\r\n";
    }
    return file;
}

// A one-hour log opened in the charts window: from the click to the plots painted, the
// memory it adds, then at 1920 x 1080 the plots drawn into an image and repainted.
void chartsFigures(ui::StudioApp& studio, const std::filesystem::path& dir) {
    ui::ChartsWindow& charts = studio.main().charts();
    const std::filesystem::path file = writeHourLog(dir);
    settle(300);
    const long before = rssKb();
    bool painted = false;
    ui::ChartsPlot& plot = *charts.plot();
    plot.onPainted = [&painted] { painted = true; };
    const auto t = std::chrono::steady_clock::now();
    const bool opened = charts.OpenLog(file);
    plot.repaint();
    const double openMs = msSince(t);
    plot.onPainted = nullptr;
    settle(300);
    const long after = rssKb();
    std::printf("one-hour log (%zu frames) opened and painted: %.1f ms (read %s); memory %+.1f MB "
                "(RSS %.1f -> %.1f MB)\n",
                charts.records().size(), openMs, opened && painted ? "ok" : "FAILED",
                double(after - before) / 1024.0, double(before) / 1024.0, double(after) / 1024.0);
    charts.resize(1920, 1080);
    settle(500);
    const std::vector<double> draw = timeDraws(plot, 500, [&plot](QPainter& p) { plot.draw(p); });
    const std::vector<double> repaint = timeRepaints({&plot}, 500);
    std::printf("plots %dx%d of the whole hour, 5 channels (window 1920x1080): drawn median %.3f "
                "ms, p99 %.3f ms; "
                "repainted on the screen: median %.3f ms, p99 %.3f ms\n",
                plot.width(), plot.height(), percentile(draw, 0.5), percentile(draw, 0.99),
                percentile(repaint, 0.5), percentile(repaint, 0.99));
    const auto g = std::chrono::steady_clock::now();
    charts.ShowTab(ui::ChartsWindow::Tab::Grid);
    std::printf("difference grid of the hour made: %.1f ms\n", msSince(g));
}

std::filesystem::path prepareWorkDir(int page) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("bifuel-ui-figures-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(BIFUEL_SOURCE_DIR "/data/bifuel-studio.dat",
                               dir / "bifuel-studio.dat",
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(dir / "bifuel-studio.ini", std::ios::binary)
        << "Port_Name=sim\r\nPage_Index=" << page << "\r\n";
    return dir;
}

// The page a run measures, from its first argument.
struct FigureMode {
    explicit FigureMode(const std::string& mode)
        : graph(mode == "graph"), acb(mode == "acb"), map(mode == "map"), charts(mode == "charts") {
    }
    bool graph;
    bool acb;
    bool map;
    bool charts;
    int page() const { return graph ? 2 : acb ? 1 : map ? 3 : 0; }
    const char* painted() const {
        return graph    ? "the live point"
               : acb    ? "the bars"
               : map    ? "the map"
               : charts ? "the plots"
                        : "indicators";
    }
};

// `ui_figures start`: the wall-clock time when the indicators first painted.
void printFirstPaint(ui::StudioApp& studio, QApplication& app) {
    bool done = false;
    studio.main().onIndicatorsPainted = [&done] {
        if (done) return;
        done = true;
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::printf("%lld\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
        QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    };
    studio.Show();
    app.exec();
}

// A new engine speed, level and injection times for the next reply, so that every reply
// repaints.
class LiveVariation {
  public:
    explicit LiveVariation(bool map) : map_(map) {}
    void next(sim::SimEcu& ecu) {
        period_ = period_ == 37500 ? 36000 : 37500;
        if (map_) {
            // On the Map page the engine wanders over the grid, so the live cell and its
            // trace change with every reply.
            static constexpr std::array<int, 7> kRpm{800, 1200, 1700, 2200, 2700, 3200, 3700};
            period_ =
                static_cast<std::uint16_t>(30000000 / kRpm[static_cast<std::size_t>(replies_ % 7)]);
        }
        ++replies_;
        std::vector<std::uint8_t>& live = ecu.state().live;
        live[0] = static_cast<std::uint8_t>(period_ >> 8);
        live[1] = static_cast<std::uint8_t>(period_ & 0xFF);
        // A level across two thresholds: lamps, voltage and marker change each time.
        level_ = level_ == 150 ? 640 : 150;
        live[6] = static_cast<std::uint8_t>(level_ >> 8);
        live[7] = static_cast<std::uint8_t>(level_ & 0xFF);
        // Petrol and gas times of the four cylinders: the live point moves.
        petrolUs_ = petrolUs_ == 4000 ? 6500 : 4000;
        if (map_) petrolUs_ = static_cast<std::uint16_t>(1500 + 1100 * (replies_ % 5));
        const auto gasUs = static_cast<std::uint16_t>(petrolUs_ + 1500);
        for (std::size_t c = 0; c < 4; ++c) {
            live[18 + 2 * c] = static_cast<std::uint8_t>(petrolUs_ >> 8);
            live[19 + 2 * c] = static_cast<std::uint8_t>(petrolUs_ & 0xFF);
            live[26 + 2 * c] = static_cast<std::uint8_t>(gasUs >> 8);
            live[27 + 2 * c] = static_cast<std::uint8_t>(gasUs & 0xFF);
        }
    }

  private:
    bool map_;
    std::uint16_t period_ = 37500;
    std::uint16_t level_ = 150;
    std::uint16_t petrolUs_ = 4000;
    long replies_ = 0;
};

// The program as the figures run it.
struct Program {
    QApplication& app;
    platform::QtScheduler& scheduler;
    platform::ProgramPort& programPort;
    TimedPort& port;
    ui::StudioApp& studio;
};

// `ui_figures poll|graph|map|charts|acb SECONDS`: from the last byte of each live reply to
// the page painted, the cpu while polling, then the page's drawing figures.
class PollingFigures {
  public:
    PollingFigures(Program program, FigureMode mode) : p_(program), mode_(mode) {}

    // 0 when the link held from start to end and live replies were painted.
    int run(double seconds, const std::filesystem::path& dir) {
        Context& ctx = p_.studio.context();
        const Subscription live = ctx.events.liveData.subscribe([this] {
            pendingFromUs_ = p_.port.lastBytesUs;
            if (sim::SimEcu* ecu = p_.programPort.simulatedEcu()) variation_.next(*ecu);
        });
        watchPaints();
        p_.studio.Show();
        if (mode_.charts) QTimer::singleShot(1000, [this] { p_.studio.main().OpenCharts(); });
        wallStart_ = std::chrono::steady_clock::now();
        // Measure from the first live replies on, once the start-up work is over.
        QTimer::singleShot(3000, [&ctx] { SwitchToGas(ctx); });
        QTimer::singleShot(4000, [this, seconds, &dir] { measure(seconds, dir); });
        p_.app.exec();
        return report();
    }

  private:
    void watchPaints() {
        auto painted = [this] {
            if (pendingFromUs_ < 0) return;
            latencyMs_.push_back(double(p_.scheduler.nowUs() - pendingFromUs_) / 1000.0);
            pendingFromUs_ = -1;
        };
        ui::TForm_3D_GEN& main = p_.studio.main();
        if (mode_.graph) {
            main.graphPage().canvas()->onPainted = painted;
        } else if (mode_.acb) {
            main.acbPage().bars()->onPainted = painted;
        } else if (mode_.map) {
            main.mapPage().grid()->onPainted = painted;
        } else if (mode_.charts) {
            main.charts().plot()->onPainted = painted;
        } else {
            main.onIndicatorsPainted = painted;
        }
    }

    void measure(double seconds, const std::filesystem::path& dir) {
        const Context& ctx = p_.studio.context();
        connectedAtStart_ = ctx.link.ECU_Connected;
        cpuStart_ = cpuSeconds();
        samplesStart_ = latencyMs_.size();
        QTimer::singleShot(static_cast<int>(seconds * 1000), [this, &ctx, &dir] {
            connectedAtEnd_ = ctx.link.ECU_Connected;
            cpu_ = cpuSeconds() - cpuStart_;
            wall_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart_)
                        .count() -
                    4.0;
            samplesEnd_ = latencyMs_.size();
            // The drawing figures while the window is still open and polling.
            if (mode_.graph) graphFigures(p_.studio);
            if (mode_.acb) acbFigures(p_.studio);
            if (mode_.map) mapFigures(p_.studio);
            if (mode_.charts) chartsFigures(p_.studio, dir);
            // Quitting closes the windows, and the main window's close closes the port.
            QCoreApplication::quit();
        });
    }

    int report() const {
        const Context& ctx = p_.studio.context();
        std::vector<double> lat(
            latencyMs_.begin() + static_cast<std::ptrdiff_t>(samplesStart_),
            latencyMs_.begin() + static_cast<std::ptrdiff_t>(std::max(samplesStart_, samplesEnd_)));
        std::sort(lat.begin(), lat.end());
        auto pct = [&lat](double p) {
            return lat.empty() ? -1.0
                               : lat[std::min(lat.size() - 1,
                                              static_cast<std::size_t>(p * double(lat.size())))];
        };
        std::printf("connected at the start %d and at the end %d, live replies painted %zu, on gas "
                    "%d, page %d\n",
                    connectedAtStart_ ? 1 : 0, connectedAtEnd_ ? 1 : 0, lat.size(),
                    ctx.live.Work_Mode == kModeGas ? 1 : 0, p_.studio.main().pageIndex());
        std::printf("cpu while polling: %.2f %% of one core over %.1f s\n", 100.0 * cpu_ / wall_,
                    wall_);
        std::printf("last live byte to %s painted: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                    mode_.painted(), pct(0.5), pct(0.99), lat.empty() ? -1.0 : lat.back());
        std::printf("peak memory: %.1f MB\n", double(peakKb()) / 1024.0);
        return connectedAtStart_ && connectedAtEnd_ && !lat.empty() ? 0 : 1;
    }

    Program p_;
    FigureMode mode_;
    LiveVariation variation_{mode_.map};
    std::vector<double> latencyMs_;
    std::int64_t pendingFromUs_ = -1;
    std::chrono::steady_clock::time_point wallStart_;
    double cpuStart_ = 0;
    double cpu_ = 0;
    double wall_ = 0;
    std::size_t samplesStart_ = 0;
    std::size_t samplesEnd_ = 0;
    bool connectedAtStart_ = false;
    bool connectedAtEnd_ = false;
};

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "start";
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const FigureMode figures(mode);
    const auto dir = prepareWorkDir(figures.page());
    const Paths paths = MakePaths(dir, "bifuel-studio");

    // The same steps as the program's start.
    ui::SingleInstance instance(ui::InstanceServerName("figures", dir));
    instance.closeRunningCopy();
    ui::RealOpenGLCheck check;
    const auto noGl = ui::CheckOpenGL(check, paths); // measured either way; offscreen has no GL
    platform::QtScheduler scheduler;
    platform::ProgramPort programPort(scheduler);
    TimedPort port(programPort, scheduler);
    ui::StudioApp studio(scheduler, port, paths);
    platform::QtPortLister lister([&studio] { return studio.context().settings.Port_Name; });
    studio.context().lister = &lister;
    instance.listen([&studio] { studio.main().close(); });

    int status = 0;
    if (mode == "start") {
        printFirstPaint(studio, app);
    } else {
        const double seconds = argc > 2 ? std::stod(argv[2]) : 20.0;
        PollingFigures polling({app, scheduler, programPort, port, studio}, figures);
        status = polling.run(seconds, dir);
    }
    studio.onEnd = nullptr;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
