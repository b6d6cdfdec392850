#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Start-up time of the Windows program under Wine beside the Linux program, on
# one private Xvfb with openbox: from the launch until the bar's window is
# mapped (found by polling every 10 ms), each run then ended with Escape.
# The Windows program runs from its unpacked ZIP with the Wine server kept
# running, as it is on a desktop where other Windows programs run; the very
# first run, which also starts Wine's server and services, is shown apart.
#
#   bench/wine-startup.sh [RUNS]      (default 10 of each)
#
# Needs build/default (the Linux program) and the ZIP of the `windows` preset
# (cmake --workflow --preset windows), hence scripts/windows-deps.sh once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-10}
# shellcheck source=../scripts/windows-env.sh
source "$root/scripts/windows-env.sh"
[ -z "$(windows_missing)" ] || { windows_missing >&2; echo "build it with: $QO_WINDOWS_DEPS_COMMAND" >&2; exit 1; }
linux=$root/build/default/QuorvelOlvane
zip=$(ls "$root"/build/windows/package/QuorvelOlvane-*-windows-x64.zip 2>/dev/null | head -n 1)
[ -x "$linux" ] || { echo "no $linux: cmake --preset default && cmake --build --preset default" >&2; exit 1; }
[ -f "$zip" ] || { echo "no ZIP in build/windows/package: cmake --workflow --preset windows" >&2; exit 1; }

work=$(mktemp -d /tmp/qo-wine-bench.XXXXXX)
pids=()
cleanup() {
    [ -n "${WINEPREFIX:-}" ] && { wineserver -k 2>/dev/null || true; }
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

python3 -m zipfile -e "$zip" "$work/unpacked"
windows_dir=$(find "$work/unpacked" -mindepth 1 -maxdepth 1 -type d)
mkdir -p "$work/linux/resources/icon" "$work/xdg"
chmod 700 "$work/xdg"
cp "$root/resources/icon/icon.ico" "$work/linux/resources/icon/"
export XDG_RUNTIME_DIR=$work/xdg

Xvfb -displayfd 5 -noreset -screen 0 1920x1080x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do grep -q '^[0-9]' "$work/display" 2>/dev/null && break; sleep 0.05; done
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
sleep 1

echo "== a fresh Wine prefix" >&2
new_wine_prefix "$work/wine"
wine_env "$work/wine"

window() { xdotool search --onlyvisible --name '^QuorvelOlvane$' 2>/dev/null | head -n 1; }
# run_once DIR COMMAND...: milliseconds from the launch until the window is mapped.
run_once() {
    local dir=$1; shift
    local started w pid
    started=${EPOCHREALTIME/./}
    (cd "$dir" && exec "$@" >/dev/null 2>&1) &
    pid=$!
    until w=$(window) && [ -n "$w" ]; do
        kill -0 "$pid" 2>/dev/null || { echo "bench: the program ended without a window" >&2; exit 1; }
        sleep 0.01
    done
    echo $(( (${EPOCHREALTIME/./} - started) / 1000 ))
    xdotool windowactivate "$w" >/dev/null 2>&1 || true
    for _ in $(seq 100); do [ "$(xdotool getactivewindow 2>/dev/null)" = "$w" ] && break; sleep 0.02; done
    xdotool key --clearmodifiers Escape >/dev/null 2>&1 || true
    for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.025; done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    for _ in $(seq 200); do [ -z "$(window)" ] && break; sleep 0.025; done
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

echo "== first Windows run (starts Wine's server and services)" >&2
first=$(run_once "$windows_dir" wine "$windows_dir/QuorvelOlvane.exe")
wineserver -w   # then one kept running for the runs below
wineserver -p
linux_times=() windows_times=()
echo "== $runs runs of each, alternating" >&2
for _ in $(seq "$runs"); do
    linux_times+=("$(run_once "$work/linux" env QT_QPA_PLATFORM=xcb "$linux")")
    windows_times+=("$(run_once "$windows_dir" wine "$windows_dir/QuorvelOlvane.exe")")
done
printf 'start-up to window mapped, median of %d (min-max), ms:\n' "$runs"
printf '  Linux program (xcb)              %5d  (%d-%d)\n' "$(printf '%s\n' "${linux_times[@]}" | median)" \
    "$(printf '%s\n' "${linux_times[@]}" | sort -n | head -n 1)" "$(printf '%s\n' "${linux_times[@]}" | sort -n | tail -n 1)"
printf '  Windows program under Wine       %5d  (%d-%d)\n' "$(printf '%s\n' "${windows_times[@]}" | median)" \
    "$(printf '%s\n' "${windows_times[@]}" | sort -n | head -n 1)" "$(printf '%s\n' "${windows_times[@]}" | sort -n | tail -n 1)"
printf '  Windows program, first run       %5d  (Wine server and services starting)\n' "$first"
