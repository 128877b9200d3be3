#!/usr/bin/env python3
"""tamsket-cli.exe under Wine, in a prefix of its own kept in the build folder.

    wine_cli_test.py --exe EXE --holder HOLD_FILE_EXE --state DIR [--i686]

The live registry with the value in the 32-bit view only, the 64-bit view only,
both and neither; --computer with this machine's own name and an unknown one;
--hive and --windows over fixture hives (a Cyrillic path among them), their
bytes and times unchanged; a hive held open without sharing; a hive in the
64-bit system32; output that cannot be written. The i686 build runs as on
64-bit Windows (WoW64), where System32 is redirected for it. Exit status 77 (skipped) when this machine
cannot run the build's code.
"""

import argparse
import csv
import hashlib
import io
import json
import os
import pty
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_support import KEY_A, KEY_B, VALUE_A, VALUE_B, run  # noqa: E402
import cli_fixtures  # noqa: E402

SKIP = 77
SETUP = r"HKLM\SOFTWARE\Microsoft\Exchange\Setup"
WINE_COMMON = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                           "wine-common.sh")


def wine_common():
    """(Wine's programs by name, the variables every Wine run gets) as
    tools/wine-common.sh, the one place they are written, sets them. A shell
    started with an empty environment sources it, so what it exports is the
    file's own."""
    shell = ('source "$1" >/dev/null || exit 1; printf "%s\\0" "$wine" "$wineserver" '
             '"$wine32_loader"; env -0')
    done = subprocess.run(["env", "-i", "PATH=" + os.defpath, "bash", "--norc", "--noprofile",
                           "-c", shell, "bash", WINE_COMMON],
                          capture_output=True, timeout=30, check=True)
    fields = done.stdout.decode().split("\0")
    loaders = dict(zip(("wine", "wineserver", "wine32_loader"), fields[:3]))
    exported = dict(f.split("=", 1) for f in fields[3:] if "=" in f)
    for own in ("PATH", "PWD", "OLDPWD", "SHLVL", "_"):  # the shell's, not the file's
        exported.pop(own, None)
    if not all(loaders.values()) or not exported:
        raise RuntimeError(f"{WINE_COMMON} set no loaders or no environment: {fields!r}")
    return loaders, exported


LOADERS, WINE_ENV = wine_common()
WINE = LOADERS["wine"]
WINESERVER = LOADERS["wineserver"]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Wine:
    def __init__(self, state):
        self.prefix = os.path.join(os.path.abspath(state), "prefix")
        self.env = dict(os.environ, **WINE_ENV, WINEPREFIX=self.prefix, LANG="C.UTF-8",
                        LC_ALL="C.UTF-8")
        self.env.pop("DISPLAY", None)

    def make_prefix(self):
        """A WoW64 prefix, made once per build folder and reused."""
        ready = os.path.join(self.prefix, ".tamsket-cli-ready")
        if os.path.exists(ready):
            return
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        subprocess.run([WINE, "wineboot", "-u"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=240)
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=120)
        if not os.path.exists(os.path.join(self.prefix, "drive_c/windows/system32/kernel32.dll")):
            raise RuntimeError(f"wineboot made no prefix in {self.prefix}")
        open(ready, "w").close()

    def start_server(self):
        # Descriptors closed, or the server holds ctest's pipes open.
        subprocess.run([WINESERVER, "-p"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        # The first program starts Wine's services, which would hold pipes open too.
        subprocess.run([WINE, "cmd", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def stop_server(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def wine(self, *args, timeout=60):
        return run([WINE, *args], env=self.env, timeout=timeout)

    def reg(self, *args):
        status, _, err = self.wine("reg", *args)
        if status != 0 and args[0] not in ("delete", "query"):
            print("reg", *args[:2], "failed:", status, err.strip())
        return status

    def set_value(self, view, data):
        status = self.reg("add", SETUP, "/v", "DigitalProductId", "/t", "REG_BINARY",
                          "/d", data.hex(), "/f", "/reg:" + view)
        check(status == 0, f"reg add in the {view}-bit view")

    def clear_values(self):
        """Removes the key from both views, and makes sure it is gone: once in some
        twenty runs under load a delete left the value in place (reg said nothing)."""
        for view in ("32", "64"):
            for attempt in range(1, 6):
                self.reg("delete", SETUP, "/f", "/reg:" + view)
                if self.reg("query", SETUP, "/reg:" + view) != 0:
                    break
                print(f"note: the {view}-bit key was still there after delete {attempt}", flush=True)
            else:
                check(False, f"the {view}-bit key cannot be removed")


def json_records(out):
    check(b"\r" not in out, "no carriage return in the JSON output")
    return [json.loads(line) for line in out.decode("utf-8").splitlines()]


def by_view(records):
    return {r["view"]: r for r in records}


def test_live_registry(wine, cli):
    cases = [
        ("32-bit view only", {"32": VALUE_A}, {"32-bit": KEY_A}, 0),
        ("64-bit view only", {"64": VALUE_B}, {"64-bit": KEY_B}, 0),
        ("both views", {"32": VALUE_A, "64": VALUE_B}, {"32-bit": KEY_A, "64-bit": KEY_B}, 0),
        ("neither view", {}, {}, 1),
    ]
    for what, values, keys, exit_code in cases:
        wine.clear_values()
        for view, data in values.items():
            wine.set_value(view, data)
        status, out, err = cli("--json")
        check(status == exit_code, f"{what}: exit {status}, expected {exit_code}: {err}")
        records = json_records(out)
        if not keys:
            check(len(records) == 1 and records[0]["status"] == "absent"
                  and records[0]["view"] is None, f"{what}: one absent record, got {records}")
            continue
        found = {r["view"]: r["key"] for r in records if r["status"] == "found"}
        check(found == keys, f"{what}: keys by view {found}, expected {keys}")
        for r in records:
            check(r["source"] == "registry" and r["valueType"] == "REG_BINARY"
                  and r["hiveState"] is None and r["error"] is None, f"{what}: record {r}")
        if "64-bit" in keys:
            check(by_view(records)["64-bit"]["valueSize"] == 180, f"{what}: the 180-byte value")
            check(by_view(records)["64-bit"]["productId"] == "00371-OEM-8992671-00437",
                  f"{what}: product id")


def test_text_and_csv(wine, cli):
    wine.clear_values()
    wine.set_value("32", VALUE_A)
    status, out, err = cli()
    text = out.decode("utf-8")
    check(status == 0, f"text: exit {status}: {err}")
    check(b"\r" not in out, "no carriage return in the text output")
    check(f"  key         {KEY_A}\n" in text and "(32-bit view)" in text, f"text output: {text}")
    status, out, err = cli("--csv")
    rows = list(csv.DictReader(io.StringIO(out.decode("utf-8"), newline="")))
    check(status == 0 and len(rows) == 1 and rows[0]["key"] == KEY_A
          and rows[0]["view"] == "32-bit", f"csv output: {rows} {err}")


def test_computers(wine, cli):
    wine.clear_values()
    wine.set_value("64", VALUE_B)
    status, out, _ = wine.wine("cmd", "/c", "echo %COMPUTERNAME%")
    name = out.decode("utf-8", "replace").strip()
    check(bool(name), "this machine's name from cmd")
    for given in (name, "\\\\" + name.lower()):
        status, out, err = cli("--json", "--computer", given)
        records = json_records(out)
        check(status == 0, f"--computer {given}: exit {status}: {err}")
        check([(r["source"], r["location"], r["view"], r["key"]) for r in records]
              == [("computer", given, "64-bit", KEY_B)], f"--computer {given}: {records}")
    status, out, err = cli("--json", "--computer", "no-such-host-7", "--computer", name)
    records = json_records(out)
    check(status == 2, f"unknown computer: exit {status}")
    lines = err.strip().splitlines()
    check(len(lines) == 1 and lines[0].startswith(
        "tamsket-cli: cannot connect to the registry of no-such-host-7: ")
          and "(error 53)" in lines[0], f"unknown computer's message: {err!r}")
    check(len(records) == 2 and records[0]["status"] == "error"
          and records[0]["error"]["code"] == "cannot-connect"
          and "(error 53)" in records[0]["error"]["message"]
          and records[1]["key"] == KEY_B, f"unknown computer, then this one: {records}")


def software_hive(path, view_values):
    """A 64-bit Windows' SOFTWARE hive holding `view_values`: view -> DigitalProductId."""
    keys = {"Wow6432Node\\Microsoft": {}}
    for view, data in view_values.items():
        setup = "Microsoft\\Exchange\\Setup"
        keys[setup if view == "64" else "Wow6432Node\\" + setup] = {"DigitalProductId": (3, data)}
    os.makedirs(os.path.dirname(path), exist_ok=True)
    cli_fixtures.write_software_hive(path, keys)
    return path


def test_hives(wine, cli, work, holder):
    # A path a Windows user may well have, in Cyrillic.
    evidence = software_hive(os.path.join(work, "Улики", "SOFTWARE"), {"32": VALUE_A, "64": VALUE_B})
    os.utime(evidence, ns=(1_500_000_000_000_000_000, 1_400_000_000_000_000_000))
    before = os.stat(evidence)
    digest = hashlib.sha256(open(evidence, "rb").read()).hexdigest()
    status, out, err = cli("--json", "--hive", windows_path(evidence))
    records = json_records(out)
    check(status == 0, f"Cyrillic --hive: exit {status}: {err}")
    check([(r["location"], r["view"], r["key"], r["hiveState"]) for r in records]
          == [(windows_path(evidence), "32-bit", KEY_A, "clean"),
              (windows_path(evidence), "64-bit", KEY_B, "clean")], f"Cyrillic --hive: {records}")
    status, out, err = cli("--hive", windows_path(evidence))
    check(status == 0 and windows_path(evidence) in out.decode("utf-8"),
          f"Cyrillic path in the text output: {out!r}")

    volume = os.path.join(work, "volume")
    software_hive(os.path.join(volume, "wINDOWS", "system32", "CONFIG", "Software"), {"64": VALUE_B})
    for given in (windows_path(volume), windows_path(volume) + "\\", windows_path(volume) + "\\windows"):
        status, out, err = cli("--json", "--windows", given)
        records = json_records(out)
        check(status == 0 and [r["key"] for r in records] == [KEY_B],
              f"--windows {given}: exit {status}: {records} {err}")
    status, out, err = cli("--json", "--windows", windows_path(work))
    records = json_records(out)
    check(status == 2 and records[0]["error"]["code"] == "no-hive-found",
          f"--windows without a hive: {status} {records}")

    # Held open without sharing, as a running Windows holds its own hive.
    held = subprocess.Popen([WINE, holder, windows_path(evidence)], env=wine.env,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    try:
        ready = held.stdout.readline()
        check(ready == b"held\n", f"the holder has the file: {ready!r}")
        status, out, err = cli("--json", "--hive", windows_path(evidence))
        records = json_records(out)
        check(status == 2 and len(records) == 1 and records[0]["error"]["code"] == "in-use",
              f"hive in use: exit {status}: {records}")
        check("live registry" in err and err.count("\n") == 1, f"hive in use, the message: {err!r}")
    finally:
        held.stdin.close()
        held.wait(timeout=30)

    test_console(wine, cli.exe, evidence)

    status, out, _ = cli("--json", "--hive", windows_path(work))
    records = json_records(out)
    check(status == 2 and records[0]["error"]["code"] == "cannot-open"
          and records[0]["error"]["message"].endswith(": Is a directory"),
          f"a folder as --hive: {status} {records}")

    # The real system32, which a 32-bit program sees only with redirection off.
    config = os.path.join(wine.prefix, "drive_c/windows/system32/config")
    software_hive(os.path.join(config, "SOFTWARE"), {"64": VALUE_B})
    try:
        for args in (["--windows", "C:\\Windows"],
                     ["--hive", "C:\\Windows\\System32\\config\\SOFTWARE"]):
            status, out, err = cli("--json", *args)
            records = json_records(out)
            check(status == 0 and [r["key"] for r in records] == [KEY_B],
                  f"{' '.join(args)}, the hive in the 64-bit system32: {status} {records} {err}")
    finally:
        shutil.rmtree(config)

    after = os.stat(evidence)
    check(hashlib.sha256(open(evidence, "rb").read()).hexdigest() == digest, "hive bytes unchanged")
    check((after.st_mtime_ns, after.st_ctime_ns) == (before.st_mtime_ns, before.st_ctime_ns),
          "hive times unchanged")


def test_output_that_cannot_be_written(wine, exe):
    gone_r, gone = os.pipe()
    os.close(gone_r)
    for prefix, stdout in (([], open("/dev/full", "wb")), (["sh", "-c", 'exec "$@" >&-', "sh"], None),
                           ([], gone)):
        for args in (["--json"], ["--version"]):
            done = subprocess.run(prefix + [WINE, exe, *args], env=wine.env, timeout=60,
                                  stdout=stdout, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
            err = done.stderr.decode("utf-8", "replace")
            check(done.returncode == 2 and "tamsket-cli: cannot write the output: " in err,
                  f"{args[0]} to {stdout} ({prefix}): exit {done.returncode}: {err!r}")


def test_console(wine, exe, evidence):
    """On a console (Wine makes one for a terminal) the text is written as
    UTF-16, so the Cyrillic folder shows as such; bytes written as they are
    would be read in the console's code page."""
    master, slave = pty.openpty()
    try:
        child = subprocess.Popen([WINE, exe, "--hive", windows_path(evidence)], env=wine.env,
                                 stdin=slave, stdout=slave, stderr=subprocess.DEVNULL)
    finally:
        os.close(slave)
    shown = b""
    try:
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal's other side is gone
                break
            if not chunk:
                break
            shown += chunk
        status = child.wait(timeout=60)
    finally:
        os.close(master)
    # Wine's console draws with escape sequences and wraps at 80 columns.
    text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]|\r|\n", b"", shown).decode("utf-8", "replace")
    check(status == 0, f"on a console: exit {status}")
    check("\\Улики\\SOFTWARE" in text and KEY_A in text and KEY_B in text,
          f"on a console, the Cyrillic path and both keys: {text!r}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--holder", required=True)
    parser.add_argument("--state", required=True)
    parser.add_argument("--i686", action="store_true", help="the build is 32-bit")
    args = parser.parse_args()

    if not os.path.exists(WINE):
        print("SKIP: wine64 is not installed")
        return SKIP
    if args.i686 and not os.path.exists(LOADERS["wine32_loader"]):
        print("SKIP: this machine cannot run 32-bit Windows code (wine32:i386 is not installed: "
              f"{LOADERS['wine32_loader']} is missing)")
        return SKIP
    wine = Wine(args.state)
    wine.make_prefix()
    if args.i686 and not os.path.exists(
            os.path.join(wine.prefix, "drive_c/windows/syswow64/kernel32.dll")):
        print("SKIP: the Wine prefix has no 32-bit side (made before wine32 was installed?)")
        return SKIP
    exe = os.path.abspath(args.exe)
    holder = os.path.abspath(args.holder)

    def cli(*cli_args):
        return wine.wine(exe, *cli_args)
    cli.exe = exe

    wine.start_server()
    started = time.monotonic()
    try:
        status, out, err = cli("--version")
        if status != 0:
            print(f"FAIL: the program does not run: exit {status}: {err}")
            return 1
        test_live_registry(wine, cli)
        test_text_and_csv(wine, cli)
        test_output_that_cannot_be_written(wine, exe)
        test_computers(wine, cli)
        work = os.path.join(os.path.abspath(args.state), "hives")
        shutil.rmtree(work, ignore_errors=True)
        test_hives(wine, cli, work, holder)
    finally:
        wine.clear_values()
        wine.stop_server()
    print(f"{len(failures)} failure(s) in {time.monotonic() - started:.1f} s")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
