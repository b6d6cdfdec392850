#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
#
# Gives every file of the tree that can hold a comment the project's SPDX header (MIT), in
# that file's own comment form, so that `reuse lint` passes. Files that cannot hold one
# (images, JSON, fuzzing inputs) are covered by .reuse/dep5 and left alone, as are LICENSE,
# LICENSES/ and any file that already names its licence: running it twice changes nothing.
# A file of a kind it does not know is named, and the run fails, so nothing slips through.
#
# Usage: scripts/spdx-headers.sh [--check] [ROOT]
#   --check  write nothing; list the files that would get a header (status 1 if any)
#   ROOT     the tree (default: this script's checkout); its files are those git lists,
#            or every file under it when it is no git work tree
set -euo pipefail
check=0
if [ "${1:-}" = --check ]; then check=1; shift; fi
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
exec python3 - "$root" "$check" <<'PY'
import fnmatch, os, re, subprocess, sys

root, check = sys.argv[1], sys.argv[2] == "1"
# Split, so that reuse does not read these strings as this file's own licence.
TAG = "SPDX-" + "License-Identifier:"
COPYRIGHT = "SPDX-" + "FileCopyrightText: 2026 The QuorvelOlvane developers"
LICENSE = TAG + " MIT"

def tree_files():
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "-z", "--cached", "--others",
                              "--exclude-standard"], check=True, capture_output=True).stdout
        return sorted({f for f in out.decode().split("\0") if f and os.path.isfile(os.path.join(root, f))})
    except (OSError, subprocess.CalledProcessError):
        found = []
        for base, dirs, names in os.walk(root):
            dirs[:] = [d for d in dirs if d not in (".git", "build")]
            found += [os.path.relpath(os.path.join(base, n), root) for n in names]
        return sorted(found)

def dep5_patterns():
    """The Files: globs of .reuse/dep5, where * also matches /."""
    path = os.path.join(root, ".reuse", "dep5")
    if not os.path.exists(path):
        return []
    patterns, in_files = [], False
    for line in open(path, encoding="utf-8"):
        if line.startswith("Files:"):
            patterns += line[len("Files:"):].split()
            in_files = True
        elif in_files and line[:1] in (" ", "\t"):
            patterns += line.split()
        else:
            in_files = False
    return patterns

def style(rel, first_line):
    """(prefix, suffix) of a one-line comment for the file, or None when unknown."""
    name = os.path.basename(rel)
    if name == "NSIS.template.in":
        return ("; ", "")
    if name == "CMakeLists.txt":
        return ("# ", "")
    inner = name[:-3] if name.endswith(".in") else name
    ext = os.path.splitext(inner)[1].lower()
    if ext in (".cpp", ".cc", ".c", ".h", ".hpp", ".rc", ".js", ".ts", ".qml"):
        return ("// ", "")
    if ext in (".sh", ".py", ".cmake", ".yml", ".yaml", ".toml", ".supp", ".rules", ".desktop",
               ".conf", ".cfg", ".ini", ".service"):
        return ("# ", "")
    if name in (".gitignore", ".gitattributes", ".clang-format", ".clang-tidy", ".editorconfig"):
        return ("# ", "")
    if ext in (".md", ".xml", ".html", ".htm", ".manifest", ".svg"):
        return ("<!-- ", " -->")
    if ext in (".nsi", ".nsh"):
        return ("; ", "")
    if re.fullmatch(r"\.[1-8]", ext):
        return ('.\\" ', "")
    if first_line.startswith("#!"):
        return ("# ", "")
    if ext == ".txt" and first_line.startswith("#"):
        return ("# ", "")  # a list read line by line that already takes # comments
    return None

patterns = dep5_patterns()
changed, unknown = [], []
for rel in tree_files():
    if rel in ("LICENSE", "COPYING") or rel.startswith(("LICENSES/", ".reuse/", ".git/")):
        continue
    if any(fnmatch.fnmatchcase(rel, p) for p in patterns):
        continue
    path = os.path.join(root, rel)
    data = open(path, "rb").read()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        unknown.append(rel + " (not UTF-8 text: cover it in .reuse/dep5)")
        continue
    if TAG in "\n".join(text.splitlines()[:15]):
        continue
    lines = text.splitlines(keepends=True)
    comment = style(rel, lines[0] if lines else "")
    if comment is None:
        unknown.append(rel + " (no comment form known: give it one here or cover it in .reuse/dep5)")
        continue
    changed.append(rel)
    if check:
        continue
    eol = "\r\n" if "\r\n" in text else "\n"
    prefix, suffix = comment
    header = [prefix + COPYRIGHT + suffix + eol, prefix + LICENSE + suffix + eol]
    # After what must stay first: a #! line (and a Python coding line), an XML declaration.
    at = 0
    if lines and (lines[0].startswith("#!") or lines[0].startswith("<?xml")):
        at = 1
        if len(lines) > 1 and re.match(r"^#.*coding[:=]", lines[1]):
            at = 2
    rest = lines[at:]
    # C++ code that does not open with a comment of its own keeps a blank line below the header.
    if prefix == "// " and rest and not rest[0].startswith("//") and rest[0].strip():
        header.append(eol)
    mode = os.stat(path).st_mode
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write("".join(lines[:at] + header + rest))
    os.chmod(path, mode)

for rel in changed:
    print(("needs a header: " if check else "header added: ") + rel)
for rel in unknown:
    print("UNHANDLED: " + rel, file=sys.stderr)
print(f"{len(changed)} file(s) {'without a header' if check else 'given a header'}, "
      f"{len(unknown)} unhandled", file=sys.stderr)
sys.exit(1 if unknown or (check and changed) else 0)
PY
