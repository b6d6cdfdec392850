// The bar's side of "mqtt": which events go out, and what a mirror shows.
// The link itself (common/mqtt_link.h) knows nothing of the window.

#include "apps/QuorvelOlvane/QuorvelOlvane.h"

#include "common/diagnostics.h"
#include "common/switch_to_area.h"

#include <QSet>

#include <algorithm>

namespace {

// The switches a box has: those of the built-in table and those it maps.
QList<int> known_switches(const QMap<int, int> &overrides)
{
    QSet<int> numbers;
    for (std::size_t n = 0; n < SwitchToArea::kBuiltInAreas.size(); ++n) {
        if (SwitchToArea::kBuiltInAreas.at(n) != SwitchToArea::kNoArea
            || static_cast<int>(n) == SwitchToArea::kModeSwitch)
            numbers.insert(static_cast<int>(n));
    }
    for (auto it = overrides.cbegin(); it != overrides.cend(); ++it)
        numbers.insert(it.key());
    QList<int> sorted(numbers.cbegin(), numbers.cend());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

// "switch/<n>" for the one box; with "devices", "box/<k>/switch/<n>", k from 1.
QString switch_topic(bool several, int box, int switch_no)
{
    return several ? QStringLiteral("box/%1/switch/%2").arg(box + 1).arg(switch_no)
                   : QStringLiteral("switch/%1").arg(switch_no);
}

} // namespace

bool QuorvelOlvane::_mirroring() const
{
    return config && config->options.mqtt && !config->options.mqtt->mirror.isEmpty();
}

void QuorvelOlvane::_apply_mqtt_options()
{
    const std::optional<MqttOptions> &wanted = config->options.mqtt;
    if (!wanted) {
        mqtt.reset(); // says "offline" and disconnects
        return;
    }

    QList<std::pair<QString, QString>> switches;
    const QList<DeviceOptions> boxes = config->options.boxes();
    const bool several = !config->options.devices.isEmpty();
    for (int box = 0; box < boxes.size() && !_mirroring(); ++box) {
        const QString name =
            boxes.at(box).name.isEmpty() ? QStringLiteral("Box %1").arg(box + 1) : boxes.at(box).name;
        for (int number : known_switches(boxes.at(box).switches.value_or(config->options.switches)))
            switches.append({switch_topic(several, box, number),
                             several ? QStringLiteral("%1 switch %2").arg(name).arg(number)
                                     : QStringLiteral("Switch %1").arg(number)});
    }

    if (!mqtt || mqtt->options() != *wanted) {
        // Other settings: a new connection, after the old one has said goodbye.
        mqtt.reset();
        _mirrored_areas = {};
        _mirror_online = false;
        mqtt = std::make_unique<MqttLink>(*wanted);
        connect(mqtt.get(), &MqttLink::remote_set, this,
                [this](int area, bool on) { draw_widget->set_lit_areas({area}, on); });
        connect(mqtt.get(), &MqttLink::mirror_area, this, [this](int area, const AreaState &state) {
            _mirrored_areas.at(static_cast<std::size_t>(area)) = state;
            _show_mirrored_area(area);
        });
        connect(mqtt.get(), &MqttLink::mirror_device, this, [this](DeviceState state, bool waiting) {
            _mirrored_device = {state, waiting};
            _show_mirror_state();
        });
        connect(mqtt.get(), &MqttLink::mirror_online, this, [this](bool online) {
            _mirror_online = online;
            _show_mirror_state();
        });
        // The state so far, sent once connected.
        for (int area = 0; area < DrawAreaWidget::kAreaCount; ++area)
            _publish_area(area);
        _publish_device_state();
        mqtt->set_switch_topics(switches);
        mqtt->start();
    } else {
        mqtt->set_switch_topics(switches);
    }

    // A reload has just applied the file's colours and labels: what the
    // mirrored bar shows goes over them again.
    if (_mirroring()) {
        for (int area = 0; area < DrawAreaWidget::kAreaCount; ++area)
            _show_mirrored_area(area);
        _show_mirror_state();
    }
}

// Not const: it sends through the link the window owns.
// NOLINTNEXTLINE(readability-make-member-function-const)
void QuorvelOlvane::_publish_switch(int box, int switch_no, bool on)
{
    if (mqtt)
        mqtt->publish_switch(switch_topic(!config->options.devices.isEmpty(), box, switch_no), on);
}

// Not const: it sends through the link the window owns.
void QuorvelOlvane::_publish_area(int area) // NOLINT(readability-make-member-function-const)
{
    if (!mqtt)
        return;
    const auto index = static_cast<std::size_t>(area);
    mqtt->publish_area(area, AreaState{draw_widget->lit_flags.at(index), draw_widget->fill_colors.at(index),
                                       draw_widget->labels.at(index)});
}

void QuorvelOlvane::_publish_device_state()
{
    if (mqtt && device_state && !_mirroring())
        mqtt->publish_device(device_state->first, device_state_waiting());
}

void QuorvelOlvane::_show_mirrored_area(int area)
{
    const std::optional<AreaState> &state = _mirrored_areas.at(static_cast<std::size_t>(area));
    if (!state)
        return;
    if (state->color.isValid())
        draw_widget->set_area_color(area, state->color, state->color.name());
    draw_widget->set_area_label(area, state->label);
    draw_widget->set_lit_areas({area}, state->lit);
}

// The mirrored bar's box on this bar's state text and tray, or "offline"
// while that bar is gone.
void QuorvelOlvane::_show_mirror_state()
{
    const QString mirror = config->options.mqtt->mirror;
    const auto [state, waiting] = _mirrored_device;
    const QString text = _mirror_online ? StateOverlay::text_for(state, waiting) : QStringLiteral("offline");
    if (state_overlay)
        state_overlay->set_text(text);
    const QString reason = diagnostics::printable(mirror) + QStringLiteral(": ")
                           + (_mirror_online ? (text.isEmpty() ? QStringLiteral("connected") : text) : text);
    central->setToolTip(reason);
    const std::pair<DeviceState, QString> shown{_mirror_online ? state : DeviceState::NotConnected, reason};
    if (device_state != shown) {
        device_state = shown;
        emit device_state_changed(shown.first, shown.second);
    }
}
