// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "apps/QuorvelOlvane/placement.h"
#include "common/bar_options.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <optional>

class QScreen;

// Keeps the bar on its screen: places it at start, follows the screens as
// they change, tells the user's moves from its own and, when asked,
// remembers where the user left it across restarts. Every move or resize the
// bar did not ask for is the user's, however made: the bar's own drag, the
// window manager's Alt+drag, its keyboard moves or a command such as
// `xdotool windowmove`.
class ScreenPlacement final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSaveDelayMs = 500;

    // Places `window` on the primary screen at once; `height` is the bar's own.
    ScreenPlacement(QWidget *window, int height);

    // Applies "screen" and "remember_geometry": the first call may restore the
    // remembered geometry; later ones move the bar only when "screen" changed.
    void apply(const BarOptions &options);

    // Writes a geometry still waiting for the debounce, as the bar closes.
    void save_pending();

    bool user_placed() const { return _user_placed; }

    // "bar" → "height": the bar's own height; a change places it anew at that
    // height (a bar the user placed keeps its place and width).
    void set_height(int height);

    // Where the bar belongs: its own place, or where the user put it last.
    QRect wanted() const { return _wanted; }

    // For the next `ms`, moves and resizes the bar did not ask for are the
    // compositor's, carrying out or undoing the bar's own, not the user's;
    // 0 ends the hold.
    void hold_outside_moves(int ms);

signals:
    // The bar placed itself (not sent for the user's moves).
    void wanted_changed(const QRect &geometry);

public:
    // The remembered geometry's file: $XDG_STATE_HOME/quorvel-olvane (by
    // default ~/.local/state/quorvel-olvane) or %LOCALAPPDATA%\quorvel-olvane.
    static QString state_file_path();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void _watch_screen(QScreen *screen);
    void _follow();
    void _set_geometry(const QRect &geometry, bool user_placed);
    std::optional<QRect> _read_remembered(const QString &screen) const;
    void _save() const;

    QWidget *_window;
    int _height;
    std::optional<QString> _screen; // "screen" as last applied; empty before the first apply
    bool _remember = false;         // "remember_geometry"
    bool _user_placed = false;      // moved or resized by the user, or restored from the file
    bool _placing = false;          // in the bar's own setGeometry call
    // The geometries the bar asked for, oldest first, down to the one the
    // window system last reported: its own moves come back in that order.
    QList<QRect> _own;
    QTimer _follow_timer; // gathers a burst of screen signals into one placement
    QTimer _save_timer;   // saves once the user has stopped moving
    QRect _wanted;
    QElapsedTimer _hold; // since hold_outside_moves
    int _hold_ms = 0;
};
