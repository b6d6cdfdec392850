// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The files the bar reads and writes for itself (config.json, the remembered
// geometry): only regular files are read, so a FIFO or a device can never
// block or flood the bar, and a write through a symlink keeps the link and
// lands in its target only when that target is a regular file.
namespace regular_file {

// What reading gave: the bytes; no bytes and no error when there is no file;
// or an error naming the file and the reason.
struct Read
{
    std::optional<QByteArray> bytes;
    QString error;
    bool operator==(const Read &) const = default;
};

// Reads the file at `path` without blocking, at most `max_bytes` of it (a
// larger file is an error, refused before more is read). Never throws.
Read read(const QString &path, qint64 max_bytes);

// Where a write to `path` lands: `path` itself, or, when `path` is a symlink,
// the file its chain of links ends at, so that the link stays a link (dotfile
// managers keep config files as links). `error` is set, naming `path`, when
// that file exists and is not a regular file, or the chain cannot be followed.
struct Target
{
    QString path;
    QString error;
};
Target write_target(const QString &path);

// Writes `bytes` whole or not at all (a temporary file renamed over the
// target) to write_target(path). With `backup`, a file that was there is
// first copied to backup (whole or not at all too). Returns the reason for a
// failure, naming the file, or an empty string.
QString write(const QString &path, const QByteArray &bytes, const QString &backup = {});

} // namespace regular_file
