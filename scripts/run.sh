#!/usr/bin/env bash
# Installs what is needed, builds the program and runs it under Wine.
#
# With a working X display (DISPLAY set and answering) the program opens there,
# inside a 1024x768 Wine desktop window, and the script ends when the program does.
# Without one it runs on a private Xvfb: it waits for the main window, saves a
# screenshot to build/screenshot.png, prints that path and stops everything.
#
#   scripts/run.sh --screenshot FILE
# always uses a private Xvfb and saves the main window alone to FILE, with the
# pointer over the keyboard so the strip shows a title: the README's picture.
# LUMENO_DPI=144 (or 120, 192, ...) runs it at that display scale; 96 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

window_shot=
if [ "${1:-}" = "--screenshot" ] && [ -n "${2:-}" ]; then
  window_shot=$(realpath -m "$2")
elif [ $# -gt 0 ]; then
  echo "usage: scripts/run.sh [--screenshot FILE]" >&2
  exit 2
fi

bash scripts/setup-debian.sh
cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build/win -j"${LUMENO_JOBS:-2}"

exe=build/win/LumenoControlPanel.exe
probe=build/win/wprobe.exe
caption="Lumeno ControlPanel"
log=build/run.log
shot=build/screenshot.png
[ -f "$exe" ] || { echo "run.sh: $exe was not built" >&2; exit 1; }

# On a real display the Wine desktop is a window of this size; on Xvfb it is
# the whole screen, which is this size too.
screen=${LUMENO_SCREEN:-1024x768x24}
export LUMENO_DESKTOP_SIZE=${LUMENO_DESKTOP_SIZE:-${screen%x*}}
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
lumeno_lock 600
# A server left from an earlier run may be tied to another display.
lumeno_wine_cleanup

if [ -z "$window_shot" ] && lumeno_display_ok; then
  lumeno_prefix_setup
  lumeno_set_dpi
  echo "Running on display $DISPLAY; close the program's window to end."
  "$LUMENO_WINE" "$exe" 2>"$log"
  lumeno_wine_cleanup
  exit 0
fi

program_pid=
cleanup() {
  if [ -n "$program_pid" ]; then
    kill "$program_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$program_pid" 2>/dev/null || true
  fi
  lumeno_wine_cleanup
  lumeno_xvfb_stop
}
trap cleanup EXIT

lumeno_xvfb_start force
echo "No usable display: running on a private Xvfb ($DISPLAY)."
lumeno_prefix_setup
lumeno_wineserver_warm
lumeno_set_dpi
"$LUMENO_WINE" "$exe" >/dev/null 2>"$log" &
program_pid=$!

if [ -f "$probe" ]; then
  if ! window=$(timeout 90 "$LUMENO_WINE" "$probe" wait "$caption" 60); then
    echo "run.sh: the window \"$caption\" did not appear within 60 s (Wine log: $log)" >&2
    exit 1
  fi
  # Give the first paint a moment after the window shows.
  sleep 1
else
  [ -z "$window_shot" ] || { echo "run.sh: --screenshot needs $probe" >&2; exit 1; }
  sleep 10
fi
kill -0 "$program_pid" 2>/dev/null || { echo "run.sh: the program ended early (Wine log: $log)" >&2; exit 1; }
if [ -z "$window_shot" ]; then
  timeout 30 import -window root "$shot"
  realpath "$shot"
  exit 0
fi

# The window's outer rectangle and the keyboard's centre, in screen pixels.
read -r crop keyboard_x keyboard_y < <(/usr/bin/python3 -c '
import json, sys
w = json.loads(sys.stdin.read().strip().splitlines()[-1])
r, c = w["rect"], w["client"]
scale = int(sys.argv[1]) / 96
# The picture box sits at 3,4 client pixels with a 2-pixel border; the keyboard is at
# 96,280 in it and 259 x 32 big (at 96 DPI).
print("%dx%d+%d+%d" % (r["right"] - r["left"], r["bottom"] - r["top"], r["left"], r["top"]),
      c["left"] + round((5 + 96 + 259 // 2) * scale), c["top"] + round((6 + 280 + 32 // 2) * scale))' \
  "${LUMENO_DPI:-96}" <<<"$window")
timeout 10 xdotool mousemove "$keyboard_x" "$keyboard_y"
sleep 1  # the strip repaints on the next move message
mkdir -p "$(dirname "$window_shot")"
timeout 30 import -window root -crop "$crop" +repage "$window_shot"
echo "$window_shot"
