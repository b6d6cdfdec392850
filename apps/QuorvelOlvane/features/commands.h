// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/switch_commands.h"

#include <QObject>

class BarInterface;

// "commands": a program started on a switch's press or release. Always
// there, so that commands still running when the member goes are still
// waited for, and all are ended with the bar.
class Commands final : public QObject
{
    Q_OBJECT

public:
    explicit Commands(BarInterface &bar);

    const SwitchCommands &running() const { return _commands; }

private:
    BarInterface &_bar;
    SwitchCommands _commands;
};
