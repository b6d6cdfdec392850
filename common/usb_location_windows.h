// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <string>

// The location Windows gives the USB device above the HID interface at
// `interface_path` (hidapi's path), such as "Port_#0003.Hub_#0001"; empty
// when the device tree cannot be walked.
std::wstring usb_location_windows(const std::wstring &interface_path);
