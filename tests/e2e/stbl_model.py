"""An independent model of the STBL format, version 2, for checking what
stblc writes: the key hash and the file for a list of (key, text) pairs."""


def hash_key(key: bytes) -> int:
    """64-bit FNV-1 over the key with ASCII capitals folded."""
    h = 0xCBF29CE484222325
    for b in key:
        if 0x41 <= b <= 0x5A:
            b += 0x20
        h = ((h * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF) ^ b
    return h


def stbl(pairs) -> bytes:
    """The file for (key, text) pairs added in order, later keys replacing."""
    entries = {}
    for key, text in pairs:
        entries[hash_key(key)] = text  # dicts keep first-insertion order
    out = bytearray(b"STBL\x02\0\0" + len(entries).to_bytes(4, "little"))
    out += b"\0" * 6
    for h, text in entries.items():
        out += h.to_bytes(8, "little") + len(text).to_bytes(4, "little")
        for b in text:
            out += (0x2022 if b == 0x95 else b).to_bytes(2, "little")
    return bytes(out)


def stbl_size(pairs) -> int:
    """The file's size alone, without hashing: keys equal after folding
    ASCII capitals are one entry (a hash collision would make it smaller)."""
    lengths = {}
    for key, text in pairs:
        lengths[key.lower()] = len(text)
    return 17 + sum(12 + 2 * n for n in lengths.values())
