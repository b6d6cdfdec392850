#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""docs/config.schema.json against JSON Schema 2020-12: the schema itself is valid,
docs/config.example.json passes and sets all eight areas, the launcher's first-run
file passes, turns on the tray, reconnection and the state text and leaves the
switches as they are, a table of files the bar takes passes, and a table of bad
files is rejected, each for the reason given.

Usage: test_config_schema.py DOCS_DIR FIRST_RUN_JSON
"""
import json
import os
import sys

try:
    import jsonschema
except ImportError:
    sys.exit("FAIL: python3-jsonschema is not installed (scripts/setup.sh --tests)")

# Files the bar reads without complaint (areas outside 0..7 it ignores).
GOOD = {
    "empty object": "{}",
    "schema hint and other members": '{"$schema": "resources/config.schema.json", "note": "mine"}',
    "empty bar": '{"bar": {}}',
    "opacity 0": '{"bar": {"opacity": 0}}',
    "opacity 1": '{"bar": {"opacity": 1}}',
    "faint opacity (raised at start-up)": '{"bar": {"opacity": 0.3}}',
    "integer opacity": '{"bar": {"opacity": 1, "other": [1, 2]}}',
    "empty areas": '{"areas": {}}',
    "area without colour": '{"areas": {"7": {}}}',
    "keys in any order": '{"areas": {"7": {"color": "#000000"}, "0": {"color": "#FFFFFF"}}}',
    "leading zero key": '{"areas": {"03": {"color": "#102030"}}}',
    "signed key": '{"areas": {"+3": {}, "-1": {}}}',
    "key with spaces": '{"areas": {" 3 ": {}}}',
    "key beyond the areas": '{"areas": {"12": {"color": "#123456"}}}',
    "short hex": '{"areas": {"0": {"color": "#f80"}}}',
    "hex with alpha": '{"areas": {"0": {"color": "#80FF0000"}}}',
    "12-bit hex": '{"areas": {"0": {"color": "#fff000fff"}}}',
    "16-bit hex": '{"areas": {"0": {"color": "#ffff0000ffff"}}}',
    "svg name": '{"areas": {"0": {"color": "orange"}}}',
    "svg name with case and space": '{"areas": {"0": {"color": "Light Blue"}}}',
    "other members in an area": '{"areas": {"1": {"color": "#FF0000", "label": "door"}}}',
    "device ids as hex and integer": '{"device": {"vendor_id": "2e8a", "product_id": 10, "reconnect": true, "show_state": false}}',
    "device ids with 0x": '{"device": {"vendor_id": "0X2E8A", "product_id": "0x000a"}}',
    "bar options": '{"bar": {"screen": "HDMI-1", "remember_geometry": true, "tray": false, "click_through": true}}',
    "bar height and compositor IPC": '{"bar": {"height": 40, "compositor_ipc": false}}',
    "label with colour": '{"areas": {"1": {"label": "ライブ", "label_color": "#202020"}}}',
    "switches": '{"switches": {"3": 1, "07": 7}}',
    "one box by serial and port": '{"device": {"serial": "E6614C311B", "port": "1-3.2"}}',
    "mqtt defaults": '{"mqtt": {}}',
    "mqtt everything": '{"mqtt": {"host": "broker.lan", "port": 8883, "topic": "studio/desk", "client_id": "desk", "username": "desk", "password_file": "mqtt.pw", "tls": {"ca_file": "ca.pem", "cert_file": "c.pem", "key_file": "c.key"}, "publish": true, "accept_remote": true, "mirror": "studio/stage", "homeassistant": true}}',
    "several boxes": '{"devices": [{"serial": "A1", "name": "left pedal", "switches": {"1": 0}}, {"port": "1-2", "reconnect": true}]}',
    "commands": '{"commands": {"3": {"on": ["obs-cmd", "scene", "switch", "Live"], "off": ["obs-cmd", "scene", "switch", "Idle"]}, "05": {"off": ["./notify.sh", "録画 停止", "$HOME", ""]}}}',
}

# Files the bar refuses, or that cannot mean what the writer wanted.
BAD = {
    "top-level array": "[]",
    "top-level string": '"config"',
    "top-level null": "null",
    "bar null": '{"bar": null}',
    "bar array": '{"bar": []}',
    "bar number": '{"bar": 0.8}',
    "opacity as text": '{"bar": {"opacity": "0.8"}}',
    "opacity null": '{"bar": {"opacity": null}}',
    "opacity boolean": '{"bar": {"opacity": true}}',
    "opacity above 1": '{"bar": {"opacity": 1.5}}',
    "opacity negative": '{"bar": {"opacity": -0.1}}',
    "opacity in the wrong place": '{"opacity": 0.8, "bar": {"opacity": []}}',
    "areas array": '{"areas": [{"color": "#FF0000"}]}',
    "areas null": '{"areas": null}',
    "areas text": '{"areas": "#FF0000"}',
    "word key": '{"areas": {"one": {}}}',
    "fraction key": '{"areas": {"1.5": {}}}',
    "empty key": '{"areas": {"": {}}}',
    "hex key": '{"areas": {"0x1": {}}}',
    "exponent key": '{"areas": {"1e2": {}}}',
    "sign alone": '{"areas": {"-": {}}}',
    "area as colour string": '{"areas": {"1": "#FF0000"}}',
    "area null": '{"areas": {"1": null}}',
    "ignored key with bad value": '{"areas": {"9": "#FF0000"}}',
    "colour number": '{"areas": {"1": {"color": 16711680}}}',
    "colour null": '{"areas": {"1": {"color": null}}}',
    "colour array": '{"areas": {"1": {"color": ["#FF0000"]}}}',
    "colour without hash": '{"areas": {"1": {"color": "FF0000"}}}',
    "colour bad digit": '{"areas": {"1": {"color": "#GG0000"}}}',
    "colour five digits": '{"areas": {"1": {"color": "#12345"}}}',
    "colour seven digits": '{"areas": {"1": {"color": "#1234567"}}}',
    "colour empty": '{"areas": {"1": {"color": ""}}}',
    "colour function": '{"areas": {"1": {"color": "rgb(1, 2, 3)"}}}',
    "colour with trailing space": '{"areas": {"1": {"color": "#FF0000 "}}}',
    "device null": '{"device": null}',
    "vendor id five digits": '{"device": {"vendor_id": "0x12345"}}',
    "vendor id negative": '{"device": {"vendor_id": -1}}',
    "product id word": '{"device": {"product_id": "box"}}',
    "reconnect as text": '{"device": {"reconnect": "true"}}',
    "screen empty": '{"bar": {"screen": ""}}',
    "tray as number": '{"bar": {"tray": 1}}',
    "height below the minimum": '{"bar": {"height": 39}}',
    "height a fraction": '{"bar": {"height": 80.5}}',
    "compositor_ipc as string": '{"bar": {"compositor_ipc": "off"}}',
    "label number": '{"areas": {"1": {"label": 5}}}',
    "label colour function": '{"areas": {"1": {"label_color": "rgb(1, 2, 3)"}}}',
    "switch to area 8": '{"switches": {"3": 8}}',
    "switch to a real": '{"switches": {"3": 1.5}}',
    "switch key word": '{"switches": {"three": 1}}',
    "empty serial": '{"device": {"serial": ""}}',
    "port as number": '{"device": {"port": 3}}',
    "device and devices": '{"device": {}, "devices": [{}]}',
    "mqtt password in the file": '{"mqtt": {"password": "secret"}}',
    "mqtt port as text": '{"mqtt": {"port": "1883"}}',
    "mqtt topic with a wildcard": '{"mqtt": {"topic": "studio/+"}}',
    "mqtt topic ending in a slash": '{"mqtt": {"topic": "studio/"}}',
    "mqtt tls without a CA": '{"mqtt": {"tls": {}}}',
    "mqtt certificate without its key": '{"mqtt": {"tls": {"ca_file": "ca.pem", "cert_file": "c.pem"}}}',
    "no devices": '{"devices": []}',
    "devices as object": '{"devices": {"serial": "A1"}}',
    "box switch to area 8": '{"devices": [{"switches": {"3": 8}}]}',
    "commands as a list": '{"commands": [["obs-cmd"]]}',
    "command key word": '{"commands": {"three": {"on": ["obs-cmd"]}}}',
    "command entry a list": '{"commands": {"3": ["obs-cmd"]}}',
    "command entry empty": '{"commands": {"3": {}}}',
    "command member misspelt": '{"commands": {"3": {"On": ["obs-cmd"]}}}',
    "command as one string": '{"commands": {"3": {"on": "obs-cmd scene switch Live"}}}',
    "command empty list": '{"commands": {"3": {"off": []}}}',
    "command without a program": '{"commands": {"3": {"on": ["", "scene"]}}}',
    "command argument a number": '{"commands": {"3": {"on": ["obs-cmd", 1]}}}',
    "command argument with a NUL": '{"commands": {"3": {"on": ["obs-cmd", "a\\u0000b"]}}}',
    "command program with a NUL": '{"commands": {"3": {"on": ["obs\\u0000cmd"]}}}',
}


def main():
    docs, first_run_path = sys.argv[1], sys.argv[2]
    failures = []
    with open(os.path.join(docs, "config.schema.json"), encoding="utf-8") as f:
        schema = json.load(f)
    if schema.get("$schema") != "https://json-schema.org/draft/2020-12/schema":
        failures.append("the schema does not declare JSON Schema 2020-12")
    try:
        jsonschema.Draft202012Validator.check_schema(schema)
    except jsonschema.SchemaError as e:
        sys.exit(f"FAIL: the schema is not a valid 2020-12 schema: {e.message}")
    validator = jsonschema.Draft202012Validator(schema)

    with open(os.path.join(docs, "config.example.json"), "rb") as f:
        raw = f.read()
    if raw.startswith(b"\xef\xbb\xbf"):
        failures.append("config.example.json starts with a byte-order mark, which the bar refuses")
    example = json.loads(raw.decode("utf-8"))
    for error in validator.iter_errors(example):
        failures.append(f"config.example.json: {error.message} at {list(error.absolute_path)}")
    areas = example.get("areas", {})
    if sorted(areas) != [str(i) for i in range(8)]:
        failures.append(f"config.example.json sets areas {sorted(areas)}, not 0 to 7")
    if not all(isinstance(a, dict) and "color" in a for a in areas.values()):
        failures.append("config.example.json has an area without a colour")
    if not isinstance(example.get("bar", {}).get("opacity"), (int, float)):
        failures.append("config.example.json sets no opacity")

    with open(first_run_path, encoding="utf-8") as f:
        first_run = json.load(f)
    for error in validator.iter_errors(first_run):
        failures.append(f"first-run file: {error.message} at {list(error.absolute_path)}")
    if "switches" in first_run:
        failures.append("the first-run file remaps switches; a new user's box should behave as documented")
    for section, member in (("bar", "tray"), ("device", "reconnect"), ("device", "show_state")):
        if first_run.get(section, {}).get(member) is not True:
            failures.append(f'the first-run file does not turn on "{section}" → "{member}"')

    for name, text in GOOD.items():
        errors = [e.message for e in validator.iter_errors(json.loads(text))]
        if errors:
            failures.append(f"good file '{name}' rejected: {errors}")
    for name, text in BAD.items():
        if validator.is_valid(json.loads(text)):
            failures.append(f"bad file '{name}' accepted")

    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    if failures:
        sys.exit(1)
    print(f"schema ok: example valid, {len(GOOD)} good files accepted, {len(BAD)} bad files rejected")


if __name__ == "__main__":
    main()
