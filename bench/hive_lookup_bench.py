#!/usr/bin/env python3
"""Times reading Microsoft\\Exchange\\Setup / DigitalProductId from large hives,
as whole processes: Tamsket's hive_get against hivexget on the same file.

    hive_lookup_bench.py HIVE_GET HIVE_DIR [--rounds N]

Makes SOFTWARE-shaped hives of about 10, 130 and 600 MB in HIVE_DIR (once;
again when make_big_hive.py changes), checks that both programs give the same
bytes, then times them with hyperfine in N rounds that alternate the two
(3 runs each a round), and reports the median wall time and the peak RSS
(/usr/bin/time -v) of each.
"""

import hashlib
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
KEY, VALUE = "Microsoft\\Exchange\\Setup", "DigitalProductId"
HIVES = [("software-10mb.hive", 25000, 10), ("software-130mb.hive", 300000, 130),
         ("software-600mb.hive", 1200000, 600)]


def ensure_hives(directory, only=None):
    """The hives' paths (those of `only` megabytes, when given), made where missing."""
    os.makedirs(directory, exist_ok=True)
    generator = os.path.join(HERE, "make_big_hive.py")
    with open(generator, "rb") as f:
        stamp = hashlib.sha256(f.read()).hexdigest()
    paths = []
    for name, keys, mb in HIVES:
        if only and mb not in only:
            continue
        path = os.path.join(directory, name)
        stamp_path = path + ".stamp"
        current = open(stamp_path).read() if os.path.exists(stamp_path) else ""
        if not os.path.exists(path) or current != "%s %d %d" % (stamp, keys, mb):
            start = time.monotonic()
            subprocess.run([sys.executable, generator, path, "--keys", str(keys), "--mb", str(mb)],
                           check=True)
            print("  generated in %.1f s" % (time.monotonic() - start))
            with open(stamp_path, "w") as f:
                f.write("%s %d %d" % (stamp, keys, mb))
        paths.append(path)
    return paths


def hyperfine_times(commands, runs):
    """Each command's run times (s), from one hyperfine call that runs them in turn."""
    path = "/tmp/tamsket-hyperfine-%d.json" % os.getpid()
    subprocess.run(["hyperfine", "-N", "--warmup", "3", "--runs", str(runs), "--style", "none",
                    "--export-json", path] + [" ".join(quote(a) for a in c) for c in commands],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(path) as f:
        results = json.load(f)["results"]
    os.remove(path)
    return [r["times"] for r in results]


def quote(arg):
    return '"%s"' % arg if "\\" in arg or " " in arg else arg


def peak_rss_kib(argv):
    out = subprocess.run(["/usr/bin/time", "-v"] + argv, capture_output=True)
    for line in out.stderr.decode("utf-8", "replace").splitlines():
        if "Maximum resident set size" in line:
            return int(line.split(":")[1])
    raise SystemExit("no peak RSS from /usr/bin/time for %s" % argv[0])


def main():
    hive_get, directory = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[sys.argv.index("--rounds") + 1]) if "--rounds" in sys.argv else 7
    paths = ensure_hives(directory)
    print("%-24s %9s %8s | %9s %8s | %7s" %
          ("hive", "ours ms", "RSS MB", "hivex ms", "RSS MB", "speed-up"))
    for path in paths:
        ours = [hive_get, path, KEY, VALUE]
        theirs = ["hivexget", path, KEY, VALUE]
        mine = subprocess.run(ours, capture_output=True, text=True, check=True).stdout.split("\t")
        hexdump = subprocess.run(theirs, capture_output=True, check=True).stdout
        if mine[0] != "ok" or bytes.fromhex(mine[2].strip()) != hexdump:
            raise SystemExit("%s: the two programs disagree" % path)
        times = {"ours": [], "hivex": []}
        rss = {"ours": 0, "hivex": 0}
        # Rounds alternate the two programs, so both see the same machine.
        for _ in range(rounds):
            a, b = hyperfine_times([ours, theirs], 3)
            times["ours"] += a
            times["hivex"] += b
            rss["ours"] = max(rss["ours"], peak_rss_kib(ours))
            rss["hivex"] = max(rss["hivex"], peak_rss_kib(theirs))
        a, b = statistics.median(times["ours"]), statistics.median(times["hivex"])
        name = "%s (%.0f MB)" % (os.path.basename(path).split(".")[0], os.path.getsize(path) / 1e6)
        print("%-24s %9.2f %8.1f | %9.2f %8.1f | %6.1fx" %
              (name, a * 1000, rss["ours"] / 1024, b * 1000, rss["hivex"] / 1024, b / a))
    print("time: median of %d hyperfine runs each, in %d alternating rounds; "
          "RSS: largest of %d runs under /usr/bin/time -v" % (3 * rounds, rounds, rounds))


if __name__ == "__main__":
    main()
