#!/usr/bin/env python3
"""Fault injection on the real stblc binary.

Each loop runs stblc once cleanly to count the calls it makes, then fails
the Nth call for every N: once (transient) and from then on (persistent).
After every run the promises must hold:

  - exit status 0 only with the output identical to the clean run's (or,
    where an input could not be opened, skipped with its warning as
    designed, a sound table of the rest);
  - otherwise exit status 1, a message naming a file, the old output
    byte-identical, and no new file beside it;
  - never death by a signal it was not sent.

Loops: system calls failed with strace (openat, read, write, close, rename,
fstat/newfstatat, unlink, mmap; ENOSPC, EIO, EFBIG, EINTR, EACCES, EXDEV,
EMFILE), allocations failed by an LD_PRELOAD shim, signals delivered at
each write, and real full disks (a small tmpfs where mounting is allowed,
/dev/full, the file-size limit).

usage: run_faults.py STBLC --stbldump STBLDUMP --shim LIBFAILING_ALLOC
"""

import argparse
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "examples")
OLD = b"the old output, which a failed run must leave alone\n"
ARGS = ["in/menu.txt", "in/big.txt", "/dev/stdin", "-o", "out/strings.stbl"]
STDIN = open(os.path.join(EXAMPLES, "dialog.txt"), "rb").read()
SYSCALLS = ["openat", "read", "write", "close", "rename", "newfstatat",
            "fstat", "unlink", "mmap"]
ERRORS = ["ENOSPC", "EIO", "EFBIG", "EINTR", "EACCES", "EXDEV", "EMFILE"]
TIMEOUT = 30


class Scenario:
    """A directory with the inputs and an output directory holding the old
    output; reset() puts it back before each run."""

    def __init__(self, stblc, stbldump):
        self.stblc = stblc
        self.stbldump = stbldump
        self.dir = tempfile.mkdtemp(prefix="stblc-faults-")
        os.makedirs(os.path.join(self.dir, "in"))
        os.makedirs(os.path.join(self.dir, "out"))
        shutil.copy(os.path.join(EXAMPLES, "menu.txt"),
                    os.path.join(self.dir, "in", "menu.txt"))
        # Big enough for the output to take several writes.
        with open(os.path.join(self.dir, "in", "big.txt"), "wb") as f:
            for i in range(12000):
                f.write(b"<KEY>big.%d</KEY><STR>text number %d of many</STR>\n"
                        % (i, i))
        self.output = os.path.join(self.dir, "out", "strings.stbl")
        self.reset()
        code, _, err = self.run([])
        if code != 0:
            sys.exit("the clean run failed: %r" % err)
        with open(self.output, "rb") as f:
            self.clean = f.read()

    def reset(self):
        out = os.path.join(self.dir, "out")
        for name in os.listdir(out):
            os.remove(os.path.join(out, name))
        with open(self.output, "wb") as f:
            f.write(OLD)

    def run(self, prefix, env=None, preexec=None):
        self.reset()
        p = subprocess.run(prefix + [self.stblc] + ARGS, cwd=self.dir,
                           input=STDIN, capture_output=True, env=env,
                           timeout=TIMEOUT, preexec_fn=preexec)
        return p.returncode, p.stdout, p.stderr

    def sound(self):
        return subprocess.run([self.stbldump, "--check", self.output],
                              capture_output=True).returncode == 0

    def verdict(self, code, stderr, sent=None, mute=False):
        """None if the promises held, else what broke."""
        left = sorted(os.listdir(os.path.join(self.dir, "out")))
        with open(self.output, "rb") as f:
            output = f.read()
        if sent is not None:
            if code != -sent:
                return "ended with %d, not by signal %d" % (code, sent)
            if output != OLD and output != self.clean:
                return "the output is neither old nor new"
            temps = [n for n in left if n != "strings.stbl"]
            if sent == signal.SIGKILL:
                # Nothing can clean up after SIGKILL; the leftover must at
                # least say what it is.
                temps = [n for n in temps if ".stblc-" not in n]
            return "left %r" % temps if temps else None
        if left != ["strings.stbl"]:
            return "left %r in the output directory" % left
        if code < 0:
            return "died of signal %d" % -code
        if code == 0:
            if output == self.clean:
                return None
            if b"warning: skipping" in stderr and self.sound():
                return None  # an input that could not be opened, as designed
            return "exit 0 with a different output"
        if code != 1:
            return "exit status %d" % code
        if output != OLD:
            return "exit 1 but the old output changed"
        if not mute and not re.search(rb"'(in/|out/strings\.stbl|/dev/stdin)",
                                      stderr):
            return "exit 1 without a message naming a file: %r" % stderr[:200]
        return None


class Loop:
    def __init__(self, name):
        self.name = name
        self.calls = 0
        self.runs = 0
        self.violations = []

    def check(self, what, problem):
        self.runs += 1
        if problem:
            self.violations.append("%s: %s" % (what, problem))

    def report(self):
        print("%-34s %5d calls injected %6d runs %3d violations" % (
            self.name, self.calls, self.runs, len(self.violations)))
        for v in self.violations[:20]:
            print("    " + v)


def traced_calls(scenario, kinds):
    """For each kind of call, the ordinals (counting from 1, as strace's
    when= does) of the calls made after stblc's own work began, which is
    at the first look at an input; what the loader does before is not
    ours to test."""
    log = os.path.join(scenario.dir, "trace.log")
    traced = sorted(set(kinds) | {"openat"})  # openat shows where work begins
    scenario.run(["strace", "-qq", "-o", log, "-e", "trace=" + ",".join(traced)])
    counts = {k: 0 for k in kinds}
    ordinals = {k: [] for k in kinds}
    started = False
    with open(log, errors="replace") as f:
        for line in f:
            m = re.match(r"(?:\d+ +)?(\w+)\(", line)
            if not m:
                continue
            started = started or '"in/menu.txt"' in line
            kind = m.group(1)
            if kind not in counts:
                continue
            counts[kind] += 1
            if started:
                ordinals[kind].append(counts[kind])
    os.remove(log)
    return ordinals


def syscall_loop(scenario):
    loop = Loop("system calls (strace)")
    ordinals = traced_calls(scenario, SYSCALLS)
    for kind in SYSCALLS:
        for n in ordinals[kind]:
            loop.calls += 1
            for error in ERRORS:
                for when in ("%d" % n, "%d+" % n):
                    if error == "EINTR" and when.endswith("+"):
                        continue  # retried, as it must be: it would not end
                    code, _, err = scenario.run(
                        ["strace", "-qq", "-o", "/dev/null", "-e",
                         "trace=" + kind, "-e",
                         "inject=%s:error=%s:when=%s" % (kind, error, when)])
                    # Where every write fails from then on, the message
                    # about the failure cannot be written either.
                    mute = kind == "write" and when.endswith("+")
                    loop.check("%s #%s %s" % (kind, when, error),
                               scenario.verdict(code, err, mute=mute))
    return loop


def signal_loop(scenario):
    loop = Loop("signals at each write (strace)")
    writes = traced_calls(scenario, ["write"])["write"]
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE,
                signal.SIGKILL):
        for n in writes:
            loop.calls += 1
            code, _, err = scenario.run(
                ["strace", "-qq", "-o", "/dev/null", "-e", "trace=write",
                 "-e", "inject=write:signal=%d:when=%d" % (sig, n)])
            loop.check("%s at write #%d" % (sig.name, n),
                       scenario.verdict(code, err, sent=sig))
    return loop


def allocation_loop(scenario, shim):
    loop = Loop("allocations (LD_PRELOAD)")
    count_file = os.path.join(scenario.dir, "count")
    env = dict(os.environ, LD_PRELOAD=shim, STBLC_COUNT_ALLOC=count_file)
    code, _, err = scenario.run([], env=env)
    with open(count_file) as f:
        total = int(f.read())
    os.remove(count_file)
    for n in range(1, total + 1):
        loop.calls += 1
        for when in ("%d" % n, "%d+" % n):
            env = dict(os.environ, LD_PRELOAD=shim, STBLC_FAIL_ALLOC=when)
            code, _, err = scenario.run([], env=env)
            problem = scenario.verdict(code, err)
            if not problem and code == 1 and b"Out of memory!" not in err:
                problem = "exit 1 without the out-of-memory message"
            loop.check("allocation #%s" % when, problem)
    return loop


def disk_loop(scenario):
    loop = Loop("full disks")

    def expect_failure(what, code, err, reason):
        problem = scenario.verdict(code, err)
        if not problem and (code != 1 or reason not in err):
            problem = "exit %d, %r" % (code, err[-200:])
        loop.check(what, problem)

    # The file-size limit, with SIGXFSZ ignored by the caller and not.
    for ignore in (True, False):
        def limit(ignore=ignore):
            if ignore:
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))
        code, _, err = scenario.run([], preexec=limit)
        loop.calls += 1
        expect_failure("file-size limit", code, err, b"File too large")

    # A small tmpfs, filled up, holding the output directory.
    out = os.path.join(scenario.dir, "out")
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=200k",
                              "stblc-full", out],
                             capture_output=True).returncode == 0
    if mounted:
        try:
            code, _, err = scenario.run([])
            loop.calls += 1
            expect_failure("full tmpfs", code, err, b"No space left")
        finally:
            subprocess.run(["umount", out])
    else:
        print("SKIP full tmpfs: mounting is not permitted here")
    return loop


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("stblc")
    parser.add_argument("--stbldump", required=True)
    parser.add_argument("--shim", required=True)
    args = parser.parse_args()
    if not shutil.which("strace"):
        print("SKIP: strace is not installed")
        print("0 passed, 0 failed, 1 skipped")
        return 0
    scenario = Scenario(os.path.abspath(args.stblc),
                        os.path.abspath(args.stbldump))
    try:
        loops = [syscall_loop(scenario), signal_loop(scenario),
                 allocation_loop(scenario, os.path.abspath(args.shim)),
                 disk_loop(scenario)]
    finally:
        subprocess.run(["umount", os.path.join(scenario.dir, "out")],
                       capture_output=True)
        shutil.rmtree(scenario.dir)
    for loop in loops:
        loop.report()
    runs = sum(l.runs for l in loops)
    failed = sum(len(l.violations) for l in loops)
    print("%d passed, %d failed" % (runs - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
