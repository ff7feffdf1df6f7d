#!/usr/bin/env bash
# The score store at scale, in one run on this machine, on 127.0.0.1 and a socket folder only:
#   bench/server/scalerun.sh [BUILD_DIR] [SECONDS] [CONNECTIONS] [PLAYERS]
# 1. starts a PostgreSQL 15 of its own in a temporary folder (as nobody when run as root), with
#    its disk settings as shipped (fsync and synchronous commit on);
# 2. fills a database with PLAYERS players (1000000) and times a submission's database work
#    through the store, from one thread and from eight: p50 and p99 (and, apart, the statements
#    without the commit's flush to disk);
# 3. replays the same distinct valid submissions with wrk for SECONDS against one server with
#    SQLite, one server with PostgreSQL, and two servers with PostgreSQL behind nginx (each on a
#    fresh store): accepted submissions per second and p99, and the rows stored against the
#    accepted count.
# ZOLVEX_BENCH_SMOKE=1: tiny sizes and a few seconds; fails when anything it needs cannot run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
seconds=${2:-10}
conns=${3:-32}
players=${4:-1000000}
if [ "${ZOLVEX_BENCH_SMOKE:-}" = 1 ]; then seconds=2 conns=2 players=1000; fi
pgbin=${ZOLVEX_PG_BIN:-/usr/lib/postgresql/15/bin}
base=${ZOLVEX_BENCH_PORT:-18480}
work=$(mktemp -d /tmp/zolvex-scale-XXXXXX)
pids=()
as_owner() { if [ "$(id -u)" = 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi; }
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -s "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid" 2>/dev/null)" 2>/dev/null || true
  [ -d "$work/pg" ] && as_owner "$pgbin/pg_ctl" -D "$work/pg" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
[ -x "$pgbin/initdb" ] || { echo "PostgreSQL 15 is not installed (tools/setup.sh)"; exit 1; }
command -v nginx >/dev/null || { echo "nginx is not installed (tools/setup.sh)"; exit 1; }
command -v wrk >/dev/null || { echo "wrk is not installed (tools/setup.sh)"; exit 1; }
[ "$(id -u)" = 0 ] && chmod 777 "$work"

echo "== PostgreSQL: initdb and start (fsync on, synchronous_commit on)"
as_owner "$pgbin/initdb" -D "$work/pg" -A trust -U zolvex -E UTF8 --locale=C >/dev/null
as_owner "$pgbin/pg_ctl" -D "$work/pg" -l "$work/pg.log" -w start \
  -o "-k $work -c listen_addresses='' -c shared_buffers=256MB -c max_connections=200" >/dev/null
db() {
  as_owner "$pgbin/createdb" -h "$work" -U zolvex "$1"
  echo "postgresql:///$1?host=$work&user=zolvex"
}

echo "== a submission's database work with $players players"
million=$(db million)
"$build/bench/server/bench_pgstore" fill "$million" "$players"
"$build/bench/server/bench_pgstore" work "$million" 5000
"$build/bench/server/bench_pgstore" submit "$million" 5000 1
"$build/bench/server/bench_pgstore" submit "$million" 10000 8

"$build/bench/server/bench_serverload" requests $((seconds * 8000)) "$work/requests.txt"
echo "requests prepared: $(wc -l < "$work/requests.txt")"

start_server() {  # PORT STORE-FLAG STORE
  "$build/server/zolvex-server" --listen 127.0.0.1:$1 "$2" "$3" --rate 0 --quiet \
    --threads $((conns + 8)) 2> "$work/server-$1.log" &
  pids+=($!)
  until grep -q serving "$work/server-$1.log" || ! kill -0 "${pids[-1]}" 2>/dev/null; do sleep 0.05; done
  grep -q serving "$work/server-$1.log" && return
  echo "the server on $1 did not start:"; cat "$work/server-$1.log"; exit 1
}
stop_servers() {
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  pids=()
}
replay() {  # NAME PORT STORE
  echo "== $1: wrk -t2 -c$conns -d${seconds}s"
  wrk -t2 -c$conns -d${seconds}s --timeout 5s -s "$here/replay.lua" "http://127.0.0.1:$2" \
    -- "$work/requests.txt" 2 $seconds | tee "$work/wrk.txt" | grep -E '^(accepted|latency)'
  stop_servers
  local accepted rows
  accepted=$(sed -n 's/^accepted \([0-9]*\).*/\1/p' "$work/wrk.txt")
  rows=$("$build/bench/server/bench_serverload" count "$3")
  echo "rows stored: $rows, accepted: $accepted"
  [ "$rows" = "$accepted" ] || { echo "MISMATCH: rows differ from accepted submissions"; exit 1; }
}

start_server $base --data "$work/sqlite"
replay "one server, SQLite" $base "$work/sqlite"

one=$(db one)
start_server $((base + 1)) --store "$one"
replay "one server, PostgreSQL" $((base + 1)) "$one"

two=$(db two)
start_server $((base + 2)) --store "$two"
start_server $((base + 3)) --store "$two"
user=""
[ "$(id -u)" = 0 ] && user="user nobody nogroup;"
cat > "$work/nginx.conf" <<EOF
$user
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/nginx-body;
  proxy_temp_path $work/nginx-proxy;
  upstream zolvex_servers {
    server 127.0.0.1:$((base + 2));
    server 127.0.0.1:$((base + 3));
    keepalive 64;
  }
  server {
    listen 127.0.0.1:$((base + 4));
    large_client_header_buffers 4 8k;
    location / {
      proxy_pass http://zolvex_servers;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_set_header X-Real-IP \$remote_addr;
    }
  }
}
EOF
nginx -c "$work/nginx.conf" -p "$work" -e "$work/nginx-error.log"
for _ in $(seq 100); do [ -s "$work/nginx.pid" ] && break; sleep 0.05; done
replay "two servers behind nginx, PostgreSQL" $((base + 4)) "$two"
