#!/usr/bin/env python3
"""Turns the 32-bit top-down BMP a Windows test wrote into a PNG for people to look at."""
import struct
import sys
import zlib


def main(source, target):
    data = open(source, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 32:
        sys.exit(f"{source}: {bits} bits per pixel, expected 32")
    top_down = height < 0
    height = abs(height)
    rows = []
    for y in range(height):
        row = y if top_down else height - 1 - y
        start = offset + row * width * 4
        bgrx = data[start:start + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = bgrx[2::4], bgrx[1::4], bgrx[0::4]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
           + chunk(b"IEND", b""))
    open(target, "wb").write(png)


if __name__ == "__main__":
    main(*sys.argv[1:3])
