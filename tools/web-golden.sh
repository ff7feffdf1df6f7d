#!/usr/bin/env bash
# Plays recorded games in the web build under Node.js and compares what they gave with the
# desktop's: the golden replay against its expected.txt, and the verifier's pinned replays
# against the figures pinned for them (the facts both print). With the desktop's autoplay, the
# golden game's sound too: both builds mix it tick by tick, and every sample must be the same.
#   tools/web-golden.sh [build-web] [autoplay]
# Exit 77 (a skip for ctest) when there is no web build to play them with.
set -uo pipefail
cd "$(dirname "$0")/.."
web=${1:-build-web}
autoplay=${2:-}
player=$web/zolvex/zolvex-replay.js
if [ ! -f "$player" ]; then
  echo "skipped: no web build at $web (tools/build.sh web makes one)"
  exit 77
fi
golden=tests/autoplay/golden
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
out=$(mktemp)
sounds=$(mktemp -d)
trap 'rm -rf "$out" "$sounds"' EXIT
# Node.js's own fetch would make the loader take the module's path for an address.
play() { node --no-experimental-fetch "$player" "$web/zolvex" "$@" >"$out"; }
status=0
mix=()
[ -n "$autoplay" ] && mix=("$sounds/web.raw")
if ! play "$golden/game.replay" "${mix[@]}"; then
  echo "the web build could not play $golden/game.replay"
  exit 1
fi
if diff -u "$golden/expected.txt" "$out"; then
  echo "the web build reached $golden/expected.txt"
else
  status=1
fi
if [ -n "$autoplay" ]; then
  if ! "$autoplay" --replay "$golden/game.replay" --mix "$sounds/desktop.raw" >/dev/null; then
    echo "the desktop's autoplay could not play $golden/game.replay"
    exit 1
  fi
  # Two silent mixes would be equal too: the game must be heard, then heard alike.
  /usr/bin/python3 - "$sounds/desktop.raw" "$sounds/web.raw" <<'PY' || status=1
import array, math, sys
a, b = (array.array("h", open(p, "rb").read()) for p in sys.argv[1:3])
rms = math.sqrt(sum(x * x for x in a) / max(len(a), 1))
print(f"the golden game's sound: {len(a) / 88200:.1f} s of stereo at 44100 Hz, rms {rms:.0f}")
if rms < 500:
    sys.exit("the desktop's mix of the golden game is (nearly) silent")
if len(a) != len(b):
    sys.exit(f"the web build's mix has {len(b)} samples, the desktop's {len(a)}")
diff = [i for i in range(len(a)) if a[i] != b[i]]
if diff:
    i = diff[0]
    sys.exit(f"{len(diff)} samples differ; the first at {i // 2 / 44100:.3f} s "
             f"({'left' if i % 2 == 0 else 'right'}): desktop {a[i]}, web {b[i]}")
print("the web build's mix of the golden game is the desktop's, sample for sample")
PY
fi
# The verifier's figures and the player's facts, in one form: its "ticks" are the player's
# "ended at tick".
common() {
  sed -E 's/^ended at tick /ticks /' "$1" |
    grep -E '^(finished|won|score|ticks|condom shots|torpedoes|spawned|caught early|caught|escaped) ' |
    sort
}
for replay in tests/verify/pinned/*.replay; do
  if ! play "$replay"; then
    echo "the web build could not play $replay"
    status=1
    continue
  fi
  if diff -u --label "${replay%.replay}.expected" --label web <(common "${replay%.replay}.expected") \
    <(common "$out"); then
    echo "the web build reached ${replay%.replay}.expected"
  else
    status=1
  fi
done
exit $status
