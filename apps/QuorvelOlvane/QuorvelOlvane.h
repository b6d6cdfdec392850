#pragma once

#include "apps/QuorvelOlvane/draw_area_widget.h"
#include "apps/QuorvelOlvane/screen_placement.h"
#include "apps/QuorvelOlvane/state_overlay.h"
#include "common/bar_config.h"
#include "common/config_watch.h"
#include "common/hid_reader_thread.h"
#include "common/mqtt_link.h"
#include "common/switch_commands.h"
#include "common/switch_report.h"
#include "common/switch_to_area.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class BarTray;
class SettingsWindow;
class CompositorLink;

// The bar: a borderless, always-on-top strip holding the area grid; it owns
// the switch box reader, the mapper and the configuration.
class QuorvelOlvane : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int kInitialHeight = 80;
    static constexpr int kMinimumHeight = 40;
    static constexpr int kMinimumWidth = 400;
    static constexpr int kLayoutMargin = 2;
    static constexpr int kReaderStopWaitMs = 1000;
    // How often a bar whose click-through waits on the tray looks for it.
    static constexpr int kTrayCheckMs = 2000;

    // Far above any icon's size (the shipped icon.ico is 15 KB); a larger file is not read.
    static constexpr qint64 kMaxIconBytes = qint64{1024} * 1024;

    QuorvelOlvane();
    ~QuorvelOlvane() override;

    // The icon in the file at `path`, every size it holds; a null icon when
    // there is none. Read as config.json is: only a regular file, at most
    // kMaxIconBytes, anything else refused at once with one line on stderr.
    static QIcon icon_from_file(const QString &path);
    // Makes `icon` the application's, which the window and the tray take.
    void set_icon(const QIcon &icon);

    void apply_config_to_bar();
    // Applies the opt-in settings of config->options; each feature takes its
    // typed values from there, at start-up and after every change.
    void apply_options();
    // Both of the above: what a reloaded config.json goes through.
    void apply_config();
    // Shows `values` (opacity, areas, options) as if config.json held them;
    // the settings window's preview and its Cancel.
    void apply_values(const BarConfig &values);

    // Pointer input passes through the bar to the windows below; no
    // dragging, resizing or context menu while it does. With the tray on,
    // click-through holds only while the tray is there to turn it off again.
    bool click_through() const;
    void set_click_through(bool on);

    QWidget *central = nullptr;
    QVBoxLayout *layout = nullptr;
    DrawAreaWidget *draw_widget = nullptr;
    SwitchToArea switch_to_area;
    // What "commands" starts on a switch's press or release.
    SwitchCommands commands;
    std::unique_ptr<HIDReaderThread> hid_thread;
    std::unique_ptr<BarConfig> config;
    // Follows config.json; the bar applies what it takes.
    std::unique_ptr<ConfigWatch> watcher;
    // Which screen the bar is on, and where the user put it.
    std::unique_ptr<ScreenPlacement> screen_placement;
    // Floats and places the bar on a tiling compositor ("bar" → "compositor_ipc").
    std::unique_ptr<CompositorLink> compositor;
    std::unique_ptr<BarTray> tray; // while "bar" → "tray" is on and the desktop has a tray
    // The switch boxes' state as last reported, for a tray made later: the
    // first box that is not read, or Connected once all are.
    std::optional<std::pair<DeviceState, QString>> device_state;
    // Whether the box that device_state is about is waited for.
    bool device_state_waiting() const;
    // Over the grid, while "device" → "show_state" is on; null until then.
    StateOverlay *state_overlay = nullptr;
    // The link to an MQTT broker while "mqtt" is set (bar_mqtt.cpp); none without it.
    std::unique_ptr<MqttLink> mqtt;
    // Made when first opened, gone once closed.
    QPointer<SettingsWindow> settings_window;

signals:
    // The switch box's state as the current reader reports it; it outlives
    // the reader, which is replaced when the configured box changes.
    void device_state_changed(DeviceState state, const QString &reason);
    // A switch was pressed on box `box` (its index in the configured boxes).
    void switch_pressed(int switch_no, int box);

public slots:
    // Closes the bar and ends the program, also while the bar is hidden
    // (closing a hidden window ends no event loop by itself).
    void close_and_quit();
    void on_config_changed();
    // Opens the settings window, or raises the one that is open.
    void open_settings();
    // A report of box `box` (its index in the configured boxes).
    void handle_hid_data(const QByteArray &data, int box = 0);

    void setVisible(bool visible) override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void _init_geometry();
    void _load_config_at_startup();
    void _stop_reader();
    void _start_reader(const QList<DeviceOptions> &boxes);
    void _on_box_state(DeviceState state, const QString &reason, int box);
    SwitchToArea &_mapper(int box);
    void _update_click_through();
    // Starts what "commands" gives this report's switch, if anything.
    void _run_command(const switch_report::Fields &report, int box);
    // The switch box: the reader on the configured ids, its state on the bar.
    void _apply_device_options();
    void _show_device_state();

    int _reader_generation = 0; // drops what a replaced reader still had queued
    // Per box, as the current reader reports it; empty until its first report.
    QList<std::optional<std::pair<DeviceState, QString>>> _box_states;
    int _state_box = 0; // the box device_state is about
    // Boxes after the first, each with its own switch map and switch-7 mode.
    std::vector<SwitchToArea> _more_mappers;

    // The last values applied from config.json: the tray's choice of
    // click-through lasts until the file's value changes.
    std::optional<bool> _config_click_through;
    bool _config_tray = false;
    bool _wanted_click_through = false; // by the file or the tray's menu
    QTimer _tray_check;                 // while click-through waits on the tray
    bool _mapped_once = false;          // the window has been shown once

    // "mqtt" (bar_mqtt.cpp): the link is a listener of reports, of the grid
    // and of the box's state; a mirror shows another bar instead of a box.
    void _apply_mqtt_options();
    bool _mirroring() const;
    void _publish_switch(int box, int switch_no, bool on);
    void _publish_area(int area);
    void _publish_device_state();
    void _show_mirrored_area(int area);
    void _show_mirror_state();
    std::array<std::optional<AreaState>, DrawAreaWidget::kAreaCount> _mirrored_areas;
    std::pair<DeviceState, bool> _mirrored_device{DeviceState::Connected, false};
    bool _mirror_online = false;
};
