#!/usr/bin/env bash
# The tray icon and click-through with the real bar under openbox and trayer
# (an XEmbed system tray): without a tray the bar says so once and runs, and
# its icon appears when a tray starts; the icon's menu hides the bar (which
# goes on following the switch box) and shows it again, lets clicks through to
# the window below, and ends the bar with status 0; click-through in
# config.json goes on and off as the file changes. One bar per config file: a
# second start in its folder shows the hidden bar and ends with status 0, also
# after a bar there was killed. Started by the launcher, its menu turns the
# login entry on and off, read anew each time.
# shellcheck source=lib.sh disable=SC2119 # start_bar takes its own arguments, not the script's
source "$(dirname "$0")/lib.sh"
e2e_init "$@"
command -v trayer >/dev/null || fail "trayer is not installed: run scripts/setup.sh --tests"
# The XEmbed tray under test only: no desktop's D-Bus tray (StatusNotifier) may take the icon.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$WORK/no-session-bus
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID QT_QPA_PLATFORMTHEME
start_x

readonly NO_TRAY="QuorvelOlvane: no system tray"
# The menu's entries, in order: show or hide, click-through, reload, config folder, close.
readonly SHOW_HIDE=1 CLICK_THROUGH=2 SETTINGS=5 CLOSE=6

# _find_icon: the bar's icon embedded in the tray (a window of the bar's with no name) in ICON_WIN.
_find_icon() {
    local w
    for w in $(xdotool search --onlyvisible --class '^QuorvelOlvane$' 2>/dev/null); do
        [ "$w" = "$BAR_WIN" ] && continue
        xprop -id "$w" WM_NAME 2>/dev/null | grep -q '= *$' || continue
        ICON_WIN=$w
        return 0
    done
    return 1
}
# _find_tray_menu: the icon's menu, a mapped override-redirect window of the bar's other than the icon.
_find_tray_menu() {
    local w
    for w in $(xdotool search --onlyvisible --class '^QuorvelOlvane$' 2>/dev/null); do
        [ "$w" = "$ICON_WIN" ] && continue
        xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' && return 0
    done
    return 1
}
_no_tray_menu() { ! _find_tray_menu; }
_menu_opens() { xdotool click 3; wait_for 1 _find_tray_menu; }

# tray_menu N: opens the icon's menu with a right click and chooses its Nth entry.
tray_menu() {
    local x y
    read -r x y < <(xwininfo -id "$ICON_WIN" | awk '
        /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF } /^ *Width:/ { w = $NF }
        /^ *Height:/ { h = $NF } END { print x + int(w / 2), y + int(h / 2) }')
    pointer_to "$x" "$y"
    # A click the moment the pointer arrives can be lost (the icon has not yet
    # seen it enter), so the click is made again until the menu opens.
    wait_for 5 _menu_opens || fail "no menu after right clicks on the tray icon"
    local keys=() i
    for (( i = 0; i < $1; i++ )); do keys+=(Down); done
    xdotool key "${keys[@]}" Return
    wait_for 5 _no_tray_menu || fail "the tray menu stayed open"
}

_bar_mapped() { xwininfo -id "$BAR_WIN" | grep -q 'Map State: IsViewable'; }
_bar_unmapped() { ! _bar_mapped; }

# start_again: the program once more in BAR_DIR, while a bar runs there; it
# must end at once with status 0 and the one line saying so.
start_again() {
    local status=0 expected
    expected="QuorvelOlvane: already running for $(realpath "$BAR_DIR")/config.json; showing it"
    (cd "$BAR_DIR" && exec timeout 10 "$QO_PROGRAM") >"$WORK/again.out" 2>"$WORK/again.err" || status=$?
    [ "$status" = 0 ] || fail "a second start in the bar's folder ended with status $status: $(cat "$WORK/again.err")"
    [ "$(cat "$WORK/again.out")" = "$expected" ] \
        || fail "a second start printed [$(cat "$WORK/again.out")], expected [$expected]"
    bar_running && _alive "$BAR_PID" || fail "the first bar ended"
}

# --- without a tray, then with one ----------------------------------------------------

new_bar_dir
echo '{"bar": {"tray": true}}' > "$BAR_DIR/config.json"
start_bar
wait_bar_window
wait_stdout_lines 1 "$NO_TRAY"
ok "without a tray: '$(grep -m 1 "$NO_TRAY" "$BAR_DIR/stdout")', the bar runs"

trayer --edge top --align right --widthtype pixel --width 100 --heighttype pixel --height 24 \
    >"$WORK/trayer.log" 2>&1 &
_pids+=($!)
wait_for 10 _find_icon || fail "the icon did not appear in the tray: $(cat "$WORK/trayer.log")"
[ "$(count_lines "$NO_TRAY" "$BAR_DIR/stdout")" = 1 ] || fail "the missing tray was reported more than once"
ok "the icon appears once a tray starts"

# --- hide and show --------------------------------------------------------------------

tray_menu $SHOW_HIDE
wait_for 5 _bar_unmapped || fail "the bar is still on screen after the tray's hide"
box press 2
tray_menu $SHOW_HIDE
wait_for 5 _bar_mapped || fail "the bar did not come back from the tray"
wait_lit 3 2
ok "hidden and shown from the tray; a switch pressed meanwhile shows"

# --- one bar per config file ----------------------------------------------------------

tray_menu $SHOW_HIDE
wait_for 5 _bar_unmapped || fail "the bar is still on screen after the tray's hide"
start_again
wait_for 5 _bar_mapped || fail "a second start did not bring the hidden bar back"
wait_for 5 _bar_active || fail "a second start did not make the bar the active window"
ok "a second start in the folder shows the hidden bar and ends: '$(cat "$WORK/again.out")'"

# --- click-through --------------------------------------------------------------------

# A window below the bar that records clicks: its top shows above the bar,
# where a click marks that every click before it has been told.
bar_geometry
stdbuf -oL xev -geometry "400x200+$((BX + 100))+$((BY - 100))" -event button >"$WORK/clicks.log" 2>&1 &
_pids+=($!)
wait_for 10 eval "xdotool search --onlyvisible --name '^Event Tester$' >/dev/null" || fail "no xev window"
readonly ON_BAR_X=$((BX + 300)) ON_BAR_Y=$((BY + BH / 2)) MARK_X=$((BX + 300)) MARK_Y=$((BY - 50))
presses_at() { grep -ac "root:($1,$2)" "$WORK/clicks.log" || true; }
_marked() { [ "$(presses_at "$MARK_X" "$MARK_Y")" -gt "$_marks" ]; }
# click_passes: a middle click on the bar (which does nothing there) reaches the window below.
click_passes() {
    local before
    before=$(presses_at "$ON_BAR_X" "$ON_BAR_Y")
    _marks=$(presses_at "$MARK_X" "$MARK_Y")
    pointer_to "$ON_BAR_X" "$ON_BAR_Y"
    xdotool click 2
    pointer_to "$MARK_X" "$MARK_Y"
    xdotool click 2
    wait_for 3 _marked || fail "the window below the bar saw no click"
    [ "$(presses_at "$ON_BAR_X" "$ON_BAR_Y")" -gt "$before" ]
}
click_blocked() { ! click_passes; }

click_blocked || fail "a click on the bar reached the window below"
printf '%s' '{"bar": {"tray": true, "click_through": true}}' > "$BAR_DIR/config.json"
wait_for 5 click_passes || fail "clicks do not pass through with click_through turned on in config.json"
printf '%s' '{"bar": {"tray": true, "click_through": false}}' > "$BAR_DIR/config.json"
wait_for 5 click_blocked || fail "clicks still pass through with click_through turned off in config.json"
ok "click_through in config.json: on, then off"
tray_menu $CLICK_THROUGH
click_passes || fail "clicks do not pass through after the tray's click-through"
ok "click-through from the tray"

# --- the settings window, one at a time ----------------------------------------------

settings_windows() { xdotool search --onlyvisible --name '^QuorvelOlvane 設定$' 2>/dev/null | wc -l; }
_settings_shown() { [ "$(settings_windows)" -ge 1 ]; }
_settings_gone() { [ "$(settings_windows)" -eq 0 ]; }
tray_menu $SETTINGS
wait_for 5 _settings_shown || fail "no settings window after the tray's 設定…"
tray_menu $SETTINGS
[ "$(settings_windows)" -eq 1 ] || fail "$(settings_windows) settings windows after 設定… twice"
xdotool windowactivate --sync "$(xdotool search --onlyvisible --name '^QuorvelOlvane 設定$' | head -n 1)" key Escape
wait_for 5 _settings_gone || fail "Escape left the settings window open"
ok "設定… in the tray opens one settings window; Escape closes it"

# --- quit, hidden --------------------------------------------------------------------

tray_menu $SHOW_HIDE
wait_for 5 _bar_unmapped || fail "the bar is still on screen after the tray's hide"
tray_menu $CLOSE
wait_exit 5 || fail "the bar did not end after the tray's close"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS after the tray's close"
ok "the tray's close ends the hidden bar with status 0"

# --- a killed bar's socket ------------------------------------------------------------

new_bar_dir
start_bar
wait_bar_window
kill -KILL "$BAR_PID"
wait_exit 5 || fail "the killed bar did not end"
rm "$BAR_DIR/stdout" "$BAR_DIR/stderr" "$BAR_DIR/status"
start_bar
wait_bar_window
start_again
ok "after a bar was killed the next start in its folder runs, and is found by the one after"

# --- start at login -------------------------------------------------------------------

# Started as the desktop entry starts it, the bar's menu turns the launcher's
# login entry on and off; each time it reads the entry anew, so a change made
# meanwhile with the launcher is not undone.
kill -TERM "$BAR_PID"
wait_exit 5 || fail "the bar did not end on SIGTERM"
use_launcher
new_bar_dir
echo '{"bar": {"tray": true}}' > "$BAR_DIR/config.json"
start_bar
wait_bar_window
wait_for 10 _find_icon || fail "the icon did not appear in the tray"
readonly AUTOSTART=5 CLOSE_WITH_AUTOSTART=7
entry=${BAR_DIR%/quorvel-olvane}/autostart/quorvel-olvane.desktop
_entry_is() { if [ "$1" = on ]; then [ -f "$entry" ]; else [ ! -e "$entry" ]; fi; }
tray_menu $AUTOSTART
wait_for 5 _entry_is on || fail "no login entry at $entry after the tray's ログイン時に起動"
grep -qxF "Exec=\"$QO_LAUNCHER\" --desktop" "$entry" || fail "the login entry does not start the launcher: $(grep Exec "$entry")"
XDG_CONFIG_HOME=${BAR_DIR%/quorvel-olvane} "$QO_LAUNCHER" --autostart off >/dev/null
tray_menu $AUTOSTART
wait_for 5 _entry_is on || fail "the tray took the entry removed meanwhile for one still there"
tray_menu $AUTOSTART
wait_for 5 _entry_is off || fail "the login entry is still there after the tray's second ログイン時に起動"
tray_menu $CLOSE_WITH_AUTOSTART
wait_exit 5 || fail "the bar did not end after the tray's close"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS after the tray's close"
ok "ログイン時に起動 writes and removes $entry, as the system has it each time"
