"""The test hives: what each holds, and what reading it must give.

Each fixture is a hive built by make_hive plus a list of lookups with their
expected results, written out here independently of any reader:
    (key path, value name, type, data bytes)   the value is there
    (key path, value name, None, "key-not-found" | "value-not-found")
"""

import struct

from make_hive import (Key, build_hive, sample_product_id, REG_BINARY, REG_DWORD,
                       REG_DWORD_BIG_ENDIAN, REG_EXPAND_SZ, REG_LINK, REG_MULTI_SZ, REG_NONE,
                       REG_QWORD, REG_RESOURCE_LIST, REG_SZ)


def pattern(n, seed=0):
    """n bytes that differ from any shifted copy of themselves."""
    return bytes((i * 7 + (i >> 8) * 13 + seed) & 0xFF for i in range(n))


def utf16z(text):
    return (text + "\0").encode("utf-16-le")


class Fixture:
    def __init__(self, name, root, minor=5, dirty=False, bin_size=4096):
        self.name = name
        self.root = root
        self.minor = minor
        self.dirty = dirty
        self.bin_size = bin_size
        self.lookups = []

    def expect(self, path, value, type_, data, oracles=("hivex", "libregf")):
        self.lookups.append((path, value, type_, data, oracles))

    def missing(self, path, value, code, oracles=("hivex", "libregf")):
        self.lookups.append((path, value, None, code, oracles))

    def build(self):
        return build_hive(self.root, self.minor, self.dirty, self.bin_size)


def every_type(key, prefix):
    """Values of every common type on `key`; returns (name, type, bytes) triples."""
    values = [
        ("Text", REG_SZ, "Exchange Server"),
        ("Expandable", REG_EXPAND_SZ, "%SystemRoot%\\Exchange"),
        ("Binary", REG_BINARY, pattern(164)),
        ("Dword", REG_DWORD, 0x12345678),
        ("BigEndian", REG_DWORD_BIG_ENDIAN, 0x01020304),
        ("Multi", REG_MULTI_SZ, ["one", "two", "three"]),
        ("Qword", REG_QWORD, 0x1122334455667788),
        ("Nothing", REG_NONE, pattern(9, 3)),
        ("Link", REG_LINK, "\\Registry\\Machine\\Software"),
        ("Resources", REG_RESOURCE_LIST, pattern(40, 5)),
        ("", REG_SZ, "the default value"),
    ]
    out = []
    for name, type_, data in values:
        key.value(prefix + name if name else "", type_, data)
        out.append((prefix + name if name else "", type_, key.values[-1].data))
    return out


def fixture_lists(kind, minor):
    """A small tree over one list kind, with values of every type and size class."""
    root = Key("ROOT", lists=kind)
    f = Fixture("lists_%s_1%d" % (kind, minor), root, minor)
    for name in ["Alpha", "beta", "Gamma", "delta", "Epsilon", "zeta"]:
        root.key(name, lists=kind).value("Name", REG_SZ, name)
        f.expect(name, "Name", REG_SZ, utf16z(name))
    setup = root.key("Microsoft\\Exchange\\Setup", lists=kind)
    setup.value("DigitalProductId", REG_BINARY, sample_product_id())
    f.expect("Microsoft\\Exchange\\Setup", "DigitalProductId", REG_BINARY, sample_product_id())
    for name, type_, data in every_type(setup, ""):
        f.expect("Microsoft\\Exchange\\Setup", name, type_, data)
    four = b"\x01\x02\x03\x04"
    setup.value("Inline4", REG_BINARY, four)
    f.expect("Microsoft\\Exchange\\Setup", "Inline4", REG_BINARY, four)
    # libregf returns the wrong bytes for 1 to 3 inline bytes: left to hivex.
    setup.value("Inline2", REG_BINARY, b"\xAB\xCD", storage="inline")
    f.expect("Microsoft\\Exchange\\Setup", "Inline2", REG_BINARY, b"\xAB\xCD", ("hivex",))
    setup.value("Empty", REG_BINARY, b"")
    f.expect("Microsoft\\Exchange\\Setup", "Empty", REG_BINARY, b"")
    # Just below, at and above the size where big data starts.
    # libregf reads big data records only from 1.5 on; the format has them from 1.4.
    for size in (16344, 16345, 40000):
        setup.value("Big%d" % size, REG_BINARY, pattern(size, size))
        oracles = ("hivex",) if minor == 4 and size > 16344 else ("hivex", "libregf")
        f.expect("Microsoft\\Exchange\\Setup", "Big%d" % size, REG_BINARY, pattern(size, size),
                 oracles)
    f.missing("Microsoft\\Exchange\\Setup", "NoSuchValue", "value-not-found")
    f.missing("Microsoft\\Exchange\\Nowhere", "DigitalProductId", "key-not-found")
    f.missing("Alphabet", "Name", "key-not-found")
    return f


def fixture_ri(leaf_kind, count, leaf_size=500):
    """One key with `count` subkeys in an ri over `leaf_kind` leaves."""
    root = Key("ROOT")
    f = Fixture("ri_%s_%d" % (leaf_kind, count), root)
    big = root.key("Classes", lists="ri", leaf_kind=leaf_kind, leaf_size=leaf_size)
    for i in range(count):
        big.key("Key%05d" % i).value("Index", REG_DWORD, i)
    for i in sorted({0, 1, leaf_size - 1, leaf_size, count // 2, count - 2, count - 1}):
        f.expect("Classes\\Key%05d" % i, "Index", REG_DWORD, struct.pack("<I", i))
    f.missing("Classes\\Key%05d" % count, "Index", "key-not-found")
    f.missing("Classes\\Key", "Index", "key-not-found")
    return f


def fixture_names():
    """Compressed, UTF-16 and non-Latin key and value names."""
    root = Key("ROOT")
    f = Fixture("names", root)
    names = [
        ("Café", False),          # Latin-1, compressed
        ("ÄÖÜ äöü ÿ", False),
        ("Plain", True),          # ASCII stored as UTF-16
        ("Ключ", False),          # Cyrillic: always UTF-16
        ("鍵", False),
        ("Ελληνικά", False),
        ("Emoji \U0001F511", False),  # a surrogate pair
    ]
    for name, utf16 in names:
        key = root.key(name, utf16=utf16)
        key.value(name, REG_SZ, name, utf16=utf16)
        key.value("Ünïcödé", REG_DWORD, len(name))
        key.value("Значение", REG_BINARY, ("<%s>" % name).encode("utf-8"))
        f.expect(name, name, REG_SZ, utf16z(name))
        f.expect(name, "Ünïcödé", REG_DWORD, struct.pack("<I", len(name)))
        f.expect(name, "Значение", REG_BINARY, ("<%s>" % name).encode("utf-8"))
    deep = root.key("Café\\Ключ\\鍵", utf16=True)
    deep.value("Here", REG_SZ, "deep")
    f.expect("Café\\Ключ\\鍵", "Here", REG_SZ, utf16z("deep"))
    f.missing("Cafe", "Café", "key-not-found")
    return f


def fixture_unsorted():
    """Lists in insertion order, not sorted: a reader must not stop early."""
    root = Key("ROOT", sorted_lists=False)
    f = Fixture("unsorted", root)
    order = ["Zulu", "alpha", "Mike", "Bravo", "yankee", "Charlie"]
    for kind in ("li", "lf", "lh"):
        parent = root.key("By" + kind, lists=kind, sorted_lists=False)
        for name in order:
            parent.key(name).value("Kind", REG_SZ, kind)
        for name in order:
            f.expect("By%s\\%s" % (kind, name), "Kind", REG_SZ, utf16z(kind))
    parent = root.key("ByRi", lists="ri", leaf_size=2, sorted_lists=False)
    for name in order:
        parent.key(name).value("Kind", REG_SZ, "ri")
    for name in order:
        f.expect("ByRi\\" + name, "Kind", REG_SZ, utf16z("ri"))
    return f


def fixture_software(name="software", minor=5, dirty=False, bin_size=4096):
    """A SOFTWARE-like hive with the key in both views, and neighbours around it."""
    root = Key("ROOT")
    f = Fixture(name, root, minor, dirty, bin_size)
    for vendor in ["Classes", "Clients", "Google", "Intel", "Microsoft", "Policies",
                   "RegisteredApplications", "Wow6432Node"]:
        root.key(vendor)
    ms = root.key("Microsoft")
    for product in ["Active Setup", "Cryptography", "ExchangeServer", "Exchange", "Windows",
                    "Windows NT", "Office", "Exchange Server"]:
        ms.key(product).value("Installed", REG_DWORD, 1)
    setup = root.key("Microsoft\\Exchange\\Setup")
    setup.value("DigitalProductId", REG_BINARY, sample_product_id())
    setup.value("MsiInstallPath", REG_SZ, "C:\\Program Files\\Microsoft\\Exchange Server\\V15\\")
    wow = root.key("Wow6432Node\\Microsoft\\Exchange\\Setup")
    other = pattern(164, 1)
    wow.value("DigitalProductId", REG_BINARY, other)
    f.expect("Microsoft\\Exchange\\Setup", "DigitalProductId", REG_BINARY, sample_product_id())
    f.expect("Microsoft\\Exchange\\Setup", "MsiInstallPath", REG_SZ,
             utf16z("C:\\Program Files\\Microsoft\\Exchange Server\\V15\\"))
    f.expect("Wow6432Node\\Microsoft\\Exchange\\Setup", "DigitalProductId", REG_BINARY, other)
    f.expect("Microsoft\\Exchange Server", "Installed", REG_DWORD, struct.pack("<I", 1))
    f.missing("Microsoft\\Exchange\\Setup\\Extra", "DigitalProductId", "key-not-found")
    return f


def fixture_big_bins():
    """Bins of 64 KiB, so most cells lie beyond their bin's first page."""
    f = fixture_lists("lh", 5)
    f.name = "bins_64k"
    f.bin_size = 65536
    return f


def fixture_corruption_base():
    """The small hive the corruption table damages: each structure once.

    Root -> lh -> A (li) -> B (lf) -> C (ri over lh) -> D, with D holding an
    inline, an ordinary and a db value. Built in 1.5, 8 KiB bins at most.
    """
    root = Key("ROOT")
    f = Fixture("corruption_base", root)
    a = root.key("A", lists="li")
    b = a.key("B", lists="lf")
    c = b.key("C", lists="ri", leaf_size=1)
    d = c.key("D")
    c.key("E")
    d.value("Inline", REG_DWORD, 0x01020304)
    d.value("Ordinary", REG_BINARY, pattern(100))
    d.value("Big", REG_BINARY, pattern(16345 + 100))
    f.expect("A\\B\\C\\D", "Inline", REG_DWORD, struct.pack("<I", 0x01020304))
    f.expect("A\\B\\C\\D", "Ordinary", REG_BINARY, pattern(100))
    f.expect("A\\B\\C\\D", "Big", REG_BINARY, pattern(16345 + 100))
    f.missing("A\\B\\C\\E", "", "value-not-found")
    return f


def all_fixtures():
    fixtures = [fixture_lists(kind, minor)
                for kind, minor in [("lh", 5), ("li", 3), ("lf", 4), ("lh", 6), ("li", 5)]]
    fixtures += [fixture_ri("lh", 5200), fixture_ri("li", 1200, 300), fixture_ri("lf", 1200, 300),
                 fixture_names(), fixture_unsorted(), fixture_software(),
                 fixture_software("software_dirty", dirty=True),
                 fixture_software("software_13", minor=3), fixture_big_bins(),
                 fixture_corruption_base()]
    return fixtures
