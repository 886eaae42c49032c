# Sourced by the scripts that build from Debian's source packages (SQLite for MinGW,
# cpp-httplib): makes sure apt can fetch a source package.
#
#   ensure_deb_src PACKAGE WHO   (WHO names the caller in its messages)
#
# Without source entries, as root it adds deb-src entries for the archives apt already uses
# (the binary entries, read again for sources) and updates; otherwise it says what to do and
# fails.
ensure_deb_src() {
  local package=$1 who=$2
  apt-cache showsrc "$package" 2>/dev/null | grep -q "^Package: $package\$" && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "$who: apt has no source entries; as root, add a deb-src entry for" >&2
    echo "  the archive in /etc/apt/sources.list.d/debian.sources and run apt-get update" >&2
    return 1
  fi
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
    >/etc/apt/sources.list.d/corvane-deb-src.sources
  apt-get update -qq
}
