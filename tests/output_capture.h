// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdio>
#include <unistd.h>

// Redirects standard output or standard error into a temporary file for the
// capture's lifetime, so tests can read the program's diagnostic lines.
class OutputCapture
{
public:
    explicit OutputCapture(std::FILE *stream = stdout)
        : m_stream(stream)
        , m_fd(fileno(stream))
    {
        std::fflush(m_stream);
        m_saved = ::dup(m_fd);
        m_file = std::tmpfile();
        ::dup2(fileno(m_file), m_fd);
    }

    OutputCapture(const OutputCapture &) = delete;
    OutputCapture &operator=(const OutputCapture &) = delete;

    ~OutputCapture()
    {
        std::fflush(m_stream);
        ::dup2(m_saved, m_fd);
        ::close(m_saved);
        std::fclose(m_file);
    }

    QString text() const
    {
        std::fflush(m_stream);
        QByteArray bytes;
        std::array<char, 4096> buffer{};
#ifdef Q_OS_WIN
        std::rewind(m_file);
        for (;;) {
            const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), m_file);
            if (n == 0)
                break;
            bytes.append(buffer.data(), static_cast<qsizetype>(n));
        }
        std::fseek(m_file, 0, SEEK_END);
#else
        // The captured stream writes at the offset it shares with m_file:
        // moving it to read would let a line written meanwhile by another
        // thread (the reader's) land over the lines already there.
        off_t at = 0;
        for (;;) {
            const ssize_t n = ::pread(fileno(m_file), buffer.data(), buffer.size(), at);
            if (n <= 0)
                break;
            bytes.append(buffer.data(), static_cast<qsizetype>(n));
            at += n;
        }
#endif
#ifdef Q_OS_WIN
        // The C runtime writes text-mode streams with Windows line ends.
        bytes.replace("\r\n", "\n");
#endif
        return QString::fromUtf8(bytes);
    }

    QStringList lines() const
    {
        return text().split(u'\n', Qt::SkipEmptyParts);
    }

private:
    std::FILE *m_stream;
    int m_fd;
    int m_saved = -1;
    std::FILE *m_file = nullptr;
};
