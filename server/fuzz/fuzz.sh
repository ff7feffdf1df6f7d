#!/usr/bin/env bash
# Fuzzes the submission path with clang's libFuzzer, ASan and UBSan: server/fuzz/fuzz.sh [SECONDS]
# Builds into build-fuzz/; the corpus grows in build-fuzz/corpus from the seeds here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=$root/build-fuzz
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$root" \
  "$here/FuzzSubmission.cpp" "$root/server/Submission.cpp" "$root/payload/Payload.cpp" "$root/payload/ScoreCode.cpp" \
  -o "$out/fuzz_submission"
"$out/fuzz_submission" -max_total_time="${1:-60}" -max_len=9000 -print_final_stats=1 "$out/corpus" "$here/seeds"
