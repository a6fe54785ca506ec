#!/usr/bin/env python3
"""End-to-end tests of the stblc binary.

Each case runs the real program in a fresh directory holding its fixture
files and compares standard output, standard error, the exit status and the
output file's bytes exactly. Expected files are computed by an independent
model of the STBL format below, not by stblc itself. After every run the
directory must hold no temporary file.

usage: run_e2e.py STBLC --stbldump STBLDUMP --version-string X.Y.Z
                  [--sanitized] [-k NAME]
"""

import argparse
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from stbl_model import stbl  # noqa: E402

FIXTURES = os.path.join(HERE, "fixtures")
EXAMPLES = os.path.join(HERE, "..", "..", "examples")

USAGE = b"usage: stblc a.txt [b.txt] -o out.stbl\n"
KEEP = object()  # the output must still hold what it held before the run


EMPTY_TABLE = bytes.fromhex("5354424C02") + b"\0" * 12
WORKED_EXAMPLE = bytes.fromhex(
    "5354424C020000010000000000000000" "00"
    "CBADAF6B18CADCD8" "02000000" "48006900")


def fixture(name):
    with open(os.path.join(FIXTURES, name), "rb") as f:
        return f.read()


def example(name):
    with open(os.path.join(EXAMPLES, name), "rb") as f:
        return f.read()


# --- Cases ------------------------------------------------------------------

CASES = []


def case(name, args, status=0, stdout=b"", stderr=b"", output=None,
         files=None, before=None, stdin=None, setup=None, check=None,
         output_path="out.stbl", limit_memory=None, program="stblc"):
    CASES.append(dict(name=name, args=args, status=status, stdout=stdout,
                      stderr=stderr, output=output, files=files or {},
                      before=before, stdin=stdin, setup=setup, check=check,
                      output_path=output_path, limit_memory=limit_memory,
                      program=program))


MENU_PAIRS = [
    (b"menu.title", b"Main Menu"), (b"menu.new_game", b"New Game"),
    (b"menu.continue", b"Continue"), (b"menu.options", b"Options"),
    (b"menu.quit.confirm",
     b"Quit the game?\nUnsaved progress will be lost."),
    (b"menu.quit", b"Quit"),
]
DIALOG_PAIRS = [
    (b"dialog.greeting", b"Welcome back, traveller."),
    (b"dialog.farewell", b"Safe roads, friend."),
    (b"MENU.QUIT", b"Leave Game"),
]

case("bundled examples, a key overridden by the second file",
     ["menu.txt", "dialog.txt", "-o", "out.stbl"],
     files={"menu.txt": example("menu.txt"),
            "dialog.txt": example("dialog.txt")},
     stdout=b"6 entries added from 'menu.txt'\n"
            b"3 entries added from 'dialog.txt'\n",
     output=stbl(MENU_PAIRS + DIALOG_PAIRS))

case("the 33-byte worked example", ["hi.txt", "-o", "out.stbl"],
     files={"hi.txt": fixture("hi.txt")},
     stdout=b"1 entries added from 'hi.txt'\n", output=WORKED_EXAMPLE)

case("CR LF kept, 0x95 becomes BULLET, case-folded override in place",
     ["menu.txt", "crlf_override.txt", "-o", "out.stbl"],
     files={"menu.txt": example("menu.txt"),
            "crlf_override.txt": fixture("crlf_override.txt")},
     stdout=b"6 entries added from 'menu.txt'\n"
            b"1 entries added from 'crlf_override.txt'\n",
     output=stbl(MENU_PAIRS + [(b"menu.title", b"Title\r\nScreen \x95 One")]))

case("scanning stops at the first zero byte", ["zero.txt", "-o", "out.stbl"],
     files={"zero.txt": fixture("zero_byte.txt")},
     stdout=b"1 entries added from 'zero.txt'\n",
     output=stbl([(b"a", b"kept")]))

case("the same file twice replaces its own texts",
     ["hi.txt", "hi.txt", "-o", "out.stbl"],
     files={"hi.txt": fixture("hi.txt")},
     stdout=b"1 entries added from 'hi.txt'\n" * 2, output=WORKED_EXAMPLE)

case("unreadable inputs are skipped with a warning",
     ["missing.txt", "adir", "hi.txt", "-o", "out.stbl"],
     files={"hi.txt": fixture("hi.txt")},
     setup=lambda d: os.mkdir(os.path.join(d, "adir")),
     stdout=b"1 entries added from 'hi.txt'\n",
     stderr=b"stblc: warning: skipping 'missing.txt': "
            b"No such file or directory\n"
            b"stblc: warning: skipping 'adir': Is a directory\n",
     output=WORKED_EXAMPLE)

case("all inputs missing: the header alone",
     ["a.txt", "-o", "b.txt", "-o", "out.stbl"],
     stderr=b"stblc: warning: skipping 'a.txt': No such file or directory\n"
            b"stblc: warning: skipping '-o': No such file or directory\n"
            b"stblc: warning: skipping 'b.txt': No such file or directory\n",
     output=EMPTY_TABLE)

for argv in ([], ["a.txt"], ["a.txt", "-o"], ["-o", "out.stbl"],
             ["a.txt", "-O", "out.stbl"], ["a.txt", "out.stbl", "-o"],
             ["-o", "out.stbl", "a.txt"], ["--help", "--version"]):
    case("malformed call: stblc " + " ".join(argv), argv, status=1,
         stdout=USAGE, files={"a.txt": fixture("hi.txt")})

case("--help", ["--help"], stdout=USAGE + b"""
Compiles tagged string sources, pairs of <KEY>key</KEY> and
<STR>text</STR>, into one STBL table. Sources are merged in the order
given: a later text replaces an earlier one under the same key, and
keys match whatever the case of their ASCII letters.

Exit status: 0 when the output was written in full, 1 otherwise.
""")

# Each error: the source, its message on standard output, and on standard
# error the message located at the tag it points to, with the line echoed.
SCAN_ERRORS = [
    (b"# keys\n<KEY>ok</KEY><STR>1</STR>\n  <KEY>abc\n",
     b"Unterminated key found!\n",
     b"bad.txt:3:3: error: Unterminated key found!\n"
     b"    <KEY>abc\n"
     b"    ^\n"),
    (b"\n<KEY>a <KEY>b</KEY><STR>x</STR>",
     b"Bleeding key 'a ' found!\n",
     b"bad.txt:2:8: error: Bleeding key 'a ' found!\n"
     b"  <KEY>a <KEY>b</KEY><STR>x</STR>\n"
     b"         ^\n"),
    (b"<KEY>x</KEY><STR>1</STR>\r\n\t<KEY></KEY><STR>x</STR>\r\n",
     b"Empty key found!\n",
     b"bad.txt:2:2: error: Empty key found!\n"
     b"  \t<KEY></KEY><STR>x</STR>\n"
     b"  \t^\n"),
    (b"<KEY>a</KEY>\n\n no text",
     b"Key 'a' has no entry!\n",
     b"bad.txt:1:1: error: Key 'a' has no entry!\n"
     b"  <KEY>a</KEY>\n"
     b"  ^\n"),
    (b"<KEY>caf\xc3\xa9</KEY>\n  <STR>text",
     b"Unterminated string after key 'caf\xc3\xa9'!\n",
     b"bad.txt:2:3: error: Unterminated string after key 'caf\xc3\xa9'!\n"
     b"    <STR>text\n"
     b"    ^\n"),
    (b"<KEY>a</KEY><STR>x\x1b<STR>y</STR>",
     b"Bleeding string in key 'a'!\n",
     b"bad.txt:1:20: error: Bleeding string in key 'a'!\n"
     b"  <KEY>a</KEY><STR>x\\x1B<STR>y</STR>\n"
     b"                        ^\n"),
]
for source, message, located in SCAN_ERRORS:
    case("scan error: " + message.decode().strip(),
         ["hi.txt", "bad.txt", "hi.txt", "-o", "out.stbl"],
         files={"hi.txt": fixture("hi.txt"), "bad.txt": source},
         before=b"old output", output=KEEP, status=1,
         stdout=b"1 entries added from 'hi.txt'\n" + message, stderr=located)

case("warning: a key defined twice in one file",
     ["duplicate.txt", "-o", "out.stbl"],
     files={"duplicate.txt": fixture("duplicate.txt")},
     stdout=b"3 entries added from 'duplicate.txt'\n",
     stderr=b"duplicate.txt:3:1: warning: key 'Menu.Title' is defined again; "
            b"this text replaces the one at 1:1\n"
            b"  <KEY>Menu.Title</KEY> <STR>Title</STR>\n"
            b"  ^\n",
     output=stbl([(b"menu.title", b"Title"), (b"menu.quit", b"Quit")]))

case("warning: two keys with equal key hashes",
     ["a.txt", "b.txt", "-o", "out.stbl"],
     files={"a.txt": fixture("collision_a.txt"),
            "b.txt": fixture("collision_b.txt")},
     stdout=b"1 entries added from 'a.txt'\n1 entries added from 'b.txt'\n",
     stderr=b"b.txt:2:3: warning: key 'k5jbiahaumijm' has the same key hash "
            b"as the key at a.txt:1:1; this text replaces that key's text\n"
            b"    <KEY>k5jbiahaumijm</KEY><STR>second</STR>\n"
            b"    ^\n",
     output=stbl([(b"arhf1ny1xxxde", b"second")]))

case("output in a missing directory", ["hi.txt", "-o", "no/such/out.stbl"],
     files={"hi.txt": fixture("hi.txt")}, status=1,
     output_path="no/such/out.stbl",
     stdout=b"1 entries added from 'hi.txt'\n",
     stderr=b"Couldn't open 'no/such/out.stbl' for writing!\n")

case("output is a directory", ["hi.txt", "-o", "adir"],
     files={"hi.txt": fixture("hi.txt")}, status=1,
     setup=lambda d: os.mkdir(os.path.join(d, "adir")),
     output_path="adir/never",
     stdout=b"1 entries added from 'hi.txt'\n",
     stderr=b"Couldn't open 'adir' for writing!\n")

case("output on a full device", ["hi.txt", "-o", "/dev/full"],
     files={"hi.txt": fixture("hi.txt")}, status=1, output_path="none",
     stdout=b"1 entries added from 'hi.txt'\n",
     stderr=b"Couldn't write '/dev/full': No space left on device\n")

case("output to a device is written directly", ["hi.txt", "-o", "/dev/null"],
     files={"hi.txt": fixture("hi.txt")}, output_path="none",
     stdout=b"1 entries added from 'hi.txt'\n")

case("input that fails while being read",
     ["hi.txt", "/proc/self/mem", "-o", "out.stbl"],
     files={"hi.txt": fixture("hi.txt")}, before=b"old output",
     output=KEEP, status=1,
     stdout=b"1 entries added from 'hi.txt'\n",
     stderr=b"Couldn't read '/proc/self/mem': Input/output error\n")

case("input from a pipe on standard input", ["/dev/stdin", "-o", "out.stbl"],
     stdin=fixture("hi.txt"),
     stdout=b"1 entries added from '/dev/stdin'\n", output=WORKED_EXAMPLE)


FIFO_PAIRS = [(b"key.%d" % i, b"text %d" % i) for i in range(30000)]


def make_fifo(d):
    path = os.path.join(d, "fifo.txt")
    os.mkfifo(path)

    def feed():  # many times the pipe's buffer
        with open(path, "wb") as f:
            for key, text in FIFO_PAIRS:
                f.write(b"<KEY>%s</KEY><STR>%s</STR>\n" % (key, text))

    threading.Thread(target=feed, daemon=True).start()


case("input from a FIFO", ["fifo.txt", "-o", "out.stbl"], setup=make_fifo,
     stdout=b"30000 entries added from 'fifo.txt'\n", output=stbl(FIFO_PAIRS))

case("output may be an input", ["src.txt", "-o", "src.txt"],
     files={"src.txt": fixture("hi.txt")}, output_path="src.txt",
     stdout=b"1 entries added from 'src.txt'\n", output=WORKED_EXAMPLE)


def make_link(d):
    os.symlink("real.stbl", os.path.join(d, "out.stbl"))
    with open(os.path.join(d, "real.stbl"), "wb") as f:
        f.write(b"old")
    os.chmod(os.path.join(d, "real.stbl"), 0o640)


def link_kept(d):
    if not os.path.islink(os.path.join(d, "out.stbl")):
        return "out.stbl is no longer a symbolic link"
    mode = stat.S_IMODE(os.stat(os.path.join(d, "real.stbl")).st_mode)
    if mode != 0o640:
        return "real.stbl has mode %o, not 640" % mode
    return None


case("a symbolic link output: its file is replaced, its mode kept",
     ["hi.txt", "-o", "out.stbl"], files={"hi.txt": fixture("hi.txt")},
     setup=make_link, check=link_kept,
     stdout=b"1 entries added from 'hi.txt'\n", output=WORKED_EXAMPLE)


def make_sparse(d):
    with open(os.path.join(d, "huge.txt"), "wb") as f:
        f.truncate(1 << 30)


case("running out of memory", ["hi.txt", "huge.txt", "-o", "out.stbl"],
     files={"hi.txt": fixture("hi.txt")}, setup=make_sparse,
     before=b"old output", output=KEEP, status=1, limit_memory=256 << 20,
     stdout=b"1 entries added from 'hi.txt'\n",
     stderr=b"Out of memory! 'out.stbl' was not written.\n")


REPEATS = b"".join(b"<KEY>k</KEY><STR>t</STR>\n" for _ in range(103))
case("warnings past a hundred per input are counted, not shown",
     ["rep.txt", "-o", "out.stbl"], files={"rep.txt": REPEATS},
     stdout=b"103 entries added from 'rep.txt'\n",
     stderr=b"".join(b"rep.txt:%d:1: warning: key 'k' is defined again; "
                     b"this text replaces the one at %d:1\n"
                     b"  <KEY>k</KEY><STR>t</STR>\n  ^\n" % (n, n - 1)
                     for n in range(2, 102)) +
            b"stblc: warning: 'rep.txt': 2 more texts replace earlier ones "
            b"as above\n",
     output=stbl([(b"k", b"t")]))


# stbldump on the table of the worked example and the bundled examples.
DUMP_FILES = {"hi.stbl": WORKED_EXAMPLE, "menu.txt": example("menu.txt"),
              "dialog.txt": example("dialog.txt"),
              "ex.stbl": stbl(MENU_PAIRS + DIALOG_PAIRS)}
case("stbldump lists the entries", ["hi.stbl"], program="stbldump",
     files=DUMP_FILES,
     stdout=b"STBL version 2, 1 entries, 33 bytes\n"
            b"D8DCCA186BAFADCB 2 \"Hi\"\n")
case("stbldump labels hashes with keys from sources",
     ["ex.stbl", "--keys", "menu.txt"], program="stbldump", files=DUMP_FILES,
     stdout=b"STBL version 2, 8 entries, 373 bytes\n"
            b"D82ACC819169AB84 9 \"menu.title\" \"Main Menu\"\n"
            b"4191EE52B3213689 8 \"menu.new_game\" \"New Game\"\n"
            b"2B9BF29DD75A0411 8 \"menu.continue\" \"Continue\"\n"
            b"58E68C227AE4D3DC 7 \"menu.options\" \"Options\"\n"
            b"B6188AFCFBDD4D3D 45 \"menu.quit.confirm\" "
            b"\"Quit the game?\\nUnsaved progress will be lost.\"\n"
            b"F7BECD6449F4A10B 10 \"menu.quit\" \"Leave Game\"\n"
            b"F52D2EDBB507BF70 24 ? \"Welcome back, traveller.\"\n"
            b"632781E490EDD419 19 ? \"Safe roads, friend.\"\n")
case("stbldump as JSON", ["--json", "hi.stbl"], program="stbldump",
     files=DUMP_FILES,
     stdout=b'{\n  "version": 2,\n  "entry_count": 1,\n  "file_size": 33,\n'
            b'  "entries": [\n    {"key_hash": "D8DCCA186BAFADCB", '
            b'"length": 2, "text": "Hi"}\n  ]\n}\n')
case("stbldump looks keys up", ["ex.stbl", "MENU.QUIT", "nope"],
     program="stbldump", files=DUMP_FILES, status=1,
     stdout=b"Leave Game\n",
     stderr=b"stbldump: no key 'nope' in 'ex.stbl'\n")
case("stbldump --check on a sound file", ["--check", "ex.stbl"],
     program="stbldump", files=DUMP_FILES)
case("stbldump --check on a cut file", ["--check", "cut.stbl"],
     program="stbldump", files={"cut.stbl": WORKED_EXAMPLE[:31]}, status=1,
     stderr=b"stbldump: cut.stbl: offset 25: record 0: length 2 (4 bytes) "
            b"runs past the end of the file\n")
case("stbldump with a malformed call", ["--jsn", "x.stbl"],
     program="stbldump", status=1,
     stderr=b"usage: stbldump [--json | --check] FILE [KEY...] "
            b"[--keys SOURCE...]\n")
case("stbldump on a missing file", ["none.stbl"], program="stbldump",
     status=1,
     stderr=b"stbldump: none.stbl: offset 0: cannot open: "
            b"No such file or directory\n")


# --- Running ----------------------------------------------------------------

def temp_files(d):
    found = []
    for root, _, names in os.walk(d):
        found += [os.path.join(root, n) for n in names if ".stblc-" in n]
    return found


def shorten(data, limit=400):
    text = repr(data)
    return text if len(text) <= limit else text[:limit] + "... (cut)"


VALGRIND = ["valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
            "--errors-for-leak-kinds=definite"]


def run_case(stblc, stbldump, c, sanitized, valgrind=False):
    if c["limit_memory"] and (sanitized or valgrind):
        return "skipped (address space limits need a plain build)"
    with tempfile.TemporaryDirectory(prefix="stblc-e2e-") as d:
        for name, data in c["files"].items():
            with open(os.path.join(d, name), "wb") as f:
                f.write(data)
        out_path = os.path.join(d, c["output_path"])
        if c["before"] is not None:
            with open(out_path, "wb") as f:
                f.write(c["before"])
        if c["setup"]:
            c["setup"](d)

        def limits():
            if c["limit_memory"]:
                resource.setrlimit(resource.RLIMIT_AS, (c["limit_memory"],) * 2)

        program = stblc if c["program"] == "stblc" else stbldump
        argv = [c["program"]] + c["args"]
        env = None
        if valgrind:
            # Found on PATH, the program gets its plain name as argv[0].
            bin_dir = os.path.join(d, ".bin")
            os.mkdir(bin_dir)
            os.symlink(program, os.path.join(bin_dir, c["program"]))
            env = dict(os.environ,
                       PATH=bin_dir + os.pathsep + os.environ["PATH"])
            program = shutil.which("valgrind")
            argv = VALGRIND + argv
        p = subprocess.run(argv, executable=program, cwd=d, env=env,
                           input=c["stdin"], capture_output=True, timeout=60,
                           preexec_fn=limits)
        problems = []
        if p.returncode != c["status"]:
            problems.append("exit status %d, expected %d"
                            % (p.returncode, c["status"]))
        for stream in ("stdout", "stderr"):
            if getattr(p, stream) != c[stream]:
                problems.append("%s was %s, expected %r"
                                % (stream, shorten(getattr(p, stream)),
                                   c[stream]))
        expected = c["before"] if c["output"] is KEEP else c["output"]
        actual = None
        if os.path.isfile(out_path):
            with open(out_path, "rb") as f:
                actual = f.read()
        if actual != expected:
            problems.append("output was %r, expected %r"
                            % (actual[:80] if actual else actual,
                               expected[:80] if expected else expected))
        if temp_files(d):
            problems.append("temporary files left: %r" % temp_files(d))
        if c["check"]:
            problem = c["check"](d)
            if problem:
                problems.append(problem)
        return "; ".join(problems) or None


# Signals while the output is written: strace slows every write down, the
# test sends the signal once the temporary file exists, and then the old
# output must be intact, no temporary file left, and the process dead of
# that very signal.
def run_signal_case(stblc, signum):
    with tempfile.TemporaryDirectory(prefix="stblc-e2e-") as d:
        with open(os.path.join(d, "hi.txt"), "wb") as f:
            f.write(b"<KEY>abc</KEY><STR>%s</STR>" % (b"x" * (4 << 20)))
        with open(os.path.join(d, "out.stbl"), "wb") as f:
            f.write(b"old output")
        tracer = subprocess.Popen(
            ["strace", "-f", "-qq", "-o", "/dev/null",
             "-e", "trace=write", "-e", "inject=write:delay_enter=300000",
             stblc, "hi.txt", "-o", "out.stbl"],
            cwd=d, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.time() + 30
        while not temp_files(d) and time.time() < deadline:
            time.sleep(0.01)
        if not temp_files(d):
            tracer.kill()
            return "no temporary file appeared"
        with open("/proc/%d/task/%d/children" % (tracer.pid, tracer.pid)) as f:
            child = int(f.read().split()[0])
        os.kill(child, signum)
        tracer.wait(timeout=30)
        problems = []
        # strace ends itself with the signal that ended the traced process.
        if tracer.returncode != -signum:
            problems.append("ended with %d, not by signal %d"
                            % (tracer.returncode, signum))
        with open(os.path.join(d, "out.stbl"), "rb") as f:
            if f.read() != b"old output":
                problems.append("old output changed")
        if temp_files(d):
            problems.append("temporary files left: %r" % temp_files(d))
        return "; ".join(problems) or None


# Colour only on a terminal, and never with NO_COLOR set.
def run_colour_case(stblc):
    import pty
    with tempfile.TemporaryDirectory(prefix="stblc-e2e-") as d:
        with open(os.path.join(d, "dup.txt"), "wb") as f:
            f.write(fixture("duplicate.txt"))
        problems = []
        for no_color, want in ((None, True), ("1", False), ("", False)):
            env = dict(os.environ)
            env.pop("NO_COLOR", None)
            if no_color is not None:
                env["NO_COLOR"] = no_color
            leader, follower = pty.openpty()
            p = subprocess.run([stblc, "dup.txt", "-o", "out.stbl"], cwd=d,
                               env=env, stdout=subprocess.DEVNULL,
                               stderr=follower, timeout=60)
            os.close(follower)
            seen = b""
            try:
                while True:
                    chunk = os.read(leader, 4096)
                    if not chunk:
                        break
                    seen += chunk
            except OSError:  # the terminal's other side is closed
                pass
            os.close(leader)
            coloured = b"\033[1;35mwarning\033[0m" in seen
            if p.returncode != 0 or coloured != want or b"warning" not in seen:
                problems.append("NO_COLOR=%r: exit %d, coloured %s: %s"
                                % (no_color, p.returncode, coloured,
                                   shorten(seen)))
        return "; ".join(problems) or None


# Two runs give the same bytes, also under a locale whose case rules differ
# from ASCII's: in Turkish, I folds to a dotless i.
def run_determinism_case(stblc):
    with tempfile.TemporaryDirectory(prefix="stblc-e2e-") as d:
        source = (b"<KEY>TITLE</KEY><STR>I</STR><KEY>title</KEY><STR>i</STR>"
                  b"<KEY>INFO.Item</KEY><STR>\xc4\xb0stanbul</STR>")
        with open(os.path.join(d, "tr.txt"), "wb") as f:
            f.write(source)
        want = stbl([(b"TITLE", b"I"), (b"title", b"i"),
                     (b"INFO.Item", b"\xc4\xb0stanbul")])
        envs = [("C", dict(os.environ, LC_ALL="C"))]
        locales = os.path.join(d, "locales")
        os.makedirs(locales)
        made = shutil.which("localedef") and subprocess.run(
            ["localedef", "-i", "tr_TR", "-f", "UTF-8",
             os.path.join(locales, "tr_TR.UTF-8")],
            capture_output=True).returncode in (0, 1)
        if made and os.path.isdir(os.path.join(locales, "tr_TR.UTF-8")):
            envs.append(("tr_TR.UTF-8", dict(os.environ, LC_ALL="tr_TR.UTF-8",
                                             LOCPATH=locales)))
        else:
            print("SKIP    the Turkish locale: localedef or its sources "
                  "are missing")
        for name, env in envs:
            for run in (1, 2):
                out = os.path.join(d, "%s-%d.stbl" % (name, run))
                p = subprocess.run([stblc, "tr.txt", "-o", out], cwd=d,
                                   env=env, capture_output=True, timeout=60)
                with open(out, "rb") as f:
                    if p.returncode != 0 or f.read() != want:
                        return "run %d under %s differs" % (run, name)
        return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("stblc")
    parser.add_argument("--stbldump", required=True)
    parser.add_argument("--version-string", required=True)
    parser.add_argument("--sanitized", action="store_true")
    parser.add_argument("--valgrind", action="store_true",
                        help="run every case under valgrind's memcheck "
                             "(the cases that time or signal a run are left "
                             "out)")
    parser.add_argument("-k", default="", help="run cases whose name has this")
    args = parser.parse_args()
    stblc = os.path.abspath(args.stblc)

    case("--version", ["--version"],
         stdout=b"stblc %s\n" % args.version_string.encode())
    case("stbldump --version", ["--version"], program="stbldump",
         stdout=b"stbldump %s\n" % args.version_string.encode())

    stbldump = os.path.abspath(args.stbldump)
    runs = [(c["name"],
             lambda c=c: run_case(stblc, stbldump, c, args.sanitized,
                                  args.valgrind))
            for c in CASES]
    if not args.valgrind:
        runs.append(("warnings are coloured on a terminal only",
                     lambda: run_colour_case(stblc)))
        runs.append(("the same bytes on every run, in any locale",
                     lambda: run_determinism_case(stblc)))
    if args.valgrind:
        pass
    elif shutil.which("strace"):
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP,
                       signal.SIGPIPE):
            runs.append(("%s while the output is written" % signum.name,
                         lambda s=signum: run_signal_case(stblc, s)))
    else:
        print("SKIP signal cases: strace is not installed")

    passed = failed = skipped = 0
    for name, run in runs:
        if args.k not in name:
            continue
        result = run()
        if result is None:
            passed += 1
            print("ok      " + name)
        elif result.startswith("skipped"):
            skipped += 1
            print("SKIP    %s: %s" % (name, result))
        else:
            failed += 1
            print("FAIL    %s: %s" % (name, result))
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
