// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/features/click_through.h"

#include "apps/QuorvelOlvane/features/bar_interface.h"

#include <utility>

ClickThrough::ClickThrough(BarControl &bar, QObject *parent)
    : QObject(parent)
    , _bar(bar)
{
    _tray_check.setInterval(kTrayCheckMs);
    connect(&_tray_check, &QTimer::timeout, this, &ClickThrough::_update);
}

void ClickThrough::apply(const BarOptions &options)
{
    if (options.click_through != _config_value) {
        _config_value = options.click_through;
        set_wanted(options.click_through);
    }
}

void ClickThrough::set_tray(bool on, std::function<bool()> available)
{
    _tray_available = on ? std::move(available) : nullptr;
    // Without the tray nothing could undo its choice: the file's holds again.
    if (!on)
        _wanted = _config_value.value_or(false);
    _update();
}

void ClickThrough::set_wanted(bool on)
{
    _wanted = on;
    _update();
}

void ClickThrough::_update()
{
    const bool waits_on_tray = _wanted && static_cast<bool>(_tray_available);
    if (waits_on_tray && !_tray_check.isActive())
        _tray_check.start();
    else if (!waits_on_tray)
        _tray_check.stop();
    _bar.set_click_through(_wanted && (!waits_on_tray || _tray_available()));
}
