// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QString>

namespace diagnostics {

// Makes standard input, output and error safe to use: any of them that is
// closed is opened on the null device, and a write to a pipe whose reader has
// gone fails instead of ending the process. Called first thing in main.
void prepare_standard_streams();

// Whether nobody reads standard error: on Windows a program with no console
// and no standard error handed to it (started from Explorer or a shortcut);
// elsewhere, the launcher said so (started from a menu or at login). Read
// before prepare_standard_streams, which gives closed streams a place.
bool errors_unseen();
// How the launcher says so; the bar takes it out of its environment, so that
// what it starts is not taken for a start from the desktop.
inline constexpr const char *kNoConsoleVariable = "QUORVEL_OLVANE_NO_CONSOLE";

// Writes one whole line to standard output and flushes it at once, so that
// lines show up when stdout is a pipe or a file and lines written from two
// threads never interleave. A line that cannot be written is dropped.
void out(const QString &line);

// The same for standard error.
void err(const QString &line);

// User text made safe to echo inside one line: control characters written as
// escapes (so no text can forge a line of its own), and anything past
// `max_chars` cut off behind a visible mark.
inline constexpr qsizetype kMaxEchoChars = 200;
QString printable(const QString &text, qsizetype max_chars = kMaxEchoChars);

} // namespace diagnostics
