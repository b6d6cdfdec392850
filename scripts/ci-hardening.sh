#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Runs the hardening workflows after the ordinary test run: AddressSanitizer
# with UndefinedBehaviorSanitizer over every test, ThreadSanitizer over the
# reader and window tests, clang-tidy and clang-format, and each fuzz target
# for FUZZ_SECONDS (default 30). Every workflow runs even when one before it
# failed; the summary gives each one's result and time.
#
#   scripts/ci-hardening.sh [PRESET...]     (default: sanitize tsan lint fuzz)
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests || exit 1
export FUZZ_SECONDS=${FUZZ_SECONDS:-30}

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(sanitize tsan lint fuzz)
summary=()
failed=0
for preset in "${presets[@]}"; do
    echo "=== ci-hardening: $preset"
    start=$(date +%s)
    if cmake --workflow --preset "$preset" --fresh; then
        result=passed
    else
        result=FAILED
        failed=1
    fi
    summary+=("$(printf '%-9s %-7s %4ds' "$preset" "$result" $(( $(date +%s) - start )))")
done
echo "=== ci-hardening summary (FUZZ_SECONDS=$FUZZ_SECONDS)"
printf '  %s\n' "${summary[@]}"
exit "$failed"
