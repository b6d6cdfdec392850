// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/switch_report.h"

#include <QByteArray>

#include <array>

// The switch table written out again, independently of SwitchToArea: what a
// sequence of reports should leave lit. Fuzz and fault tests check the bar
// against it.
struct SwitchModel
{
    std::array<bool, 8> lit{};
    bool mode = false;

    void apply(const QByteArray &report)
    {
        const auto fields = switch_report::parse(report);
        if (!fields)
            return;
        const bool on = fields->cmd == switch_report::kOnCommand;
        switch (fields->switch_no) {
        case 7:
            mode = on;
            lit[7] = on;
            break;
        case 1:
            lit[mode ? 7 : 6] = on;
            if (mode)
                lit[7] = true;
            break;
        case 2:
            lit[2] = on;
            break;
        case 3:
            lit[4] = on;
            break;
        case 4:
            lit[0] = on;
            break;
        case 5:
            lit[5] = on;
            break;
        default:
            break;
        }
    }
};
