#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is needed, builds and starts Lirevo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh -DLIREVO_BUILD_TESTS=OFF
program=build/release/src/app/lirevo
if [ ! -x "$program" ]; then
  echo "The window is not built yet: build/release holds only the libraries." >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No desktop display found; starting Lirevo on a virtual one (xvfb-run)." >&2
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$program"
fi
exec "$program"
