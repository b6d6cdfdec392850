// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

// Gives the process its own identity in the desktop shell (taskbar grouping,
// window-to-launcher matching). Called before the application object exists.
void register_application_id();
