#!/usr/bin/env python3
"""tamsket-cli --image against the usual route (icat the hive out of the image
to a file, then hivexget on it), in one alternating run, on sparse VHDX disks
of 1 GB and 32 GB with one GPT partition holding an NTFS volume whose
Windows\\System32\\config\\SOFTWARE is the given hive (make_big_hive.py's 130 MB
one). Wall time and peak RSS of each.

    image_bench.py TAMSKET_CLI HIVE WORK_DIR [--runs N]     (as root: ntfs-3g mounts through FUSE)

The disks are made once into WORK_DIR (about the hive's size each on disk),
by tools/disk_images.py.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "tools")]
from cli_bench import measure, peak_rss_kib  # noqa: E402
import disk_images  # noqa: E402

MIB = 1024 * 1024
START = disk_images.FIRST_SECTOR
SETUP = "\\Microsoft\\Exchange\\Setup"


def make_disk(hive, work, gigabytes):
    vhdx = os.path.join(work, f"disk-{gigabytes}gb.vhdx")
    if os.path.exists(vhdx) and os.path.getmtime(vhdx) > os.path.getmtime(hive):
        return vhdx
    volume = disk_images.ntfs(os.path.join(work, "volume"), gigabytes * 1024 * MIB - 2 * MIB, {
        "Windows/System32/config/SOFTWARE": lambda target: shutil.copyfile(hive, target)})
    raw = disk_images.disk(os.path.join(work, "disk.raw"), "gpt",
                           [(volume, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7")])
    disk_images.convert(raw, vhdx)
    os.remove(raw)
    os.remove(volume)
    return vhdx


def inode_of(vhdx):
    return subprocess.run(["ifind", "-o", str(START), "-n", "/Windows/System32/config/SOFTWARE",
                           vhdx], capture_output=True, text=True, check=True).stdout.strip()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("hive")
    parser.add_argument("work")
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--before", help="another build of tamsket-cli, timed in the same run")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    extracted = os.path.join(args.work, "extracted.hive")
    hivexget = shutil.which("hivexget")
    print(f"{'image':<17} {'route':<22} {'median ms':>10} {'min ms':>8} {'peak RSS MiB':>13}")
    for gigabytes in (1, 32):
        vhdx = make_disk(args.hive, args.work, gigabytes)
        inode = inode_of(vhdx)
        icat = ["sh", "-c", f'icat -o {START} "$1" {inode} > "$2"', "icat", vhdx, extracted]
        get = [hivexget, extracted, SETUP, "DigitalProductId"]
        usual = ["sh", "-c", f'icat -o {START} "$1" {inode} > "$2" && '
                 f'exec {hivexget} "$2" "{SETUP}" DigitalProductId', "route", vhdx, extracted]
        ours = [args.cli, "--image", vhdx]
        commands = {"tamsket-cli --image": ours, "icat + hivexget": usual}
        if args.before:
            commands["before --image"] = [args.before, "--image", vhdx]
        samples = {name: [] for name in commands}
        for _ in range(args.runs):
            for name, command in commands.items():
                samples[name].append(measure(command))
        rss = {name: max(peak_rss_kib(command) for _ in range(3))
               for name, command in commands.items()}
        rss["icat + hivexget"] = max(max(peak_rss_kib(icat), peak_rss_kib(get)) for _ in range(3))
        label = f"{gigabytes} GB ({os.path.getsize(vhdx) // MIB} MiB)"
        for name, runs in samples.items():
            times = sorted(t for t, _ in runs)
            print(f"{label:<17} {name:<22} {statistics.median(times) * 1000:10.1f} "
                  f"{times[0] * 1000:8.1f} {rss[name] / 1024:13.1f}   exit {sorted({s for _, s in runs})}")
        median = {n: statistics.median(t for t, _ in runs) for n, runs in samples.items()}
        print(f"{label:<17} tamsket-cli --image is {median['icat + hivexget'] / median['tamsket-cli --image']:.1f}x "
              "the icat + hivexget route"
              + (f" (before: {median['icat + hivexget'] / median['before --image']:.1f}x)"
                 if args.before else ""))
    os.remove(extracted)


if __name__ == "__main__":
    main()
