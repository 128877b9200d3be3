#!/usr/bin/env python3
"""Dirty hives beside transaction logs written by make_log.py, read by the
reader (hive_get) with and without --no-logs; each expected answer is the
value of the hive image whose pages the writer logged, and hivex reads those
images first.

    check_logs.py WORK_DIR HIVE_GET
"""

import os
import shutil
import subprocess
import sys

from check_fixtures import hivex_lookup
from make_hive import Key, build_hive, REG_BINARY
from make_log import new_format_log, old_format_log, with_sequence

SETUP = "Microsoft\\Exchange\\Setup"
VALUE_A, VALUE_B = bytes(range(164)), bytes(range(200, 36, -1))


def image(value=None):
    root = Key("ROOT")
    root.key("Microsoft\\Windows")
    root.key("Wow6432Node\\Microsoft")
    if value:
        root.key(SETUP).value("DigitalProductId", REG_BINARY, value)
    return build_hive(root).data


NONE, A, B = image(), image(VALUE_A), image(VALUE_B)


def dirty(img):
    return with_sequence(img, 6, 5)


def new(steps, sequence=6, **options):
    return new_format_log(steps, sequence, **options)[0]


def damaged(img):
    """A base block whose minor version was overwritten without a new checksum."""
    return img[:24] + b"\x01" + img[25:]


OLD, OLD_PAGES = old_format_log(NONE, A)
LOG1 = "SOFTWARE.LOG1"
GONE = "key-not-found"
# name, primary, logs {file: bytes}, with logs (state, report, value), as it lies (state, value)
CASES = [
    ("adds the key", dirty(NONE), {LOG1: new([(NONE, A)])},
     ("recovered", "applied 1 entry from SOFTWARE.LOG1", VALUE_A), ("dirty", GONE)),
    ("changes it", dirty(A), {"software.log1": new([(A, B)])},
     ("recovered", "applied 1 entry from software.log1", VALUE_B), ("dirty", VALUE_A)),
    ("deletes it", dirty(A), {LOG1: new([(A, NONE)])},
     ("recovered", "applied 1 entry from SOFTWARE.LOG1", GONE), ("dirty", VALUE_A)),
    ("LOG2 goes on from LOG1", dirty(NONE),
     {LOG1: new([(NONE, A)]), "SOFTWARE.LOG2": new([(A, B)], 7)},
     ("recovered", "applied 2 entries from SOFTWARE.LOG1 and SOFTWARE.LOG2", VALUE_B),
     ("dirty", GONE)),
    # Entries from the hive's sequence number on are applied, the first possibly a later one.
    ("entries that start later", dirty(NONE), {LOG1: new([(NONE, A)], 7)},
     ("recovered", "applied 1 entry from SOFTWARE.LOG1", VALUE_A), ("dirty", GONE)),
    ("a bad hash in the middle", dirty(NONE),
     {LOG1: new([(NONE, A), (A, B), (B, NONE)], spoil=1)},
     ("recovered", "SOFTWARE.LOG1: entry 2 fails its hash; 1 applied", VALUE_A), ("dirty", GONE)),
    ("a stale log beside a clean hive", A, {LOG1: new([(A, B)], 1)},
     ("clean", "not applied: the hive is clean", VALUE_A), ("clean", VALUE_A)),
    ("the old format's dirty vector", dirty(NONE), {"software.LOG": OLD},
     ("recovered", "applied %d dirty sectors from software.LOG" % len(OLD_PAGES), VALUE_A),
     ("dirty", GONE)),
    ("a sequence gap", dirty(NONE), {LOG1: new([(NONE, A)]), "SOFTWARE.LOG2": new([(A, B)], 8)},
     ("recovered", "applied 1 entry from SOFTWARE.LOG1; SOFTWARE.LOG2 goes on at sequence "
      "number 8, not 7", VALUE_A), ("dirty", GONE)),
    ("a truncated entry", dirty(NONE), {LOG1: new([(NONE, A)])[:-512]},
     ("dirty", "SOFTWARE.LOG1: entry 1 is cut short by the end of the file; none applied", GONE),
     ("dirty", GONE)),
    ("a log of another hive", dirty(NONE), {LOG1: new([(NONE, A)], name="SYSTEM")},
     ("dirty", "SOFTWARE.LOG1: a log of another hive (SYSTEM); none applied", GONE),
     ("dirty", GONE)),
    ("a log whose base block fails its checksum", dirty(NONE),
     {LOG1: (lambda log: log[:100] + b"\xff" + log[101:])(new([(NONE, A)]))},
     ("dirty", "SOFTWARE.LOG1: its base block fails its checksum; none applied", GONE),
     ("dirty", GONE)),
    ("a dirty vector past the end", dirty(NONE), {"SOFTWARE.LOG": OLD[:1536]},
     ("dirty", "SOFTWARE.LOG: its dirty vector names %d sectors, more than the file holds; "
      "none applied" % len(OLD_PAGES), GONE), ("dirty", GONE)),
    ("a damaged base block a log repairs", damaged(dirty(NONE)), {LOG1: new([(NONE, A)])},
     ("recovered", "base block taken from SOFTWARE.LOG1; applied 1 entry from SOFTWARE.LOG1",
      VALUE_A), ("unsupported-version", None)),
    ("a damaged base block without logs", damaged(dirty(NONE)), {},
     ("corrupt", "corrupt: the base block is damaged: its checksum at offset 0x1FC", None),
     ("unsupported-version", None)),
    ("a dirty hive without logs", dirty(A), {},
     ("dirty", "none beside it", VALUE_A), ("dirty", VALUE_A)),
]


def read(reader, path, no_logs):
    """(state or error code, log report or error message, value or error code)."""
    run = subprocess.run([reader] + ["--no-logs"] * no_logs + [path, "-"],
                         input=("%s\tDigitalProductId\n" % SETUP).encode(), capture_output=True)
    lines = run.stdout.decode().split("\n")
    first = lines[0].split("\t")
    if first[0] == "error":
        return first[1], first[2], None
    answer = lines[1].split("\t")
    return first[1], first[4], bytes.fromhex(answer[2]) if answer[0] == "ok" else answer[1]


def main(work, reader):
    failures = []
    for img, want in ((NONE, GONE), (A, VALUE_A), (B, VALUE_B)):
        path = os.path.join(work, "image.hive")
        os.makedirs(work, exist_ok=True)
        with open(path, "wb") as f:
            f.write(img)
        got = hivex_lookup(path, SETUP, "DigitalProductId")
        if got != ((REG_BINARY, want) if isinstance(want, bytes) else (None, want)):
            failures.append("hivex reads a logged image otherwise: %r" % (got,))
    for i, (name, primary, logs, applied, as_it_lies) in enumerate(CASES):
        # A fresh folder: files an earlier run left there would lie beside the hive.
        folder = os.path.join(work, "case%d" % i)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for file, data in dict(logs, SOFTWARE=primary).items():
            with open(os.path.join(folder, file), "wb") as f:
                f.write(data)
        path = os.path.join(folder, "SOFTWARE")
        state, report, value = read(reader, path, False)
        if (state, value) != (applied[0], applied[2]) or not report.startswith(applied[1]):
            failures.append("%s: %r, expected %r" % (name, (state, report, value), applied))
        state, _, value = read(reader, path, True)
        if (state, value) != as_it_lies:
            failures.append("%s, --no-logs: %r, expected %r" % (name, (state, value), as_it_lies))
    for failure in failures:
        print("FAIL: " + failure)
    print("%d log fixtures read with and without their logs" % len(CASES))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
