#!/usr/bin/env bash
# Removal of 10,000 files (100 folders of 100) that one update archive lists, by the release
# build's launcher installing that archive from UpdateZip\ (its update check answered at once
# with nothing newer by nginx on its update host), against "rm -f" of the same files, in turn,
# each on a fresh copy of the files after the disk is synced. Also times the launcher
# installing an archive whose list removes nothing: its cost besides the removals. Prints each run, the medians and the fastest runs (the
# machine may be shared: the fastest is the one least slowed by others), and the ratios.
# Prints figures; passes or fails nothing. Its update host must be on 127.0.0.1 (the default);
# run it where port 8619 is free (for instance in "unshare -n" with lo up).
#   bench/removals.sh [ROUNDS (5)]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}

. bench/release_build.sh
release_build tarvo

# On disk rather than in a memory file system, like an installation.
work=$(mktemp -d "${TARVO_BENCH_DIR:-/var/tmp}/tarvo-removals.XXXXXX")
cleanup() {
  python3 tools/test_servers.py stop --state "$work/servers.env" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir -p "$work/root"
printf '<html><body><vlVersionList>\r\n<Version>0000100000001http://127.0.0.1:%s/0000100000001.zip</Version>\r\n</vlVersionList></body></html>\r\n' \
  "$port" >"$work/root/zip.html"
python3 tools/test_servers.py start --state "$work/servers.env" --docroot "$work/root" \
  --nginx "$port" --lifetime 3600 >/dev/null

python3 - "$work" "$rounds" "$build/tarvo" <<'PY'
import os, shutil, statistics, subprocess, sys, time, zipfile

work, rounds, launcher = sys.argv[1], int(sys.argv[2]), sys.argv[3]
names = [f"data/f{d:03}/file{n:03}.dat" for d in range(100) for n in range(100)]
archives = {"tarvo": os.path.join(work, "removals.zip"), "empty": os.path.join(work, "empty.zip")}
for tool, listed in (("tarvo", names), ("empty", [])):
    with zipfile.ZipFile(archives[tool], "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("Sys/TarvoRemovals.txt", "TARVO-REMOVALS-1\n" + "".join(n + "\n" for n in listed))

def installation(path, archive):
    """An installation recording 1/1 holding the files, with the archive pending as 1/2."""
    for folder in range(100):
        os.makedirs(os.path.join(path, f"data/f{folder:03}"))
    for name in names:
        with open(os.path.join(path, name), "wb") as f:
            f.write(b"x" * 100)
    os.makedirs(os.path.join(path, "Sys"))
    os.makedirs(os.path.join(path, "UpdateZip"))
    shutil.copy2(launcher, os.path.join(path, "tarvo"))
    shutil.copy2("/bin/true", os.path.join(path, "Velmora.exe"))
    with open(os.path.join(path, "Sys", "Config.ini"), "w") as f:
        f.write("[VERSION]\r\nFirstVersion=1\r\nSecondVersion=1\r\n")
    if archive:
        shutil.copy2(archive, os.path.join(path, "UpdateZip", "0000100000002.zip"))
    os.sync()

def timed(command, cwd):
    began = time.perf_counter()
    status = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL).returncode
    return time.perf_counter() - began, status

def run(tool, out):
    installation(out, archives.get(tool))
    if tool == "rm":
        seconds, status = timed(["rm", "-f", "--"] + names, out)
    else:
        seconds, status = timed([os.path.join(out, "tarvo")], out)
    left = sum(os.path.exists(os.path.join(out, n)) for n in names)
    ok = status == 0 and (left == len(names) if tool == "empty" else left == 0)
    shutil.rmtree(out)
    return seconds, ok

tools = ["tarvo", "rm", "empty"]
runs = {tool: [] for tool in tools}
for number in range(1, rounds + 1):
    shift = (number - 1) % len(tools)
    for tool in tools[shift:] + tools[:shift]:
        seconds, ok = run(tool, os.path.join(work, f"{tool}{number}"))
        runs[tool].append(seconds)
        print(f"round {number} {tool:5}: {seconds:6.3f} s{'' if ok else '  FAILED'}", flush=True)

median = {t: statistics.median(r) for t, r in runs.items()}
best = {t: min(r) for t, r in runs.items()}
print(f"\nremoving {len(names)} files: medians of {rounds} rounds, fastest runs in brackets")
for tool, what in (("tarvo", "launcher installing the archive"), ("rm", "rm -f"),
                   ("empty", "launcher, list removing nothing")):
    print(f"  {what:32} {median[tool]:.3f} s ({best[tool]:.3f} s)")
print(f"  launcher / rm {median['tarvo'] / median['rm']:.2f} ({best['tarvo'] / best['rm']:.2f}); "
      f"the removals alone (less the run removing nothing) "
      f"{(median['tarvo'] - median['empty']) / median['rm']:.2f} "
      f"({(best['tarvo'] - best['empty']) / best['rm']:.2f})")
PY
