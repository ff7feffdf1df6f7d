#!/usr/bin/env bash
# Load run of zolvex-server with wrk, on 127.0.0.1 only, the rate limit off:
#   bench/server/loadrun.sh [BUILD_DIR] [SECONDS] [CONNECTIONS]
# 1. writes distinct valid score submissions to a file; 2. replays them for SECONDS with wrk and
# reports accepted submissions per second and the p50/p99 latency; 3. checks that the database
# holds exactly the accepted count; 4. measures the start page and the highscore page for
# SECONDS; 5. where nginx is installed, measures nginx serving the same two files (the highscore
# page as the server last answered it) with the same load, and gives the server's rate as a
# ratio to nginx's.
# ZOLVEX_BENCH_SMOKE=1: tiny sizes and a few seconds; fails when anything it needs cannot run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
seconds=${2:-10}
conns=${3:-32}
threads=2
if [ "${ZOLVEX_BENCH_SMOKE:-}" = 1 ]; then seconds=2 conns=2; fi
command -v wrk >/dev/null || { echo "wrk is not installed (tools/setup.sh)"; exit 1; }
if [ "${ZOLVEX_BENCH_SMOKE:-}" = 1 ] && [ ! -x /usr/sbin/nginx ]; then
  echo "nginx is not installed (tools/setup.sh)"; exit 1
fi
started() { grep -q serving "$work/server.log" || { echo "the server did not start:"; cat "$work/server.log"; exit 1; }; }
port=${ZOLVEX_BENCH_PORT:-18473}
work=$(mktemp -d /tmp/zolvex-load-XXXXXX)
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT

"$build/bench/server/bench_serverload" requests $((seconds * 12000)) "$work/requests.txt"
echo "requests prepared: $(wc -l < "$work/requests.txt") ($(du -h "$work/requests.txt" | cut -f1))"

"$build/server/zolvex-server" --listen 127.0.0.1:$port --data "$work/data" --rate 0 --quiet \
  --threads $((conns + 8)) 2> "$work/server.log" &
pid=$!
until grep -q serving "$work/server.log" || ! kill -0 $pid 2>/dev/null; do sleep 0.05; done
started

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
until grep -q serving "$work/server.log" || ! kill -0 $pid 2>/dev/null; do sleep 0.05; done
started
rate() { wrk -t$threads -c$conns -d${seconds}s --latency "$1" | tee "$work/last.txt" |
  grep -E 'Requests/sec|50%|99%|Non-2xx' >&2; sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p' "$work/last.txt"; }
echo "== start page: wrk -t$threads -c$conns -d${seconds}s"
start=$(rate "http://127.0.0.1:$port/zvxinternal")
echo "== highscore page: wrk -t$threads -c$conns -d${seconds}s"
high=$(rate "http://127.0.0.1:$port/zvxinternal/highscore.html")
mkdir -p "$work/static"
cp "$(dirname "$build/server/pages/index.html")/index.html" "$work/static/index.html"
curl -s "http://127.0.0.1:$port/zvxinternal/highscore.html" > "$work/static/highscore.html"
kill -TERM $pid
wait $pid

if [ -x /usr/sbin/nginx ]; then
  nport=$((port + 1))
  cat > "$work/nginx.conf" <<CONF
user root; daemon off; worker_processes 2; pid $work/nginx.pid; error_log $work/nginx.log;
events { worker_connections 1024; }
http { access_log off; client_body_temp_path $work/cb; proxy_temp_path $work/px;
  fastcgi_temp_path $work/fc; uwsgi_temp_path $work/uw; scgi_temp_path $work/sc;
  server { listen 127.0.0.1:$nport; root $work/static; } }
CONF
  /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" &
  npid=$!
  sleep 0.5
  echo "== nginx, the same start page"
  nstart=$(rate "http://127.0.0.1:$nport/index.html")
  echo "== nginx, the same highscore page"
  nhigh=$(rate "http://127.0.0.1:$nport/highscore.html")
  kill -TERM $npid; wait $npid || true
  echo "ratio to nginx: start page $(echo "scale=2; $start / $nstart" | bc), highscore page $(echo "scale=2; $high / $nhigh" | bc)"
fi
