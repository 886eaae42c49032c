#!/usr/bin/env bash
# Usage: build-image.sh
# Builds, or finds already built, the disk image of the emulated PC that runs the shipped
# 32-bit programs: a Debian 12 guest (amd64 kernel with 32-bit emulation, wine32) made by
# mmdebstrap from this machine's own apt sources. Prints the image's folder as its last line
# of standard output; everything else goes to standard error.
#
# The image lives outside the work tree, in $CORVANE_VM_CACHE (default /var/cache/corvane),
# under a name keyed by the package list, the scripts that make its content and the apt
# sources: a change to any of them builds a new image. The three images used last are kept
# (work trees of other branches may have other keys), older ones are removed. A folder counts
# as an image only when image-stamp.sh finds it intact; anything else (a build cut short, a
# file damaged or truncated since) is removed and built again.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${CORVANE_VM_CACHE:-/var/cache/corvane}
sources=${CORVANE_VM_SOURCES:-/etc/apt/sources.list.d/debian.sources}
[ -f "$sources" ] || sources=/etc/apt/sources.list

say() { echo "vm32 image: $*" >&2; }

key=$(cat "$here/guest-packages" "$here/build-image.sh" "$here/guest-init" "$here/guest-prepare" \
  "$here/boot.sh" "$sources" | sha256sum | cut -c1-16)
image="$cache/vm32-$key"

mkdir -p "$cache"
exec 9>"$cache/vm32.lock"
# Another build on this machine may be making the image: wait for it rather than race.
flock 9

if [ -d "$image" ]; then
  if bash "$here/image-stamp.sh" check "$image"; then
    touch "$image"
    say "reusing $image"
    echo "$image"
    exit 0
  fi
  say "$image is incomplete or damaged: building it again"
  rm -rf "$image"
fi

for tool in mmdebstrap mkfs.ext4 qemu-system-x86_64; do
  command -v "$tool" >/dev/null || { say "$tool is missing (make deps installs it)"; exit 1; }
done

packages=$(grep -v -e '^#' -e '^[[:space:]]*$' "$here/guest-packages" | paste -sd, -)
work="$cache/vm32-$key.building"
rm -rf "$cache"/vm32-*.building
mkdir -p "$work"
start=$(date +%s)
say "building a new image in $work (5 to 30 minutes, by the machine's load; log: $work/build.log)"
# minbase and no documentation keep the image small; the guest's init comes from this folder.
if ! mmdebstrap --variant=minbase --architectures=amd64,i386 --include="$packages" \
  --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
  --dpkgopt='path-exclude=/usr/share/locale/*' \
  --customize-hook="install -m 755 '$here/guest-init' \"\$1/sbin/corvane-init\"" \
  --customize-hook='rm -rf "$1"/var/cache/apt/archives/*.deb "$1"/var/lib/apt/lists/*' \
  bookworm "$work/rootfs" "$sources" >"$work/build.log" 2>&1; then
  tail -n 30 "$work/build.log" >&2
  say "mmdebstrap failed"
  exit 1
fi
debootstrapped=$(date +%s)
cp "$(ls "$work"/rootfs/boot/vmlinuz-* | tail -n 1)" "$work/vmlinuz"
cp "$(ls "$work"/rootfs/boot/initrd.img-* | tail -n 1)" "$work/initrd.img"
# Room for the Wine prefix and the tests' files. Runs open the root with snapshot=on, so only
# the one boot below ever writes the image.
size_mb=$(($(du -sm "$work/rootfs" | cut -f1) + 1024))
mkfs.ext4 -q -F -L corvane-vm32 -d "$work/rootfs" "$work/root.img" "${size_mb}M" >>"$work/build.log" 2>&1
rm -rf "$work/rootfs"

# One boot with the root writable makes the Wine prefix (guest-prepare): minutes under TCG
# that every run would otherwise spend again.
prepared=$(date +%s)
mkdir -p "$work/prepare/guest"
install -m 755 "$here/guest-prepare" "$work/prepare/guest/run.sh"
mkfs.ext4 -q -F -L corvane-prepare -d "$work/prepare" "$work/prepare.img" 8M
say "booting it once to make the Wine prefix (up to 10 minutes)"
timeout -k 10 "${CORVANE_VM_PREPARE_LIMIT:-2400}" bash "$here/boot.sh" --writable "$work" \
  "$work/prepare.img" >"$work/prepare.log" 2>&1 || true
if ! grep -q "corvane-prepare: prefix ready" "$work/prepare.log"; then
  tail -n 30 "$work/prepare.log" >&2
  say "the guest did not make its Wine prefix"
  exit 1
fi
rm -rf "$work/prepare" "$work/prepare.img"
end=$(date +%s)
echo "mmdebstrap $((debootstrapped - start)) s, mkfs $((prepared - debootstrapped)) s," \
  "prefix $((end - prepared)) s, total $((end - start)) s" >"$work/build-time"
bash "$here/image-stamp.sh" write "$work"
mv "$work" "$image"
ls -dt "$cache"/vm32-*/ | tail -n +4 | xargs -r rm -rf
say "built $image in $((end - start)) s ($(cat "$image/build-time")), $(du -sh "$image/root.img" | cut -f1) used"
echo "$image"
