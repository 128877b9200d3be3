#!/usr/bin/env python3
"""Dirty hives beside transaction logs written by make_log.py, read by the
reader (hive_get) with and without --no-logs; each expected answer is the
value of the hive image whose pages the writer logged, and hivex reads those
images first.

    check_logs.py WORK_DIR HIVE_GET
"""

import os
import pwd
import shutil
import subprocess
import sys
import tempfile

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


def spoil_base(log):
    return log[:100] + b"\xff" + log[101:]


# What lies in a log's place instead of a file's bytes.
DIRECTORY, FIFO = "a directory", "a FIFO"


class Unreadable(bytes):
    """A log's bytes in a file its reader may not open (mode 000, read by another user)."""


OLD, OLD_PAGES = old_format_log(NONE, A)
LOG1, LOG2 = "SOFTWARE.LOG1", "SOFTWARE.LOG2"
GONE = "key-not-found"
SPLIT = new([(NONE, A)])  # a chain that LOG2 goes on with at 7
LATER = "; the hive may lack later changes"
# name, primary, logs {file: bytes}, with logs (state, report, value), as it lies (state, value);
# {dir} in a report is the hive's folder
CASES = [
    # Also LOG2 missing: a log that is not there cannot be told from one never written.
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
     ("dirty", "applied 1 entry from SOFTWARE.LOG1; SOFTWARE.LOG1: entry 2 fails its hash" + LATER,
      VALUE_A), ("dirty", GONE)),
    ("a stale log beside a clean hive", A, {LOG1: new([(A, B)], 1)},
     ("clean", "not applied: the hive is clean", VALUE_A), ("clean", VALUE_A)),
    ("the old format's dirty vector", dirty(NONE), {"software.LOG": OLD},
     ("recovered", "applied %d dirty sectors from software.LOG" % len(OLD_PAGES), VALUE_A),
     ("dirty", GONE)),
    ("a sequence gap", dirty(NONE), {LOG1: new([(NONE, A)]), "SOFTWARE.LOG2": new([(A, B)], 8)},
     ("dirty", "applied 1 entry from SOFTWARE.LOG1; SOFTWARE.LOG2 goes on at sequence "
      "number 8, not 7" + LATER, VALUE_A), ("dirty", GONE)),
    # The chain runs from LOG1 into a LOG2 that cannot be read: what LOG1 holds is applied.
    ("LOG2 a directory", dirty(NONE), {LOG1: SPLIT, LOG2: DIRECTORY},
     ("dirty", "applied 1 entry from SOFTWARE.LOG1; SOFTWARE.LOG2: cannot open "
      "{dir}/SOFTWARE.LOG2: Is a directory" + LATER, VALUE_A), ("dirty", GONE)),
    ("LOG2 a FIFO", dirty(NONE), {LOG1: SPLIT, LOG2: FIFO},
     ("dirty", "applied 1 entry from SOFTWARE.LOG1; SOFTWARE.LOG2: cannot open "
      "{dir}/SOFTWARE.LOG2: not a regular file (a pipe); copy it to a file first" + LATER,
      VALUE_A), ("dirty", GONE)),
    ("LOG2 unreadable", dirty(NONE), {LOG1: SPLIT, LOG2: Unreadable(new([(A, B)], 7))},
     ("dirty", "applied 1 entry from SOFTWARE.LOG1; SOFTWARE.LOG2: cannot open "
      "{dir}/SOFTWARE.LOG2: Permission denied" + LATER, VALUE_A), ("dirty", GONE)),
    ("LOG2 cut to 100 bytes", dirty(NONE), {LOG1: SPLIT, LOG2: new([(A, B)], 7)[:100]},
     ("dirty", "applied 1 entry from SOFTWARE.LOG1; SOFTWARE.LOG2: too short for a transaction "
      "log" + LATER, VALUE_A), ("dirty", GONE)),
    ("LOG2's base block damaged", dirty(NONE), {LOG1: SPLIT, LOG2: spoil_base(new([(A, B)], 7))},
     ("dirty", "applied 1 entry from SOFTWARE.LOG1; SOFTWARE.LOG2: its base block fails its "
      "checksum" + LATER, VALUE_A), ("dirty", GONE)),
    ("LOG2's needed entry damaged", dirty(NONE), {LOG1: SPLIT, LOG2: new([(A, B)], 7, spoil=0)},
     ("dirty", "applied 1 entry from SOFTWARE.LOG1; SOFTWARE.LOG2: entry 1 fails its hash" + LATER,
      VALUE_A), ("dirty", GONE)),
    # Windows alternates: a LOG2 left empty, or holding older entries only, lacks nothing.
    ("LOG2 empty", dirty(NONE), {LOG1: SPLIT, LOG2: b""},
     ("recovered", "applied 1 entry from SOFTWARE.LOG1", VALUE_A), ("dirty", GONE)),
    ("LOG2 older, one damaged", dirty(NONE),
     {LOG1: SPLIT, LOG2: new([(NONE, B), (B, NONE)], 4, spoil=1)},
     ("recovered", "applied 1 entry from SOFTWARE.LOG1", VALUE_A), ("dirty", GONE)),
    ("a clean hive beside a LOG2 it cannot open", A, {LOG1: new([(A, B)], 1), LOG2: DIRECTORY},
     ("clean", "not applied: the hive is clean", VALUE_A), ("clean", VALUE_A)),
    ("a truncated entry", dirty(NONE), {LOG1: new([(NONE, A)])[:-512]},
     ("dirty", "SOFTWARE.LOG1: entry 1 is cut short by the end of the file; none applied", GONE),
     ("dirty", GONE)),
    ("a log of another hive", dirty(NONE), {LOG1: new([(NONE, A)], name="SYSTEM")},
     ("dirty", "SOFTWARE.LOG1: a log of another hive (SYSTEM); none applied", GONE),
     ("dirty", GONE)),
    ("a log whose base block fails its checksum", dirty(NONE), {LOG1: spoil_base(new([(NONE, A)]))},
     ("dirty", "SOFTWARE.LOG1: its base block fails its checksum; none applied", GONE),
     ("dirty", GONE)),
    ("a dirty vector past the end", dirty(NONE), {"SOFTWARE.LOG": OLD[:1536]},
     ("dirty", "SOFTWARE.LOG: its dirty vector names %d sectors, more than the file holds; "
      "none applied" % len(OLD_PAGES), GONE), ("dirty", GONE)),
    ("a damaged base block a log repairs", damaged(dirty(NONE)), {LOG1: new([(NONE, A)])},
     ("recovered", "base block taken from SOFTWARE.LOG1; applied 1 entry from SOFTWARE.LOG1",
      VALUE_A), ("unsupported-version", None)),
    # Windows restores the base block from the old format's log, and then applies that log.
    ("a damaged base block the old format's log repairs", damaged(dirty(NONE)),
     {"SOFTWARE.LOG": OLD},
     ("recovered", "base block taken from SOFTWARE.LOG; applied %d dirty sectors from "
      "SOFTWARE.LOG" % len(OLD_PAGES), VALUE_A), ("unsupported-version", None)),
    ("a damaged base block without logs", damaged(dirty(NONE)), {},
     ("corrupt", "corrupt: the base block is damaged: its checksum at offset 0x1FC", None),
     ("unsupported-version", None)),
    ("a dirty hive without logs", dirty(A), {},
     ("dirty", "none beside it", VALUE_A), ("dirty", VALUE_A)),
]


def read(reader, path, no_logs, user=None):
    """(state or error code, log report or error message, value or error code)."""
    as_user = ["setpriv", "--reuid=%d" % user.pw_uid, "--regid=%d" % user.pw_gid,
               "--clear-groups"] if user else []
    run = subprocess.run(as_user + [reader] + ["--no-logs"] * no_logs + [path, "-"],
                         input=("%s\tDigitalProductId\n" % SETUP).encode(), capture_output=True)
    lines = run.stdout.decode().split("\n")
    first = lines[0].split("\t")
    if first[0] == "error":
        return first[1], first[2], None
    answer = lines[1].split("\t")
    return first[1], first[4], bytes.fromhex(answer[2]) if answer[0] == "ok" else answer[1]


def write_case(folder, files):
    """The hive and its logs in a fresh folder: files an earlier run left there would lie beside
    the hive."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for file, data in files.items():
        path = os.path.join(folder, file)
        if data is DIRECTORY:
            os.mkdir(path)
        elif data is FIFO:
            os.mkfifo(path)
        else:
            with open(path, "wb") as f:
                f.write(data)
            os.chmod(path, 0 if isinstance(data, Unreadable) else 0o644)


def main(work, reader):
    failures = []
    skipped = []
    for img, want in ((NONE, GONE), (A, VALUE_A), (B, VALUE_B)):
        path = os.path.join(work, "image.hive")
        os.makedirs(work, exist_ok=True)
        with open(path, "wb") as f:
            f.write(img)
        got = hivex_lookup(path, SETUP, "DigitalProductId")
        if got != ((REG_BINARY, want) if isinstance(want, bytes) else (None, want)):
            failures.append("hivex reads a logged image otherwise: %r" % (got,))
    # A file of mode 000 keeps out every user but root: as root, the reader runs as nobody,
    # from a folder of its own that nobody may enter (the checkout's may be closed to it).
    user, reader_for_user, shared = None, reader, None
    if os.geteuid() == 0:
        try:
            user = pwd.getpwnam("nobody")
        except KeyError:
            pass
        if user and shutil.which("setpriv"):
            shared = tempfile.mkdtemp(prefix="check_logs-")
            os.chmod(shared, 0o755)
            reader_for_user = shutil.copy(reader, shared)
        else:
            user = None
    try:
        for i, (name, primary, logs, applied, as_it_lies) in enumerate(CASES):
            unreadable = any(isinstance(data, Unreadable) for data in logs.values())
            if unreadable and os.geteuid() == 0 and not user:
                skipped.append("%s: run as root, without nobody or setpriv to read as" % name)
                continue
            folder = os.path.join(shared if unreadable and user else work, "case%d" % i)
            write_case(folder, dict(logs, SOFTWARE=primary))
            path = os.path.join(folder, "SOFTWARE")
            as_user = user if unreadable else None
            state, report, value = read(reader_for_user if as_user else reader, path, False,
                                        as_user)
            want = applied[1].replace("{dir}", folder)
            if (state, value) != (applied[0], applied[2]) or not report.startswith(want):
                failures.append("%s: %r, expected %r" % (name, (state, report, value), applied))
            state, _, value = read(reader, path, True)
            if (state, value) != as_it_lies:
                failures.append("%s, --no-logs: %r, expected %r"
                                % (name, (state, value), as_it_lies))
    finally:
        if shared:
            shutil.rmtree(shared)
    for failure in failures:
        print("FAIL: " + failure)
    for skip in skipped:
        print("SKIPPED: " + skip)
    print("%d log fixtures read with and without their logs" % (len(CASES) - len(skipped)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
