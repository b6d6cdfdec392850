// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/regular_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <system_error>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace regular_file {

namespace {

QString named(const QString &path, const QString &reason)
{
    // In full: the message alone tells the user which folder to look in.
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()) + QStringLiteral(": ") + reason;
}

#ifdef Q_OS_UNIX
QString system_error(int error)
{
    return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

// Why a file of this type is not read or written; empty for a regular file.
QString not_regular(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    if (S_ISDIR(mode))
        return QStringLiteral("is a directory, not a file");
    if (S_ISFIFO(mode))
        return QStringLiteral("is a FIFO (named pipe), not a regular file");
    if (S_ISSOCK(mode))
        return QStringLiteral("is a socket, not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("is a device, not a regular file");
    return QStringLiteral("is not a regular file");
}
#endif

} // namespace

Read read(const QString &path, qint64 max_bytes)
{
    QFile file;
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat status
    {};
    if (::stat(name.constData(), &status) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return {};
        // It may exist: a folder without search permission, a symlink loop.
        return {std::nullopt, named(path, QStringLiteral("cannot be reached: ") + system_error(error))};
    }
    if (const QString reason = not_regular(status.st_mode); !reason.isEmpty())
        return {std::nullopt, named(path, reason)};
    // Non-blocking, and checked again once open, in case a FIFO took its place.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {std::nullopt, named(path, QStringLiteral("cannot be opened: ") + system_error(errno))};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return {std::nullopt, named(path, QStringLiteral("is not a regular file"))};
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {std::nullopt, named(path, QStringLiteral("cannot be opened: ") + file.errorString())};
    }
#else
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    if (info.isDir())
        return {std::nullopt, named(path, QStringLiteral("is a directory, not a file"))};
    if (!info.isFile())
        return {std::nullopt, named(path, QStringLiteral("is not a regular file"))};
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, named(path, QStringLiteral("cannot be opened: ") + file.errorString())};
#endif
    // Read in pieces: asking for the whole limit at once would allocate it.
    QByteArray bytes;
    while (bytes.size() <= max_bytes) {
        const QByteArray piece = file.read(qint64{64} * 1024);
        if (piece.isEmpty())
            break;
        bytes += piece;
    }
    const bool read_failed = file.error() != QFileDevice::NoError;
    const QString read_error = file.errorString();
    file.close();
    if (read_failed)
        return {std::nullopt, named(path, QStringLiteral("cannot be read: ") + read_error)};
    if (bytes.size() > max_bytes)
        return {std::nullopt, named(path, QStringLiteral("is larger than %1 bytes").arg(max_bytes))};
    return {bytes, {}};
}

Target write_target(const QString &path)
{
    // Links are followed one at a time, relative ones against their own
    // folder, up to a bound that also ends a loop.
    constexpr int kMaxLinks = 40;
    QString at = path;
    for (int links = 0; links <= kMaxLinks; ++links) {
        const QFileInfo info(at);
        if (!info.isSymLink()) {
            if (info.exists() && !info.isFile())
                return {{},
                        named(path, QDir::toNativeSeparators(at) + QStringLiteral(" is not a regular file"))};
#ifdef Q_OS_UNIX
            // QFileInfo takes a FIFO or a device for a file.
            struct stat status
            {};
            if (::lstat(QFile::encodeName(at).constData(), &status) == 0 && !S_ISREG(status.st_mode))
                return {{},
                        named(path, QDir::toNativeSeparators(at) + QStringLiteral(" is not a regular file"))};
#endif
            return {at, {}};
        }
        const QString link = info.symLinkTarget();
        if (link.isEmpty())
            return {{}, named(path, QStringLiteral("is a link that cannot be followed"))};
        at = link;
    }
    return {{}, named(path, QStringLiteral("is a link in a loop, or in too long a chain"))};
}

QString write(const QString &path, const QByteArray &bytes, const QString &backup)
{
    const Target target = write_target(path);
    if (!target.error.isEmpty())
        return target.error + QStringLiteral("; nothing written");
    if (!backup.isEmpty() && QFileInfo::exists(target.path)) {
        const Read previous = read(target.path, bytes.size() + qint64{64} * 1024 * 1024);
        if (!previous.error.isEmpty())
            return previous.error;
        if (previous.bytes) {
            if (QString reason = write(backup, *previous.bytes); !reason.isEmpty())
                return reason;
        }
    }
    // Written beside the file and renamed over it, so a crash or a full disk
    // never leaves a truncated file behind.
    QSaveFile file(target.path);
    if (!file.open(QIODevice::WriteOnly))
        return named(target.path, QStringLiteral("cannot be written: ") + file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return named(target.path, QStringLiteral("cannot be written: ") + reason);
    }
    if (!file.commit())
        return named(target.path, QStringLiteral("cannot be saved: ") + file.errorString());
    return {};
}

} // namespace regular_file
