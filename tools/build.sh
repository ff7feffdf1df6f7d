#!/usr/bin/env bash
# Configures and builds one configuration: tools/build.sh [plain|asan]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-plain}
case "$kind" in
  plain) dir=build; extra=() ;;
  asan)  dir=build-asan; extra=(-DZOLVEX_SANITIZE=ON -DZOLVEX_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug) ;;
  *) echo "usage: $0 [plain|asan]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja "${extra[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
