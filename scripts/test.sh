#!/usr/bin/env bash
# Installs what is missing, builds both builds and runs every test: the POSIX build natively
# (with AddressSanitizer and UndefinedBehaviorSanitizer), the Win32 build under Wine.
# Ends with one line of counts (the formatting check, CTest's tests, the profile comparison,
# each fuzz target) and exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0
passed=0
failed=0

# Adds one check's outcome to the counts.
tally() {
  if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); status=1; fi
}

# Runs CTest for a preset and adds its tests to the counts.
run_ctest() {
  local preset=$1 log rc=0 line total bad
  shift
  log="build/$preset/ctest.log"
  ctest --preset "$preset" "$@" >"$log" 2>&1 || rc=$?
  cat "$log"
  line=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    total=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  else
    failed=$((failed + 1))
  fi
  [ "$rc" -eq 0 ] || status=1
}

run_build() {
  local preset=$1
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
}

echo "== formatting: every C++ file against .clang-format"
rc=0
bash scripts/check_format.sh || rc=$?
tally "$rc"

run_build posix-debug
echo "== posix-debug: tests"
run_ctest posix-debug -j "$jobs"

run_build win32
# Wine's loader is an i386 program: on a kernel that runs none, set-up registers qemu-i386 for
# them, and without it every Win32 test would fail with no word of why.
if i386=$(bash scripts/i386_programs.sh check); then
  echo "== win32: tests under Wine (i386 programs: $i386)"
  run_ctest win32 -j "$jobs"

  echo "== profile functions: the system's own under Wine against the POSIX layer"
  rc=0
  python3 tools/profile_diff.py build/posix-debug/profile_replay build/win32/profile_replay.exe \
    build/win32/wine-run.sh || rc=$?
  tally "$rc"
else
  echo "== win32: NOT RUN: $i386"
  tally 1
fi

# The release build carries the benchmarks; building it keeps them compiling. It also makes the
# Debian package of tarvo-publish, which operators install.
run_build posix-release
echo "== package: tarvo-publish's Debian package, lintian, apt-get install"
rc=0
bash tests/packaging/package_test.sh build/posix-release || rc=$?
tally "$rc"

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
    tally 0
  else
    echo "$name: FAILED (build/fuzz/$name.log)"; tail -n 40 "build/fuzz/$name.log"
    tally 1
  fi
done

echo "test.sh: $passed passed, $failed failed"
exit "$status"
