"""Transaction logs for test hives, written from the registry file format
document: the new format (.LOG1/.LOG2: a base block of file type 6, then HvLE
entries, each checked by two Marvin32 hashes) and the old one (.LOG: a base
block of file type 1, a DIRT bitmap of 512-byte sectors, the dirty sectors).
A log is made from hive images as make_hive.py writes them: what it logs is
the pages of the later image that differ from the earlier one."""

import struct

from make_hive import set_checksum

# The seed of both hashes, as the registry file format document prints it under
# "New format", "Log entries", notes: the bytes 82 EF 4D 88 7A 4E 55 C5, one number.
SEED = 0x82EF4D887A4E55C5
MASK = 0xFFFFFFFF


def marvin32(data, seed=SEED):
    """Marvin32 as published: the data padded with 0x80 and zeros to whole
    32-bit words, each word added into the low state and mixed, then one more
    mix; the high state word is the high half of the result."""
    def rotl(v, n):
        return (v << n | v >> (32 - n)) & MASK
    lo, hi = seed & MASK, seed >> 32
    padded = bytes(data) + b"\x80" + bytes(3 - len(data) % 4)
    words = [w for (w,) in struct.iter_unpack("<I", padded)] + [0]
    for w in words:
        lo = (lo + w) & MASK
        hi ^= lo
        lo = rotl(lo, 20)
        lo = (lo + hi) & MASK
        hi = rotl(hi, 9)
        hi ^= lo
        lo = rotl(lo, 27)
        lo = (lo + hi) & MASK
        hi = rotl(hi, 19)
    return hi << 32 | lo


def bins(image):
    return image[4096:4096 + struct.unpack_from("<I", image, 40)[0]]


def changed_pages(before, after, size):
    """[(offset in the hive bins, bytes)]: `after`'s pages that `before` lacks or holds otherwise."""
    a, b = bins(before), bins(after)
    return [(o, b[o:o + size]) for o in range(0, len(b), size) if a[o:o + size] != b[o:o + size]]


def with_sequence(image, primary, secondary):
    block = bytearray(image[:4096])
    struct.pack_into("<II", block, 4, primary, secondary)
    set_checksum(block)
    return bytes(block) + image[4096:]


def log_base(image, file_type, sequence, name=None):
    block = bytearray(image[:512])
    struct.pack_into("<II", block, 4, sequence, sequence)
    struct.pack_into("<I", block, 28, file_type)
    if name is not None:
        block[48:112] = name.encode("utf-16-le").ljust(64, b"\0")
    set_checksum(block)
    return bytes(block)


def entry(sequence, after, pages, spoil_hash=False):
    body = b"".join(struct.pack("<II", o, len(p)) for o, p in pages) + b"".join(p for _, p in pages)
    body += bytes(-(40 + len(body)) % 512)
    head = b"HvLE" + struct.pack("<5I", 40 + len(body), 0, sequence, len(bins(after)), len(pages))
    head += struct.pack("<Q", marvin32(body) ^ spoil_hash)
    return head + struct.pack("<Q", marvin32(head)) + body


def new_format_log(steps, sequence, spoil=None, name=None):
    """A .LOG1/.LOG2 whose base block is the first image's, numbered
    `sequence`, with one entry per (before, after) in `steps`, numbered from
    `sequence` on. `spoil`: the index of an entry whose Hash-1 is made wrong.
    Returns the bytes and what the entries logged, [(offset, page)] each."""
    data = log_base(steps[0][0], 6, sequence, name)
    logged = []
    for i, (before, after) in enumerate(steps):
        logged.append(changed_pages(before, after, 4096))
        data += entry(sequence + i, after, logged[-1], spoil == i)
    return data, logged


def old_format_log(before, after):
    """A .LOG: `after`'s base block as a log's, its DIRT vector and dirty sectors."""
    pages = changed_pages(before, after, 512)
    bitmap = bytearray(len(bins(after)) // 512 // 8)
    for offset, _ in pages:
        bitmap[offset // 512 // 8] |= 1 << (offset // 512 % 8)
    vector = b"DIRT" + bytes(bitmap)
    vector += bytes(-len(vector) % 512)
    return log_base(after, 1, struct.unpack_from("<I", after, 4)[0]) + vector + b"".join(
        p for _, p in pages), pages
