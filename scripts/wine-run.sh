#!/bin/sh
# Runs one Windows executable under Wine in the build's private prefix. CTest uses it as the
# emulator of the Windows build; scripts/wine-session.sh prepares the prefix and display.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
: "${WINEPREFIX:=$here/../build/windows-x64/wineprefix}"
export WINEPREFIX
exec "$WINE" "$@"
