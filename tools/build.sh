#!/usr/bin/env bash
# Configures and builds one configuration: tools/build.sh [plain|asan|release|fuzz|web]
#   plain    everything, with the tests and benchmarks (build/)
#   asan     everything but the benchmarks, with AddressSanitizer and UBSan (build-asan/)
#   release  the product's targets only, as a user builds them, optimised (build-release/)
#   fuzz     clang with libFuzzer, ASan and UBSan; only the fuzz targets (build-fuzz/; tools/fuzz.sh
#            runs them)
#   web      the game screen for browsers and Node.js with emscripten (build-web/): the libraries
#            it stands on are built for WebAssembly from Debian's sources (tools/web-deps.sh,
#            cached in build-web/deps), the art is the plain build's (its generator is a host tool),
#            and the plain build's server stores the compressed forms of the page's files
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
  web)     dir=build-web; extra=(-DZOLVEX_HOST_BUILD="$PWD/build") ;;
  *) echo "usage: $0 [plain|asan|release|fuzz|web]" >&2; exit 2 ;;
esac
if [ "$kind" = web ]; then
  # Debian's emscripten reads Debian's acorn, which a Node.js from elsewhere finds only here.
  export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
  # emcc is a Python program: the system's Python, not whichever python3 comes first in PATH.
  export EMSDK_PYTHON=${EMSDK_PYTHON:-/usr/bin/python3}
  if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
  fi
  cmake --build build --target assets level_pack zolvex-server
  tools/web-deps.sh "$dir"
  emcmake cmake -S . -B "$dir" -G Ninja -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "${extra[@]}" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  # The page's files compressed at their smallest once here (a minute), not at every start of a
  # server; only files changed since the last build are compressed again.
  build/server/zolvex-server compress-play "$dir/zolvex"
  exit 0
fi
# ccache, where installed, lets rebuilds and several checkouts on one machine share compiled units.
if command -v ccache >/dev/null; then
  extra+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "${extra[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" "${target[@]}"
