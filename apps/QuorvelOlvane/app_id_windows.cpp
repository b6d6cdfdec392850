// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/app_id.h"

#include <windows.h>

// Needs the declarations of windows.h above it.
#include <shobjidl.h>

void register_application_id()
{
    // The result is ignored: a refused id only affects taskbar grouping.
    (void)SetCurrentProcessExplicitAppUserModelID(L"quorvel.olvane");
}
