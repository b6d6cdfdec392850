#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Runs one libFuzzer target for FUZZ_SECONDS (default 30) over its seed corpus
# and its saved crashes. New inputs go to a working corpus in the build folder,
# never into the repository. Any crash, leak, sanitizer report or broken
# property fails the run; the input is left under <work>/artifacts/ and
# belongs in fuzz/regressions/<target>/ once the fault is fixed.
#
#   run-fuzz.sh TARGET WORKDIR SEED_CORPUS REGRESSIONS
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 TARGET WORKDIR SEED_CORPUS REGRESSIONS" >&2; exit 2; }
target=$1 work=$2 seeds=$3 regressions=$4
seconds=${FUZZ_SECONDS:-30}
[[ $seconds =~ ^[0-9]+$ ]] || { echo "run-fuzz: FUZZ_SECONDS must be a whole number of seconds" >&2; exit 2; }

mkdir -p "$work/corpus" "$work/artifacts"
# The target changes its working folder at start, so every path is made absolute.
target=$(realpath "$target") work=$(realpath "$work") seeds=$(realpath "$seeds") regressions=$(realpath "$regressions")
rm -f "$work/artifacts/"*
# -close_fd_mask=1 silences the bar's own diagnostic lines on standard output.
status=0
"$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -close_fd_mask=1 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "$seeds" "$regressions" 2>"$work/fuzz.log" || status=$?
tail -n 25 "$work/fuzz.log"
if [ "$status" -ne 0 ] || compgen -G "$work/artifacts/*" >/dev/null; then
    echo "run-fuzz: $(basename "$target") FAILED (status $status); inputs:" >&2
    ls -l "$work/artifacts" >&2
    exit 1
fi
echo "run-fuzz: $(basename "$target") ran ${seconds}s without a finding; corpus: $(ls "$work/corpus" | wc -l) inputs"
