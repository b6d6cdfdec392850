#pragma once

#include <QByteArray>

#include <optional>

// Scripts the hidapi stand-in that the test executables link instead of the
// real library. Each read takes the next step of the script; an exhausted
// script reads as "no report waiting".
namespace fake_hid {

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

} // namespace fake_hid
