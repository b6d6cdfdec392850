// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/placement.h"

#include "common/bar_options.h"

#include <algorithm>

namespace placement {

bool has_screen(const QList<Screen> &screens, const QString &wanted)
{
    return wanted == BarOptions::kPrimaryScreen
           || std::any_of(screens.cbegin(), screens.cend(),
                          [&](const Screen &s) { return s.name == wanted; });
}

std::optional<Screen> chosen_screen(const QList<Screen> &screens, const QString &wanted)
{
    if (screens.isEmpty())
        return std::nullopt;
    // "primary" is no screen's name, whatever the window system calls them.
    if (wanted != BarOptions::kPrimaryScreen) {
        for (const Screen &screen : screens) {
            if (screen.name == wanted)
                return screen;
        }
    }
    return screens.front();
}

QRect bar_geometry(const QRect &available, int height)
{
    return {available.x(), available.y() + available.height() - height, available.width(), height};
}

bool on_screen(const QRect &bar, const QList<Screen> &screens)
{
    return std::any_of(screens.cbegin(), screens.cend(), [&](const Screen &screen) {
        const QRect shared = bar & screen.geometry;
        return shared.width() >= kMinimumOnScreen && shared.height() >= kMinimumOnScreen;
    });
}

std::optional<QRect> remembered_geometry(const QList<Screen> &screens, const QRect &remembered)
{
    if (!on_screen(remembered, screens))
        return std::nullopt;
    // The screen holding most of it; compared in 64 bits, as a file's sizes may be large.
    const auto shared_area = [&](const Screen &screen) {
        const QRect shared = remembered & screen.geometry;
        return qint64{shared.width()} * shared.height();
    };
    const QRect &area =
        std::max_element(screens.cbegin(), screens.cend(), [&](const Screen &a, const Screen &b) {
            return shared_area(a) < shared_area(b);
        })->geometry;
    if (remembered.width() <= area.width() && remembered.height() <= area.height())
        return remembered;
    const int width = std::min(remembered.width(), area.width());
    const int high = std::min(remembered.height(), area.height());
    const int x = std::clamp(remembered.x(), area.x(), area.x() + area.width() - width);
    const int y = std::clamp(remembered.y(), area.y(), area.y() + area.height() - high);
    return QRect(x, y, width, high);
}

std::optional<QRect> follow_screens(const QList<Screen> &screens, const QString &wanted, const QRect &current,
                                    bool user_placed, int height)
{
    const std::optional<Screen> screen = chosen_screen(screens, wanted);
    if (!screen)
        return std::nullopt;
    if (!user_placed)
        return bar_geometry(screen->available, height);
    if (on_screen(current, screens))
        return current;
    const QRect &area = screen->available;
    const int width = std::min(current.width(), area.width());
    const int high = std::min(current.height(), area.height());
    const int x = std::clamp(current.x(), area.x(), area.x() + area.width() - width);
    const int y = std::clamp(current.y(), area.y(), area.y() + area.height() - high);
    return QRect(x, y, width, high);
}

} // namespace placement
