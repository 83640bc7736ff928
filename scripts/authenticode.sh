#!/usr/bin/env bash
# Signs a Windows executable with Authenticode (osslsigncode, SHA-256), in place.
#
#   scripts/authenticode.sh --pkcs12 FILE [--password-file FILE] [--timestamp URL]
#                           [--description TEXT] EXE
#
#   --pkcs12 FILE         the code-signing certificate with its private key and, ideally, the
#                         certificates of its chain (PKCS#12, .p12 or .pfx)
#   --password-file FILE  read the PKCS#12 password from the first line of FILE; without it,
#                         the password is the environment variable TARVO_AUTHENTICODE_PASSWORD
#   --timestamp URL       countersign with this RFC 3161 time-stamping server, so that the
#                         signature stays valid after the certificate expires
#   --description TEXT    the program name recorded in the signature
#
# The password never appears on a command line: osslsigncode reads it from the file, or from
# a pipe that this script fills from the environment. EXE is replaced only once signing has
# succeeded, keeping its permissions; a signature it already had is replaced, not nested.
set -euo pipefail

usage() { sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; }
fail() { printf 'authenticode: %s\n' "$*" >&2; exit 1; }

pkcs12=""
password_file=""
timestamp=""
description=""
exe=""
while [ $# -gt 0 ]; do
  case $1 in
    --pkcs12) pkcs12=${2?--pkcs12 needs a file}; shift 2 ;;
    --password-file) password_file=${2?--password-file needs a file}; shift 2 ;;
    --timestamp) timestamp=${2?--timestamp needs a URL}; shift 2 ;;
    --description) description=${2?--description needs a text}; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) [ -z "$exe" ] || { usage >&2; exit 2; }; exe=$1; shift ;;
  esac
done
[ -n "$exe" ] || { usage >&2; exit 2; }

command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/setup.sh installs it)"
[ -n "$pkcs12" ] || fail "no PKCS#12 file given (--pkcs12)"
[ -r "$pkcs12" ] || fail "cannot read the PKCS#12 file $pkcs12"
[ -f "$exe" ] || fail "no such file: $exe"

# Taken out of the environment, so that osslsigncode and anything it starts do not carry it.
password=""
if [ -n "$password_file" ]; then
  [ -r "$password_file" ] || fail "cannot read the password file $password_file"
elif [ -n "${TARVO_AUTHENTICODE_PASSWORD+set}" ]; then
  password=$TARVO_AUTHENTICODE_PASSWORD
  unset TARVO_AUTHENTICODE_PASSWORD
else
  fail "no password: give --password-file or set TARVO_AUTHENTICODE_PASSWORD"
fi

options=(-pkcs12 "$pkcs12" -h sha256)
[ -z "$description" ] || options+=(-n "$description")
[ -z "$timestamp" ] || options+=(-ts "$timestamp")

# The signed copy is written beside EXE, so that the final rename stays on one file system.
work=$(mktemp -d "$(dirname "$exe")/.authenticode.XXXXXX")
trap 'rm -rf "$work"' EXIT
signed="$work/$(basename "$exe")"

if [ -n "$password_file" ]; then
  osslsigncode sign "${options[@]}" -readpass "$password_file" -in "$exe" -out "$signed" \
    >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "signing $exe failed"; }
else
  # printf is a builtin: the password goes into the pipe without a process of its own.
  osslsigncode sign "${options[@]}" -readpass <(printf '%s' "$password") -in "$exe" \
    -out "$signed" >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "signing $exe failed"; }
fi
chmod --reference="$exe" "$signed"
mv -f "$signed" "$exe"
echo "authenticode: signed $exe"
