#!/usr/bin/env bash
# The installed way of starting the program, under a virtual X server: names on the command
# line are converted at once, Escape ends the program, and an incomplete configuration file
# ends it right after its message. Usage: run_program.sh PROGRAM SAMPLE.bmp
set -euo pipefail
program=$(realpath "$1")
sample=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Waits (at most a minute, and only while the program runs) for a visible window titled
# "lumaweave" and prints its id.
find_window() {
  local pid=$1 window=""
  for _ in $(seq 600); do
    window=$(xdotool search --onlyvisible --name '^lumaweave$' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "$window"
}

# Waits for the process to end by itself and checks its exit status.
expect_exit() {
  local pid=$1 what=$2
  for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    fail "$what: the program did not end"
  elif ! wait "$pid"; then
    fail "$what: the program ended with an error"
  fi
}

# 1. A file named on the command line is the first drop: shown in the list and converted.
cp "$sample" "$work/picture.bmp"
(cd "$work" && exec "$program" picture.bmp) &
pid=$!
window=$(find_window "$pid")
[ -n "$window" ] || { fail "no dialog window"; exit 1; }
geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
[ "$geometry" = "919x735" ] || fail "dialog is $geometry, not 919x735"
# The picture control (35, 105; 512 x 384) shows the converted picture, not black.
brightness=0
for _ in $(seq 50); do
  brightness=$(import -window "$window" -crop 512x384+35+105 +repage -colorspace Gray \
    -format '%[fx:int(mean*1000)]' info:)
  [ "$brightness" -gt 50 ] && break
  sleep 0.2
done
[ "$brightness" -gt 50 ] || fail "the preview stays black"
xdotool windowfocus --sync "$window" key Escape
expect_exit "$pid" "Escape"
[ ! -e "$work/picture.S02" ] || fail "a file was written without \"Conversion\""

# 2. A present but incomplete configuration: its message box, then the end of the program.
printf '* MSX1 palette\n0,0,0 1,1,1\n* MSX2 palette\n' > "$work/lumaweave_config.txt"
(cd "$work" && exec "$program") &
pid=$!
box=$(find_window "$pid")
[ -n "$box" ] || { fail "no message box for the incomplete configuration"; exit 1; }
kind=$(xprop -id "$box" _NET_WM_WINDOW_TYPE 2>/dev/null || true)
case "$kind" in *DIALOG*) ;; *) fail "the first window is not a message box: $kind" ;; esac
xdotool windowfocus --sync "$box" key Return
expect_exit "$pid" "incomplete configuration"

[ "$failures" -eq 0 ] || exit 1
echo "the program starts, converts its command-line file and ends as expected"
