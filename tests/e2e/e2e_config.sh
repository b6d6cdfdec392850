#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# config.json with the real bar: a bad file at start-up ends it with status 1
# and a message on stderr before any window is mapped (started from the
# desktop, in a message box as well); --folder names the folder to read it
# in; configured colours and
# opacity show on screen; a change on disk, written in place or saved by
# rename, shows within a second.
# shellcheck source=lib.sh disable=SC2119 # start_bar takes its own arguments, not the script's
source "$(dirname "$0")/lib.sh"
e2e_init "$@"
start_x

# --- watching the root window for windows being mapped --------------------------------
#
# xev on the root window reports every top-level window that is mapped
# (MapNotify) or taken in by openbox (ReparentNotify). A property set on the
# root window marks a point in that stream: once xev has reported it, it has
# reported everything before it.

_probes=0
# Sets this probe's property again on every try, since xev may not yet be
# listening at the first one.
_probe_try() {
    xprop -root -f "_QO_E2E_PROBE_$_probes" 32c -set "_QO_E2E_PROBE_$_probes" 1
    grep -q "(_QO_E2E_PROBE_$_probes)" "$WORK/xev.log"
}
_probe() {
    _probes=$((_probes + 1))
    wait_for 5 _probe_try || fail "the root-window monitor does not answer"
}
start_map_watch() {
    : > "$WORK/xev.log"
    _probes=0
    stdbuf -oL xev -root -event substructure -event property > "$WORK/xev.log" 2>&1 &
    XEV_PID=$!
    _pids+=("$XEV_PID")
    _probe
}
# stop_map_watch: ends the monitor; how many windows were mapped in MAPPED.
stop_map_watch() {
    _probe
    _stop_tree "$XEV_PID"
    _forget_pid "$XEV_PID"
    MAPPED=$(grep -cE '^(MapNotify|ReparentNotify) event' "$WORK/xev.log" || true)
}

# --- bad files at start-up ---------------------------------------------------------------

bad_names=(
    "bad JSON"
    "byte-order mark before a valid object"
    "top-level array"
    "\"bar\": null"
    "area key \"x\""
    "area entry that is not an object"
    "area key \"two\""
)
bad_files=(
    '{"bar": {"opacity": 0.9}, "areas": {"0": {"color": "#FF0000"}'
    $'\xEF\xBB\xBF{"bar": {"opacity": 0.9}, "areas": {"0": {"color": "#FF0000"}}}'
    '[{"bar": {"opacity": 0.9}}]'
    '{"bar": null}'
    '{"areas": {"x": {}}}'
    '{"areas": {"0": 5}}'
    '{"areas": {"two": {"color": "#FF0000"}}}'
)
for i in "${!bad_files[@]}"; do
    new_bar_dir
    printf '%s' "${bad_files[$i]}" > "$BAR_DIR/config.json"
    start_map_watch
    start_bar
    wait_exit 15 || fail "${bad_names[$i]}: still running"
    stop_map_watch
    [ "$BAR_STATUS" = 1 ] || fail "${bad_names[$i]}: exit status $BAR_STATUS, expected 1"
    # Named in full: the line alone says which folder to look in.
    full=$(cd "$BAR_DIR" && pwd -P)/config.json
    grep -qF "$full: " "$BAR_DIR/stderr" || fail "${bad_names[$i]}: stderr does not name $full: $(cat "$BAR_DIR/stderr")"
    [ "$MAPPED" = 0 ] || fail "${bad_names[$i]}: $MAPPED window(s) mapped"
    ok "${bad_names[$i]}: status 1, no window, stderr: $(grep -m 1 'config\.json' "$BAR_DIR/stderr")"
done

# --- a bad file at start-up, started from the desktop ---------------------------------------

# Nobody reads standard error there: the same line is shown in a message box,
# and the bar ends with status 1 once it is dismissed.
use_launcher
new_bar_dir
printf '%s' "${bad_files[0]}" > "$BAR_DIR/config.json"
start_bar
wait_dialog '^QuorvelOlvane: cannot start$'
error_line=$(grep -m 1 'QuorvelOlvane: cannot start: ' "$BAR_DIR/stderr") || fail "no error line on stderr"
full=$(cd "$BAR_DIR" && pwd -P)/config.json
[[ $error_line == *"$full: "* ]] || fail "the error line does not name $full: [$error_line]"
dialog_says "$error_line" || fail "the message box does not hold [$error_line]: [$(xclip -selection clipboard -o 2>&1)]"
bar_running || fail "the bar ended with its message box on screen"
xdotool key --clearmodifiers Return
wait_exit 10 || fail "the bar did not end once its message box was dismissed"
[ "$BAR_STATUS" = 1 ] || fail "exit status $BAR_STATUS, expected 1"
ok "from the desktop: a message box says [$error_line]; status 1 once it is dismissed"
QO_LAUNCHER=

# --- --folder: the folder to run in, as the login entry on Windows names it ----------------

new_bar_dir
mkdir "$WORK/elsewhere"
printf '{"bar": {"opacity": 0.5}}' > "$WORK/elsewhere/config.json"
start_bar --folder "$WORK/elsewhere"
wait_bar_window
wait_opacity 0.5
press_key Escape
wait_exit 5 || fail "--folder: the bar did not end on Escape"
ok "--folder: the bar reads config.json in the folder named, not the one it was started in"

# --- configured colours and opacity --------------------------------------------------------

new_bar_dir
cat > "$BAR_DIR/config.json" <<'EOF'
{
  "bar": {"opacity": 1.0},
  "areas": {
    "2": {"color": "#FF8000"},
    "4": {"color": "#8000FF"},
    "0": {}
  }
}
EOF
start_map_watch
start_bar
wait_bar_window
stop_map_watch
[ "$MAPPED" -gt 0 ] || fail "the root-window monitor saw the good start map no window"

# Switches 4, 2, 3 and 5 light areas 0, 2, 4 and 5. Area 0 has no "color"
# (white), area 5 is not listed (black, as lit as it may be).
wait_lit 5
for switch in 4 2 3 5; do box press "$switch"; done
wait_areas 3 "255 255 255" - "255 128 0" - "128 0 255" - - -
ok "configured colours at opacity 1: area 0 white, 2 #FF8000, 4 #8000FF, 5 unlisted stays black"

# --- changes on disk ------------------------------------------------------------------------

# change HOW OPACITY COLOR0 COLOR2: writes a new config.json, in place or by
# renaming a new file over it, then waits at most a second for the screen.
change() {
    local how=$1 opacity=$2 c0=$3 c2=$4
    local text
    text=$(printf '{\n  "bar": {"opacity": %s},\n  "areas": {"0": {"color": "%s"}, "2": {"color": "%s"}}\n}' \
        "$opacity" "$c0" "$c2")
    case $how in
        "in place") printf '%s' "$text" > "$BAR_DIR/config.json" ;;
        "by rename")
            printf '%s' "$text" > "$BAR_DIR/config.json.new"
            mv -f "$BAR_DIR/config.json.new" "$BAR_DIR/config.json"
            ;;
    esac
    local started
    started=$(now_us)
    # Area 4 keeps its colour (not listed), at the new opacity.
    wait_areas 1 "$(lit_rgb "$c0" "$opacity")" - "$(lit_rgb "$c2" "$opacity")" - "$(lit_rgb "#8000FF" "$opacity")" - - -
    ok "change $how (opacity $opacity, area 0 $c0, area 2 $c2) on screen after $(( ($(now_us) - started) / 1000 )) ms"
}

change "in place"  0.6 "#FF0000" "#00C000"
change "by rename" 0.8 "#00FFFF" "#FFFFFF"
change "by rename" 0.9 "#FF00FF" "#0000FF"
change "in place"  1.0 "#FFFF00" "#FF8000"
bar_running || fail "the bar ended during the changes"

press_key Escape
wait_exit 3 || fail "the bar did not end within 3 s of Escape"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS after Escape"
ok "Escape ends the configured bar with status 0"

# --- a colour that is no colour ---------------------------------------------------------------

# The area shows black (lit, it stays empty) and standard output says so once,
# however often the file is applied again.
new_bar_dir
printf '{"bar": {"opacity": 1.0}, "areas": {"2": {"color": "yelow"}, "0": {"color": "#FF0000"}}}' > "$BAR_DIR/config.json"
start_bar
wait_bar_window
wait_stdout_lines 1 "[ERROR] Invalid color string: "
box press 4
box press 2
wait_areas 3 "255 0 0" - "0 0 0" - - - - -
touch "$BAR_DIR/config.json"
printf '{"bar": {"opacity": 1.0}, "areas": {"2": {"color": "yelow"}, "0": {"color": "#FF0000"}}}\n' > "$BAR_DIR/config.json"
sleep 1
[ "$(grep -c '^\[ERROR\] Invalid color string: yelow$' "$BAR_DIR/stdout")" = 1 ] \
    || fail "the misspelt colour is not said exactly once: $(grep -c 'Invalid color' "$BAR_DIR/stdout") lines"
press_key Escape
wait_exit 3 || fail "the bar with a misspelt colour did not end on Escape"
ok "a misspelt colour: the area black, one [ERROR] line"
