#!/usr/bin/env bash
# Builds qvdelay for Linux (SDL2) and starts it.
#   bash tools/run.sh             on the desktop (DISPLAY or WAYLAND_DISPLAY)
#   bash tools/run.sh --virtual   without a desktop: in a virtual X display
#                                 (Xvfb) with openbox, both installed here
# Installs what is missing (tools/install_deps.sh build, or virtual),
# configures and builds the linux preset, then runs build/linux/app/qvdelay.
# app_log.txt is written beside the executable. Keys: 2..8 choose the delay,
# arrows/WASD/keypad move, space flips the candidate, Enter submits, Q ends
# the test, Escape quits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

virtual=0
if [ "${1:-}" = "--virtual" ]; then
  virtual=1
  shift
fi

if [ "$virtual" -eq 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${SDL_VIDEODRIVER:-}" ]; then
  echo "run.sh: no display: neither DISPLAY nor WAYLAND_DISPLAY is set, so there is nowhere to show the window." >&2
  echo "run.sh: start it from a desktop session, or in a virtual display (installs xvfb and openbox): bash tools/run.sh --virtual" >&2
  exit 2
fi

if [ "$virtual" -eq 1 ]; then
  bash tools/install_deps.sh virtual
else
  bash tools/install_deps.sh build
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" --target qvdelay
if [ "$virtual" -eq 0 ]; then
  exec build/linux/app/qvdelay "$@"
fi

# A virtual display nobody sees: the program runs as on a desktop, and its
# log tells what it did. Ctrl+C ends it (through its normal shut-down).
# Xvfb and openbox in sessions of their own: Ctrl+C reaches only the program,
# which still needs the display for its shut-down.
scratch=$(mktemp -d /tmp/qvdelay-run.XXXXXX)
setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.txt" &
xvfb_pid=$!
wm_pid=""
trap '[ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null; kill "$xvfb_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
for _ in $(seq 100); do
  [ -s "$scratch/display" ] && break
  sleep 0.05
done
if [ ! -s "$scratch/display" ]; then
  echo "run.sh: Xvfb did not start: $(cat "$scratch/xvfb.txt")" >&2
  exit 1
fi
export DISPLAY=":$(head -n 1 "$scratch/display")"
setsid openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
echo "run.sh: qvdelay runs in the virtual display $DISPLAY (not visible); Ctrl+C ends it."
echo "run.sh: its log: build/linux/app/app_log.txt"
set +e
build/linux/app/qvdelay "$@"
exit $?
