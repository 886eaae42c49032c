#!/usr/bin/env python3
"""The shipped 32-bit programs run in an emulated PC: make test-shipped.

    run_vm32.py [--source DIR] [--work DIR] [--time-limit S] [--only SUITE...]

Builds or reuses the guest image (scripts/vm32/build-image.sh), puts the shipped i686 files of
build/windows, the native modsim, the i686 UI driver and the runners of tests/e2e on a
read-only disk, boots the guest with qemu (TCG, no KVM on these machines) and lets it run the
suites under 32-bit Wine (tests/vm32/guest-run.sh). The guest writes its results as a tar
archive onto a third drive and powers off.

Before that, the image stamp's own check (stamp_check.py). Fails on a failed test, on a suite
that ended badly without naming a failed test or ran none, on a guest that did not power off
in time and on a missing result. Closes with one line 'N passed, N failed'; the figures
(image, boot, tests) come just before it.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tarfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
import stamp_check  # noqa: E402

# Suite name and its time limit in the guest, in seconds, in the order they run.
SUITES = [("e2e_cli", 600), ("serial_win32", 300), ("e2e_dialog", 600), ("e2e_faults", 900),
          ("win_units", 600)]

# The files of the builds the guest needs, relative to the source folder.
BUILT = [
    "build/windows/ui/Corvane_BT_Setup.exe",
    "build/windows/cli/corvane.exe",
    "build/windows/tests/e2e/uidriver.exe",
    "build/windows/tests/win/serial/serial_win32_check.exe",
    "build/native/tools/modsim/modsim",
]
# The Windows unit tests of the i686 build, and the DLL the planted-library test loads.
BUILT_GLOBS = ["build/windows/tests/win/*_test.exe", "build/windows/tests/win/planted/*_test.exe",
               "build/windows/tests/win/planted/UXTHEME.DLL"]
# The runners and what they read, relative to the source folder.
SOURCES = [
    "tests/e2e",
    "tests/common/MessageTexts.h",
    "tests/win/serial/with_pty.py",
    "res/resource.h",
    "scripts/wine-env.sh",
    "scripts/wine-run.sh",
]

# A line of a runner of tests/e2e (run_checks), and the end of one GoogleTest case.
E2E_LINE = re.compile(r"^(ok  |FAIL) (\S+)")
GTEST_LINE = re.compile(r"^\[ +(OK|FAILED|SKIPPED) +\] (\S+\.\S+) \(\d+ ms\)")


def fail(message):
    print(f"test-shipped: {message}", file=sys.stderr, flush=True)
    print("0 passed, 1 failed")
    sys.exit(1)


def build_image(source):
    start = time.monotonic()
    run = subprocess.run(["bash", os.path.join(source, "scripts", "vm32", "build-image.sh")],
                         stdout=subprocess.PIPE, text=True)
    if run.returncode != 0 or not run.stdout.strip():
        fail("the guest image could not be built (see above)")
    image = run.stdout.strip().splitlines()[-1]
    return image, time.monotonic() - start


def make_disk(folder, image, slack_mb):
    """An ext4 image holding the folder's files, made without mounting anything."""
    used = int(subprocess.run(["du", "-sm", folder], capture_output=True, text=True,
                              check=True).stdout.split()[0])
    if os.path.exists(image):
        os.unlink(image)
    subprocess.run(["mkfs.ext4", "-q", "-F", "-L", "corvane-tests", "-d", folder, image,
                    f"{used + slack_mb}M"], check=True)


def stage(source, work, suites):
    """The disk of tests: the built files and the runners under their usual paths, the guest's
    run script and the plan of suites."""
    payload = os.path.join(work, "payload")
    shutil.rmtree(payload, ignore_errors=True)
    missing = [p for p in BUILT if not os.path.isfile(os.path.join(source, p))]
    if missing:
        fail("not built: " + ", ".join(missing) + " (make windows native builds them)")
    found = []
    for pattern in BUILT_GLOBS:
        matches = sorted(glob.glob(os.path.join(source, pattern)))
        if not matches:
            fail(f"not built: {pattern} (make windows builds it)")
        found += [os.path.relpath(m, source) for m in matches]
    for rel in BUILT + found:
        dest = os.path.join(payload, rel)
        os.makedirs(os.path.dirname(dest), exist_ok=True)
        shutil.copy2(os.path.join(source, rel), dest)
    for rel in SOURCES:
        src, dest = os.path.join(source, rel), os.path.join(payload, "src", rel)
        if os.path.isdir(src):
            shutil.copytree(src, dest, ignore=shutil.ignore_patterns("__pycache__"))
        else:
            os.makedirs(os.path.dirname(dest), exist_ok=True)
            shutil.copy2(src, dest)
    os.makedirs(os.path.join(payload, "guest"))
    shutil.copy2(os.path.join(HERE, "guest-run.sh"), os.path.join(payload, "guest", "run.sh"))
    with open(os.path.join(payload, "plan"), "w") as f:
        for name, limit in suites:
            f.write(f"{name} {limit}\n")
    disk = os.path.join(work, "tests.img")
    make_disk(payload, disk, 32)
    return disk


def boot(image, tests_disk, results_disk, console_path, time_limit, qemu_args=(), on_line=None,
         env=None):
    """Runs the guest to its power-off; returns (finished in time, seconds to the guest's first
    line, seconds in all). The console goes to console_path and, for the guest's own lines
    and the runners' output, to our standard output. qemu_args are added to qemu's; on_line,
    when given, is called with each console line as it comes (from a thread of its own)."""
    cmd = ["bash", os.path.join(SOURCE, "scripts", "vm32", "boot.sh"), image, tests_disk,
           results_disk, "--", *qemu_args]
    start = time.monotonic()
    first_line = [None]
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, env=env)

    def pump():
        with open(console_path, "wb") as log:
            for raw in proc.stdout:
                log.write(raw)
                log.flush()
                line = raw.decode("utf-8", "replace").rstrip("\r\n")
                if on_line is not None:
                    on_line(line)
                if line.startswith("[guest") and first_line[0] is None:
                    first_line[0] = time.monotonic() - start
                # The firmware's and kernel's lines stay in the log; from the guest's first
                # line on, what its scripts print is shown.
                if first_line[0] is not None and line.strip() and \
                        not re.match(r"^\[ *\d+\.\d+\]", line):
                    print(f"  vm | {line}", flush=True)

    reader = threading.Thread(target=pump, daemon=True)
    reader.start()
    try:
        proc.wait(timeout=time_limit)
        in_time = True
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        in_time = False
    reader.join(10)
    return in_time, first_line[0], time.monotonic() - start


def read_results(results_disk, into):
    shutil.rmtree(into, ignore_errors=True)
    os.makedirs(into)
    try:
        with tarfile.open(results_disk, "r:") as tar:
            if hasattr(tarfile, "data_filter"):
                tar.extractall(into, filter="data")
            else:
                tar.extractall(into)
    except (tarfile.TarError, OSError):
        return False
    return True


def count(log_text):
    """(passed names, failed names) of one suite's log."""
    passed, failed = [], []
    for line in log_text.splitlines():
        m = E2E_LINE.match(line)
        if m:
            (passed if m.group(1) == "ok  " else failed).append(m.group(2))
            continue
        m = GTEST_LINE.match(line)
        if m:
            # A skipped case is not a pass: here every case has what it needs.
            (passed if m.group(1) == "OK" else failed).append(m.group(2))
    return passed, failed


def judge(results, suites):
    """Prints each suite's outcome; returns (passed, failed) counts over every test."""
    total_passed = total_failed = 0
    for name, _ in suites:
        log_path = os.path.join(results, f"{name}.log")
        rc_path = os.path.join(results, f"{name}.rc")
        if not os.path.exists(rc_path):
            print(f"FAIL suite {name}: no result from the guest")
            total_failed += 1
            continue
        rc = open(rc_path).read().strip()
        text = open(log_path, errors="replace").read() if os.path.exists(log_path) else ""
        passed, failed = count(text)
        problems = [f"failed: {n}" for n in failed]
        if rc != "0" and not failed:
            problems.append(f"exit status {rc} without a failed test")
        if rc == "0" and not passed:
            problems.append("no test ran")
        extra = 1 if problems and not failed else 0
        total_passed += len(passed)
        total_failed += len(failed) + extra
        state = "FAIL" if problems else "ok  "
        print(f"{state} suite {name}: {len(passed)} passed, {len(failed) + extra} failed")
        for p in problems:
            print(f"    {p}")
    return total_passed, total_failed


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--source", default=SOURCE)
    ap.add_argument("--work", default=None, help="default: SOURCE/build/vm32")
    ap.add_argument("--time-limit", type=int, default=int(os.environ.get("CORVANE_VM_TIME_LIMIT",
                                                                         "1200")))
    ap.add_argument("--only", nargs="*", help="suites to run (default: all)")
    args = ap.parse_args()
    source = os.path.abspath(args.source)
    work = os.path.abspath(args.work or os.path.join(source, "build", "vm32"))
    os.makedirs(work, exist_ok=True)
    suites = [s for s in SUITES if not args.only or s[0] in args.only]
    if not suites:
        fail(f"no such suite: {' '.join(args.only)} (suites: {' '.join(s for s, _ in SUITES)})")
    if shutil.which("qemu-system-x86_64") is None:
        subprocess.run(["bash", os.path.join(source, "scripts", "deps.sh")], check=False)
        if shutil.which("qemu-system-x86_64") is None:
            fail("qemu-system-x86_64 is missing and scripts/deps.sh did not install it")

    # An image is used only when its stamp says it is whole: that check first.
    stamp_passed, stamp_failed = stamp_check.run()
    image, image_s = build_image(source)
    tests_disk = stage(source, work, suites)
    results_disk = os.path.join(work, "results.img")
    # A fresh, empty drive: nothing of an earlier run can be read back as this run's result.
    with open(results_disk, "wb") as f:
        f.truncate(64 << 20)
    print(f"test-shipped: booting the emulated PC (limit {args.time_limit} s)", flush=True)
    in_time, first_line_s, vm_s = boot(image, tests_disk, results_disk,
                                       os.path.join(work, "console.log"), args.time_limit)
    results = os.path.join(work, "results")
    have_results = read_results(results_disk, results)

    print()
    passed, failed = judge(results, suites) if have_results else (0, 0)
    passed, failed = passed + stamp_passed, failed + stamp_failed
    if not in_time:
        print(f"FAIL the guest did not power off within {args.time_limit} s")
        failed += 1
    if not have_results or not os.path.exists(os.path.join(results, "done")):
        print("FAIL the guest's results are missing or incomplete "
              f"(console: {os.path.join(work, 'console.log')})")
        failed += 1 if have_results else max(1, len(suites))
    times = {}
    if have_results and os.path.exists(os.path.join(results, "times")):
        for line in open(os.path.join(results, "times")):
            parts = line.split()
            times[" ".join(parts[:-1])] = parts[-1]
    boot_text = (f"boot to the guest's first line {first_line_s:.0f} s"
                 if first_line_s is not None else "the guest never started its tests")
    suite_text = ", ".join(f"{k.split()[1]} {v} s" for k, v in times.items()
                           if k.startswith("suite_s"))
    print(f"test-shipped: image {image_s:.0f} s ({image}), {boot_text}, "
          f"whole run {vm_s:.0f} s{'; ' + suite_text if suite_text else ''}")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
