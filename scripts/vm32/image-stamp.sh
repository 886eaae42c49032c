#!/usr/bin/env bash
# Usage: image-stamp.sh write DIR | check DIR
# The stamp of a guest image folder: one line per file (name, size in bytes, CRC), written as
# the very last step of a build. check succeeds only when the stamp is there and every file
# still matches it: a build cut short has no stamp, a file truncated, grown or damaged since
# no longer matches. A CRC, not a cryptographic hash: it guards against accidents (it reads
# the 3.4 GB image in seconds), not against tampering.
set -euo pipefail

files=(root.img vmlinuz initrd.img)

manifest() {
  local f
  for f in "${files[@]}"; do
    [ -f "$1/$f" ] || return 1
    printf '%s %s %s\n' "$f" "$(stat -c %s "$1/$f")" "$(cksum <"$1/$f" | cut -d' ' -f1)"
  done
}

case "${1:-}" in
  write)
    manifest "$2" >"$2/complete.tmp"
    mv "$2/complete.tmp" "$2/complete"
    ;;
  check)
    [ -s "$2/complete" ] || exit 1
    now=$(manifest "$2") || exit 1
    [ "$now" = "$(cat "$2/complete")" ]
    ;;
  *)
    echo "usage: image-stamp.sh write DIR | check DIR" >&2
    exit 2
    ;;
esac
