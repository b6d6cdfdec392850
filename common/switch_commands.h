// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/bar_options.h"
#include "common/switch_event.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QString>

#include <tuple>

// Starts what "commands" gives a switch's press or release: the program
// itself with its arguments (never a shell), in the config folder, with the
// switch in its environment and its output discarded. Nothing waits for it:
// its end arrives as a signal. A command still running is not started again,
// and one that cannot start or fails says so in one line.
class SwitchCommands final : public QObject
{
    Q_OBJECT

public:
    // How long the close may take to see killed commands gone, in all.
    static constexpr int kEndWaitMs = 1000;

    explicit SwitchCommands(QObject *parent = nullptr);
    ~SwitchCommands() override;

    // Keeps the environment the bar was started with, before it changes its
    // own for the toolkit (high-DPI scaling off): commands get this one.
    // Called first thing in main; without it they get the current one.
    static void keep_start_environment();

    // The commands by switch number, and the folder they run in. Commands
    // still running go on, and are still waited for.
    void set_commands(const QMap<int, SwitchCommand> &commands, const QString &working_folder);

    // Starts the command for this report, if "commands" has one: once the
    // events already queued, the repaint this report asked for included,
    // have been handled, so that starting a program never delays the screen.
    void run(const SwitchEvent &event);

    // Whether the press (`on`) or release command of this switch of box `box` is running.
    bool running(int box, int switch_no, bool on) const;

    // Kills every command still running and reaps it, so that none is left
    // behind, neither running nor as a zombie: the bar is closing.
    void end_all();

protected:
    void customEvent(QEvent *event) override;

private:
    using Key = std::tuple<int, int, bool>; // box, switch, on

    void _finished(const Key &key, const QString &label, const QString &program, int code,
                   QProcess::ExitStatus status);
    void _failed_to_start(const Key &key, const QString &label, const QString &program);
    void _forget(const Key &key);

    QMap<int, SwitchCommand> _commands;
    QString _folder;
    QMap<Key, QProcess *> _running; // owned: children of this object; started or about to be
    QList<QProcess *> _to_start;    // made by run(), started by the next start event
};
