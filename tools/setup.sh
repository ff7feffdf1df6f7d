#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the program need.
# Idempotent: packages already present are skipped; apt-get update runs only when something is missing.
set -euo pipefail
pkgs=(
  build-essential cmake ninja-build pkg-config git
  libsdl2-dev libsdl2-mixer-dev libsdl2-ttf-dev fonts-liberation2 fonts-dejavu-core fonts-urw-base35 fontconfig
  libturbojpeg0-dev libjpeg62-turbo-dev
  qt6-base-dev libcurl4-openssl-dev libmpg123-dev libmp3lame-dev libcairo2-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  sox libsox-fmt-mp3 xvfb xdotool imagemagick
  xdg-utils libcpp-httplib-dev libsqlite3-dev wrk python3-aiosmtpd
  postgresql-15 libpq-dev nginx-light
  clang-14 libclang-rt-14-dev
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
