#pragma once

#include <QList>

// One step of a report's effect: light (true) or darken (false) these areas.
struct Action
{
    QList<int> areas;
    bool draw_flags = false;

    friend bool operator==(const Action &, const Action &) = default;
};

// Turns a switch box command and switch number into area actions; holds the
// switch-7 mode, the only switch state of the program.
class SwitchToArea final
{
public:
    static constexpr int kOnCommand = 33;

    SwitchToArea() = default;

    QList<Action> handle(int cmd, int switch_no);

    bool switch7_enabled = false;
    bool a7_force_on = false;
};
