#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# The Windows install rules and ZIP package, on the real cross build (the
# `windows` preset, built by windows.sh build): `cmake --install` lays out one
# folder that runs on a Windows machine with nothing installed -- the program,
# Qt's DLLs and plugins, hidapi, the mingw-w64 runtime, resources, the example
# config and the README note, the licence, changelog and third-party notices with the licence
# text of every DLL shipped -- in which every DLL that anything loads is either present or
# Windows' own; CPack packs exactly that folder as the ZIP, and makes the installer
# (both left in build/windows/package for the Wine end-to-end tests) with the winget and Scoop
# manifests naming their hashes.
# Usage: test_windows_install.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
cd "$src"
# shellcheck source=../../scripts/windows-env.sh
source scripts/windows-env.sh
skip_unless_windows
objdump=x86_64-w64-mingw32-objdump
for tool in "$objdump" cpack python3 makensis; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh --tests)" >&2; exit 1; }
done
[ -f build/windows/CMakeCache.txt ] || { echo "FAIL: no Windows build in build/windows" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install build/windows --prefix "$work/inst" >"$work/install.log" 2>&1 \
    || { cat "$work/install.log" >&2; echo "FAIL: cmake --install failed" >&2; exit 1; }
inst=$work/inst
for f in QuorvelOlvane.exe Qt6Core.dll Qt6Gui.dll Qt6Network.dll Qt6Widgets.dll libhidapi.dll libmosquitto.dll \
         platforms/qwindows.dll imageformats/qico.dll styles/qwindowsvistastyle.dll \
         libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
         config.example.json README.txt guide/troubleshooting.md guide/tiling-compositors.md \
         resources/icon/icon.ico resources/config.schema.json \
         LICENSE CHANGELOG.md THIRD-PARTY-NOTICES.md quorvel-olvane-mqtt.dll; do
    [ -f "$inst/$f" ] || fail "$f missing from the installed folder"
done
for f in bin share lib libexec include; do
    [ -e "$inst/$f" ] && fail "folder $f/ in the Windows installation"
done
for f in "$inst"/*.exe; do
    [ "$(basename "$f")" = QuorvelOlvane.exe ] || fail "$(basename "$f") in the installed folder"
done
cmp -s "$inst/resources/icon/icon.ico" resources/icon/icon.ico || fail "installed icon.ico differs"

# Every DLL the program, its plugins and its DLLs import: in the folder, or Windows' own
# (mingw-w64 has an import library for each of those).
mapfile -t binaries < <(find "$inst" -iname '*.exe' -o -iname '*.dll')
for binary in "${binaries[@]}"; do
    while read -r dll; do
        [ -n "$(find "$inst" -maxdepth 1 -iname "$dll")" ] && continue
        case $dll in api-ms-*|ext-ms-*) continue ;; esac   # API sets: names for parts of Windows
        lib=lib$(tr '[:upper:]' '[:lower:]' <<<"${dll%.*}").a
        [ "$("$QO_MINGW_CXX" -print-file-name="$lib")" != "$lib" ] \
            || fail "${binary#"$inst"/} needs $dll, which is neither in the folder nor part of Windows"
    done < <("$objdump" -p "$binary" | awk '/DLL Name:/ { print $3 }')
done

# Every DLL the folder ships is named in THIRD-PARTY-NOTICES.md, on a line that names its
# licence texts, and each text named is in the folder (licenses/, or LICENSE for the project's
# own), not empty.
notices=$inst/THIRD-PARTY-NOTICES.md
if [ -f "$notices" ]; then
    grep -q '@[A-Z_]*@' "$notices" && fail "THIRD-PARTY-NOTICES.md has unsubstituted @VARIABLES@"
    grep -q ' unknown ' "$notices" && fail "THIRD-PARTY-NOTICES.md names an unknown version"
    while read -r dll; do
        line=$(grep -F -m1 "\`$dll\`" "$notices" || true)
        if [ -z "$line" ]; then
            fail "$dll is shipped but THIRD-PARTY-NOTICES.md does not name it"
            continue
        fi
        texts=$(grep -oE '`(licenses/[^`]*|LICENSE)`' <<<"$line" | tr -d '`' || true)
        [ -n "$texts" ] || fail "THIRD-PARTY-NOTICES.md names no licence text for $dll"
        for text in $texts; do
            [ -s "$inst/$text" ] || fail "$text, the licence of $dll, is missing from the folder"
        done
    done < <(cd "$inst" && find . -iname '*.dll' | sed 's|^\./||' | sort)
    # Qt's sources: the Debian source package and version, named for apt-get source.
    qt_source=$(dpkg-query -W -f='${Version}' qt6-base-dev)
    grep -qF "qt6-base=$qt_source" "$notices" || fail "THIRD-PARTY-NOTICES.md does not say qt6-base=$qt_source is Qt's source"
    grep -q 'GNU LESSER GENERAL PUBLIC LICENSE' "$inst/licenses/LGPL-3.0.txt" 2>/dev/null \
        || fail "licenses/LGPL-3.0.txt is not the LGPL"
    grep -q 'GCC RUNTIME LIBRARY EXCEPTION' "$inst/licenses/gcc-runtime.copyright" 2>/dev/null \
        || fail "licenses/gcc-runtime.copyright does not hold the GCC runtime library exception"
    cmp -s "$inst/LICENSE" LICENSE || fail "the folder's LICENSE differs from the project's"
fi

"$objdump" -p "$inst/QuorvelOlvane.exe" >"$work/headers"
grep -q 'Subsystem.*(Windows GUI)' "$work/headers" || fail "not a GUI-subsystem program"
grep -q 'SetCurrentProcessExplicitAppUserModelID' "$work/headers" \
    || fail "SetCurrentProcessExplicitAppUserModelID is not imported"
grep -q 'DLL Name: libhidapi.dll' "$work/headers" || fail "the program does not import hidapi"
grep -q 'DLL Name: libmosquitto.dll' "$work/headers" || fail "the program does not import libmosquitto"
"$objdump" -h "$inst/QuorvelOlvane.exe" | grep -q '\.rsrc' || fail "no resource section (icon, manifest, version)"

cpack --preset windows >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; echo "FAIL: cpack failed" >&2; exit 1; }
# The packages are named with CMake's project version.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
zip=build/windows/package/QuorvelOlvane-$version-windows-x64.zip
if [ -f "$zip" ]; then
    python3 -m zipfile -l "$zip" | awk 'NR > 1 { print $1 }' | sed -n "s|^QuorvelOlvane-$version-windows-x64/||p" \
        | grep -v '/$' | sort >"$work/zip.list"
    (cd "$inst" && find . -type f | sed 's|^\./||' | sort) >"$work/inst.list"
    diff "$work/inst.list" "$work/zip.list" >"$work/diff" || fail "the ZIP differs from the installed folder: $(cat "$work/diff")"
else
    fail "no ZIP named $(basename "$zip"): $(ls build/windows/package 2>&1)"
fi

installer=build/windows/package/QuorvelOlvane-$version-windows-x64.exe
"$objdump" -p "$installer" >"$work/installer-headers" 2>&1 || true
grep -q 'Subsystem.*(Windows GUI)' "$work/installer-headers" \
    || fail "no installer program at $installer: $(ls build/windows/package 2>&1)"

# The package step's winget and Scoop manifests name these very files.
installer_sha=$(sha256sum "$installer" | cut -d' ' -f1)
zip_sha=$(sha256sum "$zip" | cut -d' ' -f1)
grep -qi "InstallerSha256: \"$installer_sha\"" build/windows/package/winget/QuorvelOlvane.QuorvelOlvane.installer.yaml 2>/dev/null \
    || fail "the winget manifest does not name the installer's SHA-256 $installer_sha"
grep -q "\"hash\": \"$zip_sha\"" build/windows/package/scoop/quorvel-olvane.json 2>/dev/null \
    || fail "the Scoop manifest does not name the ZIP's SHA-256 $zip_sha"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "Windows folder ($(wc -l <"$work/inst.list") files, $(du -sh "$inst" | cut -f1)), ZIP ($(du -h "$zip" | cut -f1)) and installer ($(du -h "$installer" | cut -f1)) ok"
