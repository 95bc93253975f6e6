#!/bin/sh
# Installs the Debian packages that building stampcut and running every test
# needs, and any packages named as arguments (CI adds clang and lintian),
# when they are missing. Needs root (or sudo) only when something is
# missing; on a system without dpkg it installs nothing and says so.
# Usage: sh tests/setup.sh [PACKAGE...]
set -eu

if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
  echo "tests/setup.sh: not a Debian system, nothing installed; the tests" \
    "need GoogleTest, and the package test dpkg-deb, dpkg-shlibdeps and file" >&2
  exit 0
fi

# make and gzip build stampcut (Debian's cmake only recommends make; gzip
# compresses the man page); the -dev packages of zlib, libbz2, liblzma and
# libzstd let it read compressed logs, and bzip2, xz-utils and zstd make
# the tests' compressed files; groff-base lints the man page; dpkg-dev and
# file build the package; strace makes a write fail as a signal would.
missing=
for pkg in g++ cmake make gzip zlib1g-dev libbz2-dev liblzma-dev libzstd-dev \
  bzip2 xz-utils zstd libgtest-dev groff-base dpkg-dev file strace "$@"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
    missing="$missing $pkg"
done
[ -n "$missing" ] || exit 0

as_root=
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "tests/setup.sh: as root, run: apt-get install$missing" >&2
    exit 1
  fi
  as_root=sudo
fi
echo "tests/setup.sh: installing$missing"
$as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
# $missing is a list of package names: split on purpose.
# shellcheck disable=SC2086
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
  --no-install-recommends $missing
