#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# The Windows-only source under the mingw-w64 cross compiler: a syntax check with
# the project's warnings as errors, then a link with the program's resources into
# a stand-in executable whose imports must name shell32's application id call and
# whose resource section must be present.
# Usage: test_windows_source.sh SOURCE_DIR
set -euo pipefail
src=$1
cxx=x86_64-w64-mingw32-g++
windres=x86_64-w64-mingw32-windres
objdump=x86_64-w64-mingw32-objdump
for tool in "$cxx" "$windres" "$objdump"; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh --tests)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
flags=(-std=c++20 -Wall -Wextra -Wpedantic -Werror -I "$src")

"$cxx" "${flags[@]}" -fsyntax-only "$src/apps/QuorvelOlvane/app_id_windows.cpp"
echo "syntax ok: app_id_windows.cpp"

# The stand-in program calls the same entry point as main.cpp.
cat >"$work/main.cpp" <<'CPP'
#include "apps/QuorvelOlvane/app_id.h"
int main() { register_application_id(); return 0; }
CPP
# The resources as CMake configures them, with a stand-in version.
sed -e 's/@PROJECT_VERSION_[A-Z]*@/0/g' -e 's/@PROJECT_VERSION@/0.0.0/g' \
    "$src/packaging/windows/QuorvelOlvane.rc.in" >"$work/QuorvelOlvane.rc"
"$windres" -I "$src/packaging/windows" -O coff -i "$work/QuorvelOlvane.rc" -o "$work/rc.o"
"$cxx" "${flags[@]}" -mwindows -static "$work/main.cpp" "$src/apps/QuorvelOlvane/app_id_windows.cpp" \
    "$work/rc.o" -lshell32 -o "$work/stand-in.exe"
"$objdump" -p "$work/stand-in.exe" >"$work/headers"
grep -q 'DLL Name: SHELL32.dll' "$work/headers" || { echo "FAIL: no import from SHELL32.dll" >&2; exit 1; }
grep -q 'SetCurrentProcessExplicitAppUserModelID' "$work/headers" \
    || { echo "FAIL: SetCurrentProcessExplicitAppUserModelID is not imported" >&2; exit 1; }
grep -q 'Subsystem.*(Windows GUI)' "$work/headers" || { echo "FAIL: not a GUI-subsystem program" >&2; exit 1; }
"$objdump" -h "$work/stand-in.exe" >"$work/sections"
grep -q '\.rsrc' "$work/sections" || { echo "FAIL: no resource section" >&2; exit 1; }
echo "link ok: shell32 import, GUI subsystem, resources embedded"
