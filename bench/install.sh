#!/usr/bin/env bash
# Installation of an update archive through the launcher, as a player waits for it, against
# bsdtar (libarchive) and Info-ZIP unzip extracting the same archive, in one run:
#   game      about 300 MB in 2000 files in nested folders, half deflated text, half stored noise
#   deflated  one file of 512 MiB of text, deflated
#   stored    one file of 512 MiB of noise, stored
#   huge      one file of 5 GiB of text, deflated, in zip64 (only when asked for: see below)
# For each archive and round, in turn: the release build's launcher installing it from
# UpdateZip\ into a fresh installation (its update check answered at once with nothing newer by
# nginx on the launcher's update host), the launcher built with the tests' public key installing
# the same archive signed, the launcher built without flushing the installed files to the disk
# (what the flushing costs; no launcher that ships is built so), "bsdtar -xf" and
# "unzip -o -q" into a fresh folder. bsdtar and unzip flush nothing. Prints each run
# (wall, CPU, peak RSS), then medians, fastest runs (on a shared machine the fastest is the one
# least slowed by others) and ratios, and the launcher's peak RSS against its own with nothing
# pending. The first round's results are compared with bsdtar's, byte for byte.
#
# Before each run the disk is synced and, as root, the page cache dropped and the archive and
# the programs read back into it: every run starts from the same state of memory. (Without
# that, on a virtual machine, page cache never used before fills slowly, and ext4 without a
# journal skips inodes deleted in the last minutes at a cost that grows with their number:
# outputs are kept until every run of an archive is done for the same reason, so about 11 GiB
# must be free under /var/tmp for 5 rounds. The huge archive's outputs go after each round
# instead, round 1's once compared: it needs about 30 GiB, and making it takes minutes.)
# Prints figures; passes or fails nothing. Its update host must be on 127.0.0.1 (the default).
#   bench/install.sh [ROUNDS (5)] [ARCHIVE...]   (game, deflated, stored by default; or huge)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
shift || true
kinds=(game deflated stored)
[ $# -eq 0 ] || kinds=("$@")
for tool in bsdtar unzip /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "install.sh: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

cmake --preset posix-release >/dev/null
cmake --build --preset posix-release -j2 --target tarvo tarvo_signed tarvo_no_flush bench_archive \
  sign_archive >/dev/null
build=build/posix-release
host=$(sed -n 's/^TARVO_UPDATE_HOST:STRING=//p' $build/CMakeCache.txt)
port=${host##*:}
[ "$port" != "$host" ] || port=80

# On disk rather than in a memory file system, like an installation.
work=$(mktemp -d /var/tmp/tarvo-install.XXXXXX)
cleanup() {
  python3 tools/test_servers.py stop --state "$work/servers.env" >/dev/null 2>&1 || true
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir -p "$work/root" "$work/archives"
# Nothing newer than the versions an installation records before and after the update.
printf '<html><body><vlVersionList>\r\n<Version>0000100000001http://127.0.0.1:%s/0000100000001.zip</Version>\r\n</vlVersionList></body></html>\r\n' \
  "$port" >"$work/root/zip.html"
python3 tools/test_servers.py start --state "$work/servers.env" --docroot "$work/root" \
  --nginx "$port" --lifetime 7200 >/dev/null

for kind in "${kinds[@]}"; do
  echo "making the $kind archive"
  $build/bench_archive $kind "$work/archives/$kind.zip"
  cp "$work/archives/$kind.zip" "$work/archives/$kind-signed.zip"
  $build/sign_archive "$work/archives/$kind-signed.zip" 0000100000002
done

python3 - "$work" "$rounds" "$build/tarvo" "$build/signed/tarvo" "$build/no-flush/tarvo" \
  "${kinds[@]}" <<'PY'
import filecmp, os, re, shutil, statistics, subprocess, sys, time

work, rounds, launcher, signed_launcher, unflushed_launcher = sys.argv[1:6]
rounds, kinds = int(rounds), sys.argv[6:]
archives = os.path.join(work, "archives")
report = os.path.join(work, "time.txt")
TOOLS = ["tarvo", "signed", "no-flush", "bsdtar", "unzip"]
LAUNCHERS = {"tarvo": launcher, "signed": signed_launcher, "no-flush": unflushed_launcher}
LAUNCHER_FILES = {"tarvo", "Velmora.exe", "Sys", "UpdateZip"}
can_drop = os.geteuid() == 0 and os.access("/proc/sys/vm/drop_caches", os.W_OK)

def program_files(program):
    """The program and the shared libraries it loads."""
    listed = subprocess.run(["ldd", program], capture_output=True, text=True).stdout
    return [program] + re.findall(r"=> (/\S+)", listed)

PROGRAMS = [f for p in (launcher, signed_launcher, unflushed_launcher, shutil.which("bsdtar"),
                        shutil.which("unzip"), "/bin/true") for f in program_files(p)]

def settle(kind):
    """The disk synced and, as root, the page cache holding what a run reads and nothing else."""
    os.sync()
    if not can_drop:
        return
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("1\n")
    for path in PROGRAMS + [os.path.join(archives, kind + s) for s in (".zip", "-signed.zip")]:
        with open(path, "rb") as f:
            while f.read(1 << 20):
                pass

def installation(path, program, archive):
    """A fresh installation recording 1/1, with `archive` pending as version 1/2."""
    os.makedirs(os.path.join(path, "Sys"))
    os.makedirs(os.path.join(path, "UpdateZip"))
    shutil.copy2(program, os.path.join(path, "tarvo"))
    shutil.copy2("/bin/true", os.path.join(path, "Velmora.exe"))
    with open(os.path.join(path, "Sys", "Config.ini"), "w") as f:
        f.write("[VERSION]\r\nFirstVersion=1\r\nSecondVersion=1\r\n")
    if archive:
        # A second name for the same file: the launcher deletes only the name.
        os.link(archive, os.path.join(path, "UpdateZip", "0000100000002.zip"))

def timed(command, cwd):
    """Wall seconds, CPU seconds and peak RSS (MiB) of `command`, and its exit status."""
    began = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", report] + command, cwd=cwd,
                            stdin=subprocess.DEVNULL)
    seconds = time.perf_counter() - began
    with open(report) as f:
        user, system, kib = f.read().split()[-3:]
    return seconds, float(user) + float(system), int(kib) / 1024.0, result.returncode

def run(kind, tool, out):
    archive = os.path.join(archives, kind + ("-signed.zip" if tool == "signed" else ".zip"))
    if tool in LAUNCHERS:
        installation(out, LAUNCHERS[tool], archive)
        command = [os.path.join(out, "tarvo")]
    else:
        os.makedirs(out)
        command = (["bsdtar", "-xf", archive, "-C", out] if tool == "bsdtar"
                   else ["unzip", "-o", "-q", archive, "-d", out])
    settle(kind)
    seconds, cpu, rss, status = timed(command, out)
    ok = status == 0
    if tool in LAUNCHERS:
        with open(os.path.join(out, "Sys", "Config.ini")) as f:
            ok = ok and "SecondVersion=2" in f.read()
        ok = ok and not os.listdir(os.path.join(out, "UpdateZip"))
    return seconds, cpu, rss, ok

def same_tree(a, b):
    """True when the files below `a` and `b` (but a launcher's own at the top) have the same
    names and bytes."""
    def files(root):
        found = set()
        for folder, dirs, names in os.walk(root):
            relative = os.path.relpath(folder, root)
            if relative == ".":
                dirs[:] = [d for d in dirs if d not in LAUNCHER_FILES]
                names = [n for n in names if n not in LAUNCHER_FILES]
            found.update(os.path.normpath(os.path.join(relative, n)) for n in names)
        return found
    names = files(a)
    return names == files(b) and all(
        filecmp.cmp(os.path.join(a, n), os.path.join(b, n), shallow=False) for n in names)

def remove(path):
    subprocess.run(["chmod", "-R", "u+w", path], check=True)
    shutil.rmtree(path)

if not can_drop:
    print("not root: the page cache is not reset between runs, and figures are noisier")
# The launcher's own peak with nothing pending: its libraries and its update check.
idle = []
for number in range(3):
    out = os.path.join(work, f"idle{number}")
    installation(out, launcher, None)
    settle("game")
    idle.append(timed([os.path.join(out, "tarvo")], out)[2])
idle_rss = max(idle)
print(f"launcher with nothing pending: peak RSS {idle_rss:.1f} MiB (largest of {len(idle)})",
      flush=True)

figures = {}
for kind in kinds:
    print(f"\n{kind} ({os.path.getsize(os.path.join(archives, kind + '.zip')) / 2**20:.1f} MiB "
          f"archive)", flush=True)
    runs = figures[kind] = {tool: [] for tool in TOOLS}
    folder = os.path.join(work, kind)
    for round_number in range(1, rounds + 1):
        # Each tool goes first in turn.
        shift = (round_number - 1) % len(TOOLS)
        for tool in TOOLS[shift:] + TOOLS[:shift]:
            seconds, cpu, rss, ok = run(kind, tool, os.path.join(folder, f"{tool}{round_number}"))
            runs[tool].append((seconds, cpu, rss))
            print(f"round {round_number} {tool:8}: wall {seconds:6.3f} s  cpu {cpu:6.3f} s  "
                  f"peak RSS {rss:6.1f} MiB{'' if ok else '  FAILED'}", flush=True)
        if round_number == 1:
            for tool in ("tarvo", "signed", "no-flush", "unzip"):
                if not same_tree(os.path.join(folder, f"{tool}1"), os.path.join(folder, "bsdtar1")):
                    print(f"{tool}: round 1 DIFFERS from bsdtar's extraction")
        if kind == "huge":
            # Five outputs of 5 GiB a round: the disk would not hold them all.
            remove(folder)
    if os.path.exists(folder):
        remove(folder)

print(f"\nsummary: medians of {rounds} rounds, and the fastest run of each "
      "(the machine may be shared: the fastest run is the one least slowed by others)")
for kind, runs in figures.items():
    median = {t: statistics.median(s for s, _, _ in r) for t, r in runs.items()}
    best = {t: min(s for s, _, _ in r) for t, r in runs.items()}
    cpu = {t: statistics.median(c for _, c, _ in r) for t, r in runs.items()}
    peak = {t: max(m for _, _, m in r) for t, r in runs.items()}
    print(f"{kind}:")
    print("  median wall " + "  ".join(f"{t} {median[t]:.3f} s" for t in TOOLS))
    print("  best wall   " + "  ".join(f"{t} {best[t]:.3f} s" for t in TOOLS))
    print("  median CPU  " + "  ".join(f"{t} {cpu[t]:.3f} s" for t in TOOLS))
    print(f"  tarvo / bsdtar {median['tarvo'] / median['bsdtar']:.3f} median, "
          f"{best['tarvo'] / best['bsdtar']:.3f} best;  "
          f"no-flush / bsdtar {median['no-flush'] / median['bsdtar']:.3f} median, "
          f"{best['no-flush'] / best['bsdtar']:.3f} best;  "
          f"tarvo / no-flush {median['tarvo'] / median['no-flush']:.3f} median;  "
          f"signed / tarvo {median['signed'] / median['tarvo']:.3f} median, "
          f"{best['signed'] / best['tarvo']:.3f} best;  "
          f"tarvo / unzip {median['tarvo'] / median['unzip']:.3f} median")
    print(f"  peak RSS: tarvo {peak['tarvo']:.1f} MiB ({peak['tarvo'] - idle_rss:+.1f} over the "
          f"launcher with nothing pending), signed {peak['signed']:.1f} MiB "
          f"({peak['signed'] - idle_rss:+.1f}), bsdtar {peak['bsdtar']:.1f} MiB, "
          f"unzip {peak['unzip']:.1f} MiB")
PY
