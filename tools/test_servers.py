#!/usr/bin/env python3
"""Starts and stops the HTTP servers that the tests use, on 127.0.0.1 only.

  test_servers.py start --state FILE --docroot DIR [--nginx PORT] [--faults PORT] [--lifetime S]
                        [--paced RATE]
  test_servers.py stop --state FILE

start runs nginx (from the system, as a plain process of the calling user with a generated
configuration) and/or tools/update_server.py, each serving DIR, detached from the caller, and
returns once they answer. PORT 0 takes a free port. The state FILE then holds the lines
"nginx_port=N", "faults_port=N", "blackhole_port=N" (a port whose connection attempts are never
answered) and "docroot=DIR" for the tests to read; FILE.run/faults.log is update_server.py's
log of request groups. With both servers, nginx hands a request for a file that has fault rules
beside it (NAME.fault) to update_server.py. Both servers end by
themselves after S seconds (default 3600) if stop never comes. A previous start with the same
state FILE is stopped first. With --paced, nginx also serves DIR under /paced/ at RATE bytes per
second and connection (nginx's limit_rate, such as "24m"), so that a transfer can be cut part-way.
"""

import argparse
import os
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

NGINX_CONF = """\
daemon off;
master_process off;
worker_processes 1;
pid {run}/nginx.pid;
error_log {run}/error.log warn;
events {{ worker_connections 512; }}
http {{
  log_format requests '$request_uri $status $body_bytes_sent';
  access_log {run}/access.log requests;
  log_format agents '$request_uri $http_user_agent';
  access_log {run}/agents.log agents;
  default_type application/octet-stream;
  sendfile on;
  client_body_temp_path {run}/tmp/body;
  proxy_temp_path {run}/tmp/proxy;
  fastcgi_temp_path {run}/tmp/fastcgi;
  uwsgi_temp_path {run}/tmp/uwsgi;
  scgi_temp_path {run}/tmp/scgi;
  server {{
    listen 127.0.0.1:{port};
    root {docroot};
{faults}{paced}  }}
}}
"""

# With the update server running beside nginx, a page with fault rules beside it (NAME.fault)
# is answered by the update server, so that a client with a fixed address meets the faults.
NGINX_FAULTS = """\
    location / {{
      if (-f $request_filename.fault) {{
        proxy_pass http://127.0.0.1:{faults_port};
      }}
      proxy_buffering off;
      proxy_read_timeout 3600s;
    }}
"""


NGINX_PACED = """\
    location /paced/ {{
      alias {docroot}/;
      limit_rate {rate};
    }}
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def wait_until(condition, process, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        if process.poll() is not None:
            return False
        time.sleep(0.05)
    return False


def spawn(command, log):
    with open(log, "ab") as out:
        return subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                start_new_session=True)


def start_nginx(run, docroot, port, lifetime, faults_port, paced=None):
    for name in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
        os.makedirs(os.path.join(run, "tmp", name), exist_ok=True)
    for _ in range(5):
        chosen = port or free_port()
        conf = os.path.join(run, "nginx.conf")
        with open(conf, "w", encoding="utf-8") as f:
            faults = NGINX_FAULTS.format(faults_port=faults_port) if faults_port else ""
            pacing = NGINX_PACED.format(docroot=docroot, rate=paced) if paced else ""
            f.write(NGINX_CONF.format(run=run, port=chosen, docroot=docroot, faults=faults,
                                      paced=pacing))
        process = spawn(["timeout", str(lifetime), "nginx", "-p", run, "-e",
                         os.path.join(run, "error.log"), "-c", conf],
                        os.path.join(run, "nginx.out"))
        if wait_until(lambda: answers(chosen), process):
            return [process.pid, nginx_pid(run)], chosen
        process.kill()
        process.wait()
        if port:
            break  # a fixed port that is taken stays taken
    raise SystemExit(f"test_servers: nginx did not start; see {run}/error.log")


def nginx_pid(run):
    try:
        with open(os.path.join(run, "nginx.pid"), encoding="ascii") as f:
            return int(f.read())
    except (OSError, ValueError):
        return 0


def start_faults(run, docroot, port, lifetime):
    port_file = os.path.join(run, "faults.port")
    if os.path.exists(port_file):
        os.remove(port_file)
    blackhole_file = os.path.join(run, "blackhole.port")
    process = spawn([sys.executable, os.path.join(HERE, "update_server.py"), "--port", str(port),
                     "--port-file", port_file, "--docroot", docroot,
                     "--log", os.path.join(run, "faults.log"), "--blackhole-file", blackhole_file,
                     "--lifetime", str(lifetime)], os.path.join(run, "faults.out"))
    if not wait_until(lambda: os.path.exists(port_file), process):
        raise SystemExit(f"test_servers: update_server did not start; see {run}/faults.out")
    with open(port_file, encoding="ascii") as f:
        port = int(f.read())
    with open(blackhole_file, encoding="ascii") as f:
        blackhole = int(f.read())
    return [process.pid], port, blackhole


def ours(pid, run):
    """True when `pid` is still a server that this state started (its command names `run`)."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return run.encode() in f.read()
    except OSError:
        return False


def stop(state):
    run = state + ".run"
    pids_file = os.path.join(run, "pids")
    if os.path.exists(pids_file):
        with open(pids_file, encoding="ascii") as f:
            pids = [int(line) for line in f if line.strip() and int(line) > 0]
        for pid in pids:
            if ours(pid, run):
                os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + 5
        while any(ours(pid, run) for pid in pids) and time.monotonic() < deadline:
            time.sleep(0.05)
        for pid in pids:
            if ours(pid, run):
                os.kill(pid, signal.SIGKILL)
        os.remove(pids_file)
    if os.path.exists(state):
        os.remove(state)


def start(args):
    state = os.path.abspath(args.state)
    docroot = os.path.abspath(args.docroot)
    run = state + ".run"
    stop(state)
    os.makedirs(run, exist_ok=True)
    os.makedirs(docroot, exist_ok=True)
    lines, pids = [f"docroot={docroot}"], []
    try:
        faults_port = 0
        if args.faults is not None:
            started, faults_port, blackhole = start_faults(run, docroot, args.faults,
                                                           args.lifetime)
            pids += started
            lines.append(f"faults_port={faults_port}")
            lines.append(f"blackhole_port={blackhole}")
        if args.nginx is not None:
            started, port = start_nginx(run, docroot, args.nginx, args.lifetime, faults_port,
                                        args.paced)
            pids += started
            lines.append(f"nginx_port={port}")
    finally:
        with open(os.path.join(run, "pids"), "w", encoding="ascii") as f:
            f.writelines(f"{pid}\n" for pid in pids)
    with open(state + ".new", "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(state + ".new", state)
    print(f"test_servers: {', '.join(lines)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    starting = commands.add_parser("start")
    starting.add_argument("--state", required=True)
    starting.add_argument("--docroot", required=True)
    starting.add_argument("--nginx", type=int)
    starting.add_argument("--faults", type=int)
    starting.add_argument("--lifetime", type=int, default=3600)
    starting.add_argument("--paced")
    stopping = commands.add_parser("stop")
    stopping.add_argument("--state", required=True)
    args = parser.parse_args()
    if args.command == "start":
        start(args)
    else:
        stop(os.path.abspath(args.state))
    return 0


if __name__ == "__main__":
    sys.exit(main())
