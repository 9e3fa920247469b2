#!/usr/bin/env bash
# Starts zfuse. Installs what is missing and builds first.
#
# With no device attached, the bundled device simulator stands in on COM1 (a four-channel
# 10 A fuse unless --model says otherwise). With a USB serial adapter attached
# (/dev/ttyUSB* or /dev/ttyACM*) and no simulator asked for, COM1 is that adapter.
#
#   ./run.sh [--sim] [--model 2ch6a|2ch10a|standard|4ch10a|4ch6a] [--fault NAME]...
#
# Without a display the tool is served over VNC on localhost:5900.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh

use_sim=auto
sim_args=()
while (($#)); do
  case $1 in
    --sim) use_sim=yes ;;
    --model | --fault) sim_args+=("$1" "$2"); use_sim=yes; shift ;;
    *) echo "usage: $0 [--sim] [--model NAME] [--fault NAME]..." >&2; exit 2 ;;
  esac
  shift
done

zfuse_configure build
cmake --build build --target zfuse zfuse-sim

adapter=$(ls /dev/ttyUSB* /dev/ttyACM* 2>/dev/null | head -n 1 || true)
if [ "$use_sim" = auto ]; then
  if [ -n "$adapter" ]; then use_sim=no; else use_sim=yes; fi
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=vnc:size=1280x900
  echo "No display: connect a VNC viewer to localhost:5900."
fi

if [ "$use_sim" = yes ]; then
  # The simulator's COM1 link lives in a private folder, so the user's own links stay.
  XDG_CONFIG_HOME=$(mktemp -d)
  export XDG_CONFIG_HOME
  coproc SIM { exec build/zfuse-sim --link COM1 "${sim_args[@]}"; }
  trap 'kill "$SIM_PID" 2>/dev/null || true; rm -rf "$XDG_CONFIG_HOME"' EXIT
  read -r -u "${SIM[0]}" slave
  echo "Device simulator on $slave, linked as COM1."
  build/app/zfuse
else
  links=${XDG_CONFIG_HOME:-$HOME/.config}/zfuse/ports
  if [ ! -e "$links/COM1" ]; then
    mkdir -p "$links"
    ln -sfn "$adapter" "$links/COM1"
    echo "COM1 now leads to $adapter ($links/COM1)."
  fi
  exec build/app/zfuse
fi
