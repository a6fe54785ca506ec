#!/usr/bin/env python3
"""Times stblc against the I/O floor and msgfmt on generated tables.

For each size and variant it generates the sources (bench/generate.py),
checks stblc's output (size from an independent model of the format, and
at 10,000 entries or fewer every byte), then times the three commands in
alternating rounds after a warm-up:

  stblc    stblc SOURCES -o OUT
  floor    sh -c 'cat SOURCES > /dev/null; cp FILE_OF_OUTPUT_SIZE DEST'
  msgfmt   msgfmt -o OUT.mo SAME_ENTRIES.po

and prints medians of wall and CPU seconds and peak resident memory, and
the ratios stblc / floor and stblc / msgfmt taken round by round. The
variants other than distinct also run stblc on the distinct sources of the
same size in each round, in turn before and after their own, for a paired
ratio to the distinct table that neither order favours. It also times odd input shapes at two sizes,
to show that none is superlinear. It prints figures and never fails on a
time.
"""

import argparse
import math
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import generate  # noqa: E402
from stbl_model import stbl, stbl_size  # noqa: E402

MB = 1e6
MIB = 1 << 20


MEASURE = None  # the launcher, bench/measure.cc


def measure(argv, cwd):
    """Runs argv; returns (wall s, cpu s, peak RSS bytes, exit status)."""
    out = subprocess.run([MEASURE] + argv, cwd=cwd, check=True,
                         capture_output=True, text=True).stdout.split()
    return float(out[0]), float(out[1]), int(out[2]), int(out[3])


def median(values):
    return statistics.median(values)


class Row:
    def __init__(self, n, variant, source_bytes):
        self.n = n
        self.variant = variant
        self.source_bytes = source_bytes
        self.samples = {}  # command -> list of (wall, cpu, rss)

    def add(self, command, sample):
        self.samples.setdefault(command, []).append(sample[:3])

    def med(self, command, field):
        return median(s[field] for s in self.samples[command])

    def ratio(self, a, b):
        """Median over the rounds of a's wall time over b's."""
        return median(x[0] / y[0] for x, y in
                      zip(self.samples[a], self.samples[b]))

    def ratio_both_orders(self, a, b):
        """As ratio(), for two commands that take turns at running first:
        each figure is the geometric mean of two neighbouring rounds, one in
        each order, so that whatever the run before does to the first one
        (msgfmt hands back half a gigabyte) weighs on both alike."""
        r = [x[0] / y[0] for x, y in zip(self.samples[a], self.samples[b])]
        if len(r) < 2:
            return median(r)
        return median(math.sqrt(p * q) for p, q in zip(r, r[1:]))


def check_output(path, entries, n):
    size = os.path.getsize(path)
    want = stbl_size(entries)
    if size != want:
        sys.exit("stblc wrote %d bytes, the model expects %d" % (size, want))
    if n <= 10000:
        with open(path, "rb") as f:
            if f.read() != stbl(entries):
                sys.exit("stblc's output differs from the model's bytes")


def bench_table(stblc, n, variant, work, runs, with_msgfmt, distinct=None):
    """Times one size and variant; distinct: the distinct sources of the
    same size, to time alongside (None for the distinct variant itself)."""
    sources, po, entries = generate.write(n, variant, work)
    out = os.path.join(work, "out.stbl")
    floor_src = os.path.join(work, "floor-src.bin")
    floor_dest = os.path.join(work, "floor-dest.bin")
    mo = os.path.join(work, "out.mo")

    commands = {"stblc": [stblc] + sources + ["-o", out]}
    if distinct:
        commands["distinct"] = [stblc] + distinct + ["-o", out + ".d"]
    # Warm-up, which also checks the output and makes the floor's file.
    if measure(commands["stblc"], work)[3] != 0:
        sys.exit("stblc failed on %s %d" % (variant, n))
    check_output(out, entries, n)
    shutil.copyfile(out, floor_src)
    quoted = " ".join("'%s'" % s for s in sources)
    commands["floor"] = ["sh", "-c", "cat %s > /dev/null; cp '%s' '%s'"
                         % (quoted, floor_src, floor_dest)]
    if with_msgfmt:
        commands["msgfmt"] = ["msgfmt", "-o", mo, po]
    for name, argv in commands.items():
        if name != "stblc" and measure(argv, work)[3] != 0:
            sys.exit("%s failed on %s %d" % (name, variant, n))

    row = Row(n, variant, sum(os.path.getsize(s) for s in sources))
    order = list(commands)
    for _ in range(runs):
        for name in order:
            row.add(name, measure(commands[name], work))
        if distinct:  # neither of the two always runs first
            order[0], order[1] = order[1], order[0]
    for path in sources + [po, out, out + ".d", floor_src, floor_dest, mo]:
        if os.path.exists(path):
            os.remove(path)
    return row


def print_table(rows, with_msgfmt, file=sys.stdout):
    head = ("| entries | variant | source MB | stblc s | stblc CPU s | MB/s "
            "| stblc RSS MiB | RSS / source | stblc / distinct | floor s "
            "| stblc / floor |")
    rule = "|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    if with_msgfmt:
        head += " msgfmt s | msgfmt RSS MiB | stblc / msgfmt |"
        rule += "---:|---:|---:|"
    print(head, file=file)
    print(rule, file=file)
    for r in rows:
        wall = r.med("stblc", 0)
        to_distinct = ("%.2f" % r.ratio_both_orders("stblc", "distinct")
                       if "distinct" in r.samples else "–")
        line = ("| {:,} | {} | {:.1f} | {:.3f} | {:.3f} | {:.0f} | {:.1f} "
                "| {:.2f} | {} | {:.3f} | {:.2f} |").format(
            r.n, r.variant, r.source_bytes / MB, wall, r.med("stblc", 1),
            r.source_bytes / MB / wall, r.med("stblc", 2) / MIB,
            r.med("stblc", 2) / r.source_bytes, to_distinct,
            r.med("floor", 0), r.ratio("stblc", "floor"))
        if with_msgfmt:
            line += " {:.2f} | {:.0f} | {:.4f} |".format(
                r.med("msgfmt", 0), r.med("msgfmt", 2) / MIB,
                r.ratio("stblc", "msgfmt"))
        print(line, file=file)


# Odd shapes: each made at two sizes ten times apart; the time ratio should
# stay near ten (or below, where fixed costs dominate).
SHAPES = {
    "closing tags without partners": lambda k: b"</KEY></STR>" * (k // 12),
    "a run of <STR> tags": lambda k: b"<STR>" * (k // 5),
    "keys without texts, one text at the end":
        lambda k: b"<KEY>a</KEY>" * (k // 12) + b"<STR>x</STR>",
    "pairs with empty texts":
        lambda k: b"<KEY>k</KEY><STR></STR>\n" * (k // 24),
    "one very long key": lambda k: b"<KEY>" + b"K" * k + b"</KEY><STR>x</STR>",
    "one very long text":
        lambda k: b"<KEY>k</KEY><STR>" + b"\x95" * k + b"</STR>",
    "a text of line feeds": lambda k: b"<KEY>k</KEY><STR>" + b"\n" * k +
        b"</STR>",
    "zero bytes after one pair":
        lambda k: b"<KEY>k</KEY><STR>x</STR>" + b"\0" * k,
    "the same key over and over":
        lambda k: b"<KEY>k</KEY><STR>t</STR>" * (k // 24),
}


def bench_shapes(stblc, work, size, runs):
    print("\n| input shape | %d MB s | %d MB s | ratio |" % (
        size // 1000000, 10 * size // 1000000))
    print("|---|---:|---:|---:|")
    os.makedirs(work, exist_ok=True)
    src = os.path.join(work, "shape.txt")
    out = os.path.join(work, "shape.stbl")
    for name, make in SHAPES.items():
        times = []
        for k in (size, 10 * size):
            with open(src, "wb") as f:
                f.write(make(k))
            measure([stblc, src, "-o", out], work)  # warm-up
            times.append(median(measure([stblc, src, "-o", out], work)[0]
                                for _ in range(runs)))
        print("| %s | %.3f | %.3f | %.1f |" % (name, times[0], times[1],
                                               times[1] / times[0]))
    os.remove(src)
    if os.path.exists(out):
        os.remove(out)


def plot(rows, path):
    """Log-log plot of wall time against entries, distinct keys."""
    rows = [r for r in rows if r.variant == "distinct"]
    if len(rows) < 2 or not shutil.which("gnuplot"):
        print("(no plot: needs gnuplot and two sizes)")
        return
    data = path + ".dat"
    with open(data, "w") as f:
        for r in rows:
            f.write("%d %f %f %f\n" % (
                r.n, r.med("stblc", 0), r.med("floor", 0),
                r.med("msgfmt", 0) if "msgfmt" in r.samples else float("nan")))
    script = """
set terminal pngcairo size 800,520 font ',11'
set output '{out}'
set logscale xy
set xlabel 'entries (one source file, distinct keys)'
set ylabel 'wall time, seconds (median)'
set key top left
set grid
plot '{dat}' using 1:4 with linespoints lw 2 title 'msgfmt (.po to .mo)', \\
     '{dat}' using 1:2 with linespoints lw 2 title 'stblc', \\
     '{dat}' using 1:3 with linespoints lw 2 dt 2 title 'I/O floor (cat + cp)'
""".format(out=path, dat=data)
    subprocess.run(["gnuplot"], input=script.encode(), check=True)
    os.remove(data)
    print("plot written to %s" % path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("stblc")
    parser.add_argument("--measure", required=True,
                        help="the launcher built from bench/measure.cc")
    parser.add_argument("--sizes", default="10000,100000,1000000")
    parser.add_argument("--variants", default=",".join(generate.VARIANTS))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--no-msgfmt", action="store_true")
    parser.add_argument("--no-shapes", action="store_true")
    parser.add_argument("--work", default="/tmp/stblc-bench")
    parser.add_argument("--plot", help="write the log-log plot here (PNG)")
    parser.add_argument("--markdown", help="also write the tables here")
    args = parser.parse_args()
    stblc = os.path.abspath(args.stblc)
    global MEASURE
    MEASURE = os.path.abspath(args.measure)
    with_msgfmt = not args.no_msgfmt

    print("stblc benchmark, %s, %d cores, %s" % (
        time.strftime("%Y-%m-%d"), os.cpu_count(), platform.processor()
        or platform.machine()))
    print("median of %d alternating rounds after a warm-up\n" % args.runs)
    rows = []
    variants = args.variants.split(",")
    for n in [int(s) for s in args.sizes.split(",")]:
        distinct = None
        if any(v != "distinct" for v in variants):
            distinct = generate.write(n, "distinct",
                                      os.path.join(args.work, "distinct"))
        for variant in variants:
            rows.append(bench_table(
                stblc, n, variant, args.work, args.runs, with_msgfmt,
                distinct[0] if distinct and variant != "distinct" else None))
            print("  done: %d %s" % (n, variant), file=sys.stderr)
        if distinct:
            for path in distinct[0] + [distinct[1]]:
                os.remove(path)
    print_table(rows, with_msgfmt)
    if not args.no_shapes:
        bench_shapes(stblc, args.work, 10000000, args.runs)
    if args.markdown:
        with open(args.markdown, "w") as f:
            print_table(rows, with_msgfmt, file=f)
    if args.plot:
        plot(rows, args.plot)


if __name__ == "__main__":
    main()
