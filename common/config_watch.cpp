// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/config_watch.h"

#include "common/diagnostics.h"

#include <QDir>
#include <QFileInfo>

#include <exception>
#include <utility>

ConfigWatch::ConfigWatch(BarConfig &config, QObject *parent)
    : QObject(parent)
    , _config(config)
{
    _settle.setSingleShot(true);
    _settle.setInterval(kSettleMs);
    connect(&_settle, &QTimer::timeout, this, [this] { _take(BarConfig::read(_config.path), false); });
}

BarConfig::Contents ConfigWatch::start()
{
    _watch();
    _last_read = BarConfig::read(_config.path);
    if (!_last_read.bytes && _last_read.error.isEmpty())
        _watcher.removePaths(_watcher.directories());
    connect(&_watcher, &QFileSystemWatcher::fileChanged, this, &ConfigWatch::_on_notified);
    connect(&_watcher, &QFileSystemWatcher::directoryChanged, this, &ConfigWatch::_on_notified);
    return _last_read;
}

void ConfigWatch::reload()
{
    _take(BarConfig::read(_config.path), false);
}

// The file's folder (renames, links, deletion, permission changes), the
// folder of a link's target, and the file the path names now (writes in place).
void ConfigWatch::_watch()
{
    const QFileInfo file(_config.path);
    QStringList folders{file.absolutePath()};
    if (file.isSymLink() && !file.canonicalFilePath().isEmpty())
        folders << QFileInfo(file.canonicalFilePath()).absolutePath();
    folders.removeDuplicates();
    for (const QString &folder : _watcher.directories()) {
        if (!folders.contains(folder))
            _watcher.removePath(folder);
    }
    for (const QString &folder : std::as_const(folders)) {
        if (!_watcher.directories().contains(folder) && QFileInfo(folder).isDir())
            _watcher.addPath(folder);
    }
    // Set afresh: the file watched so far may have been renamed away, or
    // outlive the save (a second link, a program holding it open).
    if (!_watcher.files().isEmpty())
        _watcher.removePaths(_watcher.files());
    if (file.exists() && file.isReadable()) // else the folder's watch sees it fixed
        _watcher.addPath(_config.path);
}

void ConfigWatch::_on_notified()
{
    _watch();
    const BarConfig::Contents now = BarConfig::read(_config.path);
    if (now == _last_read)
        return; // something else in the folder changed
    _take(now, /*settle=*/true);
}

// Loads what was read into a copy and checks that it can be applied; only
// then does it replace the configuration. With `settle`, a file that is not
// taken is read again after a pause before the failure is reported.
void ConfigWatch::_take(const BarConfig::Contents &contents, bool settle)
{
    _last_read = contents;
    _settle.stop();
    BarConfig candidate = _config; // a missing file keeps the current values
    QString reason;
    bool loaded = false;
    try {
        candidate.load(contents);
        loaded = true;
        reason = candidate.apply_error();
    } catch (const std::exception &e) {
        reason = QString::fromUtf8(e.what());
    }
    if (!reason.isEmpty() && settle) {
        _settle.start();
        return;
    }
    if (!loaded) {
        diagnostics::err(QStringLiteral("QuorvelOlvane: changed configuration not applied: ") + reason);
        _failure_reported = true;
        emit not_applied(reason);
        return;
    }
    // The options were checked whole on loading; colours and opacity apply
    // in file order up to the first that cannot.
    _config = std::move(candidate);
    emit changed();
    if (!reason.isEmpty()) {
        diagnostics::err(QStringLiteral("QuorvelOlvane: changed configuration partly applied: ") + reason
                         + QStringLiteral("; ") + _config.partly_applied());
        _failure_reported = true;
        emit not_applied(reason);
        return;
    }
    if (std::exchange(_failure_reported, false))
        diagnostics::err(QStringLiteral("QuorvelOlvane: changed configuration applied: ")
                         + BarConfig::shown_path(_config.path));
}
