# Sourced by every script that runs Tamsket's Windows programs under Wine: the
# one place where Wine's environment and Tamsket's prefixes are set up.
wine=/usr/lib/wine/wine64
wine32_loader=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=-all
# No Mono or Gecko installer prompts, no desktop menu entries, and no crash
# dialog: a crashing program exits non-zero (5) instead of hanging or exiting 0.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"

# wine_make_prefix PREFIX: a new WoW64 prefix (32-bit programs run in it when
# wine32 is installed) with the fonts the window uses and no waiting for a
# window manager. About 25 s on two cores.
wine_make_prefix() {
  local prefix=$1
  rm -rf "$prefix"
  WINEPREFIX=$prefix "$wine" wineboot -u </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix "$wineserver" -w
  # Verdana is not free: DejaVu Sans stands in for it, and Wine's own fonts
  # provide Tahoma / MS Shell Dlg for the system controls.
  cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
  WINEPREFIX=$prefix "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' \
    /v Verdana /t REG_SZ /d 'DejaVu Sans' /f </dev/null >/dev/null 2>&1
  # Without a window manager Wine otherwise waits 2 s for one on every
  # top-level window it hides or destroys.
  WINEPREFIX=$prefix "$wine" reg add 'HKCU\Software\Wine\X11 Driver' \
    /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix "$wineserver" -w
}

# wine_prefix_is_wow64 PREFIX: made with wine32 present (a prefix made before
# it was installed lacks the 32-bit system folder and must be made again).
wine_prefix_is_wow64() {
  [ -d "$1/drive_c/windows/syswow64" ] || [ ! -x "$wine32_loader" ]
}

# wine_copy_template TEMPLATE PREFIX: PREFIX as a fresh copy of TEMPLATE, which
# is made first when missing or stale. Copying takes about a second.
wine_copy_template() {
  local template=$1 prefix=$2
  mkdir -p "$(dirname "$template")"
  (
    flock 9
    if [ ! -f "$template/.tamsket-ready" ] || ! wine_prefix_is_wow64 "$template"; then
      wine_make_prefix "$template"
      touch "$template/.tamsket-ready"
    fi
  ) 9>"$template.lock"
  rm -rf "$prefix"
  cp -a "$template" "$prefix"
  rm -f "$prefix/.tamsket-ready"
}

# wine_32bit_problem PREFIX: prints why 32-bit programs cannot run here, and
# fails, or prints nothing and succeeds when the 32-bit loader runs cmd.
wine_32bit_problem() {
  local prefix=$1
  if [ ! -x "$wine32_loader" ]; then
    echo "wine32 is not installed ($wine32_loader missing): 32-bit programs cannot run"
    return 1
  fi
  if [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
    echo "the Wine prefix $prefix is not a WoW64 prefix: 32-bit programs cannot run"
    return 1
  fi
  if ! WINEPREFIX=$prefix timeout 120 "$wine32_loader" cmd /c exit </dev/null >/dev/null 2>&1; then
    echo "the 32-bit Wine loader could not run cmd /c exit: this machine cannot execute 32-bit code"
    return 1
  fi
}

# CUPS with a PDF queue as the default printer: cups-pdf writes each job to a
# PDF file. A container has no init system, so cupsd is started here when none
# runs. wine_printing_up STATE leaves in STATE what wine_printing_down undoes
# and the folder the PDFs land in (STATE/pdf-dir).
wine_printing_up() {
  local state=$1
  mkdir -p "$state"
  if ! lpstat -r 2>/dev/null | grep -q 'is running'; then
    setsid /usr/sbin/cupsd -f </dev/null >/dev/null 2>&1 &
    echo $! >"$state/cupsd.pid"
    for _ in $(seq 50); do lpstat -r 2>/dev/null | grep -q 'is running' && break; sleep 0.1; done
  fi
  if ! lpstat -p PDF >/dev/null 2>&1; then
    if { lpadmin -p PDF -v cups-pdf:/ -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd -E &&
         lpadmin -d PDF; } </dev/null >/dev/null 2>&1; then
      touch "$state/cups-queue-added"
    else
      echo "could not set up the CUPS queue PDF: printing will find no printer" >&2
    fi
  fi
  # cups-pdf writes to its "Out" folder, ${HOME} there being the home of the
  # job's owner: the user who prints.
  local home out
  home=$(getent passwd "$(id -un)" | cut -d: -f6)
  out=$(sed -n 's/^Out[[:space:]]\+//p' /etc/cups/cups-pdf.conf 2>/dev/null || true)
  out=${out:-'${HOME}/PDF'}
  echo "${out//'${HOME}'/$home}" >"$state/pdf-dir"
}

# Removes the queue and stops the daemon, if wine_printing_up made them.
wine_printing_down() {
  local state=$1
  if [ -f "$state/cups-queue-added" ]; then
    lpadmin -x PDF </dev/null >/dev/null 2>&1 || true
    rm -f "$state/cups-queue-added"
  fi
  if [ -f "$state/cupsd.pid" ]; then
    kill "$(cat "$state/cupsd.pid")" 2>/dev/null || true
    rm -f "$state/cupsd.pid"
  fi
}
