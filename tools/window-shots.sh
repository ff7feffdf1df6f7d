#!/bin/bash
# Screenshots of the game window on a virtual desktop, for looking at how it scales:
# the first size, resized to 1600x1200, maximised, and full screen (Alt+Enter).
#   tools/window-shots.sh OUTDIR [WIDTHxHEIGHT ...]     (default 1024x768 3840x2160)
# Needs a built program directory (build/zolvex) and Xvfb, openbox, xdotool, wmctrl, import.
set -euo pipefail
out=${1:?usage: window-shots.sh OUTDIR [WxH ...]}
shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1024x768 3840x2160)
root=$(cd "$(dirname "$0")/.." && pwd)
prog=${ZOLVEX_PROGRAM_DIR:-$root/build/zolvex}
mkdir -p "$out"
num=77
for size in "${sizes[@]}"; do
  # A display number nobody else holds.
  while [ -e /tmp/.X$num-lock ] || [ -e /tmp/.X11-unix/X$num ]; do num=$((num + 1)); done
  display=:$num
  num=$((num + 1))
  Xvfb "$display" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  sleep 1
  DISPLAY=$display openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
  # The first size is the one for this desktop, not one kept from an earlier game.
  [ -f "$prog/KVD/prog.cfg" ] && sed -i '/^GameWindowSize:/d' "$prog/KVD/prog.cfg"
  DISPLAY=$display SDL_AUDIODRIVER=dummy "$prog/gamerunner" --kind 2 >/dev/null 2>&1 &
  game=$!
  sleep 6
  win=$(DISPLAY=$display xdotool search --onlyvisible --pid "$game" | head -1)
  shot() { DISPLAY=$display import -window root "$out/game-$size-$1.png"; }
  shot 1-first
  DISPLAY=$display xdotool windowsize "$win" 1600 1200
  sleep 2
  shot 2-1600x1200
  DISPLAY=$display wmctrl -i -r "$win" -b add,maximized_vert,maximized_horz
  sleep 2
  shot 3-maximised
  DISPLAY=$display xdotool windowactivate "$win" key alt+Return
  sleep 2
  shot 4-fullscreen
  # The game screen takes a termination request as a close request and winds down through
  # its states; here the picture is all that was wanted.
  kill -KILL "$game" 2>/dev/null || true
  wait "$game" 2>/dev/null || true
  kill "$wm" "$xvfb" 2>/dev/null || true
  wait "$wm" "$xvfb" 2>/dev/null || true
done
