#!/usr/bin/env bash
# Configures and builds one configuration: tools/build.sh [plain|asan|fuzz]
# fuzz: clang with libFuzzer, ASan and UBSan; builds only the fuzz targets (tools/fuzz.sh runs them).
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-plain}
case "$kind" in
  plain) dir=build; extra=() ;;
  asan)  dir=build-asan; extra=(-DZOLVEX_SANITIZE=ON -DZOLVEX_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug) ;;
  fuzz)  dir=build-fuzz; extra=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZOLVEX_SANITIZE=ON
           -DZOLVEX_FUZZ=ON -DZOLVEX_TESTS=OFF -DZOLVEX_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
           -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link) ;;
  *) echo "usage: $0 [plain|asan|fuzz]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja "${extra[@]}" >/dev/null
if [ "$kind" = fuzz ]; then
  cmake --build "$dir" -j"$(nproc)" --target fuzz_all
else
  cmake --build "$dir" -j"$(nproc)"
fi
