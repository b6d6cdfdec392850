// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// A stand-in for the hidapi library, loaded before it with LD_PRELOAD, that
// plays up to eight switch boxes: each reads commands from a named pipe of
// its own and answers the hid_read calls of the handle opened on it with the
// reports they describe.
//
//   press N      an 8-byte report of switch N with the "on" command
//   release N    the same with the "off" command
//   raw B0 B1..  report of exactly these bytes (hex, 1 to 64 of them)
//   unplug       every later read fails, as with a box pulled out
//
// Box 1's pipe is named by QUORVEL_SWITCH_BOX, box K's (2 to 8) is that name
// followed by ".K". A box is plugged in while its pipe exists (the command
// removes the pipe after an unplug and makes it again to plug the box back
// in). Its serial number and USB port are in "<pipe>.id", as lines
// "serial=TEXT" and "port=CHAIN"; without them it has no serial number, as
// hidapi gives for a box without one, and sits at port "1-K".
//
// The bar finds a box's port in sysfs, through realpath of
// /sys/class/hidraw/<node>; for a node named after a plugged-in box's pipe
// the stand-in answers as the kernel would, and passes every other path on.

#include "common/switch_report.h"

#include <hidapi.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr unsigned short kVendorId = 0x2E8A;
constexpr unsigned short kProductId = 0x000A;
constexpr int kBoxes = 8;

// What a box says about itself, as hidapi's enumeration would.
struct Box
{
    int number = 1;
    std::string pipe;
    std::wstring serial;
    std::string port;
};

} // namespace

struct hid_device_
{
    int fd = -1;
    std::string pending;
    std::deque<std::vector<unsigned char>> reports;
    bool unplugged = false;
    bool nonblocking = false;
    Box box;
    hid_device_info info{};
};

namespace {

// hidapi keeps its last error in global state; so does its stand-in.
const wchar_t *g_global_error = L"Success"; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
const wchar_t *g_device_error = L"Success"; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

std::string pipe_of(int number)
{
    const char *path = std::getenv("QUORVEL_SWITCH_BOX");
    if (path == nullptr || *path == '\0')
        return {};
    return number == 1 ? std::string(path) : std::string(path) + "." + std::to_string(number);
}

// The id file is written by hand or by a script, in UTF-8; a USB serial
// number may hold any character, so it is decoded rather than widened.
std::wstring from_utf8(std::string_view text)
{
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        out.push_back(static_cast<wchar_t>(code));
        i += length;
    }
    return out;
}

std::optional<Box> present_box(int number)
{
    Box box;
    box.number = number;
    box.pipe = pipe_of(number);
    struct stat st
    {};
    if (box.pipe.empty() || ::stat(box.pipe.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode))
        return std::nullopt;
    box.port = "1-" + std::to_string(number);
    std::ifstream ids(box.pipe + ".id");
    std::string line;
    while (std::getline(ids, line)) {
        if (line.rfind("serial=", 0) == 0)
            box.serial = from_utf8(std::string_view(line).substr(7));
        else if (line.rfind("port=", 0) == 0 && line.size() > 5)
            box.port = line.substr(5);
    }
    return box;
}

std::vector<Box> present_boxes()
{
    std::vector<Box> boxes;
    for (int number = 1; number <= kBoxes; ++number) {
        if (auto box = present_box(number))
            boxes.push_back(*box);
    }
    return boxes;
}

wchar_t *copy(const std::wstring &text)
{
    return ::wcsdup(text.c_str());
}

// hidapi's device info is a C structure whose strings are freed with free().
void fill_info(hid_device_info &info, const Box &box)
{
    info.path = ::strdup(box.pipe.c_str());
    info.vendor_id = kVendorId;
    info.product_id = kProductId;
    info.serial_number = copy(box.serial);
    info.release_number = 0x0100;
    info.manufacturer_string = copy(L"Raspberry Pi");
    info.product_string = copy(L"Virtual switch box");
    info.interface_number = 0;
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 13, 0)
    info.bus_type = HID_API_BUS_USB;
#endif
}

void free_strings(hid_device_info &info)
{
    std::free(info.path);                // NOLINT(cppcoreguidelines-no-malloc)
    std::free(info.serial_number);       // NOLINT(cppcoreguidelines-no-malloc)
    std::free(info.manufacturer_string); // NOLINT(cppcoreguidelines-no-malloc)
    std::free(info.product_string);      // NOLINT(cppcoreguidelines-no-malloc)
}

// Where the kernel keeps a box's hidraw node in sysfs: under one directory
// per level of its port chain ("1-3.2": usb1/1-3/1-3.2), then the interface.
std::string sysfs_path(const Box &box, std::string_view node)
{
    const std::size_t dash = box.port.find('-');
    const std::string bus = box.port.substr(0, dash);
    std::string path = "/sys/devices/pci0000:00/0000:00:14.0/usb" + bus;
    for (std::size_t end = box.port.find('.', dash == std::string::npos ? 0 : dash);;
         end = box.port.find('.', end + 1)) {
        path.push_back('/');
        path.append(box.port, 0, end);
        if (end == std::string::npos)
            break;
    }
    std::array<char, 32> hid{};
    std::snprintf(hid.data(), hid.size(), "0003:%04X:%04X.%04X", kVendorId, kProductId,
                  static_cast<unsigned>(box.number));
    return path + "/" + box.port + ":1.0/" + hid.data() + "/hidraw/" + std::string(node);
}

// The sysfs path for /sys/class/hidraw/<node> when <node> is a plugged-in
// box's pipe; nothing for any other path.
std::optional<std::string> box_sysfs_path(const char *path)
{
    constexpr std::string_view kClass = "/sys/class/hidraw/";
    if (path == nullptr)
        return std::nullopt;
    const std::string_view asked(path);
    if (asked.substr(0, kClass.size()) != kClass)
        return std::nullopt;
    const std::string_view node = asked.substr(kClass.size());
    for (const Box &box : present_boxes()) {
        const std::size_t slash = box.pipe.rfind('/');
        if (std::string_view(box.pipe).substr(slash == std::string::npos ? 0 : slash + 1) == node)
            return sysfs_path(box, node);
    }
    return std::nullopt;
}

char *answer_realpath(const std::string &answer, char *resolved)
{
    if (resolved == nullptr)
        return ::strdup(answer.c_str());
    if (answer.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    std::memcpy(resolved, answer.c_str(), answer.size() + 1);
    return resolved;
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

hid_device *open_box(const Box &box)
{
    const int fd = ::open(box.pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        g_global_error = L"Failed to open the virtual switch box pipe";
        return nullptr;
    }
    auto *dev = new hid_device;
    dev->fd = fd;
    dev->box = box;
    fill_info(dev->info, box);
    return dev;
}

int copy_string(const std::wstring &text, wchar_t *string, size_t maxlen)
{
    if (string == nullptr || maxlen == 0)
        return -1;
    std::wcsncpy(string, text.c_str(), maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
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
    // hidapi's 0 matches any id.
    if ((vendor_id != 0 && vendor_id != kVendorId) || (product_id != 0 && product_id != kProductId))
        return nullptr;
    hid_device_info *first = nullptr;
    hid_device_info **next = &first;
    for (const Box &box : present_boxes()) {
        auto *info = static_cast<hid_device_info *>(
            std::calloc(1, sizeof(hid_device_info))); // NOLINT(cppcoreguidelines-no-malloc)
        fill_info(*info, box);
        *next = info;
        next = &info->next;
    }
    return first;
}

void HID_API_EXPORT hid_free_enumeration(struct hid_device_info *devs)
{
    while (devs) {
        hid_device_info *next = devs->next;
        free_strings(*devs);
        std::free(devs); // NOLINT(cppcoreguidelines-no-malloc)
        devs = next;
    }
}

hid_device HID_API_EXPORT *hid_open(unsigned short vendor_id, unsigned short product_id,
                                    const wchar_t *serial_number)
{
    if (vendor_id == kVendorId && product_id == kProductId) {
        for (const Box &box : present_boxes()) {
            if (serial_number == nullptr || box.serial == serial_number)
                return open_box(box);
        }
    }
    g_global_error = L"No HID devices with requested VID/PID found in the system.";
    return nullptr;
}

hid_device HID_API_EXPORT *hid_open_path(const char *path)
{
    for (const Box &box : present_boxes()) {
        if (path != nullptr && box.pipe == path)
            return open_box(box);
    }
    g_global_error = L"No such file or directory";
    return nullptr;
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
    return &dev->info; // owned by the handle, as in hidapi: freed by hid_close
}

int HID_API_EXPORT hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    return copy_string(dev->box.serial, string, maxlen);
}

int HID_API_EXPORT hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    return copy_string(dev->info.manufacturer_string, string, maxlen);
}

int HID_API_EXPORT hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    return copy_string(dev->info.product_string, string, maxlen);
}

void HID_API_EXPORT hid_close(hid_device *dev)
{
    if (!dev)
        return;
    ::close(dev->fd);
    free_strings(dev->info);
    delete dev;
}

const wchar_t HID_API_EXPORT *hid_error(hid_device *dev)
{
    return dev ? g_device_error : g_global_error;
}

// The kernel's side of the boxes: their hidraw nodes in sysfs.
char *realpath(const char *name, char *resolved) noexcept
{
    if (const auto answer = box_sysfs_path(name))
        return answer_realpath(*answer, resolved);
    using RealPath = char *(*)(const char *, char *);
    static const auto next =
        reinterpret_cast<RealPath>( // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
            ::dlsym(RTLD_NEXT, "realpath"));
    if (next == nullptr) {
        errno = ENOSYS;
        return nullptr;
    }
    return next(name, resolved);
}

// What realpath becomes in a program built with _FORTIFY_SOURCE.
char *__realpath_chk(const char *path, char *resolved, // NOLINT(bugprone-reserved-identifier): glibc's name
                     size_t resolvedlen) noexcept
{
    if (const auto answer = box_sysfs_path(path)) {
        if (resolved != nullptr && resolvedlen < PATH_MAX)
            std::abort(); // as glibc does for a buffer too small
        return answer_realpath(*answer, resolved);
    }
    using RealPathChk = char *(*)(const char *, char *, size_t);
    static const auto next =
        reinterpret_cast<RealPathChk>( // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
            ::dlsym(RTLD_NEXT, "__realpath_chk"));
    if (next == nullptr) {
        errno = ENOSYS;
        return nullptr;
    }
    return next(path, resolved, resolvedlen);
}

} // extern "C"
