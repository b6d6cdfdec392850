#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Installs whatever is missing to build and run the bar (and, with --tests,
# to run every test). Installs nothing that is already there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

lists=("$here/debian-packages.txt")
[ "${1:-}" = --tests ] && lists+=("$here/debian-test-packages.txt")
mapfile -t wanted < <(cat "${lists[@]}" | sed 's/#.*//' | awk 'NF {print $1}' | sort -u)

if ! command -v apt-get >/dev/null 2>&1 || ! command -v dpkg-query >/dev/null 2>&1; then
    echo "setup: this is not a Debian or Ubuntu system, so nothing was installed." >&2
    echo "setup: install the equivalents of these Debian packages, then run this again:" >&2
    printf '  %s\n' "${wanted[@]}" >&2
    exit 1
fi

missing=()
for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
