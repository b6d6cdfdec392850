// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/switch_to_area.h"

#include "common/diagnostics.h"
#include "common/switch_report.h"

QList<Action> SwitchToArea::handle(int cmd, int switch_no)
{
    const bool on = cmd == switch_report::kOnCommand;
    QList<Action> actions;
    if (switch_no < 0 || switch_no >= kSwitchCount)
        return actions;
    const auto sw = static_cast<std::size_t>(switch_no);

    // Pressed under another mapping: what that press lit goes dark first
    // (area 7 stays lit while the mode holds it); a release does nothing else.
    if (_remapped[sw]) {
        actions.append({{_held_area[sw]}, false});
        if (a7_force_on && _held_area[sw] == kModeArea)
            actions.append({{kModeArea}, true});
        _remapped[sw] = false;
        _held_area[sw] = kNoArea;
        if (!on)
            return actions;
    }

    int area = kNoArea;
    if (const auto listed = _overrides.constFind(switch_no); listed != _overrides.cend()) {
        area = *listed;
        actions.append({{area}, on});
    } else if (switch_no == kModeSwitch) {
        switch7_enabled = on;
        a7_force_on = on;
        area = kModeArea;
        actions.append({{area}, on});
        diagnostics::out(switch7_enabled ? QStringLiteral("S7: ON") : QStringLiteral("S7: OFF"));
    } else if (switch_no == kModeDependentSwitch) {
        area = switch7_enabled ? kModeArea : kBuiltInAreas[sw];
        actions.append({{area}, on});
        // In switch-7 mode area 7 is held lit whatever switch 1 says.
        if (a7_force_on)
            actions.append({{kModeArea}, true});
    } else if (sw < kBuiltInAreas.size() && kBuiltInAreas[sw] != kNoArea) {
        area = kBuiltInAreas[sw];
        actions.append({{area}, on});
    }
    _held_area[sw] = on ? area : kNoArea;
    return actions;
}

void SwitchToArea::set_overrides(const QMap<int, int> &overrides)
{
    for (int switch_no = 0; switch_no < kSwitchCount; ++switch_no) {
        const auto sw = static_cast<std::size_t>(switch_no);
        if (_held_area[sw] != kNoArea
            && overrides.value(switch_no, kNoArea) != _overrides.value(switch_no, kNoArea))
            _remapped[sw] = true;
    }
    _overrides = overrides;
    // A listed mode switch is a plain switch: no mode to stay in.
    if (_overrides.contains(kModeSwitch)) {
        // The mode's end is said however it comes about.
        if (switch7_enabled)
            diagnostics::out(QStringLiteral("S7: OFF"));
        switch7_enabled = false;
        a7_force_on = false;
    }
}
