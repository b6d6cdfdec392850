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
    export QT_QPA_PLATFORM=xcb
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
# icon, in BAR_DIR. Write a config.json into it before start_bar if wanted.
new_bar_dir() {
    _bar_runs=$((_bar_runs + 1))
    BAR_DIR=$WORK/bar$_bar_runs
    mkdir -p "$BAR_DIR/resources/icon"
    cp "$QO_SOURCE/resources/icon/icon.ico" "$BAR_DIR/resources/icon/icon.ico"
    BAR_WIN=
    BAR_PID=
}

# start_bar [--unplugged]: runs the bar in BAR_DIR (made by new_bar_dir if not
# yet) with the virtual switch box; stdout, stderr and, once it has ended, the
# exit status go to files in BAR_DIR. Environment assignments before the call
# reach the program.
start_bar() {
    if [ -z "${BAR_DIR:-}" ] || [ -e "$BAR_DIR/stdout" ]; then new_bar_dir; fi
    (
        cd "$BAR_DIR"
        status=0
        QUORVEL_PROGRAM=$QO_PROGRAM QUORVEL_SWITCH_BOX=$BAR_DIR/box \
            "$QO_BOX" run "$@" >"$BAR_DIR/stdout" 2>"$BAR_DIR/stderr" || status=$?
        echo "$status" > "$BAR_DIR/status.tmp"
        mv "$BAR_DIR/status.tmp" "$BAR_DIR/status"
    ) &
    BAR_RUNNER=$!
    _pids+=("$BAR_RUNNER")
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

# box COMMAND [ARGS]: press N, release N, raw HEX.., unplug on the bar's box.
box() { QUORVEL_SWITCH_BOX=$BAR_DIR/box "$QO_BOX" "$@"; }

# count_lines TEXT FILE: how many lines of FILE start with TEXT.
count_lines() { awk -v t="$1" 'index($0, t) == 1 { n++ } END { print n + 0 }' "$2"; }
_has_lines() { [ "$(count_lines "$2" "$BAR_DIR/stdout")" -ge "$1" ]; }
# wait_stdout_lines N TEXT [SECONDS]: until stdout holds N lines led by TEXT.
wait_stdout_lines() {
    wait_for "${3:-5}" _has_lines "$1" "$2" \
        || fail "expected $1 line(s) led by '$2' on stdout, found $(count_lines "$2" "$BAR_DIR/stdout")"
}

# activate_bar: asks openbox to make the bar the active window and waits until it is.
_bar_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$BAR_WIN" ]; }
activate_bar() {
    _bar_active && return 0
    xdotool windowactivate "$BAR_WIN" >/dev/null 2>&1 || true
    wait_for 5 _bar_active || fail "the bar did not become the active window"
}

# press_key KEYS...: activates the bar and types KEYS into it.
press_key() {
    activate_bar
    xdotool key --clearmodifiers "$@"
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
