#!/usr/bin/env python3
"""The Ansible playbook of docs/fleet.md run for real: ansible-core, a local
connection, an inventory of several hosts each pointing at its own fixture
hives, and the collected table checked row by row; the doc's command is run in
the work folder, with a Windows server and no ansible.windows, then over hosts
that are all unreachable.

    fleet_test.py CLI WORK_DIR

Exit status 77 (skipped) when ansible-playbook is not installed.
"""

import csv
import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_support import KEY_A, KEY_B, VALUE_A, VALUE_B  # noqa: E402
import cli_fixtures  # noqa: E402

PLAYBOOK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../docs/fleet/collect-keys.yml")
SETUP = "Microsoft\\Exchange\\Setup"


def software_hive(path, keys):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    cli_fixtures.write_software_hive(path, keys)
    return path


def main():
    cli, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    playbook = shutil.which("ansible-playbook")
    if not playbook:
        print("SKIP: ansible-playbook is not installed (Debian package ansible-core)")
        return 77
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    a = software_hive(f"{work}/exch-a/SOFTWARE",
                      {"Wow6432Node": {}, SETUP: {"DigitalProductId": (3, VALUE_A)}})
    b = software_hive(f"{work}/exch-b/SOFTWARE",
                      {SETUP: {"DigitalProductId": (3, VALUE_B)},
                       "Wow6432Node\\" + SETUP: {"DigitalProductId": (3, VALUE_A)}})
    c = software_hive(f"{work}/exch-c/SOFTWARE", {"Wow6432Node": {}, "Microsoft\\Windows": {}})
    d_missing = f"{work}/exch-d/old/SOFTWARE"
    hosts = {"exch-a": [a], "exch-b": [b], "exch-c": [c], "exch-d": [a, d_missing]}
    with open(f"{work}/inventory.ini", "w") as f:
        f.write("[backups]\n")
        for host, hives in hosts.items():
            f.write(f"{host} tamsket_hives='{json.dumps(hives)}'\n")
        f.write("exch-e tamsket_hives='[\"/x\"]' tamsket_cli=/nonexistent/tamsket-cli\n")
        f.write(f"[backups:vars]\nansible_connection=local\n"
                f"ansible_python_interpreter=/usr/bin/python3\ntamsket_cli={cli}\n")
        f.write("[exchange]\nexch-win ansible_connection=winrm\n")
    table = f"{work}/exchange-keys.csv"
    # No collection path that could hold ansible.windows, wherever the test runs.
    env = dict(os.environ, ANSIBLE_HOME=f"{work}/ansible", ANSIBLE_LOCAL_TEMP=f"{work}/tmp",
               ANSIBLE_NOCOLOR="1", ANSIBLE_RETRY_FILES_ENABLED="0",
               ANSIBLE_PYTHON_INTERPRETER="/usr/bin/python3",
               ANSIBLE_COLLECTIONS_PATH=f"{work}/none", ANSIBLE_COLLECTIONS_SCAN_SYS_PATH="0")
    command = [playbook, "-i", "inventory.ini", PLAYBOOK, "-e", "table=exchange-keys.csv"]
    done = subprocess.run(command, cwd=work, env=env, capture_output=True,
                          text=True, timeout=180, stdin=subprocess.DEVNULL)
    if done.returncode != 0:
        print(done.stdout, done.stderr)
        print(f"FAIL: ansible-playbook exited {done.returncode}")
        return 1
    with open(table, newline="") as f:
        rows = list(csv.reader(f))
    expected = [
        ["host", "source", "location", "view", "status", "key", "productId", "hiveState", "error"],
        ["exch-a", "hive", a, "64-bit", "found", KEY_A, "65317-308-1234567-45296", "clean", ""],
        ["exch-b", "hive", b, "32-bit", "found", KEY_A, "65317-308-1234567-45296", "clean", ""],
        ["exch-b", "hive", b, "64-bit", "found", KEY_B, "00371-OEM-8992671-00437", "clean", ""],
        ["exch-c", "hive", c, "", "absent", "", "", "clean", ""],
        ["exch-d", "hive", a, "64-bit", "found", KEY_A, "65317-308-1234567-45296", "clean", ""],
    ]
    failures = 0
    for want, got in zip(expected, rows):
        if want != got:
            print(f"FAIL: row {got}, expected {want}")
            failures += 1
    # Nothing listens on port 9 here, so each host of this inventory is unreachable at once.
    os.makedirs(f"{work}/gone")
    with open(f"{work}/gone/inventory.ini", "w") as f:
        f.writelines(f"gone-{n} tamsket_hives='[\"/x\"]' ansible_connection=ssh ansible_host=127.0.0.1 "
                     "ansible_port=9\n" for n in "ab")
    done = subprocess.run(command, cwd=f"{work}/gone", env=env, capture_output=True, text=True,
                          timeout=180, stdin=subprocess.DEVNULL)
    gone_table = f"{work}/gone/exchange-keys.csv"
    with open(gone_table if os.path.exists(gone_table) else os.devnull, newline="") as f:
        gone = list(csv.reader(f))
    # The rows after the records: their first five fields, and what the error must name.
    after = [(["exch-d", "hive", d_missing, "", "error"], d_missing),
             (["exch-e", "", "", "", "not-run"], "nonexistent"),
             (["exch-win", "", "", "", "not-run"], "ansible-galaxy collection install ansible.windows")] + \
        [([f"gone-{n}", "", "", "", "not-run"], "ssh") for n in "ab"]
    for (want, reason), got in zip(after, rows[6:] + gone[1:] + [[]] * len(after)):
        if got[:5] != want or reason not in "".join(got[8:]):
            print(f"FAIL: row {got}, expected {want} and an error naming {reason}")
            failures += 1
    if len(rows) != 9 or len(gone) != 3 or done.returncode != 0:
        print(done.stdout, f"FAIL: {len(rows)} and {len(gone)} rows; the second run exited {done.returncode}")
        failures += 1
    print(f"{len(rows) - 1} rows, {failures} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
