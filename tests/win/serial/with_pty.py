#!/usr/bin/python3
"""Usage: with_pty.py COMMAND...

Runs COMMAND (a Windows test under Wine) with a Linux pty mapped as a COM port of the Wine
prefix in $WINEPREFIX. The port's name goes to COMMAND in CORVANE_TEST_PORT. Every byte the
program writes to the port comes back to it, as from a device that echoes. The link and the
pty are gone when COMMAND ends; its exit status is ours.

Wine opens //./COMn through the link $WINEPREFIX/dosdevices/comn without a restart of the
wineserver; such a port is not listed by QueryDosDeviceA, which needs a registry entry.
"""
import os
import select
import subprocess
import sys
import threading
import tty

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_PREFIX = os.path.join(HERE, "..", "..", "..", "build", "windows-x64", "wineprefix")


def echo(master, stop):
    while not stop.is_set():
        ready, _, _ = select.select([master], [], [], 0.1)
        if not ready:
            continue
        try:
            data = os.read(master, 256)
        except OSError:
            return
        if data:
            os.write(master, data)


def free_port(dosdevices):
    for n in range(40, 200):
        if not os.path.lexists(os.path.join(dosdevices, "com%d" % n)):
            return n
    return None


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    prefix = os.path.abspath(os.environ.get("WINEPREFIX") or DEFAULT_PREFIX)
    dosdevices = os.path.join(prefix, "dosdevices")
    if not os.path.isdir(dosdevices):
        print("with_pty: no Wine prefix at %s; run under scripts/wine-session.sh" % prefix,
              file=sys.stderr)
        return 2

    master, slave = os.openpty()
    # Raw until Wine sets the line up itself: the pty's default echo would answer for us.
    tty.setraw(slave)
    n = free_port(dosdevices)
    if n is None:
        print("with_pty: no free COM number in %s" % dosdevices, file=sys.stderr)
        return 2
    link = os.path.join(dosdevices, "com%d" % n)
    os.symlink(os.ttyname(slave), link)

    stop = threading.Event()
    echoer = threading.Thread(target=echo, args=(master, stop), daemon=True)
    echoer.start()
    env = dict(os.environ, WINEPREFIX=prefix, CORVANE_TEST_PORT="COM%d" % n)
    try:
        return subprocess.call(sys.argv[1:], env=env)
    finally:
        stop.set()
        echoer.join()
        os.unlink(link)
        os.close(slave)
        os.close(master)


if __name__ == "__main__":
    sys.exit(main())
