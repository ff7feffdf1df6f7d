#!/usr/bin/env bash
# Every figure of the program's speed and size in one run, printed as one Markdown table, each
# beside its peer where it has one (the time ratio: below 1 is faster than the peer) and its
# physical floor where it has one (its bytes written at the machine's bandwidth, measured in the
# same run). Times of drawing are the processor time of the drawing thread, with their spread:
#   bench/all.sh [build-dir] [server-seconds]
# The blits against SDL's best path for the same pixels (both sides' pixels compared), the heavy
# frame, the MP3 conversion against the decoder library alone, resident memory of the launcher
# with the game screen shown and of the game in play, the launcher's first window, the game
# screen's first set-up, the window kind's frame at 4K (against SDL's accelerated and software
# renderers), and the score server's accepted submissions per second with their p99 (and its
# pages against nginx).
# Needs what tools/setup.sh installs (Xvfb, openbox, xdotool, wrk, nginx, python3). Everything
# runs in copies of the program directory, on local displays and on 127.0.0.1. The load average
# is printed with the table.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/desktop.sh"
build=$(realpath "${1:-$here/../build}")
# ZOLVEX_BENCH_SMOKE=1 (bench/smoke.sh, in CI): every part once on tiny sizes, so that a part
# that can no longer run fails; the figures then mean nothing.
smoke=""
[ -n "${ZOLVEX_BENCH_SMOKE:-}" ] && [ "$ZOLVEX_BENCH_SMOKE" != 0 ] && smoke=1
sized() { if [ -n "$smoke" ]; then echo "$2"; else echo "$1"; fi; } # sized FULL SMOKE
server_seconds=${2:-$(sized 5 1)}
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
row() { printf '| %s | %s | %s | %s | %s |\n' "$1" "$2" "$3" "$4" "${5:-}" >>"$table"; }
note() { echo "all.sh: $*" >&2; }
# ZOLVEX_BENCH_PARTS picks parts by name (blits sound setup game desktop window verify server); all by
# default.
parts=" ${ZOLVEX_BENCH_PARTS:-all} "
want() { [[ $parts == *" all "* || $parts == *" $1 "* ]]; }

# ---- blits and the heavy frame: processor time of the measuring thread, 5 repetitions ----
if want blits; then
# Wall time on a shared machine counts the neighbours' turns too: every blit figure is the
# processor time of the thread that draws (Google Benchmark's cpu_time), with the spread of the
# repetitions. The peers are SDL's best path for the same pixels: the keyed stretch against SDL
# stretching without the key into a scratch surface and blitting that keyed (with and without its
# RLE form; the faster stands), the unscaled keyed copy against SDL's RLE blit.
note "blits"
"$build/bench/bench_BlitBench" \
  --benchmark_filter='^BM_(BlendWithAlphaMap|SDLBlitSurfaceAlpha|BlitSpriteKeyedStretch|SDLBlitScaledKeyed|SDLStretchThenKeyedBlit|SDLStretchThenKeyedBlitRLE|BlitSpriteKeyedCopy|SDLBlitKeyedRLE)/' \
  --benchmark_repetitions="$(sized 5 1)" ${smoke:+--benchmark_min_time=0.001} \
  --benchmark_out="$work/blit.json" --benchmark_out_format=json >"$work/blit.txt" 2>/dev/null
for _ in $(seq "$(sized 2 0)"); do "$build/bench/bench_BlitBench" --benchmark_filter=NONE >>"$work/blit.txt" 2>/dev/null; done
$py - "$work/blit.json" "$work/blit.txt" >>"$table" <<'PY'
import json, re, statistics, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
cpu = {}  # run name: processor time of each repetition, us
for b in runs:
    if b.get("run_type") == "iteration":
        cpu.setdefault(b["run_name"], []).append(b["cpu_time"] * scale[b["time_unit"]])
def spread(v):
    v = sorted(v)
    return v[0], statistics.median(v), v[-1]
def cell(v):
    lo, mid, hi = spread(v)
    return f"{mid:.1f} us ({lo:.1f} - {hi:.1f})"
def pair(title, ours, peers, floor=""):
    for bits in (16, 32):
        a = cpu[f"{ours}/{bits}"]
        # The peer's best path: the lowest median among its ways.
        name, b = min(((n, cpu[f"{p}/{bits}"]) for n, p in peers), key=lambda x: spread(x[1])[1])
        label = f" ({name})" if len(peers) > 1 else ""
        print(f"| {title}, {bits} bits, processor time of 5 repetitions: median (min - max)"
              f"{label} | {cell(a)} | {cell(b)} | {spread(a)[1] / spread(b)[1]:.3f} | {floor} |")
pair("alpha-map blend 306 x 55 vs SDL surface alpha blit", "BM_BlendWithAlphaMap",
     [("", "BM_SDLBlitSurfaceAlpha")])
pair("keyed stretch 306 x 55 to 459 x 83 vs SDL's best: stretch, then keyed blit", "BM_BlitSpriteKeyedStretch",
     [("scratch surface keyed", "BM_SDLStretchThenKeyedBlit"), ("scratch surface keyed, RLE", "BM_SDLStretchThenKeyedBlitRLE")])
pair("keyed stretch vs SDL_BlitScaled of a keyed surface (SDL's generic path)", "BM_BlitSpriteKeyedStretch",
     [("", "BM_SDLBlitScaledKeyed")])
pair("unscaled keyed copy 306 x 55 vs SDL's RLE keyed blit", "BM_BlitSpriteKeyedCopy",
     [("", "BM_SDLBlitKeyedRLE")])
text = open(sys.argv[2]).read()
# Both sides' pixels, compared once (the first process's lines; they do not vary).
seen = set()
for m in re.finditer(r"^outputs (keyed stretch|keyed copy) (\d+) bits: (.*)$", text, re.M):
    if (m.group(1), m.group(2)) in seen:
        continue
    seen.add((m.group(1), m.group(2)))
    print(f"| outputs compared, {m.group(1)}, {m.group(2)} bits | {m.group(3)} | | | |")
# In turns with each peer inside one process, three processes: per round the ratio of processor
# times, so a neighbour's burst falls on both; the median of the processes' median ratios, the
# lowest and highest round of all, and the drawn rows copied whole as a yardstick (the pixels sit
# in the caches: the memory's bandwidth is no floor to a sprite's copy).
turns = {}
for m in re.finditer(r"^turns (.+?) (\d+) bits vs (.+?): cpu ns/px ours ([0-9.]+) \(([0-9.]+) - ([0-9.]+)\), "
                     r"peer ([0-9.]+) \(([0-9.]+) - ([0-9.]+)\), ratio ([0-9.]+) \(([0-9.]+) - ([0-9.]+)\), "
                     r"wall ratio ([0-9.]+); floor ([0-9.]+) ns/px", text, re.M):
    turns.setdefault((m.group(1), m.group(2), m.group(3)), []).append([float(g) for g in m.groups()[3:]])
for (what, bits, peer), rs in turns.items():
    med = lambda k: statistics.median(r[k] for r in rs)
    print(f"| {what} vs {peer} in turns, {bits} bits: processor ns/px, median of {len(rs)} processes "
          f"(lowest - highest round) | {med(0):.3f} ({min(r[1] for r in rs):.3f} - {max(r[2] for r in rs):.3f}) "
          f"| {med(3):.3f} ({min(r[4] for r in rs):.3f} - {max(r[5] for r in rs):.3f}) "
          f"| {med(6):.3f} ({min(r[7] for r in rs):.3f} - {max(r[8] for r in rs):.3f}; wall {med(9):.3f}) "
          f"| drawn rows copied whole: {med(10):.3f} ns/px |")
bw = re.search(r"^bandwidth: memcpy of 64 MB ([0-9.]+) GB/s, memset of 64 MB ([0-9.]+) GB/s", text, re.M)
if bw:
    print(f"| machine's bandwidth (64 MB, measured in the same run) | copy {bw.group(1)} GB/s, write {bw.group(2)} GB/s | | | |")
# The heavy frame: 400 single frames in each of three processes, processor time of the thread.
frames = {}
for m in re.finditer(r"^heavy frame +(\d+) bits: cpu median ([0-9.]+) ms \(min ([0-9.]+), p99 ([0-9.]+), max ([0-9.]+)\), "
                     r"wall median ([0-9.]+) ms \(max ([0-9.]+)\) \((\d+) bobs\); ([0-9.]+) MB drawn, floor ([0-9.]+) ms", text, re.M):
    frames.setdefault((m.group(1), m.group(8)), []).append([float(g) for g in m.groups()[1:7]] + [float(m.group(9)), float(m.group(10))])
for (bits, bobs), rs in frames.items():
    med = lambda k: statistics.median(r[k] for r in rs)
    print(f"| heavy frame, {bobs} sprites, {bits} bits: processor time, median of {len(rs)} processes' medians "
          f"(min / highest p99 / max of all frames; wall median) | {med(0):.3f} ms ({min(r[1] for r in rs):.3f} / "
          f"{max(r[2] for r in rs):.3f} / {max(r[3] for r in rs):.3f}; wall {med(4):.3f}) | | | "
          f"{med(7):.3f} ms ({med(6):.2f} MB at the copy bandwidth) |")
PY
fi

# ---- the MP3 conversion ----
if want sound; then
note "music conversion"
"$build/bench/bench_SoundBench" >"$work/sound.txt"
xrt() { sed -n "s/^$1.*= \([0-9]*\) x real time.*/\1/p" "$work/sound.txt"; }
secs() { sed -n "s/^$1.* \([0-9.]*\) s = .*/\1/p" "$work/sound.txt"; }
conv=$(xrt 'conversion:'); alone=$(xrt 'decoder library alone')
row "MP3 to wave conversion (files' work; peer: the decoder library alone)" "${conv}x real time" \
  "${alone}x real time" "$(awk -v a="$(secs 'conversion:')" -v b="$(secs 'decoder library alone')" 'BEGIN { printf "%.2f", a / b }')"
row "MP3 to wave conversion, whole call with the panel's 1 s closing hold" "$(xrt 'conversion call')x real time" "" ""
fi

# ---- the game screen's first set-up in a process: five processes ----
if want setup; then
note "game screen set-up"
setups=()
for _ in $(seq "$(sized 5 1)"); do
  setups+=("$("$build/bench/bench_GameBench" setup | sed -n 's/^first set-up.*: \([0-9.]*\)$/\1/p')")
done
row "game screen set-up, first in the process (5 processes: min / median / max)" \
  "$(printf '%s\n' "${setups[@]}" | sort -n | awk '{ v[NR] = $1 } END { printf "%.0f / %.0f / %.0f ms", v[1], v[3], v[NR] }')" "" ""
fi

# ---- the game in play, headless: the game bench's peak resident memory ----
if want game; then
note "game bench (one game per display kind)"
"$build/bench/bench_GameBench" >"$work/game.txt"
row "resident memory, game in play (headless game bench with a dummy sound device, peak)" \
  "$(sed -n 's/^peak resident memory \([0-9.]*\) MB/\1 MB/p' "$work/game.txt")" "" ""
fi

# ---- on a virtual desktop: launcher and game runner ----
if want desktop; then
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
    sleep "$(sized 10 1)"
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
for _ in $(seq "$(sized 5 1)"); do
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
for _ in $(seq "$(sized 3 1)"); do
  fresh_program "$build" "$work/run"
  start_launcher "$work/run"
  firsts+=("$first")
  sleep "$(sized 3 1)"
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
  sleep "$(sized 10 1)"
  row "resident memory, launcher with the game screen shown (10 s into play; peak)$(sound_note)" \
    "$(rss_mb $lpid) MB (peak $(hwm_mb $lpid) MB)" "" ""
else
  row "resident memory, launcher with the game screen shown" "not measured: play did not begin" "" ""
fi
kill -9 $lpid 2>/dev/null || true
wait $lpid 2>/dev/null || true
fi

# ---- the window kind at 800 x 600 and at 4K ----
if want window; then
note "window scale"
kill "${pids[@]}" 2>/dev/null || true
pids=()
# With a window manager: without one a full-screen window keeps its window size on Xvfb, and the
# display would copy only that much of each full-screen frame.
start_desktop 3840x2160
"$build/bench/bench_WindowScaleBench" "$(sized 200 3)" >"$work/scale.txt" 2>&1 || [ -z "$smoke" ]
$py - "$work/scale.txt" >>"$table" <<'PY'
import re, sys
# The bench measures an 800 x 600 window, then a 3840 x 2160 one, with the program's presenter,
# then with SDL's accelerated renderer (without a graphics card an OpenGL rasteriser on the
# processor) and with SDL's software renderer, the fair peer there; the window manager may take a
# little of the asked size for its frame. Medians of the frames: the thread's processor time with
# its spread, and the wall time (a rasteriser's or the display server's threads work outside the
# thread).
ours, peers, floors = [], {}, {}
for line in open(sys.argv[1]):
    m = re.match(r"\s+(program, window|SDL renderer \((.*?)\))\s+(\d+)x(\d+)\s+wall\s+([0-9.]+) ms\s+"
                 r"thread\s+([0-9.]+) ms \(([0-9.]+) - ([0-9.]+)\)", line)
    if m:
        fig = (m.group(3) + "x" + m.group(4), float(m.group(5)), float(m.group(6)), float(m.group(7)), float(m.group(8)))
        (ours if m.group(1) == "program, window" else peers.setdefault(m.group(2), [])).append(fig)
    m = re.match(r"\s+floor\s+(\d+)x(\d+)\s+([0-9.]+) ms \(([0-9.]+) MB written at ([0-9.]+) GB/s\)", line)
    if m:
        floors[m.group(1) + "x" + m.group(2)] = f"{float(m.group(3)):.3f} ms ({m.group(4)} MB at {m.group(5)} GB/s)"
if not ours:
    print("| window kind frame | not measured: the window bench did not run | | | |")
cell = lambda f: f"{f[2]:.3f} ms ({f[3]:.3f} - {f[4]:.3f}; wall {f[1]:.3f})"
# The large frame in turns with the same frame scaled as before (one thread, SSE2) and with a
# memcpy of the window's bytes, the floor: wall time, since the display server's copy of the
# picture is part of a frame.
for line in open(sys.argv[1]):
    m = re.match(r"\s+turns (.+?) (\d+)x(\d+) (\d+) bits: wall ms program ([0-9.]+) \(([0-9.]+) - ([0-9.]+); "
                 r"thread ([0-9.]+)\), before ([0-9.]+) \(([0-9.]+) - ([0-9.]+); thread ([0-9.]+)\), memcpy of "
                 r"([0-9.]+) MB ([0-9.]+) \(([0-9.]+) - ([0-9.]+)\); program / memcpy ([0-9.]+) \(quickest "
                 r"([0-9.]+)\), program / before ([0-9.]+) \(quickest ([0-9.]+)\)", line)
    if not m:
        continue
    g = m.groups()
    print(f"| {g[0]} frame {g[1]}x{g[2]}, {g[3]} bits, in turns: wall median (min - max; thread) vs the "
          f"scaling before (one thread, SSE2) | {g[4]} ms ({g[5]} - {g[6]}; {g[7]}) | {g[8]} ms ({g[9]} - {g[10]}; "
          f"{g[11]}) | {g[18]} (quickest {g[19]}) | memcpy of the window's {g[12]} MB {g[13]} ms ({g[14]} - {g[15]}): "
          f"ratio {g[16]} (quickest {g[17]}) |")
for i, a in enumerate(ours):
    fl = floors.get(a[0], "")
    if not peers:
        print(f"| window kind frame, {a[0]} window: processor time (min - max; wall) | {cell(a)} | | | {fl} |")
    for name, figs in peers.items():
        b = figs[i] if i < len(figs) else None
        print(f"| window kind frame, {a[0]} window vs SDL's {name} renderer ({b[0] if b else '-'}): processor time "
              f"of the thread, median (min - max; wall median) | {cell(a)} | "
              + (f"{cell(b)} | {a[2] / b[2]:.2f} (wall {a[1] / b[1]:.2f}) | {fl} |" if b else f" | | {fl} |"))
PY
fi

# ---- the verifier: processor time and peak memory per replayed game ----
if want verify; then
note "verifier"
"$here/verify.sh" "$build" 3 >"$work/verify.txt"
row "verifier: processor time per game, median (min, max)" "$(sed -n 's/^cpu per game: //p' "$work/verify.txt")" "" "" ""
row "verifier: peak resident memory per game" "$(sed -n 's/^peak memory: //p' "$work/verify.txt")" "" "" ""
row "verifier: games verified per second per core" "$(sed -n 's/^games per second per core: //p' "$work/verify.txt")" "" "" ""
fi

# ---- the score server ----
if want server; then
note "score server load run (${server_seconds} s per part)"
"$here/server/loadrun.sh" "$build" "$server_seconds" >"$work/load.txt" 2>&1
acc=$(sed -n 's/^accepted .*: \([0-9]*\) accepted\/s.*/\1/p' "$work/load.txt")
p99=$(sed -n 's/^latency p50 .* p99 \([0-9.]*\) ms.*/\1/p' "$work/load.txt")
row "score server: accepted submissions per second (p99)" "$acc/s (p99 $p99 ms)" "" ""
ratio=$(sed -n 's/^ratio to nginx: //p' "$work/load.txt")
[ -n "$ratio" ] && row "score server: pages' rate as a ratio to nginx" "$ratio" "nginx" ""
fi

echo "figures of $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
echo
echo "| figure | program | peer | ratio to the peer | floor |"
echo "|---|---|---|---|---|"
cat "$table"
