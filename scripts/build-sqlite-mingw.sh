#!/usr/bin/env bash
# Builds SQLite for the Windows builds from Debian's sqlite3 source package (the version and
# patches of the libsqlite3-dev the native build links): the one-file library is generated
# with tcl, then compiled with the MinGW-w64 cross compilers into
#   <out>/<arch>/libsqlite3.a and <out>/<arch>/sqlite3.h   (arch: i686, x86_64)
# Configure a Windows build with -DCORVANE_SQLITE_MINGW_DIR=<out> to give it the SQLite ledger.
# No copy of SQLite goes into the repository. Idempotent: an existing library is kept.
#
# Needs a deb-src entry for the archive apt already uses (added here when run as root),
# dpkg-dev, tcl and the cross compilers.
set -euo pipefail

out=$(realpath -m "${1:-build/sqlite-mingw}")
arches=(i686 x86_64)

done=1
for arch in "${arches[@]}"; do
  [ -f "$out/$arch/libsqlite3.a" ] && [ -f "$out/$arch/sqlite3.h" ] || done=0
done
[ $done -eq 1 ] && exit 0

for tool in dpkg-source tclsh i686-w64-mingw32-gcc x86_64-w64-mingw32-gcc; do
  command -v "$tool" >/dev/null || { echo "build-sqlite-mingw: $tool is missing" >&2; exit 1; }
done

. "$(dirname "$0")/deb-src.sh"
ensure_deb_src sqlite3 build-sqlite-mingw || exit 1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source -qq sqlite3 >source.log 2>&1 || { cat source.log >&2; exit 1; }
src=$(find . -maxdepth 1 -type d -name 'sqlite3-*' | head -1)
mkdir amalgamation
(cd amalgamation && "../$src/configure" --disable-tcl >configure.log 2>&1 &&
  make sqlite3.c sqlite3.h >make.log 2>&1) || {
  tail -20 amalgamation/*.log >&2
  exit 1
}
echo "build-sqlite-mingw: $(grep -m1 '#define SQLITE_VERSION ' amalgamation/sqlite3.h)"

for arch in "${arches[@]}"; do
  mkdir -p "$out/$arch"
  # The settings of Debian's own build that matter to the ledger: thread-safe, and
  # synchronous=FULL by default in WAL mode as in rollback mode. No loadable extensions in a
  # statically linked program.
  "$arch-w64-mingw32-gcc" -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_DEFAULT_WAL_SYNCHRONOUS=2 \
    -DSQLITE_OMIT_LOAD_EXTENSION -c amalgamation/sqlite3.c -o "sqlite3-$arch.o"
  rm -f "$out/$arch/libsqlite3.a"
  "$arch-w64-mingw32-ar" rcs "$out/$arch/libsqlite3.a" "sqlite3-$arch.o"
  cp amalgamation/sqlite3.h "$out/$arch/"
done
echo "build-sqlite-mingw: libsqlite3.a and sqlite3.h in $out/{i686,x86_64}"
