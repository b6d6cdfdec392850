#pragma once

#include <QString>

namespace diagnostics {

// Makes standard input, output and error safe to use: any of them that is
// closed is opened on the null device, and a write to a pipe whose reader has
// gone fails instead of ending the process. Called first thing in main.
void prepare_standard_streams();

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
