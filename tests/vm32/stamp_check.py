"""The guest image's stamp (scripts/vm32/image-stamp.sh) on a small folder of its own: an image
is used only when it is whole, so each way an image can be incomplete or damaged must make the
check fail. run_vm32.py runs these before it looks at the real image."""
import os
import subprocess
import tempfile

STAMP = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(
    __file__)))), "scripts", "vm32", "image-stamp.sh")
FILES = {"root.img": 300_000, "vmlinuz": 5_000, "initrd.img": 7_000}


def stamp(action, folder):
    return subprocess.run(["bash", STAMP, action, folder], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode


def built(folder, stamped=True):
    for name, size in FILES.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(bytes(i * 7 % 251 for i in range(size)))
    if stamped:
        stamp("write", folder)


def truncate_root(folder):
    with open(os.path.join(folder, "root.img"), "r+b") as f:
        f.truncate(FILES["root.img"] - 4096)


def flip_middle_byte(folder):
    with open(os.path.join(folder, "root.img"), "r+b") as f:
        f.seek(FILES["root.img"] // 2)
        byte = f.read(1)
        f.seek(-1, os.SEEK_CUR)
        f.write(bytes([byte[0] ^ 0x20]))


def stamp_cut_short(folder):
    os.rename(os.path.join(folder, "complete"), os.path.join(folder, "complete.tmp"))


# (case, what is done to a freshly stamped folder, whether check must accept it)
CASES = [
    ("whole image", lambda d: None, True),
    ("build cut short before the stamp", lambda d: os.unlink(os.path.join(d, "complete")), False),
    ("stamp cut short", stamp_cut_short, False),
    ("image truncated", truncate_root, False),
    ("a byte of the image changed", flip_middle_byte, False),
    ("kernel missing", lambda d: os.unlink(os.path.join(d, "vmlinuz")), False),
    ("empty stamp", lambda d: open(os.path.join(d, "complete"), "w").close(), False),
]


def run():
    """Prints one line per case; returns (passed, failed)."""
    passed = failed = 0
    for name, damage, accepted in CASES:
        with tempfile.TemporaryDirectory() as folder:
            built(folder)
            damage(folder)
            got = stamp("check", folder) == 0
        if got == accepted:
            passed += 1
            print(f"ok   image stamp: {name}")
        else:
            failed += 1
            print(f"FAIL image stamp: {name}: check {'accepted' if got else 'refused'} it")
    return passed, failed


if __name__ == "__main__":
    p, f = run()
    print(f"{p} passed, {f} failed")
