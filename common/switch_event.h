// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QMetaType>
#include <QString>

// One switch report, emitted once after the grid took it: which box, which
// switch, on or off, and when (a monotonic clock, for listeners that time
// presses).
struct SwitchEvent
{
    int switch_no = 0;
    bool on = false;
    int box = 0;             // index in the configured boxes; QO_BOX is one more
    qint64 timestamp_ns = 0; // QElapsedTimer's monotonic clock
    QString box_name;        // the box's "name" in "devices"; empty when it has none
    QString box_label;       // how lines name the box ("box 2 (left pedal)"); empty with one box
};

Q_DECLARE_METATYPE(SwitchEvent)
