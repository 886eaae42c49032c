#!/usr/bin/env python3
"""corvane.exe, the Windows console build, under Wine against modsim on COM5.

    run_cli_e2e.py --exe CORVANE_EXE --modsim MODSIM --work DIR

Checks, end to end through Wine's serial layer: `ports` lists the simulator's COM5,
`read --format json` gives the module's settings, `program` stores all four in the module,
and a bad option is refused before any port is touched.
"""
import argparse
import json
import os
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from e2elib import WINE, Modsim, Session, ensure_modsim, log  # noqa: E402

MODULE = ["--address", "00:1A:7D:DA:71:13", "--peer", "00:12:6F:34:56:78",
          "--name", "CORVANE-BT", "--pin", "1234", "--role", "slave"]


def corvane(session, exe, *args, timeout=120):
    # Output goes through files, not pipes: Wine's services, started by the first program of
    # the prefix, inherit its handles and would hold a pipe open long after the program ended.
    out_path = os.path.join(session.work, "corvane.out")
    err_path = os.path.join(session.work, "corvane.err")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        code = subprocess.run([WINE, exe, *args], env=session.env, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=err, timeout=timeout).returncode
    read = lambda path: open(path, encoding="utf-8", errors="replace").read().replace("\r\n", "\n")
    return code, read(out_path), read(err_path)


def check(failures, what, condition, detail=""):
    log(f"{'ok  ' if condition else 'FAIL'} {what}")
    if not condition:
        failures.append(f"{what}: {detail}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--modsim", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    modsim = ensure_modsim(args.modsim, os.path.join(os.path.dirname(__file__), "..", "..", ".."),
                           args.work)
    session = Session(args.work)
    failures = []
    try:
        sim = Modsim(modsim, session, "cli", MODULE)
        code, out, err = corvane(session, args.exe, "ports", "--format", "json")
        ports = [p["port"] for p in json.loads(out)["ports"]] if code == 0 else []
        check(failures, "ports lists COM5", code == 0 and "COM5" in ports, f"{code} {out} {err}")

        code, out, err = corvane(session, args.exe, "read", "--format", "json")
        got = json.loads(out) if out.strip() else {}
        want = {"port": "COM5", "address": "00:1A:7D:DA:71:13", "name": "CORVANE-BT",
                "pin": "1234", "role": "slave", "peer": "00:12:6F:34:56:78", "result": "ok"}
        check(failures, "read --format json", code == 0 and got == want, f"{code} {out} {err}")

        code, out, err = corvane(session, args.exe, "program", "--port", "COM5", "--name",
                                 "BENCH-07", "--pin", "4711", "--role", "master", "--peer",
                                 "01-02-0A-0B-C0-FF")
        state = sim.state()
        check(failures, "program stores all four settings",
              code == 0 and state.get("name") == "BENCH-07" and state.get("pin") == "4711"
              and state.get("role") == "master" and state.get("peer") == "01:02:0A:0B:C0:FF",
              f"{code} {out} {err} {state}")

        before = sim.state()
        code, out, err = corvane(session, args.exe, "program", "--pin", "123456789")
        after = sim.state()
        check(failures, "a bad PIN is refused with nothing sent",
              code == 64 and "--pin" in err and before.get("probes") == after.get("probes")
              and before.get("commands") == after.get("commands"), f"{code} {err} {after}")
        sim.stop()
    finally:
        session.close()
    if failures:
        print("\n".join(failures), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
