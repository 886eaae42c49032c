#!/usr/bin/python3
"""Builds the release bundle a Windows user downloads (make dist):

    build/dist/Corvane_BT_Setup-<major.minor>-win32.zip
        Corvane_BT_Setup-<major.minor>-win32/Corvane_BT_Setup.exe   the shipped i686 program
        Corvane_BT_Setup-<major.minor>-win32/corvane.exe            the i686 console program, once built
        Corvane_BT_Setup-<major.minor>-win32/README.md
        Corvane_BT_Setup-<major.minor>-win32/SHA256SUMS             sha256sum's format, of the files above
    build/dist/corvane_<version>_<arch>.deb                          the Linux package (make deb)
    build/dist/SHA256SUMS                                            of the zip and the package

The version is the project's (CMakeLists.txt). Entries are sorted and stamped with the time of
the last commit, so the same sources give the same zip. The bundle is read back and checked
before the script reports it.
"""
import argparse
import hashlib
import os
import re
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)

# (path below the source folder, required)
CONTENTS = [
    ("build/windows/ui/Corvane_BT_Setup.exe", True),
    ("build/windows/cli/corvane.exe", False),
    ("README.md", True),
]


def project_version(source):
    with open(os.path.join(source, "CMakeLists.txt")) as f:
        m = re.search(r"project\([^)]*VERSION\s+(\d+)\.(\d+)", f.read())
    if not m:
        sys.exit("make_dist: no project VERSION in CMakeLists.txt")
    return f"{m.group(1)}.{m.group(2)}"


def stamp(source):
    """The last commit's time as a zip date, or the oldest a zip can hold outside a clone."""
    try:
        out = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"],
                             capture_output=True, text=True, check=True).stdout.strip()
        return time.gmtime(int(out))[:6]
    except (OSError, subprocess.CalledProcessError, ValueError):
        return (1980, 1, 1, 0, 0, 0)


def add(zf, name, data, when):
    info = zipfile.ZipInfo(name, date_time=when)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = 0o644 << 16
    info.create_system = 0  # made on "MS-DOS": Windows tools show no Unix permissions
    zf.writestr(info, data)


def build(source, out_dir):
    version = project_version(source)
    folder = f"Corvane_BT_Setup-{version}-win32"
    files = []
    for rel, required in CONTENTS:
        path = os.path.join(source, rel)
        if not os.path.exists(path):
            if required:
                sys.exit(f"make_dist: {rel} is missing (make windows builds it)")
            print(f"make_dist: {rel} not built, left out")
            continue
        with open(path, "rb") as f:
            files.append((os.path.basename(rel), f.read()))
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in files)
    files.append(("SHA256SUMS", sums.encode()))

    os.makedirs(out_dir, exist_ok=True)
    zip_path = os.path.join(out_dir, f"{folder}.zip")
    when = stamp(source)
    tmp = zip_path + ".tmp"
    with zipfile.ZipFile(tmp, "w") as zf:
        for name, data in sorted(files):
            add(zf, f"{folder}/{name}", data, when)
    os.replace(tmp, zip_path)
    verify(zip_path, folder, dict(files))
    return zip_path, [name for name, _ in files]


def verify(zip_path, folder, files):
    """The zip holds exactly the files, intact, and SHA256SUMS matches every other one."""
    with zipfile.ZipFile(zip_path) as zf:
        if zf.testzip() is not None:
            sys.exit(f"make_dist: {zip_path} is damaged")
        names = sorted(zf.namelist())
        if names != sorted(f"{folder}/{n}" for n in files):
            sys.exit(f"make_dist: {zip_path} holds {names}")
        for name, data in files.items():
            if zf.read(f"{folder}/{name}") != data:
                sys.exit(f"make_dist: {name} in the zip differs from the build")
        listed = {}
        for line in zf.read(f"{folder}/SHA256SUMS").decode().splitlines():
            digest, name = line.split("  ", 1)
            listed[name] = digest
        want = {n: hashlib.sha256(d).hexdigest() for n, d in files.items() if n != "SHA256SUMS"}
        if listed != want:
            sys.exit("make_dist: SHA256SUMS does not match the files")


def outer_sums(out_dir, zip_path):
    """One SHA256SUMS beside the downloads: the zip and the Linux package make deb left there."""
    names = [os.path.basename(zip_path)]
    debs = sorted(n for n in os.listdir(out_dir) if n.startswith("corvane_") and n.endswith(".deb"))
    if not debs:
        print("make_dist: no Linux package in build/dist (make deb builds it), left out")
    names += debs
    digests = {}
    for name in names:
        with open(os.path.join(out_dir, name), "rb") as f:
            digests[name] = hashlib.sha256(f.read()).hexdigest()
    path = os.path.join(out_dir, "SHA256SUMS")
    with open(path, "w") as f:
        f.write("".join(f"{digests[n]}  {n}\n" for n in sorted(names)))
    check = subprocess.run(["sha256sum", "--check", "--strict", "--quiet", "SHA256SUMS"],
                           cwd=out_dir, capture_output=True, text=True)
    if check.returncode != 0:
        sys.exit(f"make_dist: {path} does not check: {check.stdout}{check.stderr}")
    return sorted(names)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--source", default=SOURCE)
    ap.add_argument("--out", default=os.path.join(SOURCE, "build", "dist"))
    args = ap.parse_args()
    zip_path, names = build(args.source, args.out)
    print(f"{os.path.relpath(zip_path, args.source)}: {', '.join(names)} "
          f"({os.path.getsize(zip_path)} bytes)")
    summed = outer_sums(args.out, zip_path)
    print(f"{os.path.relpath(os.path.join(args.out, 'SHA256SUMS'), args.source)}: "
          f"{', '.join(summed)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
