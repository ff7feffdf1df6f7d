#!/usr/bin/env bash
# The golden game played by the web build under Node.js against the desktop's replay driver, in
# turns (desktop, web, desktop, web, ...), each run a whole process: set-up, the program folder's
# copy, the game without drawing, and for the web build Node.js's start and the WebAssembly
# module's compilation:
#   bench/webreplay.sh [build-dir] [web-build-dir] [rounds]
# Prints per side the median wall time and processor time (user + system) with their spread, and
# the web build's ratio to the desktop's (above 1 is slower). Processor time is the figure to
# trust on a shared machine: the wall clock counts the neighbours' turns too.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
web=$(realpath "${2:-$here/../build-web}")
rounds=${3:-5}
replay=$here/../tests/autoplay/golden/game.replay
player=$web/zolvex/zolvex-replay.js
if [ ! -f "$player" ]; then
  echo "webreplay: no web build at $web (tools/build.sh web makes one); nothing measured"
  exit 0
fi
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
work=$(mktemp -d /tmp/zolvex-webreplay-XXXXXX)
trap 'rm -rf "$work"' EXIT
for ((r = 0; r < rounds; r++)); do
  /usr/bin/time -f 'desktop %e %U %S' -a -o "$work/all" "$build/zolvex/autoplay" --replay "$replay" >/dev/null
  /usr/bin/time -f 'web %e %U %S' -a -o "$work/all" \
    node --no-experimental-fetch "$player" "$web/zolvex" "$replay" >/dev/null
done
/usr/bin/python3 - "$work/all" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
med = {}
for side in ("desktop", "web"):
    wall = sorted(float(w) for s, w, _, _ in rows if s == side)
    cpu = sorted(float(u) + float(k) for s, _, u, k in rows if s == side)
    med[side] = (statistics.median(wall), statistics.median(cpu))
    print(f"{side}: wall median {med[side][0]:.2f} s (min {wall[0]:.2f}, max {wall[-1]:.2f}), "
          f"cpu median {med[side][1]:.2f} s (min {cpu[0]:.2f}, max {cpu[-1]:.2f}); {len(wall)} runs")
print(f"web / desktop: wall {med['web'][0] / med['desktop'][0]:.2f}, "
      f"cpu {med['web'][1] / med['desktop'][1]:.2f}")
PY
