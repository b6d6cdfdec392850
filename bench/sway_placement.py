#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""One run: from the moment sway maps the bar's window (its "new" window event) to
the first tree in which the bar floats, sticky, at GEOMETRY ("X Y W H"). Talks
i3-ipc on SWAYSOCK itself, so that swaymsg's start-up is not in the figure.
Prints "placement_ms <milliseconds>".

Usage: sway_placement.py SWAYSOCK "X Y W H" TIMEOUT_SECONDS
"""
import json
import socket
import struct
import sys
import time

MAGIC = b"i3-ipc"
SUBSCRIBE, GET_TREE, WINDOW_EVENT = 2, 4, 0x80000003


def send(sock, kind, payload=b""):
    sock.sendall(MAGIC + struct.pack("=II", len(payload), kind) + payload)


def receive(sock):
    def exact(n):
        data = b""
        while len(data) < n:
            chunk = sock.recv(n - len(data))
            if not chunk:
                raise SystemExit("bench: sway closed its socket")
            data += chunk
        return data
    header = exact(14)
    length, kind = struct.unpack("=II", header[6:])
    return kind, json.loads(exact(length))


def find_bar(node):
    if (node.get("window_properties") or {}).get("class") == "QuorvelOlvane":
        return node
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        found = find_bar(child)
        if found:
            return found
    return None


def main():
    path, geometry, timeout = sys.argv[1], [int(n) for n in sys.argv[2].split()], float(sys.argv[3])
    events = socket.socket(socket.AF_UNIX)
    events.connect(path)
    send(events, SUBSCRIBE, b'["window"]')
    receive(events)
    print("ready", flush=True)  # the caller starts the bar now
    deadline = time.monotonic() + timeout
    events.settimeout(timeout)
    while True:
        kind, event = receive(events)
        if kind == WINDOW_EVENT and event.get("change") == "new" \
                and (event["container"].get("window_properties") or {}).get("class") == "QuorvelOlvane":
            mapped = time.monotonic()
            break
    queries = socket.socket(socket.AF_UNIX)
    queries.connect(path)
    while time.monotonic() < deadline:
        send(queries, GET_TREE)
        _, tree = receive(queries)
        bar = find_bar(tree)
        if bar and bar["type"] == "floating_con" and bar.get("sticky"):
            rect = bar["rect"]
            if [rect["x"], rect["y"], rect["width"], rect["height"]] == geometry:
                print(f"placement_ms {(time.monotonic() - mapped) * 1000:.1f}")
                return
        time.sleep(0.002)
    raise SystemExit(f"bench: the bar was not placed within {timeout} s: {bar and (bar['type'], bar.get('sticky'), bar['rect'])}")


main()
