#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Sets up what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
# Warnings fail the build in CI.
[ -n "${CI:-}" ] && export QO_WERROR=ON
cmake --workflow --preset default --fresh
