#!/usr/bin/env bash
# Runs the 64-bit tamsket.exe under Wine in a prefix of the project's own
# (build/run-prefix). On first use the prefix is seeded with a made-up sample
# DigitalProductId, so the window has a key to show; it is not a real key.
#   run-under-wine.sh BUILD_DIR [--no-key | --sample-key]
#     --no-key      remove the Exchange key first: the window shows an empty key box
#     --sample-key  put the sample value back
set -euo pipefail
build=$(realpath "$1")
mode=${2:-}
prefix=$(realpath -m "$build/../run-prefix")
wine=/usr/lib/wine/wine64
export WINEPREFIX=$prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
setup='HKLM\SOFTWARE\Microsoft\Exchange\Setup'
sample=$(python3 "$(dirname "$0")/sample_product_id.py")

if [ -z "${DISPLAY:-}" ]; then
  echo "No DISPLAY: run this from a desktop session (or under xvfb-run)." >&2
  exit 1
fi
if [ ! -f "$prefix/.tamsket-seeded" ]; then
  echo "Creating the Wine prefix $prefix (once, about 15 s)..."
  "$wine" wineboot -u </dev/null >/dev/null 2>&1
  mode=${mode:---sample-key}
  touch "$prefix/.tamsket-seeded"
fi
case $mode in
  --sample-key) "$wine" reg add "$setup" /v DigitalProductId /t REG_BINARY /d "$sample" /f >/dev/null 2>&1 ;;
  --no-key) "$wine" reg delete 'HKLM\SOFTWARE\Microsoft\Exchange' /f >/dev/null 2>&1 || true ;;
  "") ;;
  *) echo "unknown option: $mode (use --no-key or --sample-key)" >&2; exit 2 ;;
esac
exec "$wine" "$build/src/tamsket.exe"
