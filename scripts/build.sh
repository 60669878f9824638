#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds into build/<type> (default Release). Extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
type="${LIREVO_BUILD_TYPE:-Release}"
dir="${LIREVO_BUILD_DIR:-build/${type,,}}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
