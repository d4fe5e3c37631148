#!/usr/bin/env python3
"""Runs the end-to-end table (cases.json) against a built cleave and cleave-join.

Each case lays out files in a fresh temporary directory, runs the program there with standard
output redirected to a file, and checks the exit status, the exact output and every file left
behind. The table is data so that the same cases run against other builds of the program, for
example under an emulator given with --launcher.

A case runs cleave unless its "program" is "cleave-join" (or "cleave-join-faulty", the joiner
built with the test-only fault injector, given the case's "faults" plan); cases for a program whose
path was not given are skipped.

Usage: driver.py --cleave PATH [--cleave-join PATH] [--cleave-join-faulty PATH] [--launcher CMD]
                 [--platform linux|windows] [--case NAME ...]
Prints one line per case and ends with "N passed, N failed".
"""
import argparse
import json
import os
import random
import re
import resource
import shlex
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TIMEOUT = 120


def expand(text):
    """{rep:c:N} stands for the character c repeated N times, so long names stay readable."""
    if not isinstance(text, str):
        return text
    return re.sub(r"\{rep:(.):(\d+)\}", lambda m: m.group(1) * int(m.group(2)), text)


def content_of(layout, name):
    if "bytes" in layout:
        return layout["bytes"].encode("latin-1")
    if "random" in layout:
        rng = random.Random(layout.get("seed", name))
        return rng.randbytes(layout["random"])
    if "pattern" in layout:
        return bytes(i % 251 for i in range(layout["pattern"]))
    return None


def lay_out(root, files):
    """Creates the case's files; returns the original bytes of each regular file."""
    originals = {}
    for raw_name, layout in files.items():
        name = expand(raw_name)
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path) or root, exist_ok=True)
        if layout.get("dir"):
            os.makedirs(path, exist_ok=True)
        elif "symlink" in layout:
            os.symlink(expand(layout["symlink"]), path)
        elif "hardlink" in layout:
            os.link(os.path.join(root, expand(layout["hardlink"])), path)
        elif layout.get("fifo"):
            os.mkfifo(path)
        elif "sparse" in layout:
            with open(path, "wb") as f:
                f.truncate(layout["sparse"])
                tail = expand(layout.get("tail", "")).encode("latin-1")
                if tail:
                    f.seek(layout["sparse"] - len(tail))
                    f.write(tail)
        else:
            data = content_of(layout, name)
            with open(path, "wb") as f:
                f.write(data)
            originals[name] = data
    return originals


def listing(root):
    found = set()
    for dirpath, dirnames, filenames in os.walk(root):
        for entry in dirnames + filenames:
            full = os.path.join(dirpath, entry)
            if os.path.isdir(full) and not os.path.islink(full):
                continue
            found.add(os.path.relpath(full, root))
    return found


def expected_plan(source_size, split_size, source_name):
    """Standard output of a completed split or rename, stated independently of the program."""
    count = -(-source_size // split_size) if source_size else 0
    lines = [f"Source file size: {source_size}", f"Split file size : {split_size}",
             f"Part count      : {count}", ""]
    if source_size <= split_size:
        lines.append("Original file size is less than or equal to split size; "
                     f"renaming to '{source_name}.000' instead.")
        lines.append("Done.")
    else:
        for i in range(count):
            size = split_size if i < count - 1 else source_size - (count - 1) * split_size
            pct = f"{(i + 1) / count * 100:.3f}"
            lines.append(f"* Creating '{source_name}.{i:03d}' as part {i + 1} of {count} "
                         f"with size {size} bytes... Done ({pct}% complete).")
        lines.append("* Split Completed Successfully.")
    return "\n".join(lines) + "\n"


def expected_join(part_sizes, target):
    """Standard output of a completed join of parts of these sizes, in index order."""
    count, total = len(part_sizes), sum(part_sizes)
    lines = [f"Part count      : {count}", f"Part size       : {part_sizes[0]}",
             f"Joined file size: {total}", "",
             f"* Creating '{target}.tmp' with size {total} bytes... Done."]
    for i, size in enumerate(part_sizes):
        pct = f"{(i + 1) / count * 100:.3f}"
        lines.append(f"* Appending '{target}.{i:03d}' as part {i + 1} of {count} "
                     f"with size {size} bytes... Done ({pct}% complete).")
    lines.append(f"* Renaming '{target}.tmp' to '{target}'... Done.")
    lines.append("* Join Completed Successfully.")
    return "\n".join(lines) + "\n"


def consecutive_parts(originals, target):
    names = []
    while f"{target}.{len(names):03d}" in originals:
        names.append(f"{target}.{len(names):03d}")
    return names


def parts_of(data, split_size, source_name):
    if len(data) <= split_size:
        return {f"{source_name}.000": data}
    return {f"{source_name}.{i:03d}": data[off:off + split_size]
            for i, off in enumerate(range(0, len(data), split_size))}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def windows_view(text):
    """On Windows lines end in CR LF and the system's text is its own: compare up to '): '."""
    text = text.replace("\r\n", "\n").replace("\r", "")
    return re.sub(r"(: ERROR 0x[0-9A-F]{8} \(-?\d+\): ).*(\n\n?)?\Z", r"\1", text, flags=re.S)


def check_windows_line_ends(text):
    """Text mode writes every line feed as CR LF. The system's text brings its own CR LF, so the
    error line's "%s\\n" ends in CR CR LF and then an empty line."""
    bare = re.search(r"(?<!\r)\n", text)
    check(bare is None, f"a line ends in a bare line feed: {text[:bare.end()][-60:]!r}"
          if bare else "")
    if re.search(r": ERROR 0x[0-9A-F]{8} \(-?\d+\): ", text):
        check(text.endswith("\r\r\n\r\n"), f"the error line ends in {text[-8:]!r}, "
                                           "not CR CR LF CR LF")


class Runner:
    def __init__(self, args):
        self.programs = {"cleave": os.path.abspath(args.cleave),
                         "cleave-join": os.path.abspath(args.cleave_join)
                         if args.cleave_join else None,
                         "cleave-join-faulty": os.path.abspath(args.cleave_join_faulty)
                         if args.cleave_join_faulty else None}
        self.launcher = shlex.split(args.launcher) if args.launcher else []
        self.platform = args.platform

    def program_name(self, program):
        """argv[0] as the program sees it. Wine hands a program started by its Unix path the
        DOS path of the same file, on the Z: drive that a new prefix maps to /."""
        path = self.programs[program] or ""
        if self.platform == "windows" and path:
            return "Z:" + path.replace("/", "\\")
        return path

    def run(self, root, argv, case, program=None):
        program = self.programs[program or case.get("program", "cleave")]
        command = self.launcher + [program] + [expand(a) for a in argv]
        limit = case.get("rlimit_fsize")
        env = dict(os.environ, CLEAVE_FAULTS=case["faults"]) if "faults" in case else None

        def limit_file_size():
            if limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
            if case.get("standard_streams_closed"):
                os.close(0)
                os.close(1)

        # stdout_into: standard output appended to a file of the case, as `>> name` would.
        into = case.get("stdout_into")
        out_path = os.path.join(root, expand(into)) if into else \
            os.path.join(os.path.dirname(root), "stdout")
        start = os.path.getsize(out_path) if into and os.path.exists(out_path) else 0
        with open(out_path, "ab" if into else "wb") as out:
            if case.get("stdout_closed"):
                reader, writer = os.pipe()
                os.close(reader)
                proc = subprocess.run(command, cwd=root, stdout=writer, stdin=subprocess.DEVNULL,
                                      preexec_fn=limit_file_size, timeout=TIMEOUT, env=env)
                os.close(writer)
            else:
                proc = subprocess.run(command, cwd=root, stdout=out, stdin=subprocess.DEVNULL,
                                      preexec_fn=limit_file_size, timeout=TIMEOUT, env=env)
        with open(out_path, "rb") as f:
            return proc.returncode, f.read()[start:].decode("latin-1")

    def expect_output(self, actual, expected, what="stdout"):
        if self.platform == "windows":
            check_windows_line_ends(actual)
            actual, expected = windows_view(actual), windows_view(expected)
        check(actual == expected, f"{what} differs:\n--- expected\n{expected}--- actual\n{actual}")

    def run_case(self, case):
        if self.platform in case.get("skip_on", []):
            return "skipped: " + case.get("why_skipped", "not on this platform")
        case = dict(case, **case.get(self.platform, {}))
        needed = ["cleave", "cleave-join"] if case.get("kind") == "round_trip" else \
            [case.get("program", "cleave")]
        for program in needed:
            if not self.programs[program]:
                return f"skipped: no --{program} given"
        with tempfile.TemporaryDirectory(prefix="cleave-e2e-") as top:
            root = os.path.join(top, "work")
            os.mkdir(root)
            if case.get("kind") == "random_vs_split":
                return self.random_vs_split(root, case)
            if case.get("kind") == "round_trip":
                return self.round_trip(root, case)
            originals = lay_out(root, case.get("files", {}))
            before = listing(root)
            status, output = self.run(root, case["args"], case)
            self.check_result(root, case, status, output, originals, before)
        return "ok"

    def check_result(self, root, case, status, output, originals, before):
        check(status == case["status"], f"exit status {status}, expected {case['status']}"
                                        f"\n--- output\n{output}")
        if "stdout" in case:
            expected = expand(case["stdout"]).replace("{cleave}", self.program_name("cleave"))
            expected = expected.replace("{cleave-join}", self.program_name("cleave-join"))
            self.expect_output(output, expected)
        if "plan" in case:
            source, split = case["plan"]
            source = expand(source)
            data = originals[source]
            self.expect_output(output, expected_plan(len(data), split, source))
        if "join_plan" in case:
            target = expand(case["join_plan"])
            sizes = [len(originals[n]) for n in consecutive_parts(originals, target)]
            self.expect_output(output, expected_join(sizes, target))
        for fragment in case.get("stdout_contains", []):
            check(expand(fragment) in output, f"output lacks {fragment!r}:\n{output}")
        expected_files = self.expected_files(case, originals)
        present = listing(root)
        named = case.get("keep", []) + ([case["stdout_into"]] if "stdout_into" in case else [])
        kept = {expand(n) for n in named} | {n for n in before if n not in originals}
        check(present == set(expected_files) | kept,
              f"files differ: unexpected {sorted(present - set(expected_files) - kept)}, "
              f"missing {sorted(set(expected_files) - present)}")
        for name, data in expected_files.items():
            with open(os.path.join(root, name), "rb") as f:
                actual = f.read()
            check(actual == data, f"{name}: {len(actual)} bytes differ from the {len(data)} "
                                  "expected")

    def expected_files(self, case, originals):
        files = {}
        for name, layout in case.get("after", {}).items():
            name = expand(name)
            if layout == "unchanged":
                files[name] = originals[name]
            elif "slice" in layout:
                source, start, length = layout["slice"]
                files[name] = originals[source][start:start + length]
            elif "renamed_from" in layout:
                files[name] = originals[layout["renamed_from"]]
            elif "joined_from" in layout:
                files[name] = b"".join(originals[expand(n)] for n in layout["joined_from"])
            else:
                files[name] = content_of(layout, name)
        if "parts_of" in case:
            source, split = case["parts_of"]
            source = expand(source)
            files[source] = originals[source]
            files.update(parts_of(originals[source], split, source))
        return files

    def random_vs_split(self, root, case):
        """Random sizes: cleave's parts must equal GNU split's, and join back to the source."""
        rng = random.Random(case["seed"])
        for trial in range(case["trials"]):
            split_size = rng.choice([1, 7, 512, 4096, 131071, 131072, 131073,
                                     rng.randint(1, 400000)])
            size = max(1, min(rng.randint(1, 3 * split_size + 5), 999 * split_size))
            data = rng.randbytes(size)
            ours, theirs = os.path.join(root, f"ours{trial}"), os.path.join(root, f"theirs{trial}")
            for d in (ours, theirs):
                os.mkdir(d)
                with open(os.path.join(d, "data.bin"), "wb") as f:
                    f.write(data)
            status, output = self.run(ours, ["data.bin", str(split_size)], case)
            check(status == 0, f"trial {trial} ({size}, {split_size}): status {status}")
            self.expect_output(output, expected_plan(size, split_size, "data.bin"),
                               f"trial {trial} ({size}, {split_size}) stdout")
            subprocess.run(["split", "-b", str(split_size), "-d", "-a", "3", "data.bin",
                            "data.bin."], cwd=theirs, check=True)
            if size <= split_size:
                os.remove(os.path.join(theirs, "data.bin"))
            ours_files, theirs_files = listing(ours), listing(theirs)
            check(ours_files == theirs_files, f"trial {trial} ({size}, {split_size}): "
                                              f"{sorted(ours_files ^ theirs_files)}")
            joined = b""
            for name in sorted(n for n in ours_files if n != "data.bin"):
                with open(os.path.join(ours, name), "rb") as a, \
                        open(os.path.join(theirs, name), "rb") as b:
                    part = a.read()
                    check(part == b.read(), f"trial {trial}: {name} differs from split's")
                    joined += part
            check(joined == data, f"trial {trial}: parts do not join to the source")
            shutil.rmtree(ours)
            shutil.rmtree(theirs)
        return "ok"

    def round_trip(self, root, case):
        """Random sizes and the given (size, split size) pairs: cleave's parts, joined by
        cleave-join, give back the source byte for byte and stay as they were."""
        rng = random.Random(case["seed"])
        pairs = [tuple(p) for p in case.get("pairs", [])]
        for _ in range(case["trials"]):
            split_size = rng.choice([1, 7, 512, 131071, 131072, 131073, rng.randint(1, 400000)])
            pairs.append((rng.randint(0, 3 * split_size + 5), split_size))
        split_size = rng.randint(1, 8)
        pairs.append((rng.randint(1000 * split_size + 1, 1100 * split_size), split_size))
        for trial, (size, split_size) in enumerate(pairs):
            what = f"trial {trial} ({size}, {split_size})"
            work = os.path.join(root, f"trial{trial}")
            os.mkdir(work)
            data = rng.randbytes(size)
            with open(os.path.join(work, "data.bin"), "wb") as f:
                f.write(data)
            status, output = self.run(work, ["data.bin", str(split_size)], case, "cleave")
            check(status == 0, f"{what}: cleave status {status}\n{output}")
            if os.path.exists(os.path.join(work, "data.bin")):
                os.remove(os.path.join(work, "data.bin"))
            parts = parts_of(data, split_size, "data.bin")
            status, output = self.run(work, ["data.bin"], case, "cleave-join")
            check(status == 0, f"{what}: cleave-join status {status}\n{output}")
            self.expect_output(output, expected_join([len(p) for p in parts.values()],
                                                     "data.bin"), f"{what} stdout")
            present = listing(work)
            check(present == set(parts) | {"data.bin"},
                  f"{what}: files differ: {sorted(present ^ (set(parts) | {'data.bin'}))}")
            for name, expected in list(parts.items()) + [("data.bin", data)]:
                with open(os.path.join(work, name), "rb") as f:
                    check(f.read() == expected, f"{what}: {name} is not as expected")
            shutil.rmtree(work)
        return "ok"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cleave", required=True)
    parser.add_argument("--cleave-join", default="")
    parser.add_argument("--cleave-join-faulty", default="")
    parser.add_argument("--launcher", default="")
    parser.add_argument("--platform", choices=["linux", "windows"], default="linux")
    parser.add_argument("--cases", default=os.path.join(HERE, "cases.json"))
    parser.add_argument("--case", action="append", default=[])
    args = parser.parse_args()
    with open(args.cases) as f:
        cases = json.load(f)["cases"]
    if args.case:
        unknown = set(args.case) - {c["name"] for c in cases}
        if unknown:
            sys.exit(f"unknown case: {', '.join(sorted(unknown))}")
        cases = [c for c in cases if c["name"] in args.case]
    runner = Runner(args)
    passed = failed = skipped = 0
    for case in cases:
        try:
            verdict = runner.run_case(case)
        except (Failure, subprocess.TimeoutExpired) as error:
            print(f"FAIL {case['name']}: {error}")
            failed += 1
            continue
        if verdict.startswith("skipped"):
            print(f"SKIP {case['name']}: {verdict}")
            skipped += 1
        else:
            print(f"ok   {case['name']}")
            passed += 1
    print(f"{passed} passed, {failed} failed" + (f", {skipped} skipped" if skipped else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
