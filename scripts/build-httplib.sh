#!/usr/bin/env bash
# Fetches cpp-httplib's full single header from Debian's cpp-httplib source package into
#   <out>/httplib.h
# Debian's -dev package ships it split into a header and a Linux-only shared library; the
# source package holds the one header that builds natively and with both MinGW-w64 compilers.
# No copy of cpp-httplib goes into the repository. Idempotent: an existing header is kept.
#
# Needs a deb-src entry for the archive apt already uses (added here when run as root) and
# dpkg-dev.
set -euo pipefail

out=$(realpath -m "${1:-build/third_party/httplib}")
[ -f "$out/httplib.h" ] && exit 0

command -v dpkg-source >/dev/null || { echo "build-httplib: dpkg-source is missing" >&2; exit 1; }

. "$(dirname "$0")/deb-src.sh"
ensure_deb_src cpp-httplib build-httplib || exit 1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Debian's patches applied (dpkg-source unpacks them), so the header is the one Debian ships.
apt-get source -qq cpp-httplib >source.log 2>&1 || { cat source.log >&2; exit 1; }
src=$(find . -maxdepth 1 -type d -name 'cpp-httplib-*' | head -1)
[ -f "$src/httplib.h" ] || { echo "build-httplib: no httplib.h in $src" >&2; exit 1; }
mkdir -p "$out"
cp "$src/httplib.h" "$out/httplib.h.part"
mv "$out/httplib.h.part" "$out/httplib.h"
echo "build-httplib: $(grep -m1 'CPPHTTPLIB_VERSION' "$out/httplib.h") in $out"
