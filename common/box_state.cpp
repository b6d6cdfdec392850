// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/box_state.h"

#include <algorithm>

namespace box_state {

QString text_for(DeviceState state, bool waiting)
{
    const QString then = waiting ? QStringLiteral(" — waiting") : QString();
    switch (state) {
    case DeviceState::Connected:
        return {};
    case DeviceState::NotConnected:
        return QStringLiteral("switch box not connected") + then;
    case DeviceState::NoPermission:
        return QStringLiteral("no permission for the switch box (see docs/guide/troubleshooting.md)");
    case DeviceState::Unplugged:
        return QStringLiteral("switch box unplugged") + then;
    case DeviceState::Failed:
        break;
    }
    return QStringLiteral("switch box cannot be opened") + then;
}

std::optional<BoxSummary> summarize(const QList<BoxState> &states, const QList<DeviceOptions> &boxes,
                                    const QStringList &names, int latest)
{
    if (std::none_of(states.cbegin(), states.cend(), [](const BoxState &s) { return s.has_value(); }))
        return std::nullopt;
    const auto reconnects = [&boxes](int box) {
        return box >= 0 && box < boxes.size() && boxes.at(box).reconnect;
    };

    BoxSummary summary;
    QStringList reasons;
    std::optional<int> first_missing;
    for (int i = 0; i < states.size(); ++i) {
        const BoxState &entry = states.at(i);
        if (!entry || entry->first == DeviceState::Connected)
            continue;
        if (!first_missing)
            first_missing = i;
        reasons.append(entry->second);
    }
    if (first_missing) {
        summary.state = states.at(*first_missing)->first;
        summary.waiting = reconnects(*first_missing);
    } else {
        for (const BoxState &entry : states) {
            if (entry)
                reasons.append(entry->second);
        }
        summary.state = DeviceState::Connected;
        summary.waiting = reconnects(latest);
    }
    summary.reason = reasons.join(u'\n');

    // Each box that is not read and whose "show_state" is on gets its own
    // short text, named when there are several.
    QStringList texts;
    QStringList details;
    for (int box = 0; box < states.size() && box < boxes.size(); ++box) {
        summary.shown = summary.shown || boxes.at(box).show_state;
        const BoxState &entry = states.at(box);
        if (!boxes.at(box).show_state || !entry || entry->first == DeviceState::Connected)
            continue;
        const QString text = text_for(entry->first, boxes.at(box).reconnect);
        const QString name = names.value(box);
        texts.append(name.isEmpty() ? text : name + QStringLiteral(": ") + text);
        details.append(entry->second);
    }
    summary.text = texts.join(QStringLiteral("  ·  "));
    summary.details = details.join(u'\n');
    return summary;
}

} // namespace box_state
