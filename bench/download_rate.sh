#!/usr/bin/env bash
# The download rate limit: the release build's launcher, in an installation whose
# Sys\Config.ini sets DownloadRate (2048 KiB/s by default), downloads the archives (one by
# default, 64 MiB each by default; SIZE_MIB may be a fraction) that its version list names,
# together, from a small server on its update host that notes every 20 ms how many bytes of
# the bodies the launcher's side has acknowledged: what the line carried. Prints the time from the launcher's
# start to the first archive stored, against size / (limit / archives), and the most bytes
# that any 2 s window carried, against the limit: in all, and after the first second (which
# fills the sockets' buffers). Once, or ROUNDS times.
# Prints figures; passes or fails nothing. Its update host must be on 127.0.0.1 (the default);
# run it where port 8619 is free (for instance in "unshare -n" with lo up).
#   bench/download_rate.sh [KIB_PER_S (2048)] [SIZE_MIB (64)] [ROUNDS (1)] [ARCHIVES (1)]
set -euo pipefail
cd "$(dirname "$0")/.."
rate=${1:-2048}
size_mib=${2:-64}
rounds=${3:-1}
archives=${4:-1}

. bench/release_build.sh
release_build tarvo

work=$(mktemp -d /var/tmp/tarvo-rate.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
head -c "$(python3 -c "print(int(float('$size_mib') * 1048576))")" /dev/urandom \
  >"$work/payload.bin"
(cd "$work" && zip -0 -q archive.zip payload.bin && rm payload.bin)

python3 - "$work" "$port" "$rate" "$rounds" "$build/tarvo" "$archives" <<'PY'
import http.server, os, shutil, socket, statistics, struct, subprocess, sys, threading, time

work, port, rate, rounds, launcher, archives = sys.argv[1], int(sys.argv[2]), \
    int(sys.argv[3]), int(sys.argv[4]), sys.argv[5], int(sys.argv[6])
archive = os.path.join(work, "archive.zip")
size = os.path.getsize(archive)
names = [f"/archive{n}.zip" for n in range(archives)]
page = ("<vlVersionList>" + "".join(
    f"<Version>00001{n + 2:08d}http://127.0.0.1:{port}{name}</Version>"
    for n, name in enumerate(names)) + "</vlVersionList>").encode()
# What the line carries: every 20 ms, the bytes of each body that the launcher's side has
# acknowledged since the last look (TCP_INFO's tcpi_bytes_acked), so the figures do not depend
# on when the system lets the server's writes into its send buffer.
PIECE = max(1024, min(16384, rate * 1024 // 16))
sent = []  # (seconds, bytes) acknowledged in all, in order
lock = threading.Lock()
bodies = {}  # socket -> bytes acknowledged at the last look

def bytes_acked(sock):
    info = sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 256)
    return struct.unpack_from("Q", info, 120)[0]

def sample():
    while True:
        time.sleep(0.02)
        with lock:
            moved = 0
            for sock, seen in list(bodies.items()):
                try:
                    now = bytes_acked(sock)
                except OSError:
                    del bodies[sock]
                    continue
                moved += now - seen
                bodies[sock] = now
            if moved:
                sent.append((time.perf_counter(), moved))

threading.Thread(target=sample, daemon=True).start()

class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        body = page if self.path == "/zip.html" else None
        if body is None and self.path not in names:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Length", str(len(body) if body else size))
        self.end_headers()
        if body:
            self.wfile.write(body)
            return
        self.wfile.flush()
        with lock:
            bodies[self.connection] = bytes_acked(self.connection)
        try:
            with open(archive, "rb") as f:
                while piece := f.read(PIECE):
                    self.wfile.write(piece)
        finally:
            with lock:
                bodies.pop(self.connection, None)

class Server(http.server.ThreadingHTTPServer):
    def server_bind(self):
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 * PIECE)
        super().server_bind()

server = Server(("127.0.0.1", port), Handler)
threading.Thread(target=server.serve_forever, daemon=True).start()

def most_in_window(seconds, skip=0.0):
    """The most bytes taken in any window of `seconds`, leaving out the first `skip` seconds."""
    most = total = 0
    start = sent[0][0] + skip
    first = next((i for i, (t, _) in enumerate(sent) if t >= start), len(sent))
    for last in range(first, len(sent)):
        total += sent[last][1]
        while sent[last][0] - sent[first][0] >= seconds:
            total -= sent[first][1]
            first += 1
        most = max(most, total)
    return most

limit = rate * 1024
expected = size / (limit / archives)
times, windows = [], []
for number in range(1, rounds + 1):
    sent.clear()
    out = os.path.join(work, f"install{number}")
    os.makedirs(os.path.join(out, "Sys"))
    os.makedirs(os.path.join(out, "UpdateZip"))
    shutil.copy2(launcher, os.path.join(out, "tarvo"))
    with open(os.path.join(out, "Sys", "Config.ini"), "w") as f:
        f.write(f"[VERSION]\r\nFirstVersion=1\r\nSecondVersion=1\r\n[Tarvo]\r\nDownloadRate={rate}\r\n")
    began = time.perf_counter()
    status = subprocess.run([os.path.join(out, "tarvo")], cwd=out).returncode
    seconds = time.perf_counter() - began
    stored = [os.path.join(out, "UpdateZip", f"00001{n + 2:08d}.zip") for n in range(archives)]
    ok = status == 0 and any(os.path.exists(s) and os.path.getsize(s) == size for s in stored)
    most = most_in_window(2.0)
    later = most_in_window(2.0, 1.0)
    times.append(seconds)
    windows.append(later / (2 * limit))
    print(f"round {number}: {size / 2**20:.1f} MiB in {seconds:.2f} s "
          f"({seconds / expected:.3f} of size / limit = {expected:.2f} s); "
          f"most in any 2 s window {most / 2**10:.0f} KiB = {most / (2 * limit):.3f} x the limit, "
          f"after the first second (which fills the sockets' buffers) {later / (2 * limit):.3f} x"
          f"{'' if ok else '  NOT STORED'}", flush=True)
    shutil.rmtree(out)
if rounds > 1:
    print(f"median {statistics.median(times):.2f} s (fastest {min(times):.2f} s); "
          f"largest 2 s window after the first second {max(windows):.3f} x the limit")
server.shutdown()
PY
