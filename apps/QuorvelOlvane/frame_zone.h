// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <Qt>

// Where a pointer is on the frameless bar: which edges a left press resizes
// (none: it moves the window) and which cursor shape says so.
enum class FrameZone {
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight,
    Top,
    Bottom,
    Left,
    Right,
    Interior,
};

inline constexpr int kBorderMargin = 6;

// Classifies (x, y) in a window of size w × h. The left and top bands include
// the margin itself, so they are one pixel wider than the right and bottom ones.
FrameZone frame_zone(int x, int y, int w, int h);

// Edges for QWindow::startSystemResize; empty for the interior (a move).
Qt::Edges zone_edges(FrameZone zone);

Qt::CursorShape zone_cursor(FrameZone zone);
