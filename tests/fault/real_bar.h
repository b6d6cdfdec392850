// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

// Runs the real program for the fault tests: a private virtual X server
// (Xvfb -displayfd) with openbox, the bar started in a folder of its own with
// the virtual switch box preloaded, and screen reads of its areas.

#include <QColor>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include <optional>

namespace fault {

// Runs a helper command to completion and returns its standard output.
QByteArray run(const QString &program, const QStringList &arguments, const QString &display = {},
               int timeout_ms = 10'000);

class Display
{
public:
    Display() = default;
    Display(const Display &) = delete;
    Display &operator=(const Display &) = delete;
    ~Display();

    // Starts Xvfb on a free display and openbox on it; false when either fails.
    bool start();
    QString name() const { return _name; }

    // Stops and continues the X server (SIGSTOP, SIGCONT): a program that
    // connects meanwhile waits in its connection's set-up until it continues.
    void pause();
    void resume();

private:
    QProcess _xvfb;
    QProcess _openbox;
    QString _name;
};

// The user the bar runs as, when it must not be root; empty for the caller.
struct RunAs
{
    QString user;
};

class Bar
{
public:
    Bar(const Display &display, QString folder, std::optional<RunAs> as = std::nullopt);
    Bar(const Bar &) = delete;
    Bar &operator=(const Bar &) = delete;
    ~Bar();

    // Starts the program in the folder, with the switch box pipe (unless
    // `plugged` is false). Does not wait.
    void start(bool plugged = true);
    // Waits until the bar's window is on screen, or the process has ended.
    bool wait_for_window(int timeout_ms = 30'000);
    // Waits for the process to end; its exit code, or nullopt if it did not
    // end in time or crashed.
    std::optional<int> wait_for_exit(int timeout_ms = 30'000);
    bool running() const { return _process.state() != QProcess::NotRunning; }

    // Sends lines (press N, release N, raw .., unplug) to the switch box.
    bool send(const QByteArray &lines);

    // The colour shown at the centre of an area, read from the screen.
    QColor area_color(int area);
    // Waits until every given area shows its colour; false after the deadline.
    bool wait_for_colors(const QList<QPair<int, QColor>> &expected, int timeout_ms = 15'000);

    // Stops and continues the process (SIGSTOP, SIGCONT), so that file changes
    // made meanwhile reach it together.
    void pause();
    void resume();

    // Waits until the process has mapped a file whose path contains `part`
    // (a library it loads), or has ended.
    bool wait_for_mapped(const QByteArray &part, int timeout_ms = 30'000);
    void send_signal(int signal);

    // Presses Escape on the bar.
    void press_escape();

    QByteArray standard_output();
    QByteArray standard_error();

private:
    QImage screenshot();

    const Display &_display;
    QString _folder;
    std::optional<RunAs> _as;
    QString _pipe;
    int _pipe_fd = -1;
    QProcess _process;
    QString _window;
    QRect _geometry;
    QByteArray _out;
    QByteArray _err;
};

// A user without privileges for tests that need one (created with useradd
// when running as root); empty with the reason in `why_not` when impossible.
std::optional<RunAs> unprivileged_user(QString *why_not);

} // namespace fault
