#!/usr/bin/env python3
"""USB serial adapters plugged into the emulated PC: make test-usb.

    run_usb.py [--source DIR] [--work DIR] [--deb FILE] [--time-limit S] [--seed N]

The guest of make test-shipped (its image and helpers are run_vm32.py's) gets an xHCI controller
and qemu's emulated FTDI-type USB serial chips, whose far ends are modsims on pseudo-terminals
of this machine. In the guest, the kernel's ftdi_sio driver and udev make /dev/ttyUSB* and the
/dev/serial/by-id and by-path links, as on a line PC; the native corvane (the package's, with
--deb) lists, reads, programs and diagnoses one adapter, then a station watches
/dev/serial/by-path while this script plugs and unplugs four adapters through qemu's monitor
(QMP), twelve modules in all, one of them pulled in the middle of its programming. Last, the
shipped 32-bit corvane.exe under Wine: an adapter plugged in while the wineserver runs, after
its restart, and through a COM name linked to the adapter's by-id name.

The guest's script is tests/vm32/guest-usb.sh; it reports over the console ("[usb] ..." lines
and the station's events) and leaves what it ran in its results archive, judged here. Closes
with 'N passed, N failed'; the figures (plug to first byte, both paces) come just before it.
"""
import argparse
import json
import os
import queue
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
import run_vm32  # noqa: E402
import usb_checks  # noqa: E402

SOCKETS = 4  # adapters in the station, one per port of the controller
MODULES = 12
INTERRUPTED = 6  # the module pulled in the middle of its programming
FIRST_BOARD = "CVB0001"  # the adapter of the first checks, plugged in at boot
WINE_BOARD = "CVB0002"  # the adapter plugged in while Wine runs
WINDOWS_EXE = "build/windows/cli/corvane.exe"  # the shipped 32-bit command line


def address(module):
    return f"00:1A:7D:00:00:{module:02X}"


def say(message):
    print(f"test-usb: {message}", flush=True)


class Modsim:
    """A modsim on a pty of its own: the far end of one emulated adapter."""

    def __init__(self, binary, work, name, module_address=None):
        self.state_path = os.path.join(work, f"{name}.state")
        args = [binary, "--state", self.state_path,
                "--transcript", os.path.join(work, f"{name}.transcript")]
        args += ["--address", module_address] if module_address else ["--absent"]
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True, bufsize=1)
        first = self.proc.stdout.readline().split()
        if len(first) != 2 or first[0] != "PTY":
            raise RuntimeError(f"modsim did not start: {first}")
        self.pty = first[1]

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().strip()
        if not answer.startswith("OK"):
            raise RuntimeError(f"modsim refused '{line}': {answer}")

    def state(self):
        """The state file as a dict; a line the file's rewriting cut in two is simply left out."""
        try:
            with open(self.state_path) as f:
                return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        except OSError:
            return {}

    def synced_state(self):
        self.proc.send_signal(signal.SIGUSR1)
        while self.proc.stdout.readline().strip() != "SYNC":
            pass
        return self.state()

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


class Monitor:
    """qemu's QMP socket: one command at a time, its events skipped."""

    def __init__(self, path, deadline=60):
        end = time.monotonic() + deadline
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > end:
                    raise
                time.sleep(0.2)
        # A guest that stops answering ends the run instead of holding it.
        self.sock.settimeout(60)
        self.file = self.sock.makefile("r")
        self.file.readline()  # the greeting
        self.deleted = set()
        self.execute("qmp_capabilities")

    def execute(self, command, **arguments):
        self.sock.sendall(json.dumps({"execute": command, "arguments": arguments}).encode())
        while True:
            reply = self._next()
            if "error" in reply:
                raise RuntimeError(f"{command}: {reply['error'].get('desc')}")
            if "return" in reply:
                return reply["return"]

    def _next(self):
        reply = json.loads(self.file.readline())
        if reply.get("event") == "DEVICE_DELETED":
            self.deleted.add(reply.get("data", {}).get("device"))
        return reply

    def unplug(self, device):
        """device_del, and the wait until qemu has let go of the adapter's chardev: only then
        can another adapter be plugged onto the same far end."""
        self.execute("device_del", id=device)
        while device not in self.deleted:
            self._next()


class Line:
    """The four sockets of the station and the modules that go through them: plugs a module's
    adapter when a socket is free, unplugs it a moment after the station's ok, and pulls the
    interrupted module while the station programs it. Keeps what it did, for the checks."""

    def __init__(self, monitor, modsims, rng):
        self.monitor, self.modsims, self.rng = monitor, modsims, rng
        self.waiting = list(range(1, MODULES + 1))
        self.on = {}  # socket -> module on it
        self.due = {}  # socket -> (monotonic time, "plug" or "unplug")
        self.plugged_at, self.started = {}, {}
        self.log = []  # (socket, "plug"/"unplug", module)
        self.first_byte = []  # seconds from device_add to the module's first probe
        self.pulled = None  # the interrupted module's state at the moment it was pulled
        self.serial = 0
        now = time.monotonic()
        for s in range(1, SOCKETS + 1):
            self.due[s] = (now + rng.uniform(0, 1.0), "plug")

    def plug(self, s):
        module = self.waiting.pop(0)
        self.modsims[s].command(f"insert --address {address(module)}")
        self.serial += 1
        self.monitor.execute("device_add", driver="usb-serial", id=f"a{s}n{self.serial}",
                             bus="xhci.0", port=str(s), chardev=f"c{s}",
                             serial=f"CVB{100 + module:04d}")
        self.on[s] = (module, f"a{s}n{self.serial}")
        self.plugged_at[s] = time.monotonic()
        self.log.append((s, "plug", module))

    def unplug(self, s):
        module, device = self.on.pop(s)
        self.monitor.unplug(device)
        if module == INTERRUPTED and self.pulled is None:
            self.pulled = self.modsims[s].synced_state()
            self.waiting.append(module)
        self.modsims[s].command("remove")
        self.log.append((s, "unplug", module))
        self.started.pop(s, None)
        if self.waiting:
            self.due[s] = (time.monotonic() + self.rng.uniform(0.3, 1.5), "plug")

    def event(self, e):
        m = re.search(r"usb-0:(\d+):1\.0", e.get("port", ""))
        s = int(m.group(1)) if m else None
        if s not in self.on:
            return
        if e["event"] == "started":
            self.started[s] = int(self.modsims[s].state().get("commands", 0))
        elif e["event"] in ("ok", "failed") and s not in self.due:
            self.due[s] = (time.monotonic() + self.rng.uniform(0.2, 1.0), "unplug")

    def tick(self):
        now = time.monotonic()
        for s, (when, what) in list(self.due.items()):
            if when <= now:
                del self.due[s]
                self.plug(s) if what == "plug" else self.unplug(s)
        for s, since in list(self.plugged_at.items()):
            if s in self.on and int(self.modsims[s].state().get("probes", 0)) > 0:
                self.first_byte.append(now - since)
                del self.plugged_at[s]
        for s, (module, _) in list(self.on.items()):
            # Two commands into its writes: the name is sent, the rest not yet.
            if module == INTERRUPTED and self.pulled is None and s in self.started and \
                    int(self.modsims[s].state().get("commands", 0)) >= self.started[s] + 2:
                self.due.pop(s, None)
                self.unplug(s)

    def finished(self):
        return not self.waiting and not self.on


def drive(lines, monitor, modsims, rng, limit):
    """Follows the guest's console until its station is done; returns the Line, or None when
    the guest never got that far."""
    line = None
    end = time.monotonic() + limit
    while time.monotonic() < end:
        try:
            text = lines.get(timeout=0.05)
        except queue.Empty:
            text = ""
        if text.endswith("[usb] phase1 done"):
            monitor.unplug("first")
            modsims[1].command("remove")
        elif text.endswith("[usb] station watching"):
            line = Line(monitor, modsims, rng)
        elif text.startswith("[usb-event] ") and line is not None:
            try:
                line.event(json.loads(text[len("[usb-event] "):]))
            except ValueError:
                pass
        elif text.endswith("[usb] wine up"):
            modsims[2].command(f"insert --address {address(0xB0)}")
            monitor.execute("device_add", driver="usb-serial", id="wine", bus="xhci.0", port="2",
                            chardev="c2", serial=WINE_BOARD)
        elif "[usb] wine done" in text or text == "\0":
            return line
        if line is not None:
            line.tick()
    return line


def stage(source, work, binaries, deb):
    payload = os.path.join(work, "payload")
    shutil.rmtree(payload, ignore_errors=True)
    os.makedirs(os.path.join(payload, "guest"))
    os.makedirs(os.path.join(payload, "bin"))
    shutil.copy2(os.path.join(HERE, "guest-usb.sh"), os.path.join(payload, "guest", "run.sh"))
    os.makedirs(os.path.join(payload, "win"))
    shutil.copy2(os.path.join(source, WINDOWS_EXE), os.path.join(payload, "win", "corvane.exe"))
    for rel in ("scripts/wine-run.sh", "scripts/wine-env.sh"):
        os.makedirs(os.path.join(payload, "src", "scripts"), exist_ok=True)
        shutil.copy2(os.path.join(source, rel), os.path.join(payload, "src", rel))
    if deb:
        shutil.copy2(deb, os.path.join(payload, "corvane.deb"))
    else:
        for name, path in binaries.items():
            shutil.copy2(path, os.path.join(payload, "bin", name))
    disk = os.path.join(work, "tests.img")
    run_vm32.make_disk(payload, disk, 16)
    return disk


def qemu_args(modsims, qmp, trace_log, kvm):
    # Under KVM the host's own CPU, without the capabilities MSR a nested KVM refuses; a later
    # -cpu replaces boot.sh's. The controller sits where a PC's Intel xHCI usually does, so that
    # by-path names look familiar.
    args = ["-cpu", "host,-arch-capabilities"] if kvm else []
    args += ["-device", "qemu-xhci,id=xhci,addr=0x14", "-qmp", f"unix:{qmp},server=on,wait=off",
            "-trace", "usb_serial_*", "-D", trace_log]
    for s, sim in modsims.items():
        args += ["-chardev", f"serial,id=c{s},path={sim.pty}"]
    args += ["-device", f"usb-serial,id=first,bus=xhci.0,port=1,chardev=c1,serial={FIRST_BOARD}"]
    return args


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--source", default=run_vm32.SOURCE)
    ap.add_argument("--work", default=None, help="default: SOURCE/build/vm32-usb")
    ap.add_argument("--deb", help="the Linux package to install in the guest (default: the "
                    "native build's corvane and modsim)")
    ap.add_argument("--time-limit", type=int, default=600)
    ap.add_argument("--seed", type=int, default=int(time.time()) % 100000)
    args = ap.parse_args()
    source = os.path.abspath(args.source)
    work = os.path.abspath(args.work or os.path.join(source, "build", "vm32-usb"))
    os.makedirs(work, exist_ok=True)
    native = os.path.join(source, "build", "native")
    binaries = {"corvane": os.path.join(native, "cli", "corvane"),
                "modsim": os.path.join(native, "tools", "modsim", "modsim")}
    missing = [p for p in binaries.values() if not os.path.isfile(p)]
    missing += [WINDOWS_EXE] if not os.path.isfile(os.path.join(source, WINDOWS_EXE)) else []
    if missing:
        run_vm32.fail("not built: " + ", ".join(missing) + " (make native windows builds them)")
    say(f"seed {args.seed} (--seed {args.seed} plays the same moments again)")
    rng = random.Random(args.seed)

    image, image_s = run_vm32.build_image(source)
    tests_disk = stage(source, work, binaries, args.deb)
    results_disk = os.path.join(work, "results.img")
    with open(results_disk, "wb") as f:
        f.truncate(64 << 20)
    modsims = {s: Modsim(binaries["modsim"], work, f"socket{s}",
                         address(0xA0) if s == 1 else None) for s in range(1, SOCKETS + 1)}
    qmp = os.path.join(work, "qmp.sock")
    if os.path.exists(qmp):
        os.unlink(qmp)
    env = dict(os.environ)
    # TCG as test-shipped boots it; CORVANE_VM_ACCEL=kvm asks for KVM where it works (on this
    # nested KVM the guest's kernel never printed a line).
    lines = queue.Queue()
    outcome = {}

    def run_guest():
        outcome["boot"] = run_vm32.boot(image, tests_disk, results_disk,
                                        os.path.join(work, "console.log"), args.time_limit,
                                        qemu_args(modsims, qmp, os.path.join(work, "trace.log"),
                                                  env.get("CORVANE_VM_ACCEL") == "kvm"),
                                        lines.put, env)
        lines.put("\0")

    say(f"booting the emulated PC ({env.get('CORVANE_VM_ACCEL', 'tcg')}, "
        f"limit {args.time_limit} s)")
    guest = threading.Thread(target=run_guest, daemon=True)
    guest.start()
    try:
        line = drive(lines, Monitor(qmp), modsims, rng, args.time_limit)
    except (OSError, RuntimeError) as e:
        say(f"driving the adapters failed: {e}")
        line = None
    guest.join(args.time_limit + 30)
    for sim in modsims.values():
        sim.stop()

    results = os.path.join(work, "results")
    have = run_vm32.read_results(results_disk, results)
    print()
    passed, failed = usb_checks.judge(results if have else None, line, address, INTERRUPTED,
                                      MODULES)
    in_time, _, vm_s = outcome.get("boot", (False, None, 0))
    if not in_time:
        print(f"FAIL the guest did not power off within {args.time_limit} s")
        failed += 1
    usb_checks.figures(results if have else None, line, os.path.join(work, "trace.log"))
    say(f"image {image_s:.0f} s ({image}), whole run {vm_s:.0f} s")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
