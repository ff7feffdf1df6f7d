#!/usr/bin/env bash
# Plays recorded games in the web build under Node.js and compares what they gave with the
# desktop's: the golden replay against its expected.txt, and the verifier's pinned replays
# against the figures pinned for them (the facts both print). tools/web-golden.sh [build-web]
# Exit 77 (a skip for ctest) when there is no web build to play them with.
set -uo pipefail
cd "$(dirname "$0")/.."
web=${1:-build-web}
player=$web/zolvex/zolvex-replay.js
if [ ! -f "$player" ]; then
  echo "skipped: no web build at $web (tools/build.sh web makes one)"
  exit 77
fi
golden=tests/autoplay/golden
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Node.js's own fetch would make the loader take the module's path for an address.
play() { node --no-experimental-fetch "$player" "$web/zolvex" "$1" >"$out"; }
status=0
if ! play "$golden/game.replay"; then
  echo "the web build could not play $golden/game.replay"
  exit 1
fi
if diff -u "$golden/expected.txt" "$out"; then
  echo "the web build reached $golden/expected.txt"
else
  status=1
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
