#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""Press to published message, and press to a mirror bar's grid, through a local broker.

    mqtt_latency.py PORT TOPIC MIRROR_TOPIC PIPE [COUNT]

Writes presses and releases of switch 2 to the virtual switch box's PIPE (the
first bar reads it and publishes under TOPIC; a second bar mirrors TOPIC and
publishes what its grid shows under MIRROR_TOPIC) and times, from the write,
the arrival of TOPIC/switch/2 and of MIRROR_TOPIC/area/2 with the new state.
A plain MQTT 3.1.1 client on a socket, so that nothing but the standard
library is needed. Prints "name value" lines for bench/report.py.
"""

import json
import os
import socket
import statistics
import struct
import sys
import time


def packet(kind, body):
    size, n = b"", len(body)
    while True:
        byte, n = n % 128, n // 128
        size += bytes([byte | (128 if n else 0)])
        if not n:
            return bytes([kind]) + size + body


def text(s):
    b = s.encode()
    return struct.pack("!H", len(b)) + b


class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.buffer = b""
        self.sock.sendall(packet(0x10, text("MQTT") + bytes([4, 2]) + struct.pack("!H", 60) + text("qo-bench")))
        kind, _ = self.read()
        if kind >> 4 != 2:
            sys.exit("bench: the broker did not accept the connection")

    def subscribe(self, *topics):
        body = struct.pack("!H", 1) + b"".join(text(t) + b"\0" for t in topics)
        self.sock.sendall(packet(0x82, body))

    def read(self, deadline=None):
        while True:
            if len(self.buffer) >= 2:
                size, shift, i = 0, 0, 1
                while i < len(self.buffer):
                    size |= (self.buffer[i] & 127) << shift
                    shift += 7
                    i += 1
                    if not self.buffer[i - 1] & 128:
                        break
                else:
                    size = None
                if size is not None and len(self.buffer) >= i + size:
                    kind, body = self.buffer[0], self.buffer[i:i + size]
                    self.buffer = self.buffer[i + size:]
                    return kind, body
            self.sock.settimeout(None if deadline is None else max(0.001, deadline - time.monotonic()))
            chunk = self.sock.recv(65536)
            if not chunk:
                sys.exit("bench: the broker closed the connection")
            self.buffer += chunk

    def message(self, deadline):
        """The next PUBLISH as (topic, payload)."""
        while True:
            kind, body = self.read(deadline)
            if kind >> 4 == 3:
                n = struct.unpack("!H", body[:2])[0]
                return body[2:2 + n].decode(), body[2 + n:]


def main():
    port, topic, mirror, pipe = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    count = int(sys.argv[5]) if len(sys.argv) > 5 else 200
    client = Client(port)
    client.subscribe(f"{topic}/status", f"{mirror}/status", f"{topic}/switch/2", f"{mirror}/area/2")
    deadline = time.monotonic() + 20
    online = set()
    while len(online) < 2:
        t, payload = client.message(deadline)
        if t.endswith("/status") and payload == b"online":
            online.add(t)
    fd = os.open(pipe, os.O_WRONLY)
    published, mirrored = [], []
    for k in range(count):
        on = k % 2 == 0
        line = f"{'press' if on else 'release'} 2\n".encode()
        t0 = time.perf_counter_ns()
        os.write(fd, line)
        got_switch = got_mirror = None
        deadline = time.monotonic() + 5
        while got_switch is None or got_mirror is None:
            t, payload = client.message(deadline)
            now = time.perf_counter_ns()
            if t == f"{topic}/switch/2" and payload == (b"on" if on else b"off") and got_switch is None:
                got_switch = now
            elif t == f"{mirror}/area/2" and json.loads(payload).get("lit") == on and got_mirror is None:
                got_mirror = now
        published.append((got_switch - t0) / 1e6)
        mirrored.append((got_mirror - t0) / 1e6)
        time.sleep(0.02)
    os.close(fd)
    for name, values in (("published", published), ("mirrored", mirrored)):
        values.sort()
        print(f"{name}_ms_median {statistics.median(values):.3f}")
        print(f"{name}_ms_p99 {values[min(len(values) - 1, int(len(values) * 0.99))]:.3f}")
    print(f"presses {count}")


if __name__ == "__main__":
    main()
