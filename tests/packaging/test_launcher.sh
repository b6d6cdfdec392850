#!/usr/bin/env bash
# The installed launcher, with the program replaced by a stub that records how it
# was started: config folder chosen and created, working directory, resources
# linked when missing (and only then), config.json written from the example on
# the first run (and never over one), X11 chosen on Wayland only when the user
# chose no platform, arguments and exit status passed through; --autostart on|off
# writes and removes the login entry, --help lists both.
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
example=$prefix/share/quorvel-olvane/config.example.json
cmp -s "$example" "$(dirname "$0")/../../docs/config.example.json" \
    || { echo "FAIL: no copy of docs/config.example.json at $example" >&2; exit 1; }

# The stub stands in for the program at the installed path.
cat >"$program" <<'STUB'
#!/bin/sh
{
    echo "cwd=$(pwd -P)"
    echo "platform=${QT_QPA_PLATFORM-<unset>}"
    echo "argc=$#"
    for a in "$@"; do echo "arg=$a"; done
    [ -r resources/icon/icon.ico ] && echo "icon=readable"
} >"$QO_STUB_OUT"
exit "${QO_STUB_STATUS:-0}"
STUB
chmod +x "$program"

# run_launcher NAME [VAR=VALUE...] -- [ARGS...]: runs the launcher in a clean
# environment with HOME set to a fresh folder (or to $reuse_home); its exit
# status in $status.
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
    env -i PATH="$PATH" HOME="$home" QO_STUB_OUT="$out" "${vars[@]}" \
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
# First run: config.json from the example, and the user is told.
cmp -s "$home/.config/quorvel-olvane/config.json" "$example" || fail "first run wrote no copy of the example"
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
        grep -qxF "Exec=\"$(readlink -f "$launcher")\"" "$entry" || fail "the entry does not start the launcher: $(grep Exec "$entry")"
    else
        fail "no autostart entry at $entry"
    fi
    grep -qF "$entry" "$work/stdout-$case" || fail "--autostart on did not say what it wrote"
    [ -e "$config_home/quorvel-olvane" ] && fail "--autostart on made the config folder"
    reuse_home=$home run_launcher "autostart-off-$where" "${vars[@]}" -- --autostart off
    expect_not_started 0
    [ -e "$entry" ] && fail "--autostart off left $entry"
    grep -qF "$entry" "$work/stdout-$case" || fail "--autostart off did not say what it removed"
    reuse_home=$home run_launcher "autostart-off-again-$where" "${vars[@]}" -- --autostart off
    expect_not_started 0
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
