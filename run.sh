#!/usr/bin/env bash
# Starts zfuse. Installs what the tool needs and builds it first.
set -euo pipefail
cd "$(dirname "$0")"

models=(4ch10a 4ch6a 2ch10a 2ch6a standard)
faults=(silence noise checksum short gap ack long noanswer)

usage() {
  cat <<USAGE
usage: ./run.sh [--sim] [--model NAME] [--fault NAME]... [--help]

Installs the Debian packages the tool needs (once), builds it and starts the main window.
With no device attached, the bundled device simulator stands in on COM1; with a USB
serial adapter attached (/dev/ttyUSB*, /dev/ttyACM*) and no simulator asked for, COM1
leads to the adapter. Without a display the window is served over VNC on localhost:5900.

  --sim          use the simulator even when an adapter is attached
  --model NAME   the simulated fuse (implies --sim): ${models[*]}
                 (default 4ch10a)
  --fault NAME   a fault of the simulated fuse (implies --sim; may be repeated):
                 ${faults[*]}
  --help         this text
USAGE
}

die() {
  echo "run.sh: $*" >&2
  exit 2
}

one_of() {  # one_of VALUE CHOICES...
  local value=$1
  shift
  for c in "$@"; do [ "$c" = "$value" ] && return 0; done
  return 1
}

use_sim=auto
sim_args=()
while (($#)); do
  case $1 in
    --sim) use_sim=yes ;;
    --model | --fault)
      kind=${1#--}
      if [ "$kind" = model ]; then choices=("${models[@]}"); else choices=("${faults[@]}"); fi
      (($# >= 2)) || die "$1 needs a name: ${choices[*]}"
      one_of "$2" "${choices[@]}" || die "unknown $kind '$2'; ${kind}s: ${choices[*]}"
      sim_args+=("$1" "$2")
      use_sim=yes
      shift
      ;;
    -h | --help)
      usage
      exit 0
      ;;
    *) die "unknown option '$1'; options: --sim --model NAME --fault NAME --help" ;;
  esac
  shift
done

source tools/setup.sh
zfuse_install_packages runtime
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

if [ "$use_sim" = no ]; then
  links=${XDG_CONFIG_HOME:-$HOME/.config}/zfuse/ports
  if [ ! -e "$links/COM1" ]; then
    mkdir -p "$links"
    ln -sfn "$adapter" "$links/COM1"
    echo "COM1 now leads to $adapter ($links/COM1)."
  fi
  exec build/app/zfuse
fi

# The simulator's COM1 link lives in a private folder, so the user's own links stay.
# Every way out (window closed, Ctrl-C, the simulator ending) stops both and removes it.
work=$(mktemp -d)
sim_pid=""
tool_pid=""
cleanup() {
  trap - EXIT INT TERM HUP
  [ -n "$tool_pid" ] && kill "$tool_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

export XDG_CONFIG_HOME=$work/config
mkfifo "$work/commands"
build/zfuse-sim --link COM1 "${sim_args[@]}" <"$work/commands" >"$work/sim.out" 2>&1 &
sim_pid=$!
exec 3>"$work/commands"  # keeps the simulator's standard input open
slave=""
for _ in $(seq 50); do
  slave=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
  [[ $slave == /dev/* ]] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ $slave != /dev/* ]]; then
  echo "run.sh: the device simulator did not start:" >&2
  cat "$work/sim.out" >&2
  exit 1
fi
echo "Device simulator on $slave, linked as COM1."

build/app/zfuse &
tool_pid=$!
status=0
wait -n "$tool_pid" "$sim_pid" || status=$?
if ! kill -0 "$sim_pid" 2>/dev/null; then
  echo "run.sh: the device simulator ended; stopping the tool." >&2
  cat "$work/sim.out" >&2
  status=1
fi
exit "$status"
