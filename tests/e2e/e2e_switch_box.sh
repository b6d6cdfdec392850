#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# The real bar driven by the virtual switch box: presses and releases light
# and darken the mapped areas on screen, the switch-7 mode end to end, an
# unplugged or missing box reported once, a close while the reader polls,
# several boxes told apart by serial number and port, read by one thread, and
# the commands that presses and releases start.
# shellcheck source=lib.sh disable=SC2119 # start_bar takes its own arguments, not the script's
source "$(dirname "$0")/lib.sh"
e2e_init "$@"
start_x

readonly ERROR_LINE="[HIDReaderThread] ❌ エラー: "

# --- presses and releases ---------------------------------------------------------

start_bar
wait_bar_window
wait_lit 5

# Each step: a switch command, then exactly the areas lit after it. Reports are
# handled in order, so each picture also proves the earlier ones were handled.
steps=(
    "press 2|2"          # switch 2 drives area 2
    "press 3|2 4"        # switch 3 drives area 4, not 3
    "press 4|0 2 4"      # switch 4 drives area 0, not 4
    "press 5|0 2 4 5"
    "press 1|0 2 4 5 6"  # switch 1 drives area 6 while the mode is off
    "press 2|0 2 4 5 6"  # pressing again changes nothing
    "release 2|0 4 5 6"
    "release 3|0 5 6"
    "release 4|5 6"
    "release 5|6"
    "release 1|"
)
for step in "${steps[@]}"; do
    command=${step%%|*}
    # shellcheck disable=SC2086
    box $command
    # shellcheck disable=SC2086
    wait_lit 3 ${step#*|}
    ok "$command: lit [${step#*|}]"
done

# Switches 0, 6 and 8 drive nothing; a report of three bytes is dropped; in a
# 64-byte report only bytes 2 (command) and 3 (switch) count. The press of 2
# last shows, once it is on screen, that those before it were handled.
box press 6
box press 8
box press 0
box raw 00 00 21
# shellcheck disable=SC2046 # sixty separate bytes
box raw ff ff 21 05 $(printf '01 %.0s' $(seq 60))
box press 2
wait_lit 3 2 5
ok "switches 0, 6, 8 and a 3-byte report change nothing; a 64-byte report lights by bytes 2 and 3"
box release 2
box raw 00 00 00 05 21 07
wait_lit 3
ok "releases darken"

# --- the switch-7 mode -----------------------------------------------------------

box press 7
wait_stdout_lines 1 "S7: ON"
wait_lit 3 7
ok "press 7: 'S7: ON' and area 7 lit"

box press 1      # with the mode on, switch 1 drives area 7, not 6
box press 2
wait_lit 3 2 7
ok "press 1 in the mode: area 7 stays lit, area 6 dark"

box release 1    # area 7 is forced on while the mode is on
box release 2
wait_lit 3 7
ok "release 1 in the mode: area 7 still lit"

box release 7
wait_stdout_lines 1 "S7: OFF"
wait_lit 3
ok "release 7: 'S7: OFF' and area 7 dark"

box press 1      # the mode is off again: area 6
wait_lit 3 6
box release 1
wait_lit 3
ok "after the mode: switch 1 drives area 6 again"
[ "$(count_lines "S7: ON" "$BAR_DIR/stdout")" = 1 ] && [ "$(count_lines "S7: OFF" "$BAR_DIR/stdout")" = 1 ] \
    || fail "expected one 'S7: ON' and one 'S7: OFF' line"
grep -qxF "S7: ON" "$BAR_DIR/stdout" && grep -qxF "S7: OFF" "$BAR_DIR/stdout" \
    || fail "switch-7 lines are not exactly 'S7: ON' and 'S7: OFF'"

# --- unplugging the box ------------------------------------------------------------

box press 4
box press 5
wait_lit 3 0 5
[ "$(count_lines "$ERROR_LINE" "$BAR_DIR/stdout")" = 0 ] || fail "an error line before the unplug"
box unplug
wait_stdout_lines 1 "$ERROR_LINE"
wait_lit 1 0 5
bar_running || fail "the bar ended after the unplug"
ok "unplug: error line written, areas 0 and 5 still lit, bar running"

press_key Escape
wait_exit 3 || fail "the bar did not end within 3 s of Escape after an unplug"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS after Escape"
[ "$(count_lines "$ERROR_LINE" "$BAR_DIR/stdout")" = 1 ] \
    || fail "expected exactly one error line for the unplug, found $(count_lines "$ERROR_LINE" "$BAR_DIR/stdout")"
ok "unplug: exactly one error line in the whole run; Escape then ends the bar with status 0"

# --- no switch box at all --------------------------------------------------------------

new_bar_dir
start_bar --unplugged
wait_bar_window
wait_stdout_lines 1 "$ERROR_LINE"
line=$(grep -F "$ERROR_LINE" "$BAR_DIR/stdout")
grep -qi '2e8a' <<< "$line" && grep -qi '000a' <<< "$line" || fail "the error line names no device ids: $line"
wait_lit 1
press_key Escape
wait_exit 3 || fail "the bar did not end within 3 s of Escape with no box"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS with no box"
[ "$(count_lines "$ERROR_LINE" "$BAR_DIR/stdout")" = 1 ] || fail "expected exactly one error line with no box"
ok "no box: exactly one error line naming the device ids ($line); Escape ends it with status 0"

# --- closing while the reader polls --------------------------------------------------------

new_bar_dir
start_bar
wait_bar_window
box press 3
wait_lit 3 4     # the reader is polling the box
activate_bar
started=$(now_us)
xdotool key Escape
wait_exit 3 || fail "the bar did not end within 3 s of Escape while polling"
elapsed_ms=$(( ($(now_us) - started) / 1000 ))
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS after Escape while polling"
[ "$(count_lines "$ERROR_LINE" "$BAR_DIR/stdout")" = 0 ] || fail "an error line on a plain close"
ok "Escape while polling: ended with status 0 after ${elapsed_ms} ms"

# --- reconnection: plugged in late, unplugged and back, another box ------------------------

readonly CONNECTED_LINE="[HIDReaderThread] connected: "
lines_are() { # errors connected
    [ "$(count_lines "$ERROR_LINE" "$BAR_DIR/stdout")" = "$1" ] \
        && [ "$(count_lines "$CONNECTED_LINE" "$BAR_DIR/stdout")" = "$2" ] \
        || fail "expected $1 error and $2 connected line(s); stdout: $(cat "$BAR_DIR/stdout")"
}
new_bar_dir
reconnecting='{"device": {"reconnect": true, "show_state": true}}'
echo "$reconnecting" > "$BAR_DIR/config.json"
start_bar --unplugged
wait_bar_window
wait_stdout_lines 1 "$ERROR_LINE"
wait_state_text shown
sleep 2.5 # a few attempts to open the missing box
lines_are 1 0
ok "started unplugged: one error line however many attempts, the state on the bar"

box plug
wait_stdout_lines 1 "$CONNECTED_LINE" 5
grep -F "$CONNECTED_LINE" "$BAR_DIR/stdout" | grep -qF "(USB 2e8a:000a) at $BAR_DIR/box" \
    || fail "the connected line names neither the box nor where it is: $(grep -F "$CONNECTED_LINE" "$BAR_DIR/stdout")"
wait_state_text gone
box press 2
box press 4
wait_lit 3 0 2
ok "plugged in: one connected line naming the box and its node, the state text gone, presses light areas"

box press 7
wait_lit 3 0 2 7
box unplug
wait_stdout_lines 2 "$ERROR_LINE"
wait_state_text shown
wait_lit 1 0 2 7
box plug
wait_stdout_lines 2 "$CONNECTED_LINE" 5
wait_state_text gone
box press 1 # the switch-7 mode survived the unplug: switch 1 drives area 7, not 6
box press 5
wait_lit 3 0 2 5 7
lines_are 2 2
ok "unplugged and back: one error and one connected line, lit areas and the switch-7 mode kept, presses work"

# Another box's ids: the reader starts again on them (the virtual box answers
# only to 2e8a:000a), then on the box's own ids again.
echo '{"device": {"vendor_id": "0x1234", "reconnect": true, "show_state": true}}' > "$BAR_DIR/config.json"
wait_stdout_lines 3 "$ERROR_LINE"
grep -F "$ERROR_LINE" "$BAR_DIR/stdout" | tail -n 1 | grep -qF "USB 1234:000a" || fail "the error line names the old ids"
wait_state_text shown
echo "$reconnecting" > "$BAR_DIR/config.json"
wait_state_text gone
box release 5
wait_lit 3 0 2 7
press_key Escape
wait_exit 3 || fail "the bar did not end within 3 s of Escape"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS"
ok "ids changed in config.json: a reader on the new ids, then on the box's again; presses work"

# --- several boxes: chosen by serial number or port, read by one reader ----------------------

# connected_line PIPE SERIAL PORT: the line the bar prints on reaching a box it chose (at
# start-up too) or reaching a box again.
connected_line() { printf '%sswitch box (USB 2e8a:000a) at %s, serial %s, port %s' "$CONNECTED_LINE" "$@"; }
expect_line() { grep -qxF "$1" "$BAR_DIR/stdout" || fail "no line '$1' on stdout"; }
end_bar() {
    press_key Escape
    wait_exit 3 || fail "the bar did not end within 3 s of Escape"
    [ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS"
}

# Two boxes alike but for their serial numbers; only the configured one is read.
new_bar_dir
box plug --serial A1
box plug --box 2 --serial B2
echo '{"device": {"serial": "B2", "reconnect": true}}' > "$BAR_DIR/config.json"
start_bar
wait_bar_window
box --box 2 press 2
wait_lit 3 2
! box opened || fail "box 1 (serial A1) was opened for serial B2"
expect_line "$(connected_line "$BAR_DIR/box.2" '"B2"' 1-2)"
ok "serial B2: box 2 lights area 2 and is named at start-up, box 1 (serial A1) is not opened"

box --box 2 unplug
wait_stdout_lines 1 "$ERROR_LINE"
box plug --box 2 --port 1-5 # the same box in another port
wait_stdout_lines 2 "$CONNECTED_LINE" 5
box --box 2 press 3
wait_lit 3 2 4
! box opened || fail "box 1 (serial A1) was opened for serial B2"
expect_line "$(connected_line "$BAR_DIR/box.2" '"B2"' 1-5)"
end_bar
ok "serial B2 plugged into another port: found there, the connected line names serial \"B2\" and port 1-5"

# A box chosen by its port: the same box in another port is not it.
new_bar_dir
box plug --box 2 # box 1 at port 1-1, box 2 at 1-2, neither with a serial number
echo '{"device": {"port": "1-2", "reconnect": true}}' > "$BAR_DIR/config.json"
start_bar
wait_bar_window
box --box 2 press 2
wait_lit 3 2
! box opened || fail "box 1 (port 1-1) was opened for port 1-2"
box --box 2 unplug
wait_stdout_lines 1 "$ERROR_LINE"
box plug --box 2 --port 1-5
sleep 2.5 # a few attempts to open a box at port 1-2
! box --box 2 opened || fail "box 2 was opened at port 1-5 for port 1-2"
! box opened || fail "box 1 (port 1-1) was opened for port 1-2"
box --box 2 unplug
box plug --box 2 --port 1-2
wait_stdout_lines 2 "$CONNECTED_LINE" 5
box --box 2 press 3
wait_lit 3 2 4
expect_line "$(connected_line "$BAR_DIR/box.2" none 1-2)"
end_bar
ok "port 1-2: box 2 is not opened at port 1-5, and is again once back at 1-2 (serial none)"

# Two boxes in "devices", each with its own switch map; one going away leaves the other.
new_bar_dir
box plug --serial A1
box plug --box 2 --serial B2
cat > "$BAR_DIR/config.json" <<'JSON'
{"devices": [
    {"serial": "A1", "switches": {"1": 0}, "reconnect": true},
    {"serial": "B2", "name": "left pedal", "switches": {"1": 4}, "reconnect": true}
]}
JSON
start_bar
wait_bar_window
box press 1
wait_lit 3 0
box --box 2 press 1
wait_lit 3 0 4
box release 1
box --box 2 release 1
wait_lit 3
ok "devices: switch 1 lights area 0 on box 1 (A1), area 4 on box 2 (B2)"

box --box 2 unplug
wait_stdout_lines 1 "$ERROR_LINE"
line=$(grep -F "$ERROR_LINE" "$BAR_DIR/stdout")
[[ $line == "${ERROR_LINE}box 2 (left pedal): reading the switch box (USB 2e8a:000a) failed (unplugged?): "* ]] \
    || fail "the error line does not name box 2 (left pedal): $line"
box press 1
wait_lit 3 0
lines_are 1 2 # each box named once at start-up; the one error
end_bar
ok "devices: box 2 unplugged is named in the one error line ($line); box 1 still lights area 0"

# One reader for every box: four boxes take no more threads than one.
new_bar_dir
echo '{"devices": [{"port": "1-1"}]}' > "$BAR_DIR/config.json"
start_bar
wait_bar_window
box press 2
wait_lit 3 2
bar_threads
one_box=$BAR_THREADS
end_bar
new_bar_dir
for k in 2 3 4; do box plug --box "$k"; done
echo '{"devices": [{"port": "1-1"}, {"port": "1-2"}, {"port": "1-3"}, {"port": "1-4"}]}' > "$BAR_DIR/config.json"
start_bar
wait_bar_window
box press 2
box --box 2 press 3
box --box 3 press 4
box --box 4 press 5
wait_lit 3 0 2 4 5
bar_threads
[ "$BAR_THREADS" = "$one_box" ] || fail "$BAR_THREADS threads with four boxes, $one_box with one"
end_bar
ok "devices: four boxes read with $BAR_THREADS threads, as one box; Escape ends the bar with status 0"

# --- commands per switch --------------------------------------------------------------------

new_bar_dir
# Records, one file per switch and state, its working folder, the switch
# variables and its arguments, each ended by a NUL.
cat > "$BAR_DIR/record.sh" <<'SH'
#!/bin/sh
mkdir -p records
printf '%s\0' "$(pwd -P)" "$QO_SWITCH" "$QO_STATE" "$QO_BOX" "${QO_BOX_NAME-<unset>}" "$@" > "records/$QO_SWITCH-$QO_STATE.tmp"
mv "records/$QO_SWITCH-$QO_STATE.tmp" "records/$QO_SWITCH-$QO_STATE"
SH
# Says it started, then waits until the bar ends it.
cat > "$BAR_DIR/slow.sh" <<'SH'
#!/bin/sh
echo "$$" >> started
while :; do sleep 0.05; done
SH
chmod +x "$BAR_DIR/record.sh" "$BAR_DIR/slow.sh"
commands_config() { # the arguments of switch 2's press
    cat <<JSON
{"devices": [{"name": "foot switch"}],
 "commands": {"2": {"on": $1, "off": ["./record.sh", "off"]},
              "3": {"on": ["qo-no-such-program", "x"]},
              "4": {"on": ["./slow.sh"]}}}
JSON
}
# shellcheck disable=SC2016 # $HOME and `id` are arguments, for no shell to expand
commands_config '["./record.sh", "scene", "Live Show", "it'"'"'s \"quoted\"", "$HOME", "`id`", "録画 開始"]' \
    > "$BAR_DIR/config.json"
# expect_record FILE ARGUMENTS...: what record.sh wrote for FILE ("2-on").
_record_is() { cmp -s "$BAR_DIR/records/$1" "$WORK/expected"; }
expect_record() {
    local file=$1 switch=${1%-*} state=${1#*-}
    shift
    printf '%s\0' "$(realpath "$BAR_DIR")" "$switch" "$state" 1 "foot switch" "$@" > "$WORK/expected"
    wait_for 5 _record_is "$file" \
        || fail "switch $switch $state recorded [$(tr '\0' '|' < "$BAR_DIR/records/$file" 2>/dev/null)], expected [$(tr '\0' '|' < "$WORK/expected")]"
}
start_bar
wait_bar_window
box press 2
wait_lit 3 2
# shellcheck disable=SC2016 # as above
expect_record 2-on scene "Live Show" "it's \"quoted\"" '$HOME' '`id`' "録画 開始"
box release 2
wait_lit 3
expect_record 2-off off
ok "commands: press and release of switch 2 start their programs in the config folder, arguments intact, QO_SWITCH, QO_STATE, QO_BOX and QO_BOX_NAME set"

box press 3
wait_stdout_lines 1 '[commands] switch 3 on: cannot start "qo-no-such-program": '
box release 3
box press 2 # reports after the failure are handled as ever
wait_lit 3 2
bar_running || fail "the bar ended after a missing program"
ok "commands: a missing program gives one line ($(grep -F '[commands]' "$BAR_DIR/stdout"))"

# A change of config.json applies to the next press.
commands_config '["./record.sh", "changed"]' > "$BAR_DIR/config.json"
_changed_and_pressed() {
    box release 2
    box press 2
    wait_for 1 _record_is 2-on
}
printf '%s\0' "$(realpath "$BAR_DIR")" 2 on 1 "foot switch" changed > "$WORK/expected"
wait_for 10 _changed_and_pressed || fail "switch 2 still starts its old command after config.json changed"
ok "commands: a changed config.json starts the new command on the next press"

_slow_started() { [ -s "$BAR_DIR/started" ]; }
box press 4
wait_for 5 _slow_started || fail "the slow command did not start"
box release 4
box press 4
wait_stdout_lines 1 '[commands] switch 4 on: still running; this press is skipped'
[ "$(wc -l < "$BAR_DIR/started")" = 1 ] || fail "the slow command was started twice"
slow_pid=$(cat "$BAR_DIR/started")
ok "commands: a press while switch 4's command runs is skipped with one line"

press_key Escape
wait_exit 3 || fail "the bar did not end within 3 s of Escape while a command ran"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS with a command running"
[ ! -e "/proc/$slow_pid" ] || fail "the slow command (pid $slow_pid) outlived the bar: $(cat "/proc/$slow_pid/stat")"
[ "$(wc -l < "$BAR_DIR/started")" = 1 ] || fail "the slow command was started twice"
[ "$(count_lines '[commands]' "$BAR_DIR/stdout")" = 2 ] \
    || fail "expected two [commands] lines: $(grep -F '[commands]' "$BAR_DIR/stdout")"
ok "commands: Escape with a command running ends the bar with status 0 and the command with it, nothing left behind"
