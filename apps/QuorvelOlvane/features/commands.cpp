// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/features/commands.h"

#include "apps/QuorvelOlvane/features/bar_interface.h"
#include "common/bar_config.h"

#include <QFileInfo>

Commands::Commands(BarInterface &bar)
    : QObject(&bar)
    , _bar(bar)
{
    // Commands run in the config folder, whatever folder a relative config path was read from.
    connect(&bar, &BarInterface::options_applied, this, [this](const BarOptions &options) {
        _commands.set_commands(options.commands, QFileInfo(_bar.config().path).absolutePath());
    });
    connect(&bar, &BarInterface::switch_event, this, [this](const SwitchEvent &event) {
        const QList<DeviceOptions> boxes = _bar.config().options.boxes();
        SwitchEvent named = event;
        named.box_name = event.box >= 0 && event.box < boxes.size() ? boxes.at(event.box).name : QString();
        named.box_label = _bar.box_label(event.box);
        _commands.run(named);
    });
    connect(&bar, &BarInterface::closing, this, [this] { _commands.end_all(); });
    _commands.set_commands(bar.config().options.commands, QFileInfo(bar.config().path).absolutePath());
}
