// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

class QWindow;

// Ends a move or resize the window system was asked for (QWindow's
// startSystemMove) but has not taken up yet: the button's release came to
// the window first, as after a quick click. Left alone, an X11 window
// manager would start it later and move the window with no button held,
// until a key ends it. Does nothing where there is no such thing to end.
void cancel_system_drag(QWindow *window);
