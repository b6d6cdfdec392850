// The start-up and memory floor: the least a Qt program needs to put a
// frameless, always-on-top window of the bar's size at the bottom of the
// screen. The bar is measured against this.

#include <QApplication>
#include <QScreen>
#include <QWidget>

int main(int argc, char *argv[])
{
    // The same toolkit environment as the bar.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qputenv("QT_SCALE_FACTOR", "1");

    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window.setWindowTitle(QStringLiteral("QuorvelOlvane floor"));
    const QRect available = QApplication::primaryScreen()->availableGeometry();
    window.resize(available.width(), 80);
    window.move(0, available.height() - 80);
    window.show();
    return QApplication::exec();
}
