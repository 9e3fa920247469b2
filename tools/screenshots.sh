#!/usr/bin/env bash
# Pictures of the main window for docs/: the program under Xvfb against the simulator,
# a four-channel fuse, a two-channel fuse and a silent line.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
zfuse_configure build
cmake --build build --target zfuse-shot zfuse-sim

shot() {  # shot NAME SIMULATOR-ARGUMENTS...
  local name=$1
  shift
  XDG_CONFIG_HOME=$(mktemp -d)
  export XDG_CONFIG_HOME
  build/zfuse-sim --link COM1 "$@" </dev/null >/dev/null &
  local sim=$!
  sleep 0.5
  xvfb-run -a -s "-screen 0 1280x1024x24" build/app/zfuse-shot "docs/$name.png" 4000
  kill "$sim"
  wait "$sim" 2>/dev/null || true
  rm -rf "$XDG_CONFIG_HOME"
  echo "docs/$name.png"
}

mkdir -p docs
shot mainwindow-4ch10a --model 4ch10a
shot mainwindow-2ch6a --model 2ch6a
shot mainwindow-silent --fault silence
