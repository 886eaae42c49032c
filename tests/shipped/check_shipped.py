#!/usr/bin/python3
"""Static checks of the files that ship: the i686 programs, which this kind of machine cannot
run, against their x86_64 builds, which the tests run under wine64.

    check_shipped.py [--source DIR] [--self-test]

For Corvane_BT_Setup.exe (GUI) and corvane.exe (console; skipped with a note until it is
built): the i686 file has exactly the resources of the x86_64 build (dialog templates, icons,
strings, version record), its manifest differing only in naming the x86 processor
architecture; the expected subsystem; ASLR (DYNAMIC_BASE) and DEP (NX_COMPAT); imports from
system DLLs only; the same TLS callbacks as the x86_64 build (the toolchain's start-up code
registers them, and the loader runs them before the entry point and at every thread start and
exit, so the tested build must have run the same ones), each pointing into code; corvane.exe
with the SQLite of its ledger linked in, the same release as the x86_64 build's. --self-test
also damages copies of the files and expects each damage to be caught. Exit status 1 on any
failure.
"""
import argparse
import os
import re
import sys
import tempfile

try:
    import pefile
except ImportError:
    sys.exit("check_shipped: needs python3-pefile (scripts/deps.sh installs it)")

# The DLLs every Windows installation has. The C runtime msvcrt.dll is among them; a MinGW,
# libstdc++ or winpthread DLL is not. ws2_32.dll is the sockets of the console build's web view.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "advapi32.dll", "shell32.dll",
    "ole32.dll", "oleaut32.dll", "comdlg32.dll", "msvcrt.dll", "uxtheme.dll", "ntdll.dll",
    "shlwapi.dll", "version.dll", "winmm.dll", "ws2_32.dll", "imm32.dll",
}

GUI, CONSOLE = pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"], \
    pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]
DYNAMIC_BASE = pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"]
NX_COMPAT = pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]
I386 = pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]
RELOCS_STRIPPED = pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"]
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]

# (i686 path, x86_64 path, subsystem) below the source folder.
PROGRAMS = [
    ("build/windows/ui/Corvane_BT_Setup.exe", "build/windows-x64/ui/Corvane_BT_Setup.exe", GUI),
    ("build/windows/cli/corvane.exe", "build/windows-x64/cli/corvane.exe", CONSOLE),
]

ARCH = re.compile(rb'processorArchitecture="([^"]*)"')
# SQLite's source id (sqlite3_sourceid()), which every build of it carries: "2022-12-28 14:03:47
# df5c...", with Debian's suffix.
SQLITE_ID = re.compile(rb"20\d\d-\d\d-\d\d \d\d:\d\d:\d\d [0-9a-f]{40,64}[0-9a-z]*")


def resources(pe):
    """{(type, name, language): bytes} of every resource in the file."""
    out = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return out

    def key(entry):
        return str(entry.name) if entry.name is not None else entry.id

    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in rtype.directory.entries:
            for lang in name.directory.entries:
                data = lang.data.struct
                out[(key(rtype), key(name), lang.id)] = pe.get_data(data.OffsetToData, data.Size)
    return out


def tls_callbacks(pe):
    """None without a TLS directory, else the addresses in its null-terminated callback array."""
    if not hasattr(pe, "DIRECTORY_ENTRY_TLS"):
        return None
    va = pe.DIRECTORY_ENTRY_TLS.struct.AddressOfCallBacks
    if not va:
        return []
    size = 8 if pe.PE_TYPE == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS else 4
    rva = va - pe.OPTIONAL_HEADER.ImageBase
    out = []
    while True:
        ptr = int.from_bytes(pe.get_data(rva + size * len(out), size), "little")
        if not ptr:
            return out
        out.append(ptr)


def tls_failures(pe, tested):
    """The i686 file must carry a TLS directory and callbacks exactly when the x86_64 build
    does, as many of them, and each must point into an executable section of the image."""
    ours, theirs = tls_callbacks(pe), tls_callbacks(tested)
    if (ours is None) != (theirs is None):
        return [f"TLS directory {'missing' if ours is None else 'present'}, "
                f"the x86_64 build has {'one' if theirs is not None else 'none'}"]
    if ours is None:
        return []
    failures = []
    if len(ours) != len(theirs):
        failures.append(f"{len(ours)} TLS callback(s), the x86_64 build has {len(theirs)}")
    base = pe.OPTIONAL_HEADER.ImageBase
    code = [s for s in pe.sections
            if s.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"]]
    for va in ours:
        rva = va - base
        if not any(s.VirtualAddress <= rva < s.VirtualAddress + s.Misc_VirtualSize
                   for s in code):
            failures.append(f"TLS callback 0x{va:x} points outside the code")
    return failures


def describe(key):
    rtype = {v: k for k, v in pefile.RESOURCE_TYPE.items() if isinstance(v, int)}.get(key[0], key[0])
    return f"{rtype} {key[1]} (language 0x{key[2]:04x})"


def check(shipped, tested, subsystem):
    """The failures of the shipped i686 file, compared with the tested x86_64 one."""
    failures = []
    pe = pefile.PE(shipped)
    if pe.FILE_HEADER.Machine != I386:
        failures.append(f"machine 0x{pe.FILE_HEADER.Machine:x}, not i386")
    if pe.OPTIONAL_HEADER.Subsystem != subsystem:
        failures.append(f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, want {subsystem}")
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    for bit, name in ((DYNAMIC_BASE, "DYNAMIC_BASE"), (NX_COMPAT, "NX_COMPAT")):
        if not flags & bit:
            failures.append(f"{name} not set")
    # Without its relocations the loader cannot move the image, whatever DYNAMIC_BASE says.
    relocs = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if pe.FILE_HEADER.Characteristics & RELOCS_STRIPPED or not relocs.Size:
        failures.append("no base relocations: the image cannot be moved")
    dlls = [e.dll.decode().lower() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    foreign = sorted(d for d in dlls if d not in SYSTEM_DLLS)
    if foreign:
        failures.append(f"imports non-system DLLs: {', '.join(foreign)}")
    tested_pe = pefile.PE(tested)
    failures += tls_failures(pe, tested_pe)
    if subsystem == CONSOLE:
        # The ledger: SQLite linked in statically (no DLL), as in the build the tests ran.
        ours_id = SQLITE_ID.search(pe.__data__)
        theirs_id = SQLITE_ID.search(tested_pe.__data__)
        if not ours_id:
            failures.append("no SQLite linked in: built without the ledger (make sqlite-mingw)")
        elif not theirs_id or ours_id.group() != theirs_id.group():
            failures.append(f"SQLite {ours_id.group().decode()} is not the x86_64 build's")

    ours = resources(pe)
    theirs = resources(tested_pe)
    for key in sorted(set(ours) | set(theirs), key=str):
        if key not in ours:
            failures.append(f"resource {describe(key)} missing")
        elif key not in theirs:
            failures.append(f"resource {describe(key)} not in the x86_64 build")
        elif key[0] == RT_MANIFEST:
            archs = ARCH.findall(ours[key])
            if not archs or any(a != b"x86" for a in archs):
                failures.append(f"manifest names processor architectures {archs}, want x86")
            if ARCH.sub(b"", ours[key]) != ARCH.sub(b"", theirs[key]):
                failures.append("manifest differs beyond the processor architecture")
        elif ours[key] != theirs[key]:
            failures.append(f"resource {describe(key)} differs from the x86_64 build")
    return failures, dlls, len(ours), tls_callbacks(pe)


def run(source):
    failed = False
    for rel32, rel64, subsystem in PROGRAMS:
        shipped, tested = os.path.join(source, rel32), os.path.join(source, rel64)
        if not os.path.exists(shipped):
            print(f"skip {rel32}: not built")
            continue
        if not os.path.exists(tested):
            print(f"FAIL {rel32}: {rel64} is missing to compare with")
            failed = True
            continue
        failures, dlls, count, callbacks = check(shipped, tested, subsystem)
        if failures:
            failed = True
            print(f"FAIL {rel32}")
            for f in failures:
                print(f"    {f}")
        else:
            tls = ("no TLS directory" if callbacks is None
                   else f"{len(callbacks)} TLS callback(s)")
            print(f"ok   {rel32}: {'GUI' if subsystem == GUI else 'console'}, DYNAMIC_BASE, "
                  f"NX_COMPAT, {tls} and {count} resources as in the x86_64 build, "
                  f"imports {', '.join(dlls)}")
    return failed


def damaged_copies(shipped, tested, work):
    """(what, path) of copies of the shipped file, each with one fault the check must catch."""
    def copy(name, change):
        pe = pefile.PE(shipped)
        change(pe)
        path = os.path.join(work, name + ".exe")
        pe.write(path)
        pe.close()
        return name, path

    def flip_resource_byte(pe):
        for key, data in resources(pe).items():
            if key[0] != RT_MANIFEST and data:
                for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
                    for name in rtype.directory.entries:
                        for lang in name.directory.entries:
                            entry = lang.data.struct
                            if pe.get_data(entry.OffsetToData, entry.Size) == data:
                                # A byte from the middle: pefile writes the headers it parsed
                                # (a version record's lengths, say) back over their bytes.
                                middle = len(data) // 2
                                offset = pe.get_offset_from_rva(entry.OffsetToData) + middle
                                pe.set_bytes_at_offset(offset, bytes([data[middle] ^ 0xFF]))
                                return

    def manifest_amd64(pe):
        # A program without resources (the console one) has nothing to damage here.
        for rtype in getattr(getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None), "entries", []):
            if rtype.id == RT_MANIFEST:
                entry = rtype.directory.entries[0].directory.entries[0].data.struct
                data = pe.get_data(entry.OffsetToData, entry.Size)
                # Same length, so the file's layout stays.
                pe.set_bytes_at_offset(pe.get_offset_from_rva(entry.OffsetToData),
                                       data.replace(b'"x86"', b'"ia4"', 1))

    def rename_import(pe):
        for imp in pe.DIRECTORY_ENTRY_IMPORT:
            if imp.dll.lower() == b"kernel32.dll":
                pe.set_bytes_at_offset(pe.get_offset_from_rva(imp.struct.Name), b"kernel33.dll")

    def no_sqlite(pe):
        found = SQLITE_ID.search(pe.__data__)
        if found:
            pe.set_bytes_at_offset(found.start(), b"X" * len(found.group()))

    def drop_tls_directory(pe):
        tls = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_TLS"]
        entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[tls]
        entry.VirtualAddress, entry.Size = 0, 0

    def set_first_callback(value):
        def change(pe):
            size = 8 if pe.PE_TYPE == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS else 4
            rva = pe.DIRECTORY_ENTRY_TLS.struct.AddressOfCallBacks - pe.OPTIONAL_HEADER.ImageBase
            pe.set_bytes_at_offset(pe.get_offset_from_rva(rva), value(pe).to_bytes(size, "little"))
        return change

    original = pefile.PE(shipped)
    subsystem = original.OPTIONAL_HEADER.Subsystem
    callbacks = tls_callbacks(original)
    if callbacks is not None:
        yield copy("tls-directory", drop_tls_directory)
    if callbacks:
        # A null first entry ends the array: the file then has no callbacks at all.
        yield copy("tls-callbacks", set_first_callback(lambda pe: 0))
        # The image's own headers: mapped, but not code.
        yield copy("tls-target", set_first_callback(lambda pe: pe.OPTIONAL_HEADER.ImageBase))
    yield copy("no-aslr", lambda pe: setattr(pe.OPTIONAL_HEADER, "DllCharacteristics",
                                              pe.OPTIONAL_HEADER.DllCharacteristics
                                              & ~DYNAMIC_BASE))
    yield copy("no-dep", lambda pe: setattr(pe.OPTIONAL_HEADER, "DllCharacteristics",
                                             pe.OPTIONAL_HEADER.DllCharacteristics & ~NX_COMPAT))
    yield copy("relocations", lambda pe: setattr(pe.FILE_HEADER, "Characteristics",
                                                  pe.FILE_HEADER.Characteristics
                                                  | RELOCS_STRIPPED))
    yield copy("subsystem", lambda pe: setattr(pe.OPTIONAL_HEADER, "Subsystem",
                                                CONSOLE if subsystem == GUI else GUI))
    yield copy("resource", flip_resource_byte)
    yield copy("manifest", manifest_amd64)
    yield copy("import", rename_import)
    if subsystem == CONSOLE:
        yield copy("sqlite", no_sqlite)


def self_test(source):
    """Each damaged copy of each built program must fail the check."""
    failed = False
    caught = set()
    with tempfile.TemporaryDirectory() as work:
        for rel32, rel64, subsystem in PROGRAMS:
            shipped, tested = os.path.join(source, rel32), os.path.join(source, rel64)
            if not (os.path.exists(shipped) and os.path.exists(tested)):
                continue
            for what, path in damaged_copies(shipped, tested, work):
                kinds = {key[0] for key in resources(pefile.PE(path))}
                if (what == "resource" and not kinds - {RT_MANIFEST}) or (
                        what == "manifest" and RT_MANIFEST not in kinds):
                    continue
                if not check(path, tested, subsystem)[0]:
                    print(f"FAIL self-test: a copy of {rel32} with damage '{what}' passes")
                    failed = True
                else:
                    caught.add(what)
    if not failed:
        print(f"ok   self-test: every damaged copy is caught ({', '.join(sorted(caught))})")
    return failed


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--source", default=os.path.dirname(os.path.dirname(here)))
    ap.add_argument("--self-test", action="store_true")
    args = ap.parse_args()
    failed = run(args.source)
    if args.self_test:
        failed = self_test(args.source) or failed
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
