// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>

#include <chrono>

// A hidapi stand-in for the benchmark harness: a switch box that is always
// connected and answers each non-blocking read with nothing, unless a report
// has been armed; the read that returns it records the moment it returns.
namespace bench_hid {

using Clock = std::chrono::steady_clock;

// The next read returns `report` (one report at a time; arming again before
// it was read replaces it).
void arm(const QByteArray &report);

// When the last read that returned a report returned, and how many did.
Clock::time_point last_report_read_at();
long long reports_read();
long long reads();

} // namespace bench_hid
