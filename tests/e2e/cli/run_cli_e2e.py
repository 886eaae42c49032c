#!/usr/bin/env python3
"""corvane.exe, the Windows console build, under Wine against modsim on COM5.

    run_cli_e2e.py --exe CORVANE_EXE --driver UIDRIVER --modsim MODSIM --work DIR
                   [--native-corvane CORVANE]

Through Wine's serial layer: `ports` lists the simulator's COM5 alone, `read --format json`
gives the module's settings, `program` stores all four in the module and `--verify` reads them
back, a bad option is refused before any port is touched, `gang` (worker threads) programs one
module and two at once and writes its report, `pair` makes two modules on COM5 and COM6 call
each other, `station` takes modules on two slots and on the listing, and Ctrl-C ends a Read
through the console's control handler. With an SQLite ledger, `program --ledger` binds the
module to a number, records it (`ledger show` and `export` give the row), leaves it alone the
next time, and refuses a PostgreSQL URL; the file it wrote is read by another SQLite (Python's)
and, when given, by the native `corvane ledger show`.
"""
import json
import os
import re
import signal
import sqlite3
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from e2elib import WINE, Env, run_checks, runner_args  # noqa: E402

MODULE = ["--address", "00:1A:7D:DA:71:13", "--peer", "00:12:6F:34:56:78",
          "--name", "CORVANE-BT", "--pin", "1234", "--role", "slave"]


def corvane(env, *args, timeout=120):
    """Runs corvane.exe; returns its exit code, stdout and stderr."""
    session = env.session
    # Output goes through files, not pipes: Wine's services, started by the first program of
    # the prefix, inherit its handles and would hold a pipe open long after the program ended.
    out_path = os.path.join(session.work, "corvane.out")
    err_path = os.path.join(session.work, "corvane.err")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        code = subprocess.run([WINE, env.args.exe, *args], env=session.env,
                              stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                              timeout=timeout).returncode

    def text(path):
        return open(path, encoding="utf-8", errors="replace").read().replace("\r\n", "\n")
    return code, text(out_path), text(err_path)


def test_ports(env, check):
    sim = env.modsim(*MODULE)
    code, out, err = corvane(env, "ports", "--format", "json")
    sim.stop()
    check.eq("exit code", code, 0)
    check.eq("ports", [p["port"] for p in json.loads(out)["ports"]] if code == 0 else err,
             ["COM5"])


def test_read_json(env, check):
    sim = env.modsim(*MODULE)
    code, out, err = corvane(env, "read", "--format", "json")
    sim.stop()
    check.eq("exit code", (code, err), (0, ""))
    check.eq("read", json.loads(out) if out.strip() else out,
             {"port": "COM5", "address": "00:1A:7D:DA:71:13", "name": "CORVANE-BT",
              "pin": "1234", "role": "slave", "peer": "00:12:6F:34:56:78", "result": "ok",
              "pace": "standard", "fell_back": False})


def test_program(env, check):
    sim = env.modsim(*MODULE)
    code, out, err = corvane(env, "program", "--port", "COM5", "--name", "BENCH-07", "--pin",
                             "4711", "--role", "master", "--peer", "01-02-0A-0B-C0-FF")
    state = sim.stop()
    check.eq("exit code", (code, err), (0, ""))
    check.eq("module", {k: state.get(k) for k in ("name", "pin", "role", "peer")},
             {"name": "BENCH-07", "pin": "4711", "role": "master", "peer": "01:02:0A:0B:C0:FF"})
    check.eq("printed", out.splitlines()[0] if out else out, "Port:           COM5")


def test_program_verify(env, check):
    """--verify reads the settings back before the turn-off; a module that acknowledges a name
    but keeps its old one is a difference (exit status 3), the others are stored."""
    sim = env.modsim(*MODULE)
    code, out, err = corvane(env, "program", "--name", "VERIFIED", "--pin", "2468", "--verify",
                             "--turn-off")
    state = sim.stop()
    check.eq("exit code", (code, err), (0, ""))
    check.eq("verified", "Verified:       yes" in out, True)
    check.eq("module", {k: state.get(k) for k in ("name", "pin", "radio")},
             {"name": "VERIFIED", "pin": "2468", "radio": "off"})

    sim = env.modsim(*MODULE, "--no-store", "N")
    code, out, err = corvane(env, "program", "--name", "IGNORED", "--pin", "1357", "--verify")
    state = sim.stop()
    check.eq("exit code with a difference", code, 3)
    check.eq("difference shown", "Verified:       no" in out, True)
    check.eq("module with a difference", (state.get("name"), state.get("pin")),
             ("CORVANE-BT", "1357"))


def test_refused_option(env, check):
    sim = env.modsim(*MODULE)
    code, out, err = corvane(env, "program", "--pin", "123456789")
    state = sim.stop()
    check.eq("exit code", code, 64)
    check.eq("one line naming the option", (err.count("\n"), "--pin" in err), (1, True))
    check.eq("nothing sent", (state.get("probes"), state.get("commands")), ("0", "0"))


def test_gang(env, check):
    sim = env.modsim(*MODULE)
    report = os.path.join(env.session.work, "gang.jsonl")
    if os.path.exists(report):
        os.unlink(report)
    # Wine's drive Z: is the Linux root.
    code, out, err = corvane(env, "gang", "--name", "W-{seq:02}", "--pin", "{addr4}", "--quiet",
                             "--report", "Z:" + report.replace("/", "\\"))
    state = sim.stop()
    check.eq("exit code", (code, err), (0, ""))
    check.eq("module", (state.get("name"), state.get("pin")), ("W-01", "7113"))
    rows = [json.loads(line) for line in open(report)] if os.path.exists(report) else []
    check.eq("report", [(r["port"], r["old_name"], r["new_name"], r["result"]) for r in rows],
             [("COM5", "CORVANE-BT", "W-01", "ok")])


def test_gang_two_ports(env, check):
    """Two modules at once, one worker thread each: numbered in port order, each PIN from its
    own address."""
    first = env.modsim(*MODULE)
    second = env.modsim("--address", "00:1A:7D:DA:42:A7", "--name", "SECOND", port="COM6")
    report = os.path.join(env.session.work, "gang2.jsonl")
    if os.path.exists(report):
        os.unlink(report)
    code, out, err = corvane(env, "gang", "--ports", "COM5,COM6", "--name", "G-{seq:02}",
                             "--pin", "{addr4}", "--quiet", "--report",
                             "Z:" + report.replace("/", "\\"))
    states = [first.stop(), second.stop()]
    check.eq("exit code", (code, err), (0, ""))
    check.eq("modules", [(s.get("name"), s.get("pin")) for s in states],
             [("G-01", "7113"), ("G-02", "42A7")])
    rows = [json.loads(line) for line in open(report)] if os.path.exists(report) else []
    check.eq("report", sorted((r["port"], r["old_name"], r["new_name"], r["result"])
                              for r in rows),
             [("COM5", "CORVANE-BT", "G-01", "ok"), ("COM6", "SECOND", "G-02", "ok")])


def test_station(env, check):
    """A station with two slots: each module programmed once, the events on stdout; then a
    station over the port listing (rescanned, since Windows has no folder of port names)."""
    first = env.modsim(*MODULE)
    second = env.modsim("--address", "00:1A:7D:DA:42:A7", "--name", "SECOND", port="COM6")
    code, out, err = corvane(env, "station", "--ports", "COM5,COM6", "--name", "S-{addr4}",
                             "--pace", "fast", "--quiet", "--count", "2", "--events", "-",
                             timeout=60)
    states = [first.stop(), second.stop()]
    check.eq("exit code", code, 0)
    check.eq("modules", [s.get("name") for s in states], ["S-7113", "S-42A7"])
    events = [json.loads(line) for line in out.splitlines() if line.strip()]
    check.eq("events", sorted((e["port"], e["event"]) for e in events if e["event"] != "started"),
             [("COM5", "arrived"), ("COM5", "ok"), ("COM6", "arrived"), ("COM6", "ok")])
    last = err.splitlines()[-1] if err.strip() else err
    check.eq("summary", last.startswith("corvane: ok 2  failed 0"), True)

    sim = env.modsim(*MODULE)
    code, out, err = corvane(env, "station", "--name", "L-{addr4}", "--pace", "fast", "--quiet",
                             "--count", "1", timeout=60)
    check.eq("listing: exit code", code, 0)
    check.eq("listing: module", sim.stop().get("name"), "L-7113")


def setting_commands(sim):
    """The setting commands a module heard, as letters: name N, PIN I, role M or S, peer E."""
    return "".join(re.findall(r"EV command [0-9]+ ([NIMSE])", open(sim.transcript).read()))


def test_pair(env, check):
    """Two modules on COM5 and COM6 made a pair: each reads once, then the master is given role
    master and the slave's address, the slave role slave and the master's, one PIN on both."""
    master = env.modsim("--address", "00:1A:7D:00:00:0A", "--pin", "1111", "--name", "HEAD")
    slave = env.modsim("--address", "00:1A:7D:00:00:0B", "--pin", "2222", "--role", "master",
                       port="COM6")
    code, out, err = corvane(env, "pair", "--master", "COM5", "--slave", "COM6",
                             "--slave-name", "TAIL", "--format", "json")
    heard = [setting_commands(master), setting_commands(slave)]
    states = [master.stop(), slave.stop()]
    check.eq("exit code", (code, err), (0, ""))
    keys = ("name", "pin", "role", "peer")
    check.eq("master", {k: states[0].get(k) for k in keys},
             {"name": "HEAD", "pin": "1111", "role": "master", "peer": "00:1A:7D:00:00:0B"})
    check.eq("slave", {k: states[1].get(k) for k in keys},
             {"name": "TAIL", "pin": "1111", "role": "slave", "peer": "00:1A:7D:00:00:0A"})
    check.eq("setting commands heard", heard, ["NIME", "NISE"])
    result = json.loads(out) if code == 0 and out.strip() else {}
    check.eq("printed", [result.get(side, {}).get("result") for side in ("master", "slave")],
             ["ok", "ok"])

    # One adapter needs the operator's console; here stdin is no console.
    sim = env.modsim(*MODULE)
    code, out, err = corvane(env, "pair", "--port", "COM5")
    state = sim.stop()
    check.eq("one port without a console", (code, err.count("\n"), "not a console" in err),
             (64, 1, True))
    check.eq("nothing sent", (state.get("probes"), state.get("commands")), ("0", "0"))


def test_ledger(env, check):
    """program --ledger on a file: number 1 bound and written, the attempt recorded; a second
    run finds the module already programmed and sends it nothing; the file is one format with
    the native build's."""
    path = os.path.join(env.session.work, "ledger.db")
    for name in ("ledger.db", "ledger.db-wal", "ledger.db-shm"):
        if os.path.exists(os.path.join(env.session.work, name)):
            os.unlink(os.path.join(env.session.work, name))
    ledger = "Z:" + path.replace("/", "\\")
    sim = env.modsim(*MODULE)
    code, out, err = corvane(env, "program", "--port", "COM5", "--ledger", ledger, "--station",
                             "wine-1", "--name", "W-{seq:03}", "--pin", "{addr4}", "--quiet")
    state = sim.stop()
    check.eq("exit code", (code, err), (0, ""))
    check.eq("module", (state.get("name"), state.get("pin")), ("W-001", "7113"))
    check.eq("number printed", "Number:         1" in out, True)

    code, out, err = corvane(env, "ledger", "show", "00:1A:7D:DA:71:13", "--ledger", ledger,
                             "--format", "json")
    shown = json.loads(out) if code == 0 and out.strip() else {}
    check.eq("show", (code, shown.get("number"), shown.get("name"), shown.get("pin")),
             (0, 1, "W-001", "7113"))
    check.eq("show attempts", [(a.get("station"), a.get("port"), a.get("result"))
                               for a in shown.get("attempts", [])], [("wine-1", "COM5", "ok")])
    code, out, err = corvane(env, "ledger", "export", "--format", "jsonl", "--ledger", ledger)
    rows = [json.loads(line) for line in out.splitlines()] if code == 0 else []
    check.eq("export", [(r["address"], r["number"], r["before_name"], r["name"], r["result"])
                        for r in rows], [("00:1A:7D:DA:71:13", 1, "CORVANE-BT", "W-001", "ok")])

    # The module again, holding what it was given: the ledger knows it by its address.
    sim = env.modsim(*MODULE, "--name", "W-001", "--pin", "7113")
    code, out, err = corvane(env, "program", "--port", "COM5", "--ledger", ledger, "--name",
                             "W-{seq:03}", "--quiet")
    state = sim.stop()
    check.eq("second run", (code, "already programmed" in err), (0, True))
    check.eq("second run sends no setting", (state.get("name"), state.get("commands")),
             ("W-001", "6"))
    # The same module wiped back to its factory name: it differs from the ledger, a failure.
    sim = env.modsim(*MODULE)
    code, out, err = corvane(env, "program", "--port", "COM5", "--ledger", ledger, "--name",
                             "W-{seq:03}", "--quiet")
    state = sim.stop()
    check.eq("wiped module", (code, 'holds name "CORVANE-BT" (recorded "W-001")' in err), (2, True))
    check.eq("wiped module sends no setting", state.get("commands"), "6")

    # No PostgreSQL in the Windows build: one line, exit 4, no byte to the module.
    sim = env.modsim(*MODULE)
    code, out, err = corvane(env, "program", "--ledger", "postgresql://station@db.line/ledger",
                             "--name", "X")
    state = sim.stop()
    check.eq("URL refused", (code, err.count("\n"), "no PostgreSQL ledger" in err), (4, 1, True))
    check.eq("nothing sent for a URL", (state.get("probes"), state.get("commands")), ("0", "0"))

    # Another build of SQLite (Python's, the system's library) reads the same file whole.
    db = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
    try:
        check.eq("integrity", db.execute("PRAGMA integrity_check").fetchone()[0], "ok")
        check.eq("bound", db.execute("SELECT number, address, name FROM ledger_modules").fetchall(),
                 [(1, "00:1A:7D:DA:71:13", "W-001")])
    finally:
        db.close()
    native = env.args.native_corvane
    if native:
        check.eq("native corvane built (make native)", os.path.isfile(native), True)
    if native and os.path.isfile(native):
        run = subprocess.run([native, "ledger", "show", "W-001", "--ledger", path, "--format",
                              "json"], capture_output=True, text=True, timeout=60)
        shown = json.loads(run.stdout) if run.returncode == 0 and run.stdout.strip() else {}
        check.eq("native show", (run.returncode, run.stderr, shown.get("number"),
                                 shown.get("address"), len(shown.get("attempts", []))),
                 (0, "", 1, "00:1A:7D:DA:71:13", 1))


def test_ctrl_c(env, check):
    """Ctrl-C in the middle of a Read (SIGINT, which Wine hands to the console's control
    handler): exit status 130, one line saying the port is closed, the Read cut short."""
    sim = env.modsim(*MODULE)
    err_path = os.path.join(env.session.work, "ctrl-c.err")
    with open(err_path, "wb") as err:
        proc = subprocess.Popen([WINE, env.args.exe, "read", "--quiet"], env=env.session.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
    try:
        # The handler is in place once the program talks to the module.
        deadline = time.monotonic() + 120
        while "EV command 2 " not in open(sim.transcript).read():
            if proc.poll() is not None or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        proc.send_signal(signal.SIGINT)
        code = proc.wait(30)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    state = sim.stop()
    err = open(err_path, encoding="utf-8", errors="replace").read().replace("\r\n", "\n")
    check.eq("exit code", code, 130)
    check.eq("one line", (err.count("\n"), "interrupted" in err and "closed" in err), (1, True))
    check.eq("Read cut short", int(state.get("commands", "6")) < 6, True)


CHECKS = [("ports", test_ports), ("read_json", test_read_json), ("program", test_program),
          ("program_verify", test_program_verify), ("refused_option", test_refused_option),
          ("gang", test_gang), ("gang_two_ports", test_gang_two_ports), ("pair", test_pair),
          ("station", test_station), ("ledger", test_ledger),
          ("ctrl_c", test_ctrl_c)]


def main():
    ap = runner_args(__doc__.splitlines()[0])
    ap.add_argument("--only", nargs="*")
    ap.add_argument("--native-corvane", help="the native corvane, to read the ledger file too")
    args = ap.parse_args()
    env = Env(args, want_own_display=False)
    try:
        ran, passed = run_checks(env, CHECKS, args.only)
    finally:
        env.close()
    print(f"{passed}/{ran} passed")
    return 0 if ran and passed == ran else 1


if __name__ == "__main__":
    sys.exit(main())
