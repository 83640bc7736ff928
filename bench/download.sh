#!/usr/bin/env bash
# Downloads the same signed archive from nginx on 127.0.0.1 with the download worker (bench/
# download_bench.cpp, release build), once as a launcher built without a key takes it and once
# checking its signature as a launcher built with the key does, and with `curl -o`,
# alternating, and prints each run's throughput and peak resident memory, then the medians, the
# worker's share of curl's throughput and the signed check's share of the plain one's, and the
# same for each one's fastest run.
# Prints figures; passes or fails nothing.
#   bench/download.sh [SIZE_MIB (1024)] [ROUNDS (3)]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
rounds=${2:-3}

cmake --preset posix-release >/dev/null
cmake --build --preset posix-release --target download_bench sign_archive -j2 >/dev/null

# On disk rather than in a memory file system, like an installation.
work=$(mktemp -d /var/tmp/tarvo-bench.XXXXXX)
cleanup() {
  python3 tools/test_servers.py stop --state "$work/servers.env" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir -p "$work/root"
# The worker stores nothing but zip archives: the bytes go into one stored item.
echo "making an archive of $size_mib MiB"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/payload.bin"
(cd "$work" && zip -0 -q root/archive.zip payload.bin && rm payload.bin)
build/posix-release/sign_archive "$work/root/archive.zip" 0000100000001
key=$(sed -n 's/^set(TARVO_TEST_PUBLIC_KEY "\(.*\)")$/\1/p' tests/CMakeLists.txt)
python3 tools/test_servers.py start --state "$work/servers.env" --docroot "$work/root" \
  --nginx 0 --lifetime 3600 >/dev/null
port=$(sed -n 's/^nginx_port=//p' "$work/servers.env")

python3 - "http://127.0.0.1:$port/archive.zip" "$work/root/archive.zip" "$work/0000100000001.zip" \
  "$rounds" build/posix-release/download_bench "$key" <<'PY'
import filecmp, os, statistics, subprocess, sys, time

url, source, out, rounds, worker, key = sys.argv[1:7]
rounds = int(rounds)
size = os.path.getsize(source)
tools = {"worker": [worker, url, out], "signed": [worker, url, out, key],
         "curl": ["curl", "-s", "-o", out, url]}
figures = {name: [] for name in tools}
report = out + ".time"

def run(name):
    if os.path.exists(out):
        os.remove(out)
    subprocess.run(["sync"], check=True)
    # GNU time reports the peak of the program alone: a process's peak resident size counts
    # what it held before exec too, and Python's own would hide the program's.
    began = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + tools[name])
    seconds = time.perf_counter() - began
    with open(report) as f:
        rss = int(f.read().split()[-1]) / 1024.0
    stored = result.returncode == 0 and os.path.getsize(out) == size
    return seconds, rss, stored

# One run that is not counted: the file's pages and the server warm up for both.
run("curl")
for round_number in range(1, rounds + 1):
    for name in tools:
        seconds, rss, stored = run(name)
        if round_number == 1 and stored and not filecmp.cmp(source, out, shallow=False):
            stored = False
        mib_s = size / seconds / 2**20
        figures[name].append((mib_s, rss))
        print(f"round {round_number} {name:6}: {seconds:7.3f} s  {mib_s:8.1f} MiB/s  "
              f"peak RSS {rss:6.1f} MiB{'' if stored else '  NOT STORED'}", flush=True)

median = {name: statistics.median(t for t, _ in runs) for name, runs in figures.items()}
peak = {name: max(r for _, r in runs) for name, runs in figures.items()}
print(f"median throughput: worker {median['worker']:.1f} MiB/s, signed {median['signed']:.1f} MiB/s, "
      f"curl {median['curl']:.1f} MiB/s")
print(f"worker / curl {median['worker'] / median['curl']:.3f}, "
      f"signed / worker {median['signed'] / median['worker']:.3f}")
# On a shared machine the fastest run of each is the one least slowed by others.
best = {name: max(t for t, _ in runs) for name, runs in figures.items()}
print(f"best throughput: worker {best['worker']:.1f} MiB/s, signed {best['signed']:.1f} MiB/s, "
      f"curl {best['curl']:.1f} MiB/s; worker / curl {best['worker'] / best['curl']:.3f}, "
      f"signed / worker {best['signed'] / best['worker']:.3f}")
print(f"peak RSS: worker {peak['worker']:.1f} MiB, signed {peak['signed']:.1f} MiB, "
      f"curl {peak['curl']:.1f} MiB")
PY
