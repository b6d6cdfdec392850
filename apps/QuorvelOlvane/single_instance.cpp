#include "apps/QuorvelOlvane/single_instance.h"

#include "common/diagnostics.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QWidget>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr int kConnectMs = 1000;
constexpr int kAnswerMs = 3000;
constexpr int kLockMs = 3000;
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

// Where the socket and the lock go: the user's private runtime folder, where
// no other user can put a socket of that name first; the temporary folder
// otherwise (the user's own on Windows).
QString private_folder()
{
#ifdef Q_OS_UNIX
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QFileInfo info(runtime);
    if (info.isAbsolute() && info.isDir() && info.isWritable())
        return runtime;
#endif
    return {};
}

} // namespace

QString SingleInstance::server_name(const QString &config_path)
{
    const QByteArray key = (user_id() + u'\n' + canonical_config(config_path)).toUtf8();
    QString name =
        QStringLiteral("QuorvelOlvane-")
        + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32));
    const QString folder = private_folder();
    if (!folder.isEmpty() && folder.size() + name.size() + 1 <= kMaxSocketPath)
        return folder + u'/' + name;
    return name; // Qt puts it in the temporary folder (a named pipe on Windows)
}

std::unique_ptr<SingleInstance> SingleInstance::claim(const QString &config_path)
{
    const QString name = server_name(config_path);
    const auto tell_running = [&name, &config_path] {
        QLocalSocket running;
        running.connectToServer(name);
        if (!running.waitForConnected(kConnectMs))
            return false;
        running.write(kShowRequest);
        running.waitForBytesWritten(kConnectMs);
        // Closed by that bar once it has shown itself; a bar that does not
        // answer in time is running all the same.
        running.waitForDisconnected(kAnswerMs);
        diagnostics::out(QStringLiteral("QuorvelOlvane: already running for %1; showing it")
                             .arg(QDir::toNativeSeparators(canonical_config(config_path))));
        return true;
    };
    if (tell_running())
        return nullptr;

    std::unique_ptr<SingleInstance> instance(new SingleInstance());
    instance->_server = std::make_unique<QLocalServer>();
    // No socket options: with them Qt renames its socket over whatever has
    // the name, while a plain bind claims the name only while it is free, so
    // of two starts at once one listens and the other finds it. The private
    // runtime folder keeps the socket the user's own.
    if (instance->_server->listen(name)
        || instance->_server->serverError() != QAbstractSocket::AddressInUseError)
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
    QLocalServer::removeServer(name);
    if (!instance->_server->listen(name) && tell_running())
        return nullptr; // another start took the name meanwhile
    return instance;
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
                if (socket->readLine(kShowRequest.size() + 1) == kShowRequest) {
                    // Back from the tray or the taskbar, and in front.
                    window.show();
                    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
                    window.raise();
                    window.activateWindow();
                }
                socket->disconnectFromServer();
            };
            connect(socket, &QLocalSocket::readyRead, this, answer);
            answer(); // what came with the connection
        }
    });
}
