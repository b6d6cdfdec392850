#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
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

# --- another local user at the names a bar would use -----------------------------------------

# With no runtime folder the socket goes to the temporary folder, under a name
# anyone can work out: user nobody listens there first (at the bare name and
# in the folder of the user's own, made by nobody). The bar must not take
# that for itself running: it starts, and runs until told to end.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null 2>&1 && [ -x /usr/bin/python3 ]; then
    chmod 755 "$WORK"
    shared_tmp=$WORK/shared-tmp
    mkdir -m 1777 "$shared_tmp"
    victim=$WORK/victim
    mkdir "$victim"
    echo '{}' > "$victim/config.json"
    socket_name=QuorvelOlvane-$(printf '%s\n%s' "$(id -u)" "$(realpath "$victim/config.json")" | sha256sum | cut -c1-32)
    setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/bin/python3 -c '
import os, select, socket, sys
tmp, uid, name = sys.argv[1:4]
folder = os.path.join(tmp, "QuorvelOlvane-" + uid)
os.mkdir(folder)
os.chmod(folder, 0o777)
listeners = []
for path in (os.path.join(tmp, name), os.path.join(folder, name)):
    s = socket.socket(socket.AF_UNIX)
    s.bind(path)
    s.listen(8)
    listeners.append(s)
print("ready", flush=True)
while True:
    for s in select.select(listeners, [], [])[0]:
        s.accept()[0].close()
' "$shared_tmp" "$(id -u)" "$socket_name" > "$WORK/nobody.out" 2>&1 &
    _pids+=($!)
    wait_for 5 grep -q ready "$WORK/nobody.out" || fail "nobody's listener did not start: $(cat "$WORK/nobody.out")"
    status=0
    (cd "$victim" && exec env -u XDG_RUNTIME_DIR TMPDIR="$shared_tmp" timeout 5 "$QO_PROGRAM") \
        >"$WORK/victim.out" 2>"$WORK/victim.err" || status=$?
    ! grep -q "already running" "$WORK/victim.out" || fail "another user's socket stopped the bar: $(cat "$WORK/victim.out")"
    [ "$status" = 124 ] || fail "the bar ended with status $status instead of running: $(cat "$WORK/victim.err")"
    grep -q "no private folder for the one-bar-per-config socket" "$WORK/victim.err" \
        || fail "no line about the folder another user made: $(cat "$WORK/victim.err")"
    ok "another user's sockets at the predictable names: the bar says so, starts and runs"
else
    log "skipped another user's socket: needs root, setpriv and /usr/bin/python3 to act as user nobody"
fi

# 300 connections that say nothing, to a bar allowed 256 descriptors: it reads
# a few at a time and backs off when out of descriptors, so its own files
# (config.json on a change) still open.
crowded=$WORK/crowded
mkdir "$crowded"
echo '{}' > "$crowded/config.json"
(cd "$crowded" && ulimit -Sn 256 && exec "$QO_PROGRAM") >"$WORK/crowded.out" 2>"$WORK/crowded.err" &
crowded_pid=$!
_pids+=("$crowded_pid")
crowded_socket=$XDG_RUNTIME_DIR/QuorvelOlvane-$(printf '%s\n%s' "$(id -u)" "$(realpath "$crowded/config.json")" \
    | sha256sum | cut -c1-32)
wait_for 10 test -S "$crowded_socket" || fail "the crowded bar made no socket"
python3 -c '
import socket, sys, time
held = []
for _ in range(300):
    s = socket.socket(socket.AF_UNIX)
    s.connect(sys.argv[1])
    held.append(s)
print("ready", flush=True)
time.sleep(60)
' "$crowded_socket" > "$WORK/crowd.out" 2>&1 &
crowd_pid=$!
_pids+=("$crowd_pid")
wait_for 10 grep -q ready "$WORK/crowd.out" || fail "the crowd did not connect: $(cat "$WORK/crowd.out")"
sleep 1
echo '{"bar": {"opacity": 0.9}}' > "$crowded/config.json"
sleep 2
! grep -q "Too many open files" "$WORK/crowded.out" "$WORK/crowded.err" \
    || fail "300 idle connections used up the bar's descriptors: $(cat "$WORK/crowded.out" "$WORK/crowded.err")"
_alive "$crowded_pid" || fail "the crowded bar ended: $(cat "$WORK/crowded.err")"
kill -TERM "$crowded_pid" "$crowd_pid"
wait "$crowded_pid" "$crowd_pid" 2>/dev/null || true
_forget_pid "$crowded_pid"
_forget_pid "$crowd_pid"
ok "300 idle connections to the one-bar socket: the bar's own files still open"
