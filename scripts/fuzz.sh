#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 30)
# on its seed corpus in tests/fuzz/corpus/<target>/. New inputs go to a scratch
# corpus, so the committed seeds stay small. Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
dir=build/fuzz
CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIREVO_FUZZ=ON \
  -DLIREVO_BUILD_TESTS=OFF -DLIREVO_BUILD_GUI=OFF \
  -DLIREVO_SANITIZE="address,undefined,fuzzer-no-link" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for target in "$dir"/tests/fuzz/fuzz_*; do
  name=$(basename "$target"); name=${name#fuzz_}
  scratch=$(mktemp -d)
  log="$dir/fuzz_$name.log"
  if "$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$dir/crash_${name}_" "$scratch" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
    runs=$(grep -o 'Done [0-9]* runs' "$log" | grep -o '[0-9]*' || echo '?')
    echo "fuzz $name: $runs runs in ${seconds}s, no finding"
  else
    echo "fuzz $name: FINDING (see $log)"; tail -30 "$log"; status=1
  fi
  rm -rf "$scratch"
done
exit $status
