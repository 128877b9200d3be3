#!/usr/bin/env python3
"""sign_test.py DIST_DIR: signs the unsigned release ./dev.sh dist just made, in a temporary
folder, with a throwaway CA's code-signing certificate and a throwaway OpenPGP key, and checks
the signatures, verify_signed.py, check_dist.py, that tampering is found, and that the password
shows in no command line, environment or output."""

import os, pathlib, secrets, shutil, subprocess, sys, tempfile, threading, zipfile

TOP = pathlib.Path(__file__).resolve().parents[2]
PASSWORD = "throwaway-" + secrets.token_hex(8)
problems = []


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def check(ok, message):
    if not ok:
        problems.append(message)


def sample_processes(stop, seen):
    while not stop.is_set():
        seen.update(run("ps", "-eo", "args").stdout.splitlines())


def verify_exes(directory, ca):
    """{zip/exe: whether osslsigncode verify passes against ca}."""
    results = {}
    for archive in sorted(directory.glob("*.zip")):
        for name in [n for n in zipfile.ZipFile(archive).namelist() if n.endswith(".exe")]:
            (directory.parent / "exe").write_bytes(zipfile.ZipFile(archive).read(name))
            verified = run("osslsigncode", "verify", "-CAfile", ca, "-in", directory.parent / "exe")
            results[f"{archive.name}/{name}"] = verified.returncode == 0
    return results


def main():
    unsigned = pathlib.Path(sys.argv[1]).resolve()
    with tempfile.TemporaryDirectory(prefix="tamsket-sign-test-") as work:
        w = pathlib.Path(work)
        (w / "password").write_text(PASSWORD + "\n")
        (w / "gnupg").mkdir(mode=0o700)
        key = ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
               "-nodes", "-days", "2"]
        run(*key, "-subj", "/CN=Throwaway CA", "-keyout", w / "ca.key", "-out", w / "ca.pem", check=True)
        run(*key, "-subj", "/CN=Throwaway signer", "-CA", w / "ca.pem", "-CAkey", w / "ca.key",
            "-addext", "basicConstraints=CA:FALSE", "-addext", "extendedKeyUsage=codeSigning",
            "-keyout", w / "signer.pem", "-out", w / "signer.pem.crt", check=True)
        run("openssl", "pkcs12", "-export", "-inkey", w / "signer.pem", "-in", w / "signer.pem.crt",
            "-passout", f"file:{w / 'password'}", "-out", w / "signer.pfx", check=True)
        env = {**os.environ, "GNUPGHOME": f"{w}/gnupg", "TAMSKET_SIGN_PASSWORD_FILE": f"{w}/password",
               "PATH": f"{w}:{os.environ['PATH']}",  # the osslsigncode below, which logs its calls
               "SOURCE_DATE_EPOCH": run("git", "log", "-1", "--format=%ct", cwd=TOP).stdout.strip()}
        run("gpg", "--batch", "--passphrase", "", "--quick-gen-key", "Throwaway <t@example.org>",
            "ed25519", "sign", "1d", env=env, check=True)
        (w / "osslsigncode").write_text('#!/bin/sh\n{ echo "$@"; env; } >>"${0%/*}/calls"\n'
                                        f'exec {shutil.which("osslsigncode")} "$@"\n')
        (w / "osslsigncode").chmod(0o755)

        stop, seen = threading.Event(), set()
        sampler = threading.Thread(target=sample_processes, args=(stop, seen))
        sampler.start()
        signed = w / "signed"
        made = run(sys.executable, TOP / "tools/make_dist.py", signed, "--sign", w / "signer.pfx",
                   "--gpg-key", "t@example.org", env=env, cwd=TOP)
        stop.set()
        sampler.join()
        print(made.stdout, made.stderr, end="")
        made.check_returncode()
        calls = (w / "calls").read_text()
        check(calls.count("sign -pkcs12") == 4, f"osslsigncode did not sign four exes:\n{calls}")
        check(any("make_dist.py" in line for line in seen), "the process list was not sampled")
        check(not any(PASSWORD in text for text in [*seen, calls, made.stdout, made.stderr]),
              "the password was seen in a command line, an environment or the output")
        results = verify_exes(signed, w / "ca.pem")
        check(len(results) == 4 and all(results.values()), f"osslsigncode verify: {results}")
        compared = run(sys.executable, TOP / "tools/verify_signed.py", signed, unsigned)
        print(compared.stdout, end="")
        check(compared.returncode == 0, "verify_signed.py finds the signed release differs")
        checked = run(sys.executable, TOP / "tests/dist/check_dist.py", signed, "--no-install")
        check(checked.returncode == 0, f"check_dist.py fails for the signed release:\n{checked.stderr}")
        sums = ["gpg", "--verify", signed / "SHA256SUMS.asc", signed / "SHA256SUMS"]
        check(run(*sums, env=env).returncode == 0, "gpg --verify fails")

        # One byte of the x64 tamsket.exe's code changed, in its zip.
        x64 = next(signed.glob("*-x64.zip"))
        members = [(i, bytearray(zipfile.ZipFile(x64).read(i))) for i in zipfile.ZipFile(x64).infolist()]
        members[0][1][0x400 + 100] ^= 1
        with zipfile.ZipFile(x64, "w") as z:
            for info, data in members:
                z.writestr(info, bytes(data))
        results = verify_exes(signed, w / "ca.pem")
        check(not results[f"{x64.name}/tamsket.exe"] and sum(results.values()) == 3,
              f"osslsigncode verify with one byte changed in {x64.name}/tamsket.exe: {results}")
        compared = run(sys.executable, TOP / "tools/verify_signed.py", signed, unsigned)
        check(compared.returncode == 1 and "tamsket.exe: signed; without the signature DIFFERS"
              in compared.stdout, f"verify_signed.py misses the changed byte:\n{compared.stdout}")
        (signed / "SHA256SUMS").write_text((signed / "SHA256SUMS").read_text() + "\n")
        check(run(*sums, env=env).returncode != 0, "gpg --verify passes a changed SHA256SUMS")
    for p in problems:
        print(f"FAIL: {p}", file=sys.stderr)
    if not problems:
        print("OK: the signed release verifies; a changed exe or SHA256SUMS does not")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
