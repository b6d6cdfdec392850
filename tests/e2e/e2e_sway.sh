#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# The installed bar on a real, headless sway, started through XWayland by the
# launcher as a user would: sway tiles every new window, so the bar must ask
# over sway's IPC to float, to stick on every workspace and to sit where its
# placement puts it, without taking the focus from the window the user is in.
# Then: another workspace still shows it, a `swaymsg reload` is followed by its
# rules again, a config.json that picks another height moves and resizes it,
# and a move that was not the bar's own is what it keeps.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

e2e_init "$@"
start_sway

prefix=$WORK/inst
cmake --install "$(dirname "$QO_PROGRAM")" --prefix "$prefix" >"$WORK/install.log" 2>&1 \
    || fail "cmake --install failed: $(cat "$WORK/install.log")"

# The window the user is in when the bar appears (sway would focus the bar on
# an empty workspace whatever it is told).
as_desktop_user xmessage -name other -geometry 300x100 'the user is here' >"$WORK/xmessage.log" 2>&1 &
_pids+=($!)
_other_focused() { sway_window Xmessage | grep -q ' focused '; }
wait_for 15 _other_focused || fail "the other window did not come up focused: $(sway_window Xmessage)"

BAR_DIR=$WORK/bar
mkdir -p "$BAR_DIR"
as_desktop_user "$prefix/bin/quorvel-olvane" >"$BAR_DIR/stdout" 2>"$BAR_DIR/stderr" &
_pids+=($!)

# sway_bar_is "TYPE STICKY FOCUSED X Y W H": the bar's state in sway's tree.
_bar_is() {
    BAR_STATE=$(sway_window QuorvelOlvane)
    [ "${BAR_STATE% *}" = "$1" ]
}
wait_bar_state() {
    wait_for "${2:-10}" _bar_is "$1" || fail "$3: the bar is [$BAR_STATE] in sway's tree, expected [$1 WORKSPACE]"
    ok "$3: $1"
}

# The placement's geometry: XWayland gives the whole output as available.
wait_bar_state "floating_con sticky - 0 1000 1920 80" 20 "floating, sticky, along the bottom, not focused"
_other_focused || fail "the other window lost the focus: $(sway_window Xmessage)"
ok "the other window kept the focus"

sway_msg workspace 2 >/dev/null
_on_visible() { [ "${BAR_STATE##* }" = "$(sway_visible_workspace)" ]; }
_bar_is "floating_con sticky - 0 1000 1920 80" && _on_visible \
    || fail "on workspace 2 the bar is [$BAR_STATE], workspace $(sway_visible_workspace) is shown"
ok "switching to workspace 2 keeps the bar shown at its place"
sway_msg workspace 1 >/dev/null

# A reload that lost the bar's rules: they are asked for again.
sway_msg '[class="QuorvelOlvane"] sticky disable' >/dev/null
wait_bar_state "floating_con - - 0 1000 1920 80" 5 "sticky taken away by hand"
sway_msg reload >/dev/null
wait_bar_state "floating_con sticky - 0 1000 1920 80" 10 "after swaymsg reload"

# Another height in config.json: moved and resized, still along the bottom.
config=$SWAY_DIR/home/.config/quorvel-olvane/config.json
[ -f "$config" ] || fail "the launcher wrote no $config"
python3 - "$config" <<'PY'
import json, sys
path = sys.argv[1]
with open(path) as f:
    config = json.load(f)
config.setdefault("bar", {})["height"] = 120
with open(path, "w") as f:
    json.dump(config, f, indent=2)
PY
wait_bar_state "floating_con sticky - 0 960 1920 120" 10 "\"height\": 120 in config.json"

# A move the bar did not ask for (here sway's own command, as a user's drag
# would be) is where the bar stays, also when sway reloads.
sleep 3 # past the time in which moves are taken for sway carrying out the bar's request
sway_msg '[class="QuorvelOlvane"] move absolute position 100 200' >/dev/null
wait_bar_state "floating_con sticky - 100 200 1920 120" 5 "moved by the user"
sleep 1 # the bar sees the move
sway_msg '[class="QuorvelOlvane"] sticky disable' >/dev/null
wait_bar_state "floating_con - - 100 200 1920 120" 5 "sticky taken away by hand again"
sway_msg reload >/dev/null
wait_bar_state "floating_con sticky - 100 200 1920 120" 10 "after another reload: where the user put it"

! grep -q '^QuorvelOlvane: sway' "$BAR_DIR/stdout" || fail "the bar reported a fault with sway"
ok "no fault reported"
