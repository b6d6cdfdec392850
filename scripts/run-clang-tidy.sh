#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Runs clang-tidy (with the checked-in .clang-tidy) over every C++ source that
# the build in BUILD_DIR compiles, generated files left out; any warning
# fails. CLANG_TIDY picks the tool, JOBS the parallel runs (default 2).
#
#   run-clang-tidy.sh BUILD_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "$1" && pwd)
tool=${CLANG_TIDY:-clang-tidy-14}
runner=${RUN_CLANG_TIDY:-run-clang-tidy-${tool##*-}}
[ -f "$build_dir/compile_commands.json" ] || { echo "run-clang-tidy: no compile_commands.json in $build_dir" >&2; exit 2; }

# Sources of the repository only: not moc output nor anything else under build/.
mapfile -t files < <(python3 - "$build_dir/compile_commands.json" "$source_dir" <<'PY'
import json, os, sys
commands, source = sys.argv[1], os.path.realpath(sys.argv[2])
seen = set()
for entry in json.load(open(commands)):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    rel = os.path.relpath(path, source)
    if rel.startswith("..") or rel.split(os.sep)[0] == "build" or path in seen:
        continue
    seen.add(path)
    print(path)
PY
)
[ ${#files[@]} -gt 0 ] || { echo "run-clang-tidy: no sources found" >&2; exit 2; }
echo "run-clang-tidy: ${#files[@]} files"
# run-clang-tidy takes regular expressions; each path is matched exactly.
patterns=()
for f in "${files[@]}"; do patterns+=("^$(printf '%s' "$f" | sed 's/[.[\*^$()+?{|]/\\&/g')\$"); done
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
"$runner" -clang-tidy-binary "$(command -v "$tool")" -p "$build_dir" -j "${JOBS:-2}" -quiet \
    "${patterns[@]}" 2>&1 | sed 's/\x1b\[[0-9;]*m//g' >"$log" || status=$?
# Only the findings, not the commands run-clang-tidy echoes.
grep -E '(warning|error): ' "$log" | sort -u || true
findings=$(grep -cE '(warning|error): ' "$log" || true)
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    echo "run-clang-tidy: $findings findings (status $status)" >&2
    exit 1
fi
echo "run-clang-tidy: no findings"
