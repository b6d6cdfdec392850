// A stand-in for the hidapi library, loaded before it with LD_PRELOAD, that
// plays the switch box: it reads commands from a named pipe and answers the
// program's hid_read calls with the reports they describe.
//
//   press N      an 8-byte report of switch N with the "on" command
//   release N    the same with the "off" command
//   raw B0 B1..  report of exactly these bytes (hex, 1 to 64 of them)
//   unplug       every later read fails, as with a box pulled out
//
// The pipe is named by QUORVEL_SWITCH_BOX; without it, or when the pipe does
// not exist, no switch box is connected (the command removes the pipe after
// an unplug and makes it again to plug the box back in).

#include "common/switch_report.h"

#include <hidapi.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

struct hid_device_
{
    int fd = -1;
    std::string pending;
    std::deque<std::vector<unsigned char>> reports;
    bool unplugged = false;
    bool nonblocking = false;
    hid_device_info info{};
};

namespace {

// hidapi keeps its last error in global state; so does its stand-in.
const wchar_t *g_global_error = L"Success"; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
const wchar_t *g_device_error = L"Success"; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

const char *pipe_path()
{
    const char *path = std::getenv("QUORVEL_SWITCH_BOX");
    return (path != nullptr && *path != '\0') ? path : nullptr;
}

bool box_present()
{
    const char *path = pipe_path();
    struct stat st
    {};
    return path != nullptr && ::stat(path, &st) == 0 && S_ISFIFO(st.st_mode);
}

void parse_line(hid_device *dev, const std::string &line)
{
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "press" || word == "release") {
        int number = 0;
        if (in >> number) {
            const auto report = switch_report::make(
                word == "press" ? switch_report::kOnCommand : switch_report::kOffCommand, number);
            dev->reports.emplace_back(report.begin(), report.end());
        }
    } else if (word == "raw") {
        std::vector<unsigned char> bytes;
        std::string hex;
        while (in >> hex && bytes.size() < 64)
            bytes.emplace_back(static_cast<unsigned char>(std::strtoul(hex.c_str(), nullptr, 16)));
        if (!bytes.empty())
            dev->reports.push_back(bytes);
    } else if (word == "unplug") {
        dev->reports.emplace_back(); // an empty entry marks the unplug in sequence
    }
}

void drain_pipe(hid_device *dev)
{
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(dev->fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        dev->pending.append(buffer.data(), static_cast<std::size_t>(n));
    }
    std::size_t end = 0;
    while ((end = dev->pending.find('\n')) != std::string::npos) {
        parse_line(dev, dev->pending.substr(0, end));
        dev->pending.erase(0, end + 1);
    }
}

} // namespace

extern "C" {

int HID_API_EXPORT hid_init(void)
{
    return 0;
}
int HID_API_EXPORT hid_exit(void)
{
    return 0;
}

struct hid_device_info HID_API_EXPORT *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    if (!box_present() || vendor_id != 0x2E8A || product_id != 0x000A)
        return nullptr;
    // hidapi's list is a C structure, freed with free() in hid_free_enumeration.
    auto *info = static_cast<hid_device_info *>(
        std::calloc(1, sizeof(hid_device_info))); // NOLINT(cppcoreguidelines-no-malloc)
    info->path = strdup(pipe_path());
    info->vendor_id = vendor_id;
    info->product_id = product_id;
    return info;
}

void HID_API_EXPORT hid_free_enumeration(struct hid_device_info *devs)
{
    while (devs) {
        hid_device_info *next = devs->next;
        std::free(devs->path); // NOLINT(cppcoreguidelines-no-malloc)
        std::free(devs);       // NOLINT(cppcoreguidelines-no-malloc)
        devs = next;
    }
}

hid_device HID_API_EXPORT *hid_open(unsigned short vendor_id, unsigned short product_id,
                                    const wchar_t * /*serial*/)
{
    if (!box_present() || vendor_id != 0x2E8A || product_id != 0x000A) {
        g_global_error = L"No HID devices with requested VID/PID found in the system.";
        return nullptr;
    }
    const int fd = ::open(pipe_path(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        g_global_error = L"Failed to open the virtual switch box pipe";
        return nullptr;
    }
    auto *dev = new hid_device;
    dev->fd = fd;
    return dev;
}

int HID_API_EXPORT hid_set_nonblocking(hid_device *dev, int nonblock)
{
    dev->nonblocking = nonblock != 0;
    return 0;
}

int HID_API_EXPORT hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    if (dev->unplugged) {
        g_device_error = L"hid_read: device disconnected";
        return -1;
    }
    drain_pipe(dev);
    if (dev->reports.empty())
        return 0;
    const std::vector<unsigned char> report = dev->reports.front();
    dev->reports.pop_front();
    if (report.empty()) {
        dev->unplugged = true;
        g_device_error = L"hid_read: device disconnected";
        return -1;
    }
    const std::size_t n = report.size() < length ? report.size() : length;
    std::memcpy(data, report.data(), n);
    return static_cast<int>(n);
}

struct hid_device_info HID_API_EXPORT *hid_get_device_info(hid_device *dev)
{
    // Owned by the handle, as in hidapi: freed by hid_close.
    if (dev->info.path == nullptr) {
        dev->info.path = strdup(pipe_path());
        dev->info.vendor_id = 0x2E8A;
        dev->info.product_id = 0x000A;
    }
    return &dev->info;
}

void HID_API_EXPORT hid_close(hid_device *dev)
{
    if (!dev)
        return;
    ::close(dev->fd);
    std::free(dev->info.path); // NOLINT(cppcoreguidelines-no-malloc)
    delete dev;
}

const wchar_t HID_API_EXPORT *hid_error(hid_device *dev)
{
    return dev ? g_device_error : g_global_error;
}

} // extern "C"
