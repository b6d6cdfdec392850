#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# "mqtt" with the real bar, a real Mosquitto broker on a free local port and
# Mosquitto's own clients as the other programs: presses and areas published,
# retained state for a subscriber that comes later, the broker killed and
# started again, a broker that wants a password, remote lighting, a second bar
# mirroring the first, and changes of "mqtt" while the bar runs.
# shellcheck source=lib.sh disable=SC2119 # start_bar takes its own arguments, not the script's
source "$(dirname "$0")/lib.sh"

for tool in mosquitto mosquitto_sub mosquitto_pub mosquitto_passwd; do
    command -v "$tool" >/dev/null 2>&1 \
        || { echo "skipped: no $tool (Debian's mosquitto, mosquitto-clients: scripts/setup.sh --tests)"; exit 77; }
done
e2e_init "$@"
start_x

readonly MQTT_LINE="QuorvelOlvane: MQTT: "
readonly TOPIC=qo-test/desk

# --- the broker -------------------------------------------------------------------

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

_broker_up() { grep -q 'running' "$WORK/broker-$1.log" 2>/dev/null; }

# start_broker NAME PORT [CONFIG LINES...]: mosquitto on 127.0.0.1:PORT, anonymous
# unless the lines say otherwise, nothing kept on disk; its id in BROKER_PID_<NAME>.
start_broker() {
    local name=$1 port=$2; shift 2
    {
        echo "listener $port 127.0.0.1"
        echo "persistence false"
        # Run as root it would switch to a "mosquitto" user that cannot write here.
        echo "user $(id -un)"
        echo "log_dest file $WORK/broker-$name.log"
        echo "log_type all"
        [ $# -gt 0 ] && printf '%s\n' "$@" || echo "allow_anonymous true"
    } > "$WORK/broker-$name.conf"
    : > "$WORK/broker-$name.log"
    mosquitto -c "$WORK/broker-$name.conf" >>"$WORK/broker-$name.out" 2>&1 &
    _pids+=($!)
    printf -v "BROKER_PID_$name" '%s' "$!"
    wait_for 10 _broker_up "$name" || fail "mosquitto $name did not start: $(cat "$WORK/broker-$name.out")"
}

stop_broker() {
    local var="BROKER_PID_$1"
    kill -KILL "${!var}" 2>/dev/null || true
    wait "${!var}" 2>/dev/null || true
    _forget_pid "${!var}"
}

# subscribe NAME PORT TOPIC [OPTIONS]: mosquitto_sub printing "topic payload" lines to WORK/sub-NAME.
subscribe() {
    local name=$1 port=$2 topic=$3; shift 3
    stdbuf -oL mosquitto_sub -h 127.0.0.1 -p "$port" -v -t "$topic" "$@" >"$WORK/sub-$name" 2>&1 &
    _pids+=($!)
}

_has_message() { grep -qxF -- "$2" "$WORK/sub-$1"; }
# wait_message NAME "TOPIC PAYLOAD" [SECONDS]
wait_message() {
    wait_for "${3:-5}" _has_message "$1" "$2" || fail "subscriber $1 did not see [$2]: $(tail -n 20 "$WORK/sub-$1")"
}

# retained PORT TOPIC: what a subscriber connecting now gets, retained, for TOPIC ("" when nothing).
retained() { mosquitto_sub -h 127.0.0.1 -p "$1" -t "$2" --retained-only -C 1 -W 2 2>/dev/null || true; }
_retained_is() { [ "$(retained "$1" "$2")" = "$3" ]; }
wait_retained() {
    wait_for "${4:-5}" _retained_is "$1" "$2" "$3" || fail "retained on $2: [$(retained "$1" "$2")], expected [$3]"
}

area_json() { printf '{"lit":%s,"color":"%s","label":"%s"}' "$1" "$2" "${3:-}"; }

mqtt_config() { printf '{"mqtt": {"host": "127.0.0.1", "port": %s, "topic": "%s"%s}}\n' "$1" "$2" "${3:-}" > "$BAR_DIR/config.json"; }

# --- presses and areas published; retained for a later subscriber ---------------------------

PORT=$(free_port)
start_broker main "$PORT"
subscribe all "$PORT" "$TOPIC/#"
# A set left retained by some program: a command of long ago, not the state to show now.
mosquitto_pub -h 127.0.0.1 -p "$PORT" -t "$TOPIC/area/7/set" -m on -r
new_bar_dir
mqtt_config "$PORT" "$TOPIC" ', "accept_remote": true'
start_bar
wait_bar_window
wait_stdout_lines 1 "${MQTT_LINE}connected to 127.0.0.1:$PORT" 10
wait_message all "$TOPIC/status online"
ok "the bar connects and says it is online"
grep -q 'libquorvel-olvane-mqtt' "/proc/$BAR_PID/maps" && grep -q 'libmosquitto' "/proc/$BAR_PID/maps" \
    || fail "\"mqtt\" did not load its library and libmosquitto"
ok "with \"mqtt\" the bar has loaded its MQTT library and libmosquitto"

box press 2
wait_message all "$TOPIC/switch/2 on"
wait_message all "$TOPIC/area/2 $(area_json true "#FFFF00")"
box release 2
wait_message all "$TOPIC/switch/2 off"
wait_message all "$TOPIC/area/2 $(area_json false "#FFFF00")"
ok "a press and a release: switch/2 on and off, area/2 lit and dark"

box press 3
wait_lit 3 4
wait_retained "$PORT" "$TOPIC/area/4" "$(area_json true "#0000FF")"
wait_retained "$PORT" "$TOPIC/device" '{"state":"connected","waiting":false}'
ok "a subscriber that connects later gets area 4 lit and the box connected, retained"
ok "a retained set on area/7/set, there before the bar connected, lights nothing"
mosquitto_pub -h 127.0.0.1 -p "$PORT" -t "$TOPIC/area/7/set" -n -r
mosquitto_pub -h 127.0.0.1 -p "$PORT" -t "$TOPIC/area/8/set" -m on
wait_stdout_lines 1 "${MQTT_LINE}ignored a message on $TOPIC/area/8/set: expected a topic" 5
head -c 1048576 /dev/zero | tr '\0' x | mosquitto_pub -h 127.0.0.1 -p "$PORT" -t "$TOPIC/area/2/set" -s
wait_stdout_lines 1 \
    "${MQTT_LINE}ignored a message on $TOPIC/area/2/set: expected \"on\" or \"off\", got more than 4096 bytes" 5
[ "$(count_lines "${MQTT_LINE}ignored a message on $TOPIC/area/7/set" "$BAR_DIR/stdout")" = 0 ] \
    || fail "clearing a retained set gave a line: $(grep -F "$MQTT_LINE" "$BAR_DIR/stdout")"
ok "clearing the retained set says nothing; area/8/set and a 1 MiB payload are one honest line each"

# --- remote lighting -------------------------------------------------------------------------

mosquitto_pub -h 127.0.0.1 -p "$PORT" -t "$TOPIC/area/6/set" -m on
wait_lit 3 4 6
mosquitto_pub -h 127.0.0.1 -p "$PORT" -t "$TOPIC/area/4/set" -m off
wait_lit 3 6
wait_retained "$PORT" "$TOPIC/area/6" "$(area_json true "#0000FF")"
ok "remote set: area 6 lit and area 4 darkened from another program, and published as shown"

for _ in 1 2 3; do mosquitto_pub -h 127.0.0.1 -p "$PORT" -t "$TOPIC/area/1/set" -m "blink"; done
# A flood of thousands of messages, the last of which wins; the bar keeps up and paints.
python3 - "$PORT" "$TOPIC" <<'EOF' || fail "could not send the flood"
import socket, struct, sys
port, topic = int(sys.argv[1]), sys.argv[2]
def packet(kind, body):
    n, size = len(body), b""
    while True:
        byte, n = n % 128, n // 128
        size += bytes([byte | (128 if n else 0)])
        if not n:
            return bytes([kind]) + size + body
def text(s):
    b = s.encode()
    return struct.pack("!H", len(b)) + b
s = socket.create_connection(("127.0.0.1", port))
s.sendall(packet(0x10, text("MQTT") + bytes([4, 2]) + struct.pack("!H", 30) + text("flood")))
s.recv(4)
messages = b"".join(packet(0x30, text(f"{topic}/area/{n % 8}/set") + (b"on" if n % 2 else b"off")) for n in range(20000))
s.sendall(messages + packet(0x30, text(f"{topic}/area/0/set") + b"on") + packet(0xE0, b""))
s.close()
EOF
wait_lit 10 0 1 3 5 7
[ "$(count_lines "${MQTT_LINE}ignored a message on $TOPIC/area/1/set" "$BAR_DIR/stdout")" = 1 ] \
    || fail "expected one line for three bad messages: $(grep -F "$MQTT_LINE" "$BAR_DIR/stdout")"
ok "20000 remote sets in a burst end as the last ones said; three bad messages, one line"
for area in 0 1 3 5 7; do mosquitto_pub -h 127.0.0.1 -p "$PORT" -t "$TOPIC/area/$area/set" -m off; done
mosquitto_pub -h 127.0.0.1 -p "$PORT" -t "$TOPIC/area/6/set" -m on
wait_lit 3 6

# --- a mirror: a second bar following the first ------------------------------------------------

FIRST_DIR=$BAR_DIR FIRST_WIN=$BAR_WIN FIRST_RUNNER=$BAR_RUNNER
# The first bar goes to the top of the screen, out of the mirror's way.
xdotool windowmove "$FIRST_WIN" 0 0
new_bar_dir
mqtt_config "$PORT" qo-test/mirror ", \"mirror\": \"$TOPIC\", \"publish\": false"
start_bar
_find_mirror() {
    BAR_WIN=
    local w
    for w in $(xdotool search --onlyvisible --name '^QuorvelOlvane$' 2>/dev/null); do
        [ "$w" != "$FIRST_WIN" ] && BAR_WIN=$w
    done
    [ -n "$BAR_WIN" ]
}
wait_for 20 _find_mirror || fail "the mirror bar's window did not appear"
bar_geometry
wait_lit 5 6
ok "a mirror bar shows the first bar's lit area from its retained state"
[ ! -e "$BAR_DIR/box" ] || [ "$(count_lines "[HIDReaderThread]" "$BAR_DIR/stdout")" = 0 ] \
    || fail "the mirror reads a switch box: $(cat "$BAR_DIR/stdout")"
MIRROR_DIR=$BAR_DIR

BAR_DIR=$FIRST_DIR
box press 2
box press 5
BAR_DIR=$MIRROR_DIR
wait_lit 3 2 5 6
ok "presses on the first bar's box light the same areas on the mirror"
BAR_DIR=$FIRST_DIR
box release 2
box release 5
BAR_DIR=$MIRROR_DIR
wait_lit 3 6

# --- the broker killed and started again ----------------------------------------------------

stop_broker main
BAR_DIR=$FIRST_DIR
wait_stdout_lines 1 "${MQTT_LINE}connection to" 10
start_broker main "$PORT"
wait_stdout_lines 1 "${MQTT_LINE}connection to 127.0.0.1:$PORT is back" 40
[ "$(count_lines "${MQTT_LINE}connection to 127.0.0.1:$PORT lost" "$BAR_DIR/stdout")" = 1 ] \
    || fail "expected one 'lost' line: $(grep -F "$MQTT_LINE" "$BAR_DIR/stdout")"
# The restarted broker kept nothing: what it holds now, the bar sent again.
wait_retained "$PORT" "$TOPIC/area/6" "$(area_json true "#0000FF")"
wait_retained "$PORT" "$TOPIC/status" online
ok "broker killed and restarted: one 'lost', one 'back' line, retained state published again"
box press 4
BAR_DIR=$MIRROR_DIR
wait_stdout_lines 1 "${MQTT_LINE}connection to 127.0.0.1:$PORT is back" 40
wait_lit 5 0 6
ok "the mirror is back too and follows a press made after the restart"

# --- the first bar goes: the mirror says so -----------------------------------------------------

wait_state_text gone
MIRROR_RUNNER=$BAR_RUNNER
BAR_DIR=$FIRST_DIR BAR_WIN=$FIRST_WIN BAR_RUNNER=$FIRST_RUNNER
press_key Escape
wait_exit 5 || fail "the first bar did not end on Escape"
wait_retained "$PORT" "$TOPIC/status" offline
ok "a clean exit leaves status offline, retained"
BAR_DIR=$MIRROR_DIR
_find_mirror
bar_geometry
wait_state_text shown 5
ok "the mirror shows 'offline' while the first bar is gone"
BAR_RUNNER=$MIRROR_RUNNER
press_key Escape
wait_exit 5 || fail "the mirror did not end on Escape"

# --- a broker that wants a password; changes of "mqtt" while running ---------------------------

SECURE_PORT=$(free_port)
mosquitto_passwd -c -b "$WORK/passwords" desk 'right horse' 2>/dev/null
start_broker secure "$SECURE_PORT" "allow_anonymous false" "password_file $WORK/passwords"
subscribe secure "$SECURE_PORT" "$TOPIC/status" -u desk -P 'right horse'
new_bar_dir
printf 'wrong horse\n' > "$BAR_DIR/wrong.pw"
printf 'right horse\n' > "$BAR_DIR/right.pw"
secure_config() {
    printf '{"mqtt": {"port": %s, "topic": "%s", "username": "desk", "password_file": "%s", "host": "127.0.0.1"}}\n' \
        "$SECURE_PORT" "$TOPIC" "$1" > "$BAR_DIR/config.json.new"
    mv -f "$BAR_DIR/config.json.new" "$BAR_DIR/config.json"
}
secure_config wrong.pw
start_bar
wait_bar_window
wait_stdout_lines 1 "${MQTT_LINE}127.0.0.1:$SECURE_PORT refused the connection" 10
sleep 3 # retries meanwhile say nothing more
[ "$(count_lines "${MQTT_LINE}127.0.0.1:$SECURE_PORT refused" "$BAR_DIR/stdout")" = 1 ] \
    || fail "expected one 'refused' line: $(grep -F "$MQTT_LINE" "$BAR_DIR/stdout")"
! grep -q 'horse' "$BAR_DIR/stdout" "$BAR_DIR/stderr" || fail "a password was printed"
ok "a wrong password: one line, no password in it"

secure_config right.pw
wait_message secure "$TOPIC/status online" 10
ok "the right password file, changed while running: connected"

printf '{}\n' > "$BAR_DIR/config.json"
wait_message secure "$TOPIC/status offline" 5
wait_stdout_lines 1 "${MQTT_LINE}disconnected from 127.0.0.1:$SECURE_PORT"
bar_running || fail "the bar ended when \"mqtt\" was removed"
ok "\"mqtt\" removed while running: status offline, disconnected, the bar runs on"
press_key Escape
wait_exit 5 || fail "the bar did not end on Escape"

# --- TLS with a CA made here; Home Assistant discovery; several boxes ---------------------------

(
    cd "$WORK"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=QO test CA"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout other-ca.key -out other-ca.pem -days 2 -subj "/CN=QO other CA"
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=localhost"
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' > server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 \
        -extfile server.ext
) >"$WORK/openssl.log" 2>&1 || fail "openssl could not make the test CA: $(cat "$WORK/openssl.log")"
TLS_PORT=$(free_port)
start_broker tls "$TLS_PORT" "allow_anonymous true" "cafile $WORK/ca.pem" "certfile $WORK/server.pem" \
    "keyfile $WORK/server.key"
subscribe tls "$TLS_PORT" "$TOPIC/#" -t 'homeassistant/#' --cafile "$WORK/ca.pem" -h localhost

new_bar_dir
cp "$WORK/ca.pem" "$WORK/other-ca.pem" "$BAR_DIR/"
box plug --serial A1
box plug --box 2 --serial B2
tls_config() {
    printf '{"devices": [{"serial": "A1"}, {"serial": "B2"}],
             "mqtt": {"port": %s, "topic": "%s", "tls": {"ca_file": "%s"}, "homeassistant": true}}\n' \
        "$TLS_PORT" "$TOPIC" "$1" > "$BAR_DIR/config.json.new"
    mv -f "$BAR_DIR/config.json.new" "$BAR_DIR/config.json"
}
tls_config other-ca.pem
start_bar
wait_bar_window
wait_for 10 grep -q 'unknown ca' "$WORK/broker-tls.log" || fail "the bar did not try the TLS broker"
_certificate_refused() { grep -qF "${MQTT_LINE}cannot connect to localhost:$TLS_PORT (the broker's certificate was refused" "$BAR_DIR/stdout"; }
wait_for 5 _certificate_refused || fail "no line for the refused certificate: $(grep -F "$MQTT_LINE" "$BAR_DIR/stdout")"
! grep -q "^${MQTT_LINE}connected" "$BAR_DIR/stdout" || fail "connected to a broker whose certificate another CA signed"
ok "TLS: a broker certificate from another CA is refused, and said so at once"

tls_config ca.pem
wait_stdout_lines 1 "${MQTT_LINE}connected to localhost:$TLS_PORT" 10
wait_message tls "$TOPIC/status online"
box --box 2 press 3
wait_message tls "$TOPIC/box/2/switch/3 on"
box press 2
wait_message tls "$TOPIC/box/1/switch/2 on"
ok "TLS with the test CA: connected; with \"devices\", presses published as box/<k>/switch/<n>"

# The node id: the topic in the characters Home Assistant takes, and a hash of all of it.
NODE=qo-test_desk_$(printf '%s' "$TOPIC" | sha256sum | cut -c1-12)
_discovered() {
    grep -F "homeassistant/binary_sensor/$NODE/box_2_switch_3/config " "$WORK/sub-tls" \
        | grep -qF "\"state_topic\":\"$TOPIC/box/2/switch/3\"" \
        && grep -F "homeassistant/sensor/$NODE/device/config " "$WORK/sub-tls" \
        | grep -F "\"state_topic\":\"$TOPIC/device\"" | grep -qF "\"availability_topic\":\"$TOPIC/status\""
}
wait_for 5 _discovered || fail "no Home Assistant discovery: $(grep homeassistant "$WORK/sub-tls")"
ok "Home Assistant discovery: a binary sensor per switch and the box's state, available on the status topic"
press_key Escape
wait_exit 5 || fail "the bar did not end on Escape"

# --- the network that never answers: the window and the close never wait ------------------------

# ends_on_sigterm WHAT: SIGTERM ends the bar. The bar itself takes well under
# a second; three are allowed for a loaded machine running the tests.
ends_on_sigterm() {
    kill -TERM "$BAR_PID"
    wait_exit 3 || fail "the bar did not end within 3 s of SIGTERM $1"
}

# A broker host that drops packets: a listener whose backlog is full, so that
# a connect neither succeeds nor fails.
BLACK_HOLE_PORT=$(free_port)
python3 -c '
import socket, sys, time
port = int(sys.argv[1])
s = socket.socket()
s.bind(("127.0.0.1", port))
s.listen(0)
held = []
for _ in range(3):
    c = socket.socket()
    c.setblocking(False)
    c.connect_ex(("127.0.0.1", port))
    held.append(c)
print("ready", flush=True)
time.sleep(600)
' "$BLACK_HOLE_PORT" > "$WORK/black-hole.out" 2>&1 &
_pids+=($!)
wait_for 5 grep -q ready "$WORK/black-hole.out" || fail "the black-hole listener did not start"
new_bar_dir
mqtt_config "$BLACK_HOLE_PORT" "$TOPIC"
started=$(now_us)
start_bar
wait_bar_window
wait_stdout_lines 1 "${MQTT_LINE}cannot connect to 127.0.0.1:$BLACK_HOLE_PORT (no answer)" 20
# Past the minute after which the link used to start over by joining a
# thread stuck in connect().
sleep $(( 65 - ($(now_us) - started) / 1000000 ))
box press 2
wait_lit 3 2
box release 2
wait_lit 3
ok "a host that drops packets: one 'no answer' line, and presses still shown a minute on"
mqtt_config "$BLACK_HOLE_PORT" qo-test/other
box press 2
wait_lit 3 2
ok "a change of \"mqtt\" while connecting into the black hole: the window goes on"
ends_on_sigterm "with the link stuck in connect()"
ok "SIGTERM ends a bar whose link is stuck in connect()"

# A broker that takes the connection and then says nothing.
SILENT_PORT=$(free_port)
python3 -c '
import socket, sys
s = socket.socket()
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen(8)
print("ready", flush=True)
held = []
while True:
    held.append(s.accept()[0])
' "$SILENT_PORT" > "$WORK/silent-broker.out" 2>&1 &
_pids+=($!)
wait_for 5 grep -q ready "$WORK/silent-broker.out" || fail "the silent broker did not start"
new_bar_dir
mqtt_config "$SILENT_PORT" "$TOPIC"
start_bar
wait_bar_window
wait_stdout_lines 1 \
    "${MQTT_LINE}cannot connect to 127.0.0.1:$SILENT_PORT (the broker did not answer the MQTT handshake)" 20
ends_on_sigterm "with a broker that never answers"
ok "a broker that never answers CONNACK: said so in one line; SIGTERM ends the bar"

# A FIFO as the CA file: the library would block opening it.
new_bar_dir
mkfifo "$BAR_DIR/ca.pem"
printf '{"mqtt": {"host": "127.0.0.1", "port": %s, "tls": {"ca_file": "ca.pem"}}}\n' "$TLS_PORT" \
    > "$BAR_DIR/config.json"
start_bar
wait_bar_window
wait_stdout_lines 1 "${MQTT_LINE}not connecting: cannot read the TLS file: " 5
box press 2
wait_lit 3 2
ends_on_sigterm "with a FIFO as the CA file"
ok "a FIFO as ca_file: one line, the bar starts, shows presses and ends on SIGTERM"

# A name server that never answers, in a network and mount namespace of the
# bar's own: its /etc/resolv.conf names a silent one on its own loopback.
if unshare -n -m true 2>/dev/null; then
    printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:5\n' > "$WORK/resolv.conf"
    cat > "$WORK/silent-resolver.py" <<'PY'
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 53))
print("ready", flush=True)
time.sleep(120)
PY
    cat > "$WORK/silent-resolver.sh" <<'SH'
#!/bin/bash
# silent-resolver.sh WORK PROGRAM ARGS...: PROGRAM with that name server.
work=$1; shift
ip link set lo up
mount --bind "$work/resolv.conf" /etc/resolv.conf
python3 "$work/silent-resolver.py" > "$work/silent-resolver.out" 2>&1 &
for _ in $(seq 50); do grep -q ready "$work/silent-resolver.out" 2>/dev/null && break; sleep 0.1; done
exec "$@"
SH
    cat > "$WORK/in-silent-net.sh" <<SH
#!/bin/bash
exec unshare -n -m bash "$WORK/silent-resolver.sh" "$WORK" "$QO_PROGRAM" "\$@"
SH
    chmod +x "$WORK/in-silent-net.sh"
    real_program=$QO_PROGRAM
    QO_PROGRAM=$WORK/in-silent-net.sh
    new_bar_dir
    printf '{"mqtt": {"host": "broker.qo-test", "topic": "%s"}}\n' "$TOPIC" > "$BAR_DIR/config.json"
    start_bar
    wait_bar_window
    QO_PROGRAM=$real_program
    sleep 1 # the name lookup is under way, and hangs
    printf '{}\n' > "$BAR_DIR/config.json"
    box press 2
    wait_lit 3 2
    ok "a name lookup that never ends: \"mqtt\" removed meanwhile, the window goes on"
    printf '{"mqtt": {"host": "broker.qo-test", "topic": "%s/again"}}\n' "$TOPIC" > "$BAR_DIR/config.json.new"
    mv -f "$BAR_DIR/config.json.new" "$BAR_DIR/config.json"
    sleep 1
    ends_on_sigterm "with a name lookup under way"
    ok "SIGTERM ends a bar whose link waits for a name server"
else
    log "skipped the silent name server: no network and mount namespace for this user (unshare -n -m)"
fi
