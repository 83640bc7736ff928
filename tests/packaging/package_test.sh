#!/usr/bin/env bash
# Makes the Debian package of tarvo-publish from a POSIX build and checks it as an operator
# would meet it: its control fields and files, lintian with no error, every library the program
# loads reached through its Depends, and, as root, that `apt-get install ./PACKAGE` installs it
# and `tarvo-publish --version` then runs. The installation goes into a copy-on-write view of
# this machine in a mount namespace of its own, so the machine itself is left as it was.
#
#   package_test.sh BUILD_DIR
#
# Prints the package's path on its last line when every check passed; exits 1 otherwise.
set -euo pipefail
build=$(cd "${1:?usage: package_test.sh BUILD_DIR}" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "package_test: $build is not a configured build folder" >&2; exit 1; }

for tool in cpack dpkg-deb dpkg-shlibdeps lintian objdump; do
  command -v "$tool" >/dev/null ||
    { echo "package_test: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'umount -R "$work/view" 2>/dev/null || true; rm -rf "$work"' EXIT

echo "== making the package"
(cd "$build" && cpack -G DEB --config CPackConfig.cmake >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; echo "FAILED: cpack"; exit 1; }
deb="$build/package/tarvo-publish_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { cat "$work/cpack.log"; echo "FAILED: no $deb"; exit 1; }

echo "== control fields and files"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tarvo-publish ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sort >"$work/files"
printf '%s\n' ./usr/bin/tarvo-publish ./usr/share/doc/tarvo-publish/changelog.gz \
  ./usr/share/doc/tarvo-publish/copyright ./usr/share/doc/tarvo-publish/operators.md \
  ./usr/share/man/man1/tarvo-publish.1.gz | sort >"$work/expected"
diff -u "$work/expected" "$work/files" || fail "the package holds other files than expected"
dpkg-deb -x "$deb" "$work/files.d"
# Whole pipes are read (sed -n 1p, not head): a reader that stops early fails the writer under
# pipefail.
top=$(zcat "$work/files.d/usr/share/doc/tarvo-publish/changelog.gz" | sed -n 1p)
[[ $top == "tarvo-publish ($version) "* ]] ||
  fail "the changelog's latest entry is not for $version: $top"

# Each library the program loads must come from a package that Depends names, so that apt
# brings it to a machine that has never built anything.
depends=$(field Depends)
for library in $(objdump -p "$work/files.d/usr/bin/tarvo-publish" | awk '/NEEDED/ {print $2}'); do
  path=$(ldconfig -p | awk -v l="$library" '$1 == l {print $NF}' | sed -n 1p)
  owner=""
  # dpkg knows a file by the path its package gave it: /lib or /usr/lib, link or target.
  for candidate in "$path" "$(readlink -f "$path")" "${path#/usr}" "/usr$path"; do
    owner=$(dpkg -S "$candidate" 2>/dev/null | sed -n 1p | cut -d: -f1) && break
  done
  [ -n "$owner" ] || { fail "no package holds $library"; continue; }
  [[ ", $depends," == *", $owner "* || ", $depends," == *", $owner,"* ]] ||
    fail "$library comes from $owner, which Depends ($depends) does not name"
done

echo "== lintian"
lintian --fail-on error "$deb" 2>&1 | grep -v 'running with root privileges' ||
  [ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports errors"

echo "== apt-get install ./$(basename "$deb")"
if [ "$(id -u)" -ne 0 ]; then
  echo "not root: the installation is not tried"
else
  mkdir -p "$work/layer" "$work/view"
  cp "$deb" "$work/package.deb"
  # The view is this machine's root with a throwaway upper layer; the package goes in there.
  if ! unshare -m --propagation private bash -euo pipefail -c '
      work=$1 version=$2
      mount -t tmpfs tmpfs "$work/layer"
      mkdir "$work/layer/upper" "$work/layer/scratch"
      mount -t overlay overlay \
        -o "lowerdir=/,upperdir=$work/layer/upper,workdir=$work/layer/scratch" "$work/view"
      mount --rbind /proc "$work/view/proc"
      mount --rbind /dev "$work/view/dev"
      mkdir -p "$work/view/var/tmp/package"
      cp "$work/package.deb" "$work/view/var/tmp/package/"
      chroot "$work/view" bash -euo pipefail -c "
        cd /var/tmp/package
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q ./package.deb
        test \"\$(tarvo-publish --version)\" = \"tarvo-publish $version\"
        tarvo-publish --help | grep -q Usage:
        test -f \"\$(man -w tarvo-publish)\"
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -q tarvo-publish
        ! test -e /usr/bin/tarvo-publish
        ! test -e /usr/share/doc/tarvo-publish"
    ' install "$work" "$version" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    fail "installing, running or removing the package"
  else
    echo "installed, ran tarvo-publish $version, removed"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "$deb"
