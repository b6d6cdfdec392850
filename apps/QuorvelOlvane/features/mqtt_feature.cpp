// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// The bar's side of "mqtt": which events go out, and what a mirror shows.
// The link itself (common/mqtt_link.h) knows nothing of the bar.

#include "apps/QuorvelOlvane/features/mqtt_feature.h"

#include "apps/QuorvelOlvane/features/bar_interface.h"
#include "common/diagnostics.h"
#include "common/mqtt_link.h"
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

MqttFeature::MqttFeature(BarControl &bar)
    : _bar(bar)
{
}

// Says "offline" and disconnects.
MqttFeature::~MqttFeature() = default;

bool MqttFeature::_mirroring() const
{
    return _options.mqtt && !_options.mqtt->mirror.isEmpty();
}

void MqttFeature::apply(const BarOptions &options)
{
    _options = options;
    if (!options.mqtt)
        return;
    const MqttOptions &wanted = *options.mqtt;

    QList<std::pair<QString, QString>> switches;
    const QList<DeviceOptions> boxes = options.boxes();
    const bool several = !options.devices.isEmpty();
    for (int box = 0; box < boxes.size() && !_mirroring(); ++box) {
        const QString name =
            boxes.at(box).name.isEmpty() ? QStringLiteral("Box %1").arg(box + 1) : boxes.at(box).name;
        for (int number : known_switches(boxes.at(box).switches.value_or(options.switches)))
            switches.append({switch_topic(several, box, number),
                             several ? QStringLiteral("%1 switch %2").arg(name).arg(number)
                                     : QStringLiteral("Switch %1").arg(number)});
    }

    if (!_link || _link->options() != wanted) {
        // Other settings: a new connection, after the old one has said goodbye.
        _link.reset();
        _mirrored_areas = {};
        _mirror_online = false;
        _link = std::make_unique<MqttLink>(wanted);
        connect(_link.get(), &MqttLink::remote_set, this,
                [this](int area, bool on) { _bar.set_lit(area, on); });
        connect(_link.get(), &MqttLink::mirror_area, this, [this](int area, const AreaState &state) {
            _mirrored_areas.at(static_cast<std::size_t>(area)) = state;
            _show_mirrored_area(area);
        });
        connect(_link.get(), &MqttLink::mirror_device, this, [this](DeviceState state, bool waiting) {
            _mirrored_device = {state, waiting};
            _show_mirror_state();
        });
        connect(_link.get(), &MqttLink::mirror_online, this, [this](bool online) {
            _mirror_online = online;
            _show_mirror_state();
        });
        // The state so far, sent once connected.
        for (int area = 0; area < BarControl::kAreaCount; ++area)
            on_area(area, _bar.area(area));
        if (const std::optional<BoxSummary> state = _bar.device_state())
            on_device_state(*state);
        _link->set_switch_topics(switches);
        _link->start();
    } else {
        _link->set_switch_topics(switches);
    }

    // A reload has just applied the file's colours and labels: what the
    // mirrored bar shows goes over them again.
    if (_mirroring()) {
        for (int area = 0; area < BarControl::kAreaCount; ++area)
            _show_mirrored_area(area);
        _show_mirror_state();
    }
}

void MqttFeature::on_switch(const SwitchEvent &event)
{
    if (_link)
        _link->publish_switch(switch_topic(!_options.devices.isEmpty(), event.box, event.switch_no),
                              event.on);
}

// A mirror never publishes what it shows as its own: two bars mirroring
// each other would echo every change back and forth.
void MqttFeature::on_area(int area, const AreaState &state)
{
    if (_link && !_mirroring())
        _link->publish_area(area, state);
}

void MqttFeature::on_device_state(const BoxSummary &summary)
{
    if (_link && !_mirroring())
        _link->publish_device(summary.state, summary.waiting);
}

void MqttFeature::_show_mirrored_area(int area)
{
    const std::optional<AreaState> &state = _mirrored_areas.at(static_cast<std::size_t>(area));
    if (!state)
        return;
    const AreaState now = _bar.area(area);
    _bar.show_look(area, state->color.isValid() ? state->color : now.color, state->label, std::nullopt);
    _bar.set_lit(area, state->lit);
}

// The mirrored bar's box on this bar's state text and tray, or "offline"
// while that bar is gone.
void MqttFeature::_show_mirror_state()
{
    const QString mirror = _options.mqtt->mirror;
    const auto [state, waiting] = _mirrored_device;
    const QString text = _mirror_online ? box_state::text_for(state, waiting) : QStringLiteral("offline");
    BoxSummary shown;
    shown.state = _mirror_online ? state : DeviceState::NotConnected;
    shown.waiting = waiting;
    shown.shown = true;
    shown.text = text;
    shown.details = diagnostics::printable(mirror) + QStringLiteral(": ")
                    + (_mirror_online ? (text.isEmpty() ? QStringLiteral("connected") : text) : text);
    shown.reason = shown.details;
    if (_bar.device_state() != shown)
        _bar.show_device_state(shown);
}
