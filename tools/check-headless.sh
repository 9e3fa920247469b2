#!/usr/bin/env bash
# Checks the run command's headless mode: the VNC server listens on the loopback address
# only, moves on when 5900 is taken, and everything stops with the run command.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() {
  echo "check-headless: $*" >&2
  exit 1
}
out=$(mktemp)
blocker=""
run_pid=""
finish() {
  [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null || true
  [ -n "$blocker" ] && kill "$blocker" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -f "$out"
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

env -u DISPLAY -u WAYLAND_DISPLAY setsid ./run.sh >"$out" 2>&1 &
run_pid=$!
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
    127.0.0.1:* | "[::1]:"*) ;;
    *) fail "the VNC server listens on $address, not on the loopback address only" ;;
  esac
done <<<"$addresses"

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
echo "headless: VNC on localhost:$port only (5900 was taken), all stopped on SIGTERM"
