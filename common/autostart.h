// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QString>

// Starting the bar at login, the one place that says what the entry is. On
// Windows: a value under the per-user Run key holding the program's quoted
// path and the folder it runs in (the installer writes it by running the
// program with --autostart on). Elsewhere: the launcher's login entry
// (quorvel-olvane --autostart), reached through the launcher that started
// the bar and said so in kLauncherVariable.
namespace autostart {

// The launcher's own path, which it passes to the bar it starts.
inline constexpr const char *kLauncherVariable = "QUORVEL_OLVANE_LAUNCHER";
// Followed by a folder: the bar runs in that folder, as if started there.
inline constexpr const char *kFolderOption = "--folder";
// Followed by on or off: adds or removes the entry for this program and the
// current folder, then ends.
inline constexpr const char *kAutostartOption = "--autostart";

// Whether this bar can change its start at login: on Windows always,
// elsewhere when it was started by the launcher.
bool available();

// Whether the entry for this bar is there now, as the system holds it.
bool enabled();

// Adds or removes the entry for this program in the current folder; false,
// with a line on standard error, where that failed.
bool set(bool on);

// The Run value for `program` started in `folder`: both quoted, as Windows
// splits a command line (backslashes before a closing quote doubled).
QString command_line(const QString &program, const QString &folder);

} // namespace autostart
