"""What the console program's tests share: the key decoding rule written out
plainly (an oracle independent of the program), DigitalProductId values (the
first of them the sample of tools/sample_product_id.py), and running the
program with a time limit."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from sample_product_id import sample_product_id  # noqa: E402

ALPHABET = "BCDFGHJKMPQRTVWXY2346789"


def decode_key(window):
    """The key of a 15-byte window: its value modulo 24^25 in base 24, grouped by five."""
    value = int.from_bytes(bytes(window), "little")
    digits = []
    for _ in range(25):
        value, digit = divmod(value, 24)
        digits.append(ALPHABET[digit])
    text = "".join(reversed(digits))
    return "-".join(text[i:i + 5] for i in range(0, 25, 5))


def product_id_value(product_id, packed, size=164):
    """A value laid out as Windows writes one: size at 0, version 3 at 4, the
    product id text at 8, the packed key at 52."""
    data = bytearray(size)
    data[0:4] = size.to_bytes(4, "little")
    data[4] = 3
    text = product_id.encode("ascii") + b"\0"
    data[8:8 + len(text)] = text
    data[52:52 + len(packed)] = packed
    for i in range(67, size):
        data[i] = 0xA0 + i % 16
    return bytes(data)


VALUE_A = sample_product_id()
PACKED_B = bytes(range(1, 16))
VALUE_B = product_id_value("00371-OEM-8992671-00437", PACKED_B, 180)
KEY_A = decode_key(VALUE_A[52:67])
KEY_B = decode_key(PACKED_B)
# Written out as well, so that a fault in the oracle (or a changed sample) shows.
assert KEY_A == "M3R7T-JV33T-PWDB4-F9XM2-RYBVD", KEY_A
assert KEY_B == "QWXBG-9RBY2-MCG7P-KT6GW-XP4VP", KEY_B


def run(command, env=None, timeout=60, stdin=subprocess.DEVNULL):
    """(exit status, stdout bytes, stderr text) of a command that must end within `timeout`."""
    done = subprocess.run(command, env=env, stdin=stdin, capture_output=True, timeout=timeout)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")
