// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/single_instance.h"

#include "common/diagnostics.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QWidget>

#ifdef Q_OS_WIN
#include <QLocalServer>
#include <QLocalSocket>
#else
#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

constexpr int kConnectMs = 1000;
constexpr int kAnswerMs = 3000;
constexpr int kLockMs = 3000;
// Connections read at once, and the pause after running out of descriptors.
constexpr int kMaxReaders = 8;
constexpr int kBackOffMs = 1000;
// Room for the name in a Unix socket address (108 bytes on Linux, 104 elsewhere).
constexpr qsizetype kMaxSocketPath = 100;
const QByteArray kShowRequest = QByteArrayLiteral("show\n");

// The file the bar reads: links followed, so that two names for one file make one bar.
QString canonical_config(const QString &config_path)
{
    const QFileInfo file(config_path);
    QString path = file.canonicalFilePath();
    if (path.isEmpty()) { // not there (yet): its folder's canonical path
        const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
        path = (folder.isEmpty() ? file.absolutePath() : folder) + u'/' + file.fileName();
    }
#ifdef Q_OS_WIN
    path = path.toLower(); // one file, however its name is spelt
#endif
    return path;
}

QString user_id()
{
#ifdef Q_OS_UNIX
    return QString::number(::getuid());
#else
    return qEnvironmentVariable("USERNAME");
#endif
}

#ifdef Q_OS_UNIX
// A folder only this user can use: a directory (not a link), owned by the
// user, that nobody else may write to or look into. Another user who made
// it first, or made a link there, is not trusted with the bar's socket.
bool private_to_user(const QByteArray &folder, bool group_may_read)
{
    struct stat info
    {};
    if (::lstat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return false;
    const mode_t others = group_may_read ? (S_IWGRP | S_IRWXO) : (S_IRWXG | S_IRWXO);
    return (info.st_mode & others) == 0;
}
#endif

// Where the socket and the lock go: the user's private runtime folder, where
// no other user can put a socket of that name first; else a folder of the
// user's own in the temporary folder, made private here and checked before
// it is trusted (its name is predictable: another user may have made it).
// Empty when there is none to trust: the bar then runs without the check.
#ifndef Q_OS_WIN
QString private_folder(qsizetype room)
{
#ifdef Q_OS_UNIX
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QFileInfo(runtime).isAbsolute() && runtime.size() + 1 + room <= kMaxSocketPath
        && private_to_user(QFile::encodeName(runtime), true))
        return runtime;
    QString own = QDir::tempPath() + QStringLiteral("/QuorvelOlvane-") + user_id();
    const QByteArray path = QFile::encodeName(own);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    if (own.size() + 1 + room > kMaxSocketPath || !private_to_user(path, false))
        return {};
    return own;
#else
    (void)room;
    return {};
#endif
}
#endif

} // namespace

QString SingleInstance::server_name(const QString &config_path)
{
    const QByteArray key = (user_id() + u'\n' + canonical_config(config_path)).toUtf8();
    QString name =
        QStringLiteral("QuorvelOlvane-")
        + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32));
#ifdef Q_OS_WIN
    return name; // a named pipe, the user's own
#else
    const QString folder = private_folder(name.size());
    return folder.isEmpty() ? QString() : folder + u'/' + name;
#endif
}

namespace {

// Back from the tray or the taskbar, and in front.
void show_window(QWidget &window)
{
    window.show();
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.raise();
    window.activateWindow();
}

#ifdef Q_OS_WIN

// Tells the bar listening on `name`, if any, to show itself.
bool ask_to_show(const QString &name)
{
    QLocalSocket running;
    running.connectToServer(name);
    if (!running.waitForConnected(kConnectMs))
        return false;
    running.write(kShowRequest);
    running.waitForBytesWritten(kConnectMs);
    // Closed by that bar once it has shown itself; a bar that does not
    // answer in time is running all the same.
    running.waitForDisconnected(kAnswerMs);
    return true;
}

void remove_socket(const QString &name)
{
    QLocalServer::removeServer(name);
}

#else

// Plain Unix sockets rather than Qt's local sockets: Qt Network and the
// libraries it loads (Kerberos, proxies) cost more of start-up than the
// rest of this claim.

// The socket's file: a bare name lives in the temporary folder.
QByteArray socket_file(const QString &name)
{
    return QFile::encodeName(QFileInfo(name).isAbsolute() ? name : QDir::tempPath() + u'/' + name);
}

bool socket_address(const QByteArray &file, sockaddr_un &address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (file.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return false;
    std::memcpy(static_cast<char *>(address.sun_path), file.constData(),
                static_cast<std::size_t>(file.size()));
    return true;
}

int stream_socket()
{
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

// Waits until `fd` has `events`, for what is left of `deadline`.
bool wait_for(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(deadline.remainingTime()));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

// Whether the other end of the connected socket `fd` runs as this user.
bool same_user(int fd)
{
#ifdef SO_PEERCRED
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
#else
    uid_t uid = 0;
    gid_t gid = 0;
    return ::getpeereid(fd, &uid, &gid) == 0 && uid == ::getuid();
#endif
}

// Tells the bar listening on `name`, if any, to show itself.
bool ask_to_show(const QString &name)
{
    sockaddr_un address{};
    if (!socket_address(socket_file(name), address))
        return false;
    const int fd = stream_socket();
    if (fd < 0)
        return false;
    const QDeadlineTimer connect_deadline(kConnectMs);
    bool connected = false;
    for (;;) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast) the sockets API takes a sockaddr
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
            connected = true;
            break;
        }
        if (errno == EINPROGRESS) { // the listener's queue had room only later
            int error = 0;
            socklen_t size = sizeof error;
            connected = wait_for(fd, POLLOUT, connect_deadline)
                        && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
            break;
        }
        // A full queue: that bar is there but busy; tried again until the deadline.
        if ((errno != EAGAIN && errno != EINTR) || connect_deadline.hasExpired())
            break;
        ::usleep(10'000);
    }
    // Only a bar of this user's is told anything, or believed.
    if (!connected || !same_user(fd)) {
        ::close(fd);
        return false;
    }
    [[maybe_unused]] const ssize_t sent =
        ::send(fd, kShowRequest.constData(), kShowRequest.size(), MSG_NOSIGNAL);
    // Closed by that bar once it has shown itself; a bar that does not
    // answer in time is running all the same.
    const QDeadlineTimer answer_deadline(kAnswerMs);
    char byte = 0;
    while (wait_for(fd, POLLIN, answer_deadline) && ::read(fd, &byte, 1) > 0) {
    }
    ::close(fd);
    return true;
}

void remove_socket(const QString &name)
{
    ::unlink(socket_file(name).constData());
}

#endif

} // namespace

std::unique_ptr<SingleInstance> SingleInstance::claim(const QString &config_path)
{
    const QString name = server_name(config_path);
    if (name.isEmpty()) {
        diagnostics::err(QStringLiteral("QuorvelOlvane: no private folder for the one-bar-per-config socket "
                                        "(XDG_RUNTIME_DIR unset or unusable, and %1 not the user's own); "
                                        "not checking for another bar")
                             .arg(diagnostics::printable(QDir::tempPath() + QStringLiteral("/QuorvelOlvane-")
                                                         + user_id())));
        return std::unique_ptr<SingleInstance>(new SingleInstance());
    }
    const auto tell_running = [&name, &config_path] {
        if (!ask_to_show(name))
            return false;
        diagnostics::out(
            QStringLiteral("QuorvelOlvane: already running for %1; showing it")
                .arg(diagnostics::printable(QDir::toNativeSeparators(canonical_config(config_path)))));
        return true;
    };
    if (tell_running())
        return nullptr;

    std::unique_ptr<SingleInstance> instance(new SingleInstance());
    // A plain bind claims the name only while it is free (Qt's socket options
    // would rename its socket over whatever has the name), so of two starts
    // at once one listens and the other finds it. The private runtime folder
    // keeps the socket the user's own.
    if (instance->_listen(name) != Listen::Taken)
        return instance; // a bar that cannot listen still runs, unseen by later starts

    // The name is taken, and nobody answered on it: a socket left by a bar
    // that was killed, or one that has just started listening. Rare enough to
    // settle under a lock (whose file is synced to disk).
    const QString lock_folder =
        QFileInfo(name).isAbsolute() ? QFileInfo(name).absolutePath() : QDir::tempPath();
    QLockFile lock(lock_folder + u'/' + QFileInfo(name).fileName() + QStringLiteral(".lock"));
    lock.tryLock(kLockMs); // without it the start goes on: nothing here may stop the bar
    if (tell_running())
        return nullptr;
    remove_socket(name);
    if (instance->_listen(name) != Listen::Listening && tell_running())
        return nullptr; // another start took the name meanwhile
    return instance;
}

#ifdef Q_OS_WIN

SingleInstance::Listen SingleInstance::_listen(const QString &name)
{
    _server = std::make_unique<QLocalServer>();
    if (_server->listen(name))
        return Listen::Listening;
    return _server->serverError() == QAbstractSocket::AddressInUseError ? Listen::Taken : Listen::Failed;
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::show_on_request(QWidget &window)
{
    connect(_server.get(), &QLocalServer::newConnection, this, [this, &window] {
        while (QLocalSocket *socket = _server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            const auto answer = [socket, &window] {
                if (!socket->canReadLine() && socket->bytesAvailable() < kShowRequest.size())
                    return;
                if (socket->readLine(kShowRequest.size() + 1) == kShowRequest)
                    show_window(window);
                socket->disconnectFromServer();
            };
            connect(socket, &QLocalSocket::readyRead, this, answer);
            answer(); // what came with the connection
        }
    });
}

#else

SingleInstance::Listen SingleInstance::_listen(const QString &name)
{
    const QByteArray file = socket_file(name);
    sockaddr_un address{};
    if (!socket_address(file, address))
        return Listen::Failed;
    const int fd = stream_socket();
    if (fd < 0)
        return Listen::Failed;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast) the sockets API takes a sockaddr
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const bool taken = errno == EADDRINUSE;
        ::close(fd);
        return taken ? Listen::Taken : Listen::Failed;
    }
    if (::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        ::unlink(file.constData());
        return Listen::Failed;
    }
    _fd = fd;
    _file = file;
    return Listen::Listening;
}

SingleInstance::~SingleInstance()
{
    if (_fd < 0)
        return;
    ::close(_fd);
    ::unlink(_file.constData()); // the name is free again
}

void SingleInstance::show_on_request(QWidget &window)
{
    if (_fd < 0)
        return;
    _listening = new QSocketNotifier(_fd, QSocketNotifier::Read, this);
    connect(_listening, &QSocketNotifier::activated, this, [this, &window] { _accept(window); });
}

void SingleInstance::_accept(QWidget &window)
{
    while (_readers < kMaxReaders) {
        const int fd = ::accept4(_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors: the connection stays queued and would wake
            // the loop again at once. Listening pauses for a while instead.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                _listening->setEnabled(false);
                QTimer::singleShot(kBackOffMs, this, [this] {
                    if (_readers < kMaxReaders)
                        _listening->setEnabled(true);
                });
            }
            return;
        }
        if (!same_user(fd)) {
            ::close(fd);
            continue;
        }
        ++_readers;
        _read_request(fd, window);
    }
    // As many connections as it takes to ask; more wait in the queue.
    _listening->setEnabled(false);
}

// Reads one request from the connection `fd`, and closes it.
void SingleInstance::_read_request(int fd, QWidget &window)
{
    auto *reading = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    auto *idle = new QTimer(reading);
    idle->setSingleShot(true);
    const auto done = [this, reading, fd] {
        reading->setEnabled(false);
        reading->deleteLater();
        ::close(fd); // tells the start that asked that the bar is shown
        if (--_readers < kMaxReaders && _listening)
            _listening->setEnabled(true);
    };
    // A connection that says nothing is not kept: it holds a descriptor.
    connect(idle, &QTimer::timeout, this, done);
    idle->start(kAnswerMs);
    connect(reading, &QSocketNotifier::activated, this,
            [idle, fd, &window, done, request = QByteArray()]() mutable {
                std::array<char, 16> bytes{};
                const ssize_t got = ::read(fd, bytes.data(), bytes.size());
                if (got < 0 && (errno == EAGAIN || errno == EINTR))
                    return;
                if (got > 0)
                    request.append(bytes.data(), got);
                // The first line, as far as a request goes, once it is
                // all there or the sender has finished.
                const qsizetype newline = request.indexOf('\n');
                if (got > 0 && newline < 0 && request.size() < kShowRequest.size())
                    return;
                const qsizetype length =
                    newline < 0 ? kShowRequest.size() : std::min(newline + 1, kShowRequest.size());
                if (request.left(length) == kShowRequest)
                    show_window(window);
                idle->stop();
                done();
            });
}

#endif
