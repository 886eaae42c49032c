"""The browser tests' rig: modsims on ptys, a `corvane station` (or `serve`) with
`--http 127.0.0.1:0` whose address is read from its stderr, and headless chromium through
chromedriver. Natively, or with --wine-exe against corvane.exe under wine64, where the modsims
are reached as COM5, COM6, ... through links in the Wine prefix's dosdevices.

A test file defines test_NAME(rig) functions and ends with `webrig.main(globals())`; the ones
marked @under_wine also run under Wine when --wine-exe is given. Each test gets a fresh Rig in
its own temporary folder; close() stops everything it started. Screenshots go to
build/web-shots/.

    test_board.py --corvane build/native/cli/corvane --modsim build/native/tools/modsim/modsim
    test_board.py ... --wine-exe build/windows-x64/cli/corvane.exe   (inside wine-session.sh)
"""
import argparse
import json
import os
import re
import signal
import stat
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SHOTS = os.path.join(SOURCE_DIR, "build", "web-shots")
WINE = os.environ.get("CORVANE_WINE", "/usr/lib/wine/wine64")
# Waits end as soon as what they wait for happens; Wine and a loaded machine are slower.
TIME_SCALE = float(os.environ.get("CORVANE_WEB_TIME_SCALE", "1"))


def wait_for(what, check, timeout=20):
    """check()'s first true value within timeout seconds, else AssertionError naming what."""
    end = time.monotonic() + timeout * TIME_SCALE
    last = None
    while time.monotonic() < end:
        try:
            last = check()
            if last:
                return last
        except Exception as e:  # a page half drawn, a server not up yet
            last = e
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}; last: {last!r}")


def under_wine(test):
    test.under_wine = True
    return test


class Sim:
    """modsim on a pty behind a link; command() sends a control line ("remove", "insert")."""

    def __init__(self, modsim, work, name, link, port, options):
        self.port = port
        self.state_path = os.path.join(work, f"{name}.state")
        self.proc = subprocess.Popen([modsim, "--link", link, "--state", self.state_path,
                                      *options], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline().split()
        if len(first) != 2 or first[0] != "PTY":
            raise RuntimeError(f"modsim did not start: {first}")

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().strip()
        while answer == "SYNC":
            answer = self.proc.stdout.readline().strip()
        if not answer.startswith("OK"):
            raise RuntimeError(f"modsim refused {line!r}: {answer}")

    def state(self):
        if not os.path.exists(self.state_path):
            return {}
        lines = open(self.state_path, encoding="latin-1").read().splitlines()
        return dict(line.partition("=")[::2] for line in lines)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Program:
    """corvane with stderr in a file (under Wine a pipe would be held open by Wine's
    services); url is the first http://.../ address it printed on stderr, once it did."""

    def __init__(self, argv, env, err_path):
        self.err_path = err_path
        with open(err_path, "wb") as err:
            self.proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=err)
        self.url = None

    def stderr(self):
        return open(self.err_path, encoding="utf-8", errors="replace").read()

    def wait_url(self):
        def printed():
            found = re.search(r"http://\S+/", self.stderr())
            if found:
                return found.group(0)
            if self.proc.poll() is not None:
                raise AssertionError(f"ended with {self.proc.returncode}: {self.stderr()}")
            return None
        self.url = wait_for("the address on stderr", printed, timeout=30)
        return self.url

    def stop(self, timeout=30):
        """Ctrl-C (under Wine, the console's control handler) and its exit code."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
        try:
            return self.proc.wait(timeout * TIME_SCALE)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError(f"did not end after Ctrl-C: {self.stderr()}")


class Rig:
    def __init__(self, args, name):
        self.args = args
        self.name = name
        self.work = tempfile.mkdtemp(prefix=f"corvane-web-{name}-")
        self.sims, self.programs, self.browsers = [], [], []
        self.wine = None
        self.env = dict(os.environ)
        if args.wine_exe:
            self.wine = os.environ.get("WINEPREFIX") or os.path.join(
                os.path.dirname(os.path.dirname(os.path.abspath(args.wine_exe))), "wineprefix")
            self.env.update({"WINEPREFIX": self.wine, "WINEDEBUG": "-all"})

    def modsim(self, *options):
        """A module on the next free port: a pty's link here, COM5 and on under Wine."""
        n = len(self.sims)
        if self.wine:
            port = f"COM{5 + n}"
            link = os.path.join(self.wine, "dosdevices", port.lower())
        else:
            link = os.path.join(self.work, f"port{n + 1}")
            port = link
        sim = Sim(self.args.modsim, self.work, f"sim{n + 1}", link, port, options)
        self.sims.append(sim)
        return sim

    def token_file(self, token):
        path = os.path.join(self.work, "token")
        with open(path, "w") as f:
            f.write(token + "\n")
        os.chmod(path, stat.S_IRUSR | stat.S_IWUSR)
        return path

    def corvane(self, *args):
        """corvane (or corvane.exe under Wine) started with args; not waited for."""
        exe = [WINE, self.args.wine_exe] if self.wine else [self.args.corvane]
        err = os.path.join(self.work, f"corvane{len(self.programs) + 1}.err")
        program = Program([*exe, *args], self.env, err)
        self.programs.append(program)
        return program

    def station(self, *args, http="127.0.0.1:0"):
        """A station over every modsim so far, serving its board; waits for its address."""
        ports = ",".join(sim.port for sim in self.sims)
        program = self.corvane("station", "--ports", ports, "--pace", "fast", "--http", http,
                               *args)
        program.wait_url()
        return program

    def browser(self):
        options = webdriver.ChromeOptions()
        for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    "--window-size=1280,900", f"--user-data-dir={self.work}/chrome{len(self.browsers)}"):
            options.add_argument(arg)
        options.binary_location = "/usr/bin/chromium"
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.browsers.append(driver)
        return driver

    def close(self):
        for driver in self.browsers:
            driver.quit()
        for program in self.programs:
            if program.proc.poll() is None:
                program.proc.kill()
                program.proc.wait()
        for sim in self.sims:
            sim.stop()


def fetch(url, headers=None):
    """(status, headers, body) of a GET, without following a redirect."""
    class NoRedirect(urllib.request.HTTPRedirectHandler):
        def redirect_request(self, *args):
            return None
    opener = urllib.request.build_opener(NoRedirect)
    try:
        with opener.open(urllib.request.Request(url, headers=headers or {}), timeout=10) as r:
            return r.status, dict(r.headers), r.read().decode()
    except urllib.error.HTTPError as e:
        return e.code, dict(e.headers), e.read().decode()


def tiles(driver):
    """The board's tiles as the browser shows them: label, word, state and lines. Read in one
    script, since each change redraws the tiles."""
    return driver.execute_script("""
        return Array.from(document.querySelectorAll('#tiles .tile')).map(t => {
          const text = {state: t.dataset.state};
          for (const c of ['label', 'word', 'step', 'name', 'address', 'failure'])
            text[c] = t.querySelector('.' + c).textContent;
          return text;
        });""")


def link_text(driver):
    return driver.find_element(By.ID, "link").text


def shot(driver, name):
    os.makedirs(SHOTS, exist_ok=True)
    driver.save_screenshot(os.path.join(SHOTS, name))


def main(tests):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--corvane", default=os.path.join(SOURCE_DIR, "build/native/cli/corvane"))
    ap.add_argument("--modsim",
                    default=os.path.join(SOURCE_DIR, "build/native/tools/modsim/modsim"))
    ap.add_argument("--wine-exe", help="run the tests marked so against this corvane.exe")
    ap.add_argument("--only", nargs="*", help="the tests to run, by name")
    args = ap.parse_args()
    failed = 0
    for name, test in tests.items():
        if not name.startswith("test_") or not callable(test):
            continue
        if args.only and name[5:] not in args.only and name not in args.only:
            continue
        if args.wine_exe and not getattr(test, "under_wine", False):
            continue
        rig = Rig(args, name)
        started = time.monotonic()
        try:
            test(rig)
            print(f"ok   {name} ({time.monotonic() - started:.1f} s)", flush=True)
        except Exception:
            failed += 1
            print(f"FAIL {name}", flush=True)
            traceback.print_exc()
            for program in rig.programs:
                print(f"--- {program.err_path}:\n{program.stderr()}", flush=True)
        finally:
            rig.close()
    sys.exit(1 if failed else 0)


__all__ = ["Rig", "wait_for", "under_wine", "fetch", "tiles", "link_text", "shot", "main",
           "json", "By"]
