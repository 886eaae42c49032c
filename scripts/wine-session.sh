#!/usr/bin/env bash
# Usage: wine-session.sh BUILD_DIR COMMAND...
# Runs COMMAND with a ready Wine environment: the private prefix BUILD_DIR/wineprefix
# (created once), a virtual display of our own, and a keeper process that holds the Wine
# desktop so each test executable starts in a fraction of a second. Everything started here
# is stopped when COMMAND ends.
set -euo pipefail
build=$(cd "$1" && pwd)
shift

. "$(dirname "$0")/wine-env.sh"
export WINEPREFIX="$build/wineprefix"

xvfb_pid=""
keeper_pid=""
cleanup() {
  [ -n "$keeper_pid" ] && kill "$keeper_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# A display of our own, so test windows never land on the user's desktop.
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    break
  fi
done
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/${DISPLAY#:}" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] || { echo "wine-session: Xvfb did not start" >&2; exit 1; }

if [ ! -f "$WINEPREFIX/corvane-ready" ]; then
  echo "wine-session: creating the Wine prefix (once, about 15 s)"
  "$WINE" wineboot -i >/dev/null 2>&1
  # No window manager runs on our display: unmanaged windows spare a two-second wait for one
  # each time a window is hidden.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # Debian's Wine does not find the fonts of fonts-wine by itself; without them "MS Sans
  # Serif" falls back to a wider face. Fonts in C:\windows\Fonts are always seen.
  if [ -d /usr/share/wine/fonts ]; then
    for f in /usr/share/wine/fonts/*; do
      ln -sf "$f" "$WINEPREFIX/drive_c/windows/Fonts/$(basename "$f")"
    done
  fi
  wineserver -w
  touch "$WINEPREFIX/corvane-ready"
fi

if [ -f "$build/tests/win/keeper.exe" ]; then
  "$WINE" "$build/tests/win/keeper.exe" </dev/null >/dev/null 2>&1 &
  keeper_pid=$!
  # Wine's background services inherit the output of whichever process starts them. Wait
  # until they run under the keeper's silenced output: started by a test, they would hold
  # CTest's pipe open and turn a passed test into a time-out.
  timeout 120 "$WINE" "$build/tests/win/keeper.exe" --ready </dev/null >/dev/null 2>&1 || true
fi

"$@"
