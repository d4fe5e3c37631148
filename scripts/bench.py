#!/usr/bin/env python3
"""Benchmark of cleave against GNU split and dd (run through scripts/bench).

Cases:
  large: SIZE bytes into PART-byte parts; cleave against `split -b PART -d -a 3` and against
         `dd bs=131072` copying the whole file once into one file.
  small: SMALL-SIZE bytes into SMALL-PART-byte parts; cleave against
         `split -b SMALL-PART -d -a 6 --verbose`.
Every case first runs each tool once untimed (warming the page cache and checking cleave's parts
against the source), then RUNS timed rounds in turns (A B A B ...), so that drift of the machine
hits every tool alike. Outputs are removed and the file system synced before each timed run,
outside the timing; standard output goes to a file. Peak resident memory comes from one more run
of each tool under /usr/bin/time -v.

Sizes take a K, M or G suffix (powers of 1024). Exit status 0; with --check, 1 when a goal is
missed.
"""
import argparse
import hashlib
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

CHUNK = 131072
QUICK = {"size": "256M", "part": "25M", "small_size": "2000000", "small_part": "512", "runs": 3}
GOALS = {"split": 0.8, "dd": 1.1, "split-small": 1.0}
RSS_SLACK_KIB = 1024


def size_arg(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    text = text.strip().upper()
    if text and text[-1] in units:
        return int(text[:-1]) * units[text[-1]]
    return int(text)


def human(n):
    for unit, factor in (("GiB", 1 << 30), ("MiB", 1 << 20), ("KiB", 1 << 10)):
        if n >= factor and n % factor == 0:
            return f"{n // factor} {unit}"
    if n >= 1000000 and n % 1000000 == 0:
        return f"{n // 1000000} MB"
    return f"{n} B"


def parse_args():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0], epilog=__doc__.split("\n", 2)[2],
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cleave", required=True, help="the cleave binary to time")
    parser.add_argument("--size", type=size_arg, default=size_arg("1G"),
                        help="large case: source bytes (default 1G)")
    parser.add_argument("--part", type=size_arg, default=size_arg("100M"),
                        help="large case: part bytes (default 100M)")
    parser.add_argument("--small-size", type=size_arg, default=20000000,
                        help="small case: source bytes (default 20000000)")
    parser.add_argument("--small-part", type=size_arg, default=512,
                        help="small case: part bytes (default 512)")
    parser.add_argument("--runs", type=int, default=5, help="timed rounds per case (default 5)")
    parser.add_argument("--quick", action="store_true",
                        help="256M into 25M parts, 2000000 into 512, 3 rounds: under a minute")
    parser.add_argument("--cases", default="large,small", help="which cases (default large,small)")
    parser.add_argument("--dir", help="work directory (default: a new one under $TMPDIR or /tmp)")
    parser.add_argument("--check", action="store_true", help="exit with 1 when a goal is missed")
    args = parser.parse_args()
    if args.quick:
        for key, value in QUICK.items():
            setattr(args, key, size_arg(str(value)) if key != "runs" else value)
    if args.size <= args.part or args.small_size <= args.small_part or args.runs < 1:
        parser.error("each source must be larger than its part size, and --runs at least 1")
    args.cleave = os.path.abspath(args.cleave)
    return args


def make_input(path, size):
    with open(path, "wb") as f:
        left = size
        while left > 0:
            block = os.urandom(min(left, 1 << 20))
            f.write(block)
            left -= len(block)
    # Read it back once so every tool starts from a warm page cache.
    with open(path, "rb") as f:
        while f.read(1 << 20):
            pass


class Tool:
    """One command of a case: how to run it, and how to remove what it leaves."""

    def __init__(self, name, argv, outputs):
        self.name = name
        self.argv = argv
        self.outputs = outputs
        self.times = []

    def clean(self):
        for path in self.outputs():
            os.unlink(path)
        os.sync()

    def run(self, log, wrapper=()):
        with open(log, "wb") as out:
            subprocess.run(list(wrapper) + self.argv, stdout=out, stderr=subprocess.STDOUT,
                           check=True)

    def timed(self, log):
        start = time.perf_counter()
        self.run(log)
        self.times.append(time.perf_counter() - start)
        # At once, so that no tool's write-back runs during another's timing.
        self.clean()

    def peak_rss_kib(self, log, work):
        report = os.path.join(work, "time.txt")
        self.run(log, ["/usr/bin/time", "-v", "-o", report])
        self.clean()
        with open(report) as f:
            for line in f:
                if "Maximum resident set size" in line:
                    return int(line.rsplit(":", 1)[1])
        raise RuntimeError("no peak RSS in /usr/bin/time output")


def matching(directory, prefix):
    return [os.path.join(directory, n) for n in os.listdir(directory) if n.startswith(prefix)]


def make_tools(args, work, source, part, peers):
    split_dir = os.path.join(work, "split")
    os.makedirs(split_dir, exist_ok=True)
    base = os.path.basename(source)
    tools = [Tool("cleave", [args.cleave, source, str(part)], lambda: matching(work, base + "."))]
    if "split" in peers:
        count = -(-os.path.getsize(source) // part)
        width = max(3 if peers["split"] == "large" else 6, len(str(count - 1)))
        argv = ["split", "-b", str(part), "-d", "-a", str(width)]
        if peers["split"] == "small":
            argv.append("--verbose")
        tools.append(Tool("split", argv + [source, os.path.join(split_dir, "x.")],
                          lambda: matching(split_dir, "x.")))
    if "dd" in peers:
        copy = os.path.join(work, "dd.out")
        tools.append(Tool("dd", ["dd", "if=" + source, "of=" + copy, "bs=" + str(CHUNK),
                                 "status=none"], lambda: [copy] if os.path.exists(copy) else []))
    return tools


def check_parts(source, size, part):
    """cleave's parts, joined in index order, must be the source byte for byte."""
    count = -(-size // part)
    joined, original = hashlib.sha256(), hashlib.sha256()
    for i in range(count):
        with open(f"{source}.{i:03d}", "rb") as f:
            data = f.read()
        expected = part if i < count - 1 else size - part * (count - 1)
        if len(data) != expected:
            sys.exit(f"bench: part {i} of cleave holds {len(data)} bytes, expected {expected}")
        joined.update(data)
    with open(source, "rb") as f:
        while block := f.read(1 << 20):
            original.update(block)
    if joined.digest() != original.digest():
        sys.exit("bench: cleave's parts do not join to the source")


def run_case(args, work, label, size, part, peers):
    source = os.path.join(work, f"{label}.bin")
    print(f"# {label}: generating {human(size)} of random bytes", file=sys.stderr, flush=True)
    make_input(source, size)
    tools = make_tools(args, work, source, part, peers)
    log = os.path.join(work, "stdout.txt")
    for tool in tools:
        tool.clean()
        tool.run(log)
        if tool.name == "cleave":
            check_parts(source, size, part)
        tool.clean()
    for round_no in range(args.runs):
        print(f"# {label}: round {round_no + 1} of {args.runs}", file=sys.stderr, flush=True)
        for tool in tools:
            tool.timed(log)
    rss = {tool.name: tool.peak_rss_kib(log, work) for tool in tools}
    os.unlink(source)
    return tools, rss


def paired_ratio(a, b):
    return statistics.median(x / y for x, y in zip(a.times, b.times))


def report(label, size, part, tools, rss, goal_keys):
    print(f"\n{label}: {human(size)} into {human(part)} parts ({-(-size // part)} parts)")
    print(f"  {'tool':<8}{'median s':>10}{'min s':>9}{'max s':>9}{'peak RSS KiB':>15}")
    for tool in tools:
        print(f"  {tool.name:<8}{statistics.median(tool.times):>10.3f}{min(tool.times):>9.3f}"
              f"{max(tool.times):>9.3f}{rss[tool.name]:>15}")
    missed = []
    cleave = tools[0]
    for peer in tools[1:]:
        ratio = paired_ratio(cleave, peer)
        goal = GOALS[goal_keys[peer.name]]
        verdict = "met" if ratio <= goal else "MISSED"
        print(f"  cleave / {peer.name:<6} paired median {ratio:.3f}   goal <= {goal:.2f}   {verdict}")
        if ratio > goal:
            missed.append(f"{label}: cleave / {peer.name}")
    if "split" in rss:
        limit = rss["split"] + RSS_SLACK_KIB
        verdict = "met" if rss["cleave"] <= limit else "MISSED"
        print(f"  peak RSS cleave {rss['cleave']} KiB   goal <= split + {RSS_SLACK_KIB} = {limit}"
              f"   {verdict}")
        if rss["cleave"] > limit:
            missed.append(f"{label}: peak RSS")
    return missed


def describe_machine(work):
    cpu = platform.processor() or "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    fs = subprocess.run(["stat", "-f", "-c", "%T", work], capture_output=True, text=True).stdout
    split_version = subprocess.run(["split", "--version"], capture_output=True,
                                   text=True).stdout.splitlines()[0]
    print(f"date     {time.strftime('%Y-%m-%d %H:%M %Z')}")
    print(f"machine  {cpu}, {os.cpu_count()} CPUs, Linux {platform.release()}")
    print(f"files    {work} ({fs.strip()}); peers: {split_version}")
    print(f"load     {' '.join(f'{x:.2f}' for x in os.getloadavg())} (1, 5, 15 min) at start")


def main():
    sys.stdout.reconfigure(line_buffering=True)
    args = parse_args()
    for tool in ("split", "dd", "/usr/bin/time"):
        if shutil.which(tool) is None:
            sys.exit(f"bench: {tool} not found (scripts/bench installs it)")
    cases = set(args.cases.split(","))
    work = args.dir or tempfile.mkdtemp(prefix="cleave-bench-")
    os.makedirs(work, exist_ok=True)
    describe_machine(work)
    print(f"method   {args.runs} paired rounds per case after one untimed run of each tool")
    missed = []
    try:
        if "large" in cases:
            tools, rss = run_case(args, work, "large", args.size, args.part,
                                  {"split": "large", "dd": "large"})
            missed += report("large", args.size, args.part, tools, rss,
                             {"split": "split", "dd": "dd"})
        if "small" in cases:
            tools, rss = run_case(args, work, "small", args.small_size, args.small_part,
                                  {"split": "small"})
            missed += report("small", args.small_size, args.small_part, tools, rss,
                             {"split": "split-small"})
    finally:
        if not args.dir:
            shutil.rmtree(work, ignore_errors=True)
    print(f"\nload     {' '.join(f'{x:.2f}' for x in os.getloadavg())} (1, 5, 15 min) at end")
    print("goals    " + ("all met" if not missed else "MISSED: " + "; ".join(missed)))
    return 1 if missed and args.check else 0


if __name__ == "__main__":
    sys.exit(main())
