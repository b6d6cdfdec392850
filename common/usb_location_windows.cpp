// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/usb_location_windows.h"

// The device-interface property calls are declared from Windows 8 on; Qt 6
// itself needs Windows 10.
#if !defined(WINVER) || WINVER < 0x0A00
#undef WINVER
#define WINVER 0x0A00
#endif
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0A00
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif

// The property keys are defined, not only declared, in this one file.
#include <initguid.h>

#include <windows.h>

#include <cfgmgr32.h>
#include <devpkey.h>

#include <vector>

namespace {

std::wstring string_property(DEVINST node, const DEVPROPKEY &key)
{
    DEVPROPTYPE type = 0;
    ULONG size = 0;
    if (CM_Get_DevNode_PropertyW(node, &key, &type, nullptr, &size, 0) != CR_BUFFER_SMALL
        || type != DEVPROP_TYPE_STRING)
        return {};
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (CM_Get_DevNode_PropertyW(node, &key, &type, reinterpret_cast<PBYTE>(buffer.data()), &size, 0)
        != CR_SUCCESS)
        return {};
    return buffer.data();
}

// An interface path names its device instance: "\\?\HID#VID_2E8A&PID_000A#7&1a2b&0&0000#{guid}"
// belongs to "HID\VID_2E8A&PID_000A\7&1a2b&0&0000".
std::wstring instance_id(const std::wstring &interface_path)
{
    std::wstring id = interface_path;
    if (id.rfind(LR"(\\?\)", 0) == 0)
        id.erase(0, 4);
    if (const auto guid = id.rfind(L"#{"); guid != std::wstring::npos)
        id.erase(guid);
    for (wchar_t &c : id) {
        if (c == L'#')
            c = L'\\';
    }
    return id;
}

} // namespace

std::wstring usb_location_windows(const std::wstring &interface_path)
{
    std::wstring instance = instance_id(interface_path);
    if (instance.empty())
        return {};
    DEVINST node = 0;
    if (CM_Locate_DevNodeW(&node, instance.data(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
        return {};
    // HID device, then the USB interface (on composite boxes), then the USB
    // device itself: the first with a hub and port location is the one plugged in.
    for (int level = 0; level < 4; ++level) {
        const std::wstring location = string_property(node, DEVPKEY_Device_LocationInfo);
        if (location.rfind(L"Port_#", 0) == 0)
            return location;
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS)
            break;
        node = parent;
    }
    return {};
}
