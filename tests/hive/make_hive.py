#!/usr/bin/env python3
"""Writes Windows registry hive files ("regf") for tests and benchmarks.

Python 3 standard library only. The hives it writes are read back by hivex and
libregf in the test run before anything else is compared with them.

Building a tree
---------------
    from make_hive import Key, build_hive, REG_BINARY, REG_SZ

    root = Key("ROOT")
    setup = root.key(r"Microsoft\\Exchange\\Setup")       # makes the keys on the way
    setup.value("DigitalProductId", REG_BINARY, product_id_bytes)
    root.key(r"Wow6432Node\\Microsoft\\Exchange\\Setup").value(
        "DigitalProductId", REG_BINARY, other_bytes)
    image = build_hive(root, minor=5)
    open("SOFTWARE", "wb").write(image.data)

That is a SOFTWARE-like hive: its root stands for HKLM\\SOFTWARE, so the value
is read at Microsoft\\Exchange\\Setup (64-bit view) and at
Wow6432Node\\Microsoft\\Exchange\\Setup (32-bit view).

Key(name, lists=None, utf16=False, leaf_size=500, leaf_kind=None, sorted_lists=True)
    lists      subkey list kind: "li", "lf", "lh" or "ri" (an index root over
               leaves of `leaf_kind`, `leaf_size` entries each). Default: "lh"
               ("li" in a 1.3 hive), and "ri" when there are more than
               `leaf_size` subkeys.
    utf16      store the name as UTF-16LE even if it fits in Latin-1 (names
               outside Latin-1 are always UTF-16LE; others are compressed).
    sorted_lists  False keeps subkeys in insertion order (an unsorted list).
Key.key(path, **options)      the subkey at `path` ('\\' separated), made if missing;
                              options apply to the keys it makes.
Key.value(name, type, data, utf16=False, storage=None)
    data       bytes, or str for REG_SZ / REG_EXPAND_SZ (written as UTF-16LE
               with a terminating NUL), int for REG_DWORD / REG_QWORD, a list of
               str for REG_MULTI_SZ.
    storage    None (inline up to 4 bytes, a `db` big-data record over 16,344
               bytes in hives of minor version 4 and later, else one cell),
               "inline", "cell" or "db".

build_hive(root, minor=5, dirty=False, bin_size=4096) -> Image
    minor      3 to 6.
    dirty      the base block's sequence numbers differ (not closed cleanly).
    bin_size   size of ordinary bins (a multiple of 4096); a cell that does not
               fit gets a bin of its own rounded up to 4096.
Image.data     the file's bytes.
Image.cells    where things are, as offsets relative to the first bin: keys
               "nk:PATH", "list:PATH" (the key's subkey list), "leaf:PATH:I",
               "values:PATH", "vk:PATH:NAME", "data:PATH:NAME" (data cell or db),
               "segments:PATH:NAME", "segment:PATH:NAME:I", "sk"; PATH is ""
               for the root. Used to damage a hive on purpose.

Command line
------------
    make_hive.py OUT [--minor N] [--dirty] [--lists KIND] [--utf16]
                     [--key PATH]... [--value PATH NAME TYPE DATA]...
                     [--exchange-sample]

TYPE is none, sz, expand_sz, binary, dword, multi_sz, qword; DATA is text for
the string types (multi_sz: '|' separated), hex for binary and none, a number
for dword and qword. --exchange-sample adds the made-up DigitalProductId of
tools/sample_product_id.py (`sample_product_id()` here too) at both places a
SOFTWARE hive holds one. With no keys or values, OUT is an empty hive
(8,192 bytes) that hivexregedit --merge can fill.

    make_hive.py SOFTWARE --exchange-sample
    make_hive.py empty.hive
"""

import argparse
import os
import struct
import sys

# The made-up DigitalProductId every test uses, written once there.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from sample_product_id import sample_product_id  # noqa: E402,F401

REG_NONE = 0
REG_SZ = 1
REG_EXPAND_SZ = 2
REG_BINARY = 3
REG_DWORD = 4
REG_DWORD_BIG_ENDIAN = 5
REG_LINK = 6
REG_MULTI_SZ = 7
REG_RESOURCE_LIST = 8
REG_FULL_RESOURCE_DESCRIPTOR = 9
REG_RESOURCE_REQUIREMENTS_LIST = 10
REG_QWORD = 11

SEGMENT_SIZE = 16344  # bytes of data per big-data segment
NONE = 0xFFFFFFFF  # "no cell"

KEY_HIVE_ENTRY = 0x0004
KEY_NO_DELETE = 0x0008
KEY_COMP_NAME = 0x0020
VALUE_COMP_NAME = 0x0001

# A self-relative security descriptor with no owner, group or lists.
_SECURITY_DESCRIPTOR = struct.pack("<BBHIIII", 1, 0, 0x8000, 0, 0, 0, 0)


def upcase(text):
    """Upper-cases as Windows does for one UTF-16 code unit at a time."""
    out = []
    for c in text:
        u = c.upper()
        out.append(u if len(u) == 1 and ord(u) < 0x10000 else c)
    return "".join(out)


def name_hash(name):
    """The lh list's hash: h = 37 * h + code unit, over the upper-cased name."""
    h = 0
    units = upcase(name).encode("utf-16-le")
    for i in range(0, len(units), 2):
        h = (h * 37 + (units[i] | units[i + 1] << 8)) & 0xFFFFFFFF
    return h


def encode_name(name, force_utf16=False):
    """(bytes, compressed): Latin-1 when possible, else UTF-16LE."""
    if not force_utf16:
        try:
            return name.encode("latin-1"), True
        except UnicodeEncodeError:
            pass
    return name.encode("utf-16-le"), False


def encode_data(type_, data):
    if isinstance(data, (bytes, bytearray)):
        return bytes(data)
    if type_ in (REG_SZ, REG_EXPAND_SZ, REG_LINK) and isinstance(data, str):
        return (data + "\0").encode("utf-16-le")
    if type_ == REG_MULTI_SZ:
        return ("".join(s + "\0" for s in data) + "\0").encode("utf-16-le")
    if type_ == REG_DWORD:
        return struct.pack("<I", data)
    if type_ == REG_DWORD_BIG_ENDIAN:
        return struct.pack(">I", data)
    if type_ == REG_QWORD:
        return struct.pack("<Q", data)
    raise ValueError("no encoding for %r as type %d" % (data, type_))


class Value:
    def __init__(self, name, type_, data, utf16=False, storage=None):
        self.name = name
        self.type = type_
        self.data = encode_data(type_, data)
        self.utf16 = utf16
        self.storage = storage


class Key:
    def __init__(self, name, lists=None, utf16=False, leaf_size=500, leaf_kind=None,
                 sorted_lists=True):
        self.name = name
        self.lists = lists
        self.utf16 = utf16
        self.leaf_size = leaf_size
        self.leaf_kind = leaf_kind
        self.sorted_lists = sorted_lists
        self.subkeys = []
        self.values = []
        self._by_name = {}

    def key(self, path, **options):
        node = self
        for part in path.split("\\"):
            if not part:
                continue
            child = node._by_name.get(upcase(part))
            if child is None:
                child = Key(part, **options)
                node.add(child)
            node = child
        return node

    def add(self, child):
        if upcase(child.name) in self._by_name:
            raise ValueError("key %r already has a subkey %r" % (self.name, child.name))
        self._by_name[upcase(child.name)] = child
        self.subkeys.append(child)
        return child

    def value(self, name, type_, data, utf16=False, storage=None):
        self.values.append(Value(name, type_, data, utf16, storage))
        return self


def _align8(n):
    return (n + 7) & ~7


class Writer:
    """Lays cells out in bins, one after another, in one growing buffer.

    Offsets handed out are relative to the first bin, as the format stores them.
    Cells are reserved first (their size is known) and filled in later, so a
    key can point at its parent and its children alike.
    """

    def __init__(self, bin_size=4096):
        if bin_size % 4096 or bin_size <= 0:
            raise ValueError("bin size must be a positive multiple of 4096")
        self.bin_size = bin_size
        self.buf = bytearray()
        self.bin_start = 0
        self.bin_end = 0
        self.pos = 0

    def _close_bin(self):
        rest = self.bin_end - self.pos
        if rest:
            struct.pack_into("<i", self.buf, self.pos, rest)  # one free cell
        self.pos = self.bin_end

    def _open_bin(self, size):
        self.bin_start = len(self.buf)
        self.buf.extend(bytes(size))
        self.buf[self.bin_start:self.bin_start + 4] = b"hbin"
        struct.pack_into("<II", self.buf, self.bin_start + 4, self.bin_start, size)
        self.bin_end = self.bin_start + size
        self.pos = self.bin_start + 32

    def alloc(self, payload):
        """Reserves an allocated cell for `payload` bytes; returns its offset."""
        size = _align8(4 + payload)
        if self.pos + size > self.bin_end:
            self._close_bin()
            need = size + 32
            self._open_bin(max(self.bin_size, (need + 4095) // 4096 * 4096))
        offset = self.pos
        struct.pack_into("<i", self.buf, offset, -size)
        self.pos += size
        return offset

    def put(self, offset, payload):
        self.buf[offset + 4:offset + 4 + len(payload)] = payload

    def cell(self, payload):
        offset = self.alloc(len(payload))
        self.put(offset, payload)
        return offset

    def finish(self):
        self._close_bin()
        return self.buf


def base_block(root_offset, bins_size, minor=5, dirty=False, name="SOFTWARE"):
    block = bytearray(4096)
    block[0:4] = b"regf"
    struct.pack_into("<II", block, 4, 2 if dirty else 1, 1)
    struct.pack_into("<Q", block, 12, 0x01D0000000000000)
    struct.pack_into("<IIIIIII", block, 20, 1, minor, 0, 1, root_offset, bins_size, 1)
    file_name = name.encode("utf-16-le")[:64]
    block[48:48 + len(file_name)] = file_name
    set_checksum(block)
    return block


def set_checksum(block):
    c = 0
    for (word,) in struct.iter_unpack("<I", bytes(block[:508])):
        c ^= word
    if c == 0:
        c = 1
    elif c == 0xFFFFFFFF:
        c = 0xFFFFFFFE
    struct.pack_into("<I", block, 508, c)


def nk_payload(name_bytes, compressed, flags, parent, subkey_count, list_offset, value_count,
               values_offset, sk_offset, max_name=0, max_value_name=0, max_data=0):
    flags |= KEY_COMP_NAME if compressed else 0
    return (b"nk" + struct.pack("<HQIIIIIIIIIIIIIIIHH", flags, 0x01D0000000000000, 0, parent,
                                subkey_count, 0, list_offset, NONE, value_count, values_offset,
                                sk_offset, NONE, max_name, 0, max_value_name, max_data, 0,
                                len(name_bytes), 0) + name_bytes)


def nk_size(name_bytes):
    return 76 + len(name_bytes)


def vk_payload(name_bytes, compressed, size_field, data_offset, type_):
    return (b"vk" + struct.pack("<HIIIHH", len(name_bytes), size_field, data_offset, type_,
                                VALUE_COMP_NAME if compressed else 0, 0) + name_bytes)


def leaf_payload(kind, entries):
    """entries: (nk offset, name) pairs, in the order they are to be stored."""
    out = bytearray(kind.encode("ascii") + struct.pack("<H", len(entries)))
    for offset, name in entries:
        if kind == "li":
            out += struct.pack("<I", offset)
        elif kind == "lf":
            hint = bytes(ord(c) if ord(c) < 256 else 0 for c in name[:4]).ljust(4, b"\0")
            out += struct.pack("<I", offset) + hint
        elif kind == "lh":
            out += struct.pack("<II", offset, name_hash(name))
        else:
            raise ValueError("unknown leaf kind %r" % kind)
    return bytes(out)


def leaf_size(kind, count):
    return 4 + count * (4 if kind == "li" else 8)


def write_value(w, value, minor):
    """Writes a value's data; returns (size field, data offset, labels)."""
    data = value.data
    storage = value.storage
    if storage is None:
        if len(data) <= 4:  # Windows keeps 0 to 4 bytes in the value itself
            storage = "inline"
        elif len(data) > SEGMENT_SIZE and minor >= 4:
            storage = "db"
        else:
            storage = "cell"
    if storage == "inline":
        if len(data) > 4:
            raise ValueError("inline data holds at most 4 bytes")
        return 0x80000000 | len(data), struct.unpack("<I", data.ljust(4, b"\0"))[0], {}
    if not data:
        return 0, NONE, {}
    if storage == "cell":
        offset = w.cell(data)
        return len(data), offset, {"data": offset}
    if storage != "db":
        raise ValueError("unknown storage %r" % storage)
    pieces = [data[i:i + SEGMENT_SIZE] for i in range(0, len(data), SEGMENT_SIZE)]
    db = w.alloc(8)
    seglist = w.alloc(4 * len(pieces))
    labels = {"data": db, "segments": seglist}
    segs = []
    for i, piece in enumerate(pieces):
        # Four spare bytes: hivex reads a segment as its cell's size less 8.
        offset = w.alloc(len(piece) + 4)
        w.put(offset, piece)
        segs.append(offset)
        labels["segment:%d" % i] = offset
    w.put(db, b"db" + struct.pack("<HI", len(pieces), seglist))
    w.put(seglist, struct.pack("<%dI" % len(segs), *segs))
    return len(data), db, labels


def write_key(w, key, parent, sk, minor, cells, path, flags=0, nk=None):
    name_bytes, compressed = encode_name(key.name, key.utf16)
    if nk is None:
        nk = w.alloc(nk_size(name_bytes))
    cells["nk:" + path] = nk
    prefix = path + "\\" if path else ""

    children = []
    for sub in key.subkeys:
        children.append((write_key(w, sub, nk, sk, minor, cells, prefix + sub.name), sub.name))
    if key.sorted_lists:
        children.sort(key=lambda entry: upcase(entry[1]).encode("utf-16-be"))

    list_offset = NONE
    if children:
        kind = key.lists or ("li" if minor == 3 else "lh")
        if key.lists is None and len(children) > key.leaf_size:
            kind = "ri"
        if kind == "ri":
            leaf_kind = key.leaf_kind or ("li" if minor == 3 else "lh")
            leaves = []
            for i in range(0, len(children), key.leaf_size):
                part = children[i:i + key.leaf_size]
                leaf = w.cell(leaf_payload(leaf_kind, part))
                cells["leaf:%s:%d" % (path, len(leaves))] = leaf
                leaves.append(leaf)
            list_offset = w.cell(b"ri" + struct.pack("<H%dI" % len(leaves), len(leaves), *leaves))
        else:
            list_offset = w.cell(leaf_payload(kind, children))
        cells["list:" + path] = list_offset

    vks = []
    for value in key.values:
        size_field, data_offset, labels = write_value(w, value, minor)
        vname, vcompressed = encode_name(value.name, value.utf16)
        vk = w.cell(vk_payload(vname, vcompressed, size_field, data_offset, value.type))
        cells["vk:%s:%s" % (path, value.name)] = vk
        for label, offset in labels.items():
            parts = label.split(":")
            cells[":".join([parts[0], path, value.name] + parts[1:])] = offset
        vks.append(vk)
    values_offset = NONE
    if vks:
        values_offset = w.cell(struct.pack("<%dI" % len(vks), *vks))
        cells["values:" + path] = values_offset

    max_name = max((2 * len(s.name) for s in key.subkeys), default=0)
    max_value_name = max((2 * len(v.name) for v in key.values), default=0)
    max_data = max((len(v.data) for v in key.values), default=0)
    w.put(nk, nk_payload(name_bytes, compressed, flags, parent, len(children), list_offset,
                         len(vks), values_offset, sk, max_name, max_value_name, max_data))
    return nk


def count_keys(key):
    return 1 + sum(count_keys(k) for k in key.subkeys)


class Image:
    def __init__(self, data, cells):
        self.data = data
        self.cells = cells


def build_hive(root, minor=5, dirty=False, bin_size=4096, name="SOFTWARE"):
    if not 3 <= minor <= 6:
        raise ValueError("minor version must be 3 to 6")
    w = Writer(bin_size)
    cells = {}
    root_name, compressed = encode_name(root.name, root.utf16)
    # The root's nk first (at 0x20, as Windows and hivex place it), then the
    # shared security cell, then the tree.
    first = w.alloc(nk_size(root_name))
    sk = w.alloc(20 + len(_SECURITY_DESCRIPTOR))
    w.put(sk, b"sk" + struct.pack("<HIIII", 0, sk, sk, count_keys(root),
                                  len(_SECURITY_DESCRIPTOR)) + _SECURITY_DESCRIPTOR)
    cells["sk"] = sk
    write_key(w, root, NONE, sk, minor, cells, "", KEY_HIVE_ENTRY | KEY_NO_DELETE, first)
    bins = w.finish()
    return Image(bytes(base_block(first, len(bins), minor, dirty, name)) + bytes(bins), cells)


_TYPES = {"none": REG_NONE, "sz": REG_SZ, "expand_sz": REG_EXPAND_SZ, "binary": REG_BINARY,
          "dword": REG_DWORD, "multi_sz": REG_MULTI_SZ, "qword": REG_QWORD}


def main(argv=None):
    parser = argparse.ArgumentParser(description="Write a registry hive file.")
    parser.add_argument("out")
    parser.add_argument("--minor", type=int, default=5)
    parser.add_argument("--dirty", action="store_true")
    parser.add_argument("--lists", choices=["li", "lf", "lh", "ri"])
    parser.add_argument("--utf16", action="store_true", help="store every name as UTF-16LE")
    parser.add_argument("--key", action="append", default=[], metavar="PATH")
    parser.add_argument("--value", action="append", default=[], nargs=4,
                        metavar=("PATH", "NAME", "TYPE", "DATA"))
    parser.add_argument("--exchange-sample", action="store_true")
    args = parser.parse_args(argv)

    options = {"lists": args.lists, "utf16": args.utf16}
    root = Key("ROOT", **options)
    for path in args.key:
        root.key(path, **options)
    for path, name, type_name, text in args.value:
        type_ = _TYPES[type_name]
        if type_ in (REG_SZ, REG_EXPAND_SZ):
            data = text
        elif type_ == REG_MULTI_SZ:
            data = text.split("|") if text else []
        elif type_ in (REG_DWORD, REG_QWORD):
            data = int(text, 0)
        else:
            data = bytes.fromhex(text)
        root.key(path, **options).value(name, type_, data, utf16=args.utf16)
    if args.exchange_sample:
        for path in ("Microsoft\\Exchange\\Setup", "Wow6432Node\\Microsoft\\Exchange\\Setup"):
            root.key(path, **options).value("DigitalProductId", REG_BINARY, sample_product_id())
    with open(args.out, "wb") as f:
        f.write(build_hive(root, args.minor, args.dirty).data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
