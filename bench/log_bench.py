#!/usr/bin/env python3
"""Times a lookup in the 130 MB hive made dirty, with a 1 MB and a 16 MB
transaction log beside it, against the same hive clean, as whole processes
(hive_get, which applies the logs as tamsket-cli does).

    log_bench.py HIVE_GET HIVE_DIR [--rounds N] [--also NAME=HIVE_GET ...]

The logs (tests/hive/make_log.py's format) hold entries of 16 pages each,
pages spread over the whole hive and logged with the bytes they already
have, so every variant gives the same value and the lookup still checks it.
Reports the median wall time (hyperfine) and the peak RSS (/usr/bin/time -v).
--also times another build's hive_get (an earlier commit's, say) in the same
hyperfine runs, each variant by each reader in turn.
"""

import os
import statistics
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "hive"))
from hive_lookup_bench import KEY, VALUE, ensure_hives, hyperfine_times, peak_rss_kib  # noqa
from make_log import entry, log_base, with_sequence  # noqa: E402

PAGE, PER_ENTRY = 4096, 16


def dirty_copy(clean, path):
    with open(clean, "rb") as src, open(path, "wb") as dst:
        dst.write(with_sequence(src.read(4096), 6, 5))
        while chunk := src.read(1 << 24):
            dst.write(chunk)


def write_log(hive, path, megabytes):
    """A LOG1 of about `megabytes` MB: entries numbered from 6, each of 16 pages of the hive."""
    with open(hive, "rb") as f:
        data = f.read()
    bins_pages = struct.unpack_from("<I", data, 40)[0] // PAGE
    pages = megabytes * (1 << 20) // PAGE
    step = max(1, bins_pages // pages)
    offsets = [i * step * PAGE for i in range(min(pages, bins_pages))]
    log = bytearray(log_base(data, 6, 6))
    for n, first in enumerate(range(0, len(offsets), PER_ENTRY)):
        chosen = [(o, data[4096 + o:4096 + o + PAGE]) for o in offsets[first:first + PER_ENTRY]]
        log += entry(6 + n, data, chosen)
    with open(path, "wb") as f:
        f.write(log)
    return len(offsets) // PER_ENTRY


def main():
    hive_get, directory = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[sys.argv.index("--rounds") + 1]) if "--rounds" in sys.argv else 5
    readers = [("", hive_get)] + [tuple(sys.argv[i + 1].split("=", 1))
                                  for i, a in enumerate(sys.argv) if a == "--also"]
    (clean,) = ensure_hives(directory, only=[130])
    variants = [("clean", clean, None)]
    for mb in (1, 16):
        folder = os.path.join(directory, "log-%dmb" % mb)
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "SOFTWARE")
        dirty_copy(clean, path)
        entries = write_log(path, path + ".LOG1", mb)
        variants.append(("%d MB LOG1 (%d entries)" % (mb, entries), path, mb))
    variants = [(name + (" [%s]" % label if label else ""), path, reader)
                for name, path, _ in variants for label, reader in readers]
    expected = None
    for name, path, reader in variants:
        out = subprocess.run([reader, path, "-"], input="%s\t%s\n" % (KEY, VALUE), text=True,
                             capture_output=True, check=True).stdout.split("\n")
        state, answer = out[0].split("\t"), out[1]
        expected = expected or answer
        if answer != expected or state[1] != ("clean" if name.startswith("clean") else "recovered"):
            raise SystemExit("%s: %s / %s" % (name, out[0], answer[:40]))
        print("  %s: %s, %s" % (name, state[1], state[4] or "no logs"))
    commands = [[reader, path, KEY, VALUE] for _, path, reader in variants]
    times = [[] for _ in variants]
    rss = [0 for _ in variants]
    for _ in range(rounds):
        for i, t in enumerate(hyperfine_times(commands, 3)):
            times[i] += t
        for i, command in enumerate(commands):
            rss[i] = max(rss[i], peak_rss_kib(command))
    width = max(28, max(len(name) for name, _, _ in variants))
    print("%-*s %9s %8s" % (width, "130 MB hive", "ms", "RSS MB"))
    for (name, _, _), t, r in zip(variants, times, rss):
        print("%-*s %9.2f %8.1f" % (width, name, statistics.median(t) * 1000, r / 1024))
    print("time: median of %d hyperfine runs each, in %d rounds; RSS: largest of %d runs"
          % (3 * rounds, rounds, rounds))


if __name__ == "__main__":
    main()
