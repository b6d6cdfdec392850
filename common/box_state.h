// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/bar_options.h"
#include "common/device_state.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// How the switch boxes stand, as the bar, its tray and the broker show it:
// one state for all boxes, and the text the bar shows about them.
struct BoxSummary
{
    DeviceState state = DeviceState::Connected;
    QString reason;       // every box's reason, one a line
    bool waiting = false; // the box the state is about is waited for
    bool shown = false;   // the bar shows a state text ("show_state")
    QString text;         // that text; empty while every such box is read
    QString details;      // the reasons behind the text, for the bar's tooltip

    friend bool operator==(const BoxSummary &, const BoxSummary &) = default;
};

Q_DECLARE_METATYPE(BoxSummary)

namespace box_state {

using BoxState = std::optional<std::pair<DeviceState, QString>>;

// The short text for a state; empty for Connected. `waiting` says that the
// reader keeps trying to open the box.
QString text_for(DeviceState state, bool waiting);

// One state for all boxes: the first box that is not read, with every such
// box's reason; once all are read, Connected with where they are, about
// `latest` (the box that reported last). `names` name the boxes on the bar's
// text where there are several. Nothing before any box has reported.
std::optional<BoxSummary> summarize(const QList<BoxState> &states, const QList<DeviceOptions> &boxes,
                                    const QStringList &names, int latest);

} // namespace box_state
