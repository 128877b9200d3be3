"""SOFTWARE hives for the console program's tests, written by the hive tests'
own writer (tests/hive/make_hive.py)."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "hive"))
from make_hive import Key, build_hive  # noqa: E402


def write_software_hive(path, keys, dirty=False, minor=5, header_name="SOFTWARE"):
    """Writes a hive whose root stands for HKLM\\SOFTWARE, holding `keys`:
    path ('\\' separated) -> {value name: (type, bytes)}; an empty dict makes
    just the key; `header_name` is the file name its header keeps. Returns where each cell went (make_hive's Image.cells:
    offsets from the first bin, at file offset 4096)."""
    root = Key("ROOT")
    for key_path, values in keys.items():
        key = root.key(key_path)
        for name, (value_type, data) in values.items():
            key.value(name, value_type, bytes(data))
    image = build_hive(root, minor=minor, dirty=dirty, name=header_name)
    with open(path, "wb") as f:
        f.write(image.data)
    return image.cells
