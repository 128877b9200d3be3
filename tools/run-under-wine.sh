#!/usr/bin/env bash
# Runs the 64-bit tamsket.exe under Wine in a prefix of the project's own
# (build/run-prefix), with a CUPS queue that prints to PDF files as the default
# printer. On first use the prefix is seeded with a made-up sample
# DigitalProductId, so the window has a key to show; it is not a real key.
#   run-under-wine.sh BUILD_DIR [--no-key | --sample-key]
#     --no-key      remove the Exchange key first: the window shows an empty key box
#     --sample-key  put the sample value back
set -euo pipefail
build=$(realpath "$1")
mode=${2:-}
prefix=$(realpath -m "$build/../run-prefix")
state=$(realpath -m "$build/../run-state")
source "$(dirname "$0")/wine-common.sh"
export WINEPREFIX=$prefix
setup='HKLM\SOFTWARE\Microsoft\Exchange\Setup'
sample=$(python3 "$(dirname "$0")/sample_product_id.py")

if [ -z "${DISPLAY:-}" ]; then
  echo "No DISPLAY: run this from a desktop session (or under xvfb-run)." >&2
  exit 1
fi
case $mode in
  --sample-key | --no-key | "") ;;
  *) echo "unknown option: $mode (use --no-key or --sample-key)" >&2; exit 2 ;;
esac
if [ ! -f "$prefix/.tamsket-seeded" ] || ! wine_prefix_is_wow64 "$prefix"; then
  echo "Creating the Wine prefix $prefix (once, about 30 s)..."
  wine_copy_template "$(dirname "$build")/wine-template" "$prefix"
  mode=${mode:---sample-key}
  touch "$prefix/.tamsket-seeded"
fi
case $mode in
  --sample-key) "$wine" reg add "$setup" /v DigitalProductId /t REG_BINARY /d "$sample" /f >/dev/null 2>&1 ;;
  --no-key) "$wine" reg delete 'HKLM\SOFTWARE\Microsoft\Exchange' /f >/dev/null 2>&1 || true ;;
esac

wine_printing_up "$state"
trap 'wine_printing_down "$state"' EXIT
echo "Reports saved in the window land under $prefix/drive_c (C:\\ there);"
echo "printed pages land as PDF files in $(cat "$state/pdf-dir")."
"$wine" "$build/src/tamsket.exe"
