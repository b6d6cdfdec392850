// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/QuorvelOlvane.h"

#include "apps/QuorvelOlvane/frame_zone.h"
#include "apps/QuorvelOlvane/system_drag.h"
#include "common/switch_report.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStringList>
#include <QWindow>

#include <algorithm>
#include <optional>
#include <utility>

QuorvelOlvane::QuorvelOlvane()
    : QMainWindow(nullptr)
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    // The icon is the application's, read once at start (set_icon).
    setWindowTitle(QStringLiteral("QuorvelOlvane"));

    central = new QWidget(this);
    layout = new QVBoxLayout(central);
    layout->setContentsMargins(kLayoutMargin, kLayoutMargin, kLayoutMargin, kLayoutMargin);
    setCentralWidget(central);

    _init_geometry();

    draw_widget = new DrawAreaWidget();
    // The grid replaces every pixel it covers: the window's fill below it is wasted work.
    draw_widget->setAttribute(Qt::WA_OpaquePaintEvent);
    layout->addWidget(draw_widget);

    connect(&readers, &BoxReaders::received, this, &QuorvelOlvane::handle_hid_data);
    connect(&readers, &BoxReaders::state_changed, this, &QuorvelOlvane::device_state_changed);
    // The reader starts with the options, on the box that the configuration
    // names: a bad file ends start-up before any device is opened.
    _load_config_at_startup();

    _clock.start();
    setMouseTracking(true);
    central->setMouseTracking(true);
    draw_widget->setMouseTracking(true);
}

// What listens refers to the bar: it goes first, without putting anything back.
QuorvelOlvane::~QuorvelOlvane()
{
    _listeners.reset();
}

void QuorvelOlvane::hold(std::unique_ptr<QObject> listeners)
{
    _listeners = std::move(listeners);
}

void QuorvelOlvane::set_icon(const QIcon &icon)
{
    QApplication::setWindowIcon(icon);
    emit icon_changed();
}

void QuorvelOlvane::_init_geometry()
{
    // Full width at the bottom of the primary screen's available area, that
    // area's own origin included: a top panel or a primary screen right of
    // another must not push the bar off the bottom edge or onto another screen.
    screen_placement = std::make_unique<ScreenPlacement>(this, kInitialHeight);
    setMinimumHeight(kMinimumHeight);
    setMinimumWidth(kMinimumWidth);
}

void QuorvelOlvane::setVisible(bool visible)
{
    // The first time, the window is mapped before its widgets are shown:
    // shown with it, the first of them would start Qt's accessibility bridge,
    // which connects to the session bus (or has dbus-launch start one) before
    // the window is mapped. Shown at once after it, they are in the first frame.
    if (!visible || _mapped_once || !central || !central->isVisibleTo(this)) {
        QMainWindow::setVisible(visible);
        return;
    }
    _mapped_once = true;
    central->hide();
    QMainWindow::setVisible(true);
    central->show();
}

void QuorvelOlvane::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0));
    painter.setPen(QPen(QColor(200, 200, 200), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void QuorvelOlvane::closeEvent(QCloseEvent *event)
{
    // Listeners say goodbye and end what they started while the bar is still whole.
    emit closing();
    readers.stop();
    screen_placement->save_pending();
    event->accept();
}

void QuorvelOlvane::_load_config_at_startup()
{
    config = std::make_unique<BarConfig>(BarConfig::get_config_path());
    watcher = std::make_unique<ConfigWatch>(*config);
    const BarConfig::Contents contents = watcher->start();
    // Unless config.json names the box, the reader starts first, on the
    // default box, as it did before the box could be configured: its line
    // comes out even when the file then fails.
    if (!BarConfig::names_device(contents))
        readers.read({DeviceOptions{}});
    config->load(contents);

    // Only at start-up: a bar too faint to find is worse than the user's value.
    if (!BarConfig::number(config->opacity))
        config->opacity = BarConfig::kDefaultOpacity;
    if (*BarConfig::number(config->opacity) < 0.5)
        config->opacity = BarConfig::kDefaultOpacity;

    if (!config->areas.is_object() || config->areas.empty())
        draw_widget->set_init_area_color();
    apply_config_to_bar();
    _apply_options();

    connect(watcher.get(), &ConfigWatch::changed, this, &QuorvelOlvane::apply_config);
    connect(watcher.get(), &ConfigWatch::not_applied, this, &QuorvelOlvane::options_not_applied);
}

void QuorvelOlvane::apply_config_to_bar()
{
    const auto fail = [this](const QString &reason) {
        throw ConfigError(
            (BarConfig::shown_path(config->path) + QStringLiteral(": ") + reason).toStdString());
    };
    if (!config->areas.is_object())
        fail(QStringLiteral("\"areas\" must be a JSON object"));
    // In file order; an entry that cannot be applied ends it there, the ones before it applied.
    for (const auto &entry : config->areas.items()) {
        const QString key = QString::fromStdString(BarConfig::Json(entry.key()).dump());
        const std::optional<int> index = BarConfig::area_index_from_key(entry.key());
        if (!index)
            fail(QStringLiteral("area key %1 is not a decimal integer").arg(key));
        const BarConfig::Json &value = entry.value();
        if (!value.is_object())
            fail(QStringLiteral("area %1 must be a JSON object").arg(key));
        const auto color = value.find("color");
        if (color == value.end())
            draw_widget->set_area_color(*index, QStringLiteral("#FFFFFF"));
        else if (color->is_string())
            draw_widget->set_area_color(*index, QString::fromStdString(color->get<std::string>()));
        else // not a colour string at all: reported and stored as an invalid colour
            draw_widget->set_area_color(*index, QColor(), QString::fromStdString(color->dump()));
    }

    const std::optional<double> opacity = BarConfig::number(config->opacity);
    if (!opacity)
        fail(QStringLiteral("\"bar\" → \"opacity\" must be a number"));
    setWindowOpacity(*opacity);
    draw_widget->set_area_opacity(*opacity);
}

// The watch has checked the options whole and said what of the rest applies.
void QuorvelOlvane::apply_config()
{
    _apply_values();
    // A colour that cannot be drawn is not applied either: said like the rest,
    // before the options make what hears it.
    const QMap<int, QString> unusable = config->unusable_colors();
    for (auto it = unusable.cbegin(); it != unusable.cend(); ++it)
        emit options_not_applied(config->unusable_color_reason(it.key(), it.value()));
    _apply_options();
}

void QuorvelOlvane::apply_values(const BarConfig &values)
{
    config->opacity = values.opacity;
    config->areas = values.areas;
    config->options = values.options;
    _apply_values();
    _apply_options();
}

void QuorvelOlvane::_apply_values()
{
    try {
        apply_config_to_bar();
    } catch (const ConfigError &) { // said by the watch, which knew before
    }
}

// Changes the window's parts: not a const operation, whatever the pointers allow.
void QuorvelOlvane::_apply_options() // NOLINT(readability-make-member-function-const)
{
    const BarOptions &options = config->options;
    screen_placement->set_height(options.height);
    screen_placement->apply(options);

    // Labels: a listed area takes its entry's label (none without "label");
    // areas not listed keep theirs, as they keep their colours.
    for (const AreaOptions &area : options.areas)
        draw_widget->set_area_label(area.index, area.label.value_or(QString()), area.label_color);
    const QList<DeviceOptions> boxes = options.boxes();
    _more_mappers.resize(static_cast<std::size_t>(boxes.size() - 1));
    for (int box = 0; box < boxes.size(); ++box)
        _mapper(box).set_overrides(boxes.at(box).switches.value_or(options.switches));

    readers.read(options.boxes_to_read());
    emit options_applied(options);
}

SwitchToArea &QuorvelOlvane::_mapper(int box)
{
    if (box <= 0 || static_cast<std::size_t>(box) > _more_mappers.size())
        return switch_to_area;
    return _more_mappers[static_cast<std::size_t>(box - 1)];
}

// Not const: a reload changes the whole bar, through the watcher it owns.
void QuorvelOlvane::on_config_changed() // NOLINT(readability-make-member-function-const)
{
    watcher->reload();
}

void QuorvelOlvane::close_and_quit()
{
    if (close())
        QCoreApplication::quit();
}

void QuorvelOlvane::handle_hid_data(const QByteArray &data, int box)
{
    const std::optional<switch_report::Fields> report = switch_report::parse(data);
    if (!report)
        return;
    for (const Action &action : _mapper(box).handle(report->cmd, report->switch_no))
        draw_widget->set_lit_areas(action.areas, action.draw_flags);
    SwitchEvent event;
    event.switch_no = report->switch_no;
    event.on = report->cmd == switch_report::kOnCommand;
    event.box = box;
    event.timestamp_ns = _clock.nsecsElapsed();
    emit switch_event(event);
}

bool QuorvelOlvane::click_through() const
{
    return windowFlags().testFlag(Qt::WindowTransparentForInput);
}

void QuorvelOlvane::set_click_through(bool on)
{
    if (on == click_through())
        return;
    // Changed on the native window in place: setWindowFlags would hide and re-create it.
    overrideWindowFlags(windowFlags().setFlag(Qt::WindowTransparentForInput, on));
    if (QWindow *handle = windowHandle())
        handle->setFlag(Qt::WindowTransparentForInput, on);
    if (on)
        unsetCursor();
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
    _system_drag =
        zone == FrameZone::Interior ? handle->startSystemMove() : handle->startSystemResize(zone_edges(zone));
}

void QuorvelOlvane::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    setCursor(zone_cursor(frame_zone(pos.x(), pos.y(), width(), height())));
}

void QuorvelOlvane::mouseReleaseEvent(QMouseEvent *event)
{
    // A window system that had taken the drag would have had this release:
    // it has not yet, and must not start it now with no button held.
    if (std::exchange(_system_drag, false) && event->button() == Qt::LeftButton)
        cancel_system_drag(windowHandle());
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
    const QAction *settings_action =
        config->options.settings_in_menu ? menu.addAction(QStringLiteral("設定…")) : nullptr;
    const QAction *close_action = menu.addAction(QStringLiteral("閉じる"));
    const QAction *chosen = menu.exec(event->globalPos());
    if (chosen && chosen == settings_action)
        emit settings_requested();
    else if (chosen == close_action)
        close();
}
