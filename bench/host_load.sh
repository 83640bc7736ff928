#!/usr/bin/env bash
# The update host under load. nginx on loopback, set up as docs/operators.md lays out the
# update server, serves a site that tarvo-publish made (a version list of five updates and
# their archives). Many starts of the real POSIX launcher (the release build, whose update host
# is this nginx), BATCH at once, first with nothing new for them and then with one new archive
# each, bounded in count and time. It prints the requests and bytes that one start costs the
# host, read from nginx's access log, and the version list requests per second that this nginx
# answers (wrk), in full and revalidated. Prints figures; passes or fails nothing.
#
#   bench/host_load.sh [STARTS (200)] [BATCH (20)] [ARCHIVE_MIB (4)] [SECONDS (120)]
#
# SECONDS bounds each scenario: no batch starts after it. The update host must be on 127.0.0.1
# (the default, 127.0.0.1:8619). As root the script runs in a network namespace of its own, so
# that its port meets nothing else on the machine; otherwise that port must be free.
set -euo pipefail
cd "$(dirname "$0")/.."
starts=${1:-200}
batch=${2:-20}
archive_mib=${3:-4}
seconds=${4:-120}
for n in "$starts" "$batch" "$archive_mib" "$seconds"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "host_load: arguments are positive whole numbers" >&2; exit 2; }
done

if [ -z "${TARVO_HOST_LOAD_NETNS:-}" ] && [ "$(id -u)" -eq 0 ]; then
  exec unshare -n env TARVO_HOST_LOAD_NETNS=1 \
    bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
fi
for tool in nginx wrk curl; do
  command -v "$tool" >/dev/null || { echo "host_load: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

cmake --preset posix-release >/dev/null
cmake --build --preset posix-release -j2 --target tarvo tarvo-publish >/dev/null
host=$(sed -n 's/^TARVO_UPDATE_HOST:STRING=//p' build/posix-release/CMakeCache.txt)
[[ $host =~ ^(127\.0\.0\.1|localhost)(:([0-9]+))?$ ]] ||
  { echo "host_load: the release build's update host is $host, not this machine" >&2; exit 1; }
port=${BASH_REMATCH[3]:-80}

work=$(mktemp -d /var/tmp/tarvo-host-load.XXXXXX)
nginx_pid=""
cleanup() {
  [ -z "$nginx_pid" ] || kill "$nginx_pid" 2>/dev/null || true
  [ -z "$nginx_pid" ] || wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
publish=build/posix-release/tarvo-publish

echo "== the site: five updates published with tarvo-publish, the last one of $archive_mib MiB"
mkdir -p "$work/site/updates" "$work/trees/0/data" "$work/trees/0/Sys"
printf '[VERSION]\r\nFirstVersion=1\r\nSecondVersion=0\r\n' >"$work/trees/0/Sys/Config.ini"
head -c 65536 /dev/urandom >"$work/trees/0/data/base.bin"
for second in 1 2 3 4 5; do
  cp -a "$work/trees/$((second - 1))" "$work/trees/$second"
  size=$((second == 5 ? archive_mib * 1048576 : 65536))
  head -c "$size" /dev/urandom >"$work/trees/$second/data/update-$second.bin"
  "$publish" --site "$work/site" --url "http://$host/updates" --first 1 --second "$second" \
    "$work/trees/$((second - 1))" "$work/trees/$second" >/dev/null
done
latest=0000100000005.zip
ls -l "$work/site/zip.html" "$work/site/updates/$latest" | awk '{print "  " $5 " bytes  " $NF}'

echo "== nginx on 127.0.0.1:$port"
mkdir -p "$work/nginx/tmp"
user=""
[ "$(id -u)" -ne 0 ] || user="user root;"  # workers of another user could not read $work
cat >"$work/nginx/nginx.conf" <<EOF
$user
daemon off;
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 4096; }
http {
  log_format load '\$request_uri \$status \$bytes_sent \$request_length';
  access_log $work/nginx/access.log load;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/nginx/tmp/body;
  proxy_temp_path $work/nginx/tmp/proxy;
  fastcgi_temp_path $work/nginx/tmp/fastcgi;
  uwsgi_temp_path $work/nginx/tmp/uwsgi;
  scgi_temp_path $work/nginx/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/site;
    location = /zip.html {
      default_type text/html;
      add_header Cache-Control "no-cache";
    }
    location /updates/ {
      types { }
      default_type application/zip;
      gzip off;
      add_header Cache-Control "public, max-age=31536000, immutable";
    }
    location / {
      return 404;
    }
  }
}
EOF
# timeout ends nginx by itself should this script be killed before its clean-up.
timeout $((4 * seconds + 300)) nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" \
  -e "$work/nginx/error.log" &
nginx_pid=$!
for _ in $(seq 100); do
  curl -fso /dev/null "http://127.0.0.1:$port/zip.html" && break
  sleep 0.1
done
curl -fso /dev/null "http://127.0.0.1:$port/zip.html" ||
  { cat "$work/nginx/error.log" >&2; echo "host_load: nginx does not answer" >&2; exit 1; }

# One installation per launcher running at once; the client is a program that does nothing.
for slot in $(seq "$batch"); do
  dir="$work/install/$slot"
  mkdir -p "$dir/Sys" "$dir/UpdateZip"
  cp build/posix-release/tarvo "$dir/tarvo"
  cp "$(type -P true)" "$dir/Velmora.exe"
done

# scenario NAME SECOND_VERSION: starts in batches with that SecondVersion recorded; prints one
# line of figures from the access log lines that the scenario added.
scenario() {
  local name=$1 second=$2 done=0 stored=0 before began elapsed slot
  before=$(wc -l <"$work/nginx/access.log")
  began=$(date +%s%N)
  while [ "$done" -lt "$starts" ] &&
    [ $(($(date +%s%N) - began)) -lt $((seconds * 1000000000)) ]; do
    local now=$((starts - done < batch ? starts - done : batch)) launchers=()
    for slot in $(seq "$now"); do
      rm -f "$work/install/$slot/UpdateZip/"*
      printf '[VERSION]\r\nFirstVersion=1\r\nSecondVersion=%d\r\n' "$second" \
        >"$work/install/$slot/Sys/Config.ini"
      (cd "$work/install/$slot" && timeout 120 ./tarvo) &
      launchers+=($!)
    done
    wait "${launchers[@]}"
    for slot in $(seq "$now"); do
      [ ! -f "$work/install/$slot/UpdateZip/$latest" ] || stored=$((stored + 1))
    done
    done=$((done + now))
  done
  elapsed=$(($(date +%s%N) - began))
  tail -n +$((before + 1)) "$work/nginx/access.log" | awk -v name="$name" -v starts="$done" \
    -v stored="$stored" -v ns="$elapsed" '
      { requests++; sent += $3; received += $4; status[$2]++ }
      END {
        codes = ""
        for (s in status) codes = codes " " s ": " status[s]
        printf "%-18s %5d starts in %6.1f s  %5.2f requests/start  %10.0f bytes/start sent" \
               "  %5.0f received  (status%s; %d archives stored)\n",
               name, starts, ns / 1e9, requests / starts, sent / starts, received / starts,
               codes, stored
      }'
}

echo "== launcher starts, $batch at once, at most $starts per scenario and $seconds s"
scenario "nothing new" 5
scenario "one new archive" 4

echo "== wrk: /zip.html for 10 s, 2 threads, 64 connections (wrk and nginx share the cores)"
etag=$(curl -fsI "http://127.0.0.1:$port/zip.html" | tr -d '\r' | sed -n 's/^[Ee][Tt]ag: //p')
full=$(wrk -t2 -c64 -d10s "http://127.0.0.1:$port/zip.html" | awk '/Requests\/sec/ {print $2}')
revalidated=$(wrk -t2 -c64 -d10s -H "If-None-Match: $etag" "http://127.0.0.1:$port/zip.html" |
  awk '/Requests\/sec/ {print $2}')
echo "list in full (200):                 $full requests/s"
echo "list revalidated (304, If-None-Match): $revalidated requests/s"
echo "(machine: $(nproc) cores, shared by nginx, the launchers and wrk)"
