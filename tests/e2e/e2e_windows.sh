#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# The Windows program as shipped: its ZIP unpacked into a fresh folder, or its
# installer run silently in a fresh Wine prefix, and run under Wine on Xvfb
# with openbox, checked as the Linux end-to-end tests check
# the Linux program: the exe: and base: lines with Windows paths, one
# undecorated window kept above along the bottom of the screen, its outline and
# area frames, the no-device line, config.json at start-up and while running,
# a bad config.json, drags, and the ways to end it. Wine has no switch box:
# lighting is left to the unit tests, which run under Wine too. The installer
# also: its files, Start menu shortcut and working folder, installed-apps entry
# and login entry; the installed program in its folder; an upgrade keeps the
# user's config.json; a bad one, with no console, is shown in a message box;
# the silent uninstall leaves only config.json.
# Usage: e2e_windows.sh ZIP|INSTALLER SOURCE_DIR WINEPREFIX
# shellcheck source=lib.sh disable=SC2119 # start_bar takes its own arguments, not the script's
source "$(dirname "$0")/lib.sh"
e2e_init_windows "$@"
start_x

read -r SCREEN_W SCREEN_H < <(xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[1], d[2] }')
EXPECTED_GEOMETRY="0 $((SCREEN_H - 80)) $SCREEN_W 80"   # for check_window
ERROR_PREFIX="[HIDReaderThread] ❌ エラー: "

windows_path() { local p=$1; echo "Z:${p//\//\\}"; }
stdout_text() { tr -d '\r' <"$BAR_DIR/stdout"; }

readonly UNINSTALL_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorvelOlvane'
readonly RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
# reg_value KEY NAME: the data of a value, as `reg query` prints it.
reg_value() { wine_reg "$1" /v "$2" | awk -v n="$2" '$1 == n { sub(/^ *[^ ]+ +REG_[A-Z_]+ +/, ""); print; exit }'; }
# lnk_working_folder FILE: the working folder a shell link (.lnk) names, read from its bytes.
lnk_working_folder() {
    python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
flags = struct.unpack_from("<I", data, 20)[0]
pos = 76  # the header
if flags & 0x1:  # an item id list
    pos += 2 + struct.unpack_from("<H", data, pos)[0]
if flags & 0x2:  # link info
    pos += struct.unpack_from("<I", data, pos)[0]
for bit in (0x4, 0x8, 0x10):  # name, relative path, working folder: each a count and its characters
    if flags & bit:
        count = struct.unpack_from("<H", data, pos)[0]
        size = count * 2 if flags & 0x80 else count
        text = data[pos + 2:pos + 2 + size].decode("utf-16-le" if flags & 0x80 else "latin-1")
        pos += 2 + size
        if bit == 0x10:
            print(text.rstrip("\0"))
PY
}

# --- the installation -----------------------------------------------------------------

if [ -n "$QO_INSTALLER" ]; then
    for f in QuorvelOlvane.exe Qt6Core.dll platforms/qwindows.dll resources/icon/icon.ico Uninstall.exe config.example.json \
             LICENSE THIRD-PARTY-NOTICES.md licenses/LGPL-3.0.txt; do
        [ -f "$QO_INSTALLED/$f" ] || fail "$f missing from the installation"
    done
    cmp -s "$QO_INSTALLED/config.json" "$QO_INSTALLED/config.example.json" || fail "the first install wrote no config.json from the example"
    shortcut=$(wine_unix_path "$(wine_expand '%APPDATA%')\\Microsoft\\Windows\\Start Menu\\Programs\\QuorvelOlvane.lnk")
    [ -f "$shortcut" ] || fail "no Start menu shortcut at $shortcut"
    [ "$(lnk_working_folder "$shortcut")" = "$QO_INSTALLED_WIN" ] \
        || fail "the shortcut's working folder is [$(lnk_working_folder "$shortcut")], expected [$QO_INSTALLED_WIN]"
    while IFS='|' read -r name expected; do
        [ "$(reg_value "$UNINSTALL_KEY" "$name")" = "$expected" ] \
            || fail "$UNINSTALL_KEY $name is [$(reg_value "$UNINSTALL_KEY" "$name")], expected [$expected]"
    done <<TABLE
DisplayName|QuorvelOlvane
DisplayVersion|$(sed -n 's/^project(QuorvelOlvane VERSION \([0-9.]*\).*/\1/p' "$QO_SOURCE/CMakeLists.txt")
DisplayIcon|$QO_INSTALLED_WIN\QuorvelOlvane.exe
UninstallString|"$QO_INSTALLED_WIN\Uninstall.exe"
TABLE
    expected_run="\"$QO_INSTALLED_WIN\\QuorvelOlvane.exe\" --folder \"$QO_INSTALLED_WIN\""
    [ "$(reg_value "$RUN_KEY" QuorvelOlvane)" = "$expected_run" ] \
        || fail "with /AUTOSTART=1 the Run value is [$(reg_value "$RUN_KEY" QuorvelOlvane)], expected [$expected_run]"
    wineserver -w
    ok "silent install into $QO_INSTALLED_WIN: files, config.json, shortcut starting in the folder, installed-apps entry, Run value"
fi

# --- the version -------------------------------------------------------------------

# CMake's project version, printed before anything needs a display or a config.json.
new_bar_dir
version=$(sed -n 's/^project(QuorvelOlvane VERSION \([0-9.]*\).*/\1/p' "$QO_SOURCE/CMakeLists.txt")
status=0
got=$(cd "$BAR_DIR" && DISPLAY='' wine "$BAR_EXE" --version 2>/dev/null | tr -d '\r') || status=$?
wineserver -w
[ "$status" -eq 0 ] && [ "$got" = "QuorvelOlvane $version" ] \
    || fail "--version printed [$got] (status $status), expected [QuorvelOlvane $version]"
[ -e "$BAR_DIR/config.json" ] && fail "--version wrote a config.json"
ok "--version prints QuorvelOlvane $version"
BAR_DIR=

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

[ -n "$QO_INSTALLER" ] || exit 0
bad_json_line=$(grep -m 1 'QuorvelOlvane: cannot start: ' "$BAR_DIR/stderr" | tr -d '\r') \
    || fail "bad JSON: no line 'QuorvelOlvane: cannot start: ' on stderr"

# --- the installed program, as Windows starts it at login ----------------------------

# The Run value's command, from another folder: the bar runs in the installation,
# with the installer's config.json (the example's opacity).
new_bar_dir
start_bar --folder "$QO_INSTALLED_WIN"
wait_bar_window
check_window "installed"
wait_opacity "$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["bar"]["opacity"])' "$QO_INSTALLED/config.json")"
press_key Escape
wait_exit 5 || fail "Escape did not end the installed bar"
[ "$BAR_STATUS" = 0 ] || fail "the installed bar: exit status $BAR_STATUS after Escape"
ok "the installed program, started as the Run value says, runs in its folder with the installer's config.json"

# --- an upgrade keeps the user's config.json ------------------------------------------

printf '{"bar": {"opacity": 0.5}}\r\n' >"$QO_INSTALLED/config.json"
cp "$QO_INSTALLED/config.json" "$WORK/users-config.json"
rm "$QO_INSTALLED/README.txt"
wine_silently "$QO_INSTALLER" /S || fail "the silent upgrade failed"
cmp -s "$QO_INSTALLED/config.json" "$WORK/users-config.json" || fail "the upgrade changed the user's config.json"
[ -f "$QO_INSTALLED/README.txt" ] || fail "the upgrade did not install the program's files again"
ok "an upgrade installs the files again and keeps the user's config.json"

# --- a bad config.json with no console -----------------------------------------------

printf '{"bar": {"opacity": 0.9}, "areas": {"0": {"color": "#FF0000"}' >"$QO_INSTALLED/config.json"
new_bar_dir
BAR_OUTPUT=closed start_bar --folder "$QO_INSTALLED_WIN"
wait_dialog '^QuorvelOlvane: cannot start$'
dialog_says "$bad_json_line" || fail "the message box does not hold [$bad_json_line]: [$(xclip -selection clipboard -o 2>&1)]"
bar_running || fail "the bar ended with its message box on screen"
xdotool key --clearmodifiers Return
wait_exit 10 || fail "the bar did not end once its message box was dismissed"
[ "$BAR_STATUS" = 1 ] || fail "exit status $BAR_STATUS after the message box, expected 1"
cp "$WORK/users-config.json" "$QO_INSTALLED/config.json"
ok "no console: a message box says [$bad_json_line]; status 1 once it is dismissed"

# --- the silent uninstall keeps only config.json -------------------------------------

wineserver -w
wine_silently "$QO_INSTALLED/Uninstall.exe" /S || fail "the silent uninstall failed"
left=$(cd "$QO_INSTALLED" && find . -mindepth 1 | sed 's|^\./||' | sort | paste -sd' ')
[ "$left" = config.json ] || fail "the uninstall left [$left] in the installation, expected config.json alone"
cmp -s "$QO_INSTALLED/config.json" "$WORK/users-config.json" || fail "the uninstall changed config.json"
[ -e "$shortcut" ] && fail "the uninstall left the Start menu shortcut"
wine_reg "$UNINSTALL_KEY" >/dev/null && fail "the uninstall left $UNINSTALL_KEY"
wine_reg "$RUN_KEY" /v QuorvelOlvane >/dev/null && fail "the uninstall left the Run value"
wineserver -w
ok "the silent uninstall removes files, shortcut, installed-apps entry and Run value, and keeps config.json"
