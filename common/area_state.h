// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QColor>
#include <QString>

// What one area shows: the grid's own change signal carries it to every
// listener (other screens, the broker), so they see what this bar shows.
struct AreaState
{
    bool lit = false;
    QColor color;
    QString label;

    friend bool operator==(const AreaState &, const AreaState &) = default;
};
