// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/bar_config.h"
#include "common/config_edit.h"
#include "common/hid_reader_thread.h"

#include <QColor>
#include <QDialog>
#include <QMap>
#include <QPointer>
#include <QTimer>

#include <array>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QScrollArea;
class QSlider;
class QTabWidget;
class QTreeWidget;
class BarInterface;

// The bar's settings without a text editor: every change shows on the
// running bar at once, Cancel puts back what the bar showed, and Save writes
// only the changed members into config.json, which the bar then reloads.
class SettingsWindow final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kAssignTimeoutMs = 10000;
    static constexpr int kCountdownTickMs = 250;
    static constexpr int kDeviceRefreshMs = 2000;
    // The bar refuses to start fainter than this: no lower value is offered.
    static constexpr int kMinOpacityPercent = 50;

    // What the window edits, typed.
    struct Values
    {
        double opacity = BarConfig::kDefaultOpacity;
        std::array<QColor, 8> colors;
        std::array<QString, 8> labels;
        std::array<std::optional<QColor>, 8> label_colors;
        QMap<int, int> switches;
        DeviceOptions device;
        QString screen;
        bool remember_geometry = false;
        bool tray = false;
        bool click_through = false;

        friend bool operator==(const Values &, const Values &) = default;
    };

    // One area's controls.
    struct AreaControls
    {
        QGroupBox *box = nullptr;
        QPushButton *color = nullptr;
        QLineEdit *label = nullptr;
        QPushButton *label_color = nullptr;
        QCheckBox *automatic_label_color = nullptr;
        QLabel *switches = nullptr;
        QPushButton *assign = nullptr;
    };

    explicit SettingsWindow(BarInterface &bar);
    ~SettingsWindow() override;

    // The switches that light `area` under the "switches" map `overrides`
    // and the built-in table, in words ("スイッチ 4"), switch 7's mode said.
    static QString switches_text(const QMap<int, int> &overrides, int area);
    // How an area of the grid is named to screen readers and in its title.
    static QString area_name(int area, const QString &label, bool lit);
    // The user guide's first page for a program in `program_folder`, or empty.
    static QString guide_page(const QString &program_folder);
    // The udev rule that lets the user at the seat open the box `vendor`:`product`.
    static QString udev_rule(int vendor, int product);

    void set_area_color(int area, const QColor &color);
    void set_label_color(int area, const std::optional<QColor> &color);
    // Waits for the next press on the box, up to kAssignTimeoutMs, and
    // assigns its switch to `area`.
    void assign_switch(int area);
    // How long assign_switch waits; tests wait less.
    int assign_timeout_ms = kAssignTimeoutMs;
    bool waiting_for_press() const { return _assign_area.has_value(); }
    void refresh_devices();
    // Where a window of `size` goes on the screen area `available` without
    // covering the bar at `bar`: the larger band above or below it, centred.
    static QRect beside(const QRect &bar, const QRect &available, const QSize &size);
    // Puts the window on the bar's screen, beside the bar.
    void place_beside_bar();
    // Writes the changes; closes the window once they are written.
    void save();

    const Values &values() const { return _values; }

    std::array<AreaControls, 8> areas;
    QLabel *broken_notice = nullptr;
    // The area colours in config.json the bar cannot draw.
    QLabel *color_notice = nullptr;
    QSlider *opacity = nullptr;
    QLabel *opacity_value = nullptr;
    // Says that the last wait for a press ended with none.
    QLabel *assign_notice = nullptr;
    QTreeWidget *devices = nullptr;
    QLabel *device_help = nullptr;
    QPushButton *use_device = nullptr;
    QCheckBox *reconnect = nullptr;
    QCheckBox *show_state = nullptr;
    QComboBox *screen = nullptr;
    QCheckBox *remember_geometry = nullptr;
    QCheckBox *tray = nullptr;
    QCheckBox *click_through = nullptr;
    QLabel *about = nullptr; // version, licence, where the guide is
    QPushButton *save_button = nullptr;
    QPushButton *cancel_button = nullptr;
    QPointer<QMessageBox> press_prompt;

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void _build();
    void _build_areas(QTabWidget *tabs);
    AreaControls &_build_area(int area, QWidget *parent);
    void _build_box(QTabWidget *tabs);
    void _build_placement(QTabWidget *tabs);
    void _build_about(QTabWidget *tabs);
    void _read_bar();
    void _show_values();
    void _preview();
    void _restore();
    void _on_press(int switch_no);
    void _end_assign();
    void _show_countdown();
    void _assign_timed_out();
    void _update_area_title(int area);
    void _show_color(int area);
    void _add_edits();
    void _add_area_edits(int area, bool all);
    void _add_option_edits(bool all);
    void _reload_from_disk();
    QString _area_key(int area) const;
    QString _switch_key(int switch_no) const;

    BarInterface &_bar;
    ConfigEdit _edit;
    QScrollArea *_scroll = nullptr; // holds the pages
    // What the bar showed at opening, put back on Cancel.
    BarConfig _snapshot;
    std::array<QColor, 8> _shown_colors;
    std::array<QString, 8> _shown_labels;
    std::array<std::optional<QColor>, 8> _shown_label_colors;
    // The areas whose colour in the file cannot be drawn, with its text, until one is chosen.
    QMap<int, QString> _unusable;
    Values _initial;
    Values _values;
    bool _saved = false;
    bool _place_when_framed = false; // placed before the window system framed the window
    bool _filling = false;           // controls being set from the values: no preview
    std::optional<int> _assign_area;
    QTimer _assign_timeout;
    QTimer _assign_tick; // the prompt's countdown
    QTimer _device_refresh;
    QList<HidDeviceInfo> _listed;
};
