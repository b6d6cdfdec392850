// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QList>
#include <QMap>

#include <array>

// One step of a report's effect: light (true) or darken (false) these areas.
struct Action
{
    QList<int> areas;
    bool draw_flags = false;

    friend bool operator==(const Action &, const Action &) = default;
};

// Turns a switch box command and switch number into area actions; holds the
// switch-7 mode and the switches' own overrides of the built-in table.
class SwitchToArea final
{
public:
    static constexpr int kNoArea = -1;
    static constexpr int kSwitchCount = 256; // one byte of the report

    // The built-in table, by switch number: the area each switch drives.
    static constexpr std::array<int, 8> kBuiltInAreas = {kNoArea, 6, 2, 4, 0, 5, kNoArea, 7};
    // Switch 7's "on" is a mode in which switch 1 drives area 7 instead of
    // its own, and area 7 is held lit whatever switch 1 says.
    static constexpr int kModeSwitch = 7;
    static constexpr int kModeDependentSwitch = 1;
    static constexpr int kModeArea = 7;

    SwitchToArea() = default;

    QList<Action> handle(int cmd, int switch_no);

    // Switch number → area for the listed switches; a listed switch is a
    // plain switch, the mode switch included (its mode ends). A switch held
    // while its mapping changes darkens, on release, the area its press lit.
    void set_overrides(const QMap<int, int> &overrides);

    bool switch7_enabled = false;
    bool a7_force_on = false;

private:
    QMap<int, int> _overrides;
    // Per switch: the area its last press lit (kNoArea once released), and
    // whether its mapping changed since that press.
    std::array<int, kSwitchCount> _held_area = make_no_areas();
    std::array<bool, kSwitchCount> _remapped{};

    static constexpr std::array<int, kSwitchCount> make_no_areas()
    {
        std::array<int, kSwitchCount> areas{};
        areas.fill(kNoArea);
        return areas;
    }
};
