#!/usr/bin/env python3
"""Failure tests: every call that can end a run is made to fail, by injection and for real.

  countdown  cleave_faulty fails its Nth system call for N = 1, 2, ... until a run no longer
             reaches N, over a split into 3 parts, a rename, and a rename on the link + unlink
             path. Each run either completes byte-exact with status 0, or ends with the error
             line of the call that failed, its code as status, the source untouched, earlier parts
             complete, the failing part empty or at full length, and nothing else created.
  transfers  every read and write interrupted (EINTR) and/or short still gives exact parts.
  real       real OS conditions for the reads and writes: a source shorter than its reported
             size, a file sealed against writes, and a full file system (needs mount rights).

Usage: fault_tests.py {countdown,transfers,real} --cleave PATH [--faulty PATH]
Prints SKIP and exits 0 when a check cannot run on this machine.
"""
import argparse
import errno
import fcntl
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from driver import expected_plan  # noqa: E402

CHUNK = 131072
SOURCE = "data.bin"

# The code each injected errno must become, its text, and the errno each kind fails with; the
# kinds get different errnos so a mix-up between calls shows in the code.
CODES = {errno.EACCES: 5, errno.EIO: 1117, errno.ELOOP: 1921, errno.EINVAL: 87,
         errno.EFBIG: 223, errno.ENOSPC: 112, errno.EXDEV: 17, errno.EMLINK: 1142,
         errno.EBUSY: 170}
TEXTS = {5: "Access to the file was refused.",
         38: "The end of the file was reached too early.",
         87: "A parameter is not valid.",
         112: "There is not enough space left on the disk.",
         170: "The file or device is busy.",
         223: "The file would grow past the size allowed.",
         1117: "The device reported an input/output error.",
         1142: "The file has too many links.",
         1921: "The name could not be resolved: too many symbolic links.",
         17: "The file cannot be moved to a different file system."}
ERRNO_FOR = {"open": errno.EACCES, "fstat": errno.EIO, "lstat": errno.ELOOP,
             "seek": errno.EINVAL, "ftruncate": errno.EFBIG, "read": errno.EIO,
             "write": errno.ENOSPC, "rename": errno.EXDEV, "link": errno.EMLINK,
             "unlink": errno.EBUSY}

EIGHT_CONTEXTS = {"source CreateFile failed", "GetFileSizeEx failed", "MoveFile failed",
                  "part CreateFile failed", "SetFilePointerEx failed", "SetEndOfFile failed",
                  "ReadFile failed", "WriteFile failed"}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def error_line(context, code):
    return f"{context}: ERROR 0x{code:08X} ({code}): {TEXTS[code]}\n\n"


def exit_status(code):
    return code & 0xFF or (1 if code else 0)


def part_name(index):
    return f"{SOURCE}.{index:03d}"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def listing(root):
    return set(os.listdir(root))


class Call:
    """One system call of the run as the layer makes it, and what its failure means."""

    def __init__(self, kind, context, part=None, length_set=False, chunks_done=0):
        self.kind = kind
        self.context = context
        self.part = part              # index of the part being written, if any
        self.length_set = length_set  # the part already has its full length
        self.chunks_done = chunks_done


def split_calls(size, split):
    """The calls of a split in a fresh directory, in order, stated from the plan alone."""
    calls = [Call("open", "CreateFile failed"), Call("fstat", "CreateFile failed"),
             Call("fstat", "GetFileSizeEx failed")]
    count = -(-size // split)
    for i in range(count):
        part_size = min(split, size - i * split)
        calls += [Call("open", "CreateFile failed", i), Call("fstat", "CreateFile failed", i),
                  Call("seek", "SetFilePointerEx failed", i),
                  Call("ftruncate", "SetEndOfFile failed", i),
                  Call("seek", "SetFilePointerEx failed", i, True)]
        for chunk in range(-(-part_size // CHUNK)):
            calls += [Call("read", "ReadFile failed", i, True, chunk),
                      Call("write", "WriteFile failed", i, True, chunk)]
    return calls


def rename_calls(through_link):
    calls = [Call("open", "CreateFile failed"), Call("fstat", "CreateFile failed"),
             Call("fstat", "GetFileSizeEx failed"), Call("lstat", "MoveFile failed"),
             Call("rename", "MoveFile failed")]
    if through_link:
        calls += [Call("link", "MoveFile failed"), Call("unlink", "MoveFile failed")]
    return calls


def run(program, root, args, plan=None):
    """Runs in root with stdout to a file; returns status, stdout and stderr."""
    env = dict(os.environ)
    env.pop("CLEAVE_FAULTS", None)
    if plan:
        env["CLEAVE_FAULTS"] = plan
    out_path = os.path.join(os.path.dirname(root), "stdout")
    with open(out_path, "wb") as out:
        proc = subprocess.run([program] + args, cwd=root, stdout=out, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, env=env, timeout=120)
    return proc.returncode, read(out_path).decode("latin-1"), proc.stderr.decode()


def fault_fired(stderr, n):
    """The kind of call N when the injector failed it; rules of the base plan may fire too."""
    lines = [line for line in stderr.splitlines()
             if line.startswith("fault: ") and f"(call {n} of any)" in line]
    return lines[0].split()[1] if lines else None


def check_complete(root, data, split, status, output):
    check(status == 0, f"status {status}\n{output}")
    check(output == expected_plan(len(data), split, SOURCE), f"stdout differs:\n{output}")
    if len(data) <= split:
        check(listing(root) == {part_name(0)}, f"files: {sorted(listing(root))}")
        check(read(os.path.join(root, part_name(0))) == data, "renamed part differs")
        return
    count = -(-len(data) // split)
    check(listing(root) == {SOURCE} | {part_name(i) for i in range(count)},
          f"files: {sorted(listing(root))}")
    check(read(os.path.join(root, SOURCE)) == data, "source changed")
    for i in range(count):
        check(read(os.path.join(root, part_name(i))) == data[i * split:(i + 1) * split],
              f"{part_name(i)} differs")


def expected_failure_output(data, split, call, code):
    if call.kind in ("lstat", "rename", "link", "unlink"):
        plan = expected_plan(len(data), split, SOURCE).splitlines(keepends=True)
        return "".join(plan[:5]) + error_line(call.context, code)
    if call.part is None:
        return error_line(call.context, code)
    plan = expected_plan(len(data), split, SOURCE).splitlines(keepends=True)
    line = plan[4 + call.part]
    announcement = line[:line.index("... ") + 4]
    return "".join(plan[:4 + call.part]) + announcement + error_line(call.context, code)


def check_failing_part(root, data, split, call):
    name = part_name(call.part)
    if call.kind == "open":
        check(name not in listing(root), f"{name} exists although its open failed")
        return
    content = read(os.path.join(root, name))
    if not call.length_set:
        check(content == b"", f"{name} holds {len(content)} bytes, expected none")
        return
    start = call.part * split
    full = data[start:start + split]
    kept = call.chunks_done * CHUNK
    check(len(content) == len(full), f"{name} holds {len(content)} bytes, not {len(full)}")
    check(content[:kept] == full[:kept], f"{name}: the chunks written before the failure differ")
    check(content[kept:] == bytes(len(full) - kept), f"{name}: the unwritten rest is not zero")


def check_failed(root, data, split, call, status, output):
    code = CODES[ERRNO_FOR[call.kind]]
    check(status == exit_status(code), f"status {status}, expected {exit_status(code)}")
    expected = expected_failure_output(data, split, call, code)
    check(output == expected, f"stdout differs:\n--- expected\n{expected}--- actual\n{output}")
    check(read(os.path.join(root, SOURCE)) == data, "source changed")
    allowed = {SOURCE} | {part_name(i) for i in range((call.part or 0) + 1)}
    if call.part is None:
        allowed = {SOURCE}
    check(listing(root) <= allowed, f"unexpected files: {sorted(listing(root) - allowed)}")
    for i in range(call.part or 0):
        check(read(os.path.join(root, part_name(i))) == data[i * split:(i + 1) * split],
              f"earlier part {part_name(i)} is not complete")
    if call.part is not None:
        check_failing_part(root, data, split, call)


def countdown(faulty, top, data, split, calls, base_plan=""):
    """Fails call N for N = 1, 2, ... until a run completes; returns the contexts seen."""
    seen = set()
    os.mkdir(top)
    for n in range(1, len(calls) + 2):
        root = os.path.join(top, f"run{n}")
        os.mkdir(root)
        with open(os.path.join(root, SOURCE), "wb") as f:
            f.write(data)
        call = calls[n - 1] if n <= len(calls) else None
        plan = f"any@{n}={ERRNO_FOR[call.kind] if call else errno.EIO}" + base_plan
        status, output, stderr = run(faulty, root, [SOURCE, str(split)], plan)
        fired = fault_fired(stderr, n)
        where = f"N={n} ({call.kind if call else 'past the last call'})"
        try:
            if call is None:
                check(fired is None, f"a call beyond the model failed: {stderr}")
                check_complete(root, data, split, status, output)
            else:
                check(fired == call.kind, f"call {n} was {fired}, expected {call.kind}")
                check_failed(root, data, split, call, status, output)
        except Failure as error:
            raise Failure(f"{where}: {error}")
        print(f"ok   N={n}: {call.context + ' (' + call.kind + ')' if call else 'completed'}")
        if call:
            inside = "part " if call.context == "CreateFile failed" and call.part is not None \
                else "source " if call.context == "CreateFile failed" else ""
            seen.add(inside + call.context)
    return seen


def run_countdown(args):
    rng = random.Random(4)
    # Two chunks per part, and a last part whose second chunk is short.
    data = rng.randbytes(5 * CHUNK + 1000)
    split = 2 * CHUNK
    small = rng.randbytes(1000)
    with tempfile.TemporaryDirectory(prefix="cleave-countdown-") as top:
        seen = countdown(args.faulty, os.path.join(top, "split"), data, split,
                         split_calls(len(data), split))
        seen |= countdown(args.faulty, os.path.join(top, "rename"), small, 4096,
                          rename_calls(False))
        # A file system without RENAME_NOREPLACE sends the rename through link and unlink.
        seen |= countdown(args.faulty, os.path.join(top, "link"), small, 4096,
                          rename_calls(True), f",rename@1+={errno.EINVAL}")
    check(seen >= EIGHT_CONTEXTS, f"contexts never failed: {sorted(EIGHT_CONTEXTS - seen)}")


def run_transfers(args):
    rng = random.Random(7)
    modes = {"interrupted": "eintr=read,eintr=write", "short": "short=read,short=write",
             "interrupted and short": "eintr=read,eintr=write,short=read,short=write"}
    sizes = [(10, 4), (3 * CHUNK + 5, 3 * CHUNK + 5 - 1), (2 * CHUNK, CHUNK),
             (917511, 393221), (1000, 3)]
    with tempfile.TemporaryDirectory(prefix="cleave-transfers-") as top:
        for mode, plan in modes.items():
            for size, split in sizes:
                root = os.path.join(top, f"{mode}-{size}-{split}".replace(" ", "_"))
                os.mkdir(root)
                data = rng.randbytes(size)
                with open(os.path.join(root, SOURCE), "wb") as f:
                    f.write(data)
                status, output, stderr = run(args.faulty, root, [SOURCE, str(split)], plan)
                try:
                    check_complete(root, data, split, status, output)
                    counts = dict(item.split("=") for item in stderr.split()[1:])
                    key = "interrupted" if "eintr" in plan else "shortened"
                    check(int(counts[key]) > 0, f"nothing was {key}: {stderr}")
                except Failure as error:
                    raise Failure(f"{mode}, {size} bytes by {split}: {error}")
                print(f"ok   {mode}: {size} bytes by {split}")


def lay_source(root, data):
    os.mkdir(root)
    with open(os.path.join(root, SOURCE), "wb") as f:
        f.write(data)


def short_source(args, top):
    """A sysfs file reports 4096 bytes and holds a few: the read comes up short."""
    candidates = ["/sys/devices/system/cpu/online", "/sys/devices/system/cpu/possible",
                  "/sys/kernel/mm/transparent_hugepage/enabled"]
    target = next((p for p in candidates
                   if os.path.exists(p) and os.stat(p).st_size > 1000 > len(read(p)) > 0), None)
    if target is None:
        return "SKIP no sysfs file that reports more than it holds"
    root = os.path.join(top, "short")
    os.mkdir(root)
    os.symlink(target, os.path.join(root, SOURCE))
    content = read(target)
    size = os.stat(target).st_size
    status, output, _ = run(args.cleave, root, [SOURCE, "1000"])
    plan = expected_plan(size, 1000, SOURCE).splitlines(keepends=True)
    expected = "".join(plan[:4]) + plan[4][:plan[4].index("... ") + 4] + \
        error_line("ReadFile failed", 38)
    check(status == 38, f"status {status}\n{output}")
    check(output == expected, f"stdout differs:\n{output}")
    check(listing(root) == {SOURCE, part_name(0)}, f"files: {sorted(listing(root))}")
    check(read(os.path.join(root, part_name(0))) == content + bytes(1000 - len(content)),
          "the part does not hold what was read, then zeros")
    return "ok"


def sealed_part(args, top):
    """A part name leading to a memory file sealed against writes: the length is set, the
    write is refused."""
    if not hasattr(os, "memfd_create") or not hasattr(fcntl, "F_SEAL_WRITE"):
        return "SKIP no sealed memory files here"
    data = random.Random(9).randbytes(300)
    root = os.path.join(top, "sealed")
    lay_source(root, data)
    fd = os.memfd_create("sealed", os.MFD_ALLOW_SEALING)
    try:
        fcntl.fcntl(fd, fcntl.F_ADD_SEALS, fcntl.F_SEAL_WRITE)
        os.symlink(f"/proc/{os.getpid()}/fd/{fd}", os.path.join(root, part_name(1)))
        status, output, _ = run(args.cleave, root, [SOURCE, "100"])
        plan = expected_plan(300, 100, SOURCE).splitlines(keepends=True)
        expected = "".join(plan[:5]) + plan[5][:plan[5].index("... ") + 4] + \
            error_line("WriteFile failed", 5)
        check(status == 5, f"status {status}\n{output}")
        check(output == expected, f"stdout differs:\n{output}")
        check(read(os.path.join(root, part_name(0))) == data[:100], "part 0 differs")
        check(os.fstat(fd).st_size == 100, "the sealed part did not get its length")
        check(read(os.path.join(root, SOURCE)) == data, "source changed")
    finally:
        os.close(fd)
    return "ok"


def full_file_system(args, top):
    """A 256 KiB tmpfs: lengths are set sparsely, so the write is what finds the disk full."""
    root = os.path.join(top, "full")
    os.mkdir(root)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "cleave-full", root],
                             capture_output=True)
    if mounted.returncode != 0:
        return "SKIP cannot mount a small tmpfs here"
    try:
        data = random.Random(11).randbytes(150000)
        with open(os.path.join(root, SOURCE), "wb") as f:
            f.write(data)
        status, output, _ = run(args.cleave, root, [SOURCE, "60000"])
        check(status == 112, f"status {status}\n{output}")
        check(output.endswith(error_line("WriteFile failed", 112)), f"stdout:\n{output}")
        failed = output.count("Done (")
        check(read(os.path.join(root, SOURCE)) == data, "source changed")
        for i in range(failed):
            check(read(os.path.join(root, part_name(i))) == data[i * 60000:(i + 1) * 60000],
                  f"earlier part {part_name(i)} is not complete")
        check(os.path.getsize(os.path.join(root, part_name(failed))) ==
              len(data[failed * 60000:(failed + 1) * 60000]), "the failing part's length")
        check(listing(root) == {SOURCE} | {part_name(i) for i in range(failed + 1)},
              f"files: {sorted(listing(root))}")
    finally:
        subprocess.run(["umount", root], check=True)
    return "ok"


def run_real(args):
    skipped = []
    with tempfile.TemporaryDirectory(prefix="cleave-real-") as top:
        for name, test in [("ReadFile: source shorter than its size", short_source),
                           ("WriteFile: part sealed against writes", sealed_part),
                           ("WriteFile: file system full", full_file_system)]:
            try:
                verdict = test(args, top)
            except Failure as error:
                raise Failure(f"{name}: {error}")
            print(f"{'ok  ' if verdict == 'ok' else verdict} {name}")
            if verdict != "ok":
                skipped.append(name)
    if len(skipped) == 3:
        print("SKIP none of the real conditions can be made here")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("test", choices=["countdown", "transfers", "real"])
    parser.add_argument("--cleave")
    parser.add_argument("--faulty")
    args = parser.parse_args()
    args.cleave = args.cleave and os.path.abspath(args.cleave)
    args.faulty = args.faulty and os.path.abspath(args.faulty)
    tests = {"countdown": run_countdown, "transfers": run_transfers, "real": run_real}
    try:
        tests[args.test](args)
    except Failure as error:
        print(f"FAIL {args.test}: {error}")
        return 1
    print(f"{args.test}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
