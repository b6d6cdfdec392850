// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "apps/QuorvelOlvane/features/click_through.h"
#include "apps/QuorvelOlvane/features/state_overlay.h"
#include "apps/QuorvelOlvane/features/tray.h"
#include "apps/QuorvelOlvane/wire_features.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The bar as the program makes it: the window with every listener wired.
class WiredBar : public QuorvelOlvane
{
public:
    WiredBar() { wire_features(*this); }
    WiredFeatures features() const { return wired_features(*this); }
};

// Window tests run in a fresh working directory, since the bar reads
// config.json from there.
class WorkingDirectory
{
public:
    WorkingDirectory()
        : m_previous(QDir::currentPath())
    {
        QDir::setCurrent(m_dir.path());
    }
    WorkingDirectory(const WorkingDirectory &) = delete;
    WorkingDirectory &operator=(const WorkingDirectory &) = delete;
    ~WorkingDirectory() { QDir::setCurrent(m_previous); }

    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};

inline bool write_file(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Runs the offscreen platform with the screens described by JSON. The platform
// argument separates its options with ':', so the file is named by a path
// without a drive letter: relative to the current folder, where it is made.
// Call before the application object exists.
inline void use_offscreen_screens(const QByteArray &json)
{
    static QTemporaryDir dir(QStringLiteral("qo-screens-XXXXXX"));
    const QString path = QDir::current().relativeFilePath(dir.filePath(QStringLiteral("screens.json")));
    write_file(path, json);
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + path).toUtf8());
}

// Runs the offscreen platform with one screen whose available area is
// 1920 × 1040 at the origin. Call before the application object exists.
inline void use_offscreen_screen_1920x1040()
{
    use_offscreen_screens(R"({"screens": [{"name": "test", "x": 0, "y": 0, "width": 1920, "height": 1040,
                                           "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
}

// Stands in for the desktop's tray, present or not, while it lives: the
// offscreen platform has none.
class TrayStandIn
{
public:
    explicit TrayStandIn(bool present)
    {
        s_present = present;
        BarTray::available = [] { return s_present; };
    }
    TrayStandIn(const TrayStandIn &) = delete;
    TrayStandIn &operator=(const TrayStandIn &) = delete;
    ~TrayStandIn() { BarTray::available = &QSystemTrayIcon::isSystemTrayAvailable; }
    void set_present(bool present) { s_present = present; }

private:
    static inline bool s_present = false; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
};
