#!/usr/bin/env bash
# Builds the .deb from a finished build tree, then checks what it holds and declares:
# file list, control fields, the desktop entry, the AppStream metadata, the udev rule, and that the extracted
# program's libraries resolve on this system.
# Usage: test_deb.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for tool in cpack dpkg-deb desktop-file-validate appstreamcli ldd readelf; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh --tests)" >&2; exit 1; }
done

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; echo "FAIL: cpack failed" >&2; exit 1; }
mapfile -t debs < <(find "$work/out" -maxdepth 1 -name '*.deb')
[ ${#debs[@]} -eq 1 ] || { echo "FAIL: expected one .deb, found ${#debs[@]}" >&2; exit 1; }
deb=${debs[0]}
echo "built $(basename "$deb")"

# Control fields.
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

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all .deb checks passed"
