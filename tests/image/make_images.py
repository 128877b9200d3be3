#!/usr/bin/env python3
"""Writes the --image test images into one archive, as root (ntfs-3g mounts
through FUSE; tools/disk_images.py makes them); image_test.py lists them:

    make_images.py tests/image/images.tar.xz
"""

import os
import sys
import tarfile
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "cli"), os.path.join(HERE, "..", "..", "tools")]
from cli_fixtures import write_software_hive  # noqa: E402
from cli_support import VALUE_A, VALUE_B  # noqa: E402
from disk_images import convert, disk, ext2, fat16, ntfs  # noqa: E402

MIB = 1024 * 1024
CONFIG = "Windows/System32/config/"
SETUP = "Microsoft\\Exchange\\Setup"


def hive(value, view="64", dirty=False):
    keys = {"Microsoft\\Windows": {}} if view == "only" else {"Wow6432Node\\Microsoft": {}}
    keys[("Wow6432Node\\" if view == "32" else "") + SETUP] = {"DigitalProductId": (3, value)}
    return lambda target: write_software_hive(target, keys, dirty=dirty)


def main():
    out = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as work:
        at = lambda name: os.path.join(work, name)  # noqa: E731
        windows = lambda name, files: ntfs(at(name), 6 * MIB, files)  # noqa: E731
        made = [
            windows("bare-ntfs.raw", {CONFIG + "SOFTWARE": hive(VALUE_A, dirty=True),
                                      CONFIG + "SOFTWARE.LOG1": lambda t: open(t, "wb").close()}),
            windows("data-ntfs.raw", {"Data/notes.txt": lambda t: open(t, "wb").close()}),
            convert(disk(at("mbr.raw"), "dos", [
                (fat16(at("fat"), 8 * MIB), "6"),
                (windows("ntfs", {CONFIG + "SOFTWARE": hive(VALUE_B, "32")}), "7")]),
                at("mbr-fat-ntfs.vmdk")),
            convert(disk(at("gpt.raw"), "gpt", [
                (fat16(at("efi"), 8 * MIB), "C12A7328-F81F-11D2-BA4B-00A0C93EC93B"),
                (windows("recovery", {"Recovery/WindowsRE/ReAgent.xml":
                                      lambda t: open(t, "wb").close()}),
                 "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC"),
                (windows("windows", {CONFIG + "SOFTWARE": hive(VALUE_A)}),
                 "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7")]), at("gpt-efi.vhdx")),
            convert(disk(at("two.raw"), "dos", [
                (windows("win1", {CONFIG + "SOFTWARE": hive(VALUE_A)}), "7"),
                (windows("win2", {CONFIG + "SOFTWARE": hive(VALUE_B)}), "7")]),
                at("two-windows.vhd")),
            convert(disk(at("winnt.raw"), "dos", [
                (windows("winnt", {"WINNT/system32/config/software": hive(VALUE_A, "only")}),
                 "7")]), at("winnt.E01")),
            disk(at("no-ntfs.raw"), "dos", [(fat16(at("fat2"), 8 * MIB), "6"),
                                            (ext2(at("linux"), 6 * MIB), "83")]),
            # A volume upgraded from Windows 2000, or set up to start either.
            windows("both-roots.raw", {CONFIG + "SOFTWARE": hive(VALUE_A),
                                       "WINNT/system32/config/software": hive(VALUE_B, "only")}),
        ]
        with tarfile.open(out, "w:xz") as tar:
            for path in made:
                info = tar.gettarinfo(path, os.path.basename(path))
                info.mtime, info.uid, info.gid, info.uname, info.gname = 0, 0, 0, "", ""
                with open(path, "rb") as f:
                    tar.addfile(info, f)
    print(f"{out}: {os.path.getsize(out)} bytes")


if __name__ == "__main__":
    main()
