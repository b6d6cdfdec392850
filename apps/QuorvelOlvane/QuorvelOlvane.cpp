#include "apps/QuorvelOlvane/QuorvelOlvane.h"

#include "apps/QuorvelOlvane/compositor_link.h"
#include "apps/QuorvelOlvane/frame_zone.h"
#include "apps/QuorvelOlvane/settings_window.h"
#include "apps/QuorvelOlvane/tray.h"
#include "common/diagnostics.h"
#include "common/regular_file.h"
#include "common/switch_report.h"

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
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

    connect(this, &QuorvelOlvane::device_state_changed, this, &QuorvelOlvane::_show_device_state);
    connect(this, &QuorvelOlvane::device_state_changed, this, &QuorvelOlvane::_publish_device_state);
    connect(draw_widget, &DrawAreaWidget::area_changed, this, &QuorvelOlvane::_publish_area);
    _tray_check.setInterval(kTrayCheckMs);
    connect(&_tray_check, &QTimer::timeout, this, &QuorvelOlvane::_update_click_through);

    // The reader starts from apply_options(), on the box that the
    // configuration names: a bad file ends start-up before any device is opened.
    _load_config_at_startup();

    setMouseTracking(true);
    central->setMouseTracking(true);
    draw_widget->setMouseTracking(true);
}

// The settings window refers to the bar: it goes first, without putting anything back.
QuorvelOlvane::~QuorvelOlvane()
{
    delete settings_window;
}

QIcon QuorvelOlvane::icon_from_file(const QString &path)
{
    // Read here, not by QIcon: a FIFO or a device in its place would hang or flood start-up.
    regular_file::Read file = regular_file::read(path, kMaxIconBytes);
    if (!file.error.isEmpty())
        diagnostics::err(QStringLiteral("QuorvelOlvane: icon not used: ") + file.error);
    if (!file.bytes)
        return {};
    QBuffer buffer(&*file.bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    QIcon icon;
    // Every image of an .ico, one by one (read() alone gives the same image again).
    constexpr int kMaxImages = 64;
    for (int n = 0; n < kMaxImages; ++n) {
        QImage image;
        if (!reader.read(&image))
            break;
        icon.addPixmap(QPixmap::fromImage(image));
        if (!reader.jumpToNextImage())
            break;
    }
    return icon;
}

// Not const: it changes the icon the bar shows everywhere.
void QuorvelOlvane::set_icon(const QIcon &icon) // NOLINT(readability-make-member-function-const)
{
    QApplication::setWindowIcon(icon);
    if (tray)
        tray->update_icon();
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
    // An open settings window would keep the program running without its bar.
    if (settings_window)
        settings_window->reject();
    _stop_reader();
    mqtt.reset(); // "offline" before the program ends
    commands.end_all();
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

} // namespace

void QuorvelOlvane::_load_config_at_startup()
{
    config = std::make_unique<BarConfig>(BarConfig::get_config_path());
    watcher = std::make_unique<ConfigWatch>(*config);
    const BarConfig::Contents contents = watcher->start();
    // Unless config.json names the box, the reader starts first, on the
    // default box, as it did before the box could be configured: its line
    // comes out even when the file then fails.
    if (!BarConfig::names_device(contents))
        _start_reader({DeviceOptions{}});
    config->load(contents);

    // Only at start-up: a bar too faint to find is worse than the user's value.
    if (!json_number(config->opacity))
        config->opacity = BarConfig::kDefaultOpacity;
    if (*json_number(config->opacity) < 0.5)
        config->opacity = BarConfig::kDefaultOpacity;

    if (!config->areas.is_object() || config->areas.empty())
        draw_widget->set_init_area_color();
    apply_config_to_bar();
    apply_options();

    // A change reaches the bar only once it has been checked: it is applied whole.
    connect(watcher.get(), &ConfigWatch::changed, this, &QuorvelOlvane::apply_config);
    // Standard error is out of sight for a bar started from a menu: the tray says it too.
    connect(watcher.get(), &ConfigWatch::not_applied, this, [this](const QString &reason) {
        if (tray)
            tray->icon.showMessage(QStringLiteral("QuorvelOlvane"),
                                   QStringLiteral("config.json の変更は適用されませんでした:\n") + reason,
                                   QSystemTrayIcon::Warning);
    });
}

void QuorvelOlvane::apply_config_to_bar()
{
    // Checked whole before anything changes; at start-up the error ends the
    // program, and a change that fails this never reaches the bar.
    if (const QString reason = config->apply_error(); !reason.isEmpty())
        throw ConfigError(reason.toStdString());

    for (const auto &entry : config->areas.items()) {
        const int index = *BarConfig::area_index_from_key(entry.key());
        const BarConfig::Json &value = entry.value();
        const auto color = value.find("color");
        if (color == value.end())
            draw_widget->set_area_color(index, QStringLiteral("#FFFFFF"));
        else if (color->is_string())
            draw_widget->set_area_color(index, QString::fromStdString(color->get<std::string>()));
        else // not a colour string at all: reported and stored as an invalid colour
            draw_widget->set_area_color(index, QColor(), QString::fromStdString(color->dump()));
    }

    const double opacity = *json_number(config->opacity);
    setWindowOpacity(opacity);
    draw_widget->set_area_opacity(opacity);
}

void QuorvelOlvane::apply_config()
{
    apply_config_to_bar();
    apply_options();
}

void QuorvelOlvane::apply_values(const BarConfig &values)
{
    config->opacity = values.opacity;
    config->areas = values.areas;
    config->options = values.options;
    apply_config();
}

void QuorvelOlvane::open_settings()
{
    if (!settings_window)
        settings_window = new SettingsWindow(*this);
    settings_window->show();
    settings_window->raise();
    settings_window->activateWindow();
}

// Changes the window's parts: not a const operation, whatever the pointers allow.
void QuorvelOlvane::apply_options() // NOLINT(readability-make-member-function-const)
{
    const BarOptions &options = config->options;
    screen_placement->set_height(options.height);
    screen_placement->apply(options);
    // Made once; turned off, the bar stays as the compositor has it.
    if (options.compositor_ipc && !compositor)
        compositor = CompositorLink::create(*screen_placement);
    else if (!options.compositor_ipc)
        compositor.reset();

    if (options.click_through != _config_click_through) {
        _config_click_through = options.click_through;
        set_click_through(options.click_through);
    }
    if (options.tray != _config_tray) {
        _config_tray = options.tray;
        if (options.tray) {
            // The icon shows up once a tray starts, as a panel may after the bar at login.
            if (!BarTray::available())
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
        _update_click_through();
    }

    // Labels: a listed area takes its entry's label (none without "label");
    // areas not listed keep theirs, as they keep their colours.
    for (const AreaOptions &area : config->options.areas)
        draw_widget->set_area_label(area.index, area.label.value_or(QString()), area.label_color);
    const QList<DeviceOptions> boxes = config->options.boxes();
    _more_mappers.resize(static_cast<std::size_t>(boxes.size() - 1));
    for (int box = 0; box < boxes.size(); ++box)
        _mapper(box).set_overrides(boxes.at(box).switches.value_or(config->options.switches));

    _apply_device_options();
    _apply_mqtt_options();

    // Commands run in the config folder, whatever folder a relative config path was read from.
    commands.set_commands(options.commands, QFileInfo(config->path).absolutePath());
}

bool QuorvelOlvane::click_through() const
{
    return windowFlags().testFlag(Qt::WindowTransparentForInput);
}

void QuorvelOlvane::set_click_through(bool on)
{
    _wanted_click_through = on;
    _update_click_through();
}

// A bar that ignores the mouse can be given it back only from the tray: while
// the tray is gone (its host restarted or ended), the mouse works on the bar.
void QuorvelOlvane::_update_click_through()
{
    const bool waits_on_tray = _wanted_click_through && tray;
    const bool on = _wanted_click_through && (!waits_on_tray || BarTray::available());
    if (waits_on_tray && !_tray_check.isActive())
        _tray_check.start();
    else if (!waits_on_tray)
        _tray_check.stop();
    if (on == click_through())
        return;
    // Changed on the native window in place: setWindowFlags would hide and re-create it.
    overrideWindowFlags(windowFlags().setFlag(Qt::WindowTransparentForInput, on));
    if (QWindow *handle = windowHandle())
        handle->setFlag(Qt::WindowTransparentForInput, on);
    if (on)
        unsetCursor();
}

void QuorvelOlvane::_apply_device_options()
{
    if (_mirroring()) {
        // A mirror shows another bar's box: it reads none of its own.
        _stop_reader();
        hid_thread.reset();
        _box_states.clear();
        device_state.reset();
        if (!state_overlay)
            state_overlay = new StateOverlay(draw_widget);
        return;
    }
    const QList<DeviceOptions> boxes = config->options.boxes();
    const bool same =
        hid_thread && hid_thread->boxes.size() == boxes.size()
        && std::equal(boxes.cbegin(), boxes.cend(), hid_thread->boxes.cbegin(),
                      [](const DeviceOptions &a, const DeviceOptions &b) { return a.same_box(b); });
    if (!same)
        _start_reader(boxes);
    const bool show_state =
        std::any_of(boxes.cbegin(), boxes.cend(), [](const DeviceOptions &box) { return box.show_state; });
    if (show_state && !state_overlay)
        state_overlay = new StateOverlay(draw_widget);
    _show_device_state();
}

// A reader stays on the boxes it was made for: another box means a new reader.
void QuorvelOlvane::_start_reader(const QList<DeviceOptions> &boxes)
{
    _stop_reader();
    hid_thread.reset();
    ++_reader_generation;
    device_state.reset();
    _box_states = decltype(_box_states)(boxes.size());
    hid_thread = std::make_unique<HIDReaderThread>(boxes);
    // A reader that takes over from another says when it has the box, as one
    // that waited for it does.
    hid_thread->announce_connection = _reader_generation > 1;
    connect(hid_thread.get(), &HIDReaderThread::received, this,
            [this, generation = _reader_generation](const QByteArray &data, int box) {
                if (generation == _reader_generation)
                    handle_hid_data(data, box);
            });
    connect(hid_thread.get(), &HIDReaderThread::state_changed, this,
            [this, generation = _reader_generation](DeviceState state, const QString &reason, int box) {
                if (generation == _reader_generation)
                    _on_box_state(state, reason, box);
            });
    hid_thread->start();
}

// The bar and the tray show one state: the first box that is not read, with
// every such box's reason; once all are read, Connected with where they are.
void QuorvelOlvane::_on_box_state(DeviceState state, const QString &reason, int box)
{
    if (box < 0 || box >= _box_states.size())
        return;
    _box_states[box].emplace(state, reason);
    QStringList reasons;
    std::optional<int> first_missing;
    for (int i = 0; i < _box_states.size(); ++i) {
        const auto &entry = _box_states.at(i);
        if (!entry || entry->first == DeviceState::Connected)
            continue;
        if (!first_missing)
            first_missing = i;
        reasons.append(entry->second);
    }
    if (first_missing) {
        _state_box = *first_missing;
        device_state.emplace(_box_states.at(*first_missing)->first, reasons.join(u'\n'));
    } else {
        for (const auto &entry : _box_states) {
            if (entry)
                reasons.append(entry->second);
        }
        _state_box = box;
        device_state.emplace(DeviceState::Connected, reasons.join(u'\n'));
    }
    emit device_state_changed(device_state->first, device_state->second);
}

bool QuorvelOlvane::device_state_waiting() const
{
    const QList<DeviceOptions> boxes = config ? config->options.boxes() : QList<DeviceOptions>{};
    return _state_box < boxes.size() && boxes.at(_state_box).reconnect;
}

SwitchToArea &QuorvelOlvane::_mapper(int box)
{
    if (box <= 0 || static_cast<std::size_t>(box) > _more_mappers.size())
        return switch_to_area;
    return _more_mappers[static_cast<std::size_t>(box - 1)];
}

// Each box that is not read and whose "show_state" is on gets its own short
// text, named when there are several.
void QuorvelOlvane::_show_device_state()
{
    if (_mirroring()) {
        _show_mirror_state();
        return;
    }
    if (!state_overlay)
        return;
    const QList<DeviceOptions> boxes = config->options.boxes();
    QStringList texts;
    QStringList reasons;
    for (int box = 0; box < _box_states.size() && box < boxes.size(); ++box) {
        const auto &entry = _box_states.at(box);
        if (!boxes.at(box).show_state || !entry || entry->first == DeviceState::Connected)
            continue;
        const QString text = StateOverlay::text_for(entry->first, boxes.at(box).reconnect);
        const QString name = hid_thread ? hid_thread->box_name(box) : QString();
        texts.append(name.isEmpty() ? text : name + QStringLiteral(": ") + text);
        reasons.append(entry->second);
    }
    state_overlay->set_text(texts.join(QStringLiteral("  ·  ")));
    central->setToolTip(reasons.join(u'\n'));
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
    const bool on = report->cmd == switch_report::kOnCommand;
    _publish_switch(box, report->switch_no, on);
    for (const Action &action : _mapper(box).handle(report->cmd, report->switch_no))
        draw_widget->set_lit_areas(action.areas, action.draw_flags);
    _run_command(*report, box);
    if (on)
        emit switch_pressed(report->switch_no, box);
}

void QuorvelOlvane::_run_command(const switch_report::Fields &report, int box)
{
    const QList<DeviceOptions> boxes = config->options.boxes();
    SwitchEvent event;
    event.switch_no = report.switch_no;
    event.on = report.cmd == switch_report::kOnCommand;
    event.box = box;
    event.box_name = box >= 0 && box < boxes.size() ? boxes.at(box).name : QString();
    event.box_label = hid_thread ? hid_thread->box_name(box) : QString();
    commands.run(event);
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
    const QAction *settings_action =
        config->options.settings_in_menu ? menu.addAction(QStringLiteral("設定…")) : nullptr;
    const QAction *close_action = menu.addAction(QStringLiteral("閉じる"));
    const QAction *chosen = menu.exec(event->globalPos());
    if (chosen && chosen == settings_action)
        open_settings();
    else if (chosen == close_action)
        close();
}
