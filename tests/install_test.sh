#!/usr/bin/env bash
# Installs stampcut from a build folder twice, with cmake --install and as a
# Debian package unpacked into a scratch root, and runs each installed copy
# on the example log; lints the package when lintian is installed. Exits 77
# (skipped) after the first half where the package cannot be built here.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
src=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

check() { # root of an installation
  zcat "$1/share/man/man1/stampcut.1.gz" | cmp -s - "$src/man/stampcut.1" ||
    { echo "$1: man page missing or not the source's"; exit 1; }
  test -f "$1/share/doc/stampcut/copyright"
  got=$(TZ=UTC "$1/bin/stampcut" "$src/examples/app.log" 1709263799 1709263860)
  want=$(grep -E '^2024-03-01T03:3(0:|1:00)' "$src/examples/app.log")
  [ "$got" = "$want" ] || { echo "$1: wrong output"; exit 1; }
}

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
check "$scratch/prefix"
echo "installed: ok"

# What CPack's DEB generator needs, with the dependency list made by
# dpkg-shlibdeps.
missing=()
cpack --help | grep -q '^ *DEB *=' || missing+=("CPack's DEB generator")
for tool in dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev file:file; do
  command -v "${tool%:*}" >/dev/null ||
    missing+=("${tool%:*} (Debian package ${tool#*:})")
done
if [ ${#missing[@]} -gt 0 ]; then
  printf -v list '%s, ' "${missing[@]}"
  echo "SKIPPED packaging, missing: ${list%, }"
  exit 77
fi

(cd "$build" && cpack -G DEB -B "$scratch/pkg" >/dev/null)
deb=$(ls "$scratch"/pkg/*.deb)
dpkg-deb --field "$deb" Package Depends
dpkg -x "$deb" "$scratch/root"
check "$scratch/root/usr"
if command -v lintian >/dev/null; then
  # Any error or warning fails; the note about running as root is neither.
  status=0
  out=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
  grep -v 'running with root privileges' <<<"$out" || true
  [ $status -eq 0 ] || { echo "lintian: errors or warnings, above"; exit 1; }
  echo "lintian: clean"
else
  echo "lintian not installed: package not linted"
fi
echo "installed and packaged: ok"
