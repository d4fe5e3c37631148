#!/usr/bin/env python3
"""Keeps README.md honest: the blocks it marks with `<!-- readme-check: NAME -->` just before a
fenced block are checked against the real program and the real scripts.

  quick-start  the commands are exactly scripts/run and scripts/test, both present and
               executable (they are not run here: scripts/test runs this very check);
  transcript   the `$ cleave ...` command, run on a file of the size its output names, prints
               exactly the lines shown;
  rejoin       the command, run with sh beside the parts of a real split of 1100 parts (past
               .999) with the source moved away, writes one new file equal to the source.

The manual page marks its copy of the rejoin command the same way, with a roff comment
`.\\" readme-check: rejoin` before its .EX block; --manual checks that copy instead.

Usage: readme_check.py (--readme README.md | --manual PAGE) --root DIR --cleave PATH CHECK
Prints what it found wrong and exits 1, or prints "ok".
"""
import argparse
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

SOURCE = "data.bin"
REJOIN_PARTS = 1100


def marked_block(readme_text, name):
    """The lines of the fenced block that follows the marker; blank lines may come between."""
    marker = re.search(r"^<!-- readme-check: %s -->\n(?:[ \t]*\n)*```[^\n]*\n(.*?)^```[ \t]*$"
                       % re.escape(name), readme_text, re.M | re.S)
    if marker is None:
        sys.exit(f"README has no fenced block after <!-- readme-check: {name} -->")
    return marker.group(1).splitlines()


ROFF_ESCAPES = {r"\(aq": "'", r"\-": "-", r"\e": "\\", r"\&": ""}


def marked_example(page_text, name):
    """The lines of the .EX block that follows the roff comment marker, as the reader sees them."""
    marker = re.search(r'^\.\\" readme-check: %s\n(?:\.(?:RS|PP|IP)[^\n]*\n)*\.EX\n(.*?)^\.EE$'
                       % re.escape(name), page_text, re.M | re.S)
    if marker is None:
        sys.exit(f"the page has no .EX block after the readme-check: {name} comment")
    escapes = re.compile(r"\\\(..|\\.")
    unknown = set(escapes.findall(marker.group(1))) - set(ROFF_ESCAPES)
    if unknown:
        sys.exit(f"the {name} example holds roff escapes this check does not know: {unknown}")
    return escapes.sub(lambda escape: ROFF_ESCAPES[escape.group(0)], marker.group(1)).splitlines()


def check_quick_start(lines, args):
    commands = [line.split("#", 1)[0].strip() for line in lines]
    commands = [command for command in commands if command]
    problems = []
    if commands != ["scripts/run", "scripts/test"]:
        problems.append(f"the quick start is {commands}, expected scripts/run and scripts/test")
    for command in commands:
        path = os.path.join(args.root, command)
        if not os.path.isfile(path) or not os.access(path, os.X_OK):
            problems.append(f"{command} is not an executable file in {args.root}")
    return problems


def check_transcript(lines, args):
    commands = [line for line in lines if line.startswith("$ ")]
    if len(commands) != 1 or lines[0] != commands[0]:
        return [f"the transcript must open with its one `$ cleave` command: {commands}"]
    argv = shlex.split(lines[0][2:])
    if argv[0] != "cleave":
        return [f"the transcript runs {argv[0]}, not cleave"]
    size = re.search(r"^Source file size: (\d+)$", "\n".join(lines), re.M)
    if size is None:
        return ["the transcript shows no source size"]

    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, argv[1]), "wb") as f:
            f.write(bytes(i % 251 for i in range(int(size.group(1)))))
        run = subprocess.run([args.cleave] + argv[1:], cwd=work, capture_output=True, text=True)
    shown = "\n".join(lines[1:]) + "\n"
    problems = []
    if run.returncode != 0:
        problems.append(f"the command exited with {run.returncode}")
    if run.stdout != shown:
        problems.append(f"the real output differs from the transcript:\n{run.stdout}")
    return problems


def check_rejoin(lines, args):
    command = "\n".join(lines)
    source = random.Random(REJOIN_PARTS).randbytes(REJOIN_PARTS)
    with tempfile.TemporaryDirectory() as scratch:
        work = os.path.join(scratch, "parts")
        os.mkdir(work)
        with open(os.path.join(work, SOURCE), "wb") as f:
            f.write(source)
        split = subprocess.run([args.cleave, SOURCE, "1"], cwd=work, capture_output=True)
        if split.returncode != 0:
            return [f"the split for the rejoin failed with {split.returncode}"]
        # Without the source beside the parts, only a real join can produce its bytes.
        shutil.move(os.path.join(work, SOURCE), os.path.join(scratch, SOURCE))
        before = set(os.listdir(work))
        run = subprocess.run(["sh", "-c", command], cwd=work, capture_output=True, text=True)
        made = sorted(set(os.listdir(work)) - before)
        if run.returncode != 0:
            return [f"the rejoin command exited with {run.returncode}: {run.stderr}"]
        if len(made) != 1:
            return [f"the rejoin command made {made}, expected one joined file"]
        with open(os.path.join(work, made[0]), "rb") as f:
            joined = f.read()
    if joined != source:
        return [f"{made[0]} ({len(joined)} bytes) differs from the {len(source)}-byte source"]
    return []


def main():
    parser = argparse.ArgumentParser()
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--readme")
    source.add_argument("--manual")
    parser.add_argument("--root", required=True)
    parser.add_argument("--cleave", required=True)
    parser.add_argument("check", choices=["quick-start", "transcript", "rejoin"])
    args = parser.parse_args()
    args.cleave = os.path.abspath(args.cleave)
    with open(args.readme or args.manual, encoding="utf-8") as f:
        text = f.read()
    lines = marked_block(text, args.check) if args.readme else marked_example(text, args.check)
    checks = {"quick-start": check_quick_start, "transcript": check_transcript,
              "rejoin": check_rejoin}
    problems = checks[args.check](lines, args)
    for problem in problems:
        print(problem)
    where = "README" if args.readme else args.manual
    print("ok" if not problems else f"{where} {args.check}: {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
