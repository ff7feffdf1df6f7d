#!/usr/bin/env bash
# Runs the fuzz targets of build-fuzz (tools/build.sh fuzz) on their corpora.
#   tools/fuzz.sh [seconds per target] [target ...]
# 20 seconds each is what CI runs; an hour (3600) is a long run by hand. The committed corpus in
# fuzz/corpus/<name> seeds each run and is never written to: it is copied to
# build-fuzz/fuzz-work/<name>/corpus, where new inputs go; crashes go to
# build-fuzz/fuzz-work/<name>/crashes and the output to build-fuzz/fuzz-work/<name>.log. Copy an input
# that crashed into fuzz/corpus/<name> once its reader is mended, so it stays mended.
# Prints, per target, the executions and the seconds they took.
set -uo pipefail
cd "$(dirname "$0")/.."
secs=${1:-20}
shift || true
# Absolute paths: the readers make the program directory the current directory.
bin=$PWD/build-fuzz/fuzz
work=$PWD/build-fuzz/fuzz-work
if [ ! -d "$bin" ]; then
  echo "no fuzz build: run tools/build.sh fuzz" >&2
  exit 2
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$bin"/fuzz_*; do [ -x "$t" ] && [ -f "$t" ] && targets+=("$(basename "$t")"); done
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
status=0
printf '%-20s %12s %8s %s\n' target executions seconds result
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  mkdir -p "$work/$name/crashes" "$work/$name/corpus"
  cp -n fuzz/corpus/"$name"/* "$work/$name/corpus/" 2>/dev/null
  args=(-max_total_time="$secs" -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=10
        -artifact_prefix="$work/$name/crashes/" -print_final_stats=1)
  case "$name" in formation|level_lines) args+=(-dict="$PWD/fuzz/level.dict") ;; esac
  log="$work/$name.log"
  "$bin/$t" "${args[@]}" "$work/$name/corpus" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  if [ $rc -eq 0 ]; then result=ok; else result="FAILED (rc $rc, see $log)"; status=1; fi
  printf '%-20s %12s %8s %s\n' "$t" "${runs:-?}" "${took:-?}" "$result"
  [ $rc -eq 0 ] || tail -30 "$log" >&2
done
exit $status
