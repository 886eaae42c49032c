"""The station's systemd unit as the package installs it (part of make test-deb):

  - systemd-analyze verify finds nothing wrong with it or an instance of it (no running systemd
    is needed: it loads the unit in a test manager of its own);
  - its ExecStart, run by hand as systemd would run it (the unit's state folder and its conf in a
    temporary folder, two modsims on pseudo-terminals for the jigs), programs modules with the
    board off the terminal, and a SIGTERM mid-run ends it with the exchanges under way finished:
    exit 130, and the events and the ledger in the state folder record them as interrupted.
"""
import json
import os
import shlex
import shutil
import signal
import subprocess
import tempfile
import time

UNIT = "lib/systemd/system/corvane-station@.service"
INSTANCE = "line1"


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def check_unit_verifies(root, check):
    if not shutil.which("systemd-analyze"):
        check(False, "systemd-analyze verify: not found (scripts/deps.sh installs systemd)")
        return
    # verify loads the unit in a test manager of its own, beside the host's units (the targets
    # it is wanted by and ordered after), and wants its program to exist: the copy it reads
    # names the package tree's corvane, and is otherwise the installed unit. An instance is what
    # systemctl enable makes of the template: both are verified. A key systemd does not know is
    # said, not failed: anything said fails here.
    with open(os.path.join(root, UNIT)) as f:
        text = f.read().replace("ExecStart=/usr/bin/corvane ",
                                f"ExecStart={root}/usr/bin/corvane ")
    with tempfile.TemporaryDirectory(prefix="check_unit.") as work:
        for name in ("corvane-station@.service", f"corvane-station@{INSTANCE}.service"):
            unit = os.path.join(work, name)
            with open(unit, "w") as f:
                f.write(text)
            out = run(["systemd-analyze", "verify", "--man=no", unit],
                      env=dict(os.environ, SYSTEMD_LOG_LEVEL="notice"))
            said = (out.stdout + out.stderr).strip()
            check(out.returncode == 0 and not said,
                  f"systemd-analyze verify {name}" + (f": {said}" if said else ""))


def exec_start(root, state, etc):
    """The unit's ExecStart as systemd would run it for INSTANCE, its paths moved into the test's
    folders: the program under root, the conf under etc, $STATE_DIRECTORY at state."""
    with open(os.path.join(root, UNIT)) as f:
        line = next(l for l in f if l.startswith("ExecStart="))[len("ExecStart="):].strip()
    line = line.replace("%i", INSTANCE).replace("${STATE_DIRECTORY}", state)
    args = shlex.split(line)
    args[0] = os.path.join(root, args[0].lstrip("/"))
    return [os.path.join(etc, a[len("/etc/"):]) if a.startswith("/etc/") else a for a in args]


def start_modsims(root, work, count):
    sims, ports = [], []
    for k in range(count):
        # The name and PIN replies come slowly, so the stop lands in the middle of programming.
        sim = subprocess.Popen([os.path.join(root, "usr/bin/corvane-modsim"), "--address",
                                f"00:1A:7D:DA:71:{k + 0x20:02X}", "--delay", "300", "--only", "NI",
                                "--state", os.path.join(work, f"state{k}")],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        sims.append(sim)
        ports.append(sim.stdout.readline().split()[-1])
    return sims, ports


def await_started(events, count, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if os.path.exists(events):
            with open(events) as f:
                if sum('"event":"started"' in line for line in f) >= count:
                    return True
        time.sleep(0.1)
    return False


def lines_of(text):
    return [json.loads(line) for line in text.splitlines() if line.strip()]


def check_stop_mid_run(root, work, station, ports, check):
    state = os.path.join(work, "state", INSTANCE)
    events = os.path.join(state, "events.jsonl")
    started = await_started(events, len(ports))
    check(started, f"the unit's station starts programming both modules: {station.args}")
    station.send_signal(signal.SIGTERM)
    try:
        _, err = station.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        station.kill()
        _, err = station.communicate()
    check(station.returncode == 130 and "every port is closed" in err,
          f"SIGTERM stops it cleanly within TimeoutStopSec: exit {station.returncode}, {err!r}")
    # The board's lines name their slot; corvane's own messages alone may reach the journal.
    check(all(line.startswith("corvane: ") for line in err.splitlines()),
          "no board on its stderr (--quiet): the board is the browser's")
    if not started:
        return
    with open(events) as f:
        failed = [e for e in lines_of(f.read()) if e["event"] == "failed"]
    check(sorted(e["port"] for e in failed) == sorted(ports)
          and all(e["result"] == "interrupted" for e in failed),
          f"its events in $STATE_DIRECTORY end both modules as interrupted: {failed}")
    out = run([os.path.join(root, "usr/bin/corvane"), "ledger", "export", "--format", "jsonl",
               "--ledger", os.path.join(state, "ledger.db")])
    rows = lines_of(out.stdout) if out.returncode == 0 else []
    check(len(rows) == len(ports) and all(r["result"] == "interrupted" for r in rows),
          f"its ledger in $STATE_DIRECTORY records them: {out.stdout.strip() or out.stderr.strip()}")
    for k in range(len(ports)):
        with open(os.path.join(work, f"state{k}")) as f:
            sim = dict(l.strip().split("=", 1) for l in f if "=" in l)
        check(sim.get("malformed") == "0", f"module {k} saw no exchange cut short: {sim}")


def check_service_run(root, check):
    with tempfile.TemporaryDirectory(prefix="check_service.") as work:
        state = os.path.join(work, "state", INSTANCE)
        os.makedirs(state, mode=0o700)
        etc = os.path.join(work, "etc")
        os.makedirs(os.path.join(etc, "corvane"))
        sims, ports = start_modsims(root, work, 2)
        try:
            with open(os.path.join(etc, "corvane", f"station-{INSTANCE}.conf"), "w") as f:
                f.write("# the jigs\n--ports " + ",".join(ports) + '\n--name "SVC-{seq:02}"\n'
                        "--pace fast   # as a line would\n")
            args = exec_start(root, state, etc)
            # As systemd starts it: no terminal, its own folder, $STATE_DIRECTORY set.
            station = subprocess.Popen(args, cwd=work, stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                       env=dict(os.environ, STATE_DIRECTORY=state))
            check_stop_mid_run(root, work, station, ports, check)
        finally:
            for sim in sims:
                sim.terminate()
                sim.wait()
