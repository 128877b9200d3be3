#!/usr/bin/env python3
"""Checks a built tamsket.exe the way a clean Windows machine will see it.

    check_pe.py EXE --arch x86|amd64

- every imported DLL must ship with Windows: a MinGW runtime DLL (libstdc++-6, libgcc_s_*,
  libwinpthread-1) means the exe was not linked -static and will not start on a machine
  without MinGW;
- the RT_MANIFEST resource must name the exe's own architecture, both for the program and for
  its Common-Controls 6 dependency (Windows refuses to start the exe otherwise), and ask for
  asInvoker;
- RT_VERSION must carry the expected file and product version;
- the icon group must have 32x32 and 16x16 images, and the pointer must be there.

The PE file is parsed here directly, so the check does not depend on which binutils are around.
Exit status: 0 all good, 1 a check failed, 2 the file could not be read as a PE image.
"""

import argparse
import fnmatch
import struct
import sys
import xml.etree.ElementTree as ET

RT_CURSOR, RT_ICON, RT_VERSION = 1, 3, 16
RT_GROUP_CURSOR, RT_GROUP_ICON, RT_MANIFEST = 12, 14, 24

MACHINES = {"x86": (0x014C, 0x10B, "PE32"), "amd64": (0x8664, 0x20B, "PE32+")}

# DLLs present on every supported Windows; compared case-insensitively.
SYSTEM_DLLS = [
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "shell32.dll",
    "shlwapi.dll", "advapi32.dll", "msvcrt.dll", "ucrtbase.dll", "winspool.drv", "ole32.dll",
    "oleaut32.dll", "version.dll", "uxtheme.dll", "api-ms-win-crt-*.dll",
]
# Named in the failure message because they are the usual way this check fails.
MINGW_RUNTIME = ["libstdc++-6.dll", "libgcc_s_*.dll", "libwinpthread-1.dll"]

COMMON_CONTROLS = "Microsoft.Windows.Common-Controls"
COMMON_CONTROLS_TOKEN = "6595b64144ccf1df"


class BadImage(Exception):
    pass


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise BadImage("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise BadImage("no PE signature")
        self.machine, nsections, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = self.u16(opt)
        if self.magic == 0x10B:
            count_at, dirs_at = opt + 92, opt + 96
        elif self.magic == 0x20B:
            count_at, dirs_at = opt + 108, opt + 112
        else:
            raise BadImage(f"unknown optional header magic 0x{self.magic:x}")
        ndirs = self.u32(count_at)
        self.dirs = [struct.unpack_from("<II", data, dirs_at + 8 * i) for i in range(min(ndirs, 16))]
        self.sections = []
        table = opt + opt_size
        for i in range(nsections):
            vsize, va, raw_size, raw_ptr = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((va, max(vsize, raw_size), raw_ptr, raw_size))

    def u16(self, off):
        return struct.unpack_from("<H", self.data, off)[0]

    def u32(self, off):
        return struct.unpack_from("<I", self.data, off)[0]

    def offset(self, rva):
        for va, size, raw_ptr, raw_size in self.sections:
            if va <= rva < va + size:
                if rva - va >= raw_size:
                    raise BadImage(f"RVA 0x{rva:x} lies in uninitialised data")
                return raw_ptr + rva - va
        raise BadImage(f"RVA 0x{rva:x} is outside every section")

    def cstring(self, rva):
        off = self.offset(rva)
        end = self.data.index(b"\0", off)
        return self.data[off:end].decode("ascii", "replace")

    def directory(self, index):
        return self.dirs[index] if index < len(self.dirs) else (0, 0)

    def imports(self):
        """[(dll, [function names])] from the import table and the delay-load table."""
        result = []
        thunk_size, ordinal_bit = (8, 1 << 63) if self.magic == 0x20B else (4, 1 << 31)
        fmt = "<Q" if thunk_size == 8 else "<I"

        def functions(thunk_rva):
            names = []
            if not thunk_rva:
                return names
            off = self.offset(thunk_rva)
            while True:
                (entry,) = struct.unpack_from(fmt, self.data, off)
                if not entry:
                    return names
                if entry & ordinal_bit:
                    names.append(f"#{entry & 0xFFFF}")
                else:
                    names.append(self.cstring((entry & 0x7FFFFFFF) + 2))  # skip the hint
                off += thunk_size

        rva, _ = self.directory(1)
        if rva:
            off = self.offset(rva)
            while True:
                lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, off)
                if not (lookup or name or first):
                    break
                result.append((self.cstring(name), functions(lookup or first)))
                off += 20
        rva, size = self.directory(13)
        if rva:
            off = self.offset(rva)
            # Bounded by the directory size too: GNU dlltool writes no empty descriptor after the last.
            for _ in range(max(size, 32) // 32):
                fields = struct.unpack_from("<8I", self.data, off)
                if not any(fields):
                    break
                if not fields[0] & 1:
                    raise BadImage("old-style delay-import descriptor (addresses instead of RVAs)")
                result.append((self.cstring(fields[1]) + " (delay-loaded)", functions(fields[4])))
                off += 32
        return result

    def resources(self):
        """{type: {name: bytes}}; only the first language of each resource is kept."""
        rva, _ = self.directory(2)
        if not rva:
            return {}
        base = self.offset(rva)

        def entries(dir_off):
            named, ids = struct.unpack_from("<HH", self.data, base + dir_off + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, base + dir_off + 16 + 8 * i)
                if ident & 0x80000000:
                    s = base + (ident & 0x7FFFFFFF)
                    n = self.u16(s)
                    ident = self.data[s + 2:s + 2 + 2 * n].decode("utf-16-le")
                yield ident, target

        found = {}
        for rtype, t_off in entries(0):
            if not t_off & 0x80000000:
                continue
            for name, n_off in entries(t_off & 0x7FFFFFFF):
                if not n_off & 0x80000000:
                    continue
                for _, leaf in entries(n_off & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    off = self.offset(data_rva)
                    found.setdefault(rtype, {})[name] = self.data[off:off + size]
                    break
        return found


def is_system_dll(name, extra):
    low = name.lower()
    return any(fnmatch.fnmatchcase(low, pattern.lower()) for pattern in SYSTEM_DLLS + extra)


def local(tag):
    return tag.rsplit("}", 1)[-1]


def check_manifest(xml_bytes, arch, problems):
    text = xml_bytes.decode("utf-16") if xml_bytes[:2] in (b"\xff\xfe", b"\xfe\xff") else \
        xml_bytes.decode("utf-8-sig")
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        problems.append(f"manifest is not well-formed XML: {e}")
        return
    # Windows matches these case-insensitively, but the build writes them exactly; expect that.
    want = {"x86": "X86", "amd64": "amd64"}[arch]
    own = [e for e in root if local(e.tag) == "assemblyIdentity"]
    if not own:
        problems.append("manifest has no assemblyIdentity for the program")
    for e in own:
        got = e.get("processorArchitecture")
        if got != want:
            problems.append(f"manifest identity processorArchitecture={got!r}, expected {want!r}")
    deps = [e for e in root.iter() if local(e.tag) == "assemblyIdentity"
            and e.get("name") == COMMON_CONTROLS]
    if not deps:
        problems.append(f"manifest has no dependency on {COMMON_CONTROLS}")
    for e in deps:
        for attr, expected in (("processorArchitecture", want), ("version", "6.0.0.0"),
                               ("publicKeyToken", COMMON_CONTROLS_TOKEN), ("type", "win32")):
            if e.get(attr) != expected:
                problems.append(f"{COMMON_CONTROLS} dependency {attr}={e.get(attr)!r}, "
                                f"expected {expected!r}")
    levels = [e.get("level") for e in root.iter() if local(e.tag) == "requestedExecutionLevel"]
    if levels != ["asInvoker"]:
        problems.append(f"requestedExecutionLevel is {levels or 'missing'}, expected asInvoker")


def parse_block(data, off):
    """One VERSIONINFO node: (key, value bytes, [children], offset after the node)."""
    length, value_len, vtype = struct.unpack_from("<HHH", data, off)
    end = off + length
    key_end = off + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[off + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    value_size = value_len * 2 if vtype == 1 else value_len  # text lengths count UTF-16 units
    value = data[value_at:min(value_at + value_size, end)]
    children = []
    child = (value_at + value_size + 3) & ~3
    while child + 6 <= end:
        node = parse_block(data, child)
        if node[3] <= child:
            break
        children.append(node)
        child = (node[3] + 3) & ~3
    return key, value, children, max(end, off + 6)


def read_version(block):
    """(VS_FIXEDFILEINFO fields or None, {string name: value})."""
    key, value, children, _ = parse_block(block, 0)
    fixed = struct.unpack_from("<13I", value) if key == "VS_VERSION_INFO" and len(value) >= 52 else None
    strings = {}
    for name, _, tables, _ in children:
        if name == "StringFileInfo":
            for _, _, entries, _ in tables:
                for k, v, _, _ in entries:
                    strings[k] = v.decode("utf-16-le").split("\0", 1)[0]
    return fixed, strings


def dotted(ms, ls):
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def main():
    parser = argparse.ArgumentParser(description="Check tamsket.exe's imports and resources.")
    parser.add_argument("exe")
    parser.add_argument("--arch", required=True, choices=sorted(MACHINES))
    parser.add_argument("--version", default="1.1.0.5", help="expected file and product version")
    parser.add_argument("--allow", action="append", default=[], metavar="DLL",
                        help="accept one more imported DLL (wildcards allowed)")
    parser.add_argument("-v", "--verbose", action="store_true", help="list imported functions")
    args = parser.parse_args()

    try:
        with open(args.exe, "rb") as f:
            pe = PeImage(f.read())
        imports = pe.imports()
        res = pe.resources()
    except (OSError, BadImage, struct.error, ValueError) as e:
        print(f"{args.exe}: cannot read as a PE image: {e}", file=sys.stderr)
        return 2

    problems = []
    machine, magic, kind = MACHINES[args.arch]
    if pe.machine != machine or pe.magic != magic:
        problems.append(f"machine 0x{pe.machine:04x} / optional header 0x{pe.magic:x}, "
                        f"expected a {kind} image for {args.arch}")

    print(f"{args.exe}: {'PE32+' if pe.magic == 0x20B else 'PE32'}, machine 0x{pe.machine:04x}")
    print("imports:")
    for dll, funcs in imports:
        ok = is_system_dll(dll.replace(" (delay-loaded)", ""), args.allow)
        print(f"  {dll:32} {len(funcs):3} functions{'' if ok else '   <-- not a Windows DLL'}")
        if args.verbose:
            for fn in funcs:
                print(f"      {fn}")
        if not ok:
            hint = " (MinGW runtime: link with -static)" if any(
                fnmatch.fnmatchcase(dll.lower(), p) for p in MINGW_RUNTIME) else ""
            problems.append(f"imports {dll}, which is not part of Windows{hint}")
    if not imports:
        problems.append("no import table")

    manifests = res.get(RT_MANIFEST, {})
    if 1 not in manifests:
        # The loader only looks at id 1 (CREATEPROCESS_MANIFEST_RESOURCE_ID) for an exe.
        problems.append(f"no RT_MANIFEST resource with id 1 (found ids {sorted(manifests, key=str)})")
    else:
        check_manifest(manifests[1], args.arch, problems)

    want = [int(p) for p in args.version.split(".")]
    summary_version = "missing"
    versions = res.get(RT_VERSION, {})
    if not versions:
        problems.append("no RT_VERSION resource")
    for block in versions.values():
        ffi, strings = read_version(block)
        if ffi is None or ffi[0] != 0xFEEF04BD:
            problems.append("RT_VERSION has no VS_FIXEDFILEINFO (signature 0xFEEF04BD)")
            continue
        file_v, product_v = dotted(ffi[2], ffi[3]), dotted(ffi[4], ffi[5])
        expected = ".".join(map(str, want))
        if file_v != expected:
            problems.append(f"FILEVERSION is {file_v}, expected {expected}")
        if product_v != expected:
            problems.append(f"PRODUCTVERSION is {product_v}, expected {expected}")
        summary_version = f"file {file_v}, product {product_v}, " \
                          f"FileVersion \"{strings.get('FileVersion', '?')}\", " \
                          f"FileDescription \"{strings.get('FileDescription', '?')}\""

    icons = res.get(RT_ICON, {})
    sizes_seen = []
    for gid, grp in res.get(RT_GROUP_ICON, {}).items():
        _, _, count = struct.unpack_from("<HHH", grp, 0)
        sizes = set()
        for i in range(count):
            w, h, _, _, _, bits, _, nid = struct.unpack_from("<BBBBHHIH", grp, 6 + 14 * i)
            w, h = w or 256, h or 256
            sizes.add((w, h))
            sizes_seen.append(f"{gid}:{w}x{h}x{bits}bpp")
            if nid not in icons:
                problems.append(f"icon group {gid} refers to missing RT_ICON {nid}")
        if {(32, 32), (16, 16)} <= sizes:
            break
    else:
        problems.append(f"no RT_GROUP_ICON with both 32x32 and 16x16 images (found {sizes_seen})")

    cursors = res.get(RT_CURSOR, {})
    cursor_seen = []
    for gid, grp in res.get(RT_GROUP_CURSOR, {}).items():
        _, _, count = struct.unpack_from("<HHH", grp, 0)
        for i in range(count):
            w, h2, _, bits, _, nid = struct.unpack_from("<HHHHIH", grp, 6 + 14 * i)
            if nid not in cursors:
                problems.append(f"cursor group {gid} refers to missing RT_CURSOR {nid}")
                continue
            hx, hy = struct.unpack_from("<HH", cursors[nid], 0)
            cursor_seen.append(f"{gid}:{w}x{h2 // 2}x{bits}bpp hotspot ({hx},{hy})")
    if not cursor_seen:
        problems.append("no RT_GROUP_CURSOR with a cursor image")

    print(f"manifest: {'present' if 1 in manifests else 'missing'}")
    print(f"version:  {summary_version}")
    print(f"icons:    {', '.join(sizes_seen) or 'none'}")
    print(f"cursors:  {', '.join(cursor_seen) or 'none'}")
    if problems:
        for p in problems:
            print(f"FAIL: {p}", file=sys.stderr)
        return 1
    print(f"OK: {args.exe} is a self-contained {args.arch} exe with its manifest, version, icon and pointer")
    return 0


if __name__ == "__main__":
    sys.exit(main())
