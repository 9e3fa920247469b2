#!/usr/bin/env bash
# Starts zfuse. Installs what the tool needs and builds it first.
set -euo pipefail
cd "$(dirname "$0")"

models=(4ch10a 4ch6a 2ch10a 2ch6a standard)
faults=(silence noise checksum short gap ack long noanswer keepsold)

usage() {
  cat <<USAGE
usage: ./run.sh [--sim] [--model NAME] [--fault NAME]... [--help]

Installs the Debian packages the tool needs (once), builds it and starts the main window.
With no device attached, the bundled device simulator stands in on COM1; with a USB
serial adapter attached (/dev/ttyUSB*, /dev/ttyACM*) and no simulator asked for, COM1
leads to the adapter. Without a display the window is served over VNC on this machine
only (localhost:5900, or the next free port; the port and a password made for this run
are printed).

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
zfuse_preset run

adapter=$(ls /dev/ttyUSB* /dev/ttyACM* 2>/dev/null | head -n 1 || true)
if [ "$use_sim" = auto ]; then
  if [ -n "$adapter" ]; then use_sim=no; else use_sim=yes; fi
fi

# Every way out (window closed, Ctrl-C, SIGTERM, SIGHUP, the simulator or a VNC helper
# ending) stops what was started here and removes the temporary folder. Even a SIGKILL,
# which leaves no time for that, takes them along: each is started with a parent-death
# signal, which the kernel sends when this script ends.
work=$(mktemp -d)  # for this user only
child=(setpriv --pdeathsig TERM --)
sim_pid=""
tool_pid=""
xvfb_pid=""
vnc_pid=""
cleanup() {
  trap - EXIT INT TERM HUP
  # The tool first, so that it does not see its display vanish before it ends.
  if [ -n "$tool_pid" ]; then
    kill "$tool_pid" 2>/dev/null || true
    wait "$tool_pid" 2>/dev/null || true
  fi
  local pid
  for pid in "$sim_pid" "$vnc_pid" "$xvfb_pid"; do
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Without a login session the toolkit would leave its runtime folder in /tmp.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR=$work/runtime
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

listening() {  # listening PORT: the addresses something listens on at that TCP port
  ss -ltnH "sport = :$1" | awk '{print $4}'
}

# A random secret of `$1` letters and digits.
secret() {
  local alphabet=ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 n out=""
  for n in $(od -An -tu1 -N"$1" /dev/urandom); do out+=${alphabet:n%62:1}; done
  printf '%s' "$out"
}

# Without a display the window is drawn on a virtual X display and served by a VNC
# server that listens on the loopback address only, on the first free port from 5900.
# Both are for this user only: the X display admits only clients that know a cookie made
# for this run (in an authority file only this user can read), and the VNC server asks
# for a password made for this run (in a file only this user can read; VNC takes 8
# characters at the most). Xvfb picks a free display number itself (-displayfd), so it
# never shares one. x11vnc reads no ~/.x11vncrc that could open it wider, and serves
# IPv4 only: with IPv6 on, a port taken on 127.0.0.1 would quietly leave it listening on
# [::1] alone, behind another program's localhost.
serve_headless() {
  local port p display="" cookie password
  # The server takes every cookie in its authority file, whatever display it is filed
  # under; the clients look theirs up by the display number, known once it runs.
  cookie=$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')
  # Made empty first (for this user only), so that xauth does not call them missing.
  (umask 077 && : >"$work/server.auth" && : >"$work/xauthority")
  xauth -q -f "$work/server.auth" add :0 MIT-MAGIC-COOKIE-1 "$cookie"
  "${child[@]}" Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp -auth "$work/server.auth" \
    3>"$work/display" >"$work/xvfb.out" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    display=$(cat "$work/display" 2>/dev/null || true)
    [[ $display =~ ^[0-9]+$ ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! [[ $display =~ ^[0-9]+$ ]]; then
    echo "run.sh: the virtual X screen (Xvfb) did not start:" >&2
    cat "$work/xvfb.out" >&2
    exit 1
  fi
  export XAUTHORITY=$work/xauthority
  xauth -q -f "$XAUTHORITY" add ":$display" MIT-MAGIC-COOKIE-1 "$cookie"
  password=$(secret 8)
  (umask 077 && printf '%s\n' "$password" >"$work/vnc.password")
  for p in $(seq 5900 5999); do
    [ -z "$(listening "$p")" ] || continue
    "${child[@]}" x11vnc -display ":$display" -auth "$XAUTHORITY" -localhost -noipv6 -norc \
      -rfbport "$p" -forever -shared -passwdfile "$work/vnc.password" -quiet \
      >"$work/vnc.out" 2>&1 &
    vnc_pid=$!
    for _ in $(seq 100); do
      grep -q "^PORT=$p\$" "$work/vnc.out" && break
      kill -0 "$vnc_pid" 2>/dev/null || break
      sleep 0.1
    done
    if grep -q "^PORT=$p\$" "$work/vnc.out"; then
      port=$p
      break
    fi
    kill "$vnc_pid" 2>/dev/null || true
    wait "$vnc_pid" 2>/dev/null || true
    vnc_pid=""
    # Taken since the look above: on to the next port. Anything else is an error.
    if ! grep -q "could not obtain listening port" "$work/vnc.out"; then
      echo "run.sh: the VNC server did not start on localhost:$p:" >&2
      cat "$work/vnc.out" >&2
      exit 1
    fi
  done
  [ -n "${port:-}" ] || {
    echo "run.sh: no free VNC port between 5900 and 5999; stop another VNC server" >&2
    exit 1
  }
  export DISPLAY=":$display"
  unset WAYLAND_DISPLAY QT_QPA_PLATFORM
  echo "No display: connect a VNC viewer to localhost:$port (this machine only; from"
  echo "another one: ssh -L $port:localhost:$port $(id -un)@$(hostname), then localhost:$port)."
  echo "VNC password for this run: $password"
}

# wait_tool: waits for the tool, the simulator or a VNC helper to end; the exit status is
# the tool's, or 1 when a helper ended first.
wait_tool() {
  local pid others=() ended="" status=0
  for pid in "$sim_pid" "$vnc_pid" "$xvfb_pid"; do [ -z "$pid" ] || others+=("$pid"); done
  wait -n -p ended "$tool_pid" "${others[@]}" || status=$?
  case $ended in
    "$tool_pid") ;;
    "$sim_pid")
      echo "run.sh: the device simulator ended; stopping the tool." >&2
      cat "$work/sim.out" >&2
      status=1
      ;;
    "$xvfb_pid")
      echo "run.sh: the virtual X screen ended; stopping the tool." >&2
      status=1
      ;;
    "$vnc_pid")
      echo "run.sh: the VNC server ended; stopping the tool." >&2
      status=1
      ;;
  esac
  exit "$status"
}

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  serve_headless
fi

if [ "$use_sim" = no ]; then
  links=${XDG_CONFIG_HOME:-$HOME/.config}/zfuse/ports
  if [ ! -e "$links/COM1" ]; then
    mkdir -p "$links"
    ln -sfn "$adapter" "$links/COM1"
    echo "COM1 now leads to $adapter ($links/COM1)."
  fi
  "${child[@]}" build/app/zfuse &
  tool_pid=$!
  wait_tool
fi

# The simulator's COM1 link lives in a private folder, so the user's own links stay.

export XDG_CONFIG_HOME=$work/config
mkfifo "$work/commands"
# Held open for writing first, so that the simulator's open of its standard input never
# waits (a child waiting there would not yet have its parent-death signal), and kept
# open so that its standard input stays open.
exec 3<>"$work/commands"
"${child[@]}" build/zfuse-sim --link COM1 "${sim_args[@]}" <"$work/commands" >"$work/sim.out" 2>&1 &
sim_pid=$!
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

"${child[@]}" build/app/zfuse &
tool_pid=$!
wait_tool
