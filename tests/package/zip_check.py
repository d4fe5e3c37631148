#!/usr/bin/env python3
"""Checks the Windows .zip: one top directory holding README.md, the manual as text and the
32-bit (x86/) and 64-bit (x64/) programs, each a console program of its machine that imports
nothing but DLLs every Windows has, so it runs from the unpacked folder.

Usage: zip_check.py PATH.zip --programs cleave [cleave-join ...] --manuals cleave [...]
Prints what it found wrong and exits 1, or prints "ok".
"""
import argparse
import re
import struct
import sys
import zipfile

MACHINES = {"x86": 0x14C, "x64": 0x8664}
CONSOLE_SUBSYSTEM = 3
SYSTEM_DLL = re.compile(r"(kernel32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll", re.I)


class PeImage:
    """The few PE header fields the checks need, read from the bytes of an .exe."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections = struct.unpack_from("<HH", data, pe + 4)
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.import_rva = struct.unpack_from("<I", data, directories + 8)[0]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8)
                         for i in range(sections)]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise ValueError(f"address {rva:#x} is in no section")

    def imported_dlls(self):
        dlls = []
        entry = self.offset(self.import_rva) if self.import_rva else None
        while entry is not None:
            name_rva = struct.unpack_from("<I", self.data, entry + 12)[0]
            if name_rva == 0:
                break
            start = self.offset(name_rva)
            dlls.append(self.data[start:self.data.index(b"\0", start)].decode("ascii"))
            entry += 20
        return dlls


def program_problems(name, data, arch):
    try:
        image = PeImage(data)
        dlls = image.imported_dlls()
    except (ValueError, struct.error) as error:
        return [f"{name} is not a readable Windows program: {error}"]
    problems = []
    if image.machine != MACHINES[arch]:
        problems.append(f"{name} is built for machine {image.machine:#x}, not {arch}")
    if image.subsystem != CONSOLE_SUBSYSTEM:
        problems.append(f"{name} is not a console program (subsystem {image.subsystem})")
    foreign = [dll for dll in dlls if not SYSTEM_DLL.fullmatch(dll)]
    if foreign:
        problems.append(f"{name} needs DLLs that Windows does not have: {foreign}")
    return problems


def text_problems(name, data):
    problems = []
    if not data.strip():
        problems.append(f"{name} is empty")
    if data.replace(b"\r\n", b"").count(b"\n"):
        problems.append(f"{name} has lines that do not end in CR LF")
    if b"\b" in data:
        problems.append(f"{name} still holds overstrike backspaces")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("zip")
    parser.add_argument("--programs", nargs="+", required=True)
    parser.add_argument("--manuals", nargs="+", required=True)
    args = parser.parse_args()

    with zipfile.ZipFile(args.zip) as archive:
        names = [name for name in archive.namelist() if not name.endswith("/")]
        tops = {name.split("/", 1)[0] for name in archive.namelist()}
        problems = []
        if len(tops) != 1:
            problems.append(f"expected one top directory, found {sorted(tops)}")
        top = sorted(tops)[0] + "/"
        wanted = [f"{top}README.md"]
        wanted += [f"{top}{program}.txt" for program in args.manuals]
        wanted += [f"{top}{arch}/{program}.exe" for arch in MACHINES for program in args.programs]
        problems += [f"{name} is missing" for name in wanted if name not in names]
        for name in names:
            if name.endswith(".exe"):
                arch = name[len(top):].split("/", 1)[0]
                if arch not in MACHINES:
                    problems.append(f"{name} is in no architecture folder")
                    continue
                problems += program_problems(name, archive.read(name), arch)
            elif name.endswith(".txt"):
                problems += text_problems(name, archive.read(name))
    for problem in problems:
        print(problem)
    print("ok" if not problems else f"{len(problems)} problem(s) in {args.zip}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
