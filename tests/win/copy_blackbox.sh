#!/usr/bin/env bash
# tamsket.exe as a user runs it: started on its own, made to copy with the
# keyboard (the key box has the focus; Tab moves to Copy, space presses it),
# its key read from the X11 clipboard while it is still open, then closed
# with Alt+F4, after which it must exit with 0.
#   copy_blackbox.sh WINE_RUN STATE_DIR TAMSKET_EXE x86|amd64
# Everything started here runs with its descriptors away from ctest's pipes,
# under a time limit, and is stopped on the way out.
set -euo pipefail
wine_run=$1
exe=$3
# The key goes into the registry view the program reads: a 32-bit program
# reads the 32-bit one.
view=/reg:$([ "$4" = x86 ] && echo 32 || echo 64)
exchange='HKLM\SOFTWARE\Microsoft\Exchange'
if [ -f "$2/no-32bit" ]; then
  echo "SKIPPED: $(cat "$2/no-32bit")"
  exit 77
fi
# The made-up sample value, from the one place it is written; the key it
# decodes to is written out here on its own, as the check.
value=$(python3 "$(dirname "$0")/../../tools/sample_product_id.py") ||
  { echo "FAIL: tools/sample_product_id.py gave no value"; exit 1; }
expected=M3R7T-JV33T-PWDB4-F9XM2-RYBVD
DISPLAY=$(cat "$2/display")
export DISPLAY
log=$(mktemp)
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  "$wine_run" reg delete "$exchange" "$view" /f </dev/null >/dev/null 2>&1 || true
  rm -f "$log"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  [ -s "$log" ] && { echo "--- tamsket.exe wrote:"; cat "$log"; }
  exit 1
}

# poll TENTHS COMMAND...: runs COMMAND every tenth of a second until it
# succeeds, at most TENTHS times.
poll() {
  local tries=$1
  shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
  return 1
}
clipboard() { timeout 2 xclip -o -selection clipboard 2>/dev/null </dev/null; }
clipboard_is() { [ "$(clipboard)" = "$1" ]; }
# By its class, not its process: a 32-bit program runs in a process of its own,
# started by the launcher, which waits for it and passes its exit code on.
main_window() {
  timeout 2 xdotool search --onlyvisible --classname '^tamsket\.exe$' 2>/dev/null | head -n 1
}
has_window() { [ -n "$(main_window)" ]; }
tamsket_ended() { ! kill -0 "$tamsket" 2>/dev/null; }

"$wine_run" reg add "$exchange\\Setup" /v DigitalProductId /t REG_BINARY /d "$value" "$view" /f \
  </dev/null >/dev/null 2>&1 || fail "could not write the key into the registry"

# Something else on the clipboard first, so that a Copy that does nothing shows.
# xclip keeps serving it until another program takes the clipboard over.
printf 'left by another program' | timeout 60 xclip -quiet -selection clipboard -i >/dev/null 2>&1 &
pids+=($!)
poll 50 clipboard_is 'left by another program' || fail "could not put a text on the clipboard"

"$wine_run" "$exe" </dev/null >"$log" 2>&1 &
tamsket=$!
pids+=($!)
poll 150 has_window || fail "no window from tamsket.exe within 15 s"
# Without a window manager nothing moves the keyboard focus on its own.
timeout 5 xdotool windowfocus --sync "$(main_window)" >/dev/null 2>&1 || fail "could not focus the window"

timeout 5 xdotool key --delay 50 Tab space >/dev/null 2>&1 || fail "xdotool could not type"
poll 100 clipboard_is "$expected" || fail "the clipboard holds '$(clipboard)', not $expected"
tamsket_ended && fail "tamsket.exe ended before it was closed"

timeout 5 xdotool key alt+F4 >/dev/null 2>&1 || fail "xdotool could not type"
poll 150 tamsket_ended || fail "tamsket.exe still runs 15 s after Alt+F4"
status=0
wait "$tamsket" || status=$?
[ "$status" -eq 0 ] || fail "tamsket.exe exited with $status"
echo "copied $expected from the window to the X11 clipboard; exit code 0 after Alt+F4"
