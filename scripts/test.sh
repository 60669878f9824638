#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is needed, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
# The tests that use the fixed relay port 1111 carry the label "udp1111" and
# the RESOURCE_LOCK of the same name, so ctest never runs two at once.
ctest --test-dir build/release --output-on-failure --timeout 600 -j "$(nproc)"
