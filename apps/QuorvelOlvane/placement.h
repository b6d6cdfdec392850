// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QList>
#include <QRect>
#include <QString>

#include <optional>

// Where the bar goes, decided from the screens' geometries alone, so that the
// rules are tested without a window system; the window only applies them.
namespace placement {

// One monitor as the window system reports it.
struct Screen
{
    QString name;
    QRect geometry;  // the whole screen
    QRect available; // less the panels and taskbars on it
};

// How much of the bar, in each direction, must lie on one screen for the
// user to see it and take hold of it.
inline constexpr int kMinimumOnScreen = 20;

// Whether `wanted` names a screen: "primary" always does.
bool has_screen(const QList<Screen> &screens, const QString &wanted);

// The screen the bar belongs on: the one named `wanted`, or the primary
// screen (the first, as QGuiApplication::screens() lists them) for "primary"
// or a name no screen has. Empty when there is no screen at all.
std::optional<Screen> chosen_screen(const QList<Screen> &screens, const QString &wanted);

// The bar's own place: as wide as the available area, `height` high,
// resting on the area's bottom edge.
QRect bar_geometry(const QRect &available, int height);

// Whether enough of `bar` lies on one of the screens.
bool on_screen(const QRect &bar, const QList<Screen> &screens);

// A remembered geometry as the bar takes it at start: unchanged when enough
// of it lies on a screen (on_screen) and it is no larger than the screen it
// lies on most; fitted into that screen when larger, so that no file can make
// the bar larger than a screen. Empty when it is off every screen.
std::optional<QRect> remembered_geometry(const QList<Screen> &screens, const QRect &remembered);

// Where the bar goes after the screens changed: its own place on the chosen
// screen, unless the user placed it. A bar the user placed stays, unless it
// is off every screen: then it is moved into the chosen screen's available
// area, keeping its size as far as that fits. Empty when there is no screen.
std::optional<QRect> follow_screens(const QList<Screen> &screens, const QString &wanted, const QRect &current,
                                    bool user_placed, int height);

} // namespace placement
