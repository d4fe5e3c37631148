#!/usr/bin/env python3
"""Integrity over many sizes and at 64-bit scale.

  property  a few hundred random (source size, split size) pairs, drawn mostly around multiples
            of the 131072-byte copy chunk and one byte either side of a multiple of the split
            size: the parts join to the source, every part has the split size but the last,
            which holds the rest, and standard output is the plan.
  large     a sparse source of 4 GiB + 10 bytes cut into 2 GiB parts: sizes 2 GiB, 2 GiB and
            10, with marked bytes either side of 2^31 and 2^32 and the tail where they belong.
            Writes 4 GiB, which it removes afterwards.

Usage: scale_tests.py {property,large} --cleave PATH [--seed N] [--workdir DIR]
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from driver import expected_plan  # noqa: E402

CHUNK = 131072
SOURCE = "data.bin"
GIB = 1 << 30


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(cleave, root, args, timeout=120):
    out_path = os.path.join(os.path.dirname(root), "stdout")
    with open(out_path, "wb") as out:
        proc = subprocess.run([cleave] + args, cwd=root, stdout=out, stdin=subprocess.DEVNULL,
                              timeout=timeout)
    with open(out_path, "rb") as f:
        return proc.returncode, f.read().decode("latin-1")


def part_name(index):
    return f"{SOURCE}.{index:03d}"


def near(rng, base):
    return max(1, base + rng.choice([-1, 0, 1]))


def draw_split(rng):
    kind = rng.random()
    if kind < 0.5:
        return near(rng, rng.randint(1, 4) * CHUNK)
    if kind < 0.75:
        return rng.randint(1, 20)
    return rng.randint(2, 600000)


def draw_size(rng, split):
    kind = rng.random()
    if kind < 0.45:
        return max(0, rng.randint(0, 5) * split + rng.choice([-1, 0, 1]))
    if kind < 0.8:
        return max(0, rng.randint(0, 10) * CHUNK + rng.choice([-1, 0, 1]))
    return rng.randint(0, 3 * split + 5)


def draw_pair(rng):
    """Sizes stay under 1.5 MB and 3000 parts, so a few hundred runs take seconds."""
    while True:
        split = draw_split(rng)
        size = draw_size(rng, split)
        if size <= 1_500_000 and size <= 3000 * split:
            return size, split


def check_split(root, data, split, status, output):
    check(status == 0, f"status {status}\n{output}")
    expected = expected_plan(len(data), split, SOURCE)
    check(output == expected, f"stdout differs:\n--- expected\n{expected}--- actual\n{output}")
    names = set(os.listdir(root))
    if len(data) <= split:
        check(names == {part_name(0)}, f"files after the rename: {sorted(names)}")
        with open(os.path.join(root, part_name(0)), "rb") as f:
            check(f.read() == data, "the renamed part differs from the source")
        return
    count = -(-len(data) // split)
    check(names == {SOURCE} | {part_name(i) for i in range(count)}, f"files: {sorted(names)}")
    joined = bytearray()
    for i in range(count):
        with open(os.path.join(root, part_name(i)), "rb") as f:
            part = f.read()
        wanted = split if i < count - 1 else len(data) - (count - 1) * split
        check(len(part) == wanted, f"{part_name(i)} holds {len(part)} bytes, not {wanted}")
        joined += part
    check(joined == data, "the parts do not join to the source")
    with open(os.path.join(root, SOURCE), "rb") as f:
        check(f.read() == data, "the source changed")


def run_property(args):
    rng = random.Random(args.seed)
    pool = rng.randbytes(3_000_000)
    with tempfile.TemporaryDirectory(prefix="cleave-property-") as top:
        for trial in range(args.trials):
            size, split = draw_pair(rng)
            start = rng.randint(0, len(pool) - size)
            data = pool[start:start + size]
            root = os.path.join(top, "work")
            os.mkdir(root)
            with open(os.path.join(root, SOURCE), "wb") as f:
                f.write(data)
            status, output = run(args.cleave, root, [SOURCE, str(split)])
            try:
                check_split(root, data, split, status, output)
            except Failure as error:
                raise Failure(f"trial {trial}, seed {args.seed}: {size} bytes by {split}: "
                              f"{error}")
            shutil.rmtree(root)
    print(f"{args.trials} pairs split correctly (seed {args.seed})")


class SparseSource:
    """A mostly empty file with a few marked places, so any range of it can be stated."""

    def __init__(self, path, size, marks):
        self.size = size
        self.marks = marks
        with open(path, "wb") as f:
            f.truncate(size)
            for offset, data in marks.items():
                f.seek(offset)
                f.write(data)

    def expected(self, offset, length):
        out = bytearray(length)
        for mark, data in self.marks.items():
            lo, hi = max(offset, mark), min(offset + length, mark + len(data))
            if lo < hi:
                out[lo - offset:hi - offset] = data[lo - mark:hi - mark]
        return bytes(out)


def check_range(root, source, split, offset, length):
    index = offset // split
    with open(os.path.join(root, part_name(index)), "rb") as f:
        f.seek(offset - index * split)
        got = f.read(length)
    check(got == source.expected(offset, len(got)),
          f"{part_name(index)} differs at source offset {offset:#x}")


def run_large(args):
    work = args.workdir or tempfile.gettempdir()
    free = shutil.disk_usage(work).free
    if free < 6 * GIB:
        print(f"SKIP only {free // GIB} GiB free in {work}; the large-file test writes 4 GiB")
        return
    rng = random.Random(args.seed)
    size, split = 4 * GIB + 10, 2 * GIB
    marks = {0: rng.randbytes(16), 2 * GIB - 8: rng.randbytes(16),
             3 * GIB: rng.randbytes(16), 4 * GIB - 8: rng.randbytes(16),
             size - 10: rng.randbytes(10)}
    root = tempfile.mkdtemp(prefix="cleave-large-", dir=work)
    try:
        source = SparseSource(os.path.join(root, SOURCE), size, marks)
        status, output = run(args.cleave, root, [SOURCE, str(split)], timeout=1800)
        check(status == 0, f"status {status}\n{output}")
        expected = expected_plan(size, split, SOURCE)
        check(output == expected, f"stdout differs:\n--- expected\n{expected}--- actual\n"
                                  f"{output}")
        sizes = [os.path.getsize(os.path.join(root, part_name(i))) for i in range(3)]
        check(sizes == [split, split, 10], f"part sizes {sizes}")
        check(sorted(os.listdir(root)) == [SOURCE] + [part_name(i) for i in range(3)],
              f"files: {sorted(os.listdir(root))}")
        with open(os.path.join(root, part_name(2)), "rb") as f:
            check(f.read() == marks[size - 10], "the 10-byte tail differs")
        # Each mark, read from the part that must hold it; a mark across a boundary is read
        # from both sides. Then random ranges, which must be empty where nothing was marked.
        for offset, data in marks.items():
            end = offset + len(data)
            boundary = (offset // split + 1) * split
            check_range(root, source, split, offset, min(end, boundary) - offset)
            if end > boundary:
                check_range(root, source, split, boundary, end - boundary)
        for _ in range(64):
            offset = rng.randrange(0, size - 4096)
            check_range(root, source, split, offset, min(4096, split - offset % split))
    finally:
        shutil.rmtree(root)
    print("4 GiB + 10 bytes split into 2 GiB, 2 GiB and 10 bytes correctly")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("test", choices=["property", "large"])
    parser.add_argument("--cleave", required=True)
    parser.add_argument("--seed", type=int, default=20261211)
    parser.add_argument("--trials", type=int, default=300)
    parser.add_argument("--workdir")
    args = parser.parse_args()
    args.cleave = os.path.abspath(args.cleave)
    try:
        {"property": run_property, "large": run_large}[args.test](args)
    except (Failure, subprocess.TimeoutExpired) as error:
        print(f"FAIL {args.test}: {error}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
