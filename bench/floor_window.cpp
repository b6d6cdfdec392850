// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// The floors the bar is measured against.
//
//   qo_bench_floor          the least a Qt program needs to put a frameless,
//                           always-on-top window of the bar's size at the
//                           bottom of the screen (start-up and memory).
//   qo_bench_floor --poll   the same window plus the least a Qt program needs
//                           to poll the switch box as the bar must (one
//                           non-blocking read and a 10 ms pause per pass, on
//                           a thread of its own) and show each report: a
//                           queued call to the GUI thread that repaints one
//                           rectangle (CPU while polling).

#include <hidapi.h>

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

class Cell : public QWidget
{
public:
    using QWidget::QWidget;
    void toggle()
    {
        lit = !lit;
        update(QRect(0, 0, width() / 4, height() / 2));
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), lit ? QColor(255, 212, 0) : QColor(0, 0, 0));
    }

private:
    bool lit = false;
};

} // namespace

int main(int argc, char *argv[])
{
    // The same toolkit environment as the bar.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qputenv("QT_SCALE_FACTOR", "1");

    const bool poll = argc > 1 && std::strcmp(argv[1], "--poll") == 0;

    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window.setWindowTitle(QStringLiteral("QuorvelOlvane floor"));
    const QRect available = QApplication::primaryScreen()->availableGeometry();
    window.resize(available.width(), 80);
    window.move(0, available.height() - 80);

    std::atomic<bool> running{true};
    QThread *reader = nullptr;
    if (poll) {
        auto *cell = new Cell(&window);
        cell->setAttribute(Qt::WA_OpaquePaintEvent);
        cell->setGeometry(2, 2, window.width() - 4, window.height() - 4);
        reader = QThread::create([&running, cell] {
            hid_device *device = hid_open(0x2E8A, 0x000A, nullptr);
            if (!device) {
                // A floor that does not poll would flatter the bar: fail instead.
                std::fputs("qo_bench_floor: no switch box to poll\n", stderr);
                QMetaObject::invokeMethod(
                    qApp, [] { QCoreApplication::exit(2); }, Qt::QueuedConnection);
                return;
            }
            hid_set_nonblocking(device, 1);
            std::array<unsigned char, 64> buffer{};
            while (running.load()) {
                if (hid_read(device, buffer.data(), buffer.size()) > 0)
                    QMetaObject::invokeMethod(cell, &Cell::toggle, Qt::QueuedConnection);
                QThread::msleep(10);
            }
            hid_close(device);
        });
        reader->start();
    }

    window.show();
    const int status = QApplication::exec();
    if (reader) {
        running.store(false);
        reader->wait();
        delete reader;
    }
    return status;
}
