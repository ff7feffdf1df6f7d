#!/usr/bin/env bash
# Size of the write-ahead log under submissions at full speed, on 127.0.0.1 only:
#   bench/server/walrun.sh [BUILD_DIR] [SECONDS] [CONNECTIONS]
# Prints the log's and the database's size every 5 s and the largest log seen.
# ZOLVEX_BENCH_SMOKE=1: tiny sizes and a few seconds; fails when anything it needs cannot run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
seconds=${2:-60}
conns=${3:-32}
if [ "${ZOLVEX_BENCH_SMOKE:-}" = 1 ]; then seconds=2 conns=2; fi
command -v wrk >/dev/null || { echo "wrk is not installed (tools/setup.sh)"; exit 1; }
port=${ZOLVEX_BENCH_PORT:-18474}
work=$(mktemp -d /tmp/zolvex-wal-XXXXXX)
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
"$build/bench/server/bench_serverload" requests $((seconds * 12000)) "$work/requests.txt"
"$build/server/zolvex-server" --listen 127.0.0.1:$port --data "$work/data" --rate 0 --quiet \
  --threads $((conns + 8)) 2> "$work/server.log" &
pid=$!
until grep -q serving "$work/server.log" || ! kill -0 $pid 2>/dev/null; do sleep 0.05; done
grep -q serving "$work/server.log" || { cat "$work/server.log"; exit 1; }
wrk -t2 -c$conns -d${seconds}s --timeout 5s -s "$here/replay.lua" "http://127.0.0.1:$port" \
  -- "$work/requests.txt" 2 $seconds > "$work/wrk.txt" &
load=$!
most=0
while kill -0 $load 2>/dev/null; do
  wal=$(stat -c %s "$work/data/scores.db-wal" 2>/dev/null || echo 0)
  [ "$wal" -gt "$most" ] && most=$wal
  sleep 1
  if [ $((SECONDS % 5)) = 0 ]; then
    echo "$(date +%T) log $((wal / 1048576)) MB, database $(($(stat -c %s "$work/data/scores.db") / 1048576)) MB"
  fi
done
grep -E '^accepted|^latency' "$work/wrk.txt"
echo "largest log seen: $((most / 1048576)) MB"
