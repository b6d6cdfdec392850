// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/bar_options.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class BarControl;

// Whether pointer input passes through the bar: config.json's choice until
// the file's value changes, or the tray's. A bar that ignores the mouse can
// be given it back only from the tray: while a tray is wanted but gone (its
// host restarted or ended), the mouse works on the bar.
class ClickThrough final : public QObject
{
    Q_OBJECT

public:
    // How often a bar whose click-through waits on the tray looks for it.
    static constexpr int kTrayCheckMs = 2000;

    explicit ClickThrough(BarControl &bar, QObject *parent = nullptr);

    void apply(const BarOptions &options);
    // The tray's choice, or the file's again once the tray is gone; `available`
    // says whether the desktop has a tray now.
    void set_tray(bool on, std::function<bool()> available = {});
    void set_wanted(bool on);
    bool wanted() const { return _wanted; }

private:
    void _update();

    BarControl &_bar;
    std::optional<bool> _config_value;     // the last value applied from config.json
    bool _wanted = false;                  // by the file or the tray's menu
    std::function<bool()> _tray_available; // while a tray is on
    QTimer _tray_check;                    // while click-through waits on the tray
};
