#!/usr/bin/env bash
# Replays arriving faster than they are verified, on 127.0.0.1 only:
#   bench/server/replayrun.sh [BUILD_DIR] [GAMES] [WORKERS] [QUEUE] [VERIFIER]
# Publishes GAMES distinct games, then sends all their replays at once (32 at a time) to a server
# with WORKERS verifiers and room for QUEUE replays; a replay answered 503 is sent again after a
# pause, as a client that honours Retry-After does. Reports the answers (200 verified, 202 pending,
# 503 full), the time until every replay was played, verified replays per second, and checks that
# every game ends verified (nothing taken is lost). Without VERIFIER a stand-in that spends
# ${BURN_MS:-300} ms of processor time per replay plays them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
games=${2:-200}
workers=${3:-2}
queue=${4:-8}
verifier=${5:-}
port=${ZOLVEX_BENCH_PORT:-18474}
work=$(mktemp -d /tmp/zolvex-replays-XXXXXX)
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/games"
"$build/bench/server/bench_serverload" replays "$games" "$work/games"
if [ -z "$verifier" ]; then
  verifier=$work/verify
  cat > "$verifier" <<SH
#!/bin/sh
end=\$((\$(date +%s%N) + ${BURN_MS:-300} * 1000000))
while [ \$(date +%s%N) -lt \$end ]; do :; done
zcat -f "\$1"
SH
  chmod +x "$verifier"
fi
"$build/server/zolvex-server" --listen 127.0.0.1:$port --data "$work/data" --rate 0 --quiet \
  --require-replay --verifier "$verifier" --verify-workers "$workers" --verify-queue "$queue" \
  --threads 64 2> "$work/server.log" &
pid=$!
until grep -q serving "$work/server.log" || ! kill -0 $pid 2>/dev/null; do sleep 0.05; done
grep -q serving "$work/server.log" || { echo "the server did not start:"; cat "$work/server.log"; exit 1; }
base=http://127.0.0.1:$port
i=0
while read -r cs; do
  curl -s -o /dev/null "$base/score2.php?cs=$cs"
  gzip -c "$work/games/$i.report" > "$work/games/$i.gz"
  echo "$i $cs" >> "$work/pairs.txt"
  i=$((i + 1))
done < "$work/games/targets.txt"
send() {  # one replay: prints its status, its number and its payload
  status=$(curl -s -o /dev/null -w '%{http_code}' -X POST -H 'Content-Type: application/gzip' \
    --data-binary "@$W/games/$1.gz" "$B/replay.php?cs=$2")
  echo "$status $1 $2"
}
export -f send
export W=$work B=$base
start=$(date +%s.%N)
cp "$work/pairs.txt" "$work/todo.txt"
round=0
while [ -s "$work/todo.txt" ]; do
  round=$((round + 1))
  xargs -P 32 -L 1 bash -c 'send "$0" "$1"' < "$work/todo.txt" > "$work/results.txt"
  cut -d' ' -f1 "$work/results.txt" >> "$work/status.txt"
  { grep '^503 ' "$work/results.txt" || true; } | cut -d' ' -f2- > "$work/todo.txt"
  [ -s "$work/todo.txt" ] && sleep 1
done
until curl -s "$base/metrics" | grep -q '^zolvex_replays_pending 0$'; do sleep 0.1; done
end=$(date +%s.%N)
metrics=$(curl -s "$base/metrics")
verified=$(echo "$metrics" | sed -n 's/^zolvex_replays_total{verdict="verified"} //p')
refused=$(echo "$metrics" | sed -n 's/^zolvex_replays_total{verdict="refused"} //p')
cpu=$(echo "$metrics" | sed -n 's/^zolvex_verifier_seconds_total //p')
echo "games $games, workers $workers, queue $queue, sending rounds $round"
echo "answers: $(sort "$work/status.txt" | uniq -c | awk '{printf "%s x%s  ", $2, $1}')"
awk -v v="$verified" -v s="$start" -v e="$end" -v c="$cpu" 'BEGIN {
  printf "verified %d in %.2f s: %.1f per second; verifier processor time %.2f s (%.3f s each)\n",
         v, e - s, v / (e - s), c, c / v }'
# Every replay taken is played: verified or refused, none left over.
echo "refused $refused"
[ $((verified + refused)) = "$games" ] || { echo "LOST: $verified + $refused of $games played"; exit 1; }
echo "load: $(uptime)"
