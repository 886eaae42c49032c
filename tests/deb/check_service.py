"""The station's systemd unit as the package installs it (part of make test-deb): its example conf
is the station's options; systemd-analyze verify finds nothing to say of it or an instance (no
running systemd needed); and its ExecStart, run by hand as systemd would (state folder and conf
in a temporary folder, modsims on pseudo-terminals), stops cleanly on SIGTERM mid-run with the
exchanges under way finished and recorded in the state folder's events and ledger.
"""
import json
import os
import shlex
import signal
import subprocess
import tempfile
import time

UNIT = "lib/systemd/system/corvane-station@.service"


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def check_unit(root, check):
    corvane = os.path.join(root, "usr/bin/corvane")
    example = os.path.join(root, "usr/share/doc/corvane/examples/station-line1.conf")
    out = run([corvane, "station", "--options-file", example, "--help"])
    check(out.returncode == 0, f"the example conf is the station's options {out.stderr.strip()}")
    # verify loads the unit beside the host's own units and wants its program to exist: the copy
    # it reads names the package tree's corvane. A key it does not know is only said: anything
    # said fails here.
    with open(os.path.join(root, UNIT)) as f:
        text = f.read().replace("ExecStart=/usr/bin/corvane ", f"ExecStart={corvane} ")
    with tempfile.TemporaryDirectory() as work:
        for name in ("corvane-station@.service", "corvane-station@line1.service"):
            with open(os.path.join(work, name), "w") as f:
                f.write(text)
            out = run(["systemd-analyze", "verify", "--man=no", os.path.join(work, name)],
                      env=dict(os.environ, SYSTEMD_LOG_LEVEL="notice"))
            said = (out.stdout + out.stderr).strip()
            check(out.returncode == 0 and not said, f"systemd-analyze verify {name} {said}")


def check_service_run(root, check):
    with tempfile.TemporaryDirectory() as work:
        state, etc = os.path.join(work, "line1"), os.path.join(work, "etc")
        os.makedirs(state)
        # The name and PIN replies come slowly, so the stop lands in the middle of programming.
        sims = [subprocess.Popen([f"{root}/usr/bin/corvane-modsim", "--address", f"00:1A:7D:DA:71:2{k}",
                                  "--delay", "300", "--only", "NI", "--state", f"{work}/sim{k}"],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                for k in range(2)]
        ports = [sim.stdout.readline().split()[-1] for sim in sims]
        os.makedirs(f"{etc}/corvane")
        with open(f"{etc}/corvane/station-line1.conf", "w") as f:
            f.write(f"# jigs\n--ports {','.join(ports)}\n--name 'SVC-{{seq:02}}'\n--pace fast\n")
        with open(os.path.join(root, UNIT)) as f:
            line = next(l for l in f if l.startswith("ExecStart=")).split("=", 1)[1]
        args = shlex.split(line.replace("%i", "line1").replace("${STATE_DIRECTORY}", state))
        args = [root + a if a.startswith("/usr/") else etc + a[4:] if a.startswith("/etc/") else a
                for a in args]
        # As systemd starts it: no terminal, $STATE_DIRECTORY set.
        station = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True,
                                   env=dict(os.environ, STATE_DIRECTORY=state))
        events = os.path.join(state, "events.jsonl")
        for _ in range(300):
            if os.path.exists(events) and open(events).read().count('"started"') == 2:
                break
            time.sleep(0.1)
        station.send_signal(signal.SIGTERM)
        try:
            _, err = station.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            station.kill()
            _, err = station.communicate()
        for sim in sims:
            sim.terminate()
            sim.wait()
        # The board's lines name their slot: corvane's own messages alone reach the journal.
        check(station.returncode == 130 and "every port is closed" in err
              and all(l.startswith("corvane: ") for l in err.splitlines()),
              f"the unit's command line stops on SIGTERM, exit 130, no board: {err!r}")
        ended = [json.loads(l) for l in open(events) if '"failed"' in l] if os.path.exists(events) else []
        out = run([f"{root}/usr/bin/corvane", "ledger", "export", "--format", "jsonl", "--ledger",
                   f"{state}/ledger.db"])
        rows = [json.loads(l) for l in out.stdout.splitlines()]
        sims = [open(f"{work}/sim{k}").read() for k in range(2)]
        check(sorted(e["port"] for e in ended) == sorted(ports)
              and all(e["result"] == r["result"] == "interrupted" for e, r in zip(ended, rows))
              and len(rows) == 2 and all("\nmalformed=0\n" in s for s in sims),
              f"both exchanges under way finished, as the events and ledger in $STATE_DIRECTORY say: {ended} {rows}")
