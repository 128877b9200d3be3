#!/usr/bin/env python3
"""tamsket-cli --image over the images of make_images.py, each hive read again
by The Sleuth Kit's fls and icat, then --hive; and 300 damaged images, read by
image_mutations in one process (a sanitizer process with The Sleuth Kit's
libraries takes a quarter of a second to start).

    image_test.py CLI MUTATIONS WORK_DIR
"""

import hashlib
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tarfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "cli"))
from cli_support import KEY_A, KEY_B, run  # noqa: E402

CLI = None
MUTATIONS = None
WORK = None
# Leak checks take most of a run's time: the mutation runs, many lookups in one
# process, make them (the image libraries' own leaks left out).
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
LEAK_ENV = dict(os.environ, LSAN_OPTIONS=f"suppressions={HERE}/lsan.supp:print_suppressions=0")
HIVE = "\\Windows\\System32\\config\\SOFTWARE"


def cli(*args):
    status, out, err = run([CLI, "--json", *args], env=ENV)
    return status, [json.loads(line) for line in out.decode().splitlines()], err


def image(name):
    return os.path.join(WORK, name)


def derived(name, source, change):
    """A copy of the image `source` changed by `change(bytearray)`."""
    data = bytearray(pathlib.Path(image(source)).read_bytes())
    change(data)
    pathlib.Path(image(name)).write_bytes(data)
    return name


def untouched(path):
    """What reading an image must leave as it was: its bytes and times."""
    st = os.stat(path)
    return hashlib.sha256(pathlib.Path(path).read_bytes()).digest(), st.st_mtime_ns, st.st_ctime_ns


def hive_by_tsk(path, sector, inner):
    """The file at `inner` of the volume at `sector`, as fls finds it and icat reads it."""
    listing = subprocess.run(["fls", "-r", "-p", "-o", str(sector), path], capture_output=True,
                             text=True, check=True).stdout
    wanted = inner.strip("\\").replace("\\", "/").lower()
    (inode,) = [line.split()[1].rstrip(":") for line in listing.splitlines()
                if line.startswith("r/r ") and line.split("\t", 1)[1].lower() == wanted]
    out = pathlib.Path(path + f".{sector}.hive")
    out.write_bytes(subprocess.run(["icat", "-o", str(sector), path, inode.split("-")[0]],
                                   capture_output=True, check=True).stdout)
    return str(out)


class Images(unittest.TestCase):
    def test_finds_each_windows_in_each_format(self):
        winnt = "\\WINNT\\system32\\config\\software"
        # image, then per record: where (partition and its first sector), path, view, key, state
        cases = [
            ("bare-ntfs.raw", [("whole image", 0, HIVE, "64-bit", KEY_A, "dirty")]),
            ("split.001", [("whole image", 0, HIVE, "64-bit", KEY_A, "dirty")]),
            ("mbr-fat-ntfs.vmdk", [("partition 2 at 9437184", 18432, HIVE, "32-bit", KEY_B,
                                    "clean")]),
            ("gpt-efi.vhdx", [("partition 3 at 15728640", 30720, HIVE, "64-bit", KEY_A, "clean")]),
            ("two-windows.vhd", [("partition 1 at 1048576", 2048, HIVE, "64-bit", KEY_A, "clean"),
                                 ("partition 2 at 7340032", 14336, HIVE, "64-bit", KEY_B,
                                  "clean")]),
            ("winnt.E01", [("partition 1 at 1048576", 2048, winnt, "32-bit", KEY_A, "clean")]),
        ]
        for name, expected in cases:
            with self.subTest(name):
                path = image(name)
                before = untouched(path)
                status, records, err = cli("--image", path)
                self.assertEqual((status, err, untouched(path)), (0, "", before))
                self.assertEqual(
                    [(r["source"], r["location"], r["view"], r["key"], r["hiveState"])
                     for r in records],
                    [("image", f"{path}, {where} (NTFS): {inner}", view, key, state)
                     for where, _, inner, view, key, state in expected])
                # The Sleuth Kit's own tools find the same hive; read as a file it
                # gives the same records, but for the logs, which lie only in the image.
                for r, (_, sector, inner, *_, state) in zip(records, expected):
                    extracted = hive_by_tsk(path, sector, inner)
                    (alone,) = cli("--hive", extracted)[1]
                    self.assertEqual(dict(r, source="hive", location=extracted, logs=None),
                                     dict(alone, logs=None))
                    self.assertEqual(r["logs"], "SOFTWARE.LOG1: empty; none applied"
                                     if state == "dirty" else None)

    def test_images_without_a_hive_say_why(self):
        def bitlocker(data):
            data[3:11] = b"-FVE-FS-"

        def cut_in_hive(data):
            del data[data.index(b"regf") + 4096:]

        cases = [
            ("no-ntfs.raw", "no-ntfs-volume", "{} holds no NTFS volume (2 partitions: FAT16, EXT2)"),
            ("data-ntfs.raw", "no-hive-found", "no Windows found: {}, whole image (NTFS) holds "
             "neither Windows\\System32\\config\\SOFTWARE nor WINNT\\system32\\config\\software"),
            (derived("bitlocker.raw", "bare-ntfs.raw", bitlocker), "encrypted-volume",
             "{}, whole image is encrypted with BitLocker; unlock it first"),
            (derived("notes.txt", "bare-ntfs.raw", lambda d: d.__setitem__(slice(0, None), b"x")),
             "not-a-disk-image", "{} is not a disk image: no supported image format (raw, VHD, "
             "VHDX, VMDK, E01), partition table or file system found in it"),
            ("missing.vhdx", "cannot-open", "cannot open {}: No such file or directory"),
            (derived("truncated.raw", "bare-ntfs.raw", cut_in_hive), "damaged-image",
             "{}, whole image (NTFS): \\Windows\\System32\\config\\SOFTWARE: cannot read 4096 "
             "bytes at offset 0x0: Error reading image file ("),
        ]
        for name, code, message in cases:
            with self.subTest(name):
                path = image(name)
                status, (r,), err = cli("--image", path)
                self.assertEqual((status, r["source"], r["status"], r["error"]["code"]),
                                 (2, "image", "error", code))
                self.assertTrue(r["error"]["message"].startswith(message.format(path)),
                                r["error"]["message"])
                # The message names the image itself, so the line need not again.
                self.assertEqual(err, f"tamsket-cli: {r['error']['message']}\n")

    def test_damaged_tables_and_metadata_never_crash_or_hang(self):
        volume = pathlib.Path(image("bare-ntfs.raw")).read_bytes()
        # An MBR with one NTFS partition at sector 2048 before the volume.
        entry = bytes([0, 0, 0, 0, 7, 0, 0, 0]) + (2048).to_bytes(4, "little") + \
            (len(volume) // 512).to_bytes(4, "little")
        disk = bytearray(2048 * 512) + volume
        disk[446:462], disk[510:512] = entry, b"\x55\xaa"
        boot = 2048 * 512
        cluster = int.from_bytes(disk[boot + 11:boot + 13], "little") * disk[boot + 13]
        mft = boot + int.from_bytes(disk[boot + 48:boot + 56], "little") * cluster
        regions = [(446, 66), (boot, 512), (mft, 80 * 1024)]  # table, boot sector, MFT records
        path = image("mutated.raw")
        pathlib.Path(path).write_bytes(disk)
        done = subprocess.run([MUTATIONS, path, "300", "17"] +
                              [f"{start}:{length}" for start, length in regions],
                              env=LEAK_ENV, capture_output=True, text=True, timeout=120)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        print("\n300 damaged images:\n" + done.stdout, file=sys.stderr)
        self.assertEqual(pathlib.Path(path).read_bytes(), disk)
        # Some damage is harmless: the key is still found.
        self.assertIn("  found\n", done.stdout)


def main():
    global CLI, MUTATIONS, WORK
    CLI, MUTATIONS, WORK = (os.path.abspath(arg) for arg in sys.argv[1:4])
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    with tarfile.open(os.path.join(HERE, "images.tar.xz")) as tar:
        tar.extractall(WORK)
    with open(image("bare-ntfs.raw"), "rb") as f:
        for part in ("001", "002"):
            with open(image(f"split.{part}"), "wb") as out:
                out.write(f.read(3 * 1024 * 1024))
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[4:])


if __name__ == "__main__":
    main()
