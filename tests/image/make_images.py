#!/usr/bin/env python3
"""Writes the disk images tamsket-cli --image is tested on, from Debian tools,
into one archive of sparse files:

    make_images.py tests/image/images.tar.xz     (as root: ntfs-3g mounts through FUSE)

Needs ntfs-3g, fdisk (sfdisk), dosfstools, e2fsprogs, qemu-utils and ewf-tools.
The test run unpacks the archive and needs none of them. Every NTFS volume
is 6 MiB; the hives are the console program's test hives (tests/cli), holding
the sample value (A) or the second value (B) of cli_support.py.

    bare-ntfs.raw        an NTFS volume, no partition table: Windows\\...\\SOFTWARE
                         (A, 64-bit view), dirty, with SOFTWARE.LOG1 beside it
    mbr-fat-ntfs.vmdk    MBR: FAT16, then NTFS with Windows (B, 32-bit view)
    gpt-efi.vhdx         GPT: EFI (FAT16), recovery (NTFS, no Windows), Windows (A, 64-bit)
    two-windows.vhd      MBR: two NTFS volumes with Windows (A 64-bit; B 64-bit)
    winnt.E01            MBR: NTFS with WINNT\\system32\\config\\software (A, no Wow6432Node)
    no-ntfs.raw          MBR: FAT16 and ext2
    data-ntfs.raw        an NTFS volume holding a Data folder and no Windows
"""

import os
import subprocess
import sys
import tarfile
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "cli"))
from cli_fixtures import write_software_hive  # noqa: E402
from cli_support import VALUE_A, VALUE_B  # noqa: E402

SECTOR = 512
NTFS_SECTORS = 12288  # 6 MiB
FAT_SECTORS = 16384  # 8 MiB
SETUP = "Microsoft\\Exchange\\Setup"
WOW_SETUP = "Wow6432Node\\" + SETUP
EFI = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B"
RECOVERY = "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC"
BASIC_DATA = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"


def sh(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def software(path, value, view="64", dirty=False):
    keys = {"Microsoft\\Windows": {}}
    if view != "only":
        keys["Wow6432Node\\Microsoft"] = {}
    keys[WOW_SETUP if view == "32" else SETUP] = {"DigitalProductId": (3, value)}
    write_software_hive(path, keys, dirty=dirty)


def ntfs(work, name, files, start=0):
    """An NTFS volume file holding `files`: path in it -> function writing the file there."""
    volume = os.path.join(work, name)
    with open(volume, "wb") as f:
        f.truncate(NTFS_SECTORS * SECTOR)
    sh("mkntfs", "-q", "-F", "-f", "-s", str(SECTOR), "-p", str(start), "-H", "255", "-S", "63",
       "-L", name, volume)
    mount = os.path.join(work, "mnt")
    os.makedirs(mount, exist_ok=True)
    sh("ntfs-3g", volume, mount)
    try:
        for inner, write in files.items():
            target = os.path.join(mount, inner)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            write(target)
    finally:
        sh("umount", mount)
    return volume


def fat(work, name, sectors=FAT_SECTORS):
    volume = os.path.join(work, name)
    with open(volume, "wb") as f:
        f.truncate(sectors * SECTOR)
    sh("mkfs.vfat", "-F", "16", "-s", "1", "-n", "EFI", volume)
    return volume


def ext2(work, name):
    volume = os.path.join(work, name)
    with open(volume, "wb") as f:
        f.truncate(NTFS_SECTORS * SECTOR)
    sh("mkfs.ext2", "-q", "-F", volume)
    return volume


def disk(path, label, parts):
    """A raw disk with a partition table of `label` (dos or gpt) holding `parts`:
    (volume file, sfdisk type) placed one after another from sector 2048."""
    start, lines, placed = 2048, [f"label: {label}"], []
    for volume, kind in parts:
        sectors = os.path.getsize(volume) // SECTOR
        lines.append(f"start={start}, size={sectors}, type={kind}")
        placed.append((volume, start))
        start += sectors
    with open(path, "wb") as f:
        f.truncate((start + 2048) * SECTOR)  # room for GPT's backup table
    subprocess.run(["sfdisk", "-q", path], input="\n".join(lines) + "\n", text=True, check=True,
                   stdout=subprocess.DEVNULL)
    for volume, at in placed:
        sh("dd", f"if={volume}", f"of={path}", "bs=512", f"seek={at}", "conv=notrunc,sparse")
    return path


def hive_writer(value, view="64", dirty=False):
    return lambda target: software(target, value, view, dirty)


def empty(target):
    open(target, "wb").close()


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    out = os.path.abspath(sys.argv[1])
    config = "Windows/System32/config/"
    with tempfile.TemporaryDirectory() as work:
        images = os.path.join(work, "images")
        os.makedirs(images)
        made = []

        def keep(path):
            made.append(path)

        bare = ntfs(images, "bare-ntfs.raw", {config + "SOFTWARE": hive_writer(VALUE_A, dirty=True),
                                              config + "SOFTWARE.LOG1": empty})
        keep(bare)
        keep(ntfs(images, "data-ntfs.raw", {"Data/notes.txt": empty}))

        raw = os.path.join(work, "mbr-fat-ntfs.raw")
        disk(raw, "dos", [(fat(work, "fat1"), "6"),
                          (ntfs(work, "ntfs1", {config + "SOFTWARE": hive_writer(VALUE_B, "32")},
                                2048 + FAT_SECTORS), "7")])
        sh("qemu-img", "convert", "-O", "vmdk", raw, os.path.join(images, "mbr-fat-ntfs.vmdk"))
        keep(os.path.join(images, "mbr-fat-ntfs.vmdk"))

        raw = os.path.join(work, "gpt-efi.raw")
        disk(raw, "gpt", [(fat(work, "efi"), EFI),
                          (ntfs(work, "recovery", {"Recovery/WindowsRE/ReAgent.xml": empty}),
                           RECOVERY),
                          (ntfs(work, "windows", {config + "SOFTWARE": hive_writer(VALUE_A)}),
                           BASIC_DATA)])
        sh("qemu-img", "convert", "-O", "vhdx", raw, os.path.join(images, "gpt-efi.vhdx"))
        keep(os.path.join(images, "gpt-efi.vhdx"))

        raw = os.path.join(work, "two-windows.raw")
        disk(raw, "dos", [(ntfs(work, "win1", {config + "SOFTWARE": hive_writer(VALUE_A)}), "7"),
                          (ntfs(work, "win2", {config + "SOFTWARE": hive_writer(VALUE_B)}), "7")])
        sh("qemu-img", "convert", "-O", "vpc", raw, os.path.join(images, "two-windows.vhd"))
        keep(os.path.join(images, "two-windows.vhd"))

        raw = os.path.join(work, "winnt.raw")
        disk(raw, "dos", [(ntfs(work, "winnt", {"WINNT/system32/config/software":
                                                hive_writer(VALUE_A, "only")}), "7")])
        sh("ewfacquire", "-q", "-u", "-t", os.path.join(images, "winnt"), "-c", "fast",
           "-f", "encase6", raw)
        keep(os.path.join(images, "winnt.E01"))

        raw = os.path.join(images, "no-ntfs.raw")
        disk(raw, "dos", [(fat(work, "fat2"), "6"), (ext2(work, "linux"), "83")])
        keep(raw)

        with tarfile.open(out, "w:xz", format=tarfile.GNU_FORMAT) as tar:
            for path in made:
                info = tar.gettarinfo(path, os.path.basename(path))
                info.mtime, info.uid, info.gid, info.uname, info.gname = 0, 0, 0, "", ""
                with open(path, "rb") as f:
                    tar.addfile(info, f)
    print(f"{out}: {os.path.getsize(out)} bytes")


if __name__ == "__main__":
    main()
