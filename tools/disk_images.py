"""Disk images made from Debian tools, for the --image tests' fixtures
(tests/image/make_images.py) and the image benchmark (bench/image_bench.py).

Sparse files throughout. NTFS volumes need root: ntfs-3g mounts them through
FUSE to place the files. Tools: ntfs-3g, fdisk (sfdisk), dosfstools,
e2fsprogs, qemu-utils, ewf-tools.

    ntfs(path, size, files, start=0)   an NTFS volume holding `files`:
                                       path inside -> function writing that file
    fat16(path, size), ext2(path, size)
    disk(path, label, parts)           a raw disk, label "dos" or "gpt", the
                                       (volume, type) parts placed from sector 2048
    convert(raw, out)                  to .vhd, .vhdx, .vmdk (qemu-img) or .E01 (ewfacquire)
"""

import os
import subprocess

SECTOR = 512
FIRST_SECTOR = 2048


def sh(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def sparse(path, size):
    with open(path, "wb") as f:
        f.truncate(size)
    return path


def ntfs(path, size, files, start=0):
    sparse(path, size)
    sh("mkntfs", "-q", "-F", "-f", "-s", str(SECTOR), "-p", str(start), "-H", "255", "-S", "63",
       "-L", os.path.basename(path)[:32], path)
    mount = path + ".mnt"
    os.makedirs(mount, exist_ok=True)
    sh("ntfs-3g", path, mount)
    try:
        for inner, write in files.items():
            target = os.path.join(mount, inner)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            write(target)
    finally:
        sh("umount", mount)
        os.rmdir(mount)
    return path


def fat16(path, size):
    sh("mkfs.vfat", "-F", "16", "-s", "1", "-n", "EFI", sparse(path, size))
    return path


def ext2(path, size):
    sh("mkfs.ext2", "-q", "-F", sparse(path, size))
    return path


def place(volume, disk_fd, at):
    """Copies the data of the sparse file `volume` to byte `at` of the disk, skipping its holes."""
    with open(volume, "rb") as f:
        fd, pos, end = f.fileno(), 0, os.path.getsize(volume)
        while pos < end:
            try:
                pos = os.lseek(fd, pos, os.SEEK_DATA)
            except OSError:
                break  # only a hole is left
            stop = min(os.lseek(fd, pos, os.SEEK_HOLE), end)
            while pos < stop:
                chunk = os.pread(fd, min(stop - pos, 1 << 20), pos)
                os.pwrite(disk_fd, chunk, at + pos)
                pos += len(chunk)


def disk(path, label, parts):
    start, lines, placed = FIRST_SECTOR, [f"label: {label}"], []
    for volume, kind in parts:
        sectors = os.path.getsize(volume) // SECTOR
        lines.append(f"start={start}, size={sectors}, type={kind}")
        placed.append((volume, start * SECTOR))
        start += sectors
    sparse(path, (start + FIRST_SECTOR) * SECTOR)  # room for GPT's backup table
    subprocess.run(["sfdisk", "-q", path], input="\n".join(lines) + "\n", text=True, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(path, "r+b") as f:
        for volume, at in placed:
            place(volume, f.fileno(), at)
    return path


def convert(raw, out):
    if out.endswith(".E01"):
        sh("ewfacquire", "-q", "-u", "-t", out[:-4], "-c", "fast", "-f", "encase6", raw)
    else:
        kind = {".vhd": "vpc", ".vhdx": "vhdx", ".vmdk": "vmdk"}[os.path.splitext(out)[1]]
        sh("qemu-img", "convert", "-O", kind, raw, out)
    return out
