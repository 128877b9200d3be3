#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   ./dev.sh test   install what is missing, build all three targets, run every test
#   ./dev.sh run    install what is missing, build, and run tamsket.exe under Wine
#                   (--no-key / --sample-key as for tools/run-under-wine.sh)
#   ./dev.sh bench  build and run the benchmarks
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake make g++ googletest libbenchmark-dev python3
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 xvfb xauth
          cups printer-driver-cups-pdf poppler-utils fonts-wine fonts-dejavu-core xclip xdotool)
# The 32-bit program runs in a WoW64 prefix; it needs 32-bit Wine, and 32-bit
# CUPS to see a printer (without it, each 32-bit start even removes Wine's
# printer entries from the prefix).
packages_i386=(wine32:i386 libcups2:i386)

install_missing() {
  local missing=() sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "enabling the i386 architecture for 32-bit Wine"
    "${sudo[@]}" dpkg --add-architecture i386
    missing+=("${packages_i386[@]}")
  fi
  for p in "${packages[@]}" "${packages_i386[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$(nproc)"
}

case "${1:-}" in
  test)
    install_missing
    for preset in native win64 win32; do
      build "$preset"
      ctest --preset "$preset" -j "$(nproc)"
    done
    ;;
  run)
    install_missing
    build win64
    exec tools/run-under-wine.sh build/win64 "${@:2}"
    ;;
  bench)
    install_missing
    build bench
    build/bench/bench/tamsket_bench
    build win64
    build win32
    echo "== executable sizes"
    for exe in build/win32/src/tamsket.exe build/win64/src/tamsket.exe; do
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
  *)
    echo "usage: $0 test | run | bench" >&2
    exit 2
    ;;
esac
