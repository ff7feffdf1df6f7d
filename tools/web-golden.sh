#!/usr/bin/env bash
# Plays the golden replay in the web build under Node.js and compares what it gave with the
# desktop's expectation: tools/web-golden.sh [build-web]
# Exit 77 (a skip for ctest) when there is no web build to play it with.
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
if ! node --no-experimental-fetch "$player" "$web/zolvex" "$golden/game.replay" >"$out"; then
  echo "the web build could not play $golden/game.replay"
  exit 1
fi
diff -u "$golden/expected.txt" "$out" && echo "the web build reached $golden/expected.txt"
