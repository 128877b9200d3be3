#!/usr/bin/env python3
"""Checks a release as a user gets it: what ./dev.sh dist wrote into DIST_DIR.

    check_dist.py DIST_DIR [--no-install]

- SHA256SUMS lists exactly the zips and the two packages, with their right sums (a signed
  release also holds SHA256SUMS.asc);
- each zip holds tamsket.exe, tamsket-cli.exe, README.txt and LICENSE.txt, in that order, dated
  as the last commit; the texts have CR LF line ends; the unpacked tamsket.exe passes
  tests/pe/check_pe.py with the exe check's own arguments, tamsket-cli.exe is an exe of the
  zip's architecture importing only Windows' own DLLs;
- README.txt and the man page name every option the program has, and none it lacks;
- the packaged bash completion offers exactly the options of the program's usage, and paths
  (folders for --windows) after those that take one;
- each package holds exactly its files, owned by root and dated as the last commit; the
  program's depends on no image library and suggests the images package, which depends on the
  program of its version and on The Sleuth Kit; lintian finds no errors in either;
- tamsket-cli installed alone with dpkg -i: /usr/bin/tamsket-cli tells its version, maps no
  image library, reads a key from a hive, answers --image with no-image-support naming the
  images package, and `man tamsket-cli` shows its page; with the images package installed too,
  --image reads the key from a disk image; dpkg -r removes both again.
--no-install skips what needs root (dpkg -i, the installed program, man, dpkg -r).
Exit status: 0 all good, 1 a check failed.
"""

import argparse
import hashlib
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile

TOP = pathlib.Path(__file__).resolve().parents[2]
PACKAGE = "tamsket-cli"
IMAGES_PACKAGE = "tamsket-cli-images"
ZIP_MEMBERS = ["tamsket.exe", "tamsket-cli.exe", "README.txt", "LICENSE.txt"]
# Zip name's architecture -> check_pe.py's.
ARCHES = {"x86": "x86", "x64": "amd64"}
# Each package's files; the module where Debian keeps a program's private libraries.
MULTIARCH = subprocess.run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"], capture_output=True,
                           text=True, check=True).stdout.strip()
DEB_FILES = {
    PACKAGE: ["usr/bin/tamsket-cli", "usr/share/bash-completion/completions/tamsket-cli",
              "usr/share/doc/tamsket-cli/changelog.gz",
              "usr/share/doc/tamsket-cli/copyright", "usr/share/man/man1/tamsket-cli.1.gz"],
    IMAGES_PACKAGE: [f"usr/lib/{MULTIARCH}/tamsket/tamsket-image.so",
                     "usr/share/doc/tamsket-cli-images/changelog.gz",
                     "usr/share/doc/tamsket-cli-images/copyright"],
}
# The libraries that read images, and those they bring in: none may reach the program alone.
IMAGE_LIBRARIES = ["libtsk", "libewf", "libvhdi", "libvmdk", "libafflib", "libcurl", "libbfio"]
# A volume image from the --image tests' fixtures; its hive holds the sample value.
IMAGE_MEMBER = "bare-ntfs.raw"
# The made-up value of tools/sample_product_id.py, and what it decodes to.
SAMPLE_KEY = "M3R7T-JV33T-PWDB4-F9XM2-RYBVD"
SAMPLE_PRODUCT_ID = "65317-308-1234567-45296"

problems = []


def check(ok, message):
    if not ok:
        problems.append(message)
    return ok


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def versions():
    """PROJECT_VERSION, and the version as shown: the minor part in two digits, the build in four."""
    project = re.search(r"project\(Tamsket VERSION ([0-9.]+)",
                        (TOP / "CMakeLists.txt").read_text()).group(1)
    major, minor, _, build = project.split(".")
    return project, f"{major}.{int(minor):02}.{int(build):04}"


def exe_check_args(program, arch):
    """check_pe.py's arguments for program of arch, from the file the exe_check tests read."""
    args = []
    for line in (TOP / "tests/pe/exe_checks.txt").read_text().splitlines():
        if line and not line.startswith("#"):
            for_program, applies_to, *words = line.split()
            if for_program == program and applies_to in ("all", arch):
                args += words
    return args


def program_options(program):
    """The options the program's --help names; and whether it knows --computer (Windows only)."""
    usage = run(program, "--help").stdout
    options = set(re.findall(r"--[a-z][a-z-]*", usage))
    refused = run(program, "--computer", "x").stderr
    check("works only on Windows" in refused, f"--computer not known as a Windows option: {refused}")
    return options | {"--computer", "-h"}


def check_options_named(label, text, options, windows):
    named = set(re.findall(r"(?<![\w-])--?[a-z](?:[a-z-]*[a-z])?\b", text.replace("\\-", "-")))
    named = {n for n in named if n.startswith("--") or n == "-h"}
    check(not named - options, f"{label} names options the program lacks: {sorted(named - options)}")
    wanted = options if windows else options - {"--computer"}
    check(not wanted - named, f"{label} does not name {sorted(wanted - named)}")


def check_completion(script, options, work):
    """Runs the completion function as bash would, in a folder holding a file and a folder."""
    (work / "completing/a-dir").mkdir(parents=True)
    (work / "completing/a-hive").touch()
    offered = sorted(options - {"--computer", "-h"})
    cases = [(["--"], offered), (["--json", "--c"], ["--csv"]), (["--hive", ""], ["a-dir", "a-hive"]),
             (["--windows", "a"], ["a-dir"]), (["--windows", "=", ""], ["a-dir"]),
             (["--", "--j"], []), (["--", "a-"], ["a-dir", "a-hive"])]
    for words, wanted in cases:
        got = run("bash", "-c", 'source "$0"; COMP_WORDS=(tamsket-cli "$@"); COMP_CWORD=$#; '
                  '_tamsket_cli; printf "%s\\n" "${COMPREPLY[@]}"', str(script), *words,
                  cwd=work / "completing").stdout.split()
        check(sorted(got) == wanted, f"completing {words} offers {sorted(got)}, expected {wanted}")


def check_text_member(name, data):
    text = data.decode("utf-8")
    check(re.search(r"(?<!\r)\n", text) is None, f"{name} has line ends without CR")
    check(text.endswith("\r\n"), f"{name} does not end with a line end")
    check(re.search(r"@[A-Z]+@", text) is None, f"{name} holds an unfilled placeholder")
    return text.replace("\r\n", "\n")


def check_zip(path, arch, project, shown, epoch, options, work):
    pe_arch = ARCHES[arch]
    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        check([i.filename for i in infos] == ZIP_MEMBERS,
              f"{path.name} holds {[i.filename for i in infos]}, expected {ZIP_MEMBERS}")
        # Zip times are local DOS times in two-second steps; the release writes UTC.
        stamp = time.gmtime(epoch - epoch % 2)[:6]
        for info in infos:
            check(info.date_time == stamp, f"{path.name}: {info.filename} dated {info.date_time}, "
                                           f"not as the last commit {stamp}")
        unpacked = work / arch
        archive.extractall(unpacked)
    readme = check_text_member(f"{path.name}: README.txt", (unpacked / "README.txt").read_bytes())
    check(f"Tamsket {shown} for Windows ({arch})" in readme, f"{path.name}: README.txt title")
    check_options_named(f"{path.name}: README.txt", readme, options, windows=True)
    licence = check_text_member(f"{path.name}: LICENSE.txt", (unpacked / "LICENSE.txt").read_bytes())
    check(licence == (TOP / "LICENSE").read_text(), f"{path.name}: LICENSE.txt is not LICENSE")

    for program in ("tamsket", "tamsket-cli"):
        pe = run(sys.executable, str(TOP / "tests/pe/check_pe.py"), str(unpacked / f"{program}.exe"),
                 "--arch", pe_arch, "--version", project, *exe_check_args(program, pe_arch))
        print(pe.stdout, end="")
        check(pe.returncode == 0, f"{path.name}: {program}.exe fails check_pe.py:\n{pe.stderr}")


def check_deb_contents(deb, package, shown, epoch):
    # dpkg-deb shows the times in the local time zone.
    listing = run("dpkg-deb", "--contents", str(deb), env={**os.environ, "TZ": "UTC"})
    listing = listing.stdout.splitlines()
    files = []
    for line in listing:
        mode, owner, _, day, clock, name = line.split(None, 5)
        stamp = time.strftime("%Y-%m-%d %H:%M", time.gmtime(epoch))
        check(owner == "root/root", f"{deb.name}: {name} belongs to {owner}")
        check(f"{day} {clock}" == stamp, f"{deb.name}: {name} dated {day} {clock}, not {stamp}")
        if not mode.startswith("d"):
            files.append(name.removeprefix("./"))
            # Only the program is run; a shared object is loaded, and lintian wants it 644.
            wanted = "-rwxr-xr-x" if name.endswith("/bin/" + PACKAGE) else "-rw-r--r--"
            check(mode == wanted, f"{deb.name}: {name} has mode {mode}, expected {wanted}")
    check(sorted(files) == DEB_FILES[package],
          f"{deb.name} holds {sorted(files)}, expected {DEB_FILES[package]}")
    fields = {f: run("dpkg-deb", "--field", str(deb), f).stdout.strip()
              for f in ("Package", "Version", "Depends", "Suggests", "Recommends")}
    print(f"{deb.name}: Depends: {fields['Depends']}")
    check((fields["Package"], fields["Version"]) == (package, shown),
          f"{deb.name} is {fields['Package']} {fields['Version']}, expected {package} {shown}")
    depends = fields["Depends"].split(", ")
    # The program links the C++ runtime in and needs the C library alone; the
    # module shares the C++ runtime with The Sleuth Kit.
    runtimes = ("libc6",) if package == PACKAGE else ("libc6", "libstdc++6", "libgcc-s1")
    for library in runtimes:
        check(any(re.match(rf"{re.escape(library)}\b", d) for d in depends),
              f"{deb.name}: Depends ({fields['Depends']}) lacks {library}")
    if package == PACKAGE:
        check(len(depends) == 1, f"{deb.name}: Depends ({fields['Depends']}) is more than libc6")
    images = [d for d in depends if d.startswith(tuple(IMAGE_LIBRARIES))]
    if package == PACKAGE:
        check(not images, f"{deb.name} depends on image libraries: {images}")
        check((fields["Suggests"], fields["Recommends"]) == (IMAGES_PACKAGE, ""),
              f"{deb.name}: Suggests {fields['Suggests']!r}, Recommends "
              f"{fields['Recommends']!r}; expected to suggest {IMAGES_PACKAGE} only")
    else:
        check(f"{PACKAGE} (= {shown})" in depends,
              f"{deb.name}: Depends ({fields['Depends']}) lacks {PACKAGE} (= {shown})")
        check(any(re.match(r"libtsk\d", d) for d in depends),
              f"{deb.name}: Depends ({fields['Depends']}) lacks The Sleuth Kit (libtsk)")


def dpkg(*args):
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    # Another developer's apt may hold dpkg's lock for a while.
    for _ in range(60):
        done = run(*sudo, "dpkg", *args)
        if "lock" not in done.stderr:
            return done
        time.sleep(2)
    return done


def json_records(done):
    try:
        return [json.loads(line) for line in done.stdout.splitlines()]
    except json.JSONDecodeError:
        return done.stdout


def check_installed(debs, shown, work):
    for package in debs:
        before = run("dpkg-query", "-W", "-f=${Status}", package).stdout
        if not check("installed" not in before.split(),
                     f"{package} is installed already; not replacing it ({before})"):
            return
    installed = dpkg("-i", str(debs[PACKAGE]))
    if not check(installed.returncode == 0, f"dpkg -i {PACKAGE} failed:\n{installed.stderr}"):
        return
    try:
        program = f"/usr/bin/{PACKAGE}"
        version = run(program, "--version")
        check(version.stdout == f"tamsket-cli {shown}\n" and version.returncode == 0,
              f"{program} --version said {version.stdout!r} (exit {version.returncode})")
        libraries = run("ldd", program).stdout
        mapped = [line.split()[0] for line in libraries.splitlines()
                  if line.split() and line.split()[0].startswith(tuple(IMAGE_LIBRARIES))]
        check(libraries and not mapped, f"{program} maps image libraries: {mapped or libraries}")
        print(f"{program}: {len(libraries.splitlines())} lines of ldd, no image library")
        hive = work / "volume/Windows/System32/config/SOFTWARE"
        hive.parent.mkdir(parents=True)
        sample = run(sys.executable, str(TOP / "tools/sample_product_id.py")).stdout.strip()
        run(sys.executable, str(TOP / "tests/hive/make_hive.py"), str(hive), "--value",
            "Microsoft\\Exchange\\Setup", "DigitalProductId", "binary", sample, check=True)
        lookup = run(program, "--json", "--hive", str(hive))
        records = json_records(lookup)
        # A hive without Wow6432Node is a 32-bit Windows' one: one view, the 32-bit one.
        wanted = {"source": "hive", "location": str(hive), "view": "32-bit", "status": "found",
                  "product": "Microsoft Exchange", "key": SAMPLE_KEY,
                  "productId": SAMPLE_PRODUCT_ID, "valueType": "REG_BINARY", "valueSize": 164,
                  "hiveState": "clean", "error": None, "hint": None, "logs": None}
        check(records == [wanted] and lookup.returncode == 0,
              f"{program} --hive gave {records} (exit {lookup.returncode}), expected [{wanted}]")
        print(f"{program} --hive: {records[0]['key'] if records else 'nothing'}")
        found = run(program, "--json", "--windows", str(work / "volume"))
        check(json_records(found) == [wanted] and found.returncode == 0,
              f"{program} --windows gave {found.stdout} (exit {found.returncode})")
        image = work / IMAGE_MEMBER
        with tarfile.open(TOP / "tests/image/images.tar.xz") as tar:
            image.write_bytes(tar.extractfile(IMAGE_MEMBER).read())
        alone = run(program, "--json", "--image", str(image))
        records = json_records(alone)
        got = [(r["source"], r["status"], (r["error"] or {}).get("code")) for r in records]
        check(got == [("image", "error", "no-image-support")] and alone.returncode == 2 and
              IMAGES_PACKAGE in records[0]["error"]["message"] and IMAGES_PACKAGE in alone.stderr,
              f"{program} --image without {IMAGES_PACKAGE} gave {records} (exit "
              f"{alone.returncode}), expected no-image-support naming {IMAGES_PACKAGE}")
        print(f"{program} --image without {IMAGES_PACKAGE}: {alone.stderr.strip()}")
        installed_page = f"/usr/share/man/man1/{PACKAGE}.1.gz"
        check(os.path.exists(installed_page), f"dpkg -i left out {installed_page} "
                                              "(a path-exclude in /etc/dpkg/dpkg.cfg.d?)")
        page = run("man", "-P", "cat", PACKAGE, env={**os.environ, "MANWIDTH": "80"})
        check(page.returncode == 0 and re.search(r"^NAME\n\s+tamsket-cli - ", page.stdout, re.M),
              f"man {PACKAGE} shows no NAME section: {page.stdout[:200]!r} {page.stderr}")

        installed = dpkg("-i", str(debs[IMAGES_PACKAGE]))
        if not check(installed.returncode == 0,
                     f"dpkg -i {IMAGES_PACKAGE} failed:\n{installed.stderr}"):
            return
        read = run(program, "--json", "--image", str(image))
        records = json_records(read)
        got = [{f: r[f] for f in ("source", "location", "view", "status", "key", "productId")}
               for r in records if isinstance(r, dict)]
        wanted = {"source": "image", "view": "64-bit", "status": "found", "key": SAMPLE_KEY,
                  "productId": SAMPLE_PRODUCT_ID, "location": f"{image}, whole image (NTFS): "
                  "\\Windows\\System32\\config\\SOFTWARE"}
        check(got == [wanted] and read.returncode == 0,
              f"{program} --image with {IMAGES_PACKAGE} gave {records} (exit {read.returncode}, "
              f"{read.stderr!r}), expected [{wanted}]")
        print(f"{program} --image with {IMAGES_PACKAGE}: {got[0]['key'] if got else 'nothing'}")
    finally:
        removed = dpkg("-r", IMAGES_PACKAGE, PACKAGE)
        left = [p for p in (f"/usr/bin/{PACKAGE}", f"/usr/lib/{MULTIARCH}/tamsket")
                if os.path.exists(p)]
        check(removed.returncode == 0 and not left,
              f"dpkg -r failed (left {left}):\n{removed.stderr}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dist", type=pathlib.Path)
    parser.add_argument("--no-install", action="store_true")
    args = parser.parse_args()
    project, shown = versions()
    epoch = int(run("git", "-C", str(TOP), "log", "-1", "--format=%ct").stdout)
    arch = run("dpkg", "--print-architecture").stdout.strip()
    zips = {a: f"tamsket-{shown}-windows-{a}.zip" for a in ARCHES}
    debs = {name: args.dist / f"{name}_{shown}_{arch}.deb" for name in DEB_FILES}
    deb = debs[PACKAGE]

    sums = {}
    for line in (args.dist / "SHA256SUMS").read_text().splitlines():
        digest, name = line.split("  ", 1)
        sums[name] = digest
    wanted = sorted([*zips.values(), *(d.name for d in debs.values())])
    check(sorted(sums) == wanted, f"SHA256SUMS lists {sorted(sums)}, expected {wanted}")
    present = sorted(p.name for p in args.dist.iterdir()
                     if p.name not in ("SHA256SUMS", "SHA256SUMS.asc"))
    check(present == wanted, f"{args.dist} holds {present}, expected {wanted}")
    for name, digest in sums.items():
        path = args.dist / name
        check(path.is_file() and hashlib.sha256(path.read_bytes()).hexdigest() == digest,
              f"{name}: SHA-256 differs from SHA256SUMS")
    if problems:  # nothing below is worth checking in a release that is not the one listed
        print("\n".join(f"FAIL: {p}" for p in problems), file=sys.stderr)
        return 1

    with tempfile.TemporaryDirectory(prefix="tamsket-dist-check-") as work:
        work = pathlib.Path(work)
        # The packaged program and man page, unpacked: what they say is what the texts say.
        unpacked = work / "deb"
        run("dpkg-deb", "--extract", str(deb), str(unpacked), check=True)
        options = program_options(str(unpacked / "usr/bin" / PACKAGE))
        page = run("man", "-P", "cat", "-l", str(unpacked / "usr/share/man/man1/tamsket-cli.1.gz"),
                   env={**os.environ, "MANWIDTH": "80"}).stdout
        check_options_named("the man page", page, options, windows=False)
        check_completion(unpacked / "usr/share/bash-completion/completions" / PACKAGE, options, work)
        for a, name in zips.items():
            check_zip(args.dist / name, a, project, shown, epoch, options, work)
        for name, path in debs.items():
            check_deb_contents(path, name, shown, epoch)
            lint = run("lintian", "--fail-on", "error", "--display-info", "--pedantic", str(path))
            print(f"lintian {path.name}:\n{lint.stdout or '(nothing to report)'}".rstrip("\n"))
            errors = [line for line in lint.stdout.splitlines() if line.startswith("E:")]
            check(lint.returncode == 0,
                  f"lintian finds errors in {path.name}: {errors or lint.stderr.strip()}")
        if not args.no_install:
            check_installed(debs, shown, work)
    for p in problems:
        print(f"FAIL: {p}", file=sys.stderr)
    if problems:
        return 1
    print(f"OK: {args.dist} holds the release {shown}, checked unpacked and installed"
          if not args.no_install else f"OK: {args.dist} holds the release {shown} (not installed)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
