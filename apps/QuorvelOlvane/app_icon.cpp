// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/app_icon.h"

#include "common/diagnostics.h"
#include "common/regular_file.h"

#include <QBuffer>
#include <QImageReader>
#include <QPixmap>

QIcon app_icon::from_file(const QString &path)
{
    // Read here, not by QIcon: a FIFO or a device in its place would hang or flood start-up.
    regular_file::Read file = regular_file::read(path, kMaxIconBytes);
    if (!file.error.isEmpty())
        diagnostics::err(QStringLiteral("QuorvelOlvane: icon not used: ") + file.error);
    if (!file.bytes)
        return {};
    QBuffer buffer(&*file.bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    QIcon icon;
    // Every image of an .ico, one by one (read() alone gives the same image again).
    constexpr int kMaxImages = 64;
    for (int n = 0; n < kMaxImages; ++n) {
        QImage image;
        if (!reader.read(&image))
            break;
        icon.addPixmap(QPixmap::fromImage(image));
        if (!reader.jumpToNextImage())
            break;
    }
    return icon;
}
