#pragma once

#include "apps/QuorvelOlvane/placement.h"
#include "common/bar_options.h"

#include <QObject>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <optional>

class QScreen;

// Keeps the bar on its screen: places it at start, follows the screens as
// they change, tells the user's moves from its own and, when asked,
// remembers where the user left it across restarts.
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

    // The user began moving or resizing the bar by hand.
    void user_took_hold();

    // Writes a geometry still waiting for the debounce, as the bar closes.
    void save_pending();

    bool user_placed() const { return _user_placed; }

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
    bool _user_holding = false;     // the user took hold since the bar last placed itself
    QRect _hold_geometry;           // the geometry when the user took hold
    QTimer _follow_timer;           // gathers a burst of screen signals into one placement
    QTimer _save_timer;             // saves once the user has stopped moving
};
