#include "fake_hidapi.h"

#include <hidapi/hidapi.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <variant>

struct hid_device_
{
    int id = 0;
};

namespace {

struct EmptyRead
{};
struct ErrorRead
{};
using Step = std::variant<QByteArray, EmptyRead, ErrorRead>;

std::mutex g_mutex;
bool g_present = false;
bool g_nonblocking_fails = false;
const char *g_enumerate_path = nullptr;
std::deque<Step> g_steps;
fake_hid::Counts g_counts;

} // namespace

namespace fake_hid {

void reset_absent(const char *enumerate_path)
{
    const std::lock_guard lock(g_mutex);
    g_present = false;
    g_nonblocking_fails = false;
    g_enumerate_path = enumerate_path;
    g_steps.clear();
    g_counts = {};
}

void reset_present(bool nonblocking_fails)
{
    const std::lock_guard lock(g_mutex);
    g_present = true;
    g_nonblocking_fails = nonblocking_fails;
    g_enumerate_path = nullptr;
    g_steps.clear();
    g_counts = {};
}

void push_report(const QByteArray &bytes)
{
    const std::lock_guard lock(g_mutex);
    g_steps.emplace_back(bytes);
}

void push_empty_read()
{
    const std::lock_guard lock(g_mutex);
    g_steps.emplace_back(EmptyRead{});
}

void push_error()
{
    const std::lock_guard lock(g_mutex);
    g_steps.emplace_back(ErrorRead{});
}

Counts counts()
{
    const std::lock_guard lock(g_mutex);
    return g_counts;
}

} // namespace fake_hid

extern "C" {

int hid_init(void)
{
    return 0;
}
int hid_exit(void)
{
    return 0;
}

hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    const std::lock_guard lock(g_mutex);
    if (!g_enumerate_path)
        return nullptr;
    auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
    info->path = strdup(g_enumerate_path);
    info->vendor_id = vendor_id;
    info->product_id = product_id;
    return info;
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

hid_device *hid_open(unsigned short /*vendor_id*/, unsigned short /*product_id*/, const wchar_t * /*serial*/)
{
    const std::lock_guard lock(g_mutex);
    if (!g_present)
        return nullptr;
    ++g_counts.opens;
    ++g_counts.open_handles;
    return new hid_device{g_counts.opens};
}

int hid_set_nonblocking(hid_device * /*dev*/, int /*nonblock*/)
{
    const std::lock_guard lock(g_mutex);
    ++g_counts.set_nonblocking;
    return g_nonblocking_fails ? -1 : 0;
}

int hid_read(hid_device * /*dev*/, unsigned char *data, size_t length)
{
    const std::lock_guard lock(g_mutex);
    ++g_counts.reads;
    if (g_steps.empty())
        return 0;
    const Step step = g_steps.front();
    g_steps.pop_front();
    if (std::holds_alternative<ErrorRead>(step))
        return -1;
    if (std::holds_alternative<EmptyRead>(step))
        return 0;
    const QByteArray &bytes = std::get<QByteArray>(step);
    const std::size_t n = std::min(length, static_cast<std::size_t>(bytes.size()));
    std::memcpy(data, bytes.constData(), n);
    return static_cast<int>(n);
}

void hid_close(hid_device *dev)
{
    const std::lock_guard lock(g_mutex);
    ++g_counts.closes;
    --g_counts.open_handles;
    delete dev;
}

const wchar_t *hid_error(hid_device *dev)
{
    return dev ? L"scripted read failure" : L"scripted open failure";
}

} // extern "C"
