#!/usr/bin/env bash
# Whether this machine runs i386 (32-bit x86) Linux programs, which Wine's 32-bit loader is, and
# so whether the Win32 build's tests can run here. Some kernels boot with 32-bit execution off
# ("32-bit emulation disabled" in dmesg); there qemu-i386 (version 8 or later), registered for
# i386 ELF programs through binfmt_misc with flag F, runs them instead. Debian 12's own qemu
# 7.2 does not do: Wine hangs creating its prefix under it.
#
#   scripts/i386_programs.sh check    prints "native" or "emulated" and exits 0, or prints one
#                                     line saying why they cannot run and what to do, exits 1
#   scripts/i386_programs.sh enable   (root) installs and registers qemu-i386 where needed;
#                                     quick, and changes nothing, when all is in place
#
# Sourced by scripts/setup.sh and scripts/test.sh for the same two functions.

I386_LOADER=/lib/ld-linux.so.2
BINFMT=/proc/sys/fs/binfmt_misc
QEMU_I386=/usr/bin/qemu-i386
QEMU_MIN_MAJOR=8
# i386 ELF executables and shared objects (e_machine 3), any OS/ABI byte.
QEMU_I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
QEMU_I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# The machine an i386 program sees: x86_64 when the kernel runs it, i686 under qemu; empty when
# it cannot run at all (or the i386 C library is not installed).
i386_machine() {
  [ -x "$I386_LOADER" ] || return 0
  "$I386_LOADER" --list-diagnostics 2>/dev/null |
    sed -n 's/^uname\.machine="\(.*\)"$/\1/p' || true
}

# The major version of the qemu-i386 at $1, or 0.
qemu_major() {
  local v
  v=$("$1" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\).*/\1/p' | head -n 1)
  echo "${v:-0}"
}

# True when binfmt_misc hands i386 programs to a qemu-i386 of a good version, opened at
# registration (flag F), so that it is found from any root and any working directory.
qemu_registered() {
  local entry=$BINFMT/qemu-i386 interpreter
  [ -r "$entry" ] || return 1
  grep -qx enabled "$entry" || return 1
  grep -q '^flags:.*F' "$entry" || return 1
  interpreter=$(sed -n 's/^interpreter //p' "$entry")
  [ -x "$interpreter" ] && [ "$(qemu_major "$interpreter")" -ge "$QEMU_MIN_MAJOR" ]
}

# Prints "native" or "emulated", or one line of why i386 programs cannot run and what to do.
i386_check() {
  local machine
  if [ ! -e "$I386_LOADER" ]; then
    echo "i386 programs cannot run: the i386 C library is not installed ($I386_LOADER is missing); run scripts/setup.sh as root"
    return 1
  fi
  machine=$(i386_machine)
  case "$machine" in
    x86_64 | i?86)
      if [ "$machine" = x86_64 ]; then echo native; return 0; fi
      if qemu_registered; then echo emulated; return 0; fi
      echo "i386 programs run under an emulator other than a qemu-i386 $QEMU_MIN_MAJOR or later registered with flag F (Wine hangs under qemu 7); run scripts/setup.sh as root"
      return 1 ;;
  esac
  if [ -w "$BINFMT/register" ] || [ "$(id -u)" -eq 0 ]; then
    echo "i386 programs cannot run: this kernel has no 32-bit execution and no qemu-i386 is registered for them; run scripts/setup.sh as root"
  else
    echo "i386 programs cannot run: this kernel has no 32-bit execution, and registering qemu-i386 for them needs root and a writable $BINFMT; run scripts/setup.sh as root (or boot with ia32_emulation=on)"
  fi
  return 1
}

# Adds the distribution's backports suite beside the sources the machine already uses, so that
# no host is named here. Prints the suite's name.
add_backports_source() {
  local codename out=/etc/apt/sources.list.d/tarvo-backports.sources
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  if ! grep -rqsE "(^|[[:space:]])$codename-backports([[:space:]]|$)" \
      /etc/apt/sources.list /etc/apt/sources.list.d; then
    local tmp f
    tmp=$(mktemp)
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      # Each stanza that carries the release's main suite, with that suite's backports instead.
      awk -v c="$codename" 'BEGIN { RS = ""; ORS = "" }
        $0 ~ ("(^|\n)Suites:[^\n]*[ \t]" c "([ \t\n]|$)") && $0 ~ /(^|\n)Types:[^\n]*deb([ \t\n]|$)/ {
          n = split($0, line, "\n")
          for (i = 1; i <= n; i++) {
            if (line[i] ~ /^#/) continue
            if (line[i] ~ /^Suites:/) line[i] = "Suites: " c "-backports"
            if (line[i] ~ /^Types:/) line[i] = "Types: deb"
            print line[i] "\n"
          }
          print "\n"
        }' "$f" >>"$tmp"
    done
    if [ -f /etc/apt/sources.list ]; then
      grep -E "^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?[^[:space:]]+[[:space:]]+$codename[[:space:]]" \
        /etc/apt/sources.list | sed -E "s/^(deb[[:space:]]+(\[[^]]*\][[:space:]]+)?[^[:space:]]+[[:space:]]+)$codename/\1$codename-backports/" \
        >"$tmp.list" || true
      [ -s "$tmp.list" ] && install -m 644 "$tmp.list" /etc/apt/sources.list.d/tarvo-backports.list
      rm -f "$tmp.list"
    fi
    [ -s "$tmp" ] && install -m 644 "$tmp" "$out"
    rm -f "$tmp"
    apt-get update -qq >/dev/null 2>&1 || true
  fi
  echo "$codename-backports"
}

# Installs a qemu-i386 of a good version (from backports when the release's own is older).
install_qemu() {
  if [ -x "$QEMU_I386" ] && [ "$(qemu_major "$QEMU_I386")" -ge "$QEMU_MIN_MAJOR" ]; then return 0; fi
  local suite
  suite=$(add_backports_source) || return 1
  echo "i386: installing qemu-user from $suite"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends -t "$suite" \
    qemu-user >/dev/null || return 1
  [ "$(qemu_major "$QEMU_I386")" -ge "$QEMU_MIN_MAJOR" ]
}

# Registers $QEMU_I386 for i386 ELF programs with flag F, replacing an earlier registration of
# that name (a registration does not outlive a reboot, so this runs at every set-up).
register_qemu() {
  if ! mountpoint -q "$BINFMT" 2>/dev/null && [ ! -e "$BINFMT/register" ]; then
    mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null || return 1
  fi
  [ -w "$BINFMT/register" ] || return 1
  if [ -e "$BINFMT/qemu-i386" ]; then echo -1 >"$BINFMT/qemu-i386" || return 1; fi
  # binfmt_misc reads the \x escapes itself.
  printf '%s' ":qemu-i386:M::$QEMU_I386_MAGIC:$QEMU_I386_MASK:$QEMU_I386:F" >"$BINFMT/register"
}

# Makes i386 programs run where the kernel does not run them. Never fails the set-up: what
# could not be done is said in one line, and scripts/test.sh says it again before the Win32
# tests.
i386_enable() {
  local state
  state=$(i386_check) && return 0
  case "$(i386_machine)" in x86_64) return 0 ;; esac
  if [ "$(id -u)" -ne 0 ]; then
    echo "i386: $state" >&2
    return 0
  fi
  if ! install_qemu; then
    echo "i386: could not install qemu-user $QEMU_MIN_MAJOR or later; the Win32 tests cannot run here" >&2
    return 0
  fi
  if ! register_qemu; then
    echo "i386: could not register qemu-i386 with binfmt_misc ($BINFMT not writable); the Win32 tests cannot run here" >&2
    return 0
  fi
  if state=$(i386_check); then
    echo "i386: programs run under qemu-i386 $(qemu_major "$QEMU_I386") (this kernel runs none itself)"
  else
    echo "i386: $state" >&2
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "${1:-}" in
    check) i386_check ;;
    enable) i386_enable ;;
    *) echo "usage: $0 check|enable" >&2; exit 2 ;;
  esac
fi
