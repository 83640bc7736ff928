#!/usr/bin/env bash
# Makes a release of the committed sources in dist/tarvo-VERSION/:
#
#   Tarvo.exe                          the launcher for players, stripped (and signed with
#                                      Authenticode when --pkcs12 is given)
#   tarvo-publish_VERSION_ARCH.deb     tarvo-publish for operators' Debian machines
#   operators.md                       the operator guide
#   SHA256SUMS                         the SHA-256 of each of them (sha256sum -c SHA256SUMS)
#
#   scripts/release.sh --update-host HOST [--public-key KEY]
#                      [--pkcs12 FILE [--password-file FILE] [--timestamp URL]]
#                      [--allow-uncommitted]
#
#   --update-host HOST    the update server players' launchers ask (TARVO_UPDATE_HOST)
#   --public-key KEY      the public key updates must be signed with (TARVO_PUBLIC_KEY)
#   --pkcs12 FILE         sign Tarvo.exe with this code-signing certificate and key; the
#                         password comes from --password-file FILE or from the environment
#                         variable TARVO_AUTHENTICODE_PASSWORD (see scripts/authenticode.sh)
#   --timestamp URL       the RFC 3161 time-stamping server for that signature
#   --allow-uncommitted   release a tree with uncommitted changes (not for players)
#
# The same commit and options give the same Tarvo.exe wherever and whenever it is built; a
# signed one gives it back with `osslsigncode remove-signature`. Builds go to build/release/;
# an earlier dist/tarvo-VERSION/ is replaced only once the new one is complete.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; }
fail() { printf 'release: %s\n' "$*" >&2; exit 1; }
# Runs a command whose output goes to the log $1, saying every few seconds how far a build in
# it has come; shows the end of the log when it fails, with the message $2.
progress() {
  local log=$1 message=$2
  shift 2
  if ! "$@" 2>&1 | tee -a "$log" | {
    last=$SECONDS
    while IFS= read -r line; do
      if [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]] && ((SECONDS - last >= 5)); then
        printf '   %s of %s build steps\n' "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
        last=$SECONDS
      fi
    done
  }; then
    tail -n 40 "$log" >&2
    fail "$message (the whole output: $log)"
  fi
}

host=""
public_key=""
pkcs12=""
password_file=""
timestamp=""
allow_uncommitted=""
while [ $# -gt 0 ]; do
  case $1 in
    --update-host) host=${2?--update-host needs a host}; shift 2 ;;
    --public-key) public_key=${2?--public-key needs a key}; shift 2 ;;
    --pkcs12) pkcs12=${2?--pkcs12 needs a file}; shift 2 ;;
    --password-file) password_file=${2?--password-file needs a file}; shift 2 ;;
    --timestamp) timestamp=${2?--timestamp needs a URL}; shift 2 ;;
    --allow-uncommitted) allow_uncommitted=1; shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
[ -n "$host" ] || fail "give the update host players' launchers ask: --update-host HOST"
if [ -z "$pkcs12" ] && { [ -n "$password_file" ] || [ -n "$timestamp" ]; }; then
  fail "--password-file and --timestamp go with --pkcs12"
fi
if [ -n "$pkcs12" ]; then
  # Checked before anything is built: a missing password is found out in seconds.
  [ -r "$pkcs12" ] || fail "cannot read the PKCS#12 file $pkcs12"
  if [ -n "$password_file" ]; then
    [ -r "$password_file" ] || fail "cannot read the password file $password_file"
  elif [ -z "${TARVO_AUTHENTICODE_PASSWORD+set}" ]; then
    fail "no password: give --password-file or set TARVO_AUTHENTICODE_PASSWORD"
  fi
fi

version=$(sed -n 's/^project(Tarvo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
changelog_top=$(head -n 1 packaging/debian/changelog)
[[ $changelog_top == "tarvo-publish ($version) "* ]] ||
  fail "packaging/debian/changelog has no entry for $version yet: $changelog_top"
if git rev-parse --git-dir >/dev/null 2>&1; then
  uncommitted=$(git status --porcelain --untracked-files=normal)
  if [ -n "$uncommitted" ] && [ -z "$allow_uncommitted" ]; then
    printf '%s\n' "$uncommitted" | sed 's/^/    /' >&2
    fail "the tree has uncommitted changes (above); commit or remove them (or give --allow-uncommitted)"
  fi
  # The date the manual page carries: the commit's, so that it is the same at every build.
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
  commit=$(git rev-parse --short HEAD)
else
  commit="(no git)"
fi

builds=build/release
dist=dist/tarvo-$version
staging=dist/.tarvo-$version.partial
rm -rf "$builds" "$staging"
mkdir -p "$staging"
jobs=$(nproc 2>/dev/null || echo 2)

echo "== Tarvo.exe $version for $host ($commit), about 2 minutes"
mkdir -p "$builds"
progress "$builds/win32.log" "Tarvo.exe could not be built" \
  cmake -S . -B "$builds/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTARVO_TESTS=OFF -DTARVO_UPDATE_HOST="$host" \
  -DTARVO_PUBLIC_KEY="$public_key"
progress "$builds/win32.log" "Tarvo.exe could not be built" \
  cmake --build "$builds/win32" -j "$jobs" --target tarvo
python3 tests/packaging/check_exe.py "$builds/win32/Tarvo.exe" --version "$version" --stripped yes ||
  fail "Tarvo.exe does not say what it is, or is not stripped"
cp "$builds/win32/Tarvo.exe" "$staging/Tarvo.exe"
if [ -n "$pkcs12" ]; then
  sign=(--pkcs12 "$pkcs12" --description Tarvo)
  [ -z "$password_file" ] || sign+=(--password-file "$password_file")
  [ -z "$timestamp" ] || sign+=(--timestamp "$timestamp")
  bash scripts/authenticode.sh "${sign[@]}" "$staging/Tarvo.exe"
fi

echo "== tarvo-publish $version, Debian package, about a minute"
progress "$builds/posix.log" "tarvo-publish could not be built" \
  cmake -S . -B "$builds/posix" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVO_TESTS=OFF
progress "$builds/posix.log" "tarvo-publish could not be built" \
  cmake --build "$builds/posix" -j "$jobs" --target tarvo-publish
echo "   checking the package (about 35 s)"
bash tests/packaging/package_test.sh "$builds/posix" >"$builds/package.log" 2>&1 ||
  { cat "$builds/package.log" >&2; fail "the package did not pass its checks"; }
deb=$(tail -n 1 "$builds/package.log")

echo "== What Tarvo.exe was built with"
"$builds/posix/tarvo-publish" inspect "$staging/Tarvo.exe" | tee "$builds/inspect.log"
grep -qxF "  update host: $host (version list http://$host/zip.html)" "$builds/inspect.log" ||
  fail "Tarvo.exe is not built for the update host $host"
if [ -n "$public_key" ]; then
  grep -qF "  public key: $public_key " "$builds/inspect.log" ||
    fail "Tarvo.exe is not built with the public key $public_key"
else
  grep -qxF "  public key: none (updates are not signed)" "$builds/inspect.log" ||
    fail "Tarvo.exe is built with a public key, though none was given"
fi
cp "$deb" "$staging/"
cp docs/operators.md "$staging/"

(cd "$staging" && sha256sum Tarvo.exe "$(basename "$deb")" operators.md >SHA256SUMS)
rm -rf "$dist"
mv "$staging" "$dist"
echo "== $dist"
cat "$dist/SHA256SUMS"
echo "unsigned Tarvo.exe: $(sha256sum "$builds/win32/Tarvo.exe" | cut -d' ' -f1)"
