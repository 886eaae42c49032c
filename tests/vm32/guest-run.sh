#!/bin/bash
# Runs in the emulated PC, started by its init (scripts/vm32/guest-init) as PID 1 with the
# read-only disk of tests at /opt/corvane and the console as output: the shipped i686
# programs under 32-bit Wine. Runs every suite that /opt/corvane/plan names (one
# "NAME TIMEOUT_S" a line), each into results/NAME.log and results/NAME.rc, writes the results
# as a tar archive onto the third drive and powers off. The console shows it all as it comes.
T=/opt/corvane
R=/tmp/results
mkdir -p "$R"
uptime_s() { cut -d' ' -f1 /proc/uptime; }
say() { echo "[guest $(uptime_s)] $*"; }

# The archive goes straight onto the drive: the host reads it back with tar.
save_results() {
  tar -cf /dev/vdc -C "$R" . && sync
}

power_off() {
  save_results
  say "results written, powering off"
  echo o >/proc/sysrq-trigger
  sleep 60
}

memory=$(awk '/MemTotal/{print int($2/1024)" MB"}' /proc/meminfo)
say "up: kernel $(uname -r), $(nproc) CPUs, $memory"
echo "boot_s $(uptime_s)" >"$R/times"

# The 32-bit Wine: its own loader, a win32 prefix, and the 32-bit wineserver for whoever calls
# wineserver by name (the e2e plumbing starts and stops it itself).
export CORVANE_WINE=/usr/lib/wine/wine CORVANE_WINEARCH=win32
# Under the emulator, on a machine shared with other work, a program may take ten times as
# long to show its window: the e2e plumbing waits three times as long as elsewhere.
export CORVANE_E2E_TIME_SCALE=3
mkdir -p /tmp/bin
for server in /usr/lib/wine/wineserver32 /usr/lib/wine/wineserver; do
  [ -x "$server" ] && ln -sf "$server" /tmp/bin/wineserver && break
done
export PATH=/tmp/bin:$PATH
say "$("$CORVANE_WINE" --version 2>&1) with $CORVANE_WINE, WINEARCH=$CORVANE_WINEARCH"

SRC=$T/src
BUILD=$T/build/windows
MODSIM=$T/build/native/tools/modsim/modsim
# One work folder for every e2e runner. Its win32 prefix was made when the image was built
# (scripts/vm32/guest-prepare): under the emulator that takes minutes.
WORK=/root/work
mkdir -p "$WORK"

suite_e2e_dialog() {
  python3 "$SRC/tests/e2e/run_e2e.py" --exe "$BUILD/ui/Corvane_BT_Setup.exe" \
    --driver "$BUILD/tests/e2e/uidriver.exe" --modsim "$MODSIM" --work "$WORK"
}

suite_e2e_faults() {
  python3 "$SRC/tests/e2e/faults/run_faults.py" --exe "$BUILD/ui/Corvane_BT_Setup.exe" \
    --driver "$BUILD/tests/e2e/uidriver.exe" --modsim "$MODSIM" --work "$WORK"
}

suite_e2e_cli() {
  python3 "$SRC/tests/e2e/cli/run_cli_e2e.py" --exe "$BUILD/cli/corvane.exe" \
    --driver "$BUILD/tests/e2e/uidriver.exe" --modsim "$MODSIM" --work "$WORK"
}

# For the suites that run programs straight through wine-run.sh: a wineserver and Wine's
# background services started here with their output silenced. Started by the first test
# program they would inherit the suite's output and hold it open; and the wineserver, which
# opens the test's pty for the program, lists every object it holds when that pty hangs up
# (thousands of lines over the serial console).
quiet_wine_start() {
  WINEPREFIX=$WORK/wineprefix wineserver -p >/dev/null 2>&1 </dev/null
  WINEPREFIX=$WORK/wineprefix "$SRC/scripts/wine-run.sh" wineboot >/dev/null 2>&1 </dev/null
}

quiet_wine_stop() {
  WINEPREFIX=$WORK/wineprefix wineserver -k >/dev/null 2>&1
}

# The serial channel's bytes and read time-outs on a pty, as CTest runs it for x86_64.
suite_serial_win32() {
  local rc
  quiet_wine_start
  WINEPREFIX=$WORK/wineprefix python3 "$SRC/tests/win/serial/with_pty.py" \
    "$SRC/scripts/wine-run.sh" "$BUILD/tests/win/serial/serial_win32_check.exe"
  rc=$?
  quiet_wine_stop
  return $rc
}

# The Windows unit tests (GoogleTest) of the i686 build, one program at a time as CTest runs
# them for x86_64, on a display of their own. The planted-library test runs in its folder,
# beside its DLL, with Wine preferring native DLLs as Windows would.
suite_win_units() {
  local rc=0 exe xvfb overrides
  Xvfb :91 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -e /tmp/.X11-unix/X91 ] && break; sleep 0.1; done
  # Wine's desktop process starts with the services: on this display.
  DISPLAY=:91 quiet_wine_start
  for exe in "$BUILD"/tests/win/*_test.exe "$BUILD"/tests/win/planted/*_test.exe; do
    echo "== ${exe#"$BUILD"/}"
    case "$exe" in
      */planted/*) overrides="uxtheme=n,b" ;;
      *) overrides="" ;;
    esac
    (cd "$(dirname "$exe")" && DISPLAY=:91 WINEPREFIX=$WORK/wineprefix \
      CORVANE_WINEDLLOVERRIDES=$overrides "$SRC/scripts/wine-run.sh" "$exe") || rc=1
  done
  quiet_wine_stop
  kill "$xvfb"
  return $rc
}

run_suite() {
  local name=$1 limit=$2 start rc took pid shown
  start=$(uptime_s)
  say "suite $name (limit ${limit} s)"
  if ! declare -F "suite_$name" >/dev/null; then
    echo "no such suite in the guest: $name" >"$R/$name.log"
    rc=127
  else
    # timeout makes a process group of its own: whatever the suite leaves running (a modsim,
    # Xvfb, a program that never showed its window) is ended with it below, and cannot hold
    # the next suite up. The log goes to the console as it grows.
    timeout -k 10 "$limit" bash -c "suite_$name" >"$R/$name.log" 2>&1 </dev/null &
    pid=$!
    tail --pid="$pid" -n +1 -f "$R/$name.log" &
    shown=$!
    wait "$pid"
    rc=$?
    kill -- "-$pid" 2>/dev/null
    wait "$shown"
  fi
  [ "$rc" = 124 ] && echo "suite $name: timed out after $limit s" | tee -a "$R/$name.log"
  echo "$rc" >"$R/$name.rc"
  took=$(awk -v a="$start" -v b="$(uptime_s)" 'BEGIN{printf "%.1f", b-a}')
  echo "suite_s $name $took" >>"$R/times"
  say "suite $name exit $rc"
  WINEPREFIX=$WORK/wineprefix wineserver -k >/dev/null 2>&1
  # The results so far, so that a guest stopped later still tells what ran.
  save_results
}

export -f quiet_wine_start quiet_wine_stop suite_e2e_dialog suite_e2e_faults suite_e2e_cli \
  suite_serial_win32 suite_win_units
export SRC BUILD MODSIM WORK

while read -r name limit; do
  case "$name" in '' | '#'*) continue ;; esac
  run_suite "$name" "$limit"
done <"$T/plan"

echo "end_s $(uptime_s)" >>"$R/times"
touch "$R/done"
power_off
