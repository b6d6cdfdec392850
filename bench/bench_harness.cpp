// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// Measures the real bar classes from inside one process, with a hidapi
// stand-in in place of the device:
//
//   qo_bench_harness latency [--reports N] [--warmup N]
//       report to screen: from the moment the reader's read returns a report
//       to the end of the event that repainted the grid with it (paint and
//       flush to the window system), N reports, one at a time.
//   qo_bench_harness paint [--width W] [--height H] [--iterations N] [--labels]
//       the grid's paintEvent on a W × H widget with all eight areas lit
//       (and labelled).
//
// The latency and memory runs read config.json from the working directory,
// as the bar does: with labels there, they include drawing them.
//   qo_bench_harness memory [--reports N]
//       resident memory and heap after 1,000 and after N reports, each
//       report queued to the window as the reader emits it and painted.
//   qo_bench_harness settings [--cycles N]
//       resident and proportional memory of the bar before the settings
//       window was ever opened, after it was opened and closed once, and
//       after N more times.
//
// The window is the real QuorvelOlvane, shown on whatever platform Qt picks
// (the X server in DISPLAY under bench/run.sh). Figures go to stdout as
// "name value" lines.

#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "apps/QuorvelOlvane/draw_area_widget.h"
#include "apps/QuorvelOlvane/features/settings_window.h"
#include "apps/QuorvelOlvane/wire_features.h"
#include "bench_hidapi.h"
#include "common/switch_report.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = bench_hid::Clock;

double us(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// Sees every event the GUI thread delivers, so that it can tell when a
// delivery that painted the grid has ended: by then the frame has been
// painted and handed to the window system.
class BenchApp : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        const bool grid_paint = grid != nullptr && receiver == grid && event->type() == QEvent::Paint;
        ++_depth;
        const bool result = QApplication::notify(receiver, event);
        --_depth;
        if (grid_paint) {
            _grid_painted = true;
            paint_end = Clock::now();
            lit_at_paint = grid->lit_flags;
        }
        if (_depth == 0 && _grid_painted) {
            _grid_painted = false;
            frame_end = Clock::now();
            if (on_frame)
                on_frame();
        }
        return result;
    }

    DrawAreaWidget *grid = nullptr;
    std::function<void()> on_frame;
    Clock::time_point paint_end;
    Clock::time_point frame_end;
    std::array<bool, DrawAreaWidget::kAreaCount> lit_at_paint{};

private:
    int _depth = 0;
    bool _grid_painted = false;
};

// Switch 2 drives area 2: press and release in turn, so that every report
// changes what the grid shows.
constexpr int kSwitch = 2;
constexpr int kArea = 2;

QByteArray report_for(long long n)
{
    const auto bytes =
        switch_report::make(n % 2 == 0 ? switch_report::kOnCommand : switch_report::kOffCommand, kSwitch);
    return {reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

bool lit_after(long long n)
{
    return n % 2 == 0;
}

long arg_value(const QStringList &args, const QString &name, long fallback)
{
    const qsizetype i = args.indexOf(name);
    return (i >= 0 && i + 1 < args.size()) ? args[i + 1].toLong() : fallback;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const double rank = p / 100.0 * static_cast<double>(v.size() - 1);
    const auto lo = static_cast<std::size_t>(rank);
    const std::size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (rank - static_cast<double>(lo));
}

void print_stats(const char *name, const std::vector<double> &v)
{
    std::printf("%s_median_us %.1f\n%s_p99_us %.1f\n%s_max_us %.1f\n", name, percentile(v, 50), name,
                percentile(v, 99), name, *std::max_element(v.begin(), v.end()));
}

long status_kib(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    }
    return -1;
}

bool show_bar(QuorvelOlvane &bar, BenchApp &app)
{
    app.grid = bar.draw_widget;
    bar.show();
    if (!QTest::qWaitForWindowExposed(&bar, 10000))
        return false;
    QCoreApplication::processEvents();
    return true;
}

int run_latency(BenchApp &app, long reports, long warmup)
{
    QuorvelOlvane bar;
    if (!show_bar(bar, app)) {
        std::fprintf(stderr, "qo_bench_harness: the bar window was not exposed\n");
        return 1;
    }

    std::vector<double> to_frame;
    std::vector<double> to_paint;
    long long sent = 0;
    long mismatched = 0;
    QEventLoop loop;
    app.on_frame = [&] {
        if (sent == 0 || bench_hid::reports_read() != sent)
            return; // a repaint not caused by the report in flight
        const long long n = sent - 1;
        if (app.lit_at_paint[kArea] != lit_after(n)) {
            ++mismatched; // painted, but not yet showing this report
            return;
        }
        if (n >= warmup) {
            const Clock::time_point read_at = bench_hid::last_report_read_at();
            to_frame.push_back(us(app.frame_end - read_at));
            to_paint.push_back(us(app.paint_end - read_at));
        }
        if (static_cast<long>(to_frame.size()) >= reports) {
            loop.quit();
            return;
        }
        bench_hid::arm(report_for(sent++));
    };
    QTimer::singleShot(0, [&] { bench_hid::arm(report_for(sent++)); });
    QTimer::singleShot(reports * 100 + 30000, &loop, [&] {
        std::fprintf(stderr, "qo_bench_harness: timed out after %zu reports\n", to_frame.size());
        loop.exit(1);
    });
    if (loop.exec() != 0)
        return 1;
    app.on_frame = nullptr;

    std::printf("reports %ld\n", reports);
    print_stats("report_to_frame", to_frame);
    print_stats("report_to_paint", to_paint);
    std::printf("repaints_not_showing_report %ld\n", mismatched);
    bar.close();
    return 0;
}

int run_paint(long width, long height, long iterations, bool labels)
{
    DrawAreaWidget grid;
    grid.resize(static_cast<int>(width), static_cast<int>(height));
    grid.set_init_area_color();
    grid.set_area_opacity(0.7);
    grid.set_lit_areas({0, 1, 2, 3, 4, 5, 6, 7}, true);
    if (labels) {
        const std::array<QString, DrawAreaWidget::kAreaCount> names = {
            u"REC"_qs, u"MUTE"_qs, u"CAM"_qs, u"TALK"_qs, u"CH 1"_qs, u"CH 2"_qs, u"CH 3"_qs, u"ライブ"_qs};
        for (int area = 0; area < DrawAreaWidget::kAreaCount; ++area)
            grid.set_area_label(area, names[static_cast<std::size_t>(area)]);
    }

    QImage target(grid.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(iterations));
    for (long i = 0; i < iterations + 20; ++i) {
        const Clock::time_point start = Clock::now();
        // Only the widget's own paintEvent: no background, no children.
        grid.render(&target, QPoint(), QRegion(), QWidget::RenderFlags());
        const Clock::time_point end = Clock::now();
        if (i >= 20)
            times.push_back(us(end - start));
    }
    // The picture must be the lit grid, or the time means nothing (a point
    // of area 0 clear of its label).
    if (target.pixelColor(static_cast<int>(width) / 16, static_cast<int>(height) / 4).rgb()
        != QColor(Qt::yellow).rgb()) {
        std::fprintf(stderr, "qo_bench_harness: the rendered grid is not lit\n");
        return 1;
    }
    std::printf("paint_width %ld\npaint_height %ld\n", width, height);
    print_stats("paint", times);
    return 0;
}

int run_memory(BenchApp &app, long reports)
{
    QuorvelOlvane bar;
    if (!show_bar(bar, app)) {
        std::fprintf(stderr, "qo_bench_harness: the bar window was not exposed\n");
        return 1;
    }

    // Plays the reader: emits `received` from its own thread with a report
    // read into a stack buffer, and waits for the frame that shows it.
    std::binary_semaphore shown{0};
    std::atomic<bool> stop{false};
    long long emitted = 0;
    std::thread feeder([&] {
        for (long long n = 0; n < reports && !stop.load(); ++n) {
            const QByteArray bytes = report_for(n);
            std::array<unsigned char, HIDReaderThread::kReportSize> buffer{};
            std::memcpy(buffer.data(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
            emitted = n + 1;
            emit bar.readers.thread->received(
                QByteArray(reinterpret_cast<const char *>(buffer.data()), bytes.size()), 0); // the only box
            if (!shown.try_acquire_for(std::chrono::seconds(10)))
                break;
        }
    });

    long long frames = 0;
    long rss_1000 = -1;
    long heap_1000 = -1;
    QEventLoop loop;
    app.on_frame = [&] {
        ++frames;
        if (frames == 1000) {
            malloc_trim(0);
            rss_1000 = status_kib("VmRSS");
            heap_1000 = static_cast<long>(mallinfo2().uordblks / 1024);
        }
        if (frames >= reports)
            loop.quit();
        shown.release();
    };
    QTimer::singleShot(reports * 20 + 30000, &loop, [&] { loop.exit(1); });
    const int result = loop.exec();
    stop.store(true);
    shown.release();
    feeder.join();
    app.on_frame = nullptr;
    if (result != 0) {
        std::fprintf(stderr, "qo_bench_harness: timed out after %lld frames (%lld reports)\n", frames,
                     emitted);
        return 1;
    }
    malloc_trim(0);
    std::printf("memory_reports %ld\nrss_after_1000_kib %ld\nrss_after_all_kib %ld\n"
                "heap_after_1000_kib %ld\nheap_after_all_kib %ld\n",
                reports, rss_1000, status_kib("VmRSS"), heap_1000,
                static_cast<long>(mallinfo2().uordblks / 1024));
    bar.close();
    return 0;
}

long heap_kib()
{
    return static_cast<long>(mallinfo2().uordblks / 1024);
}

// The process's proportional set size: its share of the pages it maps.
long pss_kib()
{
    std::ifstream rollup("/proc/self/smaps_rollup");
    std::string key;
    long value = -1;
    while (rollup >> key) {
        if (key == "Pss:") {
            rollup >> value;
            return value;
        }
        rollup.ignore(4096, '\n');
    }
    return -1;
}

int run_settings(BenchApp &app, long cycles)
{
    QuorvelOlvane bar;
    wire_features(bar);
    if (!show_bar(bar, app)) {
        std::fprintf(stderr, "qo_bench_harness: the bar window was not exposed\n");
        return 1;
    }
    const auto settle = [] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QTest::qWait(200);
        malloc_trim(0);
    };
    // Opens the window as the menu does, waits for it on screen, and cancels it.
    const auto open_and_close = [&bar] {
        emit bar.settings_requested();
        const QPointer<SettingsWindow> window = wired_features(bar).settings_window;
        if (!window || !QTest::qWaitForWindowExposed(window))
            return false;
        window->reject();
        return QTest::qWaitFor([&window] { return window.isNull(); }, 5000);
    };
    settle();
    const long rss_before = status_kib("VmRSS");
    const long heap_before = heap_kib();
    const long pss_before = pss_kib();
    if (!open_and_close()) {
        std::fprintf(stderr, "qo_bench_harness: the settings window did not open and close\n");
        return 1;
    }
    settle();
    const long rss_once = status_kib("VmRSS");
    const long heap_once = heap_kib();
    const long pss_once = pss_kib();
    for (long n = 0; n < cycles; ++n) {
        if (!open_and_close()) {
            std::fprintf(stderr, "qo_bench_harness: the settings window did not open and close\n");
            return 1;
        }
    }
    settle();
    std::printf("cycles %ld\nrss_before_kib %ld\nrss_once_kib %ld\nrss_after_kib %ld\n"
                "pss_before_kib %ld\npss_once_kib %ld\npss_after_kib %ld\n"
                "heap_before_kib %ld\nheap_once_kib %ld\nheap_after_kib %ld\n",
                cycles, rss_before, rss_once, status_kib("VmRSS"), pss_before, pss_once, pss_kib(),
                heap_before, heap_once, heap_kib());
    bar.close();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qputenv("QT_SCALE_FACTOR", "1");
    BenchApp app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("latency"))
        return run_latency(app, arg_value(args, QStringLiteral("--reports"), 1000),
                           arg_value(args, QStringLiteral("--warmup"), 20));
    if (mode == QLatin1String("paint"))
        return run_paint(arg_value(args, QStringLiteral("--width"), 3840),
                         arg_value(args, QStringLiteral("--height"), 160),
                         arg_value(args, QStringLiteral("--iterations"), 1000),
                         args.contains(QStringLiteral("--labels")));
    if (mode == QLatin1String("memory"))
        return run_memory(app, arg_value(args, QStringLiteral("--reports"), 100000));
    if (mode == QLatin1String("settings"))
        return run_settings(app, arg_value(args, QStringLiteral("--cycles"), 10));
    std::fprintf(stderr, "usage: qo_bench_harness latency|paint|memory|settings [options]\n");
    return 2;
}
