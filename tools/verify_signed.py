#!/usr/bin/env python3
"""Checks a signed release against a release built from the sources, file by file.

    verify_signed.py SIGNED_DIR FRESH_DIR   (FRESH_DIR: ./dev.sh dist of the same commit)

Each file FRESH_DIR's SHA256SUMS lists must be in SIGNED_DIR with the sum SIGNED_DIR's own
SHA256SUMS gives it. A zip must hold the same members in the same order, with the same dates;
each exe in it, once `osslsigncode remove-signature` has taken its signature off, must be the
fresh build's exe byte for byte, and each other member the same bytes as built. Other files (the
Debian packages) must be the same bytes.

That comparison is exact, with nothing normalised, because signing changes only three things,
all of which remove-signature restores: it appends the certificate table (removed: the file is
cut back to where the table starts), fills in the certificate table's entry of the data
directories (set back to zero) and recomputes the PE checksum (recomputed again on removal,
giving the value the linker wrote: GNU ld writes the right checksum, as checked for these
builds). osslsigncode pads
the file to a multiple of 8 bytes before the table, and removal leaves that padding; the
builds' exes end at their 512-byte file alignment, so no padding is ever added.
So an exe that passes is the fresh build plus a signature and nothing else: every byte the
loader maps is the build's.
Exit status: 0 all the same, 1 something differs or is missing.
"""

import hashlib
import pathlib
import subprocess
import sys
import tempfile
import zipfile


def listed_sums(directory):
    lines = (directory / "SHA256SUMS").read_text().splitlines()
    return dict(reversed(line.split("  ", 1)) for line in lines)


def unsigned_bytes(name, data, work):
    """The exe without its signature, or None (said why) when it carries none."""
    signed, stripped = work / "signed.exe", work / "stripped.exe"
    signed.write_bytes(data)
    stripped.unlink(missing_ok=True)
    done = subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed),
                           "-out", str(stripped)], capture_output=True, text=True)
    if done.returncode != 0:
        print(f"  {name}: DIFFERS: no signature to remove ({done.stderr.strip().splitlines()[-1:]})")
        return None
    return stripped.read_bytes()


def compare_zip(signed_zip, fresh_zip, work):
    same = True
    with zipfile.ZipFile(signed_zip) as signed, zipfile.ZipFile(fresh_zip) as fresh:
        layout = [(i.filename, i.date_time) for i in signed.infolist()]
        wanted = [(i.filename, i.date_time) for i in fresh.infolist()]
        if layout != wanted:
            print(f"  members DIFFER: {layout}, built {wanted}")
            same = False
        for info in fresh.infolist():
            name, built = info.filename, fresh.read(info)
            if name not in signed.namelist():
                continue  # reported with the members
            data = signed.read(name)
            if name.lower().endswith(".exe"):
                data = unsigned_bytes(name, data, work)
                if data is None:
                    same = False
                    continue
                how = "signed; without the signature"
            else:
                how = "not signed;"
            ok = data == built
            same &= ok
            print(f"  {name}: {how} {'the same bytes as built' if ok else 'DIFFERS from the build'}")
    return same


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    signed_dir, fresh_dir = map(pathlib.Path, sys.argv[1:])
    signed_sums, same = listed_sums(signed_dir), True
    with tempfile.TemporaryDirectory(prefix="tamsket-verify-signed-") as work:
        for name in sorted(listed_sums(fresh_dir)):
            path = signed_dir / name
            if not path.is_file():
                print(f"{name}: MISSING from {signed_dir}")
                same = False
                continue
            listed = signed_sums.get(name) == hashlib.sha256(path.read_bytes()).hexdigest()
            print(f"{name}: {'as' if listed else 'NOT as'} SHA256SUMS lists it")
            same &= listed
            if name.endswith(".zip"):
                same &= compare_zip(path, fresh_dir / name, pathlib.Path(work))
            else:
                ok = path.read_bytes() == (fresh_dir / name).read_bytes()
                same &= ok
                print(f"  not signed; {'the same bytes as built' if ok else 'DIFFERS from the build'}")
    if (signed_dir / "SHA256SUMS.asc").exists():
        print("SHA256SUMS.asc: not compared (its signer's, not the build's): gpg --verify checks it")
    extra = sorted(set(signed_sums) - set(listed_sums(fresh_dir)))
    if extra:
        print(f"SHA256SUMS lists files the build does not make: {extra}")
    print("OK: every file is the build from the sources, the exes with a signature added"
          if same and not extra else "FAIL: the signed release is not what the sources build")
    return 0 if same and not extra else 1


if __name__ == "__main__":
    sys.exit(main())
