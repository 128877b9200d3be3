#!/usr/bin/env python3
"""Turns the 32-bit top-down BMPs a Windows test wrote into PNGs for people to look at.

    bmp_to_png.py [--skip-if FILE] SOURCE.bmp TARGET.png [SOURCE.bmp TARGET.png ...]

With --skip-if, a FILE that exists holds why the Windows tests could not run here: the
conversion is then skipped (exit code 77), saying so.
"""
import os
import struct
import sys
import zlib


def main(source, target):
    with open(source, "rb") as f:
        data = f.read()
    (offset,) = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 32:
        sys.exit(f"{source}: {bits} bits per pixel, expected 32")
    rows = []
    # A negative height marks a top-down bitmap; a positive one stores the bottom row first.
    for row in range(-height) if height < 0 else reversed(range(height)):
        bgrx = data[offset + row * width * 4:offset + (row + 1) * width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = bgrx[2::4], bgrx[1::4], bgrx[0::4]
        rows.append(b"\0" + bytes(rgb))  # each PNG row starts with its filter type, none

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
           + chunk(b"IEND", b""))
    with open(target, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    args = sys.argv[1:]
    if args[:1] == ["--skip-if"]:
        if os.path.exists(args[1]):
            print("SKIPPED: " + open(args[1]).read().strip())
            sys.exit(77)
        args = args[2:]
    for source, target in zip(args[0::2], args[1::2]):
        main(source, target)
