#!/usr/bin/env bash
# What the attacks of a client on the open internet cost a zolvex-server reached directly, on
# 127.0.0.1 only:
#   bench/server/attackrun.sh [BUILD_DIR | SERVER_PROGRAM]
# how long a normal client waits for the start page while 80 clients trickle their heads (a line
# every 3 s), while 300 and 2000 connections stay idle; the server's resident memory before and
# after one connection sends up to 300 MB of header lines; the size of the answer to a request of
# 880 ranges. The attacking connections come from many loopback addresses (all of 127/8 is this
# machine), as they would from many hosts. Prints a Markdown table.
# ZOLVEX_BENCH_SMOKE=1: a tenth of the clients, 3 MB of header lines; fails when it cannot run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arg=${1:-$here/../../build}
if [ -x "$arg" ] && [ ! -d "$arg" ]; then server=$arg; else server=$(cd "$arg" && pwd)/server/zolvex-server; fi
port=${ZOLVEX_BENCH_PORT:-18481}
work=$(mktemp -d /tmp/zolvex-attack-XXXXXX)
ulimit -n 8192 2>/dev/null || ulimit -n "$(ulimit -Hn)"
"$server" --listen 127.0.0.1:$port --data "$work/data" --rate 0 --quiet 2> "$work/server.log" &
pid=$!
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
until grep -q serving "$work/server.log" || ! kill -0 $pid 2>/dev/null; do sleep 0.05; done
grep -q serving "$work/server.log" || { echo "the server did not start:"; cat "$work/server.log"; exit 1; }

python3 - "$port" "$pid" "${ZOLVEX_BENCH_SMOKE:-0}" <<'EOF'
import socket, sys, time

port, pid = int(sys.argv[1]), int(sys.argv[2])
smoke = sys.argv[3] == "1"
scale = 10 if smoke else 1  # the smoke run: a tenth of the clients
flood_mb = 3 if smoke else 300
LIMIT = 30.0  # a client that waits longer has given up

def rss_mb():
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS"):
                return int(line.split()[1]) / 1024

def connect(source):
    s = socket.socket()
    s.bind((source, 0))
    s.settimeout(LIMIT)
    s.connect(("127.0.0.1", port))
    return s

def page_wait():
    start = time.time()
    try:
        s = connect("127.0.0.1")
        s.sendall(b"GET /zvxinternal HTTP/1.1\r\nHost: x\r\n\r\n")
        ok = s.recv(12) == b"HTTP/1.1 200"
        s.close()
    except OSError:
        ok = False
    took = time.time() - start
    return f"{took:.3f} s" if ok else f"no answer in {took:.0f} s"

def close_all(conns):
    for s in conns:
        s.close()
    time.sleep(0.5)

rows = []
rows.append(("start page, nothing else going on", page_wait()))

slow = []
for i in range(80 // scale):
    s = connect(f"127.0.2.{1 + i // 4}")
    s.sendall(b"GET /zvxinternal HTTP/1.1\r\n")
    slow.append(s)
time.sleep(3)
for s in slow:
    try:
        s.sendall(b"X-Slow: 1\r\n")
    except OSError:
        pass
rows.append((f"start page while {80 // scale} clients trickle their heads", page_wait()))
close_all(slow)

for n in (300 // scale, 2000 // scale):
    idle = []
    for i in range(n):
        try:
            idle.append(connect(f"127.0.1.{1 + i // 20}"))
        except OSError:
            break
    rows.append((f"start page while {n} connections are idle ({len(idle)} opened)", page_wait()))
    close_all(idle)

before = rss_mb()
flood = connect("127.0.3.1")
flood.sendall(b"GET /zvxinternal HTTP/1.1\r\n")
line = b"X-Flood: " + b"a" * 1000 + b"\r\n"
chunk = line * 64
sent = 0
flood.settimeout(5)
try:
    while sent < flood_mb << 20:
        flood.sendall(chunk)
        sent += len(chunk)
    outcome = "all sent"
except OSError as e:
    outcome = f"cut off after {sent >> 10} KB ({e.__class__.__name__})"
flood.close()
time.sleep(0.5)
rows.append((f"resident memory before / after one connection sends up to {flood_mb} MB of header lines",
             f"{before:.1f} / {rss_mb():.1f} MB, {outcome}"))

s = connect("127.0.0.1")
s.sendall(b"GET /zvxinternal/index.html HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
whole = b""
while chunk := s.recv(65536):
    whole += chunk
size = len(whole.split(b"\r\n\r\n", 1)[1])
ranges = "bytes=0-0" + "".join(f",{i}-{i}" for i in range(1, 880))
s = connect("127.0.0.1")
s.sendall(f"GET /zvxinternal/index.html HTTP/1.1\r\nHost: x\r\nRange: {ranges}\r\nConnection: close\r\n\r\n".encode())
answer = b""
try:
    while chunk := s.recv(65536):
        answer += chunk
except OSError:
    pass
rows.append(("answer to 880 ranges of the start page", f"{len(answer)} bytes (the page: {size} bytes)"))

print("| attack | result |")
print("|---|---|")
for what, result in rows:
    print(f"| {what} | {result} |")
EOF
