#!/usr/bin/env bash
# Patches of large files, measured as an operator and a player meet them. Packs of incompressible
# 64 KiB assets (1, 2 and 4 GiB by default), each changed two ways:
#   region   1% of the pack replaced in one place, and 4 MiB inserted in its middle
#   scatter  1,000 edits of 4 KiB each, scattered over the pack
# For each pack and change: tarvo-publish writes the update (time, peak RSS, the archive against
# the bytes changed); for 1 GiB, "zstd -19 --long=30 --patch-from" makes its patch of the same
# pair, and for 4 GiB "xdelta3 -e -9" its delta (time, peak RSS, size); the release build's
# launcher installs the update at its next start (its update check answered at once by nginx on
# its update host), against "cp" of the new pack on the same disk followed by "sync"; and the
# launcher built without flushing against "cp" alone; each from a cold page cache (as root) but
# for the programs and the archive; and the processor time the installation used, with the
# least time it could take on this machine's cores. For the
# smallest pack but 1 GiB, also: the Win32 installation's peak memory and largest allocation
# under Wine (bench/tools/patch_install_peak.cpp); one flipped byte in the player's pack, the
# bytes fetched from the segment store at that start, and the next start's installation; and
# what a second update of the same kind adds to a store that holds the first one's segments.
# Prints figures; passes or fails nothing. It serves the launcher's update host itself: run it
# in "unshare -n" or where port 8619 (TARVO_UPDATE_HOST) is free. About 12 GiB free per 4 GiB
# pack are needed under TARVO_BENCH_DIR (default /var/tmp); everything made there goes at the
# end.
#   bench/patch.sh [PACK_GiB...]   (1 2 4 by default; zstd's patch of 1 GiB takes half an hour)
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -ne 0 ] || sizes=(1 2 4)

for tool in zstd xdelta3 /usr/bin/time; do
  command -v $tool >/dev/null || { echo "patch.sh: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

cmake --preset posix-release >/dev/null
cmake --build --preset posix-release -j2 --target tarvo tarvo_no_flush tarvo-publish \
  patch_install_peak >/dev/null
build=build/posix-release
win32=""
if bash scripts/i386_programs.sh check >/dev/null 2>&1; then
  cmake --preset win32 -B build/win32-bench -DTARVO_BENCH=ON -DTARVO_TESTS=OFF >/dev/null
  cmake --build build/win32-bench -j2 --target patch_install_peak >/dev/null
  win32=build/win32-bench
fi
host=$(sed -n 's/^TARVO_UPDATE_HOST:STRING=//p' $build/CMakeCache.txt)
port=${host##*:}
[ "$port" != "$host" ] || port=80

work=$(mktemp -d "${TARVO_BENCH_DIR:-/var/tmp}/tarvo-patch.XXXXXX")
cleanup() {
  python3 tools/test_servers.py stop --state "$work/servers.env" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir -p "$work/root"
python3 tools/test_servers.py start --state "$work/servers.env" --docroot "$work/root" \
  --nginx "$port" --lifetime 14400 >/dev/null

python3 - "$work" "$port" "$build" "$win32" "${sizes[@]}" <<'PY'
import os, random, shutil, statistics, subprocess, sys, time

work, port, build, win32 = sys.argv[1:5]
sizes = [int(s) for s in sys.argv[5:]]
GiB, MiB = 1 << 30, 1 << 20
ASSET = 64 * 1024
CHUNK = 64 * MiB
publish = os.path.abspath(os.path.join(build, "tarvo-publish"))
launcher = os.path.abspath(os.path.join(build, "tarvo"))
unflushed = os.path.abspath(os.path.join(build, "no-flush", "tarvo"))
report = os.path.join(work, "time.txt")
used = 0.0  # processor seconds of the last timed command
root = os.path.join(work, "root")
can_drop = os.geteuid() == 0 and os.access("/proc/sys/vm/drop_caches", os.W_OK)
access_log = os.path.join(work, "servers.env.run", "access.log")
# The pack of the Win32, flipped byte and store figures.
main = min([s for s in sizes if s > 1] or sizes)

def make_pack(path, size):
    with open(path, "wb") as f:
        for _ in range(size // ASSET):
            f.write(os.urandom(ASSET))

def copy_range(src, dst, count):
    while count:
        block = src.read(min(count, CHUNK))
        dst.write(block)
        count -= len(block)

def region(src, dst, at):
    """1% replaced at `at` (a fraction of the pack), 4 MiB inserted in the middle; bytes changed."""
    size = os.path.getsize(src)
    length = size // 100 // ASSET * ASSET
    start = int(size * at) // ASSET * ASSET
    middle = size // 2 + 12345
    with open(src, "rb") as s, open(dst, "wb") as d:
        copy_range(s, d, start)
        d.write(os.urandom(length))
        s.seek(start + length)
        copy_range(s, d, middle - start - length)
        d.write(os.urandom(4 * MiB))
        copy_range(s, d, size - middle)
    return length + 4 * MiB

def scatter(src, dst):
    """1,000 edits of 4 KiB at random places; bytes changed."""
    size = os.path.getsize(src)
    shutil.copyfile(src, dst)
    with open(dst, "r+b") as d:
        for block in sorted(random.Random(size).sample(range(size // 4096), 1000)):
            d.seek(block * 4096)
            d.write(os.urandom(4096))
    return 1000 * 4096

def tree(name, pack, second):
    """An installation tree holding `pack` as data/pack.bin, recording 1/`second`."""
    path = os.path.join(work, name)
    os.makedirs(os.path.join(path, "Sys"))
    os.makedirs(os.path.join(path, "data"))
    with open(os.path.join(path, "Sys", "Config.ini"), "w") as f:
        f.write("[VERSION]\r\nFirstVersion=1\r\nSecondVersion=%d\r\n" % second)
    os.link(pack, os.path.join(path, "data", "pack.bin"))
    return path

def timed(command, cwd=None):
    """Wall seconds and peak RSS (MiB) of `command`; fails on a failure. The processor seconds
    it used (user and system) are left in `used`."""
    global used
    began = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", report] + command, cwd=cwd,
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    seconds = time.perf_counter() - began
    with open(report) as f:
        user, system, rss = f.read().split()[-3:]
    used = float(user) + float(system)
    return seconds, int(rss) / 1024.0

def settle(*warm):
    """The disk synced; as root, the page cache dropped and `warm` read back into it."""
    os.sync()
    if can_drop:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("1\n")
    for path in warm:
        with open(path, "rb") as f:
            while f.read(CHUNK):
                pass

def same(a, b):
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0

def publish_update(site, previous, new, second):
    """Publishes into a site of its own, whose store nginx serves from its root (where the
    launcher's version list is missing: it plans nothing)."""
    os.makedirs(os.path.join(site, "updates"), exist_ok=True)
    store = "http://127.0.0.1:%s/%s/updates/segments/" % (port, os.path.basename(site))
    return timed([publish, "--site", site, "--url", "http://127.0.0.1:%s/updates" % port,
                  "--store-url", store, "--first", "1", "--second", str(second), previous, new])

def store_bytes(site):
    folder = os.path.join(site, "updates", "segments")
    return sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder))

def installation(name, pack, archive, copy=False, program=launcher):
    path = os.path.join(work, name)
    os.makedirs(os.path.join(path, "UpdateZip"))
    os.makedirs(os.path.join(path, "Sys"))
    os.makedirs(os.path.join(path, "data"))
    shutil.copy2(program, os.path.join(path, "tarvo"))
    shutil.copy2("/bin/true", os.path.join(path, "Velmora.exe"))
    with open(os.path.join(path, "Sys", "Config.ini"), "w") as f:
        f.write("[VERSION]\r\nFirstVersion=1\r\nSecondVersion=1\r\n")
    (shutil.copyfile if copy else os.link)(pack, os.path.join(path, "data", "pack.bin"))
    os.link(archive, os.path.join(path, "UpdateZip", "0000100000002.zip"))
    return path

def recorded(path):
    with open(os.path.join(path, "Sys", "Config.ini")) as f:
        return "SecondVersion=2" in f.read()

def fetched_bytes(prefix):
    total = 0
    with open(access_log) as f:
        for line in f:
            uri, status, sent = line.split()
            if uri.startswith(prefix):
                total += int(sent)
    return total

def mib(n):
    return "%.1f MiB" % (n / MiB)

for size in sorted(set(sizes)):
    print("== %d GiB pack" % size, flush=True)
    base = os.path.join(work, "v0.bin")
    make_pack(base, size * GiB)
    for kind in ("region", "scatter"):
        new = os.path.join(work, "v1.bin")
        changed = region(base, new, 0.25) if kind == "region" else scatter(base, new)
        site = os.path.join(root, "s%d%s" % (size, kind))
        previous, nexttree = tree("previous", base, 1), tree("next", new, 1)
        seconds, rss = publish_update(site, previous, nexttree, 2)
        archive = os.path.join(site, "updates", "0000100000002.zip")
        archive_size = os.path.getsize(archive)
        print("%s: %s changed; archive %d bytes (%.3f x changed; bound 1.1 x changed + 1 MiB: %s);"
              " tarvo-publish %.1f s, peak RSS %.0f MiB"
              % (kind, mib(changed), archive_size, archive_size / changed,
                 "met" if archive_size <= 1.1 * changed + MiB else "NOT met", seconds, rss),
              flush=True)
        if size == 1:
            patch = os.path.join(work, "zstd.patch")
            seconds, rss = timed(["zstd", "-q", "-f", "-19", "--long=30", "--patch-from=" + base,
                                  new, "-o", patch])
            theirs = os.path.getsize(patch)
            print("  zstd -19 --long=30 --patch-from: %d bytes, %.1f s, peak RSS %.0f MiB; archive /"
                  " zstd %.3f (bound 1.1)" % (theirs, seconds, rss, archive_size / theirs), flush=True)
            os.remove(patch)
        if size == 4:
            delta = os.path.join(work, "xdelta3.vcdiff")
            seconds, rss = timed(["xdelta3", "-e", "-9", "-f", "-s", base, new, delta])
            print("  xdelta3 -e -9: %d bytes, %.1f s, peak RSS %.0f MiB"
                  % (os.path.getsize(delta), seconds, rss), flush=True)
            os.remove(delta)
        runs = []
        for program in (launcher, unflushed):
            player = installation("player", base, archive, program=program)
            settle(os.path.join(player, "tarvo"), archive)
            runs.append(timed([os.path.join(player, "tarvo")], cwd=player) + (used,))
            ok = recorded(player) and same(os.path.join(player, "data", "pack.bin"), new)
            shutil.rmtree(player)
        (applied, rss, processor), (unflushed_time, _, _) = runs
        copies = []
        for synced in (False, True):
            target = os.path.join(work, "copy.bin")
            settle()
            began = time.perf_counter()
            subprocess.run(["cp", new, target], check=True)
            if synced:
                os.sync()
            copies.append(time.perf_counter() - began)
            os.remove(target)
        print("  installed at the next start in %.2f s (%s), peak RSS %.0f MiB; cp and sync %.2f s"
              " (x%.2f); without flushing %.2f s, cp %.2f s (x%.2f)"
              % (applied, "identical" if ok else "WRONG", rss, copies[1], applied / copies[1],
                 unflushed_time, copies[0], unflushed_time / copies[0]), flush=True)
        # Hashing and the kernel's copies bound an installation by processor time; where that
        # bound is near the time taken, more cores, not less waiting, would make it faster.
        print("  processor time %.2f s: on %d cores at least %.2f s (x%.2f cp and sync)"
              % (processor, os.cpu_count(), processor / os.cpu_count(),
                 processor / os.cpu_count() / copies[1]), flush=True)
        if size == main and win32:
            player = installation("player", base, archive)
            out = subprocess.run(
                [os.path.join(win32, "wine-run.sh"),
                 os.path.join(win32, "patch_install_peak.exe"), "Z:" + player.replace("/", "\\"),
                 "Z:" + archive.replace("/", "\\")], capture_output=True, text=True)
            ok = out.returncode == 0 and same(os.path.join(player, "data", "pack.bin"), new)
            print("  Win32 under Wine: %s (%s)"
                  % (out.stdout.strip(), "identical" if ok else "WRONG"), flush=True)
            shutil.rmtree(player)
        if size == main and kind == "region":
            # One flipped byte in the player's pack: what the store sends, then the next start.
            player = installation("player", base, archive, copy=True)
            with open(os.path.join(player, "data", "pack.bin"), "r+b") as f:
                f.seek(size * GiB // 3)
                byte = f.read(1)
                f.seek(size * GiB // 3)
                f.write(bytes([byte[0] ^ 1]))
            prefix = "/%s/updates/segments/" % os.path.basename(site)
            before = fetched_bytes(prefix)
            subprocess.run([os.path.join(player, "tarvo")], cwd=player, check=True)
            pending = not recorded(player)
            subprocess.run([os.path.join(player, "tarvo")], cwd=player, check=True)
            ok = recorded(player) and same(os.path.join(player, "data", "pack.bin"), new)
            print("  one flipped byte: first start %s, %d bytes fetched from the store;"
                  " next start %s" % ("pending" if pending else "INSTALLED", fetched_bytes(prefix) - before,
                                     "identical" if ok else "WRONG"), flush=True)
            shutil.rmtree(player)
            # The same kind of change once more, published to the same site and store.
            grown = store_bytes(site)
            newer = os.path.join(work, "v2.bin")
            changed2 = region(new, newer, 0.1)
            older, newest = tree("older", new, 2), tree("newest", newer, 2)
            publish_update(site, older, newest, 3)
            grown = store_bytes(site) - grown
            print("  a second update of %s grows the store by %s (bound 2 x changed + 64 MiB: %s)"
                  % (mib(changed2), mib(grown), "met" if grown <= 2 * changed2 + 64 * MiB else "NOT met"),
                  flush=True)
            for t in (older, newest):
                shutil.rmtree(t)
            os.remove(newer)
        for t in (previous, nexttree, site):
            shutil.rmtree(t)
        os.remove(new)
    os.remove(base)
PY
