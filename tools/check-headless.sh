#!/usr/bin/env bash
# Checks the run command's headless mode: the VNC server listens on the loopback address
# only, moves on when 5900 is taken, and everything stops with the run command: no
# process of its session is left, and nothing in its temporary folder. Another local
# user (nobody, when this runs as root) gets neither the X display nor the VNC session:
# the display wants the run's cookie, the VNC server the run's password, both in files
# only the user can read. A run command killed with SIGKILL leaves nothing running.
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

# Starts run.sh without a display in a session of its own (its process id is the
# session's), so that whatever it starts can be found afterwards, and waits for the VNC
# port and password it prints.
start_run() {
  : >"$out"
  env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR -u XAUTHORITY TMPDIR="$tmp" \
    setsid ./run.sh >"$out" 2>&1 &
  run_pid=$!
  session=$run_pid
  port=""
  password=""
  for _ in $(seq 300); do
    port=$(sed -n 's/^No display: connect a VNC viewer to localhost:\([0-9]*\).*/\1/p' "$out")
    password=$(sed -n 's/^VNC password for this run: \(.*\)$/\1/p' "$out")
    [ -n "$port" ] && [ -n "$password" ] && break
    kill -0 "$run_pid" 2>/dev/null || { cat "$out" >&2; fail "run.sh ended early"; }
    sleep 0.1
  done
  [ -n "$port" ] || { cat "$out" >&2; fail "run.sh printed no VNC port"; }
  [ -n "$password" ] || { cat "$out" >&2; fail "run.sh printed no VNC password"; }
}

# Runs a command as another local user: nobody when this runs as root, else this user
# without the run's cookie and password (which the display and VNC server ask for alike).
as_other() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- env -i PATH=/usr/bin:/bin "$@"
  else
    env -i PATH=/usr/bin:/bin "$@"
  fi
}

# x11_probe SOCKET [COOKIE-HEX]: opens an X connection, with the cookie or without any;
# prints the server's answer: 0 refused, 1 accepted.
x11_probe() {
  python3 -c 'import socket, struct, sys
name, data = (b"MIT-MAGIC-COOKIE-1", bytes.fromhex(sys.argv[2])) if len(sys.argv) > 2 else (b"", b"")
pad = lambda b: b + bytes(-len(b) % 4)
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(struct.pack("<cxHHHHxx", b"l", 11, 0, len(name), len(data)) + pad(name) + pad(data))
print(s.recv(1)[0])' "$@"
}

# vnc_probe PORT: the security types the VNC server offers, then the result of answering
# its challenge without the password: "types 2 result 1" for a refusal.
vnc_probe() {
  python3 -c 'import socket, struct, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=10)
def take(n):
    b = b""
    while len(b) < n:
        more = s.recv(n - len(b))
        if not more: raise SystemExit("closed")
        b += more
    return b
take(12)
s.sendall(b"RFB 003.008\n")
types = list(take(take(1)[0]))
print("types", *types, end=" ")
if 2 in types:
    s.sendall(bytes([2]))
    take(16)
    s.sendall(bytes(16))
    print("result", struct.unpack(">I", take(4))[0])
else:
    print()' "$1"
}

start_run
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
# The VNC port is told before the simulator and the tool start: wait for them.
for _ in $(seq 100); do
  started=$(ps -o comm= -s "$session" | sort | tr '\n' ' ')
  missing=""
  for program in Xvfb x11vnc zfuse zfuse-sim; do
    [[ " $started" == *" $program "* ]] || missing="$missing $program"
  done
  [ -z "$missing" ] && break
  sleep 0.1
done
[ -z "$missing" ] || fail "run.sh started no$missing (it runs: $started)"

# The run's secrets are in files only its user can read.
work=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d | head -n 1)
for secret in xauthority server.auth vnc.password; do
  [ "$(stat -c '%a %u' "$work/$secret")" = "600 $(id -u)" ] ||
    fail "$secret is not for this user only: $(stat -c '%A %U' "$work/$secret")"
done
# The display refuses a client without the cookie, and admits one with it.
display=$(cat "$work/display")
socket=/tmp/.X11-unix/X$display
cookie=$(xauth -f "$work/xauthority" list ":$display" | awk '{print $3}')
[ "$(as_other bash -c "$(declare -f x11_probe); x11_probe $socket")" = 0 ] ||
  fail "the X display :$display admits another user without the cookie"
[ "$(x11_probe "$socket" "$cookie")" = 1 ] || fail "the X display refuses its own cookie"
# The VNC server asks for a password and refuses a wrong answer.
answer=$(as_other bash -c "$(declare -f vnc_probe); vnc_probe $port")
[ "$answer" = "types 2 result 1" ] ||
  fail "the VNC server lets another user in without the password (it answered: $answer)"

kill -TERM "$run_pid"
for _ in $(seq 50); do
  kill -0 "$run_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$run_pid" 2>/dev/null && fail "run.sh did not end on SIGTERM"
run_pid=""
for _ in $(seq 50); do
  [ -z "$(ss -ltnH "sport = :$port")" ] && break
  sleep 0.1
done
[ -z "$(ss -ltnH "sport = :$port")" ] || fail "the VNC server is still running"
if pgrep -f "rfbport $port" >/dev/null; then
  fail "the VNC server was left running"
fi
left=$(ps -o pid=,comm= -s "$session" || true)
[ -z "$left" ] || fail "left running after SIGTERM: $(tr '\n' ' ' <<<"$left")"
[ -z "$(ls -A "$tmp")" ] || fail "left in the temporary folder: $(ls -A "$tmp")"

# SIGKILL leaves run.sh no time to stop anything: its children end by themselves.
start_run
kill -KILL "$run_pid"
wait "$run_pid" 2>/dev/null || true
run_pid=""
for _ in $(seq 50); do
  [ -z "$(ps -o pid= -s "$session")" ] && [ -z "$(ss -ltnH "sport = :$port")" ] && break
  sleep 0.1
done
[ -z "$(ss -ltnH "sport = :$port")" ] || fail "a VNC server still listens after SIGKILL of run.sh"
left=$(ps -o pid=,comm= -s "$session" || true)
[ -z "$left" ] || fail "left running after SIGKILL: $(tr '\n' ' ' <<<"$left")"
echo "headless: VNC on 127.0.0.1:$port only (5900 was taken), with a password and the X"
echo "display with a cookie for this run; all stopped on SIGTERM and on SIGKILL"
