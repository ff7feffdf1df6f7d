#!/usr/bin/env bash
# Load run of zolvex-server with wrk, on 127.0.0.1 only, the rate limit off:
#   bench/server/loadrun.sh [BUILD_DIR] [SECONDS] [CONNECTIONS]
# 1. writes distinct valid score submissions to a file; 2. replays them for SECONDS with wrk and
# reports accepted submissions per second and the p50/p99 latency; 3. checks that the database
# holds exactly the accepted count; 4. measures the start page for SECONDS.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
seconds=${2:-10}
conns=${3:-32}
threads=2
port=${ZOLVEX_BENCH_PORT:-18473}
work=$(mktemp -d /tmp/zolvex-load-XXXXXX)
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT

"$build/bench/server/bench_serverload" requests $((seconds * 12000)) "$work/requests.txt"
echo "requests prepared: $(wc -l < "$work/requests.txt") ($(du -h "$work/requests.txt" | cut -f1))"

"$build/server/zolvex-server" --listen 127.0.0.1:$port --data "$work/data" --rate 0 --quiet \
  --threads $((conns + 8)) 2> "$work/server.log" &
pid=$!
for _ in $(seq 100); do grep -q serving "$work/server.log" && break; sleep 0.05; done

echo "== submissions: wrk -t$threads -c$conns -d${seconds}s"
wrk -t$threads -c$conns -d${seconds}s --timeout 5s -s "$here/replay.lua" "http://127.0.0.1:$port" \
  -- "$work/requests.txt" $threads $seconds | tee "$work/wrk.txt"

kill -TERM $pid
wait $pid
accepted=$(sed -n 's/^accepted \([0-9]*\).*/\1/p' "$work/wrk.txt")
rows=$("$build/bench/server/bench_serverload" count "$work/data")
echo "rows stored: $rows, accepted: $accepted"
[ "$rows" = "$accepted" ] || { echo "MISMATCH: rows differ from accepted submissions"; exit 1; }

"$build/server/zolvex-server" --listen 127.0.0.1:$port --data "$work/data" --rate 0 --quiet \
  --threads $((conns + 8)) 2> "$work/server.log" &
pid=$!
for _ in $(seq 100); do grep -q serving "$work/server.log" && break; sleep 0.05; done
echo "== start page: wrk -t$threads -c$conns -d${seconds}s"
wrk -t$threads -c$conns -d${seconds}s --latency "http://127.0.0.1:$port/zvxinternal" | grep -E 'Requests/sec|50%|99%|Non-2xx'
echo "== highscore page: wrk -t$threads -c$conns -d${seconds}s"
wrk -t$threads -c$conns -d${seconds}s --latency "http://127.0.0.1:$port/zvxinternal/highscore.html" | grep -E 'Requests/sec|50%|99%|Non-2xx'
kill -TERM $pid
wait $pid
