#!/usr/bin/python3
"""Writes the test hives, has hivex and libregf read every one back, then
compares Tamsket's reader with what they hold.

    check_fixtures.py OUT_DIR [--reader HIVE_GET]

1. make_hive writes each fixture of fixtures.py to OUT_DIR/NAME.hive (and the
   cells' offsets to NAME.cells, for the corruption tests);
2. hivex and libregf read each lookup back: a fixture is only used once both
   agree with what it was meant to hold;
3. hivex writes hives of its own (its write API, and hivexregedit --merge into
   the empty hive), checked the same way;
4. with --reader, Tamsket's reader (the hive_get program) answers every lookup
   and must give the same type and bytes, or the same "not found".

Runs with /usr/bin/python3: the Debian modules hivex and pyregf load only there.
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import hivex  # noqa: E402
import pyregf  # noqa: E402

import fixtures  # noqa: E402
from make_hive import Key, build_hive, REG_BINARY, REG_DWORD, REG_SZ  # noqa: E402

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def hivex_call(function, *args):
    """hivex's "not found": no node, or (from Python) an error whose errno is 0."""
    try:
        return function(*args) or None
    except RuntimeError as e:
        if str(e) == "Success":
            return None
        raise


def hivex_lookup(path, key_path, value_name):
    h = hivex.Hivex(path)
    node = h.root()
    for part in [p for p in key_path.split("\\") if p]:
        node = hivex_call(h.node_get_child, node, part)
        if node is None:
            return None, "key-not-found"
    v = hivex_call(h.node_get_value, node, value_name)
    if v is None:
        return None, "value-not-found"
    type_, data = h.value_value(v)
    return type_, bytes(data)


def libregf_lookup(path, key_path, value_name):
    f = pyregf.file()
    f.open(path)
    try:
        key = f.get_key_by_path("\\" + key_path) if key_path else f.get_root_key()
        if key is None:
            return None, "key-not-found"
        value = key.get_value_by_name(value_name)
        if value is None:
            return None, "value-not-found"
        # pyregf gives None for a value of no bytes, hivex an empty string.
        return value.type, bytes(value.data or b"")
    finally:
        f.close()


ORACLES = {"hivex": hivex_lookup, "libregf": libregf_lookup}


def describe(type_, data):
    if type_ is None:
        return data
    return "type %d, %d bytes %s" % (type_, len(data), data[:16].hex())


def check_with_oracles(name, path, lookups):
    for key_path, value_name, type_, data, oracles in lookups:
        for oracle in oracles:
            got = ORACLES[oracle](path, key_path, value_name)
            if got != (type_, data):
                fail("%s: %s reads %r / %r as %s, expected %s" %
                     (name, oracle, key_path, value_name, describe(*got), describe(type_, data)))


def check_with_reader(reader, name, path, lookups, dirty):
    queries = "".join("%s\t%s\n" % (k, v) for k, v, _, _, _ in lookups).encode("utf-8")
    run = subprocess.run([reader, path, "-"], input=queries, capture_output=True)
    if run.returncode not in (0, 1):
        fail("%s: hive_get ended with %d: %s" % (name, run.returncode, run.stderr.decode()))
        return
    lines = run.stdout.decode("utf-8").split("\n")
    expected_state = "dirty" if dirty else "clean"
    if lines[0].split("\t")[0:2] != ["state", expected_state]:
        fail("%s: reader reports %r, expected state %s" % (name, lines[0], expected_state))
    answers = lines[1:1 + len(lookups)]
    if len(answers) != len(lookups):
        fail("%s: reader gave %d answers for %d lookups" % (name, len(answers), len(lookups)))
        return
    for (key_path, value_name, type_, data, _), answer in zip(lookups, answers):
        fields = answer.split("\t")
        if fields[0] == "ok":
            got = (int(fields[1]), bytes.fromhex(fields[2]))
        else:
            got = (None, fields[1])
        if got != (type_, data):
            fail("%s: reader reads %r / %r as %s, expected %s (%s)" %
                 (name, key_path, value_name, describe(*got), describe(type_, data), answer[:200]))


def write_cells(path, cells):
    with open(path, "w", encoding="utf-8") as f:
        for label, offset in sorted(cells.items()):
            f.write("%s\t%d\n" % (label, offset))


def hivex_api_hive(out_dir, empty):
    """A hive written through hivex's own write API."""
    path = os.path.join(out_dir, "hivex_api.hive")
    h = hivex.Hivex(empty, write=True)
    root = h.root()
    lookups = []
    many = h.node_add_child(root, "Many")
    for i in range(600):
        child = h.node_add_child(many, "Child%03d" % i)
        h.node_set_value(child, {"key": "N", "t": REG_DWORD, "value": i.to_bytes(4, "little")})
    for i in (0, 299, 599):
        lookups.append(("Many\\Child%03d" % i, "N", REG_DWORD, i.to_bytes(4, "little")))
    # hivex hashes non-ASCII names from their UTF-8 bytes, unlike Windows.
    for name in ("Ключ", "Café"):
        child = h.node_add_child(root, name)
        text = (name + "\0").encode("utf-16-le")
        h.node_set_value(child, {"key": "Name", "t": REG_SZ, "value": text})
        lookups.append((name, "Name", REG_SZ, text))
    setup = h.node_add_child(h.node_add_child(h.node_add_child(root, "Microsoft"), "Exchange"),
                             "Setup")
    big = fixtures.pattern(100000, 9)  # one cell: hivex never writes big data records
    large = h.node_add_child(h.node_get_child(h.node_get_child(root, "Microsoft"), "Exchange"),
                             "Large")
    h.node_set_value(large, {"key": "Large", "t": REG_BINARY, "value": big})
    h.node_set_values(setup, [
        {"key": "DigitalProductId", "t": REG_BINARY, "value": fixtures.pattern(164, 2)},
        {"key": "", "t": REG_SZ, "value": "default\0".encode("utf-16-le")},
    ])
    lookups += [("Microsoft\\Exchange\\Setup", "DigitalProductId", REG_BINARY,
                 fixtures.pattern(164, 2)),
                ("Microsoft\\Exchange\\Setup", "", REG_SZ, "default\0".encode("utf-16-le")),
                ("Microsoft\\Exchange\\Setup", "Missing", None, "value-not-found")]
    h.commit(path)
    lookups = [lookup + (("hivex", "libregf"),) for lookup in lookups]
    # libregf expects a big data record for any value over 16,344 bytes in a
    # 1.5 hive and refuses hivex's single cell.
    lookups.append(("Microsoft\\Exchange\\Large", "Large", REG_BINARY, big, ("hivex",)))
    return path, lookups


def hivexregedit_hive(out_dir, empty):
    """A hive made by hivexregedit --merge of a .reg file into the empty hive."""
    path = os.path.join(out_dir, "hivexregedit.hive")
    with open(empty, "rb") as src, open(path, "wb") as dst:
        dst.write(src.read())
    product_id = fixtures.pattern(164, 4)
    reg = ("Windows Registry Editor Version 5.00\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft]\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Exchange]\n\"Version\"=dword:0000000f\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Exchange\\Setup]\n"
           "\"DigitalProductId\"=hex:" + ",".join("%02x" % b for b in product_id) + "\n"
           "\"Edition\"=\"Standard\"\n"
           "@=\"default\"\n")
    reg_path = path + ".reg"
    with open(reg_path, "w", encoding="ascii") as f:
        f.write(reg)
    subprocess.run(["hivexregedit", "--merge", "--prefix", "HKEY_LOCAL_MACHINE\\SOFTWARE", path,
                    reg_path], check=True)
    both = ("hivex", "libregf")
    lookups = [("Microsoft\\Exchange\\Setup", "DigitalProductId", REG_BINARY, product_id, both),
               ("Microsoft\\Exchange\\Setup", "Edition", REG_SZ, fixtures.utf16z("Standard"), both),
               ("Microsoft\\Exchange\\Setup", "", REG_SZ, fixtures.utf16z("default"), both),
               ("Microsoft\\Exchange", "Version", REG_DWORD, (15).to_bytes(4, "little"), both),
               ("Microsoft\\Exchange\\Other", "Version", None, "key-not-found", both)]
    return path, lookups


def main(argv):
    out_dir = argv[1]
    reader = argv[3] if len(argv) > 3 and argv[2] == "--reader" else None
    os.makedirs(out_dir, exist_ok=True)
    hives = []
    for fixture in fixtures.all_fixtures():
        image = fixture.build()
        path = os.path.join(out_dir, fixture.name + ".hive")
        with open(path, "wb") as f:
            f.write(image.data)
        write_cells(os.path.join(out_dir, fixture.name + ".cells"), image.cells)
        hives.append((fixture.name, path, fixture.lookups, fixture.dirty))

    empty = os.path.join(out_dir, "empty.hive")
    with open(empty, "wb") as f:
        f.write(build_hive(Key("ROOT")).data)
    hives.append(("empty", empty, [("", "", None, "value-not-found", ("hivex", "libregf")),
                                   ("Microsoft", "", None, "key-not-found", ("hivex", "libregf"))],
                  False))
    for make in (hivex_api_hive, hivexregedit_hive):
        path, lookups = make(out_dir, empty)
        hives.append((os.path.basename(path)[:-5], path, lookups, False))

    count = 0
    for name, path, lookups, dirty in hives:
        check_with_oracles(name, path, lookups)
        count += len(lookups)
    print("%d hives, %d lookups read back by hivex and libregf" % (len(hives), count))
    if failures:
        print("the fixtures are not what they should be: not comparing the reader with them")
        return 1
    if reader:
        for name, path, lookups, dirty in hives:
            check_with_reader(reader, name, path, lookups, dirty)
        print("Tamsket's reader compared on the same %d lookups" % count)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
