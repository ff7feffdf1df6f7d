#!/usr/bin/env bash
# Installs what the web build needs beside tools/setup.sh's list: Debian's emscripten with
# node-acorn, Node.js, and Chromium with its driver for the browser tests; and a deb-src entry,
# through which tools/web-deps.sh finds the sources of the libraries it builds for WebAssembly.
# Kept apart from set-up while the web build is not yet part of the test command.
set -euo pipefail
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
src_entry=/etc/apt/sources.list.d/zolvex-src.sources
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  . /etc/os-release
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$VERSION_CODENAME" "$VERSION_CODENAME" | $SUDO tee "$src_entry" >/dev/null
fi
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends \
  emscripten node-acorn nodejs chromium chromium-driver python3-selenium
