// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/area_state.h"
#include "common/bar_options.h"
#include "common/box_state.h"
#include "common/switch_event.h"

#include <QColor>
#include <QObject>
#include <QRect>
#include <QString>

#include <optional>

class BarConfig;
class QWidget;
class ScreenPlacement;

// What a feature may ask of the bar. Plain virtual calls, no Qt meta-object:
// a feature loaded from a library of its own needs nothing of the core's
// symbols to use it.
class BarControl
{
public:
    static constexpr int kAreaCount = 8;

    BarControl() = default;
    virtual ~BarControl() = default;
    BarControl(const BarControl &) = delete;
    BarControl &operator=(const BarControl &) = delete;
    BarControl(BarControl &&) = delete;
    BarControl &operator=(BarControl &&) = delete;

    // What `area` shows now.
    virtual AreaState area(int area) const = 0;
    virtual std::optional<QColor> label_color(int area) const = 0;
    virtual double area_opacity() const = 0;
    // Lights or darkens `area` as a switch would.
    virtual void set_lit(int area, bool lit) = 0;
    // Paints `area` in `color` (kept when invalid) with `label`.
    virtual void show_look(int area, const QColor &color, const QString &label,
                           const std::optional<QColor> &label_color) = 0;

    // How the boxes stand; nothing before the first report.
    virtual std::optional<BoxSummary> device_state() const = 0;
    // Shows `summary` as the boxes' state, as if the bar's own boxes had reported it.
    virtual void show_device_state(const BoxSummary &summary) = 0;

    // Pointer input passes through the bar to the windows below.
    virtual bool click_through() const = 0;
    virtual void set_click_through(bool on) = 0;
    virtual bool is_shown() const = 0;
    // Where the bar is on the desktop, its frame included.
    virtual QRect frame_geometry() const = 0;
    // Hides the bar, or shows and raises it.
    virtual void set_shown(bool shown) = 0;
    // Shows the bar again where the user had hidden it.
    virtual void show_if_hidden() = 0;

    // Reads config.json now and applies it.
    virtual void reload() = 0;
    virtual void open_settings() = 0;
    // Shows `values` (opacity, areas, options) as if config.json held them.
    virtual void preview(const BarConfig &values) = 0;
    // Closes the bar and ends the program.
    virtual void quit() = 0;
    virtual const BarConfig &config() const = 0;
    // How lines name box `box` ("box 2 (left pedal)"); empty with one box.
    virtual QString box_label(int box) const = 0;
    // The widget that shows the areas, for a text stacked over them, and its tooltip.
    virtual QWidget *area_surface() = 0;
    virtual void set_surface_tooltip(const QString &text) = 0;
    virtual ScreenPlacement &placement() = 0;
};

// The bar's events, each emitted in one place, and what features may ask.
class BarInterface
    : public QObject
    , public BarControl
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // A switch report, after the grid took it.
    void switch_event(const SwitchEvent &event);
    // What `area` shows changed.
    void area_changed(int area, const AreaState &state);
    void device_state_changed(const BoxSummary &summary);
    // config.json's settings were applied (at start-up too), or a change was not.
    void options_applied(const BarOptions &options);
    void options_not_applied(const QString &reason);
    void icon_changed();
    void settings_requested();
    // The bar is closing: what must be said or ended goes now.
    void closing();
};
