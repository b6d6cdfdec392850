#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "apps/QuorvelOlvane/app_id.h"
#include "common/bar_config.h"
#include "common/diagnostics.h"

#include <QApplication>
#include <QIcon>

#include <exception>
#include <optional>

int main(int argc, char *argv[])
{
    // Every size is in device pixels, whatever the parent environment asked for.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qputenv("QT_SCALE_FACTOR", "1");

    register_application_id();

    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(BarConfig::resource_path(QStringLiteral("resources/icon/icon.ico"))));

    std::optional<QuorvelOlvane> window;
    try {
        window.emplace();
    } catch (const std::exception &e) {
        // Nothing has been shown; the reader thread was joined as the window unwound.
        diagnostics::err(QStringLiteral("QuorvelOlvane: cannot start: ") + QString::fromUtf8(e.what()));
        return 1;
    }
    window->show();
    return QApplication::exec();
}
