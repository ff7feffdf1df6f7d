#!/usr/bin/env bash
# The launcher against a game server that accepts connections and never answers, on a virtual
# desktop: how soon the File menu opens after Alt+F over the first 20 s, how soon SIGTERM ends the
# program, and how soon it ends (with its settings saved) when asked to while a dialog is open.
#   bench/launcher_field.sh [build-dir] [screenshot-dir]
# Needs Xvfb, openbox and xdotool (tools/setup.sh installs them). Runs in a copy of the program
# directory, so the player's own settings are never touched.
set -euo pipefail
. "$(dirname "$0")/desktop.sh"
build=$(realpath "${1:-build}")
shots=${2:-}
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
now() { date +%s.%N; }
# ZOLVEX_BENCH_SMOKE=1 (bench/smoke.sh): every step once, with short waits.
smoke=""
[ -n "${ZOLVEX_BENCH_SMOKE:-}" ] && [ "$ZOLVEX_BENCH_SMOKE" != 0 ] && smoke=1
ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f", (b - a) * 1000 }'; }

# The silent peer: takes every connection and holds it without a word.
python3 -c '
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0)); s.listen(128)
print(s.getsockname()[1], flush=True)
held = []
while True:
    c, _ = s.accept(); held.append(c)
' >"$work/port" &
pids+=($!)
until [ -s "$work/port" ]; do sleep 0.05; done
port=$(cat "$work/port")

start_desktop 1024x768

prepare() {
  if [ ! -d "$work/prog" ]; then
    cp -r "$build/zolvex/." "$work/prog/"
  fi
  rm -f "$work/prog/KVD/LOG.TXT" "$work/prog/KVD/env.dat" "$work/prog/KVD/game.dat"
  printf 'GameServer: 127.0.0.1:%s\r\nScoreServer: 127.0.0.1:%s\r\n' "$port" "$port" \
    >"$work/prog/KVD/prog.cfg"
}
start() {
  start_launcher "$work/prog" "$work/zolvex.log"
  zpid=$lpid
}
windows() { xdotool search --onlyvisible --class zolvex 2>/dev/null | wc -l; }
# Waits until the process has ended; prints the milliseconds since $1 (or "not ended" after 10 s).
ended_after() {
  local t0=$1
  for _ in $(seq 1000); do
    if ! kill -0 "$zpid" 2>/dev/null; then ms "$t0" "$(now)"; return; fi
    sleep 0.01
  done
  echo "not ended"
  kill -9 "$zpid" 2>/dev/null || true
}

echo "peer on 127.0.0.1:$port accepts and never answers"
# The first start converts the music (a wait of its own, on the disk, not the network); the
# figures below are those of a later start.
prepare
start
sleep "$([ -n "$smoke" ] && echo 3 || echo 30)"
kill -TERM "$zpid"
ended_after "$(now)" >/dev/null
prepare
start
t_start=$(now)
worst=0
count=0
while [ "$(ms "$t_start" "$(now)")" -lt "$([ -n "$smoke" ] && echo 1000 || echo 20000)" ]; do
  base=$(windows)
  xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
  t0=$(now)
  xdotool key --window "$win" alt+f
  opened=""
  for _ in $(seq 300); do
    if [ "$(windows)" -gt "$base" ]; then opened=$(ms "$t0" "$(now)"); break; fi
    sleep 0.005
  done
  [ -z "$opened" ] && opened=9999
  if [ -n "$shots" ] && [ "$count" -eq 3 ]; then import -window root "$shots/menu_open.png"; fi
  count=$((count + 1))
  [ "$opened" -gt "$worst" ] && worst=$opened
  printf 'at %5d ms: File menu open after %d ms\n' "$(ms "$t_start" "$t0")" "$opened"
  xdotool key Escape
  sleep 0.7
done
echo "File menu: $count tries in the first 20 s, slowest ${worst} ms"
t0=$(now)
kill -TERM "$zpid"
echo "SIGTERM: ended after $(ended_after "$t0") ms"

# A dialog open when the program is asked to end.
for dialog in "alt+f o:Options" "alt+h i:Info" "alt+i e:Send Errorreport"; do
  keys=${dialog%%:*}
  name=${dialog#*:}
  prepare
  start
  sleep 1
  xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
  for k in $keys; do xdotool key "$k"; sleep 0.3; done
  sleep 1
  shown=$(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null | head -1 || true)
  if [ -n "$shots" ]; then import -window root "$shots/dialog_${name// /_}.png"; fi
  t0=$(now)
  kill -TERM "$zpid"
  after=$(ended_after "$t0")
  saved=$(stat -c %s "$work/prog/KVD/env.dat" 2>/dev/null || echo none)
  [ -n "$shown" ] && state=open || state="NOT FOUND"
  echo "$name $state: SIGTERM ended the program after $after ms, env.dat: $saved bytes"
done

# The error report against a mail server that takes the message and then goes quiet.
python3 -c '
import socket, threading
s = socket.socket()
s.bind(("127.0.0.1", 0)); s.listen(16)
print(s.getsockname()[1], flush=True)
def serve(c):
    f = c.makefile("rb")
    c.sendall(b"220 quiet.test ESMTP\r\n")
    data = False
    for line in f:
        line = line.rstrip(b"\r\n")
        if data:
            if line == b".":
                data = False  # and not a word more
            continue
        verb = line[:4].upper()
        if verb == b"DATA":
            data = True
            c.sendall(b"354 go ahead\r\n")
        else:
            c.sendall(b"250 ok\r\n")
while True:
    c, _ = s.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
' >"$work/smtpport" &
pids+=($!)
until [ -s "$work/smtpport" ]; do sleep 0.05; done
smtpport=$(cat "$work/smtpport")
echo "mail server on 127.0.0.1:$smtpport goes quiet after the message"
report() {
  prepare
  printf 'MailServer: 127.0.0.1:%s\r\n' "$smtpport" >>"$work/prog/KVD/prog.cfg"
  printf 'Program Version 1.10\r\nglsLoop: Access violation\r\nERROR\r\n' >"$work/prog/KVD/LOG.TXT"
  start
  sleep 1
  # The abnormal end is asked about first: No, then the report from the menu.
  box=$(xdotool search --onlyvisible --name '^Zolvex$' 2>/dev/null | head -1 || true)
  [ -n "$box" ] && xdotool windowactivate --sync "$box" >/dev/null 2>&1 && xdotool key n && sleep 0.5
  xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
  xdotool key alt+i; sleep 0.3; xdotool key e; sleep 1
  dlg=$(xdotool search --onlyvisible --name '^Send Errorreport$' | head -1)
  xdotool type --delay 20 "It froze."
  xdotool key Tab Tab Tab space
  sent=$(now)
}
report
sleep 2
[ -n "$shots" ] && import -window root "$shots/report_sending.png"
# The dialog takes input meanwhile: a title change by the window manager shows it repaints; the
# description field still takes keys.
failed=""
for _ in $(seq 1800); do
  if xdotool search --onlyvisible --name '^Zolvex$' >/dev/null 2>&1; then failed=$(ms "$sent" "$(now)"); break; fi
  sleep 0.05
done
[ -n "$shots" ] && import -window root "$shots/report_failed.png"
log=$([ -f "$work/prog/KVD/LOG.TXT" ] && echo kept || echo gone)
echo "report: failure shown ${failed:-never} ms after the send; the log is $log"
xdotool key Return
sleep 0.5
t0=$(now)
kill -TERM "$zpid"
echo "SIGTERM with the report dialog open: ended after $(ended_after "$t0") ms"

report
sleep 2
t0=$(now)
kill -TERM "$zpid"
echo "SIGTERM while the report is being sent: ended after $(ended_after "$t0") ms, log $([ -f "$work/prog/KVD/LOG.TXT" ] && echo kept || echo gone)"
