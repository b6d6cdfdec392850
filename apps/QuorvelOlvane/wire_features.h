// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

class BarTray;
class ClickThrough;
class QuorvelOlvane;
class SettingsWindow;
class StateOverlay;
class SwitchCommands;

// Makes what listens to the bar (tray, state text, commands, compositor
// link, settings window, and the features loaded with their member) and
// connects every signal, in this one place; the bar holds them. A feature
// whose member appears in or vanishes from config.json is made or dropped
// as the bar applies it.
void wire_features(QuorvelOlvane &bar);

// What is wired to `bar` now; null where a feature is off. For tests.
struct WiredFeatures
{
    BarTray *tray = nullptr;
    ClickThrough *click_through = nullptr;
    StateOverlay *state_overlay = nullptr;
    SettingsWindow *settings_window = nullptr;
    const SwitchCommands *commands = nullptr;
    bool mqtt = false;
};
WiredFeatures wired_features(const QuorvelOlvane &bar);
