#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# The Windows installer beside the ZIP: both sizes, and how long a silent
# install takes under Wine (plain /S, and /S /AUTOSTART=1, which also runs the
# program once to write its login entry), each into the same fresh Wine prefix
# with the Wine server kept running, and each followed by a silent uninstall
# (not timed).
#
#   bench/wine-installer.sh [RUNS]    (default 5 of each)
#
# Needs the ZIP and the installer of the `windows` preset
# (cmake --workflow --preset windows), hence scripts/windows-deps.sh once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
# shellcheck source=../scripts/windows-env.sh
source "$root/scripts/windows-env.sh"
if [ -n "$(windows_missing)" ]; then
    echo "skipped: $(windows_missing | paste -sd';' -)" >&2
    echo "build it with: $QO_WINDOWS_DEPS_COMMAND" >&2
    exit 0
fi
package=$root/build/windows/package
zip=$(ls "$package"/QuorvelOlvane-*-windows-x64.zip 2>/dev/null | head -n 1)
installer=${zip%.zip}.exe
[ -f "$zip" ] && [ -f "$installer" ] || { echo "no ZIP and installer in $package: cmake --workflow --preset windows" >&2; exit 1; }

work=$(mktemp -d /tmp/qo-wine-installer.XXXXXX)
cleanup() {
    [ -n "${WINEPREFIX:-}" ] && { wineserver -k 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT

echo "== a fresh Wine prefix" >&2
new_wine_prefix "$work/wine"
wine_env "$work/wine"
export DISPLAY=
wineserver -p
installed=$(winepath -u "$(wine cmd /c echo '%LOCALAPPDATA%' | tr -d '\r')\\Programs\\QuorvelOlvane")

# install_once ARGS...: milliseconds from the installer's start until it ends, then a silent uninstall.
install_once() {
    local started took
    started=${EPOCHREALTIME/./}
    wine "$installer" "$@" >/dev/null 2>&1
    took=$(( (${EPOCHREALTIME/./} - started) / 1000 ))
    [ -f "$installed/QuorvelOlvane.exe" ] || { echo "bench: nothing was installed in $installed" >&2; exit 1; }
    wine "$installed/Uninstall.exe" /S >/dev/null 2>&1
    # The uninstaller runs on from a copy of itself: its end is the program's removal.
    for _ in $(seq 400); do [ -e "$installed/QuorvelOlvane.exe" ] || break; sleep 0.025; done
    echo "$took"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
summary() { printf '%5d  (%d-%d)' "$(printf '%s\n' "$@" | median)" \
    "$(printf '%s\n' "$@" | sort -n | head -n 1)" "$(printf '%s\n' "$@" | sort -n | tail -n 1)"; }

plain=() autostart=()
echo "== $runs silent installs of each kind, alternating" >&2
for _ in $(seq "$runs"); do
    plain+=("$(install_once /S)")
    autostart+=("$(install_once /S /AUTOSTART=1)")
done
printf 'sizes, KiB:\n'
printf '  ZIP                                %6d\n' "$(( $(stat -c %s "$zip") / 1024 ))"
printf '  installer                          %6d\n' "$(( $(stat -c %s "$installer") / 1024 ))"
printf 'silent install under Wine, median of %d (min-max), ms:\n' "$runs"
printf '  /S                                 %s\n' "$(summary "${plain[@]}")"
printf '  /S /AUTOSTART=1                    %s\n' "$(summary "${autostart[@]}")"
