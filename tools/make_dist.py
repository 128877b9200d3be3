#!/usr/bin/env python3
"""Packs the release from the dist-* builds: two Windows zips, two Debian packages, SHA256SUMS.

    make_dist.py OUT_DIR [--sign CERT.pfx [--gpg-key ID]]
    (run from the top of the tree, after the three dist-* builds, with SOURCE_DATE_EPOCH set)

Every byte written depends only on the builds and the tree: file times come from
SOURCE_DATE_EPOCH (the last commit's time, set by ./dev.sh dist), zip entries are written in
a fixed order with fixed attributes, and the packages' files belong to root with fixed modes.

--sign gives the Windows programs an Authenticode signature (osslsigncode, SHA-256) before
they are zipped; the certificate's password is read from the file TAMSKET_SIGN_PASSWORD_FILE
names and handed to osslsigncode through a pipe, so it is in no command line. Signed exes
are the unsigned ones plus a signature (tools/verify_signed.py checks that against a build).
TAMSKET_TIMESTAMP_URL, when set, names an RFC 3161 time-stamp server. --gpg-key then signs
SHA256SUMS (SHA256SUMS.asc, detached and armored).
"""

import argparse

import email.utils
import gzip
import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time
import zipfile

TOP = pathlib.Path(__file__).resolve().parent.parent
BUILD = TOP / "build"
PACKAGE = "tamsket-cli"
# The image module's package, which the program names when it is missing.
IMAGES_PACKAGE = "tamsket-cli-images"
MAINTAINER = "Tamsket developers <tamsket@example.org>"
# Shown with the program's name in the Authenticode signature of a signed exe:
# the maker's site, which the window's link opens.
PROJECT_URL = "http://www.example.com/"
# The zips' names and the builds they are packed from.
WINDOWS_BUILDS = [("x86", "dist-win32"), ("x64", "dist-win64")]


def read_versions():
    """PROJECT_VERSION (1.1.0.5) and the version as shown (1.01.0005), as CMake wrote them."""
    lines = (BUILD / "dist-linux" / "tamsket-version.txt").read_text().split()
    return dict(line.split("=", 1) for line in lines)


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def fill(template, **values):
    text = (TOP / "packaging" / template).read_text()
    for name, value in values.items():
        text = text.replace(f"@{name}@", value)
    if re.search(r"@[A-Z]+@", text):
        raise SystemExit(f"packaging/{template}: a placeholder was left unfilled")
    return text


def write_zip(path, members, epoch):
    """members: (name, bytes), stored in that order, as of epoch (UTC), as plain archived files."""
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 0  # MS-DOS: the attributes below are DOS ones
            info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE, as Explorer writes a file
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)


def copyright_file(licence):
    """The machine-readable copyright file, the licence's text from LICENSE."""
    body = licence.split("\n\n", 2)[2].strip("\n")  # after the title and the copyright line
    indented = "\n".join(" " + line if line else " ." for line in body.split("\n"))
    return ("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
            "Upstream-Name: Tamsket\n"
            "\n"
            "Files: *\n"
            "Copyright: 2026 Tamsket developers\n"
            "License: Expat\n"
            f"{indented}\n")


def gzip_n(data):
    """gzip -n -9: no name, no time, so the same input gives the same bytes."""
    return subprocess.run(["gzip", "-n", "-9"], input=data, capture_output=True, check=True).stdout


# What the completion offers after an option taking a value the usage names this way;
# nothing after one whose kind of value it does not know (a computer's NAME, say).
VALUE_COMPLETIONS = {"FILE": "-f", "DIR": "-d"}


def bash_completion(usage):
    """The bash completion of exactly the options the program's usage text names."""
    options = {}
    for name, value in re.findall(r"(--[a-z][a-z-]*)(?:[ =]([A-Z]+)\b)?", usage):
        options[name] = options.get(name) or value
    cases = "\n".join(
        f"    {name}) _tamsket_cli_paths {VALUE_COMPLETIONS[value]} \"$cur\"; return ;;"
        if value in VALUE_COMPLETIONS else f"    {name}) return ;;"
        for name, value in sorted(options.items()) if value)
    return fill("tamsket-cli.bash-completion", OPTIONS=" ".join(sorted(options)), VALUES=cases)


def strip_binary(built, installed):
    """As dh_strip strips a program or a shared object."""
    subprocess.run(["strip", "--remove-section=.comment", "--remove-section=.note",
                    "--strip-unneeded", "-o", str(installed), str(built)], check=True)


def write_docs(root, name, shown, date):
    """copyright and changelog.gz, which every package carries under its own name."""
    doc = root / "usr/share/doc" / name
    doc.mkdir(parents=True)
    (doc / "copyright").write_text(copyright_file((TOP / "LICENSE").read_text()))
    changelog = (f"{PACKAGE} ({shown}) unstable; urgency=medium\n\n"
                 f"  * Release {shown}.\n\n -- {MAINTAINER}  {date}\n")
    (doc / "changelog.gz").write_bytes(gzip_n(changelog.encode()))


def pack_deb(work, root, fields, executables, out_dir, epoch):
    """DEBIAN/control (fields, then Depends from dpkg-shlibdeps on the binaries), md5sums,
    modes and times, then the .deb; executables: (path, whether it is run rather than loaded)."""
    shlibs = subprocess.run(["dpkg-shlibdeps", "-O",
                             *(str(p.relative_to(work)) for p, _ in executables)], cwd=work,
                            capture_output=True, text=True, check=True).stdout.strip()
    depends = ", ".join(d for d in (fields.pop("Depends", ""),
                                    shlibs.removeprefix("shlibs:Depends=")) if d)
    files = sorted(p for p in root.rglob("*") if p.is_file() and "DEBIAN" not in p.parts)
    installed_kib = sum((p.stat().st_size + 1023) // 1024 for p in files)
    control = {"Package": root.name,
               # As dpkg-gencontrol writes it: only where it is not the package's own name.
               **({"Source": PACKAGE} if root.name != PACKAGE else {}),
               "Version": fields["Version"], "Architecture": fields["Architecture"],
               "Maintainer": MAINTAINER, "Installed-Size": str(installed_kib), "Depends": depends,
               **({"Suggests": fields["Suggests"]} if "Suggests" in fields else {}),
               "Section": "admin", "Priority": "optional", "Description": fields["Description"]}
    (root / "DEBIAN").mkdir()
    (root / "DEBIAN/control").write_text("".join(f"{k}: {v}\n" for k, v in control.items()))
    (root / "DEBIAN/md5sums").write_text("".join(
        f"{hashlib.md5(p.read_bytes()).hexdigest()}  {p.relative_to(root)}\n" for p in files))

    programs = {p for p, run in executables if run}
    for p in [root, *root.rglob("*")]:
        p.chmod(0o755 if p.is_dir() or p in programs else 0o644)
        os.utime(p, (epoch, epoch), follow_symlinks=False)
    deb = out_dir / f"{root.name}_{fields['Version']}_{fields['Architecture']}.deb"
    # dpkg-deb takes the archive members' times from SOURCE_DATE_EPOCH too.
    subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "--threads-max=1", "--build",
                    str(root), str(deb)], check=True, stdout=subprocess.DEVNULL,
                   env={**os.environ, "SOURCE_DATE_EPOCH": str(epoch)})
    return deb


def build_debs(out_dir, shown, epoch, work):
    """The program's package, and the image module's, which the program only suggests."""
    shutil.rmtree(work, ignore_errors=True)
    built = BUILD / "dist-linux/src"
    # The build tree lays the module out relative to the program (src/cli) as the package
    # does relative to usr/bin, so its path below src is its path below usr.
    modules = sorted(built.rglob("*.so"))
    if len(modules) != 1:
        raise SystemExit(f"{built}: expected one image module, found {modules}")
    arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                          check=True).stdout.strip()
    date = email.utils.formatdate(epoch, usegmt=True).replace("GMT", "+0000")
    common = {"Version": shown, "Architecture": arch}
    # The layout dpkg-shlibdeps expects: debian/control naming the packages, each in debian/NAME.
    (work / "debian").mkdir(parents=True)
    (work / "debian/control").write_text(
        f"Source: {PACKAGE}\n\nPackage: {PACKAGE}\nArchitecture: any\n\n"
        f"Package: {IMAGES_PACKAGE}\nArchitecture: any\n")

    root = work / "debian" / PACKAGE
    completions = root / "usr/share/bash-completion/completions"
    for d in (root / "usr/bin", root / "usr/share/man/man1", completions):
        d.mkdir(parents=True)
    program = root / "usr/bin" / PACKAGE
    strip_binary(built / "cli" / PACKAGE, program)
    man = fill("tamsket-cli.1", VERSION=shown, DATE=time.strftime("%Y-%m-%d", time.gmtime(epoch)))
    (root / "usr/share/man/man1/tamsket-cli.1.gz").write_bytes(gzip_n(man.encode()))
    usage = subprocess.run([str(program), "--help"], capture_output=True, text=True, check=True)
    (completions / PACKAGE).write_text(bash_completion(usage.stdout))
    write_docs(root, PACKAGE, shown, date)
    program_deb = pack_deb(work, root, {
        **common, "Suggests": IMAGES_PACKAGE,
        "Description": "show the Microsoft Exchange product key from Windows registry hives\n"
        " tamsket-cli reads the DigitalProductId value under Microsoft\\Exchange\\Setup\n"
        " from the SOFTWARE registry hive of a Windows installation, for example on the\n"
        " disk of a machine that no longer starts, and decodes the Microsoft Exchange\n"
        " product key from it. It writes text, JSON Lines or CSV, and never writes to\n"
        " the hive.\n"
        " .\n"
        f" Reading disk images (--image) needs the package {IMAGES_PACKAGE}."},
        [(program, True)], out_dir, epoch)

    root = work / "debian" / IMAGES_PACKAGE
    module = root / "usr" / modules[0].relative_to(built)
    module.parent.mkdir(parents=True)
    strip_binary(modules[0], module)
    write_docs(root, IMAGES_PACKAGE, shown, date)
    images_deb = pack_deb(work, root, {
        **common, "Depends": f"{PACKAGE} (= {shown})",
        "Description": "disk image support for tamsket-cli\n"
        " With this package, tamsket-cli --image reads the Microsoft Exchange product\n"
        " key from the SOFTWARE hives of the Windows installations in a disk image,\n"
        " without mounting it: raw, VHD, VHDX, VMDK or E01, with an MBR or GPT\n"
        " partition table or none. Images are read through The Sleuth Kit, opened\n"
        " read-only, and never written to."},
        [(module, False)], out_dir, epoch)
    return [program_deb, images_deb]


def sign_exe(unsigned, signed, pfx, password):
    read_end, write_end = os.pipe()
    os.write(write_end, password)  # far less than a pipe holds: never blocks
    os.close(write_end)
    timestamp = os.environ.get("TAMSKET_TIMESTAMP_URL")
    try:
        subprocess.run(["osslsigncode", "sign", "-pkcs12", str(pfx),
                        "-readpass", f"/dev/fd/{read_end}", "-h", "sha256", "-n", "Tamsket",
                        "-i", PROJECT_URL, *(["-ts", timestamp] if timestamp else []),
                        "-in", str(unsigned), "-out", str(signed)],
                       pass_fds=(read_end,), check=True, stdout=subprocess.DEVNULL)
    finally:
        os.close(read_end)
    return signed


def sign_sums(out_dir, key):
    """SHA256SUMS.asc, checked at once; gives the fingerprint of the key that made it."""
    sums, asc = out_dir / "SHA256SUMS", out_dir / "SHA256SUMS.asc"
    subprocess.run(["gpg", "--local-user", key, "--armor", "--detach-sign", "--output", str(asc),
                    str(sums)], check=True)
    status = subprocess.run(["gpg", "--status-fd", "1", "--verify", str(asc), str(sums)],
                            capture_output=True, text=True, check=True).stdout
    # VALIDSIG: the signing key's fingerprint, ..., the primary key's fingerprint last.
    fields = re.search(r"^\[GNUPG:\] VALIDSIG (.*)$", status, re.M).group(1).split()
    return fields[-1]


def main():
    parser = argparse.ArgumentParser(usage=__doc__.strip().splitlines()[2].strip())
    parser.add_argument("out_dir", type=pathlib.Path)
    parser.add_argument("--sign", type=pathlib.Path, metavar="CERT.pfx")
    parser.add_argument("--gpg-key", metavar="ID")
    args = parser.parse_args()
    if "SOURCE_DATE_EPOCH" not in os.environ or (args.gpg_key and not args.sign):
        parser.error("SOURCE_DATE_EPOCH must be set, and --gpg-key needs --sign")
    password = None
    if args.sign:
        if "TAMSKET_SIGN_PASSWORD_FILE" not in os.environ:
            parser.error("--sign needs TAMSKET_SIGN_PASSWORD_FILE")
        # One line: the line end, if any, is not part of the password.
        text = pathlib.Path(os.environ["TAMSKET_SIGN_PASSWORD_FILE"]).read_bytes()
        password = text.removesuffix(b"\n").removesuffix(b"\r")
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    out_dir = args.out_dir
    shutil.rmtree(out_dir, ignore_errors=True)
    out_dir.mkdir(parents=True)
    shown = read_versions()["TAMSKET_VERSION_STRING"]
    licence = crlf((TOP / "LICENSE").read_text())

    written = []
    for arch, build in WINDOWS_BUILDS:
        readme = crlf(fill("README.txt", VERSION=shown, ARCH=arch))
        exes = [BUILD / build / "src/tamsket.exe", BUILD / build / "src/cli/tamsket-cli.exe"]
        if password is not None:
            signed = BUILD / "dist-signed" / arch
            shutil.rmtree(signed, ignore_errors=True)
            signed.mkdir(parents=True)
            exes = [sign_exe(exe, signed / exe.name, args.sign, password) for exe in exes]
        members = [*((exe.name, exe.read_bytes()) for exe in exes),
                   ("README.txt", readme), ("LICENSE.txt", licence)]
        path = out_dir / f"tamsket-{shown}-windows-{arch}.zip"
        write_zip(path, members, epoch)
        written.append(path)
    written += build_debs(out_dir, shown, epoch, BUILD / "dist-deb")

    sums = "".join(f"{hashlib.sha256(p.read_bytes()).hexdigest()}  {p.name}\n"
                   for p in sorted(written))
    (out_dir / "SHA256SUMS").write_text(sums)
    for p in sorted(written):
        print(f"{p.stat().st_size:9}  {p}")
    if args.gpg_key:
        print(f"SHA256SUMS.asc: signed with the OpenPGP key {sign_sums(out_dir, args.gpg_key)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
