#!/usr/bin/env python3
"""The program under Wine, for a person to look at (make demo, make run).

    demo.py --exe EXE --driver UIDRIVER --modsim MODSIM --work DIR [--screenshot PNG]
    demo.py --real-ports --exe EXE --work DIR

With a module simulator (the default): modsim plays the module on a new pty, mapped as COM5,
the only COM port of the demo's prefix.
On a display ($DISPLAY set) the program opens there and the demo waits until you close it,
then prints what the module holds. Without a display it runs on a virtual one, presses Read
through uidriver, saves a screenshot of the dialog and prints the values read.

--real-ports: the program against the machine's own serial ports, which Wine maps to COMn
by itself (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*). Needs a display.
"""
import argparse
import os
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import (IDC_DEVICE_ADDRESS, IDC_DEVICE_NAME, IDC_MASTER, IDC_PEER,  # noqa: E402
                    IDC_PIN_CODE, IDC_READ, IDCANCEL, WINE, Env, Modsim, Session)

DEMO_MODULE = ["--address", "00:1A:7D:DA:71:13", "--peer", "00:12:6F:34:56:78",
               "--name", "CORVANE-BT", "--pin", "1234", "--role", "slave"]


def show_state(title, state):
    print(title)
    for key in ("address", "name", "pin", "role", "peer", "radio"):
        print(f"  {key:8} {state.get(key, '?')}")


def run_on_display(args, env):
    sim = Modsim(env.modsim_path, env.session, "demo", DEMO_MODULE)
    print(f"modsim plays the module on {sim.pty}, which the program sees as COM5.")
    print("The program is open on your display: press Read, change values, press Program.")
    print("Close it (EXIT) to end the demo.")
    proc = subprocess.Popen([WINE, args.exe], env=env.session.env)
    proc.wait()
    show_state("The module now holds:", sim.stop())


def run_headless(args, env):
    drv = env.drv
    sim = Modsim(env.modsim_path, env.session, "demo", DEMO_MODULE)
    prog = env.program()
    try:
        drv.ok(f"click {IDC_READ}")
        drv.ok("wait-click 30000")
        if drv.raw("nobox") != "ok":
            print("The program showed a message:", drv.ok("msgbox 1000"))
            return 1
        print("Read from the simulated module:")
        print(f"  Device Address  {drv.ok(f'text {IDC_DEVICE_ADDRESS}')}")
        print(f"  Device Name     {drv.ok(f'text {IDC_DEVICE_NAME}')}")
        print(f"  Peer Address    {' '.join(drv.ok(f'text {i}') for i in IDC_PEER)}")
        print(f"  Pin Code        {drv.ok(f'text {IDC_PIN_CODE}')}")
        role = "Master" if drv.ok(f"check {IDC_MASTER}") == "1" else "Slave"
        print(f"  Role            {role}")
        if args.screenshot:
            x, y, w, h = drv.ok("rect").split()
            os.makedirs(os.path.dirname(os.path.abspath(args.screenshot)), exist_ok=True)
            subprocess.run(["import", "-display", env.session.env["DISPLAY"], "-window", "root",
                            "-crop", f"{w}x{h}+{x}+{y}", "+repage", args.screenshot],
                           check=True)
            print(f"Screenshot of the dialog: {args.screenshot}")
        drv.ok(f"click {IDCANCEL}")
        prog.exited(10)
        drv.ok("wait-click 5000")
    finally:
        prog.close()
        sim.stop()
    return 0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--driver")
    ap.add_argument("--modsim")
    ap.add_argument("--work", required=True)
    ap.add_argument("--screenshot")
    ap.add_argument("--real-ports", action="store_true")
    ap.add_argument("--source", default=os.path.dirname(os.path.dirname(here)))
    args = ap.parse_args()

    if args.real_ports:
        if not os.environ.get("DISPLAY"):
            print("make run needs a display (DISPLAY is not set).", file=sys.stderr)
            return 1
        session = Session(args.work, managed=True, map_port=False)
        try:
            print("Corvane_BT_Setup under Wine, against the ports Wine maps from /dev:")
            for line in session.com_ports() or ["(none found yet: Wine maps them as it starts)"]:
                print(f"  {line}")
            subprocess.run([WINE, args.exe], env=session.env)
        finally:
            session.close()
        return 0

    if not args.driver or not args.modsim:
        print("demo.py needs --driver and --modsim (or --real-ports).", file=sys.stderr)
        return 2
    on_display = bool(os.environ.get("DISPLAY"))
    env = Env(args, want_own_display=False, managed=on_display)
    try:
        print(f"COM ports under Wine: {' '.join(env.ports)}")
        if on_display:
            run_on_display(args, env)
            return 0
        return run_headless(args, env)
    finally:
        env.close()


if __name__ == "__main__":
    sys.exit(main())
