#!/usr/bin/env bash
# Every benchmark once on tiny sizes, so that none stops working unnoticed (CI runs this after the
# plain build's tests):
#   bench/smoke.sh [build-dir]
# Each program and script below runs with ZOLVEX_BENCH_SMOKE=1 (few repetitions, small inputs)
# under a time limit; the run fails when any of them fails or does not finish, and when a bench
# program or script exists that the list does not name. Programs that need a display get a
# virtual one (Xvfb, as tools/setup.sh installs), on 127.0.0.1 and temporary folders only.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
export ZOLVEX_BENCH_SMOKE=1
limit=${ZOLVEX_SMOKE_LIMIT:-600}
work=$(mktemp -d /tmp/zolvex-smoke-XXXXXX)
pids=()
. "$here/desktop.sh"
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

failed=()
covered=()
# run NAME COMMAND...: NAME is the program or script's path under bench/.
run() {
  local name=$1 t0 rc
  shift
  covered+=("$name")
  t0=$(date +%s)
  timeout -k 10 "$limit" "$@" >"$work/out" 2>&1
  rc=$?
  if [ $rc = 0 ]; then
    echo "smoke: $name ok ($(($(date +%s) - t0)) s)"
  else
    [ $rc = 124 ] && echo "smoke: $name did not finish within $limit s" || echo "smoke: $name FAILED (exit $rc)"
    tail -n 30 "$work/out" | sed 's/^/    /'
    failed+=("$name")
  fi
}

start_desktop 3840x2160 no-wm
b=$build/bench
run BlitBench.cpp "$b/bench_BlitBench" --benchmark_min_time=0.001
run GameRecordsBench.cpp "$b/bench_GameRecordsBench" --benchmark_min_time=0.001
run FrameLoopBench.cpp "$b/bench_FrameLoopBench"
run GameBench.cpp "$b/bench_GameBench"
run SoundBench.cpp "$b/bench_SoundBench"
run WindowScaleBench.cpp "$b/bench_WindowScaleBench"
run server/PgStoreBench.cpp true # driven by scalerun.sh
run server/ServerLoadTool.cpp true # driven by loadrun.sh, walrun.sh and scalerun.sh
run launcher_figures.sh "$here/launcher_figures.sh" "$build" 1
run launcher_field.sh "$here/launcher_field.sh" "$build"
run server/loadrun.sh "$here/server/loadrun.sh" "$build" 1 2
run server/walrun.sh "$here/server/walrun.sh" "$build" 1 2
run server/attackrun.sh "$here/server/attackrun.sh" "$build"
run server/scalerun.sh "$here/server/scalerun.sh" "$build" 1 2 1000
run server/memrun.sh "$here/server/memrun.sh" "$build"
run server/pgbenchrun.sh "$here/server/pgbenchrun.sh" "$build"
run server/replayrun.sh "$here/server/replayrun.sh" "$build" 4 1 2
run server/hostilerun.sh "$here/server/hostilerun.sh" "$build"
run verify.sh "$here/verify.sh" "$build" 1
run webreplay.sh "$here/webreplay.sh" "$build" "$here/../build-web" 1
run web.sh "$here/web.sh" "$build" "$here/../build-web/zolvex" 3
run all.sh "$here/all.sh" "$build" 1

# A bench that is not in the list above would rot unseen.
while IFS= read -r f; do
  f=${f#"$here/"}
  case "$f" in smoke.sh | desktop.sh | Smoke.h) continue ;; esac
  [[ " ${covered[*]} " == *" $f "* ]] && continue
  echo "smoke: $f is not run by bench/smoke.sh"
  failed+=("$f")
done < <(find "$here" -name '*.sh' -o -name '*.cpp' | sort)

if [ ${#failed[@]} -gt 0 ]; then
  echo "smoke: ${#failed[@]} failed: ${failed[*]}"
  exit 1
fi
echo "smoke: every bench ran"
