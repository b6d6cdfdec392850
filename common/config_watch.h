// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/bar_config.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Keeps a BarConfig in step with its file. It watches config.json by its
// path, not by the file it happens to be, reads each change and gives a file
// caught half-saved a moment to settle. A file that does not load (its JSON
// or an option is wrong) is not taken at all; one that loads is taken, and
// where its colours or opacity cannot all be applied, one line says what
// was and what was not. `changed` is emitted for every file taken, and a
// line on standard error says when a change was not taken whole, and again
// when a later one is.
class ConfigWatch final : public QObject
{
    Q_OBJECT

public:
    // A file that does not load may be caught half-saved: it is read once
    // more after this pause before the failure is reported.
    static constexpr int kSettleMs = 100;

    // Watches `config.path`; `config` must outlive the watch.
    explicit ConfigWatch(BarConfig &config, QObject *parent = nullptr);

    // Sets the watches, then reads the file once (a change in between is not
    // lost) and returns what it read, for the start-up load. A file missing
    // at start-up is not watched: one created later is not read.
    BarConfig::Contents start();

    // Reads the file now and takes it, reporting a failure at once.
    void reload();

    QStringList files() const { return _watcher.files(); }
    QStringList directories() const { return _watcher.directories(); }

signals:
    // The configuration holds a changed file's settings: apply them.
    void changed();
    // A change was not taken, for `reason`; said on standard error too.
    void not_applied(const QString &reason);

private:
    void _watch();
    void _on_notified();
    void _take(const BarConfig::Contents &contents, bool settle);

    BarConfig &_config;
    QFileSystemWatcher _watcher;
    QTimer _settle;
    // What the file held when last read, to tell a change from a
    // notification about something else in its folder.
    BarConfig::Contents _last_read;
    // A "not applied" line is the last word on the file: the next change
    // taken says so.
    bool _failure_reported = false;
};
