#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# The bar on a headless sway (as in tests/e2e/e2e_sway.sh): time from its window
# mapped to it floating, sticky, at its place, over RUNS starts of the installed
# bar. Prints "placement_ms <ms>" per run.
#
#   bench/sway-placement.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
runs=${2:-10}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../tests/e2e/lib.sh
source "$source_dir/tests/e2e/lib.sh"
_e2e_setup
start_sway >&2
cmake --install "$build" --prefix "$WORK/inst" >"$WORK/install.log" 2>&1 \
    || fail "cmake --install failed: $(cat "$WORK/install.log")"
# A window the user is in, as on a desktop.
as_desktop_user xmessage 'the user is here' >/dev/null 2>&1 &
_pids+=($!)
wait_for 15 eval 'sway_window Xmessage | grep -q focused' || fail "xmessage did not come up"

for _ in $(seq 1 "$runs"); do
    coproc MEASURE { python3 "$source_dir/bench/sway_placement.py" "$SWAYSOCK" "0 1000 1920 80" 20; }
    read -r ready <&"${MEASURE[0]}"
    [ "$ready" = ready ] || fail "the measuring client did not start"
    as_desktop_user "$WORK/inst/bin/quorvel-olvane" >>"$WORK/bar.log" 2>&1 &
    bar=$!
    _pids+=("$bar")
    read -r line <&"${MEASURE[0]}" || fail "no figure: $(tail -n 5 "$WORK/bar.log")"
    echo "$line"
    wait "${MEASURE_PID:-}" 2>/dev/null || true
    _stop_tree "$bar"
    _forget_pid "$bar"
    wait_for 10 eval '[ -z "$(sway_window QuorvelOlvane)" ]' || fail "the bar's window stayed"
done
