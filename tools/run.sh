#!/usr/bin/env bash
# Builds the game and starts it from its program directory.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh plain
exec build/zolvex/zolvex "$@"
