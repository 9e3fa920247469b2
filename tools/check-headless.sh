#!/usr/bin/env bash
# Checks the run command's headless mode: the VNC server listens on the loopback address
# only, moves on when 5900 is taken, and everything stops with the run command: no
# process of its session is left, and nothing in its temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() {
  echo "check-headless: $*" >&2
  exit 1
}
out=$(mktemp)
tmp=$(mktemp -d)  # the run command's temporary folder goes in here
blocker=""
run_pid=""
session=""
finish() {
  [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null || true
  if [ -n "$session" ]; then  # whatever run.sh left behind
    for pid in $(ps -o pid= -s "$session"); do kill "$pid" 2>/dev/null || true; done
  fi
  [ -n "$blocker" ] && kill "$blocker" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$out" "$tmp"
}
trap finish EXIT

# Something else already listens on 5900.
python3 -c 'import socket,time
s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 5900)); s.listen(1); time.sleep(60)' &
blocker=$!
for _ in $(seq 50); do
  [ -n "$(ss -ltnH 'sport = :5900')" ] && break
  sleep 0.1
done

# In a session of its own (its process id is the session's), so that whatever it starts
# can be found afterwards.
env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR TMPDIR="$tmp" setsid ./run.sh >"$out" 2>&1 &
run_pid=$!
session=$run_pid
port=""
for _ in $(seq 300); do
  port=$(sed -n 's/^No display: connect a VNC viewer to localhost:\([0-9]*\).*/\1/p' "$out")
  [ -n "$port" ] && break
  kill -0 "$run_pid" 2>/dev/null || { cat "$out" >&2; fail "run.sh ended early"; }
  sleep 0.1
done
[ -n "$port" ] || { cat "$out" >&2; fail "run.sh printed no VNC port"; }
[ "$port" != 5900 ] || fail "run.sh chose the taken port 5900"
addresses=$(ss -ltnH "sport = :$port" | awk '{print $4}')
[ -n "$addresses" ] || fail "nothing listens on $port"
while read -r address; do
  case $address in
    127.0.0.1:*) ;;
    *) fail "the VNC server listens on $address, not on 127.0.0.1 only" ;;
  esac
done <<<"$addresses"
owner=$(ss -ltnpH "sport = :$port" | sed -n 's/.*pid=\([0-9]*\).*/\1/p' | head -n 1)
if [ -z "$owner" ] || [ "$(ps -o sid= -p "$owner" | tr -d ' ')" != "$session" ]; then
  fail "what listens on $port was not started by run.sh"
fi
started=$(ps -o comm= -s "$session" | sort | tr '\n' ' ')
for program in Xvfb x11vnc zfuse zfuse-sim; do
  [[ " $started" == *" $program "* ]] || fail "run.sh started no $program (it runs: $started)"
done

kill -TERM "$run_pid"
for _ in $(seq 50); do
  kill -0 "$run_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$run_pid" 2>/dev/null && fail "run.sh did not end on SIGTERM"
run_pid=""
sleep 0.3
[ -z "$(ss -ltnH "sport = :$port")" ] || fail "the VNC server is still running"
if pgrep -f "rfbport $port" >/dev/null; then
  fail "the VNC server was left running"
fi
left=$(ps -o pid=,comm= -s "$session" || true)
[ -z "$left" ] || fail "left running after SIGTERM: $(tr '\n' ' ' <<<"$left")"
[ -z "$(ls -A "$tmp")" ] || fail "left in the temporary folder: $(ls -A "$tmp")"
echo "headless: VNC on 127.0.0.1:$port only (5900 was taken), all stopped on SIGTERM"
