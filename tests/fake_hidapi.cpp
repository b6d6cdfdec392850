// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "fake_hidapi.h"

#include <hidapi.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <mutex>
#include <variant>

struct hid_device_
{
    int id = 0;
    hid_device_info info{};
};

namespace {

struct EmptyRead
{};
struct ErrorRead
{};
using Step = std::variant<QByteArray, EmptyRead, ErrorRead>;

struct Script
{
    std::mutex mutex;
    bool present = false;
    bool nonblocking_fails = false;
    const char *enumerate_path = nullptr;
    std::deque<Step> steps;
    fake_hid::Counts counts;
};

// The script is shared by the test thread and the reader thread.
Script &script()
{
    static Script instance;
    return instance;
}

} // namespace

namespace fake_hid {

void reset_absent(const char *enumerate_path)
{
    const std::lock_guard lock(script().mutex);
    script().present = false;
    script().nonblocking_fails = false;
    script().enumerate_path = enumerate_path;
    script().steps.clear();
    script().counts = {};
}

void reset_present(bool nonblocking_fails)
{
    const std::lock_guard lock(script().mutex);
    script().present = true;
    script().nonblocking_fails = nonblocking_fails;
    script().enumerate_path = nullptr;
    script().steps.clear();
    script().counts = {};
}

void set_present(bool present)
{
    const std::lock_guard lock(script().mutex);
    script().present = present;
}

void push_report(const QByteArray &bytes)
{
    const std::lock_guard lock(script().mutex);
    script().steps.emplace_back(bytes);
}

void push_empty_read()
{
    const std::lock_guard lock(script().mutex);
    script().steps.emplace_back(EmptyRead{});
}

void push_error()
{
    const std::lock_guard lock(script().mutex);
    script().steps.emplace_back(ErrorRead{});
}

Counts counts()
{
    const std::lock_guard lock(script().mutex);
    return script().counts;
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
    const std::lock_guard lock(script().mutex);
    const char *path = script().present ? fake_hid::kPath : script().enumerate_path;
    if (!path)
        return nullptr;
    // hidapi's list is a C structure, freed with free() in hid_free_enumeration.
    auto *info = static_cast<hid_device_info *>(
        std::calloc(1, sizeof(hid_device_info))); // NOLINT(cppcoreguidelines-no-malloc)
    info->path = strdup(path);
    const std::size_t serial_size = (std::wcslen(fake_hid::kSerial) + 1) * sizeof(wchar_t);
    info->serial_number =
        static_cast<wchar_t *>(std::malloc(serial_size)); // NOLINT(cppcoreguidelines-no-malloc)
    std::memcpy(info->serial_number, fake_hid::kSerial, serial_size);
    info->vendor_id = vendor_id;
    info->product_id = product_id;
    return info;
}

void hid_free_enumeration(hid_device_info *devs)
{
    while (devs) {
        hid_device_info *next = devs->next;
        std::free(devs->path);          // NOLINT(cppcoreguidelines-no-malloc)
        std::free(devs->serial_number); // NOLINT(cppcoreguidelines-no-malloc)
        std::free(devs);                // NOLINT(cppcoreguidelines-no-malloc)
        devs = next;
    }
}

hid_device *hid_open(unsigned short /*vendor_id*/, unsigned short /*product_id*/, const wchar_t * /*serial*/)
{
    const std::lock_guard lock(script().mutex);
    ++script().counts.open_attempts;
    if (!script().present)
        return nullptr;
    ++script().counts.opens;
    ++script().counts.open_handles;
    return new hid_device{script().counts.opens};
}

hid_device *hid_open_path(const char *path)
{
    const std::lock_guard lock(script().mutex);
    ++script().counts.open_attempts;
    if (!script().present || std::strcmp(path, fake_hid::kPath) != 0)
        return nullptr;
    ++script().counts.opens;
    ++script().counts.open_handles;
    return new hid_device{script().counts.opens};
}

int hid_set_nonblocking(hid_device * /*dev*/, int /*nonblock*/)
{
    const std::lock_guard lock(script().mutex);
    ++script().counts.set_nonblocking;
    return script().nonblocking_fails ? -1 : 0;
}

int hid_read(hid_device * /*dev*/, unsigned char *data, size_t length)
{
    const std::lock_guard lock(script().mutex);
    ++script().counts.reads;
    if (script().steps.empty())
        return 0;
    const Step step = script().steps.front();
    script().steps.pop_front();
    if (std::holds_alternative<ErrorRead>(step))
        return -1;
    if (std::holds_alternative<EmptyRead>(step))
        return 0;
    const auto &bytes = std::get<QByteArray>(step);
    const std::size_t n = std::min(length, static_cast<std::size_t>(bytes.size()));
    std::memcpy(data, bytes.constData(), n);
    return static_cast<int>(n);
}

hid_device_info *hid_get_device_info(hid_device *dev)
{
    static char path[] = "/dev/hidraw-fake"; // NOLINT(cppcoreguidelines-avoid-c-arrays)
    static wchar_t serial[] = L"FAKE-1";     // NOLINT(cppcoreguidelines-avoid-c-arrays)
    dev->info.path = path;
    dev->info.serial_number = serial;
    return &dev->info;
}

void hid_close(hid_device *dev)
{
    const std::lock_guard lock(script().mutex);
    ++script().counts.closes;
    --script().counts.open_handles;
    delete dev;
}

const wchar_t *hid_error(hid_device *dev)
{
    return dev ? L"scripted read failure" : L"scripted open failure";
}

} // extern "C"
