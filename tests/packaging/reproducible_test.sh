#!/usr/bin/env bash
# Builds Tarvo.exe once more, from a copy of the sources in another folder, into another build
# folder, in another time zone, and checks that it is the same file as EXE, byte for byte.
#
#   reproducible_test.sh SOURCE_DIR EXE [CMAKE_OPTION...]
#
# CMAKE_OPTIONs are those of the build that made EXE (build type, update host, public key,
# where the MinGW libraries are); the toolchain is the copy's own.
set -euo pipefail
usage="usage: reproducible_test.sh SOURCE_DIR EXE [CMAKE_OPTION...]"
source=$(cd "${1:?$usage}" && pwd)
exe=${2:?$usage}
shift 2
[ -f "$exe" ] || { echo "reproducible_test: no such file: $exe" >&2; exit 1; }

work=$(mktemp -d /var/tmp/tarvo-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
copy="$work/elsewhere/sources"
mkdir -p "$copy"
tar -C "$source" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$copy" -xf -

start=$(date +%s)
TZ=Pacific/Chatham cmake -S "$copy" -B "$work/another/build/folder" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/mingw-i686.cmake" -DTARVO_TESTS=OFF "$@" >"$work/log" 2>&1 &&
  TZ=Pacific/Chatham cmake --build "$work/another/build/folder" -j2 --target tarvo \
    >>"$work/log" 2>&1 || { cat "$work/log"; echo "FAILED: the second build"; exit 1; }
again="$work/another/build/folder/Tarvo.exe"
echo "second build: $(($(date +%s) - start)) s"

sha256sum "$exe" "$again"
if ! cmp -s "$exe" "$again"; then
  echo "FAILED: the two builds differ (offset, then the bytes in octal):"
  cmp -l "$exe" "$again" | sed -n 1,20p
  exit 1
fi
echo "the two builds are the same file"
