#!/usr/bin/env bash
# Builds qvdelay for Linux (SDL2) and starts it.
#   bash tools/run.sh
# Installs what is missing (tools/install_deps.sh build), configures and builds
# the linux preset, then runs build/linux/app/qvdelay. app_log.txt is written
# beside the executable. Keys: 2..8 choose the delay, arrows/WASD/keypad move,
# space flips the candidate, Enter submits, Q ends the test, Escape quits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${SDL_VIDEODRIVER:-}" ]; then
  echo "run.sh: no display: neither DISPLAY nor WAYLAND_DISPLAY is set, so there is nowhere to show the window." >&2
  echo "run.sh: start it from a desktop session, or under a virtual one: xvfb-run -s '-screen 0 1280x1024x24' bash tools/run.sh" >&2
  exit 2
fi

bash tools/install_deps.sh build
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" --target qvdelay
exec build/linux/app/qvdelay "$@"
