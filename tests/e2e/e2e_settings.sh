#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# The settings window of the real bar, driven as a screen reader drives it
# (AT-SPI): opened from the bar's menu, a switch assigned by pressing it on the
# box, a label typed, saved. config.json keeps its order and the members the
# bar does not know, the previous file is kept as config.json.bak, and the bar
# lights the area for the new switch with the new label drawn.
# shellcheck source=lib.sh disable=SC2119 # start_bar takes its own arguments, not the script's
# A private session bus for the accessibility bus, ended with the script.
if [ -z "${QO_E2E_SESSION_BUS:-}" ]; then
    QO_E2E_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"
e2e_init "$@"
start_x
start_atspi

new_bar_dir
original='{
    "$schema": "resources/config.schema.json",
    "note": "mine",
    "bar": { "settings_in_menu": true }
}'
printf '%s\n' "$original" > "$BAR_DIR/config.json"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 start_bar
wait_bar_window
wait_lit 5

# The menu's first entry, by keyboard, as without a mouse.
open_menu $((BX + BW / 2)) $((BY + BH / 2))
xdotool key Down Return
atspi wait "QuorvelOlvane 設定" 15
ok "設定… in the bar's menu opens the settings window"

atspi press "エリア 3 にスイッチを割り当て"
atspi wait "スイッチを押してください"
box press 9
box release 9
atspi gone "スイッチを押してください"
atspi wait "スイッチ 9"
ok "switch 9, pressed on the box, is assigned to area 3"

atspi set-text "エリア 3 のラベル" TALK
box press 9
atspi wait "エリア 3: TALK, 点灯"
box release 9
atspi wait "エリア 3: TALK, 消灯"
ok "the window's area 3 says its label and lit state as the switch goes"

atspi press "保存"
atspi gone "QuorvelOlvane 設定"
/usr/bin/python3 - "$BAR_DIR/config.json" "$QO_SOURCE/docs/config.schema.json" <<'PY' || fail "config.json after saving: $(cat "$BAR_DIR/config.json")"
import json, sys
import jsonschema
text = open(sys.argv[1], encoding="ascii").read()
jsonschema.Draft202012Validator(json.load(open(sys.argv[2], encoding="utf-8"))).validate(json.loads(text))
doc = json.loads(text, object_pairs_hook=lambda pairs: pairs)
keys = [k for k, _ in doc]
assert keys == ["$schema", "note", "bar", "areas", "switches"], keys
doc = json.loads(text)
assert doc["note"] == "mine" and doc["bar"] == {"settings_in_menu": True}, doc
# The file listed no area: all eight go in as the bar showed them, or the
# seven not listed would start black.
palette = ["#FFFF00", "#FF0000", "#FFFF00", "#FF0000", "#0000FF", "#00FFFF", "#0000FF", "#00FF00"]
want = {str(area): {"color": colour} for area, colour in enumerate(palette)}
want["3"]["label"] = "TALK"
assert doc["areas"] == want and doc["switches"] == {"9": 3}, doc
assert text.endswith("}\n"), "no final line end"
PY
cmp -s "$BAR_DIR/config.json.bak" <(printf '%s\n' "$original") || fail "config.json.bak is not the previous file"
ok "saved: valid by the schema, order and unknown members kept, the previous file in config.json.bak"

box press 9
wait_corners 3
screenshot "$WORK/saved.miff"
expect_label "$WORK/saved.miff" 3 "255 255 255" "TALK on lit red"
box release 9
wait_lit 5

bar_running || fail "the bar ended"
if grep -E "not applied|partly applied" "$BAR_DIR/stderr"; then fail "the saved file was not taken whole"; fi
press_key Escape
wait_exit 3 || fail "the bar did not end within 3 s of Escape"
[ "$BAR_STATUS" = 0 ] || fail "exit status $BAR_STATUS after Escape"
ok "the bar took its own save without a word and ends with status 0"

# Started again, the bar shows what the window showed: the palette, not black.
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 start_bar
wait_bar_window
for switch in 4 2 3 5; do box press "$switch"; done
wait_areas 4 "$(lit_rgb "#FFFF00" 0.7)" - "$(lit_rgb "#FFFF00" 0.7)" - "$(lit_rgb "#0000FF" 0.7)" "$(lit_rgb "#00FFFF" 0.7)" - -
press_key Escape
wait_exit 3 || fail "the restarted bar did not end within 3 s of Escape"
ok "restarted: the colours are the ones the window showed when saving"

# --- beside a tall bar; the press prompt counts down and says when nothing came -----------

new_bar_dir
printf '{"bar": {"settings_in_menu": true}}\n' > "$BAR_DIR/config.json"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 start_bar
wait_bar_window
# Moved up and made taller, as the user may: more room above it than below.
xdotool windowsize "$BAR_WIN" 1920 500 windowmove "$BAR_WIN" 0 330
wait_geometry "0 330 1920 500"
open_menu $((BX + BW / 2)) $((BY + BH / 2))
xdotool key Down Return
atspi wait "QuorvelOlvane 設定" 15
wait_dialog '^QuorvelOlvane 設定$'
_settings_beside() {
    read -r SX SY SW SH < <(xwininfo -id "$DIALOG_WIN" | awk '
        /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
        /^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF } END { print x, y, w, h }')
    [ $((SY + SH)) -le "$BY" ] || [ "$SY" -ge $((BY + BH)) ]
}
wait_for 5 _settings_beside || fail "the settings window at $SX $SY ${SW}x$SH lies under the bar at $BX $BY ${BW}x$BH"
[ "$(xdotool getactivewindow)" = "$DIALOG_WIN" ] || fail "the settings window is not the active window"
atspi wait "保存"
ok "beside a bar moved up and made taller: settings at $SX $SY ${SW}x$SH (client area), active, 保存 showing"

atspi press "エリア 4 にスイッチを割り当て"
atspi wait "押したスイッチをエリア 4 に割り当てます (あと 10 秒)"
atspi wait "押したスイッチをエリア 4 に割り当てます (あと 9 秒)"
atspi wait "スイッチが押されませんでした。変更はありません。" 15
atspi gone "スイッチを押してください"
ok "the press prompt counts down, then says that no switch was pressed"

wait_dialog '^QuorvelOlvane 設定$'
xdotool windowactivate --sync "$DIALOG_WIN" key --clearmodifiers Escape
atspi gone "QuorvelOlvane 設定"
press_key Escape
wait_exit 3 || fail "the bar did not end within 3 s of Escape"
