#!/usr/bin/env python3
"""Builds the .deb from a configured build tree, checks its metadata and contents, unpacks it
into a scratch root with `dpkg -x` and runs the unpacked program on a sample.

Usage: deb_check.py --cpack PATH --config BUILD/CPackConfig.cmake --version X.Y.Z --page doc/cleave.1
Prints what it found wrong and exits 1, or prints "ok".
"""
import argparse
import glob
import os
import subprocess
import sys
import tempfile

SAMPLE = bytes(range(10))
EXPECTED_PARTS = {"data.bin.000": SAMPLE[0:4], "data.bin.001": SAMPLE[4:8],
                  "data.bin.002": SAMPLE[8:10]}


def output_of(command, **extra):
    return subprocess.run(command, check=True, capture_output=True, text=True, **extra).stdout


def build_package(args, scratch):
    made = subprocess.run([args.cpack, "-G", "DEB", "--config", args.config, "-B", scratch],
                          capture_output=True, text=True)
    if made.returncode != 0:
        sys.exit(f"cpack failed:\n{made.stdout}{made.stderr}")
    found = glob.glob(os.path.join(scratch, "*.deb"))
    if len(found) != 1:
        sys.exit(f"expected one .deb, cpack made {found}")
    return found[0]


def metadata_problems(deb, version):
    fields = {}
    for line in output_of(["dpkg-deb", "-f", deb]).splitlines():
        if not line.startswith(" ") and ":" in line:
            key, value = line.split(":", 1)
            fields[key] = value.strip()
    architecture = output_of(["dpkg", "--print-architecture"]).strip()
    expected = {"Package": "cleave", "Version": version, "Architecture": architecture,
                "Section": "utils", "Priority": "optional"}
    problems = [f"{key} is {fields.get(key)!r}, expected {value!r}"
                for key, value in expected.items() if fields.get(key) != value]
    if "<" not in fields.get("Maintainer", "") or "@" not in fields.get("Maintainer", ""):
        problems.append(f"Maintainer {fields.get('Maintainer')!r} has no address")
    if "libc6" not in fields.get("Depends", ""):
        problems.append(f"Depends {fields.get('Depends')!r} does not name libc6")
    if not fields.get("Description"):
        problems.append("the description is empty")
    if os.path.basename(deb) != f"cleave_{version}_{architecture}.deb":
        problems.append(f"file name {os.path.basename(deb)} is not the Debian one")
    return problems


def content_problems(deb):
    """Everything under /usr, owned by root, the program executable by all."""
    problems = []
    entries = {}
    for line in output_of(["dpkg-deb", "-c", deb]).splitlines():
        mode, owner, _size, _date, _time, path = line.split(None, 5)
        entries[path.lstrip(".")] = (mode, owner)
    for path, (mode, owner) in sorted(entries.items()):
        if path != "/" and not path.startswith("/usr/"):
            problems.append(f"{path} lies outside /usr")
        if owner != "root/root":
            problems.append(f"{path} is owned by {owner}")
    wanted = {"/usr/bin/cleave": "-rwxr-xr-x", "/usr/share/man/man1/cleave.1": "-rw-r--r--",
              "/usr/share/doc/cleave/README.md": "-rw-r--r--"}
    for path, mode in wanted.items():
        if path not in entries:
            problems.append(f"{path} is missing")
        elif entries[path][0] != mode:
            problems.append(f"{path} has mode {entries[path][0]}, expected {mode}")
    return problems


def installed_problems(deb, page, scratch):
    root = os.path.join(scratch, "root")
    subprocess.run(["dpkg", "-x", deb, root], check=True)
    problems = []
    with open(page, "rb") as source, open(os.path.join(root, "usr/share/man/man1/cleave.1"),
                                          "rb") as installed:
        if source.read() != installed.read():
            problems.append("the installed manual page differs from the source")

    work = os.path.join(scratch, "work")
    os.mkdir(work)
    with open(os.path.join(work, "data.bin"), "wb") as f:
        f.write(SAMPLE)
    # No PATH: the run must not depend on anything but the unpacked program.
    run = subprocess.run([os.path.join(root, "usr/bin/cleave"), "data.bin", "4"], cwd=work,
                         capture_output=True, text=True, env={})
    if run.returncode != 0 or "* Split Completed Successfully." not in run.stdout:
        problems.append(f"the installed cleave failed ({run.returncode}):\n{run.stdout}")
    for name, data in EXPECTED_PARTS.items():
        path = os.path.join(work, name)
        if not os.path.exists(path):
            problems.append(f"{name} was not written")
            continue
        with open(path, "rb") as f:
            if f.read() != data:
                problems.append(f"{name} holds the wrong bytes")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--page", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        deb = build_package(args, scratch)
        problems = (metadata_problems(deb, args.version) + content_problems(deb) +
                    installed_problems(deb, args.page, scratch))
    for problem in problems:
        print(problem)
    print("ok" if not problems else f"{len(problems)} problem(s) in the .deb")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
