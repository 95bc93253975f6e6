#!/usr/bin/env bash
# Installs stampcut from a build folder twice, with cmake --install and as a
# Debian package unpacked into a scratch root, and runs each installed copy
# on the example log. Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
src=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

check() { # root of an installation
  test -f "$1/share/man/man1/stampcut.1"
  got=$(TZ=UTC "$1/bin/stampcut" "$src/examples/app.log" 1709263799 1709263860)
  want=$(grep -E '^2024-03-01T03:3(0:|1:00)' "$src/examples/app.log")
  [ "$got" = "$want" ] || { echo "$1: wrong output"; exit 1; }
}

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
check "$scratch/prefix"

(cd "$build" && cpack -G DEB -B "$scratch/pkg" >/dev/null)
deb=$(ls "$scratch"/pkg/*.deb)
dpkg-deb --field "$deb" Package Depends
dpkg -x "$deb" "$scratch/root"
check "$scratch/root/usr"
echo "installed and packaged: ok"
