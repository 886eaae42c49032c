#!/usr/bin/python3
"""Builds the Linux package (make deb):

    build/dist/corvane_<version>-<revision>_<arch>.deb

from a release build of its own (build/deb, with Debian's hardening flags) installed by
`cmake --install` into a staged tree, then packed by dpkg-deb. The version is the one the
built program prints (`corvane --version`); the dependencies are dpkg-shlibdeps'. The package
is Debian's first revision of that version, so its changelog is changelog.Debian.gz.
"""
import argparse
import gzip
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
REVISION = "1"
MAINTAINER = "Corvane maintainers <maintainers@users.noreply.c-seed-08b216d6.example>"
DESCRIPTION = """\
Description: read and program Corvane Bluetooth serial modules
 corvane reads a Corvane Bluetooth serial module's settings (own address,
 name, PIN, master/slave role, peer address) over a serial port and programs
 them back, one module at a time or every module on every port at once, with
 a report.
 .
 A systemd unit, corvane-station@.service, runs a station of the line as a
 service from /etc/corvane/station-NAME.conf, its board on a browser.
 .
 corvane-modsim simulates a module on a pseudo-terminal, so the program can be
 tried without hardware.
"""


def run(args, **kw):
    return subprocess.run(args, check=True, **kw)


def output(args, **kw):
    return run(args, capture_output=True, text=True, **kw).stdout.strip()


def build_flags():
    # All of Debian's hardening, bindnow and PIE included, as lintian expects of a program.
    env = dict(os.environ, DEB_BUILD_MAINT_OPTIONS="hardening=+all")
    flags = {}
    for name in ("CFLAGS", "CXXFLAGS", "CPPFLAGS", "LDFLAGS"):
        flags[name] = output(["dpkg-buildflags", "--get", name], env=env)
    return [f"-DCMAKE_C_FLAGS={flags['CFLAGS']} {flags['CPPFLAGS']}",
            f"-DCMAKE_CXX_FLAGS={flags['CXXFLAGS']} {flags['CPPFLAGS']}",
            f"-DCMAKE_EXE_LINKER_FLAGS={flags['LDFLAGS']}"]


def commit_time():
    try:
        return int(output(["git", "-C", SOURCE, "log", "-1", "--format=%ct"]))
    except (OSError, subprocess.CalledProcessError, ValueError):
        return 0


def changelog(version, when):
    date = time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.gmtime(when))
    text = (f"corvane ({version}) unstable; urgency=medium\n\n"
            f"  * Package of corvane {version.split('-')[0]}: the command line, the module\n"
            f"    simulator as corvane-modsim, manual pages, bash completion and the\n"
            f"    station's systemd unit.\n\n"
            f" -- {MAINTAINER}  {date}\n")
    return gzip.compress(text.encode(), compresslevel=9, mtime=0)


def depends(stage, binaries):
    """dpkg-shlibdeps wants a source package around the files it reads: give it a minimal one."""
    with tempfile.TemporaryDirectory() as work:
        os.mkdir(os.path.join(work, "debian"))
        with open(os.path.join(work, "debian", "control"), "w") as f:
            f.write("Source: corvane\n\nPackage: corvane\nArchitecture: any\n")
        found = output(["dpkg-shlibdeps", "-O"] + [os.path.join(stage, b) for b in binaries],
                       cwd=work)
    prefix = "shlibs:Depends="
    return next(line[len(prefix):] for line in found.splitlines() if line.startswith(prefix))


def installed_size(stage):
    total = 0
    for root, dirs, files in os.walk(stage):
        dirs[:] = [d for d in dirs if d != "DEBIAN"]
        total += sum((os.lstat(os.path.join(root, f)).st_size + 1023) // 1024 for f in files)
        total += len(dirs)
    return total


def md5sums(stage):
    lines = []
    for root, dirs, files in os.walk(stage):
        dirs[:] = sorted(d for d in dirs if d != "DEBIAN")
        for name in sorted(files):
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                lines.append(f"{hashlib.md5(f.read()).hexdigest()}  {os.path.relpath(path, stage)}\n")
    return "".join(lines)


def stage_tree(build_dir, stage):
    run(["cmake", "-S", SOURCE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
         "-DCMAKE_INSTALL_PREFIX=/usr", "-DCORVANE_SYSTEMD_UNIT_DIR=/lib/systemd/system"]
        + build_flags(), stdout=subprocess.DEVNULL)
    # help2man dates the manual pages by SOURCE_DATE_EPOCH: the commit's, not the build's.
    run(["cmake", "--build", build_dir, "-j2", "--target", "corvane", "modsim", "corvane_man"],
        env=dict(os.environ, SOURCE_DATE_EPOCH=str(commit_time())))
    shutil.rmtree(stage, ignore_errors=True)
    run(["cmake", "--install", build_dir], env=dict(os.environ, DESTDIR=stage),
        stdout=subprocess.DEVNULL)
    # What dh_strip does: --strip of cmake --install leaves the renamed simulator as it is.
    bin_dir = os.path.join(stage, "usr/bin")
    run(["strip", "--strip-unneeded", "--remove-section=.comment", "--remove-section=.note"]
        + [os.path.join(bin_dir, name) for name in sorted(os.listdir(bin_dir))])


def pack(stage, out_dir):
    version = output([os.path.join(stage, "usr/bin/corvane"), "--version"]).split()[-1]
    version = f"{version}-{REVISION}"
    arch = output(["dpkg", "--print-architecture"])
    when = commit_time()
    doc = os.path.join(stage, "usr/share/doc/corvane")
    with open(os.path.join(doc, "changelog.Debian.gz"), "wb") as f:
        f.write(changelog(version, when))
    for root, dirs, files in os.walk(stage):
        for name in dirs:
            os.chmod(os.path.join(root, name), 0o755)
        for name in files:
            path = os.path.join(root, name)
            os.chmod(path, 0o755 if "/usr/bin/" in path else 0o644)
    control_dir = os.path.join(stage, "DEBIAN")
    os.makedirs(control_dir, exist_ok=True)
    control = (f"Package: corvane\nVersion: {version}\nArchitecture: {arch}\n"
               f"Maintainer: {MAINTAINER}\nInstalled-Size: {installed_size(stage)}\n"
               f"Depends: {depends(stage, ['usr/bin/corvane', 'usr/bin/corvane-modsim'])}\n"
               f"Section: utils\nPriority: optional\n{DESCRIPTION}")
    with open(os.path.join(control_dir, "control"), "w") as f:
        f.write(control)
    with open(os.path.join(control_dir, "md5sums"), "w") as f:
        f.write(md5sums(stage))
    os.makedirs(out_dir, exist_ok=True)
    # One package in the folder, the one just built: make test-deb checks what it finds there.
    for old in os.listdir(out_dir):
        if old.startswith("corvane_") and old.endswith(".deb"):
            os.remove(os.path.join(out_dir, old))
    deb = os.path.join(out_dir, f"corvane_{version}_{arch}.deb")
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(when))
    run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", stage, deb], env=env,
        stdout=subprocess.DEVNULL)
    return deb


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(SOURCE, "build/deb"))
    ap.add_argument("--out", default=os.path.join(SOURCE, "build/dist"))
    args = ap.parse_args()
    stage = os.path.join(args.build, "stage")
    stage_tree(args.build, stage)
    deb = pack(stage, args.out)
    print(f"{os.path.relpath(deb, SOURCE)}: {os.path.getsize(deb)} bytes")


if __name__ == "__main__":
    sys.exit(main())
