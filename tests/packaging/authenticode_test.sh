#!/usr/bin/env bash
# Signs a small Windows program with scripts/authenticode.sh, using a certificate authority and
# a code-signing certificate made for the run, and checks that osslsigncode accepts the
# signature against that authority.
#
#   authenticode_test.sh SIGNING_SCRIPT
#
# Exits 77 (skipped) when a tool it needs is missing.
set -euo pipefail
sign=$(cd "$(dirname "${1:?usage: authenticode_test.sh SIGNING_SCRIPT}")" && pwd)/$(basename "$1")

for tool in osslsigncode openssl i686-w64-mingw32-gcc-posix; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# A password with blanks, quotes and a dollar sign: it must reach osslsigncode unchanged.
password='a "quoted" $pass phrase'
printf '%s\n' "$password" >password.txt
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tarvo Test Root" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -keyout ca.key -out ca.crt 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Tarvo Test Publisher" \
  -keyout signer.key -out signer.csr 2>/dev/null
printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
  extendedKeyUsage=codeSigning >signer.ext
openssl x509 -req -days 2 -in signer.csr -CA ca.crt -CAkey ca.key -CAcreateserial \
  -extfile signer.ext -out signer.crt 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.crt -certfile ca.crt \
  -passout file:password.txt -out signer.p12

printf 'int main(void) { return 0; }\n' >program.c
i686-w64-mingw32-gcc-posix -o program.exe program.c

# Accepted against the test authority, with exactly one signature, by the test publisher.
verify() {
  if ! osslsigncode verify -CAfile ca.crt -in "$1" >verify.log 2>&1; then
    fail "$2: osslsigncode verify rejects the file"; cat verify.log; return
  fi
  grep -q 'Number of verified signatures: 1$' verify.log ||
    { fail "$2: not exactly one signature"; cat verify.log; }
  grep -q 'Subject: /CN=Tarvo Test Publisher' verify.log ||
    { fail "$2: not signed by the test publisher"; cat verify.log; }
}

echo "== password from a file"
cp program.exe file.exe
chmod 755 file.exe
if bash "$sign" --pkcs12 signer.p12 --password-file password.txt file.exe; then
  verify file.exe "password file"
  [ -x file.exe ] || fail "the signed program lost its execute permission"
else
  fail "signing with the password file failed"
fi

echo "== password from the environment, signing a signed program again"
cp file.exe env.exe
if TARVO_AUTHENTICODE_PASSWORD=$password bash "$sign" --pkcs12 signer.p12 env.exe; then
  verify env.exe "password from the environment"
else
  fail "signing with the password from the environment failed"
fi

echo "== wrong or missing password: refused, the program left as it was"
cp program.exe refused.exe
if TARVO_AUTHENTICODE_PASSWORD=wrong bash "$sign" --pkcs12 signer.p12 refused.exe 2>/dev/null; then
  fail "signing with a wrong password succeeded"
fi
if (unset TARVO_AUTHENTICODE_PASSWORD; bash "$sign" --pkcs12 signer.p12 refused.exe 2>/dev/null)
then
  fail "signing without a password succeeded"
fi
cmp -s program.exe refused.exe || fail "a refused signing changed the program"
leftovers=$(find . -name '.authenticode.*')
[ -z "$leftovers" ] || fail "a refused signing left $leftovers"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all signatures as expected"
