#!/usr/bin/env bash
# Pictures of the windows for docs/: the program under Xvfb against the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
cmake --preset run >/dev/null
cmake --build --preset run --target zfuse-shot zfuse-sim

shot() {  # shot NAME WINDOW LANGUAGE SIMULATOR-ARGUMENTS...
  local name=$1 window=$2 language=$3
  shift 3
  XDG_CONFIG_HOME=$(mktemp -d)
  export XDG_CONFIG_HOME
  build/zfuse-sim --link COM1 "$@" </dev/null >/dev/null &
  local sim=$!
  sleep 0.5
  xvfb-run -a -s "-screen 0 1280x1024x24" \
    build/tools/zfuse-shot "docs/$name.png" "${ZFUSE_SHOT_MS:-4000}" "$window" "$language"
  kill "$sim"
  wait "$sim" 2>/dev/null || true
  rm -rf "$XDG_CONFIG_HOME"
  echo "docs/$name.png"
}

mkdir -p docs
shot mainwindow-4ch10a main de --model 4ch10a
shot mainwindow-2ch6a main de --model 2ch6a
shot mainwindow-silent main de --fault silence
shot dialog-standard standard de --model standard
shot dialog-4ch10a variant de --model 4ch10a
shot dialog-2ch6a variant de --model 2ch6a
shot info info de --fault silence
shot characteristic characteristic de --fault silence
shot mainwindow-4ch10a-en main en --model 4ch10a
shot dialog-standard-en standard en --model standard
shot dialog-4ch10a-en variant en --model 4ch10a
QT_SCALE_FACTOR=2 shot mainwindow-4ch10a-x2 main de --model 4ch10a
# The diagnosis windows; the trend and the event log after half a minute, so that the
# simulated channel 1 has tripped once.
ZFUSE_SHOT_MS=32000 shot trend-1min trend de --model 4ch10a
ZFUSE_SHOT_MS=32000 shot events events de --model 4ch10a
ZFUSE_SHOT_MS=32000 shot trend-1min-en trend en --model 4ch10a
QT_SCALE_FACTOR=2 ZFUSE_SHOT_MS=32000 shot trend-1min-x2 trend de --model 4ch10a
ZFUSE_SHOT_MS=32000 shot events-en events en --model 4ch10a
QT_SCALE_FACTOR=2 ZFUSE_SHOT_MS=32000 shot events-x2 events de --model 4ch10a
shot characteristic-loads loads de --model 4ch10a
shot characteristic-overload overload de --fault silence
shot characteristic-overload-en overload en --fault silence
QT_SCALE_FACTOR=2 shot characteristic-overload-x2 overload de --fault silence
shot mainwindow-recording recording de --model 4ch10a
