#!/usr/bin/env bash
# Builds the program and starts it from its program directory: the launcher, and from it the game.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh plain
exec build/zolvex/zolvex
