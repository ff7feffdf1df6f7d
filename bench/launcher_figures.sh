#!/usr/bin/env bash
# The launcher's start-up and idle figures on this machine: time from exec to the mapped and
# painted window, resident memory once shown, and CPU used while it sits idle.
#   bench/launcher_figures.sh [build-dir] [idle-seconds]
# Needs Xvfb and xdotool (tools/setup.sh installs both). Runs in a copy of the program directory,
# so the player's own settings are never touched.
set -euo pipefail
build=${1:-build}
idle=${2:-60}
dir=$(mktemp -d)
trap 'kill "$pid" "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT
cp -r "$build/zolvex/." "$dir/"
rm -f "$dir/KVD/LOG.TXT" "$dir/KVD/env.dat" "$dir/KVD/game.dat"
display=:$((100 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
sleep 1
export DISPLAY=$display
t0=$(date +%s.%N)
"$dir/zolvex" >/dev/null 2>&1 &
pid=$!
until xdotool search --onlyvisible --name '^Zolvex!$' >/dev/null 2>&1; do sleep 0.01; done
t1=$(date +%s.%N)
sleep 2
rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
c0=$(cpu)
sleep "$idle"
c1=$(cpu)
awk -v t0="$t0" -v t1="$t1" -v rss="$rss" -v c0="$c0" -v c1="$c1" -v hz="$ticks" -v idle="$idle" 'BEGIN {
  printf "first paint: %.0f ms after exec\n", (t1 - t0) * 1000
  printf "resident memory once shown: %.1f MB\n", rss / 1024
  printf "CPU while idle for %d s: %.2f s (%.3f %% of one core)\n", idle, (c1 - c0) / hz, 100 * (c1 - c0) / hz / idle
}'
