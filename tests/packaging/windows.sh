#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# The Windows build in the Linux test run, when the cached Qt and hidapi
# (scripts/windows-deps.sh) and Wine are here; otherwise each step reports as
# skipped, naming the command that builds the cache.
#
#   windows.sh build SOURCE_DIR WINEPREFIX   configure and build the `windows`
#                                            preset, then make a fresh Wine prefix
#   windows.sh unit SOURCE_DIR WINEPREFIX    its unit tests under Wine (offscreen)
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 build|unit SOURCE_DIR WINEPREFIX" >&2; exit 2; }
mode=$1 prefix=$3
cd "$2"
# shellcheck source=../../scripts/windows-env.sh
source scripts/windows-env.sh
skip_unless_windows

case $mode in
    build)
        started=$(date +%s)
        cmake --preset windows >/dev/null
        cmake --build --preset windows
        echo "# built in $(( $(date +%s) - started )) s"
        started=$(date +%s)
        new_wine_prefix "$prefix"
        echo "# fresh Wine prefix in $(( $(date +%s) - started )) s"
        ;;
    unit)
        [ -f "$prefix/system.reg" ] || { echo "FAIL: no Wine prefix at $prefix" >&2; exit 1; }
        status=0
        WINEPREFIX=$prefix ctest --preset windows || status=$?
        WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
        exit "$status"
        ;;
    *) echo "usage: $0 build|unit SOURCE_DIR WINEPREFIX" >&2; exit 2 ;;
esac
