#!/usr/bin/env bash
# Brings up (or down) what the Windows tests run in: an Xvfb display, Wine
# prefixes at 96 and 120 dpi (copies of one WoW64 template) with persistent,
# warmed wineservers, a CUPS PDF queue as the default printer and a recording
# stand-in for the browser. For a 32-bit build it first checks that this
# machine runs 32-bit programs at all, and records why not in STATE/no-32bit.
#   wine-env.sh up|down STATE_DIR TEMPLATE_DIR ARCH [DESKTOP_KEEPER_EXE]
# Everything started here has its descriptors closed: ctest reads test output
# through pipes, and a background process holding them open stalls it.
set -euo pipefail
action=$1
state=$(realpath -m "$2")
template=$(realpath -m "$3")
arch=$4
keeper=${5:-}
source "$(dirname "$0")/../tools/wine-common.sh"
mkdir -p "$state"

start_display() {
  if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then return; fi
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  echo $! >"$state/xvfb.pid"
  echo ":$n" >"$state/display"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return; sleep 0.1; done
  echo "Xvfb did not start on :$n" >&2
  exit 1
}

# Each prefix is a copy of the template, made once per build tree and reused;
# tests set up the registry state they depend on themselves.
make_prefix() {
  local prefix=$1 dpi=$2
  [ -f "$prefix/.tamsket-ready" ] && wine_prefix_is_wow64 "$prefix" && return
  wine_copy_template "$template" "$prefix"
  WINEPREFIX=$prefix "$wine" reg add 'HKCU\Control Panel\Desktop' \
    /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix "$wineserver" -w
  touch "$prefix/.tamsket-ready"
}

start_server() {
  local prefix=$1
  # Already running for this prefix is fine: -p then exits non-zero.
  WINEPREFIX=$prefix setsid "$wineserver" -p </dev/null >/dev/null 2>&1 || true
  WINEPREFIX=$prefix DISPLAY=$(cat "$state/display") "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
  # The desktop process then stays up for the whole run (see desktop_keeper.cpp).
  if [ -n "$keeper" ]; then
    WINEPREFIX=$prefix DISPLAY=$(cat "$state/display") setsid "$wine" "$keeper" \
      </dev/null >/dev/null 2>&1 &
  fi
}

# Wine hands web addresses to xdg-open; this one, first on the PATH that
# wine-run.sh sets, only records them, one line per call.
install_browser() {
  mkdir -p "$state/bin"
  cat >"$state/bin/xdg-open" <<EOS
#!/bin/sh
printf '%s\n' "\$*" >>'$state/xdg-open.log'
EOS
  chmod +x "$state/bin/xdg-open"
}

case $action in
  up)
    start_display
    wine_printing_up "$state"
    install_browser
    for dpi in 96 120; do make_prefix "$state/prefix-$dpi" "$dpi"; done
    rm -f "$state/no-32bit"
    if [ "$arch" = x86 ] && ! why=$(wine_32bit_problem "$state/prefix-96"); then
      echo "$why" >"$state/no-32bit"
      echo "32-bit Windows tests will be skipped: $why"
      exit 0
    fi
    for dpi in 96 120; do start_server "$state/prefix-$dpi"; done
    ;;
  down)
    for dpi in 96 120; do
      [ -d "$state/prefix-$dpi" ] && WINEPREFIX=$state/prefix-$dpi "$wineserver" -k 2>/dev/null || true
    done
    if [ -f "$state/xvfb.pid" ]; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; rm -f "$state/xvfb.pid"; fi
    wine_printing_down "$state"
    ;;
  *) echo "usage: $0 up|down STATE_DIR TEMPLATE_DIR ARCH [DESKTOP_KEEPER_EXE]" >&2; exit 2 ;;
esac
