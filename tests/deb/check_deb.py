#!/usr/bin/python3
"""Checks the Linux package as a user's machine would see it (make test-deb):

  - lintian finds no error in it;
  - it installs with dpkg into an empty root (its dependencies are the host's own libraries,
    the same Debian, so the installed programs run with them);
  - the installed corvane prints the package's version, lists ports, and reads a module that
    the installed corvane-modsim simulates;
  - every command has a manual page that names every option its --help names, with the
    sections its include file adds;
  - the bash completion completes commands, option values and port names;
  - the station's systemd unit verifies, and its command line runs and stops as the service
    would (check_service.py);
  - removing it leaves no file behind, and purging leaves dpkg no record of it.

Usage: check_deb.py corvane_<version>_<arch>.deb
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# The import below leaves no cache in the source tree.
sys.dont_write_bytecode = True
import check_service  # noqa: E402

COMMANDS = ["ports", "read", "program", "gang", "station", "pair", "doctor", "ledger", "serve"]
BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"
# What a page holds beyond its --help (packaging/deb/man/*.h2m).
MAN_SECTIONS = {"corvane": ["EXIT STATUS", "SIGNALS", "ENVIRONMENT", "FILES", "SEE ALSO"],
                "corvane-station": ["THE CYCLE OF A SLOT", "EVENTS", "ENDING", "FILES", "SEE ALSO"],
                "corvane-modsim": ["EXIT STATUS", "SIGNALS", "SEE ALSO"]}

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def dpkg(root, *args):
    force = ["--force-not-root"] if os.getuid() != 0 else []
    return run(["dpkg", f"--root={root}", "--log=/dev/null", "--force-depends"] + force
               + list(args))


def make_root(root):
    admin = os.path.join(root, "var/lib/dpkg")
    for sub in ("info", "updates", "triggers"):
        os.makedirs(os.path.join(admin, sub))
    for name in ("status", "available"):
        open(os.path.join(admin, name), "w").close()


def check_lintian(deb):
    out = run(["lintian", "--fail-on", "error", deb])
    tags = [line for line in out.stdout.splitlines() if line[:2] in ("E:", "W:")]
    check(out.returncode == 0, "lintian: no error" + "".join(f"\n       {t}" for t in tags))


def check_programs(root, version):
    corvane = os.path.join(root, "usr/bin/corvane")
    modsim = os.path.join(root, "usr/bin/corvane-modsim")
    out = run([corvane, "--version"])
    check(out.stdout.strip() == f"corvane {version}",
          f"corvane --version says the package's version {version}: {out.stdout.strip()!r}")
    out = run([corvane, "ports"])
    listed = [line.split("\t") for line in out.stdout.splitlines()]
    check(out.returncode == 0 and all(len(p) == 2 for p in listed),
          f"corvane ports lists name<TAB>path lines (exit {out.returncode})")

    sim = subprocess.Popen([modsim, "--name", "DEB-CHECK", "--role", "master"],
                           stdout=subprocess.PIPE, text=True)
    try:
        first = sim.stdout.readline().split()
        check(len(first) == 2 and first[0] == "PTY", f"corvane-modsim starts: {first}")
        if len(first) != 2:
            return
        out = run([corvane, "read", "--port", first[1], "--format", "json", "-q"], timeout=60)
        try:
            got = json.loads(out.stdout)
        except ValueError:
            got = {}
        check(out.returncode == 0 and got.get("name") == "DEB-CHECK"
              and got.get("role") == "master",
              f"corvane read --port {first[1]} reads the simulated module: {out.stdout.strip()}")
    finally:
        sim.terminate()
        sim.wait()


def man_text(page):
    out = run(["man", "-l", page], env=dict(os.environ, MANWIDTH="200", MAN_KEEP_FORMATTING=""))
    return out.returncode, re.sub(".\b", "", out.stdout)


def check_manuals(root):
    corvane = os.path.join(root, "usr/bin/corvane")
    man1 = os.path.join(root, "usr/share/man/man1")
    pages = [("corvane", [corvane, "--help"])]
    pages += [(f"corvane-{c}", [corvane, c, "--help"]) for c in COMMANDS]
    pages += [("corvane-modsim", [os.path.join(root, "usr/bin/corvane-modsim"), "--help"])]
    for page, help_args in pages:
        help_text = run(help_args)
        options = set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", help_text.stdout + help_text.stderr))
        code, text = man_text(os.path.join(man1, f"{page}.1.gz"))
        missing = sorted(o for o in options if o not in text)
        missing += [s for s in MAN_SECTIONS.get(page, ["SEE ALSO"]) if f"\n{s}\n" not in text]
        check(code == 0 and text.startswith(page.upper()) and options and not missing,
              f"man {page}: renders, names all {len(options)} options of its --help and its sections"
              + (f" (missing {missing})" if missing else ""))


def complete(root, line):
    """What bash offers for the last word of line, with the installed completion loaded."""
    script = (f"source {BASH_COMPLETION}\n"
              f"source {root}/usr/share/bash-completion/completions/corvane\n"
              'read -ra COMP_WORDS <<<"$LINE"\n'
              '[[ "$LINE" == *" " ]] && COMP_WORDS+=("")\n'
              "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
              'COMP_LINE=$LINE; COMP_POINT=${#LINE}\n'
              '_corvane corvane "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"\n'
              'printf "%s\\n" "${COMPREPLY[@]}"\n')
    env = dict(os.environ, LINE=line, PATH=f"{root}/usr/bin:{os.environ['PATH']}")
    out = run(["bash", "-c", script], env=env)
    return sorted(w for w in out.stdout.split("\n") if w)


def check_completion(root):
    if not os.path.exists(BASH_COMPLETION):
        check(False, f"bash completion: {BASH_COMPLETION} missing (scripts/deps.sh installs it)")
        return
    cases = [("corvane pr", ["program"]),
             ("corvane ", ["--help", "--version", "doctor", "gang", "ledger", "pair", "ports", "program",
                           "read", "serve", "station"]),
             ("corvane program --role ", ["master", "slave"]),
             ("corvane read --pace ", ["fast", "standard"]),
             ("corvane ports --format ", ["json", "text"]),
             ("corvane ledger export --format ", ["csv", "jsonl"]),
             ("corvane read --tu", ["--turn-off"]),
             ("corvane gang --st", ["--start", "--station"]),
             ("corvane station --i", ["--idle-exit"]),
             ("corvane station --op", ["--options-file"]),
             ("corvane gang --dr", ["--dry-run"]),
             ("corvane ports --", ["--format", "--help", "--long"]),
             ("corvane pair --po", ["--port"])]
    for line, want in cases:
        got = complete(root, line)
        check(got == want, f"completion of {line!r}: {got}")
    listed = run([os.path.join(root, "usr/bin/corvane"), "ports"]).stdout.splitlines()
    names = sorted(w for line in listed for w in line.split("\t"))
    for line in ("corvane read --port ", "corvane station --ports "):
        got = complete(root, line)
        check(got == names, f"completion of {line!r}: the ports corvane lists {got}")


def left_files(root):
    left = []
    for top, dirs, files in os.walk(root):
        if os.path.relpath(top, root).startswith("var/lib/dpkg"):
            continue
        left += [os.path.relpath(os.path.join(top, f), root) for f in files]
    return left


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    deb = sys.argv[1]
    package_version = run(["dpkg-deb", "-f", deb, "Version"]).stdout.strip()
    version = package_version.split("-")[0]
    check_lintian(deb)
    root = tempfile.mkdtemp(prefix="check_deb.")
    try:
        make_root(root)
        out = dpkg(root, "-i", deb)
        check(out.returncode == 0, "dpkg -i into an empty root"
              + ("" if out.returncode == 0 else f": {out.stderr.strip()}"))
        check_programs(root, version)
        check_manuals(root)
        check_completion(root)
        check_service.check_unit(root, check)
        check_service.check_service_run(root, check)
        out = dpkg(root, "-r", "corvane")
        left = left_files(root)
        check(out.returncode == 0 and not left, f"dpkg -r leaves no file {left}")
        out = dpkg(root, "--purge", "corvane")
        status = run(["dpkg-query", f"--admindir={root}/var/lib/dpkg", "-W", "corvane"])
        info = [f for f in os.listdir(f"{root}/var/lib/dpkg/info") if f.startswith("corvane.")]
        check(out.returncode == 0 and status.returncode != 0 and not info,
              f"dpkg --purge leaves dpkg no record {info}")
    finally:
        shutil.rmtree(root)
    print(f"{os.path.basename(deb)}: {os.path.getsize(deb)} bytes, "
          + ("all checks passed" if not failures else f"{len(failures)} failed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
