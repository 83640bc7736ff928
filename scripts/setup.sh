#!/usr/bin/env bash
# Installs everything Tarvo's builds and tests need on a Debian machine, as root:
# the native toolchain and libraries, nginx, Info-ZIP, strace (for a test of the flushing),
# bsdtar (for the installation benchmark), zstd and xdelta3 (for the patch benchmark), help2man,
# man-db and lintian (tarvo-publish's manual page and package), wrk (the update host's load
# benchmark), MinGW-w64 for i686, Wine with its 32-bit part, osslsigncode, and static MinGW
# builds of zlib, minizip, GoogleTest, libsodium and zstd under $TARVO_DEPS. On a kernel that
# runs no 32-bit programs itself (Wine's loader is one), it registers qemu-i386 for them
# (scripts/i386_programs.sh).
# Safe to run again; when everything is present it only checks and returns.
set -euo pipefail

TARVO_DEPS=${TARVO_DEPS:-/opt/tarvo-deps}
MINGW_PREFIX="$TARVO_DEPS/i686-w64-mingw32"
SRC_DIR="$TARVO_DEPS/src"

say() { printf 'setup: %s\n' "$*"; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    say "not root, and no sudo: cannot run '$*'; run this script as root" >&2
    exit 1
  fi
}

NATIVE_PACKAGES=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  clang libclang-rt-14-dev clang-format
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev zlib1g-dev libminizip-dev libsodium-dev libzstd-dev
  nginx-light python3 python3-cryptography zip unzip curl procps file time locales strace
  gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 wine32:i386
  dpkg-dev autoconf automake libtool
  osslsigncode openssl
  libarchive-tools stress-ng zstd xdelta3
  help2man man-db lintian wrk
)

# Each group of MinGW libraries has its own marker, written once the group is installed, so
# that a prefix made before a group was added gets that group alone.
MINGW_MARKERS=("$MINGW_PREFIX/.complete" "$MINGW_PREFIX/.complete-libsodium"
               "$MINGW_PREFIX/.complete-zstd")

mingw_deps_missing() {
  local m
  for m in "${MINGW_MARKERS[@]}"; do
    [ -f "$m" ] || return 0
  done
  return 1
}

missing_packages() {
  local p
  for p in "${NATIVE_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed' || echo "$p"
  done
}

# Source entries mirror the binary ones the machine already uses, so no host is named here.
add_source_entries() {
  local dir=/etc/apt/sources.list.d
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list "$dir" 2>/dev/null; then
    return
  fi
  local f out="$dir/tarvo-deb-src.sources" tmp
  tmp=$(mktemp)
  for f in "$dir"/*.sources; do
    [ -f "$f" ] || continue
    sed -e 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' "$f" >>"$tmp"
    printf '\n' >>"$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' >"$dir/tarvo-deb-src.list" || true
  fi
  # Readable by all: a later run without root reads it to tell whether it is there.
  if [ -s "$tmp" ]; then as_root install -m 644 "$tmp" "$out"; fi
  rm -f "$tmp"
}

# An installation cut off part-way (a set-up killed, a machine stopped) leaves dpkg "interrupted",
# and every later apt-get install fails until it is finished: a package unpacked in part is
# installed again, or removed when it cannot be, and the rest are configured.
repair_packages() {
  if [ -z "$(ls -A /var/lib/dpkg/updates 2>/dev/null)" ] && [ -z "$(dpkg --audit 2>/dev/null)" ]; then
    return 0
  fi
  say "finishing a package installation that was cut off"
  local p
  as_root env DEBIAN_FRONTEND=noninteractive dpkg --configure -a >/dev/null || true
  for p in $(dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' 2>/dev/null |
             awk '/ (reinstreq|half-installed)/ { print $1 }'); do
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall \
        --no-install-recommends "$p" >/dev/null 2>&1 ||
      as_root dpkg --remove --force-remove-reinstreq "$p" >/dev/null 2>&1 || true
  done
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -f -y -qq >/dev/null || true
}

install_packages() {
  local missing
  repair_packages
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    NEED_UPDATE=1
  fi
  missing=$(missing_packages)
  # Source packages are fetched only to build the MinGW dependencies.
  if mingw_deps_missing; then add_source_entries; fi
  local incomplete=""
  if [ -n "$missing" ] || [ -n "${NEED_UPDATE:-}" ] || mingw_deps_missing; then
    say "updating package lists"
    # A mirror caught mid-sync fails one index; the packages may still be found in the others.
    if ! as_root apt-get update -qq; then
      say "some package lists could not be updated; going on"
      incomplete=1
    fi
  fi
  missing=$(missing_packages)
  [ -n "$missing" ] || return 0
  say "installing: $(echo $missing)"
  if as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      $missing; then
    return 0
  fi
  [ -n "$incomplete" ] || exit 1
  # Without the i386 index of the security suite, an i386 library cannot follow its amd64 twin
  # to the security suite's version, and the two must be the same. Taken from the main suites
  # alone, both architectures get one version (the suites were brought up to date by the last
  # point release).
  say "retrying with the security suite set aside, as one of its indexes is missing"
  local pin=/etc/apt/preferences.d/tarvo-setup-without-security
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$WORK_PIN"
  as_root install -m 644 "$WORK_PIN" "$pin"
  local status=0
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    $missing || status=$?
  as_root rm -f "$pin"
  return "$status"
}

# Fetches a Debian source package once and prints the directory it unpacked into.
fetch_source() {
  local pkg=$1 dir
  dir=$(find "$SRC_DIR" -maxdepth 1 -type d -name "$pkg-*" 2>/dev/null | head -n 1)
  if [ -z "$dir" ]; then
    mkdir -p "$SRC_DIR"
    # Newest first; a version whose files the mirror no longer serves is skipped.
    local v
    for v in $(apt-cache showsrc "$pkg" | awk '/^Version:/ {print $2}' | sort -Vru); do
      if (cd "$SRC_DIR" && apt-get source -qq --download-only "$pkg=$v" >/dev/null 2>&1); then
        break
      fi
    done
    (cd "$SRC_DIR" && dpkg-source -x --no-check "$(ls "$pkg"_*.dsc | head -n 1)" >/dev/null)
    dir=$(find "$SRC_DIR" -maxdepth 1 -type d -name "$pkg-*" | head -n 1)
  fi
  [ -n "$dir" ] || { echo "setup: could not fetch the source of $pkg" >&2; exit 1; }
  echo "$dir"
}

build_mingw_deps() {
  [ -f "$MINGW_PREFIX/.complete" ] && return
  local cc=i686-w64-mingw32-gcc-posix ar=i686-w64-mingw32-ar work
  mkdir -p "$MINGW_PREFIX/include" "$MINGW_PREFIX/lib"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN

  say "building zlib for i686-w64-mingw32"
  local zsrc
  zsrc=$(fetch_source zlib)
  local zfiles=(adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast
                inflate inftrees trees uncompr zutil)
  mkdir -p "$work/zlib"
  for f in "${zfiles[@]}"; do
    $cc -O2 -c "$zsrc/$f.c" -I"$zsrc" -o "$work/zlib/$f.o"
  done
  $ar rcs "$MINGW_PREFIX/lib/libz.a" "$work"/zlib/*.o
  cp "$zsrc/zlib.h" "$zsrc/zconf.h" "$MINGW_PREFIX/include/"

  say "building minizip for i686-w64-mingw32"
  local msrc mdir
  msrc=$(fetch_source minizip)
  mdir=$(dirname "$(find "$msrc" -name unzip.c -path '*minizip*' | head -n 1)")
  [ -f "$mdir/unzip.c" ] || mdir=$(dirname "$(find "$msrc" -name unzip.c | head -n 1)")
  mkdir -p "$work/minizip" "$MINGW_PREFIX/include/minizip"
  for f in unzip zip ioapi iowin32; do
    $cc -O2 -c "$mdir/$f.c" -I"$MINGW_PREFIX/include" -I"$mdir" -o "$work/minizip/$f.o"
  done
  $ar rcs "$MINGW_PREFIX/lib/libminizip.a" "$work"/minizip/*.o
  cp "$mdir"/{unzip,zip,ioapi,iowin32,crypt}.h "$MINGW_PREFIX/include/minizip/" 2>/dev/null || \
    cp "$mdir"/{unzip,zip,ioapi,iowin32}.h "$MINGW_PREFIX/include/minizip/"

  say "building GoogleTest for i686-w64-mingw32"
  cmake -S /usr/src/googletest -B "$work/gtest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$(cd "$(dirname "$0")/.." && pwd)/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$MINGW_PREFIX" \
    -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$work/gtest" >/dev/null
  cmake --install "$work/gtest" >/dev/null

  touch "$MINGW_PREFIX/.complete"
}

build_mingw_libsodium() {
  [ -f "$MINGW_PREFIX/.complete-libsodium" ] && return
  local work src
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN

  say "building libsodium for i686-w64-mingw32"
  src=$(fetch_source libsodium)
  # Built in a copy: autogen.sh and configure write into the source tree. Its output is shown
  # only when a step fails.
  cp -a "$src" "$work/libsodium"
  if ! (cd "$work/libsodium" &&
        ./autogen.sh -s &&
        ./configure --host=i686-w64-mingw32 --disable-shared --prefix="$MINGW_PREFIX" \
          CC=i686-w64-mingw32-gcc-posix &&
        make -j"$(nproc)" &&
        make install) >"$work/build.log" 2>&1; then
    tail -n 40 "$work/build.log" >&2
    rm -rf "$work"
    say "building libsodium failed" >&2
    exit 1
  fi
  # Users compile with SODIUM_STATIC and link libsodium.a; the libtool archive would only
  # point a libtool link at it.
  rm -f "$MINGW_PREFIX/lib/libsodium.la"
  touch "$MINGW_PREFIX/.complete-libsodium"
}

build_mingw_zstd() {
  [ -f "$MINGW_PREFIX/.complete-zstd" ] && return
  local work src
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN

  say "building zstd for i686-w64-mingw32"
  src=$(fetch_source libzstd)
  # The library alone, single-threaded (the launcher only decodes), without the decoders of
  # formats older than zstd 0.8 and without assembly (written for x86-64 only). Built in a
  # copy, its output shown only when it fails.
  cp -a "$src/lib" "$work/lib"
  if ! make -C "$work/lib" -j"$(nproc)" libzstd.a-nomt \
        CC=i686-w64-mingw32-gcc-posix AR=i686-w64-mingw32-ar \
        ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_ASM=1 >"$work/build.log" 2>&1; then
    tail -n 40 "$work/build.log" >&2
    say "building zstd failed" >&2
    exit 1
  fi
  install -m 644 "$work/lib/libzstd.a" "$MINGW_PREFIX/lib/"
  install -m 644 "$work/lib/zstd.h" "$work/lib/zstd_errors.h" "$work/lib/zdict.h" \
    "$MINGW_PREFIX/include/"
  touch "$MINGW_PREFIX/.complete-zstd"
}

WORK_PIN=$(mktemp)
trap 'rm -f "$WORK_PIN"' EXIT
install_packages
# After the packages: wine32 brings the i386 C library that the check runs.
. "$(dirname "$0")/i386_programs.sh"
if i386_check >/dev/null; then
  :
elif [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null; then
  sudo bash "$(dirname "$0")/i386_programs.sh" enable
else
  i386_enable
fi
build_mingw_deps
build_mingw_libsodium
build_mingw_zstd
say "ready (MinGW dependencies in $MINGW_PREFIX)"
