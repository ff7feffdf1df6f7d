#!/usr/bin/env bash
# The whole tree in the style of .clang-format: tools/format.sh [--check]
#   --check  change nothing; list the files that differ and exit 1 if there are any (CI runs this);
#            also refuse an include that climbs out of its folder ("../"): the compiler finds such
#            a file beside the including one whatever the target links, so it would pass over the
#            layers (HACKING.md: Layers). Every file git holds is looked at, whatever its name.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
if [ "${1:-}" = --check ]; then
  climbing=$(git grep --untracked -nE '^[[:space:]]*#[[:space:]]*(include|include_next)[[:space:]]*[<"]([^">]*/)?\.\./' || true)
  if [ -n "$climbing" ]; then
    echo "format: includes that climb out of their folder (include \"folder/File.h\" from the layer's root):"
    printf '  %s\n' "$climbing"
    exit 1
  fi
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
