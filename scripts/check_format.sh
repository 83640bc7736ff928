#!/usr/bin/env bash
# Checks every C++ file of the repository against .clang-format and names each one that
# differs; exits non-zero when any does. With --fix, formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
[ "${1:-}" = "--fix" ] && fix=1

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # New files count before they are added, so that a commit never brings one unformatted.
  mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')
else
  mapfile -t files < <(find src tests tools bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
fi

if [ "$fix" -eq 1 ]; then
  clang-format -i "${files[@]}"
  exit 0
fi

differ=0
for file in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "check_format: $file differs from .clang-format (scripts/check_format.sh --fix)"
    differ=$((differ + 1))
  fi
done
echo "check_format: ${#files[@]} files, $differ differ"
[ "$differ" -eq 0 ]
