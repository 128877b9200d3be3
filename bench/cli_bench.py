#!/usr/bin/env python3
"""tamsket-cli --hive as a whole process: wall time and peak RSS, against
hivexget reading the same value in the same run (alternating), on a given hive;
and one call over 100 small hives.

    cli_bench.py TAMSKET_CLI [HIVE ...] [--before OTHER_CLI] [--runs N]

The first hive is timed, against /bin/true (what any process costs) and
hivexget; peak RSS is read on every hive given, to show it flat in the size.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "cli"))
from cli_fixtures import write_software_hive  # noqa: E402
from cli_support import VALUE_A  # noqa: E402


def measure(command):
    """(seconds, exit status) of one run."""
    started = time.perf_counter()
    status = subprocess.call(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - started, status


def peak_rss_kib(command):
    """Peak RSS of a run, through GNU time: a child of this Python process
    would count Python's own pages from before its exec."""
    gnu_time = "/usr/bin/time"
    if not os.path.exists(gnu_time):
        return None
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.call([gnu_time, "-f", "%M", "-o", out.name, *command],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(out.read().split()[-1])


def report(name, command, samples):
    times = sorted(s[0] for s in samples)
    rss = [peak_rss_kib(command) for _ in range(3)]
    shown = "unknown (no /usr/bin/time)" if None in rss else f"{max(rss) / 1024:.1f} MiB"
    print(f"  {name:<17} median {statistics.median(times) * 1000:8.2f} ms   "
          f"min {times[0] * 1000:8.2f} ms   peak RSS {shown}"
          f"   exit {sorted(set(s[1] for s in samples))}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("hives", nargs="*", help="the first is timed; peak RSS is read on each")
    parser.add_argument("--before", help="another build of tamsket-cli, timed in the same run")
    parser.add_argument("--runs", type=int, default=21)
    args = parser.parse_args()

    if args.hives:
        hive = args.hives[0]
        print(f"== {hive} ({os.path.getsize(hive) / 1e6:.0f} MB), {args.runs} alternating runs")
        setup = "\\Microsoft\\Exchange\\Setup"
        commands = {"/bin/true": ["/bin/true"],
                    "--version": [args.cli, "--version"],
                    "--hive": [args.cli, "--hive", hive],
                    "hivexget": [shutil.which("hivexget") or "hivexget", hive, setup,
                                 "DigitalProductId"]}
        if args.before:
            commands["before --version"] = [args.before, "--version"]
            commands["before --hive"] = [args.before, "--hive", hive]
        samples = {name: [] for name in commands}
        for _ in range(args.runs):
            for name, command in commands.items():
                samples[name].append(measure(command))
        for name, command in commands.items():
            report(name, command, samples[name])
        median = {n: statistics.median(t for t, _ in s) for n, s in samples.items()}
        print(f"  --hive: {median['hivexget'] / median['--hive']:.1f}x hivexget, "
              f"{median['--hive'] / median['/bin/true']:.2f}x /bin/true; --version "
              f"{median['--version'] / median['/bin/true']:.2f}x /bin/true")
        if args.before:
            print(f"  before: --hive {median['hivexget'] / median['before --hive']:.1f}x hivexget, "
                  f"--version {median['before --version'] / median['/bin/true']:.2f}x /bin/true")
        print("== peak RSS of --hive by hive size")
        for path in args.hives:
            rss = max(peak_rss_kib([args.cli, "--hive", path]) or 0 for _ in range(3))
            print(f"  {os.path.basename(path):<24} {os.path.getsize(path) / 1e6:6.0f} MB   "
                  f"{rss / 1024:.1f} MiB")

    with tempfile.TemporaryDirectory() as work:
        files = []
        for i in range(100):
            path = os.path.join(work, f"{i:03}", "SOFTWARE")
            os.makedirs(os.path.dirname(path))
            write_software_hive(path, {"Wow6432Node": {},
                                       "Microsoft\\Exchange\\Setup":
                                           {"DigitalProductId": (3, VALUE_A)}})
            files.append(path)
        command = [args.cli, "--json"] + [f"--hive={f}" for f in files]
        print(f"== 100 hives in one call, {args.runs} runs")
        report("tamsket-cli", command, [measure(command) for _ in range(args.runs)])


if __name__ == "__main__":
    main()
