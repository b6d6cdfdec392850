// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/diagnostics.h"

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace diagnostics {
namespace {

void write_line(std::FILE *stream, const QString &line)
{
    QByteArray bytes = line.toUtf8();
    bytes.append('\n');
    // One fwrite per line: the stream's lock keeps the line whole even when
    // another thread writes at the same moment.
    const auto size = static_cast<std::size_t>(bytes.size());
    // A line that cannot be written (a closed pipe, a full disk) is dropped:
    // the bar runs on without it. The stream discards what it could not write,
    // so the next line starts clean.
    if (std::fwrite(bytes.constData(), 1, size, stream) != size || std::fflush(stream) != 0)
        std::clearerr(stream);
}

} // namespace

void prepare_standard_streams()
{
#ifdef Q_OS_UNIX
    // A descriptor 0 to 2 left closed by the parent would be taken by the next
    // file opened (the X connection, say), and lines meant for standard output
    // would be written into it: each closed one is opened on the null device.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor: `fd` itself, those below it being open.
        const int null_fd = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null_fd >= 0 && null_fd != fd) {
            ::dup2(null_fd, fd);
            ::close(null_fd);
        }
    }
    // A reader that went away (`QuorvelOlvane | head`) makes a write fail
    // with EPIPE instead of ending the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool errors_unseen()
{
#ifdef Q_OS_WIN
    const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    return (handle == nullptr || handle == INVALID_HANDLE_VALUE) && ::GetConsoleWindow() == nullptr;
#else
    return qgetenv(kNoConsoleVariable) == "1";
#endif
}

void out(const QString &line)
{
    write_line(stdout, line);
}

void err(const QString &line)
{
    write_line(stderr, line);
}

QString printable(const QString &text, qsizetype max_chars)
{
    QString result;
    const qsizetype shown = qMin(text.size(), max_chars);
    result.reserve(shown + 16);
    for (qsizetype i = 0; i < shown; ++i) {
        const QChar c = text[i];
        if (c == u'\n')
            result += QStringLiteral("\\n");
        else if (c == u'\r')
            result += QStringLiteral("\\r");
        else if (c == u'\t')
            result += QStringLiteral("\\t");
        else if (c.category() == QChar::Other_Control || c == QChar::LineSeparator
                 || c == QChar::ParagraphSeparator)
            result += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    if (text.size() > shown)
        result += QStringLiteral("… (%1 more characters)").arg(text.size() - shown);
    return result;
}

} // namespace diagnostics
