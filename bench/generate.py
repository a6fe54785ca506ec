#!/usr/bin/env python3
"""Deterministic generator of realistic string-table sources.

N pairs with dotted mixed-case keys of 20 to 30 bytes and texts of 20 to 80
bytes, written as tagged sources (one or several files) and as the same
entries in a .po file. Variants:

  distinct   every key different
  repeat20   20% of the pairs repeat an earlier key, some in other capitals
  bigtext    as distinct, but a few texts are several megabytes long
  crlf       as distinct, with CR LF line ends
  files8     as distinct, split over eight files

usage: generate.py N VARIANT DIR   (prints the files it wrote)
"""

import os
import random
import sys

WORDS = ("menu dialog quest item skill shop map hud tutorial credits options "
         "inventory battle npc title label tooltip button header body hint "
         "error confirm name desc save load world guild craft").split()
TEXT_WORDS = ("the a of to and you your is in it for on with this that "
              "quest sword shield gold village dragon journey return "
              "friend enemy castle forest river ancient power choose "
              "continue press button save game").split()
VARIANTS = ("distinct", "repeat20", "bigtext", "crlf", "files8")
ALPHABET = "0123456789abcdefghijklmnopqrstuvwxyz"


def base36(i):
    digits = ""
    while True:
        i, r = divmod(i, 36)
        digits = ALPHABET[r] + digits
        if not i:
            return digits


def make_key(rng, i):
    # The counter comes last, after a dot, so keys stay distinct whatever
    # the capitals of the words before it.
    tail = "." + base36(i)
    length = rng.randint(20, 30)
    head = ".".join(rng.choice(WORDS).capitalize() for _ in range(4))
    head = head.replace(".", rng.choice([".", "", "."]), 1)
    head = head[:length - len(tail)]
    return (head[:-1] + "x" if head.endswith(".") else head).encode() + \
        tail.encode()


class Texts:
    """Texts cut from one long run of words: fast, and still varied."""

    def __init__(self, rng):
        self.pool = " ".join(rng.choice(TEXT_WORDS)
                             for _ in range(200000)).encode()
        self.rng = rng

    def make(self, length):
        while len(self.pool) < 2 * length:
            self.pool += self.pool
        start = self.rng.randrange(len(self.pool) - length)
        return self.pool[start:start + length].capitalize()


def recase(rng, key):
    return bytes(b ^ 0x20 if 65 <= (b | 0x20) - 32 <= 90 and rng.random() < .3
                 else b for b in key)


def pairs(n, variant, seed=20261211):
    """The (key, text) pairs in source order."""
    rng = random.Random(seed * 31 + n)
    texts = Texts(rng)
    out = []
    for i in range(n):
        if variant == "repeat20" and i and rng.random() < 0.2:
            key = out[rng.randrange(len(out))][0]
            if rng.random() < 0.5:
                key = recase(rng, key)  # the same key in other capitals
        else:
            key = make_key(rng, i)
        out.append((key, texts.make(rng.randint(20, 80))))
    if variant == "bigtext":
        for j in range(3):
            i = (j + 1) * n // 4
            out[i] = (out[i][0], texts.make((2 + j) << 20))
    return out


def source_files(entries, variant):
    """The tagged sources as a list of byte strings."""
    eol = b"\r\n" if variant == "crlf" else b"\n"
    count = 8 if variant == "files8" else 1
    files = [[] for _ in range(count)]
    per_file = (len(entries) + count - 1) // count
    for i, (key, text) in enumerate(entries):
        lines = files[i // per_file]
        if i % 50 == 0:
            lines.append(b"# Section %d" % (i // 50) + eol)
        lines.append(b"<KEY>" + key + b"</KEY> <STR>" + text + b"</STR>" + eol)
    return [b"".join(lines) for lines in files]


def po_escape(s):
    return (s.replace(b"\\", b"\\\\").replace(b'"', b'\\"')
            .replace(b"\r", b"\\r").replace(b"\n", b"\\n"))


def po_file(entries):
    """The same entries as a .po file: one message per distinct key (ASCII
    capitals folded, as stblc compares keys), with the last text given."""
    last = {}
    for key, text in entries:
        folded = key.lower()
        spelling = last[folded][0] if folded in last else key
        last[folded] = (spelling, text)
    out = [b'msgid ""\nmsgstr ""\n'
           b'"Content-Type: text/plain; charset=UTF-8\\n"\n\n']
    for key, text in last.values():
        out.append(b'msgid "' + po_escape(key) + b'"\nmsgstr "' +
                   po_escape(text) + b'"\n\n')
    return b"".join(out)


def write(n, variant, directory):
    """Writes the sources and the .po file; returns (sources, po path,
    pairs)."""
    os.makedirs(directory, exist_ok=True)
    entries = pairs(n, variant)
    sources = []
    for i, data in enumerate(source_files(entries, variant)):
        path = os.path.join(directory, "%s-%d-%d.txt" % (variant, n, i))
        with open(path, "wb") as f:
            f.write(data)
        sources.append(path)
    po = os.path.join(directory, "%s-%d.po" % (variant, n))
    with open(po, "wb") as f:
        f.write(po_file(entries))
    return sources, po, entries


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[2] not in VARIANTS:
        sys.exit(__doc__)
    sources, po, _ = write(int(sys.argv[1]), sys.argv[2], sys.argv[3])
    print("\n".join(sources + [po]))
