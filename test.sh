#!/usr/bin/env bash
# Runs every test: installs what is missing, builds with warnings as errors and runs the
# suite, runs it again under AddressSanitizer and UndefinedBehaviorSanitizer, and fuzzes
# the status path for a short while.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh
fuzz_seconds=${ZFUSE_FUZZ_SECONDS:-30}

echo "== build"
zfuse_setup build -DZFUSE_WERROR=ON
echo "== tests"
(cd build && ctest --output-on-failure)

echo "== build with sanitizers"
zfuse_setup build-asan -DZFUSE_WERROR=ON -DZFUSE_SANITIZE=ON -DZFUSE_BENCH=OFF
echo "== tests with sanitizers"
(cd build-asan && ASAN_OPTIONS=abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure)

echo "== fuzzing the status path for ${fuzz_seconds} s"
CXX=clang++ zfuse_setup build-fuzz -DZFUSE_PROTOCOL_ONLY=ON -DZFUSE_WERROR=ON
corpus=$(mktemp -d)
cp fuzz/corpus/* "$corpus"/
build-fuzz/fuzz/status_fuzzer -max_total_time="$fuzz_seconds" -print_final_stats=1 \
  "$corpus" 2>&1 | tail -n 3
rm -rf "$corpus"
echo "all tests passed"
