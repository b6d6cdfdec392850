// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/screen_placement.h"

#include "common/diagnostics.h"
#include "common/regular_file.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QStandardPaths>
#include <QStringList>
#include <QWindow>

#include <cmath>

namespace {

// A few hundred bytes; anything much larger is no file of ours.
constexpr qint64 kMaxStateBytes = qint64{64} * 1024;
// Far beyond any desktop, small enough that no sum of two overflows an int.
constexpr int kMaxCoordinate = 1000000;

QList<placement::Screen> current_screens()
{
    QList<placement::Screen> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens.append({screen->name(), screen->geometry(), screen->availableGeometry()});
    return screens;
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + diagnostics::printable(text) + QLatin1Char('"');
}

std::optional<int> whole_number(const QJsonObject &object, const char *key, int low)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::trunc(number) || number < low || number > kMaxCoordinate)
        return std::nullopt;
    return static_cast<int>(number);
}

} // namespace

ScreenPlacement::ScreenPlacement(QWidget *window, int height)
    : _window(window)
    , _height(height)
{
    _follow_timer.setSingleShot(true);
    _follow_timer.setInterval(0);
    connect(&_follow_timer, &QTimer::timeout, this, &ScreenPlacement::_follow);
    _save_timer.setSingleShot(true);
    _save_timer.setInterval(kSaveDelayMs);
    connect(&_save_timer, &QTimer::timeout, this, &ScreenPlacement::_save);

    for (QScreen *screen : QGuiApplication::screens())
        _watch_screen(screen);
    auto *app = qGuiApp;
    connect(app, &QGuiApplication::screenAdded, this, &ScreenPlacement::_watch_screen);
    connect(app, &QGuiApplication::screenAdded, &_follow_timer, qOverload<>(&QTimer::start));
    connect(app, &QGuiApplication::screenRemoved, &_follow_timer, qOverload<>(&QTimer::start));
    connect(app, &QGuiApplication::primaryScreenChanged, &_follow_timer, qOverload<>(&QTimer::start));
    _window->installEventFilter(this);

    if (const auto screen = placement::chosen_screen(current_screens(), BarOptions::kPrimaryScreen))
        _set_geometry(placement::bar_geometry(screen->available, _height), false);
}

void ScreenPlacement::_watch_screen(QScreen *screen)
{
    connect(screen, &QScreen::geometryChanged, &_follow_timer, qOverload<>(&QTimer::start));
    connect(screen, &QScreen::availableGeometryChanged, &_follow_timer, qOverload<>(&QTimer::start));
}

void ScreenPlacement::apply(const BarOptions &options)
{
    const bool starting = !_screen;
    const bool remember_turned_on = options.remember_geometry && !_remember;
    _remember = options.remember_geometry;
    if (remember_turned_on && !starting && _user_placed)
        _save_timer.start();
    if (_screen == options.screen)
        return;
    _screen = options.screen;

    const QList<placement::Screen> screens = current_screens();
    if (!placement::has_screen(screens, *_screen)) {
        QStringList names;
        for (const placement::Screen &screen : screens)
            names.append(quoted(screen.name));
        diagnostics::err(
            QStringLiteral("QuorvelOlvane: no screen named %1, using the primary screen; the screens are %2")
                .arg(quoted(*_screen), names.join(QStringLiteral(", "))));
    }

    if (starting && _remember) {
        const std::optional<QRect> remembered = _read_remembered(*_screen);
        if (const auto geometry =
                remembered ? placement::remembered_geometry(screens, *remembered) : std::nullopt) {
            _set_geometry(*geometry, true);
            return;
        }
    }
    if (const auto screen = placement::chosen_screen(screens, *_screen))
        _set_geometry(placement::bar_geometry(screen->available, _height), false);
}

void ScreenPlacement::set_height(int height)
{
    if (height == _height)
        return;
    _height = height;
    if (_user_placed) {
        const QRect current = _window->geometry();
        _set_geometry(QRect(current.topLeft(), QSize(current.width(), height)), true);
        return;
    }
    if (const auto screen =
            placement::chosen_screen(current_screens(), _screen.value_or(BarOptions::kPrimaryScreen)))
        _set_geometry(placement::bar_geometry(screen->available, _height), false);
}

void ScreenPlacement::hold_outside_moves(int ms)
{
    _hold_ms = ms;
    if (ms > 0)
        _hold.start();
    else
        _hold.invalidate();
}

void ScreenPlacement::_follow()
{
    const QRect current = _window->geometry();
    const std::optional<QRect> target = placement::follow_screens(
        current_screens(), _screen.value_or(BarOptions::kPrimaryScreen), current, _user_placed, _height);
    if (target && *target != current)
        _set_geometry(*target, _user_placed);
}

void ScreenPlacement::_set_geometry(const QRect &geometry, bool user_placed)
{
    // A save still waiting was for a geometry the bar now leaves.
    _save_timer.stop();
    _user_placed = user_placed;
    _placing = true;
    _window->setGeometry(geometry);
    _placing = false;
    // As the widget took it (its minimum size applied), which is what comes
    // back; a few at most, as one that never comes back must not pile up.
    constexpr qsizetype kMaxOwn = 8;
    if (_own.isEmpty() || _own.back() != _window->geometry())
        _own.append(_window->geometry());
    if (_own.size() > kMaxOwn)
        _own.remove(0, _own.size() - kMaxOwn);
    _wanted = _window->geometry();
    emit wanted_changed(_wanted);
}

bool ScreenPlacement::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != _window || (event->type() != QEvent::Move && event->type() != QEvent::Resize) || _placing)
        return QObject::eventFilter(watched, event);
    const QRect geometry = _window->geometry();
    if (const qsizetype own = _own.indexOf(geometry); own >= 0) {
        // One of the bar's own moves reported back; those asked for before it are done.
        _own.remove(0, own);
        return QObject::eventFilter(watched, event);
    }
    // A compositor carrying out (or first undoing) the bar's own request:
    // the bar's geometries still come back after it.
    if (_hold.isValid() && !_hold.hasExpired(_hold_ms))
        return QObject::eventFilter(watched, event);
    const QWindow *handle = _window->windowHandle();
    _own = {geometry};
    // Before the window is on screen, the window manager places and frames it
    // as it maps it: that is no one's move.
    if (handle == nullptr || !handle->isExposed())
        return QObject::eventFilter(watched, event);
    _user_placed = true;
    // Not sent on: the compositor has carried the user's move out already.
    _wanted = geometry;
    if (_remember)
        _save_timer.start();
    return QObject::eventFilter(watched, event);
}

void ScreenPlacement::save_pending()
{
    if (_save_timer.isActive()) {
        _save_timer.stop();
        _save();
    }
}

QString ScreenPlacement::state_file_path()
{
#ifdef Q_OS_WIN
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
    // Qt knows no state folder; the XDG rule: an absolute $XDG_STATE_HOME, else ~/.local/state.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
#endif
    return base + QStringLiteral("/quorvel-olvane/geometry.json");
}

std::optional<QRect> ScreenPlacement::_read_remembered(const QString &screen) const
{
    const QString path = state_file_path();
    const auto fail = [](const QString &why) {
        diagnostics::err(QStringLiteral("QuorvelOlvane: remembered geometry not used: ") + why);
        return std::nullopt;
    };
    // A FIFO, a device or a huge file is refused at once, as config.json is.
    const regular_file::Read file = regular_file::read(path, kMaxStateBytes);
    if (!file.error.isEmpty())
        return fail(file.error);
    if (!file.bytes)
        return std::nullopt;
    const QJsonObject state = QJsonDocument::fromJson(*file.bytes).object();
    const auto x = whole_number(state, "x", -kMaxCoordinate);
    const auto y = whole_number(state, "y", -kMaxCoordinate);
    const auto width = whole_number(state, "width", 1);
    const auto height = whole_number(state, "height", 1);
    if (!x || !y || !width || !height)
        return fail(QDir::toNativeSeparators(path)
                    + QStringLiteral(": expected an object with whole numbers x, y, width and height"));
    // A screen chosen in config.json since the geometry was saved wins over it.
    if (state.value(QStringLiteral("screen")).toString() != screen)
        return std::nullopt;
    return QRect(*x, *y, *width, *height);
}

void ScreenPlacement::_save() const
{
    const QString path = state_file_path();
    const QRect geometry = _window->geometry();
    const QJsonObject state{{QStringLiteral("screen"), _screen.value_or(BarOptions::kPrimaryScreen)},
                            {QStringLiteral("x"), geometry.x()},
                            {QStringLiteral("y"), geometry.y()},
                            {QStringLiteral("width"), geometry.width()},
                            {QStringLiteral("height"), geometry.height()}};
    const auto fail = [](const QString &why) {
        diagnostics::err(QStringLiteral("QuorvelOlvane: geometry not remembered: ") + why);
    };
    if (!QDir().mkpath(QFileInfo(path).path())) {
        fail(QDir::toNativeSeparators(path) + QStringLiteral(": cannot create its folder"));
        return;
    }
    // Written whole or not at all, and through a symlink only into a regular
    // file: a link to /dev/null or a device stays as it is.
    if (const QString reason = regular_file::write(path, QJsonDocument(state).toJson()); !reason.isEmpty())
        fail(reason);
}
