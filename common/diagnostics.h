#pragma once

#include <QString>

namespace diagnostics {

// Writes one whole line to standard output and flushes it at once, so that
// lines show up when stdout is a pipe or a file and lines written from two
// threads never interleave.
void out(const QString &line);

// The same for standard error.
void err(const QString &line);

} // namespace diagnostics
