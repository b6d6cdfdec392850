#include "apps/QuorvelOlvane/QuorvelOlvane.h"

#include "apps/QuorvelOlvane/frame_zone.h"
#include "apps/QuorvelOlvane/tray.h"
#include "common/diagnostics.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <optional>

QuorvelOlvane::QuorvelOlvane()
    : QMainWindow(nullptr)
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("QuorvelOlvane"));
    setWindowIcon(QIcon(QStringLiteral("resources/icon/icon.ico")));

    central = new QWidget(this);
    layout = new QVBoxLayout(central);
    layout->setContentsMargins(kLayoutMargin, kLayoutMargin, kLayoutMargin, kLayoutMargin);
    setCentralWidget(central);

    _init_geometry();

    draw_widget = new DrawAreaWidget();
    // The grid replaces every pixel it covers: the window's fill below it is wasted work.
    draw_widget->setAttribute(Qt::WA_OpaquePaintEvent);
    layout->addWidget(draw_widget);

    connect(this, &QuorvelOlvane::device_state_changed, this,
            [this](DeviceState state, const QString &reason) { device_state.emplace(state, reason); });

    // switch_to_area is a plain member, constructed before the reader starts.
    hid_thread = std::make_unique<HIDReaderThread>();
    connect(hid_thread.get(), &HIDReaderThread::received, this, &QuorvelOlvane::handle_hid_data);
    hid_thread->start();

    // The reader is already running here; if the configuration throws, the
    // destructor of hid_thread stops and joins it before the error leaves.
    _load_config_at_startup();

    setMouseTracking(true);
    central->setMouseTracking(true);
    draw_widget->setMouseTracking(true);
}

QuorvelOlvane::~QuorvelOlvane() = default;

void QuorvelOlvane::_init_geometry()
{
    // Full width at the bottom of the primary screen's available area, that
    // area's own origin included: a top panel or a primary screen right of
    // another must not push the bar off the bottom edge or onto another screen.
    screen_placement = std::make_unique<ScreenPlacement>(this, kInitialHeight);
    setMinimumHeight(kMinimumHeight);
    setMinimumWidth(kMinimumWidth);
}

void QuorvelOlvane::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0));
    painter.setPen(QPen(QColor(200, 200, 200), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

// Stops the reader thread: not a const operation, whatever the pointer allows.
void QuorvelOlvane::_stop_reader() // NOLINT(readability-make-member-function-const)
{
    if (hid_thread && hid_thread->isRunning()) {
        hid_thread->stop();
        hid_thread->wait(kReaderStopWaitMs);
    }
}

void QuorvelOlvane::closeEvent(QCloseEvent *event)
{
    _stop_reader();
    screen_placement->save_pending();
    event->accept();
}

namespace {

// A JSON number, or a boolean counted as 1 or 0; anything else is no number.
std::optional<double> json_number(const BarConfig::Json &value)
{
    if (value.is_boolean())
        return value.get<bool>() ? 1.0 : 0.0;
    if (value.is_number())
        return value.get<double>();
    return std::nullopt;
}

[[noreturn]] void config_fail(const QString &path, const QString &reason)
{
    throw ConfigError((path + QStringLiteral(": ") + reason).toStdString());
}

} // namespace

void QuorvelOlvane::_load_config_at_startup()
{
    config = std::make_unique<BarConfig>(BarConfig::get_config_path());
    if (QFileInfo::exists(QStringLiteral("config.json")))
        config->load();

    // Only at start-up: a bar too faint to find is worse than the user's value.
    if (!json_number(config->opacity))
        config->opacity = BarConfig::kDefaultOpacity;
    if (*json_number(config->opacity) < 0.5)
        config->opacity = BarConfig::kDefaultOpacity;

    if (!config->areas.is_object() || config->areas.empty())
        draw_widget->set_init_area_color();
    apply_config_to_bar();
    apply_options();

    watcher = std::make_unique<QFileSystemWatcher>(QStringList{config->path});
    connect(watcher.get(), &QFileSystemWatcher::fileChanged, this, &QuorvelOlvane::on_config_changed);
}

void QuorvelOlvane::apply_config_to_bar()
{
    const BarConfig::Json &areas = config->areas;
    if (!areas.is_object())
        config_fail(config->path, QStringLiteral("\"areas\" must be a JSON object"));

    for (const auto &entry : areas.items()) {
        const QString key = QString::fromStdString(BarConfig::Json(entry.key()).dump());
        const std::optional<int> index = BarConfig::area_index_from_key(entry.key());
        if (!index)
            config_fail(config->path, QStringLiteral("area key %1 is not a decimal integer").arg(key));
        const BarConfig::Json &value = entry.value();
        if (!value.is_object())
            config_fail(config->path, QStringLiteral("area %1 must be a JSON object").arg(key));

        const auto color = value.find("color");
        if (color == value.end())
            draw_widget->set_area_color(*index, QStringLiteral("#FFFFFF"));
        else if (color->is_string())
            draw_widget->set_area_color(*index, QString::fromStdString(color->get<std::string>()));
        else // not a colour string at all: reported and stored as an invalid colour
            draw_widget->set_area_color(*index, QColor(), QString::fromStdString(color->dump()));
    }

    const std::optional<double> opacity = json_number(config->opacity);
    if (!opacity)
        config_fail(config->path, QStringLiteral("\"bar\" → \"opacity\" must be a number"));
    setWindowOpacity(*opacity);
    draw_widget->set_area_opacity(*opacity);
}

// Changes the window's parts: not a const operation, whatever the pointers allow.
void QuorvelOlvane::apply_options() // NOLINT(readability-make-member-function-const)
{
    screen_placement->apply(config->options);

    const BarOptions &options = config->options;

    if (options.click_through != _config_click_through) {
        _config_click_through = options.click_through;
        set_click_through(options.click_through);
    }
    if (options.tray != _config_tray) {
        _config_tray = options.tray;
        if (options.tray) {
            // The icon shows up once a tray starts, as a panel may after the bar at login.
            if (!QSystemTrayIcon::isSystemTrayAvailable())
                diagnostics::out(QStringLiteral("QuorvelOlvane: no system tray on this desktop yet; "
                                                "the bar runs without its tray icon until one starts"));
            tray = std::make_unique<BarTray>(*this);
        } else {
            // Without the tray nothing could bring the bar back or undo its choice.
            tray.reset();
            set_click_through(options.click_through);
            if (isHidden() && testAttribute(Qt::WA_WState_ExplicitShowHide))
                show();
        }
    }
}

bool QuorvelOlvane::click_through() const
{
    return windowFlags().testFlag(Qt::WindowTransparentForInput);
}

void QuorvelOlvane::set_click_through(bool on)
{
    // Changed on the native window in place: setWindowFlags would hide and re-create it.
    overrideWindowFlags(windowFlags().setFlag(Qt::WindowTransparentForInput, on));
    if (QWindow *handle = windowHandle())
        handle->setFlag(Qt::WindowTransparentForInput, on);
    if (on)
        unsetCursor();
}

void QuorvelOlvane::on_config_changed()
{
    // Editors that save by renaming a new file over the old one make the
    // watcher drop the path; a file that still exists is watched again.
    if (QFileInfo::exists(config->path) && !watcher->files().contains(config->path))
        watcher->addPath(config->path);

    try {
        config->load();
        apply_config_to_bar();
        apply_options();
    } catch (const std::exception &e) {
        diagnostics::err(QStringLiteral("QuorvelOlvane: changed configuration not applied: ")
                         + QString::fromUtf8(e.what()));
    }
}

void QuorvelOlvane::handle_hid_data(const QByteArray &data)
{
    if (data.size() < 4)
        return;
    const int cmd = static_cast<unsigned char>(data[2]);
    const int switch_no = static_cast<unsigned char>(data[3]);
    for (const Action &action : switch_to_area.handle(cmd, switch_no))
        draw_widget->set_lit_areas(action.areas, action.draw_flags);
}

void QuorvelOlvane::mousePressEvent(QMouseEvent *event)
{
    if (click_through())
        return;
    if (event->button() == Qt::RightButton) {
        QMainWindow::mousePressEvent(event);
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    QWindow *handle = windowHandle();
    if (!handle)
        return;
    const QPoint pos = event->position().toPoint();
    const FrameZone zone = frame_zone(pos.x(), pos.y(), width(), height());
    // The window system does the rest; if it refuses, the press has no effect.
    screen_placement->user_took_hold();
    if (zone == FrameZone::Interior)
        handle->startSystemMove();
    else
        handle->startSystemResize(zone_edges(zone));
}

void QuorvelOlvane::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    setCursor(zone_cursor(frame_zone(pos.x(), pos.y(), width(), height())));
}

void QuorvelOlvane::mouseReleaseEvent(QMouseEvent *event)
{
    unsetCursor();
    QMainWindow::mouseReleaseEvent(event);
}

void QuorvelOlvane::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void QuorvelOlvane::contextMenuEvent(QContextMenuEvent *event)
{
    if (click_through())
        return;
    QMenu menu(this);
    const QAction *close_action = menu.addAction(QStringLiteral("閉じる"));
    if (menu.exec(event->globalPos()) == close_action)
        close();
}
