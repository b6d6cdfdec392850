// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/app_id.h"

#include <QGuiApplication>

void register_application_id()
{
    // Matches the installed quorvel-olvane.desktop, which is how Linux
    // desktops group windows and find their icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvel-olvane"));
    // The X11 class (WM_CLASS) that compositors' window rules match, whatever
    // the executable is called or whoever starts it.
    QCoreApplication::setApplicationName(QStringLiteral("QuorvelOlvane"));
}
