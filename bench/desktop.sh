# Sourced by the bench scripts that run the program on a virtual desktop. The caller keeps the
# pids of what it starts in the array `pids` and kills them on exit.

# start_desktop WxH [no-wm]: an Xvfb display of that size on a free-looking number, with openbox
# unless told otherwise; exports DISPLAY.
start_desktop() {
  local display=:$((100 + RANDOM % 200))
  Xvfb "$display" -screen 0 "${1}x24" >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  export DISPLAY=$display
  if [ "${2:-}" != no-wm ]; then
    openbox >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
  fi
}

# start_launcher DIR [OUTPUT]: starts the launcher in DIR and waits for its main window. Leaves
# its pid in lpid, the window in win and the milliseconds from exec to the visible window in first.
start_launcher() {
  local t0 t1
  t0=$(date +%s.%N)
  (cd "$1" && exec ./zolvex >"${2:-/dev/null}" 2>&1) &
  lpid=$!
  until win=$(xdotool search --onlyvisible --name '^Zolvex!$' 2>/dev/null | head -1) && [ -n "$win" ]; do
    sleep 0.005
  done
  t1=$(date +%s.%N)
  first=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.0f", (b - a) * 1000 }')
}

# fresh_program BUILD DIR: a copy of the built program directory as a player receives it.
fresh_program() {
  rm -rf "$2"
  mkdir -p "$2"
  cp -r "$1/zolvex/." "$2/"
  rm -f "$2/KVD/LOG.TXT" "$2/KVD/env.dat" "$2/KVD/game.dat"
}
