#!/usr/bin/env bash
# Style and static checks on what a change touches: tools/lint.sh [--fix] [REV]
#   REV    the change is everything since REV (default HEAD: the uncommitted change)
#   --fix  let clang-format rewrite the changed lines in place (it never touches other lines)
# clang-format (.clang-format) looks at the changed lines only, so the tree keeps its present
# layout; clang-tidy (.clang-tidy) looks at each changed source file whole, with the flags of
# build/compile_commands.json (tools/build.sh writes it). Advice for developers, not a CI gate:
# it exits 0 whatever it finds.
set -euo pipefail
cd "$(dirname "$0")/.."
fix=0
if [ "${1:-}" = --fix ]; then fix=1; shift; fi
base=${1:-HEAD}

mapfile -t changed < <(git diff --name-only --diff-filter=ACMR "$base" -- '*.cpp' '*.h' '*.c')
mapfile -t added < <(git ls-files --others --exclude-standard -- '*.cpp' '*.h' '*.c')
if [ $((${#changed[@]} + ${#added[@]})) -eq 0 ]; then
  echo "lint: no C++ file changed since $base"
  exit 0
fi

echo "=== clang-format: changed lines"
if [ ${#changed[@]} -gt 0 ]; then
  if [ $fix = 1 ]; then
    git clang-format --quiet "$base" -- "${changed[@]}" || true
  else
    git clang-format --diff "$base" -- "${changed[@]}" || true
  fi
fi
# Files git does not track yet are new through and through.
for f in "${added[@]}"; do
  if [ $fix = 1 ]; then clang-format -i "$f"; else clang-format --dry-run "$f" || true; fi
done

echo "=== clang-tidy: changed source files"
if [ ! -f build/compile_commands.json ]; then
  echo "lint: build/compile_commands.json is missing; run tools/build.sh first" >&2
  exit 0
fi
# A header is checked through its own unit.
mapfile -t units < <(for f in "${changed[@]}" "${added[@]}"; do
  case "$f" in *.h) f=${f%.h}.cpp ;; esac
  [ -f "$f" ] && grep -q "\"file\": \".*/$f\"" build/compile_commands.json && echo "$f"
done | sort -u)
for f in "${units[@]}"; do
  # (GCC-only warning options in the flags are no concern of clang's.)
  clang-tidy -p build --quiet --extra-arg=-Wno-unknown-warning-option "$f" 2>/dev/null || true
done
