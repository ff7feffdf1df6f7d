#!/usr/bin/env bash
# Renews the golden replay (tests/autoplay/golden/) on purpose, after a change of the game's
# behaviour that is meant: records one new game of the good player and writes its result, score,
# statistics and log as the new expectation. Review the diff, then commit it with the change.
#   tools/renew-golden.sh [SEED]      (default: the seed of the present recording)
set -euo pipefail
cd "$(dirname "$0")/.."
golden=tests/autoplay/golden
seed=${1:-$(sed -n 's/^seed //p' "$golden/expected.txt" 2>/dev/null || true)}
seed=${seed:-11}
[ -f build/build.ninja ] || tools/build.sh plain
cmake --build build --target autoplay test_autoplay
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
build/zolvex/autoplay --games 1 --skill good --seed "$seed" --record "$tmp"
cp "$tmp/game_1.replay" "$golden/game.replay"
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ZOLVEX_RENEW_GOLDEN=1 \
  build/tests/test_autoplay --gtest_filter='GoldenReplay.*' >/dev/null
# Played once more, the new recording must now pass as it stands.
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy build/tests/test_autoplay --gtest_filter='GoldenReplay.*' \
  | tail -n 1
git diff --stat -- "$golden"
