#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""Prints the benchmark figures from bench-results.txt with their targets."""

import statistics
import sys
from collections import defaultdict

MIB = 1024


def load(path):
    values = defaultdict(list)
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if len(parts) == 2:
                values[parts[0]].append(float(parts[1]))
    return values


def main():
    v = load(sys.argv[1])

    def one(key):
        if key not in v:
            sys.exit(f"bench: no figure {key} in {sys.argv[1]}")
        return v[key][-1]

    def median(key):
        if key not in v:
            sys.exit(f"bench: no figure {key} in {sys.argv[1]}")
        return statistics.median(v[key])

    rows = []

    def row(figure, measured, target, holds):
        rows.append((figure, measured, target, "yes" if holds is True else "NO" if holds is False else "-"))


    if any(f"{key}_bar_map_ms" in v for key, _ in CONDITIONS):
        startup_rows(v, row, median)
    if "idle_cpu_pct" in v:
        cpu_rows(v, row, one, median)
    if "waiting_cpu_pct" in v:
        waiting_rows(v, row, one, median)
    if "boxes_four_cpu_pct" in v:
        boxes_rows(v, row, one, median)
    if "latency_reports" in v:
        latency_rows(row, one)
    if "commands_reports" in v:
        commands_rows(row, one)
    if "paint_paint_width" in v:
        paint_rows(v, row, one)
    if "memory_memory_reports" in v:
        memory_rows(row, one)
    if "mqtt_idle_cpu_pct" in v:
        mqtt_rows(v, row, one, median)
    if "settings_on_map_ms" in v:
        settings_rows(v, row, one, median)
    if "sway_placement_ms" in v:
        sway_rows(v, row, median)
    print_table(rows, v)


CONDITIONS = (
    ("bus", "session bus"),
    ("nobus", "address, no bus"),
    ("unset", "no bus address"),
)
STARTUP_RATIO = 1.15


def startup_rows(v, row, median):
    for key, label in CONDITIONS:
        if f"{key}_bar_map_ms" not in v:
            continue
        runs = len(v[f"{key}_bar_map_ms"])
        floor_map, bar_map = median(f"{key}_floor_map_ms"), median(f"{key}_bar_map_ms")
        row(f"1. start to window mapped, {label}, floor (median of {runs})", f"{floor_map:.1f} ms", "-", None)
        row(f"1. start to window mapped, {label}, bar (median of {runs})",
            f"{bar_map:.1f} ms ({bar_map / floor_map:.2f} x floor)",
            f"<= {STARTUP_RATIO * floor_map:.1f} ms ({STARTUP_RATIO} x floor)", bar_map <= STARTUP_RATIO * floor_map)

    for key, label in CONDITIONS:
        if f"{key}_bar_peak_rss_kib" not in v:
            continue
        floor_rss, bar_rss = median(f"{key}_floor_peak_rss_kib"), median(f"{key}_bar_peak_rss_kib")
        row(f"2. peak resident memory, {label}, floor", f"{floor_rss / MIB:.1f} MiB", "-", None)
        row(f"2. peak resident memory, {label}, bar",
            f"{bar_rss / MIB:.1f} MiB (floor + {(bar_rss - floor_rss) / MIB:.1f} MiB)",
            f"<= {(floor_rss + 4 * MIB) / MIB:.1f} MiB (floor + 4 MiB)", bar_rss <= floor_rss + 4 * MIB)


def cpu_rows(v, row, one, median):

    for key, label in (("idle", "no reports"), ("busy", f"{one('busy_reports') / one('busy_seconds'):.0f} reports/s")):
        runs = len(v[f"{key}_cpu_pct"])
        where = f"{label}, {one(f'{key}_seconds'):.0f} s, median of {runs}"
        if f"floor_{key}_cpu_pct" in v:
            row(f"3. CPU while polling, floor, {where}", f"{median(f'floor_{key}_cpu_pct'):.3f} % of a core", "-", None)
        pct = median(f"{key}_cpu_pct")
        row(f"3. CPU while polling, bar, {where}",
            f"{pct:.3f} % of a core (ticks: {median(f'{key}_cpu_pct_ticks'):.2f} %)", "<= 0.5 %", pct <= 0.5)


def waiting_rows(v, row, one, median):
    runs = len(v["waiting_cpu_pct"])
    where = f"{one('waiting_seconds'):.0f} s, median of {runs}"
    polling = median("waiting_polling_cpu_pct")
    row(f"3. CPU while polling a box, bar, no reports, {where}", f"{polling:.3f} % of a core", "-", None)
    pct = median("waiting_cpu_pct")
    row(f"3. CPU while waiting for a missing box (reconnect), bar, {where}",
        f"{pct:.3f} % of a core (ticks: {median('waiting_cpu_pct_ticks'):.2f} %)",
        f"<= {polling:.3f} % (polling)", pct <= polling)


# What being connected to a broker and idle may cost above polling the box, in % of a core.
MQTT_IDLE_MARGIN = 0.1


def mqtt_rows(v, row, one, median):
    runs = len(v["mqtt_idle_cpu_pct"])
    where = f"no reports, {one('mqtt_idle_seconds'):.0f} s, median of {runs}"
    polling = median("mqtt_polling_cpu_pct")
    row(f"7. CPU while polling a box without mqtt, bar, {where}", f"{polling:.3f} % of a core", "-", None)
    pct = median("mqtt_idle_cpu_pct")
    row(f"7. CPU while connected to a local broker and idle, bar, {where}",
        f"{pct:.3f} % of a core (ticks: {median('mqtt_idle_cpu_pct_ticks'):.2f} %)",
        f"<= {polling + MQTT_IDLE_MARGIN:.3f} % (polling + {MQTT_IDLE_MARGIN})", pct <= polling + MQTT_IDLE_MARGIN)
    if "mqtt_presses" in v:
        n = int(one("mqtt_presses"))
        row(f"7. press to published message, local broker, median / p99 of {n}",
            f"{one('mqtt_published_ms_median'):.3f} / {one('mqtt_published_ms_p99'):.3f} ms", "-", None)
        row(f"7. press to a mirror bar's grid, local broker, median / p99 of {n}",
            f"{one('mqtt_mirrored_ms_median'):.3f} / {one('mqtt_mirrored_ms_p99'):.3f} ms", "-", None)


BOXES_RATIO = 2


def boxes_rows(v, row, one, median):
    runs = len(v["boxes_four_cpu_pct"])
    where = f"no reports, {one('boxes_four_seconds'):.0f} s, median of {runs}"
    single = median("boxes_one_cpu_pct")
    row(f"3. CPU while polling one box, bar, {where}", f"{single:.3f} % of a core", "-", None)
    pct = median("boxes_four_cpu_pct")
    row(f"3. CPU while polling four boxes (devices), bar, {where}",
        f"{pct:.3f} % of a core ({pct / single:.2f} x one box; ticks: {median('boxes_four_cpu_pct_ticks'):.2f} %)",
        f"< {BOXES_RATIO * single:.3f} % ({BOXES_RATIO} x one box)", pct < BOXES_RATIO * single)


def latency_rows(row, one):

    n = int(one("latency_reports"))
    row(f"4. report to screen, all areas labelled, median of {n}", f"{one('latency_report_to_frame_median_us') / 1000:.3f} ms", "-", None)
    p99 = one("latency_report_to_frame_p99_us")
    row(f"4. report to screen, all areas labelled, p99 of {n}", f"{p99 / 1000:.3f} ms", "<= 2 ms", p99 <= 2000)
    row(f"4. (read to end of grid paintEvent: median / p99)",
        f"{one('latency_report_to_paint_median_us') / 1000:.3f} / {one('latency_report_to_paint_p99_us') / 1000:.3f} ms",
        "-", None)


def commands_rows(row, one):
    n = int(one("commands_reports"))
    p99 = one("commands_report_to_frame_p99_us")
    row(f"4. report to screen, each report starting a command (/bin/true): median / p99 of {n}",
        f"{one('commands_report_to_frame_median_us') / 1000:.3f} / {p99 / 1000:.3f} ms", "p99 <= 2 ms", p99 <= 2000)


def paint_rows(v, row, one):
    w, h = int(one("paint_paint_width")), int(one("paint_paint_height"))
    row(f"5. grid paint {w} x {h}, all lit: median / p99",
        f"{one('paint_paint_median_us') / 1000:.3f} / {one('paint_paint_p99_us') / 1000:.3f} ms",
        "<= 2 ms (inside the report budget)", one("paint_paint_p99_us") <= 2000)
    if "paint_labels_paint_width" in v:
        row(f"5. grid paint {w} x {h}, all lit and labelled: median / p99",
            f"{one('paint_labels_paint_median_us') / 1000:.3f} / {one('paint_labels_paint_p99_us') / 1000:.3f} ms",
            "<= 2 ms (inside the report budget)", one("paint_labels_paint_p99_us") <= 2000)


def memory_rows(row, one):

    total = int(one("memory_memory_reports"))
    rss_a, rss_b = one("memory_rss_after_1000_kib"), one("memory_rss_after_all_kib")
    heap_a, heap_b = one("memory_heap_after_1000_kib"), one("memory_heap_after_all_kib")
    row(f"6. resident memory after 1,000 / {total:,} reports",
        f"{rss_a / MIB:.2f} / {rss_b / MIB:.2f} MiB ({(rss_b - rss_a):+.0f} KiB)",
        "growth < 1 MiB", rss_b - rss_a < MIB)
    row(f"6. (heap in use after 1,000 / {total:,} reports)",
        f"{heap_a:.0f} / {heap_b:.0f} KiB ({heap_b - heap_a:+.0f} KiB)", "-", None)


# What 設定… in the bar's menu may cost: start-up within noise of the bar without it.
SETTINGS_STARTUP_MARGIN = 1.10


def settings_rows(v, row, one, median):
    runs = len(v["settings_on_map_ms"])
    off, on = median("settings_off_map_ms"), median("settings_on_map_ms")
    row(f"8. start to window mapped, settings_in_menu off (median of {runs})", f"{off:.1f} ms", "-", None)
    row(f"8. start to window mapped, settings_in_menu on (median of {runs})", f"{on:.1f} ms ({on / off:.2f} x off)",
        f"<= {SETTINGS_STARTUP_MARGIN * off:.1f} ms", on <= SETTINGS_STARTUP_MARGIN * off)
    rss_off, rss_on = median("settings_off_peak_rss_kib"), median("settings_on_peak_rss_kib")
    row("8. peak resident memory at start-up, settings_in_menu off / on",
        f"{rss_off / MIB:.2f} / {rss_on / MIB:.2f} MiB", f"on <= off + 0.5 MiB", rss_on <= rss_off + MIB / 2)
    cpu_off, cpu_on = median("settings_idle_off_cpu_pct"), median("settings_idle_on_cpu_pct")
    row(f"8. CPU with no reports, settings_in_menu off / on (median of {len(v['settings_idle_on_cpu_pct'])})",
        f"{cpu_off:.3f} / {cpu_on:.3f} % of a core", "on <= 0.5 %", cpu_on <= 0.5)
    if "settings_window_cycles" in v:
        n = int(one("settings_window_cycles"))
        before, once, after = (one(f"settings_window_{k}_kib") for k in ("rss_before", "rss_once", "rss_after"))
        row(f"8. resident memory: before the window / after it opened once / after {n} more",
            f"{before / MIB:.2f} / {once / MIB:.2f} / {after / MIB:.2f} MiB ({after - once:+.0f} KiB)",
            "after - once < 1 MiB", after - once < MIB)
        pb, po, pa = (one(f"settings_window_{k}_kib") for k in ("pss_before", "pss_once", "pss_after"))
        row(f"8. (proportional memory, the same three)",
            f"{pb / MIB:.2f} / {po / MIB:.2f} / {pa / MIB:.2f} MiB ({pa - po:+.0f} KiB)", "-", None)
        hb, ho, ha = (one(f"settings_window_{k}_kib") for k in ("heap_before", "heap_once", "heap_after"))
        row(f"8. (heap in use, the same three)", f"{hb:.0f} / {ho:.0f} / {ha:.0f} KiB ({ha - ho:+.0f} KiB)", "-", None)


def cpu_model():
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown CPU"


# On a tiling compositor the bar should be in its place before anyone can look twice.
SWAY_PLACEMENT_TARGET_MS = 500


def sway_rows(v, row, median):
    runs = v["sway_placement_ms"]
    ms = median("sway_placement_ms")
    row(f"8. Headless sway: window mapped to floating, sticky, at its place, median of {len(runs)}"
        f" (slowest {max(runs):.0f} ms)", f"{ms:.1f} ms", f"< {SWAY_PLACEMENT_TARGET_MS} ms",
        ms < SWAY_PLACEMENT_TARGET_MS)


def print_table(rows, v):

    widths = [max(len(r[i]) for r in rows + [("Figure", "Measured", "Target", "Holds")]) for i in range(4)]
    def line(cells):
        return "| " + " | ".join(c.ljust(wd) for c, wd in zip(cells, widths)) + " |"
    print(line(("Figure", "Measured", "Target", "Holds")))
    print("|" + "|".join("-" * (wd + 2) for wd in widths) + "|")
    for r in rows:
        print(line(r))
    failed = [r for r in rows if r[3] == "NO"]
    cpus = int(v["machine_cpus"][0]) if "machine_cpus" in v else 0
    load = " to ".join(f"{v[k][0]:.2f}" for k in ("machine_load_before", "machine_load_after") if k in v)
    rt = "timed parts under SCHED_FIFO" if v.get("machine_realtime", [0])[0] else "ordinary scheduling"
    print(f"\nMachine: {cpu_model()}, {cpus} CPUs; load average {load} during the run; {rt}.")
    held = sum(1 for r in rows if r[3] == "yes")
    print(f"Targets: {held} hold, {len(failed)} do not.")


if __name__ == "__main__":
    main()
