#!/bin/bash
# Runs in the emulated PC for make test-usb (started by scripts/vm32/guest-init as PID 1, the
# read-only disk of tests at /opt/corvane, the console as output). The native corvane against
# modules simulated on the host, each behind an emulated USB serial adapter that the host plugs
# and unplugs through qemu's monitor (tests/vm32/run_usb.py). The host follows this script by
# its "[usb] ..." lines and the station's events, which come over the console as they are
# written. Every output the host judges goes into the results archive on the third drive.
T=/opt/corvane
R=/tmp/results
mkdir -p "$R"
uptime_s() { cut -d' ' -f1 /proc/uptime; }
say() { echo "[guest $(uptime_s)] $*"; }

save_results() {
  tar -cf /dev/vdc -C "$R" . && sync
}

power_off() {
  save_results
  say "results written, powering off"
  echo o >/proc/sysrq-trigger
  sleep 60
}

# Runs a command, its standard output into results/NAME.out, the rest into NAME.err, and its
# exit status into NAME.rc.
capture() {
  local name=$1
  shift
  "$@" >"$R/$name.out" 2>"$R/$name.err"
  echo $? >"$R/$name.rc"
}

# Waits up to $2 tenths of a second for the test $1 to hold.
wait_for() {
  local i
  for i in $(seq "$2"); do
    eval "$1" && return 0
    sleep 0.1
  done
  return 1
}

say "up: kernel $(uname -r), $(nproc) CPUs"
echo "boot_s $(uptime_s)" >"$R/times"

# The init is not systemd: udev is started by hand, and its first pass over the devices that
# are already there (the adapter plugged in at boot) is waited for.
/lib/systemd/systemd-udevd --daemon
udevadm trigger --action=add
udevadm settle --timeout=30
echo "udev_s $(uptime_s)" >>"$R/times"

# The shipped package where the host staged one, or else the native build's two programs.
if [ -f "$T/corvane.deb" ]; then
  capture install dpkg -i "$T/corvane.deb"
  MODSIM=corvane-modsim
else
  install -m 755 "$T/bin/corvane" "$T/bin/modsim" /usr/local/bin/ && echo 0 >"$R/install.rc"
fi
say "corvane $(corvane --version 2>&1 | head -n 1)"

# One adapter, plugged in at boot.
BY_ID=$(ls -d /dev/serial/by-id/*CVB0001* 2>/dev/null | head -n 1)
say "adapter: ${BY_ID:-none}"
capture ports corvane ports
capture ports_long corvane ports --long
capture ports_json corvane ports --long --format json
capture read corvane read --port "$BY_ID"
start=$(uptime_s)
capture program corvane program --port "$BY_ID" --name USB-STANDARD --pin 4321 --verify
echo "program_s standard $(awk -v a="$start" -v b="$(uptime_s)" 'BEGIN{print b-a}')" >>"$R/times"
start=$(uptime_s)
capture program_fast corvane program --port "$BY_ID" --name USB-FAST --pin 8765 --verify \
  --pace fast
echo "program_s fast $(awk -v a="$start" -v b="$(uptime_s)" 'BEGIN{print b-a}')" >>"$R/times"
capture read_after corvane read --port "$BY_ID"
# The node as udev made it, and doctor run as a user who is not in its group.
node=$(readlink -f "$BY_ID")
capture node stat -c '%U:%G %a' "$node"
capture doctor setpriv --reuid=4242 --regid=4242 --clear-groups corvane doctor --port "$node"

say "[usb] phase1 done"
# The host unplugs the adapter; udev removes the folder of links with it.
wait_for '! ls /dev/serial/by-path/* >/dev/null 2>&1' 300 || say "the adapter did not go"

# The station over the sockets the host plugs adapters into, until 20 s pass with no arrival
# (the host plugs the next adapter within 2 s of a socket coming free).
# corvane refuses to watch a folder that is not there yet, and udev removes by-path with the
# last adapter: the folder is made empty ahead, as a line PC would need it at boot.
S=/tmp/station
mkdir -p "$S" /dev/serial/by-path
: >"$S/events.jsonl"
tail -n +1 -F "$S/events.jsonl" 2>/dev/null | sed -u 's/^/[usb-event] /' &
follower=$!
corvane station --watch /dev/serial/by-path --ledger "$S/ledger.db" --name 'USB-{seq:04}' \
  --pin 2468 --verify --pace fast --events "$S/events.jsonl" --idle-exit 20 --quiet \
  >"$R/station.out" 2>"$R/station.err" &
station=$!
say "[usb] station watching"
timeout 400 tail --pid="$station" -f /dev/null
wait "$station"
echo $? >"$R/station.rc"
sleep 0.5
kill "$follower" 2>/dev/null
cp "$S/events.jsonl" "$R/events.jsonl"
capture ledger corvane ledger export --format jsonl --ledger "$S/ledger.db"
say "[usb] station done (exit $(cat "$R/station.rc"))"

# The shipped corvane.exe under 32-bit Wine. Wine's mount manager gives the machine's serial
# devices COM names when the wineserver starts: an adapter plugged in later is looked for
# under the running wineserver, then after a restart, then through a COM name mapped by hand
# to its by-id link before the wineserver starts (what a line PC would set up once).
WINEPREFIX=/root/work/wineprefix
export WINEPREFIX CORVANE_WINE=/usr/lib/wine/wine CORVANE_WINEARCH=win32
mkdir -p /tmp/bin
ln -sf /usr/lib/wine/wineserver32 /tmp/bin/wineserver
export PATH=/tmp/bin:$PATH
EXE=$T/win/corvane.exe
wine_start() {
  wineserver -p >/dev/null 2>&1 </dev/null
  "$T/src/scripts/wine-run.sh" wineboot >/dev/null 2>&1 </dev/null
}
com_names() { ls -l "$WINEPREFIX/dosdevices" | awk '/com[0-9]/{print $(NF-2), $NF}'; }
wine_exe() { timeout 120 "$T/src/scripts/wine-run.sh" "$EXE" "$@"; }
wine_start
com_names >"$R/wine_before.out"
say "[usb] wine up"
wait_for 'ls /dev/serial/by-id/*CVB0002* >/dev/null 2>&1' 300 || say "no second adapter"
BY_ID2=$(ls -d /dev/serial/by-id/*CVB0002* 2>/dev/null | head -n 1)
sleep 2
com_names >"$R/wine_hot.out"
capture wine_ports_hot wine_exe ports
wineserver -k
wine_start
com_names >"$R/wine_restart.out"
capture wine_ports_restart wine_exe ports
wineserver -k
ln -sfn "$BY_ID2" "$WINEPREFIX/dosdevices/com20"
wine_start
com_names >"$R/wine_mapped.out"
capture wine_ports wine_exe ports
capture wine_read wine_exe read --port COM20
wineserver -k
say "[usb] wine done"

echo "end_s $(uptime_s)" >>"$R/times"
touch "$R/done"
power_off
