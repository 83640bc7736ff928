#!/usr/bin/env bash
# A download cut three times, then completed: the download worker (bench/download_bench.cpp,
# release build) fetches one archive from nginx on 127.0.0.1, paced by nginx's limit_rate, and
# is killed once its kept bytes pass each cut (25%, 50% and 75% of the archive by default), as
# a launcher is when the player turns the machine off; a last start fetches the rest unpaced.
# Prints, from nginx's access log, the bytes that the server sent at each start and their sum
# against the archive's size, and whether the stored archive is the served one.
# Prints figures; passes or fails nothing.
#   bench/download_cuts.sh [SIZE_MIB (1024)] [RATE (64m)] [CUT_PERCENT ... (25 50 75)]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
rate=${2:-64m}
shift $(($# > 2 ? 2 : $#))
cuts=("$@")
[ ${#cuts[@]} -gt 0 ] || cuts=(25 50 75)

cmake --preset posix-release >/dev/null
cmake --build --preset posix-release --target download_bench -j2 >/dev/null

# On disk rather than in a memory file system, like an installation.
work=$(mktemp -d /var/tmp/tarvo-bench.XXXXXX)
worker_pid=
cleanup() {
  if [ -n "$worker_pid" ]; then kill -9 "$worker_pid" 2>/dev/null || true; fi
  python3 tools/test_servers.py stop --state "$work/servers.env" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir -p "$work/root" "$work/game/UpdateZip"
echo "making an archive of $size_mib MiB"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/payload.bin"
(cd "$work" && zip -0 -q root/archive.zip payload.bin && rm payload.bin)
size=$(stat -c %s "$work/root/archive.zip")
python3 tools/test_servers.py start --state "$work/servers.env" --docroot "$work/root" \
  --nginx 0 --paced "$rate" --lifetime 3600 >/dev/null
port=$(sed -n 's/^nginx_port=//p' "$work/servers.env")
log="$work/servers.env.run/access.log"
destination="$work/game/UpdateZip/0000100000001.zip"

for cut in "${cuts[@]}"; do
  build/posix-release/download_bench "http://127.0.0.1:$port/paced/archive.zip" \
    "$destination" &
  worker_pid=$!
  until [ "$(stat -c %s "$destination.kept" 2>/dev/null || echo 0)" -ge \
    "$((size * cut / 100))" ]; do
    sleep 0.05
  done
  kill -9 "$worker_pid"
  wait "$worker_pid" 2>/dev/null || true
  worker_pid=
  echo "cut at $cut%: $(stat -c %s "$destination.kept") bytes kept"
done
build/posix-release/download_bench "http://127.0.0.1:$port/archive.zip" "$destination" &&
  stored=yes || stored=no

# nginx logs a request once it has ended; the last one ended before the worker did.
python3 - "$log" "$size" "$stored" "$work/root/archive.zip" "$destination" <<'PY'
import filecmp, os, sys

log, size, stored, source, destination = sys.argv[1:6]
size = int(size)
total = 0
for number, line in enumerate(open(log), 1):
    uri, status, sent = line.split()
    total += int(sent)
    print(f"start {number}: {uri} {status}, {int(sent)} bytes sent")
same = stored == "yes" and filecmp.cmp(source, destination, shallow=False)
print(f"archive {size} bytes; sent in all {total} bytes = {total / size:.4f} x the archive; "
      f"stored {'and identical' if same else 'NOT identical or not stored'}")
PY
