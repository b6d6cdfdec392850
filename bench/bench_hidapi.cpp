// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "bench_hidapi.h"

#include <hidapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

struct hid_device_
{
    int unused = 0;
};

namespace {

struct State
{
    std::mutex mutex;
    QByteArray pending;
    bench_hid::Clock::time_point read_at;
    long long reports = 0;
    long long reads = 0;
};

// Shared by the harness's thread and the reader thread.
State &state()
{
    static State instance;
    return instance;
}

} // namespace

namespace bench_hid {

void arm(const QByteArray &report)
{
    const std::lock_guard lock(state().mutex);
    state().pending = report;
}

Clock::time_point last_report_read_at()
{
    const std::lock_guard lock(state().mutex);
    return state().read_at;
}

long long reports_read()
{
    const std::lock_guard lock(state().mutex);
    return state().reports;
}

long long reads()
{
    const std::lock_guard lock(state().mutex);
    return state().reads;
}

} // namespace bench_hid

extern "C" {

int hid_init(void)
{
    return 0;
}
int hid_exit(void)
{
    return 0;
}

hid_device_info *hid_enumerate(unsigned short /*vendor_id*/, unsigned short /*product_id*/)
{
    return nullptr;
}

void hid_free_enumeration(hid_device_info *devs)
{
    while (devs) {
        hid_device_info *next = devs->next;
        std::free(devs->path); // NOLINT(cppcoreguidelines-no-malloc) hidapi's C ABI frees with free()
        std::free(devs);       // NOLINT(cppcoreguidelines-no-malloc)
        devs = next;
    }
}

hid_device *hid_open(unsigned short /*vendor_id*/, unsigned short /*product_id*/,
                     const wchar_t * /*serial_number*/)
{
    return new hid_device;
}

int hid_set_nonblocking(hid_device * /*dev*/, int /*nonblock*/)
{
    return 0;
}

int hid_read(hid_device * /*dev*/, unsigned char *data, size_t length)
{
    State &s = state();
    const std::lock_guard lock(s.mutex);
    ++s.reads;
    if (s.pending.isEmpty())
        return 0;
    const std::size_t n = std::min(length, static_cast<std::size_t>(s.pending.size()));
    std::memcpy(data, s.pending.constData(), n);
    s.pending.clear();
    ++s.reports;
    s.read_at = bench_hid::Clock::now(); // the read is about to return the report
    return static_cast<int>(n);
}

void hid_close(hid_device *dev)
{
    delete dev;
}

hid_device_info *hid_get_device_info(hid_device * /*dev*/)
{
    return nullptr; // the device layer knows nothing more of this box
}

const wchar_t *hid_error(hid_device * /*dev*/)
{
    return L"no error";
}

} // extern "C"
