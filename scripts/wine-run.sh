#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Runs a program of the Windows build under Wine, with the cached Qt and hidapi
# DLLs and the mingw-w64 runtime on Wine's search path; the `windows` preset's
# CTest emulator. The Wine prefix is $WINEPREFIX, else build/windows/wine.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]
set -euo pipefail
# shellcheck source=windows-env.sh
source "$(dirname "$0")/windows-env.sh"
prefix=${WINEPREFIX:-$QO_ROOT/build/windows/wine}
[ -f "$prefix/system.reg" ] || new_wine_prefix "$prefix"
wine_env "$prefix"
exec wine "$@"
