#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Checks every C++ source of the repository against .clang-format without
# changing anything; lists the files that differ. CLANG_FORMAT picks the tool.
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${CLANG_FORMAT:-clang-format-14}
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' '*.hpp' '*.cc')
else
    mapfile -t files < <(find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
bad=()
for f in "${files[@]}"; do
    [ -f "$f" ] || continue
    "$tool" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -ne 0 ]; then
    echo "check-format: ${#bad[@]} of ${#files[@]} files are not formatted; run: $tool -i <file>" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
fi
echo "check-format: ${#files[@]} files formatted"
