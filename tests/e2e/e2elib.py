"""Plumbing shared by the end-to-end tests, the fault scenarios, the Wine benchmarks and the
demo: a private Wine prefix with COM5 mapped to a fixed path, a display, modsim serving that
path, the program, uidriver, the control ids of res/resource.h, and the loop that runs a list
of checks and reports each.

COM5 is mapped once, when the prefix is made, to <work>/ports/com5. Each modsim then makes
that path a symlink to its own new pty (--link), so no test has to restart the wineserver to
change the mapping: Wine resolves the path again on every CreateFile.
"""
import argparse
import ast
import os
import re
import signal
import subprocess
import sys
import time
import traceback

# The 64-bit loader and prefix on the build machines; the emulated PC of make test-shipped
# names the 32-bit loader and a win32 prefix here, to run the shipped i686 files.
WINE = os.environ.get("CORVANE_WINE", "/usr/lib/wine/wine64")
WINEARCH = os.environ.get("CORVANE_WINEARCH", "win64")
MAIN_TITLE = "Corvane Bluetooth Setup Utility v1.2"
COM_PORT = "COM5"
# Every wait for the program (a window to show or go, a click's handler to return, a box, the
# program to end) is this many times longer: the emulated PC of make test-shipped runs
# several times slower than the machine it runs on. Waits end as soon as their event comes.
TIME_SCALE = float(os.environ.get("CORVANE_E2E_TIME_SCALE", "1"))
# uidriver's commands that wait, with their time-out in ms as the first argument.
TIMED_COMMANDS = {"use", "gone", "wait-click", "msgbox", "only-ports"}
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def resource_ids(path=os.path.join(SOURCE_DIR, "res", "resource.h")):
    """The program's resource and control ids, as its resource header defines them."""
    with open(path) as f:
        return {m.group(1): int(m.group(2), 0) for m in
                re.finditer(r"^#define\s+(ID\w+)\s+(0x[0-9A-Fa-f]+|\d+)\s*$", f.read(), re.M)}


# IDOK, IDCANCEL, IDC_READ and the other names of res/resource.h, with their values there.
globals().update(resource_ids())
IDC_PEER = [IDC_PEER_ADDR1, IDC_PEER_ADDR2, IDC_PEER_ADDR3,  # noqa: F821
            IDC_PEER_ADDR4, IDC_PEER_ADDR5, IDC_PEER_ADDR6]  # noqa: F821


def message_texts(path=os.path.join(SOURCE_DIR, "tests", "common", "MessageTexts.h")):
    """The two failure texts as the tests state them, one C++ string literal each."""
    with open(path) as f:
        return {m.group(1): ast.literal_eval(m.group(2)) for m in
                re.finditer(r'^inline constexpr char (k\w+)\[\] =\s*("(?:[^"\\]|\\.)*");',
                            f.read(), re.M)}


# kCannotConnect and kCommError of tests/common/MessageTexts.h.
MESSAGE_TEXTS = message_texts()


def wine_env(prefix):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINELOADER": WINE,
        "WINEARCH": WINEARCH,
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
    })
    return env


class Session:
    """A display, a prepared prefix and a persistent wineserver; close() stops what it started."""

    def __init__(self, work, want_own_display=False, managed=False, map_port=True):
        self.work = os.path.abspath(work)
        self.prefix = os.path.join(self.work, "wineprefix")
        self.ports = os.path.join(self.work, "ports")
        self.link = os.path.join(self.ports, COM_PORT.lower())
        os.makedirs(self.ports, exist_ok=True)
        self.xvfb = None
        self.managed = managed
        self.map_port = map_port
        self.env = wine_env(self.prefix)
        if want_own_display or not os.environ.get("DISPLAY"):
            self._start_xvfb()
        self._prepare_prefix()
        # Kept up for the whole session so that each program start is quick; close() ends it.
        subprocess.run(["wineserver", "-p"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)

    def _start_xvfb(self):
        for n in range(90, 141):
            if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{n}"):
                self.xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1280x1024x24",
                                              "-nolisten", "tcp"],
                                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                self.env["DISPLAY"] = f":{n}"
                for _ in range(100):
                    if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                        return
                    time.sleep(0.05)
                raise RuntimeError("Xvfb did not start")
        raise RuntimeError("no free X display number")

    def _prepare_prefix(self):
        marker = os.path.join(self.prefix, "corvane-e2e-setup")
        setup = (f"{COM_PORT}={self.link if self.map_port else ''}\nmanaged={self.managed}\n"
                 f"fonts={os.path.isdir('/usr/share/wine/fonts')}\n")
        if os.path.exists(marker) and open(marker).read() == setup:
            return
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            print(f"Creating the Wine prefix {self.prefix} (once, about 15 s)", flush=True)
            subprocess.run([WINE, "wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=False)
            subprocess.run(["wineserver", "-w"], env=self.env, check=False)
        if self.map_port:
            self._reg_add(r"HKLM\Software\Wine\Ports", COM_PORT, self.link)
        # Unmanaged windows where no window manager runs (Xvfb): Wine otherwise waits two
        # seconds for one each time a window is hidden, and draws no captions.
        self._reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "Y" if self.managed else "N")
        self._link_wine_fonts()
        # Wine's mount manager reads the port mapping only when the wineserver starts.
        subprocess.run(["wineserver", "-k"], env=self.env, check=False)
        subprocess.run(["wineserver", "-w"], env=self.env, check=False)
        with open(marker, "w") as f:
            f.write(setup)

    def _link_wine_fonts(self):
        """Debian's Wine does not find the fonts of its fonts-wine package by itself; without
        them "MS Sans Serif" falls back to a wider face (the dialog's labels are cut) and the
        caption buttons lose their Marlett glyphs. Fonts in C:\\windows\\Fonts are always seen."""
        source = "/usr/share/wine/fonts"
        target = os.path.join(self.prefix, "drive_c", "windows", "Fonts")
        if not os.path.isdir(source) or not os.path.isdir(target):
            return
        for name in os.listdir(source):
            link = os.path.join(target, name)
            if not os.path.lexists(link):
                os.symlink(os.path.join(source, name), link)

    def keep_only_simulator_port(self, driver):
        """Unlists every COM port but COM5 and returns the COM names then listed. Wine maps the
        machine's own /dev/ttyS*, ttyUSB* and ttyACM* as further COM ports each time the
        wineserver starts, so every search would also send the probe to the real serial
        ports. uidriver removes their DOS device names (after the mount manager has made
        them); the dosdevices links go here, or Wine would still open //./COMn through them."""
        listed = driver.ok(f"only-ports 30000 {COM_PORT}").split()
        dosdevices = os.path.join(self.prefix, "dosdevices")
        for name in os.listdir(dosdevices):
            if re.fullmatch(r"com\d+", name) and name != COM_PORT.lower():
                os.unlink(os.path.join(dosdevices, name))
        return listed

    def com_ports(self):
        """The COM ports Wine has mapped in this prefix, as 'COMn -> path'."""
        dosdevices = os.path.join(self.prefix, "dosdevices")
        names = sorted((n for n in os.listdir(dosdevices) if n.startswith("com")),
                       key=lambda n: int(n[3:]) if n[3:].isdigit() else 0)
        return [f"{n.upper()} -> {os.readlink(os.path.join(dosdevices, n))}" for n in names]

    def _reg_add(self, key, name, value):
        subprocess.run([WINE, "reg", "add", key, "/v", name, "/d", value, "/f"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, check=False,
                       stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()


class Modsim:
    """modsim serving the session's COM5 path, or the link given. stop() returns the final
    state as a dict."""

    def __init__(self, modsim, session, name, args=(), link=None):
        self.state_path = os.path.join(session.work, f"{name}.state")
        self.transcript = os.path.join(session.work, f"{name}.transcript")
        for p in (self.state_path, self.transcript):
            if os.path.exists(p):
                os.unlink(p)
        self.proc = subprocess.Popen([modsim, "--link", link or session.link,
                                      "--state", self.state_path,
                                      "--transcript", self.transcript, *args],
                                     stdout=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline().split()
        if len(first) != 2 or first[0] != "PTY":
            raise RuntimeError(f"modsim did not start: {first}")
        self.pty = first[1]

    def state(self):
        out = {}
        if os.path.exists(self.state_path):
            for line in open(self.state_path, encoding="latin-1"):
                key, _, value = line.rstrip("\n").partition("=")
                out[key] = value
        return out

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.state()


class DriverError(Exception):
    pass


class Driver:
    """uidriver over a pipe: one command line in, one answer line out."""

    def __init__(self, driver, session):
        self.proc = subprocess.Popen([WINE, driver], env=session.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, encoding="latin-1",
                                     bufsize=1)

    def raw(self, line):
        words = line.split(" ", 2)
        if TIME_SCALE != 1 and words[0] in TIMED_COMMANDS and len(words) > 1 and \
                words[1].isdigit():
            words[1] = str(int(int(words[1]) * TIME_SCALE))
            line = " ".join(words)
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline()
        if not answer:
            raise DriverError(f"uidriver ended during: {line}")
        return answer.rstrip("\n")

    def ok(self, line):
        """The answer's value; DriverError unless it is ok."""
        answer = self.raw(line)
        if answer != "ok" and not answer.startswith("ok "):
            raise DriverError(f"{line!r} -> {answer!r}")
        return unescape(answer[3:])

    def close(self):
        try:
            self.proc.stdin.write("quit\n")
            self.proc.stdin.flush()
            self.proc.wait(10)
        except (BrokenPipeError, subprocess.TimeoutExpired):
            self.proc.kill()


def escape(text):
    out = []
    for ch in text:
        c = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\r":
            out.append("\\r")
        elif c < 0x20 or c >= 0x7F:
            out.append(f"\\x{c:02X}")
        else:
            out.append(ch)
    return "".join(out)


def unescape(text):
    out, i = [], 0
    while i < len(text):
        ch = text[i]
        if ch == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt == "x" and i + 3 < len(text):
                out.append(chr(int(text[i + 2:i + 4], 16)))
                i += 4
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "s": " "}.get(nxt, nxt))
            i += 2
            continue
        out.append(ch)
        i += 1
    return "".join(out)


class Program:
    """The program under Wine, found on screen by its title."""

    def __init__(self, exe, session, driver, timeout_ms=20000):
        self.proc = subprocess.Popen([WINE, exe], env=session.env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.driver = driver
        try:
            self.hwnd = driver.ok(f"use {timeout_ms} {MAIN_TITLE}")
        except BaseException:
            # The caller gets no object to close: a program that never showed its window would
            # outlive the test.
            self.close()
            raise

    def exited(self, timeout):
        try:
            self.proc.wait(timeout * TIME_SCALE)
            return True
        except subprocess.TimeoutExpired:
            return False

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def ensure_modsim(path, source_dir, work):
    """The native modsim; built into <work>/native when the given path does not exist."""
    if os.path.exists(path):
        return path
    build = os.path.join(work, "native")
    print(f"e2e: {path} not found, building modsim in {build}", flush=True)
    env = {k: v for k, v in os.environ.items() if k not in ("CC", "CXX")}
    subprocess.run(["cmake", "-S", source_dir, "-B", build, "-DCMAKE_BUILD_TYPE=Release"],
                   env=env, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j2", "--target", "modsim"], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build, "tools", "modsim", "modsim")


def log(msg):
    print(msg, file=sys.stderr, flush=True)


def runner_args(description, modsim_required=True):
    """The options every runner takes: the program, uidriver, modsim and a work folder."""
    ap = argparse.ArgumentParser(description=description)
    ap.add_argument("--exe", required=True)
    ap.add_argument("--driver", required=True)
    ap.add_argument("--modsim", required=modsim_required)
    ap.add_argument("--work", required=True)
    ap.add_argument("--source", default=SOURCE_DIR)
    return ap


class Env:
    """A session whose prefix lists only the simulator's port, uidriver in it, and modsim and
    the program on demand. close() stops what it started."""

    def __init__(self, args, want_own_display=True, managed=False):
        self.args = args
        self.session = Session(args.work, want_own_display=want_own_display, managed=managed)
        self.drv = None
        try:
            self.modsim_path = (ensure_modsim(args.modsim, args.source, args.work)
                                if args.modsim else None)
            self.drv = Driver(args.driver, self.session)
            self.ports = self.session.keep_only_simulator_port(self.drv)
        except BaseException:
            self.close()
            raise
        self.counter = 0
        self.modsims = []

    def modsim(self, *options, port=COM_PORT):
        """modsim on COM5, or on another COM port through a link of the prefix's dosdevices
        (Wine opens that port by it without a restart, but does not list it). close() stops
        any that a failed test left running."""
        self.counter += 1
        link = (None if port == COM_PORT else
                os.path.join(self.session.prefix, "dosdevices", port.lower()))
        sim = Modsim(self.modsim_path, self.session, f"modsim{self.counter}", options, link)
        self.modsims.append(sim)
        return sim

    def program(self, timeout_ms=20000):
        return Program(self.args.exe, self.session, self.drv, timeout_ms)

    def close(self):
        for sim in getattr(self, "modsims", []):
            sim.stop()
        if self.drv:
            self.drv.close()
        self.session.close()


class Check:
    """Collects every failed expectation of one test instead of stopping at the first."""

    def __init__(self):
        self.failures = []

    def eq(self, what, got, want):
        if got != want:
            self.failures.append(f"{what}: got {got!r}, want {want!r}")


def run_checks(env, checks, only=None):
    """Runs each (name, function(env, check)) not left out by only, printing one line per
    check and its failures. Returns (ran, passed)."""
    ran = passed = 0
    for name, run in checks:
        if only and name not in only:
            continue
        check = Check()
        start = time.time()
        try:
            run(env, check)
        except (DriverError, AssertionError, RuntimeError) as e:
            check.failures.append(f"{type(e).__name__}: {e}")
        except Exception:  # report and go on with the next one
            check.failures.append(traceback.format_exc())
        ran += 1
        took = time.time() - start
        if check.failures:
            print(f"FAIL {name} ({took:.1f} s)")
            for f in check.failures:
                print(f"    {f}")
        else:
            passed += 1
            print(f"ok   {name} ({took:.1f} s)")
        sys.stdout.flush()
    return ran, passed
