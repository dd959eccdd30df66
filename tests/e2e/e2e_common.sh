# Shared by the end-to-end scripts (sourced): results, the Xvfb display,
# waiting for the program, picture checks and the headless reference script.
# The caller sets `work` (its scratch folder) and `app_pid`.

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# need_tools <tool...>: skip (77) when one is not installed.
need_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIP: $tool is not installed (bash tools/install_deps.sh test)"
      exit 77
    fi
  done
}

# start_display: Xvfb 1280x1024 on a free display, exported as DISPLAY; its
# process in xvfb_pid. Skips (77) when it does not start.
start_display() {
  exec 5>"$work/display"
  Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.txt" 2>&1 &
  xvfb_pid=$!
  local i
  for i in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.05
  done
  exec 5>&-
  if [ ! -s "$work/display" ]; then
    echo "SKIP: Xvfb did not start: $(cat "$work/xvfb.txt")"
    exit 77
  fi
  export DISPLAY=":$(head -n 1 "$work/display")"
}

# wait_app <seconds>: exit code of the program, 124 when it did not end.
wait_app() {
  local limit=$1 i
  for i in $(seq $((limit * 20))); do
    if ! kill -0 "$app_pid" 2>/dev/null; then
      wait "$app_pid"
      local rc=$?
      app_pid=""
      return $rc
    fi
    sleep 0.05
  done
  kill "$app_pid" 2>/dev/null
  wait "$app_pid" 2>/dev/null
  app_pid=""
  return 124
}

# same_picture <name> <screenshot> <reference ppm> <frame rows>: the top rows
# of the frame, doubled, equal the letterbox area of the screenshot.
same_picture() {
  local name=$1 shot=$2 ref=$3 rows=$4
  convert "$shot" -crop "1280x$((rows * 2))+0+32" +repage "$work/$name.shot.png"
  convert "$ref" -crop "640x${rows}+0+0" +repage -scale 200% "$work/$name.ref.png"
  local diff lit
  diff=$(compare -metric AE -fuzz 3% "$work/$name.shot.png" "$work/$name.ref.png" "$work/$name.diff.png" 2>&1)
  lit=$(convert "$work/$name.ref.png" -format "%[fx:maxima]" info:)
  if [ "$lit" = "0" ]; then
    fail "$name: the reference frame is empty"
  elif [ "$diff" = "0" ]; then
    pass "$name: screen equals the headless frame in the letterbox"
  else
    fail "$name: $diff pixels differ from the headless frame (see $work/$name.diff.png)"
  fi
}

# bars_black <name> <screenshot>: above and below the letterbox the screen is black.
bars_black() {
  local top bottom
  top=$(convert "$2" -crop 1280x32+0+0 +repage -format "%[fx:maxima]" info:)
  bottom=$(convert "$2" -crop 1280x32+0+992 +repage -format "%[fx:maxima]" info:)
  if [ "$top" = "0" ] && [ "$bottom" = "0" ]; then
    pass "$1: black bars above and below the picture"
  else
    fail "$1: bars not black (top $top, bottom $bottom)"
  fi
}

e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# e2e_check <check> <args...>: one of the log checks of e2e_checks.py.
e2e_check() {
  python3 "$e2e_here/e2e_checks.py" "$@" || failures=$((failures + 1))
}
