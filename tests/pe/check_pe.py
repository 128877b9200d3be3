#!/usr/bin/env python3
"""Checks a built tamsket.exe the way a clean Windows machine will see it.

    check_pe.py EXE --arch x86|amd64 [--version 1.1.0.5] [--imports DLL...] [--max-size BYTES]
                [--dpi-aware]

- every imported DLL ships with Windows: a MinGW runtime DLL (libstdc++-6, libgcc_s_*,
  libwinpthread-1) means the exe was not linked -static and will not start without MinGW;
- with --imports, the exe imports exactly those DLLs (the ones it needs to start; the others
  it loads on first use), and with --max-size it is no larger than that;
- every imported function is in XP_FUNCTIONS, the reviewed list of what Windows XP and Server
  2003 (the x64 editions for the 64-bit build) export: newer functions are looked up at run time;
- the manifest (RT_MANIFEST 1) names the exe's own architecture for the program and for its
  Common-Controls 6 dependency (else Windows refuses to start it), asks for asInvoker and, with
  --dpi-aware, declares per-monitor DPI awareness (true/pm, PerMonitorV2);
- RT_VERSION carries the file and product version given; the icon group has 32x32 and 16x16
  images; the pointer is there;
- a signed exe's certificate table is well-formed and comes after the image, at its end; the
  size limit holds for the image without it, the program as it is built, whoever signs it.
The PE file is parsed here directly, so the check does not depend on which binutils are around.
Exit status: 0 all good, 1 a check failed, 2 the file could not be read as a PE image.
"""

import argparse
import fnmatch
import itertools
import struct
import sys
import xml.etree.ElementTree as ET

RT_CURSOR, RT_ICON, RT_VERSION = 1, 3, 16
RT_GROUP_CURSOR, RT_GROUP_ICON, RT_MANIFEST = 12, 14, 24

# Machine, optional header magic, image kind, and the manifest's processorArchitecture: Windows
# matches that case-insensitively, but the build writes it exactly so, and so it is expected.
ARCHES = {"x86": (0x014C, 0x10B, "PE32", "X86"), "amd64": (0x8664, 0x20B, "PE32+", "amd64")}

# DLLs present on every supported Windows; compared case-insensitively.
SYSTEM_DLLS = ["kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll",
               "shell32.dll", "shlwapi.dll", "advapi32.dll", "msvcrt.dll", "ucrtbase.dll",
               "winspool.drv", "ole32.dll", "oleaut32.dll", "version.dll", "uxtheme.dll",
               "api-ms-win-crt-*.dll"]
# Named in the failure message because they are the usual way this check fails.
MINGW_RUNTIME = ["libstdc++-6.dll", "libgcc_s_*.dll", "libwinpthread-1.dll"]

# Every function the programs import, by DLL, each checked to be exported by the Windows XP /
# Server 2003 system DLLs (32-bit, and x64 for the 64-bit build; __C_specific_handler and the
# ...LongPtr functions are x64-only names). A function not listed fails the check: add it only
# once it is known to be there on XP, or look it up at run time instead.
XP_FUNCTIONS = {
    "advapi32.dll": """RegCloseKey RegConnectRegistryW RegOpenKeyA RegOpenKeyExW RegQueryValueExA
        RegQueryValueExW""",
    "gdi32.dll": """AbortDoc BitBlt CreateCompatibleDC CreateDCA CreateDIBSection CreateFontW
        CreateSolidBrush DeleteDC DeleteObject EndDoc EndPage GdiFlush GetDeviceCaps RestoreDC
        SaveDC SelectObject SetBkMode SetTextColor StartDocA StartPage StretchDIBits""",
    "kernel32.dll": """CloseHandle CreateFileA DeleteCriticalSection DeleteFileA
        EnterCriticalSection ExitProcess FindClose FindFirstFileW FindNextFileW FormatMessageA
        FormatMessageW FreeLibrary
        GetComputerNameW GetConsoleMode GetFileAttributesW GetFileType GetLastError
        GetModuleHandleA GetModuleHandleW GetProcAddress GetStartupInfoA GetStartupInfoW GetStdHandle
        GetSystemDirectoryW GetTempFileNameA GlobalAlloc GlobalFree GlobalLock GlobalUnlock
        InitializeCriticalSection LeaveCriticalSection LoadLibraryA LoadLibraryW LocalFree
        MoveFileExA MulDiv MultiByteToWideChar SetUnhandledExceptionFilter Sleep TlsGetValue
        VirtualProtect VirtualQuery WideCharToMultiByte WriteConsoleW WriteFile
        __C_specific_handler""",
    "msvcrt.dll": """__doserrno __getmainargs __initenv __iob_func __p__acmdln __p__commode
        __p__fmode __p__wcmdln __set_app_type __setusermatherr __wgetmainargs __winitenv _acmdln
        _amsg_exit _cexit _commode _errno _filelengthi64 _fileno _fmode _get_osfhandle _initterm
        _iob _onexit _waccess _wcmdln _wfsopen abort calloc clearerr exit fclose ferror fflush
        fgetpos fprintf fread free fsetpos fwrite malloc memchr memcmp memcpy memmove setvbuf signal strcmp strerror strlen
        strncmp tolower vfprintf wcslen""",
    "user32.dll": """AdjustWindowRectEx BeginPaint CallWindowProcW CloseClipboard
        CreateWindowExW DefWindowProcW DispatchMessageW DrawTextW EmptyClipboard EndPaint
        FillRect GetCapture GetClientRect GetCursorPos GetDC GetFocus GetMessageW GetPropW
        GetSysColor GetSystemMetrics GetWindowLongPtrW GetWindowLongW GetWindowRect
        GetWindowTextLengthW GetWindowTextW HideCaret InvalidateRect IsChild IsDialogMessageW
        IsWindow IsWindowVisible LoadCursorA LoadCursorW LoadIconW LoadImageW MapWindowPoints
        MessageBoxA OpenClipboard PostQuitMessage PtInRect RedrawWindow RegisterClassExW
        ReleaseCapture ReleaseDC RemovePropW ScreenToClient SendMessageW SetCapture
        SetClipboardData SetCursor SetFocus SetPropW SetWindowLongPtrW SetWindowLongW
        SetWindowPos SetWindowTextW ShowCaret ShowWindow SystemParametersInfoW TranslateMessage
        UpdateWindow""",
}
XP_FUNCTIONS = {dll: set(names.split()) for dll, names in XP_FUNCTIONS.items()}

WINDOWS_SETTINGS = "urn:schemas-microsoft-com:asm.v3"
DPI_AWARENESS = (  # element, its namespace, the value that makes the window sharp at any scale
    ("dpiAware", "http://schemas.microsoft.com/SMI/2005/WindowsSettings", "true/pm"),
    ("dpiAwareness", "http://schemas.microsoft.com/SMI/2016/WindowsSettings", "PerMonitorV2"))

COMMON_CONTROLS = "Microsoft.Windows.Common-Controls"
COMMON_CONTROLS_TOKEN = "6595b64144ccf1df"


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        (pe,) = self.read("<I", 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        # The file header, then the optional header's magic.
        self.machine, nsections, _, _, _, opt_size, _, self.magic = self.read("<HHIIIHHH", pe + 4)
        if self.magic not in (0x10B, 0x20B):
            raise ValueError(f"unknown optional header magic 0x{self.magic:x}")
        dirs_at = pe + 24 + (96 if self.magic == 0x10B else 112)
        ndirs = min(self.read("<I", dirs_at - 4)[0], 16)
        self.dirs = [self.read("<II", dirs_at + 8 * i) for i in range(ndirs)] + [(0, 0)] * 16
        # (virtual size, address, raw size, raw offset) of each section
        self.sections = [self.read("<IIII", pe + 24 + opt_size + 40 * i + 8)
                         for i in range(nsections)]

    def certificate_table(self, problems):
        """The size of the Authenticode certificate table (0 for none), checked as Windows reads it."""
        offset, size = self.dirs[4]  # unlike the other entries, a file offset, not an RVA
        image_end = max(raw_ptr + raw_size for _, _, raw_size, raw_ptr in self.sections)
        # WIN_CERTIFICATE: length, revision 2.0, type PKCS #7 SignedData, 8-byte aligned.
        if size and (offset % 8 or offset < image_end or offset + size != len(self.data)
                     or size < 8 or self.read("<IHH", offset)[1:] != (0x200, 2)):
            problems.append(f"certificate table at {offset} ({size} bytes) is no Authenticode "
                            f"signature, 8-byte aligned after the image (ends at {image_end})")
        return size

    def read(self, fmt, off):
        return struct.unpack_from(fmt, self.data, off)

    def offset(self, rva):
        for vsize, va, raw_size, raw_ptr in self.sections:
            if va <= rva < va + max(vsize, raw_size):
                if rva - va >= raw_size:
                    raise ValueError(f"RVA 0x{rva:x} lies in uninitialised data")
                return raw_ptr + rva - va
        raise ValueError(f"RVA 0x{rva:x} is outside every section")

    def cstring(self, rva):
        off = self.offset(rva)
        return self.data[off:self.data.index(b"\0", off)].decode("ascii", "replace")

    def records(self, rva, fmt, limit=None):
        """The fmt records of the table at rva up to an all-zero one; none for rva 0."""
        if not rva:
            return
        off, size = self.offset(rva), struct.calcsize(fmt)
        for i in itertools.count() if limit is None else range(limit):
            record = self.read(fmt, off + i * size)
            if not any(record):
                return
            yield record

    def imports(self):
        """[(dll, [function names])] from the import table and the delay-load table."""
        thunk, ordinal_bit = ("<Q", 1 << 63) if self.magic == 0x20B else ("<I", 1 << 31)

        def functions(rva):
            # A name entry points at a 2-byte hint followed by the name.
            return [f"#{e & 0xFFFF}" if e & ordinal_bit else self.cstring((e & 0x7FFFFFFF) + 2)
                    for (e,) in self.records(rva, thunk)]

        result = [(self.cstring(name), functions(lookup or first))
                  for lookup, _, _, name, first in self.records(self.dirs[1][0], "<5I")]
        rva, size = self.dirs[13]
        # Bounded by the directory size too: GNU dlltool writes no empty descriptor after the last.
        for attributes, name, _, _, names, _, _, _ in self.records(rva, "<8I", max(size, 32) // 32):
            if not attributes & 1:
                raise ValueError("old-style delay-import descriptor (addresses instead of RVAs)")
            result.append((self.cstring(name) + " (delay-loaded)", functions(names)))
        return result

    def resources(self):
        """{type: {name: bytes}}; only the first language of each resource is kept."""
        rva, _ = self.dirs[2]
        if not rva:
            return {}
        base = self.offset(rva)

        def entries(directory, subdirectories_only=True):
            """(id or name, target) of a directory's entries; a subdirectory has the top bit."""
            at = base + (directory & 0x7FFFFFFF)
            named, ids = self.read("<HH", at + 12)
            for i in range(named + ids):
                ident, target = self.read("<II", at + 16 + 8 * i)
                if ident & 0x80000000:
                    s = base + (ident & 0x7FFFFFFF)
                    ident = self.data[s + 2:s + 2 + 2 * self.read("<H", s)[0]].decode("utf-16-le")
                if target & 0x80000000 or not subdirectories_only:
                    yield ident, target

        found = {}
        for rtype, names in entries(0):
            for name, languages in entries(names):
                for _, leaf in itertools.islice(entries(languages, False), 1):
                    data_rva, size = self.read("<II", base + leaf)
                    off = self.offset(data_rva)
                    found.setdefault(rtype, {})[name] = self.data[off:off + size]
        return found


def matches(name, patterns):
    return any(fnmatch.fnmatchcase(name.lower(), p.lower()) for p in patterns)


def check_manifest(xml_bytes, arch, dpi_aware, problems):
    utf16 = xml_bytes[:2] in (b"\xff\xfe", b"\xfe\xff")
    try:
        root = ET.fromstring(xml_bytes.decode("utf-16" if utf16 else "utf-8-sig"))
    except ET.ParseError as e:
        problems.append(f"manifest is not well-formed XML: {e}")
        return
    want = ARCHES[arch][3]

    def elements(tag, among):
        return [e for e in among if e.tag.rsplit("}", 1)[-1] == tag]

    own, everywhere = elements("assemblyIdentity", root), elements("assemblyIdentity", root.iter())
    deps = [e for e in everywhere if e.get("name") == COMMON_CONTROLS]
    for found, missing, label, expected in (
            (own, "assemblyIdentity for the program", "manifest identity",
             {"processorArchitecture": want}),
            (deps, f"dependency on {COMMON_CONTROLS}", f"{COMMON_CONTROLS} dependency",
             {"processorArchitecture": want, "version": "6.0.0.0",
              "publicKeyToken": COMMON_CONTROLS_TOKEN, "type": "win32"})):
        if not found:
            problems.append(f"manifest has no {missing}")
        for e, (attr, value) in itertools.product(found, expected.items()):
            if e.get(attr) != value:
                problems.append(f"{label} {attr}={e.get(attr)!r}, expected {value!r}")
    levels = [e.get("level") for e in elements("requestedExecutionLevel", root.iter())]
    if levels != ["asInvoker"]:
        problems.append(f"requestedExecutionLevel is {levels or 'missing'}, expected asInvoker")
    if not dpi_aware:
        return
    # Only as <application><windowsSettings> in the asm.v3 namespace does Windows read them.
    settings = root.findall(f"{{{WINDOWS_SETTINGS}}}application/{{{WINDOWS_SETTINGS}}}windowsSettings")
    for tag, namespace, value in DPI_AWARENESS:
        found = [(e.text or "").strip() for s in settings for e in s.findall(f"{{{namespace}}}{tag}")]
        if found != [value]:
            problems.append(f"manifest {tag} ({namespace}) is {found or 'missing'}, expected {value!r}")


def version_nodes(data, off=0):
    """(key, value bytes, is text) of the VERSIONINFO node at off and of all inside it, in order."""
    length, value_len, is_text = struct.unpack_from("<HHH", data, off)
    end = off + length
    key_end = off + 6
    while key_end < end and data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    value_at = (key_end + 2 + 3) & ~3
    value_end = value_at + (value_len * 2 if is_text else value_len)  # text counts UTF-16 units
    yield data[off + 6:key_end].decode("utf-16-le"), data[value_at:min(value_end, end)], is_text
    child = (value_end + 3) & ~3
    while child + 6 <= end:
        yield from version_nodes(data, child)
        child = (child + max(struct.unpack_from("<H", data, child)[0], 6) + 3) & ~3


def check_version(blocks, expected, problems):
    """The summary of the version record, checking its file and product version."""
    if not blocks:
        problems.append("no RT_VERSION resource")
    summary = "missing"
    for block in blocks:
        (key, value, _), *inner = version_nodes(block)
        if key != "VS_VERSION_INFO" or len(value) < 52 or value[:4] != b"\xbd\x04\xef\xfe":
            problems.append("RT_VERSION has no VS_FIXEDFILEINFO (signature 0xFEEF04BD)")
            continue
        got = {}
        for name, at in (("FILEVERSION", 8), ("PRODUCTVERSION", 16)):
            ms, ls = struct.unpack_from("<II", value, at)
            got[name] = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
            if got[name] != expected:
                problems.append(f"{name} is {got[name]}, expected {expected}")
        # The string tables' entries are the text nodes.
        strings = {k: v.decode("utf-16-le").split("\0", 1)[0] for k, v, text in inner if text}
        summary = f"file {got['FILEVERSION']}, product {got['PRODUCTVERSION']}, " \
                  f"FileVersion \"{strings.get('FileVersion', '?')}\", " \
                  f"FileDescription \"{strings.get('FileDescription', '?')}\""
    return summary


def group_entries(group, fmt):
    """The image entries of an RT_GROUP_ICON or RT_GROUP_CURSOR resource (14 bytes each)."""
    count = struct.unpack_from("<H", group, 4)[0]
    return [struct.unpack_from(fmt, group, 6 + 14 * i) for i in range(count)]


def check_icons(res, problems):
    icons, seen = res.get(RT_ICON, {}), []
    for gid, group in res.get(RT_GROUP_ICON, {}).items():
        sizes = set()
        for w, h, _, _, _, bits, _, nid in group_entries(group, "<BBBBHHIH"):
            w, h = w or 256, h or 256  # 0 stands for 256
            sizes.add((w, h))
            seen.append(f"{gid}:{w}x{h}x{bits}bpp")
            if nid not in icons:
                problems.append(f"icon group {gid} refers to missing RT_ICON {nid}")
        if {(32, 32), (16, 16)} <= sizes:
            break
    else:
        problems.append(f"no RT_GROUP_ICON with both 32x32 and 16x16 images (found {seen})")
    return seen


def check_cursors(res, problems):
    cursors, seen = res.get(RT_CURSOR, {}), []
    for gid, group in res.get(RT_GROUP_CURSOR, {}).items():
        for w, h, _, bits, _, nid in group_entries(group, "<HHHHIH"):
            if nid not in cursors:
                problems.append(f"cursor group {gid} refers to missing RT_CURSOR {nid}")
                continue
            hx, hy = struct.unpack_from("<HH", cursors[nid], 0)
            # A cursor's height counts its colour and mask bitmaps.
            seen.append(f"{gid}:{w}x{h // 2}x{bits}bpp hotspot ({hx},{hy})")
    if not seen:
        problems.append("no RT_GROUP_CURSOR with a cursor image")
    return seen


def main():
    parser = argparse.ArgumentParser(description="Check tamsket.exe's imports and resources.")
    parser.add_argument("exe")
    parser.add_argument("--arch", required=True, choices=sorted(ARCHES))
    parser.add_argument("--version", help="the file and product version, a.b.c.d")
    parser.add_argument("--imports", nargs="+", metavar="DLL", help="the exact set of DLLs")
    parser.add_argument("--max-size", type=int, metavar="BYTES")
    parser.add_argument("--dpi-aware", action="store_true",
                        help="the manifest declares per-monitor DPI awareness")
    parser.add_argument("--no-resources", action="store_true",
                        help="a console program: no manifest, version, icon or pointer to check")
    args = parser.parse_args()
    if not args.no_resources and not args.version:
        parser.error("--version is needed to check the version record")
    try:
        with open(args.exe, "rb") as f:
            image = f.read()
            pe = PeImage(image)
        imports, res = pe.imports(), pe.resources()
    except (OSError, struct.error, ValueError) as e:  # ValueError: not a PE image
        print(f"{args.exe}: cannot read as a PE image: {e}", file=sys.stderr)
        return 2

    problems = []
    machine, magic, kind, _ = ARCHES[args.arch]
    if pe.machine != machine or pe.magic != magic:
        problems.append(f"machine 0x{pe.machine:04x} / optional header 0x{pe.magic:x}, "
                        f"expected a {kind} image for {args.arch}")
    print(f"{args.exe}: {'PE32+' if pe.magic == 0x20B else 'PE32'}, machine 0x{pe.machine:04x}")
    print("imports:")
    for dll, funcs in imports:
        name = dll.replace(" (delay-loaded)", "")
        ok = matches(name, SYSTEM_DLLS)
        print(f"  {dll:32} {len(funcs):3} functions{'' if ok else '   <-- not a Windows DLL'}")
        if not ok:
            hint = " (MinGW runtime: link with -static)" if matches(name, MINGW_RUNTIME) else ""
            problems.append(f"imports {dll}, which is not part of Windows{hint}")
        newer = sorted(set(funcs) - XP_FUNCTIONS.get(name.lower(), set()))
        if ok and newer:
            problems.append(f"imports {', '.join(newer)} from {name}, not in the reviewed list of "
                            "functions Windows XP has: look it up at run time")
    if not imports:
        problems.append("no import table")
    if args.imports is not None:
        found = sorted(dll.lower() for dll, _ in imports)
        wanted = sorted(dll.lower() for dll in args.imports)
        if found != wanted:
            problems.append(f"imports {found}, expected exactly {wanted}")
    signature = pe.certificate_table(problems)
    unsigned = len(image) - signature
    print(f"size:     {unsigned} bytes" + (f" (at most {args.max_size})" if args.max_size else "") +
          (f", {len(image)} signed" if signature else ""))
    if args.max_size is not None and unsigned > args.max_size:
        problems.append(f"{unsigned} bytes, more than the {args.max_size} allowed")

    if args.no_resources:
        return report(args, problems, "self-contained")
    manifests = res.get(RT_MANIFEST, {})
    if 1 in manifests:
        check_manifest(manifests[1], args.arch, args.dpi_aware, problems)
    else:
        # The loader only looks at id 1 (CREATEPROCESS_MANIFEST_RESOURCE_ID) for an exe.
        problems.append(f"no RT_MANIFEST resource with id 1 (found ids {sorted(manifests, key=str)})")
    version = check_version(list(res.get(RT_VERSION, {}).values()), args.version, problems)
    icons, cursors = check_icons(res, problems), check_cursors(res, problems)

    print(f"manifest: {'present' if 1 in manifests else 'missing'}")
    print(f"version:  {version}")
    print(f"icons:    {', '.join(icons) or 'none'}")
    print(f"cursors:  {', '.join(cursors) or 'none'}")
    return report(args, problems, "self-contained", "with its manifest, version, icon and pointer")


def report(args, problems, *what):
    for p in problems:
        print(f"FAIL: {p}", file=sys.stderr)
    if problems:
        return 1
    print(f"OK: {args.exe} is a {what[0]} {args.arch} exe {' '.join(what[1:])}".rstrip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
