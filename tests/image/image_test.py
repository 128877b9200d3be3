#!/usr/bin/env python3
"""tamsket-cli --image over the images of make_images.py, each hive read again
by The Sleuth Kit's fls and icat, then --hive; each run under strace, which
must show no file opened for writing; and 300 damaged images, read by
image_mutations in one process (a sanitizer process with The Sleuth Kit's
libraries takes a quarter of a second to start).

    image_test.py CLI MUTATIONS WORK_DIR
"""

import hashlib
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import unittest
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "cli"))
from cli_support import KEY_A, KEY_B, PACKED_B, VALUE_A, decode_key, run  # noqa: E402

sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
from differencing_disks import differencing_vhd, differencing_vhdx  # noqa: E402

CLI = None
MUTATIONS = None
WORK = None
# Leak checks take most of a run's time: the mutation runs, many lookups in one
# process, make them (the image libraries' own leaks left out).
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
LEAK_ENV = dict(os.environ, LSAN_OPTIONS=f"suppressions={HERE}/lsan.supp:print_suppressions=0")
HIVE = "\\Windows\\System32\\config\\SOFTWARE"
# What mkntfs writes at the start of a volume: a jump, then the file system's name.
NTFS_BOOT = b"\xebR\x90NTFS    "
WRITING = re.compile(r"O_WRONLY|O_RDWR|O_CREAT|O_TRUNC")
# The bases of the chains: each image, its Windows partition (first sector), where records name it,
# and the packed key its hive holds.
BASES = {
    "vmdk": ("mbr-fat-ntfs.vmdk", 18432, "partition 2 at 9437184", PACKED_B),
    "vhdx": ("gpt-efi.vhdx", 30720, "partition 3 at 15728640", VALUE_A[52:67]),
    "vhd": ("two-windows.vhd", 2048, "partition 1 at 1048576", VALUE_A[52:67]),
}
# A differencing VHD records its parent's time stamp, counted from 2000.
PARENT_TIME = 1_600_000_000
# Made-up packed keys laid over that hive's key at the links of the snapshot chains.
PACKED_C = bytes(range(0x21, 0x30))
PACKED_D = bytes(range(0x41, 0x50))
KEY_C, KEY_D = decode_key(PACKED_C), decode_key(PACKED_D)


def cli(*args):
    """The program's records, and that no library it uses opened a file for writing."""
    trace = os.path.join(WORK, "opens.trace")
    status, out, err = run(["strace", "-f", "-qq", "-e", "trace=open,openat,creat", "-o", trace,
                            CLI, "--json", *args], env=ENV)
    opens = pathlib.Path(trace).read_text()
    written = [line for line in opens.splitlines()
               if WRITING.search(line) and '"/dev/' not in line]
    assert "openat(" in opens and not written, written
    # Nor a file beside the image that nobody named (The Sleuth Kit's YAFFS2
    # detection reads IMAGE-yaffs2.config).
    assert "yaffs2" not in opens, [line for line in opens.splitlines() if "yaffs2" in line]
    return status, [json.loads(line) for line in out.decode().splitlines()], err


def image(name):
    return os.path.join(WORK, name)


def derived(name, source, change):
    """A copy of the image `source` changed by `change(bytearray)`."""
    data = bytearray(pathlib.Path(image(source)).read_bytes())
    change(data)
    pathlib.Path(image(name)).write_bytes(data)
    return name


def untouched(path):
    """What reading an image must leave as it was: its bytes and times."""
    st = os.stat(path)
    return hashlib.sha256(pathlib.Path(path).read_bytes()).digest(), st.st_mtime_ns, st.st_ctime_ns


def hive_by_tsk(path, sector, inner, out=None):
    """The file at `inner` of the volume at `sector`, as fls finds it and icat reads it, written
    to `out` (or beside `path`)."""
    listing = subprocess.run(["fls", "-r", "-p", "-o", str(sector), path], capture_output=True,
                             text=True, check=True).stdout
    wanted = inner.strip("\\").replace("\\", "/").lower()
    (inode,) = [line.split()[1].rstrip(":") for line in listing.splitlines()
                if line.startswith("r/r ") and line.split("\t", 1)[1].lower() == wanted]
    out = pathlib.Path(out or path + f".{sector}.hive")
    out.write_bytes(subprocess.run(["icat", "-o", str(sector), path, inode.split("-")[0]],
                                   capture_output=True, check=True).stdout)
    return str(out)


def tool(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def key_cluster(kind, packed):
    """Where the cluster holding the key of the base's hive lies in the disk, and that cluster
    with `packed` in place of the key, from The Sleuth Kit's istat and fsstat."""
    name, sector, _, old = BASES[kind]
    raw = image(name + ".raw")
    if not os.path.exists(raw):
        tool("qemu-img", "convert", "-O", "raw", image(name), raw)
    hive = pathlib.Path(hive_by_tsk(raw, sector, HIVE)).read_bytes()
    cluster = int(re.search(r"Cluster Size: (\d+)", tool("fsstat", "-o", str(sector), raw))[1])
    inode = [line.split()[1] for line in tool("fls", "-r", "-p", "-o", str(sector), raw)
             .splitlines() if line.endswith("/config/SOFTWARE")][0].split("-")[0]
    runs = tool("istat", "-o", str(sector), raw, inode).split("Type: $DATA")[1]
    clusters = [int(n) for n in runs.splitlines()[1].split()]
    at = hive.index(old)
    changed = bytearray(hive[at // cluster * cluster:][:cluster])
    changed[at % cluster:at % cluster + len(packed)] = packed
    return sector * 512 + clusters[at // cluster] * cluster, bytes(changed)


def snapshot(parent, child, hint, packed=None):
    """A VMware delta disk over `parent`, recording it as `hint`, with `packed` written over the
    key's cluster in it; taken after its parent was written, as a delta records the content id."""
    tool("qemu-img", "create", "-q", "-f", "vmdk", "-b", hint, "-F", "vmdk", child)
    if packed:
        offset, cluster = key_cluster("vmdk", packed)
        pathlib.Path(child + ".cluster").write_bytes(cluster)
        tool("qemu-io", "-f", "vmdk", "-c", f"write -s {child}.cluster {offset} {len(cluster)}",
             child)
    return child


def chain(folder, packed_keys, absolute=False, kind="vmdk"):
    """The base disk and a snapshot over it for each packed key (None: nothing written) in
    `folder`, named as VMware or Hyper-V names them; the paths, base first."""
    os.makedirs(image(folder))
    base = BASES[kind][0]
    links = [image(f"{folder}/server.{kind}")]
    shutil.copy(image(base), links[0])
    os.utime(links[0], (PARENT_TIME, PARENT_TIME))
    for n, packed in enumerate(packed_keys, 1):
        parent = links[-1]
        if kind == "vmdk":
            links.append(snapshot(parent, image(f"{folder}/server-{n:06d}.vmdk"),
                                  parent if absolute else os.path.basename(parent), packed))
            continue
        child = image(f"{folder}/server_{n}.a{kind}")
        write = differencing_vhdx if kind == "vhdx" else differencing_vhd
        write(child, parent, [key_cluster(kind, packed)] if packed else [])
        os.utime(child, (PARENT_TIME, PARENT_TIME))
        links.append(child)
    return links


def mounted_key(link, sector):
    """The key of the hive in the disk as libvhdi's vhdimount shows it at `link`."""
    mount = link + ".mnt"
    os.makedirs(mount)
    tool("vhdimount", link, mount)
    try:
        # One file a link, the base first: the last is the disk at `link`.
        view = max(os.listdir(mount), key=lambda name: int(name[len("vhdi"):]))
        hive = hive_by_tsk(os.path.join(mount, view), sector, HIVE, out=link + ".hive")
    finally:
        tool("umount", mount)
    return cli("--hive", hive)[1][0]["key"]


class Images(unittest.TestCase):
    def test_finds_each_windows_in_each_format(self):
        winnt = "\\WINNT\\system32\\config\\software"
        # image, then per record: where (partition and its first sector), path, view, key, state
        cases = [
            ("bare-ntfs.raw", [("whole image", 0, HIVE, "64-bit", KEY_A, "dirty")]),
            ("split.001", [("whole image", 0, HIVE, "64-bit", KEY_A, "dirty")]),
            ("mbr-fat-ntfs.vmdk", [("partition 2 at 9437184", 18432, HIVE, "32-bit", KEY_B,
                                    "clean")]),
            ("gpt-efi.vhdx", [("partition 3 at 15728640", 30720, HIVE, "64-bit", KEY_A, "clean")]),
            ("two-windows.vhd", [("partition 1 at 1048576", 2048, HIVE, "64-bit", KEY_A, "clean"),
                                 ("partition 2 at 7340032", 14336, HIVE, "64-bit", KEY_B,
                                  "clean")]),
            ("winnt.E01", [("partition 1 at 1048576", 2048, winnt, "32-bit", KEY_A, "clean")]),
            ("both-roots.raw", [("whole image", 0, HIVE, "64-bit", KEY_A, "clean"),
                                ("whole image", 0, winnt, "32-bit", KEY_B, "clean")]),
            # Its embedded descriptor names mbr-fat-ntfs.vmdk, which lies beside
            # it holding a BitLocker volume: the file given is the one read.
            ("evidence/renamed.vmdk", [("partition 2 at 9437184", 18432, HIVE, "32-bit", KEY_B,
                                        "clean")]),
        ]
        for name, expected in cases:
            with self.subTest(name):
                path = image(name)
                before = untouched(path)
                status, records, err = cli("--image", path)
                self.assertEqual((status, err, untouched(path)), (0, "", before))
                self.assertEqual(
                    [(r["source"], r["location"], r["view"], r["key"], r["hiveState"])
                     for r in records],
                    [("image", f"{path}, {where} (NTFS): {inner}", view, key, state)
                     for where, _, inner, view, key, state in expected])
                # The Sleuth Kit's own tools find the same hive; read as a file it
                # gives the same records, but for the logs, which lie only in the image.
                for r, (_, sector, inner, *_, state) in zip(records, expected):
                    extracted = hive_by_tsk(path, sector, inner)
                    (alone,) = cli("--hive", extracted)[1]
                    self.assertEqual(dict(r, source="hive", location=extracted, logs=None),
                                     dict(alone, logs=None))
                    self.assertEqual(r["logs"], "SOFTWARE.LOG1: empty; none applied"
                                     if state == "dirty" else None)

    def test_images_without_a_hive_say_why(self):
        def bitlocker(data):
            data[3:11] = b"-FVE-FS-"

        def cut_in_hive(data):
            del data[data.index(b"regf") + 4096:]

        def cut(size):
            return lambda data: data.__delitem__(slice(size, None))

        cases = [
            ("no-ntfs.raw", "no-ntfs-volume", "{} holds no NTFS volume (2 partitions: FAT16, EXT2)"),
            ("data-ntfs.raw", "no-hive-found", "no Windows found: {}, whole image (NTFS) holds "
             "neither Windows\\System32\\config\\SOFTWARE nor WINNT\\system32\\config\\software"),
            (derived("bitlocker.raw", "bare-ntfs.raw", bitlocker), "encrypted-volume",
             "{}, whole image is encrypted with BitLocker; unlock it first"),
            (derived("notes.txt", "bare-ntfs.raw", lambda d: d.__setitem__(slice(0, None), b"x")),
             "not-a-disk-image", "{} is not a disk image: no supported image format (raw, VHD, "
             "VHDX, VMDK, E01), partition table or file system found in it"),
            ("missing.vhdx", "cannot-open", "cannot open {}: No such file or directory"),
            (derived("truncated.raw", "bare-ntfs.raw", cut_in_hive), "damaged-image",
             "{}, whole image (NTFS): \\Windows\\System32\\config\\SOFTWARE: cannot read 4096 "
             "bytes at offset 0x0: Error reading image file ("),
            # Known formats cut short: their headers are there, their data is not.
            (derived("cut.E01", "winnt.E01", cut(80_000)), "damaged-image",
             "{} is an E01 image that cannot be read: its section at offset "),
            (derived("cut.vhdx", "gpt-efi.vhdx", cut(1024 * 1024)), "damaged-image",
             "{} is a VHDX image that cannot be read: "),
            (derived("cut.vhd", "two-windows.vhd", cut(4_000_000)), "damaged-image",
             "{} is a VHD image that cannot be read: "),
            (derived("cut.vmdk", "mbr-fat-ntfs.vmdk", cut(100_000)), "damaged-image",
             "{} is a VMDK image that cannot be read: "),
            # The same beside a whole image that its descriptor names.
            ("evidence/cut.vmdk", "damaged-image", "{} is a VMDK image that cannot be read: "),
            # The second partition's start lies past the end.
            (derived("cut-table.raw", "no-ntfs.raw", cut(3 * 1024 * 1024)), "damaged-image",
             "{} is damaged or cut short: its partition table cannot be read: "),
        ]
        for name, code, message in cases:
            with self.subTest(name):
                path = image(name)
                status, (r,), err = cli("--image", path)
                self.assertEqual((status, r["source"], r["status"], r["error"]["code"]),
                                 (2, "image", "error", code))
                self.assertTrue(r["error"]["message"].startswith(message.format(path)),
                                r["error"]["message"])
                # The message names the image itself, so the line need not again.
                self.assertEqual(err, f"tamsket-cli: {r['error']['message']}\n")

    def test_each_volume_that_cannot_be_read_has_its_own_record(self):
        def bitlocker_first(data):
            at = data.index(NTFS_BOOT)
            data[at + 3:at + 11] = b"-FVE-FS-"

        def cut(size):
            return lambda data: data.__delitem__(slice(size, None))

        # image, then per record: where, key or error code
        cases = [
            (derived("bitlocker-beside.vhd", "two-windows.vhd", bitlocker_first),
             [("partition 2 at 7340032 (NTFS): " + HIVE, KEY_B),
              ("partition 1 at 1048576", "encrypted-volume")]),
            # Cut inside the recovery partition: it and the Windows one after it.
            (derived("cut-10mb.vhdx", "gpt-efi.vhdx", cut(10_000_000)),
             [("partition 2 at 9437184", "damaged-image"),
              ("partition 3 at 15728640", "damaged-image")]),
        ]
        for name, expected in cases:
            with self.subTest(name):
                path = image(name)
                status, records, err = cli("--image", path)
                self.assertEqual(status, 2)
                self.assertEqual([(r["location"], r["key"] or r["error"]["code"]) for r in records],
                                 [(f"{path}, {where}", outcome) for where, outcome in expected])
                errors = [r for r in records if r["status"] == "error"]
                for r in errors:
                    self.assertTrue(r["error"]["message"].startswith(r["location"]), r)
                self.assertEqual(err, "".join(f"tamsket-cli: {r['error']['message']}\n"
                                              for r in errors))

    def test_damaged_tables_and_metadata_never_crash_or_hang(self):
        volume = pathlib.Path(image("bare-ntfs.raw")).read_bytes()
        # An MBR with one NTFS partition at sector 2048 before the volume.
        entry = bytes([0, 0, 0, 0, 7, 0, 0, 0]) + (2048).to_bytes(4, "little") + \
            (len(volume) // 512).to_bytes(4, "little")
        disk = bytearray(2048 * 512) + volume
        disk[446:462], disk[510:512] = entry, b"\x55\xaa"
        boot = 2048 * 512
        cluster = int.from_bytes(disk[boot + 11:boot + 13], "little") * disk[boot + 13]
        mft = boot + int.from_bytes(disk[boot + 48:boot + 56], "little") * cluster
        vmdk = pathlib.Path(image("mbr-fat-ntfs.vmdk")).read_bytes()
        # image, copies, regions changed, what a lookup gives when the damage is harmless
        cases = [
            # table, boot sector, MFT records
            ("mutated.raw", disk, 300, [(446, 66), (boot, 512), (mft, 80 * 1024)], "found"),
            # a VMDK's header, embedded descriptor and grain tables, read through
            # libvmdk; its hive holds the key in the 32-bit view, which the lookup skips
            ("mutated.vmdk", vmdk, 100, [(0, 512), (512, 2048), (2560, 62 * 1024)],
             "key-not-found"),
        ]
        for name, data, count, regions, harmless in cases:
            with self.subTest(name):
                path = image(name)
                pathlib.Path(path).write_bytes(data)
                done = subprocess.run([MUTATIONS, path, str(count), "17"] +
                                      [f"{start}:{length}" for start, length in regions],
                                      env=LEAK_ENV, capture_output=True, text=True, timeout=120)
                self.assertEqual((done.returncode, done.stderr), (0, ""))
                print(f"\n{count} damaged copies of {name}:\n" + done.stdout, file=sys.stderr)
                self.assertEqual(pathlib.Path(path).read_bytes(), data)
                # Some damage is harmless: the hive is still read.
                self.assertIn(f"  {harmless}\n", done.stdout)


class Chains(unittest.TestCase):
    def test_each_link_reads_the_disk_as_it_stood_then(self):
        def independently(kind, links):
            # qemu follows a VMDK chain on its own, libvhdi's vhdimount a VHD or VHDX one: the hive
            # of the disk each shows at each link.
            sector = BASES[kind][1]
            if kind != "vmdk":
                return [mounted_key(link, sector) for link in links]
            keys = []
            for link in links:
                tool("qemu-img", "convert", "-O", "raw", link, link + ".whole.raw")
                keys.append(cli("--hive", hive_by_tsk(link + ".whole.raw", sector, HIVE))[1][0]
                            ["key"])
            return keys

        def made(links, kind="vmdk"):
            return kind, links, independently(kind, links)

        def moved():
            # Recorded by absolute paths, then the folder moved and the base renamed in capitals,
            # as a VM folder copied from Windows may be.
            links = chain("recorded", [PACKED_C], absolute=True)
            read = independently("vmdk", links)
            os.rename(image("recorded"), image("moved"))
            os.rename(image("moved/server.vmdk"), image("moved/SERVER.VMDK"))
            return "vmdk", [image("moved/SERVER.VMDK"), image("moved/server-000001.vmdk")], read

        # (format, links base first, their keys read independently), and the key each holds
        cases = [
            (made([image("mbr-fat-ntfs.vmdk")]), [KEY_B]),
            (made(chain("two", [PACKED_C])), [KEY_B, KEY_C]),
            (made(chain("three", [PACKED_C, PACKED_D])), [KEY_B, KEY_C, KEY_D]),
            # A snapshot that changed nothing reads through to its parent's key.
            (made(chain("quiet", [PACKED_C, None])), [KEY_B, KEY_C, KEY_C]),
            (moved(), [KEY_B, KEY_C]),
            (made(chain("hyperv", [PACKED_C, PACKED_D], kind="vhdx"), "vhdx"),
             [KEY_A, KEY_C, KEY_D]),
            (made(chain("virtual-pc", [PACKED_C, PACKED_D], kind="vhd"), "vhd"),
             [KEY_A, KEY_C, KEY_D]),
        ]
        for (kind, links, read), keys in cases:
            where = BASES[kind][2]

            def records_of(*args):
                # The key's own partition: two-windows.vhd holds a second Windows.
                status, records, err = cli("--image", *args)
                self.assertEqual((status, err), (0, ""))
                return [(r["location"], r["key"]) for r in records if f", {where} " in r["location"]]

            with self.subTest(links[-1]):
                self.assertEqual(read, keys)
                before = [untouched(link) for link in links]
                names = [f"{link} (snapshot {n} of {n}, over {links[0]})" if n else link
                         for n, link in enumerate(links)]
                for link, name, key in zip(links, names, keys):
                    self.assertEqual(records_of(link), [(f"{name}, {where} (NTFS): {HIVE}", key)])
                top = len(links) - 1
                points = [f"{link} (snapshot {n} of {top}, over {links[0]})" if n else
                          f"{link} (base, under {top} snapshot{'s' * (top > 1)})" if top else link
                          for n, link in enumerate(links)]
                self.assertEqual(records_of(links[-1], "--all-snapshots"),
                                 [(f"{point}, {where} (NTFS): {HIVE}", key)
                                  for point, key in zip(points, keys)])
                self.assertEqual([untouched(link) for link in links], before)

    def test_broken_chains_say_what_was_looked_for_and_where(self):
        base, first = chain("broken", [PACKED_C])[:2]

        def beside(folder, parent=None, name="server-000001.vmdk"):
            os.makedirs(image(folder))
            shutil.copy(first, image(f"{folder}/{name}"))
            if parent:
                parent(image(f"{folder}/server.vmdk"))
            return image(f"{folder}/{name}")

        def looping(folder):
            # Its record of its parent names itself.
            link = beside(folder, name="a.vmdk")
            data = pathlib.Path(link).read_bytes()
            pathlib.Path(link).write_bytes(data.replace(b'Hint="server.vmdk"', b'Hint="a.vmdk"    '))
            return link

        def hyperv(folder, kind, with_base=True, **links):
            base = chain(folder, [], kind=kind)[0]
            child = image(f"{folder}/server_1.a{kind}")
            (differencing_vhdx if kind == "vhdx" else differencing_vhd)(child, base, [], **links)
            if not with_base:
                os.remove(base)
            return child

        deep = [base, first]
        os.makedirs(image("deep"))
        for n in range(2, 65):
            deep.append(snapshot(deep[-1], image(f"deep/s{n:02d}.vmdk"),
                                 os.path.basename(deep[-1]) if n > 2 else first))
        cases = [
            (beside("lonely"), "{0} is a snapshot over server.vmdk, which is not found: looked "
             "for {1}/server.vmdk and server.vmdk in any letter case in {1}/"),
            (beside("replaced", lambda at: tool("qemu-img", "convert", "-O", "vmdk",
                                                image("two-windows.vhd"), at)),
             "{0} is a snapshot over server.vmdk (content id 0x"),
            (looping("loop"), "{0} is a snapshot over a.vmdk, which is {0}, already a link of "
             "this chain: the chain loops"),
            # Hyper-V records the absolute Windows path: only the name is looked for here.
            (hyperv("hyperv-alone", "vhdx", with_base=False),
             "{0} is a snapshot over \\\\?\\C:\\Hyper-V\\Disks\\server.vhdx, which is not found: "
             "looked for server.vhdx in any letter case in {1}/"),
            (hyperv("hyperv-other", "vhd", parent_id=uuid.UUID(int=1)),
             "{0} is a snapshot over server.vhd (identifier 00000000-0000-0000-0000-000000000001), "
             "but {1}/server.vhd is another disk (identifier "),
            # 64 links read; a 65th is one too many.
            (deep[64], "{0} lies on a snapshot chain deeper than 64 links; "),
        ]
        for link, message in cases:
            with self.subTest(link):
                status, (r,), err = cli("--image", link)
                self.assertEqual((status, r["location"], r["error"]["code"]),
                                 (2, link, "broken-snapshot-chain"))
                self.assertTrue(r["error"]["message"].startswith(
                    message.format(link, os.path.dirname(link))), r["error"]["message"])
                self.assertEqual(err, f"tamsket-cli: {r['error']['message']}\n")
        mismatch = cli("--image", cases[1][0])[1][0]["error"]["message"]
        self.assertRegex(mismatch, r"\(content id 0x[0-9a-f]{8}\), but .*/replaced/server.vmdk is "
                         r"another disk \(content id 0x[0-9a-f]{8}\)$")
        # The right parent cut short: its missing grains are not read as zeros.
        cut = beside("cut-parent", lambda at: pathlib.Path(at).write_bytes(
            pathlib.Path(base).read_bytes()[:100_000]))
        status, (r,), _ = cli("--image", cut)
        self.assertEqual((status, r["error"]["code"]), (2, "damaged-image"))
        self.assertIn(" is a VMDK image that cannot be read: ", r["error"]["message"])
        status, (r,), _ = cli("--image", deep[63])
        self.assertEqual((status, r["key"]), (0, KEY_C))


def main():
    global CLI, MUTATIONS, WORK
    CLI, MUTATIONS, WORK = (os.path.abspath(arg) for arg in sys.argv[1:4])
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    with tarfile.open(os.path.join(HERE, "images.tar.xz")) as tar:
        tar.extractall(WORK)
    with open(image("bare-ntfs.raw"), "rb") as f:
        for part in ("001", "002"):
            with open(image(f"split.{part}"), "wb") as out:
                out.write(f.read(3 * 1024 * 1024))
    # A monolithic VMDK renamed, and cut short, beside a VMDK of the name its
    # descriptor holds, whose NTFS volume reads as BitLocker's.
    vmdk = pathlib.Path(image("mbr-fat-ntfs.vmdk")).read_bytes()
    os.makedirs(image("evidence"))
    pathlib.Path(image("evidence/renamed.vmdk")).write_bytes(vmdk)
    pathlib.Path(image("evidence/cut.vmdk")).write_bytes(vmdk[:100_000])
    pathlib.Path(image("evidence/mbr-fat-ntfs.vmdk")).write_bytes(
        vmdk.replace(NTFS_BOOT, NTFS_BOOT[:3] + b"-FVE-FS-"))
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[4:])


if __name__ == "__main__":
    main()
