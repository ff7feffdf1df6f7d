#!/usr/bin/env bash
# Installs what the browser tests need beside set-up: Chromium with its driver. The web build's
# own tools (emscripten with node-acorn, Node.js, the deb-src entry) come with tools/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends \
  chromium chromium-driver python3-selenium
