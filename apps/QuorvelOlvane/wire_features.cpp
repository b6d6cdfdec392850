// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/wire_features.h"

#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "apps/QuorvelOlvane/features/bar_interface.h"
#include "apps/QuorvelOlvane/features/click_through.h"
#include "apps/QuorvelOlvane/features/commands.h"
#include "apps/QuorvelOlvane/features/compositor_link.h"
#include "apps/QuorvelOlvane/features/mqtt_side.h"
#include "apps/QuorvelOlvane/features/settings_window.h"
#include "apps/QuorvelOlvane/features/state_overlay.h"
#include "apps/QuorvelOlvane/features/tray.h"
#include "common/diagnostics.h"

#include <QCoreApplication>
#include <QDir>
#include <QPluginLoader>
#include <QPointer>

#include <memory>
#include <optional>

namespace {

// The one adapter that knows the window: the bar as features see it.
class WindowBar final : public BarInterface
{
public:
    explicit WindowBar(QuorvelOlvane &window)
        : _window(window)
    {
        DrawAreaWidget *grid = window.draw_widget;
        connect(&window, &QuorvelOlvane::switch_event, this, &BarInterface::switch_event);
        connect(grid, &DrawAreaWidget::area_changed, this,
                [this](int area) { emit area_changed(area, this->area(area)); });
        connect(&window, &QuorvelOlvane::device_state_changed, this, [this](const BoxSummary &summary) {
            _shown_state.reset(); // the bar's own boxes again
            emit device_state_changed(summary);
        });
        connect(&window, &QuorvelOlvane::options_applied, this, &BarInterface::options_applied);
        connect(&window, &QuorvelOlvane::options_not_applied, this, &BarInterface::options_not_applied);
        connect(&window, &QuorvelOlvane::icon_changed, this, &BarInterface::icon_changed);
        connect(&window, &QuorvelOlvane::settings_requested, this, &BarInterface::settings_requested);
        connect(&window, &QuorvelOlvane::closing, this, &BarInterface::closing);
    }

    AreaState area(int area) const override
    {
        const DrawAreaWidget &grid = *_window.draw_widget;
        if (area < 0 || area >= DrawAreaWidget::kAreaCount)
            return {};
        const auto i = static_cast<std::size_t>(area);
        return AreaState{grid.lit_flags.at(i), grid.fill_colors.at(i), grid.labels.at(i)};
    }
    std::optional<QColor> label_color(int area) const override
    {
        return _window.draw_widget->label_colors.at(static_cast<std::size_t>(area));
    }
    double area_opacity() const override { return _window.draw_widget->opacity; }
    void set_lit(int area, bool lit) override { _window.draw_widget->set_lit_areas({area}, lit); }
    void show_look(int area, const QColor &color, const QString &label,
                   const std::optional<QColor> &label_color) override
    {
        if (color.isValid())
            _window.draw_widget->set_area_color(area, color, color.name());
        _window.draw_widget->set_area_label(area, label, label_color);
    }

    std::optional<BoxSummary> device_state() const override
    {
        return _shown_state ? _shown_state : _window.device_state();
    }
    void show_device_state(const BoxSummary &summary) override
    {
        _shown_state = summary;
        emit device_state_changed(summary);
    }

    bool click_through() const override { return _window.click_through(); }
    void set_click_through(bool on) override { _window.set_click_through(on); }
    bool is_shown() const override { return _window.isVisible(); }
    QRect frame_geometry() const override { return _window.frameGeometry(); }
    void set_shown(bool shown) override
    {
        _window.setVisible(shown);
        if (shown)
            _window.raise();
    }
    void show_if_hidden() override
    {
        if (_window.isHidden() && _window.testAttribute(Qt::WA_WState_ExplicitShowHide))
            _window.show();
    }

    void reload() override { _window.on_config_changed(); }
    void open_settings() override { emit settings_requested(); }
    void preview(const BarConfig &values) override { _window.apply_values(values); }
    void quit() override { _window.close_and_quit(); }
    const BarConfig &config() const override { return *_window.config; }
    QString box_label(int box) const override { return _window.readers.box_label(box); }
    QWidget *area_surface() override { return _window.draw_widget; }
    void set_surface_tooltip(const QString &text) override { _window.central->setToolTip(text); }
    ScreenPlacement &placement() override { return *_window.screen_placement; }

private:
    QuorvelOlvane &_window;
    std::optional<BoxSummary> _shown_state; // shown for another bar, over the bar's own
};

// The file of the library "mqtt" loads, beside the program.
QString mqtt_library()
{
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath() + QStringLiteral("/quorvel-olvane-mqtt.dll");
#else
    return QCoreApplication::applicationDirPath() + QStringLiteral("/libquorvel-olvane-mqtt.so");
#endif
}

// Loaded the first time "mqtt" is set, and kept.
std::unique_ptr<MqttSide> load_mqtt(BarControl &bar)
{
    static QPluginLoader loader; // never unloaded: its code outlives every feature it made
    if (loader.fileName().isEmpty())
        loader.setFileName(mqtt_library());
    auto *factory = qobject_cast<MqttFeatureFactory *>(loader.instance());
    if (!factory) {
        diagnostics::err(QStringLiteral("QuorvelOlvane: MQTT: not connecting: cannot load ")
                         + diagnostics::printable(QDir::toNativeSeparators(mqtt_library()))
                         + QStringLiteral(": ") + diagnostics::printable(loader.errorString()));
        return nullptr;
    }
    return factory->create(bar);
}

// Every feature, held by the bar; made and dropped as config.json says.
class Features final : public QObject
{
public:
    explicit Features(QuorvelOlvane &window)
        : bar(window)
        , click_through(bar)
        , state_text(bar)
    {
        connect(&bar, &BarInterface::closing, this, [this] {
            // An open settings window would keep the program running without its bar.
            if (settings_window)
                settings_window->reject();
            mqtt.reset(); // "offline" before the program ends
        });
        connect(&bar, &BarInterface::settings_requested, this, &Features::open_settings);
        connect(&bar, &BarInterface::options_applied, this, &Features::apply);
        connect(&bar, &BarInterface::switch_event, this, [this](const SwitchEvent &event) {
            if (mqtt)
                mqtt->on_switch(event);
        });
        connect(&bar, &BarInterface::area_changed, this, [this](int area, const AreaState &state) {
            if (mqtt)
                mqtt->on_area(area, state);
        });
        connect(&bar, &BarInterface::device_state_changed, this, [this](const BoxSummary &summary) {
            if (mqtt)
                mqtt->on_device_state(summary);
        });
        commands = new Commands(bar);
        apply(bar.config().options);
    }

    // The settings window refers to the bar: it goes first, without putting anything back.
    ~Features() override
    {
        delete settings_window;
        mqtt.reset();
        tray.reset();
    }
    Features(const Features &) = delete;
    Features &operator=(const Features &) = delete;

    void apply(const BarOptions &options)
    {
        // Made once; turned off, the bar stays as the compositor has it.
        if (options.compositor_ipc && !compositor)
            compositor = CompositorLink::create(bar.placement());
        else if (!options.compositor_ipc)
            compositor.reset();

        click_through.apply(options);
        if (options.tray && !tray) {
            // The icon shows up once a tray starts, as a panel may after the bar at login.
            if (!BarTray::available())
                diagnostics::out(QStringLiteral("QuorvelOlvane: no system tray on this desktop yet; "
                                                "the bar runs without its tray icon until one starts"));
            tray = std::make_unique<BarTray>(bar, click_through);
        } else if (!options.tray) {
            tray.reset();
        }

        if (options.mqtt && !mqtt)
            mqtt = load_mqtt(bar);
        else if (!options.mqtt)
            mqtt.reset(); // says "offline" and disconnects
        if (mqtt)
            mqtt->apply(options);
    }

    // Opens the settings window, or raises the one that is open.
    void open_settings()
    {
        if (!settings_window) {
            settings_window = new SettingsWindow(bar);
            // Opening the settings again makes a new window, even before this one is gone.
            connect(settings_window, &QDialog::finished, this, [this, closed = settings_window.data()] {
                if (settings_window == closed)
                    settings_window.clear();
            });
        }
        // On the bar's screen and never under the bar, which stays above other windows.
        const bool first = !settings_window->isVisible();
        settings_window->show();
        if (first)
            settings_window->place_beside_bar();
        settings_window->raise();
        settings_window->activateWindow();
    }

    WindowBar bar;
    ClickThrough click_through;
    StateText state_text;
    Commands *commands = nullptr; // a child of the bar
    std::unique_ptr<CompositorLink> compositor;
    std::unique_ptr<BarTray> tray;
    std::unique_ptr<MqttSide> mqtt;
    QPointer<SettingsWindow> settings_window;
};

} // namespace

void wire_features(QuorvelOlvane &bar)
{
    bar.hold(std::make_unique<Features>(bar));
}

WiredFeatures wired_features(const QuorvelOlvane &bar)
{
    WiredFeatures wired;
    if (auto *features = dynamic_cast<Features *>(bar.listeners())) {
        wired.tray = features->tray.get();
        wired.click_through = &features->click_through;
        wired.state_overlay = features->state_text.overlay();
        wired.settings_window = features->settings_window;
        wired.commands = &features->commands->running();
        wired.mqtt = features->mqtt != nullptr;
    }
    return wired;
}
