#!/usr/bin/env bash
# Resident memory of one zolvex-server against the players of its store, with the rank lookups and
# submissions at that size, for SQLite and PostgreSQL; on 127.0.0.1 and a socket folder only:
#   bench/server/memrun.sh [BUILD_DIR] [PLAYERS ...]          (default 1000000 10000000)
# For each size, each store: fills a fresh store directly (bench_pgstore fill), starts
# zolvex-server on it, publishes 20 games through HTTP (each answer carries its ranks), then reads
# the server's VmRSS; the same for an empty store, so that the bytes per player are the growth
# above the empty server. Then rank lookups and submissions of the store at that size (p50, p99).
# ZOLVEX_BENCH_SMOKE=1: 1000 players, a few lookups; fails when anything cannot run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
shift || true
sizes=("$@")
[ ${#sizes[@]} = 0 ] && sizes=(1000000 10000000)
lookups=20000 submissions=2000
if [ "${ZOLVEX_BENCH_SMOKE:-}" = 1 ]; then sizes=(1000); lookups=50; submissions=20; fi
pgbin=${ZOLVEX_PG_BIN:-/usr/lib/postgresql/15/bin}
port=${ZOLVEX_BENCH_PORT:-18490}
work=$(mktemp -d /tmp/zolvex-mem-XXXXXX)
bench=$build/bench/server/bench_pgstore
pid=
as_owner() { if [ "$(id -u)" = 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi; }
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  [ -d "$work/pg" ] && as_owner "$pgbin/pg_ctl" -D "$work/pg" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
[ -x "$pgbin/initdb" ] || { echo "PostgreSQL 15 is not installed (tools/setup.sh)"; exit 1; }
command -v curl >/dev/null || { echo "curl is not installed"; exit 1; }
[ "$(id -u)" = 0 ] && chmod 777 "$work"

as_owner "$pgbin/initdb" -D "$work/pg" -A trust -U zolvex -E UTF8 --locale=C >/dev/null
as_owner "$pgbin/pg_ctl" -D "$work/pg" -l "$work/pg.log" -w start \
  -o "-k $work -c listen_addresses='' -c shared_buffers=256MB" >/dev/null
db() {
  as_owner "$pgbin/createdb" -h "$work" -U zolvex "$1"
  echo "postgresql:///$1?host=$work&user=zolvex"
}
"$build/bench/server/bench_serverload" requests 20 "$work/requests.txt"

rss_kb() {  # STORE-FLAG STORE: the server's VmRSS after 20 published games
  "$build/server/zolvex-server" --listen 127.0.0.1:$port "$1" "$2" --rate 0 --quiet \
    2> "$work/server.log" &
  pid=$!
  until grep -q serving "$work/server.log" || ! kill -0 $pid 2>/dev/null; do sleep 0.1; done
  grep -q serving "$work/server.log" || { echo "the server did not start:" >&2; cat "$work/server.log" >&2; exit 1; }
  local ranked=0
  while read -r target; do
    curl -sf "http://127.0.0.1:$port$target" | grep -q '^Rang=' && ranked=$((ranked + 1))
  done < "$work/requests.txt"
  curl -sf "http://127.0.0.1:$port/zvxinternal/highscore.html" >/dev/null
  [ $ranked = 20 ] || { echo "only $ranked of 20 games were ranked" >&2; exit 1; }
  sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status"
  kill -TERM $pid; wait $pid || true; pid=
}

empty_sqlite=$(rss_kb --data "$work/empty")
empty_pg=$(rss_kb --store "$(db empty)")
echo "empty store: SQLite $((empty_sqlite / 1024)) MB, PostgreSQL $((empty_pg / 1024)) MB resident"
n=0
for players in "${sizes[@]}"; do
  n=$((n + 1))
  for kind in sqlite pg; do
    if [ $kind = sqlite ]; then flag=--data store=$work/s$n name=SQLite empty=$empty_sqlite
    else flag=--store store=$(db p$n) name=PostgreSQL empty=$empty_pg; fi
    echo "== $name, $players players"
    "$bench" fill "$store" "$players"
    rss=$(rss_kb $flag "$store")
    echo "resident: $((rss / 1024)) MB; $(( (rss - empty) * 1024 / players )) bytes a player above the empty server"
    "$bench" ranks "$store" $lookups
    "$bench" submit "$store" $submissions 1
  done
  rm -rf "$work/s$n"
done
