#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# The installed launcher, with the program replaced by a stub that records how it
# was started: config folder chosen and created, working directory, resources
# linked when missing (and only then, never into the installation, also by two
# launchers at once), the installed resources named for a folder where no link
# can be made, config.json written from the first-run file on the first run (and
# never over one), X11 chosen on Wayland only when the user chose no platform,
# arguments and exit status passed through; without HOME one line and status 1;
# --autostart on|off writes and removes the login entry and status tells which,
# --help lists them; --version is the program's, printing CMake's version, and makes no
# config folder; --desktop says to the bar that nobody reads its standard error.
# Usage: test_launcher.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL [$case]: $*" >&2; failures=$((failures + 1)); }
case=install

prefix="$work/pre fix"   # a space, as in a user's home folder
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 \
    || { cat "$work/install.log" >&2; echo "FAIL: cmake --install failed" >&2; exit 1; }
launcher=$prefix/bin/quorvel-olvane
program=$prefix/libexec/quorvel-olvane/QuorvelOlvane
resources=$prefix/share/quorvel-olvane/resources
[ -x "$launcher" ] || { echo "FAIL: no launcher at $launcher" >&2; exit 1; }
[ -x "$program" ] || { echo "FAIL: no program at $program" >&2; exit 1; }
[ -f "$resources/icon/icon.ico" ] || { echo "FAIL: no icon under $resources" >&2; exit 1; }
first_run=$prefix/share/quorvel-olvane/config.first-run.json
cmp -s "$first_run" "$(dirname "$0")/../../packaging/linux/config.first-run.json" \
    || { echo "FAIL: no copy of packaging/linux/config.first-run.json at $first_run" >&2; exit 1; }

# The real program, through the launcher: --version prints CMake's project version and ends
# with status 0, before any display or config folder is needed (none is given here).
case=version-real
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no CMAKE_PROJECT_VERSION in $build/CMakeCache.txt"
set +e
got=$(env -i PATH="$PATH" HOME="$work/home-$case" "$launcher" --version 2>"$work/stderr-$case")
status=$?
set -e
[ "$status" -eq 0 ] || fail "--version ended with status $status: $(cat "$work/stderr-$case")"
[ "$got" = "QuorvelOlvane $version" ] || fail "--version printed '$got', expected 'QuorvelOlvane $version'"
[ -e "$work/home-$case" ] && fail "--version created $work/home-$case"

# The stub stands in for the program at the installed path.
cat >"$program" <<'STUB'
#!/bin/sh
{
    echo "cwd=$(pwd -P)"
    echo "platform=${QT_QPA_PLATFORM-<unset>}"
    echo "resources=${QUORVEL_OLVANE_RESOURCES-<unset>}"
    echo "no_console=${QUORVEL_OLVANE_NO_CONSOLE-<unset>}"
    echo "launcher=${QUORVEL_OLVANE_LAUNCHER-<unset>}"
    echo "argc=$#"
    for a in "$@"; do echo "arg=$a"; done
    [ -r resources/icon/icon.ico ] && echo "icon=readable"
    [ -r "$QUORVEL_OLVANE_RESOURCES/icon/icon.ico" ] && echo "installed-icon=readable"
} >"$QO_STUB_OUT"
exit "${QO_STUB_STATUS:-0}"
STUB
chmod +x "$program"

# run_launcher NAME [VAR=VALUE...] -- [ARGS...]: runs the launcher in a clean
# environment with HOME set to a fresh folder (or to $reuse_home), through
# $launcher_prefix if set; its exit status in $status.
run_launcher() {
    case=$1; shift
    home=${reuse_home:-$work/home-$case}
    mkdir -p "$home"
    out="$work/out-$case"
    rm -f "$out"
    local vars=()
    while [ "$1" != -- ]; do vars+=("$1"); shift; done
    shift
    set +e
    ${launcher_prefix:-} env -i PATH="$PATH" HOME="$home" QO_STUB_OUT="$out" "${vars[@]}" \
        "${launcher_to_run:-$launcher}" "$@" >"$work/stdout-$case" 2>"$work/stderr-$case"
    status=$?
    set -e
}
# run_case: run_launcher, and the program must have been started.
run_case() {
    run_launcher "$@"
    [ -f "$out" ] || { fail "the program was not started (status $status): $(cat "$work/stderr-$case")"; return 0; }
}
field() { sed -n "s/^$1=//p" "$out"; }
expect_cwd() { [ "$(field cwd)" = "$(realpath -m "$1")" ] || fail "ran in $(field cwd), expected $1"; }
expect_platform() { [ "$(field platform)" = "$1" ] || fail "QT_QPA_PLATFORM is $(field platform), expected $1"; }
expect_linked() {
    [ -L "$1/resources" ] || { fail "$1/resources is not a link"; return 0; }
    [ "$(readlink -f "$1/resources")" = "$(readlink -f "$resources")" ] \
        || fail "$1/resources points to $(readlink "$1/resources"), not the installed resources"
    [ "$(field icon)" = readable ] || fail "the icon is not readable from the working directory"
}

# Default: ~/.config/quorvel-olvane, created, resources linked, platform untouched.
run_case plain DISPLAY=:7 XDG_SESSION_TYPE=x11 --
expect_cwd "$home/.config/quorvel-olvane"
expect_linked "$home/.config/quorvel-olvane"
expect_platform "<unset>"
[ "$status" -eq 0 ] || fail "exit status $status"
[ -s "$work/stderr-$case" ] && fail "unexpected standard error: $(cat "$work/stderr-$case")"
# First run: config.json from the first-run file, and the user is told.
cmp -s "$home/.config/quorvel-olvane/config.json" "$first_run" || fail "first run wrote no copy of the first-run file"
grep -q 'config\.json' "$work/stdout-$case" || fail "first run did not say it wrote config.json"
[ -z "$(find "$home/.config/quorvel-olvane" -name 'config.json.*')" ] || fail "a temporary file was left behind"

# XDG_CONFIG_HOME wins when absolute (with a space in it, and not yet existing).
run_case xdg "XDG_CONFIG_HOME=$work/xdg conf/deeper" --
expect_cwd "$work/xdg conf/deeper/quorvel-olvane"
expect_linked "$work/xdg conf/deeper/quorvel-olvane"
[ -e "$home/.config" ] && fail "created ~/.config although XDG_CONFIG_HOME was set"

# A relative or empty XDG_CONFIG_HOME is ignored.
for value in relative/conf ""; do
    run_case "xdg-ignored-${value:+relative}" "XDG_CONFIG_HOME=$value" --
    expect_cwd "$home/.config/quorvel-olvane"
done

# Arguments and exit status pass through unchanged.
QO_ARGS=("two words" "-platform" "" "*")
run_case args QO_STUB_STATUS=7 -- "${QO_ARGS[@]}"
[ "$status" -eq 7 ] || fail "exit status $status, expected 7"
[ "$(field argc)" = 4 ] || fail "argc $(field argc), expected 4"
mapfile -t got < <(field arg)
[ "${got[*]}" = "${QO_ARGS[*]}" ] || fail "arguments were ${got[*]}"
# The bar learns which launcher started it (for its tray's start at login), and
# from --desktop alone that nobody reads its standard error; --desktop is not passed on.
[ "$(field launcher)" = "$(readlink -f "$launcher")" ] || fail "QUORVEL_OLVANE_LAUNCHER is $(field launcher)"
[ "$(field no_console)" = "<unset>" ] || fail "QUORVEL_OLVANE_NO_CONSOLE set without --desktop"
run_case desktop -- --desktop "two words"
[ "$(field no_console)" = 1 ] || fail "--desktop: QUORVEL_OLVANE_NO_CONSOLE is $(field no_console)"
[ "$(field argc)" = 1 ] && [ "$(field arg)" = "two words" ] || fail "--desktop: arguments were $(field arg)"

# --version goes to the program as it is, without a config folder being made.
run_case version-stub -- --version
[ "$(field argc)" = 1 ] && [ "$(field arg)" = --version ] || fail "--version: arguments were $(field arg)"
[ -e "$home/.config" ] && fail "--version created $home/.config"

# Platform choice: NAME, environment, expected QT_QPA_PLATFORM.
while IFS='|' read -r name env_text expected; do
    read -r -a env_vars <<<"$env_text"
    run_case "platform-$name" "${env_vars[@]}" --
    expect_platform "$expected"
done <<'TABLE'
wayland-display|WAYLAND_DISPLAY=wayland-0 DISPLAY=:7|xcb
wayland-session|XDG_SESSION_TYPE=wayland DISPLAY=:7|xcb
wayland-both|XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=wayland-1 DISPLAY=:0|xcb
wayland-user-wayland|WAYLAND_DISPLAY=wayland-0 DISPLAY=:7 QT_QPA_PLATFORM=wayland|wayland
wayland-user-offscreen|XDG_SESSION_TYPE=wayland DISPLAY=:7 QT_QPA_PLATFORM=offscreen|offscreen
wayland-user-empty|WAYLAND_DISPLAY=wayland-0 DISPLAY=:7 QT_QPA_PLATFORM=|xcb
x11-session|XDG_SESSION_TYPE=x11 DISPLAY=:7|<unset>
x11-user-choice|DISPLAY=:7 QT_QPA_PLATFORM=vnc|vnc
tty-session|XDG_SESSION_TYPE=tty|<unset>
TABLE

# Wayland without XWayland: xcb could not start, so nothing is forced and the user is told.
run_case wayland-no-xwayland WAYLAND_DISPLAY=wayland-0 --
expect_platform "<unset>"
grep -q 'XWayland' "$work/stderr-$case" || fail "no note about the missing XWayland on standard error"

# A resources folder of the user's own is kept, and so is a link that works.
run_case own-resources --
own=$home/.config/quorvel-olvane
rm "$own/resources"
mkdir -p "$own/resources/icon"
echo mine >"$own/resources/icon/icon.ico"
reuse_home=$home run_case own-resources-again --
[ -d "$own/resources" ] && [ ! -L "$own/resources" ] || fail "the user's resources folder was replaced"
[ "$(cat "$own/resources/icon/icon.ico")" = mine ] || fail "the user's icon was changed"

elsewhere=$work/elsewhere-resources
mkdir -p "$elsewhere"
run_case own-link --
ln -sfn "$elsewhere" "$home/.config/quorvel-olvane/resources"
reuse_home=$home run_case own-link-again --
[ "$(readlink "$home/.config/quorvel-olvane/resources")" = "$elsewhere" ] || fail "a working link was replaced"

# A link left dangling (installation moved or removed) is replaced.
run_case dangling --
ln -sfn "$work/gone" "$home/.config/quorvel-olvane/resources"
reuse_home=$home run_case dangling-again --
expect_linked "$home/.config/quorvel-olvane"

# An existing config folder and config.json are used as they are, and so is a
# config.json that is a link, even to a file not there (yet).
run_case existing --
echo '{"bar": {"opacity": 0.9}}' >"$home/.config/quorvel-olvane/config.json"
reuse_home=$home run_case existing-again --
[ "$(cat "$home/.config/quorvel-olvane/config.json")" = '{"bar": {"opacity": 0.9}}' ] || fail "config.json was changed"
grep -q 'config\.json' "$work/stdout-$case" && fail "a later run says it wrote config.json"
ln -sfn "$work/elsewhere.json" "$home/.config/quorvel-olvane/config.json"
reuse_home=$home run_case existing-link --
[ "$(readlink "$home/.config/quorvel-olvane/config.json")" = "$work/elsewhere.json" ] && [ ! -e "$work/elsewhere.json" ] \
    || fail "a config.json link was replaced or followed"

# Started through a link on PATH, the launcher still finds the program beside itself.
mkdir -p "$work/bin"
ln -s "$launcher" "$work/bin/quorvel-olvane"
launcher_to_run=$work/bin/quorvel-olvane run_case via-link --
expect_linked "$home/.config/quorvel-olvane"

# A config folder the user may not write to (here without the privilege to
# override permissions, when root): no link, no config.json, but the bar starts
# and finds its icon in the installed resources.
[ "$(id -u)" -eq 0 ] && readonly_prefix="setpriv --bounding-set=-all --inh-caps=-all" || readonly_prefix=
home=$work/home-read-only
mkdir -p "$home/.config/quorvel-olvane"
chmod 555 "$home/.config/quorvel-olvane"
reuse_home=$home launcher_prefix=$readonly_prefix run_case read-only --
[ "$status" -eq 0 ] || fail "exit status $status"
[ -e "$home/.config/quorvel-olvane/resources" ] && fail "a link was made in a read-only folder (test not effective)"
[ "$(field resources)" = "$(readlink -f "$resources")" ] || fail "QUORVEL_OLVANE_RESOURCES is $(field resources)"
[ "$(field installed-icon)" = readable ] || fail "the installed icon is not readable through QUORVEL_OLVANE_RESOURCES"
grep -q 'config\.json' "$work/stderr-$case" || fail "no note that config.json could not be written"
chmod 755 "$home/.config/quorvel-olvane"

# Two launchers at once in a new config folder: both start the program, one
# link is made, and nothing is written into the installation.
before=$(ls -A "$resources")
for i in $(seq 1 40); do
    home=$work/home-race-$i
    mkdir -p "$home"
    for j in 1 2; do
        env -i PATH="$PATH" HOME="$home" QO_STUB_OUT="$work/out-race-$i-$j" "$launcher" \
            >/dev/null 2>"$work/stderr-race-$i-$j" &
    done
    wait
done
case=race
for i in $(seq 1 40); do
    for j in 1 2; do
        [ -f "$work/out-race-$i-$j" ] || fail "run $i.$j did not start the program: $(cat "$work/stderr-race-$i-$j")"
    done
    [ "$(readlink "$work/home-race-$i/.config/quorvel-olvane/resources")" = "$(readlink -f "$resources")" ] \
        || fail "run $i: resources is not the link to the installed resources"
done
[ "$(ls -A "$resources")" = "$before" ] || fail "launchers wrote into the installation: $(ls -A "$resources")"

# Neither HOME nor XDG_CONFIG_HOME: one line saying so, status 1, no program.
case=no-home
set +e
env -i PATH="$PATH" QO_STUB_OUT="$work/out-$case" "$launcher" >"$work/stdout-$case" 2>"$work/stderr-$case"
status=$?
set -e
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
[ "$(wc -l <"$work/stderr-$case")" -eq 1 ] && grep -q 'HOME' "$work/stderr-$case" \
    || fail "expected one line naming HOME on standard error: $(cat "$work/stderr-$case")"
[ -e "$work/out-$case" ] && fail "the program was started without a config folder"

# A config folder that cannot be made is an error, and the program is not started.
case=unwritable
touch "$work/not-a-folder"
set +e
env -i PATH="$PATH" HOME="$work/not-a-folder" QO_STUB_OUT="$work/out-$case" "$launcher" 2>/dev/null
status=$?
set -e
[ "$status" -ne 0 ] || fail "exit status 0 although the config folder cannot be made"
[ -e "$work/out-$case" ] && fail "the program was started without its config folder"

# --autostart on|off: the login entry in $XDG_CONFIG_HOME/autostart (or ~/.config/autostart),
# valid, starting this launcher; the bar itself is not started.
entry_of() { echo "$1/autostart/quorvel-olvane.desktop"; }
expect_not_started() { [ -e "$out" ] && fail "the bar was started"; [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"; }
for where in xdg home; do
    if [ $where = xdg ]; then vars=("XDG_CONFIG_HOME=$work/auto conf"); config_home=$work/auto\ conf
    else vars=(); config_home=$work/home-autostart-on-$where/.config; fi
    entry=$(entry_of "$config_home")
    run_launcher "autostart-on-$where" "${vars[@]}" -- --autostart on
    expect_not_started 0
    if [ -f "$entry" ]; then
        desktop-file-validate "$entry" || fail "desktop-file-validate rejects $entry"
        # Quoted, since the installation path has a space in it.
        grep -qxF "Exec=\"$(readlink -f "$launcher")\" --desktop" "$entry" || fail "the entry does not start the launcher: $(grep Exec "$entry")"
    else
        fail "no autostart entry at $entry"
    fi
    grep -qF "$entry" "$work/stdout-$case" || fail "--autostart on did not say what it wrote"
    reuse_home=$home run_launcher "autostart-status-on-$where" "${vars[@]}" -- --autostart status
    [ "$(cat "$work/stdout-$case")" = on ] || fail "--autostart status said [$(cat "$work/stdout-$case")], expected on"
    [ -e "$config_home/quorvel-olvane" ] && fail "--autostart on made the config folder"
    reuse_home=$home run_launcher "autostart-off-$where" "${vars[@]}" -- --autostart off
    expect_not_started 0
    [ -e "$entry" ] && fail "--autostart off left $entry"
    grep -qF "$entry" "$work/stdout-$case" || fail "--autostart off did not say what it removed"
    reuse_home=$home run_launcher "autostart-off-again-$where" "${vars[@]}" -- --autostart off
    expect_not_started 0
    reuse_home=$home run_launcher "autostart-status-off-$where" "${vars[@]}" -- --autostart status
    [ "$(cat "$work/stdout-$case")" = off ] || fail "--autostart status said [$(cat "$work/stdout-$case")], expected off"
done

run_launcher help -- --help
expect_not_started 0
grep -q -- '--autostart on' "$work/stdout-$case" && grep -q -- '--autostart off' "$work/stdout-$case" \
    || fail "--help does not list --autostart on and off"
for bad in "--autostart" "--autostart maybe" "--autostart on extra"; do
    read -r -a bad_args <<<"$bad"
    run_launcher "bad-usage" -- "${bad_args[@]}"
    expect_not_started 2
    grep -q 'Usage' "$work/stderr-$case" || fail "'$bad': no usage on standard error"
done

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all launcher checks passed"
