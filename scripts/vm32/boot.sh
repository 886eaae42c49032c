#!/usr/bin/env bash
# Usage: boot.sh [--writable] IMAGE_DIR TESTS_DISK [RESULTS_DISK] [-- QEMU_ARGS...]
# Boots the emulated PC of build-image.sh: its kernel, its root read from IMAGE_DIR/root.img,
# TESTS_DISK (read-only, its guest/run.sh is what runs) and RESULTS_DISK for the guest to
# write. QEMU_ARGS are added as they are (USB adapters, a QMP socket). The console is our
# standard output; qemu ends when the guest powers off. CORVANE_VM_ACCEL chooses the
# accelerator (default TCG, which every machine has; kvm where /dev/kvm may be used).
set -euo pipefail
snapshot=on
if [ "${1:-}" = --writable ]; then
  # Only while the image is built: everything else leaves the image as it was built.
  snapshot=off
  shift
fi
image=$1 tests=$2 results=
shift 2
if [ $# -gt 0 ] && [ "$1" != -- ]; then
  results=$1
  shift
fi
[ "${1:-}" = -- ] && shift
drives=(-drive "file=$image/root.img,format=raw,if=virtio,snapshot=$snapshot"
  -drive "file=$tests,format=raw,if=virtio,readonly=on")
[ -n "$results" ] && drives+=(-drive "file=$results,format=raw,if=virtio")
# TCG by default: two virtual CPUs on threads of their own. SMAP on makes every Wine process
# die on a page fault at iret under TCG, hence -smap.
exec qemu-system-x86_64 -accel "${CORVANE_VM_ACCEL:-tcg,thread=multi}" -cpu max,-smap -smp 2 \
  -m 3G -nographic -no-reboot -nic none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "console=ttyS0 root=/dev/vda rw init=/sbin/corvane-init panic=5 quiet" \
  "${drives[@]}" "$@" </dev/null
