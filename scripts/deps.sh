#!/usr/bin/env bash
# Installs, with apt-get, everything the builds and tests need on a fresh Debian 12 machine.
# Idempotent: when every package is present it only checks and returns.
set -euo pipefail

# The Windows tests run the 64-bit build under wine64: the kernels we build on have 32-bit
# emulation switched off, so wine32 cannot start at all. The shipped program is the 32-bit
# build, which is compiled and linked in every run.
#
# The ledger links SQLite and libpq; its tests start a private server from the postgresql
# package's binaries (the package's own cluster service is not used). The Windows builds link
# SQLite built from Debian's sqlite3 source package (scripts/build-sqlite-mingw.sh: apt-get
# source needs dpkg-dev, generating the one-file library needs tcl).
#
# make deb generates the manual pages with help2man, packs with dpkg-deb and checks the package
# with lintian; its test loads the bash completion.
#
# make test-shipped runs the 32-bit build in an emulated PC (qemu) whose Debian guest
# mmdebstrap builds from the same package sources.
#
# The web view's HTTP server is cpp-httplib, built from Debian's cpp-httplib source package
# (apt-get source, as SQLite's); its pages are tested in Debian's chromium through
# chromium-driver and python3-selenium, and make test-deb checks the station's systemd unit
# with systemd-analyze.

PKGS=(
  cmake make g++ python3 libgtest-dev googletest
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 fonts-wine xvfb xauth x11-utils imagemagick
  clang libclang-rt-14-dev
  libcli11-dev nlohmann-json3-dev python3-pefile clang-format
  libsqlite3-dev libpq-dev postgresql tcl
  help2man lintian dpkg-dev fakeroot bash-completion
  qemu-system-x86 mmdebstrap e2fsprogs
  chromium chromium-driver python3-selenium systemd
)

missing=()
for p in "${PKGS[@]}"; do
  st=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$st" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run as root:" >&2
  echo "  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
