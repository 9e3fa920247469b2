#!/usr/bin/env bash
# Runs every test: installs what is missing, builds with warnings as errors and runs the
# suite, runs it again under AddressSanitizer and UndefinedBehaviorSanitizer, fuzzes the
# status path and the configuration file's examiners for a short while, checks the run
# command's options, and installs and packages the tool into a temporary root.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh
fuzz_seconds=${ZFUSE_FUZZ_SECONDS:-30}
zfuse_install_packages test

echo "== links in README.md and docs/"
python3 tools/check-links.py

echo "== build"
zfuse_preset dev
echo "== tests"
ctest --preset dev

echo "== build with sanitizers"
zfuse_preset asan
echo "== tests with sanitizers"
ctest --preset asan

zfuse_preset fuzz
fuzz() {  # fuzz HARNESS SEED-FOLDER
  echo "== fuzzing $1 for ${fuzz_seconds} s"
  local corpus
  corpus=$(mktemp -d)
  cp "$2"/* "$corpus"/
  build-fuzz/fuzz/"$1" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus" 2>&1 |
    tail -n 3
  rm -rf "$corpus"
}
fuzz status_fuzzer fuzz/corpus
fuzz configfile_fuzzer fuzz/corpus-configfile
fuzz zfusectl_fuzzer fuzz/corpus-zfusectl
fuzz plan_fuzzer fuzz/corpus-plan
echo "== run command: bad options are refused before anything starts"
for bad in "--model foo" "--model" "--fault bogus" "--bogus"; do
  # shellcheck disable=SC2086
  if ./run.sh $bad 2>/dev/null; then
    echo "run.sh $bad was not refused" >&2
    exit 1
  fi
done
for bad in "--bogus" "--port COM12" "--language fr" "stray"; do
  # shellcheck disable=SC2086
  status=0
  build/app/zfuse $bad 2>/dev/null || status=$?
  [ "$status" -eq 2 ] || { echo "zfuse $bad exited $status, not 2" >&2; exit 1; }
done
./run.sh --help | grep -q "noanswer" || { echo "run.sh --help lists no faults" >&2; exit 1; }
echo "== run command without a display: VNC on the loopback address only"
tools/check-headless.sh
echo "== zfusectl needs no window system"
if ldd build/ctl/zfusectl | grep -E "libQt6(Gui|Widgets)"; then
  echo "zfusectl links a window library" >&2
  exit 1
fi
echo "== zfuse carries no simulator code"
if nm -C build/app/zfuse | grep "zfuse::sim::" >/dev/null; then
  echo "zfuse links the device simulator" >&2
  exit 1
fi
echo "== installing and packaging"
tools/check-install.sh build
echo "all tests passed"
