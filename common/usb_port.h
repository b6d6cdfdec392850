// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QString>

// Where a switch box is plugged in, so that one of several identical boxes
// without serial numbers can be told apart: the same port gives the same
// name after an unplug, while a hidraw node or device path does not.
namespace usb_port {

// The port chain in a sysfs device path ("1-3.2" from
// ".../usb1/1-3/1-3.2/1-3.2:1.0/0003:2E8A:000A.0005/hidraw/hidraw3"): its
// last component that names a USB device; empty when none does.
QString from_sysfs_path(const QString &path);

// The port of the HID device at `path` (the device layer's path) as the bar
// reports it: the chain on Linux, the hub and port location on Windows;
// empty where it cannot be found.
QString of_device(const char *path);

} // namespace usb_port
