#!/usr/bin/env bash
# The verifier's cost per game: processor time (user + system) and peak resident memory of one
# zolvex-verify process per replay, and the games one core verifies per second, over the pinned
# replays (the golden game and recorded games of every skill), each run several times:
#   bench/verify.sh [build-dir] [rounds]
# Prints one line per figure: "cpu per game: median M s (min A, max B)", "peak memory: ... MB",
# "games per second per core: N". Processor time, not wall time: on a shared machine the wall
# clock counts the neighbours' turns too.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
rounds=${2:-5}
verify=$build/zolvex/zolvex-verify
replays=("$here/../tests/autoplay/golden/game.replay" "$here"/../tests/verify/pinned/*.replay)
work=$(mktemp -d /tmp/zolvex-verify-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
for ((r = 0; r < rounds; r++)); do
  for f in "${replays[@]}"; do
    /usr/bin/time -f '%U %S %M' -o "$work/t" "$verify" "$f" >/dev/null
    cat "$work/t" >>"$work/all"
  done
done
/usr/bin/python3 - "$work/all" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
cpu = sorted(float(u) + float(s) for u, s, _ in rows)
mem = sorted(int(m) / 1024 for _, _, m in rows)
print(f"cpu per game: median {statistics.median(cpu):.3f} s (min {cpu[0]:.3f}, max {cpu[-1]:.3f}; {len(cpu)} games)")
print(f"peak memory: median {statistics.median(mem):.1f} MB (max {mem[-1]:.1f})")
print(f"games per second per core: {len(cpu) / sum(cpu):.2f}")
PY
