#!/usr/bin/env python3
"""Checks the manual pages: they format without a single warning, read well in an 80-column
terminal, and the exit codes they list are the codes the program really has.

Usage:
  manual_check.py lint PAGE [--sections NAME ...]
  manual_check.py text --mandoc PATH --render SCRIPT PAGE
  manual_check.py codes PAGE --readme README.md --codes error_codes.h --errno-table errors.cpp
Each prints what it found wrong and exits 1, or prints "ok".
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

WIDTH = 80


def run(command, **extra):
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH=str(WIDTH), MAN_KEEP_FORMATTING="")
    return subprocess.run(command, capture_output=True, text=True, env=env, **extra)


def checker_messages(page):
    """Every message of mandoc's lint and of groff's full warnings, as the tools print them."""
    problems = []
    lint = run(["mandoc", "-T", "lint", page])
    problems += [f"mandoc: {line}" for line in (lint.stdout + lint.stderr).splitlines()]
    if lint.returncode != 0 and not problems:
        problems.append(f"mandoc -T lint exited with {lint.returncode}")
    groff = run(["groff", "-ww", "-z", "-t", "-man", page])
    problems += [f"groff: {line}" for line in groff.stderr.splitlines()]
    return problems


def rendered_problems(page, sections):
    """What `man -l` shows: no warning, no line wider than the terminal, every section."""
    shown = run(["man", "--warnings", "-l", page])
    problems = [f"man: {line}" for line in shown.stderr.splitlines()]
    if shown.returncode != 0:
        problems.append(f"man -l exited with {shown.returncode}")
    lines = shown.stdout.splitlines()
    for number, line in enumerate(lines, 1):
        if len(line.expandtabs()) > WIDTH:
            problems.append(f"rendered line {number} is wider than {WIDTH}: {line.strip()}")
    headings = {line.strip() for line in lines if line and not line[0].isspace()}
    problems += [f"section {name} is missing" for name in sections if name not in headings]
    return problems


def lint(args):
    return checker_messages(args.page) + rendered_problems(args.page, args.sections)


def text(args):
    """The plain-text copy for Windows: ASCII only, CR LF line ends, no overstrike left."""
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "page.txt")
        made = run(["cmake", f"-DMANDOC={args.mandoc}", f"-DPAGE={args.page}", f"-DTEXT={out}",
                    "-P", args.render])
        if made.returncode != 0:
            return [f"rendering failed: {made.stdout}{made.stderr}"]
        with open(out, "rb") as f:
            data = f.read()
    problems = []
    if not data:
        problems.append("the text is empty")
    if any(byte > 0x7E or (byte < 0x20 and byte not in b"\r\n") for byte in data):
        problems.append("the text holds bytes other than printable ASCII and line ends")
    if data.replace(b"\r\n", b"").count(b"\n") or data.replace(b"\r\n", b"").count(b"\r"):
        problems.append("a line does not end in CR LF")
    lines = data.decode("ascii", "replace").splitlines()
    problems += [f"line wider than {WIDTH}: {line}" for line in lines if len(line) > WIDTH]
    if "NAME" not in lines:
        problems.append("the NAME heading is missing")
    return problems


def documented_codes(page_source):
    """(code, name) pairs of the exit status list: `.B 2 ERROR_FILE_NOT_FOUND` lines."""
    return set((int(code), name)
               for code, name in re.findall(r"^\.B (\d+) (ERROR_\w+)$", page_source, re.M))


def readme_codes(readme):
    return set((int(code), name)
               for code, name in re.findall(r"^\| (\d+) \| (ERROR_\w+) \|", readme, re.M))


def codes(args):
    with open(args.page) as f:
        page = f.read()
    with open(args.readme) as f:
        readme = f.read()
    with open(args.codes) as f:
        known = {name: int(code) for name, code in re.findall(r"X\((ERROR_\w+), (\d+),", f.read())}
    with open(args.errno_table) as f:
        from_errno = set(re.findall(r"\{E\w+, (ERROR_\w+)\}", f.read()))

    listed = documented_codes(page)
    problems = []
    if not listed:
        problems.append("the page lists no codes")
    for code, name in sorted(listed):
        if known.get(name) != code:
            problems.append(f"page lists {code} {name}, the program has {name} = {known.get(name)}")
    names = {name for _, name in listed}
    problems += [f"{name} comes from an errno but is not listed" for name in
                 sorted(from_errno - names)]
    in_readme = readme_codes(readme)
    if in_readme != listed:
        problems.append(f"README and page differ: only in README {sorted(in_readme - listed)}, "
                        f"only in the page {sorted(listed - in_readme)}")
    return problems


def main():
    parser = argparse.ArgumentParser()
    modes = parser.add_subparsers(dest="mode", required=True)
    lint_mode = modes.add_parser("lint")
    lint_mode.add_argument("page")
    lint_mode.add_argument("--sections", nargs="*", default=[])
    text_mode = modes.add_parser("text")
    text_mode.add_argument("page")
    text_mode.add_argument("--mandoc", default=shutil.which("mandoc"))
    text_mode.add_argument("--render", required=True)
    codes_mode = modes.add_parser("codes")
    codes_mode.add_argument("page")
    codes_mode.add_argument("--readme", required=True)
    codes_mode.add_argument("--codes", required=True)
    codes_mode.add_argument("--errno-table", required=True)
    args = parser.parse_args()

    problems = {"lint": lint, "text": text, "codes": codes}[args.mode](args)
    for problem in problems:
        print(problem)
    print("ok" if not problems else f"{len(problems)} problem(s) in {args.page}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
