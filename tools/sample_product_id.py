#!/usr/bin/env python3
"""The made-up DigitalProductId that Tamsket's tools and tests use, written
here and nowhere else.

164 bytes laid out as Exchange writes them: the size, a version, the product id
text, then the packed key at offset 52. Invented, not a real key; it decodes to
M3R7T-JV33T-PWDB4-F9XM2-RYBVD, the key the tests install and the screenshot in
README shows.

    sample_product_id.py               prints the value as hex, for `reg add /t REG_BINARY /d`
    sample_product_id.py --header FILE writes it as a C++ header (the C++ tests' copy)

From Python: `sample_product_id()` gives the bytes, `PRODUCT_ID_TEXT` the text at
offset 8.
"""
import argparse
import struct
import sys

PRODUCT_ID_TEXT = "65317-308-1234567-45296"
PACKED_KEY = bytes.fromhex("3a910ce75518d26b04af7329be4002")
SIZE = 164


def sample_product_id():
    value = bytearray(SIZE)
    struct.pack_into("<II", value, 0, SIZE, 3)
    text = PRODUCT_ID_TEXT.encode("ascii") + b"\0"
    value[8:8 + len(text)] = text
    value[52:52 + len(PACKED_KEY)] = PACKED_KEY
    # Not zeros after the key, so that a reader taking more than its 15 bytes shows.
    value[67:] = bytes(0xA0 + i % 16 for i in range(67, SIZE))
    return bytes(value)


def cxx_header():
    value = sample_product_id()
    rows = [", ".join("0x%02x" % b for b in value[i:i + 12]) for i in range(0, len(value), 12)]
    return ("// Written by tools/sample_product_id.py, which holds the sample value: edit it there.\n"
            "#pragma once\n\n"
            "#include <cstdint>\n\n"
            "// The made-up sample DigitalProductId (not a real key).\n"
            "inline constexpr std::uint8_t kSampleProductId[%d] = {\n    %s,\n};\n"
            % (len(value), ",\n    ".join(rows)))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--header", metavar="FILE", help="write the value as a C++ header")
    args = parser.parse_args(argv)
    if args.header:
        with open(args.header, "w") as f:
            f.write(cxx_header())
    else:
        print(sample_product_id().hex())
    return 0


if __name__ == "__main__":
    sys.exit(main())
