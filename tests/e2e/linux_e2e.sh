#!/usr/bin/env bash
# End-to-end test of the Linux program under Xvfb (1280x1024) with Debian's
# openbox as the window manager, driven by xdotool and wmctrl:
#   1. start-up log in order, fullscreen, select screen in the letterbox;
#   2. delay 2 and 20 steps: 20 step lines and a result line whose percentage
#      is the share of right steps; the trial and result screens equal the
#      headless program's frames for the same state, scaled into the
#      letterbox (1280x960 at y = 32); 600 frames +- 2 % in 10 s;
#   3. leaving fullscreen through the window manager gives a 640x480 window;
#      Escape, a click on openbox's close box and openbox's own Alt+F4 end
#      with 0 through AppFinalize;
#   4. an unusable video driver: exit 1, the log ends at the failing step;
#   5. the mouse: relative motion during a step moves the marker by counts x
#      0.1 logical units, not while another window has the focus, the
#      step's record row names the mouse, nothing of the mouse is logged;
#   6. --rate 144: the fullscreen mode is asked for at 144 Hz, the log says
#      what the display reports and the rate run at, the presents and the
#      record's frame_us follow it;
#   7. bad command lines end with 2 and a message, --help with 0 and the
#      option list, before any log;
#   8. a threshold run: T, then Q on its first step shows the headless
#      program's result screen; T again, three steps and Q: one answer line
#      per run in the log, a step line and a record row per judged step.
#
#   linux_e2e.sh <qvdelay> <qvdelay_headless> <trace preload .so>
# Exit 77 (skipped) when Xvfb, openbox, wmctrl, xdotool, xwininfo, xmessage,
# ImageMagick or python3 is missing.
set -u
qvdelay=$1
headless=$2
preload=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/e2e_common.sh"
need_tools Xvfb openbox wmctrl xdotool xwininfo xmessage import compare convert python3

work=$(mktemp -d /tmp/qvdelay-e2e.XXXXXX)
xvfb_pid=""
wm_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  if [ "${failures:-0}" -eq 0 ]; then rm -rf "$work"; else echo "files kept in $work"; fi
}
trap cleanup EXIT

# The program writes app_log.txt beside itself: run a private copy.
mkdir -p "$work/app"
cp "$qvdelay" "$work/app/qvdelay"
log="$work/app/app_log.txt"

# ---- Display and window manager ------------------------------------------------
# openbox with its packaged configuration (a user's own one could change the
# key bindings): Alt+F4 closes the active window.
start_display
mkdir -p "$work/config"
XDG_CONFIG_HOME="$work/config" openbox --sm-disable --config-file /etc/xdg/openbox/rc.xml >"$work/wm.txt" 2>&1 &
wm_pid=$!
wm_ready=""
for _ in $(seq 200); do
  wmctrl -m >/dev/null 2>&1 && wm_ready=1 && break
  sleep 0.05
done
if [ -z "$wm_ready" ]; then
  fail "openbox did not start: $(cat "$work/wm.txt")"
  exit 1
fi

# ---- Helpers -----------------------------------------------------------------------
# start_app <name> [VAR=value...]: runs the copy with the present trace.
start_app() {
  local name=$1
  shift
  rm -f "$log"
  env "$@" LD_PRELOAD="$preload" QV_E2E_TRACE="$work/$name.trace" "$work/app/qvdelay" >"$work/$name.console" 2>&1 &
  app_pid=$!
}
# start_app_args <name> <argument...>: start_app with program arguments.
start_app_args() {
  local name=$1
  shift
  rm -f "$log"
  LD_PRELOAD="$preload" QV_E2E_TRACE="$work/$name.trace" "$work/app/qvdelay" "$@" >"$work/$name.console" 2>&1 &
  app_pid=$!
}
# wait_ready: the window exists, has the focus and has shown a few frames.
window=""
wait_ready() {
  window=""
  local i
  for i in $(seq 200); do
    if grep -q "FollowUpCurrentWindowState" "$log" 2>/dev/null; then
      window=$(xdotool search --classname qvdelay 2>/dev/null | head -n 1)
      [ -n "$window" ] && break
    fi
    kill -0 "$app_pid" 2>/dev/null || return 1
    sleep 0.05
  done
  [ -n "$window" ] || return 1
  xdotool windowactivate --sync "$window" 2>/dev/null
  sleep 0.5
  return 0
}
# press <key> [hold seconds]: one key press held over several frames.
press() {
  xdotool keydown "$1"
  sleep "${2:-0.1}"
  xdotool keyup "$1"
  sleep 0.1
}
# ---- 1 and 2: start-up, 20 steps, pictures, pacing, Escape -----------------------------
# The results record is never deleted by the program: start this run without one.
rm -f "$work/app/qvdelay_results.csv"
start_app run
if ! wait_ready; then
  fail "start-up: no window or no follow-up in the log"
  cat "$work/run.console"
  exit 1
fi
e2e_check order "$log" "start-up log in order, fullscreen 1280x1024" \
  "--------------- AppInitialize ... ---------------"$'\n' \
  "SDL_InitSubSystem (SDL_INIT_VIDEO) ... OK."$'\n' \
  "SDL_CreateWindow() ... OK."$'\n' \
  "SDL_CreateRenderer ... OK."$'\n' \
  "SDL_CreateTexture ... OK."$'\n' \
  "SDL_SetWindowFullscreen ... OK."$'\n' \
  "SDL_LockTexture ... OK."$'\n' \
  "FollowUpCurrentWindowState"$'\n\t'"bCurrentFullScreen = 1"$'\n\t'"m.bFullScreen = 0"$'\n\t'"currentOutputSurfaceWidth = 1280"$'\n\t'"currentOutputSurfaceHeight = 1024"$'\n\t'"m.outputSurface.width = 0"$'\n\t'"m.outputSurface.height = 0"$'\n\t'"m.bDirty = 1"$'\n'

import -window root "$work/select.png"
press 2 0.1
sleep 0.4
import -window root "$work/trial.png"
# The marker (pink "dAb") follows a held right arrow.
press Right 0.3
sleep 0.2
import -window root "$work/moved.png"
marker() {
  convert "$1" -crop 1280x540+0+32 +repage -fill black -fuzz 2% +opaque "rgb(255,204,229)" -trim -format "%X %Y" info: |
    tr -d '+'
}
read -r x0 y0 <<<"$(marker "$work/trial.png")"
read -r x1 y1 <<<"$(marker "$work/moved.png")"
if [ -n "$x0" ] && [ -n "$x1" ] && [ "$x1" -ge $((x0 + 40)) ] && [ "$y1" -eq "$y0" ]; then
  pass "the marker moved right with the arrow key ($x0 -> $x1 screen pixels)"
else
  fail "the marker did not follow the arrow key ($x0,$y0 -> $x1,$y1)"
fi
# The pacing is measured over the steps, away from the screenshots (which
# load the X server).
monotonic() { python3 -c 'import time; print(time.monotonic_ns())'; }
steps_start=$(monotonic)
for step in $(seq 20); do
  press Right 0.15
  press Return 0.08
  sleep 0.1
done
sleep 0.6
steps_end=$(monotonic)
import -window root "$work/result.png"
press Escape 0.1
wait_app 20
rc=$?
[ "$rc" -eq 0 ] && pass "Escape: exit code 0" || fail "Escape: exit code $rc"
cp "$log" "$work/run.log"

e2e_check steps "$work/run.log"
e2e_check record "$work/run.log" "$work/app/qvdelay_results.csv" linux
python3 - "$work/run.log" "$work/run.console" <<'EOF' || failures=$((failures + 1))
import sys
log = open(sys.argv[1]).read()
console = open(sys.argv[2]).read()
ok = True
if "--------------- AppFinalize ... ---------------" not in log:
    print("FAIL: no AppFinalize banner"); ok = False
for line in ["SDL_SetWindowFullscreen (0) ... OK.\n", "SDL_QuitSubSystem (SDL_INIT_JOYSTICK);\n", "SDL_Quit();\n"]:
    if line not in console[console.find("AppFinalize"):]:
        print("FAIL: shut-down lacks %r" % line); ok = False
if ok: print("ok: shut-down lines after the AppFinalize banner")
sys.exit(0 if ok else 1)
EOF

# Pacing: presents counted over 10 s of the steps.
python3 - "$work/run.trace" "$steps_start" "$steps_end" <<'EOF' || failures=$((failures + 1))
import sys
p = sorted(int(l.split()[1]) for l in open(sys.argv[1]) if l.startswith("P "))
start, end = int(sys.argv[2]), int(sys.argv[3])
if end - start < 10_000_000_000:
    print("FAIL: the steps lasted %.1f s, less than the 10 s the pacing check needs" % ((end - start) / 1e9)); sys.exit(1)
window = [t for t in p if start <= t < start + 10_000_000_000]
gaps = sorted(b - a for a, b in zip(window, window[1:]))
median = gaps[len(gaps) // 2] / 1e6 if gaps else 0.0
if abs(len(window) - 600) > 12:
    print("FAIL: %d frames presented in 10 s (want 600 +- 12; median interval %.2f ms)" % (len(window), median)); sys.exit(1)
print("ok: %d frames presented in 10 s (median interval %.2f ms)" % (len(window), median))
EOF

# Headless references: the same states from the same program without a window.
# Select and trial screens: any seed. Result screen: a seed and flips chosen so
# that the 20 outcomes equal the ones of the run.
e2e_check reference "$work/run.log" "$work/reference.script"
mkdir -p "$work/ref"
"$headless" "$work/reference.script" "$work/ref" >"$work/ref.console" 2>&1 || fail "headless reference run failed"
frames=$(ls "$work/ref" | sort)
select_ref="$work/ref/$(echo "$frames" | sed -n 5p)"
trial_ref="$work/ref/$(echo "$frames" | sed -n 6p)"
result_ref="$work/ref/$(echo "$frames" | tail -n 1)"
# Rows above the blinking error line (y = 280) and the frame rate.
same_picture select "$work/select.png" "$select_ref" 270
same_picture trial "$work/trial.png" "$trial_ref" 270
same_picture result "$work/result.png" "$result_ref" 278
bars_black result "$work/result.png"

# ---- 3: close box and Alt+F4 ----------------------------------------------------------------
# The window manager ends fullscreen on its own (as through its menu or a
# pager): the next frame follows it up and the picture fills the 640x480
# window 1:1.
start_app close
if wait_ready; then
  wmctrl -i -r "$window" -b remove,fullscreen
  sleep 1
  if python3 - "$log" <<'EOF'; then
import sys
text = open(sys.argv[1]).read()
block = ("FollowUpCurrentWindowState\n\tbCurrentFullScreen = 0\n\tm.bFullScreen = 1\n"
         "\tcurrentOutputSurfaceWidth = 640\n\tcurrentOutputSurfaceHeight = 480\n")
sys.exit(0 if block in text else 1)
EOF
    pass "leaving fullscreen: followed up as a 640x480 window"
  else
    fail "leaving fullscreen: no follow-up to the window"; cat "$log"
  fi
  geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} /Width/ {w=$NF} /Height/ {h=$NF} END {print w "x" h "+" x "+" y}')
  import -window root "$work/windowed.png"
  convert "$work/windowed.png" -crop "$geometry" +repage -crop 640x270+0+0 +repage "$work/windowed.shot.png"
  convert "$select_ref" -crop 640x270+0+0 +repage "$work/windowed.ref.png"
  diff=$(compare -metric AE -fuzz 3% "$work/windowed.shot.png" "$work/windowed.ref.png" "$work/windowed.diff.png" 2>&1)
  if [[ "$geometry" == 640x480+* ]] && [ "$diff" = "0" ]; then
    pass "leaving fullscreen: window $geometry shows the frame 1:1"
  else
    fail "leaving fullscreen: window $geometry, $diff pixels differ"
  fi
  # A click on openbox's close box: the rightmost button of the title bar,
  # which is the frame's top extent (Debian's default theme: 16-pixel
  # buttons, the close box's centre 10 pixels left of the window's right edge).
  top=$(xwininfo -wm -id "$window" | awk '/Frame extents/ {gsub(",", ""); print $5}')
  read -r ww _ wx wy <<<"$(echo "$geometry" | tr 'x+' '  ')"
  xdotool mousemove $((wx + ww - 10)) $((wy - ${top:-20} / 2)) click 1
  wait_app 20
  rc=$?
  if [ "$rc" -eq 0 ] && grep -q -- "--------------- AppFinalize ... ---------------" "$log" &&
    grep -q "SDL_Quit();" "$work/close.console"; then
    pass "close box: exit code 0 through AppFinalize"
  else
    fail "close box: exit code $rc"; cat "$work/close.console"
  fi
else
  fail "close box run did not start"
fi

# Alt+F4 is openbox's key binding: it closes the active window.
start_app altf4
if wait_ready; then
  xdotool keydown alt keydown F4
  sleep 0.1
  xdotool keyup F4 keyup alt
  wait_app 20
  rc=$?
  if [ "$rc" -eq 0 ] && grep -q -- "--------------- AppFinalize ... ---------------" "$log"; then
    pass "Alt+F4: exit code 0 through AppFinalize"
  else
    fail "Alt+F4: exit code $rc"
  fi
else
  fail "Alt+F4 run did not start"
fi

# ---- 4: no usable video driver ---------------------------------------------------------------
start_app novideo SDL_VIDEODRIVER=qvdelay-no-such-driver
wait_app 20
rc=$?
# After the failed step only the entry routine's release lines may follow.
python3 - "$log" "$rc" <<'EOF' || failures=$((failures + 1))
import sys
lines = open(sys.argv[1]).read().splitlines()
rc = int(sys.argv[2])
at = [i for i, l in enumerate(lines) if l.startswith("SDL_InitSubSystem (SDL_INIT_VIDEO) ... ")]
rest = lines[at[0] + 1:] if at else []
release = {"SDL_QuitSubSystem (SDL_INIT_JOYSTICK);", "SDL_Quit();"}
if rc != 1 or not at or not lines[at[0]].endswith("failed. result=0xFFFFFFFF [qvdelay-no-such-driver not available]") \
        or any(l not in release for l in rest) or any("AppFinalize" in l for l in lines):
    print("FAIL: no video driver: exit code %d, log:\n%s" % (rc, "\n".join(lines)))
    sys.exit(1)
print("ok: no video driver: exit code 1, log ends at: %s" % lines[at[0]])
EOF

# ---- 5: the mouse ------------------------------------------------------------------------
# Eight relative moves of (25, 10) counts over a few frames: at 0.1 units a
# count and 4 screen pixels a unit the marker moves (80, 32) pixels.
rm -f "$work/app/qvdelay_results.csv"
start_app mouse
if wait_ready; then
  press 2 0.1
  sleep 0.4
  import -window root "$work/mouse0.png"
  for _ in $(seq 8); do
    xdotool mousemove_relative -- 25 10
    sleep 0.03
  done
  sleep 0.4
  import -window root "$work/mouse1.png"
  # Another window takes the focus: the mouse is given back and its motion
  # is not the marker's; with the focus back it is again.
  xmessage -geometry +0+0 qvdelay-e2e >/dev/null 2>&1 &
  other_pid=$!
  other=""
  for _ in $(seq 100); do
    other=$(xdotool search --name '^xmessage$' 2>/dev/null | head -n 1)
    [ -n "$other" ] && break
    sleep 0.05
  done
  [ -n "$other" ] && xdotool windowactivate --sync "$other" 2>/dev/null
  sleep 0.3
  for _ in $(seq 4); do
    xdotool mousemove_relative -- 25 0
    sleep 0.03
  done
  sleep 0.2
  xdotool windowactivate --sync "$window" 2>/dev/null
  sleep 0.3
  for _ in $(seq 4); do
    xdotool mousemove_relative -- 25 0
    sleep 0.03
  done
  sleep 0.4
  import -window root "$work/mouse3.png"
  kill "$other_pid" 2>/dev/null
  wait "$other_pid" 2>/dev/null
  press Return 0.08
  sleep 0.2
  press Escape 0.1
  wait_app 20
  rc=$?
  read -r x0 y0 <<<"$(marker "$work/mouse0.png")"
  read -r x1 y1 <<<"$(marker "$work/mouse1.png")"
  if [ "$rc" -eq 0 ] && [ -n "$x0" ] && [ -n "$x1" ] && [ $((x1 - x0 - 80)) -ge -2 ] && [ $((x1 - x0 - 80)) -le 2 ] &&
    [ $((y1 - y0 - 32)) -ge -2 ] && [ $((y1 - y0 - 32)) -le 2 ]; then
    pass "the marker followed the mouse ($x0,$y0 -> $x1,$y1 screen pixels for 200,80 counts)"
  else
    fail "the marker did not follow the mouse ($x0,$y0 -> $x1,$y1; exit code $rc)"
  fi
  # openbox lowers the fullscreen window while the other one is active, so
  # only the marker after the return tells: 100 counts moved it, not 200.
  read -r x3 y3 <<<"$(marker "$work/mouse3.png")"
  if [ -n "$other" ] && [ -n "$x3" ] && [ -n "$x1" ] && [ $((x3 - x1 - 40)) -ge -2 ] && [ $((x3 - x1 - 40)) -le 2 ] &&
    [ "$y3" = "$y1" ]; then
    pass "motion while another window had the focus left the marker alone ($x1,$y1 -> $x3,$y3 for 100 of 200 counts)"
  else
    fail "focus and mouse: other window '$other', marker $x1,$y1 -> $x3,$y3 (want +40 pixels)"
  fi
  python3 - "$work/app/qvdelay_results.csv" "$log" <<'EOF' || failures=$((failures + 1))
import sys
rows = [l.split(",") for l in open(sys.argv[1]).read().splitlines()[1:]]
log = open(sys.argv[2]).read().lower()
if len(rows) != 1 or len(rows[0]) != 15 or "mouse" not in rows[0][12].split("+") or rows[0][11] != "16666":
    print("FAIL: mouse step: record rows %s" % rows); sys.exit(1)
if "mouse" in log or "relative" in log:
    print("FAIL: the mouse run logged the mouse:\n" + log); sys.exit(1)
print("ok: mouse step recorded with input %s, nothing of the mouse in the log" % rows[0][12])
EOF
else
  fail "mouse run did not start"
fi

# ---- 6: --rate 144 ---------------------------------------------------------------------------
# The display's own rate wins when it reports one; Xvfb's mode has none, and
# then the program runs at the rate asked for.
rm -f "$work/app/qvdelay_results.csv"
start_app_args rate144 --rate 144
if wait_ready; then
  press 2 0.1
  rate_start=$(monotonic)
  sleep 2
  rate_end=$(monotonic)
  press Return 0.08
  sleep 0.2
  press Escape 0.1
  wait_app 20
  rc=$?
  python3 - "$log" "$work/rate144.trace" "$rate_start" "$rate_end" "$work/app/qvdelay_results.csv" "$rc" <<'EOF' ||
import re, sys
log = open(sys.argv[1]).read()
start, end, rc = int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[6])
m = re.search(r"^Display refresh rate: (\d+ Hz|not reported) \((fullscreen|window)\), running at ([0-9.]+) Hz$", log, re.M)
if rc != 0 or "SDL_SetWindowDisplayMode (1280x1024, 144 Hz) ... OK.\n" not in log or not m:
    print("FAIL: --rate 144: exit code %d, log:\n%s" % (rc, log)); sys.exit(1)
reported = 0 if m.group(1) == "not reported" else int(m.group(1).split()[0])
want = 144.0 if reported == 0 or (m.group(2) == "window" and reported >= 144) else float(reported)
running = float(m.group(3))
p = sorted(int(l.split()[1]) for l in open(sys.argv[2]) if l.startswith("P "))
# A loaded machine makes frames late, never early: the quickest twentieth
# of the intervals shows the limiter's period (16.67 ms at 60 Hz).
gaps = sorted(b - a for a, b in zip(p, p[1:]) if start <= a < end)
quick = gaps[len(gaps) // 20] / 1e6 if gaps else 0.0
median = gaps[len(gaps) // 2] / 1e6 if gaps else 0.0
rows = [l.split(",") for l in open(sys.argv[5]).read().splitlines()[1:]]
period = int(1e6 / want)
if abs(running - want) > 0.01 or not period / 1000.0 - 0.5 < quick < period / 1000.0 + 1.5 or len(rows) != 1 \
        or rows[0][11] != str(period):
    print("FAIL: --rate 144: display %s, running at %.2f (want %.2f), present intervals %.2f ms (5 %%), %.2f ms "
          "(median), rows %s" % (m.group(1), running, want, quick, median, rows)); sys.exit(1)
print("ok: --rate 144: display %s (%s), running at %.2f Hz, present intervals %.2f ms (5 %%), %.2f ms (median), "
      "frame_us %s" % (m.group(1), m.group(2), running, quick, median, rows[0][11]))
EOF
    failures=$((failures + 1))
else
  fail "--rate 144 run did not start"
fi

# ---- 7: bad command lines ---------------------------------------------------------------------
# One line on stderr, exit code 2, and no log: nothing was started.
bad_args() {
  rm -f "$log"
  "$work/app/qvdelay" "$@" >"$work/bad.out" 2>"$work/bad.err"
  local rc=$?
  if [ "$rc" -eq 2 ] && [ ! -e "$log" ] && [ ! -s "$work/bad.out" ] && [ "$(wc -l <"$work/bad.err")" -eq 1 ] &&
    grep -q "^qvdelay: " "$work/bad.err"; then
    pass "qvdelay $*: exit code 2, $(cat "$work/bad.err")"
  else
    fail "qvdelay $*: exit code $rc, log $([ -e "$log" ] && echo written || echo none), stderr: $(cat "$work/bad.err")"
  fi
}
bad_args --rate 5
bad_args --bogus
bad_args --participant 'a b'
bad_args extra
rm -f "$log"
"$work/app/qvdelay" --help >"$work/help.out" 2>&1
rc=$?
if [ "$rc" -eq 0 ] && [ ! -e "$log" ] && [ "$(head -n 1 "$work/help.out")" = "usage: qvdelay [options]" ] &&
  grep -q -- "--rate native" "$work/help.out"; then
  pass "qvdelay --help: exit code 0, the option list"
else
  fail "qvdelay --help: exit code $rc: $(cat "$work/help.out")"
fi

# ---- 8: threshold runs ----------------------------------------------------------------------
rm -f "$work/app/qvdelay_results.csv"
start_app threshold
if wait_ready; then
  press t 0.08
  sleep 0.3
  press q 0.08
  sleep 0.4
  import -window root "$work/threshold_result.png"
  press Return 0.08
  sleep 0.2
  press t 0.08
  for _ in 1 2 3; do
    sleep 0.6 # the step's N + 1 hidden frames, at most 17 at 60 Hz
    press Return 0.08
  done
  sleep 0.4
  press q 0.08
  sleep 0.4
  press Escape 0.1
  wait_app 20
  rc=$?
  printf '10\n1 key=0x14\n10\n1 q\n3 dump\n' >"$work/threshold_ref.script"
  (cd "$work" && "$headless" threshold_ref.script "$work" >/dev/null 2>&1)
  # Above the frame-rate lines, which depend on the machine.
  same_picture threshold_result "$work/threshold_result.png" "$work/frame_00023.ppm" 270
  e2e_check threshold "$log" "$work/app/qvdelay_results.csv" "$rc" linux
else
  fail "threshold run did not start"
fi

if [ "$failures" -eq 0 ]; then
  echo "linux e2e: all passed"
  exit 0
fi
echo "linux e2e: $failures failed"
exit 1
