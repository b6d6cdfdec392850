# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Shared by the end-to-end tests of the real bar: a private X server with
# openbox, the bar run with the virtual switch box in a scratch folder,
# screenshots, pixel reads and polling with deadlines.
#
# Every test script is called as
#     SCRIPT PROGRAM VIRTUAL_SWITCH_BOX SOURCE_DIR
# sources this file and calls e2e_init "$@" first. Everything it starts is
# ended, and its scratch folder removed, when the script exits
# (QO_E2E_KEEP=1 keeps the folder for a look after a failure).

# shellcheck disable=SC2034 # constants and results (BAR_PID, BAR_STATUS, ...) are for the scripts
set -euo pipefail
export LC_ALL=C.UTF-8

# The bar's fixed numbers: outline colour, area frame colour (Qt::lightGray)
# and the layout margin around the grid.
readonly OUTLINE_RGB="200 200 200"
readonly FRAME_RGB="192 192 192"
readonly BLACK_RGB="0 0 0"
readonly GRID_MARGIN=2
# The default palette, by area index.
readonly -a DEFAULT_PALETTE=("#FFFF00" "#FF0000" "#FFFF00" "#FF0000" "#0000FF" "#00FFFF" "#0000FF" "#00FF00")
# Colour tolerance per channel when comparing screen pixels.
readonly TOLERANCE=3

_pids=()       # processes to end on exit, newest last
_bar_runs=0
QO_WINE=       # set by e2e_init_windows
QO_LAUNCHER=   # set by use_launcher
QO_INSTALLER=  # set by e2e_init_windows with an installer

log() { printf '# %s\n' "$*"; }
ok() { printf 'ok - %s\n' "$*"; }

fail() {
    printf 'FAIL: %s\n' "$*" >&2
    if [ -n "${BAR_DIR:-}" ] && [ -d "$BAR_DIR" ]; then
        printf -- '--- bar stdout:\n' >&2; cat "$BAR_DIR/stdout" >&2 2>/dev/null || true
        printf -- '--- bar stderr:\n' >&2; cat "$BAR_DIR/stderr" >&2 2>/dev/null || true
    fi
    exit 1
}

e2e_init() {
    [ $# -eq 3 ] || { echo "usage: $0 PROGRAM VIRTUAL_SWITCH_BOX SOURCE_DIR" >&2; exit 2; }
    QO_PROGRAM=$(realpath -- "$1")
    QO_BOX=$(realpath -- "$2")
    QO_SOURCE=$(realpath -- "$3")
    [ -x "$QO_PROGRAM" ] || fail "no program at $QO_PROGRAM"
    [ -x "$QO_BOX" ] || fail "no virtual switch box at $QO_BOX"
    _e2e_setup
    export QT_QPA_PLATFORM=xcb
}

# e2e_init_windows PACKAGE SOURCE_DIR WINEPREFIX: the same for the Windows
# program under Wine, instead of e2e_init. PACKAGE is the ZIP, unpacked into a
# fresh folder, or the installer, run silently with /AUTOSTART=1 in a fresh Wine
# prefix of its own (QO_INSTALLED: the installation's folder, QO_INSTALLER: the
# installer). Every run of the bar gets a copy of that folder (hard links, less
# the installer's config.json) as its working folder, as when it is started from
# Explorer. WINEPREFIX is made once per test run by the caller. Ends the script
# as skipped when Wine or the Windows build is missing. There is no switch box
# under Wine.
e2e_init_windows() {
    [ $# -eq 3 ] || { echo "usage: $0 ZIP|INSTALLER SOURCE_DIR WINEPREFIX" >&2; exit 2; }
    QO_SOURCE=$(realpath -- "$2")
    # shellcheck source=../../scripts/windows-env.sh
    source "$QO_SOURCE/scripts/windows-env.sh"
    skip_unless_windows
    [ -f "$1" ] || fail "no package at $1"
    _e2e_setup
    QO_WINE=1
    case $1 in
        *.exe)
            QO_INSTALLER=$(realpath -- "$1")
            new_wine_prefix "$WORK/wine" || fail "cannot make a Wine prefix in $WORK/wine"
            wine_env "$WORK/wine"
            wine_silently "$QO_INSTALLER" /S /AUTOSTART=1 || fail "the silent install failed"
            QO_INSTALLED_WIN="$(wine_expand '%LOCALAPPDATA%')\\Programs\\QuorvelOlvane"
            QO_INSTALLED=$(DISPLAY='' wine_unix_path "$QO_INSTALLED_WIN")
            wineserver -w
            [ -f "$QO_INSTALLED/QuorvelOlvane.exe" ] || fail "no QuorvelOlvane.exe in $QO_INSTALLED"
            QO_UNPACKED=$QO_INSTALLED
            ;;
        *)
            [ -f "$3/system.reg" ] || fail "no Wine prefix at $3"
            wine_env "$3"
            # A Wine server started without this X server would show no window on it.
            wineserver -k 2>/dev/null || true
            python3 -m zipfile -e "$1" "$WORK/unpacked" || fail "cannot unpack $1"
            QO_UNPACKED=$(find "$WORK/unpacked" -mindepth 2 -maxdepth 2 -name QuorvelOlvane.exe -printf '%h')
            [ -n "$QO_UNPACKED" ] || fail "no QuorvelOlvane.exe one folder down in $1"
            ;;
    esac
}

# wine_silently PROGRAM [ARGS...]: runs a Windows program without a display
# (an installer's silent run) and waits until it and all it started have
# ended; the Wine server is stopped, so that the next program finds the X server.
wine_silently() {
    local status=0
    DISPLAY='' wine "$@" >>"$WORK/wine-silent.log" 2>&1 || status=$?
    wineserver -w
    return "$status"
}
# wine_expand TEXT: TEXT with Windows' %VARIABLES% expanded, as a Windows path.
wine_expand() { DISPLAY='' wine cmd /c echo "$1" 2>/dev/null | tr -d '\r'; wineserver -w; }
# wine_unix_path WINDOWS_PATH: where that is in the Wine prefix.
wine_unix_path() { winepath -u "$1" 2>/dev/null; }
# wine_reg KEY [/v NAME]: `reg query`, its lines without carriage returns; fails where there is no such key or value.
wine_reg() { local out status=0; out=$(wine reg query "$@" 2>/dev/null) || status=$?; tr -d '\r' <<<"$out"; return "$status"; }

_e2e_setup() {
    local tool missing=()
    for tool in Xvfb openbox xdotool xwininfo xprop xev xdpyinfo import convert stdbuf; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    [ ${#missing[@]} -eq 0 ] || fail "missing ${missing[*]}: run scripts/setup.sh --tests"

    WORK=$(mktemp -d "${TMPDIR:-/tmp}/qo-e2e.XXXXXX")
    trap _e2e_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    mkdir -m 700 "$WORK/runtime"
    export XDG_RUNTIME_DIR=$WORK/runtime
    # The remembered geometry goes here, never into the real home.
    export XDG_STATE_HOME=$WORK/state
    unset WAYLAND_DISPLAY XAUTHORITY QT_SCALE_FACTOR QT_ENABLE_HIGHDPI_SCALING QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR
}

# --- time and polling -------------------------------------------------------

now_us() { echo "${EPOCHREALTIME/./}"; }

# wait_for SECONDS COMMAND [ARGS...]: runs COMMAND every 50 ms until it
# succeeds; fails once SECONDS (may be fractional) have passed without success.
wait_for() {
    local seconds=$1; shift
    local deadline
    deadline=$(( $(now_us) + $(awk -v s="$seconds" 'BEGIN { printf "%d", s * 1000000 }') ))
    while :; do
        "$@" && return 0
        [ "$(now_us)" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

# --- processes --------------------------------------------------------------

_alive() {
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

_descendants() {
    local child
    for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
        _descendants "$child"
        echo "$child"
    done
}

# Ends a process we started and everything below it, by process id.
_stop_tree() {
    local pid=$1 all p
    all=$(_descendants "$pid"; echo "$pid")
    for p in $all; do kill -TERM "$p" 2>/dev/null || true; done
    for p in $all; do
        wait_for 5 eval "! _alive $p" || kill -KILL "$p" 2>/dev/null || true
    done
    wait "$pid" 2>/dev/null || true
}

_e2e_cleanup() {
    local status=$? i
    trap - EXIT
    for (( i = ${#_pids[@]} - 1; i >= 0; i-- )); do
        _stop_tree "${_pids[$i]}"
    done
    # Wine's own server and services, in the prefix of this run only.
    [ -n "$QO_WINE" ] && { wineserver -k 2>/dev/null || true; }
    if [ -n "${WORK:-}" ] && [ -d "$WORK" ]; then
        if [ "${QO_E2E_KEEP:-0}" = 1 ]; then
            echo "# kept $WORK" >&2
        else
            rm -rf "$WORK"
        fi
    fi
    exit "$status"
}

_forget_pid() {
    local i
    for i in "${!_pids[@]}"; do [ "${_pids[$i]}" = "$1" ] && unset '_pids[i]'; done
    _pids=("${_pids[@]}")
}

# --- X server and window manager -----------------------------------------------

_wm_ready() {
    local check
    check=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | awk '/window id/ { print $NF }')
    [ -n "$check" ] && xprop -id "$check" _NET_WM_NAME 2>/dev/null | grep -q '"Openbox"'
}

# start_x: a 1920x1080 Xvfb on a free display (it reports the number through
# -displayfd), its root window white so that the bar's edges stand out in
# screenshots, then openbox with its configuration and cache in the scratch
# folder; returns once both answer.
start_x() {
    : > "$WORK/displayfd"
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset -wr \
        3>"$WORK/displayfd" >"$WORK/xvfb.log" 2>&1 &
    _pids+=($!)
    wait_for 15 grep -q '^[0-9][0-9]*$' "$WORK/displayfd" || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
    DISPLAY=:$(head -n 1 "$WORK/displayfd")
    export DISPLAY
    wait_for 10 eval 'xdpyinfo >/dev/null 2>&1' || fail "no X server on $DISPLAY"
    mkdir -p "$WORK/openbox/config" "$WORK/openbox/cache" "$WORK/openbox/data"
    XDG_CONFIG_HOME=$WORK/openbox/config XDG_CACHE_HOME=$WORK/openbox/cache XDG_DATA_HOME=$WORK/openbox/data \
        openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
    _pids+=($!)
    wait_for 10 _wm_ready || fail "openbox did not start: $(cat "$WORK/openbox.log")"
    log "X server $DISPLAY with openbox"
}

# work_area: the work area openbox publishes (_NET_WORKAREA of the first desktop), "X Y W H".
work_area() { xprop -root _NET_WORKAREA | sed 's/.*= //; s/,//g' | awk '{ print $1, $2, $3, $4 }'; }

_work_area_changed() { [ "$(work_area)" != "$1" ]; }

# start_panel top|bottom HEIGHT: a dock window along that edge of the screen
# reserving HEIGHT pixels, as a desktop's panel or taskbar does; returns once
# openbox has shrunk the work area for it.
start_panel() {
    [ -x "${QO_DOCK_PANEL:-}" ] || fail "no dock panel program in QO_DOCK_PANEL (${QO_DOCK_PANEL:-unset})"
    local before
    before=$(work_area)
    "$QO_DOCK_PANEL" "$1" "$2" >>"$WORK/panel.log" 2>&1 &
    _pids+=($!)
    wait_for 5 _work_area_changed "$before" \
        || fail "the work area stayed [$before] after a $1 panel of $2 pixels: $(cat "$WORK/panel.log")"
    log "$1 panel of $2 pixels: work area [$(work_area)]"
}

# --- the bar ----------------------------------------------------------------

# new_bar_dir: a fresh working folder for the next run of the bar, holding its
# icon (under Wine: the whole unpacked folder, the program in BAR_EXE), in
# BAR_DIR. Write a config.json into it before start_bar if wanted.
new_bar_dir() {
    _bar_runs=$((_bar_runs + 1))
    BAR_DIR=$WORK/bar$_bar_runs
    # The launcher's folder: quorvel-olvane in the config home (that of the login entry too).
    [ -n "$QO_LAUNCHER" ] && BAR_DIR=$WORK/config$_bar_runs/quorvel-olvane
    if [ -n "$QO_WINE" ]; then
        cp -al "$QO_UNPACKED" "$BAR_DIR"
        # As unpacked from the ZIP: without the installer's config.json.
        [ -n "${QO_INSTALLER:-}" ] && rm -f "$BAR_DIR/config.json"
        BAR_EXE=$BAR_DIR/QuorvelOlvane.exe
    else
        mkdir -p "$BAR_DIR/resources/icon"
        cp "$QO_SOURCE/resources/icon/icon.ico" "$BAR_DIR/resources/icon/icon.ico"
    fi
    BAR_WIN=
    BAR_PID=
}

# start_bar [--unplugged]: runs the bar in BAR_DIR (made by new_bar_dir if not
# yet) with the virtual switch box, or under Wine; stdout, stderr and, once it
# has ended, the exit status go to files in BAR_DIR (under Wine with Windows
# line ends). Environment assignments before the call reach the program.
# BAR_OUTPUT=closed starts it with stdout and stderr closed;
# BAR_OUTPUT=broken-pipe with stdout a pipe whose reader has gone.
start_bar() {
    if [ -z "${BAR_DIR:-}" ] || [ -e "$BAR_DIR/stdout" ]; then new_bar_dir; fi
    (
        cd "$BAR_DIR"
        status=0
        if [ -n "$QO_WINE" ]; then
            case ${BAR_OUTPUT:-files} in
                files) wine "$BAR_EXE" "$@" >"$BAR_DIR/stdout" 2>"$BAR_DIR/stderr" || status=$? ;;
                # As from Explorer: started through the shell (start.exe), so with no
                # console and no standard handles; /wait gives the program's exit status.
                closed) wine start /wait /unix "$BAR_EXE" "$@" </dev/null >/dev/null 2>&1 || status=$? ;;
            esac
        else
            export QUORVEL_PROGRAM=$QO_PROGRAM QUORVEL_SWITCH_BOX=$BAR_DIR/box
            if [ -n "$QO_LAUNCHER" ]; then
                export QUORVEL_PROGRAM=$QO_LAUNCHER XDG_CONFIG_HOME=${BAR_DIR%/quorvel-olvane}
                set -- --desktop "$@"
            fi
            case ${BAR_OUTPUT:-files} in
                files) "$QO_BOX" run "$@" >"$BAR_DIR/stdout" 2>"$BAR_DIR/stderr" || status=$? ;;
                closed) "$QO_BOX" run "$@" >&- 2>&- || status=$? ;;
                broken-pipe)
                    : > "$BAR_DIR/stdout"
                    set +e
                    "$QO_BOX" run "$@" 2>"$BAR_DIR/stderr" | true
                    status=${PIPESTATUS[0]}
                    ;;
            esac
        fi
        echo "$status" > "$BAR_DIR/status.tmp"
        mv "$BAR_DIR/status.tmp" "$BAR_DIR/status"
    ) &
    BAR_RUNNER=$!
    _pids+=("$BAR_RUNNER")
}

# use_launcher: the bars started from now on are started as the desktop entry
# and the login entry start them: through the launcher (quorvel-olvane
# --desktop) of an installation made here, each in its own config home.
use_launcher() {
    cmake --install "$(dirname "$QO_PROGRAM")" --prefix "$WORK/installed" >"$WORK/install.log" 2>&1 \
        || fail "cmake --install failed: $(cat "$WORK/install.log")"
    QO_LAUNCHER=$WORK/installed/bin/quorvel-olvane
}

bar_ended() { [ -e "$BAR_DIR/status" ]; }
bar_running() { ! bar_ended; }

_find_bar_window() {
    BAR_WIN=$(xdotool search --onlyvisible --name '^QuorvelOlvane$' 2>/dev/null | head -n 1) || true
    [ -n "$BAR_WIN" ] || bar_ended
}

# wait_bar_window: waits until the bar's window is mapped, in BAR_WIN, and its
# process id, in BAR_PID. Fails if the bar ends first.
wait_bar_window() {
    wait_for 20 _find_bar_window || fail "the bar's window did not appear"
    [ -n "$BAR_WIN" ] || fail "the bar ended with status $(cat "$BAR_DIR/status") before showing a window"
    BAR_PID=$(xprop -id "$BAR_WIN" _NET_WM_PID | awk '{ print $NF }')
    bar_geometry
}

# bar_geometry: the bar's position and size on screen, in BX BY BW BH.
bar_geometry() {
    read -r BX BY BW BH < <(xwininfo -id "$BAR_WIN" | awk '
        /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
        /^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF }
        END { print x, y, w, h }')
}

_geometry_is() { bar_geometry; [ "$BX $BY $BW $BH" = "$1" ]; }

# wait_geometry "X Y W H" [SECONDS]
wait_geometry() {
    wait_for "${2:-5}" _geometry_is "$1" || fail "bar at $BX $BY ${BW}x$BH, expected [$1]"
}

# wait_exit SECONDS: waits for the bar to end; its status in BAR_STATUS.
wait_exit() {
    wait_for "$1" bar_ended || return 1
    BAR_STATUS=$(cat "$BAR_DIR/status")
    wait "$BAR_RUNNER" 2>/dev/null || true
    _forget_pid "$BAR_RUNNER"
}

# box [--box K] COMMAND [ARGS]: press N, release N, raw HEX.., unplug, opened on
# the bar's box K (default 1); plug [--box K] [--serial S] [--port P].
box() { QUORVEL_SWITCH_BOX=$BAR_DIR/box "$QO_BOX" "$@"; }

# bar_threads: the bar's thread count, in BAR_THREADS, once it has held for a
# second (the toolkit may start threads of its own after the window is up).
_threads_held() {
    local now
    now=$(find "/proc/$BAR_PID/task" -mindepth 1 -maxdepth 1 | wc -l)
    if [ "$now" = "$BAR_THREADS" ]; then _held=$((_held + 1)); else BAR_THREADS=$now; _held=0; fi
    [ "$_held" -ge 20 ] # samples 50 ms apart
}
bar_threads() {
    BAR_THREADS=-1 _held=0
    wait_for 10 _threads_held || fail "the bar's thread count did not settle (last $BAR_THREADS)"
}

# count_lines TEXT FILE: how many lines of FILE start with TEXT.
count_lines() { awk -v t="$1" 'index($0, t) == 1 { n++ } END { print n + 0 }' "$2"; }
_has_lines() { [ "$(count_lines "$2" "$BAR_DIR/stdout")" -ge "$1" ]; }
# wait_stdout_lines N TEXT [SECONDS]: until stdout holds N lines led by TEXT.
wait_stdout_lines() {
    wait_for "${3:-5}" _has_lines "$1" "$2" \
        || fail "expected $1 line(s) led by '$2' on stdout, found $(count_lines "$2" "$BAR_DIR/stdout")"
}

# state_text_pixels: how many pixels inside the bar (its outline left out)
# are the outline's grey, as the text that tells the switch box's state is.
state_text_pixels() {
    local shot=$WORK/state.miff
    screenshot "$shot"
    convert "$shot" -crop "$((BW - 8))x$((BH - 8))+$((BX + 4))+$((BY + 4))" +repage -fuzz 1% \
        -fill black +opaque "rgb(${OUTLINE_RGB// /,})" -fill white -opaque "rgb(${OUTLINE_RGB// /,})" \
        -format '%[fx:int(mean*w*h+0.5)]' info:
}
_state_text_shown() { [ "$(state_text_pixels)" -ge 20 ]; }
_state_text_gone() { [ "$(state_text_pixels)" -eq 0 ]; }
# wait_state_text shown|gone [SECONDS]
wait_state_text() {
    wait_for "${2:-5}" "_state_text_$1" || fail "state text not $1 on the bar ($(state_text_pixels) grey pixels)"
}

# activate_bar: asks openbox to make the bar the active window and waits until it is.
_bar_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$BAR_WIN" ]; }
activate_bar() {
    _bar_active && return 0
    xdotool windowactivate "$BAR_WIN" >/dev/null 2>&1 || true
    wait_for 5 _bar_active || fail "the bar did not become the active window"
}

# pointer_to X Y: moves the pointer and waits until it is there (xdotool's own
# --sync waits for a motion that never comes when the pointer is there already).
_pointer_at() { [ "$(xdotool getmouselocation | awk '{ print $1, $2 }')" = "x:$1 y:$2" ]; }
pointer_to() {
    xdotool mousemove "$1" "$2"
    wait_for 3 _pointer_at "$1" "$2" || fail "the pointer did not reach ($1, $2)"
}

# press_key KEYS...: activates the bar and types KEYS into it.
press_key() {
    activate_bar
    xdotool key --clearmodifiers "$@"
}

# --- dialogs ----------------------------------------------------------------

_find_dialog() { DIALOG_WIN=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) && [ -n "$DIALOG_WIN" ]; }
_clipboard_holds() { xclip -selection clipboard -o 2>/dev/null | grep -qF "$1"; }

# wait_dialog TITLE_REGEX: waits until a window with that title is on screen, in DIALOG_WIN.
wait_dialog() { wait_for 20 _find_dialog "$1" || fail "no window titled $1"; }

# dialog_says TEXT: whether the dialog DIALOG_WIN holds TEXT, read as the user
# copies a message box's selectable text (a click into it, Ctrl+A, Ctrl+C),
# from the clipboard.
dialog_says() {
    command -v xclip >/dev/null || fail "xclip is not installed: run scripts/setup.sh --tests"
    xdotool windowactivate --sync "$DIALOG_WIN" 2>/dev/null || xdotool windowfocus --sync "$DIALOG_WIN"
    # A click into the text (top left, beside the icon), then all of it.
    xdotool mousemove --window "$DIALOG_WIN" 120 20 click 1
    xdotool key --clearmodifiers ctrl+a ctrl+c
    wait_for 5 _clipboard_holds "$1"
}

# --- screen -----------------------------------------------------------------

# screenshot FILE: the whole screen (MIFF is the quickest to write and read back).
screenshot() { import -silent -window root "$1"; }

# pixels FILE X Y [X Y ...]: "R G B" (0 to 255) of each point, one line each.
pixels() {
    local file=$1 format=''
    shift
    while [ $# -ge 2 ]; do
        format+="%[fx:int(255*p{$1,$2}.r+0.5)] %[fx:int(255*p{$1,$2}.g+0.5)] %[fx:int(255*p{$1,$2}.b+0.5)]\n"
        shift 2
    done
    convert "$file" -format "$format" info:
}

# near "R G B" "R G B": the two colours differ by at most TOLERANCE per channel.
near() {
    local -a first second
    read -r -a first <<< "$1"
    read -r -a second <<< "$2"
    local i d
    for i in 0 1 2; do
        d=$(( first[i] - second[i] ))
        [ "${d#-}" -le "$TOLERANCE" ] || return 1
    done
}

# lit_rgb "#RRGGBB" [OPACITY]: what a lit area shows on screen: the colour at
# alpha trunc(OPACITY * 255) over the black of the window (no compositor, so
# the window opacity itself changes nothing on screen).
lit_rgb() {
    awk -v c="${1#\#}" -v o="${2:-0.7}" 'BEGIN {
        a = int(o * 255); if (a > 255) a = 255; if (a < 0) a = 0
        for (i = 0; i < 3; i++) {
            v = 0; h = toupper(substr(c, 2 * i + 1, 2))
            for (j = 1; j <= 2; j++) v = v * 16 + index("0123456789ABCDEF", substr(h, j, 1)) - 1
            printf "%s%d", (i ? " " : ""), int(v * a / 255 + 0.5)
        }
        print ""
    }'
}

# area_cell AREA: the area's cell on screen as "X Y W H", from the bar's
# current geometry: the grid fills the window less its margin, cells of a
# quarter of its width and half its height, products truncated.
area_cell() {
    awk -v i="$1" -v bx="$BX" -v by="$BY" -v bw="$BW" -v bh="$BH" -v m="$GRID_MARGIN" 'BEGIN {
        cw = (bw - 2 * m) / 4; ch = (bh - 2 * m) / 2
        col = i % 4; row = int(i / 4)
        print bx + m + int(col * cw), by + m + int(row * ch), int(cw), int(ch)
    }'
}

# area_points: the centre of each area's cell, "X Y" for areas 0 to 7.
area_points() {
    local i x y w h
    for i in 0 1 2 3 4 5 6 7; do
        read -r x y w h < <(area_cell "$i")
        echo "$((x + w / 2)) $((y + h / 2))"
    done
}

# area_colors FILE: the colour shown at the centre of each area, one line per area.
area_colors() {
    # shellcheck disable=SC2046
    pixels "$1" $(area_points)
}

# expect_areas C0 C1 .. C7: each "R G B", or "-" for an area that must be dark.
_areas_match() {
    local shot=$WORK/areas.miff i
    screenshot "$shot"
    mapfile -t _seen < <(area_colors "$shot")
    for i in 0 1 2 3 4 5 6 7; do
        local expected=${_want[$i]}
        [ "$expected" = - ] && expected=$BLACK_RGB
        near "${_seen[$i]}" "$expected" || return 1
    done
}
# wait_areas SECONDS C0 .. C7: polls screenshots until the eight areas show these colours.
wait_areas() {
    local seconds=$1; shift
    _want=("$@")
    wait_for "$seconds" _areas_match || fail "areas show [$(printf '%s|' "${_seen[@]}")], expected [$(printf '%s|' "${_want[@]}")]"
}

# lit AREA...: the eight expected colours with these areas lit in the default
# palette at opacity 0.7 and the others dark.
lit() {
    local -a colours=(- - - - - - - -)
    local i
    for i in "$@"; do colours[i]=$(lit_rgb "${DEFAULT_PALETTE[$i]}"); done
    printf '%s\n' "${colours[@]}"
}

# wait_lit SECONDS AREA...: polls until exactly these areas are lit in the
# default palette and all others are dark.
wait_lit() {
    local seconds=$1; shift
    local -a colours
    mapfile -t colours < <(lit "$@")
    wait_areas "$seconds" "${colours[@]}"
}

# wait_corners AREA...: as wait_lit, the fills seen just inside each cell's
# top-left corner, clear of its label.
_corners_match() {
    local shot=$WORK/corners.miff i x y w h points=()
    screenshot "$shot"
    for i in 0 1 2 3 4 5 6 7; do
        read -r x y w h < <(area_cell "$i")
        points+=("$((x + 3))" "$((y + 3))")
    done
    mapfile -t _seen < <(pixels "$shot" "${points[@]}")
    for i in 0 1 2 3 4 5 6 7; do
        near "${_seen[$i]}" "${_want[$i]}" || return 1
    done
}
wait_corners() {
    mapfile -t _want < <(lit "$@" | sed "s/^-\$/$BLACK_RGB/")
    wait_for 5 _corners_match || fail "areas show [$(printf '%s|' "${_seen[@]}")], expected [$(printf '%s|' "${_want[@]}")]"
}

# --- checks of the bar on screen ---------------------------------------------------

# ink FILE AREA "R G B": the pixels of that colour inside the area's cell (its
# frame left out), as "COUNT DX DY": their number and how far the middle of
# their bounding box lies from the cell's middle.
ink() {
    local x y w h
    read -r x y w h < <(area_cell "$2")
    convert "$1" -crop "$((w - 1))x$((h - 1))+$((x + 1))+$((y + 1))" +repage -depth 8 txt:- | awk -v want="$3" \
        -v t="$TOLERANCE" -v w=$((w - 1)) -v h=$((h - 1)) '
        function abs(v) { return v < 0 ? -v : v }
        BEGIN { split(want, c, " "); minx = w; miny = h; maxx = -1; maxy = -1 }
        /^[0-9]/ {
            split($1, p, /[,:]/); v = $2; gsub(/[()]/, "", v); split(v, rgb, ",")
            if (abs(rgb[1] - c[1]) <= t && abs(rgb[2] - c[2]) <= t && abs(rgb[3] - c[3]) <= t) {
                n++
                if (p[1] < minx) minx = p[1]; if (p[1] > maxx) maxx = p[1]
                if (p[2] < miny) miny = p[2]; if (p[2] > maxy) maxy = p[2]
            }
        }
        END { printf "%d %d %d\n", n, (minx + maxx - w + 1) / 2, (miny + maxy - h + 1) / 2 }'
}

# expect_label FILE AREA "R G B" WHAT: the label is drawn in that colour, centred.
expect_label() {
    local n dx dy
    read -r n dx dy < <(ink "$1" "$2" "$3")
    [ "$n" -ge 20 ] || fail "area $2: label in $3 not found ($n pixels)"
    [ "${dx#-}" -le 3 ] && [ "${dy#-}" -le 3 ] || fail "area $2: label off centre by ($dx, $dy)"
    ok "area $2: label $4 ($3), centred"
}


# check_window WHAT: place, size and window-manager state of the bar in
# BAR_WIN; EXPECTED_GEOMETRY ("X Y W H") is set by the script.
check_window() {
    local what=$1
    [ "$BX $BY $BW $BH" = "$EXPECTED_GEOMETRY" ] \
        || fail "$what: bar at $BX,$BY ${BW}x$BH, expected $EXPECTED_GEOMETRY"
    ok "$what: ${BW}x$BH at ($BX, $BY), along the bottom of the ${SCREEN_W}x$SCREEN_H screen"

    xprop -id "$BAR_WIN" _NET_WM_STATE | grep -q '_NET_WM_STATE_ABOVE' \
        || fail "$what: not kept above: $(xprop -id "$BAR_WIN" _NET_WM_STATE)"
    ok "$what: _NET_WM_STATE_ABOVE set"

    # Undecorated: the frame openbox wraps around the window has exactly the
    # window's place and size, and openbox reports no frame extents.
    local parent frame
    parent=$(xwininfo -tree -id "$BAR_WIN" | awk '/Parent window id:/ { print $4 }')
    frame=$(xwininfo -id "$parent" | awk '
        /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
        /^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF } END { print x, y, w, h }')
    [ "$frame" = "$BX $BY $BW $BH" ] || fail "$what: decorated: frame $frame around a window at $BX $BY $BW $BH"
    xprop -id "$BAR_WIN" _NET_FRAME_EXTENTS | grep -q '= 0, 0, 0, 0$' \
        || fail "$what: frame extents $(xprop -id "$BAR_WIN" _NET_FRAME_EXTENTS)"
    local -a motif
    read -r -a motif < <(xprop -id "$BAR_WIN" _MOTIF_WM_HINTS | sed 's/.*= //; s/,//g')
    [ ${#motif[@]} -ge 3 ] && (( (motif[0] & 2) != 0 && motif[2] == 0 )) \
        || fail "$what: decorations asked for: $(xprop -id "$BAR_WIN" _MOTIF_WM_HINTS)"
    ok "$what: undecorated (no frame, decorations 0)"
}

# check_outline WHAT SHOT: the outermost ring of pixels is the (200, 200, 200) outline, the ring just
# inside it black (the window's own margin around the grid).
check_outline() {
    local what=$1 shot=$2
    local l=$BX t=$BY r=$((BX + BW - 1)) b=$((BY + BH - 1)) mx=$((BX + BW / 2)) my=$((BY + BH / 2))
    local -a outer inner
    mapfile -t outer < <(pixels "$shot" "$l" "$t" "$r" "$t" "$l" "$b" "$r" "$b" "$mx" "$t" "$mx" "$b" "$l" "$my" "$r" "$my")
    mapfile -t inner < <(pixels "$shot" $((l + 1)) $((t + 1)) $((r - 1)) $((t + 1)) $((l + 1)) $((b - 1)) \
        $((r - 1)) $((b - 1)) "$mx" $((t + 1)) "$mx" $((b - 1)) $((l + 1)) "$my" $((r - 1)) "$my")
    local i
    for i in "${!outer[@]}"; do
        near "${outer[$i]}" "$OUTLINE_RGB" || fail "$what: outline point $i is ${outer[$i]}, expected $OUTLINE_RGB"
        near "${inner[$i]}" "$BLACK_RGB" || fail "$what: point $i inside the outline is ${inner[$i]}, expected black"
    done
    ok "$what: outline ($OUTLINE_RGB) on the outermost ring, black inside it"
}

# check_area_frames WHAT SHOT C0 .. C7: every area has a light-grey frame along its left and top side (the right
# and bottom sides of the last column and row fall just outside the grid);
# inside the frame an area shows its fill, or black when dark.
check_area_frames() {
    local what=$1 shot=$2; shift 2
    local -a want=("$@") points=() seen
    local i x y w h
    for i in 0 1 2 3 4 5 6 7; do
        read -r x y w h < <(area_cell "$i")
        points+=("$x" "$((y + h / 2))"  "$((x + w / 2))" "$y"  "$((x + 1))" "$((y + h / 2))"  "$((x + w / 2))" "$((y + 1))")
    done
    mapfile -t seen < <(pixels "$shot" "${points[@]}")
    for i in 0 1 2 3 4 5 6 7; do
        local fill=${want[$i]}
        [ "$fill" = - ] && fill=$BLACK_RGB
        near "${seen[$((4 * i))]}" "$FRAME_RGB" || fail "$what: area $i left frame is ${seen[$((4 * i))]}"
        near "${seen[$((4 * i + 1))]}" "$FRAME_RGB" || fail "$what: area $i top frame is ${seen[$((4 * i + 1))]}"
        near "${seen[$((4 * i + 2))]}" "$fill" || fail "$what: area $i inside its left frame is ${seen[$((4 * i + 2))]}, expected $fill"
        near "${seen[$((4 * i + 3))]}" "$fill" || fail "$what: area $i inside its top frame is ${seen[$((4 * i + 3))]}, expected $fill"
    done
    ok "$what: each area framed in $FRAME_RGB"
}

# --- drags and the context menu ------------------------------------------------------

# The bar hands a left drag to openbox, which follows the pointer only once it
# has taken the drag over; until the bar shows the expected geometry, the
# pointer is nudged off the target and back so that openbox sees motion.
_follow() {
    local x=$1 y=$2 want=$3
    xdotool mousemove "$(( x > 0 ? x - 1 : x + 1 ))" "$y" mousemove "$x" "$y"
    wait_for 0.3 _geometry_is "$want"
}

# drag WHAT X1 Y1 X2 Y2 "X Y W H": a left drag from (X1, Y1) to (X2, Y2) in
# screen coordinates that must leave the bar at X Y with size W x H.
drag() {
    local what=$1 x1=$2 y1=$3 x2=$4 y2=$5 want=$6 before="$BX $BY $BW $BH"
    # Now and then the drag is not taken up at all (the bar does not move): under
    # Wine its move or resize loop can end before it has seen the button held,
    # and on a busy machine openbox can miss the start of a move right after
    # another button's drag. One more try, as a user would; a bar that moves
    # wrongly still fails at once.
    local tries=2
    while :; do
        pointer_to "$x1" "$y1"
        xdotool mousedown 1
        wait_for 5 _follow "$x2" "$y2" "$want" && break
        xdotool mouseup 1
        tries=$((tries - 1))
        if [ "$tries" -gt 0 ] && _geometry_is "$before"; then
            log "$what: the drag was not taken up; once more"
            continue
        fi
        fail "$what: bar at $BX $BY ${BW}x$BH after dragging ($x1, $y1) to ($x2, $y2) from $before, expected $want"
    done
    xdotool mouseup 1
    # After the release the pointer's last position counts no more.
    pointer_to "$(( x2 > 0 ? x2 - 1 : x2 + 1 ))" "$y2"
    wait_geometry "$want"
    ok "$what: ($x1, $y1) to ($x2, $y2) took the bar from [$before] to [$want]"
}

# _find_menu: the context menu, a mapped override-redirect window of the bar's
# that stands for the bar, in MENU_WIN.
_find_menu() {
    MENU_WIN=
    local w class='^QuorvelOlvane$'
    # Wine names the class after the program's file and marks no menu as transient.
    [ -n "$QO_WINE" ] && class='^quorvelolvane\.exe$'
    for w in $(xdotool search --onlyvisible --class "$class" 2>/dev/null); do
        [ "$w" = "$BAR_WIN" ] && continue
        xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' || continue
        [ -n "$QO_WINE" ] || xprop -id "$w" WM_TRANSIENT_FOR 2>/dev/null | grep -qi "$(printf '0x%x' "$BAR_WIN")\$" || continue
        MENU_WIN=$w
        return 0
    done
    return 1
}
_no_menu() { ! _find_menu; }

open_menu() {
    pointer_to "$1" "$2"
    xdotool click 3
    wait_for 5 _find_menu || fail "no menu after a right click at ($1, $2)"
    read -r MX MY MW MH < <(xwininfo -id "$MENU_WIN" | awk '
        /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
        /^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF } END { print x, y, w, h }')
}

# --- window properties ----------------------------------------------------------------

_opacity_is() {
    local value
    value=$(xprop -id "$BAR_WIN" _NET_WM_WINDOW_OPACITY | awk '{ print $NF }')
    BAR_OPACITY=$(awk -v v="$value" 'BEGIN { if (v ~ /^[0-9]+$/) printf "%.3f", v / 4294967295; else print "none" }')
    awk -v v="$BAR_OPACITY" -v want="$1" 'BEGIN { exit !(v != "none" && v - want < 0.005 && want - v < 0.005) }'
}
# wait_opacity OPACITY [SECONDS]: until the bar's window opacity property is OPACITY.
wait_opacity() {
    wait_for "${2:-5}" _opacity_is "$1" || fail "window opacity $BAR_OPACITY, expected $1"
}

# --- a screen reader's view ------------------------------------------------------------

# start_atspi: the accessibility bus on the session bus of this script, which
# must run inside dbus-run-session (see e2e_settings.sh); programs started
# afterwards with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 appear on it.
start_atspi() {
    [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || fail "no session bus: run the script inside dbus-run-session"
    local launcher
    for launcher in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
        [ -x "$launcher" ] && break
    done
    [ -x "$launcher" ] || fail "no at-spi-bus-launcher: run scripts/setup.sh --tests"
    "$launcher" --launch-immediately >"$WORK/atspi.log" 2>&1 &
    _pids+=($!)
    wait_for 10 atspi_ready || fail "the accessibility bus did not start: $(cat "$WORK/atspi.log")"
    log "accessibility bus up"
}
atspi_ready() { dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1; }

# atspi COMMAND NAME [ARG]: drives the bar's windows by accessible name (see atspi.py),
# with Debian's pyatspi, which only the system's Python has.
atspi() { /usr/bin/python3 "$QO_SOURCE/tests/e2e/atspi.py" "$@" || fail "atspi $*"; }

# --- a tiling Wayland compositor -------------------------------------------------------

# start_sway: Debian's sway, headless, with XWayland (started by sway when the
# first X client connects) and one 1920x1080 output. Sway refuses to run as
# root, so under root it runs as "nobody", as does everything started with
# as_desktop_user; $WORK is opened up for that. Ends the script as skipped
# (status 77) when sway, Xwayland or a way to drop root is missing. Sets
# SWAYSOCK, WAYLAND_DISPLAY and DISPLAY (XWayland's) for as_desktop_user.
start_sway() {
    local tool
    for tool in sway swaymsg Xwayland python3; do
        command -v "$tool" >/dev/null 2>&1 \
            || { echo "skipped: no $tool (Debian's sway, xwayland: scripts/setup.sh --tests)"; exit 77; }
    done
    DESKTOP_AS=()
    SWAY_DIR=$WORK/sway
    mkdir -p "$SWAY_DIR/home"
    mkdir -m 700 "$SWAY_DIR/run"
    if [ "$(id -u)" -eq 0 ]; then
        command -v setpriv >/dev/null 2>&1 || { echo "skipped: running as root without setpriv to drop root for sway"; exit 77; }
        DESKTOP_AS=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
        # Made by sway, the X socket folder would be nobody's and closed to other users.
        [ -d /tmp/.X11-unix ] || install -d -m 1777 /tmp/.X11-unix
        chmod 755 "$WORK"
        chown nobody:nogroup "$SWAY_DIR/home" "$SWAY_DIR/run"
        "${DESKTOP_AS[@]}" test -x "$SWAY_DIR/run" \
            || { echo "skipped: user nobody cannot reach $WORK (a folder above it is closed to other users)"; exit 77; }
    fi
    printf '%s\n' 'xwayland enable' 'output HEADLESS-1 resolution 1920x1080 position 0 0' >"$SWAY_DIR/config"
    "${DESKTOP_AS[@]}" env -i PATH="$PATH" HOME="$SWAY_DIR/home" XDG_RUNTIME_DIR="$SWAY_DIR/run" \
        WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        sway -c "$SWAY_DIR/config" >"$SWAY_DIR/sway.log" 2>&1 &
    SWAY_PID=$!
    _pids+=("$SWAY_PID")
    wait_for 15 eval 'compgen -G "$SWAY_DIR/run/sway-ipc.*.sock" >/dev/null' \
        || fail "sway did not start: $(tail -n 20 "$SWAY_DIR/sway.log")"
    SWAYSOCK=$(compgen -G "$SWAY_DIR/run/sway-ipc.*.sock" | head -n 1)
    WAYLAND_DISPLAY=$(find "$SWAY_DIR/run" -maxdepth 1 -type s -name 'wayland-*' -printf '%f\n' | head -n 1)
    # XWayland's display: the X lock file that names sway's process.
    local lock=
    _sway_x() {
        lock=$(grep -lx " *$SWAY_PID *" /tmp/.X*-lock 2>/dev/null | head -n 1)
        [ -n "$lock" ]
    }
    wait_for 10 _sway_x || fail "sway opened no X display: $(tail -n 20 "$SWAY_DIR/sway.log")"
    DISPLAY=:$(basename "$lock" | tr -dc 0-9)
    log "sway $SWAYSOCK, Wayland $WAYLAND_DISPLAY, XWayland $DISPLAY"
}

# as_desktop_user COMMAND [ARGS...]: runs COMMAND in sway's session, as sway's user,
# with a clean environment (no session bus: nothing is started for one).
as_desktop_user() {
    "${DESKTOP_AS[@]}" env -i PATH="$PATH" HOME="$SWAY_DIR/home" XDG_RUNTIME_DIR="$SWAY_DIR/run" \
        WAYLAND_DISPLAY="$WAYLAND_DISPLAY" DISPLAY="$DISPLAY" SWAYSOCK="$SWAYSOCK" LC_ALL=C.UTF-8 \
        DBUS_SESSION_BUS_ADDRESS="unix:path=$SWAY_DIR/no-bus" "$@"
}

sway_msg() { as_desktop_user swaymsg "$@"; }

# sway_window CLASS: the window of that X class (or Wayland app_id) in sway's
# tree, as "TYPE sticky|- focused|- X Y W H WORKSPACE", or nothing.
sway_window() {
    sway_msg -t get_tree | python3 -c '
import json, sys
want = sys.argv[1]
def walk(node, workspace):
    if node.get("type") == "workspace":
        workspace = node.get("name")
    props = node.get("window_properties") or {}
    if want in (props.get("class"), node.get("app_id")):
        r = node["rect"]
        print(node["type"], "sticky" if node.get("sticky") else "-", "focused" if node.get("focused") else "-",
              r["x"], r["y"], r["width"], r["height"], workspace)
        sys.exit(0)
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child, workspace)
walk(json.load(sys.stdin), None)' "$1"
}

# sway_visible_workspace: the name of the workspace shown on the output.
sway_visible_workspace() {
    sway_msg -t get_workspaces | python3 -c '
import json, sys
print(next(w["name"] for w in json.load(sys.stdin) if w.get("visible")))'
}
