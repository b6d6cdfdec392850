#!/usr/bin/env bash
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
