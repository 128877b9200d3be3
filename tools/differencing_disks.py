"""Differencing VHD and VHDX disks (Hyper-V snapshot links, .avhd/.avhdx), for
the --image tests' fixtures: qemu writes dynamic bases but no differencing disk.

Written from the formats Microsoft publishes: its VHD image format document
(October 2006) and [MS-VHDX] (v20180912), with libyal's libvhdi format notes
as a second view.

    differencing_vhdx(path, parent_path, writes, **links) -> own DataWriteGuid
    differencing_vhd(path, parent_path, writes, **links)  -> own unique id
    vhdx_data_write_guid(path), vhd_unique_id(path)       a parent's identity

`writes` is a mapping or a list of (byte offset, bytes) in the virtual disk,
both multiples of 512; later writes win. Sectors not written read through to
the parent, whose size the child takes. The parent may itself be a
differencing disk, so chains of any depth can be made, each link written after
its parent (a link records the parent's identity as it is then).

Links (keyword arguments of both writers):
    parent_name    file name recorded for the parent (default: its own name)
    relative, absolute  record the relative path (".\\NAME") and/or the
                   absolute one (under `folder`, default C:\\Hyper-V\\Disks)
    parent_id      a uuid.UUID recorded instead of the parent's real identity,
                   for a mismatched-parent case
    own_id         the child's identity (default: a random one)

VHDX fields: file type identifier; two headers (CRC-32C, sequence numbers 1
and 2, the same DataWriteGuid, no log in use: LogGuid zero over a 1 MiB log
region); two region tables (BAT, metadata); metadata items File Parameters
(block size, HasParent), Virtual Disk Size, Virtual Disk ID, Logical and
Physical Sector Size (the parent's), Parent Locator (type B04AEFB7-...:
parent_linkage = the parent's DataWriteGuid as "{lowercase}", relative_path,
volume_path, absolute_win32_path, UTF-16LE). BAT: payload entries interleaved
with one sector bitmap entry per chunk; a block holding written sectors is
PAYLOAD_BLOCK_PARTIALLY_PRESENT (FULLY_PRESENT when every sector is written)
with its chunk's sector bitmap block SB_BLOCK_PRESENT (bit n of the bitmap,
LSB first, is virtual sector n of the chunk).

VHD fields: footer (copy at 0 and at the end, disk type 4, geometry and sizes
of the parent); dynamic header with Parent Unique ID (the parent footer's
unique id), Parent Time Stamp (the parent file's modification time), Parent
Unicode Name (UTF-16BE) and parent locator entries W2ru / W2ku (UTF-16LE
paths, 512 bytes reserved each; Platform Data Space holds bytes, as Virtual PC
and Hyper-V write it, not the sectors the document names); BAT; blocks of a
sector bitmap (MSB first, a set bit = the sector is in this file) and data.

Readers: libvhdi 20210425 (vhdiinfo, vhdimount, The Sleuth Kit) finds a VHDX
parent by absolute_win32_path only, a VHD parent by the Parent Unicode Name,
both in the child's folder by file name; it refuses a parent whose identity
differs. It reads a set bit of a VHD bitmap as if the run went on to the end of
its byte, so VHD writes read back right only where runs end on a multiple of 8
sectors (4 KiB clusters do). qemu reads a differencing VHD as a dynamic disk
without its parent and refuses a differencing VHDX.
"""

import os
import struct
import time
import uuid

SECTOR = 512
MiB = 1 << 20

# [MS-VHDX] constants, as the document prints them.
VHDX_SIGNATURE = b"vhdxfile"
VHDX_HEADER_SIGNATURE = 0x64616568  # "head"
VHDX_REGION_SIGNATURE = 0x69676572  # "regi"
VHDX_METADATA_SIGNATURE = 0x617461646174656D  # "metadata"
BAT_REGION = uuid.UUID("2DC27766-F623-4200-9D64-115E9BFD4A08")
METADATA_REGION = uuid.UUID("8B7CA206-4790-4B9A-B8FE-575F050F886E")
FILE_PARAMETERS = uuid.UUID("CAA16737-FA36-4D43-B3B6-33F0AA44E76B")
VIRTUAL_DISK_SIZE = uuid.UUID("2FA54224-CD1B-4876-B211-5DBED83BF4B8")
VIRTUAL_DISK_ID = uuid.UUID("BECA12AB-B2E6-4523-93EF-C309E000C746")
LOGICAL_SECTOR_SIZE = uuid.UUID("8141BF1D-A96F-4709-BA47-F233A8FAAB5F")
PHYSICAL_SECTOR_SIZE = uuid.UUID("CDA348C7-445D-4471-9CC9-E9885251C556")
PARENT_LOCATOR = uuid.UUID("A8D35F2D-B30B-454D-ABF7-D3D84834AB0C")
VHDX_PARENT_LOCATOR_TYPE = uuid.UUID("B04AEFB7-D19E-4A81-B789-25B8E9445913")
PAYLOAD_BLOCK_FULLY_PRESENT = 6
PAYLOAD_BLOCK_PARTIALLY_PRESENT = 7
SB_BLOCK_PRESENT = 6
HAS_PARENT = 0x2
IS_VIRTUAL_DISK, IS_REQUIRED = 0x2, 0x4
CRC32C_POLYNOMIAL = 0x82F63B78  # Castagnoli 0x1EDC6F41, bits reflected

# The VHD format's constants: footer, dynamic header, parent locators.
VHD_COOKIE = b"conectix"
VHD_DYNAMIC_COOKIE = b"cxsparse"
VHD_VERSION = 0x00010000
VHD_FEATURES_RESERVED = 0x00000002
VHD_DIFFERENCING = 4
VHD_UNUSED = 0xFFFFFFFF
VHD_EPOCH = 946684800  # 2000-01-01 00:00:00 UTC in Unix time
W2RU, W2KU = b"W2ru", b"W2ku"

DEFAULT_FOLDER = "C:\\Hyper-V\\Disks"


def _crc32c_table():
    table = []
    for n in range(256):
        for _ in range(8):
            n = (n >> 1) ^ CRC32C_POLYNOMIAL if n & 1 else n >> 1
        table.append(n)
    return table


_CRC32C = _crc32c_table()


def crc32c(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc = _CRC32C[(crc ^ byte) & 0xFF] ^ (crc >> 8)
    return crc ^ 0xFFFFFFFF


def _sectors(writes, size):
    """The written sectors, number -> bytes, later writes over earlier ones."""
    sectors = {}
    for offset, data in (writes.items() if isinstance(writes, dict) else writes):
        if offset % SECTOR or len(data) % SECTOR or offset + len(data) > size:
            raise ValueError(f"write of {len(data)} bytes at {offset}: not whole sectors in the disk")
        for i in range(0, len(data), SECTOR):
            sectors[(offset + i) // SECTOR] = bytes(data[i:i + SECTOR])
    return sectors


def _locator_paths(parent_path, parent_name, relative, absolute, folder):
    name = parent_name or os.path.basename(parent_path)
    return (".\\" + name if relative else None), (folder + "\\" + name if absolute else None)


def _read(path, offset, length):
    with open(path, "rb") as f:
        f.seek(offset)
        return f.read(length)


# --- VHDX ---------------------------------------------------------------------------------------


def _vhdx_regions(path):
    """The region table entries of the first valid table: GUID -> (offset, length)."""
    for at in (192 * 1024, 256 * 1024):
        table = bytearray(_read(path, at, 64 * 1024))
        signature, checksum, count = struct.unpack_from("<III", table)
        table[4:8] = bytes(4)
        if signature == VHDX_REGION_SIGNATURE and crc32c(table) == checksum:
            entries = {}
            for i in range(count):
                guid, offset, length = struct.unpack_from("<16sQI", table, 16 + 32 * i)
                entries[uuid.UUID(bytes_le=guid)] = (offset, length)
            return entries
    raise ValueError(f"{path}: no valid VHDX region table")


def vhdx_metadata(path):
    """The metadata items of a VHDX: GUID -> bytes."""
    offset, _ = _vhdx_regions(path)[METADATA_REGION]
    table = _read(path, offset, 64 * 1024)
    signature, count = struct.unpack_from("<QxxH", table)
    if signature != VHDX_METADATA_SIGNATURE:
        raise ValueError(f"{path}: no VHDX metadata table")
    items = {}
    for i in range(count):
        guid, at, length = struct.unpack_from("<16sII", table, 32 + 32 * i)
        items[uuid.UUID(bytes_le=guid)] = _read(path, offset + at, length)
    return items


def vhdx_data_write_guid(path):
    """The DataWriteGuid of the current header (the valid one of higher sequence number)."""
    best = None
    for at in (64 * 1024, 128 * 1024):
        header = bytearray(_read(path, at, 4096))
        signature, checksum, sequence = struct.unpack_from("<IIQ", header)
        header[4:8] = bytes(4)
        if signature == VHDX_HEADER_SIGNATURE and crc32c(header) == checksum:
            if best is None or sequence > best[0]:
                best = (sequence, uuid.UUID(bytes_le=bytes(header[32:48])))
    if best is None:
        raise ValueError(f"{path}: no valid VHDX header")
    return best[1]


def _utf16(text):
    return text.encode("utf-16-le")


def _parent_locator(linkage, relative_path, absolute_path):
    pairs = [("parent_linkage", "{" + str(linkage).lower() + "}")]
    if relative_path:
        pairs.append(("relative_path", relative_path))
    if absolute_path:
        # The volume path names the volume by GUID; this one is made up but well formed.
        volume = "\\\\?\\Volume{" + str(uuid.uuid5(linkage, "volume")) + "}" + absolute_path[2:]
        pairs += [("volume_path", volume), ("absolute_win32_path", "\\\\?\\" + absolute_path)]
    header = struct.pack("<16sHH", VHDX_PARENT_LOCATOR_TYPE.bytes_le, 0, len(pairs))
    entries, data = b"", b""
    at = len(header) + 12 * len(pairs)
    for key, value in pairs:
        key, value = _utf16(key), _utf16(value)
        entries += struct.pack("<IIHH", at + len(data), at + len(data) + len(key), len(key), len(value))
        data += key + value
    return header + entries + data


def _vhdx_header(sequence, file_write, data_write):
    header = bytearray(4096)
    struct.pack_into("<IIQ16s16s16sHHIQ", header, 0, VHDX_HEADER_SIGNATURE, 0, sequence,
                     file_write.bytes_le, data_write.bytes_le, bytes(16), 0, 1, MiB, MiB)
    struct.pack_into("<I", header, 4, crc32c(header))
    return bytes(header)


def _vhdx_region_table(regions):
    table = bytearray(64 * 1024)
    struct.pack_into("<IIII", table, 0, VHDX_REGION_SIGNATURE, 0, len(regions), 0)
    for i, (guid, offset, length) in enumerate(regions):
        struct.pack_into("<16sQII", table, 16 + 32 * i, guid.bytes_le, offset, length, 1)
    struct.pack_into("<I", table, 4, crc32c(table))
    return bytes(table)


def _vhdx_metadata(items):
    """The metadata region's table and items; `items` are (GUID, flags, bytes)."""
    region = bytearray(64 * 1024)
    struct.pack_into("<QHH", region, 0, VHDX_METADATA_SIGNATURE, 0, len(items))
    for i, (guid, flags, data) in enumerate(items):
        struct.pack_into("<16sIII", region, 32 + 32 * i, guid.bytes_le, len(region), len(data), flags)
        region += data + bytes(-len(data) % 4096)
    return bytes(region)


def differencing_vhdx(path, parent_path, writes, parent_name=None, relative=True, absolute=True,
                      folder=DEFAULT_FOLDER, parent_id=None, own_id=None, block_size=2 * MiB):
    items = vhdx_metadata(parent_path)
    size = struct.unpack("<Q", items[VIRTUAL_DISK_SIZE])[0]
    logical = struct.unpack("<I", items[LOGICAL_SECTOR_SIZE])[0]
    physical = struct.unpack("<I", items[PHYSICAL_SECTOR_SIZE])[0]
    if logical != SECTOR:
        raise ValueError(f"{parent_path}: logical sectors of {logical} bytes; only 512 is written")
    linkage = parent_id or vhdx_data_write_guid(parent_path)
    own_id = own_id or uuid.uuid4()
    relative_path, absolute_path = _locator_paths(parent_path, parent_name, relative, absolute,
                                                  folder)

    sectors = _sectors(writes, size)
    per_block = block_size // SECTOR
    chunk_ratio = (1 << 23) * SECTOR // block_size
    blocks = -(-size // block_size)
    chunks = -(-blocks // chunk_ratio)
    bat = [0] * (chunks * (chunk_ratio + 1))
    bat_length = -(-len(bat) * 8 // MiB) * MiB
    log_at, metadata_at, bat_at = MiB, 2 * MiB, 3 * MiB
    end = bat_at + bat_length

    placed = []  # (file offset, bytes)
    bitmaps = {}  # chunk -> bytearray
    for block in sorted({s // per_block for s in sectors}):
        chunk = block // chunk_ratio
        bitmap = bitmaps.setdefault(chunk, bytearray(MiB))
        present = 0
        for s in range(block * per_block, (block + 1) * per_block):
            if s in sectors:
                bit = s - chunk * chunk_ratio * per_block
                bitmap[bit // 8] |= 1 << (bit % 8)
                placed.append((end + (s - block * per_block) * SECTOR, sectors[s]))
                present += 1
        state = PAYLOAD_BLOCK_FULLY_PRESENT if present == per_block else PAYLOAD_BLOCK_PARTIALLY_PRESENT
        bat[block + chunk] = state | (end // MiB) << 20
        end += block_size
    for chunk, bitmap in sorted(bitmaps.items()):
        bat[chunk * (chunk_ratio + 1) + chunk_ratio] = SB_BLOCK_PRESENT | (end // MiB) << 20
        placed.append((end, bytes(bitmap)))
        end += MiB

    metadata = _vhdx_metadata([
        (FILE_PARAMETERS, IS_REQUIRED, struct.pack("<II", block_size, HAS_PARENT)),
        (VIRTUAL_DISK_SIZE, IS_VIRTUAL_DISK | IS_REQUIRED, struct.pack("<Q", size)),
        (VIRTUAL_DISK_ID, IS_VIRTUAL_DISK | IS_REQUIRED, uuid.uuid4().bytes_le),
        (LOGICAL_SECTOR_SIZE, IS_VIRTUAL_DISK | IS_REQUIRED, struct.pack("<I", logical)),
        (PHYSICAL_SECTOR_SIZE, IS_VIRTUAL_DISK | IS_REQUIRED, struct.pack("<I", physical)),
        (PARENT_LOCATOR, IS_REQUIRED, _parent_locator(linkage, relative_path, absolute_path)),
    ])
    regions = _vhdx_region_table([(BAT_REGION, bat_at, bat_length),
                                  (METADATA_REGION, metadata_at, MiB)])
    file_write = uuid.uuid4()
    creator = _utf16("tamsket differencing_disks.py")
    with open(path, "wb") as f:
        f.truncate(end)
        fd = f.fileno()
        os.pwrite(fd, VHDX_SIGNATURE + creator, 0)
        os.pwrite(fd, _vhdx_header(1, file_write, own_id), 64 * 1024)
        os.pwrite(fd, _vhdx_header(2, file_write, own_id), 128 * 1024)
        os.pwrite(fd, regions, 192 * 1024)
        os.pwrite(fd, regions, 256 * 1024)
        assert log_at + MiB == metadata_at and len(metadata) <= MiB
        os.pwrite(fd, metadata, metadata_at)
        os.pwrite(fd, struct.pack(f"<{len(bat)}Q", *bat), bat_at)
        for at, data in placed:
            os.pwrite(fd, data, at)
    return own_id


# --- VHD ----------------------------------------------------------------------------------------


def _vhd_checksum(data):
    return ~sum(data) & 0xFFFFFFFF


def vhd_footer(path):
    """The footer at the end of a fixed, dynamic or differencing VHD."""
    with open(path, "rb") as f:
        f.seek(-SECTOR, os.SEEK_END)
        footer = f.read(SECTOR)
    if footer[:8] != VHD_COOKIE:
        raise ValueError(f"{path}: no VHD footer")
    return footer


def vhd_unique_id(path):
    return uuid.UUID(bytes=vhd_footer(path)[68:84])


def differencing_vhd(path, parent_path, writes, parent_name=None, relative=True, absolute=True,
                     folder=DEFAULT_FOLDER, parent_id=None, own_id=None, block_size=2 * MiB):
    parent = vhd_footer(parent_path)
    original, size, geometry = struct.unpack_from(">QQ4s", parent, 40)
    linkage = parent_id or uuid.UUID(bytes=parent[68:84])
    own_id = own_id or uuid.uuid4()
    name = parent_name or os.path.basename(parent_path)
    relative_path, absolute_path = _locator_paths(parent_path, parent_name, relative, absolute,
                                                  folder)

    sectors = _sectors(writes, size)
    per_block = block_size // SECTOR
    bitmap_length = -(-per_block // 8 // SECTOR) * SECTOR
    blocks = -(-size // block_size)
    bat = [VHD_UNUSED] * blocks
    bat_at = 3 * SECTOR
    end = bat_at + -(-blocks * 4 // SECTOR) * SECTOR

    locators, entries = [], b""
    for code, text in ((W2RU, relative_path), (W2KU, absolute_path)):
        if text:
            data = _utf16(text)
            space = -(-len(data) // SECTOR) * SECTOR
            entries += struct.pack(">4sIIIQ", code, space, len(data), 0, end)
            locators.append((end, data))
            end += space

    placed = []
    for block in sorted({s // per_block for s in sectors}):
        bitmap = bytearray(bitmap_length)
        for s in range(block * per_block, (block + 1) * per_block):
            if s in sectors:
                bit = s - block * per_block
                bitmap[bit // 8] |= 0x80 >> (bit % 8)
                placed.append((end + bitmap_length + bit * SECTOR, sectors[s]))
        bat[block] = end // SECTOR
        placed.append((end, bytes(bitmap)))
        end += bitmap_length + block_size

    header = bytearray(1024)
    struct.pack_into(">8sQQIII", header, 0, VHD_DYNAMIC_COOKIE, 0xFFFFFFFFFFFFFFFF, bat_at,
                     VHD_VERSION, blocks, block_size)
    stamp = int(os.stat(parent_path).st_mtime) - VHD_EPOCH
    struct.pack_into(">16sI4x512s", header, 40, linkage.bytes, stamp,
                     name.encode("utf-16-be")[:512])
    header[576:576 + len(entries)] = entries
    struct.pack_into(">I", header, 36, _vhd_checksum(header))

    footer = bytearray(SECTOR)
    struct.pack_into(">8sIIQI4sI4sQQ4sI", footer, 0, VHD_COOKIE, VHD_FEATURES_RESERVED, VHD_VERSION,
                     SECTOR, int(time.time()) - VHD_EPOCH, b"tmsk", VHD_VERSION, b"Wi2k", original,
                     size, geometry, VHD_DIFFERENCING)
    footer[68:84] = own_id.bytes
    struct.pack_into(">I", footer, 64, _vhd_checksum(footer))

    with open(path, "wb") as f:
        f.truncate(end + SECTOR)
        fd = f.fileno()
        os.pwrite(fd, footer, 0)
        os.pwrite(fd, header, SECTOR)
        os.pwrite(fd, struct.pack(f">{blocks}I", *bat), bat_at)
        for at, data in locators + placed:
            os.pwrite(fd, data, at)
        os.pwrite(fd, footer, end)
    return own_id
