#!/usr/bin/env bash
# Usage: boot.sh [--writable] IMAGE_DIR TESTS_DISK [RESULTS_DISK]
# Boots the emulated PC of build-image.sh: its kernel, its root read from IMAGE_DIR/root.img,
# TESTS_DISK (read-only, its guest/run.sh is what runs) and RESULTS_DISK for the guest to
# write. The console is our standard output; qemu ends when the guest powers off.
set -euo pipefail
snapshot=on
if [ "${1:-}" = --writable ]; then
  # Only while the image is built: everything else leaves the image as it was built.
  snapshot=off
  shift
fi
image=$1 tests=$2 results=${3:-}
drives=(-drive "file=$image/root.img,format=raw,if=virtio,snapshot=$snapshot"
  -drive "file=$tests,format=raw,if=virtio,readonly=on")
[ -n "$results" ] && drives+=(-drive "file=$results,format=raw,if=virtio")
# No KVM here: TCG, two virtual CPUs on threads of their own. SMAP on makes every Wine process
# die on a page fault at iret under TCG, hence -smap.
exec qemu-system-x86_64 -accel tcg,thread=multi -cpu max,-smap -smp 2 -m 3G \
  -nographic -no-reboot -nic none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "console=ttyS0 root=/dev/vda rw init=/sbin/corvane-init panic=5 quiet" \
  "${drives[@]}" </dev/null
