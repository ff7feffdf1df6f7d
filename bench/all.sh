#!/usr/bin/env bash
# Every figure of the program's speed and size in one run, printed as one Markdown table, each
# beside its peer where it has one (the time ratio: below 1 is faster than the peer):
#   bench/all.sh [build-dir] [server-seconds]
# The blits against SDL's own, the heavy frame, the MP3 conversion against the decoder library
# alone, resident memory of the launcher with the game screen shown and of the game in play, the
# launcher's first window, the game screen's first set-up, the window kind's frame at 4K, and the
# score server's accepted submissions per second with their p99 (and its pages against nginx).
# Needs what tools/setup.sh installs (Xvfb, openbox, xdotool, wrk, nginx, python3). Everything
# runs in copies of the program directory, on local displays and on 127.0.0.1. Run it on a quiet
# machine: the load average is printed with the table.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/desktop.sh"
build=$(realpath "${1:-$here/../build}")
server_seconds=${2:-5}
py=/usr/bin/python3
work=$(mktemp -d /tmp/zolvex-all-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
table=$work/table
: >"$table"
row() { printf '| %s | %s | %s | %s |\n' "$1" "$2" "$3" "$4" >>"$table"; }
note() { echo "all.sh: $*" >&2; }

# ---- blits and the heavy frame: medians of 5 repetitions ----
note "blits"
"$build/bench/bench_BlitBench" \
  --benchmark_filter='^BM_(BlendWithAlphaMap|SDLBlitSurfaceAlpha|BlitSpriteKeyedStretch|SDLBlitScaledKeyed)/' \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$work/blit.json" --benchmark_out_format=json >"$work/blit.txt" 2>/dev/null
for _ in 1 2; do "$build/bench/bench_BlitBench" --benchmark_filter=NONE >>"$work/blit.txt" 2>/dev/null; done
$py - "$work/blit.json" "$work/blit.txt" >>"$table" <<'PY'
import json, re, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
med = {b["run_name"]: b["real_time"] * scale[b["time_unit"]]
       for b in runs if b.get("aggregate_name") == "median"}
def pair(title, ours, peer):
    for bits in (16, 32):
        a, b = med[f"{ours}/{bits}"], med[f"{peer}/{bits}"]
        print(f"| {title}, {bits} bits | {a * 1000:.1f} us | {b * 1000:.1f} us | {a / b:.3f} |")
pair("alpha-map blend vs SDL surface alpha blit", "BM_BlendWithAlphaMap", "BM_SDLBlitSurfaceAlpha")
pair("keyed stretch vs SDL_BlitScaled", "BM_BlitSpriteKeyedStretch", "BM_SDLBlitScaledKeyed")
# The same stretch timed in turns with SDL's inside one process, three processes: the pair sees
# the same machine, so their ratio holds when a neighbour's burst moves the separate medians.
turns = {}
for line in open(sys.argv[2]):
    m = re.match(r"keyed stretch (\d+) bits: BlitSprite ([0-9.]+) ns/px, SDL_BlitScaled ([0-9.]+) ns/px, ratio ([0-9.]+)", line)
    if m:
        turns.setdefault(m.group(1), []).append((float(m.group(4)), float(m.group(2)), float(m.group(3))))
for bits, rs in turns.items():
    rs.sort()
    mid = rs[len(rs) // 2]
    print(f"| keyed stretch vs SDL_BlitScaled in turns, {bits} bits: median ratio of {len(rs)} "
          f"processes (lowest - highest) | {mid[1]:.3f} ns/px | {mid[2]:.3f} ns/px | "
          f"{mid[0]:.3f} ({rs[0][0]:.3f} - {rs[-1][0]:.3f}) |")
# The heavy frame: the median of 400 single frames the bench times after its table, in three
# processes; a shared machine's neighbours move one median by half, so the lowest stands for the
# code and the spread is shown beside it.
frames = {}
for line in open(sys.argv[2]):
    m = re.match(r"heavy frame (\d+) bits: median ([0-9.]+) ms, p99 ([0-9.]+) ms \((\d+) bobs\)", line)
    if m:
        frames.setdefault((m.group(1), m.group(4)), []).append((float(m.group(2)), float(m.group(3))))
for (bits, bobs), runs in frames.items():
    best = min(runs)
    print(f"| heavy frame, {bobs} sprites, {bits} bits: lowest median of {len(runs)} runs (its p99; "
          f"highest median) | {best[0]:.3f} ms ({best[1]:.3f} ms; {max(runs)[0]:.3f} ms) | | |")
PY

# ---- the MP3 conversion ----
note "music conversion"
"$build/bench/bench_SoundBench" >"$work/sound.txt"
xrt() { sed -n "s/^$1.*= \([0-9]*\) x real time.*/\1/p" "$work/sound.txt"; }
secs() { sed -n "s/^$1.* \([0-9.]*\) s = .*/\1/p" "$work/sound.txt"; }
conv=$(xrt 'conversion:'); alone=$(xrt 'decoder library alone')
row "MP3 to wave conversion (files' work; peer: the decoder library alone)" "${conv}x real time" \
  "${alone}x real time" "$(awk -v a="$(secs 'conversion:')" -v b="$(secs 'decoder library alone')" 'BEGIN { printf "%.2f", a / b }')"
row "MP3 to wave conversion, whole call with the panel's 1 s closing hold" "$(xrt 'conversion call')x real time" "" ""

# ---- the game screen's first set-up in a process: five processes ----
note "game screen set-up"
setups=()
for _ in 1 2 3 4 5; do
  setups+=("$("$build/bench/bench_GameBench" setup | sed -n 's/^first set-up.*: \([0-9.]*\)$/\1/p')")
done
row "game screen set-up, first in the process (5 processes: min / median / max)" \
  "$(printf '%s\n' "${setups[@]}" | sort -n | awk '{ v[NR] = $1 } END { printf "%.0f / %.0f / %.0f ms", v[1], v[3], v[NR] }')" "" ""

# ---- the game in play, headless: the game bench's peak resident memory ----
note "game bench (one game per display kind)"
"$build/bench/bench_GameBench" >"$work/game.txt"
row "resident memory, game in play (headless game bench with a dummy sound device, peak)" \
  "$(sed -n 's/^peak resident memory \([0-9.]*\) MB/\1 MB/p' "$work/game.txt")" "" ""

# ---- on a virtual desktop: launcher and game runner ----
start_desktop 1024x768
rss_mb() { awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
hwm_mb() { awk '/^VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
# A fresh program directory whose music is converted already (by the game runner's own first
# start), so that no figure below includes the conversion.
prog=$work/prog
fresh_program "$build" "$prog"
fresh() {
  rm -rf "$work/run"
  cp -r "$prog/." "$work/run/"
}
wait_log() { # wait_log LINE SECONDS: true once the run's log holds the line
  for _ in $(seq $(($2 * 20))); do
    grep -q "$1" "$work/run/KVD/LOG.TXT" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}
in_play() { wait_log 'glsBegin2: Return' 60; }
# Where the machine has no sound device the game plays without loading its waves (some 20 MB of
# music among them): a figure taken so says it.
sound_note() {
  if grep -q 'No sound driver is available' "$work/run/KVD/LOG.TXT" 2>/dev/null; then
    echo " (no sound device: no waves loaded)"
  fi
}

# runner_rss TITLE [DRIVER]: the game runner's memory 10 s into play, with SDL's audio driver
# DRIVER when given (dummy: a device that plays to nowhere, so that every wave is loaded and mixed
# as with a sound card).
runner_rss() {
  fresh
  (cd "$work/run" && exec env ${2:+SDL_AUDIODRIVER=$2} ./gamerunner --kind 2 --autoplay good \
    >"$work/runner.txt" 2>&1) &
  gpid=$!
  pids+=("$gpid")
  if in_play; then
    sleep 10
    row "$1$(sound_note)" "$(rss_mb $gpid) MB (peak $(hwm_mb $gpid) MB)" "" ""
  else
    row "$1" "not measured: play did not begin" "" ""
  fi
  kill $gpid 2>/dev/null || true
  wait $gpid 2>/dev/null || true
}
note "game runner in play"
runner_rss "resident memory, game runner in play (window kind, 10 s into play; peak)"
# The waves the runner converted serve every later start.
cp "$work/run/snd/"*.wav "$prog/snd/"
runner_rss "resident memory, game runner in play with a sound device (SDL's dummy device; peak)" dummy

note "launcher"
stop_launcher() {
  kill -TERM $lpid
  wait $lpid 2>/dev/null || true
}
range() { sort -n | awk '{ v[NR] = $1 } END { printf "%d / %d / %d ms", v[1], v[int((NR + 1) / 2)], v[NR] }'; }
firsts=()
for _ in 1 2 3 4 5; do
  fresh
  start_launcher "$work/run"
  firsts+=("$first")
  sleep 2
  shown=$(rss_mb $lpid)
  stop_launcher
done
row "launcher: first window after start (5 starts: min / median / max)" \
  "$(printf '%s\n' "${firsts[@]}" | range)" "" ""
row "resident memory, launcher shown (2 s after its window)" "$shown MB" "" ""
# The first start of a folder as installed: the music is still to be converted.
firsts=()
for _ in 1 2 3; do
  fresh_program "$build" "$work/run"
  start_launcher "$work/run"
  firsts+=("$first")
  sleep 3
  stop_launcher
done
row "launcher: first window at the first start of a fresh folder (3 starts)" \
  "$(printf '%s\n' "${firsts[@]}" | range)" "" ""

note "launcher with the game screen"
fresh
start_launcher "$work/run"
pids+=("$lpid")
sleep 2
xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
xdotool key --window "$win" F9
# The game waits on its help screen for a click; clicks go on until play begins.
started=""
if wait_log 'glsInit: End' 30; then
  for _ in $(seq 40); do
    xdotool click 1 >/dev/null 2>&1 || true
    if wait_log 'glsBegin: Return' 1; then started=1; break; fi
  done
fi
if [ -n "$started" ] && in_play; then
  sleep 10
  row "resident memory, launcher with the game screen shown (10 s into play; peak)$(sound_note)" \
    "$(rss_mb $lpid) MB (peak $(hwm_mb $lpid) MB)" "" ""
else
  row "resident memory, launcher with the game screen shown" "not measured: play did not begin" "" ""
fi
kill -9 $lpid 2>/dev/null || true
wait $lpid 2>/dev/null || true

# ---- the window kind at 800 x 600 and at 4K ----
note "window scale"
kill "${pids[@]}" 2>/dev/null || true
pids=()
start_desktop 3840x2160 no-wm
"$build/bench/bench_WindowScaleBench" 200 >"$work/scale.txt" 2>&1 || true
$py - "$work/scale.txt" >>"$table" <<'PY'
import re, sys
# The bench measures an 800 x 600 window, then a 3840 x 2160 one, with the program's presenter and
# then with SDL's renderer; the window manager may take a little of the asked size for its frame.
ours, sdl = [], []
for line in open(sys.argv[1]):
    m = re.match(r"\s+(program, window|SDL renderer \(.*?\))\s+(\d+)x(\d+)\s+wall\s+([0-9.]+) ms", line)
    if m:
        (ours if m.group(1) == "program, window" else sdl).append((m.group(2) + "x" + m.group(3), float(m.group(4))))
if not ours:
    print("| window kind frame | not measured: the window bench did not run | | |")
for i, (size, a) in enumerate(ours):
    b = sdl[i][1] if i < len(sdl) else None
    print(f"| window kind frame, {size} window vs SDL's renderer (median wall time) | {a:.3f} ms | "
          + (f"{b:.3f} ms | {a / b:.2f} |" if b else " | |"))
PY

# ---- the score server ----
note "score server load run (${server_seconds} s per part)"
"$here/server/loadrun.sh" "$build" "$server_seconds" >"$work/load.txt" 2>&1
acc=$(sed -n 's/^accepted .*: \([0-9]*\) accepted\/s.*/\1/p' "$work/load.txt")
p99=$(sed -n 's/^latency p50 .* p99 \([0-9.]*\) ms.*/\1/p' "$work/load.txt")
row "score server: accepted submissions per second (p99)" "$acc/s (p99 $p99 ms)" "" ""
ratio=$(sed -n 's/^ratio to nginx: //p' "$work/load.txt")
[ -n "$ratio" ] && row "score server: pages' rate as a ratio to nginx" "$ratio" "nginx" ""

echo "figures of $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
echo
echo "| figure | program | peer | ratio to the peer |"
echo "|---|---|---|---|"
cat "$table"
