#!/usr/bin/env bash
# Runs the end-to-end tests (CTest label "e2e") of built presets again and again while
# stress-ng keeps every core busy, and prints, per preset, how many rounds failed and which
# tests failed how often. A test that only passes on an idle machine shows up here.
#
#   scripts/stress_tests.sh [ROUNDS] [PRESET ...]     (20 rounds of posix-debug and win32)
#
# Build the presets first (scripts/test.sh does). The tests use the update host's fixed port:
# as root, the rounds run in a network namespace of their own, so nothing else on the machine
# can hold that port. Never run a preset's tests twice at once (this script beside
# scripts/test.sh, say): the two runs share the build folder's server fixtures and, for Win32,
# one wineserver, which makes every test's sockets in the network namespace it started in.
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=${1:-20}
shift || true
presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(posix-debug win32)
case "$rounds" in '' | *[!0-9]*) echo "stress_tests: ROUNDS must be a number" >&2; exit 2 ;; esac
command -v stress-ng >/dev/null || { echo "stress_tests: stress-ng is missing (apt-get install stress-ng)" >&2; exit 2; }
for preset in "${presets[@]}"; do
  [ -d "build/$preset" ] || { echo "stress_tests: build/$preset is missing: build it first" >&2; exit 2; }
done

if [ "$(id -u)" -eq 0 ] && [ -z "${TARVO_STRESS_INSIDE:-}" ] && unshare -n true 2>/dev/null; then
  exec unshare -n env TARVO_STRESS_INSIDE=1 bash -c 'ip link set lo up && exec "$0" "$@"' \
    "$0" "$rounds" "${presets[@]}"
fi

stress-ng --cpu "$(nproc)" --timeout 0 --quiet &
stress=$!
trap 'kill "$stress" 2>/dev/null || true; wait "$stress" 2>/dev/null || true' EXIT

logs=$(mktemp -d)
status=0
for preset in "${presets[@]}"; do
  failed_rounds=0
  : >"$logs/$preset.failures"
  for round in $(seq 1 "$rounds"); do
    log="$logs/$preset.$round.log"
    if ctest --preset "$preset" -L e2e --output-on-failure >"$log" 2>&1; then
      echo "$preset round $round: passed"
    else
      failed_rounds=$((failed_rounds + 1))
      status=1
      echo "$preset round $round: FAILED ($log)"
      grep -E '^[[:space:]]*[0-9]+ - ' "$log" | sed -E 's/^[[:space:]]*[0-9]+ - ([^ ]+).*/\1/' \
        >>"$logs/$preset.failures" || true
      # One CTest test runs a whole Win32 program: name the GoogleTest cases that failed.
      grep -E '^\[  FAILED  \] [A-Za-z0-9_]+\.[A-Za-z0-9_]+' "$log" |
        sed -E 's/^\[  FAILED  \] ([^ ]+).*/  \1/' | sort -u >>"$logs/$preset.failures" || true
    fi
  done
  echo "stress_tests: $preset: $((rounds - failed_rounds)) of $rounds rounds passed"
  sort "$logs/$preset.failures" | uniq -c | sort -rn
done
echo "stress_tests: logs in $logs"
exit "$status"
