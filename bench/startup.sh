#!/usr/bin/env bash
# Time from starting the launcher to the client's start, in an installation with nothing pending
# and a version list with nothing new served by nginx on the launcher's update host, against a
# bare program that only starts the client; and in one whose list plans one newer entry (so the
# launcher keeps its record of planned entries before the client starts; the archive is missing,
# and the download ends at once); alternating, in one run. Prints figures; passes or fails
# nothing. Uses the release build; its update host must be on 127.0.0.1 (the default).
#   bench/startup.sh [ROUNDS (40)]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-40}

cmake --preset posix-release >/dev/null
cmake --build --preset posix-release -j2 \
  --target tarvo startup_bare_launcher startup_timing_client >/dev/null
host=$(sed -n 's/^TARVO_UPDATE_HOST:STRING=//p' build/posix-release/CMakeCache.txt)
port=${host##*:}
[ "$port" != "$host" ] || port=80

work=$(mktemp -d /var/tmp/tarvo-startup.XXXXXX)
cleanup() {
  python3 tools/test_servers.py stop --state "$work/servers.env" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir -p "$work/root" "$work/install/Sys" "$work/install/UpdateZip" "$work/bare" \
  "$work/planned/Sys" "$work/planned/UpdateZip"
printf '[VERSION]\r\nFirstVersion=1\r\nSecondVersion=5\r\n' >"$work/install/Sys/Config.ini"
printf '[VERSION]\r\nFirstVersion=1\r\nSecondVersion=4\r\n' >"$work/planned/Sys/Config.ini"
{
  printf '<html><body><vlVersionList>\r\n'
  for second in 1 2 3 4 5; do
    printf '<Version>00001%08dhttp://127.0.0.1:%s/updates/00001%08d.zip</Version>\r\n' \
      "$second" "$port" "$second"
  done
  printf '</vlVersionList></body></html>\r\n'
} >"$work/root/zip.html"
python3 tools/test_servers.py start --state "$work/servers.env" --docroot "$work/root" \
  --nginx "$port" --lifetime 600 >/dev/null
cp build/posix-release/tarvo "$work/install/tarvo"
cp build/posix-release/startup_timing_client "$work/install/Velmora.exe"
cp build/posix-release/tarvo "$work/planned/tarvo"
cp build/posix-release/startup_timing_client "$work/planned/Velmora.exe"
cp build/posix-release/startup_bare_launcher "$work/bare/bare"
cp build/posix-release/startup_timing_client "$work/bare/Velmora.exe"

python3 - "$work/install/tarvo" "$work/bare/bare" "$work/planned/tarvo" "$rounds" <<'PY'
import os, statistics, subprocess, sys, time

programs = {"tarvo": sys.argv[1], "bare": sys.argv[2], "planned": sys.argv[3]}
rounds = int(sys.argv[4])
figures = {name: [] for name in programs}

def once(name):
    program = programs[name]
    stamp = os.path.join(os.path.dirname(program), "client.time")
    if os.path.exists(stamp):
        os.remove(stamp)
    start = time.monotonic_ns()
    subprocess.run([program], check=True, cwd=os.path.dirname(program))
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            with open(stamp) as f:
                text = f.read()
            if text:
                return (int(text) - start) / 1e6
        except FileNotFoundError:
            pass
        time.sleep(0.0005)
    raise SystemExit(f"{name}: the client did not start")

for name in programs:  # warm-up, not counted
    once(name)
for _ in range(rounds):
    for name in programs:
        figures[name].append(once(name))

for name, values in figures.items():
    print(f"{name:7s} median {statistics.median(values):7.2f} ms   "
          f"min {min(values):7.2f} ms   max {max(values):7.2f} ms   ({len(values)} runs)")
extra = statistics.median(figures["tarvo"]) - statistics.median(figures["bare"])
print(f"tarvo takes {extra:.2f} ms more than the bare program to start the client (median)")
planned = statistics.median(figures["planned"]) - statistics.median(figures["tarvo"])
print(f"planning one entry (and keeping the record) takes {planned:.2f} ms more (median)")
PY
