#!/usr/bin/env python3
"""Writes a large SOFTWARE-shaped hive for the lookup benchmark.

    make_big_hive.py OUT --keys N --mb M

About N keys: a Classes key with a third of them as direct subkeys, a
Microsoft key with thousands of product keys (Exchange\\Setup among them),
several keys of 5,000 to 8,000 subkeys, the same under Wow6432Node, every
list over 500 entries an ri over lh leaves, each key with a string and a
number; then keys holding big-data (db) values until the file is M MB.
The tree is written as it is generated (children before their parent's
list), so memory stays near the file's size and the time near a second per
50 MB.
"""

import argparse
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "hive"))

import make_hive as mh  # noqa: E402

LEAF = 500


class Generator:
    def __init__(self, writer):
        self.w = writer
        self.keys = 0
        self.sk = 0
        self.blob = bytes((i * 7 + (i >> 8) * 13) & 0xFF for i in range(64 * 1024))

    def value(self, name, type_, data, big=False):
        """Writes a value and its data; returns the vk's offset."""
        w = self.w
        n = len(data)
        if n <= 4:
            size, offset = 0x80000000 | n, struct.unpack("<I", data.ljust(4, b"\0"))[0]
        elif big:
            pieces = [data[i:i + mh.SEGMENT_SIZE] for i in range(0, n, mh.SEGMENT_SIZE)]
            segs = [w.cell(p + b"\0\0\0\0") for p in pieces]
            seglist = w.cell(struct.pack("<%dI" % len(segs), *segs))
            size, offset = n, w.cell(b"db" + struct.pack("<HI", len(segs), seglist))
        else:
            size, offset = n, w.cell(data)
        vname = name.encode("latin-1")
        return w.cell(mh.vk_payload(vname, True, size, offset, type_))

    def key(self, name, parent, children=(), values=(), flags=0, nk=None):
        """Writes a key; `children` yields (name, writer) pairs, each writer a
        function of the new key's offset returning the child's offset."""
        w = self.w
        self.keys += 1
        name_bytes = name.encode("latin-1")
        if nk is None:
            nk = w.alloc(mh.nk_size(name_bytes))
        entries = [(make(nk), child) for child, make in children]
        entries.sort(key=lambda e: mh.upcase(e[1]))
        list_offset = mh.NONE
        if len(entries) > LEAF:
            leaves = [w.cell(mh.leaf_payload("lh", entries[i:i + LEAF]))
                      for i in range(0, len(entries), LEAF)]
            list_offset = w.cell(b"ri" + struct.pack("<H%dI" % len(leaves), len(leaves), *leaves))
        elif entries:
            list_offset = w.cell(mh.leaf_payload("lh", entries))
        vks = [self.value(*v) for v in values]
        values_offset = w.cell(struct.pack("<%dI" % len(vks), *vks)) if vks else mh.NONE
        w.put(nk, mh.nk_payload(name_bytes, True, flags, parent, len(entries), list_offset,
                                len(vks), values_offset, self.sk))
        return nk

    def plain(self, name, n):
        """A key with two ordinary values and `n` plain subkeys below it."""
        values = [("DisplayName", mh.REG_SZ, ("%s component\0" % name).encode("utf-16-le")),
                  ("Version", mh.REG_DWORD, struct.pack("<I", len(name)))]
        children = [("Sub%04d" % i, lambda p, i=i, name=name: self.plain("%s.%d" % (name, i), 0)(p))
                    for i in range(n)]
        return lambda parent: self.key(name, parent, children, values)


def software(g, keys, extra_setup):
    """The children of the root: (name, writer) pairs."""
    product_id = mh.sample_product_id()
    budget = keys

    def exchange(view):
        setup_values = [("DigitalProductId", mh.REG_BINARY, product_id),
                        ("MsiInstallPath", mh.REG_SZ, "C:\\Exchange\\\0".encode("utf-16-le"))]
        setup = lambda p: g.key("Setup", p, [], setup_values)
        neighbours = [("Setup", setup)] + [("Component%02d" % i, g.plain("Component%02d" % i, 3))
                                          for i in range(extra_setup)]
        return lambda p: g.key("Exchange", p, neighbours,
                               [("Version", mh.REG_DWORD, b"\x0f\0\0\0")])

    def products(view, count, per):
        children = [("Exchange", exchange(view))]
        for i in range(count):
            name = "Product%05d" % i
            children.append((name, g.plain(name, per)))
        return children

    def wide(name, count):
        children = [("{%08X-0000-0000-0000-%012X}" % (i, i * 7), g.plain("K%d" % i, 0))
                    for i in range(count)]
        return lambda p: g.key(name, p, children)

    # Shares of the key budget: Microsoft's products about a third, keys of
    # 5,000 to 8,000 subkeys, Wow6432Node, and Classes the rest.
    per_product = max(0, (budget * 35 // 100) // 6000 - 1)
    sizes = [5000, 6000, 7000, 8000] if budget >= 200000 else [5000]
    wow_classes = budget // 12
    classes = max(1000, budget - 6000 * (per_product + 1) - sum(sizes) - wow_classes - 5000 - 100)
    big = [("Installer%d" % i, wide("Installer%d" % i, n)) for i, n in enumerate(sizes)]
    microsoft = products("64", 6000, per_product)
    microsoft += big
    wow_ms = products("32", 5000, 0)
    wow = [("Classes", wide("Classes", wow_classes)),
           ("Microsoft", lambda p: g.key("Microsoft", p, wow_ms))]
    return [("Classes", wide("Classes", classes)),
            ("Clients", g.plain("Clients", 40)),
            ("Microsoft", lambda p: g.key("Microsoft", p, microsoft)),
            ("Policies", g.plain("Policies", 20)),
            ("RegisteredApplications", g.plain("RegisteredApplications", 0)),
            ("Wow6432Node", lambda p: g.key("Wow6432Node", p, wow))]


def blobs(g, target_bytes):
    """Keys of big-data values until the hive bins reach `target_bytes`."""
    children = []

    def blob_key(i):
        def make(parent):
            values = []
            # About 4 MB per key, in values of 20 to 64 KiB.
            total = 0
            j = 0
            while total < 4 << 20:
                size = 20000 + (i * 7919 + j * 104729) % (64 * 1024 - 20000)
                values.append(("Blob%03d" % j, mh.REG_BINARY, g.blob[:size], True))
                total += size
                j += 1
            return g.key("Set%04d" % i, parent, [], values)
        return make

    def make(parent):
        nk = g.w.alloc(mh.nk_size(b"Blobs"))
        entries = []
        i = 0
        while len(g.w.buf) < target_bytes:
            entries.append(("Set%04d" % i, blob_key(i)))
            entries[-1] = (entries[-1][0], entries[-1][1](nk))
            i += 1
        offsets = [(off, name) for name, off in entries]
        list_offset = g.w.cell(mh.leaf_payload("lh", offsets)) if offsets else mh.NONE
        g.keys += 1
        g.w.put(nk, mh.nk_payload(b"Blobs", True, 0, parent, len(offsets), list_offset, 0,
                                  mh.NONE, g.sk))
        return nk
    return make


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("out")
    parser.add_argument("--keys", type=int, default=300000)
    parser.add_argument("--mb", type=int, default=130)
    args = parser.parse_args()

    w = mh.Writer()
    g = Generator(w)
    root_nk = w.alloc(mh.nk_size(b"ROOT"))
    g.sk = w.alloc(20 + len(mh._SECURITY_DESCRIPTOR))
    w.put(g.sk, b"sk" + struct.pack("<HIIII", 0, g.sk, g.sk, 1, len(mh._SECURITY_DESCRIPTOR)) +
          mh._SECURITY_DESCRIPTOR)
    children = software(g, args.keys, 10)
    children.append(("Blobs", blobs(g, args.mb * 1000 * 1000 - 4096)))
    g.key("ROOT", mh.NONE, children, [], mh.KEY_HIVE_ENTRY | mh.KEY_NO_DELETE, nk=root_nk)
    bins = w.finish()
    with open(args.out, "wb") as f:
        f.write(mh.base_block(root_nk, len(bins)))
        f.write(bins)
    print("%s: %d keys, %.1f MB" % (args.out, g.keys, (len(bins) + 4096) / 1e6))


if __name__ == "__main__":
    main()
