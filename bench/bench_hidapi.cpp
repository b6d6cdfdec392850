#include "bench_hidapi.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

struct hid_device_
{
    int unused = 0;
};

namespace {

std::mutex g_mutex;
QByteArray g_pending;
bench_hid::Clock::time_point g_read_at;
long long g_reports = 0;
long long g_reads = 0;

} // namespace

namespace bench_hid {

void arm(const QByteArray &report)
{
    const std::lock_guard lock(g_mutex);
    g_pending = report;
}

Clock::time_point last_report_read_at()
{
    const std::lock_guard lock(g_mutex);
    return g_read_at;
}

long long reports_read()
{
    const std::lock_guard lock(g_mutex);
    return g_reports;
}

long long reads()
{
    const std::lock_guard lock(g_mutex);
    return g_reads;
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

hid_device_info *hid_enumerate(unsigned short, unsigned short)
{
    return nullptr;
}

void hid_free_enumeration(hid_device_info *devs)
{
    while (devs) {
        hid_device_info *next = devs->next;
        std::free(devs->path);
        std::free(devs);
        devs = next;
    }
}

hid_device *hid_open(unsigned short, unsigned short, const wchar_t *)
{
    return new hid_device;
}

int hid_set_nonblocking(hid_device *, int)
{
    return 0;
}

int hid_read(hid_device *, unsigned char *data, size_t length)
{
    const std::lock_guard lock(g_mutex);
    ++g_reads;
    if (g_pending.isEmpty())
        return 0;
    const std::size_t n = std::min(length, static_cast<std::size_t>(g_pending.size()));
    std::memcpy(data, g_pending.constData(), n);
    g_pending.clear();
    ++g_reports;
    g_read_at = bench_hid::Clock::now(); // the read is about to return the report
    return static_cast<int>(n);
}

void hid_close(hid_device *dev)
{
    delete dev;
}

const wchar_t *hid_error(hid_device *)
{
    return L"no error";
}

} // extern "C"
