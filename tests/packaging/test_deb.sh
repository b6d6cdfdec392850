#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Builds the .deb from a finished build tree, then checks what it holds and declares:
# file list, control fields, the desktop entry, the AppStream metadata, the udev rule, and that the extracted
# program's libraries resolve on this system; Debian's lintian finds no error and no warning, and
# the version is CMake's project version everywhere (control file, changelog, AppStream, --version).
# Usage: test_deb.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for tool in cpack dpkg-deb desktop-file-validate appstreamcli ldd readelf lintian dpkg-parsechangelog; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh --tests)" >&2; exit 1; }
done

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; echo "FAIL: cpack failed" >&2; exit 1; }
mapfile -t debs < <(find "$work/out" -maxdepth 1 -name '*.deb')
[ ${#debs[@]} -eq 1 ] || { echo "FAIL: expected one .deb, found ${#debs[@]}" >&2; exit 1; }
deb=${debs[0]}
echo "built $(basename "$deb")"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "FAIL: no CMAKE_PROJECT_VERSION in $build/CMakeCache.txt" >&2; exit 1; }

# Debian's own checks of the package: every error and warning fails (informational tags do not).
# (lintian warns when run as root, which a container's test run is.)
if ! lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>"$work/lintian.err"; then
    cat "$work/lintian.log" "$work/lintian.err" >&2
    fail "lintian finds errors or warnings in the .deb"
fi
grep -E '^[EW]: ' "$work/lintian.log" && fail "lintian reports the tags above"

# Control fields.
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), not $version"
case $(dpkg-deb -f "$deb" Maintainer) in
    *'<'*@localhost'>'|*'<'*@*.invalid'>'|'') fail "no real maintainer address: $(dpkg-deb -f "$deb" Maintainer)" ;;
esac
[ "$(dpkg-deb -f "$deb" Package)" = quorvel-olvane ] || fail "package name is not quorvel-olvane"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libhidapi-hidraw0; do
    grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
done

# The settings window, the menus and the notices are in Japanese: a font with its glyphs.
recommends=$(dpkg-deb -f "$deb" Recommends)
echo "Recommends: $recommends"
grep -Eq "(^|, )(fonts-noto-cjk|fonts-ipafont-gothic)( |,|$)" <<<"$recommends" \
    || fail "Recommends names no font with Japanese glyphs (fonts-noto-cjk or fonts-ipafont-gothic)"

# File list as dpkg-deb shows it.
dpkg-deb -c "$deb" | awk '{print $1, $NF}' | sed 's|^\(\S*\) \./|\1 /|' >"$work/contents"
expect_file() {  # MODE PATH
    grep -qxF -- "$1 $2" "$work/contents" || fail "missing or wrong mode: $1 $2"
}
expect_file -rwxr-xr-x /usr/bin/quorvel-olvane
expect_file -rwxr-xr-x /usr/libexec/quorvel-olvane/QuorvelOlvane
expect_file -rw-r--r-- /usr/share/quorvel-olvane/resources/icon/icon.ico
expect_file -rw-r--r-- /usr/share/quorvel-olvane/resources/config.schema.json
expect_file -rw-r--r-- /usr/share/applications/quorvel-olvane.desktop
expect_file -rw-r--r-- /usr/share/doc/quorvel-olvane/config.example.json
# The guide, with the pages the program's messages name.
for page in index troubleshooting tiling-compositors; do
    expect_file -rw-r--r-- /usr/share/doc/quorvel-olvane/guide/$page.md
done
expect_file -rw-r--r-- /usr/share/quorvel-olvane/config.example.json
expect_file -rw-r--r-- /usr/share/quorvel-olvane/config.first-run.json
expect_file -rw-r--r-- /usr/share/metainfo/quorvel.olvane.QuorvelOlvane.metainfo.xml
expect_file -rw-r--r-- /usr/lib/udev/rules.d/70-quorvelolvane.rules
expect_file -rw-r--r-- /usr/share/doc/quorvel-olvane/copyright
expect_file -rw-r--r-- /usr/share/doc/quorvel-olvane/changelog.gz
expect_file -rw-r--r-- /usr/share/doc/quorvel-olvane/THIRD-PARTY-NOTICES.md
expect_file -rw-r--r-- /usr/share/man/man1/quorvel-olvane.1.gz
for size in 16 32 48 256; do
    expect_file -rw-r--r-- /usr/share/icons/hicolor/${size}x${size}/apps/quorvel-olvane.png
done
grep -q ' /usr/local/' "$work/contents" && fail "files under /usr/local in the package"

# Contents.
dpkg-deb -x "$deb" "$work/root"
root=$work/root
for size in 16 32 48 256; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/quorvel-olvane.png
    # PNG signature, then the IHDR width and height (big-endian) at bytes 16..23.
    header=$(od -An -tx1 -N24 "$png" | tr -d ' \n')
    [ "${header:0:16}" = 89504e470d0a1a0a ] || fail "icon $size is not a PNG"
    [ $((16#${header:32:8})) -eq "$size" ] && [ $((16#${header:40:8})) -eq "$size" ] \
        || fail "icon in ${size}x${size} is $((16#${header:32:8}))x$((16#${header:40:8}))"
done
cmp -s "$root/usr/share/quorvel-olvane/resources/icon/icon.ico" "$(dirname "$0")/../../resources/icon/icon.ico" \
    || fail "installed icon.ico differs from resources/icon/icon.ico"

# A new user's bar stays where they put it.
first_run=$root/usr/share/quorvel-olvane/config.first-run.json
python3 -c 'import json, sys; sys.exit(0 if json.load(open(sys.argv[1]))["bar"].get("remember_geometry") is True else 1)' \
    "$first_run" || fail "the first-run config.json does not turn on bar.remember_geometry"

rule=$(grep -v '^#' "$root/usr/lib/udev/rules.d/70-quorvelolvane.rules" | grep -v '^[[:space:]]*$')
[ "$rule" = 'KERNEL=="hidraw*", ATTRS{idVendor}=="2e8a", ATTRS{idProduct}=="000a", TAG+="uaccess"' ] \
    || fail "udev rule is not the expected single line: $rule"

desktop=$root/usr/share/applications/quorvel-olvane.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
grep -qx 'Exec=quorvel-olvane --desktop' "$desktop" || fail "desktop entry does not start the launcher"
grep -qx 'Icon=quorvel-olvane' "$desktop" || fail "desktop entry does not name the hicolor icon"
[ -x "$root/usr/bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")" ] || fail "Exec names no installed program"

metainfo=$root/usr/share/metainfo/quorvel.olvane.QuorvelOlvane.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 \
    || { cat "$work/appstream.log" >&2; fail "appstreamcli rejects the AppStream metadata"; }
grep -qF '<launchable type="desktop-id">quorvel-olvane.desktop</launchable>' "$metainfo" \
    || fail "the AppStream metadata does not name the installed desktop entry"
grep -q '@QO_' "$metainfo" && fail "AppStream metadata has unsubstituted @VARIABLES@"

grep -qF '<project_license>MIT</project_license>' "$metainfo" || fail "the AppStream metadata names no MIT project licence"
grep -qE "<release version=\"$version\" date=\"[0-9]{4}-[0-9]{2}-[0-9]{2}\"" "$metainfo" \
    || fail "the AppStream releases do not begin with $version"

# Release notes and licence, from CHANGELOG.md and the DEP-5 copyright file.
zcat "$root/usr/share/doc/quorvel-olvane/changelog.gz" >"$work/changelog"
[ "$(dpkg-parsechangelog -l "$work/changelog" -S Version)" = "$version" ] \
    || fail "changelog.gz begins with $(dpkg-parsechangelog -l "$work/changelog" -S Version), not $version"
head -n1 "$root/usr/share/doc/quorvel-olvane/copyright" \
    | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || fail "copyright is not in the machine-readable format"
grep -qx 'License: Expat' "$root/usr/share/doc/quorvel-olvane/copyright" || fail "copyright names no MIT (Expat) licence"
# The manual page names what the launcher takes.
zcat "$root/usr/share/man/man1/quorvel-olvane.1.gz" >"$work/man"
for option in desktop autostart version help; do
    grep -qF -- "\\-\\-$option" "$work/man" || fail "the manual page does not describe --$option"
done

launcher=$root/usr/bin/quorvel-olvane
sh -n "$launcher" || fail "launcher has a syntax error"
grep -q '@QO_' "$launcher" && fail "launcher has unsubstituted @VARIABLES@"

dpkg-deb -e "$deb" "$work/control"
[ -x "$work/control/postinst" ] || fail "postinst missing or not executable"
sh -n "$work/control/postinst" || fail "postinst has a syntax error"

program=$root/usr/libexec/quorvel-olvane/QuorvelOlvane
if ldd "$program" >"$work/ldd" 2>&1; then
    grep 'not found' "$work/ldd" && fail "unresolved libraries in the packaged program"
else
    cat "$work/ldd" >&2; fail "ldd failed on the packaged program"
fi
# The system's libraries only: a run path (into the build tree, say) could make ldd pass
# here and fail on every other machine.
# (Read into files first: with pipefail, grep -q ending a pipe early fails the pipe.)
readelf -d "$program" >"$work/dynamic"
readelf -S "$program" >"$work/sections"
grep -E '\((RPATH|RUNPATH)\)' "$work/dynamic" && fail "the packaged program carries a run path"
grep -q '\.debug_info' "$work/sections" && fail "the packaged program is not stripped"
# The packaged program's own answer, before it needs a display.
got=$(env -i PATH=/usr/bin:/bin "$program" --version 2>&1) || fail "--version of the packaged program failed: $got"
[ "$got" = "QuorvelOlvane $version" ] || fail "the packaged program's --version says '$got', not 'QuorvelOlvane $version'"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all .deb checks passed"
