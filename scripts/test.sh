#!/usr/bin/env bash
# Installs what is missing, builds both builds and runs every test: the POSIX build natively
# (with AddressSanitizer and UndefinedBehaviorSanitizer), the Win32 build under Wine.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0

run_build() {
  local preset=$1
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
}

run_build posix-debug
echo "== posix-debug: tests"
ctest --preset posix-debug -j "$jobs" || status=1

run_build win32
echo "== win32: tests under Wine"
ctest --preset win32 || status=1

echo "== profile functions: the system's own under Wine against the POSIX layer"
python3 tools/profile_diff.py build/posix-debug/profile_replay build/win32/profile_replay.exe \
  build/win32/wine-run.sh || status=1

# The release build carries the benchmarks; building it keeps them compiling.
run_build posix-release

run_build fuzz
echo "== fuzz: each target for a short while"
for target in build/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="build/fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="fuzz/corpus/$name"
  [ -d "$seeds" ] || seeds=""
  if "$target" -max_total_time="${TARVO_FUZZ_SECONDS:-20}" -timeout=10 -rss_limit_mb=2048 \
      "$corpus" $seeds >"build/fuzz/$name.log" 2>&1; then
    echo "$name: no failure in ${TARVO_FUZZ_SECONDS:-20} s"
  else
    echo "$name: FAILED (build/fuzz/$name.log)"; tail -n 40 "build/fuzz/$name.log"; status=1
  fi
done

if [ "$status" -ne 0 ]; then
  echo "test.sh: some tests failed" >&2
fi
exit "$status"
