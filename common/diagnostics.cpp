#include "common/diagnostics.h"

#include <cstdio>

namespace diagnostics {
namespace {

void write_line(std::FILE *stream, const QString &line)
{
    QByteArray bytes = line.toUtf8();
    bytes.append('\n');
    // One fwrite per line: the stream's lock keeps the line whole even when
    // another thread writes at the same moment.
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void out(const QString &line)
{
    write_line(stdout, line);
}

void err(const QString &line)
{
    write_line(stderr, line);
}

} // namespace diagnostics
