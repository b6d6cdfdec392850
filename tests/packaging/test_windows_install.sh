#!/usr/bin/env bash
# The Windows install rules and ZIP package, run on Linux: cross-compiles the
# program's Windows files with mingw-w64 (tests/packaging/windows_install), then
# checks that `cmake --install` lays out one runnable folder (program, resources,
# example config, hidapi DLL), runs windeployqt on the installed program, and that
# CPack packs that folder as a ZIP, with the README note.
# Usage: test_windows_install.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
for tool in x86_64-w64-mingw32-g++ x86_64-w64-mingw32-windres x86_64-w64-mingw32-objdump cmake cpack python3; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh --tests)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Stand-in Qt tools: windeployqt records its arguments and drops a Qt DLL beside the program.
mkdir -p "$work/qt/bin"
: >"$work/qt/bin/qmake"
cat >"$work/qt/bin/windeployqt" <<'STUB'
#!/bin/sh
printf '%s\n' "$@" >"$(dirname "$0")/windeployqt.args"
for exe; do :; done
mkdir -p "$(dirname "$exe")/platforms"
echo stand-in >"$(dirname "$exe")/Qt6Core.dll"
echo stand-in >"$(dirname "$exe")/platforms/qwindows.dll"
STUB
chmod +x "$work/qt/bin/qmake" "$work/qt/bin/windeployqt"

run() {  # LOG COMMAND...: runs quietly, shows the log on failure
    local log=$1; shift
    "$@" >"$work/$log" 2>&1 || { cat "$work/$log" >&2; echo "FAIL: $* failed" >&2; exit 1; }
}
run configure.log cmake -S "$here/windows_install" -B "$work/build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$here/windows_install/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQO_SOURCE_ROOT="$src" -DQO_FAKE_QT_BIN="$work/qt/bin"
run build.log cmake --build "$work/build" -j2
run install.log cmake --install "$work/build" --prefix "$work/inst"

inst=$work/inst
for f in QuorvelOlvane.exe hidapi.dll Qt6Core.dll platforms/qwindows.dll config.example.json README.txt \
         resources/icon/icon.ico resources/config.schema.json; do
    [ -f "$inst/$f" ] || fail "$f missing from the installed folder"
done
for f in bin share lib libexec; do
    [ -e "$inst/$f" ] && fail "Linux folder $f in the Windows installation"
done
cmp -s "$inst/resources/icon/icon.ico" "$src/resources/icon/icon.ico" || fail "installed icon.ico differs"

args=$work/qt/bin/windeployqt.args
if [ -f "$args" ]; then
    grep -qx -- --release "$args" || fail "windeployqt was not asked for a release deployment"
    [ "$(tail -n 1 "$args")" = "$inst/QuorvelOlvane.exe" ] || fail "windeployqt ran on $(tail -n 1 "$args")"
else
    fail "windeployqt was not run"
fi
# Windows' own DLLs are not found on Linux; anything else unresolved is a fault.
if grep -q 'Not found' "$work/install.log"; then
    missing=$(tr -d '\n' <"$work/install.log" | sed -n 's/.*QuorvelOlvane.exe: *//p' | tr ';' '\n' | tr -d ' ')
    extra=$(grep -viE '^(kernel32|msvcrt|shell32|user32|advapi32|ole32)\.dll$' <<<"$missing" || true)
    [ -z "$extra" ] || fail "unresolved libraries besides Windows' own: $extra"
fi

x86_64-w64-mingw32-objdump -p "$inst/QuorvelOlvane.exe" >"$work/headers"
grep -q 'DLL Name: hidapi.dll' "$work/headers" \
    || fail "the stand-in program does not import hidapi.dll"

run cpack.log cpack -G ZIP --config "$work/build/CPackConfig.cmake" -B "$work/out"
zip=$work/out/QuorvelOlvane-0.1.0-windows-x64.zip
if [ -f "$zip" ]; then
    python3 -m zipfile -l "$zip" | awk 'NR > 1 {print $1}' >"$work/zip.list"
    for f in QuorvelOlvane.exe hidapi.dll Qt6Core.dll platforms/qwindows.dll config.example.json README.txt \
             resources/icon/icon.ico resources/config.schema.json; do
        grep -qxF "QuorvelOlvane-0.1.0-windows-x64/$f" "$work/zip.list" || fail "$f missing from the ZIP"
    done
else
    fail "no ZIP named $(basename "$zip"): $(ls "$work/out")"
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "Windows installation and ZIP ok"
