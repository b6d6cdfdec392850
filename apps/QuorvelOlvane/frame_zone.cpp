// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/frame_zone.h"

FrameZone frame_zone(int x, int y, int w, int h)
{
    const bool left = x <= kBorderMargin;
    const bool right = x >= w - kBorderMargin;
    const bool top = y <= kBorderMargin;
    const bool bottom = y >= h - kBorderMargin;

    if (left && top)
        return FrameZone::TopLeft;
    if (right && top)
        return FrameZone::TopRight;
    if (left && bottom)
        return FrameZone::BottomLeft;
    if (right && bottom)
        return FrameZone::BottomRight;
    if (top)
        return FrameZone::Top;
    if (bottom)
        return FrameZone::Bottom;
    if (left)
        return FrameZone::Left;
    if (right)
        return FrameZone::Right;
    return FrameZone::Interior;
}

Qt::Edges zone_edges(FrameZone zone)
{
    switch (zone) {
    case FrameZone::TopLeft:
        return Qt::TopEdge | Qt::LeftEdge;
    case FrameZone::TopRight:
        return Qt::TopEdge | Qt::RightEdge;
    case FrameZone::BottomLeft:
        return Qt::BottomEdge | Qt::LeftEdge;
    case FrameZone::BottomRight:
        return Qt::BottomEdge | Qt::RightEdge;
    case FrameZone::Top:
        return Qt::TopEdge;
    case FrameZone::Bottom:
        return Qt::BottomEdge;
    case FrameZone::Left:
        return Qt::LeftEdge;
    case FrameZone::Right:
        return Qt::RightEdge;
    case FrameZone::Interior:
        break;
    }
    return {};
}

Qt::CursorShape zone_cursor(FrameZone zone)
{
    switch (zone) {
    case FrameZone::TopLeft:
    case FrameZone::BottomRight:
        return Qt::SizeFDiagCursor;
    case FrameZone::TopRight:
    case FrameZone::BottomLeft:
        return Qt::SizeBDiagCursor;
    case FrameZone::Top:
    case FrameZone::Bottom:
        return Qt::SizeVerCursor;
    case FrameZone::Left:
    case FrameZone::Right:
        return Qt::SizeHorCursor;
    case FrameZone::Interior:
        break;
    }
    return Qt::ArrowCursor;
}
