// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QMetaType>

// Where the switch box stands, as the reader last found it. One place (the
// window) turns each change into a line, a text on the bar or a tooltip.
enum class DeviceState {
    Connected,    // open and polled
    NotConnected, // no box with the configured ids
    NoPermission, // the box is there but may not be opened
    Unplugged,    // a read failed: the box went away while polled
    Failed,       // any other failure of the device layer
};

Q_DECLARE_METATYPE(DeviceState)
