#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Sets up what is missing, builds the bar and runs it from this folder (where
# config.json and resources/ are read from). Without a display it runs the
# bar in a virtual X server and saves a screenshot instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target QuorvelOlvane

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec build/default/QuorvelOlvane "$@"
fi

echo "run: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set);"
echo "run: running the bar in a virtual X server (Xvfb) for a few seconds instead."
shot=${QO_SCREENSHOT:-$PWD/build/default/screenshot.png}
display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$bar" "$xvfb" 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display build/default/QuorvelOlvane "$@" &
bar=$!
sleep 3
DISPLAY=$display import -window root -crop 1920x120+0+960 +repage "$shot"
kill "$bar"
wait "$bar" 2>/dev/null || true
echo "run: screenshot of the bar saved to $shot"
