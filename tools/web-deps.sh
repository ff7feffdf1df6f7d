#!/usr/bin/env bash
# Builds the libraries the game screen stands on (SDL2, FreeType, SDL2_ttf, libjpeg-turbo) for
# WebAssembly from Debian's own source packages, into build-web/deps/prefix:
#   tools/web-deps.sh [build-web]
# The sources come through `apt-get source` (set-up adds the deb-src entry), unpacked with
# Debian's patches; emscripten's ports would fetch from the internet, which a build may not do.
# A library is built once: its stamp in the prefix names the source version, so a new Debian
# version (a security fix) builds it again and anything else is taken from the cache.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(realpath -m "${1:-build-web}")
deps=$root/deps
src=$deps/src
prefix=$deps/prefix
mkdir -p "$src" "$prefix"
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
# emcc is a Python program: the system's Python, not whichever python3 comes first in PATH.
export EMSDK_PYTHON=${EMSDK_PYTHON:-/usr/bin/python3}
jobs=$(nproc)

# The newest source version apt knows of a source package.
version() { apt-cache showsrc "$1" | awk '/^Version:/ {print $2}' | sort -V | tail -1; }

# Unpacks a source package (patched) into $src/<name> and prints its folder.
unpack() {
  local pkg=$1 ver dsc
  ver=$(version "$pkg")
  [ -n "$ver" ] || { echo "web-deps: no source package $pkg (is the deb-src entry there?)" >&2; exit 1; }
  dsc=$src/${pkg}_${ver#*:}.dsc
  if [ ! -f "$dsc" ]; then
    (cd "$src" && apt-get source --download-only "$pkg=$ver" >/dev/null)
  fi
  if [ ! -f "$src/$pkg/.version" ] || [ "$(cat "$src/$pkg/.version")" != "$ver" ]; then
    rm -rf "${src:?}/$pkg"
    dpkg-source --no-check -x "$dsc" "$src/$pkg" >/dev/null
    echo "$ver" >"$src/$pkg/.version"
  fi
  echo "$src/$pkg"
}

# Builds one CMake project of a source package unless the prefix holds it at this version;
# with PROJECT set, that project file of ours (tools/web-deps/) builds the unpacked source.
# The configuration checks compile without linking: a link by emcc costs seconds, and a check
# asks whether a header declares what the library would use, which compiling tells.
build() {
  local pkg=$1; shift
  local dir ver stamp=$prefix/.built-$pkg
  dir=$(unpack "$pkg")
  ver=$(cat "$dir/.version")
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$ver" ]; then return; fi
  echo "web-deps: building $pkg $ver"
  rm -rf "$deps/build-$pkg"
  local from=$dir
  if [ -n "${PROJECT:-}" ]; then from=$PWD/tools/web-deps/$PROJECT; set -- -DSDL2_SOURCE="$dir" "$@"; fi
  emcmake cmake -S "$from" -B "$deps/build-$pkg" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" \
    -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY "$@" >"$deps/build-$pkg.log" 2>&1 ||
    { tail -30 "$deps/build-$pkg.log" >&2; exit 1; }
  cmake --build "$deps/build-$pkg" -j"$jobs" >>"$deps/build-$pkg.log" 2>&1 &&
    cmake --install "$deps/build-$pkg" >>"$deps/build-$pkg.log" 2>&1 ||
    { tail -30 "$deps/build-$pkg.log" >&2; exit 1; }
  echo "$ver" >"$stamp"
}

# Configuring is most of the time (emcc starts slowly), so the independent ones run side by side.
# SDL2: the emscripten video and audio back ends and the dummy ones for headless runs; no threads
# (the game's own loop drives the frames in the browser).
PROJECT=sdl2 build libsdl2 &
sdl=$!
build freetype -DFT_DISABLE_ZLIB=ON -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON \
  -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON &
ft=$!
# (Type sizes cannot be read from an unlinked WebAssembly object: they are given.)
build libjpeg-turbo -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=ON \
  -DWITH_JAVA=OFF -DHAVE_SIZE_T=TRUE -DSIZE_T=4 -DHAVE_UNSIGNED_LONG=TRUE -DUNSIGNED_LONG=4
wait $sdl
wait $ft
build libsdl2-ttf -DSDL2TTF_SAMPLES=OFF -DSDL2TTF_HARFBUZZ=OFF -DSDL2TTF_VENDORED=OFF \
  -DSDL2TTF_INSTALL=ON -DSDL2TTF_BUILD_SHARED_LIBS=OFF
