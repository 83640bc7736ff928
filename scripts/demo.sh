#!/usr/bin/env bash
# Tarvo's main job, shown step by step: builds the launcher, makes a sample installation in a
# temporary folder with a stand-in client, runs the launcher there and shows what it did.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh >/dev/null
cmake --preset posix-release >/dev/null
cmake --build --preset posix-release --target tarvo velmora_stub >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

step() { printf '\n== %s\n' "$*"; }

step "A sample installation in $work/install"
mkdir -p "$work/install/Sys"
cp build/posix-release/tarvo "$work/install/tarvo"
cp build/posix-release/stub/Velmora "$work/install/Velmora.exe"
printf '[VERSION]\nFirstVersion=1\nSecondVersion=2\n' >"$work/install/Sys/Config.ini"
(cd "$work/install" && ls -l)

step "Starting Tarvo"
status=0
"$work/install/tarvo" || status=$?
echo "Tarvo ended with status $status"

step "The client's start, as the client recorded it"
for _ in $(seq 50); do [ -f "$work/install/client.log" ] && break; sleep 0.1; done
cat "$work/install/client.log"
cd "$root"
