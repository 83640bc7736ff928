#!/usr/bin/env python3
"""An update server for tests: serves the files of a folder over HTTP on 127.0.0.1, and makes
the faults that an ordinary web server never makes.

The answer to GET /NAME?QUERY is the file NAME of the document root, shaped by the fault
parameters of QUERY, or else by those written in the file NAME.fault beside it (same form, for
clients whose URL cannot carry a query, such as the launcher's fixed version list address):

  status=N        answer with status N (default 200, or 404 when the file does not exist)
  length=TEXT     send "Content-Length: TEXT" as given ("0", "-5", "abc", ...);
                  length=none sends no Content-Length (default: the size of the body)
  short=N         send only the first N bytes of the body, then close the connection
  drop=N          send only the first N bytes of the body, then reset the connection
  extra=N         send N more bytes after the body
  stall=N         send the first N bytes of the body (N=0: the headers alone), then send
                  nothing more and keep the connection open
  stall=headers   read the request and send nothing at all
  chunked=1       send the body in chunked transfer coding (Content-Length is still sent as
                  set above); with short=N the chunked body holds N bytes and ends properly
  location=URL    send "Location: URL" (with status=302, a redirection)
  echo=1          the body is the request's head (request line and header lines) as received
  delay=MS        wait MS milliseconds after reading the request before answering
  trickle=MS      send the body one byte every MS milliseconds
  group=NAME      count this request among those of NAME in the log (see --log)
  wait=NAME:N     read the request, then hold it until N requests of group NAME have been
                  read in all (this one included when it is of NAME), for at most 60 s; the
                  delay and the answer come after. A test that needs "B was asked while A was
                  held" holds A this way instead of hoping that B comes in time
  etag=TEXT       send "ETag: TEXT"; a request whose If-None-Match is TEXT gets 304
  lastmod=TEXT    send "Last-Modified: TEXT"
  ranges=1        serve "Range: bytes=N-" with 206 and its Content-Range (416 when N is past
                  the end), unless an If-Range names another version than etag (or lastmod)
                  given here: then the whole body with 200
  range=TEXT      with ranges=1, send "Content-Range: TEXT" in a 206 instead of the right one
  hold=N          send the first N bytes of the body, then wait until a file NAME.go exists
                  beside the file, then send the rest

Every answer closes its connection. The server ends by itself after --lifetime seconds, or on
SIGTERM or SIGINT. With --port 0 it takes a free port; --port-file receives the port it took.
--log FILE receives a line "start GROUP ACTIVE" as each request of a group is read, ACTIVE
being how many requests of that group are then read and not yet answered, and a line
"answer GROUP STATUS RANGE" as it is answered (RANGE: the request's Range header, or "-"). --blackhole-file receives the
port of a second listening socket whose backlog is kept full: connection attempts to it are
never answered, as with a host that drops them.
"""

import argparse
import collections
import os
import signal
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse

REASONS = {
    200: "OK", 206: "Partial Content", 301: "Moved Permanently", 302: "Found", 304: "Not Modified",
    400: "Bad Request", 403: "Forbidden", 404: "Not Found", 407: "Proxy Authentication Required",
    416: "Range Not Satisfiable", 500: "Internal Server Error", 503: "Service Unavailable",
}
MAX_HEAD = 64 * 1024
CHUNK = 64 * 1024


class FaultHandler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        sock.settimeout(30)
        try:
            head = self.read_head(sock)
            if head is None:
                return
            self.answer(sock, head)
        except OSError:
            pass  # the client went away

    @staticmethod
    def read_head(sock):
        data = b""
        while b"\r\n\r\n" not in data:
            piece = sock.recv(4096)
            if not piece or len(data) > MAX_HEAD:
                return None
            data += piece
        return data[: data.index(b"\r\n\r\n") + 4]

    def answer(self, sock, head):
        try:
            self.answer_counted(sock, head)
        finally:
            self.server.leave()

    def answer_counted(self, sock, head):
        request_line = head.split(b"\r\n", 1)[0].decode("latin-1")
        parts = request_line.split()
        if len(parts) < 2 or parts[0] not in ("GET", "HEAD"):
            self.send_head(sock, 400, {"Content-Length": "0"})
            return
        target = urllib.parse.urlsplit(parts[1])
        path = self.server.resolve(urllib.parse.unquote(target.path))
        faults = {}
        if path is not None and os.path.isfile(path + ".fault"):
            with open(path + ".fault", encoding="utf-8") as rules:
                faults.update(urllib.parse.parse_qsl(rules.read().strip()))
        faults.update(urllib.parse.parse_qsl(target.query))
        self.server.enter(faults.get("group"))
        if "wait" in faults:
            group, _, count = faults["wait"].rpartition(":")
            self.server.wait_for(group, int(count))
        if "delay" in faults:
            self.server.stopping.wait(int(faults["delay"]) / 1000.0)
        # Counted out before the client can see the answer, and so before it can ask again.
        self.server.leave()

        if faults.get("stall") == "headers":
            self.hold(sock)
            return
        if faults.get("echo") == "1":
            body = head
        elif path is not None and os.path.isfile(path):
            with open(path, "rb") as f:
                body = f.read()
        else:
            body = b""
            faults.setdefault("status", "404")
        status = int(faults.get("status", "200"))

        headers = {"Content-Type": "application/octet-stream"}
        request = self.request_headers(head)
        for fault, name in (("etag", "ETag"), ("lastmod", "Last-Modified")):
            if fault in faults:
                headers[name] = faults[fault]
        version = faults.get("etag", faults.get("lastmod"))
        wanted = request.get("range", "")
        if status == 200 and "etag" in faults and request.get("if-none-match") == faults["etag"]:
            status, body = 304, b""
        elif status == 200 and faults.get("ranges") == "1" and wanted.startswith("bytes="):
            if_range = request.get("if-range")
            start = wanted[len("bytes="):].rstrip("-")
            if (if_range is None or if_range == version) and start.isdigit():
                start = int(start)
                if start >= len(body):
                    headers["Content-Range"] = f"bytes */{len(body)}"
                    status, body = 416, b""
                else:
                    status = 206
                    headers["Content-Range"] = faults.get(
                        "range", f"bytes {start}-{len(body) - 1}/{len(body)}")
                    body = body[start:]
        self.server.note(f"answer {faults.get('group', '-')} {status} {wanted or '-'}")

        length = faults.get("length", str(len(body)))
        if length != "none":
            headers["Content-Length"] = length
        chunked = faults.get("chunked") == "1"
        if chunked:
            headers["Transfer-Encoding"] = "chunked"
        if "location" in faults:
            headers["Location"] = faults["location"]
        if status == 407:
            headers["Proxy-Authenticate"] = 'Basic realm="updates"'
        self.send_head(sock, status, headers)
        if parts[0] == "HEAD":
            return

        if chunked:
            body = body[: int(faults.get("short", len(body)))]
            for offset in range(0, len(body), CHUNK):
                piece = body[offset:offset + CHUNK]
                sock.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
            sock.sendall(b"0\r\n\r\n")
            return
        if "trickle" in faults:
            pause = int(faults["trickle"]) / 1000.0
            for offset in range(len(body)):
                if self.server.stopping.wait(pause):
                    return
                sock.sendall(body[offset:offset + 1])
            return
        if "hold" in faults:
            held = int(faults["hold"])
            sock.sendall(body[:held])
            while not os.path.exists(path + ".go"):
                if self.server.stopping.wait(0.05):
                    return
            body = body[held:]
        for fault in ("short", "drop", "stall"):
            if fault in faults:
                sock.sendall(body[: int(faults[fault])])
                if fault == "drop":
                    # A reset rather than an orderly close.
                    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                elif fault == "stall":
                    self.hold(sock)
                return
        for offset in range(0, len(body), CHUNK):
            sock.sendall(body[offset:offset + CHUNK])
        extra = int(faults.get("extra", "0"))
        if extra > 0:
            sock.sendall(bytes((i * 7 + 3) & 0xFF for i in range(extra)))

    @staticmethod
    def request_headers(head):
        """The request's header fields, names in lower case (the first of repeated ones)."""
        fields = {}
        for line in head.decode("latin-1").split("\r\n")[1:]:
            name, colon, value = line.partition(":")
            if colon:
                fields.setdefault(name.strip().lower(), value.strip())
        return fields

    @staticmethod
    def send_head(sock, status, headers):
        lines = [f"HTTP/1.1 {status} {REASONS.get(status, 'Status')}", "Server: update-server",
                 "Connection: close"]
        lines += [f"{name}: {value}" for name, value in headers.items()]
        sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))

    def hold(self, sock):
        """Sends nothing more until the client closes or the server stops."""
        sock.settimeout(0.5)
        while not self.server.stopping.is_set():
            try:
                if not sock.recv(4096):
                    return
            except socket.timeout:
                continue


class FaultServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, port, docroot, log=None):
        self.docroot = os.path.realpath(docroot)
        self.stopping = threading.Event()
        self.log = log
        self.counting = threading.Condition()
        self.active = collections.Counter()
        self.seen = collections.Counter()
        self.local = threading.local()
        super().__init__(("127.0.0.1", port), FaultHandler)

    def enter(self, group):
        """Counts the calling thread's request in `group` (None: in no group)."""
        self.local.group = group
        if group is None:
            return
        with self.counting:
            self.active[group] += 1
            self.seen[group] += 1
            self.counting.notify_all()
            if self.log:
                with open(self.log, "a", encoding="utf-8") as f:
                    f.write(f"start {group} {self.active[group]}\n")

    def wait_for(self, group, count, limit=60.0):
        """Waits until `count` requests of `group` have been read, the server stops, or `limit`
        seconds pass."""
        deadline = time.monotonic() + limit
        with self.counting:
            while self.seen[group] < count and not self.stopping.is_set():
                left = deadline - time.monotonic()
                if left <= 0:
                    return
                self.counting.wait(min(left, 0.5))
    def note(self, line):
        if self.log:
            with self.counting, open(self.log, "a", encoding="utf-8") as f:
                f.write(line + "\n")

    def leave(self):
        group = getattr(self.local, "group", None)
        self.local.group = None
        if group is None:
            return
        with self.counting:
            self.active[group] -= 1

    def resolve(self, url_path):
        """The file a URL path names, or None for a path that leaves the document root."""
        path = os.path.realpath(os.path.join(self.docroot, url_path.lstrip("/")))
        if path != self.docroot and not path.startswith(self.docroot + os.sep):
            return None
        return path


def write_port(path, port):
    temporary = path + ".new"
    with open(temporary, "w", encoding="ascii") as f:
        f.write(f"{port}\n")
    os.replace(temporary, path)


def make_blackhole():
    """A listening socket whose backlog is full: further connection attempts get no answer."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    fillers = []
    for _ in range(3):
        filler = socket.socket()
        filler.setblocking(False)
        try:
            filler.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        fillers.append(filler)
    return [listener] + fillers


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--docroot", default=".")
    parser.add_argument("--lifetime", type=float, default=600.0,
                        help="seconds after which the server ends by itself")
    parser.add_argument("--log")
    parser.add_argument("--blackhole-file")
    args = parser.parse_args()

    server = FaultServer(args.port, args.docroot, args.log)
    port = server.server_address[1]
    blackhole = None
    if args.blackhole_file:
        blackhole = make_blackhole()
        write_port(args.blackhole_file, blackhole[0].getsockname()[1])
    if args.port_file:
        write_port(args.port_file, port)
    print(f"update_server: http://127.0.0.1:{port}/ serving {server.docroot}", flush=True)

    done = threading.Event()
    for number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(number, lambda *_: done.set())
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    deadline = time.monotonic() + args.lifetime
    while not done.is_set() and time.monotonic() < deadline:
        done.wait(min(1.0, max(0.0, deadline - time.monotonic())))
    server.stopping.set()
    server.shutdown()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
