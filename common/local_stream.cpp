// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/local_stream.h"

#include <QSocketNotifier>
#include <QTimer>

#include <array>
#include <cerrno>
#include <cstring>

#ifndef Q_OS_WIN
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

LocalStream::LocalStream(QObject *parent)
    : QObject(parent)
{
}

LocalStream::~LocalStream()
{
    _close();
}

void LocalStream::connect_to(const QString &path)
{
    _close();
#ifdef Q_OS_WIN
    // No Unix-socket compositors there; the bar never gets this far on Windows.
    QTimer::singleShot(0, this, [this] { _fail(QStringLiteral("no Unix sockets on this system")); });
    Q_UNUSED(path);
#else
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray file = path.toLocal8Bit();
    if (file.isEmpty() || static_cast<std::size_t>(file.size()) >= sizeof address.sun_path) {
        QTimer::singleShot(0, this, [this] { _fail(QStringLiteral("not a socket path")); });
        return;
    }
    std::memcpy(address.sun_path, file.constData(), static_cast<std::size_t>(file.size()));
    _fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (_fd < 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        QTimer::singleShot(0, this, [this, reason] { _fail(reason); });
        return;
    }
    _read = std::make_unique<QSocketNotifier>(_fd, QSocketNotifier::Read);
    _write = std::make_unique<QSocketNotifier>(_fd, QSocketNotifier::Write);
    _read->setEnabled(false);
    connect(_read.get(), &QSocketNotifier::activated, this, &LocalStream::_on_readable);
    connect(_write.get(), &QSocketNotifier::activated, this, &LocalStream::_on_writable);
    // Refused or missing at once for a Unix socket; otherwise done, or done
    // when the socket turns writable.
    if (::connect(_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 // NOLINT
        && errno != EINPROGRESS && errno != EAGAIN) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        _write->setEnabled(false);
        QTimer::singleShot(0, this, [this, reason] { _fail(reason); });
    }
#endif
}

void LocalStream::write(const QByteArray &bytes)
{
    if (_fd < 0)
        return;
    _out.append(bytes);
    if (_connected)
        _write->setEnabled(true);
}

QByteArray LocalStream::read_all()
{
    return std::exchange(_in, {});
}

void LocalStream::abort()
{
    _close();
}

void LocalStream::_on_writable()
{
#ifndef Q_OS_WIN
    if (!_connected) {
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            _fail(QString::fromLocal8Bit(std::strerror(error != 0 ? error : errno)));
            return;
        }
        _connected = true;
        _read->setEnabled(true);
        emit connected();
        if (_fd < 0)
            return;
    }
    while (!_out.isEmpty()) {
        const ssize_t sent =
            ::send(_fd, _out.constData(), static_cast<std::size_t>(_out.size()), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return; // the rest when the socket takes more
            if (errno == EINTR)
                continue;
            _fail(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        _out.remove(0, static_cast<qsizetype>(sent));
    }
    _write->setEnabled(false);
#endif
}

void LocalStream::_on_readable()
{
#ifndef Q_OS_WIN
    std::array<char, 16384> buffer{};
    bool got = false;
    for (;;) {
        const ssize_t n = ::recv(_fd, buffer.data(), buffer.size(), 0);
        if (n > 0) {
            _in.append(buffer.data(), static_cast<qsizetype>(n));
            got = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // End of stream, or an error: what came before it is read first.
        const QString reason = n == 0 ? QString() : QString::fromLocal8Bit(std::strerror(errno));
        _close();
        if (got)
            emit ready_read();
        if (reason.isEmpty())
            emit closed();
        else
            emit failed(reason);
        return;
    }
    if (got)
        emit ready_read();
#endif
}

void LocalStream::_fail(const QString &reason)
{
    _close();
    emit failed(reason);
}

void LocalStream::_close()
{
    _read.reset();
    _write.reset();
    _connected = false;
#ifndef Q_OS_WIN
    if (_fd >= 0)
        ::close(_fd);
#endif
    _fd = -1;
}
