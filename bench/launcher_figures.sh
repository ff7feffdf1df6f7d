#!/usr/bin/env bash
# The launcher's start-up and idle figures on this machine: time from exec to the mapped and
# painted window, resident memory once shown, and CPU used while it sits idle.
#   bench/launcher_figures.sh [build-dir] [idle-seconds]
# Needs Xvfb and xdotool (tools/setup.sh installs both). Runs in a copy of the program directory,
# so the player's own settings are never touched.
set -euo pipefail
. "$(dirname "$0")/desktop.sh"
build=${1:-build}
idle=${2:-60}
dir=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$dir"' EXIT
fresh_program "$build" "$dir"
start_desktop 1024x768 no-wm
start_launcher "$dir"
pid=$lpid
pids+=("$pid")
sleep 2
rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
c0=$(cpu)
sleep "$idle"
c1=$(cpu)
awk -v first="$first" -v rss="$rss" -v c0="$c0" -v c1="$c1" -v hz="$ticks" -v idle="$idle" 'BEGIN {
  printf "first paint: %d ms after exec\n", first
  printf "resident memory once shown: %.1f MB\n", rss / 1024
  printf "CPU while idle for %d s: %.2f s (%.3f %% of one core)\n", idle, (c1 - c0) / hz, 100 * (c1 - c0) / hz / idle
}'
