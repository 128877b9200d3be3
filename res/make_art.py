#!/usr/bin/env python3
"""Writes Tamsket's application icon (tamsket.ico) and pointing-hand pointer (hand.cur).

The pictures live below as character grids so they can be touched up in any text editor;
run `python3 res/make_art.py` afterwards and commit the regenerated files with the script.
`--check` only compares the files on disk with what the grids produce (for CI).
Standard library only, and no timestamps or other varying data: the output is byte-identical
on every run, so a rebuild never shows up as a change in git.
"""

import argparse
import pathlib
import struct
import sys

HERE = pathlib.Path(__file__).resolve().parent

# The classic 16-colour VGA/Windows palette, as (red, green, blue). Using exactly these colours
# keeps the 4-bpp icon faithful on 16-colour displays, where Windows maps to this palette anyway.
VGA16 = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 maroon
    (0x00, 0x80, 0x00),  # 2 green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 silver
    (0x80, 0x80, 0x80),  # 8 grey
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 lime
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 fuchsia
    (0x00, 0xFF, 0xFF),  # 14 aqua
    (0xFF, 0xFF, 0xFF),  # 15 white
]

# Icon grid characters -> palette index; '.' is transparent (AND mask bit set).
ICON_COLOURS = {
    "K": 0,   # outline
    "o": 3,   # gold in shadow
    "y": 11,  # gold
    "w": 15,  # highlight
}

KEY_32 = """
.....KKKKKK.....................
...KKwwwwwwKK...................
..KwwyyyyyyyyK..................
.KwyyyyyyyyyyoK.................
.KwyyyyyyyyyyoK.................
KwyyyyoKKyyyyyoK................
KwyyyoK..KyyyyoK................
KwyyoK....KyyyoK................
KwyyoK....KyyyoK................
KyyyyyK..KyyyyoK................
KyyyyyyKKyyyyyoK................
.KyyyyyyyyyyyoK.................
.KyyyyyyyyyyywK.................
..KoyyyyyyyyyywK................
...KKooooooKoyywK...............
.....KKKKKK.KoyywK..............
.............KoyywK.............
..............KoyywK............
...............KoyyyK...........
................KoyyyK..........
.................KoyyyK.........
..................KoyyyK........
...................KoyyyK.......
....................KyyyyK......
...................KyyyyyyK.....
..................KoyyooyyyK....
...................KooKKyyyyK...
....................KK.KyyyyyK..
......................KyyyyyoK..
......................KoyyyoK...
.......................KoyoK....
........................KoK.....
"""

KEY_16 = """
..KKKK..........
.KwwyyK.........
KwyKKyoK........
KwK..KoK........
KyK..KoK........
KyyKKyoK........
.KyyyoyK........
..KKKKoyK.......
......KoyK......
.......KoyK.....
........KyyK....
.......KoyoyK...
........KoKyyK..
.........KoyyyK.
..........KoyoK.
...........KoK..
"""

# Pointer grid: '.' transparent, 'X' black, 'o' white, '@' black and the hotspot.
# The hotspot is where the click lands, so it belongs on the very tip of the index finger.
HAND_32 = """
......X@X.......................
.....XoooX......................
.....XoooX......................
.....XoooX......................
.....XoooX......................
.....XoooX......................
.....XoooX......................
.....XoooXXXX...................
.....XoooXoooXXXX...............
.....XoooXoooXoooXXXX...........
.....XoooXoooXoooXoooX..........
.....XoooXoooXoooXoooX..........
.XX..XoooXoooXoooXoooX..........
XooX.XoooXoooXoooXoooX..........
XoooXXoooooooooooooooX..........
.XoooXoooooooooooooooX..........
..XooooooooooooooooooX..........
...XoooooooooooooooooX..........
....XooooooooooooooooX..........
.....XoooooooooooooooX..........
.....XooooooooooooooX...........
......XooooooooooooX............
......XooooooooooooX............
.......XooooooooooX.............
.......XooooooooooX.............
.......XXXXXXXXXXXX.............
................................
................................
................................
................................
................................
................................
"""


def parse_grid(name, text, size, alphabet):
    rows = text.strip("\n").split("\n")
    if len(rows) != size:
        raise SystemExit(f"{name}: {len(rows)} rows, expected {size}")
    for y, row in enumerate(rows):
        if len(row) != size:
            raise SystemExit(f"{name}: row {y} is {len(row)} wide, expected {size}")
        for x, ch in enumerate(row):
            if ch not in alphabet:
                raise SystemExit(f"{name}: unknown character {ch!r} at x={x} y={y}")
    return rows


def pack_rows(values, bpp):
    """DIB pixel rows: bottom row first, each padded to a 4-byte boundary."""
    out = bytearray()
    for row in reversed(values):
        bits = 0
        nbits = 0
        line = bytearray()
        for v in row:
            bits = (bits << bpp) | v
            nbits += bpp
            if nbits == 8:
                line.append(bits)
                bits = nbits = 0
        if nbits:
            line.append(bits << (8 - nbits))
        line.extend(b"\0" * (-len(line) % 4))
        out += line
    return bytes(out)


def dib(width, height, bpp, palette, colour_rows, mask_rows):
    """A BMP-in-ICO/CUR image: header with doubled height (XOR image + AND mask), palette, XOR, AND."""
    xor = pack_rows(colour_rows, bpp)
    and_mask = pack_rows(mask_rows, 1)
    header = struct.pack(
        "<IiiHHIIiiII",
        40,                  # biSize
        width,
        height * 2,          # both bitmaps are counted in the height
        1,                   # biPlanes
        bpp,
        0,                   # BI_RGB
        len(xor) + len(and_mask),
        0, 0,                # resolution is not used for icons
        len(palette),
        0,
    )
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + pal + xor + and_mask


def icon_image(name, text, size):
    rows = parse_grid(name, text, size, set(ICON_COLOURS) | {"."})
    # Transparent pixels must be black in the XOR image: screen AND 1 XOR 0 leaves the screen alone.
    colours = [[ICON_COLOURS.get(ch, 0) for ch in row] for row in rows]
    mask = [[1 if ch == "." else 0 for ch in row] for row in rows]
    return dib(size, size, 4, VGA16, colours, mask)


def cursor_image(name, text, size):
    rows = parse_grid(name, text, size, {".", "X", "o", "@"})
    spots = [(x, y) for y, row in enumerate(rows) for x, ch in enumerate(row) if ch == "@"]
    if len(spots) != 1:
        raise SystemExit(f"{name}: exactly one '@' (hotspot) is needed, found {len(spots)}")
    # A pointer that clicks below the visible fingertip feels off by a pixel or two; catch an
    # edit that moves the finger but leaves the '@' behind.
    top = min(y for y, row in enumerate(rows) if row.strip("."))
    if spots[0][1] != top:
        raise SystemExit(f"{name}: the hotspot is on row {spots[0][1]}, the fingertip on row {top}")
    colours = [[1 if ch == "o" else 0 for ch in row] for row in rows]
    mask = [[1 if ch == "." else 0 for ch in row] for row in rows]
    return dib(size, size, 1, [(0, 0, 0), (0xFF, 0xFF, 0xFF)], colours, mask), spots[0]


def icon_file(resource_type, entries):
    """ICONDIR + ICONDIRENTRYs + images. entries: (width, colour_count, field1, field2, image).

    For icons field1/field2 are planes and bit count; for cursors they hold the hotspot."""
    head = struct.pack("<HHH", 0, resource_type, len(entries))
    offset = len(head) + 16 * len(entries)
    directory = b""
    images = b""
    for width, colour_count, field1, field2, image in entries:
        size_byte = width % 256  # 256 would be written as 0
        directory += struct.pack("<BBBBHHII", size_byte, size_byte, colour_count, 0,
                                 field1, field2, len(image), offset + len(images))
        images += image
    return head + directory + images


def build():
    ico = icon_file(1, [
        (32, 16, 1, 4, icon_image("KEY_32", KEY_32, 32)),
        (16, 16, 1, 4, icon_image("KEY_16", KEY_16, 16)),
    ])
    hand, (hx, hy) = cursor_image("HAND_32", HAND_32, 32)
    cur = icon_file(2, [(32, 2, hx, hy, hand)])
    return {"tamsket.ico": ico, "hand.cur": cur}, (hx, hy)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="fail if the files in the output directory differ from what the grids produce")
    parser.add_argument("--out-dir", type=pathlib.Path, default=HERE,
                        help="where to write (default: beside this script)")
    args = parser.parse_args()

    files, (hx, hy) = build()
    stale = []
    for name, data in files.items():
        path = args.out_dir / name
        if args.check:
            if not path.is_file() or path.read_bytes() != data:
                stale.append(name)
        else:
            path.write_bytes(data)
            print(f"wrote {path} ({len(data)} bytes)")
    print(f"hand.cur hotspot: x={hx} y={hy}")
    if stale:
        print("out of date, run res/make_art.py: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
