#!/usr/bin/env bash
# Saves a screenshot of the desktop dialog after it has converted a sample picture given on its
# command line: docs/dialog.png, or the path given. Runs under a virtual X server when there is
# no display. Needs the built program (build/ or BUILD_DIR), xdotool and ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/dialog.png}")
program=$(realpath "${BUILD_DIR:-build}/lumaweave")
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$out"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp samples/astronaut.bmp "$work/"
(cd "$work" && exec "$program" astronaut.bmp) &
pid=$!
# The picture is converted before the window opens; wait for the window, then for its paint.
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^lumaweave$' | head -n1)
sleep 1
# The pointer away from the window, so that no tooltip covers it.
xdotool mousemove 0 0
sleep 0.5
import -window "$window" "$out"
xdotool windowfocus --sync "$window" key Escape
wait "$pid"
echo "saved $out"
