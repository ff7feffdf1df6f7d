#!/usr/bin/env bash
# What CI runs: every test in the plain build and in the sanitizer build (the plain one's include
# the web build's recorded games under Node.js), and a Release build of the product's targets, so
# that the optimiser's warnings are seen before a user meets them.
set -euo pipefail
cd "$(dirname "$0")/.."
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
echo "=== format"
tools/format.sh --check || status=1
for kind in plain asan; do
  dir=build; [ "$kind" = asan ] && dir=build-asan
  echo "=== $kind build"
  tools/build.sh "$kind"
  # The web build before the plain tests: they play its recorded games under Node.js.
  if [ "$kind" = plain ]; then
    echo "=== web build"
    tools/build.sh web
  fi
  echo "=== $kind tests"
  (cd "$dir" && ctest -j"$(nproc)" --output-on-failure --timeout 600) || status=1
  # Every benchmark once on tiny sizes: one that can no longer run fails here.
  if [ "$kind" = plain ]; then
    echo "=== bench smoke run"
    bench/smoke.sh "$dir" || status=1
  fi
done
echo "=== release build"
tools/build.sh release || status=1
echo "=== packages"
tools/package.sh build-release || status=1
# Every fuzz target a short while on its committed corpus: an input that once crashed a reader
# is kept there and must keep passing.
echo "=== fuzz build"
tools/build.sh fuzz || status=1
echo "=== fuzz runs"
tools/fuzz.sh 20 || status=1
exit $status
