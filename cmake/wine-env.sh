#!/usr/bin/env bash
# Brings up (or down) what the Windows tests run in: an Xvfb display, Wine
# prefixes at 96 and 120 dpi with persistent, warmed wineservers, a CUPS PDF
# queue as the default printer and a recording stand-in for the browser.
#   wine-env.sh up|down STATE_DIR [DESKTOP_KEEPER_EXE]
# Everything started here has its descriptors closed: ctest reads test output
# through pipes, and a background process holding them open stalls it.
set -euo pipefail
action=$1
state=$(realpath -m "$2")
keeper=${3:-}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
mkdir -p "$state"

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"

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

# A prefix is made once per build tree and reused; tests set up the registry
# state they depend on themselves.
make_prefix() {
  local prefix=$1 dpi=$2
  [ -f "$prefix/.tamsket-ready" ] && return
  rm -rf "$prefix"
  if [ "$dpi" != 96 ] && [ -f "$state/prefix-96/.tamsket-ready" ]; then
    cp -a "$state/prefix-96" "$prefix"
    rm -f "$prefix/.tamsket-ready"
  else
    WINEPREFIX=$prefix "$wine" wineboot -u </dev/null >/dev/null 2>&1
    WINEPREFIX=$prefix "$wineserver" -w
    # Verdana is not free: DejaVu Sans stands in for it, and Wine's own fonts
    # provide Tahoma / MS Shell Dlg for the system controls.
    cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
    WINEPREFIX=$prefix "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' \
      /v Verdana /t REG_SZ /d 'DejaVu Sans' /f </dev/null >/dev/null 2>&1
  fi
  WINEPREFIX=$prefix "$wine" reg add 'HKCU\Control Panel\Desktop' \
    /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
  # There is no window manager: without this, Wine waits 2 s for one on every
  # top-level window it hides or destroys.
  WINEPREFIX=$prefix "$wine" reg add 'HKCU\Software\Wine\X11 Driver' \
    /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
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

# Printing goes through a real CUPS queue whose backend writes each job as a
# PDF file. Wine reads the CUPS printers at every process start. cupsd is
# started here only when none runs (a container has no init system to do it).
start_printing() {
  if ! lpstat -r 2>/dev/null | grep -q 'is running'; then
    setsid /usr/sbin/cupsd -f </dev/null >/dev/null 2>&1 &
    echo $! >"$state/cupsd.pid"
    for _ in $(seq 50); do lpstat -r 2>/dev/null | grep -q 'is running' && break; sleep 0.1; done
  fi
  if ! { lpadmin -p PDF -v cups-pdf:/ -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd -E &&
         lpadmin -d PDF; } </dev/null >/dev/null 2>&1; then
    echo "could not set up the CUPS queue PDF: the printing tests will find no printer" >&2
  fi
  # cups-pdf writes to its "Out" folder, ${HOME} there being the home of the
  # job's owner: the user who runs the tests.
  local home out
  home=$(getent passwd "$(id -un)" | cut -d: -f6)
  out=$(sed -n 's/^Out[[:space:]]\+//p' /etc/cups/cups-pdf.conf 2>/dev/null || true)
  out=${out:-'${HOME}/PDF'}
  echo "${out//'${HOME}'/$home}" >"$state/pdf-dir"
}

# Wine hands web addresses to xdg-open; this one, first on the PATH that
# wine-run.sh sets, only records them, one line per call.
install_browser() {
  mkdir -p "$state/bin"
  cat >"$state/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>'$state/xdg-open.log'
EOF
  chmod +x "$state/bin/xdg-open"
}

case $action in
  up)
    start_display
    start_printing
    install_browser
    for dpi in 96 120; do make_prefix "$state/prefix-$dpi" "$dpi"; done
    for dpi in 96 120; do start_server "$state/prefix-$dpi"; done
    ;;
  down)
    for dpi in 96 120; do
      [ -d "$state/prefix-$dpi" ] && WINEPREFIX=$state/prefix-$dpi "$wineserver" -k 2>/dev/null || true
    done
    if [ -f "$state/xvfb.pid" ]; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; rm -f "$state/xvfb.pid"; fi
    if [ -f "$state/cupsd.pid" ]; then kill "$(cat "$state/cupsd.pid")" 2>/dev/null || true; rm -f "$state/cupsd.pid"; fi
    ;;
  *) echo "usage: $0 up|down STATE_DIR" >&2; exit 2 ;;
esac
