// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// A desktop panel for the end-to-end tests: a dock window along the top or
// bottom of the X screen that reserves its height with _NET_WM_STRUT_PARTIAL,
// as GNOME's top bar or a taskbar does, so that the window manager shrinks
// the work area. Runs until it is ended.
//
//     qo-dock-panel top|bottom HEIGHT

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char *argv[])
{
    const bool top = argc == 3 && std::strcmp(argv[1], "top") == 0;
    const int height = argc == 3 ? std::atoi(argv[2]) : 0;
    if ((!top && (argc != 3 || std::strcmp(argv[1], "bottom") != 0)) || height <= 0) {
        std::fputs("usage: qo-dock-panel top|bottom HEIGHT\n", stderr);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fputs("qo-dock-panel: cannot open the display\n", stderr);
        return 1;
    }
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen);
    const int y = top ? 0 : DisplayHeight(display, screen) - height;
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, y,
                                              static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                              BlackPixel(display, screen), BlackPixel(display, screen));

    // Both set before the window is mapped: the window manager reads them then.
    Atom dock = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DOCK", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char *>(&dock), 1);
    // left, right, top, bottom, then the start and end x or y of each side.
    std::array<long, 12> strut{};
    strut[top ? 2 : 3] = height;
    strut[top ? 9 : 11] = width - 1;
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_STRUT_PARTIAL", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char *>(strut.data()),
                    static_cast<int>(strut.size()));

    XMapWindow(display, window);
    XFlush(display);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
    }
}
