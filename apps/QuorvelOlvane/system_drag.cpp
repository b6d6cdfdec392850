// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/system_drag.h"

#include <QGuiApplication>
#include <QWindow>

#if defined(QO_HAVE_XCB) && QT_CONFIG(xcb)
#define QO_CANCEL_ON_X11
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>
#endif

void cancel_system_drag(QWindow *window)
{
#ifdef QO_CANCEL_ON_X11
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!window || !x11 || !x11->connection())
        return;
    xcb_connection_t *connection = x11->connection();
    static constexpr std::string_view kMoveResize = "_NET_WM_MOVERESIZE";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(kMoveResize.size()), kMoveResize.data()),
        nullptr);
    if (!atom)
        return;
    const xcb_atom_t move_resize = atom->atom;
    std::free(atom); // NOLINT(cppcoreguidelines-no-malloc): xcb's replies are malloc'ed
    if (move_resize == XCB_ATOM_NONE)
        return;
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return;
    // EWMH's _NET_WM_MOVERESIZE_CANCEL (the window-manager hints), for the
    // left button, asked for by a normal application.
    constexpr quint32 kCancel = 11;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(window->winId());
    message.type = move_resize;
    message.data.data32[2] = kCancel;
    message.data.data32[3] = 1;
    message.data.data32[4] = 1;
    xcb_send_event(
        connection, 0, screen->root,
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char *>(&message)); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
    xcb_flush(connection);
#else
    Q_UNUSED(window)
#endif
}
