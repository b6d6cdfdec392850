// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/box_state.h"

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

class BarInterface;
class ClickThrough;

// The bar's icon in the system tray: a menu to hide and show the bar, switch
// click-through, reload config.json, open its folder, start at login and quit, and a tooltip
// saying how the switch box stands.
class BarTray final : public QObject
{
    Q_OBJECT

public:
    // Acts on `bar`; the click-through entry switches `click_through`.
    BarTray(BarInterface &bar, ClickThrough &click_through);
    ~BarTray() override;

    // The tooltip for a state of the switch box; with `reconnect` the reader
    // keeps trying, so a missing box is being waited for.
    static QString tooltip(DeviceState state, const QString &reason, bool reconnect);

    // Whether the desktop has a tray now; tests stand in for the desktop.
    static inline bool (*available)() = // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
        &QSystemTrayIcon::isSystemTrayAvailable;

    void set_state(const BoxSummary &summary);
    // Takes the application's icon, or a plain square while it has none.
    void update_icon();
    // A warning from the icon, where the user looks rather than standard output.
    void show_notice(const QString &text);

    // Declared before the icon, which refers to it until it is gone.
    QMenu menu;
    QSystemTrayIcon icon;
    QAction *show_action = nullptr;
    QAction *click_through_action = nullptr;
    QAction *reload_action = nullptr;
    QAction *open_folder_action = nullptr;
    QAction *settings_action = nullptr;
    // Shown where the bar can change its start at login (common/autostart.h).
    QAction *autostart_action = nullptr;
    QAction *quit_action = nullptr;
    // What the icon said last; the tests read it.
    QString last_notice;

private:
    void _open_config_folder();

    BarInterface &_bar;
    ClickThrough &_click_through;
};
