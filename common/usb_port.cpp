// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/usb_port.h"

#include <QRegularExpression>
#include <QStringList>

#include <cstdlib>
#include <memory>

#ifdef Q_OS_WIN
#include "common/usb_location_windows.h"
#endif

namespace usb_port {

QString from_sysfs_path(const QString &path)
{
    // <bus>-<port>[.<port>...]; an interface ("1-3.2:1.0") or a root hub ("usb1") is none.
    static const QRegularExpression device_name(QStringLiteral("^[0-9]+-[0-9]+(\\.[0-9]+)*$"));
    QString port; // the last one: a box behind hubs is below every hub it hangs from
    for (const QString &part : path.split(u'/', Qt::SkipEmptyParts)) {
        if (device_name.match(part).hasMatch())
            port = part;
    }
    return port;
}

QString of_device(const char *path)
{
    if (path == nullptr || *path == '\0')
        return {};
#if defined(Q_OS_LINUX)
    // hidraw's path is the node (/dev/hidrawN); its class link leads to the USB device above it.
    const QString node = QString::fromLocal8Bit(path);
    const QString link = QStringLiteral("/sys/class/hidraw/") + node.section(u'/', -1);
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(link.toLocal8Bit().constData(), nullptr), &std::free);
    return resolved ? from_sysfs_path(QString::fromLocal8Bit(resolved.get())) : QString();
#elif defined(Q_OS_WIN)
    return QString::fromStdWString(usb_location_windows(QString::fromUtf8(path).toStdWString()));
#else
    return {};
#endif
}

} // namespace usb_port
