#!/usr/bin/env bash
# The Windows program as shipped: its ZIP unpacked into a fresh folder and run
# under Wine on Xvfb with openbox, checked as the Linux end-to-end tests check
# the Linux program: the exe: and base: lines with Windows paths, one
# undecorated window kept above along the bottom of the screen, its outline and
# area frames, the no-device line, config.json at start-up and while running,
# a bad config.json, drags, and the ways to end it. Wine has no switch box:
# lighting is left to the unit tests, which run under Wine too.
# Usage: e2e_windows.sh ZIP SOURCE_DIR WINEPREFIX
# shellcheck source=lib.sh disable=SC2119 # start_bar takes its own arguments, not the script's
source "$(dirname "$0")/lib.sh"
e2e_init_windows "$@"
start_x

read -r SCREEN_W SCREEN_H < <(xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[1], d[2] }')
EXPECTED_GEOMETRY="0 $((SCREEN_H - 80)) $SCREEN_W 80"   # for check_window
ERROR_PREFIX="[HIDReaderThread] ❌ エラー: "

windows_path() { local p=$1; echo "Z:${p//\//\\}"; }
stdout_text() { tr -d '\r' <"$BAR_DIR/stdout"; }

# --- a plain start ----------------------------------------------------------------

start_bar
wait_bar_window
check_window "plain start"
wait_stdout_lines 1 "base: " 10
stdout_text | grep -qxF "exe: $(windows_path "$BAR_EXE")" \
    || fail "no line 'exe: $(windows_path "$BAR_EXE")' in: $(stdout_text)"
stdout_text | grep -qxF "base: $(windows_path "$BAR_DIR")" \
    || fail "no line 'base: $(windows_path "$BAR_DIR")' in: $(stdout_text)"
ok "exe: and base: lines name the program and its folder as Windows paths"
wait_opacity 0.7 0
ok "window opacity 0.7 (default, no config.json)"

wait_lit 5
shot=$WORK/dark.miff
screenshot "$shot"
check_outline "plain start" "$shot"
check_area_frames "all areas dark" "$shot" - - - - - - - -

# No switch box under Wine: one line, in Windows' terms (no udev rule, no /dev node).
wait_stdout_lines 1 "$ERROR_PREFIX"
sleep 1
errors=$(stdout_text | grep -F "$ERROR_PREFIX")
[ "$(count_lines "$ERROR_PREFIX" "$BAR_DIR/stdout")" = 1 ] || fail "more than one error line: $errors"
grep -qE 'udev|hidraw|/dev/' <<<"$errors" && fail "the no-device line speaks of Linux: $errors"
grep -q 'is connected' <<<"$errors" || fail "the no-device line does not say that no box is connected: $errors"
ok "one no-device line: $errors"

drag "move"       960 1040 1160  740 "200 700 1920 80"
# Wine's resize puts the edge where the pointer is (openbox keeps the pointer's
# distance from it): edges are grabbed on their outermost pixel.
drag "left edge"  200  740  300  740 "300 700 1820 80"
drag "top edge"   600  700  600  650 "300 650 1820 130"

press_key Escape
wait_exit 5 || fail "Escape did not end the bar within 5 s"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS after Escape"
ok "Escape ends the bar with status 0"

# --- config.json at start-up and while running --------------------------------------

new_bar_dir
printf '{\r\n  "bar": {"opacity": 0.5},\r\n  "areas": {"0": {"color": "#FF8000"}}\r\n}\r\n' >"$BAR_DIR/config.json"
start_bar
wait_bar_window
check_window "with config.json"
wait_opacity 0.5 0
ok "opacity 0.5 from config.json at start-up"
screenshot "$WORK/configured.miff"
check_area_frames "with config.json" "$WORK/configured.miff" - - - - - - - -

printf '{"bar": {"opacity": 0.9}}' >"$BAR_DIR/config.json"
started=$(now_us)
wait_opacity 0.9 1
ok "opacity 0.9 after a change in place, on screen after $(( ($(now_us) - started) / 1000 )) ms"
printf '{"bar": {"opacity": 0.6}}' >"$BAR_DIR/config.json.new"
mv -f "$BAR_DIR/config.json.new" "$BAR_DIR/config.json"
started=$(now_us)
wait_opacity 0.6 1
ok "opacity 0.6 after a save by rename, on screen after $(( ($(now_us) - started) / 1000 )) ms"

open_menu 1000 1040
pointer_to "$((MX + MW / 2))" "$((MY + MH / 2))"
xdotool click 1
wait_exit 5 || fail "choosing 閉じる did not end the bar within 5 s"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS after choosing 閉じる"
ok "the context menu's 閉じる ends the bar with status 0"

# --- a config.json that cannot be used ------------------------------------------------

new_bar_dir
printf '{"bar": {"opacity": 0.9}, "areas": {"0": {"color": "#FF0000"}' >"$BAR_DIR/config.json"
start_bar
wait_exit 20 || fail "bad JSON: still running"
[ "$BAR_STATUS" = 1 ] || fail "bad JSON: exit status $BAR_STATUS, expected 1"
grep -q 'config\.json' "$BAR_DIR/stderr" || fail "bad JSON: stderr does not mention config.json: $(cat "$BAR_DIR/stderr")"
[ -z "$(xdotool search --name '^QuorvelOlvane$' 2>/dev/null)" ] || fail "bad JSON: a window is left"
ok "bad JSON: status 1, stderr: $(grep -m 1 'config\.json' "$BAR_DIR/stderr" | tr -d '\r')"
