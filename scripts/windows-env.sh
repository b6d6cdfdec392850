# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Sourced by the scripts that run the Windows build under Wine: where the cached
# Qt and hidapi are (scripts/windows-deps.sh), whether that build and Wine are
# here, and the environment that lets Wine find their DLLs and the mingw-w64 runtime.
# shellcheck shell=bash

QO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QO_WINDOWS_DEPS=$("$QO_ROOT/scripts/windows-deps.sh" --print-prefix)
QO_MINGW_CXX=x86_64-w64-mingw32-g++-posix
# The one command that makes the Windows tests runnable.
QO_WINDOWS_DEPS_COMMAND="scripts/windows-deps.sh   # once, 20-60 minutes: Qt and hidapi for Windows"

# windows_missing: prints what keeps the Windows build from being built and run
# here (nothing when all is there).
windows_missing() {
    [ -f "$QO_WINDOWS_DEPS/.complete" ] || echo "no Windows build of Qt and hidapi in $QO_WINDOWS_DEPS"
    command -v "$QO_MINGW_CXX" >/dev/null 2>&1 || echo "no mingw-w64 compiler ($QO_MINGW_CXX)"
    command -v wine >/dev/null 2>&1 || echo "no wine"
    command -v wineserver >/dev/null 2>&1 || echo "no wineserver"
}

# skip_unless_windows: ends the calling test as skipped (status 77, CTest's
# SKIP_RETURN_CODE here) when windows_missing finds something.
skip_unless_windows() {
    local missing
    missing=$(windows_missing)
    [ -z "$missing" ] && return 0
    echo "SKIPPED: $missing" | paste -sd';' -
    case $missing in *"no Windows build of Qt"*) echo "build it with: $QO_WINDOWS_DEPS_COMMAND" ;; esac
    case $missing in *mingw*|*wine*) echo "install the tools with: scripts/setup.sh --tests" ;; esac
    exit 77
}

_windows_path() { local p=$1; echo "Z:${p//\//\\}"; }

# wine_env PREFIX: the environment for running the Windows build's programs
# under Wine in the Wine prefix PREFIX: quiet, no Mono or Gecko installer
# prompts, DLLs found in the cache and the compiler's runtime folders.
wine_env() {
    export WINEPREFIX=$1
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml="
    local dirs=("$QO_WINDOWS_DEPS/bin") dll path
    for dll in libstdc++-6.dll libwinpthread-1.dll; do
        path=$("$QO_MINGW_CXX" -print-file-name="$dll")
        dirs+=("$(dirname "$(realpath -m "$path")")")
    done
    WINEPATH=
    for path in "${dirs[@]}"; do WINEPATH+="${WINEPATH:+;}$(_windows_path "$path")"; done
    export WINEPATH
}

# new_wine_prefix PREFIX: a fresh Wine prefix (any older one there is removed),
# ready when this returns; about 15 s.
new_wine_prefix() {
    local prefix=$1
    if [ -d "$prefix" ]; then
        WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
        rm -rf "$prefix"
    fi
    mkdir -p "$(dirname "$prefix")"
    # Without an X display (the unit tests) Wine falls back to its null display driver, so that
    # Qt can still make the hidden windows its event loop needs.
    (wine_env "$prefix"; DISPLAY='' wineboot --init && wineserver -w \
        && wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f && wineserver -w) >"$prefix.log" 2>&1 \
        || { cat "$prefix.log" >&2; echo "FAIL: wineboot could not make a prefix in $prefix" >&2; return 1; }
}
