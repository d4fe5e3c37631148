#!/usr/bin/env python3
"""Checks that Windows executables are console programs of the expected kind that import only
system DLLs, so they run on a bare Windows without anything installed beside them.

Usage: pe_check.py --objdump PATH --format pe32|pe32+ EXE...
Prints one line per program and fails if any check fails.
"""
import argparse
import re
import subprocess
import sys

MAGIC = {"pe32": "010b", "pe32+": "020b"}
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll"}
CONSOLE_SUBSYSTEM = 3


def problems_of(objdump, exe, kind):
    headers = subprocess.run([objdump, "-p", exe], check=True, capture_output=True,
                             text=True).stdout
    found = []
    magic = re.search(r"^Magic\s+([0-9a-f]{4})", headers, re.M)
    if not magic or magic.group(1) != MAGIC[kind]:
        found.append(f"not {kind.upper()} (magic {magic.group(1) if magic else 'missing'})")
    subsystem = re.search(r"^Subsystem\s+([0-9a-f]{8})", headers, re.M)
    if not subsystem or int(subsystem.group(1), 16) != CONSOLE_SUBSYSTEM:
        found.append("not a console program")
    dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}
    if "kernel32.dll" not in dlls:
        found.append("does not import KERNEL32.dll")
    if dlls - SYSTEM_DLLS:
        found.append(f"imports {', '.join(sorted(dlls - SYSTEM_DLLS))}")
    return found, sorted(dlls)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--format", choices=sorted(MAGIC), required=True)
    parser.add_argument("exe", nargs="+")
    args = parser.parse_args()
    failed = False
    for exe in args.exe:
        found, dlls = problems_of(args.objdump, exe, args.format)
        if found:
            print(f"FAIL {exe}: {'; '.join(found)}")
            failed = True
        else:
            print(f"ok   {exe}: {args.format.upper()} console program importing {', '.join(dlls)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
