#include "common/switch_to_area.h"

#include "common/diagnostics.h"

QList<Action> SwitchToArea::handle(int cmd, int switch_no)
{
    const bool on = cmd == kOnCommand;
    QList<Action> actions;
    switch (switch_no) {
    case 7:
        switch7_enabled = on;
        a7_force_on = on;
        actions.append({{7}, on});
        diagnostics::out(switch7_enabled ? QStringLiteral("S7: ON") : QStringLiteral("S7: OFF"));
        break;
    case 1:
        actions.append({{switch7_enabled ? 7 : 6}, on});
        // In switch-7 mode area 7 is held lit whatever switch 1 says.
        if (a7_force_on)
            actions.append({{7}, true});
        break;
    case 2:
        actions.append({{2}, on});
        break;
    case 3:
        actions.append({{4}, on});
        break;
    case 4:
        actions.append({{0}, on});
        break;
    case 5:
        actions.append({{5}, on});
        break;
    default:
        break;
    }
    return actions;
}
