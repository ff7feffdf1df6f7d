#!/usr/bin/env bash
# Configures and builds one configuration: tools/build.sh [plain|asan|release|fuzz]
#   plain    everything, with the tests and benchmarks (build/)
#   asan     everything but the benchmarks, with AddressSanitizer and UBSan (build-asan/)
#   release  the product's targets only, as a user builds them, optimised (build-release/)
#   fuzz     clang with libFuzzer, ASan and UBSan; only the fuzz targets (build-fuzz/; tools/fuzz.sh
#            runs them)
# Warnings are errors in all of them: this is the developers' and CI's build. A user's plain
# `cmake -S . -B dir && cmake --build dir` leaves them warnings.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-plain}
target=()
case "$kind" in
  plain)   dir=build; extra=() ;;
  asan)    dir=build-asan; extra=(-DZOLVEX_SANITIZE=ON -DZOLVEX_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug) ;;
  release) dir=build-release; extra=(-DCMAKE_BUILD_TYPE=Release -DZOLVEX_TESTS=OFF -DZOLVEX_BENCH=OFF) ;;
  fuzz)    dir=build-fuzz; extra=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZOLVEX_SANITIZE=ON
             -DZOLVEX_FUZZ=ON -DZOLVEX_TESTS=OFF -DZOLVEX_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
             -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link)
           target=(--target fuzz_all) ;;
  *) echo "usage: $0 [plain|asan|release|fuzz]" >&2; exit 2 ;;
esac
# ccache, where installed, lets rebuilds and several checkouts on one machine share compiled units.
if command -v ccache >/dev/null; then
  extra+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "${extra[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" "${target[@]}"
