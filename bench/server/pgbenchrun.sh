#!/usr/bin/env bash
# The p99 of a submission's database work with PostgreSQL, measured twice over the same filled
# database, on 127.0.0.1 and a socket folder only:
#   bench/server/pgbenchrun.sh [BUILD_DIR] [PLAYERS] [ROUNDS] [SECONDS]    (1000000 3 20)
# Starts a PostgreSQL 15 of its own (fsync and synchronous commit on, as scalerun.sh), fills it
# with PLAYERS players (bench_pgstore fill), then ROUNDS times, one after the other: pgbench
# running pgbench-submit.sql from one client for SECONDS (p50 and p99 from its per-transaction
# log), and bench_pgstore submitting through the store from one thread for as many submissions.
# ZOLVEX_BENCH_STRESS=1 runs `stress --cpu 2` beside the rounds for 120 s at most (two rounds of
# 20 s fit).
# ZOLVEX_BENCH_SMOKE=1: 1000 players, one round of 2 s; fails when anything cannot run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
players=${2:-1000000}
rounds=${3:-3}
seconds=${4:-20}
if [ "${ZOLVEX_BENCH_SMOKE:-}" = 1 ]; then players=1000 rounds=1 seconds=2; fi
pgbin=${ZOLVEX_PG_BIN:-/usr/lib/postgresql/15/bin}
work=$(mktemp -d /tmp/zolvex-pgbench-XXXXXX)
stresser=
as_owner() { if [ "$(id -u)" = 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi; }
cleanup() {
  [ -n "$stresser" ] && kill "$stresser" 2>/dev/null || true
  [ -d "$work/pg" ] && as_owner "$pgbin/pg_ctl" -D "$work/pg" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
[ -x "$pgbin/initdb" ] || { echo "PostgreSQL 15 is not installed (tools/setup.sh)"; exit 1; }
[ -x "$pgbin/pgbench" ] || { echo "pgbench is not installed (postgresql-15)"; exit 1; }
[ "$(id -u)" = 0 ] && chmod 777 "$work"
# Run as root, the database's programs run as nobody, who may not enter the clone (under /root,
# say): they start in the work folder and read the script from there.
cp "$here/pgbench-submit.sql" "$work/"
chmod 644 "$work/pgbench-submit.sql"
cd "$work"

as_owner "$pgbin/initdb" -D "$work/pg" -A trust -U zolvex -E UTF8 --locale=C >/dev/null
as_owner "$pgbin/pg_ctl" -D "$work/pg" -l "$work/pg.log" -w start \
  -o "-k $work -c listen_addresses='' -c shared_buffers=256MB" >/dev/null
as_owner "$pgbin/createdb" -h "$work" -U zolvex scores
uri="postgresql:///scores?host=$work&user=zolvex"
"$build/bench/server/bench_pgstore" fill "$uri" "$players"

if [ "${ZOLVEX_BENCH_STRESS:-}" = 1 ]; then
  command -v stress >/dev/null || { echo "stress is not installed"; exit 1; }
  timeout 120 stress --cpu 2 >/dev/null 2>&1 &
  stresser=$!
  echo "stress --cpu 2 running beside the rounds"
fi
echo "load: $(uptime)"
for round in $(seq "$rounds"); do
  rm -f "$work"/pgbench_log.*
  # The log is written where pgbench runs; as nobody when run as root.
  (cd "$work" && as_owner "$pgbin/pgbench" -h "$work" -U zolvex -n -f "$work/pgbench-submit.sql" \
    -D players="$players" -c 1 -T "$seconds" -l scores > "$work/pgbench.txt" 2>&1) ||
    { cat "$work/pgbench.txt"; exit 1; }
  grep -q "number of failed transactions: 0" "$work/pgbench.txt" ||
    { cat "$work/pgbench.txt"; echo "pgbench: transactions failed"; exit 1; }
  # Column 3 of the log: the transaction's latency in microseconds.
  cat "$work"/pgbench_log.* | awk '{print $3}' | sort -n > "$work/lat.txt"
  n=$(wc -l < "$work/lat.txt")
  [ "$n" -gt 0 ] || { echo "pgbench logged no transaction"; exit 1; }
  p50=$(sed -n "$(( (n - 1) / 2 + 1 ))p" "$work/lat.txt")
  p99=$(sed -n "$(( (n - 1) * 99 / 100 + 1 ))p" "$work/lat.txt")
  printf 'round %d pgbench: %d submissions; p50 %.2f ms p99 %.2f ms\n' "$round" "$n" \
    "$(echo "$p50 / 1000" | bc -l)" "$(echo "$p99 / 1000" | bc -l)"
  printf 'round %d bench_pgstore: ' "$round"
  "$build/bench/server/bench_pgstore" submit "$uri" "$n" 1 | head -1
done
echo "load: $(uptime)"
