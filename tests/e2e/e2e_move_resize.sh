#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Moving, resizing and closing the real bar by hand under openbox: a left
# drag inside moves it by the drag, a left drag on an edge or a corner
# resizes it but never below 400 x 40, a middle drag does nothing, the
# context menu closes it or only itself, Escape ends it, and a quick click
# leaves it where it is. With
# "remember_geometry" it starts again where it was left, unless that place is
# off every screen. A move by the window manager is the user's too: the bar
# stays there when the work area changes.
# shellcheck source=lib.sh disable=SC2119 # start_bar takes its own arguments, not the script's
source "$(dirname "$0")/lib.sh"
e2e_init "$@"
start_x

readonly MIN_W=400 MIN_H=40

# --- drags ----------------------------------------------------------------------

start_bar
wait_bar_window
[ "$BX $BY $BW $BH" = "0 1000 1920 80" ] || fail "bar starts at $BX $BY ${BW}x$BH"

drag "move"              960 1040 1160  740 "200 700 1920 80"
drag "left edge"         203  740  303  740 "300 700 1820 80"
drag "top edge"          600  703  600  653 "300 650 1820 130"
drag "top-left corner"   303  653  353  683 "350 680 1770 100"
# The right edge stays at 2120 (off screen); the left edge stops 400 short of it.
drag "left edge, past the minimum width"   353  730 1900  730 "$((2120 - MIN_W)) 680 $MIN_W 100"
# The bottom edge stays at 780; the top edge stops 40 short of it.
drag "top edge, past the minimum height"  1800  683 1800 1000 "1720 $((780 - MIN_H)) $MIN_W $MIN_H"

# A middle-button drag: nothing moves. The next left drag then takes the bar
# exactly by its own offset, which it would not if the middle drag had begun
# a move of its own.
pointer_to 1800 760
xdotool mousedown 2
xdotool mousemove 1700 700 mousemove 1000 300
xdotool mouseup 2
_geometry_is "1720 740 $MIN_W $MIN_H" || fail "middle drag moved the bar to $BX $BY ${BW}x$BH"
drag "move after a middle drag"           1800  760 1000  300 "920 280 $MIN_W $MIN_H"
ok "middle drag moved nothing"

drag "bottom-right corner"  1319  319 1419  359 "920 280 500 80"
drag "bottom-right corner, past the minimum size"  1419 359  700  100 "920 280 $MIN_W $MIN_H"

# --- context menu ---------------------------------------------------------------------

open_menu 1000 300
shot=$WORK/menu.miff
screenshot "$shot"
dark=$(convert "$shot" -crop "${MW}x$MH+$MX+$MY" +repage -colorspace gray \
    -threshold 50% -negate -format '%[fx:mean]' info:)
awk -v d="$dark" 'BEGIN { exit !(d > 0.005 && d < 0.5) }' || fail "the menu shows no text (dark share $dark)"
ok "right click: menu ${MW}x$MH at ($MX, $MY) with its entry's text"

xdotool key Escape   # the open menu holds the keyboard
wait_for 3 _no_menu || fail "Escape did not close the menu"
open_menu 1000 300   # the bar still answers: Escape closed only the menu
bar_running && _geometry_is "920 280 $MIN_W $MIN_H" || fail "the bar did not stay as it was after Escape in the menu"
ok "Escape in the menu closes only the menu"

# The menu holds the one entry "閉じる".
pointer_to "$((MX + MW / 2))" "$((MY + MH / 2))"
xdotool click 1
wait_exit 3 || fail "choosing the menu entry did not end the bar within 3 s"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS after choosing the menu entry"
ok "choosing the menu entry ends the bar with status 0"

# --- Escape -------------------------------------------------------------------------------

new_bar_dir
start_bar
wait_bar_window
press_key Escape
wait_exit 3 || fail "Escape did not end the bar within 3 s"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS after Escape"
ok "Escape ends the bar with status 0"

# --- a quick click ------------------------------------------------------------------

# Press and release with no time between them (xdotool's click): the release
# reaches the bar before openbox takes up the move, which must then not start.
# The pointer moving afterwards leaves the bar where it is, and one Escape ends it.
new_bar_dir
start_bar
wait_bar_window
before="$BX $BY $BW $BH"
pointer_to 960 1040
xdotool click 1
sleep 0.5
pointer_to 700 500
pointer_to 650 450
sleep 0.5
bar_running && _geometry_is "$before" || fail "after a quick click the bar followed the pointer: $BX $BY ${BW}x$BH, was $before"
press_key Escape
wait_exit 3 || fail "one Escape after a quick click did not end the bar within 3 s"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS after Escape"
ok "a quick click moves nothing, and one Escape ends the bar"

# --- remembered geometry -------------------------------------------------------------

readonly STATE_FILE=$XDG_STATE_HOME/quorvel-olvane/geometry.json
remember_bar() {
    new_bar_dir
    echo '{"bar": {"remember_geometry": true}}' > "$BAR_DIR/config.json"
    start_bar
    wait_bar_window
}

remember_bar
[ "$BX $BY $BW $BH" = "0 1000 1920 80" ] || fail "remembering, nothing saved yet: bar starts at $BX $BY ${BW}x$BH"
drag "move, remembered"       960 1040 1160  740 "200 700 1920 80"
drag "left edge, remembered"  203  740  303  740 "300 700 1820 80"
# Saved shortly after the drags, not only as the bar closes.
wait_for 5 grep -q '"width": 1820' "$STATE_FILE" || fail "no geometry saved in $STATE_FILE: $(cat "$STATE_FILE" 2>&1)"
press_key Escape
wait_exit 3 || fail "Escape did not end the remembering bar"
remember_bar
[ "$BX $BY $BW $BH" = "300 700 1820 80" ] || fail "restarted at $BX $BY ${BW}x$BH, expected where it was left, 300 700 1820 80"
ok "restarted where it was left: [$BX $BY $BW $BH]"
press_key Escape
wait_exit 3 || fail "Escape did not end the restarted bar"

# Left on a monitor that is gone since: the bar's own place instead.
printf '{"screen": "primary", "x": 4000, "y": 700, "width": 1820, "height": 80}\n' > "$STATE_FILE"
remember_bar
[ "$BX $BY $BW $BH" = "0 1000 1920 80" ] || fail "remembered geometry off every screen: bar at $BX $BY ${BW}x$BH"
ok "a remembered geometry off every screen falls back to the bottom of the screen"
press_key Escape
wait_exit 3 || fail "Escape did not end the bar started off every screen"

# --- moved by the window manager -------------------------------------------------------

# A move the bar did not make itself (openbox's Alt+drag, its keyboard moves,
# a command) is the user's as much as a drag on the bar: a later change of the
# work area leaves the bar where it was put. Openbox mapping the bar and the
# bar's own placements are no one's move: the first panel still moves it.
new_bar_dir
start_bar
wait_bar_window
start_panel bottom 40
wait_geometry "0 960 1920 80"
xdotool windowmove "$BAR_WIN" 300 900
wait_geometry "300 900 1920 80"
start_panel top 50
# Answering a right click, the bar has taken in the new work area, which came
# before it; the click hits the bar in either place.
open_menu 1000 970
xdotool key Escape
wait_for 3 _no_menu || fail "Escape did not close the menu"
_geometry_is "300 900 1920 80" \
    || fail "moved by the window manager, the bar went to $BX $BY ${BW}x$BH when the work area changed"
ok "moved by the window manager, the bar stays where it was put when the work area changes"
press_key Escape
wait_exit 3 || fail "Escape did not end the bar moved by the window manager"
