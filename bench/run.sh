#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Builds the benchmarks and runs them all on a private virtual X server;
# prints every figure with its target and whether it holds.
#
#   bench/run.sh                  everything (about four minutes)
#   QO_BENCH_RUNS=20 bench/run.sh more start-up runs (default 12 of each)
#   QO_BENCH_CPU_RUNS=5 bench/run.sh more CPU runs (default 3 of each)
#   QO_BENCH_ONLY="startup cpu" bench/run.sh
#                                 only some parts: startup (figures 1, 2, in
#                                 three D-Bus conditions),
#                                 cpu (3), waiting (3, a missing box with
#                                 reconnection), boxes (3, four boxes against
#                                 one), latency (4), commands (4, with a
#                                 command on the switch), paint (5), memory (6),
#                                 mqtt (7: press to published message and to a
#                                 mirror bar, CPU connected and idle; needs
#                                 Debian's mosquitto), settings (8: start-up
#                                 and idle CPU with 設定… in the bar's menu,
#                                 memory across opening the settings window),
#                                 sway-placement (9: the window mapped to
#                                 floating at its place on a headless sway,
#                                 10 runs; needs Debian's sway)
#
# QO_BENCH_BUILD names the build folder (default build/bench); raw figures are
# kept in $QO_BENCH_BUILD/bench-results.txt, the programs' output in
# $QO_BENCH_BUILD/bench-logs/.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${QO_BENCH_BUILD:-$source_dir/build/bench}
runs=${QO_BENCH_RUNS:-12}
cpu_seconds=${QO_BENCH_CPU_SECONDS:-10}
cpu_runs=${QO_BENCH_CPU_RUNS:-3}
only=" ${QO_BENCH_ONLY:-startup cpu waiting boxes latency commands paint memory mqtt settings sway-placement} "
wanted() { [[ $only == *" $1 "* ]]; }

if [ -z "${QO_BENCH_IN_RT:-}" ]; then # built once, before any change of priority
    "$source_dir/scripts/setup.sh" --tests
    echo "== building in $build" >&2
    cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQO_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" -j2 --target qo_bench >/dev/null
fi

# Other work on the machine shows up as noise in the timings. Where allowed
# (root), the timed parts run under a real-time policy, which the programs
# and the X server inherit; CPU use and the long memory run are measured as
# ordinary processes at a raised priority.
# QO_BENCH_RT=0 turns this off.
if [ "${QO_BENCH_RT:-1}" = 1 ] && [ -z "${QO_BENCH_IN_RT:-}" ] && chrt -f 10 true 2>/dev/null; then
    QO_BENCH_IN_RT=1 exec chrt -f 10 "$0" "$@"
fi
renice -n -10 $$ >/dev/null 2>&1 || true
ordinary() { if [ -n "${QO_BENCH_IN_RT:-}" ]; then chrt -o 0 "$@"; else "$@"; fi; }

work=$(mktemp -d /tmp/qo-bench.XXXXXX)
logs=$build/bench-logs
rm -rf "$logs"; mkdir -p "$logs"
xvfb_pid=
bus_pid=
cleanup() {
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "bench: failed; logs in $logs" >&2' ERR

# The bar runs in a folder of its own, as installed: its icon, a config.json
# that colours all eight areas, and the virtual switch box's pipe.
mkdir -p "$work/run/resources/icon"
cp "$source_dir/resources/icon/icon.ico" "$work/run/resources/icon/"
cat > "$work/run/config.json" <<'JSON'
{
  "bar": { "opacity": 0.85 },
  "areas": {
    "0": { "color": "#FFD400" }, "1": { "color": "#E53935" },
    "2": { "color": "#FFD400" }, "3": { "color": "#E53935" },
    "4": { "color": "#1E88E5" }, "5": { "color": "#00ACC1" },
    "6": { "color": "#1E88E5" }, "7": { "color": "#43A047" }
  }
}
JSON
mkdir -m 700 "$work/xdg" "$work/home"
export XDG_RUNTIME_DIR=$work/xdg
# No session bus: the toolkit would otherwise start dbus-launch in the
# background of every run, bar and floor alike, and add noise to both. Start-up
# alone is also measured with a session bus and with no address at all.
no_bus=unix:path=$work/no-session-bus
export DBUS_SESSION_BUS_ADDRESS=$no_bus
pipe=$work/switch-box
mkfifo -m 600 "$pipe"

# A virtual X server on the first free display, no window manager.
displayfd=$work/display
Xvfb -displayfd 5 -noreset -screen 0 1920x1080x24 -nolisten tcp 5>"$displayfd" 2>"$work/xvfb.log" &
xvfb_pid=$!
x_ready() {
    [ -s "$displayfd" ] && DISPLAY=:$(head -n1 "$displayfd") xdpyinfo >/dev/null 2>&1
}
for _ in $(seq 1 200); do
    x_ready && break
    sleep 0.05
done
x_ready || { echo "bench: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$displayfd")
echo "== virtual X server on $DISPLAY" >&2

results=$build/bench-results.txt
{
    echo "machine_cpus $(nproc)"
    read -r load1 _ < /proc/loadavg
    echo "machine_load_before $load1"
    echo "machine_realtime ${QO_BENCH_IN_RT:-0}"
} > "$results"
record() { # prefix, then "name value" lines on stdin
    sed "s/^/$1/" >> "$results"
}

proc=$build/bench/qo_bench_proc
bar_env=(--env "LD_PRELOAD=$build/libquorvel_virtual_switch_box.so" --env "QUORVEL_SWITCH_BOX=$pipe")
run_bar() { # mode, options...
    local mode=$1; shift
    "$proc" "$mode" --title QuorvelOlvane --cwd "$work/run" --log "$logs/bar.log" "${bar_env[@]}" "$@" \
        -- "$build/QuorvelOlvane"
}
run_floor() {
    "$proc" startup --title "QuorvelOlvane floor" --cwd "$work/run" --log "$logs/floor.log" \
        -- "$build/bench/qo_bench_floor"
}

if wanted startup; then
# Qt talks to the session bus while it starts (the accessibility bridge), so
# start-up is measured where the bar meets each kind of session:
#   bus    a session bus is running, as on a desktop (a private dbus-daemon);
#   nobus  DBUS_SESSION_BUS_ADDRESS names a bus that is not there;
#   unset  no DBUS_SESSION_BUS_ADDRESS at all (autostart before the bus is up,
#          a bare X session, CI): libdbus runs dbus-launch --autolaunch, which
#          starts one bus for the display on the first run and finds it after.
# Each condition has one run of each program to warm up, not counted.
if ! command -v dbus-daemon >/dev/null || ! command -v dbus-launch >/dev/null; then
    echo "bench: start-up needs dbus-daemon and dbus-launch (dbus-x11)" >&2
    exit 1
fi
dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 3>"$work/bus-address" 4>"$work/bus-pid"
bus_pid=$(cat "$work/bus-pid")
bus_address=$(head -n1 "$work/bus-address")
in_condition() { # condition, command...
    local condition=$1; shift
    (
        case $condition in
        bus) export DBUS_SESSION_BUS_ADDRESS=$bus_address ;;
        nobus) export DBUS_SESSION_BUS_ADDRESS=$no_bus ;;
        unset) # dbus-launch notes the bus it starts in ~/.dbus: here, not in the user's home
            unset DBUS_SESSION_BUS_ADDRESS
            export HOME=$work/home
            ;;
        esac
        "$@"
    )
}
for condition in bus nobus unset; do
    echo "== start-up and peak memory, $condition: $runs runs of each, alternating" >&2
    in_condition "$condition" run_floor > /dev/null
    in_condition "$condition" run_bar startup > /dev/null
    for i in $(seq 1 "$runs"); do
        if (( i % 2 )); then
            in_condition "$condition" run_floor | record "${condition}_floor_"
            in_condition "$condition" run_bar startup | record "${condition}_bar_"
        else
            in_condition "$condition" run_bar startup | record "${condition}_bar_"
            in_condition "$condition" run_floor | record "${condition}_floor_"
        fi
    done
done
fi

if wanted cpu; then
echo "== CPU while polling: ${cpu_seconds} s with no reports and ${cpu_seconds} s at 10 reports a second," \
     "$cpu_runs runs of each, alternating with the polling floor" >&2
# CPU time is a cost, not a latency: measured under ordinary scheduling.
cpu() { # what, rate, then the program and its arguments
    local what=$1 rate=$2; shift 2
    local title=QuorvelOlvane
    [ "$what" = floor ] && title="QuorvelOlvane floor"
    # Both poll the virtual switch box: the same device cost on each side.
    ordinary "$proc" cpu --title "$title" --cwd "$work/run" --log "$logs/$what.log" "${bar_env[@]}" \
        --seconds "$cpu_seconds" --rate "$rate" --pipe "$pipe" -- "$@"
}
for i in $(seq 1 "$cpu_runs"); do
    for rate in 0 10; do
        key=$([ "$rate" = 0 ] && echo idle || echo busy)
        if (( i % 2 )); then
            cpu floor "$rate" "$build/bench/qo_bench_floor" --poll | record "floor_${key}_"
            cpu bar "$rate" "$build/QuorvelOlvane" | record "${key}_"
        else
            cpu bar "$rate" "$build/QuorvelOlvane" | record "${key}_"
            cpu floor "$rate" "$build/bench/qo_bench_floor" --poll | record "floor_${key}_"
        fi
    done
done
fi

# The bar with no reports, in FOLDER, its first virtual switch box's pipe at PIPE.
idle_cpu() { # folder, pipe, log
    ordinary "$proc" cpu --title QuorvelOlvane --cwd "$1" --log "$logs/$3" \
        --env "LD_PRELOAD=$build/libquorvel_virtual_switch_box.so" --env "QUORVEL_SWITCH_BOX=$2" \
        --seconds "$cpu_seconds" --rate 0 -- "$build/QuorvelOlvane"
}
# The same bar and colours in another folder, with these members added to config.json
# (members without "/": they go into a sed expression).
variant() { # folder, JSON members
    mkdir -p "$1/resources/icon"
    cp "$source_dir/resources/icon/icon.ico" "$1/resources/icon/"
    sed "s/^{\$/{\n  $2,/" "$work/run/config.json" > "$1/config.json"
}

if wanted waiting; then
echo "== CPU while waiting for a missing box with reconnection: ${cpu_seconds} s, $cpu_runs runs," \
     "alternating with the bar polling a box" >&2
# Told to wait for a box that never comes.
variant "$work/waiting" '"device": { "reconnect": true, "show_state": true }'
for i in $(seq 1 "$cpu_runs"); do
    if (( i % 2 )); then
        idle_cpu "$work/waiting" "$work/no-box" waiting.log | record "waiting_"
        idle_cpu "$work/run" "$pipe" waiting-polling.log | record "waiting_polling_"
    else
        idle_cpu "$work/run" "$pipe" waiting-polling.log | record "waiting_polling_"
        idle_cpu "$work/waiting" "$work/no-box" waiting.log | record "waiting_"
    fi
done
grep -q "エラー: no switch box" "$logs/waiting.log" || { echo "bench: the waiting bar did not miss its box" >&2; exit 1; }
fi

if wanted boxes; then
echo "== CPU while polling four boxes with no reports: ${cpu_seconds} s, $cpu_runs runs," \
     "alternating with the bar polling one box" >&2
# Four boxes plugged in, each at its own port, read by the one reader.
variant "$work/boxes" '"devices": [ { "port": "1-1" }, { "port": "1-2" }, { "port": "1-3" }, { "port": "1-4" } ]'
boxes_pipe=$work/boxes/switch-box
for k in "" .2 .3 .4; do mkfifo -m 600 "$boxes_pipe$k"; done
# A figure for four boxes means nothing unless the bar reads all four: a short
# run first, in which each box must find the bar reading it.
all_opened() {
    local k
    for k in 1 2 3 4; do
        QUORVEL_SWITCH_BOX=$boxes_pipe "$build/virtual-switch-box" --box "$k" opened || return 1
    done
}
(cpu_seconds=3; idle_cpu "$work/boxes" "$boxes_pipe" boxes-check.log > /dev/null) &
check=$!
opened=0
for _ in $(seq 1 50); do
    all_opened && { opened=1; break; }
    sleep 0.05
done
wait "$check"
[ "$opened" = 1 ] || { echo "bench: the bar did not open all four boxes; log in $logs/boxes-check.log" >&2; exit 1; }
for i in $(seq 1 "$cpu_runs"); do
    if (( i % 2 )); then
        idle_cpu "$work/boxes" "$boxes_pipe" boxes.log | record "boxes_four_"
        idle_cpu "$work/run" "$pipe" boxes-one.log | record "boxes_one_"
    else
        idle_cpu "$work/run" "$pipe" boxes-one.log | record "boxes_one_"
        idle_cpu "$work/boxes" "$boxes_pipe" boxes.log | record "boxes_four_"
    fi
done
! grep -q "エラー" "$logs/boxes.log" || { echo "bench: the bar lost a box while measured" >&2; exit 1; }
fi

harness=$build/bench/qo_bench_harness
if wanted settings; then
echo "== settings_in_menu on and off: start-up ($runs runs of each) and CPU with no reports" \
     "(${cpu_seconds} s, $cpu_runs runs of each), alternating; memory across opening the settings window" >&2
mkdir -p "$work/settings"
cp -r "$work/run/resources" "$work/settings/"
python3 -c 'import json, sys
config = json.load(open(sys.argv[1]))
config["bar"]["settings_in_menu"] = True
json.dump(config, sys.stdout, ensure_ascii=False)' "$work/run/config.json" > "$work/settings/config.json"
run_settings_bar() { # folder
    "$proc" startup --title QuorvelOlvane --cwd "$1" --log "$logs/settings-bar.log" "${bar_env[@]}" \
        -- "$build/QuorvelOlvane"
}
run_settings_bar "$work/settings" > /dev/null
for i in $(seq 1 "$runs"); do
    if (( i % 2 )); then
        run_settings_bar "$work/settings" | record "settings_on_"
        run_settings_bar "$work/run" | record "settings_off_"
    else
        run_settings_bar "$work/run" | record "settings_off_"
        run_settings_bar "$work/settings" | record "settings_on_"
    fi
done
for i in $(seq 1 "$cpu_runs"); do
    idle_cpu "$work/settings" "$pipe" settings-idle.log | record "settings_idle_on_"
    idle_cpu "$work/run" "$pipe" settings-idle-off.log | record "settings_idle_off_"
done
(cd "$work/settings" && ordinary "$harness" settings --cycles 10) 2>>"$logs/harness.log" | record "settings_window_"
fi
# Report to screen with a label in every area: the colours above, labelled.
mkdir -p "$work/labels"
cp -r "$work/run/resources" "$work/labels/"
cat > "$work/labels/config.json" <<'JSON'
{
  "bar": { "opacity": 0.85 },
  "areas": {
    "0": { "color": "#FFD400", "label": "REC" }, "1": { "color": "#E53935", "label": "MUTE" },
    "2": { "color": "#FFD400", "label": "CAM" }, "3": { "color": "#E53935", "label": "TALK" },
    "4": { "color": "#1E88E5", "label": "CH 1" }, "5": { "color": "#00ACC1", "label": "CH 2" },
    "6": { "color": "#1E88E5", "label": "CH 3" }, "7": { "color": "#43A047", "label": "ライブ" }
  }
}
JSON
if wanted latency; then
    echo "== report to screen: 1,000 reports through the reader, all areas labelled" >&2
    (cd "$work/labels" && "$harness" latency --reports 1000) 2>>"$logs/harness.log" | record "latency_"
fi
if wanted commands; then
    # The same, with each press and release of the switch also starting a
    # program: what starting a command costs the screen. A report that comes
    # while the switch's last command still runs skips it, as the bar does.
    echo "== report to screen with a command on the switch: 1,000 reports, each starting /bin/true" >&2
    mkdir -p "$work/commands"
    cp -r "$work/run/resources" "$work/commands/"
    python3 -c 'import json, sys
config = json.load(open(sys.argv[1]))
config["commands"] = {"2": {"on": ["/bin/true", "on"], "off": ["/bin/true", "off"]}}
json.dump(config, sys.stdout, ensure_ascii=False)' "$work/labels/config.json" > "$work/commands/config.json"
    (cd "$work/commands" && "$harness" latency --reports 1000) 2>>"$logs/harness.log" \
        | tee -a "$logs/commands.log" | sed '/^\[commands\]/d' | record "commands_"
fi
if wanted paint; then
    echo "== grid paint, 3840 x 160, all areas lit, without and with labels" >&2
    (cd "$work/run" && "$harness" paint --width 3840 --height 160 --iterations 1000) 2>>"$logs/harness.log" | record "paint_"
    (cd "$work/run" && "$harness" paint --width 3840 --height 160 --iterations 1000 --labels) \
        2>>"$logs/harness.log" | record "paint_labels_"
fi
if wanted memory; then
    echo "== memory across 100,000 reports" >&2
    (cd "$work/run" && ordinary "$harness" memory --reports 100000) 2>>"$logs/harness.log" | record "memory_"
fi

if wanted mqtt; then
command -v mosquitto >/dev/null || { echo "bench: mqtt needs Debian's mosquitto (scripts/setup.sh --tests)" >&2; exit 1; }
mqtt_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nuser %s\n' "$mqtt_port" "$(id -un)" \
    > "$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" > "$logs/mosquitto.log" 2>&1 &
broker_pid=$!
for _ in $(seq 1 100); do grep -q running "$logs/mosquitto.log" && break; sleep 0.05; done
mqtt_member() { echo "\"mqtt\": { \"host\": \"127.0.0.1\", \"port\": $mqtt_port, \"topic\": \"$1\"${2:-} }"; }

echo "== CPU while connected to a local broker, no reports: ${cpu_seconds} s, $cpu_runs runs," \
     "alternating with the bar polling a box without \"mqtt\"" >&2
variant "$work/mqtt" "$(mqtt_member bench-idle)"
for i in $(seq 1 "$cpu_runs"); do
    if (( i % 2 )); then
        idle_cpu "$work/mqtt" "$pipe" mqtt.log | record "mqtt_idle_"
        idle_cpu "$work/run" "$pipe" mqtt-polling.log | record "mqtt_polling_"
    else
        idle_cpu "$work/run" "$pipe" mqtt-polling.log | record "mqtt_polling_"
        idle_cpu "$work/mqtt" "$pipe" mqtt.log | record "mqtt_idle_"
    fi
done
grep -q "MQTT: connected" "$logs/mqtt.log" || { echo "bench: the bar did not connect to the broker" >&2; exit 1; }

echo "== press to published message and to a mirror bar's grid: 200 presses and releases" >&2
variant "$work/mqtt-first" "$(mqtt_member bench-first)"
variant "$work/mqtt-mirror" "$(mqtt_member bench-mirror ', "mirror": "bench-first"')"
(cd "$work/mqtt-first" && LD_PRELOAD=$build/libquorvel_virtual_switch_box.so QUORVEL_SWITCH_BOX=$pipe \
    exec "$build/QuorvelOlvane" > "$logs/mqtt-first.log" 2>&1) &
first_pid=$!
(cd "$work/mqtt-mirror" && exec "$build/QuorvelOlvane" > "$logs/mqtt-mirror.log" 2>&1) &
mirror_pid=$!
python3 "$source_dir/bench/mqtt_latency.py" "$mqtt_port" bench-first bench-mirror "$pipe" 200 | record "mqtt_"
kill "$first_pid" "$mirror_pid" "$broker_pid"
wait "$first_pid" "$mirror_pid" "$broker_pid" 2>/dev/null || true
fi

if wanted sway-placement; then
echo "== headless sway: window mapped to floating at its place, 10 runs" >&2
bash "$source_dir/bench/sway-placement.sh" "$build" 10 2>"$logs/sway.log" | record "sway_"
fi

read -r load1 _ < /proc/loadavg
echo "machine_load_after $load1" >> "$results"
python3 "$source_dir/bench/report.py" "$results"
