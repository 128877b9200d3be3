#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   ./dev.sh test   install what is missing, build all three targets, run every test
#   ./dev.sh run    install what is missing, build, and run tamsket.exe under Wine
#   ./dev.sh bench  build and run the benchmarks
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake make g++ googletest libbenchmark-dev python3
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 xvfb xauth
          cups printer-driver-cups-pdf poppler-utils fonts-wine fonts-dejavu-core xclip xdotool
          ansible-core)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
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
    # tamsket-cli against hivexget, on the big hive when one has been made there.
    python3 bench/cli_bench.py build/bench/src/cli/tamsket-cli \
      $(ls build/bench/hives/software-130mb.hive 2>/dev/null)
    build win64
    build win32
    echo "== executable sizes"
    for exe in build/win32/src/tamsket.exe build/win64/src/tamsket.exe \
               build/win32/src/cli/tamsket-cli.exe build/win64/src/cli/tamsket-cli.exe; do
      echo "$(stat -c %s "$exe") bytes ($(( ($(stat -c %s "$exe") + 1023) / 1024 )) KiB)  $exe"
    done
    echo "== start-up under Wine (warm wineserver)"
    state=$PWD/build/bench/wine
    cmake/wine-env.sh up "$state"
    trap 'cmake/wine-env.sh down "$state"' EXIT
    export WINEPREFIX=$state/prefix-96 DISPLAY=$(cat "$state/display") WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
    /usr/lib/wine/wine64 reg add 'HKLM\SOFTWARE\Microsoft\Exchange\Setup' /v DigitalProductId \
      /t REG_BINARY /d "$(python3 tools/sample_product_id.py)" /f >/dev/null 2>&1
    /usr/lib/wine/wine64 build/win64/bench/startup_bench.exe \
      "Z:${PWD//\//\\}\\build\\win64\\src\\tamsket.exe" \
      "Z:${PWD//\//\\}\\build\\win64\\bench\\minimal_window.exe" 15
    ;;
  *)
    echo "usage: $0 test | run | bench" >&2
    exit 2
    ;;
esac
