// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "apps/QuorvelOlvane/box_readers.h"
#include "apps/QuorvelOlvane/draw_area_widget.h"
#include "apps/QuorvelOlvane/screen_placement.h"
#include "common/bar_config.h"
#include "common/config_watch.h"
#include "common/switch_event.h"
#include "common/switch_to_area.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QVBoxLayout>

#include <memory>
#include <optional>
#include <vector>

// The bar: a borderless, always-on-top strip holding the area grid; it owns
// the switch box reader, the mapper and the configuration, and emits one
// event for each thing that happens to it. What else the bar does listens
// to those events from outside (wire_features.h) and is held here unseen.
class QuorvelOlvane : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int kInitialHeight = 80;
    static constexpr int kMinimumHeight = 40;
    static constexpr int kMinimumWidth = 400;
    static constexpr int kLayoutMargin = 2;

    QuorvelOlvane();
    ~QuorvelOlvane() override;

    // Makes `icon` the application's, which the window takes.
    void set_icon(const QIcon &icon);
    // Colours and opacity of config.json; throws ConfigError at the first
    // entry it cannot apply, the entries before it applied.
    void apply_config_to_bar();
    // What a reloaded config.json goes through: colours, opacity, options.
    void apply_config();
    // Shows `values` (opacity, areas, options) as if config.json held them.
    void apply_values(const BarConfig &values);

    bool click_through() const;
    void set_click_through(bool on);
    // How the boxes stand now.
    const std::optional<BoxSummary> &device_state() const { return readers.state(); }

    // Takes what listens to the bar; it goes first when the bar goes.
    void hold(std::unique_ptr<QObject> listeners);
    QObject *listeners() const { return _listeners.get(); }

    QWidget *central = nullptr;
    QVBoxLayout *layout = nullptr;
    DrawAreaWidget *draw_widget = nullptr;
    SwitchToArea switch_to_area;
    BoxReaders readers;
    std::unique_ptr<BarConfig> config;
    // Follows config.json; the bar applies what it takes.
    std::unique_ptr<ConfigWatch> watcher;
    // Which screen the bar is on, and where the user put it.
    std::unique_ptr<ScreenPlacement> screen_placement;

signals:
    void switch_event(const SwitchEvent &event);
    void device_state_changed(const BoxSummary &summary);
    void options_applied(const BarOptions &options);
    void options_not_applied(const QString &reason);
    void icon_changed();
    void settings_requested();
    void closing();

public slots:
    // Closes the bar and ends the program, also while the bar is hidden
    // (closing a hidden window ends no event loop by itself).
    void close_and_quit();
    void on_config_changed();
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
    void _apply_values();
    void _apply_options();
    SwitchToArea &_mapper(int box);

    QElapsedTimer _clock; // the switch events' timestamps
    // Boxes after the first, each with its own switch map and switch-7 mode.
    std::vector<SwitchToArea> _more_mappers;
    bool _mapped_once = false; // the window has been shown once
    bool _system_drag = false; // a left press asked the window system to move or resize the bar
    std::unique_ptr<QObject> _listeners;
};
