"""What run_usb.py judges: the guest's results (outputs of the native corvane against the first
adapter, the station's events and ledger) and what the host did to the station's sockets. One
line per check ('ok  NAME' or 'FAIL NAME: why'), then the figures."""
import json
import os
import re
import statistics

TEXT_ADDRESS = "00 : 1A : 7D : 00 : 00 : A0"  # as read prints it
FACTORY = {"name": "CORVANE-BT", "pin": "1234", "role": "slave", "peer": "00:12:6F:34:56:78"}
# What qemu's emulated chip says of itself (hw/usb/dev-serial.c), and the name udev gives it.
CHIP = {"vendor_id": "0403", "product_id": "6001", "manufacturer": "QEMU",
        "product": "QEMU USB SERIAL", "serial": "CVB0001"}
BY_ID = "/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_CVB0001-if00-port0"
BY_PATH = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0"


class Results:
    def __init__(self, folder):
        self.folder = folder

    def text(self, name):
        try:
            with open(os.path.join(self.folder, name), errors="replace") as f:
                return f.read()
        except (OSError, TypeError):
            return ""

    def rc(self, name):
        return self.text(f"{name}.rc").strip()

    def jsonl(self, name):
        out = []
        for line in self.text(name).splitlines():
            try:
                out.append(json.loads(line))
            except ValueError:
                pass
        return out


def adapter_port(r):
    try:
        ports = json.loads(r.text("ports_json.out"))
    except ValueError:
        return None
    ports = ports.get("ports", ports) if isinstance(ports, dict) else ports
    return next((p for p in ports if BY_ID in (p.get("by_id") or [])), None)


def check_ports_long(r):
    port = adapter_port(r)
    if port is None:
        return f"no port with {BY_ID} in ports --long --format json"
    wrong = {k: port.get(k) for k, v in CHIP.items() if str(port.get(k, "")).lower() != v.lower()}
    if wrong or port.get("by_path") != [BY_PATH]:
        return f"differs from the emulated chip: {wrong}, by_path {port.get('by_path')}"
    long_text = r.text("ports_long.out")
    missing = [s for s in ("0403:6001", "QEMU USB SERIAL", "CVB0001", BY_ID, BY_PATH)
               if s not in long_text]
    return f"the text listing lacks {missing}" if missing else None


def check_command(r, name, *wanted):
    if r.rc(name) != "0":
        return f"exit {r.rc(name) or 'missing'}: {r.text(name + '.err').strip()[:200]}"
    missing = [w for w in wanted if w not in r.text(f"{name}.out")]
    return f"output lacks {missing}" if missing else None


def check_doctor(r):
    node = r.text("node.out").split()
    if node[:1] != ["root:dialout"] or node[1:2] != ["660"]:
        return f"udev made the node {' '.join(node) or '(nothing)'}, not root:dialout 660"
    said = r.text("doctor.out") + r.text("doctor.err")
    if r.rc("doctor") in ("0", "") or "no permission" not in said or "dialout" not in said:
        return f"exit {r.rc('doctor')}: {said.strip()[:300]}"
    return None


def phase_one(r):
    return [
        ("usb ports lists the adapter", lambda: check_command(r, "ports", "/dev/ttyUSB0")),
        ("usb ports --long: ids, strings and udev names", lambda: check_ports_long(r)),
        ("usb read through by-id", lambda: check_command(r, "read", TEXT_ADDRESS)),
        ("usb program --verify through by-id", lambda: check_command(r, "program")),
        ("usb program --verify --pace fast", lambda: check_command(r, "program_fast")),
        ("usb read back what was programmed",
         lambda: check_command(r, "read_after", "USB-FAST", "8765")),
        ("usb doctor on a root:dialout 0660 node outside the group", lambda: check_doctor(r)),
    ]


def check_once_each(events, address, modules):
    ok = [e.get("address") for e in events if e["event"] == "ok"]
    want = sorted(address(m) for m in range(1, modules + 1))
    if sorted(ok) != want:
        return f"ok events for {sorted(ok)}, not each of the {modules} modules once"
    unverified = [e.get("address") for e in events if e["event"] == "ok" and not e.get("verified")]
    return f"not verified: {unverified}" if unverified else None


def check_pulled(events, line, address, pulled):
    mine = [e for e in events if e.get("address") == address(pulled)]
    kinds = [e["event"] for e in mine if e["event"] in ("started", "ok", "failed")]
    if kinds != ["started", "failed", "started", "ok"] or line.pulled is None:
        return f"its events were {kinds}, not started, failed, started, ok"
    started, failed = mine[[e["event"] for e in mine].index("started")], \
        next(e for e in mine if e["event"] == "failed")
    values, held = started.get("values", {}), line.pulled
    written = set(failed.get("written", []))
    claimed = [k for k in written if held.get(k) != values.get(k)]
    changed = [k for k in FACTORY if held.get(k) != FACTORY[k]]
    untold = [k for k in changed if k not in written | set(failed.get("unconfirmed", []))]
    if claimed or untold:
        held = {k: held.get(k) for k in FACTORY}
        return f"recorded written {sorted(written)}, unconfirmed " \
               f"{failed.get('unconfirmed', [])}, but the module held {held} (claimed " \
               f"{claimed}, untold {untold})"
    return None


def check_sockets(events, line):
    """Per socket, the station's arrived and removed events follow the plugs and unplugs."""
    for s in range(1, 5):
        did = [(what, m) for sock, what, m in line.log if sock == s]
        saw = [e for e in events if re.search(rf"usb-0:{s}:1\.0", e.get("port", ""))
               and e["event"] in ("arrived", "removed")]
        want = [("arrived" if what == "plug" else "removed") for what, _ in did]
        if [e["event"] for e in saw] != want:
            return f"socket {s}: events {[e['event'] for e in saw]}, plugs {did}"
        removed = [e.get("address") for e in saw if e["event"] == "removed"]
        if len(removed) != len([1 for what, _ in did if what == "unplug"]):
            return f"socket {s}: removed {removed}"
    return None


def check_ledger(r, address, modules, pulled):
    rows = r.jsonl("ledger.out")
    ok = sorted(row.get("address") for row in rows if row.get("result") == "ok")
    failed = [row.get("address") for row in rows if row.get("result") != "ok"]
    if ok != sorted(address(m) for m in range(1, modules + 1)) or failed != [address(pulled)]:
        return f"ledger ok {ok}, others {failed}"
    return None


def station(r, line, address, pulled, modules):
    events = r.jsonl("events.jsonl")
    if line is None:
        return [("usb station ran", lambda: "the guest's station never started")]
    return [
        ("usb station exit 0", lambda: None if r.rc("station") == "0" else
         f"exit {r.rc('station')}: {r.text('station.err').strip()[-300:]}"),
        ("usb station programs each module once", lambda: check_once_each(events, address,
                                                                          modules)),
        ("usb station: a module pulled while programmed", lambda: check_pulled(
            events, line, address, pulled)),
        ("usb station: arrived and removed per socket", lambda: check_sockets(events, line)),
        ("usb station ledger", lambda: check_ledger(r, address, modules, pulled)),
    ]


def check_wine_listing(r):
    """After a restart, the mount manager has given /dev/ttyUSB0 a COM name: ports lists it."""
    mapped = [l.split()[0].upper() for l in r.text("wine_restart.out").splitlines()
              if l.endswith("/dev/ttyUSB0")]
    if not mapped:
        return f"no COM name for /dev/ttyUSB0 after the restart: {r.text('wine_restart.out')}"
    return check_command(r, "wine_ports_restart", mapped[0])


def wine(r):
    return [
        ("usb wine: corvane.exe ports lists the adapter once the wineserver restarted",
         lambda: check_wine_listing(r)),
        ("usb wine: corvane.exe read on COM20 mapped to the adapter's by-id link",
         lambda: check_command(r, "wine_read", "00 : 1A : 7D : 00 : 00 : B0")),
    ]


def wine_findings(r):
    """Which COM names Wine gave the adapter plugged in while it ran: what this Wine does, told
    rather than judged."""
    before = set(r.text("wine_before.out").splitlines())
    for name, when in (("wine_hot", "plugged in while the wineserver ran"),
                       ("wine_restart", "after the wineserver restarted")):
        new = sorted(set(r.text(f"{name}.out").splitlines()) - before)
        listed = " ".join(l.split()[0] for l in r.text(f"{name}.out").splitlines()) or "none"
        ports = r.text(name.replace("wine", "wine_ports") + ".out").split()[::2]
        print(f"finding: {when}: new COM names {new or 'none'}; corvane.exe ports listed "
              f"{' '.join(ports) or 'nothing'} (dosdevices: {listed})")


def mapped_finding(r):
    listed = "COM20" in r.text("wine_ports.out")
    print(f"finding: COM20 linked to the by-id name before the wineserver started: read works; "
          f"corvane.exe ports {'lists' if listed else 'does not list'} it (the listing is the "
          f"mount manager's, which only knows /dev/ttyS*, ttyUSB* and ttyACM*)")


def judge(folder, line, address, pulled, modules):
    if folder is None:
        print("FAIL the guest's results are missing")
        return 0, 1
    r = Results(folder)
    passed = failed = 0
    if not os.path.exists(os.path.join(folder, "done")):
        print("FAIL the guest did not finish its script")
        failed += 1
    for name, check in phase_one(r) + station(r, line, address, pulled, modules) + wine(r):
        why = check()
        print(f"ok   {name}" if why is None else f"FAIL {name}: {why}")
        passed, failed = passed + (why is None), failed + (why is not None)
    return passed, failed


def figures(folder, line, trace_log):
    """What was measured: they describe qemu's emulated chip, not a particular real one."""
    r = Results(folder)
    wine_findings(r)
    mapped_finding(r)
    for entry in r.text("times").splitlines():
        if entry.startswith("program_s"):
            _, pace, seconds = entry.split()
            print(f"figure: program --verify at the {pace} pace through the USB adapter "
                  f"{float(seconds):.2f} s (with the program's start)")
    if line is not None and line.first_byte:
        t = line.first_byte
        print(f"figure: plug to the station's first byte over {len(t)} plugs: median "
              f"{statistics.median(t):.2f} s, min {min(t):.2f} s, max {max(t):.2f} s")
    try:
        with open(trace_log, errors="replace") as f:
            controls = [l.strip() for l in f if "usb_serial_handle_control" in l]
    except OSError:
        controls = []
    # FTDI's SET_MODEM_CTRL (vendor request 0x4001): high byte the lines changed, low byte their
    # state (1 DTR, 2 RTS). 0x303 raises both (the driver's open), 0x300 drops both (its close).
    modem = [re.search(r"value (0x[0-9a-f]+)", c).group(1) for c in controls
             if "got control 0x4001," in c]
    tally = {v: modem.count(v) for v in sorted(set(modem))}
    print(f"figure: qemu traced {len(controls)} control requests of the chip; DTR/RTS "
          f"settings {tally} (0x303 both raised, 0x300 both dropped; trace: {trace_log})")
