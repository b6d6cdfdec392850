#!/usr/bin/env bash
# The bar on a real X server with openbox: its size and place at the bottom
# of the screen (also when the environment asks for high-DPI scaling), kept
# above, undecorated, its outline and area frames on screen, and a close by
# the window manager ending it with status 0; with desktop panels, resting on
# the work area's bottom edge and following it as a panel appears.
#
# With QO_SCREENSHOT_OUT set, a screenshot of the bar with some areas lit is
# saved there (the README's picture).
# shellcheck source=lib.sh disable=SC2119 # start_bar takes its own arguments, not the script's
source "$(dirname "$0")/lib.sh"
e2e_init "$@"
start_x

read -r SCREEN_W SCREEN_H < <(xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[1], d[2] }')
[ "$SCREEN_W x $SCREEN_H" = "1920 x 1080" ] || fail "screen is ${SCREEN_W}x$SCREEN_H"
EXPECTED_GEOMETRY="0 $((SCREEN_H - 80)) $SCREEN_W 80"

close_by_window_manager() {
    local what=$1
    # Alt+F4 is openbox's own Close binding: it never reaches the bar as a
    # key; openbox asks the window to close with WM_DELETE_WINDOW.
    xprop -id "$BAR_WIN" WM_PROTOCOLS | grep -q WM_DELETE_WINDOW || fail "$what: no WM_DELETE_WINDOW protocol"
    press_key alt+F4
    wait_exit 5 || fail "$what: still running 5 s after the window manager closed it"
    [ "$BAR_STATUS" = 0 ] || fail "$what: exit status $BAR_STATUS after a window-manager close"
    ok "$what: closed by the window manager, exit status 0"
}

# --- a plain start -----------------------------------------------------------------

start_bar
wait_bar_window
check_window "plain start"
wait_stdout_lines 1 "base: "
grep -qxF "exe: $QO_PROGRAM" "$BAR_DIR/stdout" || fail "no line 'exe: $QO_PROGRAM'"
grep -qxF "base: $(dirname "$QO_PROGRAM")" "$BAR_DIR/stdout" || fail "no line 'base: $(dirname "$QO_PROGRAM")'"
ok "exe: and base: lines name the program and its folder"

wait_opacity 0.7 0
ok "window opacity 0.7 (default, no config.json)"

wait_lit 5
shot=$WORK/dark.miff
screenshot "$shot"
check_outline "plain start" "$shot"
check_area_frames "all areas dark" "$shot" - - - - - - - -

# Light some areas for the picture: switches 4, 2, 3, 5 and 7 drive areas
# 0, 2, 4, 5 and 7.
for switch in 4 2 3 5 7; do box press "$switch"; done
wait_lit 5 0 2 4 5 7
shot=$WORK/lit.miff
screenshot "$shot"
mapfile -t lit_colors < <(lit 0 2 4 5 7)
check_area_frames "areas 0 2 4 5 7 lit" "$shot" "${lit_colors[@]}"
check_outline "areas lit" "$shot"

if [ -n "${QO_SCREENSHOT_OUT:-}" ]; then
    margin=12
    x0=$(( BX - margin < 0 ? 0 : BX - margin )); y0=$(( BY - margin < 0 ? 0 : BY - margin ))
    x1=$(( BX + BW + margin > SCREEN_W ? SCREEN_W : BX + BW + margin ))
    y1=$(( BY + BH + margin > SCREEN_H ? SCREEN_H : BY + BH + margin ))
    mkdir -p "$(dirname "$QO_SCREENSHOT_OUT")"
    convert "$shot" -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage -strip "$QO_SCREENSHOT_OUT"
    log "screenshot saved to $QO_SCREENSHOT_OUT"
fi

close_by_window_manager "plain start"

# --- an environment asking for scaling, which the bar overrides -----------------

new_bar_dir
QT_SCALE_FACTOR=2 QT_ENABLE_HIGHDPI_SCALING=1 start_bar
wait_bar_window
# The environment the program was started with (what it sets for itself later
# does not show here).
tr '\0' '\n' < "/proc/$BAR_PID/environ" > "$WORK/environ"
grep -qx 'QT_SCALE_FACTOR=2' "$WORK/environ" || fail "the program was not started with QT_SCALE_FACTOR=2"
grep -qx 'QT_ENABLE_HIGHDPI_SCALING=1' "$WORK/environ" || fail "the program was not started with QT_ENABLE_HIGHDPI_SCALING=1"
check_window "QT_SCALE_FACTOR=2"
wait_lit 5
shot=$WORK/scaled.miff
screenshot "$shot"
check_outline "QT_SCALE_FACTOR=2" "$shot"
check_area_frames "QT_SCALE_FACTOR=2" "$shot" - - - - - - - -
close_by_window_manager "QT_SCALE_FACTOR=2"

# --- desktop panels: the bar rests on the work area's bottom edge, and follows it --

new_bar_dir
start_panel top 50
[ "$(work_area)" = "0 50 1920 1030" ] || fail "work area [$(work_area)] with a 50-pixel top panel"
start_bar
wait_bar_window
# Not 50 pixels short of the bottom: the work area's own top is added.
[ "$BX $BY $BW $BH" = "0 1000 1920 80" ] || fail "with a top panel: bar at $BX,$BY ${BW}x$BH, expected 0 1000 1920 80"
ok "with a 50-pixel top panel: ${BW}x$BH at ($BX, $BY), on the bottom edge of the work area"

start_panel bottom 40
wait_geometry "0 960 1920 80"
ok "a bottom panel appearing while the bar runs: the bar moves up onto it, to ($BX, $BY)"
