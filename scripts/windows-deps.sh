#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Builds what the Windows program links against -- Qt 6 (Core, Gui, Network, Widgets, Test,
# the windows and offscreen platform plugins), hidapi and libmosquitto -- with the mingw-w64 cross
# compiler, from Debian's source packages, into a versioned cache folder outside the
# tree (named in cmake/mingw-w64.cmake). Does nothing when that build is already there.
# Nothing prebuilt is downloaded: apt-get fetches the three source packages only,
# through lists of its own, so the machine's apt set-up is left alone.
# Takes 20-60 minutes on two cores (61 on a busy one); QO_JOBS sets the parallel jobs (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
toolchain=$root/cmake/mingw-w64.cmake
name=$(sed -n 's/^set(QO_WINDOWS_DEPS_NAME "\(.*\)")$/\1/p' "$toolchain")
prefix=${QO_WINDOWS_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvel-olvane/$name}
[ "${1:-}" = --print-prefix ] && { echo "$prefix"; exit 0; }
if [ -f "$prefix/.complete" ]; then
    echo "windows-deps: already built in $prefix"
    exit 0
fi

jobs=${QO_JOBS:-2}
started=$(date +%s)
for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix cmake ninja dpkg-source apt-get; do
    command -v "$tool" >/dev/null || { echo "windows-deps: $tool is missing; run scripts/setup.sh --tests" >&2; exit 1; }
done
# Qt's cross build runs the host's moc, rcc and uic, which must be the same Qt version.
host_cmake=$(dirname "$(dirname "$(find /usr/lib -path '*/cmake/Qt6/Qt6Config.cmake' -print -quit)")")
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
case $name in *"qt${qt_version%%+*}-"*) ;; *)
    echo "windows-deps: the host has Qt $qt_version, but $name needs the same Qt version" >&2; exit 1 ;;
esac

work=$(dirname "$prefix")/work-$name
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/parts" "$work/src"
# The source lines of the distribution's own archives, as this machine's apt
# is set up to reach them (its deb entries for this release, made deb-src).
python3 - "$work/apt/sources.list" <<'PY'
import glob, re, sys
codename = dict(l.strip().split("=", 1) for l in open("/etc/os-release") if "=" in l)["VERSION_CODENAME"].strip('"')
lines = []
for path in glob.glob("/etc/apt/sources.list") + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    for line in open(path):
        fields = line.split()
        if fields[:1] == ["deb"] and any(f.startswith(codename) for f in fields[2:]):
            lines.append("deb-src" + line.strip()[3:])
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    for stanza in re.split(r"\n\s*\n", open(path).read()):
        fields = dict(re.findall(r"^([A-Za-z-]+):[ \t]*(.*)$", stanza, re.M))
        if "deb" not in fields.get("Types", "").split() or fields.get("Enabled", "yes") == "no":
            continue
        for suite in fields.get("Suites", "").split():
            if suite.startswith(codename):
                signed = f"[signed-by={fields['Signed-By']}] " if "Signed-By" in fields else ""
                for uri in fields.get("URIs", "").split():
                    lines.append(f"deb-src {signed}{uri} {suite} {fields.get('Components', 'main')}")
if not lines:
    sys.exit("windows-deps: no Debian archive found in this machine's apt sources")
open(sys.argv[1], "w").write("\n".join(lines) + "\n")
PY
apt=(apt-get -q -o APT::Sandbox::User=root -o "Dir::Etc::SourceList=$work/apt/sources.list" -o "Dir::Etc::SourceParts=$work/apt/parts"
    -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache")

cd "$work/src"
if ! [ -d qtbase ] || ! [ -d hidapi ] || ! [ -d mosquitto ]; then
    rm -rf ./*
    "${apt[@]}" update
    # The versions the host builds against too, which THIRD-PARTY-NOTICES.md names as the sources.
    "${apt[@]}" source "qt6-base=$qt_version" \
        "hidapi=$(dpkg-query -W -f='${source:Version}' libhidapi-dev)" \
        "mosquitto=$(dpkg-query -W -f='${source:Version}' libmosquitto-dev)"
    mv qt6-base-*/ qtbase
    mv hidapi-*/ hidapi
    mv mosquitto-*/ mosquitto
fi
# mosquitto's CMake names an MSVC build of pthreads on Windows; the POSIX
# flavour of mingw-w64 brings its own (winpthreads).
sed -i -e 's/C:\\\\pthreads\\\\Pre-built\.2\\\\lib\\\\x[0-9]*\\\\pthreadVC2\.lib/pthread/' \
    -e 's/C:\\\\pthreads\\\\Pre-built\.2\\\\include/""/' mosquitto/CMakeLists.txt

export QO_WINDOWS_DEPS=$prefix
rm -rf "$prefix"

cmake -S hidapi -B "$work/build-hidapi" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON
cmake --build "$work/build-hidapi" -j "$jobs"
cmake --install "$work/build-hidapi"

# libmosquitto alone (no broker, clients, plugins or C++ wrapper), threaded for
# mosquitto_loop_start on the toolchain's POSIX threads. Without TLS: this cross
# build has no OpenSSL, so "mqtt" → "tls" is refused at connection on Windows.
cmake -S mosquitto -B "$work/build-mosquitto" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DWITH_BROKER=OFF -DWITH_APPS=OFF -DWITH_CLIENTS=OFF -DWITH_PLUGINS=OFF -DWITH_LIB_CPP=OFF \
    -DDOCUMENTATION=OFF -DWITH_TLS=OFF -DWITH_TLS_PSK=OFF -DWITH_SOCKS=OFF -DWITH_SRV=OFF -DWITH_CJSON=OFF \
    -DWITH_STATIC_LIBRARIES=OFF -DWITH_THREADING=ON
cmake --build "$work/build-mosquitto" -j "$jobs"
cmake --install "$work/build-mosquitto"
# Its install leaves out the import library the program links with.
install -m 644 "$work/build-mosquitto/lib/libmosquitto.dll.a" "$prefix/lib/"

# Only what the bar uses (Network for its local socket, without TLS); OpenGL stays on because the Windows platform plugin needs it.
# Debian's source leaves out the Wintab headers that tablet input needs; the bar takes none.
# Third-party libraries come from Qt's bundled copies, never from the host.
cmake -S qtbase -B "$work/build-qtbase" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=ON -DFEATURE_openssl=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_vulkan=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF
cmake --build "$work/build-qtbase" -j "$jobs"
cmake --install "$work/build-qtbase"

# nlohmann-json is header-only: its own copy, because the host's CMake package would
# put /usr/include (the host's C headers) on a Windows build's include path.
mkdir -p "$prefix/include" "$prefix/share/cmake"
cp -r /usr/include/nlohmann "$prefix/include/"
cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"

touch "$prefix/.complete"
rm -rf "$work"
echo "windows-deps: built in $prefix in $(( $(date +%s) - started )) s"
