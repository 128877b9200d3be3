#!/usr/bin/env python3
"""tools/differencing_disks.py checked by libvhdi's own tools: chains of
differencing disks over a base qemu-img wrote, each link read back by vhdiinfo
(the parent identity it records) and the chain mounted by vhdimount (FUSE,
root), whose view of every link must be the base overlaid by the writes of the
links up to it, in order.

    differencing_disks_test.py WORK_DIR
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import unittest
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import differencing_disks  # noqa: E402
import disk_images  # noqa: E402

WORK = None
MiB = 1 << 20
SIZE = 16 * MiB
BLOCK = 2 * MiB  # the writer's block size
# The CRC catalogue's check value of CRC-32C (iSCSI), over b"123456789".
CRC32C_CHECK = 0xE3069283
CAN_MOUNT = os.geteuid() == 0 and os.path.exists("/dev/fuse") and shutil.which("vhdimount")


def sectors(tag, count):
    return (tag.encode() * 512)[:512] * count


# Each link's writes: sector 0, a run across a block boundary, a whole block
# (fully present), the disk's last sector, and sectors an earlier link wrote.
LINKS = [
    [(0, sectors("a", 1)), (BLOCK - 512, sectors("b", 2))],
    [(2 * BLOCK, sectors("c", BLOCK // 512)), (SIZE - 512, sectors("d", 1))],
    [(0, sectors("e", 1)), (BLOCK, sectors("f", 1)), (2 * BLOCK + 512, sectors("g", 3))],
]
# libvhdi 20210425 reads a set bit of a VHD bitmap as if the run it starts went
# on to the end of its byte (0x40 gives sectors 1-7, not 1): so VHD links write
# runs that end on a byte's last sector, which keeps the bit order tested. The
# VHD disk qemu writes is 4 KiB larger than asked (its geometry): its last
# sector lies in a short last block.
VHD_LINKS = [
    [(5 * 512, sectors("a", 3)), (BLOCK - 3 * 512, sectors("b", 11))],
    [(2 * BLOCK, sectors("c", BLOCK // 512)), (SIZE + 7 * 512, sectors("d", 1))],
    [(0, sectors("e", 8)), (BLOCK + 512, sectors("f", 7)), (2 * BLOCK + 5 * 1024, sectors("g", 22))],
]
EXTENSION = {"vhdx": ".avhdx", "vhd": ".avhd"}


def info(path):
    done = subprocess.run(["vhdiinfo", path], capture_output=True, text=True)
    return done.returncode, dict(re.findall(r"^\t(.+?)\t+: (.*)$", done.stdout, re.M)), done.stderr


class Chain:
    """A base and links in a folder of their own, with the disk each should show."""

    def __init__(self, name, fmt):
        self.fmt, self.dir = fmt, os.path.join(WORK, name)
        os.makedirs(self.dir)
        raw = bytearray(SIZE)
        for s in range(0, SIZE // 512):
            raw[s * 512:s * 512 + 16] = b"base sector %04x" % s
        with open(self.path("base.raw"), "wb") as f:
            f.write(raw)
        self.files = [disk_images.convert(self.path("base.raw"), self.path("base." + fmt))]
        size = int(info(self.files[0])[1]["Media size"].split("(")[1].split()[0])
        self.views = [bytes(raw) + bytes(size - SIZE)]
        self.write = getattr(differencing_disks, "differencing_" + fmt)

    def path(self, name):
        return os.path.join(self.dir, name)

    def link(self, writes, name=None, **options):
        name = name or f"snap{len(self.files)}{EXTENSION[self.fmt]}"
        own = self.write(self.path(name), self.files[-1], writes, **options)
        view = bytearray(self.views[-1])
        for at, data in writes:
            view[at:at + len(data)] = data
        self.files.append(self.path(name))
        self.views.append(bytes(view))
        return own

    def mount(self):
        """vhdimount's view of every link, base first, or its error output."""
        mount = self.path("mnt")
        os.makedirs(mount, exist_ok=True)
        done = subprocess.run(["vhdimount", self.files[-1], mount], capture_output=True, text=True)
        if done.returncode:
            return done.stderr
        try:
            return [pathlib.Path(mount, f"vhdi{i + 1}").read_bytes()
                    for i in range(len(os.listdir(mount)))]
        finally:
            subprocess.run(["umount", mount], check=True)


class Chains:
    fmt = None
    LINKS = LINKS
    # What vhdiinfo shows of a link with these options, and vhdimount's error
    # (None: the chain mounts); None as a shown value: the line is absent.
    LINKS_ELSEWHERE = []

    def test_each_link_records_its_parent_and_shows_the_writes_up_to_it(self):
        chain = Chain(f"{self.fmt}-chain", self.fmt)
        for writes in self.LINKS:
            own = chain.link(writes)
            code, child, err = info(chain.files[-1])
            self.assertEqual((code, err), (0, ""))
            parent = info(chain.files[-2])[1]
            self.assertEqual(child["Disk type"], "Differential")
            self.assertEqual(child["Identifier"], str(own))
            self.assertEqual(child["Parent identifier"], parent["Identifier"])
            self.assertTrue(child["Parent filename"].endswith(os.path.basename(chain.files[-2])),
                            child["Parent filename"])
            self.assertEqual(child["Media size"], parent["Media size"])
        if not CAN_MOUNT:
            self.skipTest("vhdimount needs root, /dev/fuse and libvhdi-utils")
        views = chain.mount()
        self.assertIsInstance(views, list, views)
        self.assertEqual(len(views), len(chain.views))
        for i, (got, expected) in enumerate(zip(views, chain.views)):
            self.assertTrue(got == expected, f"link {i} reads other bytes than written")

    def test_links_that_lead_elsewhere(self):
        for name, options, shown, error in self.LINKS_ELSEWHERE:
            with self.subTest(name):
                chain = Chain(f"{self.fmt}-{name}", self.fmt)
                chain.link(self.LINKS[0], **options)
                code, child, _ = info(chain.files[-1])
                self.assertEqual(code, 0)
                for key, value in shown.items():
                    if value is None:
                        self.assertNotIn(key, child)
                    else:
                        self.assertTrue(child[key].endswith(value), f"{key}: {child[key]}")
                if not CAN_MOUNT:
                    continue
                views = chain.mount()
                if error:
                    self.assertIn(error, views)
                else:
                    self.assertTrue(views == chain.views, "the chain reads other bytes")

    def test_writes_outside_whole_sectors_of_the_disk_are_refused(self):
        chain = Chain(f"{self.fmt}-bounds", self.fmt)
        size = len(chain.views[0])
        for at, length in [(1, 512), (0, 511), (size - 512, 1024), (size, 512)]:
            with self.subTest(at=at, length=length), self.assertRaises(ValueError):
                chain.link([(at, bytes(length))])


WRONG_ID = uuid.UUID("12345678-9abc-4def-8123-456789abcdef")


class Vhdx(Chains, unittest.TestCase):
    fmt = "vhdx"
    LINKS_ELSEWHERE = [
        ("wrong-id", dict(parent_id=WRONG_ID), {"Parent identifier": str(WRONG_ID)},
         "mismatch in identifier"),
        ("other-name", dict(parent_name="gone.vhdx"), {"Parent filename": "\\gone.vhdx"},
         "unable to open parent file"),
        ("absolute-only", dict(relative=False), {"Parent filename": "\\base.vhdx"}, None),
        # libvhdi 20210425 looks a VHDX parent up by its absolute path only.
        ("relative-only", dict(absolute=False), {"Parent filename": None},
         "unable to retrieve parent filename"),
    ]

    def test_crc32c_matches_the_check_value_and_a_header_qemu_wrote(self):
        self.assertEqual(differencing_disks.crc32c(b"123456789"), CRC32C_CHECK)
        chain = Chain("vhdx-crc", "vhdx")
        with open(chain.files[0], "rb") as f:
            f.seek(64 * 1024)
            header = bytearray(f.read(4096))
        stored = int.from_bytes(header[4:8], "little")
        header[4:8] = bytes(4)
        self.assertEqual(differencing_disks.crc32c(header), stored)


class Vhd(Chains, unittest.TestCase):
    fmt = "vhd"
    LINKS = VHD_LINKS
    # libvhdi finds a VHD parent by the Parent Unicode Name, whatever locators there are.
    LINKS_ELSEWHERE = [
        ("wrong-id", dict(parent_id=WRONG_ID), {"Parent identifier": str(WRONG_ID)},
         "mismatch in identifier"),
        ("other-name", dict(parent_name="gone.vhd"), {"Parent filename": "gone.vhd"},
         "unable to open parent file"),
        ("absolute-only", dict(relative=False), {"Parent filename": "base.vhd"}, None),
        ("relative-only", dict(absolute=False), {"Parent filename": "base.vhd"}, None),
    ]

    def test_qemu_reads_each_link_alone_as_its_own_writes(self):
        """qemu reads a differencing VHD as a dynamic one: the link's blocks, no parent."""
        chain = Chain("vhd-qemu", "vhd")
        for writes in VHD_LINKS:
            chain.link(writes)
            expected = bytearray(len(chain.views[0]))
            for at, data in writes:
                expected[at:at + len(data)] = data
            subprocess.run(["qemu-img", "convert", "-f", "vpc", "-O", "raw", chain.files[-1],
                            chain.path("link.raw")], check=True)
            self.assertTrue(pathlib.Path(chain.path("link.raw")).read_bytes() == expected)


def main():
    global WORK
    WORK = os.path.abspath(sys.argv[1])
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[2:])


if __name__ == "__main__":
    main()
