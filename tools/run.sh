#!/usr/bin/env bash
# Builds the game and starts it from its program directory. Until the launcher is there, the
# development runner shows the bare game screen in a window.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh plain
if [ -x build/zolvex/zolvex ]; then
  exec build/zolvex/zolvex "$@"
fi
exec build/zolvex/gamerunner --kind 2 "$@"
