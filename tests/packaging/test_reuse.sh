#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
#
# Licensing of the source tree, checked by Debian's reuse.
#   test_reuse.sh tree SOURCE_DIR     `reuse lint` on the tree as it is: every file names its
#                                     copyright and licence (in a header or .reuse/dep5)
#   test_reuse.sh headers SOURCE_DIR  scripts/spdx-headers.sh on a copy of the tree: afterwards
#                                     `reuse lint` passes, a second run finds nothing to do, and
#                                     each file only gained the two header lines (a #! line or
#                                     an XML declaration still first)
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 tree|headers SOURCE_DIR" >&2; exit 2; }
mode=$1
src=$(cd "$2" && pwd)
command -v reuse >/dev/null || { echo "FAIL: reuse is not installed (scripts/setup.sh --tests)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

lint() {  # DIR: reuse lint, its report shown when it fails
    if ! reuse --root "$1" lint >"$work/lint.log" 2>&1; then
        sed -n '/^# MISSING/,$p' "$work/lint.log" | head -60 >&2
        grep -E 'ERROR' "$work/lint.log" >&2 || true
        return 1
    fi
}

# Split, so that reuse does not take these patterns for this file's own licence.
copyright_tag="SPDX-""FileCopyrightText: 2026 The QuorvelOlvane developers"
license_tag="SPDX-""License-Identifier: MIT"

case $mode in
    tree)
        lint "$src" || { echo "FAIL: reuse lint: files above have no licence information" \
            "(scripts/spdx-headers.sh gives sources their headers)" >&2; exit 1; }
        echo "reuse lint passes on the tree"
        ;;
    headers)
        # The files git knows, as they are in the work tree (uncommitted changes included).
        copy=$work/tree
        mkdir "$copy"
        (cd "$src" && git ls-files -z --cached --others --exclude-standard \
            | xargs -0 -I{} sh -c '[ -f "$1" ] && cp --parents -p "$1" "$2" || true' _ {} "$copy")
        # The tree's files carry their headers already: they are taken out of the copy, so that
        # the script has a whole tree to give them to; `bare` keeps the files as they were then.
        python3 - "$copy" "$copyright_tag" "$license_tag" <<'STRIP'
import os, sys
root, tags = sys.argv[1], sys.argv[2:]
for folder, _, names in os.walk(root):
    for name in names:
        path = os.path.join(folder, name)
        if os.path.islink(path):
            continue
        try:
            lines = open(path, encoding="utf-8").read().split("\n")
        except (UnicodeDecodeError, OSError):
            continue
        kept = [line for line in lines if not any(tag in line for tag in tags)]
        if len(kept) == len(lines):
            continue
        # A C++ header is followed by a blank line, which goes with it.
        at = next((i for i, line in enumerate(lines) if any(tag in line for tag in tags)), 0)
        if at < len(kept) and kept[at] == "" and lines[at].startswith("//"):
            del kept[at]
        mode = os.stat(path).st_mode
        open(path, "w", encoding="utf-8").write("\n".join(kept))
        os.chmod(path, mode)
STRIP
        cp -a "$copy" "$work/bare"
        (cd "$copy" && git init -q && git add -A)
        bash "$copy/scripts/spdx-headers.sh" "$copy" >"$work/run1.log" 2>&1 \
            || { cat "$work/run1.log" >&2; echo "FAIL: spdx-headers.sh failed" >&2; exit 1; }
        failures=0
        fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
        lint "$copy" || fail "reuse lint fails after spdx-headers.sh"
        bash "$copy/scripts/spdx-headers.sh" --check "$copy" >"$work/run2.log" 2>&1 \
            || fail "a second run would change files: $(cat "$work/run2.log")"
        changed=0
        while read -r rel; do
            rel=${rel#header added: }
            changed=$((changed + 1))
            # Without the two header lines (and the blank line after a C++ header) the file is
            # what it was.
            grep -vF -e "$copyright_tag" -e "$license_tag" "$copy/$rel" >"$work/stripped" || true
            if ! cmp -s "$work/stripped" "$work/bare/$rel"; then
                sed '1{/^$/d}' "$work/stripped" >"$work/stripped2"
                cmp -s "$work/stripped2" "$work/bare/$rel" || fail "$rel changed beyond its header"
            fi
            first=$(head -n1 "$work/bare/$rel")
            case $first in
                '#!'*|'<?xml'*) [ "$(head -n1 "$copy/$rel")" = "$first" ] || fail "$rel: '$first' no longer first" ;;
            esac
            if [ -x "$work/bare/$rel" ] && ! [ -x "$copy/$rel" ]; then fail "$rel lost its executable bit"; fi
        done < <(grep '^header added: ' "$work/run1.log")
        [ "$changed" -gt 0 ] || fail "spdx-headers.sh gave no file a header"
        # A C++ source and a shell script, in their comment forms.
        grep -qxF "// $license_tag" "$copy/apps/QuorvelOlvane/main.cpp" \
            || fail "main.cpp has no licence line in // form"
        sed -n 2,3p "$copy/tests/packaging/test_deb.sh" | grep -qxF "# $license_tag" \
            || fail "test_deb.sh has no licence line in # form after its #! line"
        [ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
        echo "spdx-headers.sh: $changed files given a header; reuse lint passes; a second run changes nothing"
        ;;
    *) echo "usage: $0 tree|headers SOURCE_DIR" >&2; exit 2 ;;
esac
