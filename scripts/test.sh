#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is needed, builds and runs every test: the normal build, then
# the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, then
# again under ThreadSanitizer, then each fuzz target briefly.
# LIREVO_TEST_VARIANTS picks a subset, e.g. "release" while iterating.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
variants="${LIREVO_TEST_VARIANTS:-release asan tsan fuzz}"
jobs="$(nproc)"

run_ctest() {  # build dir, extra ctest arguments
  local dir="$1"; shift
  # Tests that use the fixed relay port 1111 hold the RESOURCE_LOCK "udp1111",
  # so ctest never runs two of them at once.
  ctest --test-dir "$dir" --output-on-failure --timeout 900 -j "$jobs" "$@"
}

for variant in $variants; do
  echo "== $variant"
  case "$variant" in
    release)
      bash scripts/build.sh
      run_ctest build/release ;;
    asan)
      export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
      LIREVO_BUILD_TYPE=Debug LIREVO_BUILD_DIR=build/asan bash scripts/build.sh -DLIREVO_SANITIZE=address,undefined
      run_ctest build/asan ;;
    tsan)
      # Every test binary starts threads (loopback servers, recording jobs,
      # downloads, the window's workers), so the whole suite runs, the window
      # included. Qt is not built for the checker: the control access tells
      # it about Qt's hand-over itself (src/app/thread_handover.h), and the
      # suppressions leave out only the memory calls made inside Qt and inside
      # the compiled cpp-httplib of the test servers. The window is named
      # explicitly, so that a build directory kept from a run without it
      # cannot leave it out.
      export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan_suppressions.txt"
      LIREVO_BUILD_TYPE=Debug LIREVO_BUILD_DIR=build/tsan bash scripts/build.sh -DLIREVO_SANITIZE=thread -DLIREVO_BUILD_GUI=ON
      run_ctest build/tsan ;;
    fuzz)
      bash scripts/fuzz.sh "${LIREVO_FUZZ_SECONDS:-20}" ;;
    *) echo "unknown variant $variant" >&2; exit 2 ;;
  esac
done
