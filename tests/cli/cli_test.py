#!/usr/bin/env python3
"""tamsket-cli run as a user runs it, over fixture hives, with its output read
back by Python's own json and csv parsers.

    cli_test.py CLI WORK_DIR --version PROJECT_VERSION

PROJECT_VERSION is the one project(VERSION ...) in CMakeLists.txt gives (1.1.0.5),
as CMake hands it to the executable check too.
"""

import argparse
import csv
import hashlib
import io
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_support import KEY_A, KEY_B, VALUE_A, VALUE_B, decode_key, run  # noqa: E402
import cli_fixtures  # noqa: E402
from make_log import new_format_log  # noqa: E402

CLI = None
WORK = None
PROJECT_VERSION = None

SETUP = "Microsoft\\Exchange\\Setup"
WOW_SETUP = "Wow6432Node\\Microsoft\\Exchange\\Setup"
HIVE_PATH = "Windows/System32/config/SOFTWARE"
FIELDS = ["source", "location", "view", "status", "product", "key", "productId", "valueType",
          "valueSize", "hiveState", "error", "hint", "logs"]
CSV_FIELDS = FIELDS[:-3] + ["errorCode", "errorMessage", "hint", "logs"]
REG_SZ, REG_BINARY = 1, 3


def cli(*args):
    return run([CLI, *args], timeout=120)


def records_of(out):
    assert b"\r" not in out, out
    lines = out.decode("utf-8").splitlines()
    records = [json.loads(line) for line in lines]
    for r in records:
        assert list(r) == FIELDS, list(r)
    return records


def hive(name, keys, **options):
    """A SOFTWARE hive file in the work folder with `keys`: path -> {value name: (type, data)}."""
    path = os.path.join(WORK, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    cli_fixtures.write_software_hive(path, keys, **options)
    return path


def exchange(value, view="64", value_type=REG_BINARY):
    """The keys of a 64-bit Windows (it has Wow6432Node) holding `value` in one view."""
    keys = {"Wow6432Node\\Microsoft": {}, "Microsoft\\Windows": {}}
    keys[SETUP if view == "64" else WOW_SETUP] = {"DigitalProductId": (value_type, value)}
    return keys


class HiveSources(unittest.TestCase):
    def test_finds_the_key_in_each_view_of_a_hive(self):
        both = exchange(VALUE_B, "64")
        both[WOW_SETUP] = {"DigitalProductId": (REG_BINARY, VALUE_A)}
        no_value = exchange(VALUE_A)
        del no_value[SETUP]
        no_value[SETUP] = {"Language": (4, b"\x09\x04\x00\x00")}
        cases = [
            ("64-bit view", exchange(VALUE_A, "64"), [("64-bit", KEY_A)], 0),
            ("32-bit view", exchange(VALUE_B, "32"), [("32-bit", KEY_B)], 0),
            ("both views", both, [("32-bit", KEY_A), ("64-bit", KEY_B)], 0),
            ("Setup without the value", no_value, [(None, None)], 1),
            ("no Exchange at all", {"Microsoft\\Windows": {}, "Wow6432Node": {}}, [(None, None)],
             1),
            ("32-bit Windows: no Wow6432Node", {SETUP: {"DigitalProductId": (3, VALUE_A)}},
             [("32-bit", KEY_A)], 0),
        ]
        for what, keys, expected, exit_code in cases:
            with self.subTest(what):
                path = hive(f"views/{len(what)}-{what[:4]}/SOFTWARE", keys)
                status, out, err = cli("--json", "--hive", path)
                self.assertEqual(status, exit_code, err)
                records = records_of(out)
                self.assertEqual([(r["view"], r["key"]) for r in records], expected)
                for r in records:
                    self.assertEqual((r["source"], r["location"], r["hiveState"], r["product"]),
                                     ("hive", path, "clean", "Microsoft Exchange"))
                    self.assertEqual(r["status"], "found" if r["key"] else "absent")

    def test_reads_a_value_of_any_size_and_type(self):
        long_value = bytes(range(256)) + bytes(range(44))
        text_value = "DigitalProductId as text, long enough".encode("utf-16-le") + b"\0\0"
        cases = [
            ("300 bytes", REG_BINARY, long_value, "found", decode_key(long_value[52:67])),
            ("exactly 67 bytes", REG_BINARY, VALUE_A[:67], "found", KEY_A),
            ("66 bytes", REG_BINARY, VALUE_A[:66], "invalid", None),
            ("empty", REG_BINARY, b"", "invalid", None),
            ("a string", REG_SZ, text_value, "found", decode_key(text_value[52:67])),
            ("over 16 KiB", REG_BINARY, VALUE_B + bytes(20000), "found", KEY_B),
        ]
        for what, value_type, data, status_name, key in cases:
            with self.subTest(what):
                path = hive(f"sizes/{what.replace(' ', '-')}/SOFTWARE",
                            exchange(data, value_type=value_type))
                status, out, err = cli("--json", "--hive", path)
                (r,) = records_of(out)
                self.assertEqual(status, 0 if key else 1, err)
                self.assertEqual((r["status"], r["key"], r["valueSize"]),
                                 (status_name, key, len(data)))
                self.assertEqual(r["valueType"], "REG_SZ" if value_type == REG_SZ else "REG_BINARY")
                if status_name == "invalid":
                    self.assertEqual(r["error"], {
                        "code": "value-too-short",
                        "message": f"the value is {len(data)} bytes, too short to hold a key"})
                else:
                    self.assertIsNone(r["error"])
        status, out, _ = cli("--hive", os.path.join(WORK, "sizes/a-string/SOFTWARE"))
        self.assertIn("  value       REG_SZ, 76 bytes (not REG_BINARY; decoded all the same)\n",
                      out.decode())

    def test_reports_the_product_id_text(self):
        path = hive("pid/SOFTWARE", exchange(VALUE_B))
        (r,) = records_of(cli("--json", "--hive", path)[1])
        self.assertEqual(r["productId"], "00371-OEM-8992671-00437")
        garbled = bytearray(VALUE_A)
        garbled[12] = 0x07
        path = hive("pid-garbled/SOFTWARE", exchange(bytes(garbled)))
        (r,) = records_of(cli("--json", "--hive", path)[1])
        self.assertIsNone(r["productId"])
        self.assertEqual(r["key"], KEY_A)

    def test_says_a_dirty_hive_is_dirty(self):
        path = hive("dirty/SOFTWARE", exchange(VALUE_A), dirty=True)
        status, out, err = cli("--json", "--hive", path)
        (r,) = records_of(out)
        self.assertEqual((status, r["status"], r["key"], r["hiveState"]), (0, "found", KEY_A,
                                                                           "dirty"))
        status, out, _ = cli("--hive", path)
        self.assertIn("hive dirty: it was not closed cleanly, so the key may be out of date",
                      out.decode())
        open(path + ".LOG1", "wb").close()
        status, out, _ = cli("--hive", path)
        self.assertIn("the changes kept in its log files could not all be applied", out.decode())
        self.assertIn("logs        SOFTWARE.LOG1: empty; none applied", out.decode())
        status, out, _ = cli("--no-logs", "--hive", path)
        self.assertIn("the changes kept in its log files are not applied", out.decode())

    def test_applies_a_dirty_hives_logs_unless_told_not_to(self):
        config = "logs/Windows/System32/config/"
        before = hive(config + "SOFTWARE", {"Wow6432Node\\Microsoft": {}}, dirty=True)
        after = hive("logs/after", exchange(VALUE_A))
        with open(before, "rb") as b, open(after, "rb") as a:
            log, _ = new_format_log([(b.read(), a.read())], 2)  # dirty: sequence numbers 2 and 1
        with open(os.path.join(WORK, config, "software.log1"), "wb") as f:
            f.write(log)
        for args, expected in [
                ([], ("found", KEY_A, "recovered", "applied 1 entry from software.log1")),
                (["--no-logs"], ("absent", None, "dirty", "not applied (--no-logs)"))]:
            status, out, _ = cli("--json", *args, "--windows", os.path.join(WORK, "logs"))
            (r,) = records_of(out)
            self.assertEqual((r["status"], r["key"], r["hiveState"], r["logs"]), expected)

    def test_a_file_that_cannot_be_read_is_an_error_naming_it(self):
        good = hive("errors/good/SOFTWARE", exchange(VALUE_A))
        data = open(good, "rb").read()
        not_hive = os.path.join(WORK, "errors/not-a-hive")
        with open(not_hive, "wb") as f:
            f.write(b"MZ" + bytes(8190))
        truncated = os.path.join(WORK, "errors/truncated")
        with open(truncated, "wb") as f:
            f.write(data[:4096 + 512])
        missing = os.path.join(WORK, "errors/missing/SOFTWARE")
        cases = [(not_hive, "not-a-registry-file"), (truncated, "truncated"),
                 (missing, "cannot-open"), (os.path.join(WORK, "errors"), "cannot-open")]
        for path, code in cases:
            with self.subTest(code):
                status, out, err = cli("--json", "--hive", path)
                (r,) = records_of(out)
                self.assertEqual(status, 2)
                self.assertEqual((r["status"], r["error"]["code"], r["key"], r["view"]),
                                 ("error", code, None, None))
                lines = err.splitlines()
                self.assertEqual(len(lines), 1, err)
                # The line names the file once, whether or not the message does.
                self.assertTrue(lines[0].startswith("tamsket-cli: "), lines[0])
                self.assertTrue(lines[0].endswith(r["error"]["message"]), lines[0])
                self.assertEqual(lines[0].count(path), 1, lines[0])
                # Text output: the error on standard error only.
                status, out, err = cli("--hive", path)
                self.assertEqual((status, out), (2, b""))
                self.assertEqual(len(err.splitlines()), 1)

    def test_damage_on_the_way_to_the_value_is_an_error_of_that_view(self):
        keys = exchange(VALUE_B, "64")
        keys[WOW_SETUP] = {"DigitalProductId": (REG_BINARY, VALUE_A)}
        path = os.path.join(WORK, "corrupt/SOFTWARE")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        cells = cli_fixtures.write_software_hive(path, keys)
        with open(path, "r+b") as f:
            # The 64-bit view's Exchange key loses its subkey list's signature.
            f.seek(4096 + cells["list:Microsoft\\Exchange"] + 4)
            f.write(b"zz")
        status, out, err = cli("--json", "--hive", path)
        records = records_of(out)
        self.assertEqual(status, 2)
        self.assertEqual([(r["view"], r["status"], r["key"]) for r in records],
                         [("32-bit", "found", KEY_A), ("64-bit", "error", None)])
        self.assertEqual((records[1]["error"]["code"], records[1]["hiveState"]),
                         ("corrupt", "clean"))
        self.assertEqual(err, f"tamsket-cli: hive {path}: {records[1]['error']['message']}\n")

    def test_leaves_the_hive_exactly_as_it_was(self):
        path = hive("evidence/SOFTWARE", exchange(VALUE_A), dirty=True)
        os.utime(path, ns=(1_500_000_000_000_000_000, 1_400_000_000_000_000_000))
        before = os.stat(path)
        digest = hashlib.sha256(open(path, "rb").read()).hexdigest()
        for args in (["--hive", path], ["--json", "--hive", path], ["--csv", "--hive", path]):
            self.assertEqual(cli(*args)[0], 0)
        after = os.stat(path)
        self.assertEqual(hashlib.sha256(open(path, "rb").read()).hexdigest(), digest)
        self.assertEqual((after.st_mtime_ns, after.st_ctime_ns, after.st_size, after.st_mode),
                         (before.st_mtime_ns, before.st_ctime_ns, before.st_size, before.st_mode))
        self.assertEqual(sorted(os.listdir(os.path.dirname(path))), ["SOFTWARE"])


class WindowsFolders(unittest.TestCase):
    def test_finds_the_hive_in_any_letter_case(self):
        cases = [
            ("volume root, mixed case", "vol1", "wInDoWs/SYSTEM32/Config/software", "vol1"),
            ("Windows folder itself", "vol2", "Windows/System32/config/SOFTWARE", "vol2/Windows"),
            ("root given with a slash", "vol3", "WINDOWS/system32/CONFIG/Software", "vol3/"),
            ("Windows 2000 volume root", "vol6", "WinNT/system32/config/software", "vol6"),
        ]
        for what, volume, inner, given in cases:
            with self.subTest(what):
                path = hive(f"{volume}/{inner}", exchange(VALUE_A))
                status, out, err = cli("--json", "--windows", os.path.join(WORK, given))
                (r,) = records_of(out)
                self.assertEqual(status, 0, err)
                self.assertEqual((r["location"], r["key"]), (path, KEY_A))

    def test_reports_every_windows_on_the_volume(self):
        nt = "WINNT/system32/config/software"
        # hives under the volume (None: without Exchange), then (status, key) per record
        cases = [("both hold a key", {HIVE_PATH: VALUE_A, nt: VALUE_B},
                  [("found", KEY_A), ("found", KEY_B)], 0),
                 ("only WINNT holds one", {HIVE_PATH: None, nt: VALUE_B},
                  [("absent", None), ("found", KEY_B)], 0),
                 ("neither holds one", {HIVE_PATH: None, nt: None},
                  [("absent", None), ("absent", None)], 1)]
        for i, (what, hives, expected, exit_status) in enumerate(cases):
            with self.subTest(what):
                paths = [hive(f"dual{i}/{inner}", exchange(value) if value else {"Microsoft": {}})
                         for inner, value in hives.items()]
                status, out, err = cli("--json", "--windows", os.path.join(WORK, f"dual{i}"))
                records = records_of(out)
                self.assertEqual((status, [(r["status"], r["key"]) for r in records]),
                                 (exit_status, expected), err)
                self.assertEqual([r["location"] for r in records], paths)

    def test_prefers_the_exact_spelling(self):
        hive("vol4/Windows/System32/config/SOFTWARE", exchange(VALUE_A))
        hive("vol4/Windows/System32/config/software", exchange(VALUE_B))
        (r,) = records_of(cli("--json", "--windows", os.path.join(WORK, "vol4"))[1])
        self.assertEqual(r["key"], KEY_A)

    def test_a_folder_without_the_hive_is_an_error(self):
        os.makedirs(os.path.join(WORK, "vol5/Windows/System32/config"), exist_ok=True)
        for given in ("vol5", "vol5/Windows"):
            with self.subTest(given):
                folder = os.path.join(WORK, given)
                status, out, err = cli("--json", "--windows", folder)
                (r,) = records_of(out)
                self.assertEqual((status, r["status"], r["error"]["code"], r["location"]),
                                 (2, "error", "no-hive-found", folder))
                self.assertTrue(err.startswith(f"tamsket-cli: windows folder {folder}: "), err)


class Formats(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        both = exchange(VALUE_B, "64")
        both[WOW_SETUP] = {"DigitalProductId": (REG_BINARY, VALUE_A)}
        cls.both = hive("formats/both, \"quoted\"/SOFTWARE", both)
        cls.short = hive("formats/short/SOFTWARE", exchange(VALUE_A[:40]))
        cls.missing = os.path.join(WORK, "formats/missing")

    def test_csv_holds_the_same_records_as_json(self):
        args = ["--hive", self.both, "--hive", self.short, "--hive", self.missing]
        status_json, out_json, _ = cli("--json", *args)
        status_csv, out_csv, _ = cli("--csv", *args)
        self.assertEqual((status_json, status_csv), (2, 2))
        self.assertNotIn(b"\r", out_csv)
        rows = list(csv.reader(io.StringIO(out_csv.decode("utf-8"), newline="")))
        self.assertEqual(rows[0], CSV_FIELDS)
        records = records_of(out_json)
        self.assertEqual(len(rows) - 1, len(records))
        self.assertEqual([r["status"] for r in records], ["found", "found", "invalid", "error"])
        for row, r in zip(rows[1:], records):
            flat = dict(r, errorCode=(r["error"] or {}).get("code"),
                        errorMessage=(r["error"] or {}).get("message"))
            expected = ["" if flat[f] is None else str(flat[f]) for f in CSV_FIELDS]
            self.assertEqual(row, expected)

    def test_text_shows_a_block_per_record(self):
        status, out, err = cli("--hive", self.both, "--hive", self.short)
        self.assertEqual(status, 1, err)
        self.assertEqual(out.decode(), (
            "Microsoft Exchange\n"
            f"  key         {KEY_A}\n"
            "  product id  65317-308-1234567-45296\n"
            f"  where       {self.both}: {WOW_SETUP} (32-bit view)\n"
            "  value       REG_BINARY, 164 bytes\n"
            "  state       found; hive clean\n"
            "\n"
            "Microsoft Exchange\n"
            f"  key         {KEY_B}\n"
            "  product id  00371-OEM-8992671-00437\n"
            f"  where       {self.both}: {SETUP} (64-bit view)\n"
            "  value       REG_BINARY, 180 bytes\n"
            "  state       found; hive clean\n"
            "\n"
            "Microsoft Exchange\n"
            "  key         none: the value is 40 bytes, too short to hold a key\n"
            "  product id  65317-308-1234567-45296\n"
            f"  where       {self.short}: {SETUP} (64-bit view)\n"
            "  value       REG_BINARY, 40 bytes\n"
            "  state       invalid; hive clean\n"))

    def test_paths_that_are_not_utf8_still_give_valid_json(self):
        raw = os.path.join(WORK.encode(), b"formats/caf\xe9")
        os.makedirs(raw, exist_ok=True)
        shutil.copy(self.both, os.path.join(raw, b"SOFTWARE"))
        status, out, _ = run([CLI.encode(), b"--json", b"--hive", os.path.join(raw, b"SOFTWARE")])
        records = records_of(out)
        self.assertEqual(status, 0)
        # Each byte that is not UTF-8 is a lone surrogate that gives the byte back,
        # and is shown as text so that it differs from every other byte.
        self.assertEqual(records[0]["location"].encode("utf-8", "surrogateescape"),
                         os.path.join(raw, b"SOFTWARE"))
        out = run([CLI.encode(), b"--hive", os.path.join(raw, b"SOFTWARE")])[1]
        self.assertIn(b"where       " + WORK.encode() + b"/formats/caf\\xe9/SOFTWARE: ", out)


class CommandLine(unittest.TestCase):
    def test_exit_status_is_the_worst_source(self):
        found = hive("exit/found/SOFTWARE", exchange(VALUE_A))
        absent = hive("exit/absent/SOFTWARE", {"Wow6432Node": {}})
        missing = os.path.join(WORK, "exit/missing")
        cases = [([found], 0), ([found, found], 0), ([found, absent], 1), ([absent], 1),
                 ([found, missing], 2), ([absent, missing, found], 2)]
        for files, exit_code in cases:
            with self.subTest(files=[os.path.basename(os.path.dirname(f)) for f in files]):
                args = [a for f in files for a in ("--hive", f)]
                status, out, _ = cli("--json", *args)
                self.assertEqual(status, exit_code)
                self.assertEqual([r["location"] for r in records_of(out)], files)

    def test_bad_command_lines(self):
        found = hive("args/SOFTWARE", exchange(VALUE_A))
        cases = [
            ([], "no source given"),
            (["--json"], "no source given"),
            (["--computer", "EXCH01"], "--computer reads a Windows registry"),
            (["--json", "--csv", "--hive", found], "--json and --csv cannot be combined"),
            (["--hive"], "--hive needs a FILE"),
            (["--windows"], "--windows needs a DIR"),
            (["--xml", "--hive", found], "unknown option '--xml'"),
            (["--all-snapshots", "--hive", found], "--all-snapshots reads the snapshots of a disk "
             "image: give it with --image FILE"),
            ([found], f"unexpected argument '{found}': name each source with --hive FILE, "
                      "--windows DIR or --image FILE (or give files after --)"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                status, out, err = cli(*args)
                self.assertEqual((status, out), (2, b""))
                self.assertTrue(err.startswith("tamsket-cli: " + message), err)
                self.assertTrue(err.endswith("Try 'tamsket-cli --help'.\n"), err)

    def test_help_and_version(self):
        status, out, err = cli("--help")
        self.assertEqual((status, err), (0, ""))
        for said in ("--hive FILE", "--hive=FILE", "not-a-file", "read-error", "no-hive-found",
                     "no-image-support", "not 2>&1 | jq", "--all-snapshots",
                     "broken-snapshot-chain"):
            self.assertIn(said, out.decode())
        self.assertNotIn("--computer", out.decode())
        status, out, _ = cli("--version")
        # Shown as the version record shows it: the minor part in two digits,
        # the build in four (1.1.0.5 is 1.01.0005).
        major, minor, _, build = PROJECT_VERSION.split(".")
        shown = f"{int(major)}.{int(minor):02}.{int(build):04}"
        self.assertEqual((status, out), (0, f"tamsket-cli {shown}\n".encode()))

    def test_a_hundred_hives_in_one_call(self):
        files = [hive(f"many/{i:03}/SOFTWARE", exchange(VALUE_A if i % 2 else VALUE_B,
                                                          "64" if i % 3 else "32"))
                 for i in range(100)]
        status, out, err = cli("--json", *[f"--hive={f}" for f in files])
        self.assertEqual(status, 0, err)
        records = records_of(out)
        self.assertEqual([r["location"] for r in records], files)
        self.assertEqual([r["key"] for r in records],
                         [KEY_A if i % 2 else KEY_B for i in range(100)])


class Edges(unittest.TestCase):
    """A failure is one line and exit status 2, never a success, a hang or a broken terminal."""

    def setUp(self):
        self.good = hive("edges/good/SOFTWARE", exchange(VALUE_A))

    def test_output_that_cannot_be_written_is_an_error(self):
        gone_r, gone = os.pipe()
        os.close(gone_r)
        ignore_pipe = lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)  # noqa: E731
        outputs = [([], dict(stdout=open("/dev/full", "wb")), "No space left on device"),
                   (["sh", "-c", 'exec "$@" >&-', "sh"], {}, "Bad file descriptor"),
                   ([], dict(stdout=gone, preexec_fn=ignore_pipe), "Broken pipe"),
                   # A shell's default: SIGPIPE kills the writer unless it is ignored.
                   ([], dict(stdout=gone, restore_signals=True), "Broken pipe")]
        for prefix, streams, reason in outputs:
            for args in (["--json"], ["--csv"], [], ["--help"], ["--version"]):
                with self.subTest(reason, args=args):
                    done = subprocess.run(prefix + [CLI, *args, "--hive", self.good],
                                          stderr=subprocess.PIPE, timeout=60, **streams)
                    self.assertEqual((done.returncode, done.stderr.decode()),
                                     (2, f"tamsket-cli: cannot write the output: {reason}\n"))

    def test_what_is_not_a_file_is_refused_at_once(self):
        fifo, config = f"{WORK}/edges/fifo", f"{WORK}/edges/vol/Windows/System32/config"
        os.makedirs(config)
        for path in (fifo, f"{config}/SOFTWARE"):
            os.mkfifo(path)
        cases = [(["--hive", fifo], None, fifo, "a pipe"),
                 (["--hive", "/dev/stdin"], b"regf" * 2048, "/dev/stdin", "a pipe"),
                 (["--hive", "/dev/null"], None, "/dev/null", "a character device"),
                 (["--windows", f"{WORK}/edges/vol"], None, f"{config}/SOFTWARE", "a pipe")]
        for args, stdin, path, kind in cases:
            with self.subTest(path):
                done = subprocess.run([CLI, "--json", *args, "--hive", self.good], input=stdin,
                                      capture_output=True, timeout=5)
                bad, good = records_of(done.stdout)
                message = f"cannot open {path}: not a regular file ({kind}); copy it to a file first"
                self.assertEqual((done.returncode, bad["error"], good["key"]),
                                 (2, {"code": "not-a-file", "message": message}, KEY_A))
                self.assertEqual(done.stderr.decode(), f"tamsket-cli: {message}\n")

    def test_a_windows_folder_that_cannot_be_read_says_why(self):
        # As root, the locked folder is read as nobody, who must reach the
        # program and the folders: the checkout may lie where only root can.
        base, program, as_nobody = f"{WORK}/edges", CLI, None
        if os.getuid() == 0:
            base = tempfile.mkdtemp(prefix="tamsket-cli-test-")
            self.addCleanup(shutil.rmtree, base)
            os.chmod(base, 0o755)
            program = shutil.copy(CLI, base)
            as_nobody = lambda: os.setuid(65534)  # noqa: E731
            try:
                subprocess.run([program, "--version"], preexec_fn=as_nobody, check=True,
                               capture_output=True, timeout=60)
            except (OSError, subprocess.SubprocessError) as e:
                self.skipTest(f"nobody cannot run a copy of the program in {base}: {e}")
        vol, loop, good = f"{base}/locked", f"{base}/loop", f"{base}/good/SOFTWARE"
        os.makedirs(os.path.dirname(good), exist_ok=True)
        shutil.copy(self.good, good)
        config = f"{vol}/Windows/System32/config"
        os.makedirs(config)
        cli_fixtures.write_software_hive(f"{config}/SOFTWARE", exchange(VALUE_A))
        os.symlink(loop, loop)
        junk = f"{WORK}/edges/junk/System32/config/SOFTWARE"
        os.makedirs(os.path.dirname(junk))
        open(junk, "wb").write(b"MZ" + bytes(8190))
        cases = [(f"{base}/none/Windows", "No such file or directory"),
                 (good, "Not a directory"), (loop, "Too many levels of symbolic links"),
                 (vol, "Permission denied")]
        os.chmod(config, 0o700 if os.getuid() == 0 else 0)
        try:
            for folder, reason in cases:
                with self.subTest(folder):
                    done = subprocess.run([program, "--json", "--windows", folder], timeout=60,
                                          capture_output=True, preexec_fn=as_nobody)
                    (r,) = records_of(done.stdout)
                    failed = config if folder == vol else folder
                    self.assertEqual((done.returncode, r["location"], r["error"]), (2, folder, {
                        "code": "cannot-open", "message": f"cannot open {failed}: {reason}"}))
        finally:
            os.chmod(config, 0o755)
        # Errors of a hive found there name that file.
        status, _, err = cli("--windows", f"{WORK}/edges/junk")
        self.assertIn(f", hive {junk}: not a registry file", err)

    def test_control_characters_never_reach_the_terminal(self):
        path = f"{WORK}/edges/ctl\nfile\x1b[31mRED\u202e"
        shutil.copytree(os.path.dirname(self.good), path)
        shown = path.replace("\n", "\\n").replace("\x1b", "\\x1b").replace("\u202e", "\\u202e")
        status, out, err = cli("--hive", f"{path}/SOFTWARE", "--hive", path + "x")
        self.assertIn(f"  where       {shown}/SOFTWARE: {SETUP} (64-bit view)\n", out.decode())
        self.assertEqual((status, err), (2, f"tamsket-cli: cannot open {shown}x: "
                                            "No such file or directory\n"))
        (r,) = records_of(cli("--json", "--hive", f"{path}/SOFTWARE")[1])
        self.assertEqual(r["location"], f"{path}/SOFTWARE")

    def test_a_hive_of_another_kind_is_named(self):
        system = {"ControlSet001\\Control": {}, "Select": {}}
        cases = [
            (system, "emRoot\\System32\\Config\\SYSTEM", "a SYSTEM hive"),
            (system, "", "a SYSTEM hive"),
            ({"Software\\Microsoft": {}}, "\\??\\C:\\Users\\ann\\NTUSER.DAT",
             "a user's NTUSER.DAT hive"),
            ({"Microsoft\\Windows": {}}, "SOFTWARE", None),
        ]
        for i, (keys, name, kind) in enumerate(cases):
            with self.subTest(name or kind):
                path = hive(f"kinds/{i}/hive", keys, header_name=name)
                hint = kind and f"this looks like {kind}, not SOFTWARE"
                (r,) = records_of(cli("--json", "--hive", path)[1])
                status, out, _ = cli("--hive", path)
                self.assertEqual((status, r["status"], r["hint"]), (1, "absent", hint))
                self.assertEqual(f"  note        {hint}\n" in out.decode(), bool(hint))


def main():
    global CLI, WORK, PROJECT_VERSION
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("work")
    parser.add_argument("--version", required=True, help="PROJECT_VERSION, a.b.c.d")
    args, rest = parser.parse_known_args()
    CLI = os.path.abspath(args.cli)
    WORK = os.path.abspath(args.work)
    PROJECT_VERSION = args.version
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    unittest.main(argv=[sys.argv[0], "-v"] + rest)


if __name__ == "__main__":
    main()
