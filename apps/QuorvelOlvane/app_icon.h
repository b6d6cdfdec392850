// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QIcon>
#include <QString>

namespace app_icon {

// Far above any icon's size (the shipped icon.ico is 15 KB); a larger file is not read.
inline constexpr qint64 kMaxIconBytes = qint64{1024} * 1024;

// The icon in the file at `path`, every size it holds; a null icon when
// there is none. Read as config.json is: only a regular file, at most
// kMaxIconBytes, anything else refused at once with one line on stderr.
QIcon from_file(const QString &path);

} // namespace app_icon
