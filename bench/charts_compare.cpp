// The same one-hour log as `ui_figures charts` (11,500 frames, 5 channels on stacked strips,
// 1920 x 1080) drawn by Qt Charts: the comparison behind drawing the plots ourselves. Built
// only where Qt Charts is installed (Debian: qt6-charts-dev); the program does not need it.
//
//   QT_QPA_PLATFORM=offscreen charts_compare

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QImage>
#include <QLineSeries>
#include <QPainter>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

long rssKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

// The channels of ui_figures' hour: speed, petrol and gas time, manifold pressure and
// reducer temperature, a frame every 313 ms.
std::vector<std::vector<QPointF>> hourChannels() {
    std::vector<std::vector<QPointF>> channels(5);
    for (int i = 0; i < 11500; ++i) {
        const double s = i * 0.313;
        const double rpm =
            800 + static_cast<int>(2400 * (0.5 + 0.5 * std::sin(s / 37)) + 200 * std::sin(s / 3));
        const int press = 35 + static_cast<int>(50 * (0.5 + 0.5 * std::sin(s / 23)));
        const int mode = (i / 700) % 2 == 0 ? 1 : 4;
        const int petrol = 2500 + 60 * press + (mode == 4 ? 300 : 0);
        channels[0].emplace_back(s, rpm);
        channels[1].emplace_back(s, petrol / 1000.0);
        channels[2].emplace_back(s, mode == 4 ? petrol * 13 / 10 / 1000.0 : 0.0);
        channels[3].emplace_back(s, press / 100.0);
        channels[4].emplace_back(s, 20 + 60 * (1 - std::exp(-s / 300)));
    }
    return channels;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const auto channels = hourChannels();
    QWidget window;
    window.resize(1920, 1080);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    window.show();
    QApplication::processEvents();

    const long before = rssKb();
    const auto t = Clock::now();
    std::vector<QChartView*> views;
    for (const auto& points : channels) {
        auto* series = new QLineSeries;
        series->replace(QList<QPointF>(points.begin(), points.end()));
        auto* chart = new QChart;
        chart->addSeries(series);
        chart->legend()->hide();
        auto* x = new QValueAxis;
        auto* y = new QValueAxis;
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        series->attachAxis(x);
        series->attachAxis(y);
        x->setRange(0, points.back().x());
        const auto [lo, hi] =
            std::minmax_element(points.begin(), points.end(),
                                [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
        y->setRange(lo->y(), hi->y());
        auto* view = new QChartView(chart);
        view->setRenderHint(QPainter::Antialiasing, false);
        layout->addWidget(view);
        views.push_back(view);
    }
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    {
        QPainter p(&image);
        window.render(&p);
    }
    const double openMs = msSince(t);
    QApplication::processEvents();
    const long after = rssKb();

    std::vector<double> draws;
    for (int i = 0; i < 100; ++i) {
        // A pan by one pixel's worth of time, so nothing can come from a cache.
        for (QChartView* view : views)
            view->chart()->scroll(i % 2 == 0 ? 1 : -1, 0);
        const auto d = Clock::now();
        QPainter p(&image);
        window.render(&p);
        draws.push_back(msSince(d));
    }
    std::printf("Qt Charts, one-hour log (11500 frames, 5 channels, 1920x1080): built and first "
                "drawn %.1f ms; "
                "memory %+.1f MB; drawn median %.2f ms, p99 %.2f ms\n",
                openMs, double(after - before) / 1024.0, percentile(draws, 0.5),
                percentile(draws, 0.99));
    return 0;
}
