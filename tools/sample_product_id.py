#!/usr/bin/env python3
"""Prints a made-up DigitalProductId value as hex, for `reg add /t REG_BINARY /d`.

164 bytes laid out as Exchange writes them: the size, a version, the product id
text, then the packed key at offset 52. Invented, not a real key; it decodes to
FB4GD-VCCYG-YBTTT-7FD2M-4GXJW.
"""
import struct

value = bytearray(164)
struct.pack_into("<II", value, 0, 164, 3)
value[8:32] = b"12345-678-9012345-67890\0"
value[52:67] = bytes.fromhex("5e2a91c3077bd4108ee63b52a9f106")
print(value.hex())
