#!/usr/bin/env bash
# The whole tree in the style of .clang-format: tools/format.sh [--check]
#   --check  change nothing; list the files that differ and exit 1 if there are any (CI runs this)
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
if [ "${1:-}" = --check ]; then
  bad=()
  for f in "${files[@]}"; do
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
  done
  if [ ${#bad[@]} -gt 0 ]; then
    echo "format: ${#bad[@]} file(s) differ from .clang-format (tools/format.sh rewrites them):"
    printf '  %s\n' "${bad[@]}"
    exit 1
  fi
  echo "format: ${#files[@]} files as .clang-format says"
else
  clang-format -i "${files[@]}"
fi
