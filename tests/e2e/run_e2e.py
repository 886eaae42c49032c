#!/usr/bin/env python3
"""End-to-end tests: Corvane_BT_Setup.exe under Wine, modsim on COM5, uidriver as the user.

    run_e2e.py --exe EXE --driver UIDRIVER --modsim MODSIM --work DIR [--only NAME...]

Prints one line per test and closes with 'N passed, N failed'; exit status 1 on a failure.
"""
import os
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import (COM_PORT, IDC_DEVICE_ADDRESS, IDC_DEVICE_NAME, IDC_MASTER,  # noqa: E402
                    IDC_PEER, IDC_PIN_CODE, IDC_PROGRAM, IDC_PROGRESS, IDC_READ, IDC_SLAVE,
                    IDC_TURN_OFF, IDCANCEL, IDM_ABOUTBOX, IDOK, MAIN_TITLE, MESSAGE_TEXTS, Env,
                    run_checks, runner_args)
from wire import check_wire, program_frames, read_frames  # noqa: E402

ES_READONLY = 0x0800
ABOUT_TITLE = "Informazioni su corvane_bt_config"
CANNOT_CONNECT = MESSAGE_TEXTS["kCannotConnect"]
COMM_ERROR = MESSAGE_TEXTS["kCommError"]
WARNING_BOX = {"title": "Corvane_BT_Setup", "icon": "exclamation", "buttons": "1:OK"}


def parse_box(answer):
    return dict(field.split("=", 1) for field in answer.split("\t"))


def expect_box(check, drv, text, what):
    box = parse_box(drv.ok("msgbox 15000"))
    check.eq(f"{what}: box text", box.get("text"), text)
    for key, want in WARNING_BOX.items():
        check.eq(f"{what}: box {key}", box.get(key), want)


def state_of_controls(drv):
    return {
        "address": drv.ok(f"text {IDC_DEVICE_ADDRESS}"),
        "name": drv.ok(f"text {IDC_DEVICE_NAME}"),
        "peer": [drv.ok(f"text {i}") for i in IDC_PEER],
        "pin": drv.ok(f"text {IDC_PIN_CODE}"),
        "master": drv.ok(f"check {IDC_MASTER}"),
        "slave": drv.ok(f"check {IDC_SLAVE}"),
        "turn_off": drv.ok(f"check {IDC_TURN_OFF}"),
        "progress": drv.ok(f"pos {IDC_PROGRESS}"),
    }


INITIAL = {
    "address": " XX : XX : XX : XX : XX : XX ",
    "name": "",
    "peer": ["FF"] * 6,
    "pin": "58203716",
    "master": "0",
    "slave": "1",
    "turn_off": "0",
    "progress": "0",
}


def wait_until(predicate, timeout):
    end = time.time() + timeout
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return False


def watch_locking(check, drv, own, locked, what):
    """While the operation runs (the GUI thread is busy), the other operation's button and EXIT
    are disabled and the operation's own button is not. Read from window styles only."""
    if not wait_until(lambda: drv.ok(f"enabled {locked[0]}") == "0", 10):
        check.failures.append(f"{what}: {locked[0]} never got disabled")
        return
    check.eq(f"{what}: GUI thread busy", drv.ok("busy"), "1")
    for cid in locked:
        check.eq(f"{what}: control {cid} enabled during the operation", drv.ok(f"enabled {cid}"), "0")
    check.eq(f"{what}: own button enabled during the operation", drv.ok(f"enabled {own}"), "1")


# ---- the tests ----------------------------------------------------------------------------

def test_fresh_dialog(env, check):
    """A fresh dialog's controls, the typing limits, Enter in a text box, the about box and
    Escape."""
    drv = env.drv
    prog = env.program()
    try:
        check.eq("initial controls", state_of_controls(drv), INITIAL)
        style = int(drv.ok(f"style {IDC_DEVICE_ADDRESS}").split()[0], 16)
        check.eq("device address read-only", bool(style & ES_READONLY), True)
        check.eq("OK button hidden", drv.ok(f"visible {IDOK}"), "0")
        for cid in (IDC_READ, IDC_PROGRAM, IDCANCEL):
            check.eq(f"button {cid} enabled at rest", drv.ok(f"enabled {cid}"), "1")

        for cid, typed, want in ((IDC_DEVICE_NAME, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", 16),
                                 (IDC_PIN_CODE, "1234567890", 8),
                                 (IDC_PEER[0], "ABC", 2), (IDC_PEER[5], "123", 2)):
            drv.ok(f"settext {cid} ")
            drv.ok(f"type {cid} {typed}")
            check.eq(f"typing into {cid}", drv.ok(f"text {cid}"), typed[:want])

        drv.ok(f"focus {IDC_DEVICE_NAME}")
        drv.ok(f"key {IDC_DEVICE_NAME} RETURN")
        time.sleep(0.5)
        check.eq("Enter in a text box leaves the program running", prog.exited(0.5), False)

        drv.ok(f"syscommand {IDM_ABOUTBOX}")
        drv.ok(f"use 5000 {ABOUT_TITLE}")
        texts = drv.ok("texts").split("\t")
        check.eq("about box version line", "-1=corvane_bt_config Versione 1.1" in texts, True)
        drv.ok(f"post-click {IDOK}")
        drv.ok(f"gone 5000 {ABOUT_TITLE}")
        drv.ok(f"use 5000 {MAIN_TITLE}")
        drv.ok(f"syscommand {IDM_ABOUTBOX}")
        drv.ok(f"use 5000 {ABOUT_TITLE}")
        drv.ok(f"key {IDOK} ESCAPE")
        drv.ok(f"gone 5000 {ABOUT_TITLE}")
        drv.ok(f"use 5000 {MAIN_TITLE}")
        check.eq("dialog unchanged after the about box", drv.ok(f"text {IDC_DEVICE_NAME}"),
                 "ABCDEFGHIJKLMNOP")

        drv.ok(f"focus {IDC_PIN_CODE}")
        drv.ok(f"key {IDC_PIN_CODE} ESCAPE")
        check.eq("Escape ends the program", prog.exited(10), True)
    finally:
        prog.close()


def test_exit_button(env, check):
    drv = env.drv
    prog = env.program()
    try:
        drv.ok(f"click {IDCANCEL}")
        check.eq("EXIT ends the program", prog.exited(10), True)
        drv.ok("wait-click 5000")
    finally:
        prog.close()


def test_no_module(env, check):
    """Nothing answers the probe: the warning box, and nothing else changes."""
    drv = env.drv
    if os.path.lexists(env.session.link):
        os.unlink(env.session.link)
    prog = env.program()
    try:
        drv.ok(f"click {IDC_READ}")
        expect_box(check, drv, CANNOT_CONNECT, "Read without a module")
        check.eq("owner disabled while the box shows", drv.ok("enabled 0"), "0")
        drv.ok(f"answer {IDOK}")
        drv.ok("wait-click 15000")
        check.eq("no second box", drv.raw("nobox"), "ok")
        check.eq("controls unchanged", state_of_controls(drv), INITIAL)
        for cid in (IDC_READ, IDC_PROGRAM, IDCANCEL):
            check.eq(f"button {cid} enabled afterwards", drv.ok(f"enabled {cid}"), "1")
        drv.ok(f"click {IDCANCEL}")
        check.eq("EXIT after the box ends the program", prog.exited(10), True)
        drv.ok("wait-click 5000")
    finally:
        prog.close()


def test_read(env, check):
    """Read fills every control from the module; Program and EXIT are locked meanwhile."""
    drv = env.drv
    sim = env.modsim("--address", "00:1A:7D:DA:71:13", "--peer", "01:02:0A:0B:C0:FF",
                     "--name", "E2E-MODULE", "--pin", "1234", "--role", "master")
    prog = env.program()
    try:
        drv.ok(f"click {IDC_READ}")
        watch_locking(check, drv, IDC_READ, (IDC_PROGRAM, IDCANCEL), "Read")
        drv.ok("wait-click 30000")
        check.eq("no message after a good Read", drv.raw("nobox"), "ok")
        want = dict(INITIAL, address="00 : 1A : 7D : DA : 71 : 13", name="E2E-MODULE",
                    peer=["01", "02", "0A", "0B", "C0", "FF"], pin="1234", master="1",
                    slave="0")
        check.eq("controls after Read", state_of_controls(drv), want)
        for cid in (IDC_READ, IDC_PROGRAM, IDCANCEL):
            check.eq(f"button {cid} enabled afterwards", drv.ok(f"enabled {cid}"), "1")
        check.eq("module radio untouched", sim.state().get("radio"), "on")
        check_wire(check, sim.transcript, read_frames(), "Read")
    finally:
        prog.close()
        sim.stop()


def test_program(env, check):
    """Program writes the dialog's values into the module; Read and EXIT are locked meanwhile;
    the option ends it with the turn-off command."""
    drv = env.drv
    sim = env.modsim("--name", "OLD", "--pin", "0000", "--role", "slave",
                     "--peer", "00:00:00:00:00:00")
    prog = env.program()
    try:
        drv.ok(f"settext {IDC_DEVICE_NAME} NEW NAME")
        drv.ok(f"settext {IDC_PIN_CODE} 4321")
        for cid, text in zip(IDC_PEER, ("a5", "0D", "06", "E4", "F", "1G")):
            drv.ok(f"settext {cid} {text}")
        drv.ok(f"click {IDC_MASTER}")
        drv.ok("wait-click 5000")
        check.eq("Master clicked: Slave follows", drv.ok(f"check {IDC_SLAVE}"), "0")
        drv.ok(f"click {IDC_TURN_OFF}")
        drv.ok("wait-click 5000")
        before = state_of_controls(drv)

        drv.ok(f"click {IDC_PROGRAM}")
        watch_locking(check, drv, IDC_PROGRAM, (IDC_READ, IDCANCEL), "Program")
        drv.ok("wait-click 30000")
        check.eq("no message after a good Program", drv.raw("nobox"), "ok")
        check.eq("dialog values unchanged by Program", state_of_controls(drv), before)
        state = sim.stop()
        check.eq("module name", state.get("name"), "NEW NAME")
        check.eq("module PIN", state.get("pin"), "4321")
        check.eq("module role", state.get("role"), "master")
        check.eq("module peer", state.get("peer"), "A5:0D:06:E4:00:00")
        check.eq("module radio after the option", state.get("radio"), "off")
        check_wire(check, sim.transcript,
                   program_frames("NEW NAME", "4321", True, [0xA5, 0x0D, 0x06, 0xE4, 0, 0],
                                  turn_off=True), "Program")
    finally:
        prog.close()
        sim.stop()


def test_silent_mid_read(env, check):
    """The module falls silent after the peer address: the error box, and the peer address
    boxes keep what was read."""
    drv = env.drv
    sim = env.modsim("--peer", "11:22:33:44:55:66", "--stop-after", "2")
    prog = env.program()
    try:
        drv.ok(f"click {IDC_READ}")
        expect_box(check, drv, COMM_ERROR, "module silent mid-Read")
        drv.ok(f"answer {IDOK}")
        drv.ok("wait-click 15000")
        want = dict(INITIAL, peer=["11", "22", "33", "44", "55", "66"])
        check.eq("controls after the failed Read", state_of_controls(drv), want)
        for cid in (IDC_READ, IDC_PROGRAM, IDCANCEL):
            check.eq(f"button {cid} enabled afterwards", drv.ok(f"enabled {cid}"), "1")
    finally:
        prog.close()
        sim.stop()


def test_read_then_program_keeps_long_values(env, check):
    """Texts that Read puts in the boxes are not cut to the typing limits, and a later Program
    sends them back whole. A reply line keeps at most 19 payload bytes, so 19 is the longest
    name a Read can show."""
    drv = env.drv
    name, pin = "ABCDEFGHIJKLMNOPQRS", "123456789012"
    sim = env.modsim("--name", name, "--pin", pin, "--role", "master",
                     "--peer", "0A:1B:2C:3D:4E:5F")
    prog = env.program()
    try:
        drv.ok(f"click {IDC_READ}")
        drv.ok("wait-click 30000")
        check.eq("no message after Read", drv.raw("nobox"), "ok")
        check.eq("long name shown whole", drv.ok(f"text {IDC_DEVICE_NAME}"), name)
        check.eq("long PIN shown whole", drv.ok(f"text {IDC_PIN_CODE}"), pin)
        drv.ok(f"click {IDC_SLAVE}")
        drv.ok("wait-click 5000")
        check.eq("Slave clicked: Master follows", drv.ok(f"check {IDC_MASTER}"), "0")
        drv.ok(f"click {IDC_PROGRAM}")
        drv.ok("wait-click 30000")
        check.eq("no message after Program", drv.raw("nobox"), "ok")
        state = sim.stop()
        check.eq("module name", state.get("name"), name)
        check.eq("module PIN", state.get("pin"), pin)
        check.eq("module role", state.get("role"), "slave")
        check.eq("module peer", state.get("peer"), "0A:1B:2C:3D:4E:5F")
        check.eq("module radio", state.get("radio"), "on")
    finally:
        prog.close()
        sim.stop()


def test_only_the_simulator_port(env, check):
    """The prefix lists the simulator's port and no port of this machine, so no search sends
    the probe to a real serial port."""
    check.eq("COM ports listed once the session is ready", env.ports, [COM_PORT])
    check.eq("COM ports the program would see", env.drv.ok("ports").split(), [COM_PORT])
    links = sorted(n for n in os.listdir(os.path.join(env.session.prefix, "dosdevices"))
                   if n.startswith("com"))
    check.eq("COM links in the prefix", links, [COM_PORT.lower()])


TESTS = [test_only_the_simulator_port, test_fresh_dialog, test_exit_button, test_no_module,
         test_read, test_program, test_silent_mid_read, test_read_then_program_keeps_long_values]


def main():
    ap = runner_args(__doc__)
    ap.add_argument("--only", nargs="*")
    args = ap.parse_args()
    env = Env(args)
    try:
        ran, passed = run_checks(env, [(t.__name__, t) for t in TESTS], args.only)
    finally:
        env.close()
    print(f"{passed} passed, {ran - passed} failed")
    return 0 if ran == passed else 1


if __name__ == "__main__":
    sys.exit(main())
