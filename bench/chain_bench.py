#!/usr/bin/env python3
"""tamsket-cli --image on the newest link of a Hyper-V chain (a sparse 32 GB VHDX base, as
image_bench.py makes it, and three differencing disks over it, the newest rewriting the whole
130 MB hive with another key) against libvhdi's own route (vhdimount the chain, icat the hive
out of its raw view, hivexget), in one alternating run; then tamsket-cli's peak RSS on chains of
1, 2, 4 and 8 links.

    chain_bench.py TAMSKET_CLI HIVE WORK_DIR [--runs N]  (as root: ntfs-3g and vhdimount use FUSE)

The differencing disks come from tools/differencing_disks.py; each also rewrites, unchanged,
the 4 KiB before the partition, so every link holds a sector bitmap for the first 4 GiB: libvhdi
20210425 reads sectors 1 and 2 (the GPT header) of a link without one as zeros.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "tools"), os.path.join(HERE, "..", "tests", "cli")]
from cli_bench import measure, peak_rss_kib  # noqa: E402
from cli_support import VALUE_A, decode_key  # noqa: E402
from differencing_disks import differencing_vhdx  # noqa: E402
from image_bench import MIB, SETUP, START, inode_of, make_disk  # noqa: E402

# Another made-up key, laid over the sample's in the newest link.
PACKED = bytes(range(0x61, 0x70))


def tool(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def hive_rewrites(base, inode, hive):
    """(disk offset, bytes) for every run of the hive's clusters, holding the hive with PACKED
    in place of its key: from The Sleuth Kit's istat and fsstat."""
    # Both registry views hold the sample's key.
    data = open(hive, "rb").read().replace(VALUE_A[52:67], PACKED)
    cluster = int(re.search(r"Cluster Size: (\d+)", tool("fsstat", "-o", str(START), base))[1])
    listing = tool("istat", "-o", str(START), base, inode).split("Type: $DATA")[1]
    clusters = [int(n) for line in listing.splitlines()[1:] for n in line.split()
                if n.isdigit()]
    assert len(data) == len(clusters) * cluster, "the hive fills its clusters"
    writes, run_start = [], 0
    for i in range(1, len(clusters) + 1):
        if i == len(clusters) or clusters[i] != clusters[i - 1] + 1:
            writes.append((START * 512 + clusters[run_start] * cluster,
                           bytes(data[run_start * cluster:i * cluster])))
            run_start = i
    return writes


def make_chain(base, links, writes, work):
    """A folder with the base and `links` - 1 differencing disks over it, the newest with
    `writes`; the newest link's path."""
    folder = os.path.join(work, f"chain-{links}")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    newest = os.path.join(folder, os.path.basename(base))
    os.link(base, newest)
    # The 4 KiB before the partition, as the base holds them (zeros).
    keep_bitmap = [(START * 512 - 4096, bytes(4096))]
    for n in range(1, links):
        child = os.path.join(folder, f"disk_{n}.avhdx")
        differencing_vhdx(child, newest, keep_bitmap + (writes if n == links - 1 else []))
        newest = child
    return newest


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("hive")
    parser.add_argument("work")
    parser.add_argument("--runs", type=int, default=21)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    base = make_disk(args.hive, args.work, 32)
    inode = inode_of(base)
    writes = hive_rewrites(base, inode, args.hive)
    chains = {n: make_chain(base, n, writes, args.work) for n in (1, 2, 4, 8)}
    newest = chains[4]
    key = re.search(r"key +(\S+)", tool(args.cli, "--image", newest))[1]
    print(f"tamsket-cli --image {os.path.basename(newest)} (4 links): {key} "
          f"(written: {decode_key(PACKED)})")

    mount = os.path.join(args.work, "mounted")
    os.makedirs(mount, exist_ok=True)
    tool("vhdimount", newest, mount)
    try:
        view = os.path.join(mount, max(os.listdir(mount), key=lambda n: int(n[len("vhdi"):])))
        extracted = os.path.join(args.work, "extracted.hive")
        hivexget = shutil.which("hivexget")
        route = ["sh", "-c", f'icat -o {START} "$1" {inode} > "$2" && '
                 f'exec {hivexget} "$2" "{SETUP}" DigitalProductId', "route", view, extracted]
        ours = [args.cli, "--image", newest]
        samples = {"tamsket-cli --image": [], "vhdimount view: icat + hivexget": []}
        for _ in range(args.runs):
            samples["tamsket-cli --image"].append(measure(ours))
            samples["vhdimount view: icat + hivexget"].append(measure(route))
        rss = {"tamsket-cli --image": max(peak_rss_kib(ours) for _ in range(3)),
               "vhdimount view: icat + hivexget": max(peak_rss_kib(route) for _ in range(3))}
        value = open(extracted, "rb").read()
        print(f"icat + hivexget read a {len(value) // MIB} MiB hive; vhdimount's own memory is "
              f"not counted")
    finally:
        tool("umount", mount)
    print(f"\n32 GB VHDX + 3 differencing disks, {args.runs} alternating runs")
    print(f"{'route':<34} {'median ms':>10} {'min ms':>8} {'peak RSS MiB':>13}")
    medians = {}
    for name, runs in samples.items():
        times = sorted(t for t, _ in runs)
        medians[name] = statistics.median(times)
        print(f"{name:<34} {medians[name] * 1000:10.1f} {times[0] * 1000:8.1f} "
              f"{rss[name] / 1024:13.1f}   exit {sorted({s for _, s in runs})}")
    ratio = medians["vhdimount view: icat + hivexget"] / medians["tamsket-cli --image"]
    print(f"tamsket-cli is {ratio:.1f}x faster (median against median)")

    print(f"\n{'links':>5} {'median ms':>10} {'peak RSS MiB':>13}  key")
    for n, link in chains.items():
        times = sorted(measure([args.cli, "--image", link])[0] for _ in range(5))
        key = re.search(r"key +(\S+)", tool(args.cli, "--image", link))[1]
        print(f"{n:>5} {statistics.median(times) * 1000:10.1f} "
              f"{max(peak_rss_kib([args.cli, '--image', link]) for _ in range(3)) / 1024:13.1f}"
              f"  {key}")


if __name__ == "__main__":
    main()
