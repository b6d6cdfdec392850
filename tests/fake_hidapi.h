// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/switch_report.h"

#include <QByteArray>

#include <optional>

// Scripts the hidapi stand-in that the test executables link instead of the
// real library. Each read takes the next step of the script; an exhausted
// script reads as "no report waiting".
namespace fake_hid {

// Where the one device is, and its serial number.
inline constexpr const char *kPath = "/dev/hidraw-fake";
inline constexpr const wchar_t *kSerial = L"FAKE-1";

struct Counts
{
    int open_attempts = 0;
    int opens = 0;
    int set_nonblocking = 0;
    int reads = 0;
    int closes = 0;
    int open_handles = 0;
};

// No device: hid_open fails; enumerate finds nothing (or, with
// `enumerate_path`, finds a device at that path that cannot be opened).
void reset_absent(const char *enumerate_path = nullptr);
// A device that opens; set-up fails when `nonblocking_fails`.
void reset_present(bool nonblocking_fails = false);

// Plugs the box in or pulls it out, keeping the script and the counts.
void set_present(bool present);

void push_report(const QByteArray &bytes);
void push_empty_read();
void push_error(); // hid_read returns -1

Counts counts();

// A report as the switch box sends it: `cmd` and `switch_no` in their bytes.
inline QByteArray box_report(int cmd, int switch_no)
{
    const auto bytes = switch_report::make(cmd, switch_no);
    return {reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}
inline QByteArray press(int switch_no)
{
    return box_report(switch_report::kOnCommand, switch_no);
}
inline QByteArray release(int switch_no)
{
    return box_report(switch_report::kOffCommand, switch_no);
}

} // namespace fake_hid
