#!/usr/bin/env python3
"""Traces a split with strace and checks the shape of its system calls.

A split must stay lean however the layer beneath it is written: the source is read in chunks of
at most 131072 bytes and never past the end of a part, each part is opened once and given its
length once, standard output is written once per part (the flush after the announcement) and
nothing is allocated while the bytes are copied.

Usage: shape_test.py --cleave PATH [--skip REASON]
Prints "SKIP <reason>" and exits 0 where strace is missing or cannot trace (ptrace refused).
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

CHUNK = 131072

# Each case cuts a source into parts; the reads of each part are the model's chunks.
CASES = [
    {"name": "three chunks and five bytes", "split": 3 * CHUNK + 5, "source": 2 * (3 * CHUNK + 5) + 7},
    {"name": "one exact chunk", "split": CHUNK, "source": 2 * CHUNK + 1},
]

SYSCALL = re.compile(r"^(?:\d+\s+)?(\w+)\((.*)\)\s+=\s+(-?\d+|\?)")
OPENS = {"open", "openat", "creat"}
READS = {"read", "pread64", "readv", "preadv", "preadv2"}
LENGTH_SETS = {"ftruncate", "fallocate", "truncate"}
STDOUT_WRITES = {"write", "writev", "pwrite64", "pwritev", "pwritev2"}
MEMORY_GROWTH = {"brk", "mmap", "mremap", "munmap", "mprotect"}
# A write to standard output whose text ends with a part's announcement.
ANNOUNCEMENT_END = re.compile(r'bytes\.\.\. ",\s*\d+$')


def skip(reason):
    print("SKIP " + reason)
    sys.exit(0)


def can_trace():
    if shutil.which("strace") is None:
        skip("strace is not installed (scripts/test installs it from Debian)")
    probe = subprocess.run(["strace", "-o", os.devnull, "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        skip("strace cannot trace here (ptrace refused?): " + probe.stderr.strip())


def parse(trace_path):
    """Returns the traced calls in order as (name, argument text, result)."""
    calls = []
    with open(trace_path, encoding="latin-1") as f:
        for line in f:
            m = SYSCALL.match(line)
            if m:
                calls.append((m.group(1), m.group(2), m.group(3)))
    return calls


def quoted_path(args):
    m = re.search(r'"((?:[^"\\]|\\.)*)"', args)
    return m.group(1) if m else None


def first_int(args):
    return int(args.split(",", 1)[0])


def requested_count(name, args):
    """The byte count a plain or positioned read asks for; a vectored read is named instead."""
    if name == "read":
        return int(args.rsplit(",", 1)[1])
    if name == "pread64":
        return int(args.rsplit(",", 2)[1])
    return name


def model_reads(part_size):
    reads = []
    while part_size > 0:
        reads.append(min(CHUNK, part_size))
        part_size -= reads[-1]
    return reads


def part_sizes(source, split):
    sizes = []
    while source > 0:
        sizes.append(min(split, source))
        source -= sizes[-1]
    return sizes


class Walk:
    """Follows the trace, attributing each call to the part that is open at the time."""

    def __init__(self, source_name, part_names):
        self.source_name = source_name
        self.part_index = {name: i for i, name in enumerate(part_names)}
        self.fds = {}
        self.open_part = None
        self.opens = [0] * len(part_names)
        self.length_sets = [0] * len(part_names)
        self.reads = [[] for _ in part_names]
        self.writes_before_open = [[] for _ in part_names]
        self.writes_while_open = [[] for _ in part_names]
        self.growth_while_copying = []
        self.pending_stdout = []
        self.copying = False

    def feed(self, name, args, result):
        if name in OPENS:
            self.on_open(args, result)
        elif name == "close":
            self.on_close(first_int(args))
        elif name in LENGTH_SETS:
            self.on_length_set(name, args)
        elif name in READS and self.fds.get(first_int(args)) == self.source_name:
            if self.open_part is not None:
                self.reads[self.open_part].append(requested_count(name, args))
        elif name in STDOUT_WRITES and first_int(args) == 1:
            self.on_stdout(args)
        elif name in MEMORY_GROWTH and self.copying:
            self.growth_while_copying.append(name)

    def on_open(self, args, result):
        path = quoted_path(args)
        if result.lstrip("-").isdigit() and int(result) >= 0:
            self.fds[int(result)] = path
        if path in self.part_index:
            index = self.part_index[path]
            self.opens[index] += 1
            self.open_part = index
            self.copying = True
            if self.opens[index] == 1:
                self.writes_before_open[index] = self.pending_stdout
                self.pending_stdout = []

    def on_close(self, fd):
        if self.open_part is not None and self.fds.get(fd) in self.part_index:
            self.open_part = None
            if self.part_index[self.fds[fd]] == len(self.part_index) - 1:
                self.copying = False
        self.fds.pop(fd, None)

    def on_length_set(self, name, args):
        target = quoted_path(args) if name == "truncate" else self.fds.get(first_int(args))
        if target in self.part_index:
            self.length_sets[self.part_index[target]] += 1

    def on_stdout(self, args):
        if self.open_part is None:
            self.pending_stdout.append(args)
        else:
            self.writes_while_open[self.open_part].append(args)


def check_case(cleave, case, root):
    failures = []
    source_name = "src.bin"
    data = random.Random(case["name"]).randbytes(case["source"])
    with open(os.path.join(root, source_name), "wb") as f:
        f.write(data)
    sizes = part_sizes(case["source"], case["split"])
    part_names = [f"{source_name}.{i:03d}" for i in range(len(sizes))]

    trace = os.path.join(root, "trace.txt")
    with open(os.path.join(root, "stdout.txt"), "wb") as out:
        run = subprocess.run(["strace", "-f", "-s", "256", "-o", trace, cleave, source_name,
                              str(case["split"])], cwd=root, stdout=out, stderr=subprocess.PIPE)
    if run.returncode != 0:
        return [f"cleave exited with {run.returncode}: {run.stderr.decode(errors='replace')}"]

    offset = 0
    for name, size in zip(part_names, sizes):
        with open(os.path.join(root, name), "rb") as f:
            if f.read() != data[offset:offset + size]:
                failures.append(f"{name} does not hold bytes {offset}..{offset + size} of the source")
        offset += size

    walk = Walk(source_name, part_names)
    for call in parse(trace):
        walk.feed(*call)

    for i, name in enumerate(part_names):
        expected = model_reads(sizes[i])
        if walk.reads[i] != expected:
            failures.append(f"{name}: source reads asked for {walk.reads[i]}, expected {expected}")
        if walk.opens[i] != 1:
            failures.append(f"{name}: opened {walk.opens[i]} times, expected once")
        if walk.length_sets[i] != 1:
            failures.append(f"{name}: length set {walk.length_sets[i]} times, expected once")
        before = walk.writes_before_open[i]
        if len(before) != 1 or not ANNOUNCEMENT_END.search(before[0]) or f"'{name}'" not in before[0]:
            failures.append(f"{name}: expected one standard output write ending in its "
                            f"announcement before its open, saw {before}")
        if walk.writes_while_open[i]:
            failures.append(f"{name}: standard output written while copying: "
                            f"{walk.writes_while_open[i]}")
    if len(walk.pending_stdout) > 1:
        failures.append(f"after the last part, {len(walk.pending_stdout)} standard output writes "
                        "instead of the one at exit")
    if walk.growth_while_copying:
        failures.append(f"memory calls while copying: {walk.growth_while_copying}")
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cleave", required=True)
    parser.add_argument("--skip", metavar="REASON", help="skip the test, saying why")
    args = parser.parse_args()
    if args.skip:
        skip(args.skip)
    cleave = os.path.abspath(args.cleave)
    can_trace()

    failed = 0
    for case in CASES:
        with tempfile.TemporaryDirectory(prefix="cleave-shape-") as root:
            failures = check_case(cleave, case, root)
        print(("FAIL " if failures else "ok   ") + case["name"])
        for failure in failures:
            print("     " + failure)
        failed += bool(failures)
    print(f"{len(CASES) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
