#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   ./dev.sh test   install what is missing, build all three targets, run every test
#   ./dev.sh run    install what is missing, build, and run tamsket.exe under Wine
#                   (--no-key / --sample-key as for tools/run-under-wine.sh)
#   ./dev.sh bench  build and run the benchmarks
#   ./dev.sh fuzz [SECONDS] [hive|log]  fuzz the hive reader or its transaction logs
#                            (default 60 s, hive), then minimise that target's corpus
#   ./dev.sh coverage        line coverage of src/hive by the tests and by the fuzz corpus
#   ./dev.sh dist   build the release into dist/ from clean build trees, and check it
#                   (--verify: build it twice from two fresh clones of HEAD, compare;
#                   --sign CERT.pfx [--gpg-key ID]: sign its exes and SHA256SUMS;
#                   --verify-signed DIR: compare a signed release with a build of HEAD)
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake make g++ googletest libbenchmark-dev python3
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 xvfb xauth
          cups printer-driver-cups-pdf poppler-utils fonts-wine fonts-dejavu-core xclip xdotool
          libhivex-bin libwin-hivex-perl python3-hivex libregf-utils python3-libregf
          ansible-core
          pkg-config libtsk-dev libvmdk-dev libvhdi-dev libbfio-dev sleuthkit strace
          qemu-utils libvhdi-utils)
# The 32-bit program runs in a WoW64 prefix; it needs 32-bit Wine, and 32-bit
# CUPS to see a printer (without it, each 32-bit start even removes Wine's
# printer entries from the prefix).
packages_i386=(wine32:i386 libcups2:i386)

install_missing() {
  local missing=() missing_i386=() sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "enabling the i386 architecture for 32-bit Wine"
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  for p in "${packages_i386[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      missing_i386+=("$p")
  done
  [ $((${#missing[@]} + ${#missing_i386[@]})) -eq 0 ] && return
  echo "installing: ${missing[*]} ${missing_i386[*]}"
  # A mirror in mid-sync fails an index now and then; what could be read is
  # used, and an install that still lacks a package says so.
  "${sudo[@]}" apt-get update -qq || echo "note: apt-get update reported errors; going on" >&2
  local install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends)
  [ ${#missing[@]} -eq 0 ] || "${sudo[@]}" "${install[@]}" "${missing[@]}"
  # Without 32-bit Wine the 32-bit Windows tests are skipped, saying why;
  # the rest does not wait for it.
  [ ${#missing_i386[@]} -eq 0 ] || "${sudo[@]}" "${install[@]}" "${missing_i386[@]}" ||
    echo "note: ${missing_i386[*]} could not be installed: the 32-bit Windows tests will be skipped" >&2
}

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$(nproc)"
}

# The release: zips for Windows, a package for Debian, SHA256SUMS, in dist/. Built
# from empty build trees, so nothing an earlier build left can end up in it, and
# dated as the last commit, so the same commit gives the same bytes.
dist_packages=(lintian dpkg-dev man-db osslsigncode gnupg openssl)
make_dist() {
  export SOURCE_DATE_EPOCH
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  [ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "note: uncommitted changes are built in; the release of HEAD would differ" >&2
  rm -rf build/dist-win32 build/dist-win64 build/dist-linux build/dist-deb dist
  for preset in dist-win32 dist-win64 dist-linux; do
    build "$preset" >/dev/null
  done
  # Debian's Python, whose zlib is the system's: another deflate could pack other bytes.
  /usr/bin/python3 tools/make_dist.py dist "$@"
}

# dist --sign CERT.pfx [--gpg-key ID]. Everything that can be refused is refused before
# the minute of building; a password asked for reaches make_dist.py through a pipe on fd 3,
# never through a command line or the environment.
sign_dist() {
  local cert=${1:-} key=
  if [ "$#" -eq 3 ] && [ "$2" = --gpg-key ]; then key=$3; elif [ "$#" -ne 1 ]; then
    echo "usage: $0 dist --sign CERT.pfx [--gpg-key ID]" >&2 && return 2
  fi
  [ -r "$cert" ] || { echo "cannot read the certificate $cert" >&2 && return 2; }
  if [ -n "$key" ] && ! gpg --list-secret-keys "$key" >/dev/null; then
    echo "no OpenPGP secret key $key" >&2 && return 2
  fi
  if [ -z "${TAMSKET_SIGN_PASSWORD_FILE:-}" ]; then
    local password
    if ! read -rsp "password of $cert: " password </dev/tty; then
      echo "no terminal to ask for the password on: name a file in TAMSKET_SIGN_PASSWORD_FILE" >&2
      return 2
    fi
    echo >/dev/tty
    exec 3< <(printf '%s' "$password")
    unset password
    export TAMSKET_SIGN_PASSWORD_FILE=/dev/fd/3
  fi
  local start=$SECONDS
  make_dist --sign "$cert" ${key:+--gpg-key "$key"}
  echo "built and signed in $((SECONDS - start)) s"
}

# The release in DIR, signed, against a release built from a clone of HEAD: see
# tools/verify_signed.py for what is compared and why that proves what it does.
verify_signed() {
  local signed scratch
  signed=$(realpath "${1:?usage: $0 dist --verify-signed DIR}")
  scratch=$(mktemp -d /tmp/tamsket-verify-signed.XXXXXX)
  git clone -q . "$scratch/src"
  echo "== release of HEAD ($(git rev-parse --short HEAD)) built in $scratch/src"
  (cd "$scratch/src" && ./dev.sh dist >/dev/null)
  if /usr/bin/python3 tools/verify_signed.py "$signed" "$scratch/src/dist"; then
    rm -rf "$scratch"
  else
    echo "the release built from the sources is kept in $scratch/src/dist, to compare" >&2
    return 1
  fi
}

# Releases of HEAD built from clones in folders of different lengths, one after
# the other, the later with another umask and time zone, must be the same bytes
# as the release in dist/ (or, with no argument, as each other). Clones that
# differ are kept, to compare.
verify_dist() {
  local scratch clones=() reference=${1:-}
  scratch=$(mktemp -d /tmp/tamsket-verify.XXXXXX)
  [ -n "$reference" ] || clones+=("$scratch/a")
  clones+=("$scratch/second-clone-in-a-longer-path")
  for clone in "${clones[@]}"; do
    (
      if [ "$clone" = "${clones[-1]}" ]; then umask 077 && export TZ=Pacific/Chatham; fi
      git clone -q . "$clone"
      echo "== release built in $clone (umask $(umask), TZ ${TZ:-unset})"
      cd "$clone" && SECONDS=0 && ./dev.sh dist >/dev/null && echo "built in $SECONDS s"
    )
    cat "$clone/dist/SHA256SUMS"
  done
  local first=${reference:-${clones[0]}/dist} second=${clones[-1]}/dist
  if cmp -s "$first/SHA256SUMS" "$second/SHA256SUMS"; then
    echo "OK: $first and $second hold the same bytes"
    rm -rf "$scratch"
  else
    echo "FAIL: the builds differ (kept in $scratch):" >&2
    diff "$first/SHA256SUMS" "$second/SHA256SUMS" >&2
    return 1
  fi
}

case "${1:-}" in
  test)
    packages+=("${dist_packages[@]}")
    install_missing
    for preset in native win64 win32; do
      build "$preset"
      ctest --preset "$preset" -j "$(nproc)"
    done
    echo "== the release, built and checked as a user gets it"
    make_dist
    /usr/bin/python3 tests/dist/check_dist.py dist
    echo "== the release signed with a throwaway certificate and OpenPGP key, and checked"
    /usr/bin/python3 tests/dist/sign_test.py dist
    # Built again from a clone elsewhere, later: the same bytes. Only a tree
    # without changes is the release of HEAD that the clone builds.
    if [ -z "$(git status --porcelain --untracked-files=no)" ]; then
      verify_dist "$PWD/dist"
    else
      echo "note: uncommitted changes: the release is not compared with a build of HEAD"
    fi
    ;;
  dist)
    packages+=("${dist_packages[@]}")
    install_missing
    case "${2:-}" in
      --verify) verify_dist ;;
      --verify-signed) verify_signed "${@:3}" ;;
      --sign)
        sign_dist "${@:3}"
        /usr/bin/python3 tests/dist/check_dist.py dist
        ;;
      "")
        make_dist
        /usr/bin/python3 tests/dist/check_dist.py dist
        ;;
      *) echo "usage: $0 dist [--verify | --sign CERT.pfx [--gpg-key ID] | --verify-signed DIR]" >&2
         exit 2 ;;
    esac
    ;;
  run)
    install_missing
    build win64
    exec tools/run-under-wine.sh build/win64 "${@:2}"
    ;;
  bench)
    packages+=(hyperfine time ntfs-3g fdisk qemu-utils util-linux "${dist_packages[@]}")
    install_missing
    build bench
    build/bench/bench/tamsket_bench
    echo "== hive lookup as a whole process, against hivexget (hives made once, in build/bench/hives)"
    python3 bench/hive_lookup_bench.py build/bench/bench/hive_get build/bench/hives
    echo "== the 130 MB hive dirty, with a 1 MB and a 16 MB transaction log beside it, against it clean"
    python3 bench/log_bench.py build/bench/bench/hive_get build/bench/hives
    # tamsket-cli is measured as users install it: the release's packages,
    # built by dist and unpacked, the image module beside the program.
    make_dist >/dev/null
    installed=build/bench/installed
    rm -rf "$installed" && mkdir -p "$installed"
    for deb in dist/*.deb; do dpkg-deb -x "$deb" "$installed"; done
    cli=$installed/usr/bin/tamsket-cli
    echo "== tamsket-cli (from the release's packages) --hive against /bin/true and hivexget, on the"
    echo "   130 MB hive; peak RSS from 10 to 600 MB; 100 hives in one call"
    python3 bench/cli_bench.py "$cli" build/bench/hives/software-{130,10,600}mb.hive
    echo "== tamsket-cli --image on sparse 1 GB and 32 GB VHDX disks holding the 130 MB hive, against icat + hivexget"
    if [ "$(id -u)" -eq 0 ] && [ -e /dev/fuse ]; then
      python3 bench/image_bench.py "$cli" build/bench/hives/software-130mb.hive \
        build/bench/images
      echo "== tamsket-cli --image on a 32 GB VHDX and 3 differencing disks, against vhdimount + icat + hivexget"
      python3 bench/chain_bench.py "$cli" build/bench/hives/software-130mb.hive \
        build/bench/images
    else
      echo "skipped: making the disks needs root and /dev/fuse (ntfs-3g places the hive)"
    fi
    build win64
    build win32
    echo "== executable sizes"
    for exe in build/win32/src/tamsket.exe build/win64/src/tamsket.exe \
               build/win32/src/cli/tamsket-cli.exe build/win64/src/cli/tamsket-cli.exe; do
      echo "$(stat -c %s "$exe") bytes ($(( ($(stat -c %s "$exe") + 1023) / 1024 )) KiB)  $exe"
    done
    echo "== start-up under Wine (warm wineserver), each build against its own minimal window"
    state=$PWD/build/bench/wine
    cmake/wine-env.sh up "$state" build/wine-template x86
    trap 'cmake/wine-env.sh down "$state" build/wine-template x86' EXIT
    source tools/wine-common.sh
    export WINEPREFIX=$state/prefix-96 DISPLAY=$(cat "$state/display")
    for build in win64 win32; do
      view=$([ $build = win32 ] && echo /reg:32 || echo /reg:64)
      "$wine" reg add 'HKLM\SOFTWARE\Microsoft\Exchange\Setup' /v DigitalProductId \
        /t REG_BINARY /d "$(python3 tools/sample_product_id.py)" $view /f >/dev/null 2>&1
      echo -n "$build: "
      "$wine" build/$build/bench/startup_bench.exe \
        "Z:${PWD//\//\\}\\build\\$build\\src\\tamsket.exe" \
        "Z:${PWD//\//\\}\\build\\$build\\bench\\minimal_window.exe" 15
    done
    ;;
  fuzz)
    packages+=(clang-14 libclang-rt-14-dev)
    install_missing
    seconds=${2:-60}
    target=${3:-hive}
    case $target in
      hive) corpus=tests/hive/fuzz_corpus.tar.xz; dict=(-dict=tests/hive/fuzz.dict) ;;
      log) corpus=tests/hive/log_fuzz_corpus.tar.xz; dict=() ;;
      *) echo "fuzz: no target $target (hive or log)" >&2; exit 2 ;;
    esac
    out=build/fuzz-$target
    rm -rf "$out/committed" "$out/seeds" && mkdir -p "$out/corpus" "$out/seeds" "$out/committed"
    [ -f "$corpus" ] && tar xJf "$corpus" -C "$out/committed"
    clang++-14 -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
      -Isrc src/hive/*.cpp src/text/text.cpp src/text/hex_text.cpp "tests/hive/${target}_fuzz.cpp" -o "$out/fuzz"
    if [ "$target" = hive ]; then
      # Seeds: the fixture hives of up to 32 KiB.
      /usr/bin/python3 tests/hive/check_fixtures.py "$out/fixtures" >/dev/null
      find "$out/fixtures" -name '*.hive' -size -33k -exec cp {} "$out/seeds/" \;
    else
      # Seeds: each log fixture as the target takes it (lengths of the hive and
      # of LOG1, the hive, LOG1, LOG2).
      /usr/bin/python3 - "$out/seeds" <<'PY'
import os, struct, sys
sys.path.insert(0, "tests/hive")
import check_logs
for i, (_, primary, logs, _, _) in enumerate(check_logs.CASES):
    parts = [data for data in logs.values() if isinstance(data, bytes)] + [b"", b""]
    with open(os.path.join(sys.argv[1], "case%d" % i), "wb") as f:
        f.write(struct.pack("<II", len(primary), len(parts[0])) + primary + parts[0] + parts[1])
PY
    fi
    nice -n 19 "$out/fuzz" -max_total_time="$seconds" -max_len=32768 -timeout=10 "${dict[@]}" \
      -artifact_prefix=tests/hive/fuzz_crashes/ -print_final_stats=1 \
      "$out/corpus" "$out/committed" "$out/seeds"
    # Keep the smallest set of inputs that covers what all of them cover.
    rm -rf "$out/merged" && mkdir -p "$out/merged"
    nice -n 19 "$out/fuzz" -merge=1 -max_len=32768 "$out/merged" "$out/committed" \
      "$out/corpus" "$out/seeds"
    tar cJf "$corpus" -C "$out/merged" .
    echo "corpus: $(ls "$out/merged" | wc -l) inputs, $(du -sh "$out/merged" | cut -f1) unpacked"
    ;;
  coverage)
    packages+=(clang-14 llvm-14)
    install_missing
    out=build/coverage
    cmake -S . -B "$out" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
      -DTAMSKET_SANITIZE=OFF -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" >/dev/null
    cmake --build "$out" -j2 --target tamsket_hive_tests hive_get hive_fuzz_replay
    rm -rf "$out/profiles" && mkdir -p "$out/profiles"
    export LLVM_PROFILE_FILE=$PWD/$out/profiles/tests-%p.profraw
    /usr/bin/python3 tests/hive/check_fixtures.py "$out/fixtures" --reader "$out/tests/hive/hive_get"
    TAMSKET_HIVE_FIXTURES=$out/fixtures "$out/tests/hive/tamsket_hive_tests" >/dev/null
    rm -rf "$out/corpus" && mkdir -p "$out/corpus" && tar xJf tests/hive/fuzz_corpus.tar.xz -C "$out/corpus"
    LLVM_PROFILE_FILE=$PWD/$out/profiles/corpus.profraw "$out/tests/hive/hive_fuzz_replay" \
      "$out/corpus" tests/hive/fuzz_crashes
    unset LLVM_PROFILE_FILE
    llvm-profdata-14 merge -o "$out/tests.profdata" "$out"/profiles/tests-*.profraw
    llvm-profdata-14 merge -o "$out/corpus.profdata" "$out/profiles/corpus.profraw"
    for what in tests corpus; do
      case $what in tests) bin=$out/tests/hive/tamsket_hive_tests; extra=(-object "$out/tests/hive/hive_get") ;;
                    corpus) bin=$out/tests/hive/hive_fuzz_replay; extra=() ;; esac
      echo "== line coverage of src/hive by the $what"
      llvm-cov-14 report "$bin" "${extra[@]}" -instr-profile="$out/$what.profdata" src/hive
    done
    ;;
  *)
    echo "usage: $0 test | run | bench | fuzz [SECONDS] | coverage | dist [--verify | --sign ... | --verify-signed DIR]" >&2
    exit 2
    ;;
esac
