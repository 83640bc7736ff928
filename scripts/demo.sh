#!/usr/bin/env bash
# Tarvo's main job, step by step: a sample installation recorded at 1/2 is brought up to date
# from a local update server that offers 1.3 and 1.4, in two or three starts of the launcher.
# Every step is checked; the script exits non-zero when something is not as it should be.
#
#   scripts/demo.sh [--build DIR] [--site DIR]
#
#   --build DIR  take tarvo, stub/Velmora and tarvo-publish from the POSIX build in DIR;
#                skips the set-up and the build of posix-release
#   --site DIR   publish into DIR, the document root of a server that already answers at the
#                build's update host (a test fixture, say), instead of starting nginx there
#
# Everything it makes lives in a temporary folder, removed at the end, also when interrupted;
# with --site, what it added to DIR is removed and a zip.html that was there is put back.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; }

build=""
site=""
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=${2:?--build needs a folder}; shift 2 ;;
    --site) site=${2:?--site needs a folder}; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
if [ -n "$build" ]; then build=$(cd "$build" && pwd) || exit 2; fi
if [ -n "$site" ]; then site=$(cd "$site" && pwd) || exit 2; fi
cd "$root"

# ------------------------------------------------------------------------------------------
# Output and failures

steps=0
heading() {
  steps=$((steps + 1))
  printf '\n== %d. %s\n' "$steps" "$*"
}
say() { printf '%s\n' "$*"; }
indent() { sed 's/^/    /'; }
fail() {
  printf '\ndemo: FAILED: %s\n' "$*" >&2
  exit 1
}
# Runs a command whose output is noise unless it fails; then the end of the log is shown.
quietly() {
  if ! "$@" >>"$log" 2>&1; then
    printf '\ndemo: this failed: %s\n--- last lines of %s\n' "$*" "$log" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
}

# ------------------------------------------------------------------------------------------
# Clean-up: the temporary folder, the nginx this script started, what it published into --site

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-demo.XXXXXX")
# The site lives in here, and a web server's workers may run as another user.
chmod 755 "$work"
log=$work/demo.log
server_state=""
published=""
saved_page=""
cleanup() {
  # A second interrupt must not cut the clean-up short.
  trap '' INT TERM
  set +e
  if [ -n "$server_state" ]; then
    python3 "$root/tools/test_servers.py" stop --state "$server_state" >/dev/null 2>&1
  fi
  if [ -n "$published" ]; then
    rm -rf "$published"
    rm -f "$site/zip.html"
  fi
  if [ -n "$saved_page" ] && [ -f "$saved_page" ]; then
    mv "$saved_page" "$site/zip.html"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ------------------------------------------------------------------------------------------
# Set-up and build

if [ -z "$build" ]; then
  heading "Set-up and build (posix-release)"
  build=$root/build/posix-release
  mkdir -p "$root/build"
  log=$root/build/demo.log
  : >"$log"
  say "Output of both goes to $log."
  if [ "$(id -u)" -ne 0 ] && ! sudo -n true 2>/dev/null; then
    say "Not root: the set-up can check what is installed but cannot install what is missing."
  fi
  if ! bash scripts/setup.sh >>"$log" 2>&1; then
    if [ "$(id -u)" -eq 0 ]; then
      printf 'demo: the set-up failed\n--- last lines of %s\n' "$log" >&2
      tail -n 40 "$log" >&2
      exit 1
    fi
    say "The set-up could not install what is missing without root (see $log):"
    say "run 'sudo scripts/setup.sh' once. Building with what is installed."
  fi
  quietly cmake --preset posix-release
  quietly cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
    --target tarvo velmora_stub tarvo-publish
  say "Built tarvo, the stub client and tarvo-publish in $build."
fi
launcher=$build/tarvo
client=$build/stub/Velmora
publish=$build/tarvo-publish
for program in "$launcher" "$client" "$publish"; do
  [ -x "$program" ] || fail "$program is missing: build the targets tarvo, velmora_stub and tarvo-publish"
done

# The launcher asks the host built into it; the demo serves that host, so it must be this machine.
host=$(sed -n 's/^TARVO_UPDATE_HOST:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
if [[ ! $host =~ ^(127\.0\.0\.1|localhost)(:([0-9]+))?$ ]]; then
  fail "the build's update host is '$host', not this machine: configure it with -DTARVO_UPDATE_HOST=127.0.0.1:8619"
fi
port=${BASH_REMATCH[3]:-80}
answers() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }

# ------------------------------------------------------------------------------------------
# The update server

heading "The update server at http://$host/"
if [ -n "$site" ]; then
  answers || fail "nothing answers at $host to serve $site"
  # The page is the site's one version list: the one there steps aside until the demo ends.
  if [ -f "$site/zip.html" ]; then
    saved_page=$work/zip.html.saved
    mv "$site/zip.html" "$saved_page"
  fi
  published=$site/demo-$$
  url_path=demo-$$/updates
  say "SITE is $site, served by the server already running there."
else
  if answers; then
    fail "something already answers at $host (a test run?). Wait for it to end, or pass --site with that server's document root."
  fi
  site=$work/site
  url_path=updates
  server_state=$work/server.env
  quietly python3 "$root/tools/test_servers.py" start --state "$server_state" \
    --docroot "$site" --nginx "$port" --lifetime 900
  say "SITE is $site, served by nginx, which is stopped when the demo ends."
fi
base_url=http://$host/$url_path
mkdir -p "$site/$url_path"

# ------------------------------------------------------------------------------------------
# Releases and the player's installation

releases=$work/releases
install=$work/install

release_1_2() {
  local tree=$releases/1.2
  mkdir -p "$tree/Sys" "$tree/data/maps"
  cp "$launcher" "$tree/tarvo"
  cp "$client" "$tree/Velmora.exe"
  printf '[VERSION]\r\nFirstVersion=1\r\nSecondVersion=2\r\n[Sound]\r\nVolume=7\r\n' \
    >"$tree/Sys/Config.ini"
  printf 'Velmora 1.2\n' >"$tree/data/readme.txt"
  printf 'sword=10\nbow=8\n' >"$tree/data/balance.ini"
  printf 'harbour: docks, market\n' >"$tree/data/maps/harbour.map"
  printf 'forest: clearing, old oak\n' >"$tree/data/maps/forest.map"
}
release_1_3() {
  local tree=$releases/1.3
  cp -a "$releases/1.2" "$tree"
  printf 'Velmora 1.3\n' >"$tree/data/readme.txt"
  printf 'harbour: docks, market, lighthouse\n' >"$tree/data/maps/harbour.map"
  mkdir -p "$tree/data/maps/islands"
  printf 'north island: cliffs\n' >"$tree/data/maps/islands/north.map"
}
release_1_4() {
  local tree=$releases/1.4
  cp -a "$releases/1.3" "$tree"
  printf 'Velmora 1.4\n' >"$tree/data/readme.txt"
  printf 'sword=9\nbow=9\n' >"$tree/data/balance.ini"
  printf 'south island: reef\n' >"$tree/data/maps/islands/south.map"
  mkdir -p "$tree/data/music"
  head -c 200000 /dev/urandom >"$tree/data/music/theme.ogg"
}

# "path checksum" per file under $1, sorted; the launcher's own traces (client.log, UpdateZip)
# and any path given in $2 left out.
listing() {
  local dir=$1 skip=${2:-} path
  (cd "$dir" && find . -path ./UpdateZip -prune -o -type f ! -name 'client.log*' -printf '%P\n') |
    LC_ALL=C sort | while read -r path; do
      [ "$path" = "$skip" ] && continue
      printf '%s %s\n' "$path" "$(md5sum <"$dir/$path" | cut -c1-32)"
    done
}
# What differs between two listings, one line per file.
changes() {
  LC_ALL=C join -a 1 -a 2 -e - -o 0,1.2,2.2 "$1" "$2" | awk '
    $2 == "-" { print "added    " $1; next }
    $3 == "-" { print "removed  " $1; next }
    $2 != $3  { print "changed  " $1 }'
}
recorded() {
  awk -F= -v key="$1" '
    /^\[/ { section = ($0 ~ /^\[VERSION\][\r]?$/) }
    section && $1 == key { sub(/\r$/, "", $2); print $2; exit }' "$install/Sys/Config.ini"
}

heading "The releases and a player's installation at 1.2"
release_1_2
release_1_3
release_1_4
cp -a "$releases/1.2" "$install"
mkdir "$install/UpdateZip"
install=$(cd "$install" && pwd -P)
say "Releases 1.2 (shipped), 1.3 and 1.4 in $releases; what 1.3 and 1.4 change:"
listing "$releases/1.2" >"$work/1.2.list"
for version in 1.3 1.4; do
  listing "$releases/$version" >"$work/$version.list"
  say "  $version:"
  changes "$work/1.2.list" "$work/$version.list" | indent
done
say "The player's installation, $install:"
find "$install" -mindepth 1 -printf '%P\t%y\n' | LC_ALL=C sort |
  sed -e 's/\td$/\//' -e 's/\t.$//' | indent
say "Sys/Config.ini:"
tr -d '\r' <"$install/Sys/Config.ini" | indent
say "Velmora.exe is a stand-in client that records each start in client.log beside it."

# ------------------------------------------------------------------------------------------
# Publishing

heading "Publishing 1.3 and 1.4 with tarvo-publish"
say "Each is compared with 1.2, the oldest installation players may have, so each archive holds"
say "every change since 1.2 (cumulative archives, as docs/operators.md recommends): a player who"
say "receives only one of them still ends with the right files."
for second in 3 4; do
  say ""
  say "\$ tarvo-publish --site SITE --url $base_url --first 1 --second $second 1.2 1.$second"
  "$publish" --site "$site" --url "$base_url" --first 1 --second "$second" \
    "$releases/1.2" "$releases/1.$second" >"$work/publish.out" 2>&1 ||
    { indent <"$work/publish.out"; fail "tarvo-publish refused 1.$second"; }
  sed "s|$site|SITE|g" "$work/publish.out" | indent
done
archive() { printf '%s/%s/00001%08d.zip' "$site" "$url_path" "$1"; }
for second in 3 4; do
  say "$(basename "$(archive "$second")") holds:"
  unzip -Z1 "$(archive "$second")" | indent
done
say ""
say "\$ tarvo-publish --check SITE"
"$publish" --check "$site" 2>&1 | sed "s|$site|SITE|g" | indent || fail "tarvo-publish --check found problems"

heading "The version list, as the launcher fetches it"
say "GET http://$host/zip.html"
page=$(curl -sf "http://$host/zip.html") || fail "the server does not serve zip.html"
printf '%s\n' "$page" | indent
[ "$page" = "$(cat "$site/zip.html")" ] || fail "the server answers another zip.html than the one published"

# ------------------------------------------------------------------------------------------
# Starting the launcher

# Waits for the client's Nth record and checks it: started with /Show, in the installation.
check_client() {
  local starts=$1 count
  for _ in $(seq 200); do
    count=$(grep -c '^start' "$install/client.log" 2>/dev/null || true)
    [ "${count:-0}" -ge "$starts" ] && break
    sleep 0.1
  done
  [ -f "$install/client.log" ] || fail "the client was not started"
  say "client.log:"
  indent <"$install/client.log"
  [ "$(grep -c '^start' "$install/client.log")" -eq "$starts" ] ||
    fail "the client should have been started $starts time(s)"
  [ "$(grep '^start' "$install/client.log" | tail -n 1)" = "start [/Show]" ] ||
    fail "the client was not started with /Show alone"
  [ "$(grep '^cwd ' "$install/client.log" | tail -n 1)" = "cwd $install" ] ||
    fail "the client was not started in the installation folder"
}
start_launcher() {
  local number=$1 status=0
  listing "$install" >"$work/before$number.list"
  say "\$ cd $install && ./tarvo"
  (cd "$install" && ./tarvo) || status=$?
  say "Tarvo ended with status $status."
  [ "$status" -eq 0 ] || fail "Tarvo ended with status $status"
  check_client "$number"
  say "UpdateZip/:"
  if [ -z "$(ls -A "$install/UpdateZip")" ]; then
    say "    (empty)"
  else
    find "$install/UpdateZip" -mindepth 1 -printf '%f  %s bytes\n' | LC_ALL=C sort | indent
  fi
  if [ -n "$(find "$install/UpdateZip" -name '*.kept')" ]; then
    say "(A .kept file holds the bytes of a transfer cut off by Tarvo's end, and .kept-info the"
    say "version the server named for them: never installed, they are continued by the next start"
    say "that fetches that archive, and deleted once it is no longer newer.)"
  fi
  if [ -f "$install/UpdateZip/planned-updates.txt" ] && [ "$number" -eq 1 ]; then
    say "(planned-updates.txt keeps the versions that the list offered: an archive that arrives"
    say "before an older one still listed waits for it, so updates install in the list's order.)"
  fi
  say "Files that changed in the installation:"
  listing "$install" >"$work/after$number.list"
  changes "$work/before$number.list" "$work/after$number.list" >"$work/changes$number"
  if [ -s "$work/changes$number" ]; then indent <"$work/changes$number"; else say "    none"; fi
  say "Recorded versions: FirstVersion=$(recorded FirstVersion), SecondVersion=$(recorded SecondVersion)"
}
# The installation holds release $1's files; Sys/Config.ini records 1/$2 and keeps its other
# settings.
check_installation() {
  listing "$install" Sys/Config.ini >"$work/installed.list"
  listing "$releases/$1" Sys/Config.ini >"$work/release.list"
  if ! cmp -s "$work/installed.list" "$work/release.list"; then
    changes "$work/release.list" "$work/installed.list" | indent >&2
    fail "the installation's files are not those of release $1"
  fi
  if [ "$(recorded FirstVersion)" != 1 ] || [ "$(recorded SecondVersion)" != "$2" ]; then
    fail "the recorded versions should be 1/$2"
  fi
  grep -q '^Volume=7' "$install/Sys/Config.ini" || fail "Sys/Config.ini lost its other settings"
}
# UpdateZip holds exactly the archives of the versions given, each as published (beside the
# kept bytes of transfers cut off).
check_pending() {
  local expected="" second name
  for second in "$@"; do
    name=$(basename "$(archive "$second")")
    expected+="$name"$'\n'
    cmp -s "$install/UpdateZip/$name" "$(archive "$second")" ||
      fail "UpdateZip/$name is not the published archive"
  done
  [ "$(find "$install/UpdateZip" -mindepth 1 ! -name '*.kept' ! -name '*.kept-info' \
    ! -name planned-updates.txt -printf '%f\n' | LC_ALL=C sort)" = \
    "${expected%$'\n'}" ] ||
    fail "UpdateZip should hold exactly: ${expected//$'\n'/ }"
}

heading "First start of Tarvo"
start_launcher 1
check_installation 1.2 2
stored=()
for second in 3 4; do
  [ -f "$install/UpdateZip/$(basename "$(archive "$second")")" ] && stored+=("$second")
done
[ "${#stored[@]}" -gt 0 ] || fail "no archive was stored"
check_pending "${stored[@]}"
newest=${stored[-1]}
say ""
say "1/2 was recorded and both 1.3 and 1.4 are newer: Tarvo started both downloads at once,"
say "started the client and ended when the first download had ended; a transfer cut off by that"
say "end stores no archive, but keeps its bytes for the next start. Nothing is installed yet: the"
say "client runs from these very files."

heading "Second start of Tarvo"
start_launcher 2
if [ "${stored[*]}" = 4 ]; then
  # 1.4 arrived first: it waits for 1.3, which the list still offers.
  check_installation 1.2 2
  check_pending 3 4
  say ""
  say "1.4 arrived before 1.3, which the list still offers: Tarvo installs updates in the list's"
  say "order, so 1.4 waited, and this start fetched 1.3. The next start installs both."
  heading "Third start of Tarvo"
  start_launcher 3
  check_installation 1.4 4
  check_pending
  say "data/readme.txt now reads: $(cat "$install/data/readme.txt")"
  say ""
  say "1.3, then 1.4, installed in the list's order; 1/4 is recorded and nothing newer is listed."
  printf '\n== Done: every step did what it should.\n'
  exit 0
fi
check_installation "1.$newest" "$newest"
say "data/readme.txt now reads: $(cat "$install/data/readme.txt")"
say ""
say "Tarvo installs at start-up, before it starts the client, what the previous start stored,"
if [ "$newest" -eq 3 ]; then
  check_pending 4
  say "in version order, so this start installed 1.3 and recorded 1/3. 1.4 is newer than that, so"
  say "this start fetched it, and a third start would install it (1.4 alone brings every change)."
else
  check_pending
  say "in version order: 1.3, then 1.4, which holds every change since 1.2. 1/4 is recorded and"
  say "nothing newer is listed: a third start fetches nothing."
fi

printf '\n== Done: every step did what it should.\n'
