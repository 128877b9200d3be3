#!/usr/bin/env python3
"""Prints a made-up DigitalProductId value as hex, for `reg add /t REG_BINARY /d`.

164 bytes laid out as Exchange writes them: the size, a version, the product id
text, then the packed key at offset 52. Invented, not a real key; it decodes to
M3R7T-JV33T-PWDB4-F9XM2-RYBVD, the key the tests install and the screenshot in
README shows.
"""
import struct

value = bytearray(164)
struct.pack_into("<II", value, 0, 164, 3)
value[8:32] = b"65317-308-1234567-45296\0"
value[52:67] = bytes.fromhex("3a910ce75518d26b04af7329be4002")
value[67:] = bytes(0xA0 + i % 16 for i in range(67, 164))
print(value.hex())
