#!/usr/bin/env bash
# What tarvo-publish inspect reads out of the release build's Tarvo.exe is what that build was
# configured with. The tool comes from a POSIX build of the same sources in build/posix-*;
# without one the test is skipped (77).
#   inspect_test.sh SOURCE_DIR TARVO_EXE --version=V --host=H --key=K --rate=R
set -euo pipefail
source_dir=$1 exe=$2
shift 2
for argument in "$@"; do
  case $argument in
    --version=*) version=${argument#*=} ;;
    --host=*) host=${argument#*=} ;;
    --key=*) key=${argument#*=} ;;
    --rate=*) rate=${argument#*=} ;;
  esac
done
tool=""
for build in posix-release posix-debug; do
  if [ -x "$source_dir/build/$build/tarvo-publish" ]; then tool=$source_dir/build/$build/tarvo-publish; fi
done
[ -n "$tool" ] || { echo "inspect_test: no POSIX build of tarvo-publish; skipped"; exit 77; }

if [ -n "$key" ]; then
  key_line="  public key: $key (installs only updates signed with its secret key)"
else
  key_line="  public key: none (updates are not signed)"
fi
if [ "$rate" = 0 ]; then rate_line="  download rate: no limit"; else rate_line="  download rate: $rate KiB/s"; fi
expected="$exe
  version: $version
  update host: $host (version list http://$host/zip.html)
$key_line
$rate_line"
actual=$(ASAN_OPTIONS=detect_leaks=0 "$tool" inspect "$exe")
if [ "$actual" != "$expected" ]; then
  printf 'inspect_test: %s printed\n%s\ninstead of\n%s\n' "$tool" "$actual" "$expected" >&2
  exit 1
fi
echo "inspect_test: $tool inspect $exe: as built"
