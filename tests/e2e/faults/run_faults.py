#!/usr/bin/env python3
"""Fault scenarios end to end: Corvane_BT_Setup.exe under Wine against a misbehaving modsim
on COM5, driven by uidriver. A representative subset of the native fault matrix
(tests/native/faults), with the same endings: which box and when, the bar, the locked
buttons, what the dialog shows, what the module holds, and that no process but modsim still
holds the pty afterwards (Wine keeps a port's descriptor in the program or in wineserver).

    run_faults.py --exe EXE --driver UIDRIVER --modsim MODSIM --work DIR [--only NAME...]

Prints one line per scenario and closes with 'N scenarios ran, N passed'; exit status 1 on a
failure. The plumbing and the loop are those of tests/e2e (e2elib.py), the dialog's
expectations those of run_e2e.py.
"""
import os
import sys

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from e2elib import (IDC_DEVICE_NAME, IDC_MASTER, IDC_PEER, IDC_PIN_CODE,  # noqa: E402
                    IDC_PROGRAM, IDC_PROGRESS, IDC_READ, IDC_TURN_OFF, IDCANCEL, IDOK, Env,
                    run_checks, runner_args)
from run_e2e import (CANNOT_CONNECT, COMM_ERROR, INITIAL, expect_box,  # noqa: E402
                     state_of_controls)

MODULE = ("--address", "00:1A:7D:DA:71:13", "--peer", "01:02:0A:0B:C0:FF", "--name",
          "CORVANE-BT", "--pin", "1234", "--role", "slave")
READ_ALL = dict(INITIAL, address="00 : 1A : 7D : DA : 71 : 13", name="CORVANE-BT",
                peer=["01", "02", "0A", "0B", "C0", "FF"], pin="1234", master="0", slave="1")
PROGRAM_VALUES = {IDC_DEVICE_NAME: "Field unit", IDC_PIN_CODE: "87654321"}
PROGRAM_PEER = ("A5", "0D", "e4", "06", "1G", "7f")


def pty_holders(pty, modsim_pid):
    """Pids other than modsim's with a descriptor open on the pty."""
    holders = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == modsim_pid:
            continue
        try:
            fds = os.listdir(f"/proc/{pid}/fd")
        except OSError:
            continue
        for fd in fds:
            try:
                if os.readlink(f"/proc/{pid}/fd/{fd}") == pty:
                    holders.append(int(pid))
                    break
            except OSError:
                pass
    return holders


def moment(drv, locked, sim):
    """Bar, locked buttons and whether the port is open while a box is up (the box's own
    loop answers the messages)."""
    return (drv.ok(f"pos {IDC_PROGRESS}"),
            all(drv.ok(f"enabled {cid}") == "0" for cid in locked),
            bool(pty_holders(sim.pty, sim.proc.pid)))


def scenario(op, options, box=None, at_box=None, controls=None, module=None, turn_off=False):
    """op 'read' or 'program'; box: the one message wanted (None: none); at_box: (bar, locked)
    and port open while it shows; controls: the dialog afterwards (Read); module: state keys afterwards."""
    def run(env, check):
        drv = env.drv
        sim = env.modsim(*MODULE, *options)
        prog = env.program()
        try:
            if op == "program":
                for cid, text in PROGRAM_VALUES.items():
                    drv.ok(f"settext {cid} {text}")
                for cid, text in zip(IDC_PEER, PROGRAM_PEER):
                    drv.ok(f"settext {cid} {text}")
                drv.ok(f"click {IDC_MASTER}")
                drv.ok("wait-click 5000")
            if turn_off:
                drv.ok(f"click {IDC_TURN_OFF}")
                drv.ok("wait-click 5000")
            before = state_of_controls(drv)
            own, locked = ((IDC_READ, (IDC_PROGRAM, IDCANCEL)) if op == "read"
                           else (IDC_PROGRAM, (IDC_READ, IDCANCEL)))
            drv.ok(f"click {own}")
            if box is not None:
                expect_box(check, drv, box, "the box")
                check.eq("bar, locked buttons and port open while the box shows",
                         moment(drv, locked, sim), at_box)
                drv.ok(f"answer {IDOK}")
            drv.ok("wait-click 40000")
            check.eq("no further box", drv.raw("nobox"), "ok")
            after = state_of_controls(drv)
            check.eq("bar at 0", after["progress"], "0")
            for cid in (IDC_READ, IDC_PROGRAM, IDCANCEL):
                check.eq(f"button {cid} enabled afterwards", drv.ok(f"enabled {cid}"), "1")
            # A module that went away took its pty with it (the name may already be reused).
            if sim.proc.poll() is None:
                check.eq("pty held by another process afterwards",
                         pty_holders(sim.pty, sim.proc.pid), [])
            if op == "read":
                want = dict(controls or before, turn_off=before["turn_off"])
                check.eq("dialog afterwards", after, want)
            else:
                check.eq("Program leaves the dialog as it was", after, before)
            state = sim.stop()
            for key, value in (module or {}).items():
                check.eq(f"module {key}", state.get(key), value)
        finally:
            prog.close()
            sim.stop()
    return run


CLOSED_EMPTY_LOCKED = ("0", True, False)
PROGRAMMED = {"name": "Field unit", "pin": "87654321", "role": "master",
              "peer": "A5:0D:E4:06:00:7F"}

SCENARIOS = {
    # CMD_OPEN never answered: two runs, two searches, four frames, one box at the very end.
    "read_no_open": scenario("read", ["--no-open"], COMM_ERROR, CLOSED_EMPTY_LOCKED, INITIAL,
                             {"probes": "2", "opens": "4", "commands": "4"}),
    # The answer to the probe comes after its 100 ms: no module found, nothing locked.
    "read_probe_too_slow": scenario("read", ["--delay", "300", "--only", "0"], CANNOT_CONNECT,
                                    ("0", False, False), INITIAL, {"probes": "1", "commands": "0"}),
    # The first CMD_OPEN answered wrongly, the second try succeeds.
    "read_open_wrong_once": scenario("read", ["--wrong-ack", "15", "--only", "O", "--times", "1"],
                                     None, None, READ_ALL, {"opens": "2", "commands": "7"}),
    # An over-long peer address reply: the boxes are filled, its tail derails the next query.
    "read_overflow_peer": scenario("read", ["--overlong", "16", "--only", "G"], COMM_ERROR,
                                   CLOSED_EMPTY_LOCKED,
                                   dict(INITIAL, peer=["01", "02", "0A", "0B", "C0", "FF"]),
                                   {"commands": "5", "last": "L"}),
    # A device address reply cut after three bytes, without its CR, is no value: all three
    # tries fail, the address box keeps what it showed, the peer address stays filled.
    "read_cut_address": scenario("read", ["--cut", "3", "--only", "L"], COMM_ERROR,
                                 CLOSED_EMPTY_LOCKED,
                                 dict(INITIAL, peer=["01", "02", "0A", "0B", "C0", "FF"]),
                                 {"commands": "5", "last": "L"}),
    # An address with a byte 0x0D inside is read whole: it is six raw bytes, then the CR.
    "read_cr_in_address": scenario("read", ["--cr-in-address"], None, None,
                                   dict(READ_ALL, address="00 : 1A : 0D : DA : 71 : 13",
                                        peer=["01", "02", "0D", "0B", "C0", "FF"]),
                                   {"commands": "6"}),
    # CMD_TURN_OFF never acknowledged: the box shows with the port open and the bar full.
    "read_turn_off_refused": scenario("read", ["--wrong-ack", "15", "--only", "F"], COMM_ERROR,
                                      ("7", True, True), dict(READ_ALL, turn_off="1"),
                                      {"radio": "off", "commands": "8"}, turn_off=True),
    # The module stops answering at the PIN: the name stays programmed.
    "program_stops_at_pin": scenario("program", ["--stop-after", "2"], COMM_ERROR,
                                     CLOSED_EMPTY_LOCKED, None,
                                     {"name": "Field unit", "pin": "1234", "role": "slave",
                                      "commands": "5"}),
    # The device goes away after the role: the peer address is never written.
    "program_vanishes_before_peer": scenario("program", ["--vanish-after", "4"], COMM_ERROR,
                                             CLOSED_EMPTY_LOCKED, None,
                                             {"name": "Field unit", "pin": "87654321",
                                              "role": "master", "peer": "01:02:0A:0B:C0:FF"}),
    # A byte after every ACK of the peer address and a slow PIN: all in time, all written.
    "program_extra_and_slow": scenario("program", ["--extra-after-ack", "0D", "--delay", "300",
                                                   "--only", "EI"], None, None, None,
                                       dict(PROGRAMMED, radio="on", commands="5")),
}


def main():
    ap = runner_args(__doc__)
    ap.add_argument("--only", nargs="*")
    args = ap.parse_args()
    env = Env(args)
    try:
        ran, passed = run_checks(env, SCENARIOS.items(), args.only)
    finally:
        env.close()
    print(f"fault scenarios under Wine: {ran} scenarios ran, {passed} passed")
    return 0 if ran == passed else 1


if __name__ == "__main__":
    sys.exit(main())
